// SPDX-License-Identifier: BSD-3-Clause
// CalAngle bit for bit against its steps with this C library's atanf (whose
// last bit differs between C libraries), and the path listing.
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include <gtest/gtest.h>

#include "pathgrid_reference.h"

using namespace pgref;

namespace {

const float kInf = std::numeric_limits<float>::infinity();
const float kNaN = std::numeric_limits<float>::quiet_NaN();

// Any NaN is a NaN: x86 makes 0/0 negative, ARM and RISC-V positive.
uint32_t bits(float f) {
  if (std::isnan(f)) return 0x7fc00000u;
  uint32_t u;
  std::memcpy(&u, &f, sizeof u);
  return u;
}

float fromBits(uint32_t u) {
  float f;
  std::memcpy(&f, &u, sizeof f);
  return f;
}

// Distance in units of the last place between two finite floats of one sign.
uint32_t ulps(float x, float y) {
  const uint32_t a = bits(x), b = bits(y);
  return a > b ? a - b : b - a;
}

#define EXPECT_SAME_FLOAT(a, b) EXPECT_EQ(bits(a), bits(b)) << (a) << " vs " << (b)

TEST(pathgridBearing, QuadrantsAndPiWrap) {
  EXPECT_SAME_FLOAT(CalAngle(1, 1), 0.7853982f);
  EXPECT_SAME_FLOAT(CalAngle(-1, 1), 2.3561945f);
  EXPECT_SAME_FLOAT(CalAngle(-1, -1), -2.3561945f);
  EXPECT_SAME_FLOAT(CalAngle(0, 2), 1.5707964f);
  // pi rounds up to 3.1415927f, which exceeds pi and is wrapped.
  EXPECT_SAME_FLOAT(CalAngle(-1, 0), -3.1415925f);
  EXPECT_SAME_FLOAT(CalAngle(-1, -0.0f), -3.1415925f);
  EXPECT_SAME_FLOAT(CalAngle(-1, 1e-8f), -3.1415925f);
  EXPECT_SAME_FLOAT(CalAngle(-1, 1e-7f), 3.1415925f);
  EXPECT_SAME_FLOAT(CalAngle(1, 0), 0.0f);
  EXPECT_SAME_FLOAT(CalAngle(1, -0.0f), -0.0f);
  EXPECT_SAME_FLOAT(CalAngle(2, 0), 0.0f);
}

TEST(pathgridBearing, SignedZerosAndNaN) {
  EXPECT_SAME_FLOAT(CalAngle(0.0f, 2), 1.5707964f);
  EXPECT_SAME_FLOAT(CalAngle(-0.0f, 2), -1.5707964f);  // -0 is not below 0
  EXPECT_SAME_FLOAT(CalAngle(0.0f, -2), -1.5707964f);
  EXPECT_SAME_FLOAT(CalAngle(-0.0f, -2), 1.5707964f);
  const float nanCases[][2] = {{0, 0},    {-0.0f, 0}, {0, -0.0f}, {kNaN, 1}, {1, kNaN},
                               {-1, kNaN}, {kNaN, kNaN}, {kInf, kInf}, {-kInf, kInf}};
  for (const auto& c : nanCases) EXPECT_TRUE(std::isnan(CalAngle(c[0], c[1]))) << c[0] << "," << c[1];
  EXPECT_SAME_FLOAT(CalAngle(kInf, 1), 0.0f);
  EXPECT_SAME_FLOAT(CalAngle(-kInf, 1), -3.1415925f);
  EXPECT_SAME_FLOAT(CalAngle(1, kInf), 1.5707964f);
  EXPECT_SAME_FLOAT(CalAngle(-1, kInf), refCalAngle(-1, kInf));  // -pi/2 + pi, in double
  EXPECT_SAME_FLOAT(CalAngle(-1, kInf), 1.5707963f);  // one ulp below float(pi/2)
}

TEST(pathgridBearing, MatchesStepwiseFormulaAndStaysInsidePi) {
  std::mt19937 rng(20240613u);
  std::uniform_real_distribution<float> wide(-3.0f, 3.0f);
  std::uniform_int_distribution<int> exponent(-40, 20);
  const float pi = static_cast<float>(3.141592653589793);
  for (int n = 0; n < 20000; ++n) {
    float a = wide(rng), b = wide(rng);
    if (n % 3 == 0) b = std::ldexp(b, exponent(rng));
    if (n % 5 == 0) a = std::ldexp(a, exponent(rng));
    const float got = CalAngle(a, b);
    ASSERT_EQ(bits(got), bits(refCalAngle(a, b))) << a << "," << b;
    ASSERT_TRUE(got > -pi && got < pi) << a << "," << b << " -> " << got;
  }
}

// The quotients where C libraries round atanf differently (2^-7 <= |q| < 16):
// CalAngle must give exactly what this one's atanf gives, not a correctly
// rounded value of its own, and that stays within one unit of the true angle.
TEST(pathgridBearing, FollowsThisCLibrarysArctangent) {
  // glibc 2.36: 0xbea4bc7d on x86-64, 0xbea4bc7c on aarch64 and riscv64.
  const float q = fromBits(0xbeaaaaaau);
  EXPECT_SAME_FLOAT(CalAngle(1, q), hostAtanf(q));
  EXPECT_LE(ulps(CalAngle(1, q), fromBits(0xbea4bc7du)), 1u);
  EXPECT_SAME_FLOAT(CalAngle(-1, -q), refCalAngle(-1, -q));
  std::mt19937 rng(7u);
  int far = 0;
  for (int n = 0; n < 20000; ++n) {
    // |q| from 2^-7 (0x3c000000) up to 16 (0x41800000), either sign.
    const uint32_t mag = 0x3c000000u + static_cast<uint32_t>(rng() % (0x41800000u - 0x3c000000u));
    const float b = fromBits(mag | (n % 2 == 0 ? 0u : 0x80000000u));
    const float t = CalAngle(1, b);
    ASSERT_EQ(bits(t), bits(hostAtanf(b))) << std::hexfloat << b;
    ASSERT_EQ(bits(CalAngle(-2, -2.0f * b)), bits(refCalAngle(-2, -2.0f * b))) << std::hexfloat << b;
    if (ulps(t, static_cast<float>(std::atan(static_cast<double>(b)))) > 1) ++far;
  }
  EXPECT_EQ(far, 0) << "this C library's atanf is more than one unit off";
}

TEST(pathgridBearing, ListingAfterAPass) {
  InitHelper();
  std::vector<float> scan = emptyScan();
  SetRanges(scan.data());
  ClearTarget();
  SetTarget(50, 60);
  ASSERT_TRUE(OutLine());
  std::string want = "--------------------------\n";
  for (int i = 0; i < 10; ++i)
    want += "loc_path [" + std::to_string(i) + "] - (50 , " + std::to_string(51 + i) + ")\n";
  EXPECT_EQ(capturePrintPath(), want);
  // Printing twice prints the same; printing has no effect on the results.
  EXPECT_EQ(capturePrintPath(), want);
  EXPECT_EQ(GetHelperNum(), 10);

  // Negative coordinates never appear, but wide indices do: the 149-entry walk.
  ClearTarget();
  ASSERT_FALSE(OutLine());
  const std::string text = capturePrintPath();
  EXPECT_NE(text.find("loc_path [100] - (24 , 99)\n"), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 26), "loc_path [148] - (0 , 99)\n");
}

TEST(pathgridBearing, ListingAfterAnEmptyPass) {
  InitHelper();
  std::vector<float> zero = uniformScan(0.0f);
  SetBorder(0.5f);
  SetRanges(zero.data());
  for (int y = 0; y < kN; y += 5)  // blanket the grid
    for (int x = 0; x < kN; x += 5) SetObst(x, y);
  ASSERT_FALSE(OutLine());
  EXPECT_EQ(capturePrintPath(), "--------------------------\n");
}

}  // namespace
