// SPDX-License-Identifier: BSD-3-Clause
#include <cmath>
#include <cstring>

#include "scanwire.h"

namespace {

constexpr std::size_t kNo = 0;                               // the bytes cannot begin a packet
constexpr std::size_t kMore = static_cast<std::size_t>(-1);  // they may; the length is not known yet

unsigned Word(const unsigned char* p) { return static_cast<unsigned>(p[0]) | static_cast<unsigned>(p[1]) << 8; }

double Wrap360(double a) {
  a = std::fmod(a, 360.0);
  if (a < 0) a += 360.0;
  // Just under a turn rounds to 360 as a float: that bearing is 0.
  return static_cast<float>(a) >= 360.0f ? 0.0 : a;
}

// LD06 / LD19 --------------------------------------------------------------

constexpr std::size_t kLdBytes = 47;
constexpr int kLdPoints = 12;

unsigned char Crc8(const unsigned char* p, std::size_t n) {
  unsigned crc = 0;
  for (std::size_t i = 0; i < n; ++i) {
    crc ^= p[i];
    for (int b = 0; b < 8; ++b) crc = (crc & 0x80u) != 0 ? ((crc << 1) ^ 0x4Du) & 0xFFu : (crc << 1) & 0xFFu;
  }
  return static_cast<unsigned char>(crc);
}

std::size_t LdFrame(const unsigned char* p, std::size_t have) {
  if (p[0] != 0x54) return kNo;
  if (have >= 2 && p[1] != 0x2C) return kNo;
  return kLdBytes;
}

// RPLIDAR ------------------------------------------------------------------

constexpr unsigned char kRpDescriptor[7] = {0xA5, 0x5A, 0x05, 0x00, 0x00, 0x40, 0x81};
constexpr std::size_t kRpNode = 5;
constexpr std::size_t kRpDescriptorLength = 100;  // a marker, never a real length

std::size_t RpFrame(const unsigned char* p, std::size_t have) {
  const std::size_t d = have < 7 ? have : 7;
  if (std::memcmp(p, kRpDescriptor, d) == 0) return d == 7 ? kRpDescriptorLength : kMore;
  if ((p[0] & 1u) == ((p[0] >> 1) & 1u)) return kNo;
  if (have >= 2 && (p[1] & 1u) == 0) return kNo;
  if (have >= 3 && ((static_cast<unsigned>(p[1]) >> 1) | static_cast<unsigned>(p[2]) << 7) >= 360u * 64u) return kNo;
  return kRpNode;
}

// YDLIDAR ------------------------------------------------------------------

std::size_t YdFrame(const unsigned char* p, std::size_t have) {
  if (p[0] != 0xAA) return kNo;
  if (have >= 2 && p[1] != 0x55) return kNo;
  if (have < 4) return kMore;
  if (p[3] == 0) return kNo;
  return 10 + 2 * static_cast<std::size_t>(p[3]);
}

double YdAngle(unsigned raw) { return static_cast<double>(raw >> 1) / 64.0; }

// The angle by which a sample at d millimetres is turned.
double YdCorrection(double d) {
  if (d == 0.0) return 0.0;
  return std::atan(21.8 * (155.3 - d) / (155.3 * d)) * (180.0 / 3.14159265358979323846);
}

}  // namespace

const char* SpinProtocolName(SpinProtocol protocol) {
  switch (protocol) {
    case SpinProtocol::kLd06: return "ld06";
    case SpinProtocol::kRplidar: return "rplidar";
    case SpinProtocol::kYdlidar: return "ydlidar";
  }
  return "unknown";
}

std::size_t SpinDecoder::Feed(const unsigned char* data, std::size_t n) {
  if (data == nullptr || ready_) return 0;
  std::size_t used = 0;
  while (used < n && !ready_) {
    buf_[have_++] = data[used++];
    Settle();
  }
  return used;
}

void SpinDecoder::Settle() {
  std::size_t drop = 0;
  for (;;) {
    std::size_t len = kNo;
    while (drop < have_) {
      const unsigned char* p = buf_ + drop;
      const std::size_t h = have_ - drop;
      len = protocol_ == SpinProtocol::kLd06      ? LdFrame(p, h)
            : protocol_ == SpinProtocol::kRplidar ? RpFrame(p, h)
            : protocol_ == SpinProtocol::kYdlidar ? YdFrame(p, h)
                                                  : kNo;
      if (len != kNo) break;
      ++drop;
    }
    if (drop > 0) {
      std::memmove(buf_, buf_ + drop, have_ - drop);
      have_ -= drop;
      counters_.skipped_bytes += drop;
      if (!skipping_) ++counters_.resyncs;
      skipping_ = true;
      drop = 0;
    }
    if (have_ == 0 || len == kMore) return;
    if (len == kRpDescriptorLength) {
      ++counters_.descriptors;
      have_ = 0;
      skipping_ = false;
      return;
    }
    // Out of step, one node proves little (two check bits): the next must
    // look like a node too before the first is taken.
    const bool confirm = protocol_ == SpinProtocol::kRplidar && skipping_;
    if (have_ < (confirm ? 2 * kRpNode : len)) return;
    if (confirm && RpFrame(buf_ + kRpNode, kRpNode) != kRpNode) {
      drop = 1;
      continue;
    }
    const unsigned char* p = buf_;
    bool ok = true;
    pkt_rpm_ = 0.0;
    pkt_start_ = 0.0;
    pkt_starts_turn_ = false;
    if (protocol_ == SpinProtocol::kLd06) {
      const unsigned start = Word(p + 4), end = Word(p + 42);
      ok = Crc8(p, kLdBytes - 1) == p[kLdBytes - 1] && start < 36000u && end < 36000u;
      if (ok) {
        pkt_rpm_ = static_cast<double>(Word(p + 2)) / 6.0;
        pkt_start_ = start;
        const double step = static_cast<double>((end + 36000u - start) % 36000u) / 100.0 / (kLdPoints - 1);
        pkt_samples_ = kLdPoints;
        for (int i = 0; i < kLdPoints; ++i) {
          const unsigned char* q = p + 6 + 3 * i;
          pkt_angle_[i] = static_cast<float>(Wrap360(start / 100.0 + i * step));
          pkt_range_[i] = static_cast<float>(Word(q));
          pkt_strength_[i] = q[2];
        }
      }
    } else if (protocol_ == SpinProtocol::kRplidar) {
      pkt_starts_turn_ = (p[0] & 1u) != 0;
      pkt_samples_ = 1;
      pkt_angle_[0] =
          static_cast<float>(((static_cast<unsigned>(p[1]) >> 1) | static_cast<unsigned>(p[2]) << 7) / 64.0);
      pkt_range_[0] = static_cast<float>(Word(p + 3) / 4.0);
      pkt_strength_[0] = static_cast<std::uint16_t>(p[0] >> 2);
    } else {
      const int n = p[3];
      unsigned x = 0;
      for (std::size_t k = 0; k < len; k += 2)
        if (k != 8) x ^= Word(p + k);
      const double first = YdAngle(Word(p + 4)), last = YdAngle(Word(p + 6));
      ok = x == Word(p + 8) && first < 360.0 && last < 360.0;
      if (ok) {
        pkt_starts_turn_ = (p[2] & 1u) != 0;
        double span = last - first;
        if (span < 0) span += 360.0;
        const double step = n > 1 ? span / (n - 1) : 0.0;
        pkt_samples_ = n;
        for (int i = 0; i < n; ++i) {
          const double d = Word(p + 10 + 2 * i) / 4.0;
          pkt_angle_[i] = static_cast<float>(Wrap360(first + i * step + YdCorrection(d)));
          pkt_range_[i] = static_cast<float>(d);
          pkt_strength_[i] = 0;
        }
      }
    }
    if (ok) {
      ++counters_.good_packets;
      skipping_ = false;
      Take(len);
      if (have_ > 0 && !ready_) continue;  // a confirming node waits in the buffer
      return;
    }
    ++counters_.bad_packets;
    drop = 1;  // the next packet may begin inside the rejected one
  }
}

// The packet just decoded joins the turn, or ends it and waits.
void SpinDecoder::Take(std::size_t len) {
  const bool begins =
      turn_.packets > 0 && (protocol_ == SpinProtocol::kLd06 ? pkt_start_ < last_start_ : pkt_starts_turn_);
  std::memmove(buf_, buf_ + len, have_ - len);
  have_ -= len;
  if (begins) {
    pending_ = true;
    Flush();
    return;
  }
  Add();
}

void SpinDecoder::Add() {
  for (int i = 0; i < pkt_samples_; ++i) {
    if (turn_.count == SpinTurn::kMaxSamples) {
      counters_.dropped_samples += static_cast<std::uint64_t>(pkt_samples_ - i);
      break;
    }
    const std::size_t k = turn_.count++;
    turn_.angle_deg[k] = pkt_angle_[i];
    turn_.range_mm[k] = pkt_range_[i];
    turn_.strength[k] = pkt_strength_[i];
    turn_.flags[k] = 0;
    unsigned s = static_cast<unsigned>(pkt_angle_[i] / 2.0f);
    if (s >= SpinTurn::kSectors) s = SpinTurn::kSectors - 1;
    seen_[s / 32] |= 1u << (s % 32);
  }
  ++turn_.packets;
  rpm_sum_ += pkt_rpm_;
  last_start_ = pkt_start_;
}

bool SpinDecoder::Flush() {
  if (!ready_ && turn_.packets > 0) {
    ready_ = true;
    turn_.rpm = static_cast<float>(rpm_sum_ / static_cast<double>(turn_.packets));
    unsigned n = 0;
    for (std::uint32_t w : seen_)
      for (; w != 0; w &= w - 1) ++n;
    turn_.sectors = n;
    ++counters_.turns;
  }
  return ready_;
}

void SpinDecoder::NextTurn() {
  if (!ready_) return;
  ready_ = false;
  StartTurn();
  if (pending_) {
    pending_ = false;
    Add();
  }
}

void SpinDecoder::DropPartial() {
  if (ready_) return;
  counters_.skipped_bytes += have_;
  have_ = 0;
  if (turn_.packets > 0) ++counters_.dropped_turns;
  StartTurn();
}

void SpinDecoder::StartTurn() {
  turn_.count = 0;
  turn_.rpm = 0.0f;
  turn_.packets = 0;
  turn_.sectors = 0;
  rpm_sum_ = 0.0;
  last_start_ = 0.0;
  std::memset(seen_, 0, sizeof seen_);
}

void SpinDecoder::Reset() {
  ready_ = false;
  pending_ = false;
  skipping_ = true;  // bytes before the first packet are not a resynchronisation
  have_ = 0;
  pkt_samples_ = 0;
  pkt_starts_turn_ = false;
  pkt_rpm_ = pkt_start_ = 0.0;
  std::memset(buf_, 0, sizeof buf_);
  turn_ = SpinTurn{};
  counters_ = SpinCounters{};
  StartTurn();
}
