// SPDX-License-Identifier: BSD-3-Clause
// Scan binning fuzz target: any layout, limits and samples (any bits, or
// plausible driver output) through all three conversions. Checked: the
// result says whether the arguments were valid; a false result or no return
// is +inf; every return lies within the limits and is the nearest converted
// range among the samples that land on its index; sample order does not
// matter, and an even turn equals the same samples given with their angles.
#include <fuzzer/FuzzedDataProvider.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_check.h"
#include "scanbin.h"

namespace {

float Bits(uint32_t u) {
  float f;
  std::memcpy(&f, &u, sizeof f);
  return f;
}

bool SameBits(const float* a, const float* b) { return std::memcmp(a, b, 360 * sizeof(float)) == 0; }

float AnyFloat(FuzzedDataProvider& in, float plain_scale) {
  static const float kSpecial[] = {NAN, INFINITY, -INFINITY, 0.0f, -0.0f, Bits(1u), FLT_MAX,
                                   -FLT_MAX, 0.5f, -0.5f, 179.5f, 359.5f, 1e20f, -1e20f};
  switch (in.ConsumeIntegralInRange<int>(0, 2)) {
    case 0: return Bits(in.ConsumeIntegral<uint32_t>());
    case 1: return kSpecial[in.ConsumeIntegralInRange<size_t>(0, sizeof kSpecial / sizeof kSpecial[0] - 1)];
    default: return static_cast<float>(in.ConsumeIntegralInRange<int>(-800, 800)) * plain_scale;
  }
}

double AnyScale(FuzzedDataProvider& in) {
  static const double kScales[] = {kScanMetres, kScanMillimetres, 0.01, 1e-30, 1e30, 0.0, -1.0,
                                   NAN, INFINITY};
  if (in.ConsumeBool()) return kScales[in.ConsumeIntegralInRange<size_t>(0, 8)];
  double d;
  const uint64_t u = in.ConsumeIntegral<uint64_t>();
  std::memcpy(&d, &u, sizeof d);
  return d;
}

// Range in metres as the caller expects it converted, or +inf for no return.
float Expected(float raw, double scale, float lo, float hi) {
  const double m = scale == kScanMillimetres ? static_cast<double>(raw) / 1000.0
                                             : static_cast<double>(raw) * scale;
  // clang defines an overflowing double to float conversion as infinity.
  const float f = static_cast<float>(m);
  return std::isfinite(f) && f > 0.0f && f >= lo && f <= hi ? f : INFINITY;
}

// Index 0..359 of a robot bearing in degrees, or -1 when it is not finite.
int IndexFor(double phi) {
  const double t = std::floor((phi + 180.0) + 0.5);
  if (!std::isfinite(t)) return -1;
  if (std::fabs(t) < 0x1p62) {
    const long long v = static_cast<long long>(t) % 360;
    return static_cast<int>(v < 0 ? v + 360 : v);
  }
  // Beyond 2^62 the value is a multiple of 2^10: reduce 2^k mod 360 exactly.
  int e = 0;
  const double mant = std::frexp(std::fabs(t), &e);  // |t| = mant * 2^e
  const long long m53 = static_cast<long long>(std::ldexp(mant, 53));
  long long r = m53 % 360;
  for (int i = 53; i < e; ++i) r = (r * 2) % 360;
  if (t < 0) r = (360 - r) % 360;
  return static_cast<int>(r);
}

// Checks `out` against samples given as bearings and converted ranges.
void CheckAgainst(const float* out, const std::vector<double>& phi, const std::vector<float>& range,
                  float lo, float hi) {
  float want[360];
  for (float& w : want) w = INFINITY;
  for (size_t k = 0; k < phi.size(); ++k) {
    const int i = IndexFor(phi[k]);
    if (i >= 0 && range[k] < want[i]) want[i] = range[k];
  }
  for (int i = 0; i < 360; ++i) {
    CHECK(out[i] == INFINITY || (out[i] > 0.0f && out[i] >= lo && out[i] <= hi), "index %d: %a", i,
          static_cast<double>(out[i]));
    CHECK(std::memcmp(&out[i], &want[i], sizeof(float)) == 0, "index %d: %a, want %a", i,
          static_cast<double>(out[i]), static_cast<double>(want[i]));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  ScanLayout layout;
  layout.zero_deg = in.ConsumeBool() ? static_cast<double>(AnyFloat(in, 7.5f))
                                     : in.ConsumeFloatingPoint<double>();
  layout.clockwise = in.ConsumeBool();
  layout.range_scale = AnyScale(in);
  layout.min_range = in.ConsumeBool() ? 0.0f : AnyFloat(in, 0.01f);
  layout.max_range = in.ConsumeBool() ? INFINITY : AnyFloat(in, 0.05f);
  const size_t n = in.ConsumeIntegralInRange<size_t>(0, 1500);
  std::vector<float> angles(n), raws(n);
  const float raw_step = layout.range_scale == kScanMillimetres ? 10.0f : 0.01f;
  for (size_t k = 0; k < n && in.remaining_bytes() > 0; ++k) {
    angles[k] = AnyFloat(in, 0.45f);
    raws[k] = AnyFloat(in, raw_step);
  }
  const bool layout_ok = std::isfinite(layout.zero_deg) && std::isfinite(layout.range_scale) &&
                         layout.range_scale > 0.0 && layout.min_range <= layout.max_range;
  const bool valid = layout_ok && n > 0;
  const float lo = layout.min_range, hi = layout.max_range;

  auto bearing = [&](double theta) {
    return layout.clockwise ? layout.zero_deg - theta : layout.zero_deg + theta;
  };
  std::vector<double> phi(n);
  std::vector<float> range(n);
  for (size_t k = 0; k < n; ++k) range[k] = Expected(raws[k], layout.range_scale, lo, hi);

  float out[360], again[360];
  // Explicit samples, then the same samples in reverse order.
  const bool ok = BinSamples(angles.data(), raws.data(), n, layout, out);
  CHECK(ok == valid, "BinSamples returned %d", ok);
  if (!valid) {
    for (float v : out) CHECK(v == INFINITY, "bad arguments left %a", static_cast<double>(v));
  } else {
    for (size_t k = 0; k < n; ++k) phi[k] = bearing(static_cast<double>(angles[k]));
    CheckAgainst(out, phi, range, lo, hi);
    std::vector<float> ra(angles.rbegin(), angles.rend()), rr(raws.rbegin(), raws.rend());
    CHECK(BinSamples(ra.data(), rr.data(), n, layout, again), "reversed");
    CHECK(SameBits(out, again), "sample order changed the scan");
  }

  // Even turn, and the same turn as explicit (double) bearings.
  CHECK(BinEvenScan(raws.data(), n, layout, out) == valid, "BinEvenScan result");
  if (valid) {
    for (size_t k = 0; k < n; ++k) {
      phi[k] = bearing(360.0 * static_cast<double>(k) / static_cast<double>(n));
    }
    CheckAgainst(out, phi, range, lo, hi);
  }

  // The LaserScan form: angles in radians straight from the first two floats.
  const float amin = n > 0 ? angles[0] * 0.0174532924f : 0.0f;
  const float inc = n > 1 ? angles[1] * 0.0001f : 0.0f;
  const bool laser_valid =
      n > 0 && std::isfinite(amin) && std::isfinite(inc) && lo <= hi;
  CHECK(BinLaserScan(amin, inc, raws.data(), n, lo, hi, out) == laser_valid, "BinLaserScan result");
  if (laser_valid) {
    for (size_t k = 0; k < n; ++k) {
      const double rad = static_cast<double>(amin) + static_cast<double>(k) * static_cast<double>(inc);
      phi[k] = rad * (180.0 / 3.14159265358979323846);
      range[k] = Expected(raws[k], 1.0, lo, hi);
    }
    CheckAgainst(out, phi, range, lo, hi);
  } else {
    for (float v : out) CHECK(v == INFINITY, "bad LaserScan fields left %a", static_cast<double>(v));
  }
  return 0;
}
