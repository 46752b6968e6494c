#include "runs/follow_target.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "grid_frame.h"
#include "pathgrid.h"

namespace {

// The tracked point is pulled in to this distance before it becomes a target
// cell, so that the cell stays on the grid (which reaches 2.5 m each way).
constexpr float kMaxTargetReach = 2.4f;

}  // namespace

FollowTarget ScreenedFollowTarget(float tracked_x, float tracked_y) {
  FollowTarget r{};
  float tx = tracked_x, ty = tracked_y;
  const float reach = std::hypot(tx, ty);
  if (std::isfinite(reach) && reach > kMaxTargetReach) {
    tx = tx * kMaxTargetReach / reach;
    ty = ty * kMaxTargetReach / reach;
  }
  r.raw_col = MetresToCell(ty);
  r.raw_row = MetresToCell(tx);
  r.target_col = -1;
  r.target_row = -1;
  if (!std::isfinite(reach)) return r;
  const int steps = std::max(std::abs(r.raw_col - kCentreCell), std::abs(r.raw_row - kCentreCell));
  for (int k = 0; k < steps; ++k) {
    const double f = 1.0 - static_cast<double>(k) / steps;
    const int col = kCentreCell + static_cast<int>(std::lround(f * (r.raw_col - kCentreCell)));
    const int row = kCentreCell + static_cast<int>(std::lround(f * (r.raw_row - kCentreCell)));
    if (ChkTarget(col, row)) {
      r.target_col = col;
      r.target_row = row;
      return r;
    }
  }
  return r;
}
