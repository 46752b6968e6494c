// SPDX-License-Identifier: BSD-3-Clause
// LaserScans from a ROS 2 bag, one message at a time: a bag folder (its
// metadata.yaml and the files it lists, in order) or one storage file,
// sqlite3 (.db3) or MCAP (.mcap). No ROS needed; memory is bounded by the
// largest message or MCAP chunk. A bag compressed file by file is unpacked
// into temporary files ($TMPDIR, else /tmp) for the reader's lifetime.
//
//   Ros2Bag bag;
//   if (!bag.Open(path, "")) { fprintf(stderr, "robot-demo: %s\n", bag.Error().c_str()); return 1; }
//   Ros2Scan scan;
//   while (bag.Next(scan)) Use(scan);
//   if (!bag.Error().empty()) { ... }     // a corrupt message or file midway
#ifndef SCANPILOT_INPUT_ROS2_BAG_H
#define SCANPILOT_INPUT_ROS2_BAG_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// One sensor_msgs/msg/LaserScan; Next reuses the vectors' memory.
struct Ros2Scan {
  std::int32_t stamp_sec = 0;
  std::uint32_t stamp_nanosec = 0;
  std::string frame_id;
  float angle_min = 0.0f, angle_max = 0.0f, angle_increment = 0.0f;
  float time_increment = 0.0f, scan_time = 0.0f;
  float range_min = 0.0f, range_max = 0.0f;
  std::vector<float> ranges;
  std::vector<float> intensities;
};

struct Ros2Storage;  // one storage file (ros2_storage.h)

class Ros2Bag {
 public:
  // Messages larger than this are refused as corrupt.
  static constexpr std::size_t kMaxMessageBytes = 16u << 20;

  Ros2Bag();
  ~Ros2Bag();
  Ros2Bag(const Ros2Bag&) = delete;
  Ros2Bag& operator=(const Ros2Bag&) = delete;

  // Opens `path` and picks `topic`, or the only LaserScan topic when
  // `topic` is empty. False with Error() set otherwise.
  bool Open(const std::string& path, const std::string& topic);
  // The bag's LaserScan topics, sorted (after Open, also a failed one that
  // got as far as reading them).
  const std::vector<std::string>& Topics() const { return topics_; }
  const std::string& Topic() const { return topic_; }
  // The next message of the topic: by time within a sqlite3 file, as
  // recorded within an MCAP file, file after file. False at the end, or on
  // an error (Error() then says which message and why; no further messages).
  bool Next(Ros2Scan& scan);
  // One line, empty when all is well.
  const std::string& Error() const { return error_; }

 private:
  bool OpenFolder(const std::string& path);
  bool ReadTopics(std::unique_ptr<Ros2Storage>& first);
  bool OpenFile(std::size_t index);
  bool Fail(const std::string& why);
  void DropUnpacked();

  std::string path_;
  std::vector<std::string> files_;
  std::vector<std::string> names_;     // as metadata.yaml lists them; empty for a lone file
  std::vector<std::string> unpacked_;  // temporary files of a bag compressed file by file
  std::string compression_;            // per message: "zstd", or empty
  std::unique_ptr<Ros2Storage> storage_;
  std::size_t file_ = 0;
  std::vector<std::string> topics_;
  std::string topic_;
  std::size_t read_ = 0;
  std::vector<std::uint8_t> inflated_;
  void* zstd_ = nullptr;
  std::string error_;
};

// Reads a CDR-serialized sensor_msgs/msg/LaserScan (little or big endian)
// into `scan`. False when the bytes do not hold exactly one: a length runs
// past the end, or more than alignment padding is left over.
bool ParseCdrLaserScan(const std::uint8_t* data, std::size_t size, Ros2Scan& scan);

#endif
