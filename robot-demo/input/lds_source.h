// SPDX-License-Identifier: BSD-3-Clause
// A spinning scanner's raw serial stream (22-byte packets, scanwire.h) as
// scans: bytes from a capture file, a pipe or the port itself, decoded by a
// WireDecoder, each complete turn checked and binned into 360 readings.
//
// A turn is planned only when the scanner turned at a usable speed and
// enough of its packets arrived; any other turn is a stop. The turn still
// being assembled when the bytes end is never planned: its end was not
// seen. A live source also gives a stop whenever no complete turn arrived
// within the time allowed, again after each further wait of that length.
// Memory is bounded: one read buffer and one decoder.
#ifndef SCANPILOT_INPUT_LDS_SOURCE_H
#define SCANPILOT_INPUT_LDS_SOURCE_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "input/turn_source.h"
#include "scanbin.h"
#include "scanwire.h"

// Where the bytes come from.
class ByteSource {
 public:
  enum Status {
    kData,         // `got` > 0 bytes read
    kEnd,          // end of a file or pipe
    kTimeout,      // nothing within the wait
    kInterrupted,  // a signal cut the wait short
    kGone,         // the device went away (hang-up, EIO, end of stream)
    kError,        // any other failure; Errno() says which
  };
  virtual ~ByteSource() = default;
  // Reads at most n bytes, waiting at most wait_ms milliseconds (negative:
  // no limit) where the source can wait at all.
  virtual Status Read(unsigned char* buf, std::size_t n, std::size_t& got, int wait_ms) = 0;
  // errno of the last kGone or kError, 0 for an end of stream.
  virtual int Errno() const = 0;
  // A live device rather than a recording.
  virtual bool Live() const { return false; }
};

// A file or a pipe, read with read(2) so that a pipe's bytes are used as
// soon as they come. Never times out.
class FileBytes : public ByteSource {
 public:
  explicit FileBytes(std::FILE* in) : in_(in) {}
  Status Read(unsigned char* buf, std::size_t n, std::size_t& got, int wait_ms) override;
  int Errno() const override { return errno_; }

 private:
  std::FILE* in_;
  int errno_ = 0;
};

// One decoded turn as the 360 robot-frame readings the pilot takes: each
// sample binned with `layout` (millimetres) by BinSamplesSeen, a sample
// flagged invalid taking no part, and a degree no usable sample reached
// left NaN (unseen), distinct from +inf (no return). Every scanner's turns
// (ScanTurn or SpinTurn arrays) come through here; samples past
// kMaxTurnSamples are left out. False when scanbin refuses the layout.
constexpr std::size_t kMaxTurnSamples =
    SpinTurn::kMaxSamples > ScanTurn::kMaxSamples ? SpinTurn::kMaxSamples : ScanTurn::kMaxSamples;
bool TurnToReadings(const float* angle_deg, const float* range_mm, const std::uint8_t* flags, std::size_t count,
                    const ScanLayout& layout, Scan& scan);

// Which turns are planned.
struct LdsGate {
  double rpm_min = 200.0;  // usable speed, both ends inclusive
  double rpm_max = 400.0;
  int min_packets_percent = 90;  // share of a turn's packets (or 2-degree sectors) that must arrive
  double turn_timeout = 0.0;     // seconds without a complete turn; 0: wait for ever
  // Live: turns are checked against the wall clock as well as their own
  // speed field (a replay has no clock to check against).
  bool clock = false;
  int max_restarts = 3;  // a scanner that can be restarted: restarts in a row before the run fails
};

// The serial protocols a stream may be in.
enum class StreamKind { kLds22, kLd06, kRplidar, kYdlidar };
const char* StreamKindName(StreamKind kind);  // as --format writes it
// Whether the protocol's packets carry the scanner's speed.
bool StreamHasSpeed(StreamKind kind);
// The protocol `data` holds, other than `not_this`, or null: the one whose
// good packets fill most of it, at least half.
const char* StreamLooksLike(const unsigned char* data, std::size_t n, StreamKind not_this);
// The same among all the protocols.
const char* StreamLooksLikeAny(const unsigned char* data, std::size_t n);

// A scanner that can be stopped and started again (request/response ones).
class StreamControl {
 public:
  virtual ~StreamControl() = default;
  // Stop, reset and start; false with a one-line reason.
  virtual bool Restart(std::string& why) = 0;
};

// The fewest packets of `per_turn` that make a turn usable: the share
// rounded up.
unsigned MinPackets(const LdsGate& gate, unsigned per_turn);

struct LdsStats {
  std::uint64_t bytes = 0;  // read from the source
  WireCounters wire;        // the decoder's
  long long turns = 0;      // complete turns, planned or not
  long long planned = 0;
  long long slow = 0, fast = 0, few_packets = 0;  // turns not planned, by reason
  long long timeouts = 0;                          // stops for want of a turn
  long long clock = 0;               // turns or unfinished turns refused by the wall clock (stale, late, early)
  long long restarts = 0;            // scanner restarts after a timeout
  bool sectors = false;              // coverage is counted in 2-degree sectors, not packets
  const char* looks_like = nullptr;  // no good packet at all: the --format the bytes seem to be in
  float rpm_min = 0.0f, rpm_max = 0.0f;            // over the planned turns
  double rpm_sum = 0.0;
};

// Gets every byte the decoder has taken, in order: what a recording of the
// run must hold to replay to the same records.
class RawSink {
 public:
  virtual ~RawSink() = default;
  virtual void Record(const unsigned char* data, std::size_t n) = 0;
};

class LdsTurnSource : public TurnSource {
 public:
  // `layout`: the scanner's layout as the robot sees it, in millimetres.
  LdsTurnSource(ByteSource& bytes, const ScanLayout& layout, const LdsGate& gate, RawSink* raw = nullptr)
      : LdsTurnSource(bytes, StreamKind::kLds22, layout, gate, raw) {}
  // `control`: restarts the scanner after each timeout (live request/response scanners).
  LdsTurnSource(ByteSource& bytes, StreamKind kind, const ScanLayout& layout, const LdsGate& gate,
                RawSink* raw = nullptr, StreamControl* control = nullptr);
  Result Next(Scan& scan, TurnInfo& info) override;
  const LdsStats* Stats() const override { return &stats_; }

 private:
  using Clock = std::chrono::steady_clock;
  // Reads the next chunk; kScan when bytes came, else what Next returns.
  Result Fill(TurnInfo& info);
  Result TakeTurn(Scan& scan, TurnInfo& info);
  Result Timeout(TurnInfo& info, Clock::time_point now);
  Clock::time_point After(Clock::time_point from) const;  // one turn_timeout later
  void Skip(TurnInfo& info, SkipReason why, double limit);
  // The longest an unfinished turn may take at the slowest usable speed, s; 0: no bound.
  double MaxTurnSeconds() const;
  // Wall-clock checks of a complete turn (live): false when it is refused.
  bool OnTime(TurnInfo& info, double fraction);
  // The decoder in use.
  std::size_t Feed(const unsigned char* data, std::size_t n);
  bool Ready() const;
  unsigned Assembling() const;
  void DropPartial();
  void Advance();
  WireCounters Counters() const;

  ByteSource& bytes_;
  StreamKind kind_;
  ScanLayout layout_;
  LdsGate gate_;
  RawSink* raw_;
  StreamControl* control_;
  LdsStats stats_;
  bool started_ = false;
  bool garbage_told_ = false;
  bool ended_ = false;
  int restarts_in_row_ = 0;
  Clock::time_point deadline_{};
  Clock::time_point start_{}, chunk_time_{}, turn_start_{}, last_turn_{};
  bool have_last_turn_ = false;
  double credit_ = 0.0;  // seconds of turns the clock allows beyond those taken
  std::size_t pos_ = 0, len_ = 0;
  unsigned char buf_[4096];
  std::size_t sniff_len_ = 0;
  unsigned char sniff_[4096];  // the stream's first bytes, to name a wrong protocol
  WireDecoder decoder_;
  std::unique_ptr<SpinDecoder> spin_;  // made once, for the protocols WireDecoder does not read
};

#endif
