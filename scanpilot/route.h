// SPDX-License-Identifier: BSD-3-Clause
// The pilot's own route through the scan's window: a clearance field from
// the returns, then a shortest path that pays for passing closer than the
// preferred clearance and never comes closer than the robot's radius.
// Internal to scanpilot. State lives in fixed tables: one live Pilot per
// process uses it, no allocation.
#ifndef SCANPILOT_ROUTE_H
#define SCANPILOT_ROUTE_H

#include "pathgrid_grid.h"

namespace scanpilot_route {

// Grid of 100 x 100 cells of 0.05 m with the robot at the centre of cell
// (50, 50): row = floor(50.5 + 20 X), column = floor(50.5 + 20 Y).
constexpr int kSide = kPathgridSide;
constexpr int kCells = kSide * kSide;

struct Result {
  bool found;     // a route from the robot to the goal (or the free cell nearest it)
  int cells;      // cells walked, start excluded
  double look_x;  // where to steer: the farthest route cell within the lookahead
  double look_y;  //   that the straight line from the robot still follows
  double end_x;   // the route's last cell
  double end_y;
  bool goal_moved;  // the goal cell itself was too close to a return
  int cost;         // of the route, in tenths of a straight step, the straight line on included
};

// Tables for a robot radius and the clearance it prefers (m, preferred >=
// radius, at most 0.5) and the extra cost of a step at the radius, in steps.
void Setup(double radius, double preferred, double clearance_cost);

// The robot's move since the last Plan: ahead and left (m) and turned (rad).
struct Motion {
  double x, y, turn;
};

// Plans from the robot to (goal_x, goal_y) (metres, robot frame) through
// the 360 readings (returns: finite and > 0). `lookahead` in metres. With
// `moved`, the last route, carried into this frame, is a little cheaper to
// walk again: two ways round of about the same length do not take turns.
void Plan(const float* readings, double goal_x, double goal_y, double lookahead, const Motion* moved, Result& out);

// Drops the last route (a new start, or steps without a route).
void Forget();

// The last Plan's squared distance from the centre of cell (row, col) to the
// nearest return, in sixteenths of a cell squared, capped where a cell stops
// paying for clearance; -1 off the grid. For tests.
int FieldAt(int row, int col);

}  // namespace scanpilot_route

#endif
