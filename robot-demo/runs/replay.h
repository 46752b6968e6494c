// Replays recorded scans through the planner (and with --follow the tracker),
// one scan at a time: read, plan, print, forget. Only the scans chosen for
// pictures are kept, as pictures.
#ifndef SCANPILOT_RUNS_REPLAY_H
#define SCANPILOT_RUNS_REPLAY_H

#include <optional>
#include <string>
#include <vector>

#include "cli/options.h"
#include "input/scan_saver.h"
#include "input/scan_text.h"
#include "output/output_set.h"
#include "output/pictures.h"
#include "output/viewer/run_viewer.h"

// What the planner (and the tracker) made of one scan.
struct ScanPlan {
  bool target_free;  // ChkTarget on the target cell before the pass
  bool has_target;   // false with --follow when every cell toward the tracked point is blocked
  Cell target;
  bool reached;
  int path_length;
  float fix_x, fix_y;    // steering point, metres
  float face_x, face_y;  // path end, metres
  float bearing;         // of the steering point, radians; NaN for (0, 0)
  bool has_tracked;      // --follow: the tracker's answer and its cell
  float tracked_x, tracked_y;
  Cell raw_target;
};

class Replay {
 public:
  // Initialises the planner with o.border (and the tracker with --follow).
  // `snapshots`: scan numbers to draw. `saver`: where the scans fed to the
  // planner go, or null. `keep_last`: be ready to draw the last scan.
  // `out`: the run's output set, which also gets run.html.
  Replay(const Options& o, std::vector<long long> snapshots, ScanSaver* saver, bool keep_last, OutputSet& out);
  // The per-scan step: maps readings outside [o.below, o.above] to +inf,
  // saves the scan, filters, plans, prints the scan's line (unless quiet) and
  // captures its picture if chosen.
  ScanPlan Step(const Scan& recorded);
  // Draws the last scan stepped, unless already drawn (needs keep_last).
  void DrawLast();
  long long Scans() const { return scans_; }
  // Prints the closing line(s) and writes the pictures; returns the exit status.
  int Finish();

 private:
  GridView Capture(const Scan& scan, const ScanPlan& p) const;
  void AddPicture(long long n, const GridView& v);

  const Options& o_;
  std::vector<long long> snapshots_;  // sorted
  ScanSaver* saver_;
  bool keep_last_;
  PictureFiles files_;
  long long scans_ = 0;
  long long reached_ = 0;
  bool any_on_grid_ = false;
  OutputSet& out_;
  RunViewer viewer_;
  std::optional<GridView> last_view_;  // the last scan, when it was captured
  Scan last_scan_{};
  ScanPlan last_plan_{};
  bool last_drawn_ = false;
};

// Streams o.scans (a file, or standard input for "-") and replays it;
// returns the exit status.
int RunReplay(const Options& o);

#endif
