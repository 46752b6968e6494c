// SPDX-License-Identifier: BSD-3-Clause
#include "returns.h"

#include <cmath>
#include <limits>

namespace scanpilot_returns {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// Readings are grouped by degree, a group's least range a lower bound on
// how near its returns come; most groups of a query lie wholly farther out
// than the best return found, and are passed over.
constexpr int kGroup = 8;
constexpr int kGroups = kReadings / kGroup;
static_assert(kReadings % kGroup == 0, "whole groups");
// Two lanes of minima, taken by the compiler at once.
constexpr int kLanes = 2;
static_assert(kGroup % kLanes == 0, "whole lanes");

// Every degree has a point: one that is no return lies at infinity (its
// squares are +inf or NaN, neither ever the least).
alignas(16) double g_x[kReadings];
alignas(16) double g_y[kReadings];
double g_least[kGroups];  // each group's least range (+inf: no return)
int g_first = 0;          // the group of the least range, searched first
int g_unclear[kReadings];
int g_unclears = 0;

// The least of (px - x)^2 + (py - y)^2 over group g, folded into best. A
// minimum is the same in any order, and a NaN never wins, as with std::min.
void Search(int g, double x, double y, double* best) {
  const double* px = g_x + g * kGroup;
  const double* py = g_y + g * kGroup;
  for (int i = 0; i < kGroup; i += kLanes)
    for (int k = 0; k < kLanes; ++k) {
      const double dx = px[i + k] - x, dy = py[i + k] - y;
      const double d = dx * dx + dy * dy;
      best[k] = d < best[k] ? d : best[k];
    }
}

double Least(const double* best) { return best[1] < best[0] ? best[1] : best[0]; }

}  // namespace

int Take(const float* readings, const double* dir_x, const double* dir_y, double radius) {
  int inside = 0;
  g_first = 0;
  g_unclears = 0;
  for (int g = 0; g < kGroups; ++g) {
    double least = kInf;
    for (int i = g * kGroup; i < (g + 1) * kGroup; ++i) {
      const float d = readings[i];
      if (d > 0.0f) {
        const double r = d;
        g_x[i] = r * dir_x[i];
        g_y[i] = r * dir_y[i];
        least = r < least ? r : least;
        inside += r < radius;
      } else {
        g_x[i] = g_y[i] = kInf;
        g_unclear[g_unclears++] = i;
      }
    }
    g_least[g] = least;
    if (least < g_least[g_first]) g_first = g;
  }
  return inside;
}

const int* NotClear(int& count) {
  count = g_unclears;
  return g_unclear;
}

double Clearance(double x, double y) {
  double best[kLanes];
  for (double& b : best) b = kInf;
  Search(g_first, x, y, best);
  // A return at range r lies at least r - |(x, y)| away: a group whose
  // least range exceeds the distance found so far plus |(x, y)| holds
  // nothing nearer. The limit is widened far beyond the rounding of the
  // squares and roots, so that no return is passed over that could be the
  // nearest or tie it. Not finite, (x, y) passes none over.
  const double reach = std::sqrt(x * x + y * y);
  const auto limit = [&] { return (std::sqrt(Least(best)) + reach) * (1.0 + 1e-9); };
  double beyond = limit();
  for (int g = 0; g < kGroups; ++g) {
    if (g == g_first || g_least[g] > beyond) continue;
    Search(g, x, y, best);
    beyond = limit();
  }
  return std::sqrt(Least(best));
}

}  // namespace scanpilot_returns
