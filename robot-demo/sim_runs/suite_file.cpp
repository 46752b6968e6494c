// SPDX-License-Identifier: BSD-3-Clause
#include "sim_runs/suite_file.h"

#include <yaml-cpp/yaml.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>

#include "scanpilot.h"
#include "sim_runs/route_file.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

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

std::string At(const std::string& file, const YAML::Node& n) { return file + ":" + std::to_string(n.Mark().line + 1); }

// A whole number in lo..hi.
double Whole(const YAML::Node& v, const std::string& file, const std::string& what, double lo, double hi,
             const char* want) {
  const double d = Num(v, file, what);
  if (d < lo || d > hi || d != std::floor(d)) throw SuiteError{At(file, v) + ": " + what + " wants " + want};
  return d;
}

// The numbers of a plan that a key sets as they are.
double* NumberKey(const std::string& key, MapRunPlan& s) {
  if (key == "goal_tolerance") return &s.goal_tolerance;
  if (key == "time_limit") return &s.time_limit;
  if (key == "person_speed") return &s.person_speed;
  if (key == "robot_radius") return &s.robot_radius;
  if (key == "margin") return &s.margin;
  if (key == "max_speed") return &s.max_speed;
  if (key == "max_turn_rate") return &s.max_turn_rate;
  if (key == "range_noise") return &s.range_noise;
  if (key == "dropout") return &s.dropout;
  return nullptr;
}

// One key of a run (or of the defaults); false when there is no such key.
bool ReadKey(const std::string& key, const YAML::Node& v, const std::string& file, const std::string& what,
             MapRunPlan& s, bool& has_start) {
  if (double* number = NumberKey(key, s)) {
    *number = Num(v, file, what);
  } else if (key == "name") {
    s.name = v.as<std::string>();
  } else if (key == "map") {
    s.map = Relative(file, v.as<std::string>());
  } else if (key == "start") {
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
  } else if (key == "seed") {
    s.seed = static_cast<std::uint64_t>(Whole(v, file, what, 0, 9e15, "a whole number >= 0"));
  } else if (key == "open_unknown") {
    s.open_unknown = v.as<bool>();
  } else if (key == "turn_samples") {
    s.turn_samples = static_cast<int>(Whole(v, file, what, 1, 8192, "1..8192"));
  } else {
    return false;
  }
  return true;
}

void ReadKeys(const YAML::Node& node, const std::string& file, const std::string& where, MapRunPlan& s,
              bool& has_start) {
  if (!node.IsMap()) throw SuiteError{At(file, node) + ": " + where + " is not a mapping"};
  for (const auto& kv : node) {
    const std::string key = kv.first.as<std::string>();
    if (!ReadKey(key, kv.second, file, where + " key '" + key + "'", s, has_start))
      throw SuiteError{At(file, kv.first) + ": " + where + ": unknown key '" + key + "'"};
  }
}

}  // namespace

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
