// SPDX-License-Identifier: BSD-3-Clause
// A ROS 1 bag's LaserScans as the replay's records: each message binned by
// the LaserScan rule with the run's range limits and scanner mount. Built
// only where Debian's rosbag storage library is (SCANPILOT_HAVE_ROSBAG).
#ifndef SCANPILOT_INPUT_BAG_SOURCE_H
#define SCANPILOT_INPUT_BAG_SOURCE_H

#include <memory>
#include <string>

#include "input/turn_source.h"
#include "scanpilot.h"

// Whether this robot-demo reads bags at all.
bool BagsSupported();

// Opens `path` on `topic` (the only LaserScan topic when empty). Null with
// `why` (one line) when the bag cannot be read or the topic is not clear.
// A message whose fields the pilot refuses (PilotLaserScanProblem, bad
// limits) becomes 360 NaN readings: a scan the pilot takes as bad input.
std::unique_ptr<TurnSource> OpenBag(const std::string& path, const std::string& topic, const PilotConfig& config,
                                    std::string& why);

#endif
