// SPDX-License-Identifier: BSD-3-Clause
// The simulated world's rays: any room is cast against, the nearest surface
// wins, and scan readings point where the planner expects them.
#include "world/room.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// A 4 m x 2 m box with one pillar of radius 0.5 m at (3, 1).
Room Box() {
  Room room;
  room.width = 4.0;
  room.depth = 2.0;
  room.walls = {{{0, 0}, {4, 0}}, {{4, 0}, {4, 2}}, {{4, 2}, {0, 2}}, {{0, 2}, {0, 0}}};
  room.pillars = {{{3.0, 1.0}, 0.5}};
  return room;
}

TEST(WorldRays, NearestSurfaceOfAnyRoomWins) {
  const Room room = Box();
  EXPECT_DOUBLE_EQ(CastRay(room, {1, 1}, {1, 0}), 1.5);   // the pillar's near side, not the wall at 3 m
  EXPECT_DOUBLE_EQ(CastRay(room, {1, 1}, {-1, 0}), 1.0);  // the wall behind
  EXPECT_DOUBLE_EQ(CastRay(room, {1, 0.2}, {1, 0}), 3.0);  // past the pillar, to the far wall
  EXPECT_DOUBLE_EQ(CastRay(room, {1, 1}, {0, 1}), 1.0);
  // A slanted ray meets the near wall where it crosses it.
  EXPECT_NEAR(CastRay(room, {1, 1}, {std::sqrt(0.5), -std::sqrt(0.5)}), std::sqrt(2.0), 1e-12);
}

TEST(WorldRays, RaysAlongOrAwayFromSurfacesMiss) {
  Room open;
  open.width = open.depth = 10.0;
  open.walls = {{{0, 0}, {4, 0}}};
  EXPECT_EQ(CastRay(open, {1, 0}, {1, 0}), kInf);    // along the wall itself
  EXPECT_EQ(CastRay(open, {1, 1}, {0, 1}), kInf);    // away from it
  EXPECT_EQ(CastRay(open, {5, 1}, {0, -1}), kInf);   // beside its end
  EXPECT_EQ(CastRay(Room{{}, {}, 1.0, 1.0}, {0, 0}, {1, 0}), kInf);
  // A disc behind the origin, or beside the ray, is not hit.
  EXPECT_EQ(RayDisc({0, 0}, {1, 0}, {{-2, 0}, 0.5}), kInf);
  EXPECT_EQ(RayDisc({0, 0}, {1, 0}, {{2, 0.6}, 0.5}), kInf);
  EXPECT_DOUBLE_EQ(RayDisc({0, 0}, {1, 0}, {{2, 0}, 0.5}), 1.5);
}

TEST(WorldRays, ReadingsPointAsThePlannerReadsThem) {
  // Reading 180 looks ahead, 270 to the left, 0 behind, 90 to the right.
  const struct {
    int reading;
    double x, y;
  } robot_frame[] = {{180, 1, 0}, {270, 0, 1}, {0, -1, 0}, {90, 0, -1}};
  for (const auto& c : robot_frame) {
    SCOPED_TRACE(c.reading);
    EXPECT_NEAR(ReadingDir(c.reading).x, c.x, 1e-12);
    EXPECT_NEAR(ReadingDir(c.reading).y, c.y, 1e-12);
    // A robot heading along the room's +Y turns "ahead" into +Y and "left" into -X.
    const Vec2 d = ReadingDirInRoom(c.reading, std::acos(-1.0) / 2);
    EXPECT_NEAR(d.x, -c.y, 1e-12);
    EXPECT_NEAR(d.y, c.x, 1e-12);
  }
  for (int i = 0; i < 360; ++i) {
    const Vec2 d = ReadingDirInRoom(i, 0.7);
    EXPECT_NEAR(std::hypot(d.x, d.y), 1.0, 1e-12) << i;
  }
}

}  // namespace
