// SPDX-License-Identifier: BSD-3-Clause
#include "cli/options.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "base/messages.h"
#include "base/std_streams.h"
#include "cli/usage.h"
#include "grid_frame.h"
#include "input/serial_port.h"
#include "output/output_set.h"
#include "scanpilot_version.h"

namespace fs = std::filesystem;

namespace {

constexpr double kFollowMax = 6.0;

bool ParseDouble(const std::string& s, double& v) {
  const char* b = s.data();
  const char* e = b + s.size();
  if (b != e && *b == '+') ++b;
  const auto r = std::from_chars(b, e, v);
  return r.ec == std::errc() && r.ptr == e && std::isfinite(v);
}

bool ParseInt(const std::string& s, int& v) {
  const char* e = s.data() + s.size();
  const auto r = std::from_chars(s.data(), e, v);
  return r.ec == std::errc() && r.ptr == e;
}

bool SplitPair(const std::string& s, std::string& a, std::string& b) {
  const auto comma = s.find(',');
  if (comma == std::string::npos) return false;
  a = s.substr(0, comma);
  b = s.substr(comma + 1);
  return true;
}

// Where an option may appear.
enum Scope {
  kAny,      // demo and replay
  kReplay,   // with --scans
  kScanner,  // with --scans and a scanner format (ranges, samples, lds)
  kLds,      // with --format lds
  kDevice,   // with --device
};

struct OptionInfo {
  const char* name;
  bool takes_value;
  Scope scope;
};

const OptionInfo kOptions[] = {
    {"--out", true, kAny},
    {"--snapshot", true, kAny},
    {"--seed", true, kAny},
    {"--verbose", false, kAny},
    {"--no-html", false, kAny},
    {"--json", false, kAny},
    {"--robot-radius", true, kAny},
    {"--margin", true, kAny},
    {"--scans", true, kReplay},
    {"--format", true, kReplay},
    {"--target", true, kReplay},
    {"--target-cell", true, kReplay},
    {"--follow", true, kReplay},
    {"--candidates", true, kReplay},
    {"--no-return-below", true, kReplay},
    {"--no-return-above", true, kReplay},
    {"--save-scans", true, kReplay},
    {"--quiet", false, kReplay},
    {"--zero-at", true, kScanner},
    {"--clockwise", false, kScanner},
    {"--units", true, kScanner},
    {"--min-range", true, kScanner},
    {"--max-range", true, kScanner},
    {"--mount-yaw", true, kScanner},
    {"--upside-down", false, kScanner},
    {"--device", true, kReplay},
    {"--baud", true, kDevice},
    {"--turn-timeout", true, kDevice},
    {"--turns", true, kLds},
    {"--rpm-range", true, kLds},
    {"--min-packets", true, kLds},
    {"--save-raw", true, kLds},
    {"--topic", true, kReplay},
    {"--scanner", true, kReplay},
    {"--goals", true, kReplay},
    {"--max-speed", true, kAny},
    {"--max-turn-rate", true, kAny},
};

const OptionInfo* Find(const std::string& arg) {
  for (const OptionInfo& i : kOptions)
    if (arg == i.name) return &i;
  return nullptr;
}

std::optional<int> ParseMetres(const std::string& arg, const std::string& val, double& m) {
  if (!ParseDouble(val, m) || m < 0 || m > 1e30) return UsageError(arg + " wants metres >= 0, got '" + val + "'");
  return std::nullopt;
}

// A limit on the readings, held as a float like them: a value past float's
// range would become infinite and mask everything or nothing.
std::optional<int> ParseReadingLimit(const std::string& arg, const std::string& val, float& into) {
  double m = 0;
  if (!ParseDouble(val, m) || std::fabs(m) > 1e30) return UsageError(arg + " wants metres, got '" + val + "'");
  // Readings are never negative: above 0 or less every return would be gone.
  if ((arg == "--no-return-above" || arg == "--max-range") && !(m > 0))
    return UsageError(arg + " " + val + " would drop every reading; it wants metres > 0");
  into = static_cast<float>(m);
  return std::nullopt;
}

std::optional<int> ParseScannerValue(const std::string& arg, const std::string& val, Options& o) {
  if (arg == "--format") {
    if (val == "degrees") o.format = ScanFormat::kDegrees;
    else if (val == "ranges") o.format = ScanFormat::kRanges;
    else if (val == "samples") o.format = ScanFormat::kSamples;
    else if (val == "lds" || val == "ld06" || val == "rplidar" || val == "ydlidar") {
      o.format = ScanFormat::kLds;
      o.stream = val == "lds"       ? StreamKind::kLds22
                 : val == "ld06"    ? StreamKind::kLd06
                 : val == "rplidar" ? StreamKind::kRplidar
                                    : StreamKind::kYdlidar;
    } else if (val == "rosbag")
      o.format = ScanFormat::kRosbag;
    else if (val == "rosbag2")
      o.format = ScanFormat::kRosbag2;
    else
      return UsageError(
          "--format wants degrees, ranges, samples, lds, ld06, rplidar, ydlidar, rosbag or rosbag2, got '" + val + "'");
  } else if (arg == "--units") {
    if (val == "m") o.layout.range_scale = kScanMetres;
    else if (val == "mm") o.layout.range_scale = kScanMillimetres;
    else return UsageError("--units wants m or mm, got '" + val + "'");
    o.units_given = true;
  } else if (arg == "--zero-at" || arg == "--mount-yaw") {
    double d = 0;
    if (!ParseDouble(val, d)) return UsageError(arg + " wants degrees, got '" + val + "'");
    (arg == "--zero-at" ? o.layout.zero_deg : o.mount_yaw) = d;
    o.zero_at_given = o.zero_at_given || arg == "--zero-at";
  } else {  // --min-range, --max-range
    double m = 0;
    if (const auto status = ParseMetres(arg, val, m)) return status;
    if (const auto status = ParseReadingLimit(arg, val, arg == "--min-range" ? o.layout.min_range : o.layout.max_range))
      return status;
    o.min_range_given = o.min_range_given || arg == "--min-range";
  }
  return std::nullopt;
}

std::optional<int> ParseFileName(const std::string& arg, const std::string& val, std::string& into) {
  if (val.empty()) return UsageError(arg + " needs a file name");
  into = val;
  return std::nullopt;
}

std::optional<int> ParseRpmRange(const std::string& val, Options& o) {
  std::string a, b;
  double lo = 0, hi = 0;
  if (!SplitPair(val, a, b) || !ParseDouble(a, lo) || !ParseDouble(b, hi) || lo < 0 || hi > 1e6 || !(lo <= hi))
    return UsageError("--rpm-range wants MIN,MAX in revolutions per minute, 0 <= MIN <= MAX, got '" + val + "'");
  o.rpm_min = lo;
  o.rpm_max = hi;
  o.rpm_given = true;
  return std::nullopt;
}

// The options of a scanner's serial stream and of a live port.
std::optional<int> ParseStreamValue(const std::string& arg, const std::string& val, Options& o) {
  int n = 0;
  if (arg == "--rpm-range") return ParseRpmRange(val, o);
  if (arg == "--save-raw") return ParseFileName(arg, val, o.save_raw);
  if (arg == "--turns") {
    if (!ParseInt(val, n) || n < 1) return UsageError("--turns wants a number of planned turns >= 1, got '" + val + "'");
    o.turns = n;
  } else if (arg == "--min-packets") {
    if (!ParseInt(val, n) || n < 0 || n > 100)
      return UsageError("--min-packets wants a percentage of a turn's packets, 0..100, got '" + val + "'");
    o.min_packets = n;
  } else if (arg == "--baud") {
    if (!ParseInt(val, n) || !StandardBaud(n))
      return UsageError("--baud wants a standard rate (" + StandardBauds() + "), got '" + val + "'");
    o.baud = n;
  } else {  // --turn-timeout
    double d = 0;
    if (!ParseDouble(val, d) || !(d >= 0.01) || d > 3600)
      return UsageError("--turn-timeout wants seconds, 0.01..3600, got '" + val + "'");
    o.turn_timeout = d;
  }
  return std::nullopt;
}

std::optional<int> ParseSnapshots(const std::string& val, Options& o) {
  o.snapshots_given = true;
  // getline drops an empty last item: a trailing comma is as wrong as ",,".
  if (val.empty() || val.back() == ',') return UsageError("--snapshot wants N[,N...], got '" + val + "'");
  std::stringstream ss(val);
  std::string item;
  while (std::getline(ss, item, ',')) {
    int n = 0;
    if (!ParseInt(item, n) || n < 0) return UsageError("--snapshot: '" + item + "' is not a tick number");
    o.snapshots.push_back(n);
  }
  return std::nullopt;
}

std::optional<int> ParseTarget(const std::string& val, Options& o) {
  std::string a, b;
  double x = 0, y = 0;
  if (!SplitPair(val, a, b) || !ParseDouble(a, x) || !ParseDouble(b, y))
    return UsageError("--target wants X,Y in metres, got '" + val + "'");
  const Cell c{MetresToCell(y), MetresToCell(x)};
  if (!OnGrid(c.col, c.row)) return UsageError("--target " + val + " lies off the 5 m x 5 m grid");
  o.target = c;
  return std::nullopt;
}

std::optional<int> ParseTargetCell(const std::string& val, Options& o) {
  std::string a, b;
  int x = 0, y = 0;
  if (!SplitPair(val, a, b) || !ParseInt(a, x) || !ParseInt(b, y) || !OnGrid(x, y))
    return UsageError("--target-cell wants COL,ROW in 0..99, got '" + val + "'");
  o.target = {x, y};
  return std::nullopt;
}

std::optional<int> ParseRunValue(const std::string& arg, const std::string& val, Options& o) {
  if (arg == "--out") {
    if (val.empty()) return UsageError("--out needs a directory");
    o.out = val;
  } else if (arg == "--snapshot") {
    return ParseSnapshots(val, o);
  } else if (arg == "--seed") {
    int n = 0;
    if (!ParseInt(val, n) || n < 0) return UsageError("--seed wants a whole number from 0 to 2147483647, got '" + val + "'");
    o.seed = static_cast<unsigned>(n);
  } else if (arg == "--max-speed" || arg == "--max-turn-rate") {
    double d = 0;
    if (!ParseDouble(val, d) || d < 0 || d > 100)
      return UsageError(arg + " wants a number from 0 to 100, got '" + val + "'");
    (arg == "--max-speed" ? o.max_speed : o.max_turn_rate) = d;
  } else {  // --robot-radius, --margin
    return ParseMetres(arg, val, arg == "--margin" ? o.margin : o.robot_radius);
  }
  return std::nullopt;
}

// --scanner NAME: a model's protocol, rate, layout and gates; options after it override them.
std::optional<int> ParseScanner(const std::string& val, Options& o) {
  if (val == "list") {
    if (std::fputs(ScannerPresetTable().c_str(), stdout) == EOF)
      return Fail(kExitCannotWrite, "standard output: cannot write");
    return kExitOk;
  }
  const ScannerPreset* p = FindScannerPreset(val);
  if (p == nullptr) return UsageError("--scanner wants one of " + ScannerPresetNames() + " or list, got '" + val + "'");
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
  return std::nullopt;
}

std::optional<int> ParseReplayValue(const std::string& arg, const std::string& val, Options& o) {
  if (arg == "--scanner") return ParseScanner(val, o);
  if (arg == "--scans") {
    if (val.empty()) return UsageError("--scans needs a file name, or - for standard input");
    o.scans = val;
  } else if (arg == "--device") {
    if (val.empty()) return UsageError("--device needs the serial port's path, such as /dev/ttyUSB0");
    o.device = val;
  } else if (arg == "--goals") {
    return ParseFileName(arg, val, o.goals);
  } else if (arg == "--save-scans" || arg == "--candidates") {
    return ParseFileName(arg, val, arg == "--candidates" ? o.candidates : o.save_scans);
  } else if (arg == "--topic") {
    if (val.empty()) return UsageError("--topic needs a topic name, such as /scan");
    o.topic = val;
  } else if (arg == "--follow") {
    double d = 0;
    // The tracker takes no return from beyond 6 m: a start further out is
    // never found.
    if (!ParseDouble(val, d) || !(d > 0) || d > kFollowMax)
      return UsageError("--follow wants the starting distance ahead in metres, > 0 and at most 6, got '" + val + "'");
    o.follow = true;
    o.follow_from = static_cast<float>(d);
  } else if (arg == "--target") {
    return ParseTarget(val, o);
  } else if (arg == "--target-cell") {
    return ParseTargetCell(val, o);
  } else if (arg == "--format") {
    return ParseScannerValue(arg, val, o);
  } else {  // --no-return-below, --no-return-above
    if (const auto status = ParseReadingLimit(arg, val, arg == "--no-return-below" ? o.below : o.above))
      return status;
    (arg == "--no-return-below" ? o.below_given : o.above_given) = true;
  }
  return std::nullopt;
}

void SetFlag(const std::string& arg, Options& o) {
  if (arg == "--verbose") o.verbose = true;
  else if (arg == "--no-html") o.html = false;
  else if (arg == "--json") o.json = true;
  else if (arg == "--quiet") o.quiet = true;
  else if (arg == "--clockwise") o.layout.clockwise = true;
  else if (arg == "--upside-down") o.upside_down = true;
}

std::optional<int> ParseValue(const OptionInfo& info, const std::string& val, Options& o) {
  const std::string arg = info.name;
  if (info.scope == kAny) return ParseRunValue(arg, val, o);
  if (info.scope == kScanner) return ParseScannerValue(arg, val, o);
  if (info.scope == kLds || info.scope == kDevice) return ParseStreamValue(arg, val, o);
  return ParseReplayValue(arg, val, o);
}

// Where the options of a scanner's serial stream may go, once every option is read.
std::optional<int> CheckStream(const Options& o, bool lds_only, bool device_only) {
  const bool lds = o.format == ScanFormat::kLds;
  const bool live = !o.device.empty();
  if (live && !o.scans.empty()) return UsageError("--device and --scans are two inputs: give one of them");
  if (live && !lds)
    return UsageError("--device reads a scanner's serial stream: add --scanner MODEL (--scanner list) or --format lds");
  if (lds_only && !lds)
    return UsageError(
        "--turns, --rpm-range, --min-packets and --save-raw need --format lds (or ld06, rplidar, ydlidar)");
  if (device_only && !live) return UsageError("--baud and --turn-timeout go with --device");
  if (lds && o.units_given)
    return UsageError("--units: the scanner's stream is in millimetres by its protocol; drop --units");
  if (live && !o.candidates.empty())
    return UsageError("--candidates: a file of candidates cannot keep pace with a live scanner; drop it with --device");
  return std::nullopt;
}

bool IsBag(ScanFormat f) { return f == ScanFormat::kRosbag || f == ScanFormat::kRosbag2; }

// A bag's LaserScans say their own angles and units.
std::optional<int> CheckBag(const Options& o) {
  const bool bag = IsBag(o.format);
  if (!o.topic.empty() && !bag)
    return UsageError("--topic names a bag's LaserScan topic: add --format rosbag or rosbag2");
  if (!bag) return std::nullopt;
  const std::string format = o.format == ScanFormat::kRosbag ? "--format rosbag" : "--format rosbag2";
  if (o.scans == "-") return UsageError(format + " reads a bag by its index: give the bag's file name");
  if (o.zero_at_given || o.layout.clockwise || o.units_given)
    return UsageError("--zero-at, --clockwise and --units do not apply to " + format +
                      ": a LaserScan's angles and metres are its own (use --mount-yaw, --upside-down)");
  return std::nullopt;
}

// `robot-demo --format rosbag2 PATH`: a bag may be named without --scans.
std::optional<int> TakeBagPath(const std::string& path, Options& o) {
  if (path.empty()) return std::nullopt;
  if (!IsBag(o.format))
    return UsageError("unknown option '" + path +
                      "' (a bag goes after --format rosbag or rosbag2; other files after "
                      "--scans)");
  if (!o.scans.empty()) return UsageError("--scans " + o.scans + " and " + path + " are two inputs: give one of them");
  o.scans = path;
  return std::nullopt;
}

// Whether two paths name the same folder: the same one on disk when both
// exist, else the same text once "." and ".." are resolved.
bool SameFolder(const fs::path& a, const fs::path& b) {
  std::error_code ec;
  if (fs::exists(a, ec) && fs::exists(b, ec)) return fs::equivalent(a, b, ec);
  return (a.empty() ? fs::path(".") : a).lexically_normal() == (b.empty() ? fs::path(".") : b).lexically_normal();
}

bool StartsWith(const std::string& s, const char* prefix) { return s.compare(0, std::strlen(prefix), prefix) == 0; }

// --save-scans naming a file of the output set (run.html, tick-NNN.svg, ...)
// or one inside its staging folders: the commit would replace it, or the
// saved scans would replace a picture.
bool CollidesWithOutput(const std::string& save, const std::string& out) {
  const fs::path p = fs::path(save).lexically_normal();
  const std::string name = p.filename().string();
  const fs::path parent = p.parent_path();
  if ((OutputSet::IsOwnOutput(name) || StartsWith(name, ".robot-demo")) && SameFolder(parent, out)) return true;
  return StartsWith(parent.filename().string(), kStagingPrefix) && SameFolder(parent.parent_path(), out);
}

// What may not go together, once every option is read.
std::optional<int> CheckCombination(const Options& o, bool replay_only, bool scanner_only, bool target) {
  if (replay_only && o.scans.empty() && o.device.empty())
    return UsageError("--target, --target-cell, --follow, --candidates, --format, layout options, "
                      "--no-return-*, --save-scans and --quiet go with --scans or --device");
  const bool scanner = o.format != ScanFormat::kDegrees;
  if (scanner_only && !scanner)
    return UsageError(
        "--zero-at, --clockwise, --units, --min-range, --max-range, --mount-yaw and --upside-down "
        "need --format ranges, samples, lds, rosbag or rosbag2");
  if (scanner && (o.below_given || o.above_given))
    return UsageError("--no-return-below/above go with the degrees format; use --min-range/--max-range");
  if (o.below_given && o.above_given && !(o.below < o.above))
    return UsageError("--no-return-below must be less than --no-return-above");
  if (!(o.layout.min_range <= o.layout.max_range))
    return UsageError("--min-range must not be greater than --max-range");
  if (o.follow && target) return UsageError("--follow chooses the target itself: drop --target/--target-cell");
  if (!o.candidates.empty() && !o.follow) return UsageError("--candidates go to the tracker: add --follow D");
  if (!o.goals.empty() && (o.follow || target))
    return UsageError("--goals gives a goal per scan: drop --follow, --target and --target-cell");
  if (!o.save_scans.empty() && CollidesWithOutput(o.save_scans, o.out))
    return UsageError("--save-scans " + o.save_scans + " is one of the files the run writes into " + o.out +
                      "; choose another name");
  if (!(o.robot_radius + o.margin <= kPilotMaxBorder)) {
    char buf[160];
    std::snprintf(buf, sizeof buf, "--robot-radius + --margin is %.3g m; the planner inflates returns by at most %.1f m",
                  o.robot_radius + o.margin, kPilotMaxBorder);
    return UsageError(buf);
  }
  return std::nullopt;
}

}  // namespace

ScanLayout MountedLayout(const Options& o) { return PilotMountedLayout(o.layout, o.mount_yaw, o.upside_down); }

LdsGate LdsGateOf(const Options& o) {
  LdsGate g;
  g.rpm_min = o.rpm_min;
  g.rpm_max = o.rpm_max;
  g.min_packets_percent = o.min_packets;
  g.turn_timeout = o.device.empty() ? 0.0 : o.turn_timeout;
  g.clock = !o.device.empty();
  return g;
}

PilotConfig PilotConfigOf(const Options& o) {
  PilotConfig c;
  c.robot_radius = o.robot_radius;
  c.margin = o.margin;
  c.layout = o.layout;
  c.mount_yaw_deg = o.mount_yaw;
  c.upside_down = o.upside_down;
  c.max_speed = o.max_speed;
  c.max_turn_rate = o.max_turn_rate;
  c.mode = o.follow ? PilotMode::kFollow : PilotMode::kGoal;
  c.goal = PilotGoal::Cell(o.target.col, o.target.row);
  if (o.follow) c.follow_distance = o.follow_from;
  return c;
}

std::optional<int> ParseOptions(int argc, char** argv, Options& o) {
  bool replay_only = false, scanner_only = false, target = false, lds_only = false, device_only = false;
  std::string bag_path;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      // The text outgrows stdio's buffer: a full disk shows here, with its reason.
      if (std::fputs(kUsage, stdout) == EOF && (NoteStdoutError(errno), true))
        return Fail(kExitCannotWrite, std::string("standard output: ") + std::strerror(errno));
      return kExitOk;
    }
    if (arg == "--version") {
      if ((std::printf("robot-demo %s\n", SCANPILOT_VERSION_STRING) < 0 || std::fflush(stdout) != 0) &&
          (NoteStdoutError(errno), true))
        return Fail(kExitCannotWrite, std::string("standard output: ") + std::strerror(errno));
      return kExitOk;
    }
    const OptionInfo* info = Find(arg);
    if (info == nullptr && !arg.empty() && arg[0] != '-' && bag_path.empty()) {
      bag_path = arg;
      continue;
    }
    if (info == nullptr) return UsageError("unknown option '" + arg + "'");
    if (!info->takes_value) {
      SetFlag(arg, o);
    } else {
      if (i + 1 >= argc) return UsageError(arg + " needs a value");
      if (const auto status = ParseValue(*info, argv[++i], o)) return status;
    }
    replay_only = replay_only || (info->scope != kAny && arg != "--scans" && arg != "--device");
    scanner_only = scanner_only || info->scope == kScanner;
    lds_only = lds_only || info->scope == kLds;
    device_only = device_only || info->scope == kDevice;
    target = target || arg == "--target" || arg == "--target-cell";
  }
  if (const auto status = TakeBagPath(bag_path, o)) return status;
  if (const auto status = CheckCombination(o, replay_only, scanner_only, target)) return status;
  if (const auto status = CheckStream(o, lds_only, device_only)) return status;
  if (const auto status = CheckBag(o)) return status;
  if (o.format == ScanFormat::kLds) o.layout.range_scale = kScanMillimetres;  // the protocol's unit
  if (o.format == ScanFormat::kLds && o.stream != StreamKind::kLds22 && !o.rpm_given)
    FamilyRpmRange(o.stream, o.rpm_min, o.rpm_max);
  return std::nullopt;
}
