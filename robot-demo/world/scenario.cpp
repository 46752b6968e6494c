// SPDX-License-Identifier: BSD-3-Clause
#include "world/scenario.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>

#include "grid_frame.h"
#include "pathgrid.h"

namespace {

// The person's route: waypoints and how long to stand at each.
struct Waypoint {
  Vec2 p;
  double pause;
};
const std::vector<Waypoint>& RouteWaypoints() {
  static const std::vector<Waypoint> route = {
      {{1.4, 1.0}, 1.5}, {{2.2, 1.3}, 0.0}, {{2.8, 2.1}, 0.0}, {{3.8, 2.9}, 0.0},
      {{4.6, 3.2}, 0.0}, {{5.3, 2.6}, 2.0}, {{5.3, 1.3}, 0.0}, {{4.6, 0.8}, 0.0},
      {{3.8, 1.2}, 0.0}, {{3.6, 2.1}, 0.0}, {{2.2, 2.1}, 0.0}, {{1.9, 1.5}, 60.0}};
  return route;
}
constexpr double kPersonSpeed = 0.4;  // m/s

// Sensor models, standard deviations in metres: a good indoor scanner, and a
// detector whose centroid wanders a little more than the scan does.
constexpr double kRangeNoise = 0.003;
constexpr double kDetectorNoise = 0.015;
// Share of ticks on which the detector reports something that is not the person.
constexpr double kFalseAlarmRate = 0.06;
// The tracker starts just beyond the person's near side, inside the 0.3 m
// window it gathers points from.
constexpr double kTrackStartBeyond = 0.02;

// Where the person stands at time t.
Vec2 PersonAt(double t) {
  const auto& route = RouteWaypoints();
  for (std::size_t i = 0; i + 1 < route.size(); ++i) {
    if (t <= route[i].pause) return route[i].p;
    t -= route[i].pause;
    const Vec2 a = route[i].p, b = route[i + 1].p;
    const double len = std::hypot(b.x - a.x, b.y - a.y);
    const double walk = len / kPersonSpeed;
    if (t <= walk) {
      const double f = t / walk;
      return {a.x + f * (b.x - a.x), a.y + f * (b.y - a.y)};
    }
    t -= walk;
  }
  return route.back().p;
}

}  // namespace

Scenario::Scenario(std::uint32_t seed)
    : room_(DefaultRoom()), rng_(seed), robot_{0.5, 1.0, 0.0}, person_(PersonAt(0.0)),
      noise_free_(kScanReadings), on_person_(kScanReadings) {}

float Scenario::InitialTrackDistance() const {
  const double d = std::hypot(person_.x - robot_.x, person_.y - robot_.y) - kPersonRadius;
  return static_cast<float>(d + kTrackStartBeyond);
}

double Scenario::Uniform() {
  return static_cast<double>(rng_()) / 4294967296.0;  // [0, 1)
}

double Scenario::Gauss() {  // Box-Muller: portable, unlike std::normal_distribution
  const double u1 = 1.0 - Uniform();
  const double u2 = Uniform();
  return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * kPi * u2);
}

double Scenario::CastRay(Vec2 o, Vec2 dir, bool& hit_person) const {
  const double best = ::CastRay(room_, o, dir);
  const double tp = RayDisc(o, dir, {person_, kPersonRadius});
  hit_person = tp < best;
  return std::min(best, tp);
}

Scan Scenario::ScanFromRobot() {
  Scan scan{};
  for (int i = 0; i < kScanReadings; ++i) {
    const Vec2 dir = ReadingDirInRoom(i, robot_.heading);
    bool person = false;
    const double t = CastRay({robot_.x, robot_.y}, dir, person);
    const double noise = kRangeNoise * Gauss();
    const auto k = static_cast<std::size_t>(i);
    noise_free_[k] = t;
    on_person_[k] = person && t < kMaxRange;
    scan[k] = t < kMaxRange ? static_cast<float>(t + noise) : std::numeric_limits<float>::infinity();
  }
  return scan;
}

Detection Scenario::Detect() {
  double sx = 0.0, sy = 0.0;
  int n = 0;
  for (int i = 0; i < kScanReadings; ++i) {
    const auto k = static_cast<std::size_t>(i);
    if (!on_person_[k]) continue;
    const Vec2 r = ReadingDir(i);
    sx += noise_free_[k] * r.x;
    sy += noise_free_[k] * r.y;
    ++n;
  }
  Detection d{false, false, 0.0f, 0.0f};
  const bool false_alarm = Uniform() < kFalseAlarmRate;
  const double nx = kDetectorNoise * Gauss(), ny = kDetectorNoise * Gauss();
  if (false_alarm) {
    // Something person-like elsewhere: 1.5-2.5 m from the person's true place.
    const double c = std::cos(robot_.heading), s = std::sin(robot_.heading);
    const double px = person_.x - robot_.x, py = person_.y - robot_.y;
    const double rx = c * px + s * py, ry = -s * px + c * py;
    const double a = 2.0 * kPi * Uniform(), dist = 1.5 + Uniform();
    return {true, true, static_cast<float>(rx + dist * std::cos(a)),
            static_cast<float>(ry + dist * std::sin(a))};
  }
  if (n == 0) return d;
  return {true, false, static_cast<float>(sx / n + nx), static_cast<float>(sy / n + ny)};
}

void Scenario::MoveRobot(const Command& cmd) {
  robot_.heading += cmd.turn_rate * kDt;
  robot_.heading = std::remainder(robot_.heading, 2.0 * kPi);
  robot_.x += cmd.speed * kDt * std::cos(robot_.heading);
  robot_.y += cmd.speed * kDt * std::sin(robot_.heading);
}

void Scenario::Advance() {
  ++tick_;
  person_ = PersonAt(tick_ * kDt);
}

std::vector<Vec2> Scenario::Route() const {
  std::vector<Vec2> out;
  for (const auto& w : RouteWaypoints()) out.push_back(w.p);
  return out;
}
