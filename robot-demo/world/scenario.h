// SPDX-License-Identifier: BSD-3-Clause
// The demo's embedded scenario: a 6 m x 4 m room with a partition wall and a
// doorway, a few obstacles, a person walking a scripted route, and a robot
// that follows the person with a Pilot (scanpilot.h) once per 0.1 s tick:
//   Scenario world;
//   while (!world.Done()) {
//     Scan s = world.ScanFromRobot();          // robot frame, +inf = no return
//     Detection d = world.Detect();            // the person detector's output
//     pilot.Step(s.data(), d.present ? &candidate : nullptr, step);
//     world.MoveRobot({step.command.speed, step.command.turn_rate});  world.Advance();
//   }
// Everything is deterministic for a given seed (own normal generator on top of
// std::mt19937, whose output the standard fixes).
#ifndef SCANPILOT_WORLD_SCENARIO_H
#define SCANPILOT_WORLD_SCENARIO_H

#include <cstdint>
#include <random>
#include <vector>

#include "base/scan.h"
#include "world/room.h"

struct Detection {
  bool present;     // false: the detector saw nothing this tick
  bool false_alarm; // injected far-away detection the gate must reject
  float x, y;       // robot frame, metres
};

struct Command {
  double speed;     // m/s along the heading, >= 0
  double turn_rate; // rad/s, counter-clockwise
};

class Scenario {
 public:
  static constexpr double kDt = 0.1;
  static constexpr int kTicks = 300;
  static constexpr double kPersonRadius = 0.18;
  static constexpr double kMaxRange = 5.6;

  explicit Scenario(std::uint32_t seed = 7);
  int Tick() const { return tick_; }
  bool Done() const { return tick_ >= kTicks; }
  Pose Robot() const { return robot_; }
  Vec2 Person() const { return person_; }
  const Room& World() const { return room_; }
  // Distance ahead at which the tracker should start (the person's near side).
  float InitialTrackDistance() const;
  // Ray-cast scan from the robot's pose, with noise.
  Scan ScanFromRobot();
  // Centroid of the scan returns off the person plus noise, or now and then a
  // false detection 1.5-2.5 m away from the person; absent when occluded.
  Detection Detect();
  // Applies one tick of motion to the robot (no physics: the controller is
  // responsible for not driving into things; the summary checks it did not).
  void MoveRobot(const Command& c);
  // Moves the person along the route and advances the clock.
  void Advance();
  // The person's scripted route (for pictures).
  std::vector<Vec2> Route() const;

 private:
  double Gauss();
  double Uniform();
  double CastRay(Vec2 o, Vec2 dir, bool& hit_person) const;

  const Room& room_;
  std::mt19937 rng_;
  Pose robot_;
  Vec2 person_;
  int tick_ = 0;
  std::vector<double> noise_free_;
  std::vector<bool> on_person_;
};

#endif
