// SPDX-License-Identifier: BSD-3-Clause
#include "route.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace scanpilot_route {
namespace {

constexpr int kCentre = kPathgridCentre;
constexpr double kCellsPerMetre = kPathgridCellsPerMetre;
constexpr double kCell = kPathgridCellSize;
// Squared distance of a cell no return is near.
constexpr float kFar = 1e9f;
// How far a return's stamp reaches (cells): the preferred clearance of 0.5 m
// at most, plus one.
constexpr int kMaxReach = 11;
constexpr int kLethal = -1;
// Straight and diagonal steps.
constexpr int kStraight = 10;
constexpr int kDiagonal = 14;
constexpr int kDirs = 8;
// The straight line to the goal, a little under a straight step per cell so
// that it never overestimates: routes stay the shortest (a heavier weight
// opens fewer cells but leads into pockets).
constexpr double kHeuristic = 9.9;
constexpr int kDirCol[kDirs] = {1, -1, 0, 0, 1, 1, -1, -1};
constexpr int kDirRow[kDirs] = {0, 0, 1, -1, 1, -1, 1, -1};
// A route may end this near the goal (m): the goal itself may lie in a
// return's margin (a person, a goal drawn on a wall).
constexpr double kGoalReach = 0.5;
// A goal this far out (m) lies at or beyond the window's edge: a route may
// end anywhere out there too, paying the straight line to the goal.
constexpr double kRim = 2.3;
// The search's goal node: reached from every cell where a route may end.
constexpr int kEnd = kCells;

int g_reach = 0;                // stamp reach, cells
int g_max_penalty = 0;          // the extra cost of a step at the radius
int g_half[2 * kMaxReach + 1];  // half width of the stamp's disc per row
double g_cos[360], g_sin[360];  // of each reading's degree
double g_radius2 = 0.0;         // squared radius and preferred clearance, cells^2
double g_preferred2 = 0.0;
double g_radius_cells = 0.0, g_preferred_cells = 0.0, g_clearance_cost = 0.0;
int g_penalty[kCells];  // per cell: kLethal or extra cost of a step onto it
float g_point_row[360], g_point_col[360];
float g_d2[kCells];  // squared distance (cells^2) to the nearest return
unsigned char g_occupied[kCells];
int g_occupied_list[360];
int g_cost[kCells + 1];  // cost from the robot
int g_parent[kCells + 1];
unsigned char g_state[kCells];  // 0 new, 1 open, 2 closed
int g_heap[kCells + 1];
int g_heap_pos[kCells + 1];
long long g_key[kCells + 1];
unsigned char g_state_end = 0;
int g_heap_size = 0;
int g_path[kCells];
// The last route's first cells, in metres of its frame, and the cells they
// fall on now.
constexpr int kKeep = 80;
// Extra cost of a step off the last route: a fifth of a straight step
// per cell makes another way round win only when it is clearly shorter.
constexpr int kOffRoute = 5;
double g_prev_x[kKeep], g_prev_y[kKeep];
int g_prev = 0;
bool g_carried = false;  // g_on_route holds the last route
unsigned char g_on_route[kCells];

int Penalty(int cell) { return g_penalty[cell]; }

int CellOf(double metres) {
  const double v = kCentre + 0.5 + kCellsPerMetre * metres;
  if (!(v >= 0.0 && v < kSide)) return -1;
  return static_cast<int>(v);
}

double Metres(int cell) { return static_cast<double>(cell - kCentre) * kCell; }

// ---- an indexed binary heap of cells by key ----

bool Before(int a, int b) { return g_key[a] < g_key[b] || (g_key[a] == g_key[b] && a < b); }

void Place(int at, int cell) {
  g_heap[at] = cell;
  g_heap_pos[cell] = at;
}

void SiftUp(int at) {
  const int cell = g_heap[at];
  while (at > 0) {
    const int up = (at - 1) / 2;
    if (!Before(cell, g_heap[up])) break;
    Place(at, g_heap[up]);
    at = up;
  }
  Place(at, cell);
}

void SiftDown(int at) {
  const int cell = g_heap[at];
  for (;;) {
    int child = 2 * at + 1;
    if (child >= g_heap_size) break;
    if (child + 1 < g_heap_size && Before(g_heap[child + 1], g_heap[child])) ++child;
    if (!Before(g_heap[child], cell)) break;
    Place(at, g_heap[child]);
    at = child;
  }
  Place(at, cell);
}

void Push(int cell) {
  Place(g_heap_size, cell);
  SiftUp(g_heap_size++);
}

int Pop() {
  const int top = g_heap[0];
  --g_heap_size;
  if (g_heap_size > 0) {
    Place(0, g_heap[g_heap_size]);
    SiftDown(0);
  }
  return top;
}

// ---- the clearance field ----

// The squared distance from every cell centre within reach to a return at
// (pr, pc) in cell units: rotating the robot moves it smoothly, not a cell
// at a time.
void Stamp(int row, int col, float pr, float pc) {
  const int r0 = row - g_reach < 0 ? 0 : row - g_reach;
  const int r1 = row + g_reach >= kSide ? kSide - 1 : row + g_reach;
  for (int r = r0; r <= r1; ++r) {
    // Only the disc of the reach: farther cells pay nothing anyway.
    const int half = g_half[r - row + g_reach];
    const int c0 = col - half < 0 ? 0 : col - half;
    const int c1 = col + half >= kSide ? kSide - 1 : col + half;
    float* p = g_d2 + r * kSide;
    const float dr = static_cast<float>(r) - pr;
    const float base = dr * dr;
    for (int c = c0; c <= c1; ++c) {
      const float dc = static_cast<float>(c) - pc;
      const float v = base + dc * dc;
      p[c] = v < p[c] ? v : p[c];
    }
  }
}

void Field(const float* readings) {
  std::memset(g_occupied, 0, sizeof g_occupied);
  for (float& v : g_d2) v = kFar;
  int n = 0;
  for (int i = 0; i < 360; ++i) {
    const double d = readings[i];
    if (!(d > 0.0) || !std::isfinite(d)) continue;
    const double x = -d * g_cos[i], y = -d * g_sin[i];
    const int row = CellOf(x), col = CellOf(y);
    if (row < 0 || col < 0) continue;
    // Returns in one cell lie within its width of each other: the first
    // stands for them all.
    const int k = row * kSide + col;
    if (g_occupied[k]) continue;
    g_occupied[k] = 1;
    g_occupied_list[n] = k;
    g_point_row[n] = static_cast<float>(kCentre + kCellsPerMetre * x);
    g_point_col[n] = static_cast<float>(kCentre + kCellsPerMetre * y);
    ++n;
  }
  for (int j = 0; j < n; ++j)
    Stamp(g_occupied_list[j] / kSide, g_occupied_list[j] % kSide, g_point_row[j], g_point_col[j]);
  for (int k = 0; k < kCells; ++k) {
    const double d2 = g_d2[k];
    if (d2 < g_radius2) {
      g_penalty[k] = kLethal;
    } else if (d2 < g_preferred2) {
      g_penalty[k] = static_cast<int>(kStraight * g_clearance_cost * (g_preferred_cells - std::sqrt(d2)) /
                                          (g_preferred_cells - g_radius_cells) +
                                      0.5);
    } else {
      g_penalty[k] = 0;
    }
  }
}

// Straight-line cost from cell (row, col) to the goal (gx, gy).
int ToGoal(int row, int col, double gx, double gy) {
  const double dx = Metres(row) - gx, dy = Metres(col) - gy;
  return static_cast<int>(kHeuristic * kCellsPerMetre * std::sqrt(dx * dx + dy * dy));
}

// Whether a route may end on cell (row, col): near the goal, or out on the
// window's edge when the goal lies there or beyond.
bool MayEnd(int row, int col, double gx, double gy, bool far) {
  const double x = Metres(row), y = Metres(col);
  const double dx = x - gx, dy = y - gy;
  if (dx * dx + dy * dy <= kGoalReach * kGoalReach) return true;
  return far && x * x + y * y >= kRim * kRim;
}

void Open(int cell, int cost, int parent, int h) {
  g_cost[cell] = cost;
  g_parent[cell] = parent;
  // Equal estimates go to the cell nearer the goal: fewer cells opened.
  g_key[cell] = (static_cast<long long>(cost + h) << 16) | h;
  const bool is_open = cell == kEnd ? g_state_end == 1 : g_state[cell] == 1;
  if (is_open) {
    SiftUp(g_heap_pos[cell]);
    return;
  }
  if (cell == kEnd)
    g_state_end = 1;
  else
    g_state[cell] = 1;
  Push(cell);
}

// Search from the robot's cell to the goal node. A cell too close to a
// return may be entered only from another one and only away from the
// return: the way out when the robot already stands too close. Returns the
// cell the route ends on, or -1.
int Search(int start, double gx, double gy) {
  std::memset(g_state, 0, sizeof g_state);
  g_state_end = 0;
  g_heap_size = 0;
  const bool far = gx * gx + gy * gy >= kRim * kRim;
  Open(start, 0, -1, ToGoal(start / kSide, start % kSide, gx, gy));
  while (g_heap_size > 0) {
    const int cur = Pop();
    if (cur == kEnd) return g_parent[kEnd];
    g_state[cur] = 2;
    const int row = cur / kSide, col = cur % kSide;
    if (MayEnd(row, col, gx, gy, far)) {
      const int total = g_cost[cur] + ToGoal(row, col, gx, gy);
      if (g_state_end == 0 || total < g_cost[kEnd]) Open(kEnd, total, cur, 0);
    }
    const bool cur_lethal = Penalty(cur) == kLethal;
    for (int k = 0; k < kDirs; ++k) {
      const int r = row + kDirRow[k], c = col + kDirCol[k];
      if (r < 0 || r >= kSide || c < 0 || c >= kSide) continue;
      const int next = r * kSide + c;
      if (g_state[next] == 2) continue;
      int pen = Penalty(next);
      if (pen == kLethal) {
        if (!cur_lethal || g_d2[next] <= g_d2[cur]) continue;
        pen = g_max_penalty;
      }
      if (g_carried && !g_on_route[next]) pen += kOffRoute;
      const bool diagonal = k >= 4;
      const int step = diagonal ? kDiagonal + pen * kDiagonal / kStraight : kStraight + pen;
      const int cost = g_cost[cur] + step;
      if (g_state[next] == 1 && cost >= g_cost[next]) continue;
      Open(next, cost, cur, ToGoal(r, c, gx, gy));
    }
  }
  return -1;
}

// Squared distance (m^2) of cell `p` from the line through the robot and cell `q`.
double OffLine(int p, int q) {
  const double px = Metres(p / kSide), py = Metres(p % kSide);
  const double qx = Metres(q / kSide), qy = Metres(q % kSide);
  const double len2 = qx * qx + qy * qy;
  const double cross = px * qy - py * qx;
  return cross * cross / len2;
}

// Marks the last route, moved into this frame, three cells wide.
void CarryRoute(const Motion& m) {
  std::memset(g_on_route, 0, sizeof g_on_route);
  const double c = std::cos(m.turn), s = std::sin(m.turn);
  for (int i = 0; i < g_prev; ++i) {
    const double px = g_prev_x[i] - m.x, py = g_prev_y[i] - m.y;
    const int row = CellOf(c * px + s * py), col = CellOf(-s * px + c * py);
    if (row < 0 || col < 0) continue;
    for (int dr = -1; dr <= 1; ++dr)
      for (int dc = -1; dc <= 1; ++dc) {
        const int r = row + dr, cc = col + dc;
        if (r >= 0 && r < kSide && cc >= 0 && cc < kSide) g_on_route[r * kSide + cc] = 1;
      }
  }
}

}  // namespace

void Forget() { g_prev = 0; }

void Setup(double radius, double preferred, double clearance_cost) {
  for (int i = 0; i < 360; ++i) {
    const double a = i * (3.14159265358979323846 / 180.0);
    g_cos[i] = std::cos(a);
    g_sin[i] = std::sin(a);
  }
  if (preferred < radius) preferred = radius;
  // A cell beyond the preferred clearance pays nothing; the reach covers
  // it with a cell to spare for a return off its cell's centre.
  g_reach = static_cast<int>(std::ceil(preferred * kCellsPerMetre)) + 1;
  if (g_reach > kMaxReach) g_reach = kMaxReach;
  for (int i = 0; i <= 2 * g_reach; ++i) {
    const int d = i - g_reach;
    g_half[i] = static_cast<int>(std::floor(std::sqrt(static_cast<double>(g_reach * g_reach - d * d))));
  }
  g_radius_cells = radius * kCellsPerMetre;
  g_preferred_cells = preferred * kCellsPerMetre;
  g_radius2 = g_radius_cells * g_radius_cells;
  g_preferred2 = preferred > radius ? g_preferred_cells * g_preferred_cells : g_radius2;
  g_clearance_cost = clearance_cost;
  g_max_penalty = static_cast<int>(kStraight * clearance_cost + 0.5);
}

void Plan(const float* readings, double goal_x, double goal_y, double lookahead, const Motion* moved, Result& out) {
  out = Result{};
  Field(readings);
  g_carried = moved != nullptr && g_prev > 0;
  if (g_carried) CarryRoute(*moved);
  const int start = kCentre * kSide + kCentre;
  g_prev = 0;
  const int goal = Search(start, goal_x, goal_y);
  if (goal < 0) return;
  out.goal_moved = goal != CellOf(goal_x) * kSide + CellOf(goal_y) || CellOf(goal_x) < 0 || CellOf(goal_y) < 0;
  int n = 0;
  for (int c = goal; c != start; c = g_parent[c]) g_path[n++] = c;
  // g_path runs from the goal back; reverse to walk from the robot.
  for (int i = 0, j = n - 1; i < j; ++i, --j) {
    const int t = g_path[i];
    g_path[i] = g_path[j];
    g_path[j] = t;
  }
  for (int i = 0; i < n && i < kKeep; ++i) {
    g_prev_x[i] = Metres(g_path[i] / kSide);
    g_prev_y[i] = Metres(g_path[i] % kSide);
  }
  g_prev = n < kKeep ? n : kKeep;
  out.found = true;
  out.cells = n;
  if (n == 0) {
    out.look_x = out.end_x = goal_x;
    out.look_y = out.end_y = goal_y;
    return;
  }
  out.end_x = Metres(g_path[n - 1] / kSide);
  out.end_y = Metres(g_path[n - 1] % kSide);
  // The farthest cell within the lookahead whose straight line from the
  // robot keeps every earlier route cell within a cell's width: steering at
  // it follows the route without cutting its corners.
  const double ahead2 = lookahead * lookahead;
  const double slack2 = kCell * kCell;
  int pick = 0;
  for (int k = 0; k < n; ++k) {
    const double x = Metres(g_path[k] / kSide), y = Metres(g_path[k] % kSide);
    if (k > 0 && x * x + y * y > ahead2) break;
    bool follows = true;
    for (int j = 0; j < k && follows; ++j) follows = OffLine(g_path[j], g_path[k]) <= slack2;
    if (follows) pick = k;
  }
  out.look_x = Metres(g_path[pick] / kSide);
  out.look_y = Metres(g_path[pick] % kSide);
}

}  // namespace scanpilot_route
