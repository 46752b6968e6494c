// SPDX-License-Identifier: BSD-3-Clause
// A run's input as a sequence of records for the replay loop: scans to plan
// and, from a scanner's own stream, stops (a turn not fit to plan, or a wait
// with no turn at all), each of which must halt the robot. The text formats
// and a scanner's serial stream give the loop the same records.
#ifndef SCANPILOT_INPUT_TURN_SOURCE_H
#define SCANPILOT_INPUT_TURN_SOURCE_H

#include <cstdint>
#include <string>
#include <utility>

#include "input/scan_text.h"

// Why a record is a stop instead of a scan.
enum class SkipReason {
  kNone,
  kSlow,        // the turn's speed is below the usable range
  kFast,        // above it
  kFewPackets,  // too few of the turn's packets arrived
  kTimeout,     // no complete turn came within the wait allowed
  // Scanners without a fixed packet count, and the wall clock (live only).
  kCoverage,    // too few 2-degree sectors of the turn hold a sample
  kStale,       // an unfinished turn grew older than a turn may take: dropped
  kLate,        // the turn took longer to arrive than its speed allows
  kEarly,       // turns arrive faster than their speed allows
  kGarbage,     // bytes without a single valid packet
  kRestart,     // no complete turn: the scanner was stopped and started again
  kDescriptor,  // the scanner answered the start request wrongly
  kEnd,         // the run ends: the last command is a stop
};

// What a scanner's stream tells about one record.
struct TurnInfo {
  bool scanner = false;   // the record comes from a scanner's stream
  long long turn = -1;    // the turn's number from 0, planned or not; -1 for a timeout
  float rpm = 0.0f;       // the turn's mean speed
  unsigned packets = 0;   // good packets in the turn, of packets_per_turn
  unsigned packets_per_turn = 0;
  SkipReason skip = SkipReason::kNone;
  // The bound that was missed: rpm (kSlow, kFast), packets (kFewPackets),
  // sectors (kCoverage), bytes (kGarbage), restarts so far (kRestart) or
  // seconds (kTimeout, kStale, kLate).
  double limit = 0.0;
  double seconds = 0.0;  // kLate: how long the turn took to arrive
  unsigned sectors = 0;  // kCoverage: 2-degree sectors seen, of 180
};

struct LdsStats;

class TurnSource {
 public:
  enum Result {
    kScan,      // `scan` holds the next scan to plan; `info` describes it
    kStop,      // no scan: the robot must stop; `info` says why
    kEnd,       // the input ended
    kStopped,   // a signal cut a wait short; call again unless the run stops
    kError,     // final: Error() says why
  };
  // What a failure means for the run: bad input (a recording that cannot be
  // read or parsed), or a live device that failed or went away.
  enum class ErrorKind { kInput, kDevice };

  virtual ~TurnSource() = default;
  virtual Result Next(Scan& scan, TurnInfo& info) = 0;
  // One line without the input's name, and the line of a text input it
  // concerns (0 for none).
  const std::string& Error() const { return error_; }
  std::uint64_t ErrorLine() const { return error_line_; }
  ErrorKind Kind() const { return kind_; }
  // The counters of a scanner's stream, or null.
  virtual const LdsStats* Stats() const { return nullptr; }

 protected:
  Result Fail(std::string why, ErrorKind kind, std::uint64_t line = 0) {
    error_ = std::move(why);
    kind_ = kind;
    error_line_ = line;
    return kError;
  }

 private:
  std::string error_;
  std::uint64_t error_line_ = 0;
  ErrorKind kind_ = ErrorKind::kInput;
};

#endif
