#include "node_core.h"

#include <cmath>
#include <cstdio>

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

// A double parameter as the library's float: out of float range it becomes
// an infinity, which Start refuses where it must.
float AsFloat(double d) { return static_cast<float>(d); }

}  // namespace

const std::vector<std::string>& ParamNames() {
  static const std::vector<std::string> names = {
      "mode",          "follow_distance", "goal_x",    "goal_y",        "mount_yaw_deg",
      "upside_down",   "robot_radius",    "margin",    "min_range",     "max_range",
      "max_speed",     "max_turn_rate",   "scan_period", "scan_timeout", "scan_queue",
      "base_frame"};
  return names;
}

std::string ReadParams(const std::function<ParamValue(const std::string&)>& lookup, NodeParams& out) {
  NodeParams p;
  PilotConfig& c = p.config;
  for (const std::string& name : ParamNames()) {
    const ParamValue v = lookup(name);
    if (v.kind == ParamValue::Kind::kMissing) continue;
    double d = 0.0;
    if (name == "mode") {
      if (v.kind != ParamValue::Kind::kString) return Wrong(name, "goal or follow", v);
      if (v.s == "goal") {
        c.mode = PilotMode::kGoal;
      } else if (v.s == "follow") {
        c.mode = PilotMode::kFollow;
      } else {
        return "parameter ~mode must be goal or follow, not \"" + v.s + "\"";
      }
    } else if (name == "upside_down") {
      if (v.kind != ParamValue::Kind::kBool) return Wrong(name, "true or false", v);
      c.upside_down = v.b;
    } else if (name == "base_frame") {
      if (v.kind != ParamValue::Kind::kString) return Wrong(name, "a frame name", v);
      if (v.s.empty()) return "parameter ~base_frame must not be empty";
      p.base_frame = v.s;
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
    } else if (name == "goal_y") {
      c.goal.y = d;
    } else if (name == "mount_yaw_deg") {
      c.mount_yaw_deg = d;
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
    } else if (name == "scan_period") {
      c.period = d;
    } else if (name == "scan_timeout") {
      if (!(std::isfinite(d) && d > 0.0)) return "parameter ~scan_timeout must be a finite number of seconds > 0";
      p.scan_timeout = d;
    }
  }
  out = p;
  return std::string();
}

const char* CheckScan(const ScanIn& s) {
  return PilotLaserScanProblem(s.angle_min, s.angle_increment, s.ranges, s.n);
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
  auto metres = [](int cell) { return static_cast<float>(static_cast<double>(cell - 50) * kGridResolution); };
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
    if (seen >= need) return static_cast<double>(b + 1);
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

std::string NodeCore::Start(const NodeParams& params, double now) {
  const PilotError e = pilot_.Start(params.config);
  if (e != PilotError::kNone) return std::string("bad parameters: ") + PilotErrorText(e);
  params_ = params;
  scans_ = 0;
  last_usable_ = now;
  zero_since_scan_ = false;
  has_person_ = false;
  return std::string();
}

const NodeCore::ScanResult& NodeCore::OnScan(const ScanIn& scan, double now) {
  ScanResult& r = result_;
  r.number = scans_++;
  r.twist = Twist{};
  r.json.clear();
  r.refused = CheckScan(scan);
  const bool follow = params_.config.mode == PilotMode::kFollow;
  const bool fresh = has_person_ && now - person_time_ <= params_.scan_timeout;
  const PilotPoint* candidate = follow && fresh ? &person_ : nullptr;
  // A refused scan is still a step, of bad input: a stop, and its line.
  pilot_.StepLaserScan(scan.angle_min, scan.angle_increment, scan.ranges, scan.n, scan.range_min, scan.range_max,
                       candidate, r.step);
  if (r.refused == nullptr) {
    last_usable_ = now;
    zero_since_scan_ = false;
  }
  const PilotCommand& cmd = r.step.command;
  if (!r.step.stopped && std::isfinite(cmd.speed) && std::isfinite(cmd.turn_rate)) {
    r.twist.linear_x = cmd.speed;
    r.twist.angular_z = cmd.turn_rate;
  }
  char line[kPilotJsonMax];
  PilotStepJson(r.step, r.number, line, sizeof line);
  r.json = line;
  return r;
}

bool NodeCore::OnGoal(double x, double y) {
  if (params_.config.mode != PilotMode::kGoal) return false;
  return pilot_.SetGoal(PilotGoal::Metres(x, y));
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

bool NodeCore::ReadPass() { return pilot_.ReadPass(*pass_); }

}  // namespace spnode
