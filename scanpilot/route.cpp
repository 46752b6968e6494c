// SPDX-License-Identifier: BSD-3-Clause
#include "route.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace scanpilot_route {
namespace {

constexpr int kCentre = kPathgridCentre;
constexpr double kCellsPerMetre = kPathgridCellsPerMetre;
constexpr double kCell = kPathgridCellSize;
// Straight and diagonal steps.
constexpr int kStraight = 10;
constexpr int kDiagonal = 14;
// A route may end this near the goal (m): the goal itself may lie in a
// return's margin (a person, a goal drawn on a wall).
constexpr double kGoalReach = 0.5;
// A goal this far out (m) lies at or beyond the window's edge: a route may
// end anywhere out there too, paying the open-floor cost on to the goal.
constexpr double kRim = 2.3;

// Every table is laid out in rows of kStride slots: the grid's 100 columns
// from kPad on, the rest padding that a stamp may spill into and that the
// search treats as walled, and a walled row above and below. Neighbours are
// then one offset away with no bounds test.
constexpr int kPad = 16;
constexpr int kStride = 128;
constexpr int kSlots = (kSide + 2) * kStride;
// The search's goal node: reached from every cell where a route may end.
constexpr int kEnd = kSlots;

constexpr int Slot(int row, int col) { return (row + 1) * kStride + col + kPad; }
constexpr int RowOf(int slot) { return static_cast<int>(static_cast<unsigned>(slot) / kStride) - 1; }
constexpr int ColOf(int slot) { return static_cast<int>(static_cast<unsigned>(slot) % kStride) - kPad; }
constexpr unsigned SlotRowOf(int slot) { return static_cast<unsigned>(slot) / kStride; }
constexpr unsigned SlotColOf(int slot) { return static_cast<unsigned>(slot) % kStride; }

// Return positions are quantised to a quarter cell (12.5 mm): squared
// distances are then small integers, the same on every CPU, and a stamp is
// a copy of one of 16 precomputed discs.
constexpr int kSub = 4;
constexpr int kSub2 = kSub * kSub;
// A disc reaches at most kMaxHalf cells each way (0.5 m of preferred
// clearance plus the return's offset in its cell), in rows of up to kMaxWidth.
constexpr int kMaxHalf = 11;
constexpr int kMaxWidth = 32;
constexpr int kDiscRows = 2 * kMaxHalf + 1;
// Penalties beyond this (clearance_cost 50) keep every step cost within the
// bucket queue's span.
constexpr int kMaxPenalty = 500;
// Extra cost of a step off the last route: a fifth of a straight step
// per cell makes another way round win only when it is clearly shorter.
constexpr int kOffRoute = 5;
// The bucket queue spans more than any step's rise of estimate: a
// diagonal step at the highest penalty off the route plus the heuristic's
// fall over a diagonal.
constexpr int kRing = 1024;
static_assert(kDiagonal + (kMaxPenalty + kOffRoute) * kDiagonal / kStraight + 16 < kRing, "ring too short");

// ---- sizes ----
// A disc row in the tables has kDiscPad slots of g_free either side, so
// that any tile's 16-slot window over it reads the disc's values there.
constexpr int kDiscPad = 16;
constexpr int kDiscRowLen = kDiscPad + kMaxWidth + kDiscPad;
// A field value carries kOnRoute when its cell lies on the last route.
constexpr int kOnRoute = 2048;
// The cost of a step onto a cell by its field value: [route carried][diagonal];
// kLethalStep onto a cell too close to a return.
constexpr std::int16_t kLethalStep = INT16_MAX;
// The field is made a tile at a time, when the search first reads a tile:
// most of the window is never read. Tiles are 16 slot rows by 16 slot columns.
constexpr int kTileRows = 16;
constexpr int kTileCols = 16;
constexpr int kBlocks = kStride / kTileCols;
static_assert(kDiscPad >= kTileCols, "a tile's window over a disc row stays in its padding");
constexpr int kTiles = (kSide + 2 + kTileRows - 1) / kTileRows * kBlocks;
constexpr int TileOf(int slot) {
  return static_cast<int>(static_cast<unsigned>(slot) / kStride / kTileRows * kBlocks +
                          static_cast<unsigned>(slot) % kStride / kTileCols);
}
// The route carried from the last plan: its first cells.
constexpr int kKeep = 80;
// A popped slot opens at most 8 queue entries and one of the goal node:
// that bounds the pool.
constexpr int kEntries = 9 * kCells + 2;

// ---- tables made by Setup ----
int g_width = 16;                    // 16 or 32 slots per disc row
int g_lo = 0, g_hi = -1;             // disc rows and columns: offsets g_lo..g_hi
int g_free = 0;                      // D from which a cell pays nothing
int g_lethal = 0;                    // D from which a cell may be entered
int g_penalty[kSub2 * 10 * 10 + 1];  // by D up to g_free (at most 0.5 m of preferred clearance)
std::int16_t g_step[2][2][2 * kOnRoute];
int g_max_penalty = 0;          // the extra cost of a step at the radius
double g_cos[360], g_sin[360];  // of each reading's degree
int g_reach_bands = 1;          // tiles a disc reaches beyond its own, up and down

// ---- per plan ----
// The tables the field and the search run through, in one object: the
// compiler keeps one base address for all of them.
struct Tables {
  // min(D, g_free) around a return, by its offset (made by Setup).
  std::int16_t disc[kSub2][kDiscRows][kDiscRowLen];
  // Cells out on the window's edge, where a route toward a far goal may end
  // (made by Setup).
  unsigned char rim[kSlots];
  // Cells whose ring of eight reaches into another tile (made by Setup).
  unsigned char edge[kSlots];
  // Squared distance, in sixteenths of a cell squared, from each cell's
  // centre to the nearest return, at most g_free; plus kOnRoute on the last
  // route. Valid in the tiles made for this plan (tile_plan).
  std::int16_t field[kSlots];
  std::uint32_t tile_plan[kTiles];
  // The cells that hold returns (the first return in a cell stands for
  // all), each with its disc, listed by the tile they lie in.
  unsigned char occupied[kSlots];
  int stamp_slot[360], stamp_disc[360], stamp_next[360];
  int tile_first[kTiles];
  // The carried route's cells, listed by every tile their ring of eight
  // touches: a tile made marks the rings of its list kOnRoute.
  int ring_slot[4 * kKeep], ring_next[4 * kKeep];
  int ring_first[kTiles];
  // Search marks: a slot is open at g_base, closed above it, new below;
  // walls hold the largest value, closed for every search.
  std::uint32_t visit[kSlots + 1];
  int cost[kSlots + 1];  // from the robot
  int h[kSlots + 1];     // estimate to the goal
  int parent[kSlots + 1];
  // Queue entries in buckets by estimated total, last in first out. A slot
  // whose cost falls is queued again rather than moved; its older entry,
  // behind in a later bucket, is skipped as closed.
  int entry_slot[kEntries];
  int entry_next[kEntries];
  int bucket[kRing];
  // Per search: squared offsets (m^2) of each row and column from the
  // goal, and the same offsets in 1/64 cell; indexed by a slot's row (slot
  // / kStride) and column (slot % kStride), so that a slot needs no
  // unpacking.
  double goal_dx2[kSide + 2];
  double goal_dy2[kStride];
  int goal_ar[kSide + 2];
  int goal_ac[kStride];
};
Tables g_t;
int g_stamps = 0;
std::uint32_t g_plan = 0;  // a tile is made for the plan whose number it holds
int g_rings = 0;
std::uint32_t g_base = 0;
int g_path[kSide * kSide];
// The last route's first cells, in metres of its frame.
double g_prev_x[kKeep], g_prev_y[kKeep];
int g_prev = 0;
bool g_carried = false;

int CellOf(double metres) {
  const double v = kCentre + 0.5 + kCellsPerMetre * metres;
  if (!(v >= 0.0 && v < kSide)) return -1;
  return static_cast<int>(v);
}

double Metres(int cell) { return static_cast<double>(cell - kCentre) * kCell; }

// Walls round the grid, and every cell new.
void ResetMarks() {
  for (int s = 0; s <= kSlots; ++s) g_t.visit[s] = UINT32_MAX;
  for (int r = 0; r < kSide; ++r)
    for (int c = 0; c < kSide; ++c) g_t.visit[Slot(r, c)] = 0;
  g_t.visit[kEnd] = 0;
  g_base = 2;
  for (int r = 0; r < kSide; ++r)
    for (int c = 0; c < kSide; ++c) {
      const double x = Metres(r), y = Metres(c);
      g_t.rim[Slot(r, c)] = x * x + y * y >= kRim * kRim;
      const int at = Slot(r, c);
      g_t.edge[at] = TileOf(at - kStride - 1) != TileOf(at + kStride + 1);
    }
}

// ---- the clearance field ----

// Farther than any grid cell's corner from the robot (m).
constexpr double kBeyondGrid = 3.7;
static_assert(kBeyondGrid * kBeyondGrid > 2 * (kCentre + 1) * kCell * (kCentre + 1) * kCell, "grid corner beyond");

// Lists the cells holding returns and their discs; tiles are made later.
void Field(const float* readings) {
  if (++g_plan == 0) {
    std::fill_n(g_t.tile_plan, kTiles, 0u);
    g_plan = 1;
  }
  std::fill_n(g_t.tile_first, kTiles, -1);
  for (int i = 0; i < g_stamps; ++i) g_t.occupied[g_t.stamp_slot[i]] = 0;
  g_stamps = 0;
  for (int i = 0; i < 360; ++i) {
    const double d = readings[i];
    // Beyond the grid's corners no return can fall on it.
    if (!(d > 0.0 && d < kBeyondGrid)) continue;
    // Quarter cells from the outer corner of cell (0, 0), rounded: the
    // grid spans [0, 400) of them.
    const double qr = kSub * (kCentre + kCellsPerMetre * (-d * g_cos[i])) + (0.5 + kSub / 2);
    const double qc = kSub * (kCentre + kCellsPerMetre * (-d * g_sin[i])) + (0.5 + kSub / 2);
    if (!(qr >= 0.0 && qr < kSub * kSide && qc >= 0.0 && qc < kSub * kSide)) continue;
    const unsigned iqr = static_cast<unsigned>(qr), iqc = static_cast<unsigned>(qc);
    // Returns in one cell lie within its width of each other: the first
    // stands for them all.
    const int s = Slot(static_cast<int>(iqr / kSub), static_cast<int>(iqc / kSub));
    if (g_t.occupied[s]) continue;
    g_t.occupied[s] = 1;
    const int t = TileOf(s);
    g_t.stamp_slot[g_stamps] = s;
    g_t.stamp_disc[g_stamps] = static_cast<int>(iqr % kSub * kSub + iqc % kSub);
    g_t.stamp_next[g_stamps] = g_t.tile_first[t];
    g_t.tile_first[t] = g_stamps++;
  }
}

// Makes tile t: every disc that reaches it, then the route's marks.
void MakeTile(int t) {
  g_t.tile_plan[t] = g_plan;
  const int band = t / kBlocks, block = t % kBlocks;
  // Slot rows of the grid in this tile, and its first column.
  const int top = std::max(band * kTileRows, 1), bottom = std::min(band * kTileRows + kTileRows, kSide + 1);
  const int left = block * kTileCols;
  for (int r = top; r < bottom; ++r)
    std::fill_n(g_t.field + r * kStride + left, kTileCols, static_cast<std::int16_t>(g_free));
  const int w = g_width;
  for (int b = std::max(band - g_reach_bands, 0); b <= band + g_reach_bands && b * kBlocks < kTiles; ++b)
    for (int k = std::max(block - 1, 0); k <= std::min(block + 1, kBlocks - 1); ++k)
      for (int i = g_t.tile_first[b * kBlocks + k]; i >= 0; i = g_t.stamp_next[i]) {
        const int s = g_t.stamp_slot[i];
        const int row = static_cast<int>(SlotRowOf(s)), c0 = static_cast<int>(SlotColOf(s)) - w / 2;
        if (c0 + w <= left || c0 >= left + kTileCols) continue;
        const int r0 = std::max(row + g_lo, top), r1 = std::min(row + g_hi + 1, bottom);
        if (r0 >= r1) continue;
        std::int16_t* dst = g_t.field + r0 * kStride + left;
        const std::int16_t* src = g_t.disc[g_t.stamp_disc[i]][r0 - row - g_lo] + kDiscPad + left - c0;
        for (int r = r0; r < r1; ++r, dst += kStride, src += kDiscRowLen) {
          std::int16_t m[kTileCols];
          for (int j = 0; j < kTileCols; ++j) m[j] = src[j] < dst[j] ? src[j] : dst[j];
          std::memcpy(dst, m, sizeof m);
        }
      }
  // A ring may reach into a tile made earlier: that tile has it listed
  // too, so marking it again changes nothing.
  for (int i = g_t.ring_first[t]; i >= 0; i = g_t.ring_next[i]) {
    const int at = g_t.ring_slot[i];
    for (int dr = -1; dr <= 1; ++dr)
      for (int dc = -1; dc <= 1; ++dc) g_t.field[at + dr * kStride + dc] |= kOnRoute;
  }
}

void NeedTile(int t) {
  if (g_t.tile_plan[t] != g_plan) MakeTile(t);
}

// The estimate's unit: 1/64 cell. In integers it never falls by more than
// a step costs, so the least open total never falls and the first route
// to come out of the queue is the cheapest.
constexpr int kGoalUnit = 64;

// The goal's row or column in 1/64 cell, rounded, held within 100 m.
int GoalUnits(double metres) {
  metres = metres < -100.0 ? -100.0 : metres > 100.0 ? 100.0 : metres;
  return static_cast<int>(std::floor(kGoalUnit * (kCentre + kCellsPerMetre * metres) + 0.5));
}

void GoalOffsets(double gx, double gy) {
  const int gr = GoalUnits(gx), gc = GoalUnits(gy);
  for (int i = 0; i < kSide; ++i) {
    const double dx = Metres(i) - gx, dy = Metres(i) - gy;
    g_t.goal_dx2[i + 1] = dx * dx;
    g_t.goal_dy2[i + kPad] = dy * dy;
    g_t.goal_ar[i + 1] = std::abs(kGoalUnit * i - gr);
    g_t.goal_ac[i + kPad] = std::abs(kGoalUnit * i - gc);
  }
}

// Cost from slot s to the goal over open floor: straight and diagonal
// steps, rounded down.
int ToGoal(int s) {
  const int a = g_t.goal_ar[SlotRowOf(s)], b = g_t.goal_ac[SlotColOf(s)];
  return static_cast<int>(static_cast<unsigned>(a > b ? kStraight * a + (kDiagonal - kStraight) * b
                                                      : kStraight * b + (kDiagonal - kStraight) * a) /
                          kGoalUnit);
}

// ---- the search ----

// Open slots wait in buckets by estimated total (cost plus estimate), last
// in first out. Totals in the queue never span more than kRing.
struct Queue {
  int least;    // no queued total is below this
  int entries;  // used from the pool
  int queued;   // entries not yet popped

  void Link(int s, int key) {
    const int b = key & (kRing - 1);
    g_t.entry_slot[entries] = s;
    g_t.entry_next[entries] = g_t.bucket[b];
    g_t.bucket[b] = entries++;
    ++queued;
  }
  // The open slot of least total, or -1 when none is left. `base` marks
  // open slots: an entry whose slot has closed since is stale.
  int Pop(std::uint32_t base) {
    while (queued > 0) {
      while (g_t.bucket[least & (kRing - 1)] < 0) ++least;
      const int e = g_t.bucket[least & (kRing - 1)];
      g_t.bucket[least & (kRing - 1)] = g_t.entry_next[e];
      --queued;
      const int s = g_t.entry_slot[e];
      if (g_t.visit[s] == base) return s;
    }
    return -1;
  }
  // Opens slot s at `cost` through `parent`, or lowers its cost. Totals do
  // not fall below the least with the estimate below; one that did would
  // still wait in the least bucket, not a turn ahead.
  void Open(int s, int cost, int parent, int h) {
    g_t.cost[s] = cost;
    g_t.h[s] = h;
    g_t.parent[s] = parent;
    const int key = cost + h;
    Link(s, key < least ? least : key);
  }
};

// Relaxes the step from `cur` (at cost `cur_cost`, field value `here`
// without its route mark) onto `next` with the step costs `step`. A cell
// too close to a return may be entered only from another one and only away
// from the return: the way out when the robot already stands too close.
template <bool kDiag>
inline void Relax(Queue& q, std::uint32_t base, int cur, int cur_cost, int here, int next, const std::int16_t* step) {
  const std::uint32_t seen = g_t.visit[next];
  if (seen > base) return;
  const int v = g_t.field[next];
  int cost = cur_cost + step[v];
  if (step[v] == kLethalStep) {
    if (here >= g_lethal || (v & (kOnRoute - 1)) <= here) return;
    const int pen = g_max_penalty + (g_carried && v < kOnRoute ? kOffRoute : 0);
    cost = cur_cost + (kDiag ? kDiagonal + pen * kDiagonal / kStraight : kStraight + pen);
  }
  if (seen == base) {
    if (cost >= g_t.cost[next]) return;
    q.Open(next, cost, cur, g_t.h[next]);
  } else {
    g_t.visit[next] = base;
    q.Open(next, cost, cur, ToGoal(next));
  }
}

// Search from the robot's cell to the goal node. Returns the slot the route
// ends on, or -1.
int Search(int start, double gx, double gy) {
  g_base += 2;
  if (g_base >= UINT32_MAX - 2) ResetMarks();
  const std::uint32_t base = g_base;
  for (int& b : g_t.bucket) b = -1;
  const bool far = gx * gx + gy * gy >= kRim * kRim;
  GoalOffsets(gx, gy);
  const std::int16_t* straight = g_step[g_carried ? 1 : 0][0];
  const std::int16_t* diagonal = g_step[g_carried ? 1 : 0][1];
  const int h0 = ToGoal(start);
  Queue q{h0, 0, 0};
  NeedTile(TileOf(start));
  g_t.visit[start] = base;
  q.Open(start, 0, -1, h0);
  for (;;) {
    const int cur = q.Pop(base);
    if (cur < 0) return -1;
    if (cur == kEnd) return g_t.parent[kEnd];
    g_t.visit[cur] = base + 1;
    // The tiles of its neighbours: its own was made before it was opened;
    // a ring that reaches out reaches the tiles of its corners.
    if (g_t.edge[cur]) {
      NeedTile(TileOf(cur - kStride - 1));
      NeedTile(TileOf(cur - kStride + 1));
      NeedTile(TileOf(cur + kStride - 1));
      NeedTile(TileOf(cur + kStride + 1));
    }
    const int here = g_t.field[cur] & (kOnRoute - 1);
    const int cost = g_t.cost[cur];
    // The last opened of equal totals comes out first: left-hand steps go
    // last, so that of two ways round alike the route takes the left, as
    // the pilot turns left on a tie.
    Relax<false>(q, base, cur, cost, here, cur - 1, straight);
    Relax<false>(q, base, cur, cost, here, cur + 1, straight);
    Relax<false>(q, base, cur, cost, here, cur + kStride, straight);
    Relax<false>(q, base, cur, cost, here, cur - kStride, straight);
    Relax<true>(q, base, cur, cost, here, cur + kStride - 1, diagonal);
    Relax<true>(q, base, cur, cost, here, cur - kStride - 1, diagonal);
    Relax<true>(q, base, cur, cost, here, cur + kStride + 1, diagonal);
    Relax<true>(q, base, cur, cost, here, cur - kStride + 1, diagonal);
    // A route may end near the goal, or out on the window's edge when the
    // goal lies there or beyond.
    const double dx2 = g_t.goal_dx2[SlotRowOf(cur)];
    if ((far && g_t.rim[cur]) ||
        (dx2 <= kGoalReach * kGoalReach && dx2 + g_t.goal_dy2[SlotColOf(cur)] <= kGoalReach * kGoalReach)) {
      const int total = cost + g_t.h[cur];
      const bool open = g_t.visit[kEnd] == base;
      if (!open || total < g_t.cost[kEnd]) {
        g_t.visit[kEnd] = base;
        q.Open(kEnd, total, cur, 0);
      }
    }
  }
}

// Squared distance (m^2) of cell `p` from the line through the robot and cell `q`.
double OffLine(int p, int q) {
  const double px = Metres(RowOf(p)), py = Metres(ColOf(p));
  const double qx = Metres(RowOf(q)), qy = Metres(ColOf(q));
  const double len2 = qx * qx + qy * qy;
  const double cross = px * qy - py * qx;
  return cross * cross / len2;
}

// Marks the last route, moved into this frame, three cells wide.
void ClearRoute() {
  std::fill_n(g_t.ring_first, kTiles, -1);
  g_rings = 0;
}

void ListRing(int t, int at) {
  g_t.ring_slot[g_rings] = at;
  g_t.ring_next[g_rings] = g_t.ring_first[t];
  g_t.ring_first[t] = g_rings++;
}

void CarryRoute(const Motion& m) {
  const double c = std::cos(m.turn), s = std::sin(m.turn);
  for (int i = 0; i < g_prev; ++i) {
    const double px = g_prev_x[i] - m.x, py = g_prev_y[i] - m.y;
    const int row = CellOf(c * px + s * py), col = CellOf(-s * px + c * py);
    if (row < 0 || col < 0) continue;
    // The ring round an edge cell falls on walls, which nothing reads. Its
    // corners' tiles are every tile it touches.
    const int at = Slot(row, col);
    const int t0 = TileOf(at - kStride - 1), t1 = TileOf(at - kStride + 1);
    const int t2 = TileOf(at + kStride - 1), t3 = TileOf(at + kStride + 1);
    ListRing(t0, at);
    if (t1 != t0) ListRing(t1, at);
    if (t2 != t0) ListRing(t2, at);
    if (t3 != t1 && t3 != t2) ListRing(t3, at);
  }
}

}  // namespace

void Forget() { g_prev = 0; }

int FieldAt(int row, int col) {
  if (row < 0 || row >= kSide || col < 0 || col >= kSide) return -1;
  NeedTile(TileOf(Slot(row, col)));
  return g_t.field[Slot(row, col)] & (kOnRoute - 1);
}

void Setup(double radius, double preferred, double clearance_cost) {
  for (int i = 0; i < 360; ++i) {
    const double a = i * (3.14159265358979323846 / 180.0);
    g_cos[i] = std::cos(a);
    g_sin[i] = std::sin(a);
  }
  if (!(radius >= 0.0)) radius = 0.0;
  if (radius > 0.5) radius = 0.5;
  if (!(preferred >= radius)) preferred = radius;
  if (preferred > 0.5) preferred = 0.5;
  const double radius_cells = radius * kCellsPerMetre, preferred_cells = preferred * kCellsPerMetre;
  const double radius2 = radius_cells * radius_cells, preferred2 = preferred_cells * preferred_cells;
  // D counts sixteenths of a cell squared: a cell is too close below
  // g_lethal, pays below g_free.
  g_lethal = 0;
  while (g_lethal / static_cast<double>(kSub2) < radius2) ++g_lethal;
  g_free = g_lethal;
  while (g_free / static_cast<double>(kSub2) < preferred2) ++g_free;
  const double top = kStraight * clearance_cost;
  g_max_penalty = top < kMaxPenalty ? static_cast<int>(top + 0.5) : kMaxPenalty;
  if (!(top >= 0.0)) g_max_penalty = 0;
  for (int d = 0; d <= g_free; ++d) {
    int p = 0;
    if (d >= g_lethal && d < g_free) {
      const double v =
          top * (preferred_cells - std::sqrt(d / static_cast<double>(kSub2))) / (preferred_cells - radius_cells) + 0.5;
      p = v < kMaxPenalty ? static_cast<int>(v) : kMaxPenalty;
    }
    g_penalty[d] = p;
  }
  // Lethal values are left to the search; a cell off a carried route pays
  // kOffRoute more.
  for (int carried = 0; carried < 2; ++carried)
    for (int v = 0; v < 2 * kOnRoute; ++v) {
      const int d = v & (kOnRoute - 1);
      const int pen = (d < g_free ? g_penalty[d] : 0) + (carried && v < kOnRoute ? kOffRoute : 0);
      const bool lethal = d < g_lethal;
      g_step[carried][0][v] = lethal ? kLethalStep : static_cast<std::int16_t>(kStraight + pen);
      g_step[carried][1][v] = lethal ? kLethalStep : static_cast<std::int16_t>(kDiagonal + pen * kDiagonal / kStraight);
    }
  // The discs: a return at quarter offset (or, oc) from its cell's centre,
  // (or, oc) in -2..1, lies D = (4 dr - or)^2 + (4 dc - oc)^2 from the
  // centre of the cell (dr, dc) away.
  g_lo = 0;
  g_hi = -1;
  for (int k = -kMaxHalf; k <= kMaxHalf; ++k)
    for (int o = -kSub / 2; o < kSub / 2; ++o)
      if ((kSub * k - o) * (kSub * k - o) < g_free) {
        if (k < g_lo) g_lo = k;
        if (k > g_hi) g_hi = k;
      }
  g_width = g_lo >= -8 && g_hi <= 7 ? 16 : 32;
  for (int disc = 0; disc < kSub2; ++disc) {
    const int orow = disc / kSub - kSub / 2, ocol = disc % kSub - kSub / 2;
    for (int i = 0; i < kDiscRows; ++i)
      for (int j = 0; j < kMaxWidth; ++j) {
        const int dr = kSub * (g_lo + i) - orow, dc = kSub * (j - g_width / 2) - ocol;
        const int d = dr * dr + dc * dc;
        g_t.disc[disc][i][kDiscPad + j] = static_cast<std::int16_t>(d < g_free ? d : g_free);
      }
    for (int i = 0; i < kDiscRows; ++i) {
      std::fill_n(g_t.disc[disc][i], kDiscPad, static_cast<std::int16_t>(g_free));
      std::fill_n(g_t.disc[disc][i] + kDiscPad + kMaxWidth, kDiscPad, static_cast<std::int16_t>(g_free));
    }
  }
  g_reach_bands = (std::max(-g_lo, g_hi) + kTileRows - 1) / kTileRows;
  std::fill_n(g_t.tile_plan, kTiles, 0u);
  std::fill_n(g_t.tile_first, kTiles, -1);
  ClearRoute();
  g_plan = 0;
  ResetMarks();
}

void Plan(const float* readings, double goal_x, double goal_y, double lookahead, const Motion* moved, Result& out) {
  out = Result{};
  Field(readings);
  ClearRoute();
  g_carried = moved != nullptr && g_prev > 0;
  if (g_carried) CarryRoute(*moved);
  const int start = Slot(kCentre, kCentre);
  g_prev = 0;
  const int goal = Search(start, goal_x, goal_y);
  if (goal < 0) return;
  out.cost = g_t.cost[kEnd];
  const int goal_row = CellOf(goal_x), goal_col = CellOf(goal_y);
  out.goal_moved = goal_row < 0 || goal_col < 0 || goal != Slot(goal_row, goal_col);
  int n = 0;
  for (int c = goal; c != start; c = g_t.parent[c]) g_path[n++] = c;
  // g_path runs from the goal back; reverse to walk from the robot.
  for (int i = 0, j = n - 1; i < j; ++i, --j) {
    const int t = g_path[i];
    g_path[i] = g_path[j];
    g_path[j] = t;
  }
  for (int i = 0; i < n && i < kKeep; ++i) {
    g_prev_x[i] = Metres(RowOf(g_path[i]));
    g_prev_y[i] = Metres(ColOf(g_path[i]));
  }
  g_prev = n < kKeep ? n : kKeep;
  out.found = true;
  out.cells = n;
  if (n == 0) {
    out.look_x = out.end_x = goal_x;
    out.look_y = out.end_y = goal_y;
    return;
  }
  out.end_x = Metres(RowOf(g_path[n - 1]));
  out.end_y = Metres(ColOf(g_path[n - 1]));
  // The farthest cell within the lookahead whose straight line from the
  // robot keeps every earlier route cell within a cell's width: steering at
  // it follows the route without cutting its corners.
  const double ahead2 = lookahead * lookahead;
  const double slack2 = kCell * kCell;
  int pick = 0;
  for (int k = 0; k < n; ++k) {
    const double x = Metres(RowOf(g_path[k])), y = Metres(ColOf(g_path[k]));
    if (k > 0 && x * x + y * y > ahead2) break;
    bool follows = true;
    for (int j = 0; j < k && follows; ++j) follows = OffLine(g_path[j], g_path[k]) <= slack2;
    if (follows) pick = k;
  }
  out.look_x = Metres(RowOf(g_path[pick]));
  out.look_y = Metres(ColOf(g_path[pick]));
}

}  // namespace scanpilot_route
