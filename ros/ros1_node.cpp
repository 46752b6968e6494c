// scanpilot_node for ROS 1: messages in and out of NodeCore, nothing more.
#include <geometry_msgs/PointStamped.h>
#include <geometry_msgs/Twist.h>
#include <nav_msgs/OccupancyGrid.h>
#include <nav_msgs/Path.h>
#include <ros/callback_queue.h>
#include <ros/ros.h>
#include <sensor_msgs/LaserScan.h>
#include <std_msgs/String.h>

#include <atomic>
#include <chrono>
#include <csignal>
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

class Node {
 public:
  Node(ros::NodeHandle& nh, ros::NodeHandle& pnh, const spnode::NodeParams& params) : params_(params) {
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
      goal_sub_ = nh.subscribe("goal", 1, &Node::OnGoal, this);
    }
    scan_sub_ = nh.subscribe("scan", static_cast<uint32_t>(params.scan_queue), &Node::OnScan, this,
                             ros::TransportHints().tcpNoDelay());
    timer_ = nh.createSteadyTimer(ros::WallDuration(params.scan_timeout / 10.0), &Node::OnTimer, this);
  }

  std::string Start() { return core_.Start(params_, SteadyNow()); }

  void PublishZero() { cmd_pub_.publish(geometry_msgs::Twist()); }

  const spnode::LatencyStats& Latency() const { return latency_; }

 private:
  // Old bags and nodes still write frames with a leading slash.
  bool InBaseFrame(const std::string& frame) const {
    return frame.empty() || frame == params_.base_frame || frame == "/" + params_.base_frame;
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
    const spnode::NodeCore::ScanResult& r = core_.OnScan(in, t0);
    geometry_msgs::Twist twist;
    twist.linear.x = r.twist.linear_x;
    twist.angular.z = r.twist.angular_z;
    cmd_pub_.publish(twist);
    latency_.Add(SteadyNow() - t0);
    if (r.refused != nullptr)
      ROS_WARN_THROTTLE(2.0, "scan %lld refused (%s): zero command", r.number, r.refused);
    else if (r.step.bad_input)
      ROS_WARN_THROTTLE(2.0, "scan %lld unusable (no reading, or bad range limits): zero command", r.number);
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

  void OnGoal(const geometry_msgs::PointStamped::ConstPtr& msg) {
    if (!InBaseFrame(msg->header.frame_id)) {
      ROS_WARN_THROTTLE(2.0, "goal in frame \"%s\" ignored: give it in %s", msg->header.frame_id.c_str(),
                        params_.base_frame.c_str());
      return;
    }
    if (!core_.OnGoal(msg->point.x, msg->point.y))
      ROS_WARN_THROTTLE(2.0, "goal (%g, %g) ignored: not finite or off the 5 m grid", msg->point.x, msg->point.y);
  }

  void OnPerson(const geometry_msgs::PointStamped::ConstPtr& msg) {
    if (!InBaseFrame(msg->header.frame_id)) {
      ROS_WARN_THROTTLE(2.0, "person in frame \"%s\" ignored: give it in %s", msg->header.frame_id.c_str(),
                        params_.base_frame.c_str());
      return;
    }
    core_.OnPerson(msg->point.x, msg->point.y, SteadyNow());
  }

  void OnTimer(const ros::SteadyTimerEvent&) {
    if (core_.StaleZeroDue(SteadyNow())) {
      ROS_WARN_THROTTLE(10.0, "no usable scan for %g s: zero command", params_.scan_timeout);
      PublishZero();
    }
  }

  spnode::NodeParams params_;
  spnode::NodeCore core_;
  spnode::LatencyStats latency_;
  std::vector<PilotPoint> points_;
  ros::Publisher cmd_pub_, step_pub_, path_pub_, grid_pub_, tracked_pub_;
  ros::Subscriber scan_sub_, goal_sub_, person_sub_;
  ros::SteadyTimer timer_;
};

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
  Node node(nh, pnh, params);
  error = node.Start();
  if (!error.empty()) {
    ROS_FATAL("scanpilot_node: %s", error.c_str());
    return 1;
  }
  ros::CallbackQueue* queue = ros::getGlobalCallbackQueue();
  while (!g_stop && ros::ok()) queue->callAvailable(ros::WallDuration(0.05));
  node.PublishZero();
  ROS_INFO("scanpilot_node: stopping, %s", node.Latency().Summary().c_str());
  // Give the zero command time to leave before the connections close.
  ros::WallDuration(0.2).sleep();
  ros::shutdown();
  return 0;
}
