// SPDX-License-Identifier: BSD-3-Clause
// Binning real scanner samples into the 360 one-degree readings. Expected
// indices are worked out by hand from how each scanner is mounted, not from
// the binning formula.
#include "scanbin.h"

#include <gtest/gtest.h>

#include <array>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kPi = 3.14159265358979323846f;
using Scan = std::array<float, 360>;

Scan Filled(float v) {
  Scan s;
  s.fill(v);
  return s;
}

// Indices holding a return, each once.
std::vector<int> Returns(const Scan& s) {
  std::vector<int> idx;
  for (int i = 0; i < 360; ++i) {
    if (s[static_cast<size_t>(i)] != kInf) idx.push_back(i);
  }
  return idx;
}

bool AllNoReturn(const Scan& s) { return Returns(s).empty(); }

ScanLayout Layout(double zero, bool cw, double scale = kScanMetres) {
  ScanLayout l;
  l.zero_deg = zero;
  l.clockwise = cw;
  l.range_scale = scale;
  return l;
}

// Where a mounted scanner sees the robot's ahead, left, right and behind, in
// its own degrees (worked out on paper for each mounting).
struct Mounting {
  double zero;
  bool cw;
  double ahead, left, right, behind;
};
const Mounting kMountings[] = {
    {0.0, false, 0.0, 90.0, 270.0, 180.0},
    {90.0, false, 270.0, 0.0, 180.0, 90.0},
    {180.0, false, 180.0, 270.0, 90.0, 0.0},
    {270.0, false, 90.0, 180.0, 0.0, 270.0},
    {37.5, false, 322.5, 52.5, 232.5, 142.5},
    {0.0, true, 0.0, 270.0, 90.0, 180.0},
    {90.0, true, 90.0, 0.0, 180.0, 270.0},
    {180.0, true, 180.0, 90.0, 270.0, 0.0},
    {270.0, true, 270.0, 180.0, 0.0, 90.0},
    {37.5, true, 37.5, 307.5, 127.5, 217.5},
};

std::string Name(const Mounting& m, double scale) {
  return "zero " + std::to_string(m.zero) + (m.cw ? " clockwise" : " counter-clockwise") +
         (scale == kScanMillimetres ? " mm" : " m");
}

TEST(scanbinLayout, OneReturnLandsAheadLeftRightBehindForEveryMounting) {
  for (const Mounting& m : kMountings) {
    for (double scale : {kScanMetres, kScanMillimetres}) {
      const ScanLayout layout = Layout(m.zero, m.cw, scale);
      const float raw = scale == kScanMillimetres ? 1500.0f : 1.5f;
      const struct {
        double theta;
        int index;
      } cases[] = {{m.ahead, 180}, {m.left, 270}, {m.right, 90}, {m.behind, 0}};
      for (const auto& c : cases) {
        SCOPED_TRACE(Name(m, scale) + ", sensor angle " + std::to_string(c.theta));
        // As one explicit sample.
        const float angle = static_cast<float>(c.theta);
        Scan out = Filled(-1.0f);
        ASSERT_TRUE(BinSamples(&angle, &raw, 1, layout, out.data()));
        EXPECT_EQ(Returns(out), std::vector<int>{c.index});
        EXPECT_EQ(out[static_cast<size_t>(c.index)], 1.5f);
        // As the only return of an even 720-sample turn (half-degree steps).
        std::vector<float> turn(720, 0.0f);
        turn[static_cast<size_t>(c.theta * 2.0)] = raw;
        out = Filled(-1.0f);
        ASSERT_TRUE(BinEvenScan(turn.data(), turn.size(), layout, out.data()));
        EXPECT_EQ(Returns(out), std::vector<int>{c.index});
        EXPECT_EQ(out[static_cast<size_t>(c.index)], 1.5f);
      }
    }
  }
}

TEST(scanbinLayout, SensorAnglesOutsideOneTurnWrap) {
  const ScanLayout layout = Layout(90.0, true);
  const float r = 2.0f;
  for (float theta : {90.0f, 450.0f, -270.0f, 90.0f + 3600.0f, 90.0f - 7200.0f}) {
    Scan out = Filled(-1.0f);
    ASSERT_TRUE(BinSamples(&theta, &r, 1, layout, out.data()));
    EXPECT_EQ(Returns(out), std::vector<int>{180}) << theta;
  }
}

TEST(scanbinIndex, HalfDegreesRoundTowardTheNextIndexCounterClockwise) {
  const float r = 1.0f;
  const struct {
    double zero;
    float theta;
    int index;
  } cases[] = {
      {0.0, 0.5f, 181},    {0.0, -0.5f, 180},    {0.0, 0.49f, 180},   {0.0, -0.51f, 179},
      {0.0, 89.5f, 270},   {0.0, 90.5f, 271},    {0.0, 359.5f, 180},  {0.0, 359.49f, 179},
      // The 359/0 seam lies behind the robot.
      {180.0, -0.5f, 0},   {180.0, 359.5f, 0},   {180.0, -0.51f, 359}, {180.0, 359.49f, 359},
      {180.0, 0.49f, 0},   {180.0, 0.5f, 1},     {0.0, 179.5f, 0},    {0.0, -180.5f, 0},
      {0.0, -180.51f, 359}, {0.0, 179.49f, 359},
  };
  for (const auto& c : cases) {
    Scan out = Filled(-1.0f);
    ASSERT_TRUE(BinSamples(&c.theta, &r, 1, Layout(c.zero, false), out.data()));
    EXPECT_EQ(Returns(out), std::vector<int>{c.index}) << "zero " << c.zero << " theta " << c.theta;
  }
}

TEST(scanbinIndex, EvenTurnOf720PutsTwoSamplesInEveryIndex) {
  // Sensor zero behind, counter-clockwise: index i covers sensor angles
  // [i - 0.5, i + 0.5), i.e. samples 2i - 1 and 2i of the turn.
  std::vector<float> turn(720);
  for (size_t k = 0; k < turn.size(); ++k) turn[k] = 1.0f + 0.001f * static_cast<float>(k);
  Scan out = Filled(-1.0f);
  ASSERT_TRUE(BinEvenScan(turn.data(), turn.size(), Layout(180.0, false), out.data()));
  EXPECT_EQ(out[0], turn[0]) << "sample 719 (359.5 deg) is farther than sample 0";
  for (size_t i = 1; i < 360; ++i) EXPECT_EQ(out[i], turn[2 * i - 1]) << i;
  // Reversed distances: now the later sample of each pair is the nearer.
  for (size_t k = 0; k < turn.size(); ++k) turn[k] = 5.0f - 0.001f * static_cast<float>(k);
  ASSERT_TRUE(BinEvenScan(turn.data(), turn.size(), Layout(180.0, false), out.data()));
  EXPECT_EQ(out[0], turn[719]);
  for (size_t i = 1; i < 360; ++i) EXPECT_EQ(out[i], turn[2 * i]) << i;
}

TEST(scanbinIndex, UnevenCountsSpaceSamplesOverExactlyOneTurn) {
  // 400 samples: 0.9 deg apart; sensor zero ahead, counter-clockwise.
  std::vector<float> turn(400, kInf);
  turn[1] = 1.0f;    // 0.9 deg -> rounds to 1 deg left of ahead
  turn[100] = 2.0f;  // 90 deg, left
  turn[200] = 3.0f;  // 180 deg, behind
  turn[300] = 4.0f;  // 270 deg, right
  turn[399] = 5.0f;  // 359.1 deg -> 1 deg right of ahead
  Scan out = Filled(-1.0f);
  ASSERT_TRUE(BinEvenScan(turn.data(), turn.size(), Layout(0.0, false), out.data()));
  EXPECT_EQ(Returns(out), (std::vector<int>{0, 90, 179, 181, 270}));
  EXPECT_EQ(out[181], 1.0f);
  EXPECT_EQ(out[270], 2.0f);
  EXPECT_EQ(out[0], 3.0f);
  EXPECT_EQ(out[90], 4.0f);
  EXPECT_EQ(out[179], 5.0f);
  // One sample per turn still works.
  const float one = 2.5f;
  ASSERT_TRUE(BinEvenScan(&one, 1, Layout(90.0, false), out.data()));
  EXPECT_EQ(Returns(out), std::vector<int>{270});
}

TEST(scanbinIndex, ConvertsInPlace) {
  // 360 samples with the sensor zero ahead: index i holds sample (i + 180) % 360.
  Scan s;
  for (size_t k = 0; k < 360; ++k) s[k] = 1.0f + 0.01f * static_cast<float>(k);
  const Scan before = s;
  ASSERT_TRUE(BinEvenScan(s.data(), s.size(), Layout(0.0, false), s.data()));
  for (size_t i = 0; i < 360; ++i) EXPECT_EQ(s[i], before[(i + 180) % 360]) << i;
}

// 2^e mod 360 by repeated doubling, to check huge angles without the library's arithmetic.
int Pow2Mod360(int e) {
  int r = 1;
  for (int i = 0; i < e; ++i) r = (r * 2) % 360;
  return r;
}

TEST(scanbinIndex, HugeFiniteAnglesLandOnTheirWholeDegreeModulo360) {
  // FLT_MAX = 0xffffff * 2^104 degrees: whole, and so large that adding 180.5
  // in double leaves it unchanged, so it lands on FLT_MAX mod 360 itself.
  const int flt_max_mod = (0xffffff % 360) * Pow2Mod360(104) % 360;
  // 2^40 still keeps its half degrees: the usual 180 offset applies.
  const int p40 = Pow2Mod360(40);
  const float r = 1.0f;
  const struct {
    float theta;
    int index;
  } cases[] = {{FLT_MAX, flt_max_mod},
               {-FLT_MAX, (360 - flt_max_mod) % 360},
               {0x1p40f, (p40 + 180) % 360},
               {-0x1p40f, (540 - p40) % 360}};
  for (const auto& c : cases) {
    Scan out = Filled(-1.0f);
    ASSERT_TRUE(BinSamples(&c.theta, &r, 1, Layout(0.0, false), out.data()));
    EXPECT_EQ(Returns(out), std::vector<int>{c.index}) << c.theta;
  }
  // The largest zero direction plus the largest sensor angle stays finite:
  // DBL_MAX = (2^53 - 1) * 2^971 degrees.
  const int dbl_max_mod = (Pow2Mod360(53) + 359) % 360 * Pow2Mod360(971) % 360;
  const float big = FLT_MAX;
  Scan out = Filled(-1.0f);
  ASSERT_TRUE(BinSamples(&big, &r, 1, Layout(DBL_MAX, false), out.data()));
  EXPECT_EQ(Returns(out), std::vector<int>{dbl_max_mod});
  ASSERT_TRUE(BinSamples(&big, &r, 1, Layout(DBL_MAX, true), out.data()));
  EXPECT_EQ(Returns(out), std::vector<int>{dbl_max_mod});
}

TEST(scanbinIndex, NonFiniteAngleIsSkippedAndTheRestOfTheTurnCounts) {
  const float angles[] = {kNaN, 0.0f, kInf, 90.0f, -kInf, -kNaN};
  const float ranges[] = {0.5f, 1.0f, 0.5f, 2.0f, 0.5f, 0.5f};
  Scan out = Filled(-1.0f);
  ASSERT_TRUE(BinSamples(angles, ranges, 6, Layout(0.0, false), out.data()));
  EXPECT_EQ(Returns(out), (std::vector<int>{180, 270}));
  EXPECT_EQ(out[180], 1.0f);
  EXPECT_EQ(out[270], 2.0f);
}

TEST(scanbinRange, NearestReturnWinsWhateverTheOrder) {
  const float angles[] = {10.2f, 9.8f, 10.0f, 10.4f, 9.6f};
  const float ranges[] = {3.0f, 0.0f, 1.25f, kNaN, 2.0f};
  Scan out = Filled(-1.0f);
  ASSERT_TRUE(BinSamples(angles, ranges, 5, Layout(0.0, false), out.data()));
  EXPECT_EQ(Returns(out), std::vector<int>{190});
  EXPECT_EQ(out[190], 1.25f);
  const float rev_angles[] = {9.6f, 10.4f, 10.0f, 9.8f, 10.2f};
  const float rev_ranges[] = {2.0f, kNaN, 1.25f, 0.0f, 3.0f};
  ASSERT_TRUE(BinSamples(rev_angles, rev_ranges, 5, Layout(0.0, false), out.data()));
  EXPECT_EQ(out[190], 1.25f);
}

TEST(scanbinRange, LimitsAreInclusiveAtTheExactBoundary) {
  ScanLayout layout = Layout(0.0, false);
  layout.min_range = 0.5f;
  layout.max_range = 2.0f;
  const float angle = 0.0f;
  const struct {
    float raw;
    bool ret;
  } cases[] = {{0.5f, true},
               {std::nextafter(0.5f, 0.0f), false},
               {2.0f, true},
               {std::nextafter(2.0f, 3.0f), false},
               {1.0f, true}};
  for (const auto& c : cases) {
    Scan out = Filled(-1.0f);
    ASSERT_TRUE(BinSamples(&angle, &c.raw, 1, layout, out.data()));
    EXPECT_EQ(out[180], c.ret ? c.raw : kInf) << c.raw;
  }
  // In millimetres the limits apply to the converted metres.
  layout = Layout(0.0, false, kScanMillimetres);
  layout.min_range = 0.15f;
  layout.max_range = 12.0f;
  const struct {
    float raw;
    float want;
  } mm[] = {{150.0f, 0.15f}, {149.0f, kInf}, {12000.0f, 12.0f}, {12001.0f, kInf}};
  for (const auto& c : mm) {
    Scan out = Filled(-1.0f);
    ASSERT_TRUE(BinSamples(&angle, &c.raw, 1, layout, out.data()));
    EXPECT_EQ(out[180], c.want) << c.raw << " mm";
  }
  // A single admitted range.
  layout = Layout(0.0, false);
  layout.min_range = layout.max_range = 1.5f;
  const float in_range = 1.5f;
  Scan out;
  ASSERT_TRUE(BinSamples(&angle, &in_range, 1, layout, out.data()));
  EXPECT_EQ(out[180], 1.5f);
}

TEST(scanbinRange, WhatDriversWriteForNoEchoIsNoReturn) {
  const float angle = 0.0f;
  ScanLayout open = Layout(0.0, false);
  open.min_range = -kInf;  // no lower limit at all: zero and negatives still fail
  for (float raw : {0.0f, -0.0f, -1.0f, kNaN, kInf, -kInf, -FLT_MAX}) {
    Scan out = Filled(-1.0f);
    ASSERT_TRUE(BinSamples(&angle, &raw, 1, open, out.data()));
    EXPECT_TRUE(AllNoReturn(out)) << raw;
  }
  // Ranges that leave float's range after scaling: no return, never a cast overflow.
  ScanLayout km = Layout(0.0, false, 1000.0);
  ScanLayout tiny = Layout(0.0, false, 1e-30);
  for (const auto& c : {std::make_pair(FLT_MAX, km), std::make_pair(1e-20f, tiny),
                        std::make_pair(FLT_TRUE_MIN, Layout(0.0, false, kScanMillimetres))}) {
    Scan out = Filled(-1.0f);
    ASSERT_TRUE(BinSamples(&angle, &c.first, 1, c.second, out.data()));
    EXPECT_TRUE(AllNoReturn(out)) << c.first;
  }
  // Just below float overflow after scaling still rounds to FLT_MAX.
  const float half_max = FLT_MAX / 2.0f;
  Scan out;
  ASSERT_TRUE(BinSamples(&angle, &half_max, 1, Layout(0.0, false, 2.0), out.data()));
  EXPECT_EQ(out[180], FLT_MAX);
}

TEST(scanbinRange, MillimetresAndMetresAreNotConfused) {
  const float angle = 0.0f;
  const float raw = 1234.0f;
  Scan out;
  ASSERT_TRUE(BinSamples(&angle, &raw, 1, Layout(0.0, false, kScanMillimetres), out.data()));
  EXPECT_EQ(out[180], static_cast<float>(1234 / 1000.0));
  EXPECT_EQ(out[180], 1.234f);
  ASSERT_TRUE(BinSamples(&angle, &raw, 1, Layout(0.0, false, kScanMetres), out.data()));
  EXPECT_EQ(out[180], 1234.0f);
  // Any other scale multiplies: centimetres.
  const float cm = 250.0f;
  ASSERT_TRUE(BinSamples(&angle, &cm, 1, Layout(0.0, false, 0.01), out.data()));
  EXPECT_EQ(out[180], static_cast<float>(250.0 * 0.01));
  // Every whole millimetre up to 60 m is the float nearest its decimal value.
  std::vector<float> raws(60001);
  for (size_t k = 0; k < raws.size(); ++k) raws[k] = static_cast<float>(k);
  for (size_t k = 1; k < raws.size(); ++k) {
    ASSERT_TRUE(BinSamples(&angle, &raws[k], 1, Layout(0.0, false, kScanMillimetres), out.data()));
    ASSERT_EQ(out[180], std::stof(std::to_string(k / 1000) + "." +
                                  std::string(3 - std::to_string(k % 1000).size(), '0') +
                                  std::to_string(k % 1000)))
        << k << " mm";
  }
}

TEST(scanbinArguments, BadArgumentsGiveNoReturnEverywhereAndFalse) {
  const float angles[] = {0.0f, 90.0f};
  const float ranges[] = {1.0f, 2.0f};
  const ScanLayout good = Layout(0.0, false);
  struct Case {
    const char* what;
    ScanLayout layout;
  };
  std::vector<Case> layouts;
  auto add = [&](const char* what, auto change) {
    ScanLayout l = good;
    change(l);
    layouts.push_back({what, l});
  };
  add("negative scale", [](ScanLayout& l) { l.range_scale = -0.001; });
  add("zero scale", [](ScanLayout& l) { l.range_scale = 0.0; });
  add("NaN scale", [](ScanLayout& l) { l.range_scale = std::nan(""); });
  add("infinite scale", [](ScanLayout& l) { l.range_scale = HUGE_VAL; });
  add("NaN zero", [](ScanLayout& l) { l.zero_deg = std::nan(""); });
  add("infinite zero", [](ScanLayout& l) { l.zero_deg = -HUGE_VAL; });
  add("NaN min", [](ScanLayout& l) { l.min_range = kNaN; });
  add("NaN max", [](ScanLayout& l) { l.max_range = kNaN; });
  add("min above max", [](ScanLayout& l) {
    l.min_range = 2.0f;
    l.max_range = std::nextafter(2.0f, 0.0f);
  });
  for (const Case& c : layouts) {
    Scan out = Filled(-1.0f);
    EXPECT_FALSE(BinSamples(angles, ranges, 2, c.layout, out.data())) << c.what;
    EXPECT_TRUE(AllNoReturn(out)) << c.what;
    out = Filled(-1.0f);
    EXPECT_FALSE(BinEvenScan(ranges, 2, c.layout, out.data())) << c.what;
    EXPECT_TRUE(AllNoReturn(out)) << c.what;
  }
  Scan out = Filled(-1.0f);
  EXPECT_FALSE(BinSamples(nullptr, ranges, 2, good, out.data()));
  EXPECT_TRUE(AllNoReturn(out));
  out = Filled(-1.0f);
  EXPECT_FALSE(BinSamples(angles, nullptr, 2, good, out.data()));
  EXPECT_TRUE(AllNoReturn(out));
  out = Filled(-1.0f);
  EXPECT_FALSE(BinSamples(angles, ranges, 0, good, out.data()));
  EXPECT_TRUE(AllNoReturn(out));
  out = Filled(-1.0f);
  EXPECT_FALSE(BinEvenScan(nullptr, 2, good, out.data()));
  EXPECT_TRUE(AllNoReturn(out));
  out = Filled(-1.0f);
  EXPECT_FALSE(BinEvenScan(ranges, 0, good, out.data()));
  EXPECT_TRUE(AllNoReturn(out));
  EXPECT_FALSE(BinEvenScan(ranges, 2, good, nullptr));
  EXPECT_FALSE(BinSamples(angles, ranges, 2, good, nullptr));
  EXPECT_FALSE(BinLaserScan(0.0f, 0.1f, ranges, 2, 0.0f, 10.0f, nullptr));
}

TEST(scanbinArguments, UnusualButValidLayoutsAreAccepted) {
  const float angles[] = {0.0f};
  const float ranges[] = {1.0f};
  ScanLayout l = Layout(-720.0, true, 1e-6);
  Scan out;
  EXPECT_TRUE(BinSamples(angles, ranges, 1, l, out.data()));
  EXPECT_EQ(out[180], static_cast<float>(1e-6));
  l = Layout(0.0, false);
  l.min_range = -kInf;
  l.max_range = kInf;
  EXPECT_TRUE(BinSamples(angles, ranges, 1, l, out.data()));
  EXPECT_EQ(out[180], 1.0f);
  // Valid arguments without a single return: true, and a scan of free space.
  const float none = 0.0f;
  out = Filled(-1.0f);
  EXPECT_TRUE(BinEvenScan(&none, 1, Layout(0.0, false), out.data()));
  EXPECT_TRUE(AllNoReturn(out));
}

TEST(scanbinLaserScan, FullTurnFromMinusPiMapsSampleKToIndexK) {
  // The usual 360-degree message: angle_min = -pi (behind), one sample per degree.
  std::vector<float> ranges(360);
  for (size_t k = 0; k < ranges.size(); ++k) ranges[k] = 0.5f + 0.01f * static_cast<float>(k);
  Scan out = Filled(-1.0f);
  ASSERT_TRUE(BinLaserScan(-kPi, 2.0f * kPi / 360.0f, ranges.data(), ranges.size(), 0.1f, 12.0f,
                           out.data()));
  for (size_t i = 0; i < 360; ++i) EXPECT_EQ(out[i], ranges[i]) << i;
  // A 361st sample at +pi is behind again and nearer: it wins index 0.
  ranges.push_back(0.2f);
  ASSERT_TRUE(BinLaserScan(-kPi, 2.0f * kPi / 360.0f, ranges.data(), ranges.size(), 0.1f, 12.0f,
                           out.data()));
  EXPECT_EQ(out[0], 0.2f);
}

TEST(scanbinLaserScan, FrontScannerWithQuarterDegreeStepsAndInclusiveLimits) {
  // 270-degree field of view from -135 deg (right-behind), 0.25 deg per sample.
  const float step = 0.25f * kPi / 180.0f;
  std::vector<float> ranges(1081, 0.0f);
  ranges[540] = 1.0f;    // ahead
  ranges[900] = 0.08f;   // left, exactly range_min
  ranges[901] = 30.5f;   // same index, beyond range_max
  ranges[180] = 30.0f;   // right, exactly range_max
  ranges[181] = 0.07f;   // same index, below range_min
  ranges[0] = 31.0f;     // beyond range_max
  ranges[1080] = 0.07f;  // below range_min
  Scan out = Filled(-1.0f);
  ASSERT_TRUE(BinLaserScan(-135.0f * kPi / 180.0f, step, ranges.data(), ranges.size(), 0.08f,
                           30.0f, out.data()));
  EXPECT_EQ(Returns(out), (std::vector<int>{90, 180, 270}));
  EXPECT_EQ(out[180], 1.0f);
  EXPECT_EQ(out[270], 0.08f);
  EXPECT_EQ(out[90], 30.0f);
  // Ranges are taken as metres as they are.
  ranges.assign(1, 1234.0f);
  ASSERT_TRUE(BinLaserScan(0.0f, step, ranges.data(), 1, 0.0f, kInf, out.data()));
  EXPECT_EQ(out[180], 1234.0f);
}

TEST(scanbinLaserScan, BadFieldsGiveNoReturnEverywhereAndFalse) {
  const float ranges[] = {1.0f, 2.0f};
  const struct {
    const char* what;
    float amin, inc, rmin, rmax;
    size_t n;
    const float* r;
  } cases[] = {
      {"NaN angle_min", kNaN, 0.1f, 0.0f, 10.0f, 2, ranges},
      {"infinite angle_min", -kInf, 0.1f, 0.0f, 10.0f, 2, ranges},
      {"NaN increment", 0.0f, kNaN, 0.0f, 10.0f, 2, ranges},
      {"infinite increment", 0.0f, kInf, 0.0f, 10.0f, 2, ranges},
      {"NaN range_min", 0.0f, 0.1f, kNaN, 10.0f, 2, ranges},
      {"NaN range_max", 0.0f, 0.1f, 0.0f, kNaN, 2, ranges},
      {"range_min above range_max", 0.0f, 0.1f, 10.0f, 9.0f, 2, ranges},
      {"no ranges", 0.0f, 0.1f, 0.0f, 10.0f, 2, nullptr},
      {"zero count", 0.0f, 0.1f, 0.0f, 10.0f, 0, ranges},
  };
  for (const auto& c : cases) {
    Scan out = Filled(-1.0f);
    EXPECT_FALSE(BinLaserScan(c.amin, c.inc, c.r, c.n, c.rmin, c.rmax, out.data())) << c.what;
    EXPECT_TRUE(AllNoReturn(out)) << c.what;
  }
  // A zero increment is odd but valid: every sample at angle_min.
  Scan out;
  EXPECT_TRUE(BinLaserScan(0.0f, 0.0f, ranges, 2, 0.0f, 10.0f, out.data()));
  EXPECT_EQ(Returns(out), std::vector<int>{180});
  EXPECT_EQ(out[180], 1.0f);
}

}  // namespace

// ---- the marked rule: what a degree did not see ------------------------------

namespace {

// The marked answer for one degree, written from the rule's words: a -inf
// sample wins, then the nearest return, then +inf when a sample said "no
// return", else NaN.
struct SeenModel {
  bool near = false, clear = false, any_return = false;
  float nearest = 0.0f;
  void Add(float metres, float lo, float hi) {
    if (std::isnan(metres)) return;
    if (metres == -std::numeric_limits<float>::infinity()) {
      near = true;
    } else if (metres == std::numeric_limits<float>::infinity() || metres > hi) {
      clear = true;
    } else if (metres > 0.0f && metres >= lo) {
      if (!any_return || metres < nearest) nearest = metres;
      any_return = true;
    }
  }
  float Value() const {
    if (near) return -std::numeric_limits<float>::infinity();
    if (any_return) return nearest;
    if (clear) return std::numeric_limits<float>::infinity();
    return std::numeric_limits<float>::quiet_NaN();
  }
};

}  // namespace

TEST(scanbinSeen, EachDegreeTakesItsSmallestSayAndUnusableSamplesSayNothing) {
  const float kNaNf = std::numeric_limits<float>::quiet_NaN();
  const float kInff = std::numeric_limits<float>::infinity();
  // Two samples per degree (720 over a turn), each pair from a small menu,
  // so every combination of kinds shares a degree somewhere.
  const float menu[] = {1.5f, 0.7f, kInff, -kInff, kNaNf, 0.0f, -1.0f, 0.05f, 9.0f};
  constexpr int kMenu = sizeof menu / sizeof menu[0];
  std::vector<float> angles(720), ranges(720);
  std::vector<SeenModel> model(360);
  ScanLayout l;
  l.min_range = 0.1f;
  l.max_range = 8.0f;
  for (int k = 0; k < 720; ++k) {
    angles[k] = static_cast<float>(k / 2);
    ranges[k] = menu[(k % 2 == 0 ? k / 2 : k / 2 / kMenu) % kMenu];
    model[(static_cast<std::size_t>(k / 2) + 180) % 360].Add(ranges[k], l.min_range, l.max_range);
  }
  float seen[360], old[360];
  ASSERT_TRUE(BinSamplesSeen(angles.data(), ranges.data(), angles.size(), l, seen));
  ASSERT_TRUE(BinSamples(angles.data(), ranges.data(), angles.size(), l, old));
  for (int i = 0; i < 360; ++i) {
    const float want = model[static_cast<std::size_t>(i)].Value();
    if (std::isnan(want)) {
      EXPECT_TRUE(std::isnan(seen[i])) << i;
    } else {
      EXPECT_EQ(tsup::BitsOf(seen[i]), tsup::BitsOf(want)) << i;
    }
    // A degree with a return keeps the old functions' float.
    if (std::isfinite(seen[i])) {
      EXPECT_EQ(tsup::BitsOf(seen[i]), tsup::BitsOf(old[i])) << i;
    }
  }
}

TEST(scanbinSeen, DegreesNoSampleReachesAreUnseenAndPiecesMergeLikeOneCall) {
  // 36 ranges at 1 degree from ahead: a tenth of the circle seen.
  std::vector<float> ranges(36, 2.0f);
  float part[360];
  ASSERT_TRUE(BinLaserScanSeen(0.0f, static_cast<float>(3.14159265358979323846 / 180.0), ranges.data(), ranges.size(),
                               0.1f, 10.0f, part));
  int seen = 0;
  for (float v : part) seen += std::isnan(v) ? 0 : 1;
  EXPECT_EQ(seen, 36);
  EXPECT_TRUE(std::isnan(part[0]) && std::isnan(part[179]) && part[180] == 2.0f && part[215] == 2.0f);
  // Even turn, then in halves merged: the same marks.
  std::vector<float> even(360);
  for (int k = 0; k < 360; ++k)
    even[k] = k % 3 == 0 ? std::numeric_limits<float>::quiet_NaN() : 0.5f + static_cast<float>(k % 7);
  float whole[360], a[360], b[360];
  ScanLayout l;
  ASSERT_TRUE(BinEvenScanSeen(even.data(), even.size(), l, whole));
  std::vector<float> angles(360);
  for (int k = 0; k < 360; ++k) angles[k] = static_cast<float>(k);
  ASSERT_TRUE(BinSamplesSeen(angles.data(), even.data(), 180, l, a));
  ASSERT_TRUE(BinSamplesSeen(angles.data() + 180, even.data() + 180, 180, l, b));
  MergeSeen(a, b);
  for (int i = 0; i < 360; ++i) EXPECT_EQ(tsup::BitsOf(a[i]), tsup::BitsOf(whole[i])) << i;
  EXPECT_TRUE(std::isnan(whole[180]));  // sample 0 is NaN: nothing seen there
}

TEST(scanbinSeen, BadArgumentsMarkEverythingUnseen) {
  const float r[1] = {1.0f};
  float out[360];
  ScanLayout bad;
  bad.range_scale = 0.0;
  EXPECT_FALSE(BinEvenScanSeen(r, 1, bad, out));
  for (float v : out) EXPECT_TRUE(std::isnan(v));
  EXPECT_FALSE(BinLaserScanSeen(std::numeric_limits<float>::infinity(), 0.1f, r, 1, 0.0f, 1.0f, out));
  for (float v : out) EXPECT_TRUE(std::isnan(v));
}
