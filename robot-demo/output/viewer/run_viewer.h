// SPDX-License-Identifier: BSD-3-Clause
// run.html of one run, written into the run's output set as the run goes, so
// that memory does not grow with the length of a replay.
#ifndef SCANPILOT_OUTPUT_VIEWER_RUN_VIEWER_H
#define SCANPILOT_OUTPUT_VIEWER_RUN_VIEWER_H

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>

#include "output/grid_view.h"
#include "output/output_set.h"
#include "output/viewer/run_html.h"

class RunViewer {
 public:
  // Starts run.html in `out` (which must be open), unless `enabled` is
  // false. A failure sticks in `out`.
  RunViewer(OutputSet& out, const ViewerRunHeader& header, bool enabled);
  RunViewer(const RunViewer&) = delete;
  RunViewer& operator=(const RunViewer&) = delete;

  // True while the page takes more ticks; the caller may skip building them.
  bool Wants() const { return writer_ != nullptr && !writer_->full(); }
  // Adds the next tick; past the page's limit only counts it.
  void Add(const ViewerTick& tick);
  // Counts a tick the page does not show (past its limit).
  void Skip() { ++total_; }
  // Closes the page; returns the number of ticks it shows.
  std::size_t Finish();

 private:
  void WriteFailed();

  OutputSet& out_;
  std::FILE* file_ = nullptr;
  std::unique_ptr<RunHtmlWriter> writer_;
  std::size_t total_ = 0;
};

#endif
