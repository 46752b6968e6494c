// SPDX-License-Identifier: BSD-3-Clause
#include "input/format_sniff.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "input/lds_source.h"

namespace {

// Enough for a few lines of 360 readings, and for a scanner's packets.
constexpr std::size_t kHeadBytes = 16384;
// Lines of text looked at; the first one may be a header of its own.
constexpr int kLinesToShape = 8;

bool StartsWith(const unsigned char* data, std::size_t n, std::string_view magic) {
  return n >= magic.size() && std::memcmp(data, magic.data(), magic.size()) == 0;
}

// Text: no NUL, and control characters other than tabs and line ends rare.
bool LooksLikeText(const unsigned char* data, std::size_t n) {
  std::size_t odd = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char c = data[i];
    if (c == 0) return false;
    if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0x7f) ++odd;
  }
  return odd * 100 <= n;
}

// The numbers on one line (spaces or commas between), or -1 when a field is
// not a number.
long CountNumbers(std::string_view line) {
  long count = 0;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == ',')) ++i;
    if (i == line.size()) break;
    std::size_t j = i;
    while (j < line.size() && line[j] != ' ' && line[j] != '\t' && line[j] != ',') ++j;
    const std::string field(line.substr(i, j - i));
    char* end = nullptr;
    std::strtod(field.c_str(), &end);
    if (end != field.c_str() + field.size()) return -1;
    ++count;
    i = j;
  }
  return count;
}

// The text format whose lines these are, by how many numbers they hold: all
// must agree, and at least two whole lines inside the head say so; a first
// line that is not numbers (a header) is passed over, blank lines and
// comments too. A file of 360-number lines with one bad line is no ranges log.
Content TextShape(const unsigned char* data, std::size_t n) {
  const std::string_view text(reinterpret_cast<const char*>(data), n);
  int lines = 0, degrees = 0, samples = 0, ranges = 0;
  std::size_t start = 0;
  while (lines < kLinesToShape) {
    const std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) break;
    const std::string_view line = text.substr(start, end - start);
    start = end + 1;
    const std::size_t first = line.find_first_not_of(" \t");
    if (first == std::string_view::npos || line[first] == '#') continue;
    const long k = CountNumbers(line);
    if (k < 0 && lines == 0 && degrees + samples + ranges == 0) {
      lines = -1;  // the header; counts as no line
    } else if (k == 360) {
      ++degrees;
    } else if (k == 2 || k == 3) {
      ++samples;
    } else if (k >= 4) {
      ++ranges;
    } else {
      return Content::kUnknown;
    }
    ++lines;
  }
  if (lines < 2) return Content::kUnknown;
  if (degrees == lines) return Content::kDegrees;
  if (samples == lines) return Content::kSamples;
  if (ranges == lines) return Content::kRanges;
  return Content::kUnknown;
}

Sniffed Make(Content c, const char* what, const char* protocol = nullptr) {
  Sniffed s;
  s.content = c;
  s.what = what;
  s.protocol = protocol;
  return s;
}

const char* TextFormatName(Content c) {
  switch (c) {
    case Content::kDegrees: return "degrees";
    case Content::kRanges: return "ranges";
    case Content::kSamples: return "samples";
    default: return nullptr;
  }
}

}  // namespace

Sniffed SniffBytes(const unsigned char* data, std::size_t n) {
  if (n == 0) return Sniffed{};
  if (StartsWith(data, n, "#ROSBAG V2.0")) return Make(Content::kRosbag1, "a ROS 1 bag");
  if (StartsWith(data, n, std::string_view("SQLite format 3\0", 16)))
    return Make(Content::kRos2, "an sqlite3 file (a ROS 2 bag's storage)");
  if (StartsWith(data, n, "\x89MCAP0\r\n")) return Make(Content::kRos2, "an MCAP file (a ROS 2 bag)");
  if (StartsWith(data, n, "#ROSBAG")) return Make(Content::kRosbag1, "a ROS 1 bag of another version");
  if (LooksLikeText(data, n)) {
    switch (TextShape(data, n)) {
      case Content::kDegrees: return Make(Content::kDegrees, "text of 360 readings a line");
      case Content::kRanges: return Make(Content::kRanges, "text of one turn of ranges a line");
      case Content::kSamples: return Make(Content::kSamples, "text of one 'angle range' sample a line");
      default: return Sniffed{};
    }
  }
  if (const char* p = StreamLooksLikeAny(data, n)) return Make(Content::kRaw, "a scanner's raw serial stream", p);
  return Make(Content::kBinary, "binary data, not text");
}

Sniffed SniffPath(const std::string& path) {
  struct stat st {};
  if (path.empty() || path == "-" || ::stat(path.c_str(), &st) != 0) return Sniffed{};
  if (S_ISDIR(st.st_mode)) {
    struct stat meta {};
    if (::stat((path + "/metadata.yaml").c_str(), &meta) == 0 && S_ISREG(meta.st_mode))
      return Make(Content::kRos2, "a ROS 2 bag folder");
    return Sniffed{};
  }
  if (!S_ISREG(st.st_mode)) return Sniffed{};
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Sniffed{};
  std::vector<unsigned char> head(kHeadBytes);
  std::size_t got = 0;
  while (got < head.size()) {
    const ssize_t r = ::read(fd, head.data() + got, head.size() - got);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    got += static_cast<std::size_t>(r);
  }
  ::close(fd);
  return SniffBytes(head.data(), got);
}

std::string FormatAdvice(const Sniffed& s, ScanFormat format, const char* protocol, const std::string& models) {
  std::string use;
  switch (s.content) {
    case Content::kRosbag1:
      if (format == ScanFormat::kRosbag) return "";
      use = "--format rosbag";
      break;
    case Content::kRos2:
      if (format == ScanFormat::kRosbag2) return "";
      use = "--format rosbag2";
      break;
    case Content::kDegrees:
    case Content::kRanges:
    case Content::kSamples: {
      const bool text =
          format == ScanFormat::kDegrees || format == ScanFormat::kRanges || format == ScanFormat::kSamples;
      // A ranges line of 360 readings is a turn of the ranges format too.
      if (text && (format != ScanFormat::kDegrees || s.content == Content::kDegrees) &&
          (format != ScanFormat::kSamples || s.content == Content::kSamples))
        return "";
      use = s.content == Content::kDegrees ? "no --format" : std::string("--format ") + TextFormatName(s.content);
      break;
    }
    case Content::kRaw:
      if (format == ScanFormat::kLds && protocol != nullptr && std::strcmp(protocol, s.protocol) == 0) return "";
      use = std::string("--format ") + s.protocol;
      if (!models.empty()) use += ", or the model's --scanner (" + models + ") for its layout too";
      break;
    case Content::kBinary:
      if (format == ScanFormat::kLds || format == ScanFormat::kRosbag || format == ScanFormat::kRosbag2) return "";
      return std::string(s.what) +
             ": if it is a raw capture of a scanner's port, give its model with --scanner "
             "(--scanner list)";
    case Content::kUnknown: return "";
  }
  return std::string(s.what) + ": replay it with " + use;
}
