// SPDX-License-Identifier: BSD-3-Clause
// Writes a spinning scanner's serial stream to a file, as a capture from the
// port would hold it, from a known scene (tests/lds_stream.h for the 22-byte
// protocol, tests/spin_stream.h for the others): for fuzz seeds, replays,
// the captures in captures/ and trying a reader by hand. `--help` lists the
// options.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "lds_stream.h"
#include "spin_stream.h"

namespace {

const char kHelp[] =
    "usage: write_lds_stream [options] OUT\n"
    "Writes a scanner's serial stream from a known scene into OUT (through OUT.tmp,\n"
    "renamed only when complete).\n"
    "  --protocol P         lds (default: 22-byte 0xFA packets), ld06, rplidar or ydlidar\n"
    "  --turns N            turns to write (default 3; 4 for the others)\n"
    "  --seed S             the faults' random choices\n"
    "  --flip-every N       every N-th packet gets one byte changed\n"
    "  --drop-every N       every N-th packet loses one byte\n"
    "lds only:\n"
    "  --rpm R  --spin-up  --spin-down  --markers  --start-inside K\n"
    "  --invalid-every N  --warning-every N  --zero-every N\n"
    "  --turn-rpm T:R       turn T (from 0) turns steadily at R rpm\n"
    "  --missing T:P:N      packets P..P+N-1 of turn T are never sent\n"
    "ld06, rplidar, ydlidar only:\n"
    "  --hz F               turns per second (default 10)\n"
    "  --rate N             samples per second (default 4500)\n"
    "  --start-deg A        the rotor's angle when the stream starts\n"
    "The scene of ld06, rplidar and ydlidar: a room of 4 m x 3 m around the scanner,\n"
    "a post 0.8 m ahead of the scanner's 0 degrees and a doorway with no return at\n"
    "250..260 degrees. The lds scene: ranges that change with angle and turn.\n";

[[noreturn]] void Fail(std::string what) {
  for (char& c : what) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';  // names from the command line
  }
  std::fprintf(stderr, "write_lds_stream: %s\n", what.c_str());
  std::exit(1);
}

// long long: a seed's 0xFFFFFFFF does not fit a 32-bit target's long.
long long Number(const char* flag, const char* text, long long lo, long long hi) {
  if (text == nullptr) Fail(std::string(flag) + " needs a value");
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || v < lo || v > hi) {
    Fail(std::string(flag) + " takes a whole number from " + std::to_string(lo) + " to " + std::to_string(hi));
  }
  return v;
}

// "A:B" or "A:B:C" of whole numbers, each in [0, hi].
bool Fields(const char* text, long* out, int n, long hi) {
  if (text == nullptr) return false;
  const char* p = text;
  for (int k = 0; k < n; ++k) {
    char* end = nullptr;
    errno = 0;
    out[k] = std::strtol(p, &end, 10);
    if (errno != 0 || end == p || out[k] < 0 || out[k] > hi) return false;
    if (k + 1 < n && *end != ':') return false;
    p = end + (k + 1 < n ? 1 : 0);
  }
  return *p == '\0';
}

}  // namespace

int main(int argc, char** argv) {
  lds::Options o;
  spin::Options so;
  std::string protocol = "lds";
  bool turns_given = false;
  const char* out = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
    auto take = [&](long long lo, long long hi) {
      ++i;
      return Number(a.c_str(), v, lo, hi);
    };
    if (a == "--help" || a == "-h") {
      std::fputs(kHelp, stdout);
      return std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (a == "--protocol") {
      if (v == nullptr || !(std::string(v) == "lds" || std::string(v) == "ld06" || std::string(v) == "rplidar" ||
                            std::string(v) == "ydlidar"))
        Fail("--protocol wants lds, ld06, rplidar or ydlidar");
      protocol = v;
      ++i;
    } else if (a == "--hz") {
      so.hz = static_cast<double>(take(1, 50));
    } else if (a == "--rate") {
      so.samples_per_s = static_cast<double>(take(500, 20000));
    } else if (a == "--start-deg") {
      so.start_deg = static_cast<double>(take(0, 359));
    } else if (a == "--turns") {
      o.turns = so.turns = static_cast<int>(take(0, 10000));
      turns_given = true;
    } else if (a == "--rpm")
      o.speed = static_cast<uint16_t>(take(0, 1023) * 64);
    else if (a == "--seed")
      o.seed = so.seed = static_cast<uint32_t>(take(0, 0xFFFFFFFFLL));
    else if (a == "--spin-up")
      o.spin_up = true;
    else if (a == "--spin-down")
      o.spin_down = true;
    else if (a == "--markers")
      o.markers_in_data = true;
    else if (a == "--start-inside")
      o.start_inside = static_cast<std::size_t>(take(0, 21));
    else if (a == "--invalid-every")
      o.invalid_every = static_cast<int>(take(0, 1000000));
    else if (a == "--warning-every")
      o.warning_every = static_cast<int>(take(0, 1000000));
    else if (a == "--zero-every")
      o.zero_every = static_cast<int>(take(0, 1000000));
    else if (a == "--flip-every")
      o.flip_every = so.flip_every = static_cast<int>(take(0, 1000000));
    else if (a == "--drop-every")
      o.drop_every = so.drop_every = static_cast<int>(take(0, 1000000));
    else if (a == "--turn-rpm" || a == "--missing") {
      long f[3] = {0, 0, 0};
      const bool rpm = a == "--turn-rpm";
      if (!Fields(v, f, rpm ? 2 : 3, rpm ? 1023 : 10000)) Fail(a + (rpm ? " wants T:R" : " wants T:P:N"));
      ++i;
      if (rpm) o.turn_speed.emplace_back(static_cast<int>(f[0]), static_cast<uint16_t>(f[1] * 64));
      for (long k = 0; !rpm && k < f[2]; ++k)
        o.missing.emplace_back(static_cast<int>(f[0]), static_cast<int>(f[1] + k));
    } else if (!a.empty() && a[0] != '-' && out == nullptr)
      out = argv[i];
    else
      Fail("unknown argument '" + a + "' (usage: write_lds_stream [options] OUT)");
  }
  if (out == nullptr) Fail("no output file given");

  if (!turns_given) so.turns = 4;
  std::vector<uint8_t> bytes;
  if (protocol == "lds") {
    bytes = lds::Generate(o).bytes;
  } else {
    const spin::Kind kind = protocol == "ld06"      ? spin::Kind::kLd06
                            : protocol == "rplidar" ? spin::Kind::kRplidar
                                                    : spin::Kind::kYdlidar;
    bytes = spin::Write(kind, so).bytes;
  }
  const std::string tmp = std::string(out) + ".tmp";
  std::FILE* f = std::fopen(tmp.c_str(), "wb");
  if (f == nullptr) Fail("cannot write " + tmp + ": " + std::strerror(errno));
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (std::fclose(f) != 0 || !ok || std::rename(tmp.c_str(), out) != 0) {
    const int e = errno;
    std::remove(tmp.c_str());
    Fail(std::string("cannot write ") + out + ": " + std::strerror(e));
  }
  return 0;
}
