// SPDX-License-Identifier: BSD-3-Clause
// Tracker fuzz target: any restart distance, then sequences of scans and
// candidates. The tracker's reference model (tests/scanfollow_reference.h)
// runs alongside and every output must match it bit for bit; the properties
// a caller relies on are checked on their own as well.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz_check.h"
#include "scanfollow.h"
#include "scanfollow_reference.h"
#include "test_support.h"

namespace {

using ref::Dist;
using tsup::FloatWithBits;

ref::Tracker model;

// A NaN output (only from a NaN restart distance) matches any NaN.
bool SameBits(float a, float b) { return tsup::SameBitsOrBothNaN(a, b); }

float SpecialFloat(FuzzedDataProvider& in) {
  static const float kSpecial[] = {
      NAN, -NAN, FloatWithBits(0x7fc00001u), INFINITY, -INFINITY, 0.0f, -0.0f, FloatWithBits(1u),
      FloatWithBits(0x807fffffu), 1e30f, -1e30f, 3.40282347e38f, 0.25f, FloatWithBits(0x3e800001u), 4.0f,
      FloatWithBits(0x407fffffu), 6.0f, FloatWithBits(0x40bfffffu), 1.0f, -1.0f, 0.3f, 0.1f, 2.0f};
  return kSpecial[in.ConsumeIntegralInRange<size_t>(0, sizeof kSpecial / sizeof kSpecial[0] - 1)];
}

float AnyFloat(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange<int>(0, 2)) {
    case 0: return FloatWithBits(in.ConsumeIntegral<uint32_t>());
    case 1: return SpecialFloat(in);
    default: return static_cast<float>(in.ConsumeIntegralInRange<int>(-140, 140)) * 0.05f;
  }
}

float Candidate(FuzzedDataProvider& in, float& y) {
  switch (in.ConsumeIntegralInRange<int>(0, 3)) {
    case 0:
      y = AnyFloat(in);
      return AnyFloat(in);
    case 1:  // near the tracked point, on both sides of the 0.1 m radius
      y = model.lastY + static_cast<float>(in.ConsumeIntegralInRange<int>(-30, 30)) * 0.005f;
      return model.lastX + static_cast<float>(in.ConsumeIntegralInRange<int>(-30, 30)) * 0.005f;
    case 2:  // one float step either side of the radius along X
      y = model.lastY;
      return std::nextafter(model.lastX + 0.1f, in.ConsumeBool() ? INFINITY : -INFINITY);
    default:
      y = model.lastY;
      return model.lastX;
  }
}

// Returns false for "no scan" (null pointer).
bool FillScan(FuzzedDataProvider& in, float* scan) {
  switch (in.ConsumeIntegralInRange<int>(0, 5)) {
    case 0:
      for (int i = 0; i < 271; ++i) scan[i] = FloatWithBits(in.ConsumeIntegral<uint32_t>());
      break;
    case 1: {
      const float v = AnyFloat(in);
      for (int i = 0; i < 271; ++i) scan[i] = v;
      break;
    }
    case 2:
      for (int i = 0; i < 271; ++i) {
        const uint8_t b = in.ConsumeIntegral<uint8_t>();
        scan[i] = b == 255 ? INFINITY : static_cast<float>(b) * 0.025f;
      }
      break;
    case 3: {  // an object around the tracked point, plus noise
      for (int i = 0; i < 271; ++i) scan[i] = INFINITY;
      const double r = std::hypot(static_cast<double>(model.lastX), static_cast<double>(model.lastY));
      double k = std::atan2(-static_cast<double>(model.lastY), -static_cast<double>(model.lastX)) *
                 180.0 / 3.141592653589793;
      if (!std::isfinite(r) || !std::isfinite(k)) break;
      if (k < 0) k += 360.0;
      const int centre = static_cast<int>(k) + in.ConsumeIntegralInRange<int>(-3, 3);
      const int half = in.ConsumeIntegralInRange<int>(0, 8);
      for (int i = centre - half; i <= centre + half; ++i) {
        if (i < 0 || i > 270) continue;
        scan[i] = static_cast<float>(r) +
                  static_cast<float>(in.ConsumeIntegralInRange<int>(-20, 20)) * 0.01f;
      }
      break;
    }
    case 4: {
      for (int i = 0; i < 271; ++i) scan[i] = INFINITY;
      const int k = in.ConsumeIntegralInRange<int>(0, 16);
      for (int n = 0; n < k; ++n) {
        const int i = in.ConsumeIntegralInRange<int>(85, 275);
        const float v = AnyFloat(in);
        for (int s = i; s < i + in.ConsumeIntegralInRange<int>(1, 12) && s < 271; ++s) scan[s] = v;
      }
      break;
    }
    default:
      return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  // Exactly the 271 readings the tracker may read, so a read past them is caught.
  std::vector<float> scanBuf(271);
  float* scan = scanBuf.data();
  const float start = AnyFloat(in);
  CHECK(thredhold(start) == 0.0f, "thredhold result");
  model.Thredhold(start);
  for (int op = 0; op < 200 && in.remaining_bytes() > 0; ++op) {
    if (in.ConsumeIntegralInRange<int>(0, 15) == 0) {
      const float d = AnyFloat(in);
      CHECK(thredhold(d) == 0.0f, "thredhold result");
      model.Thredhold(d);
      continue;
    }
    float cy = 0.0f;
    const float cx = Candidate(in, cy);
    float* ranges = FillScan(in, scan) ? scan : nullptr;
    const float oldX = model.lastX, oldY = model.lastY;
    float outX = 12345.0f, outY = 12345.0f;
    CHECK(filter(cx, cy, ranges, nullptr, outX, outY) == 0.0f, "filter result");
    float wantX = 0.0f, wantY = 0.0f;
    model.Filter(cx, cy, ranges, wantX, wantY);
    const float meanX = model.lastX, meanY = model.lastY;  // the new tracked point
    // Either the candidate, and then only when it was near the old point,
    // or the new mean.
    const bool isCandidate = SameBits(outX, cx) && SameBits(outY, cy);
    const bool isMean = SameBits(outX, meanX) && SameBits(outY, meanY);
    CHECK(isCandidate || isMean, "output (%a, %a) is neither candidate nor mean", outX, outY);
    if (!isMean) {
      CHECK(static_cast<double>(Dist(cx, cy, oldX, oldY)) < 0.1,
            "candidate (%a, %a) passed through %a away", cx, cy, Dist(cx, cy, oldX, oldY));
    }
    CHECK(SameBits(outX, wantX) && SameBits(outY, wantY), "output (%a, %a), want (%a, %a)", outX,
          outY, wantX, wantY);
    if (ranges == nullptr) {
      CHECK(SameBits(model.lastX, oldX) && SameBits(model.lastY, oldY), "no scan moved the point");
    }
  }
  return 0;
}
