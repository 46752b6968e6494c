// The tracker before its first thredhold. Needs a process of its own: the
// state is zero only at load, so this file holds a single test.
#include "scanfollow.h"
#include "scanfollow_reference.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>

namespace {

uint32_t Bits(float f) {
  uint32_t u;
  std::memcpy(&u, &f, sizeof u);
  return u;
}

TEST(scanfollowFresh, BeforeThredholdTrackedPointIsOriginAndNothingIsGathered) {
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  ref::Tracker model;  // zero, like the library's tables at load
  // Echoes right on and around the origin's neighbourhood and ahead: with
  // zero tables they all collapse onto the origin and are never averaged.
  std::array<float, 360> scan;
  scan.fill(0.5f);
  for (int k = 175; k <= 185; ++k) scan[static_cast<size_t>(k)] = 1.0f;
  const float cands[][2] = {{0.05f, -0.05f}, {0.0f, 0.0f}, {0.1f, 0.0f}, {0.0f, -0.099f},
                            {1.5f, 0.0f},    {1.0f, 0.0f}, {nan, 0.0f},  {inf, inf}};
  const float expect[][2] = {{0.05f, -0.05f}, {0.0f, 0.0f}, {0.0f, 0.0f}, {0.0f, -0.099f},
                             {0.0f, 0.0f},    {0.0f, 0.0f}, {0.0f, 0.0f}, {0.0f, 0.0f}};
  for (int pass = 0; pass < 2; ++pass) {
    for (size_t i = 0; i < sizeof cands / sizeof cands[0]; ++i) {
      float ox = -7.0f, oy = -7.0f;
      float* ranges = pass == 0 ? scan.data() : nullptr;
      EXPECT_EQ(Bits(filter(cands[i][0], cands[i][1], ranges, nullptr, ox, oy)), 0u);
      EXPECT_EQ(Bits(ox), Bits(expect[i][0])) << "candidate " << i << " pass " << pass << ": " << ox;
      EXPECT_EQ(Bits(oy), Bits(expect[i][1])) << "candidate " << i << " pass " << pass << ": " << oy;
      model.Filter(cands[i][0], cands[i][1], ranges, ox, oy);
    }
  }
  // Random scans still follow the model and never leave the origin.
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> dist(-1.0f, 7.0f);
  for (int step = 0; step < 300; ++step) {
    for (float& r : scan) r = dist(rng);
    const float cx = dist(rng) * 0.03f, cy = dist(rng) * 0.03f;
    float ox, oy, ex, ey;
    filter(cx, cy, scan.data(), nullptr, ox, oy);
    model.Filter(cx, cy, scan.data(), ex, ey);
    ASSERT_EQ(Bits(ox), Bits(ex)) << "step " << step;
    ASSERT_EQ(Bits(oy), Bits(ey)) << "step " << step;
    ASSERT_EQ(model.lastCount, 0);
  }
  EXPECT_EQ(Bits(model.lastX), 0u);
  EXPECT_EQ(Bits(model.lastY), 0u);
  // The first thredhold builds the tables: the ten-slot scan now averages.
  std::array<float, 360> ten;
  ten.fill(inf);
  for (int k = 175; k <= 185; ++k) ten[static_cast<size_t>(k)] = 1.0f;
  thredhold(1.0f);
  float ox, oy;
  filter(1.5f, 0.0f, ten.data(), nullptr, ox, oy);
  EXPECT_EQ(Bits(ox), Bits(0.99832535f));
  EXPECT_EQ(Bits(oy), 0xB0CCCCCDu);
}

}  // namespace
