// SPDX-License-Identifier: BSD-3-Clause
// From the host's own types to the run viewer's plain ones.
#ifndef SCANPILOT_OUTPUT_VIEWER_VIEWER_GLUE_H
#define SCANPILOT_OUTPUT_VIEWER_VIEWER_GLUE_H

#include <string>
#include <vector>

#include "output/grid_view.h"
#include "output/viewer/run_html.h"
#include "world/scenario.h"

// The grid part of a tick: cells, path, target, steering, bearing (degrees;
// NaN when there is none), scan, tracked point; `info` is the tick's line.
// Pose, person and distance are not in a GridView: the caller adds them.
ViewerTick ViewerTickFromGridView(const GridView& v, const std::string& info);

// Walls, pillars and size of the room, and the person's planned route.
ViewerRoom ViewerRoomFromRoom(const Room& room, const std::vector<Vec2>& route);

#endif
