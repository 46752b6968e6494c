#include "input/lds_source.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include <unistd.h>

ByteSource::Status FileBytes::Read(unsigned char* buf, std::size_t n, std::size_t& got, int /*wait_ms*/) {
  got = 0;
  const ssize_t r = ::read(::fileno(in_), buf, n);
  if (r > 0) {
    got = static_cast<std::size_t>(r);
    return kData;
  }
  if (r == 0) return kEnd;
  if (errno == EINTR) return kInterrupted;
  errno_ = errno;
  return kError;
}

bool TurnToReadings(const ScanTurn& turn, const ScanLayout& layout, Scan& scan) {
  float ranges[ScanTurn::kMaxSamples];
  const std::size_t n = turn.count < ScanTurn::kMaxSamples ? turn.count : ScanTurn::kMaxSamples;
  for (std::size_t k = 0; k < n; ++k)
    ranges[k] = (turn.flags[k] & kSampleInvalid) != 0 ? std::numeric_limits<float>::quiet_NaN() : turn.range_mm[k];
  if (n == 0) {
    // No sample: all unseen, yet the layout is still checked.
    const float none = std::numeric_limits<float>::quiet_NaN();
    return BinSamplesSeen(&none, &none, 1, layout, scan.data());
  }
  return BinSamplesSeen(turn.angle_deg, ranges, n, layout, scan.data());
}

unsigned MinPackets(const LdsGate& gate, unsigned per_turn) {
  const long long p = gate.min_packets_percent < 0 ? 0 : gate.min_packets_percent > 100 ? 100 : gate.min_packets_percent;
  return static_cast<unsigned>((p * per_turn + 99) / 100);
}

LdsTurnSource::LdsTurnSource(ByteSource& bytes, const ScanLayout& layout, const LdsGate& gate, RawSink* raw)
    : bytes_(bytes), layout_(layout), gate_(gate), raw_(raw) {}

TurnSource::Result LdsTurnSource::Next(Scan& scan, TurnInfo& info) {
  if (!Error().empty()) return kError;
  if (!started_) {
    started_ = true;
    deadline_ = After(Clock::now());
  }
  for (;;) {
    if (pos_ < len_) {
      const std::size_t used = decoder_.Feed(buf_ + pos_, len_ - pos_);
      if (raw_ != nullptr && used > 0) raw_->Record(buf_ + pos_, used);
      pos_ += used;
      stats_.wire = decoder_.Counters();
      if (decoder_.TurnReady()) return TakeTurn(scan, info);
      continue;
    }
    const Result r = Fill(info);
    if (r != kScan) return r;
  }
}

TurnSource::Result LdsTurnSource::Fill(TurnInfo& info) {
  for (;;) {
    int wait_ms = -1;
    if (gate_.turn_timeout > 0) {
      const Clock::time_point now = Clock::now();
      if (now >= deadline_) {
        deadline_ = After(now);
        ++stats_.timeouts;
        info = TurnInfo{};
        info.scanner = true;
        info.skip = SkipReason::kTimeout;
        info.limit = gate_.turn_timeout;
        return kStop;
      }
      // Rounded up, so that the wait never ends just short of the deadline.
      const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline_ - now).count();
      wait_ms = static_cast<int>((left + 999) / 1000);
    }
    std::size_t got = 0;
    switch (bytes_.Read(buf_, sizeof buf_, got, wait_ms)) {
      case ByteSource::kData:
        pos_ = 0;
        len_ = got;
        stats_.bytes += got;
        return kScan;
      case ByteSource::kTimeout: continue;  // the deadline has passed now
      case ByteSource::kEnd: return kEnd;
      case ByteSource::kInterrupted: return kStopped;
      case ByteSource::kGone: {
        const int e = bytes_.Errno();
        return Fail(std::string("the device went away (") + (e != 0 ? std::strerror(e) : "end of stream") + ")",
                    ErrorKind::kDevice);
      }
      case ByteSource::kError: break;
    }
    return Fail(std::string("cannot read: ") + std::strerror(bytes_.Errno()),
                bytes_.Live() ? ErrorKind::kDevice : ErrorKind::kInput);
  }
}

LdsTurnSource::Clock::time_point LdsTurnSource::After(Clock::time_point from) const {
  return from + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(gate_.turn_timeout));
}

void LdsTurnSource::Skip(TurnInfo& info, SkipReason why, double limit) {
  info.skip = why;
  info.limit = limit;
  (why == SkipReason::kSlow ? stats_.slow : why == SkipReason::kFast ? stats_.fast : stats_.few_packets) += 1;
}

TurnSource::Result LdsTurnSource::TakeTurn(Scan& scan, TurnInfo& info) {
  const ScanTurn& t = decoder_.Turn();
  info = TurnInfo{};
  info.scanner = true;
  info.turn = stats_.turns++;
  info.rpm = t.rpm;
  info.packets = t.packets;
  info.packets_per_turn = t.packets_per_turn;
  deadline_ = After(Clock::now());
  const double rpm = t.rpm;
  const unsigned need = MinPackets(gate_, t.packets_per_turn);
  if (!(rpm >= gate_.rpm_min)) Skip(info, SkipReason::kSlow, gate_.rpm_min);
  else if (!(rpm <= gate_.rpm_max)) Skip(info, SkipReason::kFast, gate_.rpm_max);
  else if (t.packets < need) Skip(info, SkipReason::kFewPackets, need);
  if (info.skip != SkipReason::kNone) {
    decoder_.NextTurn();
    return kStop;
  }
  // A layout scanbin refuses would give a scan of no returns: free space.
  if (!TurnToReadings(t, layout_, scan))
    return Fail("the scanner layout is not valid", ErrorKind::kInput);
  if (stats_.planned == 0 || t.rpm < stats_.rpm_min) stats_.rpm_min = t.rpm;
  if (stats_.planned == 0 || t.rpm > stats_.rpm_max) stats_.rpm_max = t.rpm;
  stats_.rpm_sum += rpm;
  ++stats_.planned;
  decoder_.NextTurn();
  return kScan;
}
