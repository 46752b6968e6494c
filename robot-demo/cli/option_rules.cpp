// SPDX-License-Identifier: BSD-3-Clause
// What the options of the demo, a replay and a live run may not do together,
// where it hangs on their values; the rules between two options as such are
// declared with the options.
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "base/messages.h"
#include "cli/command_line.h"
#include "cli/options.h"
#include "output/output_set.h"

namespace fs = std::filesystem;

namespace {

bool IsBag(ScanFormat f) { return f == ScanFormat::kRosbag || f == ScanFormat::kRosbag2; }

// `robot-demo --format rosbag2 PATH`: a bag may be named without --scans.
std::optional<int> TakeBagPath(const std::vector<std::string>& bare, Options& o) {
  if (bare.empty()) return std::nullopt;
  if (bare.size() > 1) return UsageError("unknown option '" + bare[1] + "'");
  const std::string& path = bare.front();
  if (!IsBag(o.format))
    return UsageError("unknown option '" + path +
                      "' (a bag goes after --format rosbag or rosbag2; other files after --scans)");
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

bool AnyGiven(const CommandLine& cl, std::initializer_list<const char*> names) {
  for (const char* n : names)
    if (cl.Given(n)) return true;
  return false;
}

// The format decides which readings' options apply.
std::optional<int> CheckFormat(const CommandLine& cl, const Options& o) {
  const bool scanner = o.format != ScanFormat::kDegrees;
  const bool lds = o.format == ScanFormat::kLds;
  if (!scanner && AnyGiven(cl, {"--zero-at", "--clockwise", "--units", "--min-range", "--max-range", "--mount-yaw",
                                "--upside-down"}))
    return UsageError(
        "--zero-at, --clockwise, --units, --min-range, --max-range, --mount-yaw and --upside-down "
        "need --format ranges, samples, lds, rosbag or rosbag2");
  if (scanner && (o.below_given || o.above_given))
    return UsageError("--no-return-below/above go with the degrees format; use --min-range/--max-range");
  if (!o.device.empty() && !lds)
    return UsageError("--device reads a scanner's serial stream: add --scanner MODEL (--scanner list) or --format lds");
  if (!lds && AnyGiven(cl, {"--turns", "--rpm-range", "--min-packets", "--save-raw"}))
    return UsageError(
        "--turns, --rpm-range, --min-packets and --save-raw need --format lds (or ld06, rplidar, ydlidar)");
  if (lds && o.units_given)
    return UsageError("--units: the scanner's stream is in millimetres by its protocol; drop --units");
  // A bag's LaserScans say their own angles and units.
  const bool bag = IsBag(o.format);
  if (!o.topic.empty() && !bag)
    return UsageError("--topic names a bag's LaserScan topic: add --format rosbag or rosbag2");
  const std::string format = o.format == ScanFormat::kRosbag ? "--format rosbag" : "--format rosbag2";
  if (bag && o.scans == "-") return UsageError(format + " reads a bag by its index: give the bag's file name");
  if (bag && (o.zero_at_given || o.layout.clockwise || o.units_given))
    return UsageError("--zero-at, --clockwise and --units do not apply to " + format +
                      ": a LaserScan's angles and metres are its own (use --mount-yaw, --upside-down)");
  return std::nullopt;
}

std::optional<int> CheckValues(const Options& o) {
  if (o.below_given && o.above_given && !(o.below < o.above))
    return UsageError("--no-return-below must be less than --no-return-above");
  if (!(o.layout.min_range <= o.layout.max_range))
    return UsageError("--min-range must not be greater than --max-range");
  if (!o.save_scans.empty() && CollidesWithOutput(o.save_scans, o.out))
    return UsageError("--save-scans " + o.save_scans + " is one of the files the run writes into " + o.out +
                      "; choose another name");
  if (!(o.robot_radius + o.margin <= kPilotMaxBorder)) {
    char buf[160];
    std::snprintf(buf, sizeof buf,
                  "--robot-radius + --margin is %.3g m; the planner inflates returns by at most %.1f m",
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

std::optional<int> ParseOptions(int argc, char** argv, Options& o, const std::function<std::string()>& help) {
  CommandLine cl;
  std::vector<std::string> bare;
  AddHostOptions(cl, o, bare);
  if (const auto status = cl.Parse(argc, argv, help)) return status;
  if (const auto status = TakeBagPath(bare, o)) return status;
  const RunKind kind = !o.device.empty() ? kLiveRun : !o.scans.empty() ? kReplayRun : kDemoRun;
  if (const auto status = cl.CheckRun(kind)) return status;
  if (const auto status = CheckFormat(cl, o)) return status;
  if (const auto status = CheckValues(o)) return status;
  if (o.format == ScanFormat::kLds) o.layout.range_scale = kScanMillimetres;  // the protocol's unit
  if (o.format == ScanFormat::kLds && o.stream != StreamKind::kLds22 && !o.rpm_given)
    FamilyRpmRange(o.stream, o.rpm_min, o.rpm_max);
  return std::nullopt;
}
