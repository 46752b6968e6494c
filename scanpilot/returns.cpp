// SPDX-License-Identifier: BSD-3-Clause
#include "returns.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace scanpilot_returns {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr float kNoReturn = std::numeric_limits<float>::infinity();

// Readings are grouped by degree, a group's least range a lower bound on
// how near its returns come; most groups of a query lie wholly farther out
// than the best return found, and are passed over.
constexpr int kGroup = 12;
constexpr int kGroups = kReadings / kGroup;
static_assert(kReadings % kGroup == 0, "whole groups");
// Lanes of minima, taken by the compiler at once: two of double, four of
// float.
constexpr int kLanes = 2;
constexpr int kFloatLanes = 4;
static_assert(kGroup % kLanes == 0 && kGroup % kFloatLanes == 0, "whole lanes");

// The readings of the last Take, grouped by degree. Points are made only
// in the groups a query searches.
float g_readings[kReadings];
const double* g_dir_x = nullptr;
const double* g_dir_y = nullptr;
double g_least[kGroups];  // each group's least range (+inf: no return)
int g_first = 0;          // the group of the least range, searched first
int g_unclear[kReadings];
int g_unclears = 0;

// The least of (px - x)^2 + (py - y)^2 over group g's returns, folded into
// best. One that is no return lies at infinity (its squares are +inf or
// NaN). A minimum is the same in any order, and a NaN never wins, as with
// std::min.
void Search(int g, double x, double y, double* best) {
  for (int i = g * kGroup; i < (g + 1) * kGroup; i += kLanes)
    for (int k = 0; k < kLanes; ++k) {
      const float d = g_readings[i + k];
      const double r = d > 0.0f ? static_cast<double>(d) : kInf;
      const double dx = r * g_dir_x[i + k] - x, dy = r * g_dir_y[i + k] - y;
      const double s = dx * dx + dy * dy;
      best[k] = s < best[k] ? s : best[k];
    }
}

double Least(const double* best) { return best[1] < best[0] ? best[1] : best[0]; }

}  // namespace

int Take(const float* readings, const double* dir_x, const double* dir_y, double radius) {
  std::memcpy(g_readings, readings, sizeof g_readings);
  g_dir_x = dir_x;
  g_dir_y = dir_y;
  g_first = 0;
  g_unclears = 0;
  int inside = 0;
  for (int g = 0; g < kGroups; ++g) {
    const float* r = g_readings + g * kGroup;
    // Most groups hold only returns and none: their least in four lanes
    // at once, with a count of the others.
    float lane[kFloatLanes];
    int other[kFloatLanes];
    for (int k = 0; k < kFloatLanes; ++k) {
      lane[k] = kNoReturn;
      other[k] = 0;
    }
    for (int i = 0; i < kGroup; i += kFloatLanes)
      for (int k = 0; k < kFloatLanes; ++k) {
        lane[k] = r[i + k] < lane[k] ? r[i + k] : lane[k];
        other[k] += !(r[i + k] > 0.0f);
      }
    float least = lane[0];
    for (int k = 1; k < kFloatLanes; ++k) least = lane[k] < least ? lane[k] : least;
    if (other[0] + other[1] + other[2] + other[3] > 0) {
      least = kNoReturn;
      for (int i = 0; i < kGroup; ++i) {
        if (r[i] > 0.0f)
          least = r[i] < least ? r[i] : least;
        else
          g_unclear[g_unclears++] = g * kGroup + i;
      }
    }
    g_least[g] = least;
    if (least < g_least[g_first]) g_first = g;
    // Only a group that comes that near can hold a return inside.
    if (g_least[g] < radius)
      for (int i = 0; i < kGroup; ++i) inside += r[i] > 0.0f && r[i] < radius;
  }
  return inside;
}

const int* NotClear(int& count) {
  count = g_unclears;
  return g_unclear;
}

double Clearance(double x, double y) {
  if (g_dir_x == nullptr) return kInf;  // nothing taken yet
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
