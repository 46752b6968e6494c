// SPDX-License-Identifier: BSD-3-Clause
// The pilot in closed loop on small simulated floors that once stopped it:
// a post straight ahead, a gap a little wider than the robot, a dead end,
// and a BARN world where it swung left and right on the spot.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "scanpilot.h"
#include "scansim.h"

namespace {

constexpr double kRes = 0.05;
constexpr double kPeriod = 0.1;
constexpr double kPi = 3.14159265358979323846;

// A floor of w x h metres, walled round, origin at (0, 0).
struct Floor {
  int cols, rows;
  std::vector<unsigned char> cells;
  Floor(double w, double h)
      : cols(static_cast<int>(w / kRes)),
        rows(static_cast<int>(h / kRes)),
        cells(static_cast<std::size_t>(cols * rows), 0) {
    Box(0, 0, w, kRes);
    Box(0, h - kRes, w, h);
    Box(0, 0, kRes, h);
    Box(w - kRes, 0, w, h);
  }
  // Walls over [x0, x1) x [y0, y1).
  void Box(double x0, double y0, double x1, double y1) {
    for (int r = 0; r < rows; ++r)
      for (int c = 0; c < cols; ++c) {
        const double x = (c + 0.5) * kRes, y = (r + 0.5) * kRes;
        if (x >= x0 && x < x1 && y >= y0 && y < y1) cells[static_cast<std::size_t>(r * cols + c)] = 1;
      }
  }
};

struct Outcome {
  bool reached = false;
  bool contact = false;
  double time = 0.0;
  double longest_still = 0.0;  // longest stretch neither moving nor turning (s)
  int longest_swing = 0;       // most turns on the spot in a row, each the other way from the last
  std::string why;             // the last step's reason
};

// The robot of the BARN rules: 0.215 m, margin 0.1 m, 0.5 m/s, 1.2 rad/s.
Outcome Drive(const SimMap& map, SimPose start, double gx, double gy, double limit) {
  SimConfig sc;
  sc.robot_radius = 0.215;
  SimWorld world;
  char err[256];
  Outcome o;
  if (!world.Start(map, sc, start, 1, err, sizeof err)) {
    ADD_FAILURE() << err;
    return o;
  }
  PilotConfig pc;
  pc.robot_radius = 0.215;
  pc.margin = 0.1;
  const SimPoint g0 = SimToRobot(start, gx, gy);
  EXPECT_TRUE(PilotWindowGoal(g0.x, g0.y, pc.goal));
  Pilot pilot;
  EXPECT_EQ(pilot.Start(pc), PilotError::kNone);
  float scan[kSimReadings];
  PilotStep step{};
  double still = 0.0, last_turn = 0.0;
  int swing = 0;
  for (int n = 0; n * kPeriod < limit; ++n) {
    const SimPose pose = world.Pose();
    world.Scan(scan);
    const SimPoint g = SimToRobot(pose, gx, gy);
    PilotGoal goal;
    if (PilotWindowGoal(g.x, g.y, goal)) pilot.SetGoal(goal);
    pilot.Step(scan, nullptr, step);
    o.why = PilotReasonName(step.reason);
    const PilotCommand c = step.command;
    still = c.speed == 0.0 && c.turn_rate == 0.0 ? still + kPeriod : 0.0;
    if (still > o.longest_still) o.longest_still = still;
    if (c.speed == 0.0 && c.turn_rate != 0.0) {
      swing = last_turn * c.turn_rate < 0.0 ? swing + 1 : 1;
      last_turn = c.turn_rate;
    } else {
      swing = 0;
      last_turn = 0.0;
    }
    if (swing > o.longest_swing) o.longest_swing = swing;
    const SimMove m = world.Move(c.speed, c.turn_rate, kPeriod);
    o.time = (n + 1) * kPeriod;
    if (m.contact.kind != SimContactKind::kNone) {
      o.contact = true;
      return o;
    }
    // Within half a metre: the pilot stops 0.4 m short (its standoff).
    if (std::hypot(m.pose.x - gx, m.pose.y - gy) <= 0.5) {
      o.reached = true;
      return o;
    }
  }
  return o;
}

SimMap& Load(SimMap& map, const Floor& f) {
  EXPECT_TRUE(map.Set(f.cols, f.rows, kRes, 0.0, 0.0, 0.0, f.cells.data(), SimMapOptions{}));
  return map;
}

void ExpectGotThere(const Outcome& o, double limit) {
  EXPECT_FALSE(o.contact);
  EXPECT_TRUE(o.reached) << "ended " << o.why << " after " << o.time << " s";
  EXPECT_LT(o.time, limit);
  EXPECT_LT(o.longest_still, 1.0) << "stood still without turning";
  EXPECT_LT(o.longest_swing, 6) << "swung left and right on the spot";
}

}  // namespace

TEST(clutter, PostStraightAheadIsPassed) {
  // A 0.3 m post on the line to the goal: the robot must go round it, not
  // stand before it with the guard holding and nothing to turn toward.
  Floor f(4.0, 8.0);
  f.Box(1.85, 3.0, 2.15, 3.3);
  SimMap map;
  const Outcome o = Drive(Load(map, f), {2.0, 1.0, kPi / 2}, 2.0, 6.5, 40.0);
  ExpectGotThere(o, 40.0);
}

TEST(clutter, NarrowGapIsTaken) {
  // A wall across the room with one gap of 0.55 m for a robot 0.43 m wide:
  // narrower than robot plus margin both sides, wide enough to pass.
  Floor f(6.0, 6.0);
  f.Box(0.0, 3.0, 2.725, 3.2);
  f.Box(3.275, 3.0, 6.0, 3.2);
  SimMap map;
  const Outcome o = Drive(Load(map, f), {3.0, 1.0, kPi / 2}, 3.0, 5.0, 60.0);
  ExpectGotThere(o, 60.0);
}

TEST(clutter, DeadEndIsLeft) {
  // A pocket 1.2 m wide and 1 m deep opening toward the robot, the goal
  // straight behind it: the robot must leave the pocket and go round.
  Floor f(6.0, 8.0);
  f.Box(2.4, 4.0, 3.6, 4.2);  // back
  f.Box(2.2, 3.0, 2.4, 4.2);  // left side
  f.Box(3.6, 3.0, 3.8, 4.2);  // right side
  SimMap map;
  const Outcome o = Drive(Load(map, f), {3.0, 1.0, kPi / 2}, 3.0, 6.5, 90.0);
  ExpectGotThere(o, 90.0);
}

TEST(clutter, BarnWorldWithoutSwinging) {
  // barn_1 of the BARN benchmark, where the robot once turned left and
  // right on alternate scans 2.7 m from the start, for ever.
  SimMap map;
  char err[256];
  ASSERT_TRUE(map.Load(SCANPILOT_BARN_DIR "/barn_1.yaml", SimMapOptions{}, err, sizeof err)) << err;
  const Outcome o = Drive(map, {-2.25, 3.0, kPi / 2}, -2.25, 13.0, 60.0);
  EXPECT_FALSE(o.contact);
  EXPECT_LT(o.longest_swing, 6);
  EXPECT_LT(o.longest_still, 1.0);
  EXPECT_TRUE(o.reached) << "ended " << o.why << " after " << o.time << " s";
}

namespace {

struct FollowOutcome {
  bool contact = false;
  double longest_lost = 0.0;  // s at a stretch: lost, or the tracked point over 1 m from the person
  double end_distance = 0.0;  // robot to person at the end (m)
  int unscreened = 0;         // steps with no free cell on the line to the tracked point
  int unscreened_waits = 0;   // of them, those the robot stood through, neither lost nor arrived
};

// Follows a person walking `route` (x, y pairs) at `speed` from a robot at
// `start`, the person straight ahead at start, with the simulator's
// detector; runs the route's time and 10 s more.
FollowOutcome Follow(const SimMap& map, SimPose start, const std::vector<double>& route, double speed) {
  SimConfig sc;
  sc.person_speed = speed;
  SimWorld world;
  char err[256];
  FollowOutcome o;
  if (!world.Start(map, sc, start, 1, err, sizeof err) ||
      !world.SetRoute(route.data(), route.size() / 2, err, sizeof err)) {
    ADD_FAILURE() << err;
    return o;
  }
  PilotConfig pc;
  pc.robot_radius = 0.2;
  pc.margin = 0.1;
  pc.mode = PilotMode::kFollow;
  pc.follow_distance = static_cast<float>(std::hypot(route[0] - start.x, route[1] - start.y));
  Pilot pilot;
  EXPECT_EQ(pilot.Start(pc), PilotError::kNone);
  float scan[kSimReadings];
  PilotStep step{};
  double lost = 0.0;
  for (int n = 0; n * kPeriod < world.RouteDuration() + 10.0; ++n) {
    const SimPose pose = world.Pose();
    world.Scan(scan);
    const SimDetection d = world.Detect();
    const PilotPoint candidate{d.x, d.y};
    pilot.Step(scan, d.present ? &candidate : nullptr, step);
    const SimPoint q = world.Person();
    const double tx = pose.x + std::cos(pose.heading) * step.tracked.x - std::sin(pose.heading) * step.tracked.y;
    const double ty = pose.y + std::sin(pose.heading) * step.tracked.x + std::cos(pose.heading) * step.tracked.y;
    lost = step.lost || std::hypot(tx - q.x, ty - q.y) > 1.0 ? lost + kPeriod : 0.0;
    o.longest_lost = std::max(o.longest_lost, lost);
    if (step.no_free_target && !step.lost) {
      ++o.unscreened;
      if (!step.route_found && step.reason != PilotReason::kArrived) ++o.unscreened_waits;
    }
    const SimMove m = world.Move(step.command.speed, step.command.turn_rate, kPeriod);
    if (m.contact.kind != SimContactKind::kNone) {
      o.contact = true;
      break;
    }
  }
  const SimPose end = world.Pose();
  const SimPoint q = world.Person();
  o.end_distance = std::hypot(end.x - q.x, end.y - q.y);
  return o;
}

}  // namespace

TEST(clutter, PersonThroughADoorIsFollowed) {
  // A wall across the room with a 1 m door. The person starts 1 m ahead of
  // the robot, turns left through the door while the robot still faces the
  // way it started, and goes on along the wall's far side: out of sight
  // behind the door frame within a few steps.
  Floor f(8.0, 8.0);
  f.Box(0.0, 4.0, 3.5, 4.2);
  f.Box(4.5, 4.0, 8.0, 4.2);
  SimMap map;
  Load(map, f);
  const FollowOutcome o = Follow(map, {2.0, 2.6, 0.0}, {3.0, 2.6, 4.0, 3.4, 4.0, 4.6, 2.0, 4.8, 1.0, 5.5}, 0.6);
  EXPECT_FALSE(o.contact);
  EXPECT_LE(o.longest_lost, 2.0) << "lost at the door";
  EXPECT_LT(o.end_distance, 2.0);
}

TEST(clutter, PersonSeenPastADoorFrameIsFollowedRoundIt) {
  // The robot stands just short of the door's left frame, the person already
  // through and turning left behind the wall: the straight line to the
  // person crosses the frame's margin all the way, and no cell on it is
  // free. The robot goes round the frame after them, not waits in front of it.
  Floor f(8.0, 8.0);
  f.Box(0.0, 4.0, 3.5, 4.2);
  f.Box(4.5, 4.0, 8.0, 4.2);
  SimMap map;
  Load(map, f);
  const FollowOutcome o = Follow(map, {3.59, 3.61, 58.0 * kPi / 180.0}, {3.6, 4.64, 1.0, 5.5}, 0.6);
  EXPECT_FALSE(o.contact);
  EXPECT_GT(o.unscreened, 0) << "the frame hides every cell toward the person";
  EXPECT_EQ(o.unscreened_waits, 0);
  EXPECT_LE(o.longest_lost, 2.0) << "waited at the frame";
  EXPECT_LT(o.end_distance, 2.0);
}
