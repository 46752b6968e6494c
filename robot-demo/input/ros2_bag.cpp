// SPDX-License-Identifier: BSD-3-Clause
#include "input/ros2_bag.h"

#include <yaml-cpp/yaml.h>
#include <zstd.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>

#include "input/ros2_storage.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kLaserScanType = "sensor_msgs/msg/LaserScan";
constexpr std::uintmax_t kMaxMetadataBytes = 1u << 20;

// CDR fields, aligned to their size from the start of the body (after the
// 4-byte encapsulation header), each checked against what is left.
class CdrReader {
 public:
  CdrReader(const std::uint8_t* body, std::size_t size, bool swap) : p_(body), size_(size), swap_(swap) {}
  bool U32(std::uint32_t& v) {
    if (!Align4() || size_ - pos_ < 4) return false;
    std::memcpy(&v, p_ + pos_, 4);
    if (swap_) v = (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
    pos_ += 4;
    return true;
  }
  bool I32(std::int32_t& v) {
    std::uint32_t u = 0;
    if (!U32(u)) return false;
    std::memcpy(&v, &u, 4);
    return true;
  }
  bool F32(float& v) {
    std::uint32_t u = 0;
    if (!U32(u)) return false;
    std::memcpy(&v, &u, 4);
    return true;
  }
  // A length that counts the terminating NUL, then the characters.
  bool String(std::string& s) {
    std::uint32_t n = 0;
    if (!U32(n) || n > size_ - pos_) return false;
    const char* c = reinterpret_cast<const char*>(p_ + pos_);
    s.assign(c, n > 0 && c[n - 1] == '\0' ? n - 1 : n);
    pos_ += n;
    return true;
  }
  // The count is checked against what is left before anything is allocated.
  bool Floats(std::vector<float>& v) {
    std::uint32_t n = 0;
    if (!U32(n) || n > (size_ - pos_) / 4) return false;
    v.resize(n);
    for (float& f : v)
      if (!F32(f)) return false;
    return true;
  }
  // Only the padding that aligns a following field may be left over.
  bool Done() const { return size_ - pos_ < 4; }

 private:
  bool Align4() {
    const std::size_t pad = (4 - pos_ % 4) % 4;
    if (pad > size_ - pos_) return false;
    pos_ += pad;
    return true;
  }
  const std::uint8_t* p_;
  std::size_t size_;
  std::size_t pos_ = 0;
  bool swap_;
};

std::string Join(const std::vector<std::string>& v) {
  std::string s;
  for (const std::string& t : v) s += (s.empty() ? "" : ", ") + t;
  return s;
}

// Control characters out of names that reach a terminal.
std::string Printable(std::string s) {
  for (char& c : s)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return s;
}

}  // namespace

bool ParseCdrLaserScan(const std::uint8_t* data, std::size_t size, Ros2Scan& s) {
  // Encapsulation: 0 0 for big-endian CDR, 0 1 for little-endian, then two option bytes.
  if (size < 4 || data[0] != 0 || data[1] > 1) return false;
  const bool little = data[1] == 1;
  const std::uint16_t one = 1;
  std::uint8_t host_little = 0;
  std::memcpy(&host_little, &one, 1);
  CdrReader r(data + 4, size - 4, little != (host_little == 1));
  return r.I32(s.stamp_sec) && r.U32(s.stamp_nanosec) && r.String(s.frame_id) && r.F32(s.angle_min) &&
         r.F32(s.angle_max) && r.F32(s.angle_increment) && r.F32(s.time_increment) && r.F32(s.scan_time) &&
         r.F32(s.range_min) && r.F32(s.range_max) && r.Floats(s.ranges) && r.Floats(s.intensities) && r.Done();
}

namespace {

// A file named in metadata.yaml, inside the bag's folder. Older bags name
// it from the folder's parent; those are found by their last component.
bool BagFile(const fs::path& folder, const std::string& listed, std::string& into, std::string& why) {
  const fs::path rel(listed);
  if (listed.empty() || rel.is_absolute() ||
      std::any_of(rel.begin(), rel.end(), [](const fs::path& part) { return part == ".."; })) {
    why = "metadata.yaml lists a file outside the bag's folder: '" + Printable(listed) + "'";
    return false;
  }
  std::error_code ec;
  into = (folder / rel).string();
  if (!fs::exists(into, ec) && fs::exists(folder / rel.filename(), ec)) into = (folder / rel.filename()).string();
  return true;
}

// A bag compressed file by file: `from` (one zstd file) unpacked into a new
// temporary file, in bounded memory. Its path, or empty with `why` set.
std::string Unpack(const std::string& from, std::string& why) {
  std::FILE* in = std::fopen(from.c_str(), "rb");
  if (in == nullptr) {
    why = std::strerror(errno);
    return std::string();
  }
  const char* dir = std::getenv("TMPDIR");
  std::string path = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/robot-demo-bag-XXXXXX";
  const int fd = ::mkstemp(&path[0]);
  std::FILE* out = fd < 0 ? nullptr : ::fdopen(fd, "wb");
  if (out == nullptr) {
    why = std::string("cannot make a temporary file to unpack it into: ") + std::strerror(errno);
    if (fd >= 0) ::close(fd);
    std::fclose(in);
    return std::string();
  }
  ZSTD_DStream* z = ZSTD_createDStream();
  std::vector<char> ib(ZSTD_DStreamInSize()), ob(ZSTD_DStreamOutSize());
  std::size_t last = 1, n = 0;
  bool ok = z != nullptr;
  while (ok && why.empty() && (n = std::fread(ib.data(), 1, ib.size(), in)) > 0) {
    ZSTD_inBuffer input{ib.data(), n, 0};
    bool full = true;  // the output buffer may hold more after the input is used
    while (why.empty() && (input.pos < input.size || full)) {
      ZSTD_outBuffer output{ob.data(), ob.size(), 0};
      last = ZSTD_decompressStream(z, &output, &input);
      if (ZSTD_isError(last))
        why = "not a whole zstd file";
      else if (std::fwrite(ob.data(), 1, output.pos, out) != output.pos)
        why = std::string("cannot write the unpacked file: ") + std::strerror(errno);
      full = output.pos == output.size;
    }
  }
  if (why.empty() && std::ferror(in)) why = std::strerror(errno);
  if (why.empty() && (!ok || last != 0)) why = "a cut zstd file";
  if (std::fclose(out) != 0 && why.empty())
    why = std::string("cannot write the unpacked file: ") + std::strerror(errno);
  std::fclose(in);
  ZSTD_freeDStream(z);
  if (why.empty()) return path;
  ::unlink(path.c_str());
  return std::string();
}

}  // namespace

void Ros2Bag::DropUnpacked() {
  for (const std::string& t : unpacked_) ::unlink(t.c_str());
  unpacked_.clear();
}

Ros2Bag::Ros2Bag() = default;

Ros2Bag::~Ros2Bag() {
  storage_.reset();
  DropUnpacked();
  ZSTD_freeDCtx(static_cast<ZSTD_DCtx*>(zstd_));
}

bool Ros2Bag::Fail(const std::string& why) {
  if (error_.empty()) error_ = path_ + ": " + why;
  storage_.reset();
  return false;
}

bool Ros2Bag::OpenFolder(const std::string& path) {
  const fs::path folder(path);
  std::error_code ec;
  const fs::path meta = folder / "metadata.yaml";
  const std::uintmax_t bytes = fs::file_size(meta, ec);
  if (ec) return Fail("a folder without metadata.yaml is no ROS 2 bag");
  if (bytes > kMaxMetadataBytes) return Fail("metadata.yaml of " + std::to_string(bytes) + " bytes: not a bag's");
  try {
    const YAML::Node info = YAML::LoadFile(meta.string())["rosbag2_bagfile_information"];
    if (!info.IsMap()) return Fail("metadata.yaml has no rosbag2_bagfile_information");
    const std::string mode = info["compression_mode"] ? info["compression_mode"].as<std::string>() : "";
    const std::string format = info["compression_format"] ? info["compression_format"].as<std::string>() : "";
    const bool per_file = mode == "FILE";
    if (!mode.empty() && mode != "NONE") {
      if ((mode != "MESSAGE" && !per_file) || format != "zstd")
        return Fail("compressed " + Printable(per_file ? "file by file" : mode) + " with '" + Printable(format) +
                    "'; robot-demo reads bags compressed with zstd only");
      if (!per_file) compression_ = format;
    }
    const YAML::Node list = info["relative_file_paths"];
    if (!list.IsSequence() || list.size() == 0) return Fail("metadata.yaml lists no storage file");
    for (const YAML::Node& n : list) {
      std::string file, why;
      if (!BagFile(folder, n.as<std::string>(), file, why)) return Fail(why);
      names_.push_back(fs::path(file).filename().string());
      if (per_file) {
        const std::string unpacked = Unpack(file, why);
        if (unpacked.empty()) return Fail(Printable(names_.back() + ": " + why));
        unpacked_.push_back(unpacked);
        file = unpacked;
      }
      files_.push_back(file);
    }
  } catch (const YAML::Exception& e) {
    std::string what = e.what();
    return Fail("metadata.yaml: " + Printable(what));
  }
  return true;
}

// The topics of every file, so that the choice holds for all of them.
bool Ros2Bag::ReadTopics(std::unique_ptr<Ros2Storage>& first) {
  std::set<std::string> found;
  for (std::size_t i = 0; i < files_.size(); ++i) {
    std::string why;
    std::unique_ptr<Ros2Storage> s = OpenStorage(files_[i], why);
    std::vector<TopicInfo> infos;
    const std::string where = names_[i].empty() ? std::string() : names_[i] + ": ";
    if (!s || !s->Topics(infos, why)) return Fail(Printable(where + why));
    for (const TopicInfo& t : infos) {
      if (t.type != kLaserScanType) continue;
      if (t.format != "cdr")
        return Fail("topic " + Printable(t.name) + " is serialized as '" + Printable(t.format) + "', not CDR");
      found.insert(t.name);
    }
    if (i == 0) first = std::move(s);
  }
  topics_.assign(found.begin(), found.end());
  return true;
}

bool Ros2Bag::Open(const std::string& path, const std::string& topic) {
  storage_.reset();
  DropUnpacked();
  files_.clear();
  names_.clear();
  topics_.clear();
  topic_.clear();
  compression_.clear();
  file_ = read_ = 0;
  error_.clear();
  path_ = path;
  std::error_code ec;
  fs::path folder(path);
  if (folder.filename() == "metadata.yaml" && fs::is_regular_file(folder, ec))
    folder = folder.has_parent_path() ? folder.parent_path() : fs::path(".");
  if (fs::is_directory(folder, ec)) {
    if (!OpenFolder(folder.string())) return false;
  } else {
    files_.push_back(path);
    names_.push_back(std::string());
  }
  std::unique_ptr<Ros2Storage> first;  // kept: an MCAP file without a summary is read whole to list its channels
  if (!ReadTopics(first)) return false;
  if (topics_.empty()) return Fail(std::string("no ") + kLaserScanType + " topic in the bag");
  if (topic.empty() && topics_.size() > 1)
    return Fail("several LaserScan topics (" + Printable(Join(topics_)) + "): choose one with --topic");
  topic_ = topic.empty() ? topics_.front() : topic;
  if (!std::binary_search(topics_.begin(), topics_.end(), topic_)) {
    const std::string missing = topic_;
    topic_.clear();
    return Fail("no LaserScan topic " + Printable(missing) + " (LaserScan topics: " + Printable(Join(topics_)) + ")");
  }
  std::string why;
  storage_ = std::move(first);
  if (!storage_->Select(topic_, why)) return Fail(Printable(why));
  return true;
}

bool Ros2Bag::OpenFile(std::size_t index) {
  file_ = index;
  std::string why;
  storage_ = OpenStorage(files_[index], why);
  std::vector<TopicInfo> infos;  // an MCAP file learns its channels here
  if (!storage_ || !storage_->Topics(infos, why) || !storage_->Select(topic_, why)) return Fail(Printable(why));
  return true;
}

bool Ros2Bag::Next(Ros2Scan& scan) {
  if (!error_.empty() || !storage_) return false;
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
  std::string why;
  int got;
  while ((got = storage_->Next(data, size, why)) == 0) {
    if (file_ + 1 == files_.size()) {
      storage_.reset();
      return false;
    }
    if (!OpenFile(file_ + 1)) return false;
  }
  const std::string which = "message " + std::to_string(read_) + " on " + Printable(topic_);
  if (got < 0) return Fail(Printable(why) + " at " + which);
  if (size > kMaxMessageBytes) return Fail(which + " is too large (" + std::to_string(size) + " bytes): corrupt bag?");
  if (compression_ == "zstd") {
    const unsigned long long n = ZSTD_getFrameContentSize(data, size);
    if (n == ZSTD_CONTENTSIZE_ERROR || n == ZSTD_CONTENTSIZE_UNKNOWN || n > kMaxMessageBytes)
      return Fail(which + " is not a whole zstd frame of at most " + std::to_string(kMaxMessageBytes) + " bytes");
    if (zstd_ == nullptr) zstd_ = ZSTD_createDCtx();
    inflated_.resize(static_cast<std::size_t>(n) + 1);
    const std::size_t out =
        ZSTD_decompressDCtx(static_cast<ZSTD_DCtx*>(zstd_), inflated_.data(), inflated_.size(), data, size);
    if (zstd_ == nullptr || ZSTD_isError(out) || out != n) return Fail(which + " does not decompress");
    data = inflated_.data();
    size = out;
  }
  if (!ParseCdrLaserScan(data, size, scan)) return Fail(which + " is not a whole LaserScan");
  ++read_;
  return true;
}
