// SPDX-License-Identifier: BSD-3-Clause
#include "sim_runs/sim_cli.h"

#include <yaml-cpp/yaml.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "base/json_writer.h"
#include "base/messages.h"
#include "base/safe_text.h"
#include "base/std_streams.h"
#include "output/output_set.h"
#include "output/pass_line.h"
#include "output/pictures.h"
#include "output/run_report.h"
#include "output/scan_saver.h"
#include "output/staged_file.h"
#include "sim_runs/map_episode.h"
#include "sim_runs/map_pictures.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// Values a command line sets for every run (a suite's own values give way to them).
struct Overrides {
  std::optional<double> robot_radius, margin, max_speed, max_turn_rate, range_noise, dropout, goal_tolerance,
      time_limit, person_speed;
  std::optional<std::uint64_t> seed;
  std::optional<int> turn_samples;
  bool open_unknown = false;

  void Apply(MapRunPlan& s) const {
    if (robot_radius) s.robot_radius = *robot_radius;
    if (margin) s.margin = *margin;
    if (max_speed) s.max_speed = *max_speed;
    if (max_turn_rate) s.max_turn_rate = *max_turn_rate;
    if (range_noise) s.range_noise = *range_noise;
    if (dropout) s.dropout = *dropout;
    if (goal_tolerance) s.goal_tolerance = *goal_tolerance;
    if (time_limit) s.time_limit = *time_limit;
    if (person_speed) s.person_speed = *person_speed;
    if (seed) s.seed = *seed;
    if (turn_samples) s.turn_samples = *turn_samples;
    if (open_unknown) s.open_unknown = true;
  }
};

struct SimOptions {
  std::string map, suite, route_file;
  std::vector<std::string> merge;
  bool has_start = false, has_goal = false;
  double start[3] = {0, 0, 0};
  double goal[2] = {0, 0};
  Overrides over;
  std::string out = "robot-demo-out";
  bool json = false, html = true, quiet = false;
  std::string save_scans;
  int shard_k = 1, shard_n = 1;
  bool shard_given = false;
  std::optional<double> min_success;
};

bool ParseNumber(const std::string& s, double& v) {
  const char* b = s.data();
  const char* e = b + s.size();
  if (b != e && *b == '+') ++b;
  const auto r = std::from_chars(b, e, v);
  return r.ec == std::errc() && r.ptr == e && std::isfinite(v);
}

bool ParseList(const std::string& s, double* v, int n) {
  std::stringstream ss(s);
  std::string item;
  int i = 0;
  while (std::getline(ss, item, ',')) {
    if (i >= n || !ParseNumber(item, v[i])) return false;
    ++i;
  }
  return i == n && !s.empty() && s.back() != ',';
}

std::optional<int> Bad(const std::string& msg) { return UsageError(msg); }

std::optional<int> ParseSimOption(const std::string& arg, const std::string& val, SimOptions& o) {
  auto metres = [&](std::optional<double>& into, double lo, bool lo_open, double hi) -> std::optional<int> {
    double v = 0;
    if (!ParseNumber(val, v) || v < lo || (lo_open && v == lo) || v > hi) {
      char buf[64];
      std::snprintf(buf, sizeof buf, "%s%g..%g", lo_open ? "above " : "", lo, hi);
      return Bad(arg + " wants a number in " + buf + ", got '" + val + "'");
    }
    into = v;
    return std::nullopt;
  };
  if (arg == "--map")
    o.map = val;
  else if (arg == "--suite")
    o.suite = val;
  else if (arg == "--person-route")
    o.route_file = val;
  else if (arg == "--out")
    o.out = val;
  else if (arg == "--save-scans")
    o.save_scans = val;
  else if (arg == "--start") {
    if (!ParseList(val, o.start, 3)) return Bad("--start wants X,Y,YAW_DEG (metres, degrees), got '" + val + "'");
    o.has_start = true;
  } else if (arg == "--goal") {
    if (!ParseList(val, o.goal, 2)) return Bad("--goal wants X,Y in metres, got '" + val + "'");
    o.has_goal = true;
  } else if (arg == "--goal-tolerance")
    return metres(o.over.goal_tolerance, 0.0, true, 1e6);
  else if (arg == "--time-limit")
    return metres(o.over.time_limit, 0.0, true, 86400.0);
  else if (arg == "--person-speed")
    return metres(o.over.person_speed, 0.0, false, 10.0);
  else if (arg == "--robot-radius")
    return metres(o.over.robot_radius, 0.0, true, 0.5);
  else if (arg == "--margin")
    return metres(o.over.margin, 0.0, false, 0.5);
  else if (arg == "--max-speed")
    return metres(o.over.max_speed, 0.0, false, 10.0);
  else if (arg == "--max-turn-rate")
    return metres(o.over.max_turn_rate, 0.0, false, 20.0);
  else if (arg == "--range-noise")
    return metres(o.over.range_noise, 0.0, false, 1.0);
  else if (arg == "--dropout")
    return metres(o.over.dropout, 0.0, false, 1.0);
  else if (arg == "--min-success")
    return metres(o.min_success, 0.0, false, 1.0);
  else if (arg == "--turn-samples") {
    int n = 0;
    const auto r = std::from_chars(val.data(), val.data() + val.size(), n);
    if (r.ec != std::errc() || r.ptr != val.data() + val.size() || n < 1 || n > 8192)
      return Bad("--turn-samples wants a number of samples a turn, 1..8192, got '" + val + "'");
    o.over.turn_samples = n;
  } else if (arg == "--seed") {
    unsigned long long n = 0;
    const auto r = std::from_chars(val.data(), val.data() + val.size(), n);
    if (r.ec != std::errc() || r.ptr != val.data() + val.size() || val.empty())
      return Bad("--seed wants a whole number >= 0, got '" + val + "'");
    o.over.seed = n;
  } else if (arg == "--shard") {
    const auto slash = val.find('/');
    int k = 0, n = 0;
    const bool ok = slash != std::string::npos &&
                    std::from_chars(val.data(), val.data() + slash, k).ptr == val.data() + slash &&
                    std::from_chars(val.data() + slash + 1, val.data() + val.size(), n).ptr == val.data() + val.size();
    if (!ok || n < 1 || k < 1 || k > n) return Bad("--shard wants K/N with 1 <= K <= N, got '" + val + "'");
    o.shard_k = k;
    o.shard_n = n;
    o.shard_given = true;
  }
  return std::nullopt;
}

const char* const kValued[] = {"--map",         "--suite",         "--person-route", "--out",
                               "--save-scans",  "--start",         "--goal",         "--goal-tolerance",
                               "--time-limit",  "--person-speed",  "--robot-radius", "--margin",
                               "--max-speed",   "--max-turn-rate", "--range-noise",  "--dropout",
                               "--min-success", "--seed",          "--shard",        "--turn-samples"};

bool IsValued(const std::string& a) {
  for (const char* v : kValued)
    if (a == v) return true;
  return false;
}

std::optional<int> ParseSim(int argc, char** argv, SimOptions& o) {
  bool merging = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--merge") {
      merging = true;
      continue;
    }
    if (arg == "--json")
      o.json = true;
    else if (arg == "--no-html")
      o.html = false;
    else if (arg == "--quiet")
      o.quiet = true;
    else if (arg == "--open-unknown")
      o.over.open_unknown = true;
    else if (IsValued(arg)) {
      if (i + 1 >= argc) return Bad(arg + " needs a value");
      const std::string val = argv[++i];
      if (val.empty()) return Bad(arg + " needs a value");
      if (const auto st = ParseSimOption(arg, val, o)) return st;
    } else if (merging && arg.rfind("--", 0) != 0) {
      o.merge.push_back(arg);
    } else {
      return Bad("unknown option '" + arg + "' for a map run, suite or merge");
    }
  }
  const int modes = (o.map.empty() ? 0 : 1) + (o.suite.empty() ? 0 : 1) + (merging ? 1 : 0);
  if (modes != 1) return Bad("give one of --map, --suite and --merge");
  if (merging && o.merge.empty()) return Bad("--merge needs the shards' JSON files");
  if (!o.map.empty()) {
    if (!o.has_start) return Bad("--map needs --start X,Y,YAW_DEG");
    if (o.has_goal == !o.route_file.empty()) return Bad("--map needs --goal X,Y or --person-route FILE (one of them)");
    if (o.shard_given || o.min_success) return Bad("--shard and --min-success go with --suite");
  } else {
    if (o.has_start || o.has_goal || !o.route_file.empty() || !o.save_scans.empty())
      return Bad("--start, --goal, --person-route and --save-scans go with --map");
  }
  if (merging && o.shard_given) return Bad("--shard goes with --suite");
  return std::nullopt;
}

// One waypoint "x y" a line; '#' comments and blank lines are skipped.
bool LoadRoute(const std::string& file, std::vector<SimPoint>& route, std::string& why) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    why = file + ": cannot open (" + std::strerror(errno) + ")";
    return false;
  }
  std::string line;
  long long n = 0;
  while (std::getline(in, line)) {
    ++n;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const auto first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == '#') continue;
    std::stringstream ss(line);
    std::string a, b, extra;
    double x = 0, y = 0;
    if (!(ss >> a >> b) || (ss >> extra) || !ParseNumber(a, x) || !ParseNumber(b, y)) {
      why = file + ":" + std::to_string(n) + ": a waypoint is two finite numbers 'x y' in metres";
      return false;
    }
    route.push_back({x, y});
  }
  if (in.bad()) {
    why = file + ": read error";
    return false;
  }
  if (route.empty()) {
    why = file + ": the route is empty";
    return false;
  }
  return true;
}

std::string DirOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string Relative(const std::string& base_file, const std::string& p) {
  return !p.empty() && p[0] == '/' ? p : DirOf(base_file) + p;
}

// ---- a single run ---------------------------------------------------------------

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

// The members every run's summary has, in this order (merging reads them back).
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
  if (!(s.robot_radius + s.margin <= kPilotMaxBorder)) return Bad("--robot-radius + --margin may be at most 0.5 m");
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

int RunMap(const SimOptions& o) {
  if (!o.save_scans.empty() && SavesOverOutput(o.save_scans, o.out))
    return *Bad("--save-scans " + o.save_scans + " is one of the files the run writes into " + o.out +
                "; choose another name");
  MapRunPlan plan;
  if (const auto st = BuildSpec(o, plan)) return *st;
  SimMap map;
  char why[512];
  SimMapOptions mo;
  mo.open_unknown = plan.open_unknown;
  if (!map.Load(plan.map.c_str(), mo, why, sizeof why)) return Fail(kExitBadInput, why);
  std::string problem;
  if (!CheckPlan(plan, map, problem)) return Fail(kExitBadInput, plan.map + ": " + problem);
  OutputSet out;
  if (const auto status = OpenOutput(o.out, out)) return *status;
  // The scans and what else the pilot was given, for a replay of the same steps.
  ScanSaver saver;
  StagedFile side;
  std::string side_line;
  const bool follow = !plan.route.empty();
  const std::string side_path = o.save_scans + (follow ? ".candidates" : ".goals");
  if (!o.save_scans.empty()) {
    std::string e;
    if (!saver.Open(o.save_scans, e) || !side.Open(side_path, e)) return Fail(kExitCannotWrite, e);
  }
  bool save_failed = false;
  if (!o.json && !o.quiet) {
    Print("robot-demo: map %s (%d x %d cells of %g m), start (%.2f, %.2f) heading %g deg, ",
          TerminalText(plan.map).c_str(), map.Width(), map.Height(), map.Resolution(), plan.start.x, plan.start.y,
          plan.start_yaw_deg);
    if (follow)
      Print("following a person over %zu points at %.2f m/s\n", plan.route.size(), plan.person_speed);
    else
      Print("goal (%.2f, %.2f) within %.2f m, at most %g s\n", plan.goal.x, plan.goal.y, plan.goal_tolerance,
            plan.time_limit);
  }
  MapPictures pictures(map, plan, out, o.html);
  auto each = [&](const MapPeriod& p) {
    JsonWriter extra = JsonWriter::Continuing();
    extra.Key("t").Number(p.t).Key("pose");
    PoseJson(extra, p.pose);
    if (p.has_person) {
      extra.Key("person");
      PointJson(extra, p.person.x, p.person.y);
      extra.Key("person_lost").Bool(p.lost);
    }
    extra.Key("clearance").Number(p.clearance);
    char line[200];
    std::snprintf(line, sizeof line,
                  "t=%5.1fs pose (%.2f, %.2f) heading %4.0f deg  clearance %.2f m  speed %.2f m/s  turn %+.2f rad/s%s",
                  p.t, p.pose.x, p.pose.y, p.pose.heading * 180.0 / kPi, p.clearance, p.step->command.speed,
                  p.step->command.turn_rate, p.step->stopped ? "  (stop)" : "");
    if (o.json)
      Print("%s\n", StepJson(*p.step, p.n, extra.Text()).c_str());
    else if (!o.quiet && p.n % 10 == 9)
      Print("%s\n", line);
    pictures.Add(p, *p.pilot, line);
    if (!o.save_scans.empty() && !save_failed) {
      Scan scan;
      std::copy(p.scan, p.scan + kScanReadings, scan.begin());
      side_line.clear();
      char buf[96];
      if (follow) {
        if (p.has_candidate) {
          std::snprintf(buf, sizeof buf, "%.9g %.9g", static_cast<double>(p.candidate.x),
                        static_cast<double>(p.candidate.y));
          side_line = buf;
        }
      } else {
        const SimPoint g = SimToRobot(p.pose, plan.goal.x, plan.goal.y);
        std::snprintf(buf, sizeof buf, "%.17g %.17g", g.x, g.y);
        side_line = buf;
      }
      side_line += '\n';
      save_failed = !saver.Add(scan) || !side.Write(side_line.data(), side_line.size());
    }
  };
  MapResult result;
  std::string fail;
  if (!RunEpisode(plan, map, true, each, result, fail)) return Fail(kExitBadInput, fail);
  // However the run ends, the last command a JSON reader sees is a stop.
  if (o.json && !StdoutPipeClosed()) Print("%s\n", EndStopJson(result.periods).c_str());
  if (const auto status = StopStatus()) return *status;
  if (!o.json) PrintResult(result);
  PictureFiles files = pictures.Finish(result);
  auto commit_saved = [&]() -> int {
    if (o.save_scans.empty()) return kExitOk;
    std::string e;
    if (save_failed || !saver.Commit(e))
      return Fail(kExitCannotWrite, o.save_scans + ": " + (e.empty() ? "write failed" : e));
    if (!side.Commit(e)) return Fail(kExitCannotWrite, side_path + ": " + e);
    return kExitOk;
  };
  const int status = WritePictures(out, files, !o.json, commit_saved);
  if (status == kExitOk && !o.save_scans.empty() && !o.json) {
    std::string follow_from;
    if (follow)
      follow_from = " --follow " + JsonNumber(static_cast<double>(static_cast<float>(
                                       std::hypot(plan.route[0].x - plan.start.x, plan.route[0].y - plan.start.y))));
    Print("replay: robot-demo --scans %s %s %s%s --robot-radius %s --margin %s --max-speed %s --max-turn-rate %s\n",
          TerminalText(o.save_scans).c_str(), follow ? "--candidates" : "--goals", TerminalText(side_path).c_str(),
          follow_from.c_str(), JsonNumber(plan.robot_radius).c_str(), JsonNumber(plan.margin).c_str(),
          JsonNumber(plan.max_speed).c_str(), JsonNumber(plan.max_turn_rate).c_str());
  }
  if (o.json) {
    const std::string pics = status == kExitOk ? PicturesJson(out) : std::string("null");
    JsonWriter w = JsonWriter::Members();
    w.MoreMembers(ResultMembers(result)).Key("pictures").Json(pics);
    Print("%s\n", SummaryJson(w.Text()).c_str());
  }
  return status;
}

// ---- suites -------------------------------------------------------------------------

struct SuiteError {
  std::string text;
};

double Num(const YAML::Node& n, const std::string& file, const std::string& what) {
  double v = 0;
  try {
    v = n.as<double>();
  } catch (const YAML::Exception&) {
    throw SuiteError{file + ":" + std::to_string(n.Mark().line + 1) + ": " + what + " is not a number"};
  }
  if (!std::isfinite(v))
    throw SuiteError{file + ":" + std::to_string(n.Mark().line + 1) + ": " + what + " is not finite"};
  return v;
}

std::vector<double> Nums(const YAML::Node& n, std::size_t count, const std::string& file, const std::string& what) {
  if (!n.IsSequence() || n.size() != count)
    throw SuiteError{file + ":" + std::to_string(n.Mark().line + 1) + ": " + what + " wants " + std::to_string(count) +
                     " numbers in [ ]"};
  std::vector<double> v;
  for (std::size_t i = 0; i < count; ++i) v.push_back(Num(n[i], file, what));
  return v;
}

void ReadKeys(const YAML::Node& node, const std::string& file, const std::string& where, MapRunPlan& s,
              bool& has_start) {
  if (!node.IsMap())
    throw SuiteError{file + ":" + std::to_string(node.Mark().line + 1) + ": " + where + " is not a mapping"};
  for (const auto& kv : node) {
    const std::string key = kv.first.as<std::string>();
    const YAML::Node& v = kv.second;
    const std::string what = where + " key '" + key + "'";
    if (key == "name")
      s.name = v.as<std::string>();
    else if (key == "map")
      s.map = Relative(file, v.as<std::string>());
    else if (key == "start") {
      const auto n = Nums(v, 3, file, what);
      s.start = {n[0], n[1], n[2] * kPi / 180.0};
      s.start_yaw_deg = n[2];
      has_start = true;
    } else if (key == "goal") {
      const auto n = Nums(v, 2, file, what);
      s.goal = {n[0], n[1]};
      s.has_goal = true;
    } else if (key == "person_route") {
      s.route_file = Relative(file, v.as<std::string>());
      s.route.clear();
      std::string why;
      if (!LoadRoute(s.route_file, s.route, why)) throw SuiteError{why};
    } else if (key == "goal_tolerance")
      s.goal_tolerance = Num(v, file, what);
    else if (key == "time_limit")
      s.time_limit = Num(v, file, what);
    else if (key == "person_speed")
      s.person_speed = Num(v, file, what);
    else if (key == "robot_radius")
      s.robot_radius = Num(v, file, what);
    else if (key == "margin")
      s.margin = Num(v, file, what);
    else if (key == "max_speed")
      s.max_speed = Num(v, file, what);
    else if (key == "max_turn_rate")
      s.max_turn_rate = Num(v, file, what);
    else if (key == "range_noise")
      s.range_noise = Num(v, file, what);
    else if (key == "dropout")
      s.dropout = Num(v, file, what);
    else if (key == "seed") {
      const double d = Num(v, file, what);
      if (d < 0 || d != std::floor(d) || d > 9e15)
        throw SuiteError{file + ":" + std::to_string(v.Mark().line + 1) + ": " + what + " wants a whole number >= 0"};
      s.seed = static_cast<std::uint64_t>(d);
    } else if (key == "open_unknown")
      s.open_unknown = v.as<bool>();
    else if (key == "turn_samples") {
      const double d = Num(v, file, what);
      if (d < 1 || d > 8192 || d != std::floor(d))
        throw SuiteError{file + ":" + std::to_string(v.Mark().line + 1) + ": " + what + " wants 1..8192"};
      s.turn_samples = static_cast<int>(d);
    } else
      throw SuiteError{file + ":" + std::to_string(kv.first.Mark().line + 1) + ": " + where + ": unknown key '" + key +
                       "'"};
  }
}

bool LoadSuite(const std::string& file, const Overrides& over, std::vector<MapRunPlan>& runs, std::string& why) {
  std::ifstream probe(file);
  if (!probe) {
    why = file + ": cannot open (" + std::strerror(errno) + ")";
    return false;
  }
  try {
    const YAML::Node root = YAML::LoadFile(file);
    if (!root.IsMap() || !root["runs"] || !root["runs"].IsSequence())
      throw SuiteError{file + ": a suite is a mapping with a list 'runs' (and optional 'defaults')"};
    MapRunPlan base;
    bool dummy = false;
    for (const auto& kv : root) {
      const std::string key = kv.first.as<std::string>();
      if (key != "runs" && key != "defaults")
        throw SuiteError{file + ":" + std::to_string(kv.first.Mark().line + 1) + ": unknown key '" + key + "'"};
    }
    if (root["defaults"]) ReadKeys(root["defaults"], file, "defaults", base, dummy);
    const YAML::Node list = root["runs"];
    if (list.size() == 0) throw SuiteError{file + ": 'runs' is empty"};
    for (std::size_t i = 0; i < list.size(); ++i) {
      MapRunPlan s = base;
      bool has_start = dummy;
      const std::string where = "run " + std::to_string(i + 1);
      ReadKeys(list[i], file, where, s, has_start);
      const std::string at = file + ":" + std::to_string(list[i].Mark().line + 1) + ": " + where;
      if (s.map.empty()) throw SuiteError{at + ": missing key 'map'"};
      if (!has_start) throw SuiteError{at + ": missing key 'start'"};
      if (s.has_goal == !s.route.empty()) throw SuiteError{at + ": give 'goal' or 'person_route' (one of them)"};
      if (s.name.empty()) s.name = s.map;
      over.Apply(s);
      if (!(s.robot_radius + s.margin <= kPilotMaxBorder) || !(s.robot_radius > 0) || s.margin < 0)
        throw SuiteError{at + ": robot_radius > 0 and margin >= 0 may add up to 0.5 m at most"};
      runs.push_back(s);
    }
  } catch (const SuiteError& e) {
    why = e.text;
    return false;
  } catch (const YAML::Exception& e) {
    why = file + ":" + std::to_string(e.mark.line + 1) + ": " + e.msg;
    return false;
  }
  return true;
}

// What the table needs of a run; a merge reads the same back from JSON.
struct RunRow {
  long long index;
  std::string outcome;
  bool success;
  double time;
};

struct Table {
  long long runs = 0, success = 0;
  std::map<std::string, long long> outcomes;
  double time_sum = 0.0, time_worst = 0.0;
};

Table MakeTable(std::vector<RunRow> rows) {
  std::sort(rows.begin(), rows.end(), [](const RunRow& a, const RunRow& b) { return a.index < b.index; });
  Table t;
  for (const RunRow& r : rows) {
    ++t.runs;
    ++t.outcomes[r.outcome];
    if (r.success) {
      ++t.success;
      t.time_sum += r.time;
      t.time_worst = std::max(t.time_worst, r.time);
    }
  }
  return t;
}

long long Count(const Table& t, const char* k) {
  const auto it = t.outcomes.find(k);
  return it == t.outcomes.end() ? 0 : it->second;
}

double Rate(const Table& t) { return t.runs ? static_cast<double>(t.success) / static_cast<double>(t.runs) : 0.0; }
double MeanTime(const Table& t) { return t.success ? t.time_sum / static_cast<double>(t.success) : NAN; }

void PrintTable(const Table& t) {
  Print("suite: %lld runs, success %lld (%.1f %%)\n", t.runs, t.success, 100.0 * Rate(t));
  std::string outcomes;
  for (const auto& [k, n] : t.outcomes) outcomes += (outcomes.empty() ? "" : ", ") + k + " " + std::to_string(n);
  Print("  outcomes: %s\n", outcomes.c_str());
  Print("  collisions %lld, timeouts %lld\n", Count(t, "collision"), Count(t, "timeout"));
  if (t.success)
    Print("  time of the successful runs: mean %.2f s, worst %.2f s\n", MeanTime(t), t.time_worst);
  else
    Print("  time of the successful runs: none succeeded\n");
}

// The suite's line; `shard` and `suite_runs` let --merge check its parts.
std::string TableJson(const Table& t, const std::string& shard, long long suite_runs) {
  JsonWriter w;
  w.BeginObject().Key("schema").Int(kPilotJsonSchema).Key("suite").BeginObject();
  w.Key("runs").Int(t.runs).Key("success").Int(t.success).Key("success_rate").Number(Rate(t));
  w.Key("collisions").Int(Count(t, "collision")).Key("timeouts").Int(Count(t, "timeout")).Key("outcomes").BeginObject();
  for (const auto& [k, n] : t.outcomes) w.Key(k).Int(n);
  w.EndObject().Key("time_mean").Number(MeanTime(t)).Key("time_worst");
  if (t.success)
    w.Number(t.time_worst);
  else
    w.Null();
  w.Key("shard").String(shard).Key("suite_runs").Int(suite_runs);
  return w.EndObject().EndObject().Text();
}

int MinSuccessStatus(const SimOptions& o, const Table& t) {
  if (o.min_success && Rate(t) < *o.min_success) {
    Notice("success rate " + std::to_string(Rate(t)) + " is below --min-success " + std::to_string(*o.min_success));
    return kExitBelowMinSuccess;
  }
  return kExitOk;
}

int RunSuite(const SimOptions& o) {
  std::vector<MapRunPlan> all;
  std::string why;
  if (!LoadSuite(o.suite, o.over, all, why)) return Fail(kExitBadInput, why);
  // Every map this shard needs, loaded and checked before anything is printed.
  std::vector<long long> mine;
  for (long long i = 0; i < static_cast<long long>(all.size()); ++i)
    if (i % o.shard_n == o.shard_k - 1) mine.push_back(i);
  std::map<std::string, std::unique_ptr<SimMap>> maps;
  for (const MapRunPlan& s : all) {
    std::ifstream probe(s.map);
    if (!probe) return Fail(kExitBadInput, o.suite + ": run '" + s.name + "': map " + s.map + ": cannot open");
  }
  for (long long i : mine) {
    const MapRunPlan& s = all[static_cast<std::size_t>(i)];
    const std::string key = s.map + (s.open_unknown ? "|open" : "");
    if (!maps.count(key)) {
      auto m = std::make_unique<SimMap>();
      char buf[512];
      SimMapOptions mo;
      mo.open_unknown = s.open_unknown;
      if (!m->Load(s.map.c_str(), mo, buf, sizeof buf))
        return Fail(kExitBadInput, o.suite + ": run '" + s.name + "': " + buf);
      maps[key] = std::move(m);
    }
    std::string problem;
    if (!CheckPlan(s, *maps[key], problem))
      return Fail(kExitBadInput, o.suite + ": run '" + s.name + "': " + s.map + ": " + problem);
  }
  std::vector<RunRow> rows;
  for (long long i : mine) {
    const MapRunPlan& s = all[static_cast<std::size_t>(i)];
    const SimMap& m = *maps[s.map + (s.open_unknown ? "|open" : "")];
    MapResult r;
    std::string fail;
    if (!RunEpisode(s, m, false, {}, r, fail)) return Fail(kExitBadInput, s.name + ": " + fail);
    rows.push_back({i + 1, r.outcome, r.success, r.time});
    if (o.json) {
      JsonWriter w;
      w.BeginObject().Key("schema").Int(kPilotJsonSchema).Key("run").BeginObject();
      w.Key("index").Int(i + 1).Key("name").String(s.name).MoreMembers(ResultMembers(r));
      Print("%s\n", w.EndObject().EndObject().Text().c_str());
    } else if (!o.quiet) {
      Print("%4lld %-24s %-9s %6.1f s  path %6.2f m  clearance %6.3f m%s%s\n", i + 1,
            TerminalText(FitText(s.name, 24)).c_str(), r.outcome.c_str(), r.time, r.path_length, r.min_clearance,
            r.outcome == "collision" ? "  touching " : "",
            r.outcome == "collision" ? ContactText(r.contact).c_str() : "");
    }
    if (const auto status = StopStatus()) return *status;
  }
  const Table t = MakeTable(rows);
  const std::string shard = std::to_string(o.shard_k) + "/" + std::to_string(o.shard_n);
  if (o.json)
    Print("%s\n", TableJson(t, shard, static_cast<long long>(all.size())).c_str());
  else {
    if (o.shard_n > 1) Print("shard %s of a suite of %zu runs\n", shard.c_str(), all.size());
    PrintTable(t);
  }
  return MinSuccessStatus(o, t);
}

// ---- merging shards -----------------------------------------------------------------

// The value after "key": in a line of our own JSON (no nesting before it).
bool Field(const std::string& line, const std::string& key, std::string& value) {
  const std::string k = "\"" + key + "\":";
  const auto at = line.find(k);
  if (at == std::string::npos) return false;
  std::size_t b = at + k.size(), e = b;
  if (b < line.size() && line[b] == '"') {
    e = line.find('"', b + 1);
    if (e == std::string::npos) return false;
    value = line.substr(b + 1, e - b - 1);
    return true;
  }
  while (e < line.size() && line[e] != ',' && line[e] != '}') ++e;
  value = line.substr(b, e - b);
  return true;
}

int RunMerge(const SimOptions& o) {
  std::vector<RunRow> rows;
  std::map<long long, std::string> seen;
  long long suite_runs = -1;
  for (const std::string& file : o.merge) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return Fail(kExitBadInput, file + ": cannot open (" + std::strerror(errno) + ")");
    std::string line;
    long long n = 0;
    while (std::getline(in, line)) {
      ++n;
      const std::string at = file + ":" + std::to_string(n);
      std::string v;
      if (line.rfind("{\"schema\":", 0) == 0 && line.find(",\"suite\":{") != std::string::npos) {
        long long total = 0;
        if (!Field(line, "suite_runs", v) || std::from_chars(v.data(), v.data() + v.size(), total).ec != std::errc())
          return Fail(kExitBadInput, at + ": a suite line without 'suite_runs'");
        if (suite_runs >= 0 && total != suite_runs)
          return Fail(kExitBadInput, at + ": a shard of a suite of " + std::to_string(total) + " runs, not " +
                                         std::to_string(suite_runs));
        suite_runs = total;
        continue;
      }
      if (line.find(",\"run\":{\"index\":") == std::string::npos) continue;  // other lines pass
      RunRow r{};
      std::string idx, t, succ;
      if (!Field(line, "index", idx) || !Field(line, "outcome", r.outcome) || !Field(line, "success", succ) ||
          !Field(line, "time", t))
        return Fail(kExitBadInput, at + ": a run line without index, outcome, success or time");
      if (std::from_chars(idx.data(), idx.data() + idx.size(), r.index).ec != std::errc() || r.index < 1 ||
          !ParseNumber(t, r.time))
        return Fail(kExitBadInput, at + ": a run's index or time is not a number");
      r.success = succ == "true";
      if (seen.count(r.index))
        return Fail(kExitBadInput, at + ": run " + idx + " again (first in " + seen[r.index] + ")");
      seen[r.index] = at;
      rows.push_back(r);
    }
  }
  if (suite_runs < 0)
    return Fail(kExitBadInput, "--merge: no suite line in the files (were they made with --suite --json?)");
  for (long long i = 1; i <= suite_runs; ++i)
    if (!seen.count(i))
      return Fail(kExitBadInput, "--merge: run " + std::to_string(i) + " of " + std::to_string(suite_runs) +
                                     " is in none of the files");
  if (static_cast<long long>(rows.size()) != suite_runs)
    return Fail(kExitBadInput, "--merge: more runs than the suite's " + std::to_string(suite_runs));
  const Table t = MakeTable(rows);
  if (o.json)
    Print("%s\n", TableJson(t, "1/1", suite_runs).c_str());
  else
    PrintTable(t);
  return MinSuccessStatus(o, t);
}

}  // namespace

bool WantsSimRun(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--map" || a == "--suite" || a == "--merge") return true;
  }
  return false;
}

int RunSim(int argc, char** argv) {
  SimOptions o;
  if (const auto st = ParseSim(argc, argv, o)) return *st;
  if (!o.map.empty()) return RunMap(o);
  if (!o.suite.empty()) return RunSuite(o);
  return RunMerge(o);
}
