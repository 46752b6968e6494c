// SPDX-License-Identifier: BSD-3-Clause
// What the command line asks of a map run, a suite or a merge.
#ifndef SCANPILOT_SIM_RUNS_SIM_OPTIONS_H
#define SCANPILOT_SIM_RUNS_SIM_OPTIONS_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim_runs/map_episode.h"

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

#endif
