// SPDX-License-Identifier: BSD-3-Clause
// What scanpilot's units share: the grid's numbers, the configuration's
// checks the step needs too, and the step's process-wide state reset by
// Start. Internal to scanpilot.
#ifndef SCANPILOT_PILOT_INTERNAL_H
#define SCANPILOT_PILOT_INTERNAL_H

#include <cmath>
#include <cstddef>
#include <limits>

#include "scanpilot.h"

namespace scanpilot_pilot {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDeg = kPi / 180.0;
constexpr double kDegPerRad = 180.0 / kPi;
constexpr float kNoReturn = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

constexpr int kCentreCell = kPathgridCentre;
constexpr double kCellsPerMetre = kPathgridCellsPerMetre;
constexpr double kCellSize = kPathgridCellSize;

inline bool OnGrid(PilotCell c) {
  return c.col >= 0 && c.col < kPilotGridCells && c.row >= 0 && c.row < kPilotGridCells;
}

inline double CellToMetres(int cell) { return static_cast<double>(cell - kCentreCell) * kCellSize; }

// ---- configuration (scanpilot.cpp) ----

// The goal's cell; false when it is not finite or off the grid.
bool GoalCell(const PilotGoal& g, PilotCell& cell);
// Whether range limits [lo, hi] let the guard see every return it needs.
bool LimitsShowGuard(const PilotConfig& c, double lo, double hi);
ScanLayout MountedLayout(const PilotConfig& c, const ScanLayout& own);
// Steps of recovery in the configured time (rounded).
int RecoverySteps(const PilotConfig& c);

// ---- the step's state (control.cpp) ----

// A new Pilot's: the readings' directions, the route's tables for its
// robot, no route held and no search.
void ResetStep(const PilotConfig& c);
// The tracker restarted at `at`: the search starts from there afresh.
void ResetSearch(PilotPoint at, int steps);

}  // namespace scanpilot_pilot

#endif
