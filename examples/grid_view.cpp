#include "grid_view.h"

#include "pathgrid.h"

namespace {

constexpr int kN = 100;
constexpr int kVisited = 999;

std::size_t Index(int col, int row) { return static_cast<std::size_t>(row * kN + col); }

// The start search, re-derived from the blocked test: the centre if free, else
// the first free cell, row by row, of the smallest square [50-i, 50+i-1]^2.
Cell FindStart() {
  if (ChkTarget(50, 50)) return {50, 50};
  for (int i = 1; i < 50; ++i)
    for (int row = 50 - i; row <= 50 + i - 1; ++row)
      for (int col = 50 - i; col <= 50 + i - 1; ++col)
        if (ChkTarget(col, row)) return {col, row};
  return {50, 50};
}

}  // namespace

GridView CaptureGridView(const Scan& scan_in, bool has_target, Cell target, bool reached) {
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
  InitHelper();  // the only way to zero the path marks without walking
  SetRanges(scan.data());
  ClearTarget();
  if (has_target) SetTarget(target.col, target.row);

  v.blocked.assign(kN * kN, 0);
  v.attraction.assign(kN * kN, -1);
  std::vector<int> cost(kN * kN);
  for (int row = 0; row < kN; ++row)
    for (int col = 0; col < kN; ++col) {
      const std::size_t k = Index(col, row);
      cost[k] = calPointCost(col, row);
      v.blocked[k] = ChkTarget(col, row) ? 0 : 1;
      if (!v.blocked[k]) v.attraction[k] = -cost[k];
    }

  v.start = FindStart();
  StartPos();
  static const int kOrder[8][2] = {{0, 1}, {-1, 1}, {1, 1}, {0, -1}, {-1, -1}, {1, -1}, {-1, 0}, {1, 0}};
  Cell cur = v.start;
  while (static_cast<int>(v.path.size()) < kN * kN && PathGrow()) {
    Cell next{-1, -1};
    for (const auto& o : kOrder) {
      const int c = cur.col + o[0], r = cur.row + o[1];
      if (c < 0 || c >= kN || r < 0 || r >= kN) continue;
      if (cost[Index(c, r)] != kVisited && calPointCost(c, r) == kVisited) {
        next = {c, r};
        break;
      }
    }
    if (next.col < 0) break;  // cannot happen if PathGrow behaves as documented
    const bool on_target = cost[Index(next.col, next.row)] == -255;  // only target cells hold 255
    cost[Index(next.col, next.row)] = kVisited;
    v.path.push_back(next);
    cur = next;
    if (on_target) break;
  }

  v.consistent = static_cast<int>(v.path.size()) == real_length;
  if (v.consistent && !v.path.empty()) {
    const Cell end = v.path.back();
    v.consistent = static_cast<float>((end.row - 50) * 0.05) == v.face_x &&
                   static_cast<float>((end.col - 50) * 0.05) == v.face_y;
  }
  return v;
}
