// SPDX-License-Identifier: BSD-3-Clause
// Grid planner: scan -> inflated obstacle field, targets -> attraction field,
// then a greedy walk from the robot's cell. Read top to bottom: tables,
// kernels, stamping, the pass, results.
//
// Every float result is part of the contract down to the last bit, so the
// precision of each intermediate is spelled out where it matters.
#include "pathgrid.h"
#include "pathgrid_grid.h"

#include <cfloat>
#include <climits>
#include <cstddef>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

// Single-precision expressions kept in wider registers (x87) round differently,
// e.g. the default border gives a disk radius of 6 cells instead of 7.
#if !defined(FLT_EVAL_METHOD) || FLT_EVAL_METHOD != 0
#error "float expressions are evaluated in excess precision here; build with SSE2 arithmetic (e.g. -msse2 -mfpmath=sse)"
#endif

// ---- tables ---------------------------------------------------------------

static constexpr int kGrid = kPathgridSide;  // cells per side
static constexpr int kCells = kPathgridCells;
static constexpr int kCentre = kPathgridCentre;  // the robot's cell, both axes
static constexpr int kScan = 360;

static constexpr int kDiskHalf = 10;            // disk kernel is 21 x 21
static constexpr int kDiskSide = 2 * kDiskHalf + 1;
static constexpr int kConeHalf = kPathgridConeTop;  // cone kernel is 255 x 255
static constexpr int kConeSide = 2 * kConeHalf + 1;

static constexpr unsigned char kBlocked = 255;
static constexpr unsigned char kTargetMark = kPathgridTargetMark;
static constexpr unsigned char kPathMark = 150;
static constexpr int kBlockedCost = 999;
static constexpr int kInitialBestCost = 256;
static constexpr int kSteerMinSquared = 9;      // truncated distance > 2 cells
static constexpr double kCellSize = kPathgridCellSize;
static constexpr double kPerMetre = kPathgridCellsPerMetre;
static constexpr double kDegree = 0.017453292519943295;
static constexpr float kDefaultBorder = 0.35f;
static constexpr int kOffGrid = INT_MIN;        // cell of a reading that has none

static unsigned char map_obstacle[kCells];
static unsigned char map_target[kCells];
static unsigned char map_path[kCells];
static unsigned char map_back[kCells];
// The target field is all zero (after InitHelper or ClearTarget, before any
// target), so the next target's cone can be copied rather than maximised.
static bool target_field_zero = false;

static int loc_path_x[kCells];
static int loc_path_y[kCells];
static int nLocPathLenght;

static int cur_x;
static int cur_y;
static float move_x;
static float move_y;

static int pnt_x[kScan];
static int pnt_y[kScan];

static unsigned char TempSinglePoint[kDiskSide * kDiskSide];
static unsigned char TempSinglePath[kConeSide * kConeSide];

static double x_sin[kScan];
static double y_cos[kScan];

// How the disk kernel is stamped, rebuilt from it whenever the border changes
// (BuildDiskStamp). A stamp reads 16-byte blocks from a copy of the kernel
// rows padded with 16 zero bytes on each side, so a block can start at any
// column offset a clipped stamp needs; only the rows and blocks that hold a
// blocked byte are read. Before the first InitHelper it describes an empty
// disk, so a stray SetObst stamps nothing.
static constexpr int kBlock = 16;
static constexpr int kPaddedSide = kBlock + kDiskSide + kBlock;
using BlockColumnFn = void (*)(unsigned char* dst, const unsigned char* src);

struct DiskStamp {
  unsigned char padded[kDiskSide][kPaddedSide];
  int first_row;                     // kernel rows holding a blocked byte
  int last_row;
  int block_count;                   // blocks per row, 0 to 2
  int block_offset[2];               // first column of each, from the centre
  int inner_x_min;                   // centre cells whose disk needs no clipping
  int inner_x_max;
  int inner_y_min;
  int inner_y_max;
  int inner_dst[2];                  // unclipped block start, from the centre cell
  const unsigned char* inner_src[2]; // its first padded kernel row
  BlockColumnFn full_column;         // all rows of one unclipped block
};
static DiskStamp disk_stamp = {{}, 1, 0, 0, {0, 0}, 1, 0, 1, 0, {0, 0}, {nullptr, nullptr}, nullptr};

static bool OnGrid(int x, int y) { return x >= 0 && x < kGrid && y >= 0 && y < kGrid; }
static int CellIndex(int x, int y) { return y * kGrid + x; }

// ---- byte maxima ------------------------------------------------------------

// A fixed 16-byte maximum: plain code that compilers turn into one vector
// max on any target, so stamping stays portable and exact. The local copies
// matter: the compiler cannot prove dst and src apart, and would otherwise
// fall back to bytes. Without a vector unit (armhf, riscv64 RV64GC) those
// copies become byte shuffles and memcpy calls: there a plain conditional
// store runs half the instructions in half the code.
static inline void MaxBlock(unsigned char* dst, const unsigned char* src) {
#if !defined(__SSE2__) && !defined(__ARM_NEON) && !defined(__riscv_vector) && !defined(__ALTIVEC__)
  for (int k = 0; k < kBlock; ++k) {
    if (dst[k] < src[k]) dst[k] = src[k];
  }
#else
  unsigned char a[kBlock];
  unsigned char b[kBlock];
  std::memcpy(a, dst, kBlock);
  std::memcpy(b, src, kBlock);
  for (int k = 0; k < kBlock; ++k) a[k] = a[k] < b[k] ? b[k] : a[k];
  std::memcpy(dst, a, kBlock);
#endif
}

// Maximum over one grid row. The last block overlaps the one before it;
// a maximum is idempotent, so touching bytes twice changes nothing.
static inline void MaxGridRow(unsigned char* dst, const unsigned char* src) {
  for (int j = 0; j + kBlock <= kGrid; j += kBlock) MaxBlock(dst + j, src + j);
  MaxBlock(dst + kGrid - kBlock, src + kGrid - kBlock);
}

// A disk away from the top and bottom edges covers a row count fixed by the
// radius (2r - 1 rows). Each count gets its own fully unrolled column of
// blocks: a fold over an index pack, unrolled by construction.
template <std::size_t... kRow>
static inline void MaxBlockRows(unsigned char* dst, const unsigned char* src,
                                std::index_sequence<kRow...>) {
  (MaxBlock(dst + kRow * kGrid, src + kRow * kPaddedSide), ...);
}

template <std::size_t kRows>
static inline void MaxBlockColumn(unsigned char* dst, const unsigned char* src) {
  MaxBlockRows(dst, src, std::make_index_sequence<kRows>{});
}

static BlockColumnFn BlockColumnForRows(int rows) {
  switch (rows) {
    case -1: return nullptr;  // radius 0: no blocks
    case 1: return MaxBlockColumn<1>;
    case 3: return MaxBlockColumn<3>;
    case 5: return MaxBlockColumn<5>;
    case 7: return MaxBlockColumn<7>;
    case 9: return MaxBlockColumn<9>;
    case 11: return MaxBlockColumn<11>;
    case 13: return MaxBlockColumn<13>;
    case 15: return MaxBlockColumn<15>;
    case 17: return MaxBlockColumn<17>;
    default: return MaxBlockColumn<19>;
  }
}

// A plain loop, which the compiler turns into 16-byte stores. The build keeps
// it from becoming a memset call, whose string instruction costs one count per
// byte under an instruction counter and varies with the C library's routine.
static void ClearField(unsigned char* field) {
  for (int k = 0; k < kCells; ++k) field[k] = 0;
}

// ---- kernels ----------------------------------------------------------------

// 20 * border in single precision (double would turn 0.35 into 6.99...),
// truncated with saturation, clamped to the kernel's 0..10.
static int BorderRadius(float border) {
  const float cells = static_cast<float>(kPerMetre) * border;
  int r;
  if (std::isnan(cells)) {
    r = 0;
  } else if (cells >= 2147483648.0f) {
    r = INT_MAX;
  } else if (cells < -2147483648.0f) {
    r = INT_MIN;
  } else {
    r = static_cast<int>(cells);
  }
  if (r < 0) r = 0;
  if (r > kDiskHalf) r = kDiskHalf;
  return r;
}

static int TruncatedDistance(int dx, int dy) {
  return static_cast<int>(std::sqrt(static_cast<double>(dx * dx + dy * dy)));
}

static void BuildCone() {
  std::memset(TempSinglePath, 0, sizeof TempSinglePath);
  for (int i = 0; i < kConeSide; ++i) {
    for (int j = 0; j < kConeSide; ++j) {
      int d = TruncatedDistance(j - kConeHalf, i - kConeHalf);
      if (d > kConeHalf) d = kConeHalf;
      TempSinglePath[i * kConeSide + j] = static_cast<unsigned char>(kConeHalf - d);
    }
  }
}

static void BuildFactors() {
  for (int i = 0; i < kScan; ++i) {
    const double a = 0.0 - static_cast<double>(i) * kDegree;
    x_sin[i] = kPerMetre * std::sin(a);
    y_cos[i] = -kPerMetre * std::cos(a);
  }
}

// Rebuilds disk_stamp from the disk kernel of radius r. The blocked part
// spans columns -(r-1)..r-1 around the centre: one block from -7 covers
// r <= 8, two overlapping blocks from -10 and -5 cover r = 9 and 10.
static void BuildDiskStamp(int r) {
  DiskStamp& s = disk_stamp;
  s = DiskStamp{};
  for (int i = 0; i < kDiskSide; ++i) {
    std::memcpy(s.padded[i] + kBlock, TempSinglePoint + i * kDiskSide, kDiskSide);
  }
  s.first_row = kDiskHalf - r + 1;
  s.last_row = kDiskHalf + r - 1;
  s.full_column = BlockColumnForRows(2 * r - 1);
  if (r == 0) {
    s.block_count = 0;
  } else if (r <= 8) {
    s.block_count = 1;
    s.block_offset[0] = -7;
  } else {
    s.block_count = 2;
    s.block_offset[0] = -10;
    s.block_offset[1] = -5;
  }
  s.inner_x_min = -s.block_offset[0];
  s.inner_x_max = kGrid - kBlock - s.block_offset[s.block_count > 0 ? s.block_count - 1 : 0];
  s.inner_y_min = r - 1;
  s.inner_y_max = kGrid - r;
  for (int k = 0; k < s.block_count; ++k) {
    s.inner_dst[k] = (s.first_row - kDiskHalf) * kGrid + s.block_offset[k];
    s.inner_src[k] = s.padded[s.first_row] + kBlock + kDiskHalf + s.block_offset[k];
  }
}

void SetBorder(float border) {
  const int r = BorderRadius(border);
  for (int i = 0; i < kDiskSide; ++i) {
    for (int j = 0; j < kDiskSide; ++j) {
      const int d = TruncatedDistance(j - kDiskHalf, i - kDiskHalf);
      TempSinglePoint[i * kDiskSide + j] = d < r ? kBlocked : 0;
    }
  }
  BuildDiskStamp(r);
}

void InitHelper() {
  ClearField(map_obstacle);
  ClearField(map_target);
  target_field_zero = true;
  ClearField(map_path);
  ClearField(map_back);
  SetBorder(kDefaultBorder);
  BuildCone();
  BuildFactors();
}

// ---- stamping ---------------------------------------------------------------

// Disk near an edge, clipped once: rows by range, columns by sliding each
// block inside the grid row. A slid block reads the padded kernel row at the
// matching offset, so the disk lands exactly where the full 21 x 21 window
// would put it, and the padding's zeros change nothing.
static void StampDiskClipped(int x, int y) {
  const DiskStamp& s = disk_stamp;
  const bool rowsInside = y >= s.inner_y_min && y <= s.inner_y_max;
  int rowFrom = y - kDiskHalf + s.first_row;
  int rowTo = y - kDiskHalf + s.last_row;
  if (rowFrom < 0) rowFrom = 0;
  if (rowTo > kGrid - 1) rowTo = kGrid - 1;
  for (int b = 0; b < s.block_count; ++b) {
    int col = x + s.block_offset[b];
    if (col < 0) col = 0;
    if (col > kGrid - kBlock) col = kGrid - kBlock;
    unsigned char* dst = map_obstacle + CellIndex(col, rowFrom);
    const unsigned char* src = s.padded[rowFrom - y + kDiskHalf] + kBlock + col - (x - kDiskHalf);
    if (rowsInside) {
      s.full_column(dst, src);
      continue;
    }
    for (int row = rowFrom; row <= rowTo; ++row) {
      MaxBlock(dst, src);
      dst += kGrid;
      src += kPaddedSide;
    }
  }
}

// Disk around an on-grid cell. Away from the edges each block is one full,
// unrolled column of rows at a fixed offset from the centre cell.
static inline void StampDisk(int x, int y) {
  const DiskStamp& s = disk_stamp;
  if (x < s.inner_x_min || x > s.inner_x_max || y < s.inner_y_min || y > s.inner_y_max) {
    StampDiskClipped(x, y);
    return;
  }
  unsigned char* centre = map_obstacle + CellIndex(x, y);
  if (s.full_column == MaxBlockColumn<13>) {
    // The default border (radius 7, one block), inlined: it stamps most
    // scans, and calling through the pointer costs SetRanges about 7%.
    MaxBlockColumn<13>(centre + s.inner_dst[0], s.inner_src[0]);
    return;
  }
  for (int b = 0; b < s.block_count; ++b) s.full_column(centre + s.inner_dst[b], s.inner_src[b]);
}

// Target mark plus cone. The cone window (255 x 255) always covers the whole
// grid, so each grid row takes one contiguous 100-byte slice of a kernel row.
// Onto a field known to be all zero the maximum is the slice itself, so the
// rows are copied instead; the cone never reaches 255, so the mark goes last.
static void StampCone(unsigned char* field, bool fieldIsZero, int x, int y) {
  if (!OnGrid(x, y)) return;
  const unsigned char* slice = TempSinglePath + (kConeHalf - y) * kConeSide + (kConeHalf - x);
  for (int row = 0; row < kGrid; ++row) {
    if (fieldIsZero) {
      std::memcpy(field + row * kGrid, slice + row * kConeSide, kGrid);
    } else {
      MaxGridRow(field + row * kGrid, slice + row * kConeSide);
    }
  }
  field[CellIndex(x, y)] = kTargetMark;
}

// Cell of one reading: trunc(r * factor + 50) in double, each operation
// rounded on its own. Anything without an int value is off the grid.
static int ReadingCell(double r, double factor) {
  const double v = r * factor + kCentre;
  if (!(v > -2147483649.0 && v < 2147483648.0)) return kOffGrid;
  return static_cast<int>(v);
}

void SetObst(int x, int y) {
  if (!OnGrid(x, y)) return;
  StampDisk(x, y);
}

void ClearObst() { ClearField(map_obstacle); }

void SetRanges(float* ranges) {
  if (ranges == nullptr) return;  // keep the last field rather than crash
  ClearObst();
  // Neighbouring readings often share a cell; stamping the same disk again
  // is a no-op (a maximum), so the repeat is skipped.
  int lastX = kOffGrid;
  int lastY = kOffGrid;
  for (int i = 0; i < kScan; ++i) {
    const double r = static_cast<double>(ranges[i]);
    pnt_x[i] = ReadingCell(r, x_sin[i]);
    pnt_y[i] = ReadingCell(r, y_cos[i]);
    if (pnt_x[i] == lastX && pnt_y[i] == lastY) continue;
    lastX = pnt_x[i];
    lastY = pnt_y[i];
    if (OnGrid(lastX, lastY)) StampDisk(lastX, lastY);  // as SetObst, inlined
  }
}

void SetTarget(int x, int y) {
  StampCone(map_target, target_field_zero, x, y);
  if (OnGrid(x, y)) target_field_zero = false;
}

void ClearTarget() {
  ClearField(map_target);
  target_field_zero = true;
}

void SetBack(int x, int y) { StampCone(map_back, false, x, y); }

bool ChkTarget(int x, int y) {
  if (!OnGrid(x, y)) return true;
  return map_obstacle[CellIndex(x, y)] != kBlocked;
}

// ---- the pass ---------------------------------------------------------------

// Cost of an on-grid cell: blocked or visited cells are never taken.
static inline int CellCost(int k) {
  if (map_obstacle[k] == kBlocked || map_path[k] != 0) return kBlockedCost;
  return static_cast<int>(map_obstacle[k]) - static_cast<int>(map_target[k]);
}

int calPointCost(int x, int y) {
  if (!OnGrid(x, y)) return kBlockedCost;
  return CellCost(CellIndex(x, y));
}

// Neighbour order decides ties: earlier wins.
static constexpr int kStepX[8] = {0, -1, 1, 0, -1, 1, -1, 1};
static constexpr int kStepY[8] = {1, 1, 1, -1, -1, -1, 0, 0};
static constexpr int kStepIndex[8] = {kGrid, kGrid - 1, kGrid + 1, -kGrid, -kGrid - 1, -kGrid + 1, -1, 1};

bool PathGrow() {
  // Off the border rows and columns every neighbour is on the grid, and the
  // walk (one cost test per neighbour, per step) skips the bounds tests.
  const bool inner = cur_x > 0 && cur_x < kGrid - 1 && cur_y > 0 && cur_y < kGrid - 1;
  const int here = CellIndex(cur_x, cur_y);
  int best = -1;
  int bestCost = kInitialBestCost;
  for (int n = 0; n < 8; ++n) {
    const int c = inner ? CellCost(here + kStepIndex[n]) : calPointCost(cur_x + kStepX[n], cur_y + kStepY[n]);
    if (c < bestCost) {
      bestCost = c;
      best = n;
    }
  }
  if (best >= 0) {
    cur_x += kStepX[best];
    cur_y += kStepY[best];
  }
  map_path[CellIndex(cur_x, cur_y)] = kPathMark;
  return best >= 0;
}

// First free cell, row-major, of the smallest square around the centre that
// has one; squares reach one cell further toward 0 than toward 99.
void StartPos() {
  cur_x = kCentre;
  cur_y = kCentre;
  if (map_obstacle[CellIndex(kCentre, kCentre)] != kBlocked) return;
  for (int i = 1; i < kCentre; ++i) {
    for (int row = kCentre - i; row <= kCentre + i - 1; ++row) {
      for (int col = kCentre - i; col <= kCentre + i - 1; ++col) {
        if (map_obstacle[CellIndex(col, row)] != kBlocked) {
          cur_x = col;
          cur_y = row;
          return;
        }
      }
    }
  }
}

void ShowMap() {}

static float CellToMetres(int cell) {
  return static_cast<float>(static_cast<double>(cell - kCentre) * kCellSize);
}

// Steering point: the first entry more than 2 cells out; when the whole path
// stays that close, its end, so the robot still heads for its target.
static void SetSteeringPoint() {
  int k = nLocPathLenght - 1;
  for (int i = 0; i < nLocPathLenght; ++i) {
    const int dx = loc_path_x[i] - kCentre;
    const int dy = loc_path_y[i] - kCentre;
    if (dx * dx + dy * dy >= kSteerMinSquared) {
      k = i;
      break;
    }
  }
  move_x = CellToMetres(loc_path_y[k]);
  move_y = CellToMetres(loc_path_x[k]);
}

bool OutLine() {
  bool reached = false;
  ClearField(map_path);
  nLocPathLenght = 0;
  StartPos();
  // Clear the start field and stamp it: the walker is always on the grid and
  // the cone covers all of it, so one copy of the cone is both.
  StampCone(map_back, true, cur_x, cur_y);
  // Each step lands on an unmarked cell and marks it, so the record
  // (one entry per cell) cannot overflow; the bound only states that.
  while (nLocPathLenght < kCells && PathGrow()) {
    loc_path_x[nLocPathLenght] = cur_x;
    loc_path_y[nLocPathLenght] = cur_y;
    ++nLocPathLenght;
    if (map_target[CellIndex(cur_x, cur_y)] == kTargetMark) {
      reached = true;
      break;
    }
  }
  if (nLocPathLenght == 0) {
    move_x = 0.0f;
    move_y = 0.0f;
    reached = false;
  } else {
    SetSteeringPoint();
  }
  ShowMap();
  return reached;
}

// ---- results ----------------------------------------------------------------

int GetHelperNum() { return nLocPathLenght; }
float GetFixX() { return move_x; }
float GetFixY() { return move_y; }

float GetFaceX() {
  if (nLocPathLenght < 1) return 0.0f;
  return CellToMetres(loc_path_y[nLocPathLenght - 1]);
}

float GetFaceY() {
  if (nLocPathLenght < 1) return 0.0f;
  return CellToMetres(loc_path_x[nLocPathLenght - 1]);
}

// Single-precision quotient and arctangent, quadrant fix in double stored
// back in single: (-1, 0) gives -3.1415925, not pi.
float CalAngle(float a, float b) {
  static constexpr double kPi = 3.141592653589793;
  static constexpr double kTwoPi = 6.283185307179586;
  const float q = b / a;
  float t = std::atan(q);
  if (a < 0.0f) t = static_cast<float>(static_cast<double>(t) + kPi);
  if (static_cast<double>(t) > kPi) t = static_cast<float>(static_cast<double>(t) - kTwoPi);
  return t;
}

void PrintPath() {
  std::printf("--------------------------\n");
  for (int i = 0; i < nLocPathLenght; ++i) {
    std::printf("loc_path [%d] - (%d , %d)\n", i, loc_path_x[i], loc_path_y[i]);
  }
}
