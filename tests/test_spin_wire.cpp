// SPDX-License-Identifier: BSD-3-Clause
// The LD06/LD19, RPLIDAR and YDLIDAR decoders against streams written by an
// independent writer (tests/spin_stream.h) from a known scene, with the
// faults of a serial port, and against one real LD06 packet.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <random>
#include <vector>

#include "scanwire.h"
#include "spin_stream.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Got {
  std::vector<spin::Sample> samples;
  unsigned packets;
  float rpm;
  unsigned sectors;
};

struct Decoded {
  std::vector<Got> turns;
  SpinCounters counters;
};

SpinProtocol ProtocolOf(spin::Kind k) {
  return k == spin::Kind::kLd06      ? SpinProtocol::kLd06
         : k == spin::Kind::kRplidar ? SpinProtocol::kRplidar
                                     : SpinProtocol::kYdlidar;
}

Decoded Decode(SpinProtocol proto, const Bytes& b, const std::function<std::size_t()>& chunk) {
  auto dec = std::make_unique<SpinDecoder>(proto);
  Decoded d;
  std::size_t off = 0;
  while (off < b.size()) {
    const std::size_t n = std::min(chunk(), b.size() - off);
    std::size_t used = 0;
    while (used < n) {
      used += dec->Feed(b.data() + off + used, n - used);
      if (dec->TurnReady()) {
        const SpinTurn& t = dec->Turn();
        Got g{{}, t.packets, t.rpm, t.sectors};
        for (std::size_t i = 0; i < t.count; ++i) g.samples.push_back({t.angle_deg[i], t.range_mm[i], t.strength[i]});
        d.turns.push_back(g);
        dec->NextTurn();
      }
    }
    off += n;
  }
  d.counters = dec->Counters();
  return d;
}

Decoded Whole(SpinProtocol proto, const Bytes& b) {
  return Decode(proto, b, [&] { return b.size(); });
}

// The writer's complete turns: every revolution with a packet but the last.
std::vector<spin::Turn> Complete(const spin::Stream& s) {
  std::vector<spin::Turn> out;
  for (const spin::Turn& t : s.turns)
    if (t.packets > 0) out.push_back(t);
  if (!out.empty()) out.pop_back();
  return out;
}

void ExpectSame(const std::vector<spin::Turn>& want, const Decoded& got, bool ld06) {
  ASSERT_EQ(got.turns.size(), want.size());
  for (std::size_t t = 0; t < want.size(); ++t) {
    SCOPED_TRACE("turn " + std::to_string(t));
    ASSERT_EQ(got.turns[t].samples.size(), want[t].samples.size());
    EXPECT_EQ(got.turns[t].packets, want[t].packets);
    if (ld06)
      EXPECT_FLOAT_EQ(got.turns[t].rpm, static_cast<float>(want[t].speed_sum / want[t].packets / 6.0));
    else
      EXPECT_EQ(got.turns[t].rpm, 0.0f);
    for (std::size_t i = 0; i < want[t].samples.size(); ++i) {
      const spin::Sample& w = want[t].samples[i];
      const spin::Sample& g = got.turns[t].samples[i];
      ASSERT_NEAR(g.angle, w.angle, 2e-3) << "sample " << i;
      ASSERT_EQ(g.range_mm, w.range_mm) << "sample " << i;
      ASSERT_EQ(g.strength, w.strength) << "sample " << i;
    }
  }
}

const spin::Kind kKinds[] = {spin::Kind::kLd06, spin::Kind::kRplidar, spin::Kind::kYdlidar};

TEST(SpinWire, Ld06DatasheetPacketDecodesToItsValues) {
  const Bytes p = {0x54, 0x2C, 0x68, 0x08, 0xAB, 0x7E, 0xE0, 0x00, 0xE4, 0xDC, 0x00, 0xE2, 0xD9, 0x00, 0xE5, 0xD5,
                   0x00, 0xE3, 0xD3, 0x00, 0xE4, 0xD0, 0x00, 0xE9, 0xCD, 0x00, 0xE4, 0xCA, 0x00, 0xE2, 0xC7, 0x00,
                   0xE9, 0xC5, 0x00, 0xE5, 0xC2, 0x00, 0xE5, 0xC0, 0x00, 0xE5, 0xBE, 0x82, 0x3A, 0x1A, 0x50};
  SpinDecoder dec(SpinProtocol::kLd06);
  EXPECT_EQ(dec.Feed(p.data(), p.size()), p.size());
  ASSERT_TRUE(dec.Flush());
  const SpinTurn& t = dec.Turn();
  const float want_mm[] = {224, 220, 217, 213, 211, 208, 205, 202, 199, 197, 194, 192};
  ASSERT_EQ(t.count, 12u);
  EXPECT_FLOAT_EQ(t.rpm, static_cast<float>(2152.0 / 6.0));
  for (int i = 0; i < 12; ++i) {
    EXPECT_EQ(t.range_mm[i], want_mm[i]);
    EXPECT_NEAR(t.angle_deg[i], 324.27 + i * (334.70 - 324.27) / 11.0, 1e-4);
    EXPECT_EQ(t.strength[i], p[static_cast<std::size_t>(8 + 3 * i)]);  // the byte after its distance
  }
  EXPECT_EQ(dec.Counters().bad_packets, 0u);
  // One bit off anywhere fails the CRC.
  for (std::size_t k = 0; k < p.size(); ++k) {
    Bytes q = p;
    q[k] ^= 0x10;
    SpinDecoder d2(SpinProtocol::kLd06);
    d2.Feed(q.data(), q.size());
    EXPECT_FALSE(d2.Flush()) << "byte " << k;
  }
}

TEST(SpinWire, CleanStreamsMatchTheScene) {
  for (spin::Kind k : kKinds) {
    SCOPED_TRACE(static_cast<int>(k));
    spin::Options o;
    o.samples_per_s = k == spin::Kind::kRplidar ? 2000 : 4500;
    o.hz = k == spin::Kind::kRplidar ? 5.5 : 8.0;
    const spin::Stream s = spin::Write(k, o);
    const Decoded d = Whole(ProtocolOf(k), s.bytes);
    ExpectSame(Complete(s), d, k == spin::Kind::kLd06);
    EXPECT_EQ(d.counters.bad_packets, 0u);
    EXPECT_EQ(d.counters.skipped_bytes, 0u);
    EXPECT_EQ(d.counters.descriptors, k == spin::Kind::kRplidar ? 1u : 0u);
    // A whole turn covers every 2-degree sector; the X4's correction turns
    // near samples by up to 7 degrees and opens a few gaps behind edges.
    for (const Got& g : d.turns) EXPECT_GE(g.sectors, k == spin::Kind::kYdlidar ? 172u : SpinTurn::kSectors);
  }
}

TEST(SpinWire, SpeedChangesStartInsideATurnAndWrappingPackets) {
  for (spin::Kind k : kKinds) {
    SCOPED_TRACE(static_cast<int>(k));
    spin::Options o;
    o.turns = 6;
    o.start_deg = 123.45;  // the first turn is partial
    o.turn_hz = {6, 6, 12, 7, 10, 5, 9};
    o.samples_per_s = 3000;
    const spin::Stream s = spin::Write(k, o);
    const Decoded d = Whole(ProtocolOf(k), s.bytes);
    ExpectSame(Complete(s), d, k == spin::Kind::kLd06);
    ASSERT_GE(d.turns.size(), 5u);
    EXPECT_LT(d.turns[0].sectors, 130u);  // started at 123 degrees
  }
}

TEST(SpinWire, AnyChunkingGivesTheSameTurns) {
  for (spin::Kind k : kKinds) {
    SCOPED_TRACE(static_cast<int>(k));
    spin::Options o;
    o.turns = 2;
    o.hz = 12;
    o.samples_per_s = 1500;
    o.flip_every = 9;
    const spin::Stream s = spin::Write(k, o);
    const Decoded whole = Whole(ProtocolOf(k), s.bytes);
    ASSERT_FALSE(whole.turns.empty());
    // Two pieces, cut at every byte.
    for (std::size_t cut = 1; cut < s.bytes.size(); ++cut) {
      bool first = true;
      const Decoded d = Decode(ProtocolOf(k), s.bytes, [&] {
        const std::size_t n = first ? cut : s.bytes.size();
        first = false;
        return n;
      });
      ASSERT_EQ(d.turns.size(), whole.turns.size()) << "cut at " << cut;
      for (std::size_t t = 0; t < d.turns.size(); ++t)
        ASSERT_EQ(d.turns[t].samples.size(), whole.turns[t].samples.size()) << "cut at " << cut;
      ASSERT_EQ(d.counters.skipped_bytes, whole.counters.skipped_bytes) << "cut at " << cut;
    }
    std::mt19937 rng(5);
    std::uniform_int_distribution<std::size_t> size(1, 64);
    const Decoded d = Decode(ProtocolOf(k), s.bytes, [&] { return size(rng); });
    ASSERT_EQ(d.turns.size(), whole.turns.size());
    for (std::size_t t = 0; t < d.turns.size(); ++t)
      for (std::size_t i = 0; i < d.turns[t].samples.size(); ++i) {
        EXPECT_EQ(d.turns[t].samples[i].angle, whole.turns[t].samples[i].angle);
        EXPECT_EQ(d.turns[t].samples[i].range_mm, whole.turns[t].samples[i].range_mm);
      }
  }
}

// Checksummed packets: a damaged packet is lost whole and nothing else is.
TEST(SpinWire, CorruptAndDroppedBytesLoseOnlyTheirPackets) {
  for (spin::Kind k : {spin::Kind::kLd06, spin::Kind::kYdlidar}) {
    SCOPED_TRACE(static_cast<int>(k));
    spin::Options o;
    o.turns = 5;
    o.flip_every = 7;
    o.drop_every = 11;
    const spin::Stream s = spin::Write(k, o);
    ASSERT_GT(s.damaged, 10);
    const Decoded d = Whole(ProtocolOf(k), s.bytes);
    ExpectSame(Complete(s), d, k == spin::Kind::kLd06);
    EXPECT_GT(d.counters.bad_packets + d.counters.skipped_bytes, 0u);
    EXPECT_GE(d.counters.resyncs, 1u);
  }
}

// RPLIDAR nodes carry two check bits: a damaged node may pass, and a
// dropped byte may cost its neighbour, but the intact nodes come through in
// order and little else does.
TEST(SpinWire, RplidarKeepsEveryIntactNodeThroughDamage) {
  spin::Options o;
  o.turns = 5;
  o.samples_per_s = 2000;
  o.flip_every = 7;
  o.drop_every = 11;
  const spin::Stream s = spin::Write(spin::Kind::kRplidar, o);
  const Decoded d = Whole(SpinProtocol::kRplidar, s.bytes);
  std::vector<spin::Sample> want, got;
  for (const spin::Turn& t : Complete(s)) want.insert(want.end(), t.samples.begin(), t.samples.end());
  for (const Got& t : d.turns) got.insert(got.end(), t.samples.begin(), t.samples.end());
  // Each decoded sample is matched to the next intact one it equals, if any.
  std::size_t j = 0, matched = 0, extra = 0;
  for (const spin::Sample& g : got) {
    std::size_t k = j;
    while (k < want.size() && k < j + 8 &&
           !(std::fabs(g.angle - want[k].angle) < 1e-6 && g.range_mm == want[k].range_mm))
      ++k;
    if (k < want.size() && k < j + 8) {
      ++matched;
      j = k + 1;
    } else {
      ++extra;
    }
  }
  j = matched;
  EXPECT_GE(j + 2 * static_cast<std::size_t>(s.damaged), want.size());
  EXPECT_GT(j, want.size() * 3 / 4);
  EXPECT_LE(extra, 2 * static_cast<std::size_t>(s.damaged));
  EXPECT_GT(d.counters.skipped_bytes, 0u);
}

TEST(SpinWire, YdlidarCorrectsEachAngleByItsDistance) {
  // One start packet, one packet of two samples at 10 and 20 degrees: 155.3 mm
  // (no correction) and 1000 mm (about -6.76 degrees), then a start packet.
  auto packet = [](bool start, std::vector<unsigned> raw, unsigned fsa, unsigned lsa) {
    Bytes p = {0xAA, 0x55, static_cast<uint8_t>(start), static_cast<uint8_t>(raw.size())};
    unsigned x = 0x55AA ^ ((start ? 1u : 0u) | static_cast<unsigned>(raw.size()) << 8) ^ fsa ^ lsa;
    for (unsigned r : raw) x ^= r;
    for (unsigned v : {fsa, lsa, x}) {
      p.push_back(static_cast<uint8_t>(v));
      p.push_back(static_cast<uint8_t>(v >> 8));
    }
    for (unsigned r : raw) {
      p.push_back(static_cast<uint8_t>(r));
      p.push_back(static_cast<uint8_t>(r >> 8));
    }
    return p;
  };
  Bytes b = packet(true, {0}, 1, 1);
  const Bytes two = packet(false, {621, 4000}, (10 * 64) << 1 | 1, (20 * 64) << 1 | 1);
  const Bytes next = packet(true, {0}, 1, 1);
  b.insert(b.end(), two.begin(), two.end());
  b.insert(b.end(), next.begin(), next.end());
  const Decoded d = Whole(SpinProtocol::kYdlidar, b);
  ASSERT_EQ(d.turns.size(), 1u);
  ASSERT_EQ(d.turns[0].samples.size(), 3u);
  EXPECT_NEAR(d.turns[0].samples[1].angle, 10.0 + std::atan(21.8 * (155.3 - 155.25) / (155.3 * 155.25)) * 57.29578,
              1e-4);
  EXPECT_NEAR(d.turns[0].samples[2].angle, 20.0 - 6.7622, 1e-3);
  EXPECT_EQ(d.turns[0].samples[2].range_mm, 1000.0);
}

TEST(SpinWire, AStreamOfAnotherProtocolGivesNoTurn) {
  for (spin::Kind k : kKinds) {
    spin::Options o;
    o.turns = 3;
    const spin::Stream s = spin::Write(k, o);
    for (spin::Kind other : kKinds) {
      if (other == k || other == spin::Kind::kRplidar) continue;  // nodes are too weakly framed to refuse all
      const Decoded d = Whole(ProtocolOf(other), s.bytes);
      EXPECT_TRUE(d.turns.empty()) << static_cast<int>(k) << " read as " << static_cast<int>(other);
      EXPECT_EQ(d.counters.good_packets, 0u);
    }
  }
}

TEST(SpinWire, DropPartialKeepsOldPacketsOutOfAFreshTurn) {
  spin::Options o;
  o.turns = 3;
  const spin::Stream s = spin::Write(spin::Kind::kLd06, o);
  const std::size_t half = 47 * (s.turns[0].packets / 2) + 20;  // half a turn and part of a packet
  SpinDecoder dec(SpinProtocol::kLd06);
  EXPECT_EQ(dec.Feed(s.bytes.data(), half), half);
  EXPECT_GT(dec.Assembling(), 0u);
  dec.DropPartial();
  EXPECT_EQ(dec.Assembling(), 0u);
  EXPECT_EQ(dec.Counters().dropped_turns, 1u);
  // Fresh bytes from the next turn on: the first ready turn holds only them.
  const std::size_t fresh = 47 * s.turns[0].packets;
  std::size_t off = fresh;
  while (off < s.bytes.size() && !dec.TurnReady()) off += dec.Feed(s.bytes.data() + off, s.bytes.size() - off);
  ASSERT_TRUE(dec.TurnReady());
  EXPECT_EQ(dec.Turn().packets, s.turns[1].packets);
  EXPECT_EQ(dec.Turn().count, s.turns[1].samples.size());
}

TEST(SpinWire, ATurnBeyondCapacityKeepsItsFirstSamplesAndCountsTheRest) {
  spin::Options o;
  o.turns = 2;
  o.hz = 1.5;  // 3000 samples a turn
  const spin::Stream s = spin::Write(spin::Kind::kLd06, o);
  const Decoded d = Whole(SpinProtocol::kLd06, s.bytes);
  ASSERT_EQ(d.turns.size(), 1u);
  EXPECT_EQ(d.turns[0].samples.size(), SpinTurn::kMaxSamples);
  std::size_t over = 0;  // the unfinished last turn overflows as well
  for (const spin::Turn& t : s.turns)
    over += t.samples.size() > SpinTurn::kMaxSamples ? t.samples.size() - SpinTurn::kMaxSamples : 0;
  EXPECT_EQ(d.counters.dropped_samples, over);
  EXPECT_LT(d.turns[0].sectors, SpinTurn::kSectors);
}

}  // namespace
