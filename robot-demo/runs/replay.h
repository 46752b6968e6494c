// SPDX-License-Identifier: BSD-3-Clause
// The step of every replay and live run: each scan through the pilot
// (tracker with --follow, planner, drive command), one at a time: plan,
// print, forget. Only the scans chosen for pictures are kept, as pictures.
#ifndef SCANPILOT_RUNS_REPLAY_H
#define SCANPILOT_RUNS_REPLAY_H

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/options.h"
#include "input/scan_text.h"
#include "input/turn_source.h"
#include "output/output_set.h"
#include "output/pictures.h"
#include "output/run_report.h"
#include "output/scan_saver.h"
#include "output/viewer/run_viewer.h"
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
  // The per-scan step: maps readings outside [o.below, o.above] to +inf (but
  // -inf, too near to measure),
  // saves the scan, tracks, plans, prints the scan's line (unless quiet) and
  // captures its picture if chosen. `candidate`: a detector's, or null.
  // `turn`: what the scanner's stream told of it, or null; its line then
  // carries the drive command, and its JSON object the turn's number,
  // speed and packets.
  const PilotStep& Step(const Scan& recorded, const PilotPoint* candidate, const TurnInfo* turn = nullptr);
  // A record that plans nothing and stops the robot (a turn not planned,
  // or no turn in time): its line or JSON object, unless quiet.
  void StopRecord(const TurnInfo& info);
  // With --json (and not --quiet), the closing stop record, once: Finish
  // prints it, and a run cut short by a signal calls it before leaving.
  void EndStop();
  // Draws the last scan stepped, unless already drawn (needs keep_last).
  void DrawLast();
  long long Scans() const { return scans_; }
  // A goal for the next steps (robot frame, metres), through PilotWindowGoal.
  void SetGoal(double x, double y);
  // The pilot, for inputs that convert scans with its mount (LaserScans).
  const Pilot& PilotOfRun() const { return pilot_; }
  // Prints the closing lines, `summary_lines` after the first (or the JSON
  // summary, with `summary_members` added) and writes the pictures;
  // `after_commit` runs once they are in (see WritePictures). Returns the
  // exit status.
  int Finish(const std::string& summary_members = "", const std::string& summary_lines = "",
             const std::function<int()>& after_commit = {});

 private:
  void AddPicture(long long n, const GridView& v);
  void Report(long long n, const PilotStep& step, const std::string& line, const std::string& extra);

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
  StopTally stops_;
  long long records_ = 0;  // scans and stop records
  bool ended_ = false;     // the closing stop record is out
  RunViewer viewer_;
  Pilot pilot_;
  PilotStep step_{};
  std::optional<GridView> last_view_;  // the last scan, when it was captured
  bool last_drawn_ = false;
};

// The run's first line for people, with its line end: "LEAD, target cell
// (50, 70) = ..." or "LEAD, following the tracked point from ...".
std::string HeaderLine(const Options& o, const std::string& lead);
#endif
