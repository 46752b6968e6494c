// SPDX-License-Identifier: BSD-3-Clause
// The scanpilot node without the middleware: parameters, message checks, the
// step, what goes out, and when a zero command is due. A ROS 1 or ROS 2 node
// only moves messages in and out of this class; it never reads a clock here:
// every call that needs the time gets it (seconds on a steady clock).
#ifndef SCANPILOT_ROS_NODE_CORE_H
#define SCANPILOT_ROS_NODE_CORE_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "pathgrid_grid.h"
#include "scanpilot.h"

namespace spnode {

// A parameter as the middleware holds it.
struct ParamValue {
  enum class Kind { kMissing, kBool, kInt, kDouble, kString, kOther };
  Kind kind = Kind::kMissing;
  bool b = false;
  long long i = 0;
  double d = 0.0;
  std::string s;
};

// Time parameters are held to these ranges (seconds) at start: too small
// spins the node, too large silently turns a stop off.
struct TimeRange {
  const char* name;
  double min, max;
};
const std::vector<TimeRange>& TimeRanges();

struct NodeParams {
  PilotConfig config;  // the library's defaults unless a parameter says otherwise
  double scan_timeout = 0.5;  // s without a usable scan before the robot is stopped
  double max_scan_age = 0.5;  // s a scan's stamp may lag (or lead) the node's clock
  double diagnostic_period = 1.0;  // s between /diagnostics reports
  double goal_tolerance = 0.5;     // m: a held goal this near is reached
  // Goal mode: goal_x or goal_y was given. Otherwise the robot stands until
  // a goal comes on a topic.
  bool goal_given = false;
  int scan_queue = 1;         // scans waiting for the node; 1: always the newest
  std::string base_frame = "base_link";
  // The scan's frame_id; empty: the first scan's frame, kept from then on.
  std::string laser_frame;
  // The mount from tf (laser_frame -> base_frame); false: from the mount
  // parameters, for robots without tf.
  bool use_tf = true;
  // Set when a deprecated parameter was used: one line for a warning.
  std::string deprecated;
};

// The private parameters the node reads (without the "~").
const std::vector<std::string>& ParamNames();

// Reads every parameter through `lookup` (name without "~") and starts from
// the defaults for missing ones. Empty on success, else one line naming the
// parameter. Ranges the library checks itself are left to Pilot::Start.
std::string ReadParams(const std::function<ParamValue(const std::string&)>& lookup, NodeParams& out);

// One LaserScan's fields, borrowed for the call.
struct ScanIn {
  float angle_min = 0.0f;
  float angle_increment = 0.0f;
  float range_min = 0.0f;
  float range_max = 0.0f;
  const float* ranges = nullptr;
  std::size_t n = 0;
};

struct Twist {
  double linear_x = 0.0;   // m/s
  double angular_z = 0.0;  // rad/s
};

// More readings than any scanner gives: refused before any work.
constexpr std::size_t kMaxRanges = kPilotMaxLaserRanges;

// Null for a scan worth stepping, else why not (a short phrase).
const char* CheckScan(const ScanIn& s);

// The planner's grid as an occupancy grid: 100 x 100 cells of 0.05 m, the
// robot in the middle. Cell r covers [(r - 50) * 0.05, (r - 49) * 0.05) m.
constexpr int kGridCells = kPilotGridCells;
constexpr double kGridResolution = kPathgridCellSize;
constexpr double kGridOrigin = -kPathgridReach;
constexpr std::int8_t kOccupied = 100;
constexpr std::int8_t kFree = 0;

// Text from a message (a frame name, tf's error about one) made safe for a
// log line: control and non-ASCII bytes become '?', and it is cut at 200.
std::string Printable(const std::string& s);

// Where the scanner sits on the robot, in the base frame.
struct Mount {
  double yaw = 0.0;  // rad, counter-clockwise: where the scanner's ahead points
  bool upside_down = false;
  double x = 0.0, y = 0.0;  // m from the base frame's origin
};

// The mount of a frame from its transform to the base frame (rotation as a
// unit quaternion, translation in metres). Null on success, else why not
// (the scan plane tilted more than kMaxTilt, or numbers not finite).
constexpr double kMaxTilt = 0.35;  // rad, about 20 degrees
const char* MountFromTransform(double qx, double qy, double qz, double qw, double tx, double ty, Mount& out);

// A point (x, y, z) of a frame in the base frame, given that frame's
// transform to the base (unit quaternion, translation): q p q* + t. Only X
// and Y are kept. False when the result is not finite.
bool PointToBase(const double q[4], const double t[3], double x, double y, double z, double& bx, double& by);

// Degrees for the pilot, kept to a millionth of a degree: a yaw of pi from
// a parameter and from a tf quaternion then bin alike.
double MountYawDegrees(double yaw_rad);

// An offset this small (m) is the scanner at the origin: far below a cell.
constexpr double kMountOffsetIgnored = 1e-3;

// The scan re-expressed about the robot's centre, for a scanner off the
// origin: each return moved by the mount (yaw, mirror and offset), then
// binned by the planner's rule into 360 one-degree samples (the nearest
// return per degree). A degree no sample reaches is NaN (not seen); one
// whose samples are all beyond range_max or +inf is +inf (no return); -inf
// (closer than the scanner can measure) becomes a return at range_min.
// Feed `out` to StepLaserScan with kCentredAngleMin and kCentredIncrement
// and no mount. False for fields CheckScan refuses.
extern const float kCentredAngleMin;
extern const float kCentredIncrement;
bool CentredScan(const ScanIn& s, const Mount& m, float out[kPilotReadings]);

// Occupancy data (index = y * 100 + x, x along the robot's X) of a pass.
void GridFromPass(const PilotPass& pass, std::vector<std::int8_t>& data);
// The walk from its start cell, in metres (the library's cell metres).
void PathFromPass(const PilotPass& pass, std::vector<PilotPoint>& points);

// Scan-to-command times, in bounded memory.
class LatencyStats {
 public:
  void Add(double seconds);
  std::size_t Count() const { return count_; }
  // Microseconds at quantile q (0..1); upper bucket edge, or the maximum.
  double QuantileUs(double q) const;
  double MaxUs() const { return max_us_; }
  // "N scans, median X us, p99 Y us, max Z us"
  std::string Summary() const;

 private:
  static constexpr std::size_t kBuckets = 20000;  // 1 us each
  std::vector<std::uint32_t> buckets_ = std::vector<std::uint32_t>(kBuckets, 0);
  std::size_t count_ = 0;
  std::size_t over_ = 0;
  double max_us_ = 0.0;
};

// Why the node refused a scan whose fields were fine.
enum class Refusal { kNone, kBadFields, kForeignFrame, kNoTransform, kStale, kFuture, kBackwards, kCount };
const char* RefusalKey(Refusal r);  // JSON key of its counter

// What the middleware knows about a scan besides its fields.
struct ScanMeta {
  std::string frame;       // header.frame_id
  double stamp = 0.0;      // header.stamp, s on the node's ROS clock
  double clock = 0.0;      // that clock now (sim time when use_sim_time)
  bool has_mount = false;  // tf placed the frame (use_tf)
  Mount mount;
  std::string mount_problem;  // why tf could not place it
  // A held goal re-expressed in the base frame for this scan (has_goal).
  bool has_goal = false;
  double goal_x = 0.0, goal_y = 0.0;
  std::string goal_problem;  // why a held goal could not be re-expressed
};

// The state of a goal given on a topic.
enum class GoalState { kNone, kActive, kArrived, kLost };
const char* GoalStateName(GoalState s);

// Figures for /diagnostics.
struct Health {
  enum Level { kOk = 0, kWarn = 1, kError = 2 };
  Level level = kOk;
  std::string message;
  double scan_rate = 0.0;     // scans per second over the last report
  double last_scan_age = -1;  // s since the last usable scan; -1: none yet
  long long scans = 0, stepped = 0, refused = 0, stops = 0;
  long long counts[static_cast<int>(Refusal::kCount)] = {};
  long long lost = 0, no_path = 0, bad_input = 0, guard = 0;  // stop reasons, since the start
};

class NodeCore {
 public:
  struct ScanResult {
    long long number = -1;          // counted from 0 over every scan received
    const char* refused = nullptr;  // not null: why the scan cannot be used (a bad-input step, zero twist)
    Refusal refusal = Refusal::kNone;
    bool arrived = false;  // a held goal was reached: a zero twist
    Twist twist;
    PilotStep step{};
    std::string json;  // PilotStepJson line, plus the node's own "node" object
  };

  NodeCore();
  ~NodeCore();
  NodeCore(const NodeCore&) = delete;
  NodeCore& operator=(const NodeCore&) = delete;

  // Starts the pilot. Empty on success, else one line.
  std::string Start(const NodeParams& params, double now);
  const NodeParams& Params() const { return params_; }

  // One scan: checked against `meta` (frame, stamp, mount), stepped, or
  // refused with a bad-input stop. `now` is the steady clock.
  const ScanResult& OnScan(const ScanIn& scan, const ScanMeta& meta, double now);
  // The same for a scan in the laser frame, fresh, mounted by the parameters.
  const ScanResult& OnScan(const ScanIn& scan, double now);
  // A new goal (goal mode, base frame, moving with the robot). False: ignored.
  bool OnGoal(double x, double y);
  // Goal mode: a goal held in `frame` from now on, re-expressed each scan
  // (ScanMeta::goal_*). False: ignored (follow mode, not finite).
  bool HoldGoal(const std::string& frame, double x, double y);
  const std::string& HeldGoalFrame() const { return goal_frame_; }
  double HeldGoalX() const { return goal_x_; }
  double HeldGoalY() const { return goal_y_; }
  GoalState Goal() const { return goal_state_; }
  // {"state":"active","frame":"odom","x":..,"y":..,"distance":..}: the
  // latched goal status; changes only when the state does.
  std::string GoalStatusJson() const;
  // The frame scans must carry (the parameter, or the first scan's).
  const std::string& LaserFrame() const { return laser_frame_; }
  // A detector's candidate (follow mode, base frame); used while fresh.
  void OnPerson(double x, double y, double now);
  // True when a zero command must go out now: no usable scan for the
  // timeout, then again once per timeout while none comes.
  bool StaleZeroDue(double now);
  // Figures since the last call (rates) and since the start (counts).
  Health Report(double now);

  // Reads back the last step's pass. False before a step.
  bool ReadPass();
  const PilotPass& Pass() const { return *pass_; }

 private:
  const ScanResult& Refuse(Refusal why, const char* text);
  const ScanResult& Check(const ScanIn& scan, const ScanMeta* meta, double now);
  const ScanResult& Finish(const ScanIn& scan, bool centred, double now);
  void AppendNodeJson();
  bool Remount(const Mount& m, bool centred);

  NodeParams params_;
  Pilot pilot_;
  std::unique_ptr<PilotPass> pass_;
  ScanResult result_;
  long long scans_ = 0;
  double last_usable_ = 0.0;   // last scan stepped, or the start
  double last_zero_ = 0.0;     // last stale zero handed out
  bool zero_since_scan_ = false;
  bool has_person_ = false;
  PilotPoint person_{0.0f, 0.0f};
  double person_time_ = 0.0;
  std::string laser_frame_;
  bool has_stamp_ = false;
  double last_stamp_ = 0.0, last_clock_ = 0.0;
  double mount_yaw_deg_ = 0.0;  // what the pilot was started with
  bool mount_upside_down_ = false;
  float centred_[kPilotReadings] = {};
  GoalState goal_state_ = GoalState::kNone;
  bool base_goal_ = false;  // a goal in the base frame (parameters or OnGoal) is set
  std::string goal_frame_;
  double goal_x_ = 0.0, goal_y_ = 0.0, goal_distance_ = -1.0;
  Health totals_;
  long long report_scans_ = 0, report_refused_ = 0;
  double report_time_ = 0.0;
};

}  // namespace spnode

#endif
