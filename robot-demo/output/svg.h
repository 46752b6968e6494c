// SPDX-License-Identifier: BSD-3-Clause
// Plain-text SVG pictures of a run and of single planner passes.
#ifndef SCANPILOT_OUTPUT_SVG_H
#define SCANPILOT_OUTPUT_SVG_H

#include <string>
#include <vector>

#include "output/grid_view.h"
#include "world/scenario.h"

struct RunTrace {
  std::vector<Pose> robot;      // at t = 0 and after each tick
  std::vector<Vec2> person;     // likewise
  std::vector<int> snapshots;   // ticks that got a grid picture
  double dt;
  double robot_radius;          // metres
};

std::string RunSvg(const Room& room, const std::vector<Vec2>& route, const RunTrace& trace);
std::string GridSvg(const GridView& view);

#endif
