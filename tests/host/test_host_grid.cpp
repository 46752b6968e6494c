// SPDX-License-Identifier: BSD-3-Clause
// The host's grid frame and its planner pictures: the host must pick the
// cells the planner picks, and drawing a pass must not change the planner.
#include "grid_frame.h"
#include "output/grid_view.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "scanpilot.h"

namespace {

TEST(HostFrame, MetresToCellTruncatesAfterTheCentreOffset) {
  EXPECT_EQ(MetresToCell(0.0), 50);
  EXPECT_EQ(MetresToCell(-0.01), 49);  // not 50 + trunc(-0.2)
  EXPECT_EQ(MetresToCell(0.049), 50);
  EXPECT_EQ(MetresToCell(1.0), 70);
  EXPECT_EQ(MetresToCell(-2.5), 0);
  EXPECT_EQ(MetresToCell(-2.51), 0);  // 50 + 20 m = -0.2 truncates to 0
  EXPECT_EQ(MetresToCell(2.49), 99);
  EXPECT_FALSE(OnGrid(MetresToCell(2.5), 50));
  EXPECT_FALSE(OnGrid(MetresToCell(-2.6), 50));
}

TEST(HostFrame, MetresToCellIsDefinedForAnyValue) {
  // Each must come back off the grid; the sanitizer build traps an unguarded cast.
  const double inf = std::numeric_limits<double>::infinity();
  for (double m : {std::nan(""), inf, -inf, 1e300, -1e300, 1e9, -1e9}) {
    const int c = MetresToCell(m);
    EXPECT_FALSE(OnGrid(c, 50)) << m << " -> " << c;
  }
}

TEST(HostFrame, StepsAreTheEightNeighboursOnceEach) {
  bool seen[3][3] = {};
  for (int s = 0; s < kSteps; ++s) {
    const int dc = kStepCol[s], dr = kStepRow[s];
    ASSERT_TRUE(dc >= -1 && dc <= 1 && dr >= -1 && dr <= 1 && (dc != 0 || dr != 0)) << s;
    EXPECT_FALSE(seen[dc + 1][dr + 1]) << s;
    seen[dc + 1][dr + 1] = true;
  }
}

TEST(HostFrame, CellCentresMapBackToTheirCell) {
  EXPECT_EQ(CellToMetres(50), 0.0);
  EXPECT_DOUBLE_EQ(CellToMetres(70), 1.0);
  EXPECT_DOUBLE_EQ(CellToMetres(0), -2.5);
  for (int c = 0; c < kGridCells; ++c) EXPECT_EQ(MetresToCell(CellToMetres(c) + kCellSize / 2), c) << c;
}

// One reading straight ahead at 1 m: a point on cell (50, 70).
Scan PointAhead() {
  Scan s;
  s.fill(std::numeric_limits<float>::infinity());
  s[180] = 1.0f;
  return s;
}

// A pilot planning toward (50, 90) with returns inflated by `border`.
PilotConfig TowardFarAhead(double border) {
  PilotConfig c;
  c.robot_radius = border;
  c.margin = 0.0;
  c.goal = PilotGoal::Cell(50, 90);
  return c;
}

// (50, 65) lies 0.25 m from the point: blocked by a 0.35 m border, free with 0.1 m.
constexpr Cell kNearPoint{50, 65};

TEST(HostGridView, KeepsTheRunsBorder) {
  Pilot pilot;
  ASSERT_EQ(pilot.Start(TowardFarAhead(0.1)), PilotError::kNone);
  const Scan scan = PointAhead();
  PilotStep step;
  pilot.Step(scan.data(), nullptr, step);
  const GridView v = CaptureGridView(pilot, step);
  EXPECT_TRUE(v.consistent);
  EXPECT_EQ(v.blocked[kNearPoint.row * kGridCells + kNearPoint.col], 0);
  EXPECT_EQ(v.blocked[70 * kGridCells + 50], 1);
  EXPECT_EQ(v.robot_radius, 0.1);
  // The next step still inflates by 0.1 m: the capture gave the border back.
  PilotStep again;
  pilot.Step(scan.data(), nullptr, again);
  EXPECT_EQ(again.path_cells, step.path_cells);

  ASSERT_EQ(pilot.Start(TowardFarAhead(0.35)), PilotError::kNone);
  pilot.Step(scan.data(), nullptr, step);
  const GridView w = CaptureGridView(pilot, step);
  EXPECT_TRUE(w.consistent);
  EXPECT_EQ(w.blocked[kNearPoint.row * kGridCells + kNearPoint.col], 1);
}

TEST(HostGridView, ReplaysThePassFromAnOffCentreStart) {
  // A zero reading blocks the robot's own cell: the walk starts beside it.
  Pilot pilot;
  ASSERT_EQ(pilot.Start(TowardFarAhead(0.35)), PilotError::kNone);
  Scan scan = PointAhead();
  scan[0] = 0.0f;
  PilotStep step;
  pilot.Step(scan.data(), nullptr, step);
  const GridView v = CaptureGridView(pilot, step);
  ASSERT_TRUE(v.consistent);
  EXPECT_FALSE(v.start.col == 50 && v.start.row == 50);
  EXPECT_EQ(v.blocked[static_cast<std::size_t>(v.start.row * kGridCells + v.start.col)], 0);
  ASSERT_FALSE(v.path.empty());
  EXPECT_LE(std::abs(v.path[0].col - v.start.col), 1);
  EXPECT_LE(std::abs(v.path[0].row - v.start.row), 1);
  EXPECT_EQ(static_cast<int>(v.path.size()), step.path_cells);
  EXPECT_EQ(v.scan[0], 0.0f) << "the view shows the scan the planner got";
}

// Readings on the centres of the robot cell's eight neighbours.
Scan RingAroundTheRobot() {
  Scan s;
  s.fill(std::numeric_limits<float>::infinity());
  for (int dc = -1; dc <= 1; ++dc)
    for (int dr = -1; dr <= 1; ++dr) {
      if (dc == 0 && dr == 0) continue;
      const double x = CellToMetres(kCentreCell + dr) + kCellSize / 2;
      const double y = CellToMetres(kCentreCell + dc) + kCellSize / 2;
      // x = -d cos(i), y = -d sin(i); half a degree off moves the point < 1 mm.
      const long i = std::lround(std::atan2(-y, -x) * 180.0 / kPi + 360.0) % 360;
      s[static_cast<std::size_t>(i)] = static_cast<float>(std::hypot(x, y));
    }
  return s;
}

TEST(HostGridView, WalkStuckOnTheStartIsStillConsistent) {
  // A 5 cm border blocks only the cell a reading lands on: the robot's cell
  // stays free, its neighbours do not, and the pass cannot take a step.
  Pilot pilot;
  ASSERT_EQ(pilot.Start(TowardFarAhead(0.05)), PilotError::kNone);
  const Scan scan = RingAroundTheRobot();
  PilotStep step;
  pilot.Step(scan.data(), nullptr, step);
  ASSERT_EQ(step.path_cells, 0);
  const GridView v = CaptureGridView(pilot, step);
  EXPECT_TRUE(v.consistent);
  EXPECT_TRUE(v.path.empty());
  EXPECT_EQ(v.start.col, 50);
  EXPECT_EQ(v.start.row, 50);
  EXPECT_EQ(v.blocked[50 * kGridCells + 50], 0);
  EXPECT_EQ(v.blocked[51 * kGridCells + 51], 1);
}

TEST(HostGridView, WalkThatSticksAfterSomeSteps) {
  // Readings all round at 0.3 m: the walk wanders inside the ring and sticks.
  Pilot pilot;
  ASSERT_EQ(pilot.Start(TowardFarAhead(0.1)), PilotError::kNone);
  Scan scan;
  scan.fill(0.3f);
  PilotStep step;
  pilot.Step(scan.data(), nullptr, step);
  EXPECT_FALSE(step.reached);
  EXPECT_GT(step.path_cells, 0);
  const GridView v = CaptureGridView(pilot, step);
  EXPECT_TRUE(v.consistent);
  EXPECT_EQ(static_cast<int>(v.path.size()), step.path_cells);
}

}  // namespace
