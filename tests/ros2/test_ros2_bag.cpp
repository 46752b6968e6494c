// SPDX-License-Identifier: BSD-3-Clause
// The ROS 2 bag reader's parts on their own: the CDR LaserScan decoder
// against messages laid out here field by field, and the MCAP reader on the
// independent writer's files, cut and damaged.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "input/mcap_reader.h"
#include "input/ros2_bag.h"

namespace {

const std::string kData = SCANPILOT_TEST_DATA;

std::vector<std::uint8_t> Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A LaserScan in CDR, written field by field with explicit padding.
class CdrWriter {
 public:
  explicit CdrWriter(bool big) : big_(big) { bytes_ = {0, static_cast<std::uint8_t>(big ? 0 : 1), 0, 0}; }
  void U32(std::uint32_t v) {
    while ((bytes_.size() - 4) % 4 != 0) bytes_.push_back(0);
    for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<std::uint8_t>(v >> (8 * (big_ ? 3 - i : i))));
  }
  void F32(float f) {
    std::uint32_t v;
    std::memcpy(&v, &f, 4);
    U32(v);
  }
  void String(const std::string& s) {
    U32(static_cast<std::uint32_t>(s.size() + 1));
    bytes_.insert(bytes_.end(), s.begin(), s.end());
    bytes_.push_back(0);
  }
  std::vector<std::uint8_t> bytes_;

 private:
  bool big_;
};

std::vector<std::uint8_t> Laser(bool big, const std::string& frame, const std::vector<float>& ranges,
                                const std::vector<float>& intensities) {
  CdrWriter w(big);
  w.U32(static_cast<std::uint32_t>(-5));  // sec
  w.U32(999999999u);
  w.String(frame);
  for (float f : {-1.5f, 1.5f, 0.25f, 1e-4f, 0.1f, 0.05f, 12.0f}) w.F32(f);
  w.U32(static_cast<std::uint32_t>(ranges.size()));
  for (float f : ranges) w.F32(f);
  w.U32(static_cast<std::uint32_t>(intensities.size()));
  for (float f : intensities) w.F32(f);
  return w.bytes_;
}

TEST(Ros2Cdr, BothByteOrdersAndEveryFrameLengthDecodeAlike) {
  const std::vector<float> ranges = {1.0f, 2.5f, -0.0f, 1e-30f, 7.25f};
  // Frame names of 0..4 characters move every later field across the padding.
  for (const std::string frame : {"", "a", "ab", "abc", "abcd"}) {
    for (bool big : {false, true}) {
      Ros2Scan s;
      const std::vector<std::uint8_t> b = Laser(big, frame, ranges, {3.0f});
      ASSERT_TRUE(ParseCdrLaserScan(b.data(), b.size(), s)) << frame << big;
      EXPECT_EQ(s.stamp_sec, -5);
      EXPECT_EQ(s.stamp_nanosec, 999999999u);
      EXPECT_EQ(s.frame_id, frame);
      EXPECT_EQ(s.angle_min, -1.5f);
      EXPECT_EQ(s.angle_increment, 0.25f);
      EXPECT_EQ(s.range_min, 0.05f);
      EXPECT_EQ(s.range_max, 12.0f);
      ASSERT_EQ(s.ranges.size(), ranges.size());
      EXPECT_EQ(0, std::memcmp(s.ranges.data(), ranges.data(), ranges.size() * sizeof(float)));
      EXPECT_EQ(s.intensities, std::vector<float>{3.0f});
    }
  }
}

TEST(Ros2Cdr, EveryCutAndEveryWrongLengthIsRefused) {
  const std::vector<std::uint8_t> good = Laser(false, "laser", {1.0f, 2.0f, 3.0f}, {});
  Ros2Scan s;
  for (std::size_t n = 0; n < good.size(); ++n) EXPECT_FALSE(ParseCdrLaserScan(good.data(), n, s)) << n;
  // Padding to the next word may follow; a whole word more may not.
  std::vector<std::uint8_t> padded = good;
  padded.insert(padded.end(), 3, 0);
  EXPECT_TRUE(ParseCdrLaserScan(padded.data(), padded.size(), s));
  padded.push_back(0);
  EXPECT_FALSE(ParseCdrLaserScan(padded.data(), padded.size(), s));
  // Lengths that point past the end, at each length field.
  const std::size_t frame_at = 12, ranges_at = 24 + 28, intensities_at = ranges_at + 4 + 12;
  for (std::size_t at : {frame_at, ranges_at, intensities_at})
    for (std::uint32_t bad : {0xFFFFFFFFu, 0x40000000u, 1000u}) {
      std::vector<std::uint8_t> b = good;
      std::memcpy(&b[at], &bad, 4);
      EXPECT_FALSE(ParseCdrLaserScan(b.data(), b.size(), s)) << at << " " << bad;
    }
  // Only the two plain CDR encapsulations.
  for (int kind : {2, 3, 6, 7, 10}) {
    std::vector<std::uint8_t> b = good;
    b[1] = static_cast<std::uint8_t>(kind);
    EXPECT_FALSE(ParseCdrLaserScan(b.data(), b.size(), s)) << int(kind);
  }
}

TEST(Mcap, CheckSumIsTheStandardOne) {
  const char* text = "123456789";
  EXPECT_EQ(McapCrc32(reinterpret_cast<const std::uint8_t*>(text), 9), 0xCBF43926u);
  // Continued in two parts, the same.
  EXPECT_EQ(McapCrc32(reinterpret_cast<const std::uint8_t*>(text) + 4, 5,
                      McapCrc32(reinterpret_cast<const std::uint8_t*>(text), 4)),
            0xCBF43926u);
}

struct Read {
  bool opened = false;
  McapReader::Result end = McapReader::kError;
  int scans = 0, others = 0;
  std::vector<std::uint8_t> last_scan;
};

Read ReadAll(std::vector<std::uint8_t> bytes) {
  Read r;
  if (bytes.empty()) bytes.push_back(0);  // fmemopen wants a buffer
  std::FILE* f = fmemopen(bytes.data(), bytes.size(), "rb");
  McapReader reader;
  r.opened = reader.Open(f) && reader.LoadChannels();
  if (r.opened) {
    McapMessage m;
    while ((r.end = reader.Next(m)) == McapReader::kMessage) {
      if (reader.ChannelOf(m.channel_id)->topic == "/scan") {
        ++r.scans;
        r.last_scan.assign(m.data, m.data + m.size);
      } else {
        ++r.others;
      }
    }
  }
  std::fclose(f);
  return r;
}

TEST(Mcap, TheIndependentWritersFilesInEveryLayout) {
  struct Case {
    const char* file;
    int scans;
  } cases[] = {{"straight-zstd/straight-zstd_0.mcap", 147},
               {"straight-lz4.mcap", 147},
               {"straight-plain.mcap", 20},
               {"straight-unchunked.mcap", 12}};
  std::vector<std::uint8_t> last;
  for (const Case& c : cases) {
    const Read r = ReadAll(Bytes(kData + "/ros2-mcap/" + c.file));
    ASSERT_TRUE(r.opened) << c.file;
    EXPECT_EQ(r.end, McapReader::kEnd) << c.file;
    EXPECT_EQ(r.scans, c.scans) << c.file;
    EXPECT_GT(r.others, 0) << c.file;
    if (c.scans != 147) continue;
    if (!last.empty()) {
      EXPECT_EQ(r.last_scan, last) << c.file;
    }
    last = r.last_scan;
  }
}

TEST(Mcap, CutFilesEndInAnErrorAndNeverReadPastTheirData) {
  const std::vector<std::uint8_t> whole = Bytes(kData + "/ros2-mcap/straight-plain.mcap");
  ASSERT_FALSE(whole.empty());
  // The data section ends with a 13-byte record just before the summary,
  // which the footer (29 bytes before the closing magic) points at; a cut
  // summary loses no message.
  std::uint64_t summary = 0;
  std::memcpy(&summary, &whole[whole.size() - 8 - 20], 8);
  ASSERT_GT(summary, 13u);
  for (std::size_t n = 0; n <= summary - 13; n += 61) {
    const Read r = ReadAll(std::vector<std::uint8_t>(whole.begin(), whole.begin() + static_cast<long>(n)));
    EXPECT_TRUE(!r.opened || r.end == McapReader::kError) << n;
    EXPECT_LE(r.scans, 20) << n;
  }
}

TEST(Mcap, DamagedFilesAreReadOrRefusedNeverOverrun) {
  // Under the sanitizers this is where an unchecked length shows.
  std::mt19937 rng(25);
  for (const char* file : {"straight-lz4.mcap", "straight-plain.mcap", "straight-unchunked.mcap"}) {
    const std::vector<std::uint8_t> whole = Bytes(kData + "/ros2-mcap/" + file);
    for (int k = 0; k < 40; ++k) {
      std::vector<std::uint8_t> b = whole;
      for (int flips = 0; flips < 4; ++flips) b[rng() % b.size()] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
      const Read r = ReadAll(b);
      EXPECT_LE(r.scans, 147) << file << " " << k;
    }
  }
}

}  // namespace
