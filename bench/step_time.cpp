// SPDX-License-Identifier: BSD-3-Clause
// Wall time of Pilot::Step on BARN scans: 50 worlds, 20 poses each near the
// start line, each with its goal 10 m ahead pulled to the window.
//   step_time MAP_DIR [REPEATS]   (MAP_DIR: examples/maps/barn)
//   step_time MAP_DIR digest      one line per step of everything it
//                                 answered, to compare builds bit for bit
//   step_time MAP_DIR loop        the same worlds driven closed loop (the
//                                 pilot's commands move the robot, 100 s or
//                                 until 0.5 m from the goal): the time of
//                                 each step, whose scans then follow one
//                                 another as in use
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "scanpilot.h"
#include "scansim.h"

namespace {

// BARN world w of the folder, with the suite's robot.
bool LoadWorld(const char* dir, int w, SimMap& map, SimConfig& sc) {
  char path[1024];
  std::snprintf(path, sizeof path, "%s/barn_%d.yaml", dir, w);
  char err[256];
  sc.robot_radius = 0.215;
  return map.Load(path, SimMapOptions{}, err, sizeof err);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: step_time MAP_DIR [REPEATS]\n");
    return 2;
  }
  std::vector<float> goals, scans;
  for (int w = 1; w <= 50; ++w) {
    SimMap map;
    SimConfig sc;
    if (!LoadWorld(argv[1], w, map, sc)) continue;
    char err[256];
    for (int k = 0; k < 20; ++k) {
      SimWorld world;
      const SimPose p{-2.25 + 0.05 * (k % 5), 3.0 + 0.1 * k, 1.5707963 + 0.1 * (k % 7 - 3)};
      if (!world.Start(map, sc, p, 1, err, sizeof err)) continue;
      float scan[kSimReadings];
      world.Scan(scan);
      const SimPoint g = SimToRobot(p, -2.25, 13.0);
      goals.push_back(static_cast<float>(g.x));
      goals.push_back(static_cast<float>(g.y));
      scans.insert(scans.end(), scan, scan + kSimReadings);
    }
  }
  const std::size_t n = goals.size() / 2;
  if (n == 0) {
    std::fprintf(stderr, "step_time: no BARN world in %s\n", argv[1]);
    return 1;
  }
  PilotConfig c;
  c.robot_radius = 0.215;
  c.margin = 0.1;
  Pilot pilot;
  if (pilot.Start(c) != PilotError::kNone) return 1;
  PilotStep step;
  if (argc > 2 && std::strcmp(argv[2], "loop") == 0) {
    std::vector<double> times;
    for (int w = 1; w <= 50; ++w) {
      SimMap map;
      SimConfig sc;
      if (!LoadWorld(argv[1], w, map, sc)) continue;
      char err[256];
      SimWorld world;
      if (!world.Start(map, sc, {-2.25, 3.0, 1.5707963}, 1, err, sizeof err) || pilot.Start(c) != PilotError::kNone)
        continue;
      for (int k = 0; k < 1000; ++k) {
        const SimPose p = world.Pose();
        if (std::hypot(p.x + 2.25, p.y - 13.0) < 0.5) break;
        const SimPoint g = SimToRobot(p, -2.25, 13.0);
        PilotGoal goal;
        PilotWindowGoal(g.x, g.y, goal);
        pilot.SetGoal(goal);
        float scan[kSimReadings];
        world.Scan(scan);
        const auto t0 = std::chrono::steady_clock::now();
        pilot.Step(scan, nullptr, step);
        times.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
        if (world.Move(step.command.speed, step.command.turn_rate, 0.1).contact.kind != SimContactKind::kNone) break;
      }
    }
    std::sort(times.begin(), times.end());
    double sum = 0.0;
    for (double t : times) sum += t;
    std::printf("%zu closed-loop steps: median %.1f us, mean %.1f us, 90th percentile %.1f us\n", times.size(),
                times[times.size() / 2], sum / static_cast<double>(times.size()), times[times.size() * 9 / 10]);
    return 0;
  }
  if (argc > 2 && std::strcmp(argv[2], "digest") == 0) {
    // Every scan as taken, then with a changing pattern of dropouts, zeros
    // and too-near readings, some across the wrap from 359 to 0 degrees.
    for (std::size_t i = 0; i < 2 * n; ++i) {
      PilotGoal goal;
      PilotWindowGoal(goals[2 * (i % n)], goals[2 * (i % n) + 1], goal);
      pilot.SetGoal(goal);
      float scan[kSimReadings];
      std::copy_n(&scans[kSimReadings * (i % n)], kSimReadings, scan);
      if (i >= n)
        for (int k = 0; k < kSimReadings; ++k) {
          const unsigned h = (static_cast<unsigned>(k) * 2654435761u) ^ (static_cast<unsigned>(i) * 40503u);
          if (h % 13 == 0 || (i % 3 == 0 && (k >= 358 || k <= 1))) scan[k] = std::nanf("");
          if (h % 29 == 0) scan[k] = 0.0f;
          if (h % 97 == 0) scan[k] = -std::numeric_limits<float>::infinity();
        }
      pilot.Step(scan, nullptr, step);
      const PilotStep& s = step;
      std::printf(
          "%zu %d %d %a %a %a %a %a %a %d %d %d %d %d %d %a %a %d %d %d %d %d %d %d %d %d %d %d %d %d %d %a %a %a %d\n",
          i, s.reached, s.path_cells, s.steering.x, s.steering.y, s.path_end.x, s.path_end.y,
          static_cast<double>(s.bearing), s.bearing_deg, s.has_target, s.target.col, s.target.row, s.target_blocked,
          s.returns_inside_robot, s.lost, s.command.speed, s.command.turn_rate, s.no_free_target, s.no_path,
          s.bad_input, s.guard_stopped, s.stopped, s.seen, s.seen_front, s.near_readings, s.low_coverage, s.unseen_held,
          static_cast<int>(s.reason), s.route_found, s.route_cells, s.has_tracked, s.lookahead.x, s.lookahead.y,
          s.clearance, s.recovering);
    }
    return 0;
  }
  std::vector<double> per_step;
  const int repeats = argc > 2 ? std::atoi(argv[2]) : 7;
  for (int r = 0; r < repeats; ++r) {
    const auto t0 = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < n; ++i) {
      PilotGoal goal;
      PilotWindowGoal(goals[2 * i], goals[2 * i + 1], goal);
      pilot.SetGoal(goal);
      pilot.Step(&scans[kSimReadings * i], nullptr, step);
    }
    const auto t1 = std::chrono::steady_clock::now();
    per_step.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count() / static_cast<double>(n));
  }
  std::sort(per_step.begin(), per_step.end());
  std::printf("%zu scans: median %.1f us per step, fastest %.1f us\n", n, per_step[per_step.size() / 2], per_step[0]);
  return 0;
}
