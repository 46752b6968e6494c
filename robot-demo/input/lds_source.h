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
// come through here. False when scanbin refuses the layout.
bool TurnToReadings(const ScanTurn& turn, const ScanLayout& layout, Scan& scan);

// Which turns are planned.
struct LdsGate {
  double rpm_min = 200.0;  // usable speed, both ends inclusive
  double rpm_max = 400.0;
  int min_packets_percent = 90;  // share of a turn's packets that must arrive
  double turn_timeout = 0.0;     // seconds without a complete turn; 0: wait for ever
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
  LdsTurnSource(ByteSource& bytes, const ScanLayout& layout, const LdsGate& gate, RawSink* raw = nullptr);
  Result Next(Scan& scan, TurnInfo& info) override;
  const LdsStats* Stats() const override { return &stats_; }

 private:
  using Clock = std::chrono::steady_clock;
  // Reads the next chunk; kScan when bytes came, else what Next returns.
  Result Fill(TurnInfo& info);
  Result TakeTurn(Scan& scan, TurnInfo& info);
  Clock::time_point After(Clock::time_point from) const;  // one turn_timeout later
  void Skip(TurnInfo& info, SkipReason why, double limit);

  ByteSource& bytes_;
  ScanLayout layout_;
  LdsGate gate_;
  RawSink* raw_;
  LdsStats stats_;
  bool started_ = false;
  Clock::time_point deadline_{};
  std::size_t pos_ = 0, len_ = 0;
  unsigned char buf_[4096];
  WireDecoder decoder_;
};

#endif
