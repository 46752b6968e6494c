// SPDX-License-Identifier: BSD-3-Clause
// How much of one core each serial decoder needs at its scanner's full data
// rate: 60 s of stream (written by the tests' stream writers) decoded in
// chunks of 64 bytes, the best of 5 runs. Run by hand:
//   ./build/bench/decode_rate
// It prints figures and never fails on time.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include "lds_stream.h"
#include "scanwire.h"
#include "spin_stream.h"

namespace {

double BestSeconds(const std::function<std::size_t()>& run, std::size_t& turns) {
  double best = 1e9;
  for (int k = 0; k < 5; ++k) {
    const auto t0 = std::chrono::steady_clock::now();
    turns = run();
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
  return best;
}

void Report(const char* name, double stream_s, std::size_t bytes, double s, std::size_t turns) {
  std::printf("%-26s %7zu bytes (%4.0f s of stream, %5zu turns) in %8.3f ms: %.4f %% of one core\n", name, bytes,
              stream_s, turns, s * 1e3, 100.0 * s / stream_s);
}

void Spin(const char* name, spin::Kind kind, SpinProtocol proto, double hz, double rate, double seconds) {
  spin::Options o;
  o.turns = static_cast<int>(seconds * hz);
  o.hz = hz;
  o.samples_per_s = rate;
  const std::vector<uint8_t> b = spin::Write(kind, o).bytes;
  auto dec = std::make_unique<SpinDecoder>(proto);
  std::size_t turns = 0;
  const double s = BestSeconds(
      [&] {
        dec->Reset();
        std::size_t n = 0;
        for (std::size_t off = 0; off < b.size();) {
          const std::size_t end = std::min(b.size(), off + 64);
          while (off < end) {
            off += dec->Feed(b.data() + off, end - off);
            if (dec->TurnReady()) {
              ++n;
              dec->NextTurn();
            }
          }
        }
        return n;
      },
      turns);
  Report(name, seconds, b.size(), s, turns);
}

}  // namespace

int main() {
  constexpr double kSeconds = 60.0;
  {
    lds::Options o;
    o.turns = static_cast<int>(kSeconds * 5);  // 300 rpm
    const std::vector<uint8_t> b = lds::Generate(o).bytes;
    WireDecoder dec;
    std::size_t turns = 0;
    const double s = BestSeconds(
        [&] {
          dec.Reset();
          std::size_t n = 0;
          for (std::size_t off = 0; off < b.size();) {
            const std::size_t end = std::min(b.size(), off + 64);
            while (off < end) {
              off += dec.Feed(b.data() + off, end - off);
              if (dec.TurnReady()) {
                ++n;
                dec.NextTurn();
              }
            }
          }
          return n;
        },
        turns);
    Report("lds (0xFA, 300 rpm)", kSeconds, b.size(), s, turns);
  }
  Spin("ld06 (4500/s, 10 Hz)", spin::Kind::kLd06, SpinProtocol::kLd06, 10, 4500, kSeconds);
  Spin("rplidar a1 (2000/s, 6 Hz)", spin::Kind::kRplidar, SpinProtocol::kRplidar, 6, 2000, kSeconds);
  Spin("rplidar c1 (5000/s, 10 Hz)", spin::Kind::kRplidar, SpinProtocol::kRplidar, 10, 5000, kSeconds);
  Spin("ydlidar x4 (5000/s, 7 Hz)", spin::Kind::kYdlidar, SpinProtocol::kYdlidar, 7, 5000, kSeconds);
  return 0;
}
