// SPDX-License-Identifier: BSD-3-Clause
// robot-demo's command line: its options and how they are read.
#ifndef SCANPILOT_CLI_OPTIONS_H
#define SCANPILOT_CLI_OPTIONS_H

#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "base/messages.h"
#include "grid_frame.h"
#include "input/lds_source.h"
#include "input/scan_source.h"
#include "input/scanners.h"
#include "scanbin.h"
#include "scanpilot.h"

struct Options {
  std::string out = "robot-demo-out";
  bool snapshots_given = false;
  std::vector<int> snapshots;
  unsigned seed = 7;
  bool verbose = false;  // demo: a line per tick
  bool html = true;      // write run.html
  bool json = false;     // JSON Lines on standard output instead of the lines for people
  // The robot and the margin kept beyond it; the planner inflates returns by their sum.
  double robot_radius = 0.2;
  double margin = 0.15;
  // Replay only.
  std::string scans;
  Cell target{50, 70};  // 1 m straight ahead
  float below = -std::numeric_limits<float>::infinity();
  float above = std::numeric_limits<float>::infinity();
  bool below_given = false, above_given = false;
  ScanFormat format = ScanFormat::kDegrees;
  ScanLayout layout;  // the scanner's own (scanner formats only); see MountedLayout
  bool units_given = false, min_range_given = false, zero_at_given = false;
  double mount_yaw = 0.0;  // where the scanner's ahead points on the robot, degrees
  bool upside_down = false;
  std::string save_scans;
  std::string candidates;  // a detector's candidates, one line per scan
  std::string goals;       // a goal per scan, robot frame (a map run's --save-scans)
  // The robot's limits; the pilot's guard plans one period of them.
  double max_speed = 0.5, max_turn_rate = 1.2;
  bool follow = false;
  float follow_from = 0.0f;  // the tracker's starting distance ahead, metres
  bool quiet = false;
  // A scanner's serial stream (--format lds): which turns are planned, how
  // many, and the raw bytes recorded.
  double rpm_min = 200.0, rpm_max = 400.0;
  int min_packets = 90;  // percent of a turn's packets
  long long turns = 0;   // stop after this many planned turns; 0: no limit
  std::string save_raw;
  // Live from a serial port.
  std::string device;
  std::string topic;  // --format rosbag or rosbag2: the LaserScan topic, when the bag has several
  int baud = 115200;
  double turn_timeout = 0.5;  // seconds without a complete turn before a stop
  // The stream's protocol (with --format lds, ld06, rplidar, ydlidar or a
  // --scanner preset) and what a live run sends the scanner.
  StreamKind stream = StreamKind::kLds22;
  ScannerControl control = ScannerControl::kNone;
  std::string scanner;     // the --scanner preset's name, if any
  bool rpm_given = false;  // --rpm-range, or a preset's
};

// The layout the scanner formats are binned with: the scanner's own, mounted.
ScanLayout MountedLayout(const Options& o);
// Which turns of a scanner's stream are planned (--format lds).
LdsGate LdsGateOf(const Options& o);
// The pilot a run drives: goal or follow, robot, margin.
PilotConfig PilotConfigOf(const Options& o);

class CommandLine;
// Declares the options of the demo, of replays and of live runs into `cl`,
// to be read into `o`; `bare` gets the arguments that are no option (a bag).
void AddHostOptions(CommandLine& cl, Options& o, std::vector<std::string>& bare);
// The scanner's layout and its stream's options (part of AddHostOptions).
void AddScannerOptions(CommandLine& cl, Options& o);

// Fills `o`; returns the exit status when the program should stop here
// (--help printing help(), --version, or a usage error already reported).
std::optional<int> ParseOptions(int argc, char** argv, Options& o, const std::function<std::string()>& help);

#endif
