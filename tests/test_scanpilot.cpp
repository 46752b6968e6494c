// SPDX-License-Identifier: BSD-3-Clause
// The control loop: what a robot does with each scan, and when it must not move.
#include "scanpilot.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "pathgrid_reference.h"
#include "test_support.h"

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr double kPi = 3.14159265358979323846;

using Readings = std::array<float, 360>;

Readings Empty() {
  Readings r;
  r.fill(kInf);
  return r;
}

// A flat object of half-width `half` (indices) centred on reading `centre`.
Readings WithObject(int centre, int half, float range) {
  Readings r = Empty();
  for (int i = centre - half; i <= centre + half; ++i) r[static_cast<std::size_t>((i + 360) % 360)] = range;
  return r;
}

PilotConfig Goal(double x, double y) {
  PilotConfig c;
  c.goal = PilotGoal::Metres(x, y);
  return c;
}

PilotConfig Follow(float distance) {
  PilotConfig c;
  c.mode = PilotMode::kFollow;
  c.follow_distance = distance;
  return c;
}

bool IsFullStop(const PilotStep& s) {
  return tsup::BitsOf(static_cast<float>(s.command.speed)) == 0 &&
         tsup::BitsOf(static_cast<float>(s.command.turn_rate)) == 0;
}

// Nearest return to a robot-frame point, written from the frame's definition.
double NearestReturn(const Readings& r, double x, double y) {
  double best = std::numeric_limits<double>::infinity();
  for (int i = 0; i < 360; ++i) {
    const double d = r[static_cast<std::size_t>(i)];
    if (!std::isfinite(d) || d <= 0) continue;
    const double a = i * kPi / 180.0;
    best = std::min(best, std::hypot(-d * std::cos(a) - x, -d * std::sin(a) - y));
  }
  return best;
}

TEST(pilotCommand, FreeSpaceGoalAheadDrivesStraightAtFullSpeed) {
  Pilot p;
  ASSERT_EQ(p.Start(Goal(1.0, 0.0)), PilotError::kNone);
  const Readings r = Empty();
  PilotStep s;
  ASSERT_TRUE(p.Step(r.data(), nullptr, s));
  EXPECT_TRUE(s.reached);
  EXPECT_EQ(s.path_cells, 20);
  EXPECT_EQ(s.target.col, 50);
  EXPECT_EQ(s.target.row, 70);
  EXPECT_EQ(s.steering.x, 0.15f);
  EXPECT_EQ(s.bearing_deg, 0.0);
  // 0.5 m/s beats the approach limit 1.2 * (1.0 - 0.4) = 0.72 m/s.
  EXPECT_EQ(s.command.speed, 0.5);
  EXPECT_EQ(s.command.turn_rate, 0.0);
  EXPECT_FALSE(s.stopped || s.guard_stopped || s.lost || s.no_path || s.bad_input);
}

TEST(pilotCommand, TurnRateFollowsTheSideOfTheGoalCounterClockwisePositive) {
  Pilot p;
  const Readings r = Empty();
  PilotStep left, right;
  ASSERT_EQ(p.Start(Goal(0.5, 1.0)), PilotError::kNone);  // ahead and to the left (+Y)
  p.Step(r.data(), nullptr, left);
  ASSERT_EQ(p.Start(Goal(0.5, -1.0)), PilotError::kNone);
  p.Step(r.data(), nullptr, right);
  EXPECT_GT(left.steering.y, 0.0f);
  EXPECT_GT(left.command.turn_rate, 0.0);
  EXPECT_LT(right.command.turn_rate, 0.0);
  EXPECT_EQ(left.command.turn_rate, -right.command.turn_rate);
  // Proportional to the bearing until the limit.
  EXPECT_EQ(left.command.turn_rate, std::min(1.2, 2.5 * static_cast<double>(left.bearing)));
}

TEST(pilotCommand, GoalBehindTurnsOnTheSpotWithinTheLimit) {
  PilotConfig c = Goal(-1.0, 0.3);
  c.max_turn_rate = 0.7;
  Pilot p;
  ASSERT_EQ(p.Start(c), PilotError::kNone);
  const Readings r = Empty();
  PilotStep s;
  p.Step(r.data(), nullptr, s);
  EXPECT_GT(std::fabs(s.bearing), 1.0f);
  EXPECT_EQ(s.command.speed, 0.0);
  EXPECT_EQ(std::fabs(s.command.turn_rate), 0.7);
}

TEST(pilotCommand, SlowsToAStandoffShortOfThePathEnd) {
  Pilot p;
  ASSERT_EQ(p.Start(Goal(0.6, 0.0)), PilotError::kNone);
  const Readings r = Empty();
  PilotStep s;
  p.Step(r.data(), nullptr, s);
  ASSERT_EQ(s.path_end.x, 0.6f);
  EXPECT_DOUBLE_EQ(s.command.speed, 1.2 * (0.6 - 0.4));
  PilotConfig c = Goal(0.35, 0.0);
  ASSERT_EQ(p.Start(c), PilotError::kNone);
  p.Step(r.data(), nullptr, s);
  EXPECT_EQ(s.command.speed, 0.0) << "inside the standoff";
}

TEST(pilotCommand, NeverMovesToEndNearerThanRadiusPlusMarginToAReturn) {
  // Random clutter close around the robot; whatever the planner finds, a
  // move may not end a period inside the guard unless it gains clearance.
  // The guard's margin shrinks with the speed, never below its 2 cm floor.
  Pilot p;
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> range(0.15f, 1.2f);
  std::uniform_int_distribution<int> index(0, 359), goal(40, 99);
  int guarded = 0, drove = 0;
  for (int trial = 0; trial < 400; ++trial) {
    ASSERT_EQ(p.Start(Goal(static_cast<double>(goal(rng) - 50) * 0.05, static_cast<double>(goal(rng) - 70) * 0.05)),
              PilotError::kNone);
    Readings r = Empty();
    for (int k = 0; k < 4; ++k) r[static_cast<std::size_t>(index(rng))] = range(rng);
    PilotStep s;
    p.Step(r.data(), nullptr, s);
    const double a = s.command.turn_rate * 0.1;
    const double x = s.command.speed * 0.1 * std::cos(a), y = s.command.speed * 0.1 * std::sin(a);
    if (s.command.speed > 0) {
      ++drove;
      const double after = NearestReturn(r, x, y);
      EXPECT_TRUE(after >= 0.2 + 0.02 || after >= NearestReturn(r, 0, 0)) << "trial " << trial;
    }
    if (s.guard_stopped) {
      ++guarded;
      EXPECT_EQ(s.command.speed, 0.0);
      EXPECT_FALSE(s.stopped);
    }
  }
  EXPECT_GT(drove, 50);
  EXPECT_GT(guarded, 0) << "the clutter never came near enough to test the guard";
}

TEST(pilotStop, LostTrackerSearchesForABoundedTimeThenStopsUntilTheObjectReturns) {
  const Readings person = WithObject(180, 4, 1.0f);
  const Readings gone = WithObject(90, 3, 1.5f);  // only something off to the right
  for (const double search : {0.0, 0.3, 6.0}) {
    SCOPED_TRACE(search);
    PilotConfig c = Follow(1.0f);
    c.gains.recovery_time = search;
    Pilot p;
    ASSERT_EQ(p.Start(c), PilotError::kNone);
    PilotStep s;
    p.Step(person.data(), nullptr, s);
    EXPECT_FALSE(s.lost);
    EXPECT_TRUE(s.has_target);
    EXPECT_GT(s.path_cells, 0);
    EXPECT_FALSE(s.stopped);
    // Gone: within the search time the robot heads for where it was seen
    // (straight ahead), then stops.
    const int searching = static_cast<int>(search / c.period + 0.5);
    for (int k = 0; k < 3; ++k) {
      p.Step(gone.data(), nullptr, s);
      EXPECT_TRUE(s.lost);
      EXPECT_GT(s.path_cells, 0);
      if (k < searching) {
        EXPECT_EQ(s.reason, PilotReason::kSearch);
        EXPECT_FALSE(s.stopped);
        EXPECT_GT(s.command.speed, 0.0);
        EXPECT_LT(std::fabs(s.command.turn_rate), 0.5);  // roughly ahead
      } else {
        EXPECT_EQ(s.reason, PilotReason::kLost);
        EXPECT_TRUE(s.stopped);
        EXPECT_TRUE(IsFullStop(s));
      }
    }
    // Back where it was (the robot has moved at most 0.15 m toward it).
    p.Step(person.data(), nullptr, s);
    EXPECT_FALSE(s.lost);
    EXPECT_FALSE(s.stopped);
    EXPECT_NEAR(s.tracked.x, 1.0, 0.05);
  }
}

TEST(pilotStop, LostObjectIsFoundAgainFromACandidateWhereItCanHaveGone) {
  // Lost straight ahead; the detector then sees it 1.2 m off at 35 degrees
  // left (within reach after a second), and another one far off to the right.
  Pilot p;
  ASSERT_EQ(p.Start(Follow(1.0f)), PilotError::kNone);
  PilotStep s;
  const Readings person = WithObject(180, 4, 1.0f);
  p.Step(person.data(), nullptr, s);
  ASSERT_FALSE(s.lost);
  Readings gone = Empty();
  for (int k = 0; k < 10; ++k) p.Step(gone.data(), nullptr, s);
  ASSERT_EQ(s.reason, PilotReason::kSearch);
  const int at = 180 + 35;  // 35 degrees left
  Readings back = WithObject(at, 4, 1.2f);
  const PilotPoint far_off{0.5f, -3.0f};
  p.Step(back.data(), &far_off, s);
  EXPECT_TRUE(s.lost) << "a candidate beyond where the object can have got to";
  const double a = at * kPi / 180.0;
  const PilotPoint there{static_cast<float>(-1.2 * std::cos(a)), static_cast<float>(-1.2 * std::sin(a))};
  p.Step(back.data(), &there, s);
  EXPECT_FALSE(s.lost);
  EXPECT_FALSE(s.stopped);
  EXPECT_TRUE(s.candidate_passed);
  EXPECT_EQ(s.tracked.x, there.x);
  EXPECT_EQ(s.tracked.y, there.y);
  // And the tracker follows it from there without the detector.
  p.Step(back.data(), nullptr, s);
  EXPECT_FALSE(s.lost);
  EXPECT_NEAR(std::atan2(s.tracked.y, s.tracked.x), 35.0 * kPi / 180.0, 0.05);
}

TEST(pilotStop, TrackerLeftOnAPostFollowsSteadyCandidatesNotALoneOne) {
  // The tracker holds a post straight ahead; the detector sees the person
  // 1.2 m off at 35 degrees left, scan after scan.
  Pilot p;
  ASSERT_EQ(p.Start(Follow(1.0f)), PilotError::kNone);
  Readings both = WithObject(180, 4, 1.0f);
  const int at = 180 + 35;
  for (int i = at - 4; i <= at + 4; ++i) both[static_cast<std::size_t>(i)] = 1.2f;
  const double a = at * kPi / 180.0;
  const PilotPoint person{static_cast<float>(-1.2 * std::cos(a)), static_cast<float>(-1.2 * std::sin(a))};
  const PilotPoint stray{1.5f, -1.5f};  // a false alarm
  PilotStep s;
  auto on_post = [&s] { return std::fabs(s.tracked.y) < 0.1f; };
  // Four in a row, a false alarm, then four again: never five in a row.
  for (int k = 0; k < 9; ++k) {
    p.Step(both.data(), k == 4 ? &stray : &person, s);
    EXPECT_TRUE(on_post()) << k;
    EXPECT_FALSE(s.lost);
  }
  p.Step(both.data(), &person, s);
  EXPECT_FALSE(on_post());
  EXPECT_TRUE(s.candidate_passed);
  EXPECT_EQ(s.tracked.x, person.x);
  EXPECT_EQ(s.tracked.y, person.y);
  p.Step(both.data(), nullptr, s);
  EXPECT_NEAR(std::atan2(s.tracked.y, s.tracked.x), 35.0 * kPi / 180.0, 0.05);
}

TEST(pilotStop, BadInputIsAFullStop) {
  Pilot p;
  ASSERT_EQ(p.Start(Goal(1.0, 0.0)), PilotError::kNone);
  PilotStep s;
  EXPECT_FALSE(p.Step(nullptr, nullptr, s));
  EXPECT_TRUE(s.bad_input && s.stopped && IsFullStop(s));

  Readings nan;
  nan.fill(kNaN);
  EXPECT_FALSE(p.Step(nan.data(), nullptr, s));
  EXPECT_TRUE(s.bad_input && IsFullStop(s));

  const float ranges[3] = {1.0f, 1.0f, 1.0f};
  EXPECT_FALSE(p.StepLaserScan(0.0f, kNaN, ranges, 3, 0.1f, 10.0f, nullptr, s));
  EXPECT_TRUE(s.bad_input && IsFullStop(s));
  EXPECT_FALSE(p.StepLaserScan(0.0f, 0.01f, ranges, 0, 0.1f, 10.0f, nullptr, s));
  EXPECT_TRUE(s.bad_input && IsFullStop(s));
  EXPECT_FALSE(p.StepLaserScan(0.0f, 0.0f, ranges, 3, 0.1f, 10.0f, nullptr, s)) << "every sample at one angle";
  EXPECT_TRUE(s.bad_input && IsFullStop(s));
  // A million ranges is refused from the count alone: nothing past the
  // three real ones may be read (the sanitizer build would see it).
  EXPECT_FALSE(p.StepLaserScan(0.0f, 0.01f, ranges, 1000000, 0.1f, 10.0f, nullptr, s));
  EXPECT_TRUE(s.bad_input && IsFullStop(s));
  EXPECT_STREQ(PilotLaserScanProblem(0.0f, 0.01f, ranges, 1000000), "more than 100000 ranges");
  EXPECT_EQ(PilotLaserScanProblem(0.0f, 0.01f, ranges, 3), nullptr);
  EXPECT_FALSE(p.StepSamples(nullptr, ranges, 3, nullptr, s));
  EXPECT_TRUE(s.bad_input && IsFullStop(s));
  // A turn of nothing but NaN would bin to free space.
  const float nans[3] = {kNaN, kNaN, kNaN}, angles[3] = {0.0f, 120.0f, 240.0f};
  EXPECT_FALSE(p.StepEvenTurn(nans, 3, nullptr, s));
  EXPECT_TRUE(s.bad_input && IsFullStop(s));
  EXPECT_FALSE(p.StepSamples(angles, nans, 3, nullptr, s));
  EXPECT_FALSE(p.StepLaserScan(0.0f, 0.01f, nans, 3, 0.1f, 10.0f, nullptr, s));
  EXPECT_TRUE(s.bad_input && IsFullStop(s));

  // One NaN among good readings is just no return there.
  Readings some = Empty();
  some[10] = kNaN;
  EXPECT_TRUE(p.Step(some.data(), nullptr, s));
  EXPECT_GT(s.command.speed, 0.0);
}

TEST(pilotStop, NoPathIsAFullStop) {
  // Returns whose disks cover the whole grid (found by a greedy cover
  // search; one character per reading: '.' none, else 0.05 m * (c - '0')),
  // so the walk cannot take a single step.
  const std::string cover =
      R"(0=JWM_.I.......<...e\Ub..O.......dM..\`h.DWpl..o.W..b....g.O.6...W[b......G..=..^.S._.......R....\..I.....`..C...Td...a...Q.m^....KgYp..o.j\>IW..ag@..S..a...S..^a....H.L.....U.^^.............\`.MV?H....;b..`....[.kTj...gP`...pHk.\..ZhF.Lg....R...`.._....>......Y_DKR...........b\.......U.:O..cJ_....C..i[...fVc.r.RZT.m.._..Lh...HC....Wba......T..O..\_.........)";
  ASSERT_EQ(cover.size(), 360u);
  Readings r;
  for (std::size_t i = 0; i < 360; ++i) r[i] = cover[i] == '.' ? kInf : 0.05f * static_cast<float>(cover[i] - '0');
  pgref::Model m;
  m.init();
  m.setRanges(r.data());
  for (int row = 0; row < 100; ++row)
    for (int col = 0; col < 100; ++col) ASSERT_TRUE(m.blocked(col, row)) << col << "," << row;
  for (PilotConfig c : {Goal(1, 0), Follow(1.0f)}) {
    Pilot p;
    ASSERT_EQ(p.Start(c), PilotError::kNone);
    PilotStep s;
    p.Step(r.data(), nullptr, s);
    EXPECT_EQ(s.path_cells, 0) << "the planner's pass";
    // The pilot's own route keeps only the robot's radius and may still
    // find a way; without one it never drives.
    if (!s.route_found) {
      EXPECT_EQ(s.command.speed, 0.0);
    }
  }
}

TEST(pilotStop, NoRouteTurnsForABoundedTimeThenStops) {
  // A ring of returns 0.22 m round a 0.2 m robot: no cell around it is
  // free, so no route at all.
  Readings r;
  r.fill(0.22f);
  PilotConfig c = Goal(1.0, 0.0);
  Pilot p;
  ASSERT_EQ(p.Start(c), PilotError::kNone);
  PilotStep s{};
  int recovering = 0;
  double way = 0.0;
  for (int k = 0; k < 100 && !s.no_path; ++k) {
    p.Step(r.data(), nullptr, s);
    EXPECT_FALSE(s.route_found);
    EXPECT_EQ(s.command.speed, 0.0);
    if (!s.recovering) continue;
    ++recovering;
    EXPECT_EQ(s.reason, PilotReason::kRecovery);
    EXPECT_EQ(std::fabs(s.command.turn_rate), c.max_turn_rate);
    if (way == 0.0) way = s.command.turn_rate;
    EXPECT_EQ(s.command.turn_rate, way) << "one way round, step " << k;
  }
  EXPECT_EQ(recovering, 60) << "6 s of 0.1 s periods";
  EXPECT_TRUE(s.no_path && s.stopped && IsFullStop(s));
  EXPECT_EQ(s.reason, PilotReason::kNoPath);

  c.gains.recovery_time = 0.0;
  ASSERT_EQ(p.Start(c), PilotError::kNone);
  p.Step(r.data(), nullptr, s);
  EXPECT_TRUE(s.no_path && IsFullStop(s)) << "no recovery asked for";
}

TEST(pilotStop, NotLiveIsAFullStop) {
  Pilot p;
  const Readings r = Empty();
  PilotStep s;
  EXPECT_FALSE(p.Step(r.data(), nullptr, s));
  EXPECT_TRUE(s.bad_input && IsFullStop(s));
  ASSERT_EQ(p.Start(Goal(1, 0)), PilotError::kNone);
  p.Stop();
  EXPECT_FALSE(p.Step(r.data(), nullptr, s));
  EXPECT_TRUE(IsFullStop(s));
}

TEST(pilotFlags, ReturnsInsideTheRobotAreCounted) {
  PilotConfig c = Goal(1, 0);
  c.robot_radius = 0.25;
  c.margin = 0.1;
  Pilot p;
  ASSERT_EQ(p.Start(c), PilotError::kNone);
  Readings r = Empty();
  r[10] = 0.05f;    // a post of the robot's own frame
  r[100] = 0.0f;    // a driver's "no echo"
  r[200] = 0.25f;   // on the radius: outside
  r[300] = -0.1f;   // lands 0.1 m the other way
  PilotStep s;
  p.Step(r.data(), nullptr, s);
  EXPECT_EQ(s.returns_inside_robot, 3);
}

TEST(pilotFollow, CandidateNearTheTrackPassesAndFarOneIsReplaced) {
  Pilot p;
  ASSERT_EQ(p.Start(Follow(1.0f)), PilotError::kNone);
  const Readings person = WithObject(180, 5, 1.0f);
  PilotStep s;
  const PilotPoint near{1.02f, 0.01f}, far{2.5f, 1.0f};
  p.Step(person.data(), &near, s);
  EXPECT_TRUE(s.candidate_passed);
  EXPECT_EQ(s.tracked.x, near.x);
  p.Step(person.data(), &far, s);
  EXPECT_FALSE(s.candidate_passed);
  EXPECT_LT(std::fabs(s.tracked.x - 1.0f), 0.05f);
}

TEST(pilotLife, OnePilotPerProcess) {
  Pilot a, b;
  ASSERT_EQ(a.Start(Goal(1, 0)), PilotError::kNone);
  EXPECT_EQ(b.Start(Goal(1, 0)), PilotError::kBusy);
  EXPECT_FALSE(b.Live());
  const Readings r = Empty();
  PilotStep s;
  EXPECT_TRUE(a.Step(r.data(), nullptr, s));
  EXPECT_FALSE(b.Step(r.data(), nullptr, s));
  a.Stop();
  EXPECT_EQ(b.Start(Goal(1, 0)), PilotError::kNone);
  {
    Pilot c;
    EXPECT_EQ(c.Start(Goal(1, 0)), PilotError::kBusy);
  }
  b.Stop();
  {
    Pilot d;
    EXPECT_EQ(d.Start(Goal(1, 0)), PilotError::kNone);
  }  // destroyed live: releases
  EXPECT_EQ(a.Start(Goal(1, 0)), PilotError::kNone);
}

// Every step of a run, as its JSON line (every field, floats to the bit).
struct Scan {
  Readings r;
  const PilotPoint* candidate;
};
std::vector<std::string> Lines(const PilotConfig& c, const std::vector<Scan>& scans) {
  Pilot p;
  EXPECT_EQ(p.Start(c), PilotError::kNone);
  std::vector<std::string> lines;
  for (const Scan& scan : scans) {
    PilotStep s;
    p.Step(scan.r.data(), scan.candidate, s);
    char line[kPilotJsonMax];
    PilotStepJson(s, 0, line, sizeof line);
    lines.emplace_back(line);
  }
  return lines;
}

TEST(pilotLife, AStartGivesTheStepsOfAFreshProcessWhateverRanBefore) {
  std::vector<Scan> seen, searching, driving;
  for (int k = 0; k < 6; ++k) seen.push_back({WithObject(180 + k, 4, 1.0f - 0.02f * static_cast<float>(k)), nullptr});
  searching = seen;
  for (int k = 0; k < 4; ++k) searching.push_back({WithObject(90, 3, 1.5f), nullptr});  // gone: a search
  Readings wall = Empty();
  for (int i = 150; i <= 200; ++i) wall[static_cast<std::size_t>(i)] = 0.9f;
  for (int k = 0; k < 5; ++k) driving.push_back({wall, nullptr});
  PilotConfig follow = Follow(0.8f);
  follow.gains.recovery_time = 5.0;
  PilotConfig goal = Goal(2.0, 0.4);
  goal.margin = 0.1;
  goal.gains.clearance_cost = 7.0;

  Lines(follow, seen);  // the object in sight at the end
  const std::vector<std::string> goal_first = Lines(goal, driving);
  const std::vector<std::string> search_first = Lines(follow, searching);
  ASSERT_NE(search_first.back().find("\"reason\":\"search\""), std::string::npos) << search_first.back();
  // Stopped in the middle of a search, with another route carried.
  EXPECT_EQ(Lines(goal, driving), goal_first);
  EXPECT_EQ(Lines(follow, searching), search_first);
  EXPECT_EQ(Lines(goal, driving), goal_first);
}

TEST(pilotLife, ABadScanBetweenTwoLeavesTheNextStepAsWithoutIt) {
  // The robot stops on the bad scan: the route it was on stays the one to keep.
  Readings bad;
  bad.fill(kNaN);
  auto at = [](std::initializer_list<std::array<double, 2>> points) {
    Readings r = Empty();
    for (const auto& p : points) {
      const long k = std::lround(std::atan2(p[1], p[0]) * 180.0 / kPi + 180.0) % 360;
      r[static_cast<std::size_t>(k)] = static_cast<float>(std::hypot(p[0], p[1]));
    }
    return r;
  };
  // Turning a little left toward a person ahead, a post off to the left.
  const Readings person = at({{0.8, 0.05}, {0.8, 0.0}, {0.8, -0.05}, {1.5, 1.0}});
  const Readings moved = at({{0.85, 0.1}, {0.85, 0.05}, {0.85, 0.0}, {1.5, 1.0}});
  for (const PilotConfig& c : {Follow(0.8f), Goal(1.5, 0.3)}) {
    const std::vector<std::string> straight = Lines(c, {{person, nullptr}, {moved, nullptr}});
    const std::vector<std::string> broken = Lines(c, {{person, nullptr}, {bad, nullptr}, {moved, nullptr}});
    ASSERT_NE(broken[1].find("\"bad_input\":true"), std::string::npos) << broken[1];
    EXPECT_EQ(broken[2], straight[1]);
  }
}

TEST(pilotLife, BadConfigurationsAreRefusedAndChangeNothing) {
  Pilot p;
  ASSERT_EQ(p.Start(Goal(1, 0)), PilotError::kNone);
  PilotConfig c = Goal(1, 0);
  c.robot_radius = 0.4;
  c.margin = 0.11;
  EXPECT_EQ(p.Start(c), PilotError::kBadBorder);
  c.margin = 0.1;
  EXPECT_EQ(p.Start(c), PilotError::kNone) << "0.5 m is the largest border";
  c.margin = -0.01;
  EXPECT_EQ(p.Start(c), PilotError::kBadBorder);
  c = Goal(2.6, 0);
  EXPECT_EQ(p.Start(c), PilotError::kBadGoal);
  c = Goal(kNaN, 0);
  EXPECT_EQ(p.Start(c), PilotError::kBadGoal);
  c = Goal(1, 0);
  c.goal = PilotGoal::Cell(100, 0);
  EXPECT_EQ(p.Start(c), PilotError::kBadGoal);
  c = Follow(0.0f);
  EXPECT_EQ(p.Start(c), PilotError::kBadFollow);
  c = Goal(1, 0);
  c.layout.min_range = 2.0f;
  c.layout.max_range = 1.0f;
  EXPECT_EQ(p.Start(c), PilotError::kBadLayout);
  c = Goal(1, 0);
  c.mount_yaw_deg = std::numeric_limits<double>::infinity();
  EXPECT_EQ(p.Start(c), PilotError::kBadLayout);
  c = Goal(1, 0);
  c.max_speed = kNaN;
  EXPECT_EQ(p.Start(c), PilotError::kBadLimits);
  c = Goal(1, 0);
  c.period = 0;
  EXPECT_EQ(p.Start(c), PilotError::kBadLimits);
  c = Goal(1, 0);
  c.gains.turn_gain = -1;
  EXPECT_EQ(p.Start(c), PilotError::kBadGains);
  // Still live with the last good configuration (radius 0.4 + 0.1).
  EXPECT_TRUE(p.Live());
  EXPECT_EQ(p.Config().robot_radius, 0.4);
  EXPECT_STRNE(PilotErrorText(PilotError::kBadBorder), PilotErrorText(PilotError::kBadGoal));
}

TEST(pilotLife, GoalCanMoveBetweenSteps) {
  Pilot p;
  ASSERT_EQ(p.Start(Goal(1, 0)), PilotError::kNone);
  EXPECT_FALSE(p.SetGoal(PilotGoal::Metres(0, 3)));
  EXPECT_TRUE(p.SetGoal(PilotGoal::Cell(50, 60)));
  const Readings r = Empty();
  PilotStep s;
  p.Step(r.data(), nullptr, s);
  EXPECT_EQ(s.path_cells, 10);
  EXPECT_EQ(s.target.row, 60);
}

// ---- scanner mounts --------------------------------------------------------

// The LaserScan a scanner would send of robot-frame readings `world`,
// mounted with its ahead at `yaw` degrees and maybe upside down: sample k at
// the scanner's own angle k degrees.
std::vector<float> SeenByMountedScanner(const Readings& world, int yaw, bool upside_down) {
  std::vector<float> out(360);
  for (int k = 0; k < 360; ++k) {
    const int bearing = yaw + (upside_down ? -k : k);       // robot bearing, 0 ahead
    const int index = ((bearing + 180) % 360 + 360) % 360;  // 180 ahead
    out[static_cast<std::size_t>(k)] = world[static_cast<std::size_t>(index)];
  }
  return out;
}

TEST(pilotMount, BackwardsAndUpsideDownScannerGivesTheRobotFrameScan) {
  Readings world = Empty();
  world[180] = 1.0f;  // ahead
  world[200] = 1.5f;  // ahead, a little left
  world[270] = 2.0f;  // left
  world[45] = 0.7f;   // behind, right
  const float inc = static_cast<float>(kPi / 180.0);
  for (int yaw : {0, 90, 180, -90}) {
    for (bool upside : {false, true}) {
      PilotConfig c = Goal(1, 0);
      c.mount_yaw_deg = yaw;
      c.upside_down = upside;
      Pilot p;
      ASSERT_EQ(p.Start(c), PilotError::kNone);
      const std::vector<float> seen = SeenByMountedScanner(world, yaw, upside);
      Readings got;
      ASSERT_TRUE(p.BinLaserScan(0.0f, inc, seen.data(), seen.size(), 0.1f, 10.0f, got.data()));
      for (int i = 0; i < 360; ++i)
        EXPECT_EQ(got[static_cast<std::size_t>(i)], world[static_cast<std::size_t>(i)])
            << "yaw " << yaw << (upside ? " upside down" : "") << ", index " << i;
    }
  }
}

TEST(pilotMount, MountEqualsTheEquivalentScannerLayout) {
  // Yaw 180 and upside down is a sensor whose 0 deg points behind and whose
  // angles grow clockwise.
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> range(0.05f, 4.0f);
  std::vector<float> ranges(360);
  for (float& r : ranges) r = range(rng);
  PilotConfig c = Goal(1, 0);
  c.mount_yaw_deg = 180;
  c.upside_down = true;
  Pilot p;
  ASSERT_EQ(p.Start(c), PilotError::kNone);
  Readings mounted, equivalent, even;
  ASSERT_TRUE(p.BinLaserScan(0.0f, static_cast<float>(2 * kPi / 360), ranges.data(), ranges.size(), 0.0f, 10.0f,
                             mounted.data()));
  ScanLayout layout;
  layout.zero_deg = 180;
  layout.clockwise = true;
  ASSERT_TRUE(BinEvenScan(ranges.data(), ranges.size(), layout, equivalent.data()));
  ASSERT_TRUE(p.BinEvenTurn(ranges.data(), ranges.size(), even.data()));
  Readings plain;
  ASSERT_TRUE(BinEvenScan(ranges.data(), ranges.size(), ScanLayout{}, plain.data()));
  for (std::size_t i = 0; i < 360; ++i) {
    EXPECT_EQ(tsup::BitsOf(mounted[i]), tsup::BitsOf(equivalent[i])) << i;
    // The mount turns the scanner's own layout (here the plain one) the same way.
    EXPECT_EQ(tsup::BitsOf(even[i]), tsup::BitsOf(equivalent[i])) << i;
  }
  EXPECT_NE(plain, equivalent);
}

TEST(pilotMount, UnmountedLaserScanIsTheLaserScanRuleBitForBit) {
  std::mt19937 rng(9);
  std::uniform_real_distribution<float> range(0.0f, 7.0f);
  std::vector<float> ranges(1081);
  for (float& r : ranges) r = range(rng);
  ranges[3] = kNaN;
  PilotConfig c = Goal(1, 0);
  Pilot p;
  ASSERT_EQ(p.Start(c), PilotError::kNone);
  Readings got, want;
  ASSERT_TRUE(p.BinLaserScan(-2.35619449f, 0.00436332f, ranges.data(), ranges.size(), 0.02f, 6.0f, got.data()));
  ASSERT_TRUE(BinLaserScan(-2.35619449f, 0.00436332f, ranges.data(), ranges.size(), 0.02f, 6.0f, want.data()));
  for (std::size_t i = 0; i < 360; ++i) EXPECT_EQ(tsup::BitsOf(got[i]), tsup::BitsOf(want[i])) << i;
}

TEST(pilotMount, TurnedMountBinsLongScansInPiecesLikeOneCall) {
  // More samples than one piece holds; the pieces must merge to the answer
  // of a single conversion of all the angles.
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> range(0.0f, 7.0f);
  const std::size_t n = 1500;
  std::vector<float> ranges(n), angles(n);
  const float amin = -3.0f, inc = 0.004f;
  for (std::size_t k = 0; k < n; ++k) {
    ranges[k] = range(rng);
    angles[k] = static_cast<float>((static_cast<double>(amin) + static_cast<double>(k) * inc) * (180.0 / kPi));
  }
  PilotConfig c = Goal(1, 0);
  c.mount_yaw_deg = 37.5;
  c.layout.min_range = 0.3f;  // both limits apply
  Pilot p;
  ASSERT_EQ(p.Start(c), PilotError::kNone);
  Readings got, want;
  ASSERT_TRUE(p.BinLaserScan(amin, inc, ranges.data(), n, 0.1f, 5.0f, got.data()));
  ScanLayout l;
  l.zero_deg = 37.5;
  l.min_range = 0.3f;
  l.max_range = 5.0f;
  ASSERT_TRUE(BinSamples(angles.data(), ranges.data(), n, l, want.data()));
  for (std::size_t i = 0; i < 360; ++i) EXPECT_EQ(tsup::BitsOf(got[i]), tsup::BitsOf(want[i])) << i;
}

TEST(pilotMount, HugeZeroAngleIsReducedNotSwallowingTheSamples) {
  PilotConfig c = Goal(1, 0);
  c.layout.zero_deg = 360.0 * 1e12 + 90.0;  // a whole number of turns, then 90
  Pilot p;
  ASSERT_EQ(p.Start(c), PilotError::kNone);
  const float ranges[4] = {1.0f, 2.0f, 3.0f, 4.0f};
  Readings got;
  ASSERT_TRUE(p.BinEvenTurn(ranges, 4, got.data()));
  EXPECT_EQ(got[270], 1.0f);  // sensor 0 deg points left
  EXPECT_EQ(got[0], 2.0f);
  EXPECT_EQ(got[90], 3.0f);
  EXPECT_EQ(got[180], 4.0f);
}

// ---- reading a pass back ---------------------------------------------------------

TEST(pilotReadPass, PathCellsMatchTheModelWalk) {
  // A wall ahead: the walk goes round its end.
  Readings r = Empty();
  for (int i = 150; i <= 210; ++i) r[static_cast<std::size_t>(i)] = 1.0f;
  Pilot p;
  PilotConfig c;
  c.goal = PilotGoal::Cell(50, 85);
  ASSERT_EQ(p.Start(c), PilotError::kNone);
  PilotStep s;
  p.Step(r.data(), nullptr, s);
  auto pass = std::make_unique<PilotPass>();
  ASSERT_TRUE(p.ReadPass(*pass));
  EXPECT_TRUE(pass->consistent);

  pgref::Model m;
  m.init();
  m.setBorder(0.35f);
  m.setRanges(r.data());
  m.setTarget(50, 85);
  EXPECT_EQ(m.outLine(), s.reached);
  ASSERT_EQ(pass->path_cells, static_cast<int>(m.record.size()));
  for (int k = 0; k < pass->path_cells; ++k) {
    EXPECT_EQ(pass->path[k].col, m.record[static_cast<std::size_t>(k)].first) << k;
    EXPECT_EQ(pass->path[k].row, m.record[static_cast<std::size_t>(k)].second) << k;
  }
  const pgref::Cell start = m.start();
  EXPECT_EQ(pass->start.col, start.first);
  EXPECT_EQ(pass->start.row, start.second);
  for (int row = 0; row < 100; ++row)
    for (int col = 0; col < 100; ++col) {
      const auto k = static_cast<std::size_t>(row * 100 + col);
      ASSERT_EQ(pass->blocked[k] != 0, m.blocked(col, row)) << col << "," << row;
      if (!pass->blocked[k]) {
        ASSERT_EQ(pass->attraction[k], m.target[row][col]) << col << "," << row;
      }
    }

  // The planner is ready for the next step as if nothing happened.
  PilotStep again;
  p.Step(r.data(), nullptr, again);
  EXPECT_EQ(again.path_cells, s.path_cells);
  EXPECT_EQ(again.path_end.x, s.path_end.x);
}

TEST(pilotReadPass, NothingToReadBeforeAStep) {
  Pilot p;
  auto pass = std::make_unique<PilotPass>();
  EXPECT_FALSE(p.ReadPass(*pass));
  ASSERT_EQ(p.Start(Goal(1, 0)), PilotError::kNone);
  EXPECT_FALSE(p.ReadPass(*pass));
}

// ---- JSON ------------------------------------------------------------------------

// The text of member `key` up to the next ',' or '}' at depth 0.
std::string Member(const std::string& json, const std::string& key) {
  const std::string k = "\"" + key + "\":";
  const auto at = json.find(k);
  if (at == std::string::npos) return "<missing>";
  std::size_t i = at + k.size(), depth = 0;
  const std::size_t from = i;
  for (; i < json.size(); ++i) {
    const char ch = json[i];
    if (ch == '{' || ch == '[') ++depth;
    if ((ch == '}' || ch == ']') && depth-- == 0) break;
    if (ch == ',' && depth == 0) break;
  }
  return json.substr(from, i - from);
}

TEST(pilotJson, FloatsReadBackToTheSameBitsAndNoneIsNull) {
  PilotStep s{};
  s.steering = {0.15f, -1.0e-7f};
  s.path_end = {1.0f / 3.0f, 2.45f};
  s.bearing = kNaN;
  s.bearing_deg = std::numeric_limits<double>::quiet_NaN();
  s.has_tracked = false;
  s.has_target = true;
  s.target = {49, 59};
  s.command = {0.1 + 0.2, -1.2};
  char buf[kPilotJsonMax];
  const std::size_t n = PilotStepJson(s, 12, buf, sizeof buf);
  ASSERT_LT(n, sizeof buf);
  const std::string j(buf, n);
  EXPECT_EQ(j.front(), '{');
  EXPECT_EQ(j.back(), '}');
  EXPECT_EQ(Member(j, "schema"), "1");
  EXPECT_EQ(Member(j, "scan"), "12");
  EXPECT_EQ(Member(j, "steering"), "{\"x\":0.15,\"y\":-1e-07}");
  EXPECT_EQ(std::strtof(Member(j, "path_end").c_str() + 5, nullptr), 1.0f / 3.0f);
  EXPECT_EQ(Member(j, "bearing_rad"), "null");
  EXPECT_EQ(Member(j, "bearing_deg"), "null");
  EXPECT_EQ(Member(j, "tracked"), "null");
  EXPECT_EQ(Member(j, "target_cell"), "[49,59]");
  const std::string cmd = Member(j, "command");
  EXPECT_EQ(std::strtod(cmd.c_str() + 9, nullptr), 0.1 + 0.2) << cmd;
  EXPECT_EQ(j.find("inf"), std::string::npos);
  EXPECT_EQ(j.find("nan"), std::string::npos);
}

TEST(pilotJson, ShortBufferIsCutTerminatedAndToldTheFullLength) {
  PilotStep s{};
  char whole[kPilotJsonMax];
  const std::size_t n = PilotStepJson(s, 3, whole, sizeof whole);
  char small[16];
  std::memset(small, 'x', sizeof small);
  EXPECT_EQ(PilotStepJson(s, 3, small, sizeof small), n);
  EXPECT_EQ(small[15], '\0');
  EXPECT_EQ(std::string(small), std::string(whole, 15));
  EXPECT_EQ(PilotStepJson(s, 3, nullptr, 0), n);
}

TEST(pilotGrid, MetresToCellTruncatesAfterTheCentreOffset) {
  EXPECT_EQ(PilotMetresToCell(0.0), 50);
  EXPECT_EQ(PilotMetresToCell(-0.01), 49);
  EXPECT_EQ(PilotMetresToCell(-2.51), 0);  // 50 - 50.2 = -0.2 truncates to 0
  EXPECT_EQ(PilotMetresToCell(-2.55), -1);
  EXPECT_EQ(PilotMetresToCell(kNaN), -1);
  EXPECT_EQ(PilotMetresToCell(1e300), 1000);
  EXPECT_EQ(PilotMetresToCell(2.45), 99);
}

TEST(pilotGrid, WindowGoalKeepsNearGoalsAndPullsFarOnesOntoTheGridAlongTheirBearing) {
  PilotGoal g;
  ASSERT_TRUE(PilotWindowGoal(1.5, -0.5, g));
  EXPECT_FALSE(g.is_cell);
  EXPECT_EQ(g.x, 1.5);
  EXPECT_EQ(g.y, -0.5);
  // 20 m ahead-left: same bearing, on the grid, and a goal SetGoal takes.
  ASSERT_TRUE(PilotWindowGoal(12.0, 16.0, g));
  EXPECT_NEAR(std::hypot(g.x, g.y), kPilotWindowReach, 1e-12);
  EXPECT_NEAR(std::atan2(g.y, g.x), std::atan2(16.0, 12.0), 1e-12);
  for (double v : {g.x, g.y}) {
    EXPECT_GE(PilotMetresToCell(v), 0);
    EXPECT_LE(PilotMetresToCell(v), 99);
  }
  // Straight behind, far: stays behind rather than flipping ahead.
  ASSERT_TRUE(PilotWindowGoal(-30.0, 0.0, g));
  EXPECT_EQ(g.x, -kPilotWindowReach);
  EXPECT_EQ(g.y, 0.0);
  const PilotGoal before = g;
  EXPECT_FALSE(PilotWindowGoal(kNaN, 1.0, g));
  EXPECT_FALSE(PilotWindowGoal(1.0, std::numeric_limits<double>::infinity(), g));
  EXPECT_EQ(g.x, before.x);
}

}  // namespace

// ---- unseen is not free ---------------------------------------------------------
//
// Each case drove at full speed when unusable readings counted as free
// space. Every one must now give speed 0 and say why.

namespace {

struct Blind {
  Pilot pilot;
  PilotStep step{};
  explicit Blind(PilotConfig c = Goal(1.5, 0.0)) { EXPECT_EQ(pilot.Start(c), PilotError::kNone); }
  const PilotStep& Step(const Readings& r) {
    pilot.Step(r.data(), nullptr, step);
    return step;
  }
  const PilotStep& Laser(float a0, float da, const std::vector<float>& r, float lo = 0.05f, float hi = 10.0f) {
    pilot.StepLaserScan(a0, da, r.data(), r.size(), lo, hi, nullptr, step);
    return step;
  }
};

constexpr float kDegRad = static_cast<float>(kPi / 180.0);

void ExpectStop(const PilotStep& s, PilotReason why) {
  EXPECT_TRUE(IsFullStop(s)) << s.command.speed << " " << s.command.turn_rate;
  EXPECT_TRUE(s.stopped && s.bad_input);
  EXPECT_EQ(s.reason, why) << PilotReasonName(s.reason);
}

void ExpectHeld(const PilotStep& s, PilotReason why) {
  SCOPED_TRACE(std::string("seen_front ") + std::to_string(s.seen_front) + " reason " + PilotReasonName(s.reason));
  EXPECT_EQ(s.command.speed, 0.0);
  EXPECT_FALSE(s.stopped);
  EXPECT_TRUE(s.guard_stopped && s.unseen_held);
  EXPECT_EQ(s.reason, why) << PilotReasonName(s.reason);
}

}  // namespace

TEST(pilotUnseen, WallTooNearToMeasureIsHeldLikeTheWallItself) {
  Blind b;
  const Readings wall = WithObject(180, 40, 0.3f);
  EXPECT_EQ(b.Step(wall).command.speed, 0.0);
  const Readings near = WithObject(180, 40, -kInf);
  ExpectHeld(b.Step(near), PilotReason::kNear);
  EXPECT_EQ(b.step.near_readings, 81);
  EXPECT_EQ(b.step.seen_front, 181);
  // A LaserScan's -inf and a wall below its range_min: the same hold.
  std::vector<float> laser(360, 3.0f);
  for (int k = 140; k <= 220; ++k) laser[static_cast<std::size_t>(k)] = -kInf;
  ExpectHeld(b.Laser(-static_cast<float>(kPi), kDegRad, laser), PilotReason::kNear);
  // (a narrower wall: 81 unseen degrees would be too little seen ahead)
  for (int k = 140; k <= 220; ++k) laser[static_cast<std::size_t>(k)] = k >= 160 && k <= 200 ? 0.3f : 3.0f;
  ExpectHeld(b.Laser(-static_cast<float>(kPi), kDegRad, laser, 0.32f), PilotReason::kUnseen);
  // The same message with the wall measurable: no move into it either.
  EXPECT_EQ(b.Laser(-static_cast<float>(kPi), kDegRad, laser).command.speed, 0.0);
  EXPECT_FALSE(b.step.unseen_held);
}

TEST(pilotUnseen, ScansThatSawTooLittleAheadAreBadInput) {
  Blind b;
  Readings r;
  r.fill(kNaN);
  r[180] = 2.0f;
  ExpectStop(b.Step(r), PilotReason::kLowCoverage);
  EXPECT_EQ(b.step.seen, 1);
  EXPECT_TRUE(b.step.low_coverage);
  for (float v : {0.0f, -1.0f}) {
    r.fill(v);
    ExpectStop(b.Step(r), PilotReason::kLowCoverage);
  }
  const float a0 = -static_cast<float>(kPi);
  ExpectStop(b.Laser(0.0f, kDegRad, std::vector<float>(1, 2.0f)), PilotReason::kLowCoverage);
  ExpectStop(b.Laser(0.0f, kDegRad, std::vector<float>(36, 2.0f)), PilotReason::kLowCoverage);
  const std::vector<float> full(360, 2.0f);
  ExpectStop(b.Laser(a0, 1e-30f, full), PilotReason::kLowCoverage);
  ExpectStop(b.Laser(-1e30f, kDegRad, full), PilotReason::kLowCoverage);
  ExpectStop(b.Laser(a0, 1e30f, full), PilotReason::kLowCoverage);
  // Three quarters of the front seen is enough; one degree fewer is not.
  r = Empty();
  for (int i = 90; i < 90 + kPilotFrontDegrees - kPilotMinFrontSeen; ++i) r[static_cast<std::size_t>(i)] = kNaN;
  EXPECT_FALSE(b.Step(r).low_coverage);
  r[200] = kNaN;
  ExpectStop(b.Step(r), PilotReason::kLowCoverage);
  // A message whose own range_max hides the stopping distance.
  ExpectStop(b.Laser(a0, kDegRad, full, 0.05f, 0.25f), PilotReason::kBadInput);
}

TEST(pilotUnseen, MissingSectorOverAPostIsHeldWhereTheWholeTurnStops) {
  Blind b(Goal(1.0, 0.0));
  Readings post = WithObject(180, 3, 0.33f);
  EXPECT_EQ(b.Step(post).command.speed, 0.0);  // the whole turn: the post holds it
  // Nine packets (36 degrees) missing over the post: unseen, held, turning allowed.
  for (int i = 162; i < 198; ++i) post[static_cast<std::size_t>(i)] = kNaN;
  ExpectHeld(b.Step(post), PilotReason::kUnseen);
  EXPECT_EQ(b.step.seen_front, 181 - 36);
}

TEST(pilotUnseen, NoReturnIsFreeAndLoneGapsAndTheBlindBackDoNotHold) {
  Blind b;
  Readings r = Empty();
  EXPECT_EQ(b.Step(r).reason, PilotReason::kDriving);
  EXPECT_EQ(b.step.command.speed, 0.5);
  // One unseen degree between seen ones, every fourth degree ahead: the
  // least coverage that still plans.
  for (int i = 92; i < 270; i += 4) r[static_cast<std::size_t>(i)] = kNaN;
  EXPECT_EQ(b.Step(r).reason, PilotReason::kDriving);
  EXPECT_EQ(b.step.seen_front, kPilotMinFrontSeen);
  // kPilotMaxGap in a row still counts as seen; one more is a gap the guard respects.
  r = Empty();
  for (int i = 180; i < 180 + kPilotMaxGap; ++i) r[static_cast<std::size_t>(i)] = kNaN;
  EXPECT_EQ(b.Step(r).reason, PilotReason::kDriving);
  r[180 + kPilotMaxGap] = kNaN;
  ExpectHeld(b.Step(r), PilotReason::kUnseen);
  // A -inf degree is never bridged: it saw something too near.
  r = Empty();
  r[200] = -kInf;
  ExpectHeld(b.Step(r), PilotReason::kNear);
  // A scanner that sees only the front half drives ahead, and turns toward
  // a goal behind without moving into the blind half.
  r = Empty();
  for (int i = 271; i < 360 + 90; ++i) r[static_cast<std::size_t>(i % 360)] = kNaN;
  EXPECT_EQ(b.Step(r).reason, PilotReason::kDriving);
  ASSERT_TRUE(b.pilot.SetGoal(PilotGoal::Metres(-1.5, 0.0)));
  EXPECT_EQ(b.Step(r).command.speed, 0.0);
  EXPECT_NE(b.step.command.turn_rate, 0.0);
}

TEST(pilotUnseen, RangeLimitsThatHideTheStoppingDistanceAreRefused) {
  Pilot p;
  PilotConfig c = Goal(1.0, 0.0);
  c.layout.max_range = 0.0f;
  EXPECT_EQ(p.Start(c), PilotError::kBadRanges);
  c.layout.max_range = 0.33f;  // 0.2 + 0.15 + 0.05 needed
  EXPECT_EQ(p.Start(c), PilotError::kBadRanges);
  c.layout.max_range = 0.4f;
  EXPECT_EQ(p.Start(c), PilotError::kNone);
  p.Stop();
  c.layout.min_range = 5.0f;
  c.layout.max_range = 10.0f;
  EXPECT_EQ(p.Start(c), PilotError::kBadRanges);
  EXPECT_NE(std::string(PilotErrorText(PilotError::kBadRanges)).find("min range"), std::string::npos);
  EXPECT_FALSE(p.Live());
}

TEST(pilotJson, CoverageAndReasonAreTold) {
  Blind b;
  Readings r;
  r.fill(kNaN);
  b.Step(r);
  char buf[kPilotJsonMax];
  const std::size_t n = PilotStepJson(b.step, 3, buf, sizeof buf);
  ASSERT_LT(n, sizeof buf);
  const std::string j(buf);
  for (const char* want : {"\"seen\":0,", "\"seen_front\":0,", "\"near\":0,", "\"low_coverage\":true,",
                           "\"unseen_held\":false,", "\"reason\":\"low_coverage\"", "\"bad_input\":true"})
    EXPECT_NE(j.find(want), std::string::npos) << want << " in " << j;
}
