// SPDX-License-Identifier: BSD-3-Clause
// A copy of what the planner saw and did on one scan, for pictures: the
// pilot reads its last pass back cell by cell (Pilot::ReadPass).
#ifndef SCANPILOT_OUTPUT_GRID_VIEW_H
#define SCANPILOT_OUTPUT_GRID_VIEW_H

#include <string>
#include <vector>

#include "base/scan.h"
#include "grid_frame.h"
#include "scanpilot.h"

struct GridView {
  std::vector<unsigned char> blocked;  // 100*100, row-major, 1 = blocked
  std::vector<int> attraction;         // 100*100, 0..255 on free cells, -1 blocked
  std::vector<Cell> path;              // walking order, as the pass recorded it
  Cell start;
  bool has_target;
  Cell target, raw_target;             // screened target, tracked point's cell
  bool reached;
  float fix_x, fix_y, face_x, face_y, bearing;
  Scan scan;
  bool has_tracked;
  float tracked_x, tracked_y;
  double robot_radius;                 // metres, for the drawing
  bool consistent;                     // replayed walk matches the real pass
  std::string title;
  double speed, turn_rate;  // the step's command
  const char* reason;       // why the speed is zero, or "driving" (PilotReasonName)
};

// Call right after `step`, the pilot's last one, before the next. The
// planner is restamped with the same scan and target afterwards.
GridView CaptureGridView(Pilot& pilot, const PilotStep& step);

#endif
