// SPDX-License-Identifier: BSD-3-Clause
#include "runs/mount_watch.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr int kN = kScanReadings;
constexpr int kMaxTurnDegrees = 25;  // between two compared scans
constexpr double kMaxChange = 0.3;   // metres; more is something moving or an edge
constexpr double kMinMove = 0.003;   // metres per pair, below the noise of a still robot
constexpr int kMinPerSide = 10;      // surface readings ahead and behind, each

bool Seen(float r) { return std::isfinite(r) && r > 0.0f; }

// The turn (whole degrees) that best lays `after` on `before`.
int BestTurn(const Scan& before, const Scan& after) {
  int best = 0;
  double best_cost = std::numeric_limits<double>::infinity();
  for (int s = -kMaxTurnDegrees; s <= kMaxTurnDegrees; ++s) {
    double cost = 0.0;
    int used = 0;
    for (int i = 0; i < kN; ++i) {
      const float a = before[static_cast<std::size_t>(i)];
      const float b = after[static_cast<std::size_t>((i + s + kN) % kN)];
      if (!Seen(a) || !Seen(b)) continue;
      cost += std::min(std::fabs(static_cast<double>(b) - a), kMaxChange);
      ++used;
    }
    if (used >= 60 && cost / used < best_cost) {
      best_cost = cost / used;
      best = s;
    }
  }
  return best;
}

double Median(std::array<double, kScanReadings>& v, int n) {
  auto mid = v.begin() + n / 2;
  std::nth_element(v.begin(), mid, v.begin() + n);
  return *mid;
}

}  // namespace

double MountWatch::MovedAhead(const Scan& before, const Scan& after) {
  const int turn = BestTurn(before, after);
  std::array<double, kScanReadings> ahead{}, behind{};
  int na = 0, nb = 0;
  const double kRad = std::acos(-1.0) / 180.0;
  // Index i points along u = (-cos i, -sin i): X ahead, Y left.
  auto at = [&](int i, double r, double& x, double& y) {
    x = -r * std::cos(i * kRad);
    y = -r * std::sin(i * kRad);
  };
  for (int i = 0; i < kN; ++i) {
    const double r0 = before[static_cast<std::size_t>(i)];
    const double r1 = after[static_cast<std::size_t>((i + turn + kN) % kN)];
    const double rp = before[static_cast<std::size_t>((i + kN - 1) % kN)];
    const double rn = before[static_cast<std::size_t>((i + 1) % kN)];
    if (!Seen(static_cast<float>(r0)) || !Seen(static_cast<float>(r1)) || !Seen(static_cast<float>(rp)) ||
        !Seen(static_cast<float>(rn)))
      continue;
    const double change = r1 - r0;
    if (std::fabs(change) >= kMaxChange) continue;  // something moving, or an edge
    // The surface through the neighbours: a jump between two is none.
    double px, py, nx_, ny_;
    at(i - 1, rp, px, py);
    at(i + 1, rn, nx_, ny_);
    const double tx = nx_ - px, ty = ny_ - py, len = std::hypot(tx, ty);
    if (len <= 0.0 || len > 0.1 + 0.08 * r0) continue;
    const double nx = -ty / len, ny = tx / len;
    const double ux = -std::cos(i * kRad), uy = -std::sin(i * kRad);
    const double nu = nx * ux + ny * uy;
    // Seen edge-on, or a surface along the way of travel: its range tells no move ahead.
    if (std::fabs(nu) < 0.5 || std::fabs(nx) < 0.5) continue;
    // The robot moving d ahead brings the surface nearer along u by d nx / nu.
    const double d = -change * nu / nx;
    if (ux > 0.5) ahead[static_cast<std::size_t>(na++)] = d;
    if (ux < -0.5) behind[static_cast<std::size_t>(nb++)] = d;
  }
  if (na < kMinPerSide || nb < kMinPerSide) return std::numeric_limits<double>::quiet_NaN();
  const double a = Median(ahead, na), b = Median(behind, nb);
  if (a > kMinMove && b > kMinMove) return (a + b) / 2;
  if (a < -kMinMove && b < -kMinMove) return (a + b) / 2;
  return 0.0;
}

bool MountWatch::Observe(const Scan& scan) {
  if (since_ >= 0 && ++since_ < kMountSpan) return false;
  if (since_ >= 0) {
    const double d = MovedAhead(before_, scan);
    if (d > 0) forward_ += d;
    if (d < 0) backward_ -= d;
  }
  before_ = scan;
  since_ = 0;
  if (told_ || backward_ < kMountBackMetres || forward_ > backward_ / 4) return false;
  told_ = true;
  return true;
}
