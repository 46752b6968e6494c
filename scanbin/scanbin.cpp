// SPDX-License-Identifier: BSD-3-Clause
#include "scanbin.h"

#include <cmath>
#include <cstring>

namespace {

constexpr int kReadings = 360;
constexpr float kNoReturn = std::numeric_limits<float>::infinity();
// Doubles from here up round to float infinity; below it they round to at
// most FLT_MAX. Converting them ourselves keeps the cast defined.
constexpr double kFloatOverflow = 0x1.ffffffp127;
constexpr double kDegPerRad = 180.0 / 3.14159265358979323846;

struct Limits {
  double scale;
  bool millimetres;
  float lo, hi;
};

bool ValidLimits(float lo, float hi) { return lo <= hi; }  // false for NaN too

bool ValidScale(double scale) { return std::isfinite(scale) && scale > 0.0; }

void Blank(float* out) {
  for (int i = 0; i < kReadings; ++i) out[i] = kNoReturn;
}

// Index 0..359 for a robot bearing in degrees, or -1 when it is not finite.
int IndexOf(double phi) {
  const double t = (phi + 180.0) + 0.5;
  if (!std::isfinite(t)) return -1;
  // floor(t) is a whole number, so the remainder is exact and in (-360, 360).
  double r = std::fmod(std::floor(t), 360.0);
  if (r < 0.0) r += 360.0;
  return static_cast<int>(r);
}

// The range in metres as a float, or +inf when the sample is no return.
float RangeOf(float raw, const Limits& lim) {
  const double raw_d = static_cast<double>(raw);
  const double m = lim.millimetres ? raw_d / 1000.0 : raw_d * lim.scale;
  if (!(m > 0.0) || m >= kFloatOverflow) return kNoReturn;
  const float f = static_cast<float>(m);
  if (!(f > 0.0f) || f < lim.lo || f > lim.hi) return kNoReturn;
  return f;
}

void Put(float* bins, double phi, float raw, const Limits& lim) {
  const int i = IndexOf(phi);
  if (i < 0) return;
  const float f = RangeOf(raw, lim);
  if (f < bins[i]) bins[i] = f;
}

constexpr float kUnseen = std::numeric_limits<float>::quiet_NaN();

// What a sample says of its degree in the marked rule: -inf for something
// nearer than the scanner measures, a return, +inf for no return out to the
// upper limit, or NaN when it says nothing (NaN, zero, negative, below the
// lower limit).
float MarkOf(float raw, const Limits& lim) {
  if (std::isnan(raw)) return kUnseen;
  if (raw == -kNoReturn) return -kNoReturn;
  const double raw_d = static_cast<double>(raw);
  const double m = lim.millimetres ? raw_d / 1000.0 : raw_d * lim.scale;
  if (!(m > 0.0)) return kUnseen;
  if (m >= kFloatOverflow) return kNoReturn;
  const float f = static_cast<float>(m);
  if (!(f > 0.0f) || f < lim.lo) return kUnseen;
  if (f > lim.hi) return kNoReturn;
  return f;
}

// A degree takes its smallest say; NaN is no say at all.
void PutMarked(float* bins, double phi, float raw, const Limits& lim) {
  const int i = IndexOf(phi);
  if (i < 0) return;
  const float f = MarkOf(raw, lim);
  if (std::isnan(f)) return;
  if (std::isnan(bins[i]) || f < bins[i]) bins[i] = f;
}

void BlankMarked(float* out) {
  for (int i = 0; i < kReadings; ++i) out[i] = kUnseen;
}

bool ValidLayout(const ScanLayout& layout) {
  return std::isfinite(layout.zero_deg) && ValidScale(layout.range_scale) &&
         ValidLimits(layout.min_range, layout.max_range);
}

Limits LimitsOf(const ScanLayout& layout) {
  return Limits{layout.range_scale, layout.range_scale == kScanMillimetres, layout.min_range,
                layout.max_range};
}

double Bearing(const ScanLayout& layout, double theta) {
  return layout.clockwise ? layout.zero_deg - theta : layout.zero_deg + theta;
}

}  // namespace

bool BinEvenScan(const float* ranges, std::size_t n, const ScanLayout& layout, float out[360]) {
  if (out == nullptr) return false;
  if (ranges == nullptr || n == 0 || !ValidLayout(layout)) {
    Blank(out);
    return false;
  }
  const Limits lim = LimitsOf(layout);
  const double count = static_cast<double>(n);
  float bins[kReadings];
  Blank(bins);
  for (std::size_t k = 0; k < n; ++k) {
    const double theta = (360.0 * static_cast<double>(k)) / count;
    Put(bins, Bearing(layout, theta), ranges[k], lim);
  }
  std::memcpy(out, bins, sizeof bins);
  return true;
}

bool BinSamples(const float* angles_deg, const float* ranges, std::size_t n,
                const ScanLayout& layout, float out[360]) {
  if (out == nullptr) return false;
  if (angles_deg == nullptr || ranges == nullptr || n == 0 || !ValidLayout(layout)) {
    Blank(out);
    return false;
  }
  const Limits lim = LimitsOf(layout);
  float bins[kReadings];
  Blank(bins);
  for (std::size_t k = 0; k < n; ++k) {
    Put(bins, Bearing(layout, static_cast<double>(angles_deg[k])), ranges[k], lim);
  }
  std::memcpy(out, bins, sizeof bins);
  return true;
}

bool BinLaserScan(float angle_min, float angle_increment, const float* ranges, std::size_t n,
                  float range_min, float range_max, float out[360]) {
  if (out == nullptr) return false;
  if (ranges == nullptr || n == 0 || !std::isfinite(angle_min) ||
      !std::isfinite(angle_increment) || !ValidLimits(range_min, range_max)) {
    Blank(out);
    return false;
  }
  const Limits lim{1.0, false, range_min, range_max};
  const double start = static_cast<double>(angle_min);
  const double step = static_cast<double>(angle_increment);
  float bins[kReadings];
  Blank(bins);
  for (std::size_t k = 0; k < n; ++k) {
    const double rad = start + static_cast<double>(k) * step;
    Put(bins, rad * kDegPerRad, ranges[k], lim);
  }
  std::memcpy(out, bins, sizeof bins);
  return true;
}

bool BinEvenScanSeen(const float* ranges, std::size_t n, const ScanLayout& layout, float out[360]) {
  if (out == nullptr) return false;
  if (ranges == nullptr || n == 0 || !ValidLayout(layout)) {
    BlankMarked(out);
    return false;
  }
  const Limits lim = LimitsOf(layout);
  const double count = static_cast<double>(n);
  float bins[kReadings];
  BlankMarked(bins);
  for (std::size_t k = 0; k < n; ++k) {
    const double theta = (360.0 * static_cast<double>(k)) / count;
    PutMarked(bins, Bearing(layout, theta), ranges[k], lim);
  }
  std::memcpy(out, bins, sizeof bins);
  return true;
}

bool BinSamplesSeen(const float* angles_deg, const float* ranges, std::size_t n, const ScanLayout& layout,
                    float out[360]) {
  if (out == nullptr) return false;
  if (angles_deg == nullptr || ranges == nullptr || n == 0 || !ValidLayout(layout)) {
    BlankMarked(out);
    return false;
  }
  const Limits lim = LimitsOf(layout);
  float bins[kReadings];
  BlankMarked(bins);
  for (std::size_t k = 0; k < n; ++k)
    PutMarked(bins, Bearing(layout, static_cast<double>(angles_deg[k])), ranges[k], lim);
  std::memcpy(out, bins, sizeof bins);
  return true;
}

bool BinLaserScanSeen(float angle_min, float angle_increment, const float* ranges, std::size_t n, float range_min,
                      float range_max, float out[360]) {
  if (out == nullptr) return false;
  if (ranges == nullptr || n == 0 || !std::isfinite(angle_min) || !std::isfinite(angle_increment) ||
      !ValidLimits(range_min, range_max)) {
    BlankMarked(out);
    return false;
  }
  const Limits lim{1.0, false, range_min, range_max};
  const double start = static_cast<double>(angle_min);
  const double step = static_cast<double>(angle_increment);
  float bins[kReadings];
  BlankMarked(bins);
  for (std::size_t k = 0; k < n; ++k)
    PutMarked(bins, (start + static_cast<double>(k) * step) * kDegPerRad, ranges[k], lim);
  std::memcpy(out, bins, sizeof bins);
  return true;
}

void MergeSeen(float out[360], const float part[360]) {
  for (int i = 0; i < kReadings; ++i) {
    const float f = part[i];
    if (std::isnan(f)) continue;
    if (std::isnan(out[i]) || f < out[i]) out[i] = f;
  }
}
