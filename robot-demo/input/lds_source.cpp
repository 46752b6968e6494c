// SPDX-License-Identifier: BSD-3-Clause
#include "input/lds_source.h"

#include <algorithm>
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

bool TurnToReadings(const float* angle_deg, const float* range_mm, const std::uint8_t* flags, std::size_t count,
                    const ScanLayout& layout, Scan& scan) {
  float ranges[kMaxTurnSamples];
  const std::size_t n = count < kMaxTurnSamples ? count : kMaxTurnSamples;
  for (std::size_t k = 0; k < n; ++k)
    ranges[k] = (flags[k] & kSampleInvalid) != 0 ? std::numeric_limits<float>::quiet_NaN() : range_mm[k];
  if (n == 0) {
    // No sample: all unseen, yet the layout is still checked.
    const float none = std::numeric_limits<float>::quiet_NaN();
    return BinSamplesSeen(&none, &none, 1, layout, scan.data());
  }
  return BinSamplesSeen(angle_deg, ranges, n, layout, scan.data());
}

unsigned MinPackets(const LdsGate& gate, unsigned per_turn) {
  const long long p = gate.min_packets_percent < 0 ? 0 : gate.min_packets_percent > 100 ? 100 : gate.min_packets_percent;
  return static_cast<unsigned>((p * per_turn + 99) / 100);
}

const char* StreamKindName(StreamKind kind) {
  switch (kind) {
    case StreamKind::kLds22: return "lds";
    case StreamKind::kLd06: return "ld06";
    case StreamKind::kRplidar: return "rplidar";
    case StreamKind::kYdlidar: return "ydlidar";
  }
  return "lds";
}

bool StreamHasSpeed(StreamKind kind) { return kind == StreamKind::kLds22 || kind == StreamKind::kLd06; }

namespace {

SpinProtocol SpinOf(StreamKind kind) {
  return kind == StreamKind::kLd06      ? SpinProtocol::kLd06
         : kind == StreamKind::kRplidar ? SpinProtocol::kRplidar
                                        : SpinProtocol::kYdlidar;
}

// Bytes of `data` inside good packets of `kind`.
std::uint64_t GoodBytes(const unsigned char* data, std::size_t n, StreamKind kind) {
  if (kind == StreamKind::kLds22) {
    WireDecoder d;
    for (std::size_t off = 0; off < n;) {
      off += d.Feed(data + off, n - off);
      d.NextTurn();
    }
    return d.Counters().good_packets * 22;
  }
  const auto d = std::make_unique<SpinDecoder>(SpinOf(kind));
  std::uint64_t samples = 0;
  for (std::size_t off = 0; off < n;) {
    off += d->Feed(data + off, n - off);
    if (d->TurnReady()) samples += d->Turn().count;
    d->NextTurn();
  }
  d->Flush();
  if (d->TurnReady()) samples += d->Turn().count;
  const std::uint64_t packets = d->Counters().good_packets;
  switch (kind) {
    case StreamKind::kLd06: return packets * 47;
    case StreamKind::kRplidar: return packets * 5;
    default: return packets * 10 + samples * 2;  // YDLIDAR: 10 bytes of header per packet
  }
}

}  // namespace

const char* StreamLooksLike(const unsigned char* data, std::size_t n, StreamKind not_this) {
  const char* best = nullptr;
  std::uint64_t most = n / 2;
  for (StreamKind k : {StreamKind::kLds22, StreamKind::kLd06, StreamKind::kRplidar, StreamKind::kYdlidar}) {
    if (k == not_this) continue;
    const std::uint64_t good = GoodBytes(data, n, k);
    if (good >= most) {
      most = good;
      best = StreamKindName(k);
    }
  }
  return best;
}

LdsTurnSource::LdsTurnSource(ByteSource& bytes, StreamKind kind, const ScanLayout& layout, const LdsGate& gate,
                             RawSink* raw, StreamControl* control)
    : bytes_(bytes), kind_(kind), layout_(layout), gate_(gate), raw_(raw), control_(control) {
  if (kind_ != StreamKind::kLds22) spin_ = std::make_unique<SpinDecoder>(SpinOf(kind_));
  stats_.sectors = kind_ != StreamKind::kLds22;
}

std::size_t LdsTurnSource::Feed(const unsigned char* data, std::size_t n) {
  return spin_ ? spin_->Feed(data, n) : decoder_.Feed(data, n);
}
// Done with the ready turn; the packet that ended it starts the next, as it arrived.
void LdsTurnSource::Advance() {
  if (spin_)
    spin_->NextTurn();
  else
    decoder_.NextTurn();
  if (Assembling() > 0) turn_start_ = chunk_time_;
}

bool LdsTurnSource::Ready() const { return spin_ ? spin_->TurnReady() : decoder_.TurnReady(); }
unsigned LdsTurnSource::Assembling() const { return spin_ ? spin_->Assembling() : decoder_.Assembling(); }
void LdsTurnSource::DropPartial() {
  if (spin_)
    spin_->DropPartial();
  else
    decoder_.DropPartial();
}

WireCounters LdsTurnSource::Counters() const {
  if (!spin_) return decoder_.Counters();
  const SpinCounters& c = spin_->Counters();
  WireCounters w;
  w.good_packets = c.good_packets;
  w.checksum_failures = c.bad_packets;
  w.skipped_bytes = c.skipped_bytes;
  w.turns = c.turns;
  return w;
}

double LdsTurnSource::MaxTurnSeconds() const {
  // A turn at the slowest usable speed, half as long again, and 0.1 s for
  // the port's and the scheduler's delays.
  if (gate_.rpm_min > 0) return 1.5 * 60.0 / gate_.rpm_min + 0.1;
  return gate_.turn_timeout;
}

TurnSource::Result LdsTurnSource::Next(Scan& scan, TurnInfo& info) {
  if (ended_) return kEnd;
  if (!Error().empty()) return kError;
  if (!started_) {
    started_ = true;
    start_ = Clock::now();
    deadline_ = After(start_);
  }
  for (;;) {
    if (pos_ < len_) {
      const bool fresh = Assembling() == 0;
      const std::size_t used = Feed(buf_ + pos_, len_ - pos_);
      if (raw_ != nullptr && used > 0) raw_->Record(buf_ + pos_, used);
      pos_ += used;
      if (fresh && Assembling() > 0) turn_start_ = chunk_time_;
      stats_.wire = Counters();
      if (Ready()) return TakeTurn(scan, info);
      // A baud rate or protocol that gives nothing but noise: said once.
      if (!garbage_told_ && stats_.wire.good_packets == 0 && stats_.bytes >= sizeof sniff_ && pos_ == len_) {
        garbage_told_ = true;
        info = TurnInfo{};
        info.scanner = true;
        info.skip = SkipReason::kGarbage;
        info.limit = static_cast<double>(stats_.bytes);
        return kStop;
      }
      continue;
    }
    const Result r = Fill(info);
    // Mostly skipped bytes and no turn to plan: name the format they may be in
    // (RPLIDAR's nodes are framed loosely enough to pass now and then in any stream).
    if (r == kEnd && stats_.planned == 0 && stats_.wire.good_packets > 0 &&
        stats_.wire.skipped_bytes * 2 > stats_.bytes)
      stats_.looks_like = StreamLooksLike(sniff_, sniff_len_, kind_);
    if (r == kEnd && stats_.wire.good_packets == 0 && stats_.bytes > 0) {
      // A capture in another protocol, or noise: one stop, and its likely format.
      ended_ = true;
      stats_.looks_like = StreamLooksLike(sniff_, sniff_len_, kind_);
      if (garbage_told_) return kEnd;
      info = TurnInfo{};
      info.scanner = true;
      info.skip = SkipReason::kGarbage;
      info.limit = static_cast<double>(stats_.bytes);
      return kStop;
    }
    if (r != kScan) return r;
  }
}

TurnSource::Result LdsTurnSource::Timeout(TurnInfo& info, Clock::time_point now) {
  deadline_ = After(now);
  ++stats_.timeouts;
  info = TurnInfo{};
  info.scanner = true;
  info.skip = SkipReason::kTimeout;
  info.limit = gate_.turn_timeout;
  if (control_ == nullptr) return kStop;
  // A request/response scanner that went quiet is stopped and started again, a few times.
  if (++restarts_in_row_ > gate_.max_restarts)
    return Fail("no complete turn after " + std::to_string(gate_.max_restarts) + " restarts of the scanner",
                ErrorKind::kDevice);
  DropPartial();
  std::string why;
  if (!control_->Restart(why)) return Fail(why, ErrorKind::kDevice);
  ++stats_.restarts;
  info.skip = SkipReason::kRestart;
  info.seconds = gate_.turn_timeout;
  info.limit = static_cast<double>(stats_.restarts);
  deadline_ = After(Clock::now());
  return kStop;
}

TurnSource::Result LdsTurnSource::Fill(TurnInfo& info) {
  for (;;) {
    int wait_ms = -1;
    if (gate_.turn_timeout > 0) {
      const Clock::time_point now = Clock::now();
      if (now >= deadline_) return Timeout(info, now);
      // Rounded up, so that the wait never ends just short of the deadline.
      const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline_ - now).count();
      wait_ms = static_cast<int>((left + 999) / 1000);
    }
    std::size_t got = 0;
    switch (bytes_.Read(buf_, sizeof buf_, got, wait_ms)) {
      case ByteSource::kData: {
        pos_ = 0;
        len_ = got;
        stats_.bytes += got;
        if (sniff_len_ < sizeof sniff_) {
          const std::size_t k = std::min(got, sizeof sniff_ - sniff_len_);
          std::memcpy(sniff_ + sniff_len_, buf_, k);
          sniff_len_ += k;
        }
        chunk_time_ = Clock::now();
        // Old bytes never join fresh ones: an unfinished turn older than a
        // turn may take is dropped before the new bytes are read.
        const double max_turn = MaxTurnSeconds();
        if (gate_.clock && max_turn > 0 && Assembling() > 0 &&
            std::chrono::duration<double>(chunk_time_ - turn_start_).count() > max_turn) {
          DropPartial();
          ++stats_.clock;
          info = TurnInfo{};
          info.scanner = true;
          info.skip = SkipReason::kStale;
          info.limit = max_turn;
          return kStop;
        }
        return kScan;
      }
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
  if (why == SkipReason::kSlow)
    ++stats_.slow;
  else if (why == SkipReason::kFast)
    ++stats_.fast;
  else if (why == SkipReason::kFewPackets || why == SkipReason::kCoverage)
    ++stats_.few_packets;
  else
    ++stats_.clock;
}
