// SPDX-License-Identifier: BSD-3-Clause
// One scan as the planner takes it: a range per degree of the robot frame
// (180 ahead, 270 left), in metres.
#ifndef SCANPILOT_BASE_SCAN_H
#define SCANPILOT_BASE_SCAN_H

#include <array>

constexpr int kScanReadings = 360;
using Scan = std::array<float, kScanReadings>;

#endif
