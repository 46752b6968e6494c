// SPDX-License-Identifier: BSD-3-Clause
// The simulated world's geometry: points, poses, and a room of walls and
// round pillars, with the distances the demo measures in it.
#ifndef SCANPILOT_WORLD_ROOM_H
#define SCANPILOT_WORLD_ROOM_H

#include <vector>

struct Vec2 {
  double x, y;
};
struct Pose {
  double x, y, heading;  // world frame, metres and radians
};
struct Segment {
  Vec2 a, b;
};
struct Disc {
  Vec2 c;
  double r;
};

struct Room {
  std::vector<Segment> walls;  // every flat surface, obstacles' sides included
  std::vector<Disc> pillars;
  double width, depth;
};
// The scenario's 6 m x 4 m room: a partition wall with a doorway, a cabinet,
// a crate and two round obstacles.
const Room& DefaultRoom();
// Distance from a point to the nearest wall or obstacle surface.
double Clearance(const Room& room, Vec2 p);

// Distance along the ray o + t*dir (|dir| = 1, t > 0) to the nearest wall or
// pillar of `room`, or to `disc`; +inf when the ray hits nothing.
double CastRay(const Room& room, Vec2 o, Vec2 dir);
double RayDisc(Vec2 o, Vec2 dir, const Disc& disc);

// Scan reading i looks along (-cos i, -sin i) in the robot frame (reading
// 180 ahead, 270 to the left), the layout the planner reads ...
Vec2 ReadingDir(int i);
// ... and along this unit vector in the room for a robot heading `heading`.
Vec2 ReadingDirInRoom(int i, double heading);

#endif
