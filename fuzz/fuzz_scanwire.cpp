// SPDX-License-Identifier: BSD-3-Clause
// Serial stream decoder fuzz target. The input is the byte stream, then one
// control byte: bit 0 writes the right checksum into every packet start that
// has room (so that mutated data still forms good packets), the other bits
// seed the chunk sizes. Checked: Feed() stops early only at a ready turn;
// every delivered sample matches a reading of some 22 bytes in the stream
// with a good checksum; the turns and counters equal the reference model's
// (tests/scanwire_reference.h) and do not depend on the chunk sizes.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_check.h"
#include "lds_stream.h"
#include "scanwire.h"
#include "scanwire_reference.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Result {
  std::vector<scanwire_ref::Turn> turns;
  WireCounters counters;
};

Result Decode(const Bytes& b, uint32_t seed) {
  WireDecoder dec;
  Result r;
  uint32_t x = seed * 2654435761u + 1u;
  std::size_t off = 0;
  auto take = [&] {
    const ScanTurn& t = dec.Turn();
    CHECK(t.count == 4u * t.packets && t.packets >= 1 && t.packets <= 90, "turn of %u packets",
          t.packets);
    scanwire_ref::Turn out;
    for (std::size_t i = 0; i < t.count; ++i) {
      out.samples.push_back({t.angle_deg[i], t.range_mm[i], t.strength[i], t.flags[i]});
    }
    out.rpm = t.rpm;
    out.packets = t.packets;
    out.lowest = t.lowest_packet;
    out.highest = t.highest_packet;
    r.turns.push_back(out);
    dec.NextTurn();
    CHECK(!dec.TurnReady(), "a turn stayed ready");
  };
  while (off < b.size()) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    // Mostly short reads, as from a port, sometimes everything left.
    std::size_t n = seed == 0 ? 1 : (x % 8 == 0 ? b.size() : 1 + x % 64);
    if (n > b.size() - off) n = b.size() - off;
    const std::size_t used = dec.Feed(b.data() + off, n);
    CHECK(used <= n, "read %zu of %zu", used, n);
    CHECK(used == n || dec.TurnReady(), "stopped at %zu of %zu without a turn", used, n);
    off += used;
    if (dec.TurnReady()) take();
  }
  if (dec.Flush()) take();
  r.counters = dec.Counters();
  return r;
}

// Offsets of the 22-byte windows with a good checksum, by packet number.
struct GoodWindows {
  std::vector<std::size_t> at[90];
  explicit GoodWindows(const Bytes& b) {
    for (std::size_t i = 0; i + lds::kPacketBytes <= b.size(); ++i) {
      if (b[i] == 0xFA && scanwire_ref::IndexByte(b[i + 1]) && lds::ChecksumOk(&b[i])) {
        at[b[i + 1] - 0xA0].push_back(i);
      }
    }
  }
};

// Some good window holds the sample.
bool FromGoodPacket(const Bytes& b, const GoodWindows& w, const scanwire_ref::Sample& s) {
  if (!(s.angle_deg >= 0.0f && s.angle_deg < 360.0f)) return false;
  const unsigned angle = static_cast<unsigned>(s.angle_deg);
  if (static_cast<float>(angle) != s.angle_deg) return false;
  for (std::size_t i : w.at[angle / 4]) {
    const uint8_t* r = &b[i + 4 + 4 * (angle % 4)];
    const unsigned dist = r[0] | (r[1] & 0x3Fu) << 8;
    const bool invalid = (r[1] & 0x80) != 0;
    if (s.strength == (r[2] | r[3] << 8) && s.flags == ((invalid ? 1 : 0) | ((r[1] & 0x40) ? 2 : 0)) &&
        s.range_mm == (invalid ? 0.0f : static_cast<float>(dist))) {
      return true;
    }
  }
  return false;
}

bool SameCounters(const WireCounters& a, const WireCounters& b) {
  return a.good_packets == b.good_packets && a.checksum_failures == b.checksum_failures &&
         a.skipped_bytes == b.skipped_bytes && a.turns == b.turns;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t control = data[size - 1];
  Bytes b(data, data + size - 1);
  if (control & 1) lds::RepairChecksums(b);

  const Result r = Decode(b, control >> 1 | 1u);
  const scanwire_ref::Decoded d = scanwire_ref::Decode(b, true);
  const GoodWindows windows(b);
  for (const auto& t : r.turns) {
    for (const auto& s : t.samples) {
      CHECK(FromGoodPacket(b, windows, s), "sample at %g deg, %g mm from no good packet",
            static_cast<double>(s.angle_deg), static_cast<double>(s.range_mm));
    }
  }
  CHECK(r.turns.size() == d.turns.size(), "%zu turns, reference %zu", r.turns.size(), d.turns.size());
  for (std::size_t t = 0; t < r.turns.size(); ++t) CHECK(r.turns[t] == d.turns[t], "turn %zu", t);
  CHECK(r.counters.good_packets == d.good && r.counters.checksum_failures == d.failures &&
            r.counters.skipped_bytes == d.skipped && r.counters.turns == d.turns.size(),
        "counters %llu %llu %llu %llu, reference %llu %llu %llu %zu",
        static_cast<unsigned long long>(r.counters.good_packets),
        static_cast<unsigned long long>(r.counters.checksum_failures),
        static_cast<unsigned long long>(r.counters.skipped_bytes),
        static_cast<unsigned long long>(r.counters.turns), static_cast<unsigned long long>(d.good),
        static_cast<unsigned long long>(d.failures), static_cast<unsigned long long>(d.skipped),
        d.turns.size());
  CHECK(b.size() == 22 * d.good + d.skipped + d.buffered, "bytes unaccounted for");

  // Byte by byte gives the same.
  const Result one = Decode(b, 0);
  CHECK(one.turns == r.turns && SameCounters(one.counters, r.counters), "byte by byte differs");
  return 0;
}
