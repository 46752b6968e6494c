#include "output/grid_view.h"

#include "grid_frame.h"
#include "pathgrid.h"

namespace {

constexpr int kVisited = 999;
constexpr int kTargetCost = -255;  // only target cells hold attraction 255

std::size_t Index(int col, int row) { return static_cast<std::size_t>(row * kGridCells + col); }

// The planner does not tell where StartPos put the walker, so the picture
// re-derives it from the blocked test: the centre if free, else the first free
// cell, row by row, of the smallest square [50-i, 50+i-1]^2. WalkFrom checks
// the answer against the walk itself.
Cell FindStart() {
  if (ChkTarget(kCentreCell, kCentreCell)) return {kCentreCell, kCentreCell};
  for (int i = 1; i < kCentreCell; ++i)
    for (int row = kCentreCell - i; row <= kCentreCell + i - 1; ++row)
      for (int col = kCentreCell - i; col <= kCentreCell + i - 1; ++col)
        if (ChkTarget(col, row)) return {col, row};
  return {kCentreCell, kCentreCell};
}

// Reads every cell's cost, and from it the blocked cells and the attraction.
void ReadFields(GridView& v, std::vector<int>& cost) {
  v.blocked.assign(kGridCells * kGridCells, 0);
  v.attraction.assign(kGridCells * kGridCells, -1);
  cost.assign(kGridCells * kGridCells, 0);
  for (int row = 0; row < kGridCells; ++row)
    for (int col = 0; col < kGridCells; ++col) {
      const std::size_t k = Index(col, row);
      cost[k] = calPointCost(col, row);
      v.blocked[k] = ChkTarget(col, row) ? 0 : 1;
      if (!v.blocked[k]) v.attraction[k] = -cost[k];
    }
}

// The neighbour of `cur` that the last PathGrow marked, in the walker's order.
bool NewlyVisited(Cell cur, const std::vector<int>& cost, Cell& next) {
  for (int s = 0; s < kSteps; ++s) {
    const int c = cur.col + kStepCol[s], r = cur.row + kStepRow[s];
    if (!OnGrid(c, r)) continue;
    if (cost[Index(c, r)] != kVisited && calPointCost(c, r) == kVisited) {
      next = {c, r};
      return true;
    }
  }
  return false;
}

// Replays the walk from the start cell, recording each step in v.path.
// Returns false if the walk does not fit the start cell found for it.
bool WalkFrom(GridView& v, std::vector<int>& cost) {
  StartPos();
  Cell cur = v.start;
  while (static_cast<int>(v.path.size()) < kGridCells * kGridCells && PathGrow()) {
    Cell next{};
    if (!NewlyVisited(cur, cost, next)) return false;  // the walker was not where FindStart put it
    const bool on_target = cost[Index(next.col, next.row)] == kTargetCost;
    cost[Index(next.col, next.row)] = kVisited;
    v.path.push_back(next);
    cur = next;
    if (on_target) return true;
  }
  // A walk stuck where it stands marks that cell: on the first step, the start.
  return !v.path.empty() || calPointCost(v.start.col, v.start.row) == kVisited;
}

}  // namespace

GridView CaptureGridView(const Scan& scan_in, bool has_target, Cell target, bool reached, float border) {
  GridView v{};
  v.scan = scan_in;
  v.has_target = has_target;
  v.target = target;
  v.raw_target = target;
  v.reached = reached;
  v.fix_x = GetFixX();
  v.fix_y = GetFixY();
  v.face_x = GetFaceX();
  v.face_y = GetFaceY();
  v.bearing = CalAngle(v.fix_x, v.fix_y);
  const int real_length = GetHelperNum();

  Scan scan = scan_in;
  InitHelper();
  SetBorder(border);
  SetRanges(scan.data());
  ClearTarget();
  if (has_target) SetTarget(target.col, target.row);

  std::vector<int> cost;
  ReadFields(v, cost);
  v.start = FindStart();
  v.consistent = WalkFrom(v, cost) && static_cast<int>(v.path.size()) == real_length;
  if (v.consistent && !v.path.empty()) {
    const Cell end = v.path.back();
    v.consistent = static_cast<float>(CellToMetres(end.row)) == v.face_x &&
                   static_cast<float>(CellToMetres(end.col)) == v.face_y;
  }
  return v;
}
