// SPDX-License-Identifier: BSD-3-Clause
#include "input/ros2_source.h"

#if defined(SCANPILOT_HAVE_ROS2BAG)
#include "input/laser_scan_source.h"
#include "input/ros2_bag.h"

bool Ros2BagsSupported() { return true; }

std::unique_ptr<TurnSource> OpenRos2Bag(const std::string& path, const std::string& topic, const PilotConfig& config,
                                        std::string& why) {
  return LaserScanTurnSource<Ros2Bag, Ros2Scan>::Open(path, topic, config, why);
}

#else

bool Ros2BagsSupported() { return false; }

std::unique_ptr<TurnSource> OpenRos2Bag(const std::string&, const std::string&, const PilotConfig&, std::string& why) {
  why =
      "this robot-demo was built without ROS 2 bag support (Debian: libsqlite3-dev libyaml-cpp-dev libzstd-dev "
      "liblz4-dev, then configure again)";
  return nullptr;
}

#endif
