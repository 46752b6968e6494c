// SPDX-License-Identifier: BSD-3-Clause
// The planner's one reference model, shared by the tests and the fuzz
// target, plus helpers that observe the library only through its exported
// operations. The model is written for clarity, not speed: whole-grid loops
// with a bounds test on every cell, and distances taken from the cell
// geometry rather than from kernels, so a kernel or clipping fault in the
// library does not repeat here.
#ifndef PATHGRID_REFERENCE_H
#define PATHGRID_REFERENCE_H

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "pathgrid.h"

namespace pgref {

constexpr int kN = 100;
using Cell = std::pair<int, int>;  // (column, row)

inline bool onGrid(int x, int y) { return x >= 0 && x < kN && y >= 0 && y < kN; }

// Radius from a border: product in single precision, saturating truncation.
inline int radiusFor(float border) {
  const float p = 20.0f * border;
  long long r;
  if (std::isnan(p)) r = 0;
  else if (p >= 2147483648.0f) r = INT_MAX;
  else if (p < -2147483648.0f) r = INT_MIN;
  else r = static_cast<long long>(p);
  return r < 0 ? 0 : (r > 10 ? 10 : static_cast<int>(r));
}

// Attraction of a cell dx, dy away from one target (not the target itself).
inline int coneValue(int dx, int dy) {
  const int d = static_cast<int>(std::sqrt(static_cast<double>(dx * dx + dy * dy)));
  return 127 - (d > 127 ? 127 : d);
}

// Whole cell value, centre included, truncated; anything unrepresentable is off-grid.
inline int truncCell(double v) {
  if (!(v > -2147483649.0 && v < 2147483648.0)) return INT_MIN;
  return static_cast<int>(v);
}

inline Cell readingCell(float range, int i) {
  const double a = 0.0 - i * 0.017453292519943295;
  const double xs = 20.0 * std::sin(a);
  const double yc = -20.0 * std::cos(a);
  const double r = range;
  const double px = r * xs;
  const double py = r * yc;
  return {truncCell(px + 50.0), truncCell(py + 50.0)};
}

inline float metres(int cell) { return static_cast<float>((cell - 50) * 0.05); }

struct Model {
  uint8_t obst[kN][kN] = {};  // [row][column]
  uint8_t target[kN][kN] = {};
  uint8_t path[kN][kN] = {};
  int radius = 0;
  std::vector<Cell> record;
  int curx = 0, cury = 0;
  float fixx = 0, fixy = 0;

  // The path record and steering point survive a re-init.
  void init() {
    clearObst();
    clearTarget();
    for (auto& row : path) for (auto& v : row) v = 0;
    radius = 7;
  }

  void setBorder(float b) { radius = radiusFor(b); }
  void clearObst() {
    for (auto& row : obst) for (auto& v : row) v = 0;
  }
  void clearTarget() {
    for (auto& row : target) for (auto& v : row) v = 0;
  }
  void setObst(int x, int y) {
    if (!onGrid(x, y)) return;
    for (int i = y - radius; i <= y + radius; ++i)
      for (int j = x - radius; j <= x + radius; ++j) {
        const int dx = j - x, dy = i - y;
        if (onGrid(j, i) && dx * dx + dy * dy < radius * radius) obst[i][j] = 255;
      }
  }
  void setRanges(const float* r) {
    clearObst();
    for (int i = 0; i < 360; ++i) {
      const Cell c = readingCell(r[i], i);
      setObst(c.first, c.second);
    }
  }
  void setTarget(int x, int y) {
    if (!onGrid(x, y)) return;
    for (int i = 0; i < kN; ++i)
      for (int j = 0; j < kN; ++j) {
        const int v = (i == y && j == x) ? 255 : coneValue(j - x, i - y);
        if (target[i][j] < v) target[i][j] = static_cast<uint8_t>(v);
      }
  }
  bool blocked(int x, int y) const { return onGrid(x, y) && obst[y][x] == 255; }
  int cost(int x, int y) const {
    if (!onGrid(x, y) || obst[y][x] == 255 || path[y][x] != 0) return 999;
    return obst[y][x] - target[y][x];
  }
  bool grow() {
    static const int kOrder[8][2] = {{0, 1},   {-1, 1}, {1, 1},  {0, -1},
                                     {-1, -1}, {1, -1}, {-1, 0}, {1, 0}};
    int bx = curx, by = cury, best = 256;
    bool found = false;
    for (const auto& d : kOrder) {
      const int c = cost(curx + d[0], cury + d[1]);
      if (c < best) { best = c; bx = curx + d[0]; by = cury + d[1]; found = true; }
    }
    curx = bx;
    cury = by;
    path[cury][curx] = 150;
    return found;
  }
  void startPos() {
    const Cell s = start();
    curx = s.first;
    cury = s.second;
  }
  Cell start() const {
    if (!blocked(50, 50)) return {50, 50};
    for (int i = 1; i <= 49; ++i)
      for (int y = 50 - i; y < 50 + i; ++y)
        for (int x = 50 - i; x < 50 + i; ++x)
          if (!blocked(x, y)) return {x, y};
    return {50, 50};
  }
  bool outLine() {
    for (auto& row : path) for (auto& v : row) v = 0;
    record.clear();
    startPos();
    bool reached = false;
    while (grow()) {
      record.emplace_back(curx, cury);
      if (target[cury][curx] == 255) { reached = true; break; }
    }
    fixx = fixy = 0.0f;
    if (!record.empty()) {
      Cell k = record.back();  // no entry far enough out: steer to the end
      for (const Cell& c : record) {
        const int dx = c.first - 50, dy = c.second - 50;
        if (dx * dx + dy * dy >= 9) { k = c; break; }
      }
      fixx = metres(k.second);
      fixy = metres(k.first);
    }
    return reached;
  }
  float faceX() const { return record.empty() ? 0.0f : metres(record.back().second); }
  float faceY() const { return record.empty() ? 0.0f : metres(record.back().first); }
};

// This C library's atanf, which CalAngle follows (its last bit differs between
// C libraries). Called through a volatile pointer: a compiler may otherwise fold
// a constant argument into a correctly rounded value the C library does not give.
inline float hostAtanf(float q) {
  static float (*volatile const fn)(float) = ::atanf;
  return fn(q);
}

inline float refCalAngle(float a, float b) {
  const float q = b / a;
  float t = hostAtanf(q);
  if (a < 0) t = static_cast<float>(static_cast<double>(t) + 3.141592653589793);
  if (static_cast<double>(t) > 3.141592653589793)
    t = static_cast<float>(static_cast<double>(t) - 6.283185307179586);
  return t;
}

// ---- observing the library ----

inline std::vector<Cell> libBlocked() {
  std::vector<Cell> out;
  for (int y = 0; y < kN; ++y)
    for (int x = 0; x < kN; ++x)
      if (!ChkTarget(x, y)) out.emplace_back(x, y);
  return out;
}

inline std::vector<Cell> refBlocked(const Model& m) {
  std::vector<Cell> out;
  for (int y = 0; y < kN; ++y)
    for (int x = 0; x < kN; ++x)
      if (m.blocked(x, y)) out.emplace_back(x, y);
  return out;
}

inline std::vector<int> libCosts() {
  std::vector<int> out;
  out.reserve(kN * kN);
  for (int y = 0; y < kN; ++y)
    for (int x = 0; x < kN; ++x) out.push_back(calPointCost(x, y));
  return out;
}

inline std::vector<int> refCosts(const Model& m) {
  std::vector<int> out;
  out.reserve(kN * kN);
  for (int y = 0; y < kN; ++y)
    for (int x = 0; x < kN; ++x) out.push_back(m.cost(x, y));
  return out;
}

// The listing, written into memory by pointing stdout there for the call
// (glibc lets stdout be assigned); no file descriptor is touched.
inline std::string capturePrintPath() {
  char* buf = nullptr;
  size_t len = 0;
  FILE* ms = open_memstream(&buf, &len);
  if (ms == nullptr) std::abort();
  std::fflush(stdout);
  FILE* const saved = stdout;
  stdout = ms;
  PrintPath();
  stdout = saved;
  std::fclose(ms);
  std::string text(buf, len);
  std::free(buf);
  return text;
}

inline std::string listing(const std::vector<Cell>& path) {
  std::string s = "--------------------------\n";
  char buf[64];
  for (size_t i = 0; i < path.size(); ++i) {
    std::snprintf(buf, sizeof buf, "loc_path [%d] - (%d , %d)\n", static_cast<int>(i),
                  path[i].first, path[i].second);
    s += buf;
  }
  return s;
}

// Path entries of the last pass, read back from the listing.
inline std::vector<Cell> libPath() {
  const std::string text = capturePrintPath();
  std::vector<Cell> out;
  size_t pos = text.find('\n');
  while (pos != std::string::npos && pos + 1 < text.size()) {
    int i = 0, x = 0, y = 0;
    if (std::sscanf(text.c_str() + pos + 1, "loc_path [%d] - (%d , %d)", &i, &x, &y) != 3) break;
    out.emplace_back(x, y);
    pos = text.find('\n', pos + 1);
  }
  return out;
}

inline std::vector<float> uniformScan(float v) { return std::vector<float>(360, v); }
inline std::vector<float> emptyScan() {
  return uniformScan(std::numeric_limits<float>::infinity());
}

}  // namespace pgref

#endif
