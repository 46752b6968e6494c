// Steps a Pilot through a bag's LaserScans and prints one PilotStepJson
// line per scan: what scanpilot_node must publish on ~step for the same bag.
//   bag_steps BAG [TOPIC] [name=value ...]   (the node's parameter names)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bag_scans.h"
#include "scanpilot.h"

namespace {

bool Set(PilotConfig& c, const std::string& name, const char* v) {
  char* end = nullptr;
  const double d = std::strtod(v, &end);
  const bool number = end != v && *end == '\0';
  if (name == "mode" && (std::strcmp(v, "goal") == 0 || std::strcmp(v, "follow") == 0)) {
    c.mode = v[0] == 'g' ? PilotMode::kGoal : PilotMode::kFollow;
  } else if (name == "upside_down" && (std::strcmp(v, "true") == 0 || std::strcmp(v, "false") == 0)) {
    c.upside_down = v[0] == 't';
  } else if (!number) {
    return false;
  } else if (name == "follow_distance") {
    c.follow_distance = static_cast<float>(d);
  } else if (name == "goal_x") {
    c.goal.x = d;
  } else if (name == "goal_y") {
    c.goal.y = d;
  } else if (name == "mount_yaw_deg") {
    c.mount_yaw_deg = d;
  } else if (name == "min_range") {
    c.layout.min_range = static_cast<float>(d);
  } else if (name == "max_range") {
    c.layout.max_range = static_cast<float>(d);
  } else {
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: bag_steps BAG [TOPIC] [name=value ...]\n");
    return 2;
  }
  std::string topic;
  PilotConfig config;
  for (int i = 2; i < argc; ++i) {
    const char* eq = std::strchr(argv[i], '=');
    if (eq == nullptr && i == 2) {
      topic = argv[i];
    } else if (eq == nullptr || !Set(config, std::string(argv[i], static_cast<std::size_t>(eq - argv[i])), eq + 1)) {
      std::fprintf(stderr, "bag_steps: bad argument %s\n", argv[i]);
      return 2;
    }
  }
  Pilot pilot;
  if (PilotError e = pilot.Start(config); e != PilotError::kNone) {
    std::fprintf(stderr, "bag_steps: %s\n", PilotErrorText(e));
    return 2;
  }
  BagScans bag;
  if (!bag.Open(argv[1], topic)) {
    std::fprintf(stderr, "bag_steps: %s\n", bag.Error().c_str());
    return 1;
  }
  BagScan scan;
  PilotStep step;
  char line[kPilotJsonMax];
  for (long long n = 0; bag.Next(scan); ++n) {
    pilot.StepLaserScan(scan.angle_min, scan.angle_increment, scan.ranges.data(), scan.ranges.size(),
                        scan.range_min, scan.range_max, nullptr, step);
    PilotStepJson(step, n, line, sizeof line);
    std::printf("%s\n", line);
  }
  if (!bag.Error().empty()) {
    std::fprintf(stderr, "bag_steps: %s\n", bag.Error().c_str());
    return 1;
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}
