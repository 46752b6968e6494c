// SPDX-License-Identifier: BSD-3-Clause
// A ROS 2 bag's LaserScans as the replay's records, binned like a ROS 1
// bag's (input/bag_source.h). Built where Debian's sqlite3, yaml-cpp, zstd
// and lz4 libraries are (SCANPILOT_HAVE_ROS2BAG).
#ifndef SCANPILOT_INPUT_ROS2_SOURCE_H
#define SCANPILOT_INPUT_ROS2_SOURCE_H

#include <memory>
#include <string>

#include "input/turn_source.h"
#include "scanpilot.h"

bool Ros2BagsSupported();

// Opens the bag folder or storage file `path` on `topic` (the only
// LaserScan topic when empty). Null with `why` (one line) otherwise.
std::unique_ptr<TurnSource> OpenRos2Bag(const std::string& path, const std::string& topic, const PilotConfig& config,
                                        std::string& why);

#endif
