// SPDX-License-Identifier: BSD-3-Clause
// Which way the robot moved, from scans ray-cast here in a room: forwards
// and backwards mounts, turns on the spot, a person walking by, a scanner
// that sees only ahead.
#include "runs/mount_watch.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr float kNan = std::numeric_limits<float>::quiet_NaN();

struct Disc {
  double x, y, r;
};

// A room of 9 m x 3.5 m with two posts; the robot at (x, y) facing `heading`
// (radians, counter-clockwise); index 180 is ahead, 270 left. `turned`:
// the scanner is mounted `turned` degrees off (180: backwards).
Scan Cast(double x, double y, double heading, int turned = 0, const Disc* person = nullptr) {
  const Disc posts[] = {{2.0, 1.2, 0.15}, {-1.5, -0.8, 0.2}};
  Scan scan{};
  for (int i = 0; i < kScanReadings; ++i) {
    const double a = heading + (i - 180) * kPi / 180.0;
    const double dx = std::cos(a), dy = std::sin(a);
    double best = std::numeric_limits<double>::infinity();
    for (double wall : {-3.0 - x, 6.0 - x})
      if (wall / dx > 0) best = std::min(best, wall / dx);
    for (double wall : {-1.5 - y, 2.0 - y})
      if (wall / dy > 0) best = std::min(best, wall / dy);
    auto hit = [&](const Disc& d) {
      const double px = d.x - x, py = d.y - y, b = px * dx + py * dy;
      const double disc = b * b - (px * px + py * py - d.r * d.r);
      if (disc >= 0 && b - std::sqrt(disc) > 0) best = std::min(best, b - std::sqrt(disc));
    };
    for (const Disc& d : posts) hit(d);
    if (person != nullptr) hit(*person);
    scan[static_cast<std::size_t>((i + turned + 360) % 360)] = static_cast<float>(best);
  }
  return scan;
}

TEST(MountWatch, ForwardDriveIsNeverBackwards) {
  MountWatch w;
  for (int k = 0; k < 60; ++k) EXPECT_FALSE(w.Observe(Cast(-2.0 + 0.05 * k, 0.1, 0.0)));
  EXPECT_NEAR(w.Forward(), 0.05 * 57, 0.4);  // the last pair was never compared
  EXPECT_EQ(w.Backward(), 0.0);
  // One pair alone, with a turn between the two scans.
  EXPECT_NEAR(MountWatch::MovedAhead(Cast(0, 0, 0.0), Cast(0.1, 0, 0.1)), 0.1, 0.03);
}

TEST(MountWatch, BackwardsMountIsToldOnceAtHalfAMetre) {
  MountWatch w;
  int told = 0, told_at = -1;
  for (int k = 0; k < 90; ++k)
    if (w.Observe(Cast(-2.0 + 0.04 * k, 0.1, 0.02 * std::sin(k * 0.2), 180))) {
      ++told;
      told_at = k;
    }
  EXPECT_EQ(told, 1);
  // Half a metre of backing at 4 cm a scan: about 13 scans, within a span.
  EXPECT_GE(told_at, 12);
  EXPECT_LE(told_at, 12 + 2 * kMountSpan);
  EXPECT_LT(w.Forward(), 0.05);
  // A scanner turned a quarter only is no backwards mount: surfaces move sideways.
  MountWatch side;
  for (int k = 0; k < 90; ++k) EXPECT_FALSE(side.Observe(Cast(-2.0 + 0.04 * k, 0.1, 0.0, 90)));
}

TEST(MountWatch, NoWordWithoutBackwardTravel) {
  // Turning on the spot, 8 degrees a scan.
  MountWatch spin;
  for (int k = 0; k < 60; ++k) EXPECT_FALSE(spin.Observe(Cast(0.5, 0.2, k * 8 * kPi / 180)));
  EXPECT_LT(spin.Backward() + spin.Forward(), 0.1);
  // Standing still while a person walks away ahead, then back toward the robot.
  MountWatch still;
  for (int k = 0; k < 80; ++k) {
    const Disc person{1.0 + 0.05 * (k < 40 ? k : 80 - k), 0.0, 0.2};
    EXPECT_FALSE(still.Observe(Cast(0.0, 0.0, 0.0, 0, &person)));
  }
  EXPECT_LT(still.Backward() + still.Forward(), 0.1);
  // Backing out of a dock for 0.3 m, then driving on: not a mount.
  MountWatch dock;
  for (int k = 0; k < 10; ++k) EXPECT_FALSE(dock.Observe(Cast(1.0 - 0.03 * k, 0.0, 0.0)));
  for (int k = 0; k < 60; ++k) EXPECT_FALSE(dock.Observe(Cast(0.7 + 0.05 * k, 0.0, 0.0)));
  // A scanner that sees only ahead (a half turn), mounted backwards: it tells
  // nothing, and the pilot's own "too little seen ahead" speaks for it.
  MountWatch half;
  for (int k = 0; k < 60; ++k) {
    Scan s = Cast(-2.0 + 0.05 * k, 0.0, 0.0, 180);
    for (int i = 90; i < 270; ++i) s[static_cast<std::size_t>(i)] = kNan;
    EXPECT_FALSE(half.Observe(s));
  }
  EXPECT_EQ(half.Backward(), 0.0);
}

}  // namespace
