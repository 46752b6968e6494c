// SPDX-License-Identifier: BSD-3-Clause
#include "bag_scans.h"

#include <rosbag/bag.h>
#include <rosbag/view.h>
#include <sensor_msgs/LaserScan.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <set>

namespace {

constexpr const char* kLaserScanType = "sensor_msgs/LaserScan";

// What rosbag writes a message into: our reused buffer, within the bound.
struct ByteSink {
  std::vector<std::uint8_t>* bytes;
  std::uint8_t* advance(std::uint32_t n) {
    if (n > BagScans::kMaxMessageBytes) throw std::length_error("message too large");
    bytes->resize(n);
    return bytes->data();
  }
};

class Reader {
 public:
  Reader(const std::uint8_t* data, std::size_t size) : p_(data), left_(size) {}
  bool U32(std::uint32_t& v) { return Bytes(&v, sizeof v); }
  bool F32(float& v) { return Bytes(&v, sizeof v); }
  bool String(std::string& s) {
    std::uint32_t n = 0;
    if (!U32(n) || n > left_) return false;
    s.assign(reinterpret_cast<const char*>(p_), n);
    Skip(n);
    return true;
  }
  // The length is checked against what is left before anything is allocated.
  bool Floats(std::vector<float>& v) {
    std::uint32_t n = 0;
    if (!U32(n) || n > left_ / sizeof(float)) return false;
    v.resize(n);
    return n == 0 || Bytes(v.data(), n * sizeof(float));
  }
  bool Done() const { return left_ == 0; }

 private:
  // Little-endian on the wire, as on every target we build for.
  bool Bytes(void* out, std::size_t n) {
    if (n > left_) return false;
    std::memcpy(out, p_, n);
    Skip(n);
    return true;
  }
  void Skip(std::size_t n) {
    p_ += n;
    left_ -= n;
  }
  const std::uint8_t* p_;
  std::size_t left_;
};

// Why `path` is no bag to open, or empty: said plainly before rosbag tries.
std::string NotABag(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return std::strerror(errno);
  char magic[9] = {};
  const std::size_t got = std::fread(magic, 1, sizeof magic, f);
  std::fclose(f);
  if (got < sizeof magic || std::memcmp(magic, "#ROSBAG V", sizeof magic) != 0) return "not a ROS bag file";
  return std::string();
}

std::string Join(const std::vector<std::string>& v) {
  std::string s;
  for (const std::string& t : v) s += (s.empty() ? "" : ", ") + t;
  return s;
}

// The exception's own words on one line.
std::string OneLine(const char* what) {
  std::string s = what != nullptr ? what : "unknown error";
  for (char& c : s)
    if (c == '\n' || c == '\r' || c == '\t') c = ' ';
  return s;
}

}  // namespace

bool ParseLaserScan(const std::uint8_t* data, std::size_t size, BagScan& s) {
  Reader r(data, size);
  return r.U32(s.seq) && r.U32(s.stamp_sec) && r.U32(s.stamp_nsec) && r.String(s.frame_id) && r.F32(s.angle_min) &&
         r.F32(s.angle_max) && r.F32(s.angle_increment) && r.F32(s.time_increment) && r.F32(s.scan_time) &&
         r.F32(s.range_min) && r.F32(s.range_max) && r.Floats(s.ranges) && r.Floats(s.intensities) && r.Done();
}

struct BagScans::Impl {
  rosbag::Bag bag;
  std::unique_ptr<rosbag::View> view;
  rosbag::View::iterator it;
  std::vector<std::uint8_t> bytes;
  std::string path;
};

BagScans::BagScans() = default;
BagScans::~BagScans() = default;

bool BagScans::Open(const std::string& path, const std::string& topic) {
  impl_.reset(new Impl());
  topics_.clear();
  topic_.clear();
  count_ = read_ = 0;
  error_.clear();
  impl_->path = path;
  const std::string expected_md5 = ros::message_traits::MD5Sum<sensor_msgs::LaserScan>::value();
  if (const std::string why = NotABag(path); !why.empty()) {
    error_ = path + ": " + why;
    impl_.reset();
    return false;
  }
  try {
    impl_->bag.open(path, rosbag::bagmode::Read);
    std::set<std::string> found;
    rosbag::View all(impl_->bag);
    for (const rosbag::ConnectionInfo* c : all.getConnections()) {
      if (c->datatype != kLaserScanType) continue;
      if (c->md5sum != expected_md5) {
        error_ = path + ": topic " + c->topic + " holds another version of " + kLaserScanType;
        return false;
      }
      found.insert(c->topic);
    }
    topics_.assign(found.begin(), found.end());
    if (topics_.empty()) {
      error_ = path + ": no " + kLaserScanType + " topic in the bag";
      return false;
    }
    if (topic.empty() && topics_.size() > 1) {
      error_ = path + ": several LaserScan topics (" + Join(topics_) + "): choose one with --topic";
      return false;
    }
    topic_ = topic.empty() ? topics_.front() : topic;
    if (!found.count(topic_)) {
      error_ = path + ": no LaserScan topic " + topic_ + " (LaserScan topics: " + Join(topics_) + ")";
      topic_.clear();
      return false;
    }
    impl_->view.reset(new rosbag::View(impl_->bag, rosbag::TopicQuery(topic_)));
    count_ = impl_->view->size();
    impl_->it = impl_->view->begin();
  } catch (const std::exception& e) {
    error_ = path + ": truncated or corrupt bag (" + OneLine(e.what()) + ")";
    impl_.reset();
    return false;
  }
  return true;
}

bool BagScans::Next(BagScan& scan) {
  if (!impl_ || !impl_->view || !error_.empty()) return false;
  try {
    if (impl_->it == impl_->view->end()) return false;
    const rosbag::MessageInstance& m = *impl_->it;
    if (m.size() > kMaxMessageBytes) {
      error_ = impl_->path + ": message " + std::to_string(read_) + " on " + topic_ + " is too large (" +
               std::to_string(m.size()) + " bytes): corrupt bag?";
      return false;
    }
    ByteSink sink{&impl_->bytes};
    m.write(sink);
    if (!ParseLaserScan(impl_->bytes.data(), impl_->bytes.size(), scan)) {
      error_ = impl_->path + ": message " + std::to_string(read_) + " on " + topic_ + " is not a whole LaserScan";
      return false;
    }
    ++impl_->it;
  } catch (const std::exception& e) {
    error_ = impl_->path + ": truncated or corrupt bag at message " + std::to_string(read_) + " (" +
             OneLine(e.what()) + ")";
    return false;
  }
  ++read_;
  return true;
}
