// SPDX-License-Identifier: BSD-3-Clause
#include "sim_runs/map_run.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>

#include "base/json_writer.h"
#include "base/messages.h"
#include "base/safe_text.h"
#include "base/std_streams.h"
#include "output/output_set.h"
#include "output/pictures.h"
#include "output/run_report.h"
#include "output/scan_saver.h"
#include "output/staged_file.h"
#include "output/turn_report.h"
#include "sim_runs/map_pictures.h"
#include "sim_runs/route_file.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

void PoseJson(JsonWriter& w, const SimPose& p) {
  w.BeginObject().Key("x").Number(p.x).Key("y").Number(p.y).Key("heading").Number(p.heading).EndObject();
}
void PointJson(JsonWriter& w, double x, double y) { w.BeginObject().Key("x").Number(x).Key("y").Number(y).EndObject(); }

void ContactJson(JsonWriter& w, const MapResult& r) {
  if (r.contact.kind == SimContactKind::kNone) {
    w.Null();
    return;
  }
  w.BeginObject().Key("with").String(r.contact.kind == SimContactKind::kWall ? "wall" : "person");
  w.Key("t").Number(r.contact_t).Key("robot");
  PointJson(w, r.contact.x, r.contact.y);
  w.Key("point");
  PointJson(w, r.contact.px, r.contact.py);
  if (r.contact.kind == SimContactKind::kWall)
    w.Key("cell").BeginArray().Int(r.contact.col).Int(r.contact.row).EndArray();
  w.EndObject();
}

void PrintResult(const MapResult& r) {
  if (r.outcome == "collision")
    Print("outcome: collision at t=%.2fs, robot at (%.3f, %.3f) touching %s\n", r.contact_t, r.contact.x, r.contact.y,
          ContactText(r.contact).c_str());
  else
    Print("outcome: %s at t=%.1fs\n", r.outcome.c_str(), r.time);
  Print("  path length %.2f m, closest to a wall %.3f m (robot edge)\n", r.path_length, r.min_clearance);
  if (r.follow)
    Print("  person lost %.1f s in all, %.1f s at most at a stretch; %.2f m from the person at the end (mean %.2f m)\n",
          r.lost_total, r.lost_longest, r.end_distance, r.mean_distance);
  else
    Print("  %.2f m from the goal at the end\n", r.goal_distance);
}

std::optional<int> BuildSpec(const SimOptions& o, MapRunPlan& s) {
  s.name = o.map;
  s.map = o.map;
  s.start = {o.start[0], o.start[1], o.start[2] * kPi / 180.0};
  s.start_yaw_deg = o.start[2];
  if (o.has_goal) {
    s.has_goal = true;
    s.goal = {o.goal[0], o.goal[1]};
  }
  if (!o.route_file.empty()) {
    std::string why;
    if (!LoadRoute(o.route_file, s.route, why)) return Fail(kExitBadInput, why);
    s.route_file = o.route_file;
  }
  o.over.Apply(s);
  if (!(s.robot_radius + s.margin <= kPilotMaxBorder))
    return UsageError("--robot-radius + --margin may be at most 0.5 m");
  return std::nullopt;
}

// --save-scans naming a file the run writes into --out (run.svg, run.html),
// which the pictures' commit would replace.
bool SavesOverOutput(const std::string& save, const std::string& out) {
  const auto slash = save.rfind('/');
  const std::string name = slash == std::string::npos ? save : save.substr(slash + 1);
  std::string dir = slash == std::string::npos ? "." : save.substr(0, slash);
  std::string o = out;
  while (o.size() > 1 && o.back() == '/') o.pop_back();
  return OutputSet::IsOwnOutput(name) && (dir == o || "./" + o == dir || dir == "./" + o);
}

// --save-scans of a map run: the scans, and beside them the goals (goal
// runs) or the detector's candidates (follow runs) the pilot was given.
class MapRunSaver {
 public:
  MapRunSaver(const std::string& path, bool follow)
      : path_(path), side_path_(path + (follow ? ".candidates" : ".goals")), follow_(follow) {}
  const std::string& SidePath() const { return side_path_; }
  std::optional<int> Open() {
    std::string e;
    if (!path_.empty() && (!saver_.Open(path_, e) || !side_.Open(side_path_, e))) return Fail(kExitCannotWrite, e);
    return std::nullopt;
  }
  void Add(const MapPeriod& p, const SimPoint& goal) {
    if (path_.empty() || failed_) return;
    Scan scan;
    std::copy(p.scan, p.scan + kScanReadings, scan.begin());
    line_.clear();
    char buf[96];
    if (follow_) {
      if (p.has_candidate) {
        std::snprintf(buf, sizeof buf, "%.9g %.9g", static_cast<double>(p.candidate.x),
                      static_cast<double>(p.candidate.y));
        line_ = buf;
      }
    } else {
      const SimPoint g = SimToRobot(p.pose, goal.x, goal.y);
      std::snprintf(buf, sizeof buf, "%.17g %.17g", g.x, g.y);
      line_ = buf;
    }
    line_ += '\n';
    failed_ = !saver_.Add(scan) || !side_.Write(line_.data(), line_.size());
  }
  int Commit() {
    if (path_.empty()) return kExitOk;
    std::string e;
    if (failed_ || !saver_.Commit(e)) return Fail(kExitCannotWrite, path_ + ": " + (e.empty() ? "write failed" : e));
    if (!side_.Commit(e)) return Fail(kExitCannotWrite, side_path_ + ": " + e);
    return kExitOk;
  }

 private:
  std::string path_, side_path_;
  bool follow_;
  ScanSaver saver_;
  StagedFile side_;
  std::string line_;
  bool failed_ = false;
};

void PrintMapHeader(const MapRunPlan& plan, const SimMap& map) {
  Print("robot-demo: map %s (%d x %d cells of %g m), start (%.2f, %.2f) heading %g deg, ",
        TerminalText(plan.map).c_str(), map.Width(), map.Height(), map.Resolution(), plan.start.x, plan.start.y,
        plan.start_yaw_deg);
  if (!plan.route.empty())
    Print("following a person over %zu points at %.2f m/s\n", plan.route.size(), plan.person_speed);
  else
    Print("goal (%.2f, %.2f) within %.2f m, at most %g s\n", plan.goal.x, plan.goal.y, plan.goal_tolerance,
          plan.time_limit);
}

// A period's members of its JSON object, beyond the step's.
std::string PeriodJson(const MapPeriod& p) {
  JsonWriter w = JsonWriter::Continuing();
  w.Key("t").Number(p.t).Key("pose");
  PoseJson(w, p.pose);
  if (p.has_person) {
    w.Key("person");
    PointJson(w, p.person.x, p.person.y);
    w.Key("person_lost").Bool(p.lost);
  }
  return w.Key("clearance").Number(p.clearance).Text();
}

std::string PeriodLine(const MapPeriod& p) {
  char line[256];
  std::snprintf(line, sizeof line,
                "t=%5.1fs pose (%.2f, %.2f) heading %4.0f deg  clearance %.2f m  speed %.2f m/s  turn %+.2f rad/s%s",
                p.t, p.pose.x, p.pose.y, p.pose.heading * 180.0 / kPi, p.clearance, p.step->command.speed,
                p.step->command.turn_rate, WhyText(*p.step).c_str());
  return line;
}

// The command that replays the saved scans with what the pilot was given.
void PrintReplayCommand(const SimOptions& o, const MapRunPlan& plan, const std::string& side_path) {
  const bool follow = !plan.route.empty();
  std::string follow_from;
  if (follow)
    follow_from = " --follow " + JsonNumber(static_cast<double>(static_cast<float>(
                                     std::hypot(plan.route[0].x - plan.start.x, plan.route[0].y - plan.start.y))));
  Print("replay: robot-demo --scans %s %s %s%s --robot-radius %s --margin %s --max-speed %s --max-turn-rate %s\n",
        TerminalText(o.save_scans).c_str(), follow ? "--candidates" : "--goals", TerminalText(side_path).c_str(),
        follow_from.c_str(), JsonNumber(plan.robot_radius).c_str(), JsonNumber(plan.margin).c_str(),
        JsonNumber(plan.max_speed).c_str(), JsonNumber(plan.max_turn_rate).c_str());
}

// The plan of the run and its map, loaded and checked.
std::optional<int> LoadPlan(const SimOptions& o, MapRunPlan& plan, SimMap& map) {
  if (!o.save_scans.empty() && SavesOverOutput(o.save_scans, o.out))
    return UsageError("--save-scans " + o.save_scans + " is one of the files the run writes into " + o.out +
                      "; choose another name");
  if (const auto st = BuildSpec(o, plan)) return st;
  char why[512];
  SimMapOptions mo;
  mo.open_unknown = plan.open_unknown;
  if (!map.Load(plan.map.c_str(), mo, why, sizeof why)) return Fail(kExitBadInput, why);
  std::string problem;
  if (!CheckPlan(plan, map, problem)) return Fail(kExitBadInput, plan.map + ": " + problem);
  return std::nullopt;
}

}  // namespace

std::string ResultMembers(const MapResult& r) {
  JsonWriter w = JsonWriter::Members();
  w.Key("outcome").String(r.outcome).Key("success").Bool(r.success).Key("time").Number(r.time);
  w.Key("path_length").Number(r.path_length).Key("min_clearance").Number(r.min_clearance);
  w.Key("periods").Int(r.periods).Key("contact");
  ContactJson(w, r);
  if (r.follow) {
    w.Key("follow").BeginObject().Key("lost_longest").Number(r.lost_longest).Key("lost_total").Number(r.lost_total);
    w.Key("end_distance").Number(r.end_distance).Key("mean_distance").Number(r.mean_distance).EndObject();
  } else {
    w.Key("goal_distance").Number(r.goal_distance);
  }
  return w.Text();
}

int RunMap(const SimOptions& o) {
  MapRunPlan plan;
  SimMap map;
  if (const auto st = LoadPlan(o, plan, map)) return *st;
  OutputSet out;
  if (const auto status = OpenOutput(o.out, out)) return *status;
  MapRunSaver saver(o.save_scans, !plan.route.empty());
  if (const auto status = saver.Open()) return *status;
  if (!o.json && !o.quiet) PrintMapHeader(plan, map);
  MapPictures pictures(map, plan, out, o.html);
  auto each = [&](const MapPeriod& p) {
    const std::string line = PeriodLine(p);
    if (o.json)
      Print("%s\n", StepJson(*p.step, p.n, PeriodJson(p)).c_str());
    else if (!o.quiet && p.n % 10 == 9)
      Print("%s\n", line.c_str());
    pictures.Add(p, *p.pilot, line);
    saver.Add(p, plan.goal);
  };
  MapResult result;
  std::string fail;
  if (!RunEpisode(plan, map, true, each, result, fail)) return Fail(kExitBadInput, fail);
  // However the run ends, the last command a JSON reader sees is a stop.
  if (o.json && !StdoutPipeClosed()) Print("%s\n", EndStopJson(result.periods).c_str());
  if (const auto status = StopStatus()) return *status;
  if (!o.json) PrintResult(result);
  PictureFiles files = pictures.Finish(result);
  const int status = WritePictures(out, files, !o.json, [&saver] { return saver.Commit(); });
  if (status == kExitOk && !o.save_scans.empty() && !o.json) PrintReplayCommand(o, plan, saver.SidePath());
  if (o.json) {
    const std::string pics = status == kExitOk ? PicturesJson(out) : std::string("null");
    JsonWriter w = JsonWriter::Members();
    w.MoreMembers(ResultMembers(result)).Key("pictures").Json(pics);
    Print("%s\n", SummaryJson(w.Text()).c_str());
  }
  return status;
}
