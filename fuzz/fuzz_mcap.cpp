// SPDX-License-Identifier: BSD-3-Clause
// ROS 2 bag fuzz target: any bytes as an MCAP file, read through the
// channels and every message, each message also decoded as a CDR LaserScan.
// A hostile file must end in kEnd or one error line, never a crash or an
// overrun; every message names a declared channel and fits its record.
#include <cstdint>
#include <cstdio>
#include <vector>

#include "fuzz_check.h"
#include "input/mcap_reader.h"
#include "input/ros2_bag.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> bytes(data, data + size);
  bytes.push_back(0);  // fmemopen wants a buffer; the file is `size` bytes
  std::FILE* f = fmemopen(bytes.data(), size == 0 ? 1 : size, "rb");
  if (f == nullptr) return 0;
  McapReader reader;
  Ros2Scan scan;
  if (reader.Open(f) && reader.LoadChannels()) {
    McapMessage m;
    McapReader::Result r;
    int messages = 0;
    while ((r = reader.Next(m)) == McapReader::kMessage) {
      CHECK(reader.ChannelOf(m.channel_id) != nullptr, "message on channel %u", m.channel_id);
      CHECK(m.size <= McapReader::kMaxRecordBytes, "message of %zu bytes", m.size);
      if (ParseCdrLaserScan(m.data, m.size, scan)) {
        CHECK(scan.ranges.size() * 4 + scan.intensities.size() * 4 + scan.frame_id.size() + 52 <= m.size,
              "a LaserScan larger than its %zu bytes", m.size);
      }
      ++messages;
    }
    CHECK(r == McapReader::kEnd ? reader.Error().empty() : !reader.Error().empty(), "result %d", r);
    for (char c : reader.Error()) CHECK(c != '\n', "error on two lines");
    // Read again from the start: the same messages.
    if (r == McapReader::kEnd && reader.Rewind()) {
      int again = 0;
      while (reader.Next(m) == McapReader::kMessage) ++again;
      CHECK(again == messages, "%d messages, then %d", messages, again);
    }
  } else {
    CHECK(!reader.Error().empty(), "refused without a reason");
  }
  std::fclose(f);
  return 0;
}
