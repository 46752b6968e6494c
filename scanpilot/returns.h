// SPDX-License-Identifier: BSD-3-Clause
// This step's returns as robot-frame points, and the distance from a point
// to the nearest of them. Internal to scanpilot. State lives in fixed
// tables: one live Pilot per process uses it, no allocation.
#ifndef SCANPILOT_RETURNS_H
#define SCANPILOT_RETURNS_H

namespace scanpilot_returns {

constexpr int kReadings = 360;

// Takes the 360 readings' returns (finite and > 0): reading i at
// (d * dir_x[i], d * dir_y[i]), in double, where (dir_x[i], dir_y[i]) is a
// unit vector. Others are no point. The readings are copied; the
// direction tables are kept and must stay until the last Clearance.
// Answers how many returns lie nearer than `radius`.
int Take(const float* readings, const double* dir_x, const double* dir_y, double radius);

// The degrees of the last Take whose reading is not > 0 (NaN, -inf, zero
// or negative), in order; `count` of them.
const int* NotClear(int& count);

// The distance from (x, y) to the nearest return taken, as the square root
// of the least of (px - x)^2 + (py - y)^2 over every return; +inf without
// one (or before any Take), or when (x, y) is not finite.
double Clearance(double x, double y);

}  // namespace scanpilot_returns

#endif
