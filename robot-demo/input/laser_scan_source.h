// SPDX-License-Identifier: BSD-3-Clause
// A bag's LaserScans as turns, whatever reads the bag: ROS 1 bags and ROS 2
// bags bin their messages by the same rule. `Reader` has Open(path, topic),
// Next(Message&) and Error(); `Message` has the LaserScan's fields.
#ifndef SCANPILOT_INPUT_LASER_SCAN_SOURCE_H
#define SCANPILOT_INPUT_LASER_SCAN_SOURCE_H

#include <limits>
#include <memory>
#include <string>

#include "input/turn_source.h"
#include "scanpilot.h"

template <typename Reader, typename Message>
class LaserScanTurnSource : public TurnSource {
 public:
  explicit LaserScanTurnSource(const PilotConfig& config) : config_(config) {}

  Result Next(Scan& scan, TurnInfo& info) override {
    info = TurnInfo{};
    if (!bag_.Next(msg_)) return bag_.Error().empty() ? kEnd : Fail(bag_.Error(), ErrorKind::kInput);
    // A message the pilot refuses is a scan it takes as bad input.
    if (!PilotBinLaserScanSeen(config_, msg_.angle_min, msg_.angle_increment, msg_.ranges.data(), msg_.ranges.size(),
                               msg_.range_min, msg_.range_max, scan.data()))
      scan.fill(std::numeric_limits<float>::quiet_NaN());
    return kScan;
  }

  // The source for the bag at `path`, or null with the reader's one line in `why`.
  static std::unique_ptr<TurnSource> Open(const std::string& path, const std::string& topic, const PilotConfig& config,
                                          std::string& why) {
    auto src = std::make_unique<LaserScanTurnSource>(config);
    if (src->bag_.Open(path, topic)) return src;
    why = src->bag_.Error();
    return nullptr;
  }

 private:
  PilotConfig config_;
  Reader bag_;
  Message msg_;
};

#endif
