// SPDX-License-Identifier: BSD-3-Clause
// The pilot's every answer, closed loop in a seeded simulated hall: goal runs
// round pillars (with range noise, dropouts and scans spoilt on purpose) and a
// follow run behind a walking person, each step's fields hashed (FNV-1a) part
// by part, with the poses the commands led to. Every build (compiler,
// optimisation) must print the same digests, and a change meant only to make
// the step faster must too.
//   pilot_digest [--expect FILE]   prints "part hash bytes" lines; with
//   --expect, exits 1 when they differ from FILE's.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

#include "part_digest.h"
#include "scanpilot.h"
#include "scansim.h"
#include "step_fields.h"

namespace {

struct Hash : PartHash {
  using PartHash::Add;
  // Any NaN is one NaN: CPUs differ in the sign and payload they make.
  void Add(double v) {
    if (std::isnan(v)) v = std::numeric_limits<double>::quiet_NaN();
    Add(&v, sizeof v);
  }
  void Add(float v) {
    if (std::isnan(v)) v = std::numeric_limits<float>::quiet_NaN();
    Add(&v, sizeof v);
  }
  void Add(int v) { Add(&v, sizeof v); }
  void Add(bool v) {
    const unsigned char c = v ? 1 : 0;
    Add(&c, 1);
  }
  void Add(PilotPoint p) {
    Add(p.x);
    Add(p.y);
  }
  void Add(PilotCell c) {
    Add(c.col);
    Add(c.row);
  }
  void Add(PilotCommand c) {
    Add(c.speed);
    Add(c.turn_rate);
  }
  void Add(PilotReason r) { Add(static_cast<int>(r)); }
};

void AddStep(Hash& h, const PilotStep& s) {
#define SCANPILOT_HASH_FIELD(key, kind, value, present) \
  h.Add(static_cast<bool>(present));                    \
  if (present) h.Add(value);
  SCANPILOT_STEP_FIELDS(SCANPILOT_HASH_FIELD)
#undef SCANPILOT_HASH_FIELD
}

void AddPose(Hash& h, const SimMove& m) {
  h.Add(m.pose.x);
  h.Add(m.pose.y);
  h.Add(m.pose.heading);
  h.Add(static_cast<int>(m.contact.kind));
}

// A 12 m x 8 m hall of 0.05 m cells: walls round it, rows of pillars
// 0.15 m wide with gaps of 0.85 m, a diagonal wall and a dead end.
bool Hall(SimMap& map) {
  const int w = 240, h = 160;
  std::vector<unsigned char> cells(static_cast<std::size_t>(w * h), 0);
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c) {
      bool wall = r == 0 || c == 0 || r == h - 1 || c == w - 1;
      wall = wall || (c >= 40 && c < 160 && (c % 20) < 3 && (r % 20) < 3 && r > 10 && r < 150);
      wall = wall || (c > 170 && c < 200 && r == 2 * (c - 170) + 40);
      wall = wall || (c >= 200 && c < 230 && (r == 100 || r == 130)) || (c == 229 && r >= 100 && r <= 130);
      cells[static_cast<std::size_t>(r * w + c)] = wall ? 1 : 0;
    }
  return map.Set(w, h, 0.05, 0.0, 0.0, 0.0, cells.data(), SimMapOptions{});
}

// Spoils some scans as a scanner does: a run of dropouts, zeros or -inf.
void Spoil(float* scan, int k) {
  if (k % 23 == 7)
    for (int i = 100; i < 260; ++i) scan[i] = std::nanf("");
  if (k % 31 == 3)
    for (int i = 0; i < kSimReadings; i += 7) scan[i] = 0.0f;
  if (k % 41 == 11)
    for (int i = 170; i < 190; ++i) scan[i] = -std::numeric_limits<float>::infinity();
}

}  // namespace

int main(int argc, char** argv) {
  SimMap map;
  if (!Hall(map)) {
    std::fprintf(stderr, "pilot_digest: the map was refused\n");
    return 2;
  }
  char why[256];
  Hash goal_steps, goal_poses, follow_steps, follow_poses;
  PilotStep step;
  float scan[kSimReadings];

  // Goal runs: the robot of the BARN worlds, from the west end to goals
  // beyond the pillars, one into the dead end.
  {
    SimConfig sc;
    sc.robot_radius = 0.215;
    sc.range_noise = 0.01;
    sc.dropout = 0.01;
    PilotConfig pc;
    pc.robot_radius = 0.215;
    pc.margin = 0.1;
    const double goals[][2] = {{10.5, 7.0}, {10.8, 1.2}, {11.0, 5.75}, {1.0, 4.0}};
    SimWorld world;
    if (!world.Start(map, sc, {1.0, 4.0, 0.0}, 7, why, sizeof why)) {
      std::fprintf(stderr, "pilot_digest: %s\n", why);
      return 2;
    }
    Pilot pilot;
    if (pilot.Start(pc) != PilotError::kNone) return 2;
    int k = 0;
    for (const auto& g : goals)
      for (int n = 0; n < 450; ++n, ++k) {
        const SimPose p = world.Pose();
        if (std::hypot(p.x - g[0], p.y - g[1]) < 0.6) break;
        const SimPoint r = SimToRobot(p, g[0], g[1]);
        PilotGoal goal;
        PilotWindowGoal(r.x, r.y, goal);
        pilot.SetGoal(goal);
        world.Scan(scan);
        Spoil(scan, k);
        pilot.Step(scan, nullptr, step);
        AddStep(goal_steps, step);
        AddPose(goal_poses, world.Move(step.command.speed, step.command.turn_rate, 0.1));
      }
  }

  // Following a person who walks through the pillars and back.
  {
    SimConfig sc;
    sc.robot_radius = 0.2;
    sc.person_speed = 0.4;
    sc.detector_miss = 0.2;
    sc.detector_false_alarm = 0.05;
    PilotConfig pc;
    pc.mode = PilotMode::kFollow;
    pc.follow_distance = 1.0f;
    SimWorld world;
    const double route[] = {2.5, 4.5, 5.5, 4.5, 8.5, 2.5, 10.3, 3.2, 6.5, 6.5, 3.3, 5.3};
    if (!world.Start(map, sc, {1.0, 4.0, 0.0}, 11, why, sizeof why) || !world.SetRoute(route, 6, why, sizeof why)) {
      std::fprintf(stderr, "pilot_digest: %s\n", why);
      return 2;
    }
    Pilot pilot;
    if (pilot.Start(pc) != PilotError::kNone) return 2;
    for (int k = 0; k < 900; ++k) {
      world.Scan(scan);
      Spoil(scan, k + 5);
      const SimDetection d = world.Detect();
      const PilotPoint candidate{d.x, d.y};
      pilot.Step(scan, d.present ? &candidate : nullptr, step);
      AddStep(follow_steps, step);
      AddPose(follow_poses, world.Move(step.command.speed, step.command.turn_rate, 0.1));
    }
  }

  return ReportParts("pilot_digest", 12,
                     {{"goal_steps", goal_steps},
                      {"goal_poses", goal_poses},
                      {"follow_steps", follow_steps},
                      {"follow_poses", follow_poses}},
                     argc, argv);
}
