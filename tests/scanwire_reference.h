// SPDX-License-Identifier: BSD-3-Clause
// Reference model of the scanner stream decoder, shared by the tests and the
// fuzz target: reads a whole byte string at once by position, where the
// library works byte by byte on a buffer.
#ifndef SCANPILOT_SCANWIRE_REFERENCE_H
#define SCANPILOT_SCANWIRE_REFERENCE_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "lds_stream.h"

namespace scanwire_ref {

struct Sample {
  float angle_deg;
  float range_mm;  // 0: no return
  uint16_t strength;
  uint8_t flags;  // 1 invalid, 2 warning
  bool operator==(const Sample& o) const {
    return angle_deg == o.angle_deg && range_mm == o.range_mm && strength == o.strength &&
           flags == o.flags;
  }
};

struct Turn {
  std::vector<Sample> samples;
  float rpm = 0.0f;
  unsigned packets = 0, lowest = 0, highest = 0;
  bool operator==(const Turn& o) const {
    return samples == o.samples && rpm == o.rpm && packets == o.packets && lowest == o.lowest &&
           highest == o.highest;
  }
};

struct Decoded {
  std::vector<Turn> turns;
  uint64_t good = 0, failures = 0, skipped = 0;
  std::size_t buffered = 0;  // bytes at the end that may still begin a packet
};

inline bool IndexByte(uint8_t b) { return b >= 0xA0 && b <= 0xF9; }

// `flush`: the turn still open at the end is delivered too.
inline Decoded Decode(const std::vector<uint8_t>& in, bool flush) {
  Decoded d;
  struct Good {
    std::size_t at;
    unsigned number;
  };
  std::vector<Good> good;
  std::size_t i = 0;
  while (i < in.size()) {
    const bool head = in[i] == lds::kStart && (i + 1 == in.size() || IndexByte(in[i + 1]));
    if (!head) {
      ++d.skipped;
      ++i;
    } else if (in.size() - i < lds::kPacketBytes) {
      break;
    } else if (lds::ChecksumOk(&in[i])) {
      good.push_back({i, static_cast<unsigned>(in[i + 1] - 0xA0)});
      i += lds::kPacketBytes;
    } else {
      ++d.failures;
      ++d.skipped;
      ++i;
    }
  }
  d.good = good.size();
  d.buffered = in.size() - i;

  uint64_t speed_sum = 0;
  auto close = [&]() {
    Turn& t = d.turns.back();
    t.rpm = static_cast<float>(static_cast<double>(speed_sum) / (64.0 * t.packets));
  };
  for (std::size_t g = 0; g < good.size(); ++g) {
    if (g == 0 || good[g].number <= good[g - 1].number) {
      if (g > 0) close();
      d.turns.emplace_back();
      d.turns.back().lowest = good[g].number;
      speed_sum = 0;
    }
    Turn& t = d.turns.back();
    const uint8_t* p = &in[good[g].at];
    speed_sum += p[2] | static_cast<unsigned>(p[3]) << 8;
    ++t.packets;
    t.highest = good[g].number;
    for (unsigned j = 0; j < 4; ++j) {
      const uint8_t* r = p + 4 + 4 * j;
      const unsigned dist = r[0] + 256u * (r[1] % 64u);
      const bool invalid = r[1] >= 0x80;
      const bool warning = (r[1] / 64u) % 2u == 1u;
      Sample s;
      s.angle_deg = static_cast<float>(good[g].number * 4 + j);
      s.range_mm = invalid || dist == 0 ? 0.0f : static_cast<float>(dist);
      s.strength = static_cast<uint16_t>(r[2] + 256u * r[3]);
      s.flags = static_cast<uint8_t>((invalid ? 1 : 0) + (warning ? 2 : 0));
      t.samples.push_back(s);
    }
  }
  if (!d.turns.empty()) {
    if (flush) {
      close();
    } else {
      d.turns.pop_back();  // still open
    }
  }
  return d;
}

}  // namespace scanwire_ref

#endif
