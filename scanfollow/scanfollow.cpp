// Tracking filter: one tracked point, moved each scan to the average of the
// front-half scan points near it. Every precision and sum order here is part
// of the result; see the notes at each step.
#include "scanfollow.h"

#include <cmath>

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
// Five decimals on purpose: the tables were always built from this value.
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

static bool InRange(float r, float farLimit) { return r > kNearLimit && r < farLimit; }

// ---- conversion -----------------------------------------------------------

// Both sides use the offset angle from the 90/270 axis; the products are formed
// in double and stored in single precision.
static void ConvertFrontHalf(const float* ranges) {
  for (int i = 0; i < kHalfSpan; ++i) {
    const int minusY = kFrontFirst + i;
    const float r1 = ranges[minusY];
    if (InRange(r1, kFarLimitMinusY)) {
      pntx[minusY] = static_cast<float>(static_cast<double>(r1) * sink[i]);
      pnty[minusY] = static_cast<float>(-static_cast<double>(r1) * cosk[i]);
    } else {
      pntx[minusY] = 0.0f;
      pnty[minusY] = 0.0f;
    }
    const int plusY = kFrontLast - i;
    const float r2 = ranges[plusY];
    if (InRange(r2, kFarLimitPlusY)) {
      pntx[plusY] = static_cast<float>(static_cast<double>(r2) * sink[i]);
      pnty[plusY] = static_cast<float>(static_cast<double>(r2) * cosk[i]);
    } else {
      pntx[plusY] = 0.0f;
      pnty[plusY] = 0.0f;
    }
  }
}

// ---- gathering ------------------------------------------------------------

// Mean of the stored points near the tracked point, summed in slot order in
// single precision; the tracked point itself when none qualifies.
static void GatherMean(float& meanX, float& meanY) {
  float sumX = 0.0f;
  float sumY = 0.0f;
  int count = 0;
  for (int j = kFrontFirst; j <= kFrontLast; ++j) {
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
