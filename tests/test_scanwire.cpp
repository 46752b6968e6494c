// SPDX-License-Identifier: BSD-3-Clause
// Decoding a spinning scanner's serial stream. Known answers are worked out by
// hand from the packet layout; streams come from tests/lds_stream.h and are
// checked against the scene they were written from and against the reference
// model (tests/scanwire_reference.h).
#include "scanwire.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "lds_stream.h"
#include "scanwire_reference.h"

namespace {

using Bytes = std::vector<uint8_t>;
using scanwire_ref::Sample;
using scanwire_ref::Turn;

struct Decoding {
  std::vector<Turn> turns;
  WireCounters counters;
};

Turn Copy(const ScanTurn& t) {
  Turn out;
  for (std::size_t i = 0; i < t.count; ++i) {
    out.samples.push_back({t.angle_deg[i], t.range_mm[i], t.strength[i], t.flags[i]});
  }
  out.rpm = t.rpm;
  out.packets = t.packets;
  out.lowest = t.lowest_packet;
  out.highest = t.highest_packet;
  return out;
}

// Feeds `b` in chunks of next() bytes, taking every turn as it is ready.
template <typename NextChunk>
Decoding Feed(const Bytes& b, NextChunk next, bool flush = true) {
  WireDecoder dec;
  Decoding r;
  std::size_t off = 0;
  while (off < b.size()) {
    const std::size_t end = off + std::min(next(), b.size() - off);
    while (off < end) {
      const std::size_t used = dec.Feed(b.data() + off, end - off);
      if (used < end - off && !dec.TurnReady()) {
        ADD_FAILURE() << "Feed stopped early without a turn at " << off;
        return r;
      }
      off += used;
      if (dec.TurnReady()) {
        EXPECT_EQ(dec.Turn().packets_per_turn, 90u);
        r.turns.push_back(Copy(dec.Turn()));
        dec.NextTurn();
      }
    }
  }
  if (flush && dec.Flush()) {
    r.turns.push_back(Copy(dec.Turn()));
    dec.NextTurn();
  }
  r.counters = dec.Counters();
  return r;
}

Decoding Whole(const Bytes& b, bool flush = true) {
  return Feed(b, [&] { return b.size(); }, flush);
}

bool Same(const Decoding& a, const Decoding& b) {
  const WireCounters &x = a.counters, &y = b.counters;
  return a.turns == b.turns && x.good_packets == y.good_packets &&
         x.checksum_failures == y.checksum_failures && x.skipped_bytes == y.skipped_bytes &&
         x.turns == y.turns;
}

void ExpectMatchesReference(const Bytes& b, const Decoding& r, bool flush = true) {
  const scanwire_ref::Decoded d = scanwire_ref::Decode(b, flush);
  EXPECT_TRUE(r.turns == d.turns);
  EXPECT_EQ(r.counters.good_packets, d.good);
  EXPECT_EQ(r.counters.checksum_failures, d.failures);
  EXPECT_EQ(r.counters.skipped_bytes, d.skipped);
  EXPECT_EQ(r.counters.turns, d.turns.size());
  // Every byte is in a good packet, skipped, or still buffered.
  EXPECT_EQ(b.size(), 22 * d.good + d.skipped + d.buffered);
}

// What the scene's intact packets should decode to.
std::vector<Turn> Expected(const lds::Stream& s) {
  std::vector<Turn> out;
  for (const auto& packets : lds::IntactTurns(s)) {
    Turn t;
    uint64_t speed = 0;
    for (const lds::Sent& p : packets) {
      for (std::size_t j = 0; j < 4; ++j) {
        const lds::Reading& r = p.readings[j];
        const bool ret = !r.invalid && r.distance != 0;
        t.samples.push_back({static_cast<float>(4 * p.number + static_cast<int>(j)),
                             ret ? static_cast<float>(r.distance) : 0.0f, r.strength,
                             static_cast<uint8_t>((r.invalid ? kSampleInvalid : 0) |
                                                  (r.warning ? kSampleWarning : 0))});
      }
      speed += p.speed;
    }
    t.packets = static_cast<unsigned>(packets.size());
    t.lowest = static_cast<unsigned>(packets.front().number);
    t.highest = static_cast<unsigned>(packets.back().number);
    t.rpm = static_cast<float>(static_cast<double>(speed) / 64.0 / t.packets);
    out.push_back(t);
  }
  return out;
}

Bytes Packets(std::initializer_list<int> numbers, uint16_t speed = 300 * 64) {
  Bytes b;
  for (int n : numbers) {
    const lds::PacketBytes p = lds::MakePacket(n, speed, lds::SceneReadings({}, 0, n));
    b.insert(b.end(), p.begin(), p.end());
  }
  return b;
}

// Speed 300 rpm; readings 300 mm; invalid; 1000 mm with a warning; 0 mm.
// Words a0fa 4b00 012c 0010 8000 0000 43e8 1234 0000 0005 give c = 0x19ff615,
// 0x7615 + 0x33f = 0x7954.
const Bytes kHandPacket = {0xFA, 0xA0, 0x00, 0x4B, 0x2C, 0x01, 0x10, 0x00, 0x00, 0x80, 0x00,
                           0x00, 0xE8, 0x43, 0x34, 0x12, 0x00, 0x00, 0x05, 0x00, 0x54, 0x79};
// Last packet, every data bit set: c = 0x3f2f201, 0x7201 + 0x7e5 = 0x79e6.
const Bytes kAllOnes = {0xFA, 0xF9, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                        0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xE6, 0x79};
// The fold reaches 0x8000 exactly: c = 0x3f1f81d, 0x781d + 0x7e3, masked to 0.
const Bytes kFoldToZero = {0xFA, 0xF9, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                           0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x1B, 0x06, 0x00, 0x00};

TEST(scanwirePacket, ChecksumsOfHandBuiltPackets) {
  for (const Bytes* p : {&kHandPacket, &kAllOnes, &kFoldToZero}) {
    EXPECT_EQ(lds::Checksum(p->data()), (*p)[20] | (*p)[21] << 8);
    EXPECT_EQ(Whole(*p).counters.good_packets, 1u);
    for (int bit = 0; bit < 15; ++bit) {  // bit 15 of a checksum is always 0
      Bytes bad = *p;
      const int sum = (bad[20] | bad[21] << 8) ^ (1 << bit);
      bad[20] = static_cast<uint8_t>(sum & 0xFF);
      bad[21] = static_cast<uint8_t>(sum >> 8);
      const Decoding r = Whole(bad);
      EXPECT_EQ(r.counters.good_packets, 0u);
      EXPECT_EQ(r.counters.checksum_failures, 1u);
      EXPECT_EQ(r.counters.skipped_bytes, 22u);
      EXPECT_TRUE(r.turns.empty());
    }
  }
}

TEST(scanwirePacket, ReadingsDecodeExactly) {
  Decoding r = Whole(kHandPacket);
  ASSERT_EQ(r.turns.size(), 1u);
  const std::vector<Sample> want = {{0.0f, 300.0f, 0x10, 0},
                                    {1.0f, 0.0f, 0, kSampleInvalid},
                                    {2.0f, 1000.0f, 0x1234, kSampleWarning},
                                    {3.0f, 0.0f, 5, 0}};
  EXPECT_TRUE(r.turns[0].samples == want);
  EXPECT_EQ(r.turns[0].rpm, 300.0f);
  EXPECT_EQ(r.turns[0].packets, 1u);

  // Last packet: angles 356..359; invalid hides even the largest distance.
  r = Whole(kAllOnes);
  ASSERT_EQ(r.turns.size(), 1u);
  for (std::size_t j = 0; j < 4; ++j) {
    EXPECT_TRUE(r.turns[0].samples[j] ==
                (Sample{356.0f + static_cast<float>(j), 0.0f, 0xFFFF,
                        static_cast<uint8_t>(kSampleInvalid | kSampleWarning)}));
  }
  EXPECT_EQ(r.turns[0].rpm, 65535.0f / 64.0f);
  EXPECT_EQ(r.turns[0].lowest, 89u);
  EXPECT_EQ(r.turns[0].highest, 89u);

  // All 14 distance bits with only a warning: still a return.
  lds::Readings far{};
  far[1] = {0x3FFF, 7, false, true};
  const lds::PacketBytes p = lds::MakePacket(44, 1, far);
  r = Whole(Bytes(p.begin(), p.end()));
  ASSERT_EQ(r.turns.size(), 1u);
  EXPECT_TRUE(r.turns[0].samples[1] == (Sample{177.0f, 16383.0f, 7, kSampleWarning}));
  EXPECT_EQ(r.turns[0].rpm, 1.0f / 64.0f);
}

TEST(scanwireTurns, EndWhereThePacketNumberDoesNotGrow) {
  struct Case {
    Bytes bytes;
    std::vector<unsigned> packets_per_turn;
  };
  const Case cases[] = {
      {Packets({10, 20, 20}), {2, 1}},
      {Packets({10, 50, 30, 31}), {2, 2}},
      {Packets({0, 89, 0, 89}), {2, 2}},
      {Packets({5, 6, 7, 2}), {3, 1}},
      {Packets({3, 2, 1, 0}), {1, 1, 1, 1}},
  };
  for (const Case& c : cases) {
    const Decoding r = Whole(c.bytes);
    ASSERT_EQ(r.turns.size(), c.packets_per_turn.size());
    for (std::size_t t = 0; t < r.turns.size(); ++t) {
      EXPECT_EQ(r.turns[t].packets, c.packets_per_turn[t]) << "turn " << t;
    }
    // Without the end of the stream the last turn is still open.
    EXPECT_EQ(Whole(c.bytes, false).turns.size(), c.packets_per_turn.size() - 1);
  }
  const Decoding r = Whole(Packets({5, 6, 7, 2}));
  EXPECT_EQ(r.turns[0].lowest, 5u);
  EXPECT_EQ(r.turns[0].highest, 7u);
  EXPECT_EQ(r.turns[0].samples.front().angle_deg, 20.0f);
  EXPECT_EQ(r.turns[0].samples.back().angle_deg, 31.0f);
}

TEST(scanwireTurns, MissingPacketsLeaveGapsAndTheTurnIsStillDelivered) {
  lds::Options o;
  o.turns = 2;
  o.missing = {{0, 0}, {0, 1}, {0, 45}, {0, 89}, {1, 30}};
  const lds::Stream s = lds::Generate(o);
  const Decoding r = Whole(s.bytes);
  ASSERT_EQ(r.turns.size(), 2u);
  EXPECT_EQ(r.turns[0].packets, 86u);
  EXPECT_EQ(r.turns[0].samples.size(), 344u);
  EXPECT_EQ(r.turns[0].lowest, 2u);
  EXPECT_EQ(r.turns[0].highest, 88u);
  EXPECT_EQ(r.turns[1].packets, 89u);
  for (const Sample& x : r.turns[0].samples) EXPECT_FALSE(x.angle_deg >= 180.0f && x.angle_deg < 184.0f);
  EXPECT_TRUE(r.turns == Expected(s));
}

TEST(scanwireTurns, SpeedIsTheMeanOfThePackets) {
  Bytes b = Packets({0}, 300 * 64);
  const Bytes second = Packets({1}, 301 * 64);
  b.insert(b.end(), second.begin(), second.end());
  EXPECT_EQ(Whole(b).turns[0].rpm, 300.5f);
  b = Packets({0, 1}, 0);
  const Bytes third = Packets({2}, 1);
  b.insert(b.end(), third.begin(), third.end());
  EXPECT_EQ(Whole(b).turns[0].rpm, static_cast<float>(1.0 / 192.0));
}

TEST(scanwireStream, SceneDecodesExactlyThroughSpinUpAndDown) {
  lds::Options o;
  o.turns = 4;
  o.spin_up = o.spin_down = true;
  o.markers_in_data = true;
  o.invalid_every = 7;
  o.warning_every = 5;
  o.zero_every = 11;
  const lds::Stream s = lds::Generate(o);
  const Decoding r = Whole(s.bytes);
  EXPECT_TRUE(r.turns == Expected(s));
  ASSERT_EQ(r.turns.size(), 4u);
  EXPECT_LT(r.turns[0].rpm, r.turns[1].rpm);
  EXPECT_EQ(r.turns[1].rpm, 300.0f);
  EXPECT_LT(r.turns[3].rpm, r.turns[2].rpm);
  EXPECT_EQ(r.counters.good_packets, 360u);
  EXPECT_EQ(r.counters.checksum_failures, 0u);  // markers inside good packets are never tried
  EXPECT_EQ(r.counters.skipped_bytes, 0u);
  ExpectMatchesReference(s.bytes, r);
}

TEST(scanwireStream, FaultsLoseOnlyTheDamagedPackets) {
  for (uint32_t seed = 1; seed <= 4; ++seed) {
    lds::Options o;
    o.turns = 3;
    o.start_inside = 3 + seed * 4;
    o.markers_in_data = true;
    o.flip_every = 9 + static_cast<int>(seed);
    o.drop_every = 14;
    o.invalid_every = 13;
    o.seed = seed;
    const lds::Stream s = lds::Generate(o);
    const Decoding r = Whole(s.bytes);
    const std::vector<Turn> want = Expected(s);
    EXPECT_TRUE(r.turns == want) << "seed " << seed;
    std::size_t intact = 0;
    for (const lds::Sent& p : s.packets) intact += p.intact ? 1 : 0;
    EXPECT_EQ(r.counters.good_packets, intact);
    EXPECT_GT(r.counters.checksum_failures, 20u);
    ExpectMatchesReference(s.bytes, r);
  }
}

TEST(scanwireResync, AfterGarbage) {
  // Three false starts (FA + index byte), one 0xFA with no index byte, and the
  // last false start running into the first real packet.
  const Bytes garbage = {0x00, 0xFA, 0xA5, 0x13, 0xFA, 0x10, 0x55, 0xFA, 0xF9, 0xFA, 0xFA,
                         0xFF, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0xFA, 0xB0, 0x07};
  lds::Options o;
  o.turns = 2;
  const lds::Stream s = lds::Generate(o);
  Bytes b = garbage;
  b.insert(b.end(), s.bytes.begin(), s.bytes.end());
  const Decoding r = Whole(b);
  EXPECT_TRUE(r.turns == Expected(s));
  EXPECT_EQ(r.counters.skipped_bytes, garbage.size());
  EXPECT_EQ(r.counters.checksum_failures, 3u);
  EXPECT_EQ(r.counters.good_packets, 180u);

  // At the end, only a start that can still become a packet stays unskipped.
  EXPECT_EQ(Whole({0x00, 0xFA, 0x10}).counters.skipped_bytes, 3u);
  EXPECT_EQ(Whole({0x00, 0xFA, 0xA5}).counters.skipped_bytes, 1u);
  EXPECT_EQ(Whole({0x00, 0xFA}).counters.skipped_bytes, 1u);
}

TEST(scanwireResync, NextPacketStartsInsideTheRejectedOne) {
  const Bytes a = Packets({10}), b = Packets({11, 12});
  // Packet 10 cut short by 5 bytes: its 22-byte window ends inside packet 11.
  Bytes cut(a.begin(), a.end() - 5);
  cut.insert(cut.end(), b.begin(), b.end());
  Decoding r = Whole(cut);
  ASSERT_EQ(r.turns.size(), 1u);
  EXPECT_EQ(r.turns[0].lowest, 11u);
  EXPECT_EQ(r.turns[0].packets, 2u);
  EXPECT_EQ(r.counters.checksum_failures, 1u);
  EXPECT_EQ(r.counters.skipped_bytes, 17u);

  // A bad packet whose data holds FA + index: that false start fails too,
  // then the real next packet is found.
  lds::Readings marks{};
  marks[2].strength = 0xB0FA;
  lds::PacketBytes bad = lds::MakePacket(10, 300 * 64, marks);
  bad[5] ^= 0x01;
  Bytes with_marker(bad.begin(), bad.end());
  with_marker.insert(with_marker.end(), b.begin(), b.end());
  r = Whole(with_marker);
  ASSERT_EQ(r.turns.size(), 1u);
  EXPECT_EQ(r.turns[0].packets, 2u);
  EXPECT_EQ(r.counters.checksum_failures, 2u);
  EXPECT_EQ(r.counters.skipped_bytes, 22u);
}

TEST(scanwireChunks, AnySplitGivesTheSameTurnsAndCounters) {
  lds::Options o;
  o.turns = 2;
  o.start_inside = 7;
  o.markers_in_data = true;
  o.flip_every = 11;
  o.drop_every = 29;
  o.warning_every = 3;
  o.spin_up = true;
  const Bytes b = lds::Generate(o).bytes;
  const Decoding whole = Whole(b);
  ExpectMatchesReference(b, whole);
  ASSERT_EQ(whole.turns.size(), 2u);

  for (std::size_t split = 0; split <= b.size(); ++split) {
    bool first = true;
    const Decoding r = Feed(b, [&] {
      const std::size_t n = first ? split : b.size();
      first = false;
      return n;
    });
    ASSERT_TRUE(Same(r, whole)) << "split at " << split;
  }
  EXPECT_TRUE(Same(Feed(b, [] { return std::size_t{1}; }), whole));
  for (uint32_t seed = 1; seed <= 20; ++seed) {
    std::mt19937 rng(seed);
    const Decoding r = Feed(b, [&] { return std::size_t{1} + rng() % (seed * 40); });
    EXPECT_TRUE(Same(r, whole)) << "seed " << seed;
  }
}

TEST(scanwireDecoder, AReadyTurnWaitsForTheCaller) {
  lds::Options o;
  o.turns = 2;
  const Bytes b = lds::Generate(o).bytes;
  WireDecoder dec;
  EXPECT_FALSE(dec.Flush());  // nothing yet
  // One chunk holds all of turn 0 and turn 1: reading stops after the packet
  // that ends turn 0.
  const std::size_t used = dec.Feed(b.data(), b.size());
  EXPECT_EQ(used, 91 * 22u);
  ASSERT_TRUE(dec.TurnReady());
  EXPECT_EQ(dec.Feed(b.data() + used, b.size() - used), 0u);
  EXPECT_EQ(dec.Turn().packets, 90u);
  EXPECT_EQ(dec.Counters().good_packets, 91u);
  EXPECT_TRUE(dec.Flush());
  EXPECT_EQ(dec.Counters().turns, 1u);  // Flush did not add a turn
  dec.NextTurn();
  EXPECT_FALSE(dec.TurnReady());
  EXPECT_EQ(dec.Turn().packets, 1u);  // the packet that ended turn 0
  EXPECT_EQ(dec.Turn().lowest_packet, 0u);
  EXPECT_EQ(dec.Feed(b.data() + used, b.size() - used), b.size() - used);
  dec.NextTurn();  // nothing ready: no effect
  EXPECT_EQ(dec.Turn().packets, 90u);
  EXPECT_TRUE(dec.Flush());
  EXPECT_EQ(dec.Counters().turns, 2u);
  EXPECT_EQ(dec.Counters().good_packets, 180u);
}

TEST(scanwireDecoder, ResetNullDataAndUnknownProtocol) {
  const Bytes b = Packets({1, 2});
  WireDecoder dec;
  EXPECT_EQ(dec.Feed(nullptr, 5), 0u);
  dec.Feed(b.data(), 30);  // packet 1 and part of packet 2
  dec.Reset();
  EXPECT_EQ(dec.Counters().good_packets, 0u);
  // The rest of packet 2 is no longer a packet; then packet 1 again.
  dec.Feed(b.data() + 30, b.size() - 30);
  dec.Feed(b.data(), 22);
  EXPECT_EQ(dec.Counters().good_packets, 1u);
  EXPECT_EQ(dec.Counters().skipped_bytes, 14u);
  EXPECT_TRUE(dec.Flush());
  EXPECT_EQ(dec.Turn().lowest_packet, 1u);

  WireDecoder other(static_cast<WireProtocol>(7));
  EXPECT_EQ(other.Feed(b.data(), b.size()), b.size());
  EXPECT_EQ(other.Counters().skipped_bytes, b.size());
  EXPECT_EQ(other.Counters().good_packets, 0u);
  EXPECT_FALSE(other.Flush());
}

}  // namespace
