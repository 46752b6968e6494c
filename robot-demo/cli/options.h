// robot-demo's command line: its options and how they are read.
#ifndef SCANPILOT_CLI_OPTIONS_H
#define SCANPILOT_CLI_OPTIONS_H

#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "cli/usage.h"
#include "grid_frame.h"
#include "input/scan_source.h"
#include "scanbin.h"

struct Options {
  std::string out = "robot-demo-out";
  bool snapshots_given = false;
  std::vector<int> snapshots;
  unsigned seed = 7;
  bool verbose = false;  // demo: a line per tick
  bool html = true;      // write run.html
  // Replay only.
  std::string scans;
  Cell target{50, 70};  // 1 m straight ahead
  float below = -std::numeric_limits<float>::infinity();
  float above = std::numeric_limits<float>::infinity();
  float border = 0.35f;  // inflation radius for SetBorder: the planner's default
  bool below_given = false, above_given = false;
  ScanFormat format = ScanFormat::kDegrees;
  ScanLayout layout;  // the scanner formats only
  std::string save_scans;
  bool follow = false;
  float follow_from = 0.0f;  // thredhold's distance ahead, metres
  bool quiet = false;
};

// Fills `o`; returns the exit status when the program should stop here
// (--help, or a usage error already reported).
std::optional<int> ParseOptions(int argc, char** argv, Options& o);

#endif
