// Replays recorded scans through the pilot (tracker with --follow, planner,
// drive command), one scan at a time: read, plan, print, forget. Only the
// scans chosen for pictures are kept, as pictures.
#ifndef SCANPILOT_RUNS_REPLAY_H
#define SCANPILOT_RUNS_REPLAY_H

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/options.h"
#include "input/scan_saver.h"
#include "input/scan_text.h"
#include "output/output_set.h"
#include "output/pictures.h"
#include "output/viewer/run_viewer.h"
#include "runs/run_report.h"
#include "scanpilot.h"

// Plans each scan with the run's pilot, prints its line (or JSON object),
// watches for what deserves a warning, and collects pictures and run.html.
// Any input that yields 360-reading scans can drive it.
class Replay {
 public:
  // `name`: the input as people know it ("standard input", a file name).
  // `snapshots`: scan numbers to draw. `saver`: where the scans fed to the
  // planner go, or null. `keep_last`: be ready to draw the last scan.
  // `out`: the run's output set, which also gets run.html.
  Replay(const Options& o, std::string name, std::vector<long long> snapshots, ScanSaver* saver, bool keep_last,
         OutputSet& out, RunWarnings& warnings);
  // Starts the pilot; the exit status when it cannot be.
  std::optional<int> Start();
  // The per-scan step: maps readings outside [o.below, o.above] to +inf,
  // saves the scan, tracks, plans, prints the scan's line (unless quiet) and
  // captures its picture if chosen. `candidate`: a detector's, or null.
  const PilotStep& Step(const Scan& recorded, const PilotPoint* candidate);
  // Draws the last scan stepped, unless already drawn (needs keep_last).
  void DrawLast();
  long long Scans() const { return scans_; }
  // The pilot, for inputs that convert scans with its mount (LaserScans).
  const Pilot& PilotOfRun() const { return pilot_; }
  // Prints the closing line(s) (or the JSON summary, with `summary_members`
  // added) and writes the pictures; `after_commit` runs once they are in
  // (see WritePictures). Returns the exit status.
  int Finish(const std::string& summary_members = "", const std::function<int()>& after_commit = {});

 private:
  void AddPicture(long long n, const GridView& v);
  void Report(long long n, const PilotStep& step, const std::string& line);

  const Options& o_;
  std::string name_;
  std::vector<long long> snapshots_;  // sorted
  ScanSaver* saver_;
  bool keep_last_;
  PictureFiles files_;
  long long scans_ = 0;
  long long reached_ = 0;
  bool any_on_grid_ = false;
  OutputSet& out_;
  RunWarnings& warnings_;
  StepWatch watch_;
  RunViewer viewer_;
  Pilot pilot_;
  PilotStep step_{};
  std::optional<GridView> last_view_;  // the last scan, when it was captured
  bool last_drawn_ = false;
};

// Streams o.scans (a file, or standard input for "-") and replays it;
// returns the exit status.
int RunReplay(const Options& o);

#endif
