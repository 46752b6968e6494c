// SPDX-License-Identifier: BSD-3-Clause
// The storage files of a ROS 2 bag, sqlite3 or MCAP, behind one interface:
// their topics, then the messages of one topic.
#ifndef SCANPILOT_INPUT_ROS2_STORAGE_H
#define SCANPILOT_INPUT_ROS2_STORAGE_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct TopicInfo {
  std::string name, type, format;
};

// One storage file.
struct Ros2Storage {
  virtual ~Ros2Storage() = default;
  virtual bool Topics(std::vector<TopicInfo>& out, std::string& why) = 0;
  virtual bool Select(const std::string& topic, std::string& why) = 0;
  // 1: a message in data/size; 0: the end; -1: an error in `why`.
  virtual int Next(const std::uint8_t*& data, std::size_t& size, std::string& why) = 0;
};

// The storage file at `path`, by its first bytes; null with `why` set when
// it is neither kind or cannot be opened.
std::unique_ptr<Ros2Storage> OpenStorage(const std::string& path, std::string& why);

#endif
