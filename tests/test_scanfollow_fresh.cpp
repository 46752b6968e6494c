// SPDX-License-Identifier: BSD-3-Clause
// The tracker before its first thredhold. Needs a process of its own: the
// state is zero only at load, so this file holds a single test.
#include "scanfollow.h"
#include "scanfollow_reference.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>

namespace {

using tsup::BitsOf;

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
      EXPECT_EQ(BitsOf(filter(cands[i][0], cands[i][1], ranges, nullptr, ox, oy)), 0u);
      EXPECT_EQ(BitsOf(ox), BitsOf(expect[i][0])) << "candidate " << i << " pass " << pass << ": " << ox;
      EXPECT_EQ(BitsOf(oy), BitsOf(expect[i][1])) << "candidate " << i << " pass " << pass << ": " << oy;
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
    ASSERT_EQ(BitsOf(ox), BitsOf(ex)) << "step " << step;
    ASSERT_EQ(BitsOf(oy), BitsOf(ey)) << "step " << step;
    ASSERT_EQ(model.lastCount, 0);
  }
  EXPECT_EQ(BitsOf(model.lastX), 0u);
  EXPECT_EQ(BitsOf(model.lastY), 0u);
  // The first thredhold builds the tables: the ten-slot scan now averages.
  std::array<float, 360> ten;
  ten.fill(inf);
  for (int k = 175; k <= 185; ++k) ten[static_cast<size_t>(k)] = 1.0f;
  thredhold(1.0f);
  float ox, oy;
  filter(1.5f, 0.0f, ten.data(), nullptr, ox, oy);
  EXPECT_EQ(BitsOf(ox), BitsOf(0.99832535f));
  EXPECT_EQ(BitsOf(oy), 0xB0CCCCCDu);
}

}  // namespace
