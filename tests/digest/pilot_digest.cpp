// SPDX-License-Identifier: BSD-3-Clause
// The pilot's every answer, closed loop in a small simulated hall of its
// own: goal runs round posts (with range noise, dropouts and scans spoilt on
// purpose) and a follow run behind a walking person, each step's fields
// hashed (FNV-1a) part by part, with the poses the commands led to. It needs
// scanpilot alone, so that it runs on every CPU the library is built for;
// every build and every CPU must print the same digests.
//   pilot_digest [--expect FILE]   prints "part hash bytes" lines; with
//   --expect, exits 1 when they differ from FILE's.
//
// The C library's sin, cos, atan2, hypot and atanf may give another last
// bit on another CPU, so by default the program runs the pilot (and builds
// its hall) with functions of its own that give the same bits everywhere
// (elementary.h): then only our code can make a digest differ between CPUs.
//   pilot_digest --libm [--expect FILE]   runs the pilot with the C
//   library's, as it runs on the robot (the hall stays the same).
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>

#include "elementary.h"
#include "part_digest.h"
#include "scanpilot.h"
#include "step_fields.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr float kInf = std::numeric_limits<float>::infinity();

struct Hash : PartHash {
  using PartHash::Add;
  // Any NaN is one NaN: CPUs differ in the sign and payload they make.
  void Add(double v) {
    if (std::isnan(v)) v = std::numeric_limits<double>::quiet_NaN();
    Add(&v, sizeof v);
  }
  void Add(float v) {
    if (std::isnan(v)) v = std::numeric_limits<float>::quiet_NaN();
    Add(&v, sizeof v);
  }
  void Add(int v) { Add(&v, sizeof v); }
  void Add(bool v) {
    const unsigned char c = v ? 1 : 0;
    Add(&c, 1);
  }
  void Add(PilotPoint p) {
    Add(p.x);
    Add(p.y);
  }
  void Add(PilotCell c) {
    Add(c.col);
    Add(c.row);
  }
  void Add(PilotCommand c) {
    Add(c.speed);
    Add(c.turn_rate);
  }
  void Add(PilotReason r) { Add(static_cast<int>(r)); }
};

void AddStep(Hash& h, const PilotStep& s) {
#define SCANPILOT_HASH_FIELD(key, kind, value, present) \
  h.Add(static_cast<bool>(present));                    \
  if (present) h.Add(value);
  SCANPILOT_STEP_FIELDS(SCANPILOT_HASH_FIELD)
#undef SCANPILOT_HASH_FIELD
}

using elementary::SinCos;

// splitmix64: the same numbers on every CPU and C++ library.
struct Noise {
  std::uint64_t s;
  std::uint64_t Next() {
    std::uint64_t z = (s += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }
  double Unit() { return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0); }  // [0, 1)
};

struct Pose {
  double x, y, heading;
};
struct Segment {
  double ax, ay, bx, by;
};
struct Post {
  double x, y, r;
};

// A 12 m x 8 m hall: outer walls, a diagonal wall from (8.5, 2) to (10, 5),
// a dead-end pocket open to the west at x = 10, and four columns of six
// posts 0.1 m round with gaps of 0.9 m and more, every other row shifted.
constexpr Segment kWalls[] = {
    {0, 0, 12, 0},         {12, 0, 12, 8},         {12, 8, 0, 8},          {0, 8, 0, 0},
    {8.5, 2.0, 10.0, 5.0}, {10.0, 5.5, 11.6, 5.5}, {10.0, 6.8, 11.6, 6.8}, {11.6, 5.5, 11.6, 6.8},
};
constexpr int kMaxPosts = 32;
constexpr double kRange = 10.0;  // the scanner's reach: +inf beyond

struct Hall {
  Post posts[kMaxPosts];
  int n_posts = 0;
  Post person{0, 0, 0};  // radius 0: absent
  double ci[kPilotReadings], si[kPilotReadings];

  Hall() {
    for (int col = 0; col < 4; ++col)
      for (int row = 0; row < 6; ++row) posts[n_posts++] = {2.5 + 1.3 * col + 0.4 * (row % 2), 1.2 + 1.1 * row, 0.1};
    for (int i = 0; i < kPilotReadings; ++i) SinCos(i * (kPi / 180.0), si[i], ci[i]);
  }

  // Distance along the unit ray (dx, dy) from (x, y) to the nearest thing.
  double Cast(double x, double y, double dx, double dy) const {
    double best = kRange;
    for (const Segment& w : kWalls) {
      const double ex = w.bx - w.ax, ey = w.by - w.ay;
      const double den = dx * ey - dy * ex;
      if (den == 0.0) continue;
      const double qx = w.ax - x, qy = w.ay - y;
      const double t = (qx * ey - qy * ex) / den, u = (qx * dy - qy * dx) / den;
      if (t > 0.0 && t < best && u >= 0.0 && u <= 1.0) best = t;
    }
    auto circle = [&](const Post& p) {
      if (p.r <= 0.0) return;
      const double qx = p.x - x, qy = p.y - y;
      const double along = qx * dx + qy * dy;
      const double d2 = p.r * p.r - (qx * qx + qy * qy - along * along);
      if (along <= 0.0 || d2 < 0.0) return;
      const double t = along - std::sqrt(d2);
      if (t > 0.0 && t < best) best = t;
    };
    for (int i = 0; i < n_posts; ++i) circle(posts[i]);
    circle(person);
    return best;
  }

  // Reading i lies at X = -d cos(i), Y = -d sin(i) in the robot's frame.
  void Scan(const Pose& p, Noise& noise, double sigma, double dropout, float* out) const {
    double sh, ch;
    SinCos(p.heading, sh, ch);
    for (int i = 0; i < kPilotReadings; ++i) {
      const double rx = -ci[i], ry = -si[i];
      const double d = Cast(p.x, p.y, ch * rx - sh * ry, sh * rx + ch * ry);
      const double jitter = sigma * (2.0 * noise.Unit() - 1.0);
      const bool lost = noise.Unit() < dropout;
      out[i] = lost ? std::nanf("") : d >= kRange ? kInf : static_cast<float>(d + jitter);
    }
  }

  // Whether a disc of radius r at (x, y) touches anything.
  bool Touches(double x, double y, double r) const {
    for (const Segment& w : kWalls) {
      const double ex = w.bx - w.ax, ey = w.by - w.ay;
      double t = ((x - w.ax) * ex + (y - w.ay) * ey) / (ex * ex + ey * ey);
      t = t < 0.0 ? 0.0 : t > 1.0 ? 1.0 : t;
      const double qx = w.ax + t * ex - x, qy = w.ay + t * ey - y;
      if (qx * qx + qy * qy < r * r) return true;
    }
    auto near = [&](const Post& p) {
      const double qx = p.x - x, qy = p.y - y, rr = r + p.r;
      return p.r > 0.0 && qx * qx + qy * qy < rr * rr;
    };
    for (int i = 0; i < n_posts; ++i)
      if (near(posts[i])) return true;
    return near(person);
  }
};

// One command over 0.1 s as an arc; a move that would touch something is
// not made (the contact is hashed with the pose).
bool Move(const Hall& hall, Pose& p, double radius, const PilotCommand& c) {
  const double dt = 0.1, v = c.speed, half = 0.5 * c.turn_rate * dt;
  double sh, ch, sm, cm;
  SinCos(half, sh, ch);
  SinCos(p.heading + half, sm, cm);
  const double chord = half == 0.0 ? v * dt : v * dt * (sh / half);
  const Pose next{p.x + chord * cm, p.y + chord * sm, p.heading + c.turn_rate * dt};
  if (!(std::isfinite(next.x) && std::isfinite(next.y) && std::isfinite(next.heading))) return true;
  if (hall.Touches(next.x, next.y, radius)) return true;
  p = next;
  return false;
}

void AddPose(Hash& h, const Pose& p, bool contact) {
  h.Add(p.x);
  h.Add(p.y);
  h.Add(p.heading);
  h.Add(contact);
}

// A point of the hall in the robot's frame.
void ToRobot(const Pose& p, double x, double y, double& rx, double& ry) {
  double s, c;
  SinCos(p.heading, s, c);
  const double dx = x - p.x, dy = y - p.y;
  rx = c * dx + s * dy;
  ry = c * dy - s * dx;
}

// Spoils some scans as a scanner does: a run of dropouts, zeros or -inf.
void Spoil(float* scan, int k) {
  if (k % 23 == 7)
    for (int i = 100; i < 260; ++i) scan[i] = std::nanf("");
  if (k % 31 == 3)
    for (int i = 0; i < kPilotReadings; i += 7) scan[i] = 0.0f;
  if (k % 41 == 11)
    for (int i = 170; i < 190; ++i) scan[i] = -kInf;
}

}  // namespace

int main(int argc, char** argv) {
  const bool libm = argc > 1 && std::strcmp(argv[1], "--libm") == 0;
  if (libm) {
    elementary::use_libm = true;
    argv[1] = argv[0];
    --argc;
    ++argv;
  }
  Hall hall;
  Hash goal_steps, goal_poses, follow_steps, follow_poses;
  PilotStep step;
  float scan[kPilotReadings];

  // Goal runs: the robot of the BARN worlds from the west end through the
  // posts, one goal beyond the diagonal wall, one into the pocket.
  {
    PilotConfig pc;
    pc.robot_radius = 0.215f;
    pc.margin = 0.1f;
    Pilot pilot;
    if (pilot.Start(pc) != PilotError::kNone) return 2;
    Noise noise{7};
    Pose pose{1.0, 4.0, 0.0};
    const double goals[][2] = {{7.8, 6.6}, {11.0, 1.0}, {11.0, 6.15}, {1.0, 2.0}};
    int k = 0;
    for (const auto& g : goals)
      for (int n = 0; n < 260; ++n, ++k) {
        double gx, gy;
        ToRobot(pose, g[0], g[1], gx, gy);
        if (gx * gx + gy * gy < 0.36) break;
        PilotGoal goal;
        PilotWindowGoal(gx, gy, goal);
        pilot.SetGoal(goal);
        hall.Scan(pose, noise, 0.01, 0.01, scan);
        Spoil(scan, k);
        pilot.Step(scan, nullptr, step);
        AddStep(goal_steps, step);
        AddPose(goal_poses, pose, Move(hall, pose, 0.215, step.command));
      }
  }

  // Following a person (a post 0.2 m round) who walks at 0.4 m/s through
  // the posts and back, seen some scans and not others.
  {
    PilotConfig pc;
    pc.mode = PilotMode::kFollow;
    pc.robot_radius = 0.2f;
    pc.follow_distance = 1.0f;
    Pilot pilot;
    if (pilot.Start(pc) != PilotError::kNone) return 2;
    Noise noise{11};
    Pose pose{1.0, 4.0, 0.0};
    const double route[][2] = {{2.2, 4.0}, {3.2, 3.95}, {5.8, 3.95}, {7.3, 3.95}, {7.3, 7.3}, {1.6, 7.3}, {1.6, 2.0}};
    hall.person = {2.2, 4.0, 0.2};
    int leg = 1;
    for (int k = 0; k < 560; ++k) {
      hall.Scan(pose, noise, 0.01, 0.005, scan);
      Spoil(scan, k + 5);
      const bool seen = noise.Unit() >= 0.2 && !(k >= 200 && k < 215);
      double px, py;
      ToRobot(pose, hall.person.x, hall.person.y, px, py);
      const PilotPoint candidate{static_cast<float>(px), static_cast<float>(py)};
      pilot.Step(scan, seen ? &candidate : nullptr, step);
      AddStep(follow_steps, step);
      AddPose(follow_poses, pose, Move(hall, pose, 0.2, step.command));
      // The person walks the route at 0.4 m/s, then stands.
      if (leg < 7) {
        const double dx = route[leg][0] - hall.person.x, dy = route[leg][1] - hall.person.y;
        const double left = std::sqrt(dx * dx + dy * dy), walk = 0.04;
        if (left <= walk) {
          hall.person.x = route[leg][0], hall.person.y = route[leg][1];
          ++leg;
        } else {
          hall.person.x += walk * dx / left;
          hall.person.y += walk * dy / left;
        }
      }
    }
  }

  const unsigned long* own = elementary::own_calls;
  using elementary::Fn;
  if (!libm && !(own[Fn::kAtanf] > 0 && own[Fn::kAtan2] > 0 && own[Fn::kHypot] > 0 &&
                 own[Fn::kSin] + own[Fn::kSinCos] > 0 && own[Fn::kCos] + own[Fn::kSinCos] > 0)) {
    std::fprintf(stderr, "pilot_digest: the pilot called the C library's functions, not the program's\n");
    return 2;
  }
  return ReportParts(libm ? "pilot_digest --libm" : "pilot_digest", 12,
                     {{"goal_steps", goal_steps},
                      {"goal_poses", goal_poses},
                      {"follow_steps", follow_steps},
                      {"follow_poses", follow_poses}},
                     argc, argv);
}
