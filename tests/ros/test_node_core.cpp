// SPDX-License-Identifier: BSD-3-Clause
// The node's own logic: parameters, refused messages, the grid it shows,
// when it stops the robot.
#include "node_core.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "../test_support.h"

namespace {

using spnode::NodeCore;
using spnode::NodeParams;
using spnode::ParamValue;
using Kind = ParamValue::Kind;

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr double kPi = 3.14159265358979323846;

ParamValue Num(double d) { return {Kind::kDouble, false, 0, d, ""}; }
ParamValue Int(long long i) { return {Kind::kInt, false, i, 0.0, ""}; }
ParamValue Str(const std::string& s) { return {Kind::kString, false, 0, 0.0, s}; }
ParamValue Bool(bool b) { return {Kind::kBool, b, 0, 0.0, ""}; }

std::string Read(const std::map<std::string, ParamValue>& given, NodeParams& out) {
  return spnode::ReadParams(
      [&given](const std::string& name) {
        auto it = given.find(name);
        return it == given.end() ? ParamValue() : it->second;
      },
      out);
}

// A 360-sample LaserScan over a full turn with returns at robot-frame points.
struct Scan {
  std::vector<float> ranges = std::vector<float>(360, kInf);
  spnode::ScanIn In() const {
    spnode::ScanIn s;
    s.angle_min = static_cast<float>(-kPi);
    s.angle_increment = static_cast<float>(2.0 * kPi / 360.0);
    s.range_min = 0.05f;
    s.range_max = 30.0f;
    s.ranges = ranges.data();
    s.n = ranges.size();
    return s;
  }
  Scan& At(double x, double y) {
    const double a = std::atan2(y, x);
    const int k = static_cast<int>(std::lround((a + kPi) / (2.0 * kPi / 360.0))) % 360;
    ranges[static_cast<std::size_t>(k)] = static_cast<float>(std::hypot(x, y));
    return *this;
  }
};

// The pilot's own line, without the node's "node" object.
std::string PilotPart(const std::string& json) {
  const std::size_t at = json.find(",\"node\":{");
  return at == std::string::npos ? json : json.substr(0, at) + "}";
}

NodeParams Params(std::map<std::string, ParamValue> given = {}) {
  NodeParams p;
  EXPECT_EQ(Read(given, p), "");
  return p;
}

TEST(NodeParams, DefaultsAreTheLibrarysAndNumbersMayBeIntegers) {
  NodeParams p;
  p.scan_timeout = 7.0;
  ASSERT_EQ(Read({}, p), "");
  const PilotConfig lib;
  EXPECT_EQ(p.config.mode, PilotMode::kGoal);
  EXPECT_EQ(p.config.max_speed, lib.max_speed);
  EXPECT_EQ(p.config.robot_radius, lib.robot_radius);
  EXPECT_EQ(p.config.goal.x, lib.goal.x);
  EXPECT_EQ(p.config.layout.max_range, lib.layout.max_range);
  EXPECT_EQ(p.scan_timeout, 0.5);
  EXPECT_EQ(p.base_frame, "base_link");
  EXPECT_EQ(p.scan_queue, 1);

  ASSERT_EQ(Read({{"max_speed", Int(1)},
                  {"mode", Str("follow")},
                  {"follow_distance", Num(0.8)},
                  {"upside_down", Bool(true)},
                  {"mount_yaw_deg", Int(180)},
                  {"max_range", Num(5.5)},
                  {"use_tf", Bool(false)},
                  {"scan_queue", Int(50)},
                  {"base_frame", Str("base_footprint")}},
                 p),
            "");
  EXPECT_EQ(p.config.max_speed, 1.0);
  EXPECT_EQ(p.config.mode, PilotMode::kFollow);
  EXPECT_EQ(p.config.follow_distance, 0.8f);
  EXPECT_TRUE(p.config.upside_down);
  EXPECT_EQ(p.config.mount_yaw_deg, 180.0);
  EXPECT_NE(p.deprecated.find("~mount_yaw_deg is deprecated"), std::string::npos) << p.deprecated;
  EXPECT_EQ(p.config.layout.max_range, 5.5f);
  EXPECT_EQ(p.scan_queue, 50);
  EXPECT_EQ(p.base_frame, "base_footprint");
}

TEST(NodeParams, EachBadValueIsOneLineNamingIt) {
  const ParamValue list{Kind::kOther, false, 0, 0.0, ""};
  const std::vector<std::pair<std::map<std::string, ParamValue>, std::string>> cases = {
      {{{"max_speed", Str("fast")}}, "parameter ~max_speed must be a number, not a string"},
      {{{"goal_x", Bool(true)}}, "parameter ~goal_x must be a number, not a boolean"},
      {{{"upside_down", Int(1)}}, "parameter ~upside_down must be true or false, not an integer"},
      {{{"mode", Str("drive")}}, "parameter ~mode must be goal or follow, not \"drive\""},
      {{{"mode", list}}, "parameter ~mode must be goal or follow, not a list or a dictionary"},
      {{{"scan_timeout", Num(0.0)}}, "parameter ~scan_timeout must be 0.05..10 s, not 0"},
      {{{"scan_timeout", Num(std::nan(""))}}, "parameter ~scan_timeout must be 0.05..10 s, not nan"},
      // Each once took the node down: an abort, a busy timer, a stop that never came.
      {{{"scan_timeout", Num(1e12)}}, "parameter ~scan_timeout must be 0.05..10 s, not 1e+12"},
      {{{"scan_timeout", Num(1e-9)}}, "parameter ~scan_timeout must be 0.05..10 s, not 1e-09"},
      {{{"scan_timeout", Int(3000000000LL)}}, "parameter ~scan_timeout must be 0.05..10 s, not 3e+09"},
      {{{"scan_period", Num(0.0)}}, "parameter ~scan_period must be 0.005..2 s, not 0"},
      {{{"max_scan_age", Num(-1.0)}}, "parameter ~max_scan_age must be 0.01..60 s, not -1"},
      {{{"max_scan_age", Num(86400.0)}}, "parameter ~max_scan_age must be 0.01..60 s, not 86400"},
      {{{"diagnostic_period", Str("1")}}, "parameter ~diagnostic_period must be a number, not a string"},
      {{{"goal_tolerance", Num(0.3)}},
       "parameter ~goal_tolerance must be 0.5..5 m (the robot stops 0.4 m short of its path's end), not 0.3"},
      {{{"mount_yaw", Num(7.0)}}, "parameter ~mount_yaw must be -2pi..2pi radians, not 7"},
      {{{"mount_yaw", Num(1.0)}, {"mount_yaw_deg", Num(57.0)}, {"use_tf", Bool(false)}},
       "parameter ~mount_yaw_deg is deprecated: give ~mount_yaw alone, not both"},
      {{{"mount_yaw", Num(1.0)}},
       "the mount parameters (~mount_yaw, ~upside_down) are for robots without tf: set ~use_tf false, or publish "
       "the laser's transform"},
      {{{"use_tf", Str("yes")}}, "parameter ~use_tf must be true or false, not a string"},
      {{{"scan_queue", Num(5.0)}}, "parameter ~scan_queue must be an integer, not a number"},
      {{{"scan_queue", Int(0)}}, "parameter ~scan_queue must be 1..10000"},
      {{{"base_frame", Str("")}}, "parameter ~base_frame must not be empty"},
  };
  for (const auto& c : cases) {
    NodeParams p;
    p.scan_timeout = 3.0;
    EXPECT_EQ(Read(c.first, p), c.second);
    EXPECT_EQ(p.scan_timeout, 3.0) << "a refused set leaves the output alone";
  }
}

TEST(NodeParams, RangesTheLibraryRefusesStopTheStart) {
  const std::vector<std::map<std::string, ParamValue>> bad = {
      {{"robot_radius", Num(0.4)}},  // 0.4 + 0.15 over the planner's 0.5
      {{"goal_x", Num(3.0)}},        // off the 5 m grid
      {{"mode", Str("follow")}, {"follow_distance", Num(-1.0)}},
      {{"max_speed", Num(-0.1)}},
      {{"min_range", Num(2.0)}, {"max_range", Num(1.0)}},
      {{"mode", Str("follow")}, {"follow_distance", Num(1e300)}},  // float infinity
  };
  for (const auto& b : bad) {
    NodeCore core;
    const std::string e = core.Start(Params(b), 0.0);
    EXPECT_EQ(e.rfind("bad parameters: ", 0), 0u) << e;
    EXPECT_EQ(e.find('\n'), std::string::npos);
  }
  NodeCore good;
  EXPECT_EQ(good.Start(Params(), 0.0), "") << "a refused start leaves nothing live behind";
}

TEST(NodeScan, BadFieldsAreRefusedWithoutReadingTheRanges) {
  float one = 1.0f;
  spnode::ScanIn ok;
  ok.angle_min = -1.0f;
  ok.angle_increment = -0.01f;  // clockwise scanners are fine
  ok.ranges = &one;
  ok.n = 1;
  EXPECT_EQ(spnode::CheckScan(ok), nullptr);
  auto with = [&](auto change) {
    spnode::ScanIn s = ok;
    change(s);
    return spnode::CheckScan(s);
  };
  EXPECT_STREQ(with([](spnode::ScanIn& s) { s.n = 0; }), "no ranges");
  EXPECT_STREQ(with([](spnode::ScanIn& s) { s.ranges = nullptr; }), "no ranges");
  // n is what the message claims: a million is refused before any is read.
  EXPECT_STREQ(with([](spnode::ScanIn& s) { s.n = 1000000; }), "more than 100000 ranges");
  EXPECT_STREQ(with([](spnode::ScanIn& s) { s.n = spnode::kMaxRanges + 1; }), "more than 100000 ranges");
  EXPECT_STREQ(with([](spnode::ScanIn& s) { s.angle_min = kNaN; }), "angle_min is not finite");
  EXPECT_STREQ(with([](spnode::ScanIn& s) { s.angle_increment = -kInf; }), "angle_increment is not finite");
  EXPECT_STREQ(with([](spnode::ScanIn& s) { s.angle_increment = -0.0f; }), "angle_increment is 0");
}

TEST(NodeScan, EveryScanIsCountedAndARefusedOneLeavesThePilotAlone) {
  Scan person;
  person.At(0.8, 0.05).At(0.8, 0.0).At(0.8, -0.05).At(1.5, 1.0);
  Scan moved;
  moved.At(0.85, 0.1).At(0.85, 0.05).At(0.85, 0.0).At(1.5, 1.0);
  spnode::ScanIn bad = person.In();
  bad.angle_increment = 0.0f;
  const NodeParams follow = Params({{"mode", Str("follow")}, {"follow_distance", Num(0.8)}});

  std::string expected;
  {
    NodeCore core;
    ASSERT_EQ(core.Start(follow, 0.0), "");
    core.OnScan(person.In(), 0.1);
    expected = core.OnScan(moved.In(), 0.2).json;
  }
  NodeCore core;
  ASSERT_EQ(core.Start(follow, 0.0), "");
  EXPECT_EQ(core.OnScan(person.In(), 0.1).number, 0);
  const NodeCore::ScanResult& r = core.OnScan(bad, 0.15);
  EXPECT_EQ(r.number, 1);
  EXPECT_STREQ(r.refused, "angle_increment is 0");
  EXPECT_EQ(r.twist.linear_x, 0.0);
  EXPECT_EQ(r.twist.angular_z, 0.0);
  EXPECT_TRUE(r.step.bad_input && r.step.stopped);
  EXPECT_NE(r.json.find("\"scan\":1,"), std::string::npos) << "every scan has its line: " << r.json;
  EXPECT_NE(r.json.find("\"bad_input\":true"), std::string::npos) << r.json;
  const std::string got = core.OnScan(moved.In(), 0.2).json;
  ASSERT_EQ(got.find("\"scan\":2,"), 12u) << got;
  ASSERT_EQ(expected.find("\"scan\":1,"), 12u) << expected;
  EXPECT_EQ(PilotPart(got).substr(21), PilotPart(expected).substr(21)) << "the tracker saw the same two scans";
  EXPECT_NE(got.find("\"node\":{\"refused\":null,\"goal\":\"none\",\"bad_fields\":1,"), std::string::npos) << got;
}

TEST(NodeScan, TwistIsTheCommandAndZeroOnAStop) {
  NodeCore core;
  ASSERT_EQ(core.Start(Params({{"goal_x", Num(1.0)}, {"goal_y", Num(0.3)}}), 0.0), "");
  Scan open;
  open.At(-2.0, 0.0);
  const NodeCore::ScanResult& r = core.OnScan(open.In(), 0.1);
  ASSERT_EQ(r.refused, nullptr);
  EXPECT_GT(r.twist.linear_x, 0.0);
  EXPECT_GT(r.twist.angular_z, 0.0) << "the goal is to the left";
  EXPECT_EQ(r.twist.linear_x, r.step.command.speed);
  EXPECT_EQ(r.twist.angular_z, r.step.command.turn_rate);
  char line[kPilotJsonMax];
  PilotStepJson(r.step, 0, line, sizeof line);
  EXPECT_EQ(PilotPart(r.json), line);

  // Usable fields, but limits the library refuses: its stop goes out.
  spnode::ScanIn nan_limits = open.In();
  nan_limits.range_min = kNaN;
  const NodeCore::ScanResult& s = core.OnScan(nan_limits, 0.2);
  EXPECT_EQ(s.refused, nullptr);
  EXPECT_TRUE(s.step.stopped);
  EXPECT_EQ(tsup::BitsOf(static_cast<float>(s.twist.linear_x)), 0u);
  EXPECT_EQ(tsup::BitsOf(static_cast<float>(s.twist.angular_z)), 0u);
  EXPECT_NE(s.json.find("\"bad_input\":true"), std::string::npos) << s.json;
}

TEST(NodeScan, MountParametersTurnTheScan) {
  // A wall 0.6 m along the scanner's own ahead; mounted backwards it is behind the robot.
  Scan wall;
  for (double y = -0.3; y <= 0.3; y += 0.02) wall.At(0.6, y);
  for (double yaw : {0.0, 180.0}) {
    NodeCore core;
    ASSERT_EQ(core.Start(Params({{"mount_yaw", Num(yaw * kPi / 180.0)}, {"use_tf", Bool(false)}}), 0.0), "");
    core.OnScan(wall.In(), 0.1);
    ASSERT_TRUE(core.ReadPass());
    std::vector<std::int8_t> grid;
    spnode::GridFromPass(core.Pass(), grid);
    const int ahead = 50 + 12, behind = 50 - 13;  // x cells of X = +0.6 and -0.6
    EXPECT_EQ(grid[50 * 100 + ahead], yaw == 0.0 ? spnode::kOccupied : spnode::kFree) << yaw;
    EXPECT_EQ(grid[50 * 100 + behind], yaw == 0.0 ? spnode::kFree : spnode::kOccupied) << yaw;
  }
}

// The cell of a point, from the occupancy grid's geometry alone.
int GridIndex(double metres) {
  return static_cast<int>(std::floor((metres - spnode::kGridOrigin) / spnode::kGridResolution));
}

TEST(NodeGrid, CellsCoverWhatThePlannerCellsCover) {
  for (double m : {-2.49, -1.234, -0.07, -0.01, 0.0, 0.01, 0.049, 0.051, 0.77, 2.31, 2.49})
    EXPECT_EQ(GridIndex(m), PilotMetresToCell(m)) << m;
}

TEST(NodeGrid, ObstaclesLieWhereTheScanPutThem) {
  NodeCore core;
  ASSERT_EQ(core.Start(Params({{"goal_x", Num(-1.0)}, {"goal_y", Num(-1.2)}}), 0.0), "");
  // Ahead-left and not its mirror image: a swapped axis would show at (0.5, 1.25).
  const double ox = 1.25, oy = 0.5;
  Scan scan;
  scan.At(ox, oy);
  core.OnScan(scan.In(), 0.1);
  ASSERT_TRUE(core.ReadPass());
  const PilotPass& pass = core.Pass();
  std::vector<std::int8_t> grid;
  spnode::GridFromPass(pass, grid);
  ASSERT_EQ(grid.size(), 10000u);
  EXPECT_EQ(grid[GridIndex(oy) * 100 + GridIndex(ox)], spnode::kOccupied);
  EXPECT_EQ(grid[GridIndex(ox) * 100 + GridIndex(oy)], spnode::kFree);
  const double reach = core.Params().config.robot_radius + core.Params().config.margin + 0.1;
  int occupied = 0;
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < 100; ++x) {
      if (grid[y * 100 + x] != spnode::kOccupied) continue;
      ++occupied;
      const double cx = spnode::kGridOrigin + (x + 0.5) * spnode::kGridResolution;
      const double cy = spnode::kGridOrigin + (y + 0.5) * spnode::kGridResolution;
      EXPECT_LE(std::hypot(cx - ox, cy - oy), reach) << x << "," << y;
    }
  EXPECT_GT(occupied, 100) << "the return is inflated by the robot's radius and margin";

  std::vector<PilotPoint> path;
  spnode::PathFromPass(pass, path);
  ASSERT_EQ(static_cast<int>(path.size()), core.OnScan(scan.In(), 0.2).step.path_cells + 1);
  EXPECT_EQ(path.front().x, 0.0f);
  EXPECT_EQ(path.front().y, 0.0f);
  for (std::size_t k = 1; k < path.size(); ++k)
    EXPECT_LE(std::hypot(path[k].x - path[k - 1].x, path[k].y - path[k - 1].y), 0.0708) << "one cell per step";
}

TEST(NodeGrid, PathEndsWhereTheStepSaysAndIsInTheGoalsQuadrant) {
  NodeCore core;
  ASSERT_EQ(core.Start(Params({{"goal_x", Num(1.0)}, {"goal_y", Num(-0.6)}}), 0.0), "");
  Scan scan;
  scan.At(-2.0, 2.0);
  const PilotStep step = core.OnScan(scan.In(), 0.1).step;
  ASSERT_GT(step.path_cells, 0);
  ASSERT_TRUE(core.ReadPass());
  std::vector<PilotPoint> path;
  spnode::PathFromPass(core.Pass(), path);
  EXPECT_TRUE(tsup::SameBits(path.back().x, step.path_end.x));
  EXPECT_TRUE(tsup::SameBits(path.back().y, step.path_end.y));
  EXPECT_GT(path.back().x, 0.5f);
  EXPECT_LT(path.back().y, -0.3f);
}

TEST(NodeTiming, ZeroWhenScansStopAndOncePerTimeoutAfter) {
  NodeCore core;
  ASSERT_EQ(core.Start(Params(), 100.0), "");
  EXPECT_FALSE(core.StaleZeroDue(100.4));
  EXPECT_TRUE(core.StaleZeroDue(100.5)) << "no scan since the start";
  EXPECT_FALSE(core.StaleZeroDue(100.6));
  EXPECT_TRUE(core.StaleZeroDue(101.0));
  Scan scan;
  scan.At(1.0, 1.0);
  core.OnScan(scan.In(), 101.2);
  EXPECT_FALSE(core.StaleZeroDue(101.3));
  EXPECT_FALSE(core.StaleZeroDue(101.69));
  EXPECT_TRUE(core.StaleZeroDue(101.7));
  spnode::ScanIn empty = scan.In();
  empty.n = 0;
  core.OnScan(empty, 101.75);
  EXPECT_FALSE(core.StaleZeroDue(102.0));
  EXPECT_TRUE(core.StaleZeroDue(102.2)) << "a refused scan is no sign of life";
}

TEST(NodeInputs, PersonWhileFreshGoalInGoalModeOnly) {
  Scan scan;
  for (double y = -0.1; y <= 0.1; y += 0.02) scan.At(0.9, y);
  NodeCore core;
  ASSERT_EQ(core.Start(Params({{"mode", Str("follow")}, {"follow_distance", Num(0.9)}}), 0.0), "");
  EXPECT_FALSE(core.OnGoal(1.0, 0.0));
  core.OnPerson(0.9, 0.0, 1.0);
  EXPECT_TRUE(core.OnScan(scan.In(), 1.4).step.candidate_passed);
  EXPECT_FALSE(core.OnScan(scan.In(), 1.6).step.candidate_passed) << "older than the timeout";
  core.OnPerson(std::nan(""), 0.0, 1.6);
  EXPECT_FALSE(core.OnScan(scan.In(), 1.7).step.candidate_passed);

}

TEST(NodeInputs, GoalMovesTheTargetAndOffGridIsIgnored) {
  NodeCore core;
  ASSERT_EQ(core.Start(Params(), 0.0), "");
  EXPECT_FALSE(core.OnGoal(10.0, 0.0));
  EXPECT_FALSE(core.OnGoal(std::nan(""), 0.0));
  ASSERT_TRUE(core.OnGoal(-1.0, 0.5));
  Scan scan;
  scan.At(2.0, -2.0);
  const PilotStep step = core.OnScan(scan.In(), 0.1).step;
  ASSERT_TRUE(step.has_target);
  EXPECT_EQ(step.target.row, PilotMetresToCell(-1.0));
  EXPECT_EQ(step.target.col, PilotMetresToCell(0.5));
}

TEST(NodeLatency, QuantilesFromTheHistogram) {
  spnode::LatencyStats s;
  EXPECT_EQ(s.QuantileUs(0.5), 0.0);
  for (int k = 100; k >= 1; --k) s.Add((k + 0.5) * 1e-6);
  EXPECT_EQ(s.Count(), 100u);
  EXPECT_EQ(s.QuantileUs(0.5), 51.0);
  EXPECT_EQ(s.QuantileUs(0.99), 100.0);
  s.Add(2.0);  // beyond the histogram
  EXPECT_EQ(s.QuantileUs(1.0), 2e6);
  EXPECT_EQ(s.Summary(), "101 scans, scan to cmd_vel median 52 us, p99 101 us, max 2000000 us");

  // Every time inside one bucket: the bucket's edge would lie above them all.
  spnode::LatencyStats same;
  for (int k = 0; k < 50; ++k) same.Add(55.3e-6);
  EXPECT_LE(same.QuantileUs(0.99), same.MaxUs());
  EXPECT_EQ(same.QuantileUs(0.5), same.MaxUs());
  EXPECT_EQ(same.Summary(), "50 scans, scan to cmd_vel median 55 us, p99 55 us, max 55 us");
}

// A scan's middleware facts for a fresh scan in `frame`, placed by tf at `m`.
spnode::ScanMeta Meta(const std::string& frame, double stamp, double clock, const spnode::Mount* m = nullptr) {
  spnode::ScanMeta meta;
  meta.frame = frame;
  meta.stamp = stamp;
  meta.clock = clock;
  if (m != nullptr) {
    meta.has_mount = true;
    meta.mount = *m;
  }
  return meta;
}

TEST(NodeChecks, StaleFutureBackwardsAndForeignScansAreZeroWithTheirCounter) {
  Scan open;
  open.At(-2.0, 0.0);
  const spnode::Mount at_origin;
  {
    NodeCore core;
    ASSERT_EQ(core.Start(Params({{"goal_x", Num(1.0)}, {"max_scan_age", Num(0.5)}}), 0.0), "");
    auto step = [&](spnode::ScanMeta m) { return core.OnScan(open.In(), m, 1.0); };
    ASSERT_EQ(step(Meta("laser", 1000.0, 1000.1, &at_origin)).refused, nullptr);
    EXPECT_EQ(core.LaserFrame(), "laser") << "the first scan's frame is kept";
    struct Case {
      spnode::ScanMeta meta;
      spnode::Refusal why;
      const char* counter;
    };
    const std::vector<Case> cases = {
        {Meta("laser", 999.8, 1000.4, &at_origin), spnode::Refusal::kStale, "\"stale\":1"},
        {Meta("laser", 0.0, 1000.4, &at_origin), spnode::Refusal::kStale, "\"stale\":2"},  // the epoch
        {Meta("laser", 1000.4 + 86400.0, 1000.4, &at_origin), spnode::Refusal::kFuture, "\"future\":1"},
        {Meta("laser", 1001.0, 1000.4, &at_origin), spnode::Refusal::kFuture, "\"future\":2"},
        {Meta("laser", 999.95, 1000.4, &at_origin), spnode::Refusal::kBackwards, "\"backwards\":1"},
        {Meta("laser2", 1000.3, 1000.4, &at_origin), spnode::Refusal::kForeignFrame, "\"foreign_frame\":1"},
        {Meta("map", 1000.3, 1000.4, &at_origin), spnode::Refusal::kForeignFrame, "\"foreign_frame\":2"},
        {Meta("laser", 1000.3, 1000.4), spnode::Refusal::kNoTransform, "\"no_transform\":1"},
    };
    for (const Case& c : cases) {
      const NodeCore::ScanResult& r = step(c.meta);
      EXPECT_EQ(r.refusal, c.why) << c.counter;
      ASSERT_NE(r.refused, nullptr) << c.counter;
      EXPECT_EQ(r.twist.linear_x, 0.0) << c.counter;
      EXPECT_EQ(r.twist.angular_z, 0.0) << c.counter;
      EXPECT_TRUE(r.step.bad_input && r.step.stopped) << c.counter;
      EXPECT_NE(r.json.find(c.counter), std::string::npos) << r.json;
      EXPECT_NE(r.json.find(std::string("\"refused\":\"") + r.refused + "\""), std::string::npos) << r.json;
    }
    // The same scan, fresh and placed, drives again; a leading slash is the same frame.
    const NodeCore::ScanResult& ok = step(Meta("/laser", 1000.35, 1000.4, &at_origin));
    EXPECT_EQ(ok.refused, nullptr);
    EXPECT_GT(ok.twist.linear_x, 0.0);
    // A clock that went back (a bag played again) starts the stamps over.
    EXPECT_EQ(step(Meta("laser", 10.0, 10.1, &at_origin)).refused, nullptr);
  }
  NodeCore pinned;
  ASSERT_EQ(pinned.Start(Params({{"laser_frame", Str("front_laser")}}), 0.0), "");
  EXPECT_EQ(pinned.OnScan(open.In(), Meta("rear_laser", 5.0, 5.0, &at_origin), 1.0).refusal,
            spnode::Refusal::kForeignFrame);
  EXPECT_EQ(pinned.OnScan(open.In(), Meta("front_laser", 5.0, 5.0, &at_origin), 1.0).refused, nullptr);
}

// A unit quaternion from roll, pitch, yaw (fixed axes X, Y, Z).
void Quat(double roll, double pitch, double yaw, double q[4]) {
  const double cr = std::cos(roll / 2), sr = std::sin(roll / 2), cp = std::cos(pitch / 2), sp = std::sin(pitch / 2);
  const double cy = std::cos(yaw / 2), sy = std::sin(yaw / 2);
  q[0] = sr * cp * cy - cr * sp * sy;
  q[1] = cr * sp * cy + sr * cp * sy;
  q[2] = cr * cp * sy - sr * sp * cy;
  q[3] = cr * cp * cy + sr * sp * sy;
}

TEST(NodeMount, TransformsGiveYawMirrorAndOffset) {
  double q[4];
  spnode::Mount m;
  Quat(0.0, 0.0, kPi, q);
  ASSERT_EQ(spnode::MountFromTransform(q[0], q[1], q[2], q[3], 0.1, -0.2, m), nullptr);
  EXPECT_EQ(spnode::MountYawDegrees(m.yaw), 180.0);
  EXPECT_EQ(spnode::MountYawDegrees(kPi), 180.0) << "a parameter of pi bins like tf's pi";
  EXPECT_FALSE(m.upside_down);
  EXPECT_EQ(m.x, 0.1);
  EXPECT_EQ(m.y, -0.2);
  Quat(kPi, 0.0, kPi / 2, q);
  ASSERT_EQ(spnode::MountFromTransform(q[0], q[1], q[2], q[3], 0, 0, m), nullptr);
  EXPECT_TRUE(m.upside_down);
  EXPECT_EQ(spnode::MountYawDegrees(m.yaw), 90.0);
  // Turned over the other axis: its ahead now points back.
  Quat(0.0, kPi, 0.0, q);
  ASSERT_EQ(spnode::MountFromTransform(q[0], q[1], q[2], q[3], 0, 0, m), nullptr);
  EXPECT_TRUE(m.upside_down);
  EXPECT_EQ(std::fabs(spnode::MountYawDegrees(m.yaw)), 180.0);
  Quat(0.0, 0.5, 0.0, q);
  EXPECT_STREQ(spnode::MountFromTransform(q[0], q[1], q[2], q[3], 0, 0, m),
               "the scan plane is tilted more than 20 degrees");
  EXPECT_NE(spnode::MountFromTransform(0, 0, 0, 0, 0, 0, m), nullptr);
  EXPECT_NE(spnode::MountFromTransform(0, 0, 0, 1, kNaN, 0, m), nullptr);
}

TEST(NodeMount, PointsOfAnotherFrameLandInTheBaseFrame) {
  // odom -> base as the robot at (2, 1) heading 90 deg sees it: the inverse pose.
  double q[4];
  Quat(0.0, 0.0, -kPi / 2, q);
  const double t[3] = {-1.0, 2.0, 0.0};
  double bx = 0.0, by = 0.0;
  // A goal 3 m further along odom's Y from the robot is 3 m straight ahead.
  ASSERT_TRUE(spnode::PointToBase(q, t, 2.0, 4.0, 0.0, bx, by));
  EXPECT_NEAR(bx, 3.0, 1e-12);
  EXPECT_NEAR(by, 0.0, 1e-12);
  // Odom's origin lies behind the robot and to its left.
  ASSERT_TRUE(spnode::PointToBase(q, t, 0.0, 0.0, 0.0, bx, by));
  EXPECT_NEAR(bx, -1.0, 1e-12);
  EXPECT_NEAR(by, 2.0, 1e-12);
  // Upside down (roll pi): Y and Z turn over, X stays.
  Quat(kPi, 0.0, 0.0, q);
  const double none[3] = {0.0, 0.0, 0.0};
  ASSERT_TRUE(spnode::PointToBase(q, none, 0.5, 0.7, 0.3, bx, by));
  EXPECT_NEAR(bx, 0.5, 1e-12);
  EXPECT_NEAR(by, -0.7, 1e-12);
  EXPECT_FALSE(spnode::PointToBase(q, none, kNaN, 0.0, 0.0, bx, by));
}

TEST(NodeMount, TfMountStepsLikeTheParameters) {
  // An asymmetric room, so that a wrong turn or mirror changes the steps.
  Scan room;
  for (double y = -0.4; y <= 0.6; y += 0.05) room.At(0.9, y);
  room.At(-0.5, 0.7).At(0.3, -1.1).At(-1.2, -0.3);
  std::vector<std::string> seen[2];
  for (bool flip : {false, true}) {
    std::vector<std::string> want, got;
    {
      NodeCore by_param;
      ASSERT_EQ(by_param.Start(Params({{"mount_yaw", Num(kPi)},
                                       {"upside_down", Bool(flip)},
                                       {"use_tf", Bool(false)},
                                       {"goal_x", Num(-1.0)},
                                       {"goal_y", Num(0.4)}}),
                               0.0),
                "");
      for (int k = 0; k < 3; ++k) want.push_back(PilotPart(by_param.OnScan(room.In(), 1.0 + k).json));
    }
    NodeCore by_tf;
    ASSERT_EQ(by_tf.Start(Params({{"goal_x", Num(-1.0)}, {"goal_y", Num(0.4)}}), 0.0), "");
    double q[4];
    Quat(flip ? kPi : 0.0, 0.0, kPi, q);
    spnode::Mount m;
    ASSERT_EQ(spnode::MountFromTransform(q[0], q[1], q[2], q[3], 0, 0, m), nullptr);
    for (int k = 0; k < 3; ++k)
      got.push_back(PilotPart(by_tf.OnScan(room.In(), Meta("laser", k, k, &m), 1.0 + k).json));
    EXPECT_EQ(got, want) << "upside down " << flip;
    seen[flip] = want;
  }
  EXPECT_NE(seen[0], seen[1]) << "the mirror changes what the planner sees";
}

TEST(NodeMount, AnOffsetScannerIsReCentredOnTheRobot) {
  // The scanner 0.4 m ahead of the centre, turned round: a return 0.5 m along its
  // ahead is 0.1 m behind the centre, and one 1.5 m along its back is 1.9 m ahead.
  spnode::Mount m;
  m.yaw = kPi;
  m.x = 0.4;
  Scan scan;
  scan.At(0.5, 0.0).At(-1.5, 0.0);
  scan.ranges[45] = kNaN;    // -135 deg of the scanner: nothing seen
  scan.ranges[90] = -kInf;   // -90 deg: something too close to measure
  scan.ranges[270] = 40.0f;  // +90 deg: beyond range_max, no return
  float out[kPilotReadings];
  ASSERT_TRUE(spnode::CentredScan(scan.In(), m, out));
  // Independent model: bearing and distance of each point from the robot's centre.
  auto at = [&](double x, double y) {
    const int deg = static_cast<int>(std::floor(std::atan2(y, x) * 180.0 / kPi + 180.0 + 0.5)) % 360;
    return out[deg];
  };
  EXPECT_NEAR(at(-0.1, 0.0), 0.1f, 1e-6);
  EXPECT_NEAR(at(1.9, 0.0), 1.9f, 1e-6);
  // -inf at -90 deg of the scanner (+90 deg of the robot, the scanner turned round): a return at range_min.
  EXPECT_NEAR(at(0.4, 0.05), std::hypot(0.4, 0.05), 1e-6);
  EXPECT_TRUE(std::isinf(at(0.0, -1.0))) << "no return stays free";
  EXPECT_TRUE(std::isnan(out[225])) << "a degree with nothing seen is unknown, not free";
  // The re-centred scan's sample k is the planner's degree k.
  float marks[kPilotReadings], binned[kPilotReadings];
  for (int k = 0; k < kPilotReadings; ++k) marks[k] = static_cast<float>(k + 1);
  ASSERT_TRUE(PilotBinLaserScan(PilotConfig(), spnode::kCentredAngleMin, spnode::kCentredIncrement, marks,
                                kPilotReadings, 0.0f, kInf, binned));
  for (int k = 0; k < kPilotReadings; ++k) EXPECT_EQ(binned[k], marks[k]) << k;

  // The grid shows the near wall behind and the far one ahead.
  NodeCore core;
  ASSERT_EQ(core.Start(Params({{"goal_x", Num(0.0)}, {"goal_y", Num(1.0)}}), 0.0), "");
  ASSERT_EQ(core.OnScan(scan.In(), Meta("laser", 1, 1, &m), 1.0).refused, nullptr);
  ASSERT_TRUE(core.ReadPass());
  std::vector<std::int8_t> grid;
  spnode::GridFromPass(core.Pass(), grid);
  EXPECT_EQ(grid[static_cast<std::size_t>(50 * 100 + GridIndex(1.9))], spnode::kOccupied);
  EXPECT_EQ(grid[static_cast<std::size_t>(50 * 100 + GridIndex(1.45))], spnode::kFree)
      << "not where the scanner's origin would put it";
}

TEST(NodeGoals, AHeldGoalIsPulledIntoTheWindowAndReachedWithinTheTolerance) {
  NodeCore core;
  ASSERT_EQ(core.Start(Params({{"goal_tolerance", Num(0.6)}}), 0.0), "");
  {
    Scan open;
    open.At(-2.0, 2.0);
    const NodeCore::ScanResult& idle = core.OnScan(open.In(), 0.5);
    EXPECT_GT(idle.step.command.speed, 0.0) << "the pilot plans to its default goal";
    EXPECT_EQ(idle.twist.linear_x, 0.0) << "but without a goal given, the robot stands";
    EXPECT_EQ(idle.twist.angular_z, 0.0);
  }
  EXPECT_EQ(core.GoalStatusJson(), "{\"state\":\"none\",\"frame\":\"\",\"x\":0,\"y\":0,\"distance\":null}");
  ASSERT_TRUE(core.HoldGoal("od\"om", 20.0, 0.0));
  EXPECT_FALSE(core.HoldGoal("odom", kNaN, 0.0));
  Scan open;
  open.At(-2.0, 2.0);
  const spnode::Mount at_origin;
  spnode::ScanMeta meta = Meta("laser", 1.0, 1.0, &at_origin);
  meta.has_goal = true;
  meta.goal_x = 0.0;  // 20 m to the left of the robot now
  meta.goal_y = 20.0;
  const NodeCore::ScanResult& far = core.OnScan(open.In(), meta, 1.0);
  ASSERT_TRUE(far.step.has_target);
  EXPECT_EQ(far.step.target.col, PilotMetresToCell(kPilotWindowReach));
  EXPECT_EQ(far.step.target.row, PilotMetresToCell(0.0));
  EXPECT_GT(far.twist.angular_z, 0.0);
  EXPECT_EQ(core.Goal(), spnode::GoalState::kActive);
  EXPECT_NE(core.GoalStatusJson().find("\"frame\":\"od\\\"om\""), std::string::npos) << core.GoalStatusJson();

  meta.stamp = meta.clock = 2.0;
  meta.has_goal = false;  // tf lost the goal's frame
  const NodeCore::ScanResult& lost = core.OnScan(open.In(), meta, 2.0);
  EXPECT_EQ(lost.refusal, spnode::Refusal::kNoTransform);
  EXPECT_EQ(lost.twist.linear_x, 0.0);
  EXPECT_EQ(core.Goal(), spnode::GoalState::kLost);

  meta.stamp = meta.clock = 3.0;
  meta.has_goal = true;
  meta.goal_x = 0.55;
  meta.goal_y = 0.1;
  const NodeCore::ScanResult& there = core.OnScan(open.In(), meta, 3.0);
  EXPECT_TRUE(there.arrived);
  EXPECT_EQ(there.twist.linear_x, 0.0);
  EXPECT_EQ(there.twist.angular_z, 0.0);
  EXPECT_EQ(core.Goal(), spnode::GoalState::kArrived);
  EXPECT_NE(core.GoalStatusJson().find("\"state\":\"arrived\""), std::string::npos);
  EXPECT_NE(there.json.find("\"goal\":\"arrived\""), std::string::npos);
  meta.stamp = meta.clock = 4.0;
  EXPECT_EQ(core.OnScan(open.In(), meta, 4.0).twist.linear_x, 0.0) << "it stays stopped until a new goal";
}

TEST(NodeText, NamesFromMessagesArePrintable) {
  EXPECT_EQ(spnode::Printable("base_link"), "base_link");
  EXPECT_EQ(spnode::Printable("a\x1b[2Jb\n\x7f\xc3\xa9"), "a?[2Jb????");
  EXPECT_EQ(spnode::Printable(std::string(300, 'x')), std::string(200, 'x') + "...");
}

TEST(NodeHealth, AStaleLaserIsAnErrorAndRefusalsAWarning) {
  NodeCore core;
  ASSERT_EQ(core.Start(Params(), 10.0), "");
  spnode::Health h = core.Report(10.6);
  EXPECT_EQ(h.level, spnode::Health::kError);
  EXPECT_EQ(h.last_scan_age, -1.0);
  Scan open;
  open.At(-2.0, 0.0);
  const spnode::Mount at_origin;
  for (int k = 0; k < 10; ++k)
    core.OnScan(open.In(), Meta("laser", 20.0 + 0.1 * k, 20.0 + 0.1 * k, &at_origin), 10.6 + 0.1 * k);
  core.OnScan(open.In(), Meta("laser", 1.0, 21.0, &at_origin), 11.6);
  h = core.Report(11.6);
  EXPECT_EQ(h.level, spnode::Health::kWarn) << h.message;
  EXPECT_EQ(h.scans, 11);
  EXPECT_EQ(h.refused, 1);
  EXPECT_EQ(h.counts[static_cast<int>(spnode::Refusal::kStale)], 1);
  EXPECT_NEAR(h.scan_rate, 11.0, 1e-9);
  EXPECT_NEAR(h.last_scan_age, 0.1, 1e-9);
  EXPECT_EQ(core.Report(11.7).level, spnode::Health::kOk);
  h = core.Report(12.3);
  EXPECT_EQ(h.level, spnode::Health::kError);
  EXPECT_EQ(h.message, "stale laser: no usable scan for 0.80 s");
}

}  // namespace
