// SPDX-License-Identifier: BSD-3-Clause
#include "input/bag_source.h"

#if defined(SCANPILOT_HAVE_ROSBAG)
#include "bag_scans.h"
#include "input/laser_scan_source.h"

bool BagsSupported() { return true; }

std::unique_ptr<TurnSource> OpenBag(const std::string& path, const std::string& topic, const PilotConfig& config,
                                    std::string& why) {
  return LaserScanTurnSource<BagScans, BagScan>::Open(path, topic, config, why);
}

#else

bool BagsSupported() { return false; }

std::unique_ptr<TurnSource> OpenBag(const std::string&, const std::string&, const PilotConfig&, std::string& why) {
  why = "this robot-demo was built without ROS bag support (Debian: librosbag-storage-dev, then configure again)";
  return nullptr;
}

#endif
