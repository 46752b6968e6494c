// SPDX-License-Identifier: BSD-3-Clause
// The pilot's route against brute-force models on random scans: the
// clearance field against the nearest return of every cell, and the route's
// cost against a plain Dijkstra search over the same step costs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <ostream>
#include <queue>
#include <random>
#include <utility>
#include <vector>

#include "route.h"

namespace {

namespace route = scanpilot_route;
constexpr int kSide = route::kSide;
constexpr double kPi = 3.14159265358979323846;

std::size_t U(int i) { return static_cast<std::size_t>(i); }

struct Robot {
  double radius, preferred, clearance_cost;
};

void PrintTo(const Robot& r, std::ostream* os) {
  *os << "radius " << r.radius << " m, preferred " << r.preferred << " m, clearance cost " << r.clearance_cost;
}

// A scan of posts and wall pieces at random, with the kinds of bad reading
// a scanner gives (none, NaN, infinite, zero, negative) here and there.
std::vector<float> RandomScan(std::mt19937& rng) {
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::vector<float> scan(360, std::numeric_limits<float>::infinity());
  const int pieces = 3 + static_cast<int>(u(rng) * 12);
  for (int p = 0; p < pieces; ++p) {
    const int first = static_cast<int>(u(rng) * 360), width = 1 + static_cast<int>(u(rng) * 25);
    const double range = 0.12 + u(rng) * 3.6, slope = (u(rng) - 0.5) * 0.05;
    for (int k = 0; k < width; ++k) scan[U((first + k) % 360)] = static_cast<float>(range + slope * k);
  }
  const float bad[] = {std::numeric_limits<float>::quiet_NaN(), -std::numeric_limits<float>::infinity(), 0.0f, -1.0f};
  for (int k = 0; k < 8; ++k) scan[U(static_cast<int>(u(rng) * 360))] = bad[k % 4];
  return scan;
}

// Where a reading lies, in quarter cells from the outer corner of cell
// (0, 0), rounded; false off the grid.
bool Quarter(float reading, int degree, int& qr, int& qc) {
  const double d = reading;
  if (!(d > 0.0) || !std::isfinite(d)) return false;
  const double a = degree * (kPi / 180.0);
  const double r = 4.0 * (50.0 + 20.0 * (-d * std::cos(a))) + 2.5, c = 4.0 * (50.0 + 20.0 * (-d * std::sin(a))) + 2.5;
  if (!(r >= 0.0 && r < 400.0 && c >= 0.0 && c < 400.0)) return false;
  qr = static_cast<int>(r);
  qc = static_cast<int>(c);
  return true;
}

// Sixteenths of a cell squared from which a cell pays nothing.
int FreeLevel(const Robot& robot) {
  const double p = robot.preferred * 20.0;
  int d = 0;
  while (d / 16.0 < p * p) ++d;
  return d;
}

// Every cell's squared distance to the nearest return, the first return
// in a cell standing for the cell, by brute force.
std::vector<int> ModelField(const std::vector<float>& scan, const Robot& robot) {
  std::vector<std::pair<int, int>> points;
  std::vector<bool> taken(kSide * kSide, false);
  for (int i = 0; i < 360; ++i) {
    int qr, qc;
    if (!Quarter(scan[U(i)], i, qr, qc)) continue;
    const int cell = (qr / 4) * kSide + qc / 4;
    if (taken[U(cell)]) continue;
    taken[U(cell)] = true;
    points.emplace_back(qr, qc);
  }
  const int cap = FreeLevel(robot);
  std::vector<int> field(kSide * kSide, cap);
  for (int r = 0; r < kSide; ++r)
    for (int c = 0; c < kSide; ++c)
      for (const auto& p : points) {
        const int dr = 4 * r + 2 - p.first, dc = 4 * c + 2 - p.second;
        field[U(r * kSide + c)] = std::min(field[U(r * kSide + c)], dr * dr + dc * dc);
      }
  return field;
}

// The least route cost to the goal through `field` with no route carried,
// by Dijkstra: a step costs 10 (14 diagonally) plus a penalty falling from
// clearance_cost steps at the robot's radius to none at the preferred
// clearance; a cell nearer than the radius is entered only from another
// such cell and farther from its return, at the full penalty. A route ends
// within 0.5 m of the goal, or 2.3 m out when the goal is that far, paying
// straight and diagonal steps on to the goal. -1 when no route exists.
long Cheapest(const std::vector<int>& field, const Robot& robot, double gx, double gy) {
  const double rc = robot.radius * 20.0, pc = robot.preferred * 20.0;
  const int full = static_cast<int>(10.0 * robot.clearance_cost + 0.5);
  auto lethal = [&](int d) { return d / 16.0 < rc * rc; };
  auto penalty = [&](int d) {
    if (lethal(d)) return full;
    if (!(d / 16.0 < pc * pc)) return 0;
    return static_cast<int>(10.0 * robot.clearance_cost * (pc - std::sqrt(d / 16.0)) / (pc - rc) + 0.5);
  };
  auto metres = [](int cell) { return (cell - 50) * 0.05; };
  const bool far = gx * gx + gy * gy >= 2.3 * 2.3;
  std::vector<long> cost(kSide * kSide, std::numeric_limits<long>::max());
  using Item = std::pair<long, int>;
  std::priority_queue<Item, std::vector<Item>, std::greater<Item>> open;
  const int start = 50 * kSide + 50;
  cost[U(start)] = 0;
  open.emplace(0, start);
  long best = -1;
  while (!open.empty()) {
    const auto [g, cell] = open.top();
    open.pop();
    if (g != cost[U(cell)]) continue;
    const int row = cell / kSide, col = cell % kSide;
    const double x = metres(row), y = metres(col);
    if ((x - gx) * (x - gx) + (y - gy) * (y - gy) <= 0.25 || (far && x * x + y * y >= 2.3 * 2.3)) {
      // In 1/64 cell from the goal's rounded position.
      const long a = std::labs(64L * row - std::lround(std::floor(64.0 * (50.0 + 20.0 * gx) + 0.5)));
      const long b = std::labs(64L * col - std::lround(std::floor(64.0 * (50.0 + 20.0 * gy) + 0.5)));
      const long total = g + (10 * std::max(a, b) + 4 * std::min(a, b)) / 64;
      if (best < 0 || total < best) best = total;
    }
    for (int dr = -1; dr <= 1; ++dr)
      for (int dc = -1; dc <= 1; ++dc) {
        const int r = row + dr, c = col + dc;
        if ((dr == 0 && dc == 0) || r < 0 || r >= kSide || c < 0 || c >= kSide) continue;
        const int next = r * kSide + c;
        if (lethal(field[U(next)]) && (!lethal(field[U(cell)]) || field[U(next)] <= field[U(cell)])) continue;
        const int pen = penalty(field[U(next)]);
        const long step = dr != 0 && dc != 0 ? 14 + pen * 14 / 10 : 10 + pen;
        if (g + step < cost[U(next)]) {
          cost[U(next)] = g + step;
          open.emplace(g + step, next);
        }
      }
  }
  return best;
}

class RouteModel : public ::testing::TestWithParam<Robot> {};

TEST_P(RouteModel, FieldIsTheNearestReturnOfEveryCell) {
  const Robot robot = GetParam();
  route::Setup(robot.radius, robot.preferred, robot.clearance_cost);
  std::mt19937 rng(7);
  for (int n = 0; n < 20; ++n) {
    const std::vector<float> scan = RandomScan(rng);
    route::Result r;
    route::Plan(scan.data(), 2.0, 0.0, 0.6, nullptr, r);
    const std::vector<int> model = ModelField(scan, robot);
    int wrong = 0;
    for (int row = 0; row < kSide; ++row)
      for (int col = 0; col < kSide; ++col)
        if (route::FieldAt(row, col) != model[U(row * kSide + col)] && ++wrong <= 3)
          ADD_FAILURE() << "scan " << n << " cell (" << row << ", " << col << "): " << route::FieldAt(row, col)
                        << ", nearest return " << model[U(row * kSide + col)];
  }
}

TEST_P(RouteModel, RouteIsTheCheapest) {
  const Robot robot = GetParam();
  route::Setup(robot.radius, robot.preferred, robot.clearance_cost);
  route::Forget();
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  int found = 0;
  for (int n = 0; n < 40; ++n) {
    const std::vector<float> scan = RandomScan(rng);
    // Goals near and far, some beyond the window.
    const double reach = n % 3 == 0 ? 3.5 : 2.2;
    const double gx = u(rng) * reach, gy = u(rng) * reach;
    route::Result r;
    route::Plan(scan.data(), gx, gy, 0.6, nullptr, r);
    const long best = Cheapest(ModelField(scan, robot), robot, gx, gy);
    ASSERT_EQ(r.found, best >= 0) << "scan " << n;
    if (!r.found) continue;
    ++found;
    EXPECT_EQ(r.cost, best) << "scan " << n << " goal (" << gx << ", " << gy << ")";
  }
  EXPECT_GT(found, 20);
}

INSTANTIATE_TEST_SUITE_P(Robots, RouteModel,
                         ::testing::Values(Robot{0.215, 0.315, 2.0},  // the BARN robot
                                           Robot{0.3, 0.5, 7.5},      // the widest discs
                                           Robot{0.2, 0.2, 2.0}));    // no margin: no penalties

TEST(Route, WayOutWhenStandingTooClose) {
  // A wall 0.12 m to the left, the goal to the right: the robot's own cell
  // is too close, and the route leaves it straight away from the wall.
  const Robot robot{0.215, 0.315, 2.0};
  route::Setup(robot.radius, robot.preferred, robot.clearance_cost);
  route::Forget();
  std::vector<float> scan(360, std::numeric_limits<float>::infinity());
  for (int i = 230; i <= 310; ++i) scan[U(i)] = static_cast<float>(0.12 / std::fabs(std::sin(i * kPi / 180.0)));
  route::Result r;
  route::Plan(scan.data(), 0.0, -1.5, 0.6, nullptr, r);
  ASSERT_TRUE(r.found);
  EXPECT_LT(r.look_y, 0.0);
  EXPECT_EQ(r.cost, Cheapest(ModelField(scan, robot), robot, 0.0, -1.5));
}

}  // namespace
