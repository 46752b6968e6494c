// Grid planner: scan -> inflated obstacle field, targets -> attraction field,
// then a greedy walk from the robot's cell. Read top to bottom: tables,
// kernels, stamping, the pass, results.
//
// Every float result is part of the contract down to the last bit, so the
// precision of each intermediate is spelled out where it matters.
#include "pathgrid.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>

// ---- tables ---------------------------------------------------------------

static constexpr int kGrid = 100;               // cells per side
static constexpr int kCells = kGrid * kGrid;
static constexpr int kCentre = 50;              // the robot's cell, both axes
static constexpr int kScan = 360;

static constexpr int kDiskHalf = 10;            // disk kernel is 21 x 21
static constexpr int kDiskSide = 2 * kDiskHalf + 1;
static constexpr int kConeHalf = 127;           // cone kernel is 255 x 255
static constexpr int kConeSide = 2 * kConeHalf + 1;

static constexpr unsigned char kBlocked = 255;
static constexpr unsigned char kTargetMark = 255;
static constexpr unsigned char kPathMark = 150;
static constexpr int kBlockedCost = 999;
static constexpr int kInitialBestCost = 256;
static constexpr int kSteerMinSquared = 9;      // truncated distance > 2 cells
static constexpr double kCellSize = 0.05;
static constexpr double kDegree = 0.017453292519943295;
static constexpr float kDefaultBorder = 0.35f;
static constexpr int kOffGrid = INT_MIN;        // cell of a reading that has none

static unsigned char map_obstacle[kCells];
static unsigned char map_target[kCells];
static unsigned char map_path[kCells];
static unsigned char map_back[kCells];

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

// Rows of the disk kernel that hold any blocked element, and the 16-byte
// column blocks that cover them (see StampDisk). Rebuilt with the kernel.
static int disk_first_row = 1;
static int disk_last_row = 0;
static int disk_block_count = 0;
static int disk_block_col[2];

static bool OnGrid(int x, int y) { return x >= 0 && x < kGrid && y >= 0 && y < kGrid; }
static int CellIndex(int x, int y) { return y * kGrid + x; }

// ---- byte maxima ------------------------------------------------------------

// A fixed 16-byte maximum: plain code that compilers turn into one vector
// max on any target, so stamping stays portable and exact.
static constexpr int kBlock = 16;

static inline void MaxBlock(unsigned char* dst, const unsigned char* src) {
  // Local copies: the compiler cannot prove dst and src apart, and would
  // otherwise fall back to bytes.
  unsigned char a[kBlock];
  unsigned char b[kBlock];
  std::memcpy(a, dst, kBlock);
  std::memcpy(b, src, kBlock);
  for (int k = 0; k < kBlock; ++k) a[k] = a[k] < b[k] ? b[k] : a[k];
  std::memcpy(dst, a, kBlock);
}

// Maximum over one grid row. The last block overlaps the one before it;
// a maximum is idempotent, so touching bytes twice changes nothing.
static inline void MaxGridRow(unsigned char* dst, const unsigned char* src) {
  for (int j = 0; j + kBlock <= kGrid; j += kBlock) MaxBlock(dst + j, src + j);
  MaxBlock(dst + kGrid - kBlock, src + kGrid - kBlock);
}

// ---- kernels ----------------------------------------------------------------

// 20 * border in single precision (double would turn 0.35 into 6.99...),
// truncated with saturation, clamped to the kernel's 0..10.
static int BorderRadius(float border) {
  const float cells = 20.0f * border;
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
    x_sin[i] = 20.0 * std::sin(a);
    y_cos[i] = -20.0 * std::cos(a);
  }
}

// The blocked part of a disk of radius r <= 8 lies in columns 3..17, one
// block from column 3; wider disks need two overlapping blocks (0..15, 5..20).
static void IndexDisk(int r) {
  disk_first_row = kDiskHalf - r + 1;
  disk_last_row = kDiskHalf + r - 1;
  if (r <= 8) {
    disk_block_count = 1;
    disk_block_col[0] = 3;
  } else {
    disk_block_count = 2;
    disk_block_col[0] = 0;
    disk_block_col[1] = kDiskSide - kBlock;
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
  IndexDisk(r);
}

void InitHelper() {
  std::memset(map_obstacle, 0, sizeof map_obstacle);
  std::memset(map_target, 0, sizeof map_target);
  std::memset(map_path, 0, sizeof map_path);
  std::memset(map_back, 0, sizeof map_back);
  SetBorder(kDefaultBorder);
  BuildCone();
  BuildFactors();
}

// ---- stamping ---------------------------------------------------------------

// Disk around an on-grid cell. Away from the edges every kernel row that can
// hold a blocked byte is one or two 16-byte maxima; near an edge the window is
// clipped cell by cell.
static void StampDisk(int x, int y) {
  if (disk_first_row > disk_last_row) return;  // radius 0: nothing to block
  const int top = y - kDiskHalf;
  const int left = x - kDiskHalf;
  const bool rowsInside = top + disk_first_row >= 0 && top + disk_last_row < kGrid;
  const bool colsInside = left + disk_block_col[0] >= 0 &&
                          left + disk_block_col[disk_block_count - 1] + kBlock <= kGrid;
  if (rowsInside && colsInside) {
    for (int i = disk_first_row; i <= disk_last_row; ++i) {
      for (int b = 0; b < disk_block_count; ++b) {
        const int col = disk_block_col[b];
        MaxBlock(map_obstacle + CellIndex(left + col, top + i),
                 TempSinglePoint + i * kDiskSide + col);
      }
    }
    return;
  }
  for (int i = 0; i < kDiskSide; ++i) {
    const int row = top + i;
    if (row < 0 || row >= kGrid) continue;
    for (int j = 0; j < kDiskSide; ++j) {
      const int col = left + j;
      if (col < 0 || col >= kGrid) continue;
      const unsigned char v = TempSinglePoint[i * kDiskSide + j];
      unsigned char& cell = map_obstacle[CellIndex(col, row)];
      if (cell < v) cell = v;
    }
  }
}

// Target mark plus cone. The cone window (255 x 255) always covers the whole
// grid, so each grid row takes one contiguous 100-byte slice of a kernel row.
static void StampCone(unsigned char* field, int x, int y) {
  if (!OnGrid(x, y)) return;
  field[CellIndex(x, y)] = kTargetMark;
  const unsigned char* slice = TempSinglePath + (kConeHalf - y) * kConeSide + (kConeHalf - x);
  for (int row = 0; row < kGrid; ++row) {
    MaxGridRow(field + row * kGrid, slice + row * kConeSide);
  }
}

// Cell of one reading: trunc(r * factor + 50) in double, each operation
// rounded on its own. Anything without an int value is off the grid.
static int ReadingCell(double r, double factor) {
  const double v = r * factor + 50.0;
  if (!(v > -2147483649.0 && v < 2147483648.0)) return kOffGrid;
  return static_cast<int>(v);
}

void SetObst(int x, int y) {
  if (!OnGrid(x, y)) return;
  StampDisk(x, y);
}

void ClearObst() { std::memset(map_obstacle, 0, sizeof map_obstacle); }

void SetRanges(float* ranges) {
  if (ranges == nullptr) return;  // keep the last field rather than crash
  ClearObst();
  for (int i = 0; i < kScan; ++i) {
    const double r = static_cast<double>(ranges[i]);
    pnt_x[i] = ReadingCell(r, x_sin[i]);
    pnt_y[i] = ReadingCell(r, y_cos[i]);
    SetObst(pnt_x[i], pnt_y[i]);
  }
}

void SetTarget(int x, int y) { StampCone(map_target, x, y); }

void ClearTarget() { std::memset(map_target, 0, sizeof map_target); }

void SetBack(int x, int y) { StampCone(map_back, x, y); }

bool ChkTarget(int x, int y) {
  if (!OnGrid(x, y)) return true;
  return map_obstacle[CellIndex(x, y)] != kBlocked;
}

// ---- the pass ---------------------------------------------------------------

int calPointCost(int x, int y) {
  if (!OnGrid(x, y)) return kBlockedCost;
  const int k = CellIndex(x, y);
  if (map_obstacle[k] == kBlocked || map_path[k] != 0) return kBlockedCost;
  return static_cast<int>(map_obstacle[k]) - static_cast<int>(map_target[k]);
}

// Neighbour order decides ties: earlier wins.
static constexpr int kStepX[8] = {0, -1, 1, 0, -1, 1, -1, 1};
static constexpr int kStepY[8] = {1, 1, 1, -1, -1, -1, 0, 0};

bool PathGrow() {
  bool found = false;
  int bestX = cur_x;
  int bestY = cur_y;
  int bestCost = kInitialBestCost;
  for (int n = 0; n < 8; ++n) {
    const int x = cur_x + kStepX[n];
    const int y = cur_y + kStepY[n];
    const int c = calPointCost(x, y);
    if (c < bestCost) {
      bestCost = c;
      bestX = x;
      bestY = y;
      found = true;
    }
  }
  cur_x = bestX;
  cur_y = bestY;
  map_path[CellIndex(cur_x, cur_y)] = kPathMark;
  return found;
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
  std::memset(map_path, 0, sizeof map_path);
  std::memset(map_back, 0, sizeof map_back);
  nLocPathLenght = 0;
  StartPos();
  SetBack(cur_x, cur_y);
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
