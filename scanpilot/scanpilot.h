// SPDX-License-Identifier: BSD-3-Clause
// scanpilot - from one range scan to one drive command.
//
// Once per scan it runs the tracker (scanfollow) when following, picks the
// target cell (the goal, or the first free cell toward the tracked point),
// plans (pathgrid, whose answer the step reports), finds its own route to
// the target through a clearance field of the scan, steers at a point along
// that route, and holds the robot back when the move would bring it too
// close to a return.
//
//   PilotConfig config;                    // goal 1 m ahead, robot 0.2 m + 0.15 m margin
//   config.mode = PilotMode::kFollow;
//   config.follow_distance = 0.8f;         // the person stands 0.8 m ahead at start
//   Pilot pilot;
//   if (PilotError e = pilot.Start(config); e != PilotError::kNone) {
//     std::fprintf(stderr, "%s\n", PilotErrorText(e));
//     return 1;
//   }
//   PilotStep step;
//   for (;;) {                             // once per scan
//     pilot.StepLaserScan(msg.angle_min, msg.angle_increment, msg.ranges.data(), msg.ranges.size(),
//                         msg.range_min, msg.range_max, nullptr, step);
//     Drive(step.command.speed, step.command.turn_rate);
//   }
//
// Contract
//   * One live Pilot per process. The planner and the tracker it drives keep
//     one state each per process, so Start fails with kBusy while another
//     Pilot is live (the live one is untouched). A Pilot is live from a good
//     Start until Stop or its destruction. While one is live, do not call
//     pathgrid or scanfollow yourself.
//   * One caller thread per Pilot. The live check is atomic: two threads
//     racing to Start cannot both win.
//   * No allocation, no exceptions, no output, no files, no clock. A Pilot
//     holds its few KB itself; PilotPass is the caller's (about 100 KB).
//   * The caller owns every array. Steps read their inputs during the call,
//     copy what they keep, and retain no pointer.
//   * Bad input never crashes and never drives: a null array, a conversion
//     that refuses its arguments (see scanbin.h), or a scan that saw too
//     little ahead (below) give bad_input and a zero command. So do a lost
//     tracker and an empty path. Every step says why it stopped or held in
//     `reason`.
//   * Unseen is not free. Of the 360 readings, a return (finite, > 0) and
//     +inf (no return: nothing out to the scanner's reach) are seen; -inf is
//     something nearer than the scanner measures, right at the robot; NaN,
//     zero and negative readings saw nothing. The conversions (StepSamples,
//     StepEvenTurn, StepLaserScan) mark a degree NaN when no usable sample
//     fell in it (scanbin.h, the Seen variants): invalid samples, missing
//     packets, ranges below the lower limit. A run of at most kPilotMaxGap
//     unseen degrees between two seen ones is taken as seen: at the guard's
//     reach (0.33 m with the defaults) two degrees span 12 mm, narrower than
//     any leg or post the robot could hit, and real scanners drop single
//     samples all the time (dark or glancing surfaces).
//   * Too little seen ahead: fewer than kPilotMinFrontSeen of the 181
//     degrees 90..270 seen is bad input (low_coverage), whatever the rest.
//     Three quarters: a working scanner loses some degrees to dark or
//     glancing surfaces (a recorded 180-degree laser keeps 180 of 181, a
//     cheap 360-degree scanner with 3 % dropouts about 165), while a broken
//     message, a scan that covers part of the circle, a turn of which a
//     quarter is flagged invalid, or one missing a quarter of its packets
//     ahead loses far more.
//   * The controller's route: a shortest path over the 100 x 100 grid of
//     0.05 m cells, never through a cell whose centre lies nearer a return
//     than robot_radius, paying extra (clearance_cost, at most 50 counted)
//     for cells nearer than robot_radius + margin: the margin is preferred,
//     and given up only where no other way exists. Returns are placed to
//     the nearest quarter cell (12.5 mm) for it, so that distances are
//     integers, the same on every CPU. It ends near the target, or on the
//     window's edge toward a goal at or beyond kPilotWindowReach, paying
//     the straight and diagonal steps on. Unseen space counts as free for the route (the
//     guard keeps the robot from it). The last route, carried along by the
//     last command, is slightly cheaper to walk again, and a turn on the
//     spot keeps its way until the route comes round ahead (at most one
//     whole turn): no swinging left and right. The robot steers at the
//     farthest route cell within `lookahead` that the straight line from
//     it still follows, turns on the spot when that point lies beyond
//     drive_bearing, and drives at max_speed * cos(bearing), slowed in
//     proportion below slow_clearance of edge clearance (to a quarter).
//     Without a route it turns on the spot toward the more open side for
//     at most recovery_time (reason recovery), then stops with no_path.
//     Every step searches at most the 10,000 cells, in fixed tables.
//   * Following: the route goes to the tracked point itself (pulled in to
//     kPilotWindowReach), round whatever stands between, such as a door
//     frame the object went past at an angle; the speed and the standoff
//     count the distance to the free space before it (its distance less
//     robot_radius + margin). The planner's pass still gets the first free
//     cell toward it. When the tracker holds no return near its point
//     (lost), the pilot carries the point where the object was last seen
//     along with its own commands and heads for it, the tracker held, for
//     at most recovery_time (reason search, lost set, not a stop), then
//     stops (reason lost). A detector's candidate within 0.5 m plus what
//     max_speed covers since then, or a return within 0.3 m of that point,
//     ends the search: the tracker is put on it. Five candidates in a row
//     beyond 0.3 m of a tracked point that is not lost, each within 0.3 m
//     of the last, move the tracker to them too: a person passing a wall's
//     corner can leave the tracker's point on the corner.
//   * The guard holds the robot (speed 0, turning allowed) when a period's
//     move would end within robot_radius + m of a return, m falling from
//     guard_margin at max_speed to guard_floor at standstill, unless it
//     gains clearance; it first tries half and a quarter of the speed. When
//     it holds with the route straight ahead it turns (half the rate)
//     toward the side with more room. It also holds whenever the move heads within 60 degrees of
//     an unseen or -inf degree: such a degree may hide something anywhere
//     from the robot's edge out, within the stopping distance too, and a
//     move that close to it nears it by at least half its length. So the
//     robot never moves toward what it did not see.
//   * The planner and the tracker get the readings as given: NaN, -inf and
//     +inf all lie off their grid, so their results are those of +inf.
//   * Results are bit-exact like the libraries' (CalAngle follows the C
//     library's atanf; the controller uses the C library's cos, sin, atan2,
//     hypot and sqrt).
//
// Frames and units
//   Robot frame: X ahead, Y left, metres. A reading d at index i (degrees)
//   lies at X = -d*cos(i), Y = -d*sin(i): index 180 ahead, 270 left.
//   Grid cell (col, row): 0..99, robot on (50, 50), X = (row - 50) * 0.05 m,
//   Y = (col - 50) * 0.05 m; metres to cell is trunc(50 + 20 * metres).
//   Angles are counter-clockwise positive; speed in m/s (never negative),
//   turn rate in rad/s (positive turns left).
#ifndef SCANPILOT_H
#define SCANPILOT_H

#include <cstddef>

#include "pathgrid_grid.h"
#include "scanbin.h"

#if defined(SCANPILOT_BUILDING)
#define SCANPILOT_API __attribute__((visibility("default")))
#define SCANPILOT_LOCAL __attribute__((visibility("hidden")))
#else
#define SCANPILOT_API
#define SCANPILOT_LOCAL
#endif

constexpr int kPilotGridCells = kPathgridSide;  // per side (the grid: pathgrid_grid.h)
constexpr int kPilotCells = kPathgridCells;
constexpr int kPilotReadings = 360;
// A cell's 8 neighbours as column and row steps, in the order the planner's
// walker tries them (a tie goes to the earlier one).
constexpr int kPilotSteps = 8;
inline constexpr int kPilotStepCol[kPilotSteps] = {0, -1, 1, 0, -1, 1, -1, 1};
inline constexpr int kPilotStepRow[kPilotSteps] = {1, 1, 1, -1, -1, -1, 0, 0};
// The planner's inflation stops here: robot_radius + margin may not exceed it.
constexpr double kPilotMaxBorder = 0.5;

enum class PilotMode {
  kGoal,    // plan toward a fixed point (or cell) in the robot frame
  kFollow,  // track an object ahead and plan toward it
};

struct PilotCell {
  int col, row;
};

struct PilotPoint {
  float x, y;  // metres, robot frame
};

// Where goal mode plans to: a point in metres, or a grid cell.
struct PilotGoal {
  bool is_cell = false;
  double x = 1.0, y = 0.0;  // metres, robot frame (is_cell false)
  PilotCell cell{50, 70};   // (is_cell true)
  static PilotGoal Metres(double gx, double gy) {
    PilotGoal g;
    g.x = gx;
    g.y = gy;
    return g;
  }
  static PilotGoal Cell(int col, int row) {
    PilotGoal g;
    g.is_cell = true;
    g.cell = {col, row};
    return g;
  }
};

// The controller. The defaults are tuned for a 0.5 m/s robot scanning at 10 Hz.
struct PilotGains {
  // rad/s of turn per rad of bearing: full turn rate from about 28 deg off.
  double turn_gain = 2.5;
  // Drive only toward a steering point within this bearing (rad); further
  // round, turn on the spot first.
  double drive_bearing = 1.0;
  // A steering point nearer than this (m) gives no usable bearing: stand and
  // turn toward the tracked point (or the goal).
  double min_steer = 0.1;
  // Speed per metre of path beyond the standoff (1/s): slows down on approach.
  double approach_gain = 1.2;
  // Stop this far (m) short of the path end: personal space when following.
  double standoff = 0.4;
  // A tracked point (or goal) this near (m) gives nothing to turn toward.
  double min_face_distance = 0.05;
  // Kept beyond the robot's radius to every return after one period's move
  // at full speed (m): one period's travel plus room for range noise.
  double guard_margin = 0.08;
  // A slower move may end nearer, down to this at standstill (m): the
  // guard's margin shrinks with the speed, so that the robot creeps through
  // a gap a little wider than itself instead of standing at its mouth. 2 cm
  // covers a 1 cm range noise twice.
  double guard_floor = 0.02;
  // Steer at the farthest route cell within this distance (m) that the
  // straight line from the robot still follows: far enough to look past
  // the next cell's corner, near enough to hug a bend between posts.
  double lookahead = 0.6;
  // Extra cost of a route step at the robot's radius from a return, in
  // steps, falling to none at robot_radius + margin: the margin is the
  // clearance the pilot prefers, not a wall. At 2 a route takes a detour
  // up to about three times as long to keep its margin. Above 50 counts
  // as 50, so that step costs stay small integers.
  double clearance_cost = 2.0;
  // Full speed from this edge clearance (m) up; below it the speed falls in
  // proportion, to a quarter at contact. 10 cm is two periods' travel at
  // 0.5 m/s: the robot slows only where one wrong period could touch.
  double slow_clearance = 0.1;
  // When no route exists: turn on the spot toward the more open side for at
  // most this long (s) before stopping with no_path. 6 s is a full turn at
  // 1.2 rad/s with a little to spare: every direction gets looked at once.
  // The robot never reverses (speed stays >= 0). Follow mode's search for
  // a lost object is bounded by the same time; 0 stops at once, as lost.
  double recovery_time = 6.0;
};

struct PilotConfig {
  // How raw samples map to the robot (StepSamples, StepEvenTurn); LaserScan
  // input is already counter-clockwise from the scanner's ahead and in
  // metres, so it takes only min_range and max_range from here. Readings
  // beyond max_range are no return; readings below min_range saw nothing
  // (min_range masks the robot's own body, which hides what lies behind it).
  ScanLayout layout;
  // Where the scanner's own ahead points on the robot, degrees
  // counter-clockwise (180: mounted backwards), and whether it is mounted
  // upside down (its angles then turn the other way). Applies to every
  // input but the 360-reading one.
  double mount_yaw_deg = 0.0;
  bool upside_down = false;
  // The robot's radius and the margin kept beyond it (m): the planner
  // inflates every return by their sum, at most kPilotMaxBorder.
  double robot_radius = 0.2;
  double margin = 0.15;
  PilotMode mode = PilotMode::kGoal;
  PilotGoal goal;                // goal mode
  float follow_distance = 1.0f;  // follow mode: the object starts this far straight ahead (m)
  double max_speed = 0.5;        // m/s
  double max_turn_rate = 1.2;    // rad/s
  // Seconds between scans: the guard checks where one period's move ends.
  double period = 0.1;
  PilotGains gains;
};

enum class PilotError {
  kNone,
  kBusy,       // another Pilot is live in this process
  kBadBorder,  // robot_radius or margin negative or not finite, or their sum over kPilotMaxBorder
  kBadLayout,  // layout or mount numbers not finite, scale not > 0, min_range > max_range
  kBadGoal,    // goal not finite or off the grid
  kBadFollow,  // follow_distance not finite or not > 0
  kBadLimits,  // speed or turn-rate limit, or period, not finite or negative (period: not > 0)
  kBadGains,   // a gain not finite or negative
  // The layout's range limits hide returns the guard must see: min_range
  // beyond robot_radius + margin, or max_range below the stopping distance
  // (robot_radius + max(margin, guard_margin) + max_speed * period).
  kBadRanges,
};

// Why a step's speed is zero, or kDriving. The first that applies, in this
// order.
enum class PilotReason {
  kDriving,      // speed > 0
  kNotLive,      // the pilot is not live
  kBadInput,     // the input could not be used
  kLowCoverage,  // too little seen ahead (bad_input too)
  kLost,         // follow mode: nothing near the tracked point
  kNoPath,       // no route toward the target, recovery over
  kGuard,        // held back from a return
  kUnseen,       // held back from space no reading covers
  kNear,         // held back from something nearer than the scanner measures (-inf)
  kTurning,      // the controller turns on the spot first
  kArrived,      // within the standoff of the path end
  kRecovery,     // no route: turning on the spot toward open space, for a bounded time
  kSearch,       // follow mode: lost, heading for where the object was last seen (bounded; speed may be > 0)
};

// A word per reason for JSON and logs: "driving", "not_live", "bad_input",
// "low_coverage", "lost", "no_path", "guard", "unseen", "near", "turning",
// "arrived", "recovery", "search".
SCANPILOT_API const char* PilotReasonName(PilotReason r);
// The same for people: "bad input", "too little seen ahead", "unseen space
// ahead", ...
SCANPILOT_API const char* PilotReasonText(PilotReason r);

// The longest run of unseen degrees between two seen ones that the guard
// takes as seen (see the contract).
constexpr int kPilotMaxGap = 2;

// Seen degrees of the front half (90..270, 181 degrees) needed to plan.
constexpr int kPilotFrontDegrees = 181;
constexpr int kPilotMinFrontSeen = 136;  // three quarters, rounded up

// One line saying what was wrong, for a person.
SCANPILOT_API const char* PilotErrorText(PilotError e);

struct PilotCommand {
  double speed;      // m/s along the robot's heading, >= 0
  double turn_rate;  // rad/s, positive turns left (counter-clockwise)
};

// Everything one step did. Metres in the robot frame.
struct PilotStep {
  bool reached;            // the path ends on the target cell
  int path_cells;          // path length, one cell per step; 0: no path
  PilotPoint steering;     // first path cell at least 3 cells out ((0, 0) without a path)
  PilotPoint path_end;     // last path cell ((0, 0) without a path)
  float bearing;           // radians of the steering point; NaN for (0, 0)
  double bearing_deg;      // the same in degrees, formed in double; NaN for none
  bool has_tracked;        // follow mode
  PilotPoint tracked;      // the tracker's answer: the candidate when it passed, else the scan average
  bool candidate_passed;   // a candidate was given and came back unchanged
  PilotCell tracked_cell;  // the tracked point's cell (pulled in to 2.4 m; searching: the last-seen point's)
  bool has_target;         // a target cell was set for the pass
  PilotCell target;        // the target cell (goal, or the first free cell toward tracked_cell)
  bool target_blocked;     // the target cell lies inside an inflated return
  PilotCommand command;
  // Flags a robot must act on.
  int returns_inside_robot;  // readings nearer than robot_radius (a missing min_range?)
  bool lost;                 // follow mode: no return near the tracked point; a stop unless reason is search
  bool no_free_target;     // follow mode: every cell toward the tracked point is blocked
  bool no_path;            // no route and the recovery is over; the command is a stop (path_cells
                           // 0 alone says the planner's pass could not take a step)
  bool bad_input;          // the input could not be used; the command is a stop
  bool guard_stopped;      // the guard held the robot back from a return (speed 0, turning allowed)
  bool stopped;            // the command is a full stop (lost after the search, no path or bad input)
  // What the scan saw (see the contract): degrees with a usable reading,
  // of all 360 and of the 181 ahead (90..270), and degrees -inf (nearer
  // than the scanner measures).
  int seen;
  int seen_front;
  int near_readings;
  bool low_coverage;   // seen_front below kPilotMinFrontSeen: bad input, a stop
  bool unseen_held;    // the guard held back from unseen or -inf space (guard_stopped too)
  PilotReason reason;  // why the speed is zero, or kDriving
  // The controller's own route (see the contract): found, its length in
  // cells, and the point it steers at (robot frame; (0, 0) without one).
  bool route_found;
  int route_cells;
  PilotPoint lookahead;
  double clearance;  // robot edge to the nearest return (m); +inf without one
  bool recovering;   // turning toward open space for want of a route
};

// What the planner saw and did on the last step, read back cell by cell.
struct PilotPass {
  unsigned char blocked[kPilotCells];     // row * 100 + col; 1 inside an inflated return
  unsigned char attraction[kPilotCells];  // pull of each free cell, 0..255 (255 on target cells); 0 when blocked
  PilotCell path[kPilotCells];            // walking order, start excluded
  int path_cells;
  PilotCell start;                        // where the walk began
  bool consistent;                        // the replayed walk matches the step's path
};

class SCANPILOT_API Pilot {
 public:
  Pilot() = default;
  ~Pilot();
  Pilot(const Pilot&) = delete;
  Pilot& operator=(const Pilot&) = delete;

  // Checks `config`, claims the process's planner and tracker, and sets
  // them up. On an error nothing changes (a live Pilot stays live with its
  // old configuration).
  PilotError Start(const PilotConfig& config);
  // Releases the planner and tracker for another Pilot. Safe to repeat.
  void Stop();
  bool Live() const { return live_; }
  const PilotConfig& Config() const { return config_; }

  // Goal mode: a new goal for the next steps. False (and no change) when it
  // is not finite or off the grid.
  bool SetGoal(const PilotGoal& goal);
  // Follow mode: start tracking again, `distance` metres straight ahead.
  bool RestartTracker(float distance);

  // One step from 360 readings (index = degree of the robot frame, metres;
  // see pathgrid.h), taken as they are: +inf no return, NaN, zero or
  // negative saw nothing, -inf too near to measure (see the contract). `candidate`: a detector's guess of
  // the followed object (follow mode), or null. Returns !out.bad_input.
  // Not live: bad_input and a stop.
  bool Step(const float* readings, const PilotPoint* candidate, PilotStep& out);
  // One step from n explicit samples (sensor degrees, raw ranges): binned with
  // the layout and the mount (BinSamples).
  bool StepSamples(const float* angles_deg, const float* ranges, std::size_t n, const PilotPoint* candidate,
                   PilotStep& out);
  // One step from n evenly spaced raw ranges, the first at the sensor's 0 deg (BinEvenScan).
  bool StepEvenTurn(const float* ranges, std::size_t n, const PilotPoint* candidate, PilotStep& out);
  // One step from a LaserScan's fields (radians, metres; BinLaserScan, then
  // the mount). Returns kept within both [range_min, range_max] and the
  // layout's limits. A message PilotLaserScanProblem refuses is bad input.
  bool StepLaserScan(float angle_min, float angle_increment, const float* ranges, std::size_t n,
                     float range_min, float range_max, const PilotPoint* candidate, PilotStep& out);

  // The same conversions alone, into `out` (360 readings; +inf and false on
  // bad arguments, as in scanbin).
  bool BinSamples(const float* angles_deg, const float* ranges, std::size_t n, float* out) const;
  bool BinEvenTurn(const float* ranges, std::size_t n, float* out) const;
  bool BinLaserScan(float angle_min, float angle_increment, const float* ranges, std::size_t n,
                    float range_min, float range_max, float* out) const;

  // The 360 readings the last step gave the planner.
  const float* Readings() const { return readings_; }
  // Reads back the last step's pass (cells, attraction, path). It restarts
  // the planner and stamps the same scan and target again, so call it
  // between steps, not during one. False when not live or before a step.
  bool ReadPass(PilotPass& out);

 private:
  SCANPILOT_LOCAL void Plan(const PilotPoint* candidate, bool good_input, PilotStep& out);
  SCANPILOT_LOCAL PilotCommand Control(PilotStep& s);
  SCANPILOT_LOCAL int OpenSide() const;
  SCANPILOT_LOCAL PilotReason UnseenAhead(double nx, double ny) const;
  SCANPILOT_LOCAL void Survey(PilotStep& out);
  SCANPILOT_LOCAL void Track(const PilotPoint* candidate, bool good_input, PilotStep& out);

  PilotConfig config_{};
  bool live_ = false;
  bool stepped_ = false;
  float border_ = 0.0f;
  PilotPoint last_tracked_{0.0f, 0.0f};  // the tracked point as last known
  float readings_[kPilotReadings] = {};
  float scratch_[kPilotReadings] = {};
  PilotStep last_{};
  unsigned char unseen_[kPilotReadings] = {};  // 1: the guard takes this degree as unseen
  // A turn on the spot keeps its way until the route comes round ahead or a
  // whole turn is done: a route that flips sides cannot swing the robot.
  int turn_sign_ = 0;
  double spun_ = 0.0;      // radians turned on the spot this way
  int recovery_left_ = 0;  // steps of recovery left before no_path stops the robot
};

// A scanner's own layout as the robot sees it when the scanner is mounted
// with its ahead at `mount_yaw_deg` (counter-clockwise) and maybe upside
// down: zero_deg = yaw + (upside down ? -1 : 1) * own.zero_deg, each angle
// first reduced by whole turns (exactly), and the sense of rotation flipped
// when upside down. The range fields are kept.
SCANPILOT_API ScanLayout PilotMountedLayout(const ScanLayout& own, double mount_yaw_deg, bool upside_down);

// More ranges than this in one LaserScan is a broken message, refused
// before any range is read.
constexpr std::size_t kPilotMaxLaserRanges = 100000;

// Why a LaserScan's fields cannot be used ("no ranges", "more than 100000
// ranges", "angle_min is not finite", "angle_increment is not finite",
// "angle_increment is 0"), or null when they can.
SCANPILOT_API const char* PilotLaserScanProblem(float angle_min, float angle_increment, const float* ranges,
                                                std::size_t n);

// Pilot::BinLaserScan for a configuration, without a pilot: the LaserScan
// rule (BinLaserScan), both range limits, then the mount. +inf and false
// for fields PilotLaserScanProblem refuses and for bad limits.
SCANPILOT_API bool PilotBinLaserScan(const PilotConfig& config, float angle_min, float angle_increment,
                                     const float* ranges, std::size_t n, float range_min, float range_max,
                                     float* out);
// The same, marking what it did not see (BinLaserScanSeen): NaN for a
// degree without a usable sample (NaN, zero, negative, below either lower
// limit), -inf for a sample of -inf (too close to measure), +inf for no
// return. NaN in all 360 and false for what PilotBinLaserScan refuses. The
// conversion StepLaserScan uses.
SCANPILOT_API bool PilotBinLaserScanSeen(const PilotConfig& config, float angle_min, float angle_increment,
                                         const float* ranges, std::size_t n, float range_min, float range_max,
                                         float* out);

// A distance in metres as a grid row or column: trunc(50 + 20 * metres),
// the planner's own rule. Off the grid: -1 below (and NaN), 1000 above.
SCANPILOT_API int PilotMetresToCell(double metres);

// A goal anywhere in the robot frame (metres), as goal mode can plan to it:
// unchanged within kPilotWindowReach of the robot, else pulled along its
// bearing to that distance. A robot with odometry or tf re-expresses a far
// goal in its own frame each scan and passes it through here, so that it
// drives toward a goal beyond the grid. False (and `out` untouched) when x
// or y is not finite.
constexpr double kPilotWindowReach = 2.4;
SCANPILOT_API bool PilotWindowGoal(double x, double y, PilotGoal& out);

// The step as one JSON object, without a line end:
//   {"schema":1,"scan":N,"reached":true,...}
// Floats in the shortest form that reads back to the same value, null for
// a non-finite number or an absent point. Writes at most `size` bytes
// (always terminated when size > 0) and returns the length the whole
// object needs, like snprintf; kPilotJsonMax always suffices.
constexpr int kPilotJsonSchema = 1;
// Besides the fields above it gives "seen", "seen_front", "near",
// "low_coverage", "unseen_held" and "reason" (PilotReasonName).
constexpr std::size_t kPilotJsonMax = 1024;
SCANPILOT_API std::size_t PilotStepJson(const PilotStep& step, long long scan, char* out, std::size_t size);

#endif
