// SPDX-License-Identifier: BSD-3-Clause
// LaserScans from a ROS 1 bag file, one message at a time, without a ROS
// master. The header needs no ROS headers; the library links Debian's
// rosbag storage.
//
//   BagScans bag;
//   if (!bag.Open(path, "")) { fprintf(stderr, "robot-demo: %s\n", bag.Error().c_str()); return 1; }
//   BagScan scan;
//   while (bag.Next(scan)) Use(scan);
//   if (!bag.Error().empty()) { ... }     // a corrupt message or chunk midway
#ifndef SCANPILOT_BAG_SCANS_H
#define SCANPILOT_BAG_SCANS_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// One sensor_msgs/LaserScan; Next reuses the vectors' memory.
struct BagScan {
  std::uint32_t seq = 0;
  std::uint32_t stamp_sec = 0, stamp_nsec = 0;  // header stamp
  std::string frame_id;
  float angle_min = 0.0f, angle_max = 0.0f, angle_increment = 0.0f;
  float time_increment = 0.0f, scan_time = 0.0f;
  float range_min = 0.0f, range_max = 0.0f;
  std::vector<float> ranges;
  std::vector<float> intensities;
};

class BagScans {
 public:
  // Messages larger than this are refused as corrupt (a LaserScan of
  // 100,000 readings with intensities is 800 KB).
  static constexpr std::uint32_t kMaxMessageBytes = 16u << 20;

  BagScans();
  ~BagScans();
  BagScans(const BagScans&) = delete;
  BagScans& operator=(const BagScans&) = delete;

  // Opens `path` and picks `topic`, or the only LaserScan topic when
  // `topic` is empty. False with Error() set otherwise.
  bool Open(const std::string& path, const std::string& topic);
  // The bag's LaserScan topics, sorted (after Open, also a failed one that
  // got as far as reading the index).
  const std::vector<std::string>& Topics() const { return topics_; }
  const std::string& Topic() const { return topic_; }
  // Messages on the chosen topic, from the bag's index.
  std::size_t Count() const { return count_; }
  // The next message in bag order. False at the end, or on an error
  // (Error() then says which message and why; no further messages).
  bool Next(BagScan& scan);
  // One line, empty when all is well.
  const std::string& Error() const { return error_; }

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::vector<std::string> topics_;
  std::string topic_;
  std::size_t count_ = 0;
  std::size_t read_ = 0;
  std::string error_;
};

// Reads a serialized sensor_msgs/LaserScan into `scan`. False when the
// bytes do not hold exactly one (a length runs past the end, or bytes are
// left over).
bool ParseLaserScan(const std::uint8_t* data, std::size_t size, BagScan& scan);

#endif
