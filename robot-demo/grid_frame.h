// SPDX-License-Identifier: BSD-3-Clause
// The planner's grid as the host sees it: 100 x 100 cells of 5 cm, the robot
// on (50, 50), the row growing with X (ahead) and the column with Y (left).
// Every metre-to-cell conversion in the host goes through here, so that the
// host picks the same cells as the planner does.
#ifndef SCANPILOT_GRID_FRAME_H
#define SCANPILOT_GRID_FRAME_H

#include "pathgrid_grid.h"
#include "scanpilot.h"

constexpr double kPi = 3.14159265358979323846;

// One cell: column (Y, left) and row (X, ahead), 0..99 on the grid.
struct Cell {
  int col, row;
};

constexpr int kGridCells = kPathgridSide;        // cells per side
constexpr int kCentreCell = kPathgridCentre;     // the robot's cell, both axes
constexpr double kCellSize = kPathgridCellSize;  // metres
constexpr double kCellsPerMetre = kPathgridCellsPerMetre;
constexpr double kGridReach = kPathgridReach;  // metres from the robot to the grid's edge

// Returned by MetresToCell for a value that lands below cell 0 (or is NaN).
constexpr int kOffGridLow = -1;
// Returned by MetresToCell for a value that lands at or above cell 1000.
constexpr int kOffGridHigh = 1000;

// Fractional cell coordinate of a distance in metres, for drawing.
constexpr double CellCoordinate(double metres) { return kCentreCell + kCellsPerMetre * metres; }

// trunc(50 + 20 * metres), the planner's own rule: -0.01 m is cell 49, and a
// sum between -1 and 0 truncates to cell 0. Values off the grid come back as
// kOffGridLow or kOffGridHigh, so the conversion is always defined.
inline int MetresToCell(double metres) { return PilotMetresToCell(metres); }

// A cell's 8 neighbours in the walker's order (scanpilot.h). The run viewer
// codes each path step as its index here and hands the table to the page.
constexpr int kSteps = kPilotSteps;
inline constexpr const int (&kStepCol)[kSteps] = kPilotStepCol;
inline constexpr const int (&kStepRow)[kSteps] = kPilotStepRow;

inline bool OnGrid(int col, int row) {
  return col >= 0 && col < kGridCells && row >= 0 && row < kGridCells;
}

// Distance of a cell index from the robot's, in metres (row -> X, column -> Y).
inline double CellToMetres(int cell) { return static_cast<double>(cell - kCentreCell) * kCellSize; }

#endif
