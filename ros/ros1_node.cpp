// SPDX-License-Identifier: BSD-3-Clause
// scanpilot_node for ROS 1: messages in and out of NodeCore, nothing more.
#include <diagnostic_updater/diagnostic_updater.h>
#include <geometry_msgs/PointStamped.h>
#include <geometry_msgs/PoseStamped.h>
#include <geometry_msgs/Twist.h>
#include <nav_msgs/OccupancyGrid.h>
#include <nav_msgs/Path.h>
#include <ros/callback_queue.h>
#include <ros/ros.h>
#include <sensor_msgs/LaserScan.h>
#include <std_msgs/String.h>
#include <tf2/exceptions.h>
#include <tf2_ros/buffer.h>
#include <tf2_ros/transform_listener.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

#include "node_core.h"

namespace {

std::atomic<bool> g_stop{false};

void OnSignal(int) { g_stop = true; }

double SteadyNow() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

spnode::ParamValue Lookup(const ros::NodeHandle& pnh, const std::string& name) {
  spnode::ParamValue v;
  XmlRpc::XmlRpcValue x;
  if (!pnh.getParam(name, x)) return v;
  switch (x.getType()) {
    case XmlRpc::XmlRpcValue::TypeBoolean:
      v.kind = spnode::ParamValue::Kind::kBool;
      v.b = static_cast<bool>(x);
      break;
    case XmlRpc::XmlRpcValue::TypeInt:
      v.kind = spnode::ParamValue::Kind::kInt;
      v.i = static_cast<int>(x);
      break;
    case XmlRpc::XmlRpcValue::TypeDouble:
      v.kind = spnode::ParamValue::Kind::kDouble;
      v.d = static_cast<double>(x);
      break;
    case XmlRpc::XmlRpcValue::TypeString:
      v.kind = spnode::ParamValue::Kind::kString;
      v.s = static_cast<std::string>(x);
      break;
    default:
      v.kind = spnode::ParamValue::Kind::kOther;
  }
  return v;
}

// A private parameter nobody reads is most likely a misspelt one.
std::string UnknownParam(const ros::NodeHandle& pnh) {
  std::vector<std::string> all;
  if (!ros::param::getParamNames(all)) return std::string();
  const std::string prefix = pnh.getNamespace() + "/";
  for (const std::string& name : all) {
    if (name.compare(0, prefix.size(), prefix) != 0) continue;
    const std::string own = name.substr(prefix.size());
    bool known = false;
    for (const std::string& k : spnode::ParamNames()) known = known || own == k;
    if (!known) return "unknown parameter ~" + own;
  }
  return std::string();
}

// Exit status when the master came back as a new instance: the node's
// registrations are gone, so it leaves for roslaunch's respawn to start it.
constexpr int kExitMasterRestarted = 3;

bool SameFrame(const std::string& a, const std::string& b) {
  auto bare = [](const std::string& f) { return !f.empty() && f[0] == '/' ? f.substr(1) : f; };
  return bare(a) == bare(b);
}

class Node {
 public:
  Node(ros::NodeHandle& nh, ros::NodeHandle& pnh, const spnode::NodeParams& params)
      : params_(params), listener_(tf_), updater_(nh, pnh) {
    // Room for a burst (a backlog of scans, or broken ones): every scan's command goes out.
    cmd_pub_ = nh.advertise<geometry_msgs::Twist>("cmd_vel", 10);
    step_pub_ = pnh.advertise<std_msgs::String>("step", 100);
    path_pub_ = pnh.advertise<nav_msgs::Path>("path", 10);
    grid_pub_ = pnh.advertise<nav_msgs::OccupancyGrid>("grid", 10);
    const bool follow = params.config.mode == PilotMode::kFollow;
    if (follow) {
      tracked_pub_ = pnh.advertise<geometry_msgs::PointStamped>("tracked", 10);
      person_sub_ = nh.subscribe("person", 1, &Node::OnPerson, this);
    } else {
      status_pub_ = pnh.advertise<std_msgs::String>("goal_status", 1, true);
      goal_sub_ = nh.subscribe("goal", 1, &Node::OnGoal, this);
      pose_goal_sub_ = nh.subscribe("move_base_simple/goal", 1, &Node::OnPoseGoal, this);
    }
    scan_sub_ = nh.subscribe("scan", static_cast<uint32_t>(params.scan_queue), &Node::OnScan, this,
                             ros::TransportHints().tcpNoDelay());
    timer_ = nh.createSteadyTimer(ros::WallDuration(params.scan_timeout / 10.0), &Node::OnTimer, this);
    updater_.setHardwareID(params.laser_frame.empty() ? "laser" : params.laser_frame);
    updater_.add("scan to cmd_vel", this, &Node::Diagnose);
  }

  std::string Start() {
    const std::string e = core_.Start(params_, SteadyNow());
    if (e.empty() && status_pub_) PublishStatus();
    next_report_ = SteadyNow();
    return e;
  }

  void PublishZero() { cmd_pub_.publish(geometry_msgs::Twist()); }

  const spnode::LatencyStats& Latency() const { return latency_; }

 private:
  // Where tf puts the scan's frame in the base frame, as of the latest transform.
  void PlaceScan(const std::string& frame, spnode::ScanMeta& meta) {
    if (SameFrame(frame, params_.base_frame)) {
      meta.has_mount = true;
      return;
    }
    try {
      const geometry_msgs::TransformStamped t = tf_.lookupTransform(params_.base_frame, frame, ros::Time(0));
      const auto& q = t.transform.rotation;
      const auto& v = t.transform.translation;
      const char* problem = spnode::MountFromTransform(q.x, q.y, q.z, q.w, v.x, v.y, meta.mount);
      meta.has_mount = problem == nullptr;
      if (problem != nullptr) meta.mount_problem = problem;
    } catch (const tf2::TransformException& e) {
      meta.mount_problem = spnode::Printable(e.what());
    }
  }

  // A point of `frame` in the base frame, as of the latest transform.
  bool ToBase(const std::string& frame, double x, double y, double z, double& bx, double& by, std::string& why) {
    if (frame.empty() || SameFrame(frame, params_.base_frame)) {
      bx = x;
      by = y;
      return true;
    }
    try {
      const geometry_msgs::TransformStamped t = tf_.lookupTransform(params_.base_frame, frame, ros::Time(0));
      const auto& r = t.transform.rotation;
      const auto& v = t.transform.translation;
      const double q[4] = {r.x, r.y, r.z, r.w}, shift[3] = {v.x, v.y, v.z};
      return spnode::PointToBase(q, shift, x, y, z, bx, by);
    } catch (const tf2::TransformException& e) {
      why = spnode::Printable(e.what());
      return false;
    }
  }

  void OnScan(const sensor_msgs::LaserScan::ConstPtr& msg) {
    const double t0 = SteadyNow();
    spnode::ScanIn in;
    in.angle_min = msg->angle_min;
    in.angle_increment = msg->angle_increment;
    in.range_min = msg->range_min;
    in.range_max = msg->range_max;
    in.ranges = msg->ranges.data();
    in.n = msg->ranges.size();
    spnode::ScanMeta meta;
    meta.frame = msg->header.frame_id;
    meta.stamp = msg->header.stamp.toSec();
    meta.clock = ros::Time::now().toSec();
    if (params_.use_tf) PlaceScan(meta.frame, meta);
    const spnode::GoalState before = core_.Goal();
    if (before == spnode::GoalState::kActive || before == spnode::GoalState::kLost)
      meta.has_goal = ToBase(core_.HeldGoalFrame(), core_.HeldGoalX(), core_.HeldGoalY(), 0.0, meta.goal_x, meta.goal_y,
                             meta.goal_problem);
    const spnode::NodeCore::ScanResult& r = core_.OnScan(in, meta, t0);
    geometry_msgs::Twist twist;
    twist.linear.x = r.twist.linear_x;
    twist.angular.z = r.twist.angular_z;
    cmd_pub_.publish(twist);
    latency_.Add(SteadyNow() - t0);
    if (r.refused != nullptr) {
      const std::string& extra = r.refusal == spnode::Refusal::kNoTransform
                                     ? (meta.has_mount ? meta.goal_problem : meta.mount_problem)
                                     : std::string();
      ROS_WARN_THROTTLE(2.0, "scan %lld refused (%s%s%s): zero command", r.number, r.refused, extra.empty() ? "" : ": ",
                        extra.c_str());
    } else if (r.step.bad_input) {
      ROS_WARN_THROTTLE(2.0, "scan %lld unusable (no reading, or bad range limits): zero command", r.number);
    }
    if (status_pub_ && core_.Goal() != before) {
      PublishStatus();
      if (core_.Goal() == spnode::GoalState::kArrived)
        ROS_INFO("goal (%g, %g) in %s reached", core_.HeldGoalX(), core_.HeldGoalY(),
                 spnode::Printable(core_.HeldGoalFrame()).c_str());
    }
    std_msgs::String line;
    line.data = r.json;
    step_pub_.publish(line);
    if (r.step.has_tracked && tracked_pub_) {
      geometry_msgs::PointStamped p;
      p.header.stamp = msg->header.stamp;
      p.header.frame_id = params_.base_frame;
      p.point.x = r.step.tracked.x;
      p.point.y = r.step.tracked.y;
      tracked_pub_.publish(p);
    }
    if (path_pub_.getNumSubscribers() + grid_pub_.getNumSubscribers() > 0 && core_.ReadPass())
      PublishPass(msg->header.stamp);
  }

  void PublishPass(const ros::Time& stamp) {
    const PilotPass& pass = core_.Pass();
    nav_msgs::Path path;
    path.header.stamp = stamp;
    path.header.frame_id = params_.base_frame;
    spnode::PathFromPass(pass, points_);
    path.poses.resize(points_.size());
    for (std::size_t k = 0; k < points_.size(); ++k) {
      path.poses[k].header = path.header;
      path.poses[k].pose.position.x = points_[k].x;
      path.poses[k].pose.position.y = points_[k].y;
      path.poses[k].pose.orientation.w = 1.0;
    }
    path_pub_.publish(path);
    nav_msgs::OccupancyGrid grid;
    grid.header = path.header;
    grid.info.map_load_time = stamp;
    grid.info.resolution = static_cast<float>(spnode::kGridResolution);
    grid.info.width = grid.info.height = spnode::kGridCells;
    grid.info.origin.position.x = grid.info.origin.position.y = spnode::kGridOrigin;
    grid.info.origin.orientation.w = 1.0;
    spnode::GridFromPass(pass, grid.data);
    grid_pub_.publish(grid);
  }

  void PublishStatus() {
    std_msgs::String s;
    s.data = core_.GoalStatusJson();
    status_pub_.publish(s);
  }

  // A goal is held in its own frame; tf must be able to place it now.
  void TakeGoal(const std::string& frame, double x, double y) {
    double bx = 0.0, by = 0.0;
    std::string why;
    if (!ToBase(frame, x, y, 0.0, bx, by, why)) {
      ROS_WARN("goal (%g, %g) in frame \"%s\" ignored: tf cannot place it in %s%s%s", x, y,
               spnode::Printable(frame).c_str(), params_.base_frame.c_str(), why.empty() ? "" : ": ", why.c_str());
      return;
    }
    const std::string held = frame.empty() ? params_.base_frame : frame;
    if (!core_.HoldGoal(held, x, y)) {
      ROS_WARN("goal (%g, %g) ignored: not finite", x, y);
      return;
    }
    ROS_INFO("goal (%g, %g) in %s, %.2f m away", x, y, spnode::Printable(held).c_str(), std::hypot(bx, by));
    PublishStatus();
  }

  void OnGoal(const geometry_msgs::PointStamped::ConstPtr& msg) {
    TakeGoal(msg->header.frame_id, msg->point.x, msg->point.y);
  }

  // rviz's "2D Nav Goal": the position counts, the heading is not used.
  void OnPoseGoal(const geometry_msgs::PoseStamped::ConstPtr& msg) {
    TakeGoal(msg->header.frame_id, msg->pose.position.x, msg->pose.position.y);
  }

  void OnPerson(const geometry_msgs::PointStamped::ConstPtr& msg) {
    double bx = 0.0, by = 0.0;
    std::string why;
    if (!ToBase(msg->header.frame_id, msg->point.x, msg->point.y, msg->point.z, bx, by, why)) {
      ROS_WARN_THROTTLE(2.0, "person in frame \"%s\" ignored: tf cannot place it in %s%s%s",
                        spnode::Printable(msg->header.frame_id).c_str(), params_.base_frame.c_str(),
                        why.empty() ? "" : ": ", why.c_str());
      return;
    }
    core_.OnPerson(bx, by, SteadyNow());
  }

  void OnTimer(const ros::SteadyTimerEvent&) {
    const double now = SteadyNow();
    if (core_.StaleZeroDue(now)) {
      ROS_WARN_THROTTLE(10.0, "no usable scan for %g s: zero command", params_.scan_timeout);
      PublishZero();
    }
    // On the steady clock: a stopped sim clock must not silence a stale laser's report.
    if (now >= next_report_) {
      next_report_ = now + params_.diagnostic_period;
      updater_.force_update();
    }
  }

  void Diagnose(diagnostic_updater::DiagnosticStatusWrapper& stat) {
    const spnode::Health h = core_.Report(SteadyNow());
    using diagnostic_msgs::DiagnosticStatus;
    const unsigned char level = h.level == spnode::Health::kError  ? DiagnosticStatus::ERROR
                                : h.level == spnode::Health::kWarn ? DiagnosticStatus::WARN
                                                                   : DiagnosticStatus::OK;
    stat.summary(level, h.message);
    stat.addf("scan rate (Hz)", "%.2f", h.scan_rate);
    if (h.last_scan_age >= 0.0) {
      stat.addf("last scan age (s)", "%.3f", h.last_scan_age);
    } else {
      stat.add("last scan age (s)", "none yet");
    }
    stat.add("scans", h.scans);
    stat.add("scans stepped", h.stepped);
    stat.add("scans refused", h.refused);
    for (int k = static_cast<int>(spnode::Refusal::kBadFields); k < static_cast<int>(spnode::Refusal::kCount); ++k)
      stat.add(std::string("refused: ") + spnode::RefusalKey(static_cast<spnode::Refusal>(k)), h.counts[k]);
    stat.add("stops", h.stops);
    stat.add("stop: lost", h.lost);
    stat.add("stop: no path", h.no_path);
    stat.add("stop: bad input", h.bad_input);
    stat.add("guard held", h.guard);
    stat.addf("step time median (us)", "%.0f", latency_.QuantileUs(0.5));
    stat.addf("step time p99 (us)", "%.0f", latency_.QuantileUs(0.99));
    stat.addf("step time max (us)", "%.0f", latency_.MaxUs());
    if (status_pub_) stat.add("goal", spnode::GoalStateName(core_.Goal()));
  }

  spnode::NodeParams params_;
  spnode::NodeCore core_;
  spnode::LatencyStats latency_;
  std::vector<PilotPoint> points_;
  tf2_ros::Buffer tf_;
  tf2_ros::TransformListener listener_;
  diagnostic_updater::Updater updater_;
  double next_report_ = 0.0;
  ros::Publisher cmd_pub_, step_pub_, path_pub_, grid_pub_, tracked_pub_, status_pub_;
  ros::Subscriber scan_sub_, goal_sub_, pose_goal_sub_, person_sub_;
  ros::SteadyTimer timer_;
};

// The master's run id: a new one means a new master, which knows nothing of
// this node. Empty while no master answers.
std::string MasterRunId() {
  std::string id;
  if (!ros::master::check() || !ros::param::get("/run_id", id)) return std::string();
  return id;
}

}  // namespace

int main(int argc, char** argv) {
  // Our own handlers: the robot gets a zero command before the node goes.
  ros::init(argc, argv, "scanpilot_node", ros::init_options::NoSigintHandler);
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  ros::NodeHandle nh, pnh("~");
  spnode::NodeParams params;
  std::string error = UnknownParam(pnh);
  if (error.empty())
    error = spnode::ReadParams([&pnh](const std::string& name) { return Lookup(pnh, name); }, params);
  if (!error.empty()) {
    ROS_FATAL("scanpilot_node: %s", error.c_str());
    return 1;
  }
  if (!params.deprecated.empty()) ROS_WARN("scanpilot_node: %s", params.deprecated.c_str());
  Node node(nh, pnh, params);
  error = node.Start();
  if (!error.empty()) {
    ROS_FATAL("scanpilot_node: %s", error.c_str());
    return 1;
  }
  ros::CallbackQueue* queue = ros::getGlobalCallbackQueue();
  const std::string run_id = MasterRunId();
  double next_check = SteadyNow() + 1.0;
  int status = 0;
  while (!g_stop && ros::ok()) {
    queue->callAvailable(ros::WallDuration(0.05));
    if (SteadyNow() < next_check) continue;
    next_check = SteadyNow() + 1.0;
    const std::string now_id = MasterRunId();
    if (!now_id.empty() && now_id != run_id) {
      ROS_ERROR("scanpilot_node: the ROS master was restarted; exiting (status %d) to be started again",
                kExitMasterRestarted);
      status = kExitMasterRestarted;
      break;
    }
  }
  node.PublishZero();
  ROS_INFO("scanpilot_node: stopping, %s", node.Latency().Summary().c_str());
  // Give the zero command time to leave before the connections close.
  ros::WallDuration(0.2).sleep();
  ros::shutdown();
  return status;
}
