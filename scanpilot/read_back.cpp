// SPDX-License-Identifier: BSD-3-Clause
// Reading a step's pass back from the planner: its fields, and its walk
// replayed cell by cell.
#include <cstddef>

#include "pathgrid.h"
#include "pilot_internal.h"
#include "scanpilot.h"

using namespace scanpilot_pilot;

namespace {

// calPointCost of a blocked or walked cell, and of a target cell (attraction 255).
constexpr int kVisited = 999;
constexpr int kTargetCost = -kPathgridTargetMark;

std::size_t CellIndex(int col, int row) { return static_cast<std::size_t>(row * kPilotGridCells + col); }

// The planner does not tell where StartPos put the walker: the centre if
// free, else the first free cell, row by row, of the smallest square
// [50-i, 50+i-1]^2. The walk replay checks the answer.
PilotCell FindStart() {
  if (ChkTarget(kCentreCell, kCentreCell)) return {kCentreCell, kCentreCell};
  for (int i = 1; i < kCentreCell; ++i)
    for (int row = kCentreCell - i; row <= kCentreCell + i - 1; ++row)
      for (int col = kCentreCell - i; col <= kCentreCell + i - 1; ++col)
        if (ChkTarget(col, row)) return {col, row};
  return {kCentreCell, kCentreCell};
}

void ReadFields(PilotPass& p) {
  for (int row = 0; row < kPilotGridCells; ++row)
    for (int col = 0; col < kPilotGridCells; ++col) {
      const std::size_t k = CellIndex(col, row);
      p.blocked[k] = ChkTarget(col, row) ? 0 : 1;
      p.attraction[k] = p.blocked[k] ? 0 : static_cast<unsigned char>(-calPointCost(col, row));
    }
}

// The neighbour of `cur` that the last PathGrow marked, in the walker's order.
bool NewlyWalked(PilotCell cur, const PilotPass& p, const unsigned char* walked, PilotCell& next) {
  for (int k = 0; k < kPilotSteps; ++k) {
    const PilotCell c{cur.col + kPilotStepCol[k], cur.row + kPilotStepRow[k]};
    if (!OnGrid(c)) continue;
    const std::size_t i = CellIndex(c.col, c.row);
    if (!p.blocked[i] && !walked[i] && calPointCost(c.col, c.row) == kVisited) {
      next = c;
      return true;
    }
  }
  return false;
}

// Replays the walk from the start cell into p.path. False when the walk
// does not fit the start cell found for it.
bool WalkFrom(PilotPass& p) {
  unsigned char walked[kPilotCells] = {};
  StartPos();
  PilotCell cur = p.start;
  p.path_cells = 0;
  while (p.path_cells < kPilotCells && PathGrow()) {
    PilotCell next{};
    if (!NewlyWalked(cur, p, walked, next)) return false;
    const std::size_t i = CellIndex(next.col, next.row);
    walked[i] = 1;
    p.path[p.path_cells++] = next;
    cur = next;
    if (p.attraction[i] == static_cast<unsigned char>(-kTargetCost)) return true;
  }
  // A walk stuck where it stands marks that cell: on the first step, the start.
  return p.path_cells > 0 || calPointCost(p.start.col, p.start.row) == kVisited;
}

}  // namespace

bool Pilot::ReadPass(PilotPass& out) {
  out.path_cells = 0;
  out.start = {kCentreCell, kCentreCell};
  out.consistent = false;
  if (!live_ || !stepped_) return false;
  InitHelper();  // the only way to clear the walk's marks without walking
  SetBorder(border_);
  SetRanges(readings_);
  ClearTarget();
  if (last_.has_target) SetTarget(last_.target.col, last_.target.row);
  ReadFields(out);
  out.start = FindStart();
  out.consistent = WalkFrom(out) && out.path_cells == last_.path_cells;
  if (out.consistent && out.path_cells > 0) {
    const PilotCell end = out.path[out.path_cells - 1];
    out.consistent = static_cast<float>(CellToMetres(end.row)) == last_.path_end.x &&
                     static_cast<float>(CellToMetres(end.col)) == last_.path_end.y;
  }
  return true;
}
