// SPDX-License-Identifier: BSD-3-Clause
// Reading LaserScans out of ROS 1 bags: a real recording, bags made here,
// and broken files.
#include "bag_scans.h"

#include <gtest/gtest.h>
#include <rosbag/bag.h>
#include <sensor_msgs/LaserScan.h>
#include <std_msgs/String.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

const std::string kBag = SCANPILOT_TEST_BAG;
const std::string kWork = SCANPILOT_TEST_WORK;

std::vector<char> Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Write(const std::string& name, const char* data, std::size_t n) {
  const std::string path = kWork + "/" + name;
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(data, static_cast<std::streamsize>(n));
  return path;
}

sensor_msgs::LaserScan Laser(std::uint32_t seq, std::size_t n) {
  sensor_msgs::LaserScan m;
  m.header.seq = seq;
  m.header.stamp = ros::Time(100 + seq, 5);
  m.header.frame_id = "laser";
  m.angle_min = -1.0f;
  m.angle_max = 1.0f;
  m.angle_increment = 0.25f;
  m.range_min = 0.1f;
  m.range_max = 8.0f;
  for (std::size_t k = 0; k < n; ++k) m.ranges.push_back(static_cast<float>(seq) + 0.5f * static_cast<float>(k));
  return m;
}

// A bag written here: LaserScans on each of `laser_topics`, a String on /chatter.
std::string MakeBag(const std::string& name, const std::vector<std::string>& laser_topics) {
  const std::string path = kWork + "/" + name;
  rosbag::Bag bag(path, rosbag::bagmode::Write);
  std_msgs::String s;
  s.data = "hello";
  bag.write("/chatter", ros::Time(99), s);
  std::uint32_t seq = 0;
  for (const std::string& t : laser_topics)
    for (int k = 0; k < 3; ++k, ++seq) bag.write(t, ros::Time(100 + seq), Laser(seq, 9));
  bag.close();
  return path;
}

bool OneLine(const std::string& s) { return !s.empty() && s.find('\n') == std::string::npos; }

TEST(BagScans, RealRecordingWholeAndInOrder) {
  BagScans bag;
  ASSERT_TRUE(bag.Open(kBag, "")) << bag.Error();
  EXPECT_EQ(bag.Topics(), std::vector<std::string>{"/scan"});
  EXPECT_EQ(bag.Topic(), "/scan");
  EXPECT_EQ(bag.Count(), 1265u);
  BagScan scan;
  std::size_t n = 0;
  const float* storage = nullptr;
  double last_stamp = 0.0;
  std::uint32_t last_seq = 0;
  while (bag.Next(scan)) {
    ASSERT_EQ(scan.ranges.size(), 512u) << n;
    if (n == 0) storage = scan.ranges.data();
    EXPECT_EQ(scan.ranges.data(), storage) << "one message's memory, reused";
    EXPECT_FLOAT_EQ(scan.angle_min, -1.5707964f);
    EXPECT_NEAR(scan.angle_increment * 180.0 / M_PI, 0.3516, 1e-4);
    EXPECT_NEAR(scan.angle_min + 511.0 * scan.angle_increment, scan.angle_max, 1e-5);
    EXPECT_FLOAT_EQ(scan.range_max, 5.6f);
    EXPECT_EQ(scan.frame_id, "laser");
    const double stamp = scan.stamp_sec + scan.stamp_nsec * 1e-9;
    EXPECT_GE(stamp, last_stamp) << n;
    if (n > 0) {
      EXPECT_GT(scan.seq, last_seq) << n;
    }
    last_stamp = stamp;
    last_seq = scan.seq;
    ++n;
  }
  EXPECT_EQ(bag.Error(), "");
  EXPECT_EQ(n, 1265u);
  EXPECT_NEAR(last_stamp - 1403201183.7, 126.0, 1.0) << "about 126 s of scans";
  EXPECT_FALSE(bag.Next(scan)) << "the end stays the end";
}

TEST(BagScans, FieldsComeBackAsWritten) {
  const std::string path = MakeBag("two-topics.bag", {"/front", "/rear"});
  BagScans bag;
  ASSERT_TRUE(bag.Open(path, "/rear")) << bag.Error();
  EXPECT_EQ(bag.Topics(), (std::vector<std::string>{"/front", "/rear"}));
  EXPECT_EQ(bag.Count(), 3u);
  BagScan scan;
  for (std::uint32_t seq = 3; seq < 6; ++seq) {
    ASSERT_TRUE(bag.Next(scan)) << bag.Error();
    const sensor_msgs::LaserScan want = Laser(seq, 9);
    EXPECT_EQ(scan.seq, seq);
    EXPECT_EQ(scan.stamp_sec, want.header.stamp.sec);
    EXPECT_EQ(scan.stamp_nsec, 5u);
    EXPECT_EQ(scan.angle_min, -1.0f);
    EXPECT_EQ(scan.angle_increment, 0.25f);
    EXPECT_EQ(scan.range_min, 0.1f);
    EXPECT_EQ(scan.range_max, 8.0f);
    EXPECT_EQ(scan.ranges, want.ranges);
    EXPECT_TRUE(scan.intensities.empty());
  }
  EXPECT_FALSE(bag.Next(scan));
  EXPECT_EQ(bag.Error(), "");
}

TEST(BagScans, TopicChoiceErrorsNameTheTopics) {
  BagScans bag;
  const std::string two = MakeBag("two-topics.bag", {"/front", "/rear"});
  EXPECT_FALSE(bag.Open(two, ""));
  EXPECT_EQ(bag.Error(), two + ": several LaserScan topics (/front, /rear): choose one with --topic");
  EXPECT_FALSE(bag.Open(two, "/chatter"));
  EXPECT_EQ(bag.Error(), two + ": no LaserScan topic /chatter (LaserScan topics: /front, /rear)");
  const std::string none = MakeBag("no-laser.bag", {});
  EXPECT_FALSE(bag.Open(none, ""));
  EXPECT_EQ(bag.Error(), none + ": no sensor_msgs/LaserScan topic in the bag");
  BagScan scan;
  EXPECT_FALSE(bag.Next(scan)) << "nothing to read after a failed open";
}

TEST(BagScans, TruncatedOrForeignFilesAreOneLineErrors) {
  const std::vector<char> whole = Bytes(kBag);
  ASSERT_EQ(whole.size(), 2745748u);
  for (std::size_t keep : {std::size_t{13}, std::size_t{4096}, whole.size() / 2, whole.size() - 1}) {
    const std::string path = Write("truncated.bag", whole.data(), keep);
    BagScans bag;
    EXPECT_FALSE(bag.Open(path, "")) << keep;
    EXPECT_TRUE(OneLine(bag.Error())) << bag.Error();
    EXPECT_EQ(bag.Error().rfind(path + ": truncated or corrupt bag (", 0), 0u) << bag.Error();
  }
  const std::string text = "not a bag\n";
  BagScans bag;
  const std::string text_path = Write("text.bag", text.data(), text.size());
  EXPECT_FALSE(bag.Open(text_path, ""));
  EXPECT_EQ(bag.Error(), text_path + ": not a ROS bag file");
  EXPECT_FALSE(bag.Open(kWork + "/no-such.bag", ""));
  EXPECT_EQ(bag.Error(), kWork + "/no-such.bag: No such file or directory");
}

std::vector<std::uint8_t> Serialized(const sensor_msgs::LaserScan& m) {
  std::vector<std::uint8_t> out(ros::serialization::serializationLength(m));
  ros::serialization::OStream s(out.data(), static_cast<std::uint32_t>(out.size()));
  ros::serialization::serialize(s, m);
  return out;
}

TEST(BagScans, ParserTakesExactlyOneMessage) {
  sensor_msgs::LaserScan m = Laser(7, 5);
  m.intensities = {1.0f, 2.0f};
  const std::vector<std::uint8_t> bytes = Serialized(m);
  BagScan scan;
  ASSERT_TRUE(ParseLaserScan(bytes.data(), bytes.size(), scan));
  EXPECT_EQ(scan.ranges, m.ranges);
  EXPECT_EQ(scan.intensities, m.intensities);
  EXPECT_EQ(scan.frame_id, "laser");
  for (std::size_t keep = 0; keep < bytes.size(); ++keep)
    EXPECT_FALSE(ParseLaserScan(bytes.data(), keep, scan)) << keep;
  std::vector<std::uint8_t> longer = bytes;
  longer.push_back(0);
  EXPECT_FALSE(ParseLaserScan(longer.data(), longer.size(), scan));
  // A corrupt count of ranges claims 16 GB: refused before anything is allocated.
  std::vector<std::uint8_t> huge = bytes;
  const std::size_t count_at = 4 * 3 + 4 + 5 + 4 * 7;  // seq, stamp, frame_id, seven floats
  ASSERT_EQ(huge[count_at], 5u);
  huge[count_at] = huge[count_at + 1] = huge[count_at + 2] = huge[count_at + 3] = 0xff;
  EXPECT_FALSE(ParseLaserScan(huge.data(), huge.size(), scan));
}

}  // namespace
