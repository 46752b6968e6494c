// SPDX-License-Identifier: BSD-3-Clause
#include "sim_runs/sim_cli.h"

#include <charconv>
#include <cmath>
#include <optional>
#include <sstream>
#include <string>

#include "base/messages.h"
#include "sim_runs/map_run.h"
#include "sim_runs/route_file.h"
#include "sim_runs/sim_options.h"
#include "sim_runs/suite_run.h"

namespace {

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
