// SPDX-License-Identifier: BSD-3-Clause
// What a replay or a live run writes besides its output folder: the scans
// given to the planner (--save-scans) and the bytes read (--save-raw), each
// all or nothing. Opened before any work, so that a path that cannot be
// written stops the run at once; committed once the run has succeeded.
// Each call returns the exit status (already reported) on failure.
#ifndef SCANPILOT_RUNS_SAVED_FILES_H
#define SCANPILOT_RUNS_SAVED_FILES_H

#include <optional>

#include "cli/options.h"
#include "output/raw_recorder.h"
#include "output/scan_saver.h"

class SavedFiles {
 public:
  explicit SavedFiles(const Options& o) : o_(o) {}
  std::optional<int> Open();
  // Where the run's scans and bytes go; null when not asked for.
  ScanSaver* Scans() { return o_.save_scans.empty() ? nullptr : &scans_; }
  RawRecorder* Raw() { return o_.save_raw.empty() ? nullptr : &raw_; }
  // Replaces each file asked for by what the run wrote: kExitOk or the
  // status. A live run commits its bytes first, on their own: they cannot
  // be had again.
  int CommitScans();
  int CommitRaw();
  int Commit();  // both

 private:
  const Options& o_;
  ScanSaver scans_;
  RawRecorder raw_;
};

#endif
