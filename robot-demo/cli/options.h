// robot-demo's command line: options, exit statuses and the one-line
// complaints on standard error.
#ifndef SCANPILOT_CLI_OPTIONS_H
#define SCANPILOT_CLI_OPTIONS_H

#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "input/scan_source.h"
#include "output/grid_view.h"
#include "scanbin.h"

// Exit statuses of robot-demo.
constexpr int kExitOk = 0;
constexpr int kExitCannotWrite = 1;  // --out unusable, a picture or standard output could not be written
constexpr int kExitBadInput = 2;     // bad options, or a scan file that cannot be read or parsed

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

// "robot-demo: MSG" on standard error; returns `status`.
int Fail(int status, const std::string& msg);
// The same followed by the usage text; returns kExitBadInput.
int UsageError(const std::string& msg);

#endif
