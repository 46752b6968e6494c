// SPDX-License-Identifier: BSD-3-Clause
// Fuzz target of the LD06, RPLIDAR and YDLIDAR decoders. The input: one byte
// choosing the protocol (and, in bit 2, whether packet-shaped runs get their
// right check, so that mutated data still forms good packets), the stream,
// then one byte seeding the chunk sizes. Checked: Feed() stops early only at
// a ready turn; every turn is within bounds (count, angles, ranges,
// sectors); the counters account for the samples; and the same turns and
// counters come byte by byte as in chunks.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz_check.h"
#include "scanwire.h"
#include "spin_stream.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct TurnCopy {
  std::vector<float> angle, range;
  unsigned packets, sectors;
  float rpm;
  bool operator==(const TurnCopy& o) const {
    return angle == o.angle && range == o.range && packets == o.packets && sectors == o.sectors &&
           (rpm == o.rpm || (std::isnan(rpm) && std::isnan(o.rpm)));
  }
};

struct Result {
  std::vector<TurnCopy> turns;
  SpinCounters counters;
};

void Repair(SpinProtocol p, Bytes& b) {
  for (std::size_t i = 0; i + 10 <= b.size(); ++i) {
    if (p == SpinProtocol::kLd06 && b[i] == 0x54 && b[i + 1] == 0x2C && i + 47 <= b.size()) {
      b[i + 46] = spin::Crc8(&b[i], 46);
      i += 46;
    } else if (p == SpinProtocol::kYdlidar && b[i] == 0xAA && b[i + 1] == 0x55 && b[i + 3] > 0 &&
               i + 10 + 2u * b[i + 3] <= b.size()) {
      const std::size_t len = 10 + 2u * b[i + 3];
      unsigned x = 0;
      for (std::size_t k = 0; k < len; k += 2)
        if (k != 8) x ^= b[i + k] | static_cast<unsigned>(b[i + k + 1]) << 8;
      b[i + 8] = static_cast<uint8_t>(x);
      b[i + 9] = static_cast<uint8_t>(x >> 8);
      i += len - 1;
    }
  }
}

Result Decode(SpinProtocol p, const Bytes& b, uint32_t seed) {
  auto dec = std::make_unique<SpinDecoder>(p);
  Result r;
  uint32_t x = seed * 2654435761u + 1u;
  auto take = [&] {
    const SpinTurn& t = dec->Turn();
    CHECK(t.count <= SpinTurn::kMaxSamples && t.packets >= 1 && t.sectors <= SpinTurn::kSectors &&
              (t.count == 0 || t.sectors >= 1),
          "turn of %zu samples, %u packets, %u sectors", t.count, t.packets, t.sectors);
    TurnCopy c{{}, {}, t.packets, t.sectors, t.rpm};
    for (std::size_t i = 0; i < t.count; ++i) {
      CHECK(t.angle_deg[i] >= 0.0f && t.angle_deg[i] < 360.0f, "angle %g", static_cast<double>(t.angle_deg[i]));
      CHECK(t.range_mm[i] >= 0.0f && t.range_mm[i] <= 65535.0f, "range %g", static_cast<double>(t.range_mm[i]));
      c.angle.push_back(t.angle_deg[i]);
      c.range.push_back(t.range_mm[i]);
    }
    CHECK(std::isfinite(t.rpm) && t.rpm >= 0.0f, "rpm %g", static_cast<double>(t.rpm));
    r.turns.push_back(c);
    dec->NextTurn();
    CHECK(!dec->TurnReady(), "a turn stayed ready");
  };
  std::size_t off = 0;
  while (off < b.size()) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    std::size_t n = seed == 0 ? 1 : (x % 8 == 0 ? b.size() : 1 + x % 64);
    if (n > b.size() - off) n = b.size() - off;
    const std::size_t used = dec->Feed(b.data() + off, n);
    CHECK(used <= n, "read %zu of %zu", used, n);
    CHECK(used == n || dec->TurnReady(), "stopped at %zu of %zu without a turn", used, n);
    off += used;
    if (dec->TurnReady()) take();
  }
  if (dec->Flush()) take();
  r.counters = dec->Counters();
  CHECK(r.counters.turns == r.turns.size(), "%llu turns counted, %zu taken",
        static_cast<unsigned long long>(r.counters.turns), r.turns.size());
  CHECK(r.counters.skipped_bytes <= b.size(), "skipped more than read");
  return r;
}

bool SameCounters(const SpinCounters& a, const SpinCounters& b) {
  return a.good_packets == b.good_packets && a.bad_packets == b.bad_packets && a.skipped_bytes == b.skipped_bytes &&
         a.resyncs == b.resyncs && a.dropped_samples == b.dropped_samples && a.descriptors == b.descriptors &&
         a.turns == b.turns;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const SpinProtocol p = data[0] % 3 == 0   ? SpinProtocol::kLd06
                         : data[0] % 3 == 1 ? SpinProtocol::kRplidar
                                            : SpinProtocol::kYdlidar;
  const uint8_t control = data[size - 1];
  Bytes b(data + 1, data + size - 1);
  if (data[0] & 4) Repair(p, b);
  const Result r = Decode(p, b, control | 1u);
  const Result one = Decode(p, b, 0);
  CHECK(one.turns == r.turns && SameCounters(one.counters, r.counters), "byte by byte differs");
  return 0;
}
