// SPDX-License-Identifier: BSD-3-Clause
// The recording formats robot-demo replays, each turned into 360-reading
// scans one at a time:
//   kDegrees  one scan per line, 360 robot-frame readings (scan_text.h);
//   kRanges   one turn per line, N >= 1 evenly spaced raw ranges, sample k at
//             sensor angle 360*k/N, binned by BinEvenScan;
//   kSamples  one sample per line, "angle range [anything]", binned by
//             BinSamples; a turn ends at a blank line or where the angle
//             falls back below the previous sample's.
// In the two scanner formats separators, comments and line ends are those of
// the default format.
#ifndef SCANPILOT_INPUT_SCAN_SOURCE_H
#define SCANPILOT_INPUT_SCAN_SOURCE_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "input/line_reader.h"
#include "input/scan_text.h"
#include "scanbin.h"

// More numbers than this on a line of samples: it holds a whole turn.
constexpr std::size_t kTurnLineValues = 16;

// kLds is a scanner's raw serial stream (input/lds_source.h), kRosbag a
// ROS 1 bag of LaserScans (input/bag_source.h) and kRosbag2 a ROS 2 bag
// (input/ros2_source.h), not text.
enum class ScanFormat { kDegrees, kRanges, kSamples, kLds, kRosbag, kRosbag2 };

class ScanSource {
 public:
  enum Result { kScan, kEnd, kError };
  // `layout` is used by the scanner formats only and must be valid for scanbin.
  ScanSource(std::FILE* in, ScanFormat format, const ScanLayout& layout,
             std::size_t max_line = kMaxLineBytes);
  // kScan: `scan` holds the next turn. kError is final: ErrorLine() (0 for
  // the whole input) and ErrorMessage() say why.
  Result Next(Scan& scan);
  std::uint64_t ErrorLine() const { return error_line_; }
  const std::string& ErrorMessage() const { return error_; }
  // The first line of the ranges format that held only 2 or 3 numbers (an
  // "angle range [quality]" sample, most likely), or 0.
  std::uint64_t FewValuesLine() const { return few_values_line_; }

 private:
  Result Fail(std::uint64_t line, std::string message);
  // The next line that is not blank or a comment; blank lines are reported
  // (`blank` true) because they end a turn of samples.
  LineReader::Status NextLine(std::string_view& line, bool& blank);
  Result NextDegrees(Scan& scan);
  Result NextRanges(Scan& scan);
  Result NextSamples(Scan& scan);
  // One sample line, "angle range [quality]": kScan, or kError after Fail.
  Result ParseSample(std::string_view line, float& angle, float& raw);
  void AddSample(float angle, float raw);
  void FlushSamples();
  // Hands out the turn gathered so far and starts the next one.
  Result FinishTurn(Scan& scan);

  LineReader reader_;
  ScanFormat format_;
  ScanLayout layout_;
  std::string error_;
  std::uint64_t error_line_ = 0;
  std::uint64_t few_values_line_ = 0;
  std::vector<float> values_;          // one line's ranges
  std::vector<float> angles_, raws_;   // the samples not yet binned
  Scan turn_{};                        // the samples binned so far
  bool in_turn_ = false;
  bool have_angle_ = false;  // last_angle_ holds this turn's last finite angle
  float last_angle_ = 0.0f;
  bool pending_ = false;  // a sample read that starts the next turn
  float pending_angle_ = 0.0f, pending_raw_ = 0.0f;
};

#endif
