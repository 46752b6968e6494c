// SPDX-License-Identifier: BSD-3-Clause
// pathgrid_grid.h against what the planner and the pilot actually do: a
// wrong number there would make every host drawing, the ROS grid and the
// page's cone disagree with the planner.
#include <gtest/gtest.h>

#include <cmath>

#include "pathgrid.h"
#include "pathgrid_grid.h"
#include "scanpilot.h"

namespace {

void EmptyScan(float* scan) {
  for (int i = 0; i < 360; ++i) scan[i] = INFINITY;
}

TEST(GridNumbers, ConeIsWhatThePlannerStampsAroundATarget) {
  float scan[360];
  EmptyScan(scan);
  // A target at the centre and one in a corner: the cone is clipped there.
  const int targets[][2] = {{kPathgridCentre, kPathgridCentre}, {3, kPathgridSide - 2}};
  for (const auto& t : targets) {
    InitHelper();
    SetRanges(scan);
    ClearTarget();
    SetTarget(t[0], t[1]);
    int wrong = 0;
    for (int row = 0; row < kPathgridSide; ++row)
      for (int col = 0; col < kPathgridSide; ++col)
        if (calPointCost(col, row) != -PathgridConeAt(col - t[0], row - t[1])) ++wrong;
    EXPECT_EQ(wrong, 0) << "target " << t[0] << "," << t[1];
  }
  // The far edge of the cone: the last ring that still pulls, and the first that does not.
  EXPECT_EQ(PathgridConeAt(kPathgridConeTop - 1, 0), 1);
  EXPECT_EQ(PathgridConeAt(kPathgridConeTop, 0), 0);
  EXPECT_EQ(PathgridConeAt(1, 1), kPathgridConeTop - 1);
}

TEST(GridNumbers, CellsAndMetresAreThePlannersAndThePilots) {
  EXPECT_EQ(kPathgridCellSize, 0.05);
  EXPECT_EQ(kPathgridReach, 2.5);
  EXPECT_EQ(kPilotGridCells, kPathgridSide);
  float scan[360];
  EmptyScan(scan);
  // A walk k cells straight ahead ends k cell sizes out.
  InitHelper();
  SetRanges(scan);
  ClearTarget();
  SetTarget(kPathgridCentre, kPathgridCentre + 17);
  ASSERT_TRUE(OutLine());
  EXPECT_EQ(GetHelperNum(), 17);
  EXPECT_EQ(GetFaceX(), static_cast<float>(17 * kPathgridCellSize));
  EXPECT_EQ(GetFaceY(), 0.0f);
  // One return 1.234 m ahead and a one-cell disk: only the cell
  // trunc(centre + cells per metre * 1.234) of the robot's column is blocked.
  SetBorder(0.05f);
  scan[180] = 1.234f;
  SetRanges(scan);
  const int row = static_cast<int>(kPathgridCentre + kPathgridCellsPerMetre * static_cast<double>(1.234f));
  EXPECT_EQ(row, 74);
  EXPECT_FALSE(ChkTarget(kPathgridCentre, row));
  EXPECT_TRUE(ChkTarget(kPathgridCentre, row - 1));
  EXPECT_TRUE(ChkTarget(kPathgridCentre, row + 1));
  // The pilot's conversion is the same rule, on either side of the centre.
  for (double m : {1.234, -0.01, -2.5, 2.449})
    EXPECT_EQ(PilotMetresToCell(m), static_cast<int>(kPathgridCentre + kPathgridCellsPerMetre * m)) << m;
}

TEST(GridNumbers, PilotsPassReadsBackTheConeAroundItsGoal) {
  PilotConfig config;
  config.goal = PilotGoal::Cell(kPathgridCentre + 5, kPathgridCentre + 30);
  Pilot pilot;
  ASSERT_EQ(pilot.Start(config), PilotError::kNone);
  float scan[360];
  EmptyScan(scan);
  PilotStep step;
  ASSERT_TRUE(pilot.Step(scan, nullptr, step));
  static PilotPass pass;
  ASSERT_TRUE(pilot.ReadPass(pass));
  int wrong = 0;
  for (int row = 0; row < kPathgridSide; ++row)
    for (int col = 0; col < kPathgridSide; ++col)
      if (pass.attraction[row * kPathgridSide + col] !=
          PathgridConeAt(col - config.goal.cell.col, row - config.goal.cell.row))
        ++wrong;
  EXPECT_EQ(wrong, 0);
}

}  // namespace
