// The demo's embedded scenario: a 6 m x 4 m room with a partition wall and a
// doorway, a few obstacles, a person walking a scripted route, and a robot that
// follows the person by calling both libraries once per 0.1 s tick.
//
// Reuse (benchmarks, tests):
//   std::vector<Scan> ScenarioScans();   // the 300 scans of the default run
// or step it yourself:
//   Scenario world;  Follower follower(world.InitialTrackDistance());
//   while (!world.Done()) {
//     Scan s = world.ScanFromRobot();          // robot frame, +inf = no return
//     Detection d = world.Detect();            // the person detector's output
//     TickResult r = follower.Step(s, d);      // tracker + planner + control
//     world.MoveRobot(r.command);  world.Advance();
//   }
// Everything is deterministic for a given seed (own normal generator on top of
// std::mt19937, whose output the standard fixes).
#ifndef SCANPILOT_WORLD_SCENARIO_H
#define SCANPILOT_WORLD_SCENARIO_H

#include <cstdint>
#include <random>
#include <vector>

#include "input/scan_text.h"
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
  static constexpr double kRobotRadius = 0.2;
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

struct TickResult {
  float out_x, out_y;    // filter's answer (candidate or scan average)
  bool candidate_passed; // filter returned the candidate unchanged
  int target_col, target_row;  // screened target cell, or -1 when none
  int raw_col, raw_row;        // cell of the tracked point before screening
  bool reached;
  int path_length;
  float fix_x, fix_y, face_x, face_y, bearing;
  double cycle_us;       // planner + tracker time of this tick
  Command command;
};

// Tracker + planner + a cautious controller. Holds no library state itself:
// both libraries keep theirs, so only one Follower may be live at a time.
class Follower {
 public:
  static constexpr double kMaxSpeed = 0.5;     // m/s
  static constexpr double kMaxTurnRate = 1.2;  // rad/s
  static constexpr double kStandoff = 0.4;     // m short of the goal cell
  // Inflation radius given to SetBorder: the robot's 0.2 m radius plus a
  // 0.15 m margin for range noise and the tick between scan and move.
  static constexpr float kBorder = 0.35f;
  explicit Follower(float initial_track_distance);
  TickResult Step(Scan& scan, const Detection& d);
};

std::vector<Scan> ScenarioScans();

#endif
