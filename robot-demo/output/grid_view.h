// A copy of what the planner saw and did on one scan, for pictures.
//
// The planner keeps its fields private, so the view is rebuilt through its
// public operations: after the real pass, the planner is re-initialised (the
// only way to zero the path marks without walking), given back the caller's
// border and restamped with the same scan and target. The costs of all cells
// are read with calPointCost (free cells cost minus their attraction), and the
// walk is replayed with StartPos and PathGrow, each step found as the one
// neighbour whose cost turned to "visited". The replay is checked against the
// real pass's length and end.
#ifndef SCANPILOT_OUTPUT_GRID_VIEW_H
#define SCANPILOT_OUTPUT_GRID_VIEW_H

#include <string>
#include <vector>

#include "grid_frame.h"
#include "input/scan_text.h"

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
  bool consistent;                     // replayed walk matches the real pass
  std::string title;
};

// Call right after the real OutLine of this scan, with the same inputs and
// the inflation radius the caller last gave SetBorder (InitHelper's 0.35 m if
// never). Restarts the planner: afterwards it holds that border, this scan and
// this target, and nothing stamped with SetObst. The next scan's SetRanges,
// ClearTarget/SetTarget and OutLine rebuild everything a pass reads.
GridView CaptureGridView(const Scan& scan, bool has_target, Cell target, bool reached, float border);

#endif
