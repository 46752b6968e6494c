// SPDX-License-Identifier: BSD-3-Clause
#include "output/grid_view.h"

#include <algorithm>
#include <memory>

GridView CaptureGridView(Pilot& pilot, const PilotStep& step) {
  GridView v{};
  std::copy(pilot.Readings(), pilot.Readings() + kScanReadings, v.scan.begin());
  v.has_target = step.has_target;
  v.target = {step.target.col, step.target.row};
  v.raw_target = step.has_tracked ? Cell{step.tracked_cell.col, step.tracked_cell.row} : v.target;
  v.reached = step.reached;
  v.speed = step.command.speed;
  v.turn_rate = step.command.turn_rate;
  v.reason = PilotReasonName(step.reason);
  v.fix_x = step.steering.x;
  v.fix_y = step.steering.y;
  v.face_x = step.path_end.x;
  v.face_y = step.path_end.y;
  v.bearing = step.bearing;
  v.has_tracked = step.has_tracked;
  v.tracked_x = step.tracked.x;
  v.tracked_y = step.tracked.y;
  v.robot_radius = pilot.Config().robot_radius;

  static const auto pass = std::make_unique<PilotPass>();  // 100 KB, reused
  v.consistent = pilot.ReadPass(*pass) && pass->consistent;
  v.blocked.assign(pass->blocked, pass->blocked + kPilotCells);
  v.attraction.resize(kPilotCells);
  for (int k = 0; k < kPilotCells; ++k) v.attraction[static_cast<std::size_t>(k)] = pass->blocked[k] ? -1 : pass->attraction[k];
  v.start = {pass->start.col, pass->start.row};
  for (int k = 0; k < pass->path_cells; ++k) v.path.push_back({pass->path[k].col, pass->path[k].row});
  return v;
}
