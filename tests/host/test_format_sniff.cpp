// SPDX-License-Identifier: BSD-3-Clause
// A recording told by its content: the repository's real bags and captures,
// text of each shape, and the option named for each wrong --format.
#include "input/format_sniff.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string kData = SCANPILOT_SOURCE_DIR "/tests/data/";
const std::string kCaptures = SCANPILOT_SOURCE_DIR "/captures/";

Sniffed Text(const std::string& s) { return SniffBytes(reinterpret_cast<const unsigned char*>(s.data()), s.size()); }

std::string Numbers(int count, const char* sep = " ") {
  std::string s;
  for (int i = 0; i < count; ++i) s += (i > 0 ? sep : "") + std::to_string(0.5 + i % 7);
  return s;
}

TEST(FormatSniff, RealBagsAndCaptures) {
  EXPECT_EQ(SniffPath(kData + "people-walking-laser.bag").content, Content::kRosbag1);
  EXPECT_EQ(SniffPath(kData + "ros2-straight").content, Content::kRos2);
  EXPECT_EQ(SniffPath(kData + "ros2-straight/mumble_imu_lidar_bag_0.db3").content, Content::kRos2);
  EXPECT_EQ(SniffPath(kData + "ros2-mcap/straight-plain.mcap").content, Content::kRos2);
  EXPECT_EQ(SniffPath(kData + "ros2-mcap/straight-zstd").content, Content::kRos2);
  // A folder without metadata.yaml, a missing path and a pipe say nothing.
  EXPECT_EQ(SniffPath(kData).content, Content::kUnknown);
  EXPECT_EQ(SniffPath(kData + "no-such-file").content, Content::kUnknown);
  EXPECT_EQ(SniffPath("-").content, Content::kUnknown);
  const struct {
    const char* file;
    const char* protocol;
  } captures[] = {
      {"ld06.bin", "ld06"}, {"rplidar.bin", "rplidar"}, {"ydlidar.bin", "ydlidar"}, {"xv11-lds.bin", "lds"}};
  for (const auto& c : captures) {
    const Sniffed s = SniffPath(kCaptures + c.file);
    ASSERT_EQ(s.content, Content::kRaw) << c.file;
    EXPECT_STREQ(s.protocol, c.protocol) << c.file;
  }
  // Text is never taken for a protocol (a ranges log once passed for rplidar).
  EXPECT_EQ(SniffPath(kCaptures + "README.md").content, Content::kUnknown);
}

TEST(FormatSniff, TextShapes) {
  const std::string degrees = Numbers(360) + "\n";
  EXPECT_EQ(Text("# recorded\n\n" + degrees + degrees).content, Content::kDegrees);
  EXPECT_EQ(Text(Numbers(360, ",") + "\r\n" + Numbers(360, ", ") + "\r\n").content, Content::kDegrees);
  EXPECT_EQ(Text("# zero at 37.5\n0.037 1263 38\n0.754 1249\n1.320 0 0\n").content, Content::kSamples);
  EXPECT_EQ(Text(Numbers(468, ",") + "\n" + Numbers(470, ",") + "\n").content, Content::kRanges);
  // A header line of its own does not decide; an unfinished last line is not counted.
  EXPECT_EQ(Text("angle range\n1 2\n3 4\n5 6\n7").content, Content::kSamples);
  EXPECT_EQ(Text("hello world\nthis is prose\n").content, Content::kUnknown);
  // One whole line tells nothing; a degrees file with one line too long is no ranges log.
  EXPECT_EQ(Text("0.037 1263 38\n").content, Content::kUnknown);
  EXPECT_EQ(Text(degrees + Numbers(361) + "\n" + degrees).content, Content::kUnknown);
  EXPECT_EQ(Text("0.037 1263 38\n" + degrees).content, Content::kUnknown);
  EXPECT_EQ(Text(Numbers(360)).content, Content::kUnknown);  // no whole line
  EXPECT_EQ(Text("").content, Content::kUnknown);
  const std::string noise("\x01\x02\x00\xff\x13\x37\x00\x00\x42\x10", 10);
  EXPECT_EQ(Text(noise + noise + noise).content, Content::kBinary);
}

TEST(FormatSniff, AdviceNamesTheFormat) {
  const Sniffed bag = SniffPath(kData + "people-walking-laser.bag");
  EXPECT_EQ(FormatAdvice(bag, ScanFormat::kDegrees, nullptr, ""), "a ROS 1 bag: replay it with --format rosbag");
  EXPECT_EQ(FormatAdvice(bag, ScanFormat::kRosbag2, nullptr, ""), "a ROS 1 bag: replay it with --format rosbag");
  EXPECT_EQ(FormatAdvice(bag, ScanFormat::kRosbag, nullptr, ""), "");
  const Sniffed ros2 = SniffPath(kData + "ros2-straight");
  EXPECT_EQ(FormatAdvice(ros2, ScanFormat::kLds, "ld06", ""), "a ROS 2 bag folder: replay it with --format rosbag2");
  EXPECT_EQ(FormatAdvice(ros2, ScanFormat::kRosbag2, nullptr, ""), "");

  const Sniffed ld06 = SniffPath(kCaptures + "ld06.bin");
  EXPECT_EQ(FormatAdvice(ld06, ScanFormat::kDegrees, nullptr, "ld06, ld19"),
            "a scanner's raw serial stream: replay it with --format ld06, or the model's --scanner (ld06, ld19) "
            "for its layout too");
  EXPECT_EQ(FormatAdvice(ld06, ScanFormat::kLds, "ld06", "ld06, ld19"), "");

  const Sniffed samples = Text("0.037 1263 38\n0.754 1249 23\n");
  EXPECT_EQ(FormatAdvice(samples, ScanFormat::kDegrees, nullptr, ""),
            "text of one 'angle range' sample a line: replay it with --format samples");
  EXPECT_EQ(FormatAdvice(samples, ScanFormat::kSamples, nullptr, ""), "");
  const Sniffed degrees = Text(Numbers(360) + "\n" + Numbers(360) + "\n");
  EXPECT_EQ(FormatAdvice(degrees, ScanFormat::kSamples, nullptr, ""),
            "text of 360 readings a line: replay it with no --format");
  EXPECT_EQ(FormatAdvice(degrees, ScanFormat::kRanges, nullptr, ""), "");  // 360 even ranges are a turn too
  EXPECT_EQ(FormatAdvice(degrees, ScanFormat::kRosbag, nullptr, ""),
            "text of 360 readings a line: replay it with no --format");
  const Sniffed ranges = Text(Numbers(468) + "\n" + Numbers(468) + "\n");
  EXPECT_EQ(FormatAdvice(ranges, ScanFormat::kDegrees, nullptr, ""),
            "text of one turn of ranges a line: replay it with --format ranges");
  EXPECT_EQ(FormatAdvice(ranges, ScanFormat::kLds, "rplidar", ""),
            "text of one turn of ranges a line: replay it with --format ranges");

  const std::string noise("\x01\x02\x00\xff\x13\x37\x00\x00\x42\x10", 10);
  const Sniffed binary = Text(noise + noise);
  EXPECT_NE(FormatAdvice(binary, ScanFormat::kDegrees, nullptr, "").find("--scanner list"), std::string::npos);
  EXPECT_EQ(FormatAdvice(binary, ScanFormat::kLds, "lds", ""), "");
  EXPECT_EQ(FormatAdvice(Sniffed{}, ScanFormat::kDegrees, nullptr, ""), "");
}

}  // namespace
