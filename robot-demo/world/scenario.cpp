#include "world/scenario.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>

#include "grid_frame.h"
#include "pathgrid.h"
#include "runs/follow_target.h"
#include "scanfollow.h"

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

// ---- follower ---------------------------------------------------------------

namespace {

// Turn rate per radian of bearing: full rate from about 0.5 rad (28 deg) off,
// gentle enough near zero not to weave at 10 Hz.
constexpr double kTurnGain = 2.5;
// Drive only toward a steering point within this bearing (about 57 deg);
// further round, turn on the spot first.
constexpr double kDriveBearing = 1.0;
// A steering point this close gives no usable bearing: stand.
constexpr double kMinSteer = 0.1;
// Speed per metre of path beyond the standoff, in 1/s: full speed until
// about 0.4 m before the standoff, then a linear slow-down.
constexpr double kApproachGain = 1.2;
// A tracked point within one cell of the robot gives nothing to turn toward.
constexpr double kMinFaceDistance = 0.05;
// Kept beyond the robot's radius to every scan return: one tick's travel at
// full speed (0.05 m) plus room for range noise.
constexpr double kGuardMargin = 0.08;

// Smallest distance from robot-frame point (x, y) to any scan return.
double ScanClearance(const Scan& scan, double x, double y) {
  double best = std::numeric_limits<double>::infinity();
  for (int i = 0; i < kScanReadings; ++i) {
    const double d = scan[static_cast<std::size_t>(i)];
    if (!std::isfinite(d) || d <= 0.0) continue;
    const Vec2 r = ReadingDir(i);
    best = std::min(best, std::hypot(d * r.x - x, d * r.y - y));
  }
  return best;
}

// The follower's target cell for this scan's tracked point. Needs this
// scan's SetRanges.
void ChooseTarget(TickResult& r) {
  const FollowTarget t = ScreenedFollowTarget(r.out_x, r.out_y);
  r.raw_col = t.raw_col;
  r.raw_row = t.raw_row;
  r.target_col = t.target_col;
  r.target_row = t.target_row;
}

// Drive only along a planned path toward a real target; otherwise stand and
// turn toward the tracked point.
Command Control(const TickResult& r, const Scan& scan) {
  const double steer = std::hypot(r.fix_x, r.fix_y);
  double speed = 0.0, turn = 0.0;
  if (r.target_col >= 0 && r.path_length > 0 && steer >= kMinSteer && std::isfinite(r.bearing)) {
    turn = kTurnGain * r.bearing;
    if (std::fabs(r.bearing) < kDriveBearing) speed = Follower::kMaxSpeed * std::cos(r.bearing);
    // Hold back kStandoff short of the goal cell (itself already outside the
    // person's inflated disk) and slow down on the way there.
    const double to_goal = std::hypot(r.face_x, r.face_y);
    speed = std::max(0.0, std::min(speed, kApproachGain * (to_goal - Follower::kStandoff)));
  } else if (std::isfinite(r.out_x) && std::isfinite(r.out_y) && std::hypot(r.out_x, r.out_y) > kMinFaceDistance) {
    turn = kTurnGain * std::atan2(static_cast<double>(r.out_y), static_cast<double>(r.out_x));
  }
  turn = std::clamp(turn, -Follower::kMaxTurnRate, Follower::kMaxTurnRate);
  // Last guard, from the scan alone: never end a tick closer than the robot's
  // radius plus a margin to any return, unless the move increases clearance.
  if (speed > 0.0) {
    const double a = turn * Scenario::kDt;
    const double nx = speed * Scenario::kDt * std::cos(a), ny = speed * Scenario::kDt * std::sin(a);
    const double after = ScanClearance(scan, nx, ny);
    if (after < Scenario::kRobotRadius + kGuardMargin && after < ScanClearance(scan, 0.0, 0.0)) speed = 0.0;
  }
  return {speed, turn};
}

}  // namespace

Follower::Follower(float initial_track_distance) {
  InitHelper();
  SetBorder(kBorder);
  thredhold(initial_track_distance);
}

TickResult Follower::Step(Scan& scan, const Detection& det) {
  TickResult r{};
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float cx = det.present ? det.x : nan, cy = det.present ? det.y : nan;
  float unused[kScanReadings] = {};

  const auto t0 = std::chrono::steady_clock::now();
  filter(cx, cy, scan.data(), unused, r.out_x, r.out_y);
  r.candidate_passed = det.present && r.out_x == cx && r.out_y == cy;
  SetRanges(scan.data());
  ChooseTarget(r);
  ClearTarget();
  if (r.target_col >= 0) SetTarget(r.target_col, r.target_row);
  r.reached = OutLine();  // without a target cell this can only end stuck
  r.path_length = GetHelperNum();
  r.fix_x = GetFixX();
  r.fix_y = GetFixY();
  r.face_x = GetFaceX();
  r.face_y = GetFaceY();
  r.bearing = CalAngle(r.fix_x, r.fix_y);
  const auto t1 = std::chrono::steady_clock::now();
  r.cycle_us = std::chrono::duration<double, std::micro>(t1 - t0).count();

  r.command = Control(r, scan);
  return r;
}

std::vector<Scan> ScenarioScans() {
  Scenario world;
  Follower follower(world.InitialTrackDistance());
  std::vector<Scan> scans;
  while (!world.Done()) {
    Scan s = world.ScanFromRobot();
    const Detection d = world.Detect();
    scans.push_back(s);
    const TickResult r = follower.Step(s, d);
    world.MoveRobot(r.command);
    world.Advance();
  }
  return scans;
}
