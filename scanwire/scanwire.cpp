// SPDX-License-Identifier: BSD-3-Clause
#include "scanwire.h"

#include <cstring>

constexpr int kMaxPacketSamples = 4;

// What a protocol's parser hands the common turn assembler.
struct WirePacket {
  unsigned number;  // position within the turn; a turn ends where it does not grow
  double rpm;
  int samples;
  float angle_deg[kMaxPacketSamples];
  float range_mm[kMaxPacketSamples];
  std::uint16_t strength[kMaxPacketSamples];
  std::uint8_t flags[kMaxPacketSamples];
};

namespace {

// One packet format. A new protocol is a new entry here and in WireProtocol;
// the assembler, the resynchronisation and the counters stay as they are.
struct Format {
  std::size_t bytes;          // packet length
  unsigned packets_per_turn;
  int samples_per_packet;
  // Whether the first `have` bytes (at least 1) may begin a packet.
  bool (*may_start)(const unsigned char* p, std::size_t have);
  // Decodes a whole packet; false when its check fails.
  bool (*decode)(const unsigned char* p, WirePacket& out);
};

// kLds22 ----------------------------------------------------------------

constexpr unsigned char kLdsStart = 0xFA;
constexpr unsigned char kLdsFirstIndex = 0xA0;
constexpr unsigned char kLdsLastIndex = 0xF9;

unsigned Word(const unsigned char* p) {
  return static_cast<unsigned>(p[0]) | static_cast<unsigned>(p[1]) << 8;
}

unsigned LdsChecksum(const unsigned char* p) {
  std::uint32_t c = 0;  // under 2^26: ten 16-bit words, each step doubling
  for (int k = 0; k < 10; ++k) c = (c << 1) + Word(p + 2 * k);
  return ((c & 0x7FFFu) + (c >> 15)) & 0x7FFFu;
}

bool LdsMayStart(const unsigned char* p, std::size_t have) {
  if (p[0] != kLdsStart) return false;
  return have < 2 || (p[1] >= kLdsFirstIndex && p[1] <= kLdsLastIndex);
}

bool LdsDecode(const unsigned char* p, WirePacket& out) {
  if (LdsChecksum(p) != Word(p + 20)) return false;
  out.number = static_cast<unsigned>(p[1] - kLdsFirstIndex);
  out.rpm = static_cast<double>(Word(p + 2)) / 64.0;  // exact
  out.samples = 4;
  for (int j = 0; j < 4; ++j) {
    const unsigned char* r = p + 4 + 4 * j;
    const unsigned distance = static_cast<unsigned>(r[0]) | (r[1] & 0x3Fu) << 8;
    const bool invalid = (r[1] & 0x80u) != 0;
    out.angle_deg[j] = static_cast<float>(4 * out.number + static_cast<unsigned>(j));
    out.range_mm[j] = invalid ? 0.0f : static_cast<float>(distance);
    out.strength[j] = static_cast<std::uint16_t>(Word(r + 2));
    out.flags[j] = static_cast<std::uint8_t>((invalid ? kSampleInvalid : 0) |
                                             ((r[1] & 0x40u) != 0 ? kSampleWarning : 0));
  }
  return true;
}

constexpr Format kLds22{22, 90, 4, LdsMayStart, LdsDecode};

// ------------------------------------------------------------------------

constexpr bool Fits(const Format& f, std::size_t buffer) {
  return f.bytes <= buffer && f.samples_per_packet <= kMaxPacketSamples &&
         f.packets_per_turn * static_cast<unsigned>(f.samples_per_packet) <= ScanTurn::kMaxSamples;
}

const Format* FormatOf(WireProtocol protocol) {
  switch (protocol) {
    case WireProtocol::kLds22: return &kLds22;
  }
  return nullptr;
}

void Add(const WirePacket& pkt, ScanTurn& turn) {
  for (int j = 0; j < pkt.samples; ++j) {
    const std::size_t i = turn.count++;
    turn.angle_deg[i] = pkt.angle_deg[j];
    turn.range_mm[i] = pkt.range_mm[j];
    turn.strength[i] = pkt.strength[j];
    turn.flags[i] = pkt.flags[j];
  }
  if (turn.packets == 0 || pkt.number < turn.lowest_packet) turn.lowest_packet = pkt.number;
  if (turn.packets == 0 || pkt.number > turn.highest_packet) turn.highest_packet = pkt.number;
  ++turn.packets;
}

}  // namespace

std::size_t WireDecoder::Feed(const unsigned char* data, std::size_t n) {
  if (data == nullptr || ready_) return 0;
  if (FormatOf(protocol_) == nullptr) {
    counters_.skipped_bytes += n;
    return n;
  }
  std::size_t used = 0;
  while (used < n && !ready_) {
    buf_[have_++] = data[used++];
    Settle();
  }
  return used;
}

// Keeps buf_ a prefix that may begin a packet, and takes a complete one.
void WireDecoder::Settle() {
  const Format& f = *FormatOf(protocol_);
  std::size_t drop = 0;
  for (;;) {
    while (drop < have_ && !f.may_start(buf_ + drop, have_ - drop)) ++drop;
    if (drop > 0) {
      std::memmove(buf_, buf_ + drop, have_ - drop);
      have_ -= drop;
      counters_.skipped_bytes += drop;
    }
    if (have_ < f.bytes) return;
    WirePacket pkt;
    if (f.decode(buf_, pkt)) {
      ++counters_.good_packets;
      Take(pkt);
      return;
    }
    ++counters_.checksum_failures;
    drop = 1;  // the next packet may begin inside the rejected one
  }
}

// A good packet (still in buf_) joins the turn, or ends it and waits there.
void WireDecoder::Take(const WirePacket& pkt) {
  if (turn_.packets > 0 && pkt.number <= last_packet_) {
    pending_ = true;
    Flush();
    return;
  }
  Add(pkt, turn_);
  rpm_sum_ += pkt.rpm;
  last_packet_ = pkt.number;
  have_ = 0;
}

bool WireDecoder::Flush() {
  if (!ready_ && turn_.packets > 0) {
    ready_ = true;
    turn_.rpm = static_cast<float>(rpm_sum_ / static_cast<double>(turn_.packets));
    ++counters_.turns;
  }
  return ready_;
}

void WireDecoder::NextTurn() {
  if (!ready_) return;
  ready_ = false;
  StartTurn();
  if (pending_) {
    pending_ = false;
    WirePacket pkt;
    FormatOf(protocol_)->decode(buf_, pkt);
    Take(pkt);
  }
}

void WireDecoder::StartTurn() {
  const Format* f = FormatOf(protocol_);
  turn_.count = 0;
  turn_.rpm = 0.0f;
  turn_.packets = 0;
  turn_.packets_per_turn = f != nullptr ? f->packets_per_turn : 0;
  turn_.lowest_packet = 0;
  turn_.highest_packet = 0;
  last_packet_ = 0;
  rpm_sum_ = 0.0;
}

void WireDecoder::Reset() {
  static_assert(Fits(kLds22, kBufferBytes), "a packet format outgrows the decoder");
  ready_ = false;
  pending_ = false;
  have_ = 0;
  std::memset(buf_, 0, sizeof buf_);
  turn_ = ScanTurn{};
  counters_ = WireCounters{};
  StartTurn();
}

void WireDecoder::DropPartial() {
  if (ready_) return;
  counters_.skipped_bytes += have_;
  have_ = 0;
  StartTurn();
}
