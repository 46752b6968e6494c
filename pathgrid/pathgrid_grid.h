// SPDX-License-Identifier: BSD-3-Clause
// The planner's grid and its attraction cone as numbers, for code that
// converts, draws or publishes the planner's cells. Constants and one inline
// function only: including it adds no symbol to any library.
//
//   Cell (x, y) = (column, row), 0..kPathgridSide-1; the robot on
//   (kPathgridCentre, kPathgridCentre); X = (row - centre) * cell size,
//   Y = (column - centre) * cell size; metres to cell is
//   trunc(centre + cells per metre * metres).
#ifndef PATHGRID_GRID_H
#define PATHGRID_GRID_H

#include <cmath>

constexpr int kPathgridSide = 100;                             // cells per side
constexpr int kPathgridCells = kPathgridSide * kPathgridSide;  // cells in all
constexpr int kPathgridCentre = kPathgridSide / 2;             // the robot's cell, both axes
constexpr double kPathgridCellsPerMetre = 20.0;                // cells in a metre
// Metres per cell; 1 / 20 rounds to the same double as the literal 0.05.
constexpr double kPathgridCellSize = 1.0 / kPathgridCellsPerMetre;
// Metres from the robot's cell to the grid's edge: 2.5 (exact).
constexpr double kPathgridReach = kPathgridCentre * kPathgridCellSize;

// A target cell's own attraction, above anything its cone gives.
constexpr int kPathgridTargetMark = 255;
// The cone around a target: kPathgridConeTop less the whole cells of
// distance, 0 from kPathgridConeTop cells out (the target itself is marked).
constexpr int kPathgridConeTop = 127;

// Attraction of the cell (dcol, drow) away from a single target: the mark on
// the target, else the cone. sqrt of an exact integer rounds the same in
// every IEEE implementation (a browser's too).
inline int PathgridConeAt(int dcol, int drow) {
  if (dcol == 0 && drow == 0) return kPathgridTargetMark;
  const double d = std::sqrt(static_cast<double>(dcol) * dcol + static_cast<double>(drow) * drow);
  return d >= kPathgridConeTop ? 0 : kPathgridConeTop - static_cast<int>(d);
}

#endif
