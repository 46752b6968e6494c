// SPDX-License-Identifier: BSD-3-Clause
// The host's reading of a scanner's serial stream (robot-demo/input/
// lds_source.cpp): bytes -> turns -> gated, binned scans. The input is the
// byte stream, then three control bytes: repair checksums (bit 0) and the
// chunk sizes' seed; the scanner's layout; the gates. Checked: every finite
// reading of a planned scan comes from a 22-byte window with a good checksum
// (never from a failed packet); the records are the reference decoder's
// turns (tests/scanwire_reference.h) gated and binned, the last, unfinished
// turn never planned; counters add up; chunk sizes change nothing.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <set>
#include <utility>
#include <vector>

#include "fuzz_check.h"
#include "input/lds_source.h"
#include "lds_stream.h"
#include "scanbin.h"
#include "scanwire_reference.h"

namespace {

using Bytes = std::vector<uint8_t>;

class ChunkBytes : public ByteSource {
 public:
  ChunkBytes(const Bytes& b, uint32_t seed) : b_(b), x_(seed * 2654435761u + 1u), one_(seed == 0) {}
  Status Read(unsigned char* buf, std::size_t n, std::size_t& got, int) override {
    got = 0;
    if (pos_ == b_.size()) return kEnd;
    x_ ^= x_ << 13;
    x_ ^= x_ >> 17;
    x_ ^= x_ << 5;
    std::size_t k = one_ ? 1 : (x_ % 8 == 0 ? n : 1 + x_ % 64);
    k = std::min({k, n, b_.size() - pos_});
    std::memcpy(buf, b_.data() + pos_, k);
    pos_ += k;
    got = k;
    return kData;
  }
  int Errno() const override { return 0; }

 private:
  const Bytes& b_;
  std::size_t pos_ = 0;
  uint32_t x_;
  bool one_;
};

struct Record {
  TurnSource::Result result;
  TurnInfo info;
  Scan scan;
};

std::vector<Record> ReadAll(const Bytes& b, uint32_t seed, const ScanLayout& layout, const LdsGate& gate,
                            LdsStats& stats) {
  ChunkBytes bytes(b, seed);
  LdsTurnSource src(bytes, layout, gate);
  std::vector<Record> out;
  Record r{};
  int garbage = 0;  // stops for bytes without one good packet, apart from the turns
  while ((r.result = src.Next(r.scan, r.info)) == TurnSource::kScan || r.result == TurnSource::kStop) {
    if (r.result == TurnSource::kStop) r.scan.fill(0.0f);
    if (r.result == TurnSource::kStop && r.info.skip == SkipReason::kGarbage) {
      ++garbage;
      continue;
    }
    out.push_back(r);
  }
  CHECK(r.result == TurnSource::kEnd, "ended with %d: %s", static_cast<int>(r.result), src.Error().c_str());
  stats = *src.Stats();
  CHECK((garbage <= 1 && (garbage == 1) == (stats.wire.good_packets == 0 && !b.empty())) ||
            (garbage == 1 && b.size() >= 4096),
        "%d stops for garbage, %llu good packets in %zu bytes", garbage,
        static_cast<unsigned long long>(stats.wire.good_packets), b.size());
  return out;
}

// (index, bits) of every reading of every 22-byte window with a good checksum, binned alone.
std::set<std::pair<int, uint32_t>> GoodReadings(const Bytes& b, const ScanLayout& layout) {
  std::set<std::pair<int, uint32_t>> good;
  for (std::size_t i = 0; i + lds::kPacketBytes <= b.size(); ++i) {
    if (b[i] != 0xFA || !scanwire_ref::IndexByte(b[i + 1]) || !lds::ChecksumOk(&b[i])) continue;
    for (unsigned j = 0; j < 4; ++j) {
      const uint8_t* r = &b[i + 4 + 4 * j];
      const float angle = static_cast<float>((b[i + 1] - 0xA0) * 4 + j);
      const float mm = (r[1] & 0x80) ? 0.0f : static_cast<float>(r[0] | (r[1] & 0x3Fu) << 8);
      float one[360];
      BinSamples(&angle, &mm, 1, layout, one);
      for (int k = 0; k < 360; ++k) {
        uint32_t bits = 0;
        std::memcpy(&bits, &one[k], 4);
        if (std::isfinite(one[k])) good.insert({k, bits});
      }
    }
  }
  return good;
}

bool SameBits(const Scan& a, const Scan& b) { return std::memcmp(a.data(), b.data(), sizeof(float) * 360) == 0; }

void CheckAgainstReference(const Bytes& b, const std::vector<Record>& recs, const LdsStats& s,
                           const ScanLayout& layout, const LdsGate& gate) {
  const scanwire_ref::Decoded d = scanwire_ref::Decode(b, false);
  CHECK(recs.size() == d.turns.size(), "%zu records, reference %zu turns", recs.size(), d.turns.size());
  CHECK(s.wire.good_packets == d.good && s.wire.checksum_failures == d.failures && s.wire.skipped_bytes == d.skipped,
        "counters differ from the reference");
  CHECK(s.bytes == b.size() && s.turns == static_cast<long long>(d.turns.size()), "bytes or turns");
  const unsigned need = (static_cast<unsigned>(gate.min_packets_percent) * 90u + 99u) / 100u;
  long long planned = 0;
  for (std::size_t t = 0; t < recs.size(); ++t) {
    const scanwire_ref::Turn& ref = d.turns[t];
    const double rpm = ref.rpm;
    const bool usable = rpm >= gate.rpm_min && rpm <= gate.rpm_max && ref.packets >= need;
    CHECK(recs[t].info.turn == static_cast<long long>(t) && recs[t].info.rpm == ref.rpm &&
              recs[t].info.packets == ref.packets,
          "turn %zu's info", t);
    CHECK(usable == (recs[t].result == TurnSource::kScan), "turn %zu planned %d, should be %d", t,
          recs[t].result == TurnSource::kScan, usable);
    if (!usable) continue;
    ++planned;
    std::vector<float> angles, ranges;
    for (const auto& smp : ref.samples) {
      angles.push_back(smp.angle_deg);
      ranges.push_back(smp.range_mm);
    }
    // Invalid or zero readings are unseen, and a turn of no sample is all unseen.
    Scan want{};
    if (angles.empty()) {
      const float none = std::numeric_limits<float>::quiet_NaN();
      BinSamplesSeen(&none, &none, 1, layout, want.data());
    } else {
      BinSamplesSeen(angles.data(), ranges.data(), angles.size(), layout, want.data());
    }
    CHECK(SameBits(want, recs[t].scan), "turn %zu binned differently", t);
  }
  CHECK(planned == s.planned && s.slow + s.fast + s.few_packets == s.turns - s.planned, "planned counts");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const uint8_t c0 = data[size - 3], c1 = data[size - 2], c2 = data[size - 1];
  Bytes b(data, data + size - 3);
  if (c0 & 1) lds::RepairChecksums(b);
  ScanLayout layout;
  layout.range_scale = kScanMillimetres;
  layout.zero_deg = (c1 & 7) * 45.0 + ((c1 >> 3) & 1) * 0.5;
  layout.clockwise = (c1 >> 4) & 1;
  layout.min_range = static_cast<float>(c1 >> 5) * 0.1f;
  LdsGate gate;
  const double lows[] = {0.0, 200.0, 250.0, 300.0}, highs[] = {400.0, 300.0, 1e6, 301.0};
  gate.rpm_min = lows[c2 & 3];
  gate.rpm_max = std::max(gate.rpm_min, highs[(c2 >> 2) & 3]);
  gate.min_packets_percent = ((c2 >> 4) * 7) % 101;

  LdsStats stats;
  const std::vector<Record> recs = ReadAll(b, c0 >> 1 | 1u, layout, gate, stats);
  const auto good = GoodReadings(b, layout);
  for (const Record& r : recs) {
    if (r.result != TurnSource::kScan) continue;
    for (int k = 0; k < 360; ++k) {
      uint32_t bits = 0;
      std::memcpy(&bits, &r.scan[static_cast<std::size_t>(k)], 4);
      CHECK(!std::isfinite(r.scan[static_cast<std::size_t>(k)]) || good.count({k, bits}) == 1,
            "turn %lld index %d: %g from no good packet", r.info.turn, k,
            static_cast<double>(r.scan[static_cast<std::size_t>(k)]));
    }
  }
  CheckAgainstReference(b, recs, stats, layout, gate);

  LdsStats one;
  const std::vector<Record> bytewise = ReadAll(b, 0, layout, gate, one);
  CHECK(bytewise.size() == recs.size(), "byte by byte: %zu records, not %zu", bytewise.size(), recs.size());
  for (std::size_t t = 0; t < recs.size(); ++t)
    CHECK(bytewise[t].result == recs[t].result && SameBits(bytewise[t].scan, recs[t].scan), "byte by byte differs");
  return 0;
}
