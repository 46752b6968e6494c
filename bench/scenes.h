// SPDX-License-Identifier: BSD-3-Clause
// Fixed inputs shared by the benchmarks and the instruction counter.
#ifndef SCANPILOT_BENCH_SCENES_H
#define SCANPILOT_BENCH_SCENES_H

#include <array>
#include <cmath>
#include <limits>

using Scan = std::array<float, 360>;

inline Scan FilledScan(float value) {
  Scan s;
  s.fill(value);
  return s;
}

// A 4 m x 3 m room seen from a point off its centre: every reading is an
// echo between about 0.5 m and 3 m, so every disk lands on the grid or near it.
inline Scan RoomScan() {
  Scan s;
  const double left = 1.6, right = 2.4, back = 1.2, front = 1.8;  // metres to each wall
  for (int i = 0; i < 360; ++i) {
    const double a = i * 3.141592653589793 / 180.0;
    const double dx = -std::cos(a);  // robot frame direction of reading i
    const double dy = -std::sin(a);
    double d = std::numeric_limits<double>::infinity();
    if (dx > 1e-9) d = std::fmin(d, front / dx);
    if (dx < -1e-9) d = std::fmin(d, back / -dx);
    if (dy > 1e-9) d = std::fmin(d, right / dy);
    if (dy < -1e-9) d = std::fmin(d, left / -dy);
    s[static_cast<size_t>(i)] = static_cast<float>(std::fmin(d, 3.0) * (1.0 + 0.002 * std::sin(7.0 * i)));
  }
  return s;
}

#endif
