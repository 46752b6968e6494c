// SPDX-License-Identifier: BSD-3-Clause
#include "world/room.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "grid_frame.h"

namespace {

constexpr double kDeg = kPi / 180.0;

void AddBox(Room& room, double x0, double y0, double x1, double y1) {
  room.walls.push_back({{x0, y0}, {x1, y0}});
  room.walls.push_back({{x1, y0}, {x1, y1}});
  room.walls.push_back({{x1, y1}, {x0, y1}});
  room.walls.push_back({{x0, y1}, {x0, y0}});
}

Room MakeRoom() {
  Room room;
  room.width = 6.0;
  room.depth = 4.0;
  AddBox(room, 0.0, 0.0, 6.0, 4.0);     // outer walls
  AddBox(room, 2.95, 0.0, 3.05, 1.5);   // partition, below the doorway
  AddBox(room, 2.95, 2.7, 3.05, 4.0);   // partition, above the doorway
  AddBox(room, 1.2, 2.6, 1.8, 3.3);     // cabinet
  AddBox(room, 5.4, 3.4, 5.9, 3.9);     // crate in the far corner
  room.pillars.push_back({{4.6, 2.0}, 0.25});
  room.pillars.push_back({{0.7, 2.9}, 0.2});  // bin
  return room;
}

double PointSegment(Vec2 p, const Segment& s) {
  const double dx = s.b.x - s.a.x, dy = s.b.y - s.a.y;
  const double len2 = dx * dx + dy * dy;
  double f = len2 > 0 ? ((p.x - s.a.x) * dx + (p.y - s.a.y) * dy) / len2 : 0.0;
  f = std::clamp(f, 0.0, 1.0);
  return std::hypot(p.x - (s.a.x + f * dx), p.y - (s.a.y + f * dy));
}

// Ray o + t*dir (|dir| = 1) against a segment; +inf when missed.
double RaySegment(Vec2 o, Vec2 dir, const Segment& s) {
  const double ex = s.b.x - s.a.x, ey = s.b.y - s.a.y;
  const double den = dir.x * ey - dir.y * ex;
  if (std::fabs(den) < 1e-12) return std::numeric_limits<double>::infinity();
  const double wx = s.a.x - o.x, wy = s.a.y - o.y;
  const double t = (wx * ey - wy * ex) / den;
  const double u = (wx * dir.y - wy * dir.x) / den;
  if (t <= 0.0 || u < 0.0 || u > 1.0) return std::numeric_limits<double>::infinity();
  return t;
}

}  // namespace

const Room& DefaultRoom() {
  static const Room room = MakeRoom();
  return room;
}

double Clearance(const Room& room, Vec2 p) {
  double best = std::numeric_limits<double>::infinity();
  for (const Segment& s : room.walls) best = std::min(best, PointSegment(p, s));
  for (const Disc& d : room.pillars)
    best = std::min(best, std::hypot(p.x - d.c.x, p.y - d.c.y) - d.r);
  return best;
}

double RayDisc(Vec2 o, Vec2 dir, const Disc& d) {
  const double fx = o.x - d.c.x, fy = o.y - d.c.y;
  const double b = fx * dir.x + fy * dir.y;
  const double c = fx * fx + fy * fy - d.r * d.r;
  const double disc = b * b - c;
  if (disc < 0.0) return std::numeric_limits<double>::infinity();
  const double t = -b - std::sqrt(disc);
  return t > 0.0 ? t : std::numeric_limits<double>::infinity();
}

double CastRay(const Room& room, Vec2 o, Vec2 dir) {
  double best = std::numeric_limits<double>::infinity();
  for (const Segment& s : room.walls) best = std::min(best, RaySegment(o, dir, s));
  for (const Disc& d : room.pillars) best = std::min(best, RayDisc(o, dir, d));
  return best;
}

Vec2 ReadingDir(int i) { return {-std::cos(i * kDeg), -std::sin(i * kDeg)}; }

Vec2 ReadingDirInRoom(int i, double heading) {
  const double c = std::cos(heading), s = std::sin(heading);
  const Vec2 r = ReadingDir(i);
  return {c * r.x - s * r.y, s * r.x + c * r.y};
}
