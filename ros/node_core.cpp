// SPDX-License-Identifier: BSD-3-Clause
#include "node_core.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace spnode {
namespace {

const char* KindName(ParamValue::Kind k) {
  switch (k) {
    case ParamValue::Kind::kMissing: return "missing";
    case ParamValue::Kind::kBool: return "a boolean";
    case ParamValue::Kind::kInt: return "an integer";
    case ParamValue::Kind::kDouble: return "a number";
    case ParamValue::Kind::kString: return "a string";
    case ParamValue::Kind::kOther: return "a list or a dictionary";
  }
  return "unknown";
}

std::string Wrong(const std::string& name, const char* wanted, const ParamValue& v) {
  return "parameter ~" + name + " must be " + wanted + ", not " + KindName(v.kind);
}

// Integers are numbers too: "max_speed: 1" is a fair way to write 1.0.
bool Number(const ParamValue& v, double& out) {
  if (v.kind == ParamValue::Kind::kDouble) {
    out = v.d;
    return true;
  }
  if (v.kind == ParamValue::Kind::kInt) {
    out = static_cast<double>(v.i);
    return true;
  }
  return false;
}

constexpr double kPi = 3.14159265358979323846;

std::string Num(double d) {
  char b[40];
  std::snprintf(b, sizeof b, "%g", d);
  return b;
}

// Frame names come from messages: escape them for a JSON string, ASCII only
// (a byte above 0x7e becomes \u00XX: valid JSON whatever the name holds).
void AppendJsonString(std::string& out, const std::string& s) {
  out += '"';
  for (const char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c > 0x7e) {
      char b[8];
      std::snprintf(b, sizeof b, "\\u%04x", c);
      out += b;
    } else {
      out += static_cast<char>(c);
    }
  }
  out += '"';
}

// Old bags and nodes still write frames with a leading slash.
std::string BareFrame(const std::string& f) { return !f.empty() && f[0] == '/' ? f.substr(1) : f; }

// A double parameter as the library's float: out of float range it becomes
// an infinity, which Start refuses where it must.
float AsFloat(double d) { return static_cast<float>(d); }

}  // namespace

const std::vector<std::string>& ParamNames() {
  static const std::vector<std::string> names = {
      "mode",          "follow_distance", "goal_x",       "goal_y",       "mount_yaw",         "mount_yaw_deg",
      "upside_down",   "robot_radius",    "margin",       "min_range",    "max_range",         "max_speed",
      "max_turn_rate", "scan_period",     "scan_timeout", "max_scan_age", "diagnostic_period", "goal_tolerance",
      "scan_queue",    "base_frame",      "laser_frame",  "use_tf"};
  return names;
}

const std::vector<TimeRange>& TimeRanges() {
  // scan_period under 5 ms is faster than any scanner; a scan_timeout under
  // 50 ms wakes the node every 5 ms; over 10 s a stalled laser drives too long.
  static const std::vector<TimeRange> ranges = {
      {"scan_period", 0.005, 2.0},
      {"scan_timeout", 0.05, 10.0},
      {"max_scan_age", 0.01, 60.0},
      {"diagnostic_period", 0.1, 60.0},
  };
  return ranges;
}

std::string ReadParams(const std::function<ParamValue(const std::string&)>& lookup, NodeParams& out) {
  NodeParams p;
  PilotConfig& c = p.config;
  bool yaw_rad = false, yaw_deg = false, mount_given = false;
  for (const std::string& name : ParamNames()) {
    const ParamValue v = lookup(name);
    if (v.kind == ParamValue::Kind::kMissing) continue;
    double d = 0.0;
    bool timed = false;
    for (const TimeRange& t : TimeRanges()) {
      if (name != t.name) continue;
      timed = true;
      if (!Number(v, d)) return Wrong(name, "a number", v);
      if (!(d >= t.min && d <= t.max))
        return "parameter ~" + name + " must be " + Num(t.min) + ".." + Num(t.max) + " s, not " + Num(d);
    }
    if (timed) {
      if (name == "scan_period") c.period = d;
      if (name == "scan_timeout") p.scan_timeout = d;
      if (name == "max_scan_age") p.max_scan_age = d;
      if (name == "diagnostic_period") p.diagnostic_period = d;
      continue;
    }
    if (name == "mode") {
      if (v.kind != ParamValue::Kind::kString) return Wrong(name, "goal or follow", v);
      if (v.s == "goal") {
        c.mode = PilotMode::kGoal;
      } else if (v.s == "follow") {
        c.mode = PilotMode::kFollow;
      } else {
        return "parameter ~mode must be goal or follow, not \"" + v.s + "\"";
      }
    } else if (name == "upside_down" || name == "use_tf") {
      if (v.kind != ParamValue::Kind::kBool) return Wrong(name, "true or false", v);
      if (name == "use_tf") {
        p.use_tf = v.b;
      } else {
        c.upside_down = v.b;
        mount_given = true;
      }
    } else if (name == "laser_frame") {
      if (v.kind != ParamValue::Kind::kString) return Wrong(name, "a frame name", v);
      p.laser_frame = BareFrame(v.s);
    } else if (name == "base_frame") {
      if (v.kind != ParamValue::Kind::kString) return Wrong(name, "a frame name", v);
      if (v.s.empty()) return "parameter ~base_frame must not be empty";
      p.base_frame = BareFrame(v.s);
    } else if (name == "scan_queue") {
      if (v.kind != ParamValue::Kind::kInt) return Wrong(name, "an integer", v);
      if (v.i < 1 || v.i > 10000) return "parameter ~scan_queue must be 1..10000";
      p.scan_queue = static_cast<int>(v.i);
    } else if (!Number(v, d)) {
      return Wrong(name, "a number", v);
    } else if (name == "follow_distance") {
      c.follow_distance = AsFloat(d);
    } else if (name == "goal_x") {
      c.goal.x = d;
      p.goal_given = true;
    } else if (name == "goal_y") {
      c.goal.y = d;
      p.goal_given = true;
    } else if (name == "mount_yaw") {
      if (!(std::fabs(d) <= 2.0 * kPi)) return "parameter ~mount_yaw must be -2pi..2pi radians, not " + Num(d);
      c.mount_yaw_deg = MountYawDegrees(d);
      yaw_rad = mount_given = true;
    } else if (name == "mount_yaw_deg") {
      c.mount_yaw_deg = d;
      yaw_deg = mount_given = true;
      p.deprecated = "parameter ~mount_yaw_deg is deprecated: give ~mount_yaw in radians";
    } else if (name == "goal_tolerance") {
      const double least = c.gains.standoff + 0.1;
      if (!(d >= least && d <= 5.0))
        return "parameter ~goal_tolerance must be " + Num(least) + "..5 m (the robot stops " + Num(c.gains.standoff) +
               " m short of its path's end), not " + Num(d);
      p.goal_tolerance = d;
    } else if (name == "robot_radius") {
      c.robot_radius = d;
    } else if (name == "margin") {
      c.margin = d;
    } else if (name == "min_range") {
      c.layout.min_range = AsFloat(d);
    } else if (name == "max_range") {
      c.layout.max_range = AsFloat(d);
    } else if (name == "max_speed") {
      c.max_speed = d;
    } else if (name == "max_turn_rate") {
      c.max_turn_rate = d;
    }
  }
  if (yaw_rad && yaw_deg) return "parameter ~mount_yaw_deg is deprecated: give ~mount_yaw alone, not both";
  if (mount_given && p.use_tf)
    return "the mount parameters (~mount_yaw, ~upside_down) are for robots without tf: set ~use_tf false, or "
           "publish the laser's transform";
  out = p;
  return std::string();
}

const char* CheckScan(const ScanIn& s) {
  return PilotLaserScanProblem(s.angle_min, s.angle_increment, s.ranges, s.n);
}

bool PointToBase(const double q[4], const double t[3], double x, double y, double z, double& bx, double& by) {
  // v' = v + w * u + q x u, with u = 2 q x v
  const double ux = 2.0 * (q[1] * z - q[2] * y), uy = 2.0 * (q[2] * x - q[0] * z), uz = 2.0 * (q[0] * y - q[1] * x);
  bx = x + q[3] * ux + (q[1] * uz - q[2] * uy) + t[0];
  by = y + q[3] * uy + (q[2] * ux - q[0] * uz) + t[1];
  return std::isfinite(bx) && std::isfinite(by);
}

std::string Printable(const std::string& s) {
  std::string out = s.substr(0, 200);
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7e) c = '?';
  if (s.size() > 200) out += "...";
  return out;
}

double MountYawDegrees(double yaw_rad) {
  const double deg = yaw_rad * (180.0 / kPi);
  return std::round(deg * 1e6) / 1e6;
}

const char* MountFromTransform(double qx, double qy, double qz, double qw, double tx, double ty, Mount& out) {
  for (double v : {qx, qy, qz, qw, tx, ty})
    if (!std::isfinite(v)) return "the transform is not finite";
  const double n = std::sqrt(qx * qx + qy * qy + qz * qz + qw * qw);
  if (!(n > 0.5 && n < 2.0)) return "the transform's rotation is not a unit quaternion";
  qx /= n, qy /= n, qz /= n, qw /= n;
  // The scanner's X axis and Z axis in the base frame.
  const double xx = 1.0 - 2.0 * (qy * qy + qz * qz), xy = 2.0 * (qx * qy + qz * qw);
  const double zz = 1.0 - 2.0 * (qx * qx + qy * qy);
  if (!(std::fabs(zz) >= std::cos(kMaxTilt))) return "the scan plane is tilted more than 20 degrees";
  out.yaw = std::atan2(xy, xx);
  out.upside_down = zz < 0.0;
  out.x = tx;
  out.y = ty;
  return nullptr;
}

const float kCentredAngleMin = static_cast<float>(-kPi);
const float kCentredIncrement = static_cast<float>(2.0 * kPi / kPilotReadings);

namespace {
// The planner's degree for a bearing in degrees (the binning rule).
std::size_t DegreeIndex(double deg) {
  double i = std::floor((deg + 180.0) + 0.5);
  i = std::fmod(i, 360.0);
  if (i < 0.0) i += 360.0;
  return static_cast<std::size_t>(i) % kPilotReadings;
}
}  // namespace

bool CentredScan(const ScanIn& s, const Mount& m, float out[kPilotReadings]) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  std::fill(out, out + kPilotReadings, nan);
  if (CheckScan(s) != nullptr) return false;
  const double sense = m.upside_down ? -1.0 : 1.0;
  for (std::size_t k = 0; k < s.n; ++k) {
    const double a = m.yaw + sense * (static_cast<double>(s.angle_min) +
                                      static_cast<double>(k) * static_cast<double>(s.angle_increment));
    if (!std::isfinite(a)) continue;
    double r = s.ranges[k];
    if (r == -std::numeric_limits<double>::infinity()) r = std::max(0.0, static_cast<double>(s.range_min));
    if (std::isnan(r) || r < s.range_min || r <= 0.0) continue;  // nothing seen there
    if (r > s.range_max || std::isinf(r)) {
      // No return along this bearing: free, where nothing nearer says otherwise.
      float& o = out[DegreeIndex(a * (180.0 / kPi))];
      if (std::isnan(o)) o = std::numeric_limits<float>::infinity();
      continue;
    }
    const double px = m.x + r * std::cos(a), py = m.y + r * std::sin(a);
    const float rho = static_cast<float>(std::hypot(px, py));
    float& o = out[DegreeIndex(std::atan2(py, px) * (180.0 / kPi))];
    if (!(o <= rho)) o = rho;
  }
  return true;
}

void GridFromPass(const PilotPass& pass, std::vector<std::int8_t>& data) {
  data.resize(static_cast<std::size_t>(kPilotCells));
  // Planner rows run along X and columns along Y; the grid's x index runs along X.
  for (int x = 0; x < kGridCells; ++x)
    for (int y = 0; y < kGridCells; ++y)
      data[static_cast<std::size_t>(y * kGridCells + x)] =
          pass.blocked[x * kPilotGridCells + y] ? kOccupied : kFree;
}

void PathFromPass(const PilotPass& pass, std::vector<PilotPoint>& points) {
  points.clear();
  auto metres = [](int cell) {
    return static_cast<float>(static_cast<double>(cell - kPathgridCentre) * kGridResolution);
  };
  points.push_back({metres(pass.start.row), metres(pass.start.col)});
  for (int k = 0; k < pass.path_cells; ++k) points.push_back({metres(pass.path[k].row), metres(pass.path[k].col)});
}

void LatencyStats::Add(double seconds) {
  ++count_;
  const double us = seconds * 1e6;
  if (us > max_us_) max_us_ = us;
  if (!(us >= 0.0)) {
    ++buckets_[0];
  } else if (us >= static_cast<double>(kBuckets)) {
    ++over_;
  } else {
    ++buckets_[static_cast<std::size_t>(us)];
  }
}

double LatencyStats::QuantileUs(double q) const {
  if (count_ == 0) return 0.0;
  // The smallest bucket edge with at least ceil(q * count) times at or below it.
  std::size_t need = static_cast<std::size_t>(std::ceil(q * static_cast<double>(count_)));
  if (need == 0) need = 1;
  std::size_t seen = 0;
  for (std::size_t b = 0; b < kBuckets; ++b) {
    seen += buckets_[b];
    // The bucket's upper edge, but never past the largest time seen.
    if (seen >= need) return std::min(static_cast<double>(b + 1), max_us_);
  }
  return max_us_;
}

std::string LatencyStats::Summary() const {
  char line[160];
  std::snprintf(line, sizeof line, "%zu scans, scan to cmd_vel median %.0f us, p99 %.0f us, max %.0f us", count_,
                QuantileUs(0.5), QuantileUs(0.99), max_us_);
  return line;
}

NodeCore::NodeCore() : pass_(new PilotPass()) {}
NodeCore::~NodeCore() = default;

const char* RefusalKey(Refusal r) {
  switch (r) {
    case Refusal::kNone: return "none";
    case Refusal::kBadFields: return "bad_fields";
    case Refusal::kForeignFrame: return "foreign_frame";
    case Refusal::kNoTransform: return "no_transform";
    case Refusal::kStale: return "stale";
    case Refusal::kFuture: return "future";
    case Refusal::kBackwards: return "backwards";
    case Refusal::kCount: break;
  }
  return "unknown";
}

const char* GoalStateName(GoalState s) {
  switch (s) {
    case GoalState::kNone: return "none";
    case GoalState::kActive: return "active";
    case GoalState::kArrived: return "arrived";
    case GoalState::kLost: return "lost";
  }
  return "unknown";
}

std::string NodeCore::Start(const NodeParams& params, double now) {
  PilotConfig config = params.config;
  if (params.use_tf) {
    // The pilot turns nothing until tf says how the scanner sits.
    config.mount_yaw_deg = 0.0;
    config.upside_down = false;
  }
  const PilotError e = pilot_.Start(config);
  if (e != PilotError::kNone) return std::string("bad parameters: ") + PilotErrorText(e);
  params_ = params;
  mount_yaw_deg_ = config.mount_yaw_deg;
  mount_upside_down_ = config.upside_down;
  laser_frame_ = params.laser_frame;
  scans_ = 0;
  last_usable_ = now;
  zero_since_scan_ = false;
  has_person_ = false;
  has_stamp_ = false;
  goal_state_ = GoalState::kNone;
  base_goal_ = params.goal_given;
  totals_ = Health();
  report_scans_ = report_refused_ = 0;
  report_time_ = now;
  return std::string();
}

bool NodeCore::Remount(const Mount& m, bool centred) {
  const double deg = centred ? 0.0 : MountYawDegrees(m.yaw);
  const bool flip = centred ? false : m.upside_down;
  if (deg == mount_yaw_deg_ && flip == mount_upside_down_) return true;
  // A new mount restarts the pilot (and a follow-mode tracker): tf gives it
  // once for a fixed laser, before the robot moves.
  PilotConfig c = pilot_.Config();
  c.mount_yaw_deg = deg;
  c.upside_down = flip;
  if (pilot_.Start(c) != PilotError::kNone) return false;
  mount_yaw_deg_ = deg;
  mount_upside_down_ = flip;
  return true;
}

const NodeCore::ScanResult& NodeCore::OnScan(const ScanIn& scan, double now) { return Check(scan, nullptr, now); }

const NodeCore::ScanResult& NodeCore::OnScan(const ScanIn& scan, const ScanMeta& meta, double now) {
  return Check(scan, &meta, now);
}

const NodeCore::ScanResult& NodeCore::Check(const ScanIn& scan, const ScanMeta* meta, double now) {
  ScanResult& r = result_;
  r.number = scans_++;
  r.twist = Twist{};
  r.json.clear();
  r.refused = nullptr;
  r.refusal = Refusal::kNone;
  r.arrived = false;
  ++totals_.scans;
  if (const char* bad = CheckScan(scan)) return Refuse(Refusal::kBadFields, bad);
  if (meta == nullptr) return Finish(scan, false, now);

  const std::string frame = BareFrame(meta->frame);
  bool world = false;
  for (const char* w : {"map", "odom", "world", "earth"}) world = world || frame == w;
  if (laser_frame_.empty() && !frame.empty() && !world) laser_frame_ = frame;
  // The first scan pins the laser frame, but never to one that moves with the world.
  if (world) return Refuse(Refusal::kForeignFrame, "frame_id is a world frame, not a laser's");
  if (frame.empty() || frame != laser_frame_) return Refuse(Refusal::kForeignFrame, "frame_id is not the laser's");
  // The clock went back (a bag played again): the stamps start over too.
  if (meta->clock < last_clock_) has_stamp_ = false;
  last_clock_ = meta->clock;
  const double age = meta->clock - meta->stamp;
  if (!(age <= params_.max_scan_age)) {
    if (age < 0.0) return Refuse(Refusal::kFuture, "stamped ahead of the clock by more than max_scan_age");
    return Refuse(Refusal::kStale, "stamped longer ago than max_scan_age");
  }
  if (!(-age <= params_.max_scan_age))
    return Refuse(Refusal::kFuture, "stamped ahead of the clock by more than max_scan_age");
  if (has_stamp_ && meta->stamp < last_stamp_) return Refuse(Refusal::kBackwards, "stamped before the previous scan");

  bool centred = false;
  if (params_.use_tf) {
    if (!meta->has_mount) return Refuse(Refusal::kNoTransform, "tf cannot place the laser frame");
    centred = std::hypot(meta->mount.x, meta->mount.y) > kMountOffsetIgnored;
    if (centred) CentredScan(scan, meta->mount, centred_);
    if (!Remount(meta->mount, centred)) return Refuse(Refusal::kNoTransform, "tf gave a mount the pilot refuses");
  }
  if (goal_state_ == GoalState::kActive || goal_state_ == GoalState::kLost) {
    if (!meta->has_goal) {
      goal_state_ = GoalState::kLost;
      return Refuse(Refusal::kNoTransform, "tf cannot place the goal's frame");
    }
    goal_state_ = GoalState::kActive;
    goal_distance_ = std::hypot(meta->goal_x, meta->goal_y);
    PilotGoal g;
    if (!PilotWindowGoal(meta->goal_x, meta->goal_y, g) || !pilot_.SetGoal(g)) {
      goal_state_ = GoalState::kLost;
      return Refuse(Refusal::kNoTransform, "the goal is not finite in the base frame");
    }
    if (goal_distance_ <= params_.goal_tolerance) goal_state_ = GoalState::kArrived;
  }
  has_stamp_ = true;
  last_stamp_ = meta->stamp;
  return Finish(scan, centred, now);
}

const NodeCore::ScanResult& NodeCore::Refuse(Refusal why, const char* text) {
  ScanResult& r = result_;
  r.refused = text;
  r.refusal = why;
  ++totals_.counts[static_cast<int>(why)];
  ++totals_.refused;
  // A refused scan is still a step, of bad input: a stop, and its line.
  pilot_.StepLaserScan(0.0f, 0.0f, nullptr, 0, 0.0f, 0.0f, nullptr, r.step);
  ++totals_.bad_input;
  ++totals_.stops;
  char line[kPilotJsonMax];
  PilotStepJson(r.step, r.number, line, sizeof line);
  r.json = line;
  AppendNodeJson();
  return r;
}

const NodeCore::ScanResult& NodeCore::Finish(const ScanIn& scan, bool centred, double now) {
  ScanResult& r = result_;
  const bool follow = params_.config.mode == PilotMode::kFollow;
  const bool fresh = has_person_ && now - person_time_ <= params_.scan_timeout;
  const PilotPoint* candidate = follow && fresh ? &person_ : nullptr;
  if (centred) {
    pilot_.StepLaserScan(kCentredAngleMin, kCentredIncrement, centred_, kPilotReadings, 0.0f,
                         std::numeric_limits<float>::infinity(), candidate, r.step);
  } else {
    pilot_.StepLaserScan(scan.angle_min, scan.angle_increment, scan.ranges, scan.n, scan.range_min, scan.range_max,
                         candidate, r.step);
  }
  last_usable_ = now;
  zero_since_scan_ = false;
  ++totals_.stepped;
  const PilotCommand& cmd = r.step.command;
  r.arrived = goal_state_ == GoalState::kArrived;
  // Goal mode without any goal yet: stand.
  const bool idle = params_.config.mode == PilotMode::kGoal && goal_state_ == GoalState::kNone && !base_goal_;
  if (!r.arrived && !idle && !r.step.stopped && std::isfinite(cmd.speed) && std::isfinite(cmd.turn_rate)) {
    r.twist.linear_x = cmd.speed;
    r.twist.angular_z = cmd.turn_rate;
  }
  if (r.step.stopped || r.arrived || idle) ++totals_.stops;
  totals_.lost += r.step.lost;
  totals_.no_path += r.step.no_path;
  totals_.bad_input += r.step.bad_input;
  totals_.guard += r.step.guard_stopped;
  char line[kPilotJsonMax];
  PilotStepJson(r.step, r.number, line, sizeof line);
  r.json = line;
  AppendNodeJson();
  return r;
}

void NodeCore::AppendNodeJson() {
  std::string& j = result_.json;
  if (j.empty() || j.back() != '}') return;
  j.pop_back();
  j += ",\"node\":{\"refused\":";
  if (result_.refused != nullptr) {
    AppendJsonString(j, result_.refused);
  } else {
    j += "null";
  }
  j += ",\"goal\":\"";
  j += GoalStateName(goal_state_);
  j += '"';
  for (int k = static_cast<int>(Refusal::kBadFields); k < static_cast<int>(Refusal::kCount); ++k) {
    j += ",\"";
    j += RefusalKey(static_cast<Refusal>(k));
    j += "\":";
    j += std::to_string(totals_.counts[k]);
  }
  j += "}}";
}

bool NodeCore::HoldGoal(const std::string& frame, double x, double y) {
  if (params_.config.mode != PilotMode::kGoal || !std::isfinite(x) || !std::isfinite(y)) return false;
  goal_frame_ = BareFrame(frame);
  goal_x_ = x;
  goal_y_ = y;
  goal_distance_ = -1.0;
  goal_state_ = GoalState::kActive;
  base_goal_ = false;
  return true;
}

std::string NodeCore::GoalStatusJson() const {
  std::string j = "{\"state\":\"";
  j += GoalStateName(goal_state_);
  j += "\",\"frame\":";
  AppendJsonString(j, goal_frame_);
  char b[120];
  std::snprintf(b, sizeof b, ",\"x\":%.9g,\"y\":%.9g,\"distance\":", goal_x_, goal_y_);
  j += b;
  if (goal_distance_ >= 0.0) {
    std::snprintf(b, sizeof b, "%.4f", goal_distance_);
    j += b;
  } else {
    j += "null";
  }
  j += '}';
  return j;
}

bool NodeCore::OnGoal(double x, double y) {
  if (params_.config.mode != PilotMode::kGoal) return false;
  if (!pilot_.SetGoal(PilotGoal::Metres(x, y))) return false;
  goal_state_ = GoalState::kNone;  // a goal in the base frame moves with the robot
  base_goal_ = true;
  return true;
}

void NodeCore::OnPerson(double x, double y, double now) {
  if (!std::isfinite(x) || !std::isfinite(y)) return;
  person_ = {static_cast<float>(x), static_cast<float>(y)};
  person_time_ = now;
  has_person_ = true;
}

bool NodeCore::StaleZeroDue(double now) {
  const double timeout = params_.scan_timeout;
  if (!(now - last_usable_ >= timeout)) return false;
  if (zero_since_scan_ && !(now - last_zero_ >= timeout)) return false;
  zero_since_scan_ = true;
  last_zero_ = now;
  return true;
}

Health NodeCore::Report(double now) {
  Health h = totals_;
  const double span = now - report_time_;
  h.scan_rate = span > 0.0 ? static_cast<double>(totals_.scans - report_scans_) / span : 0.0;
  h.last_scan_age = totals_.stepped > 0 ? now - last_usable_ : -1.0;
  const double quiet = now - last_usable_;
  char b[160];
  if (!(quiet < params_.scan_timeout)) {
    std::snprintf(b, sizeof b, "stale laser: no usable scan for %.2f s", quiet);
    h.level = Health::kError;
  } else if (totals_.refused > report_refused_) {
    std::snprintf(b, sizeof b, "%lld scans refused since the last report", totals_.refused - report_refused_);
    h.level = Health::kWarn;
  } else {
    std::snprintf(b, sizeof b, "scans stepped");
    h.level = Health::kOk;
  }
  h.message = b;
  report_time_ = now;
  report_scans_ = totals_.scans;
  report_refused_ = totals_.refused;
  return h;
}

bool NodeCore::ReadPass() { return pilot_.ReadPass(*pass_); }

}  // namespace spnode
