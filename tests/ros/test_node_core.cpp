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

  ASSERT_EQ(Read({{"max_speed", Int(1)}, {"mode", Str("follow")}, {"follow_distance", Num(0.8)},
                  {"upside_down", Bool(true)}, {"mount_yaw_deg", Int(180)}, {"max_range", Num(5.5)},
                  {"use_tf", Bool(false)},
                  {"scan_queue", Int(50)}, {"base_frame", Str("base_footprint")}},
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
      {{"robot_radius", Num(0.4)}},                 // 0.4 + 0.15 over the planner's 0.5
      {{"goal_x", Num(3.0)}},                       // off the 5 m grid
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
}

}  // namespace
