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

struct NodeParams {
  PilotConfig config;  // the library's defaults unless a parameter says otherwise
  double scan_timeout = 0.5;  // s without a usable scan before the robot is stopped
  int scan_queue = 1;         // scans waiting for the node; 1: always the newest
  std::string base_frame = "base_link";
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
constexpr double kGridResolution = 0.05;
constexpr double kGridOrigin = -2.5;
constexpr std::int8_t kOccupied = 100;
constexpr std::int8_t kFree = 0;

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

class NodeCore {
 public:
  struct ScanResult {
    long long number = -1;          // counted from 0 over every scan received
    const char* refused = nullptr;  // not null: why the fields cannot be used (a bad-input step, zero twist)
    Twist twist;
    PilotStep step{};
    std::string json;               // PilotStepJson line
  };

  NodeCore();
  ~NodeCore();
  NodeCore(const NodeCore&) = delete;
  NodeCore& operator=(const NodeCore&) = delete;

  // Starts the pilot. Empty on success, else one line.
  std::string Start(const NodeParams& params, double now);
  const NodeParams& Params() const { return params_; }

  const ScanResult& OnScan(const ScanIn& scan, double now);
  // A new goal (goal mode, base frame). False: ignored.
  bool OnGoal(double x, double y);
  // A detector's candidate (follow mode, base frame); used while fresh.
  void OnPerson(double x, double y, double now);
  // True when a zero command must go out now: no usable scan for the
  // timeout, then again once per timeout while none comes.
  bool StaleZeroDue(double now);

  // Reads back the last step's pass. False before a step.
  bool ReadPass();
  const PilotPass& Pass() const { return *pass_; }

 private:
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
};

}  // namespace spnode

#endif
