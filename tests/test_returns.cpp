// SPDX-License-Identifier: BSD-3-Clause
// The nearest-return query, which passes over groups of returns, against a
// plain minimum over every return: random scans, near ties, empty scans.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <random>
#include <utility>
#include <vector>

#include "returns.h"

namespace {

namespace returns = scanpilot_returns;
constexpr double kPi = 3.14159265358979323846;
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

std::size_t U(int i) { return static_cast<std::size_t>(i); }

struct Directions {
  double x[360], y[360];
  Directions() {
    for (int i = 0; i < 360; ++i) {
      x[i] = -std::cos(i * (kPi / 180.0));
      y[i] = -std::sin(i * (kPi / 180.0));
    }
  }
};
const Directions kDir;

// Every return, every time, in degree order.
double Brute(const std::vector<float>& scan, double x, double y) {
  double best = kInf;
  for (int i = 0; i < 360; ++i) {
    const double d = scan[U(i)];
    if (!(d > 0.0) || !std::isfinite(d)) continue;
    const double dx = d * kDir.x[i] - x, dy = d * kDir.y[i] - y;
    best = std::min(best, dx * dx + dy * dy);
  }
  return std::sqrt(best);
}

// Query points the pilot asks about (the robot, one period's move) and
// farther ones, some on a return itself; the count of returns inside 0.2 m
// and the degrees neither a return nor +inf, in order.
void ExpectNearest(std::vector<float>& scan, std::mt19937& rng) {
  int inside = 0;
  std::vector<int> unclear;
  for (int i = 0; i < 360; ++i) {
    inside += scan[U(i)] > 0.0f && scan[U(i)] < 0.2;
    if (!(scan[U(i)] > 0.0f)) unclear.push_back(i);
  }
  EXPECT_EQ(returns::Take(scan.data(), kDir.x, kDir.y, 0.2), inside);
  int count = -1;
  const int* degrees = returns::NotClear(count);
  EXPECT_EQ(std::vector<int>(degrees, degrees + count), unclear);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::vector<std::pair<double, double>> queries = {
      {0.0, 0.0}, {0.05, 0.0}, {-1e-300, 1e-300}, {kNaN, 0.0}, {0.0, kInf}};
  for (int k = 0; k < 40; ++k) {
    const double reach = k < 20 ? 0.1 * u(rng) : 4.0 * u(rng), a = 2.0 * kPi * u(rng);
    queries.emplace_back(reach * std::cos(a), reach * std::sin(a));
  }
  for (int i = 0; i < 360; i += 37)
    if (scan[U(i)] > 0.0f && std::isfinite(scan[U(i)]))
      queries.emplace_back(scan[U(i)] * kDir.x[i], scan[U(i)] * kDir.y[i]);
  for (const auto& [x, y] : queries) EXPECT_EQ(returns::Clearance(x, y), Brute(scan, x, y)) << x << ", " << y;
}

TEST(returnsNearest, RandomScansOfPostsWallsAndBadReadings) {
  std::mt19937 rng(24);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (int trial = 0; trial < 200; ++trial) {
    std::vector<float> scan(360, std::numeric_limits<float>::infinity());
    const int pieces = 1 + static_cast<int>(u(rng) * 12);
    for (int p = 0; p < pieces; ++p) {
      const int first = static_cast<int>(u(rng) * 360), width = 1 + static_cast<int>(u(rng) * 30);
      const double range = 0.05 + u(rng) * 4.0, slope = (u(rng) - 0.5) * 0.08;
      for (int k = 0; k < width; ++k) scan[U((first + k) % 360)] = static_cast<float>(range + slope * k);
    }
    const float bad[] = {kNaN, -std::numeric_limits<float>::infinity(), 0.0f, -0.1f, -1.0f};
    for (int k = 0; k < 10; ++k) scan[U(static_cast<int>(u(rng) * 360))] = bad[k % 5];
    ExpectNearest(scan, rng);
  }
}

// Rings of returns at nearly one range: the nearest to a point off the
// centre lies in a group whose least range is a hair above the least of
// all, where a bound that ignored rounding would pass it over.
TEST(returnsNearest, NearTiesOnRings) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (int trial = 0; trial < 100; ++trial) {
    const double range = 0.2 + u(rng) * 2.0, jitter = trial % 2 ? 1e-7 : 0.0;
    std::vector<float> scan(360);
    for (int i = 0; i < 360; ++i) scan[U(i)] = static_cast<float>(range + jitter * (u(rng) - 0.5));
    if (trial % 3 == 0)  // mirror pairs: the same distance from any point ahead
      for (int i = 1; i < 180; ++i) scan[U(360 - i)] = scan[U(i)];
    ExpectNearest(scan, rng);
  }
}

// No return at all after a scan of near ones, then one in the last degree.
TEST(returnsNearest, EmptyScansForgetTheLastOne) {
  std::mt19937 rng(1);
  for (float v :
       {0.3f, std::numeric_limits<float>::infinity(), kNaN, -std::numeric_limits<float>::infinity(), 0.0f, -2.0f}) {
    std::vector<float> scan(360, v);
    ExpectNearest(scan, rng);
  }
  std::vector<float> one(360, kNaN);
  one[359] = 1.5f;
  ExpectNearest(one, rng);
}

}  // namespace
