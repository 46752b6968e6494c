// Replays recorded scans through the planner, one scan at a time, toward one
// fixed target cell; prints a line per scan and draws the chosen scans.
#ifndef SCANPILOT_REPLAY_H
#define SCANPILOT_REPLAY_H

#include <string>
#include <vector>

#include "cli.h"
#include "pictures.h"
#include "scan_file.h"

// What the planner made of one scan.
struct ScanPlan {
  bool target_free;  // ChkTarget on the target cell before the pass
  bool reached;
  int path_length;
  float fix_x, fix_y;    // steering point, metres
  float face_x, face_y;  // path end, metres
  float bearing;         // of the steering point, radians; NaN for (0, 0)
};

class Replay {
 public:
  // Initialises the planner with o.border. `snapshots`: scan numbers to draw.
  Replay(const Options& o, std::vector<int> snapshots);
  // The per-scan step: maps readings outside [o.below, o.above] to +inf,
  // plans, prints the scan's line and captures its picture if chosen.
  ScanPlan Step(const Scan& recorded);
  // Prints the closing line and commits the pictures to `out`; returns the
  // exit status.
  int Finish(OutputSet& out);

 private:
  const Options& o_;
  std::vector<int> snapshots_;
  PictureFiles files_;
  int scans_ = 0;
  int reached_ = 0;
};

// Reads o.scans whole and replays it; returns the exit status.
int RunReplay(const Options& o);

#endif
