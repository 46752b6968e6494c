// SPDX-License-Identifier: BSD-3-Clause
#include "input/ros2_source.h"

#include <limits>

#if defined(SCANPILOT_HAVE_ROS2BAG)
#include "input/ros2_bag.h"

namespace {

class Ros2TurnSource : public TurnSource {
 public:
  explicit Ros2TurnSource(const PilotConfig& config) : config_(config) {}
  bool Open(const std::string& path, const std::string& topic) { return bag_.Open(path, topic); }
  const std::string& BagError() const { return bag_.Error(); }

  Result Next(Scan& scan, TurnInfo& info) override {
    info = TurnInfo{};
    if (!bag_.Next(msg_)) return bag_.Error().empty() ? kEnd : Fail(bag_.Error(), ErrorKind::kInput);
    // A message the pilot refuses is a scan it takes as bad input.
    if (!PilotBinLaserScanSeen(config_, msg_.angle_min, msg_.angle_increment, msg_.ranges.data(), msg_.ranges.size(),
                           msg_.range_min, msg_.range_max, scan.data()))
      scan.fill(std::numeric_limits<float>::quiet_NaN());
    return kScan;
  }

 private:
  PilotConfig config_;
  Ros2Bag bag_;
  Ros2Scan msg_;
};

}  // namespace

bool Ros2BagsSupported() { return true; }

std::unique_ptr<TurnSource> OpenRos2Bag(const std::string& path, const std::string& topic, const PilotConfig& config,
                                        std::string& why) {
  auto src = std::make_unique<Ros2TurnSource>(config);
  if (src->Open(path, topic)) return src;
  why = src->BagError();
  return nullptr;
}

#else

bool Ros2BagsSupported() { return false; }

std::unique_ptr<TurnSource> OpenRos2Bag(const std::string&, const std::string&, const PilotConfig&, std::string& why) {
  why = "this robot-demo was built without ROS 2 bag support (Debian: libsqlite3-dev libyaml-cpp-dev libzstd-dev "
        "liblz4-dev, then configure again)";
  return nullptr;
}

#endif
