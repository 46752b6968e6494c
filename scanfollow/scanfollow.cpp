// SPDX-License-Identifier: BSD-3-Clause
// Tracking filter: one tracked point, moved each scan to the average of the
// front-half scan points near it. Every precision and sum order here is part
// of the result; see the notes at each step.
#include "scanfollow.h"

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>

// Single-precision expressions kept in wider registers (x87) round differently:
// the point sums and distance tests would no longer give these results.
#if !defined(FLT_EVAL_METHOD) || FLT_EVAL_METHOD != 0
#error "float expressions are evaluated in excess precision here; build with SSE2 arithmetic (e.g. -msse2 -mfpmath=sse)"
#endif

static constexpr int kScanSlots = 360;
static constexpr int kTableSize = 180;
static constexpr int kFrontFirst = 90;   // first slot of the front half (-Y side)
static constexpr int kFrontLast = 270;   // last slot of the front half (+Y side), averaged too
static constexpr int kHalfSpan = 90;     // readings converted on each side of slot 180

static constexpr float kNearLimit = 0.25f;
static constexpr float kFarLimitMinusY = 4.0f;  // readings 90..179
static constexpr float kFarLimitPlusY = 6.0f;   // readings 181..270
static constexpr double kGatherRadius = 0.3;
static constexpr double kCandidateRadius = 0.1;
static constexpr float kGatherBox = 0.3125f;  // 5/16: squares and roots exactly
// Five decimals on purpose: every converted point's bits depend on the
// angle tables built from it, and exact pi would move them.
static constexpr double kPiApprox = 3.14159;

// ---- tables ---------------------------------------------------------------

static float fLastX;
static float fLastY;
static float pntx[kScanSlots];
static float pnty[kScanSlots];
static double sink[kTableSize];
static double cosk[kTableSize];

// Every step single precision and rounded on its own.
static float cal_dist(float a, float b, float c, float d) {
  float dx = a - c;
  float dy = b - d;
  float sx = dx * dx;
  float sy = dy * dy;
  return std::sqrt(sx + sy);
}

static bool InRange(float r, float farLimit) {
  const int aboveNear = r > kNearLimit;
  const int belowFar = r < farLimit;
  return (aboveNear & belowFar) != 0;  // both tests, no branch: the loops vectorise
}

// ---- conversion -----------------------------------------------------------

// Both sides use the offset angle i from the 90/270 axis; the products are
// formed in double and stored in single precision. The products are formed
// for every reading and then selected: a product under a condition is not
// vectorised while floating-point traps are assumed possible.
static void ConvertFrontHalf(const float* ranges) {
  for (int i = 0; i < kHalfSpan; ++i) {  // readings 90..179, -Y side
    const float r = ranges[kFrontFirst + i];
    const bool ok = InRange(r, kFarLimitMinusY);
    const float px = static_cast<float>(static_cast<double>(r) * sink[i]);
    const float py = static_cast<float>(-static_cast<double>(r) * cosk[i]);
    pntx[kFrontFirst + i] = ok ? px : 0.0f;
    pnty[kFrontFirst + i] = ok ? py : 0.0f;
  }
  for (int i = 0; i < kHalfSpan; ++i) {  // readings 270..181, +Y side
    const float r = ranges[kFrontLast - i];
    const bool ok = InRange(r, kFarLimitPlusY);
    const float px = static_cast<float>(static_cast<double>(r) * sink[i]);
    const float py = static_cast<float>(static_cast<double>(r) * cosk[i]);
    pntx[kFrontLast - i] = ok ? px : 0.0f;
    pnty[kFrontLast - i] = ok ? py : 0.0f;
  }
}

// ---- gathering ------------------------------------------------------------

// Marks the slots whose point lies inside a 0.3125 m box around the tracked
// point. Exact as a pre-filter: a point that far along one axis is at least
// that far in all (5/16 squares and roots exactly), and NaN or infinite
// distances never pass the gather test either. Branch-free, so it vectorises.
static void MarkBoxedSlots(unsigned char* boxed) {
  for (int j = kFrontFirst; j <= kFrontLast; ++j) {
    const int nearX = std::fabs(pntx[j] - fLastX) < kGatherBox;
    const int nearY = std::fabs(pnty[j] - fLastY) < kGatherBox;
    boxed[j - kFrontFirst] = static_cast<unsigned char>(nearX & nearY);
  }
}

// Mean of the stored points near the tracked point, summed in slot order in
// single precision; the tracked point itself when none qualifies.
static void GatherMean(float& meanX, float& meanY) {
  // Marks padded to whole 8-byte words, so empty stretches are skipped a
  // word at a time; the sums below still run in slot order.
  constexpr int kSlots = kFrontLast - kFrontFirst + 1;
  constexpr int kWord = 8;
  unsigned char boxed[(kSlots + kWord - 1) / kWord * kWord] = {};
  MarkBoxedSlots(boxed);
  float sumX = 0.0f;
  float sumY = 0.0f;
  int count = 0;
  for (int k = 0; k < kSlots; ++k) {
    if (k % kWord == 0) {
      std::uint64_t word;
      std::memcpy(&word, boxed + k, sizeof word);
      if (word == 0) {
        k += kWord - 1;
        continue;
      }
    }
    if (!boxed[k]) continue;
    const int j = kFrontFirst + k;
    const float px = pntx[j];
    const float py = pnty[j];
    if (static_cast<double>(cal_dist(px, py, fLastX, fLastY)) < kGatherRadius &&
        cal_dist(px, py, 0.0f, 0.0f) > kNearLimit) {
      sumX = px + sumX;
      sumY = py + sumY;
      ++count;
    }
  }
  if (count > 0) {
    const float n = static_cast<float>(count);
    meanX = sumX / n;
    meanY = sumY / n;
  } else {
    meanX = fLastX;
    meanY = fLastY;
  }
}

// ---- operations -----------------------------------------------------------

float thredhold(float x) {
  for (int i = 0; i < kScanSlots; ++i) {
    pntx[i] = 0.0f;
    pnty[i] = 0.0f;
  }
  for (int i = 0; i < kTableSize; ++i) {
    const double a = static_cast<double>(i) * kPiApprox / 180.0;
    sink[i] = std::sin(a);
    cosk[i] = std::cos(a);
  }
  fLastX = x;
  fLastY = 0.0f;
  return 0.0f;
}

float filter(float x, float y, float* ranges, float* /*unused*/, float& outX, float& outY) {
  float meanX = fLastX;
  float meanY = fLastY;
  // A null scan is treated as "no scan": the stored points are left alone and
  // the tracked point stays, rather than crashing the caller.
  if (ranges != nullptr) {
    ConvertFrontHalf(ranges);
    GatherMean(meanX, meanY);
  }
  if (static_cast<double>(cal_dist(x, y, fLastX, fLastY)) < kCandidateRadius) {
    outX = x;
    outY = y;
  } else {
    outX = meanX;
    outY = meanY;
  }
  fLastX = meanX;
  fLastY = meanY;
  return 0.0f;
}
