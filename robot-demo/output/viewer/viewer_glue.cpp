// SPDX-License-Identifier: BSD-3-Clause
#include "output/viewer/viewer_glue.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

namespace {

ViewerCell ToCell(Cell c) { return {c.col, c.row}; }

}  // namespace

ViewerTick ViewerTickFromGridView(const GridView& v, const std::string& info) {
  ViewerTick t;
  t.blocked.resize(v.blocked.size());
  for (std::size_t k = 0; k < v.blocked.size(); ++k) t.blocked[k] = v.blocked[k] != 0 ? 1 : 0;
  t.attraction.resize(v.attraction.size());
  for (std::size_t k = 0; k < v.attraction.size(); ++k)  // -1 marks a blocked cell
    t.attraction[k] = static_cast<unsigned char>(std::clamp(v.attraction[k], 0, 255));
  std::copy(v.scan.begin(), v.scan.end(), t.scan.begin());
  t.path.reserve(v.path.size());
  for (const Cell& c : v.path) t.path.push_back(ToCell(c));
  t.start = ToCell(v.start);
  t.steering = {v.fix_x, v.fix_y};
  t.path_end = {v.face_x, v.face_y};
  t.has_target = v.has_target;
  t.target = ToCell(v.target);
  // The pictures draw the tracked point's cell only beside a target.
  t.has_raw_target = v.has_target;
  t.raw_target = ToCell(v.raw_target);
  t.has_tracked = v.has_tracked;
  t.tracked = {v.tracked_x, v.tracked_y};
  t.reached = v.reached;
  t.path_length = static_cast<int>(v.path.size());
  t.bearing_deg = std::isfinite(v.bearing) ? static_cast<float>(static_cast<double>(v.bearing) * 180.0 / kPi)
                                           : std::numeric_limits<float>::quiet_NaN();
  t.info = info;
  t.has_command = true;
  t.speed = v.speed;
  t.turn_rate = v.turn_rate;
  t.reason = v.reason != nullptr ? v.reason : "";
  return t;
}

ViewerRoom ViewerRoomFromRoom(const Room& room, const std::vector<Vec2>& route) {
  ViewerRoom r;
  r.width = room.width;
  r.depth = room.depth;
  for (const Segment& s : room.walls) r.walls.push_back({s.a.x, s.a.y, s.b.x, s.b.y});
  for (const Disc& d : room.pillars) r.pillars.push_back({d.c.x, d.c.y, d.r});
  for (const Vec2& p : route) r.route.push_back({p.x, p.y});
  return r;
}
