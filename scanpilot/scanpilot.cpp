// SPDX-License-Identifier: BSD-3-Clause
// The pilot's configuration and life: checks, names, Start and Stop, and
// the conversions from a scanner's samples to the 360 readings.
#include "scanpilot.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

#include "pathgrid.h"
#include "pilot_internal.h"
#include "scanfollow.h"

using namespace scanpilot_pilot;

namespace {

constexpr int kOffGridLow = -1;
constexpr int kOffGridHigh = 1000;

// LaserScan samples binned per call when a mount yaw needs explicit angles.
constexpr std::size_t kLaserChunk = 512;

// Only one Pilot drives the process's planner and tracker at a time. A word,
// not a bool: a one-byte compare-and-swap needs libatomic on some CPUs
// (riscv64), a word's is an instruction everywhere.
std::atomic<int> g_claimed{0};

// ---- configuration ----------------------------------------------------------

bool Finite(double v) { return std::isfinite(v); }
bool FiniteNonNegative(double v) { return std::isfinite(v) && v >= 0.0; }

// A whole number of turns changes no bearing; taking it off keeps huge
// angles from swallowing the sensor's own (fmod is exact).
double ReduceDegrees(double deg) { return std::fmod(deg, 360.0); }

// How far out the guard must see: the robot, the larger of its margins, and
// one period's travel at full speed.
double StopReach(const PilotConfig& c) {
  return c.robot_radius + std::max(c.margin, c.gains.guard_margin) + c.max_speed * c.period;
}

PilotError Check(const PilotConfig& c) {
  if (!FiniteNonNegative(c.robot_radius) || !FiniteNonNegative(c.margin) ||
      !(c.robot_radius + c.margin <= kPilotMaxBorder))
    return PilotError::kBadBorder;
  const ScanLayout& l = c.layout;
  if (!Finite(l.zero_deg) || !Finite(c.mount_yaw_deg) || !(Finite(l.range_scale) && l.range_scale > 0.0) ||
      !(l.min_range <= l.max_range))
    return PilotError::kBadLayout;
  PilotCell cell{};
  if (c.mode == PilotMode::kGoal && !GoalCell(c.goal, cell)) return PilotError::kBadGoal;
  if (c.mode == PilotMode::kFollow && !(std::isfinite(c.follow_distance) && c.follow_distance > 0.0f))
    return PilotError::kBadFollow;
  if (!FiniteNonNegative(c.max_speed) || !FiniteNonNegative(c.max_turn_rate) || !(Finite(c.period) && c.period > 0.0))
    return PilotError::kBadLimits;
  const PilotGains& g = c.gains;
  for (double v : {g.turn_gain, g.drive_bearing, g.min_steer, g.approach_gain, g.standoff, g.min_face_distance,
                   g.guard_margin, g.guard_floor, g.lookahead, g.clearance_cost, g.slow_clearance, g.recovery_time})
    if (!FiniteNonNegative(v)) return PilotError::kBadGains;
  if (!LimitsShowGuard(c, l.min_range, l.max_range)) return PilotError::kBadRanges;
  return PilotError::kNone;
}

}  // namespace

namespace scanpilot_pilot {

bool GoalCell(const PilotGoal& g, PilotCell& cell) {
  if (g.is_cell) {
    cell = g.cell;
  } else {
    if (!Finite(g.x) || !Finite(g.y)) return false;
    cell = {PilotMetresToCell(g.y), PilotMetresToCell(g.x)};
  }
  return OnGrid(cell);
}

// Whether range limits [lo, hi] let the guard see every return it needs:
// from the robot's edge plus margin inward, out to the stopping distance.
bool LimitsShowGuard(const PilotConfig& c, double lo, double hi) {
  return lo <= c.robot_radius + c.margin && hi >= StopReach(c);
}

ScanLayout MountedLayout(const PilotConfig& c, const ScanLayout& own) {
  return PilotMountedLayout(own, c.mount_yaw_deg, c.upside_down);
}

// Steps of recovery in the configured time (rounded).
int RecoverySteps(const PilotConfig& c) {
  const double n = std::floor(c.gains.recovery_time / c.period + 0.5);
  return n < 1e6 ? static_cast<int>(n) : 1000000;
}

}  // namespace scanpilot_pilot

// ---- configuration and life -------------------------------------------------------

const char* PilotErrorText(PilotError e) {
  switch (e) {
    case PilotError::kNone: return "no error";
    case PilotError::kBusy: return "another pilot is live in this process (one planner and one tracker per process)";
    case PilotError::kBadBorder:
      return "robot radius and margin must be finite, >= 0, and together at most 0.5 m (the planner's largest border)";
    case PilotError::kBadLayout:
      return "scanner layout: angles must be finite, the range scale > 0, and min range <= max range";
    case PilotError::kBadGoal: return "the goal must be finite and on the 5 m x 5 m grid (cells 0..99)";
    case PilotError::kBadFollow: return "the follow distance must be finite and > 0";
    case PilotError::kBadLimits: return "speed and turn-rate limits must be finite and >= 0, the period finite and > 0";
    case PilotError::kBadGains: return "controller gains must be finite and >= 0";
    case PilotError::kBadRanges:
      return "the scanner's range limits hide returns the robot must stop for: min range must be at most robot "
             "radius + margin, max range at least robot radius + margin + one period's travel at full speed";
  }
  return "unknown error";
}

const char* PilotReasonName(PilotReason r) {
  switch (r) {
    case PilotReason::kDriving: return "driving";
    case PilotReason::kNotLive: return "not_live";
    case PilotReason::kBadInput: return "bad_input";
    case PilotReason::kLowCoverage: return "low_coverage";
    case PilotReason::kLost: return "lost";
    case PilotReason::kNoPath: return "no_path";
    case PilotReason::kGuard: return "guard";
    case PilotReason::kUnseen: return "unseen";
    case PilotReason::kNear: return "near";
    case PilotReason::kTurning: return "turning";
    case PilotReason::kArrived: return "arrived";
    case PilotReason::kRecovery: return "recovery";
    case PilotReason::kSearch: return "search";
  }
  return "unknown";
}

const char* PilotReasonText(PilotReason r) {
  switch (r) {
    case PilotReason::kDriving: return "driving";
    case PilotReason::kNotLive: return "pilot not started";
    case PilotReason::kBadInput: return "bad input";
    case PilotReason::kLowCoverage: return "too little seen ahead";
    case PilotReason::kLost: return "lost the tracked point";
    case PilotReason::kNoPath: return "no path";
    case PilotReason::kGuard: return "too close to a return";
    case PilotReason::kUnseen: return "unseen space ahead";
    case PilotReason::kNear: return "something too near to measure ahead";
    case PilotReason::kTurning: return "turning on the spot";
    case PilotReason::kArrived: return "arrived";
    case PilotReason::kRecovery: return "no route: turning toward open space";
    case PilotReason::kSearch: return "lost: heading for where it was last seen";
  }
  return "unknown";
}

// The scanner's own bearing, mirrored when upside down, turned by the yaw.
ScanLayout PilotMountedLayout(const ScanLayout& own, double mount_yaw_deg, bool upside_down) {
  ScanLayout l = own;
  const double sense = upside_down ? -1.0 : 1.0;
  l.zero_deg = ReduceDegrees(mount_yaw_deg) + sense * ReduceDegrees(own.zero_deg);
  l.clockwise = own.clockwise != upside_down;
  return l;
}

int PilotMetresToCell(double metres) {
  const double v = kCentreCell + kCellsPerMetre * metres;
  if (!(v > -1.0)) return kOffGridLow;
  if (v >= kOffGridHigh) return kOffGridHigh;
  return static_cast<int>(v);
}

bool PilotWindowGoal(double x, double y, PilotGoal& out) {
  if (!std::isfinite(x) || !std::isfinite(y)) return false;
  const double reach = std::hypot(x, y);
  if (reach > kPilotWindowReach) {
    x = x * kPilotWindowReach / reach;
    y = y * kPilotWindowReach / reach;
  }
  out = PilotGoal::Metres(x, y);
  return true;
}

Pilot::~Pilot() { Stop(); }

PilotError Pilot::Start(const PilotConfig& config) {
  const PilotError e = Check(config);
  if (e != PilotError::kNone) return e;
  if (!live_) {
    int expected = 0;
    if (!g_claimed.compare_exchange_strong(expected, 1)) return PilotError::kBusy;
    live_ = true;
  }
  config_ = config;
  border_ = static_cast<float>(config.robot_radius + config.margin);
  InitHelper();
  SetBorder(border_);
  // A route or a search left by an earlier Pilot is not this one's.
  ResetStep(config);
  last_ = PilotStep{};
  if (config.mode == PilotMode::kFollow) RestartTracker(config.follow_distance);
  stepped_ = false;
  turn_sign_ = 0;
  recovery_left_ = RecoverySteps(config);
  return PilotError::kNone;
}

void Pilot::Stop() {
  if (!live_) return;
  live_ = false;
  stepped_ = false;
  g_claimed.store(0);
}

bool Pilot::SetGoal(const PilotGoal& goal) {
  PilotCell cell{};
  if (!GoalCell(goal, cell)) return false;
  config_.goal = goal;
  return true;
}

bool Pilot::RestartTracker(float distance) {
  if (!live_ || !(std::isfinite(distance) && distance > 0.0f)) return false;
  config_.follow_distance = distance;
  thredhold(distance);
  last_tracked_ = {distance, 0.0f};
  ResetSearch(last_tracked_, RecoverySteps(config_));
  return true;
}
// ---- conversions ------------------------------------------------------------------

bool Pilot::BinSamples(const float* angles_deg, const float* ranges, std::size_t n, float* out) const {
  return ::BinSamples(angles_deg, ranges, n, MountedLayout(config_, config_.layout), out);
}

bool Pilot::BinEvenTurn(const float* ranges, std::size_t n, float* out) const {
  return ::BinEvenScan(ranges, n, MountedLayout(config_, config_.layout), out);
}

bool Pilot::BinLaserScan(float angle_min, float angle_increment, const float* ranges, std::size_t n, float range_min,
                         float range_max, float* out) const {
  return PilotBinLaserScan(config_, angle_min, angle_increment, ranges, n, range_min, range_max, out);
}

const char* PilotLaserScanProblem(float angle_min, float angle_increment, const float* ranges, std::size_t n) {
  if (n == 0 || ranges == nullptr) return "no ranges";
  if (n > kPilotMaxLaserRanges) return "more than 100000 ranges";
  if (!std::isfinite(angle_min)) return "angle_min is not finite";
  if (!std::isfinite(angle_increment)) return "angle_increment is not finite";
  if (angle_increment == 0.0f) return "angle_increment is 0";
  return nullptr;
}

bool PilotBinLaserScanSeen(const PilotConfig& config, float angle_min, float angle_increment, const float* ranges,
                           std::size_t n, float range_min, float range_max, float* out) {
  if (out == nullptr) return false;
  float bins[kPilotReadings];
  for (float& r : bins) r = kNaN;
  const float lo = range_min < config.layout.min_range ? config.layout.min_range : range_min;
  const float hi = range_max > config.layout.max_range ? config.layout.max_range : range_max;
  if (PilotLaserScanProblem(angle_min, angle_increment, ranges, n) != nullptr || !(lo <= hi)) {
    std::memcpy(out, bins, sizeof bins);
    return false;
  }
  if (config.mount_yaw_deg == 0.0) {
    const float sense = config.upside_down ? -1.0f : 1.0f;
    return ::BinLaserScanSeen(sense * angle_min, sense * angle_increment, ranges, n, lo, hi, out);
  }
  ScanLayout own;
  own.min_range = lo;
  own.max_range = hi;
  const ScanLayout mounted = MountedLayout(config, own);
  float angles[kLaserChunk], part[kPilotReadings];
  for (std::size_t first = 0; first < n; first += kLaserChunk) {
    const std::size_t m = std::min(kLaserChunk, n - first);
    for (std::size_t k = 0; k < m; ++k)
      angles[k] = static_cast<float>(
          (static_cast<double>(angle_min) + static_cast<double>(first + k) * angle_increment) * kDegPerRad);
    ::BinSamplesSeen(angles, ranges + first, m, mounted, part);
    MergeSeen(bins, part);
  }
  std::memcpy(out, bins, sizeof bins);
  return true;
}

bool PilotBinLaserScan(const PilotConfig& config, float angle_min, float angle_increment, const float* ranges,
                       std::size_t n, float range_min, float range_max, float* out) {
  if (out == nullptr) return false;
  float bins[kPilotReadings];
  for (float& r : bins) r = kNoReturn;
  // Both limits apply; a NaN limit stays NaN so that the conversion refuses it.
  const float lo = range_min < config.layout.min_range ? config.layout.min_range : range_min;
  const float hi = range_max > config.layout.max_range ? config.layout.max_range : range_max;
  if (PilotLaserScanProblem(angle_min, angle_increment, ranges, n) != nullptr || !(lo <= hi)) {
    std::memcpy(out, bins, sizeof bins);
    return false;
  }
  if (config.mount_yaw_deg == 0.0) {
    // Mirroring negates every angle exactly, so this stays the LaserScan rule.
    const float sense = config.upside_down ? -1.0f : 1.0f;
    return ::BinLaserScan(sense * angle_min, sense * angle_increment, ranges, n, lo, hi, out);
  }
  // A turned mount needs the angles themselves: each sample's LaserScan
  // bearing in float degrees, then the scanner's own upright layout, mounted.
  ScanLayout own;
  own.min_range = lo;
  own.max_range = hi;
  const ScanLayout mounted = MountedLayout(config, own);
  float angles[kLaserChunk], part[kPilotReadings];
  for (std::size_t first = 0; first < n; first += kLaserChunk) {
    const std::size_t m = std::min(kLaserChunk, n - first);
    for (std::size_t k = 0; k < m; ++k)
      angles[k] = static_cast<float>(
          (static_cast<double>(angle_min) + static_cast<double>(first + k) * angle_increment) * kDegPerRad);
    ::BinSamples(angles, ranges + first, m, mounted, part);
    for (int i = 0; i < kPilotReadings; ++i) bins[i] = std::min(bins[i], part[i]);
  }
  std::memcpy(out, bins, sizeof bins);
  return true;
}
