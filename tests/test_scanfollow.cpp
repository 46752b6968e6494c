// SPDX-License-Identifier: BSD-3-Clause
// Tracker behaviour through its two exported operations. The library state is
// process-wide, so every test starts with thredhold.
#include "scanfollow.h"
#include "scanfollow_reference.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iomanip>
#include <limits>
#include <random>
#include <vector>

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kDenorm = std::numeric_limits<float>::denorm_min();

using tsup::ValueBits;

#define EXPECT_BITS(actual, expected)                                             \
  EXPECT_EQ(ValueBits(actual), ValueBits(expected)) << #actual " = " << (actual) << ", " \
                                          << #expected " = " << (expected)

struct Out {
  float x, y;
};

struct Scan {
  std::array<float, 360> r;
  Scan() { r.fill(kInf); }
  Scan& Set(int k, float v) {
    r[static_cast<size_t>(k)] = v;
    return *this;
  }
  float* data() { return r.data(); }
};

Scan TenSlotScan() {
  Scan s;
  for (int k = 175; k <= 185; ++k) s.Set(k, 1.0f);
  return s;
}

Out Step(float cx, float cy, float* ranges) {
  Out o{-7.0f, -7.0f};
  float unused = 0.0f;
  EXPECT_BITS(filter(cx, cy, ranges, &unused, o.x, o.y), 0.0f);
  return o;
}

// Reads the tracked point without moving it: an empty scan gathers nothing and
// a NaN candidate is always replaced.
Out Tracked() {
  Scan empty;
  return Step(kNaN, kNaN, empty.data());
}

Out Point(int k, float r) {
  Out p;
  ref::Point(k, r, p.x, p.y);
  return p;
}

// What a scan holding just this point averages to: 0 + p, divided by 1.
Out Single(Out p) { return Out{(p.x + 0.0f) / 1.0f, (p.y + 0.0f) / 1.0f}; }

::testing::AssertionResult SameBits(Out o, float ex, float ey) {
  if (ValueBits(o.x) == ValueBits(ex) && ValueBits(o.y) == ValueBits(ey)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << std::setprecision(9) << "got (" << o.x << ", " << o.y << ") = "
                                       << std::hex << ValueBits(o.x) << " " << ValueBits(o.y) << ", expected "
                                       << std::dec << "(" << ex << ", " << ey << ") = " << std::hex
                                       << ValueBits(ex) << " " << ValueBits(ey) << std::dec;
}

#define EXPECT_OUT(o, ex, ey) EXPECT_TRUE(SameBits((o), (ex), (ey)))

// Slot order 175..179 then 181..185, each sum rounded to float.
Out TenSlotMean() {
  float sx = 0.0f, sy = 0.0f;
  for (int k = 175; k <= 185; ++k) {
    if (k == 180) continue;
    const Out p = Point(k, 1.0f);
    sx = p.x + sx;
    sy = p.y + sy;
  }
  return Out{sx / 10.0f, sy / 10.0f};
}

// Drags the tracked point along an arc, one echo per scan.
void Walk(float r, int from, int to) {
  const int dir = to >= from ? 1 : -1;
  for (int k = from;; k += dir) {
    if (k != 180) {
      Scan s;
      const Out p = Single(Point(k, r));
      EXPECT_OUT(Step(kNaN, kNaN, s.Set(k, r).data()), p.x, p.y) << "walking at reading " << k;
    }
    if (k == to) break;
  }
}

TEST(scanfollowMean, TenSlotsBitExactAndBecomeTrackedPoint) {
  const Out m = TenSlotMean();
  const float mx = m.x, my = m.y;
  EXPECT_BITS(mx, 0.99832535f);
  EXPECT_EQ(ValueBits(my), 0xB0CCCCCDu);  // -1.4901161e-9; summed in reverse it would be positive
  EXPECT_NEAR(my, -1.49e-9, 0.005e-9);

  Scan s = TenSlotScan();
  EXPECT_BITS(thredhold(1.0f), 0.0f);
  EXPECT_OUT(Step(1.5f, 0.0f, s.data()), mx, my);
  EXPECT_OUT(Tracked(), mx, my);
  // The same ten points around the new tracked point: same mean again.
  EXPECT_OUT(Step(1.5f, 0.0f, s.data()), mx, my);
  // Judged against the moved point (0.0517 m away): passed through.
  EXPECT_OUT(Step(1.05f, 0.0f, s.data()), 1.05f, 0.0f);
  EXPECT_OUT(Tracked(), mx, my);

  // A passed-through candidate never moves the tracked point.
  thredhold(1.0f);
  EXPECT_OUT(Step(1.05f, 0.0f, s.data()), 1.05f, 0.0f);
  EXPECT_OUT(Tracked(), mx, my);
}

TEST(scanfollowCandidate, StrictRadiusAndNonFiniteCandidates) {
  thredhold(0.0f);
  EXPECT_BITS(ref::Dist(0.1f, 0.0f, 0.0f, 0.0f), 0.1f);
  const float below = std::nextafter(0.1f, 0.0f);
  Scan empty;
  EXPECT_OUT(Step(0.1f, 0.0f, empty.data()), 0.0f, 0.0f);
  EXPECT_OUT(Step(0.0f, -0.1f, empty.data()), 0.0f, 0.0f);
  EXPECT_OUT(Step(0.0f, below, empty.data()), 0.0f, below);
  EXPECT_OUT(Step(-below, 0.0f, empty.data()), -below, 0.0f);
  EXPECT_OUT(Step(-0.07f, 0.07f, empty.data()), -0.07f, 0.07f);       // 0.099 m
  EXPECT_OUT(Step(0.0708f, -0.0708f, empty.data()), 0.0f, 0.0f);      // 0.1001 m
  EXPECT_OUT(Step(-0.0f, -0.0f, empty.data()), -0.0f, -0.0f);
  EXPECT_OUT(Step(kDenorm, -kDenorm, empty.data()), kDenorm, -kDenorm);
  const float bad[][2] = {{kNaN, 0.0f}, {0.0f, kNaN}, {kNaN, kNaN}, {kInf, 0.0f},
                          {0.0f, -kInf}, {kInf, kInf}, {FLT_MAX, 0.0f}, {1e20f, 1e20f}};
  for (const auto& c : bad) EXPECT_OUT(Step(c[0], c[1], empty.data()), 0.0f, 0.0f) << c[0] << "," << c[1];
  EXPECT_OUT(Tracked(), 0.0f, 0.0f);

  // inf - inf is NaN: even the tracked point itself is replaced.
  thredhold(kInf);
  EXPECT_OUT(Step(kInf, 0.0f, empty.data()), kInf, 0.0f);
  // Against a tracked point of (1, 0) the 0.1 boundary is the same.
  thredhold(1.0f);
  const float in09 = std::nextafter(0.9f, 1.0f), in11 = std::nextafter(1.1f, 1.0f);
  EXPECT_OUT(Step(0.9f, 0.0f, empty.data()), 1.0f, 0.0f);  // 0.100000024 away
  EXPECT_OUT(Step(1.1f, 0.0f, empty.data()), 1.0f, 0.0f);  // 0.100000024 away
  EXPECT_OUT(Step(in09, 0.0f, empty.data()), in09, 0.0f);
  EXPECT_OUT(Step(in11, 0.0f, empty.data()), in11, 0.0f);
}

TEST(scanfollowNeighbourhood, EmptyKeepsTrackedPointAndUnreadSlotsStayOut) {
  thredhold(1.0f);
  Scan empty;
  EXPECT_OUT(Step(1.5f, 0.0f, empty.data()), 1.0f, 0.0f);
  EXPECT_OUT(Tracked(), 1.0f, 0.0f);

  Scan far;  // a wall segment 2 m away from the tracked point
  for (int k = 200; k <= 220; ++k) far.Set(k, 3.0f);
  EXPECT_OUT(Step(1.5f, 0.0f, far.data()), 1.0f, 0.0f);

  // Only readings 90..270 without 180 exist for the tracker; a 271-value scan
  // is enough (overreads show up under AddressSanitizer).
  std::array<float, 271> shortScan;
  shortScan.fill(1.0f);
  for (int k = 90; k <= 270; ++k) shortScan[static_cast<size_t>(k)] = kInf;
  EXPECT_OUT(Step(1.5f, 0.0f, shortScan.data()), 1.0f, 0.0f);
  Scan rear;
  for (int k = 0; k < 360; ++k) rear.Set(k, (k >= 90 && k <= 270 && k != 180) ? kInf : 1.0f);
  EXPECT_OUT(Step(1.5f, 0.0f, rear.data()), 1.0f, 0.0f);
  EXPECT_OUT(Tracked(), 1.0f, 0.0f);
}

// Walks along each side just inside the far limit and probes every index with
// the limit itself, one step above, and one step below.
void ProbeFarLimit(float walkR, float limit, int from, int to) {
  thredhold(walkR);
  const float below = std::nextafter(limit, 0.0f);
  const float over[] = {limit, std::nextafter(limit, kInf), limit + 0.1f};
  const int dir = to >= from ? 1 : -1;
  for (int k = from;; k += dir) {
    SCOPED_TRACE(k);
    Scan s;
    const Out anchor = Single(Point(k, walkR));
    EXPECT_OUT(Step(kNaN, kNaN, s.Set(k, walkR).data()), anchor.x, anchor.y);
    for (float r : over) EXPECT_OUT(Step(kNaN, kNaN, s.Set(k, r).data()), anchor.x, anchor.y) << r;
    const Out in = Single(Point(k, below));
    EXPECT_OUT(Step(kNaN, kNaN, s.Set(k, below).data()), in.x, in.y);
    if (k == to) break;
  }
}

TEST(scanfollowLimits, FarLimitFourMetresOnReadings90To179) { ProbeFarLimit(3.9f, 4.0f, 179, 90); }

TEST(scanfollowLimits, FarLimitSixMetresOnReadings181To270) { ProbeFarLimit(5.9f, 6.0f, 181, 270); }

TEST(scanfollowLimits, Reading225AtFiveMetres) {
  thredhold(5.0f);
  Walk(5.0f, 181, 225);
  EXPECT_OUT(Tracked(), 3.5355315f, 3.5355363f);
}

TEST(scanfollowLimits, JustOverNearLimitFillsSlotButSomeAreNeverAveraged) {
  const float just = std::nextafter(0.25f, 1.0f);
  const float rejected[] = {0.25f, std::nextafter(0.25f, 0.0f), 0.0f, -0.0f, -1.0f, kDenorm, -kInf, kNaN};
  std::vector<int> notAveraged;
  int averaged = 0;
  for (int k = 110; k <= 250; ++k) {  // all within 0.3 m of (0.25, 0)
    if (k == 180) continue;
    SCOPED_TRACE(k);
    Scan s;
    const Out p = Point(k, just);
    thredhold(0.25f);
    const Out o = Step(kNaN, kNaN, s.Set(k, just).data());
    if (ref::Dist(p.x, p.y, 0.0f, 0.0f) > 0.25f) {
      ++averaged;
      EXPECT_OUT(o, p.x, p.y);
    } else {
      notAveraged.push_back(k);
      EXPECT_OUT(o, 0.25f, 0.0f);
    }
    for (float r : rejected) {
      thredhold(0.25f);
      EXPECT_OUT(Step(kNaN, kNaN, s.Set(k, r).data()), 0.25f, 0.0f) << r;
    }
  }
  EXPECT_GT(averaged, 120);
  for (int k : {165, 166, 174, 179, 181}) {
    const Out p = Point(k, just);
    EXPECT_BITS(ref::Dist(p.x, p.y, 0.0f, 0.0f), 0.25f) << k;
    EXPECT_NE(std::find(notAveraged.begin(), notAveraged.end(), k), notAveraged.end()) << k;
  }
}

TEST(scanfollowEndSlots, Readings90And270TakePart) {
  thredhold(1.0f);
  Walk(1.0f, 181, 269);
  Scan s;
  EXPECT_OUT(Step(kNaN, kNaN, s.Set(270, 1.0f).data()), 0.0f, 1.0f);
  // With the tracked point on (0, 1): 269 and 270 both counted, in slot order.
  const Out p269 = Point(269, 1.0f);
  s.Set(269, 1.0f);
  EXPECT_OUT(Step(kNaN, kNaN, s.data()), (0.0f + (p269.x + 0.0f)) / 2.0f, (1.0f + (p269.y + 0.0f)) / 2.0f);

  // Gather radius boundary: 1 - 0.7f is exactly 0.3f, which is not below 0.3.
  thredhold(1.0f);
  Walk(1.0f, 181, 270);
  EXPECT_BITS(ref::Dist(0.0f, 0.7f, 0.0f, 1.0f), 0.3f);
  Scan t;
  EXPECT_OUT(Step(kNaN, kNaN, t.Set(270, 0.7f).data()), 0.0f, 1.0f);
  const float in = std::nextafter(0.7f, 1.0f);
  EXPECT_OUT(Step(kNaN, kNaN, t.Set(270, in).data()), 0.0f, in);

  thredhold(1.0f);
  Walk(1.0f, 179, 91);
  Scan u;
  EXPECT_OUT(Step(kNaN, kNaN, u.Set(90, 1.0f).data()), 0.0f, -1.0f);
}

TEST(scanfollowReadings, NonFiniteAndBadReadingsAreSkipped) {
  const float bad[] = {kNaN, -kNaN, kInf, -kInf, 0.0f, -0.0f, -1.0f, kDenorm, -kDenorm, 0.25f, FLT_MAX, 6.0f};
  Scan s;
  for (int k = 90; k <= 270; ++k) s.Set(k, bad[static_cast<size_t>(k) % (sizeof bad / sizeof bad[0])]);
  thredhold(1.0f);
  EXPECT_OUT(Step(1.5f, 0.0f, s.data()), 1.0f, 0.0f);
  const Out p = Single(Point(181, 1.0f));
  EXPECT_OUT(Step(1.5f, 0.0f, s.Set(181, 1.0f).data()), p.x, p.y);
}

TEST(scanfollowRestart, ThredholdResetsTrackedPoint) {
  Scan s = TenSlotScan();
  thredhold(1.0f);
  const Out first = Step(1.5f, 0.0f, s.data());
  Walk(1.0f, 185, 230);
  EXPECT_BITS(thredhold(2.0f), 0.0f);
  EXPECT_OUT(Tracked(), 2.0f, 0.0f);
  thredhold(-3.0f);
  EXPECT_OUT(Tracked(), -3.0f, 0.0f);
  thredhold(1.0f);
  EXPECT_OUT(Step(1.5f, 0.0f, s.data()), first.x, first.y);
}

TEST(scanfollowRestart, NaNStartYieldsNaNUntilRestarted) {
  Scan s = TenSlotScan();
  thredhold(kNaN);
  const float cands[][2] = {{1.0f, 0.0f}, {kNaN, 0.0f}, {0.0f, 0.0f}, {1.05f, 0.0f}, {kNaN, kNaN}};
  for (const auto& c : cands) {
    const Out o = Step(c[0], c[1], s.data());
    EXPECT_TRUE(std::isnan(o.x));
    EXPECT_BITS(o.y, 0.0f);
  }
  EXPECT_TRUE(std::isnan(Step(1.0f, 0.0f, nullptr).x));
  thredhold(1.0f);
  const Out m = TenSlotMean();
  EXPECT_OUT(Step(1.5f, 0.0f, s.data()), m.x, m.y);
}

TEST(scanfollowNullScan, SkipsScanKeepsTrackedPointJudgesCandidate) {
  thredhold(1.0f);
  EXPECT_OUT(Step(1.5f, 0.0f, nullptr), 1.0f, 0.0f);
  EXPECT_OUT(Step(1.05f, 0.02f, nullptr), 1.05f, 0.02f);
  EXPECT_OUT(Tracked(), 1.0f, 0.0f);
  Scan s = TenSlotScan();
  const Out t = Step(1.5f, 0.0f, s.data());
  EXPECT_OUT(Step(-4.0f, 2.0f, nullptr), t.x, t.y);
  EXPECT_OUT(Step(kNaN, 0.0f, nullptr), t.x, t.y);
  EXPECT_OUT(Step(t.x + 0.05f, t.y, nullptr), t.x + 0.05f, t.y);
  EXPECT_OUT(Tracked(), t.x, t.y);
}

TEST(scanfollowMoving, FollowsADiskAcrossScans) {
  ref::Tracker model;
  thredhold(1.0f);
  model.Thredhold(1.0f);
  const double rad = 0.12;
  double cx = 1.05, cy = 0.0;
  int passed = 0;
  for (int step = 0; step < 240; ++step) {
    // Out to the +Y side, back across the axis, then to the -Y side.
    const double heading = step < 80 ? 1.2 : (step < 160 ? -1.9 : -1.2);
    cx += 0.03 * std::cos(heading);
    cy += 0.03 * std::sin(heading);
    Scan s;
    for (int k = 90; k <= 270; ++k) {
      const double wall = 3.5 / -std::cos(static_cast<double>(k) * 3.14159265358979323846 / 180.0);
      s.Set(k, std::fmin(ref::DiskRange(k, cx, cy, rad), static_cast<float>(wall)));
    }
    // The caller's own estimate: the disk centre, sometimes off by 0.2 m.
    const float candX = static_cast<float>(step % 3 == 0 ? cx + 0.2 : cx);
    const float candY = static_cast<float>(cy);
    const Out o = Step(candX, candY, s.data());
    float ex, ey;
    model.Filter(candX, candY, s.data(), ex, ey);
    ASSERT_EQ(ValueBits(o.x), ValueBits(ex)) << "step " << step;
    ASSERT_EQ(ValueBits(o.y), ValueBits(ey)) << "step " << step;
    passed += model.lastPassed;
    ASSERT_GE(model.lastCount, 2) << "step " << step;
    ASSERT_LT(std::hypot(model.lastX - cx, model.lastY - cy), rad) << "step " << step;
  }
  EXPECT_GT(passed, 40);
  EXPECT_LT(passed, 200);
  EXPECT_OUT(Tracked(), model.lastX, model.lastY);
  // The object leaps beyond the gather radius: the track is lost and stays.
  Scan gone;
  for (int k = 90; k <= 270; ++k) gone.Set(k, ref::DiskRange(k, cx + 0.6, cy, rad));
  EXPECT_OUT(Step(kNaN, kNaN, gone.data()), model.lastX, model.lastY);
}

float PickAdversarial(std::mt19937& rng) {
  static const float adversarial[] = {kNaN, -kNaN, kInf, -kInf, 0.0f, -0.0f, -1.0f, kDenorm, -kDenorm,
                                      FLT_MIN, FLT_MAX, 1e-30f, 0.25f, std::nextafter(0.25f, 1.0f),
                                      std::nextafter(0.25f, 0.0f), 4.0f, std::nextafter(4.0f, 0.0f),
                                      std::nextafter(4.0f, 5.0f), 6.0f, std::nextafter(6.0f, 0.0f),
                                      std::nextafter(6.0f, 7.0f)};
  std::uniform_int_distribution<size_t> pick(0, sizeof adversarial / sizeof adversarial[0] - 1);
  return adversarial[pick(rng)];
}

TEST(scanfollowReference, RandomScansCandidatesAndRestartsMatchBitForBit) {
  const float starts[] = {kNaN, kInf, -kInf, 0.0f, -0.0f, kDenorm, 0.25f, 4.0f, 6.0f, -1.0f};
  std::uniform_real_distribution<double> u01(0.0, 1.0);
  long calls = 0, mismatches = 0, passedCount = 0, gathered = 0;
  for (unsigned seed : {1u, 7u, 42u, 2024u, 99991u}) {
    std::mt19937 rng(seed);
    ref::Tracker model;
    const float x0 = static_cast<float>(0.3 + 4.0 * u01(rng));
    thredhold(x0);
    model.Thredhold(x0);
    for (int step = 0; step < 2000; ++step) {
      const double roll = u01(rng);
      if (roll < 0.02) {
        const float x = u01(rng) < 0.5 ? starts[rng() % 10] : static_cast<float>(7.0 * u01(rng) - 1.0);
        EXPECT_BITS(thredhold(x), 0.0f);
        model.Thredhold(x);
      }
      Scan s;
      const bool near = std::isfinite(model.lastX) && u01(rng) < 0.7;
      const double dcx = near ? model.lastX + 0.5 * (u01(rng) - 0.5) : 6.0 * u01(rng);
      const double dcy = near ? model.lastY + 0.5 * (u01(rng) - 0.5) : 8.0 * (u01(rng) - 0.5);
      const double rad = 0.02 + 0.3 * u01(rng);
      const double noise = 0.02 * u01(rng), junk = 0.15 * u01(rng);
      for (int k = 0; k < 360; ++k) {
        const double pr = u01(rng);
        float r = ref::DiskRange(k, dcx, dcy, rad);
        if (pr < junk) r = PickAdversarial(rng);
        else if (pr < junk + 0.1) r = static_cast<float>(7.0 * u01(rng));
        else if (std::isfinite(r)) r = static_cast<float>(r + noise * (u01(rng) - 0.5));
        s.Set(k, r);
      }
      float cx, cy;
      const double cr = u01(rng);
      if (cr < 0.4) {
        cx = model.lastX + static_cast<float>(0.14 * (u01(rng) - 0.5));
        cy = model.lastY + static_cast<float>(0.14 * (u01(rng) - 0.5));
      } else if (cr < 0.5) {
        cx = model.lastX;
        cy = model.lastY;
      } else if (cr < 0.6) {
        cx = PickAdversarial(rng);
        cy = u01(rng) < 0.5 ? 0.0f : PickAdversarial(rng);
      } else {
        cx = static_cast<float>(8.0 * (u01(rng) - 0.5));
        cy = static_cast<float>(8.0 * (u01(rng) - 0.5));
      }
      float* ranges = u01(rng) < 0.03 ? nullptr : s.data();
      const Out o = Step(cx, cy, ranges);
      float ex, ey;
      model.Filter(cx, cy, ranges, ex, ey);
      ++calls;
      passedCount += model.lastPassed;
      gathered += model.lastCount > 0;
      if (ValueBits(o.x) != ValueBits(ex) || ValueBits(o.y) != ValueBits(ey)) {
        if (++mismatches <= 5)
          ADD_FAILURE() << "seed " << seed << " step " << step << ": got (" << o.x << ", " << o.y
                        << ") expected (" << ex << ", " << ey << ")";
      }
    }
  }
  EXPECT_EQ(mismatches, 0) << "of " << calls;
  // Both branches and real averaging were exercised.
  EXPECT_GT(passedCount, calls / 10);
  EXPECT_GT(gathered, calls / 3);
}

}  // namespace
