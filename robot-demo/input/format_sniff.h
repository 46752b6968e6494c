// SPDX-License-Identifier: BSD-3-Clause
// What a recording is, told by its content rather than its name or --format,
// so that a recording replayed in the wrong format gets the right option
// named instead of a parse error on its first bytes.
#ifndef SCANPILOT_INPUT_FORMAT_SNIFF_H
#define SCANPILOT_INPUT_FORMAT_SNIFF_H

#include <cstddef>
#include <string>

#include "input/scan_source.h"

enum class Content {
  kUnknown,  // nothing certain: empty, unreadable, or text of no known shape
  kRosbag1,  // "#ROSBAG V2.0"
  kRos2,     // a folder with metadata.yaml, an sqlite3 file or an MCAP file
  kDegrees,  // text, 360 numbers a line
  kRanges,   // text, a turn of 4 or more numbers a line (not 360)
  kSamples,  // text, "angle range [quality]" a line
  kRaw,      // binary: a scanner's serial stream in `protocol`
  kBinary,   // binary, no protocol known
};

struct Sniffed {
  Content content = Content::kUnknown;
  const char* protocol = nullptr;  // kRaw: as --format writes it ("ld06")
  const char* what = "";           // for people: "a ROS 1 bag", ...
};

// The first `n` bytes of a file.
Sniffed SniffBytes(const unsigned char* data, std::size_t n);
// A path: a folder (a ROS 2 bag when it holds metadata.yaml) or the first
// bytes of a regular file. Anything else (a pipe, a device) is kUnknown, so
// that nothing is consumed.
Sniffed SniffPath(const std::string& path);

// The option that replays what `s` is, when `format` (with `protocol` for
// kLds) does not fit it: "a ROS 1 bag: replay it with --format rosbag".
// Empty when it fits or nothing is certain.
// `models`: the --scanner names of the protocol a raw stream is in.
std::string FormatAdvice(const Sniffed& s, ScanFormat format, const char* protocol, const std::string& models);

#endif
