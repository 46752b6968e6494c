// SPDX-License-Identifier: BSD-3-Clause
// One step of the pilot: the readings surveyed, the object tracked (follow
// mode), the planner's pass, the pilot's own route and the guarded command.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "pathgrid.h"
#include "pilot_internal.h"
#include "returns.h"
#include "route.h"
#include "scanfollow.h"
#include "scanpilot.h"

using namespace scanpilot_pilot;

namespace {

// The tracked point is pulled in to this distance before it becomes a target
// cell, so that the cell stays on the grid (which reaches 2.5 m each way).
constexpr float kMaxTargetReach = 2.4f;

// What the tracker gathers from: front-half readings within its range
// window, then points within this distance of the tracked point.
constexpr double kGatherRadius = 0.3;
constexpr float kTrackNear = 0.25f;
constexpr float kTrackFarRight = 4.0f;  // readings 90..179
constexpr float kTrackFarLeft = 6.0f;   // readings 181..270

// cos 60 deg: the guard's cone around an unseen degree.
constexpr double kUnseenCos = 0.5;

// Robot-frame direction of each reading: X = -cos(i), Y = -sin(i).
double g_dir_x[kPilotReadings];
double g_dir_y[kPilotReadings];

// Follow mode's search for a lost object. One Pilot is live per process, so
// its state lives here beside the planner's and the tracker's.
struct Search {
  PilotPoint last_seen;  // where the object was last seen, carried along by the commands since
  int unseen_steps;      // steps since then
  int left;              // steps of search left before lost stops the robot
  bool active;           // heading for last_seen, the tracker held
  // Candidates that keep telling the tracker it follows something else.
  PilotPoint doubt_at;  // the last of them, carried along like last_seen
  int doubts;           // how many in a row, each near the one before
};
Search g_search{};
// The last route, held over steps of bad input (which plan none and stop
// the robot), with how the robot moved since it was planned: a refused
// scan must not make the next step forget the way it was going.
bool g_route_held = false;
scanpilot_route::Motion g_route_moved{0.0, 0.0, 0.0};
// Scans of one return each that walk the tracker's point round (Reseat).
float g_hop[kPilotReadings];

// A detector's candidate is taken as the lost object when it lies within
// this distance (m) of where the object was last seen, widened by what the
// robot's own top speed covers in the time since: nothing followed outruns
// its follower for long.
constexpr double kReacquireReach = 0.5;
// The tracker follows whatever returns lie near its point, and a person
// passing a wall's corner can leave it on the corner. A detector's
// candidate that lies beyond the gather radius of the tracked point on this
// many scans in a row (half a second at 10 Hz), each near the last, moves
// the tracker to it: a lone false alarm does not.
constexpr int kDoubtsToMove = 5;

// ---- tables -------------------------------------------------------------------

void BuildDirections() {
  for (int i = 0; i < kPilotReadings; ++i) {
    g_dir_x[i] = -std::cos(i * kDeg);
    g_dir_y[i] = -std::sin(i * kDeg);
  }
}

// ---- the tracked point and the target cell -----------------------------------

// Whether any front-half return the tracker reads lies within its gather
// radius of (tx, ty).
bool ReturnNear(const float* r, PilotPoint t) {
  for (int i = 90; i <= 270; ++i) {
    if (i == 180) continue;
    const float d = r[i];
    if (!(d > kTrackNear && d < (i < 180 ? kTrackFarRight : kTrackFarLeft))) continue;
    const double x = d * g_dir_x[i], y = d * g_dir_y[i];
    if (std::hypot(x - t.x, y - t.y) < kGatherRadius) return true;
  }
  return false;
}

// Followed point -> cell, pulled in to 2.4 m so that it stays on the grid,
// then walked toward the robot until it leaves the inflated returns (the
// followed object is one of them). Needs this scan's SetRanges. A
// non-finite point gives no target.
void ScreenTarget(PilotPoint followed, PilotStep& s) {
  float tx = followed.x, ty = followed.y;
  const float reach = std::hypot(tx, ty);
  if (std::isfinite(reach) && reach > kMaxTargetReach) {
    tx = tx * kMaxTargetReach / reach;
    ty = ty * kMaxTargetReach / reach;
  }
  s.tracked_cell = {PilotMetresToCell(ty), PilotMetresToCell(tx)};
  s.has_target = false;
  s.target = {-1, -1};
  if (!std::isfinite(reach)) return;
  const PilotCell raw = s.tracked_cell;
  const int steps = std::max(std::abs(raw.col - kCentreCell), std::abs(raw.row - kCentreCell));
  for (int k = 0; k < steps; ++k) {
    const double f = 1.0 - static_cast<double>(k) / steps;
    const int col = kCentreCell + static_cast<int>(std::lround(f * (raw.col - kCentreCell)));
    const int row = kCentreCell + static_cast<int>(std::lround(f * (raw.row - kCentreCell)));
    if (ChkTarget(col, row)) {
      s.has_target = true;
      s.target = {col, row};
      return;
    }
  }
}

// ---- the controller -------------------------------------------------------------

double g_clear_here = 0.0;  // from the robot's centre to the nearest return
// The degrees not seen clear, in order: only they can be unseen.
const int* g_unclear = nullptr;
int g_unclears = 0;

// Smallest distance from robot-frame point (x, y) to any return of this
// step's survey.
double ScanClearance(double x, double y) { return scanpilot_returns::Clearance(x, y); }

// A degree the guard may take as seen: a return or no return. -inf (too
// near to measure) and NaN, zero or negative readings are not.
bool SeenClear(float d) { return d > 0.0f; }
bool Near(float d) { return d == -kNoReturn; }
// 0 seen clear, 1 -inf, 2 nothing.
int Kind(float d) { return SeenClear(d) ? 0 : Near(d) ? 1 : 2; }

// No scanner sends nothing but NaN: such a scan or turn is garbage, not
// free space.
bool AllNaN(const float* values, std::size_t n) {
  if (values == nullptr) return false;
  for (std::size_t i = 0; i < n; ++i)
    if (!std::isnan(values[i])) return false;
  return true;
}

// How the robot moved in one period if it followed `c`: an arc.
scanpilot_route::Motion Moved(const PilotCommand& c, double period) {
  scanpilot_route::Motion m{0.0, 0.0, c.turn_rate * period};
  if (c.turn_rate != 0.0) {
    m.x = c.speed / c.turn_rate * std::sin(m.turn);
    m.y = c.speed / c.turn_rate * (1.0 - std::cos(m.turn));
  } else {
    m.x = c.speed * period;
  }
  return m;
}

// The move `a` then the move `b`, as one.
scanpilot_route::Motion Then(const scanpilot_route::Motion& a, const scanpilot_route::Motion& b) {
  const double c = std::cos(a.turn), s = std::sin(a.turn);
  return {a.x + (c * b.x - s * b.y), a.y + (s * b.x + c * b.y), a.turn + b.turn};
}

// A point of the last frame in the frame after the move `m`.
PilotPoint Carry(PilotPoint p, const scanpilot_route::Motion& m) {
  const double c = std::cos(m.turn), s = std::sin(m.turn);
  const double x = p.x - m.x, y = p.y - m.y;
  return {static_cast<float>(c * x + s * y), static_cast<float>(-s * x + c * y)};
}

// Puts the tracker's point on p, to the degree: a restart straight ahead at
// p's distance, then scans of a single return at that distance, each within
// the tracker's gather radius of the last, round to p's bearing. The
// tracker has no other way to be told where to look. False, the tracker
// untouched, when p lies where the tracker does not read (behind, too near
// or too far).
bool Reseat(PilotPoint p) {
  const double d = std::hypot(static_cast<double>(p.x), static_cast<double>(p.y));
  const double bearing = std::atan2(static_cast<double>(p.y), static_cast<double>(p.x)) * kDegPerRad;
  const bool left = bearing > 0.0;
  const float r = static_cast<float>(d);
  if (!(r > kTrackNear + 0.05f && r < (left ? kTrackFarLeft : kTrackFarRight)) || !(std::fabs(bearing) < 89.0))
    return false;
  // Degrees off the side axis (reading 90 or 270); 90 would be reading 180,
  // which the tracker never reads.
  const int off = std::clamp(static_cast<int>(std::lround(90.0 - std::fabs(bearing))), 1, 89);
  // Hops of at most 0.25 m (an arc's chord is shorter than the arc), inside
  // the gather radius with room for rounding.
  const int hop = std::max(1, static_cast<int>(0.25 / d * kDegPerRad));
  thredhold(r);
  for (float& v : g_hop) v = kNoReturn;
  float ox = 0.0f, oy = 0.0f;
  for (int i = 90; i != off;) {
    i = std::max(off, i - hop);
    const int index = left ? 270 - i : 90 + i;
    g_hop[index] = r;
    filter(kNaN, kNaN, g_hop, g_hop, ox, oy);
    g_hop[index] = kNoReturn;
  }
  return true;
}

}  // namespace

namespace scanpilot_pilot {

void ResetStep(const PilotConfig& c) {
  BuildDirections();
  scanpilot_route::Setup(c.robot_radius, c.robot_radius + c.margin, c.gains.clearance_cost);
  scanpilot_route::Forget();
  g_route_held = false;
  g_search = Search{};
}

void ResetSearch(PilotPoint at, int steps) { g_search = {at, 0, steps, false, at, 0}; }

}  // namespace scanpilot_pilot

// ---- one step -----------------------------------------------------------------------

bool Pilot::Step(const float* readings, const PilotPoint* candidate, PilotStep& out) {
  bool good = readings != nullptr;
  if (good)
    std::memcpy(readings_, readings, sizeof readings_);
  else
    for (float& r : readings_) r = kNoReturn;
  Plan(candidate, good, out);
  return !out.bad_input;
}

bool Pilot::StepSamples(const float* angles_deg, const float* ranges, std::size_t n, const PilotPoint* candidate,
                        PilotStep& out) {
  const bool good =
      ::BinSamplesSeen(angles_deg, ranges, n, MountedLayout(config_, config_.layout), readings_) && !AllNaN(ranges, n);
  Plan(candidate, good, out);
  return !out.bad_input;
}

bool Pilot::StepEvenTurn(const float* ranges, std::size_t n, const PilotPoint* candidate, PilotStep& out) {
  const bool good =
      ::BinEvenScanSeen(ranges, n, MountedLayout(config_, config_.layout), readings_) && !AllNaN(ranges, n);
  Plan(candidate, good, out);
  return !out.bad_input;
}

bool Pilot::StepLaserScan(float angle_min, float angle_increment, const float* ranges, std::size_t n, float range_min,
                          float range_max, const PilotPoint* candidate, PilotStep& out) {
  // A message whose own limits hide the guard's reach cannot be trusted to
  // show what is there.
  const double lo = std::max(range_min, config_.layout.min_range);
  const double hi = std::min(range_max, config_.layout.max_range);
  const bool good =
      PilotBinLaserScanSeen(config_, angle_min, angle_increment, ranges, n, range_min, range_max, readings_) &&
      !AllNaN(ranges, n) && LimitsShowGuard(config_, lo, hi);
  Plan(candidate, good, out);
  return !out.bad_input;
}

// Tracker, target, pass, command: the road of one scan.
void Pilot::Plan(const PilotPoint* candidate, bool good_input, PilotStep& out) {
  out = PilotStep{};
  out.bearing = kNaN;
  out.bearing_deg = std::numeric_limits<double>::quiet_NaN();
  if (!live_) {
    out.bad_input = out.stopped = true;
    out.reason = PilotReason::kNotLive;
    return;
  }
  Survey(out);
  const bool follow = config_.mode == PilotMode::kFollow;
  if (follow) Track(candidate, good_input, out);
  SetRanges(readings_);
  if (follow) {
    ScreenTarget(g_search.active ? g_search.last_seen : out.tracked, out);
    out.no_free_target = !out.has_target;
  } else {
    GoalCell(config_.goal, out.target);
    out.tracked_cell = out.target;
    out.has_target = true;
  }
  out.target_blocked = out.has_target && !ChkTarget(out.target.col, out.target.row);
  ClearTarget();
  if (out.has_target) SetTarget(out.target.col, out.target.row);
  out.reached = OutLine();  // without a target cell this can only end stuck
  out.path_cells = GetHelperNum();
  out.steering = {GetFixX(), GetFixY()};
  out.path_end = {GetFaceX(), GetFaceY()};
  out.bearing = CalAngle(out.steering.x, out.steering.y);
  if (!std::isnan(out.bearing)) out.bearing_deg = static_cast<double>(out.bearing) * 180.0 / kPi;
  stepped_ = true;

  g_clear_here = ScanClearance(0.0, 0.0);
  out.clearance = g_clear_here - config_.robot_radius;
  out.low_coverage = out.seen_front < kPilotMinFrontSeen;
  out.bad_input = !good_input || out.low_coverage;
  if (!good_input)
    out.reason = PilotReason::kBadInput;
  else if (out.low_coverage)
    out.reason = PilotReason::kLowCoverage;
  else if (out.lost && !g_search.active)
    out.reason = PilotReason::kLost;
  else
    out.command = Control(out);
  if (g_search.active && out.reason != PilotReason::kBadInput && out.reason != PilotReason::kLowCoverage) {
    const PilotReason r = out.reason;
    if (r == PilotReason::kDriving || r == PilotReason::kTurning || r == PilotReason::kArrived)
      out.reason = PilotReason::kSearch;
  }
  out.stopped = (out.lost && !g_search.active) || out.no_path || out.bad_input;
  if (out.bad_input && (last_.route_found || g_route_held)) {
    const scanpilot_route::Motion m = Moved(last_.command, config_.period);
    g_route_moved = last_.route_found ? m : Then(g_route_moved, m);
    g_route_held = true;
  } else if (!out.bad_input) {
    g_route_held = false;
  }
  last_ = out;
}

// The tracker's step, and the search when it has lost the object: the
// robot heads for where it was last seen, the tracker held (what lies near
// its old point in a frame that has moved is not the object), until a
// detector's candidate turns up where the object can have got to, or the
// search time is over.
void Pilot::Track(const PilotPoint* candidate, bool good_input, PilotStep& out) {
  Search& q = g_search;
  const float cx = candidate != nullptr ? candidate->x : kNaN;
  const float cy = candidate != nullptr ? candidate->y : kNaN;
  const bool has_candidate = std::isfinite(cx) && std::isfinite(cy);
  if (stepped_) {
    const scanpilot_route::Motion m = Moved(last_.command, config_.period);
    q.last_seen = Carry(q.last_seen, m);
    q.doubt_at = Carry(q.doubt_at, m);
  }
  out.lost = q.active || !ReturnNear(readings_, last_tracked_);
  // Found again: a detector's candidate where the object can have got to,
  // or, as the tracker itself would, a return near where it was last seen.
  bool reseated = false;
  if (out.lost && good_input) {
    const double since = std::min(q.unseen_steps * config_.period, config_.gains.recovery_time);
    const double reach = kReacquireReach + config_.max_speed * since;
    if (has_candidate && std::hypot(cx - q.last_seen.x, cy - q.last_seen.y) <= reach) reseated = Reseat({cx, cy});
    if (!reseated && ReturnNear(readings_, q.last_seen)) reseated = Reseat(q.last_seen);
  } else if (has_candidate && good_input) {
    if (std::hypot(cx - last_tracked_.x, cy - last_tracked_.y) > kGatherRadius) {
      const bool steady = q.doubts > 0 && std::hypot(cx - q.doubt_at.x, cy - q.doubt_at.y) <= kGatherRadius;
      q.doubts = steady ? q.doubts + 1 : 1;
      q.doubt_at = {cx, cy};
      if (q.doubts >= kDoubtsToMove) reseated = Reseat({cx, cy});
    } else {
      q.doubts = 0;
    }
  }
  if (reseated) q.doubts = 0;
  out.has_tracked = true;
  filter(cx, cy, q.active && !reseated ? nullptr : readings_, scratch_, out.tracked.x, out.tracked.y);
  out.candidate_passed = candidate != nullptr && out.tracked.x == cx && out.tracked.y == cy;
  if (reseated) out.lost = !ReturnNear(readings_, out.tracked);
  last_tracked_ = out.tracked;
  if (!out.lost) {
    q.last_seen = out.tracked;
    q.unseen_steps = 0;
    q.left = RecoverySteps(config_);
    q.active = false;
    return;
  }
  ++q.unseen_steps;
  const bool was_active = q.active;
  q.active = good_input && q.left > 0;
  if (q.active) {
    --q.left;
  } else if (was_active && Reseat(q.last_seen)) {
    // Search over: the tracker looks where the object was last seen, the
    // place its old point meant before the robot moved.
    last_tracked_ = q.last_seen;
  }
}

// Which degrees saw what, which the guard must take as unseen, and the
// returns as points for the clearance tests, which run up to six times a
// step. Most degrees are returns or none: only the others are visited.
void Pilot::Survey(PilotStep& out) {
  const double radius = config_.robot_radius;
  out.returns_inside_robot = scanpilot_returns::Take(readings_, g_dir_x, g_dir_y, radius);
  g_unclear = scanpilot_returns::NotClear(g_unclears);
  std::memset(unseen_, 0, sizeof unseen_);
  int blind = 0, blind_front = 0;
  for (int n = 0; n < g_unclears; ++n) {
    const int i = g_unclear[n];
    const float d = readings_[i];
    unseen_[i] = 1;
    if (Near(d)) {
      ++out.near_readings;
      continue;
    }
    ++blind;
    if (i >= 90 && i <= 270) ++blind_front;
    // Zero and negative readings too: a missing min_range.
    if (std::fabs(d) < radius) ++out.returns_inside_robot;
  }
  out.seen = kPilotReadings - blind;
  out.seen_front = kPilotFrontDegrees - blind_front;
  // A blind run of at most kPilotMaxGap degrees between two seen ones is
  // too narrow to hide anything the robot could hit within the guard's reach.
  const auto kind = [this](int i) { return Kind(readings_[i % kPilotReadings]); };
  for (int n = 0; n < g_unclears; ++n) {
    const int i = g_unclear[n];
    if (kind(i) != 2 || kind(i + kPilotReadings - 1) != 0) continue;
    int run = 1;
    while (run <= kPilotMaxGap && kind(i + run) == 2) ++run;
    if (run > kPilotMaxGap || kind(i + run) != 0) continue;
    for (int k = 0; k < run; ++k) unseen_[(i + k) % kPilotReadings] = 0;
  }
}

// Whether a move to (nx, ny) heads within kUnseenCone of an unseen degree.
// An unseen degree may hide something anywhere from the robot's edge out,
// the stopping distance included; a move within 60 degrees of it nears such
// a point by at least half its length, which is driving into it. Wider, the
// move passes alongside.
// kNear when one of them is -inf, kUnseen for the others, else kDriving.
PilotReason Pilot::UnseenAhead(double nx, double ny) const {
  const double len = std::hypot(nx, ny);
  PilotReason why = PilotReason::kDriving;
  if (!(len > 0.0)) return why;
  for (int n = 0; n < g_unclears; ++n) {
    const int i = g_unclear[n];
    if (!unseen_[i] || !(nx * g_dir_x[i] + ny * g_dir_y[i] > kUnseenCos * len)) continue;
    if (Near(readings_[i])) return PilotReason::kNear;
    why = PilotReason::kUnseen;
  }
  return why;
}

// Which way to turn when nothing better says: toward the side whose front
// quarter reaches farther (+1 left, -1 right); left on a tie.
int Pilot::OpenSide() const {
  double left = 0.0, right = 0.0;
  for (int i = 90; i < 180; ++i) right += std::isfinite(readings_[i]) && readings_[i] > 0.0f ? readings_[i] : 5.0;
  for (int i = 181; i <= 270; ++i) left += std::isfinite(readings_[i]) && readings_[i] > 0.0f ? readings_[i] : 5.0;
  return right > left ? -1 : 1;
}

// Steer along the pilot's own route toward the target (the goal, or the
// free cell toward the tracked point), slower near returns; turn on the
// spot when the route starts behind; recover for a bounded time when there
// is no route. The last word is the guard's.
PilotCommand Pilot::Control(PilotStep& s) {
  const PilotGains& g = config_.gains;
  const double max_turn = config_.max_turn_rate;
  const PilotPoint face = g_search.active ? g_search.last_seen
                          : s.has_tracked ? s.tracked
                                          : PilotPoint{static_cast<float>(CellToMetres(s.target.row)),
                                                       static_cast<float>(CellToMetres(s.target.col))};
  double speed = 0.0, turn = 0.0;
  s.reason = PilotReason::kTurning;
  double tx = CellToMetres(s.target.row), ty = CellToMetres(s.target.col);
  // How far is still to go: to the goal, or to the free space before the
  // followed object.
  double to_goal = std::hypot(tx, ty);
  if (config_.mode == PilotMode::kGoal && !config_.goal.is_cell) {
    tx = config_.goal.x;
    ty = config_.goal.y;
    to_goal = std::hypot(tx, ty);
  } else if (config_.mode == PilotMode::kFollow) {
    // The route goes to the object itself, round what stands between: the
    // free cell on the straight line toward it lies right behind a door
    // frame when the object has gone through the door at an angle, and
    // heading there would stop the robot at the frame. So too when no cell
    // on that line is free (the robot just short of the frame): waiting
    // there would let the object walk out of sight. The distance still
    // counts to the free space before it, as the free cell does in the open.
    const double reach = std::hypot(static_cast<double>(face.x), static_cast<double>(face.y));
    const double pull = reach > kMaxTargetReach ? kMaxTargetReach / reach : 1.0;
    tx = face.x * pull;
    ty = face.y * pull;
    to_goal = reach - border_;
  }
  // How the robot moved since the last route, if it followed the last
  // command: an arc of one period.
  const bool carry = last_.route_found || g_route_held;
  scanpilot_route::Motion moved{0.0, 0.0, 0.0};
  if (last_.route_found)
    moved = Moved(last_.command, config_.period);
  else if (g_route_held)
    moved = Then(g_route_moved, Moved(last_.command, config_.period));
  scanpilot_route::Result r;
  scanpilot_route::Plan(readings_, tx, ty, g.lookahead, carry ? &moved : nullptr, r);
  s.route_found = r.found;
  s.route_cells = r.cells;
  s.lookahead = {static_cast<float>(r.look_x), static_cast<float>(r.look_y)};
  if (!r.found) {
    // Bounded: a turn on the spot toward open space, then a stop.
    if (recovery_left_ <= 0) {
      s.no_path = true;
      s.reason = PilotReason::kNoPath;
      turn_sign_ = 0;
      return {0.0, 0.0};
    }
    if (turn_sign_ == 0) turn_sign_ = OpenSide();
    --recovery_left_;
    s.recovering = true;
    s.reason = PilotReason::kRecovery;
    return {0.0, turn_sign_ * max_turn};
  }
  recovery_left_ = RecoverySteps(config_);
  if (r.cells == 0 || to_goal <= g.standoff) {
    // At the target: face the tracked point (or the goal) and stand.
    s.reason = PilotReason::kArrived;
    if (std::isfinite(face.x) && std::isfinite(face.y) && std::hypot(face.x, face.y) > g.min_face_distance)
      turn = std::clamp(g.turn_gain * std::atan2(static_cast<double>(face.y), static_cast<double>(face.x)), -max_turn,
                        max_turn);
    turn_sign_ = 0;
    return {0.0, turn};
  }
  const double alpha = std::atan2(r.look_y, r.look_x);
  if (std::fabs(alpha) >= g.drive_bearing) {
    // Turn on the spot. Once a way round is chosen it is kept while the
    // route lies behind, so that a route flipping sides behind the robot
    // cannot swing it left and right.
    int sign = alpha > 0.0 ? 1 : -1;
    if (turn_sign_ != 0 && spun_ < 2.0 * kPi) sign = turn_sign_;
    if (sign != turn_sign_) spun_ = 0.0;
    spun_ += max_turn * config_.period;
    turn_sign_ = sign;
    return {0.0, sign * max_turn};
  }
  turn = std::clamp(g.turn_gain * alpha, -max_turn, max_turn);
  speed = config_.max_speed * std::cos(alpha);
  if (g.slow_clearance > 0.0) speed *= std::clamp(s.clearance / g.slow_clearance, 0.25, 1.0);
  const double approach = g.approach_gain * (to_goal - g.standoff);
  if (!(approach > 0.0)) {
    s.reason = PilotReason::kArrived;
    speed = 0.0;
  }
  speed = std::max(0.0, std::min(speed, approach));
  if (!(speed > 0.0)) return {0.0, turn};
  // Never end a period nearer a return than the robot's radius plus a
  // margin that shrinks with the speed, unless the move gains clearance: try
  // the speed, then half, then a quarter, which may end at the floor
  // itself. Nor ever move toward space the scan did not see.
  const double now = g_clear_here;
  const double floor = std::min(g.guard_floor, g.guard_margin);
  bool clear = false;
  for (int k = 0; k < 3 && !clear; ++k, speed *= 0.5) {
    const double a = turn * config_.period;
    const double nx = speed * config_.period * std::cos(a), ny = speed * config_.period * std::sin(a);
    const double after = ScanClearance(nx, ny);
    const double need =
        config_.robot_radius + floor + (k == 2 ? 0.0 : (g.guard_margin - floor) * speed / config_.max_speed);
    if (after >= need || after >= now) {
      clear = true;
      if (const PilotReason why = UnseenAhead(nx, ny); why != PilotReason::kDriving) {
        s.guard_stopped = s.unseen_held = true;
        s.reason = why;
        return {0.0, turn};
      }
      s.reason = PilotReason::kDriving;
      turn_sign_ = 0;
      return {speed, turn};
    }
  }
  // Held: rather than stand, turn on the spot at half the rate, toward the
  // side with more room, and keep that way (as any turn on the spot) until
  // the robot drives again or has turned once round.
  s.guard_stopped = true;
  s.reason = PilotReason::kGuard;
  if (turn_sign_ == 0 || spun_ >= 2.0 * kPi) {
    turn_sign_ = ScanClearance(0.0, kCellSize) >= ScanClearance(0.0, -kCellSize) ? 1 : -1;
    spun_ = 0.0;
  }
  spun_ += 0.5 * max_turn * config_.period;
  return {0.0, turn_sign_ * 0.5 * max_turn};
}
