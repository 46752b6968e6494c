// SPDX-License-Identifier: BSD-3-Clause
#include "cli/options.h"

#include <cmath>
#include <cstdio>
#include <sstream>

#include "base/messages.h"
#include "cli/command_line.h"
#include "cli/help_text.h"
#include "grid_frame.h"

namespace {

constexpr unsigned kHostRuns = kDemoRun | kScanRuns;

std::string TakeSnapshots(const std::string& v, Options& o) {
  o.snapshots_given = true;
  // getline drops an empty last item: a trailing comma is as wrong as ",,".
  if (v.empty() || v.back() == ',') return Wants("N[,N...], tick numbers from 0", v);
  std::stringstream ss(v);
  std::string item;
  while (std::getline(ss, item, ',')) {
    int n = 0;
    if (!ParseInteger(item, n) || n < 0) return Wants("N[,N...], tick numbers from 0", v);
    o.snapshots.push_back(n);
  }
  return "";
}

std::string TakeTarget(const std::string& v, Options& o) {
  std::string a, b;
  double x = 0, y = 0;
  if (!SplitAt(v, ',', a, b) || !ParseDecimal(a, x) || !ParseDecimal(b, y)) return Wants("X,Y in metres", v);
  const Cell c{MetresToCell(y), MetresToCell(x)};
  if (!OnGrid(c.col, c.row)) return v + " lies off the 5 m x 5 m grid";
  o.target = c;
  return "";
}

std::string TakeTargetCell(const std::string& v, Options& o) {
  std::string a, b;
  int x = 0, y = 0;
  if (!SplitAt(v, ',', a, b) || !ParseInteger(a, x) || !ParseInteger(b, y) || !OnGrid(x, y))
    return Wants("COL,ROW in 0..99", v);
  o.target = {x, y};
  return "";
}

std::string TakeFormat(const std::string& v, Options& o) {
  static const std::pair<const char*, ScanFormat> kFormats[] = {
      {"degrees", ScanFormat::kDegrees}, {"ranges", ScanFormat::kRanges}, {"samples", ScanFormat::kSamples},
      {"lds", ScanFormat::kLds},         {"ld06", ScanFormat::kLds},      {"rplidar", ScanFormat::kLds},
      {"ydlidar", ScanFormat::kLds},     {"rosbag", ScanFormat::kRosbag}, {"rosbag2", ScanFormat::kRosbag2}};
  for (const auto& [name, format] : kFormats) {
    if (v != name) continue;
    o.format = format;
    o.stream = v == "ld06"      ? StreamKind::kLd06
               : v == "rplidar" ? StreamKind::kRplidar
               : v == "ydlidar" ? StreamKind::kYdlidar
                                : StreamKind::kLds22;
    return "";
  }
  return Wants("degrees, ranges, samples, lds, ld06, rplidar, ydlidar, rosbag or rosbag2", v);
}

// --scanner NAME: a model's protocol, rate, layout and gates; options after it override them.
std::string TakeScanner(const std::string& v, Options& o) {
  if (v == "list") {
    if (std::fputs(ScannerPresetTable().c_str(), stdout) == EOF)
      throw CLI::RuntimeError(Fail(kExitCannotWrite, "standard output: cannot write"));
    throw CLI::RuntimeError(kExitOk);
  }
  const ScannerPreset* p = FindScannerPreset(v);
  if (p == nullptr) return Wants("one of " + ScannerPresetNames() + " or list", v);
  o.scanner = p->name;
  o.format = ScanFormat::kLds;
  o.stream = p->kind;
  o.control = p->control;
  o.baud = p->baud;
  o.layout.zero_deg = p->zero_deg;
  o.layout.clockwise = p->clockwise;
  o.layout.min_range = p->min_range;
  o.layout.max_range = p->max_range;
  o.rpm_min = p->rpm_min;
  o.rpm_max = p->rpm_max;
  o.rpm_given = true;
  o.min_packets = p->min_percent;
  o.zero_at_given = o.min_range_given = true;
  return "";
}

// A limit on the readings, held as a float like them: a value past float's
// range would become infinite and mask everything or nothing. Readings are
// never negative: an upper limit of 0 or less would leave no return.
CommandLine::Take ReadingLimit(float& into, bool upper, bool* given) {
  return [=, &into](const std::string& v) {
    double m = 0;
    if (!ParseDecimal(v, m) || std::fabs(m) > 1e30) return Wants("metres", v);
    if (upper && !(m > 0)) return v + " would drop every reading; it wants metres > 0";
    into = static_cast<float>(m);
    *given = true;
    return std::string();
  };
}

void AddRunOptions(CommandLine& cl, Options& o) {
  cl.Group("Demo, and every run");
  cl.Value("--out", "DIR",
           "where pictures go (default robot-demo-out, created if\n"
           "missing; its parent must exist): run.html (the whole\n"
           "run, to scrub through in a browser; the first 20000\n"
           "ticks or scans), run.svg and tick-NNN.svg, the\n"
           "planner's grid at tick (or scan) NNN.\n"
           "They appear together at the end of a good run; the\n"
           "earlier run.svg, run.html and tick-NNN.svg in DIR are\n"
           "removed then (nothing else is). One run at a time per\n"
           "DIR: a second one stops at once",
           kEveryRun, NonEmpty(o.out, "needs a directory"));
  cl.Value("--snapshot", "N[,N...]", "ticks / scan numbers (from 0) to draw; default a few", kHostRuns,
           [&o](const std::string& v) { return TakeSnapshots(v, o); });
  cl.Whole("--seed", "N", "noise and detector seed of the scenario (default 7)", kEveryRun, 0, 2147483647,
           "a whole number from 0 to 2147483647", [&o](unsigned long long n) { o.seed = static_cast<unsigned>(n); });
  cl.Flag("--no-html", "skip run.html (capturing each pass for it costs some\n0.3 ms per scan)", kEveryRun,
          [&o] { o.html = false; });
  cl.Flag("--verbose", "also print a line per tick (the replay prints one per\nscan anyway)", kHostRuns,
          [&o] { o.verbose = true; });
  cl.Flag("--json",
          "print one JSON object per tick or scan (the planner's\n"
          "answer and the drive command) and a summary object\n"
          "last, instead of the lines for people",
          kEveryRun, [&o] { o.json = true; });
  cl.Real("--robot-radius", "M", "the robot's radius (default 0.2)", kEveryRun, 0, 1e30, "metres >= 0",
          [&o](double m) { o.robot_radius = m; });
  cl.Real("--margin", "M",
          "kept beyond the radius (default 0.15); the planner\n"
          "inflates every return by radius + margin, at most 0.5",
          kEveryRun, 0, 1e30, "metres >= 0", [&o](double m) { o.margin = m; });
  cl.Real("--max-speed", "V", "the robot's speed limit, m/s (default 0.5)", kEveryRun, 0, 100, "a number from 0 to 100",
          [&o](double v) { o.max_speed = v; });
  cl.Real("--max-turn-rate", "W", "its turn-rate limit, rad/s (default 1.2)", kEveryRun, 0, 100,
          "a number from 0 to 100", [&o](double v) { o.max_turn_rate = v; });
}

void AddInputOptions(CommandLine& cl, Options& o) {
  cl.Group("Replay (--scans, or a bag)");
  cl.Value("--scans", "FILE|-",
           "replay recorded scans from FILE, or '-' for standard\n"
           "input. Read as a stream: one scan in memory at a time.\n"
           "Lines end with LF, CRLF or CR and hold at most 4 MiB;\n"
           "'#' starts a comment line. A regular file (also one\n"
           "redirected to standard input) is checked whole first: a\n"
           "bad line anywhere stops the run before any scan is\n"
           "planned. A pipe is read once: a bad line stops the run\n"
           "where it stands (the scans before it are already\n"
           "printed), and the default pictures are the first and\n"
           "the last scan. Either way a bad line gives one error\n"
           "line, status 2, and no pictures and no --save-scans\n"
           "file.",
           kScanRuns, NonEmpty(o.scans, "needs a file name, or - for standard input"));
  cl.Value("--format", "FORMAT",
           "degrees (default): one scan per line, 360 readings in\n"
           "metres, index = degree of the robot frame (180 ahead,\n"
           "270 left), separated by spaces or commas; inf, -inf,\n"
           "nan accepted.\n"
           "ranges: one scanner turn per line, N >= 1 evenly spaced\n"
           "ranges, the k-th at sensor angle 360*k/N degrees.\n"
           "samples: one sample per line, 'angle range [quality]',\n"
           "angle in sensor degrees, a third column ignored; a turn\n"
           "ends at a blank line or where the angle falls back.\n"
           "lds: a spinning scanner's raw serial stream (22-byte\n"
           "packets, millimetres), as captured from its port; each\n"
           "complete turn at a usable speed is planned, any other\n"
           "turn gives a stop record ('turn K not planned: ...:\n"
           "stop'); a planned turn's line ends with its drive\n"
           "command. ld06 (LD06/LD19, 47-byte packets, 230400\n"
           "baud), rplidar (RPLIDAR A1/A2/A3/C1, 5-byte nodes),\n"
           "ydlidar (YDLIDAR X2/X4, 0x55AA packets): the same for\n"
           "those; see docs/live.md.\n"
           "rosbag: the sensor_msgs/LaserScan messages of a ROS 1\n"
           "bag file, each binned by the LaserScan rule (with\n"
           "--min-range, --max-range, --mount-yaw, --upside-down);\n"
           "no master needed; see docs/ros.md.\n"
           "rosbag2: the sensor_msgs/msg/LaserScan messages of a\n"
           "ROS 2 bag: its folder (with metadata.yaml) or one\n"
           "sqlite3 (.db3) or MCAP (.mcap) file, binned as ROS 1\n"
           "bags are; see docs/replay.md. A bag may follow --format\n"
           "without --scans: robot-demo --format rosbag2 PATH",
           kScanRuns, [&o](const std::string& v) { return TakeFormat(v, o); });
}

// The rest of the replay group: what picks a model, a topic, and what is kept.
void AddInputExtras(CommandLine& cl, Options& o) {
  cl.Value("--scanner", "MODEL",
           "sets the format, --baud, the layout (zero, sense,\n"
           "--min-range, --max-range) and the gates of a model:\n"
           "xv11-lds, ld06, ld19, rplidar-a1, rplidar-a2,\n"
           "rplidar-c1, ydlidar-x2, ydlidar-x4; options after it\n"
           "override it. Live, RPLIDAR and X4 are sent their start\n"
           "and stop requests. '--scanner list' prints the table",
           kScanRuns, [&o](const std::string& v) { return TakeScanner(v, o); });
  cl.Value("--topic", "NAME", "a bag's LaserScan topic, when it has several", kScanRuns,
           NonEmpty(o.topic, "needs a topic name, such as /scan"));
  cl.Value("--save-scans", "OUT",
           "write the 360 readings given to the planner, one scan\n"
           "per line in the degrees format, exact to the bit;\n"
           "replaces OUT only when the whole run succeeded,\n"
           "pictures included; a FIFO or device is written as scans\n"
           "come (a map run writes its goals or candidates beside)",
           kScanRuns | kMapRun, NonEmpty(o.save_scans, "needs a file name"));
  cl.Flag("--quiet", "print only the summary; progress goes to standard error\nwhen it is a terminal",
          kScanRuns | kSimRuns, [&o] { o.quiet = true; });
}

void AddPlanningOptions(CommandLine& cl, Options& o) {
  cl.Group("Replay and live: planning");
  CLI::Option* target = cl.Value("--target", "X,Y",
                                 "target in metres in the robot frame (X ahead, Y left);\n"
                                 "default 1,0 (the cell 1 m straight ahead)",
                                 kScanRuns, [&o](const std::string& v) { return TakeTarget(v, o); });
  CLI::Option* cell = cl.Value("--target-cell", "COL,ROW", "target grid cell, 0..99 each", kScanRuns,
                               [&o](const std::string& v) { return TakeTargetCell(v, o); });
  // The tracker takes no return from beyond 6 m: a start further out is never found.
  CLI::Option* follow = cl.Real("--follow", "D",
                                "run the tracker too, starting D metres straight ahead,\n"
                                "and plan toward the tracked point as the demo does",
                                kScanRuns, std::nextafter(0.0, 1.0), 6.0,
                                "the starting distance ahead in metres, > 0 and at most 6", [&o](double d) {
                                  o.follow = true;
                                  o.follow_from = static_cast<float>(d);
                                });
  CLI::Option* candidates = cl.Value("--candidates", "FILE",
                                     "a detector's candidates for the tracker, one line per\n"
                                     "scan: 'x y' in metres, or empty for none",
                                     kScanRuns, NonEmpty(o.candidates, "needs a file name"));
  CLI::Option* goals = cl.Value("--goals", "FILE",
                                "a goal per scan, 'x y' in metres in the robot frame (a\n"
                                "map run's --save-scans writes one)",
                                kScanRuns, NonEmpty(o.goals, "needs a file name"));
  cl.Value("--no-return-below", "M", "(--format degrees) readings below M metres mean 'no\necho': use +inf", kScanRuns,
           ReadingLimit(o.below, false, &o.below_given));
  cl.Value("--no-return-above", "M", "(--format degrees) readings above M metres: +inf", kScanRuns,
           ReadingLimit(o.above, true, &o.above_given));
  const std::string drop_target = "--follow chooses the target itself: drop --target/--target-cell";
  cl.Excludes(follow, target, drop_target);
  cl.Excludes(follow, cell, drop_target);
  const std::string one_goal = "--goals gives a goal per scan: drop --follow, --target and --target-cell";
  for (CLI::Option* other : {follow, target, cell}) cl.Excludes(goals, other, one_goal);
  cl.Needs(candidates, follow, "--candidates go to the tracker: add --follow D");
}

}  // namespace

void AddHostOptions(CommandLine& cl, Options& o, std::vector<std::string>& bare) {
  cl.Synopsis(kSynopsis);
  cl.Footer(kHostFooter);
  AddRunOptions(cl, o);
  AddInputOptions(cl, o);
  AddInputExtras(cl, o);
  AddPlanningOptions(cl, o);
  AddScannerOptions(cl, o);
  cl.Bare(bare);
}
