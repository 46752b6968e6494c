// How a follower turns the tracker's point into the planner's target cell.
// Shared by the demo's follower and the replay's --follow.
#ifndef SCANPILOT_RUNS_FOLLOW_TARGET_H
#define SCANPILOT_RUNS_FOLLOW_TARGET_H

struct FollowTarget {
  int raw_col, raw_row;        // cell of the tracked point, pulled onto the grid
  int target_col, target_row;  // first free cell toward the robot, or -1, -1
};

// Tracked point (metres, robot frame) -> cell, pulled in to 2.4 m so that it
// stays on the grid, then walked toward the robot until it leaves the inflated
// obstacles (the followed person is one of them). Needs this scan's SetRanges.
// A non-finite point gives no target.
FollowTarget ScreenedFollowTarget(float tracked_x, float tracked_y);

#endif
