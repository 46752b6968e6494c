#include "input/bag_source.h"

#include <limits>

#if defined(SCANPILOT_HAVE_ROSBAG)
#include "bag_scans.h"

namespace {

class BagTurnSource : public TurnSource {
 public:
  explicit BagTurnSource(const PilotConfig& config) : config_(config) {}
  bool Open(const std::string& path, const std::string& topic) { return bag_.Open(path, topic); }
  const std::string& BagError() const { return bag_.Error(); }

  Result Next(Scan& scan, TurnInfo& info) override {
    info = TurnInfo{};
    if (!bag_.Next(msg_)) return bag_.Error().empty() ? kEnd : Fail(bag_.Error(), ErrorKind::kInput);
    if (!PilotBinLaserScanSeen(config_, msg_.angle_min, msg_.angle_increment, msg_.ranges.data(), msg_.ranges.size(),
                           msg_.range_min, msg_.range_max, scan.data()))
      scan.fill(std::numeric_limits<float>::quiet_NaN());
    return kScan;
  }

 private:
  PilotConfig config_;
  BagScans bag_;
  BagScan msg_;
};

}  // namespace

bool BagsSupported() { return true; }

std::unique_ptr<TurnSource> OpenBag(const std::string& path, const std::string& topic, const PilotConfig& config,
                                    std::string& why) {
  auto src = std::make_unique<BagTurnSource>(config);
  if (src->Open(path, topic)) return src;
  why = src->BagError();
  return nullptr;
}

#else

bool BagsSupported() { return false; }

std::unique_ptr<TurnSource> OpenBag(const std::string&, const std::string&, const PilotConfig&, std::string& why) {
  why = "this robot-demo was built without ROS bag support (Debian: librosbag-storage-dev, then configure again)";
  return nullptr;
}

#endif
