// SPDX-License-Identifier: BSD-3-Clause
// Writes the 22-byte packet stream of a spinning scanner from a known scene,
// with the faults of a real serial port on request, and records which
// packets went out intact. For the tests, the fuzz seeds and capture files;
// it shares no code with the decoder.
#ifndef SCANPILOT_LDS_STREAM_H
#define SCANPILOT_LDS_STREAM_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

namespace lds {

constexpr std::size_t kPacketBytes = 22;
constexpr int kPacketsPerTurn = 90;
constexpr uint8_t kStart = 0xFA;
constexpr uint8_t kFirstIndex = 0xA0;

using PacketBytes = std::array<uint8_t, kPacketBytes>;

// Over the first 20 bytes, read as ten little-endian words.
inline uint16_t Checksum(const uint8_t* p) {
  uint64_t acc = 0;
  for (std::size_t k = 0; k < 20; k += 2) acc = acc * 2 + (p[k] | static_cast<unsigned>(p[k + 1]) << 8);
  const uint64_t folded = (acc & 0x7FFF) + (acc >> 15);
  return static_cast<uint16_t>(folded & 0x7FFF);
}

inline bool ChecksumOk(const uint8_t* p) {
  return Checksum(p) == (p[20] | static_cast<unsigned>(p[21]) << 8);
}

// Gives every packet-shaped run of `b` (0xFA, a valid index byte, 20 more
// bytes) its right checksum, so that mutated data still holds good packets.
inline void RepairChecksums(std::vector<uint8_t>& b) {
  for (std::size_t i = 0; i + kPacketBytes <= b.size();) {
    if (b[i] == kStart && b[i + 1] >= kFirstIndex && b[i + 1] < kFirstIndex + kPacketsPerTurn) {
      const uint16_t c = Checksum(&b[i]);
      b[i + 20] = static_cast<uint8_t>(c & 0xFF);
      b[i + 21] = static_cast<uint8_t>(c >> 8);
      i += kPacketBytes;
    } else {
      ++i;
    }
  }
}

struct Reading {
  uint16_t distance = 0;  // millimetres, 14 bits
  uint16_t strength = 0;
  bool invalid = false;
  bool warning = false;
};
using Readings = std::array<Reading, 4>;

// Packet `number` (0..89) of a turn, speed field `speed` (rpm * 64).
inline PacketBytes MakePacket(int number, uint16_t speed, const Readings& r) {
  PacketBytes p{};
  p[0] = kStart;
  p[1] = static_cast<uint8_t>(kFirstIndex + number);
  p[2] = static_cast<uint8_t>(speed & 0xFF);
  p[3] = static_cast<uint8_t>(speed >> 8);
  for (std::size_t j = 0; j < 4; ++j) {
    uint8_t* q = &p[4 + 4 * j];
    q[0] = static_cast<uint8_t>(r[j].distance & 0xFF);
    q[1] = static_cast<uint8_t>(((r[j].distance >> 8) & 0x3F) | (r[j].invalid ? 0x80 : 0) |
                                (r[j].warning ? 0x40 : 0));
    q[2] = static_cast<uint8_t>(r[j].strength & 0xFF);
    q[3] = static_cast<uint8_t>(r[j].strength >> 8);
  }
  const uint16_t c = Checksum(p.data());
  p[20] = static_cast<uint8_t>(c & 0xFF);
  p[21] = static_cast<uint8_t>(c >> 8);
  return p;
}

struct Options {
  int turns = 3;
  uint16_t speed = 300 * 64;  // speed field of a steady turn
  bool spin_up = false;       // the first turn's speed climbs from near 0
  bool spin_down = false;     // the last turn's speed falls to near 0
  // The stream starts this many bytes into a packet of an earlier turn (0: at a packet).
  std::size_t start_inside = 0;
  // Readings whose bytes hold 0xFA, some followed by a valid index byte.
  bool markers_in_data = false;
  int invalid_every = 0;  // every n-th reading flagged invalid (0: none)
  int warning_every = 0;  // every n-th reading flagged with a strength warning
  int zero_every = 0;     // every n-th reading at distance 0
  int flip_every = 0;     // every n-th packet gets one flipped bit
  int drop_every = 0;     // every n-th packet loses one byte
  std::vector<std::pair<int, int>> missing;  // (turn, packet) never sent
  std::vector<std::pair<int, uint16_t>> turn_speed;  // (turn, speed field): a steady turn at another speed
  uint32_t seed = 1;
};

struct Sent {
  int turn;  // -1 for the partial packet at the start
  int number;
  uint16_t speed;
  Readings readings;
  bool intact;  // sent whole with a good checksum
};

struct Stream {
  std::vector<uint8_t> bytes;
  std::vector<Sent> packets;
};

// The scene: what the sensor sees at `angle` in `turn`.
inline Reading SceneReading(const Options& o, int turn, int angle) {
  Reading r;
  const int k = turn * 360 + angle;
  r.distance = static_cast<uint16_t>(250 + (angle * 53 + turn * 11) % 5000);
  r.strength = static_cast<uint16_t>(40 + (angle * 7) % 900);
  if (o.markers_in_data) {
    if (angle % 17 == 3) r.distance = 0x03FA;           // FA 03
    if (angle % 19 == 5) r.strength = 0xB0FA;           // FA B0: a start and a valid index
    if (angle % 23 == 7) {                              // FA E5: likewise, flagged invalid
      r.distance = 0x25FA;
      r.invalid = true;
    }
  }
  if (o.invalid_every > 0 && k % o.invalid_every == 0) r.invalid = true;
  if (o.warning_every > 0 && k % o.warning_every == 1) r.warning = true;
  if (o.zero_every > 0 && k % o.zero_every == 2) r.distance = 0;
  return r;
}

inline uint16_t SceneSpeed(const Options& o, int turn, int number) {
  int steady = o.speed;
  for (const auto& ts : o.turn_speed)
    if (ts.first == turn) steady = ts.second;
  if (o.spin_up && turn == 0) return static_cast<uint16_t>(steady * (number + 1) / kPacketsPerTurn);
  if (o.spin_down && turn == o.turns - 1) {
    return static_cast<uint16_t>(steady * (kPacketsPerTurn - number) / kPacketsPerTurn);
  }
  return static_cast<uint16_t>(steady);
}

inline Readings SceneReadings(const Options& o, int turn, int number) {
  Readings r;
  for (int j = 0; j < 4; ++j) r[static_cast<std::size_t>(j)] = SceneReading(o, turn, 4 * number + j);
  return r;
}

inline Stream Generate(const Options& o) {
  Stream s;
  std::mt19937 rng(o.seed);
  if (o.start_inside > 0 && o.start_inside < kPacketBytes) {
    const Readings r = SceneReadings(o, 0, 89);
    const PacketBytes p = MakePacket(89, o.speed, r);
    s.bytes.insert(s.bytes.end(), p.begin() + static_cast<std::ptrdiff_t>(o.start_inside), p.end());
    s.packets.push_back({-1, 89, o.speed, r, false});
  }
  int sent = 0;
  for (int t = 0; t < o.turns; ++t) {
    for (int n = 0; n < kPacketsPerTurn; ++n) {
      bool skip = false;
      for (const auto& m : o.missing) skip = skip || (m.first == t && m.second == n);
      if (skip) continue;
      ++sent;
      const Readings r = SceneReadings(o, t, n);
      PacketBytes p = MakePacket(n, SceneSpeed(o, t, n), r);
      bool intact = true;
      std::size_t len = kPacketBytes;
      if (o.flip_every > 0 && sent % o.flip_every == 0) {
        // A flip the checksum would miss is no fault; pick another bit.
        const PacketBytes good = p;
        do {
          p = good;
          const std::size_t bit = rng() % (kPacketBytes * 8);
          p[bit / 8] = static_cast<uint8_t>(p[bit / 8] ^ (1u << (bit % 8)));
        } while (p[0] == kStart && ChecksumOk(p.data()));
        intact = false;
      }
      if (o.drop_every > 0 && sent % o.drop_every == 0) {
        const std::size_t at = rng() % kPacketBytes;
        for (std::size_t i = at; i + 1 < kPacketBytes; ++i) p[i] = p[i + 1];
        len = kPacketBytes - 1;
        intact = false;
      }
      s.bytes.insert(s.bytes.end(), p.begin(), p.begin() + static_cast<std::ptrdiff_t>(len));
      s.packets.push_back({t, n, SceneSpeed(o, t, n), r, intact});
    }
  }
  return s;
}

// The intact packets grouped into turns the way the scanner's stream marks
// them: a turn ends where the packet number does not grow.
inline std::vector<std::vector<Sent>> IntactTurns(const Stream& s) {
  std::vector<std::vector<Sent>> turns;
  for (const Sent& p : s.packets) {
    if (!p.intact) continue;
    if (turns.empty() || p.number <= turns.back().back().number) turns.emplace_back();
    turns.back().push_back(p);
  }
  return turns;
}

}  // namespace lds

#endif
