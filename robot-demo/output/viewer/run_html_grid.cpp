// SPDX-License-Identifier: BSD-3-Clause
// The tick's grid record: the planner's pass packed small for run.html.
#include "output/viewer/run_html.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "grid_frame.h"

namespace {

constexpr int kN = kGridCells;
constexpr int kCells = kN * kN;
constexpr double kGridHalf = kGridReach;

// A path cell that is not a neighbour of the one before: the step code past
// the last of kStepCol/kStepRow, followed by the cell.
constexpr unsigned char kFarStep = kSteps;

void PutVarint(std::vector<unsigned char>& out, std::uint32_t v) {
  while (v >= 0x80) {
    out.push_back(static_cast<unsigned char>((v & 0x7f) | 0x80));
    v >>= 7;
  }
  out.push_back(static_cast<unsigned char>(v));
}

std::uint32_t ZigZag(std::int32_t v) {
  return (static_cast<std::uint32_t>(v) << 1) ^ static_cast<std::uint32_t>(v < 0 ? -1 : 0);
}

void PutSigned(std::vector<unsigned char>& out, std::int32_t v) { PutVarint(out, ZigZag(v)); }

void PutCell(std::vector<unsigned char>& out, ViewerCell c) {
  PutSigned(out, c.col);
  PutSigned(out, c.row);
}

// Prediction of a cell's pull from its left, upper and upper-left neighbours:
// a plane through them, which fits a cone's flanks closely.
int Predict(const std::vector<unsigned char>& a, int col, int row) {
  const auto at = [&](int c, int r) { return static_cast<int>(a[static_cast<std::size_t>(r * kN + c)]); };
  if (row == 0) return col == 0 ? 0 : at(col - 1, 0);
  if (col == 0) return at(0, row - 1);
  return std::clamp(at(col - 1, row) + at(col, row - 1) - at(col - 1, row - 1), 0, 255);
}

// Pull of a cell (dcol, drow) away from a target, as the planner stamps it;
// the page's reader computes the same from the grid numbers it is given.
int Cone(int dcol, int drow) { return PathgridConeAt(dcol, drow); }

bool Blocked(const ViewerTick& t, std::size_t k) { return k < t.blocked.size() && t.blocked[k] != 0; }

unsigned char Pull(const ViewerTick& t, std::size_t k) { return k < t.attraction.size() ? t.attraction[k] : 0; }

// Pairs (run of cells equal to their prediction, residual) in row order;
// blocked cells take the prediction. `decoded` (may be null) gets the values
// a reader rebuilds, which is what a prediction from neighbours looks at.
template <typename P>
void PutResiduals(std::vector<unsigned char>& out, const ViewerTick& t, P&& predict,
                  std::vector<unsigned char>* decoded) {
  std::vector<unsigned char> own(kCells, 0);
  std::vector<unsigned char>& a = decoded ? *decoded : own;
  std::uint32_t zeros = 0;
  for (int row = 0; row < kN; ++row)
    for (int col = 0; col < kN; ++col) {
      const auto k = static_cast<std::size_t>(row * kN + col);
      const int p = predict(a, col, row);
      const int v = Blocked(t, k) ? p : Pull(t, k);
      a[k] = static_cast<unsigned char>(v);
      if (v == p) {
        ++zeros;
        continue;
      }
      PutVarint(out, zeros);
      PutSigned(out, v - p);
      zeros = 0;
    }
  if (zeros > 0) PutVarint(out, zeros);
}

// Millimetres plus kScanOffset; 0 means "not drawn" (no finite return on the
// grid, where |reading| < 2.5 * sqrt(2) m).
constexpr std::int32_t kScanOffset = 4096;

std::int32_t ScanCode(float reading, int degree) {
  const double d = static_cast<double>(reading);
  if (!std::isfinite(d)) return 0;
  const double a = degree * kPi / 180.0;
  const double x = -d * std::cos(a), y = -d * std::sin(a);
  if (!(std::fabs(x) < kGridHalf && std::fabs(y) < kGridHalf)) return 0;
  return static_cast<std::int32_t>(std::lround(d * 1000.0)) + kScanOffset;  // |d| < 3.6 m here
}

// Variable-length codes of 4 bits: 3 value bits, low first, and a "more"
// bit; two codes to a byte, the first in the low half.
class Nibbles {
 public:
  explicit Nibbles(std::vector<unsigned char>& out) : out_(out) {}
  void Put(std::uint32_t v) {
    do {
      const unsigned n = (v & 7u) | (v > 7u ? 8u : 0u);
      v >>= 3;
      if (half_)
        out_.back() = static_cast<unsigned char>(out_.back() | (n << 4));
      else
        out_.push_back(static_cast<unsigned char>(n));
      half_ = !half_;
    } while (v > 0);
  }

 private:
  std::vector<unsigned char>& out_;
  bool half_ = false;
};

// The parts of a tick's grid record, in the order EncodeGrid writes them.

void PutBlocked(std::vector<unsigned char>& out, const ViewerTick& t) {
  std::vector<std::uint32_t> runs;
  bool state = false;
  std::uint32_t run = 0;
  for (std::size_t k = 0; k < kCells; ++k) {
    if (Blocked(t, k) != state) {
      runs.push_back(run);
      state = !state;
      run = 0;
    }
    ++run;
  }
  runs.push_back(run);
  PutVarint(out, static_cast<std::uint32_t>(runs.size()));
  for (std::uint32_t r : runs) PutVarint(out, r);
}

// The shortest of: against the reference (a field that stays put), against
// a cone around the target cell (how the pull usually looks), or a fresh
// field from neighbours, which then becomes the reference.
void PutAttraction(std::vector<unsigned char>& out, const ViewerTick& t, std::vector<unsigned char>& reference) {
  std::vector<unsigned char> best;
  if (reference.size() == kCells) {
    best.push_back(0);
    PutResiduals(
        best, t,
        [&](const std::vector<unsigned char>&, int col, int row) {
          return static_cast<int>(reference[static_cast<std::size_t>(row * kN + col)]);
        },
        nullptr);
  }
  std::vector<unsigned char> cone{2};
  PutResiduals(
      cone, t,
      [&](const std::vector<unsigned char>&, int col, int row) {
        return t.has_target ? Cone(col - t.target.col, row - t.target.row) : 0;
      },
      nullptr);
  if (best.empty() || cone.size() < best.size()) best.swap(cone);
  std::vector<unsigned char> full{1}, decoded(kCells, 0);
  PutResiduals(full, t, Predict, &decoded);
  if (full.size() < best.size()) {
    best.swap(full);
    reference = decoded;
  }
  out.insert(out.end(), best.begin(), best.end());
}

// Each code predicted from the two before it (a straight wall continues),
// or from the one before at the edge of what is drawn.
void PutScan(std::vector<unsigned char>& out, const ViewerTick& t) {
  Nibbles scan(out);
  std::int32_t before = 0, last = 0;
  for (int i = 0; i < 360; ++i) {
    const std::int32_t code = ScanCode(t.scan[static_cast<std::size_t>(i)], i);
    const std::int32_t guess = before != 0 && last != 0 ? 2 * last - before : last;
    scan.Put(ZigZag(code - guess));
    before = last;
    last = code;
  }
}

void PutPath(std::vector<unsigned char>& out, const ViewerTick& t) {
  PutVarint(out, static_cast<std::uint32_t>(t.path.size()));
  for (std::size_t i = 0; i < t.path.size(); ++i) {
    const ViewerCell c = t.path[i];
    unsigned char code = kFarStep;
    if (i > 0)
      for (unsigned char s = 0; s < kSteps; ++s)
        if (c.col - t.path[i - 1].col == kStepCol[s] && c.row - t.path[i - 1].row == kStepRow[s]) code = s;
    if (i > 0) out.push_back(code);
    if (i == 0 || code == kFarStep) PutCell(out, c);
  }
}

}  // namespace

namespace run_html {

// Record layout (all integers LEB128 varints, signed ones zigzagged):
//   flags (1: target, 2: raw target); start cell; [target]; [raw target]
//   blocked: number of runs, then run lengths alternating free, blocked, ...
//   attraction: a mode byte, then (zero run, residual) pairs over the cells,
//     blocked cells taking the prediction; mode 1 predicts from the left,
//     upper and upper-left neighbours and makes the result the reference,
//     mode 0 predicts the reference (the last mode 1 tick's values), mode 2
//     predicts Cone around the target cell (0 without a target)
//   scan: 360 residuals of ScanCode against its prediction, zigzagged, in
//     4-bit codes (Nibbles), padded to a whole byte
//   path: count, first cell, then per cell its step from the one before
//     (an index into kStepCol/kStepRow, the page's "steps"), or 8 + the cell
std::vector<unsigned char> EncodeGrid(const ViewerTick& t, std::vector<unsigned char>& reference) {
  std::vector<unsigned char> out;
  out.push_back(static_cast<unsigned char>((t.has_target ? 1 : 0) | (t.has_raw_target ? 2 : 0)));
  PutCell(out, t.start);
  if (t.has_target) PutCell(out, t.target);
  if (t.has_raw_target) PutCell(out, t.raw_target);
  PutBlocked(out, t);
  PutAttraction(out, t, reference);
  PutScan(out, t);
  PutPath(out, t);
  return out;
}

}  // namespace run_html
