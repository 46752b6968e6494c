// SPDX-License-Identifier: BSD-3-Clause
// Writes the serial streams of three scanner families (LD06/LD19, RPLIDAR,
// YDLIDAR X2/X4) from a known scene, with a serial port's faults on request,
// and records what a reader must get: the samples of every packet that went
// out intact, turn by turn. For the tests, the captures and the fuzz seeds;
// it shares no code with the decoder (its CRC is table-driven, its turns
// follow the rotor's own count of revolutions).
#ifndef SCANPILOT_SPIN_STREAM_H
#define SCANPILOT_SPIN_STREAM_H

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace spin {

enum class Kind { kLd06, kRplidar, kYdlidar };

struct Sample {
  double angle;  // degrees a reader must report, [0, 360)
  double range_mm;
  unsigned strength;
};

struct Turn {
  std::vector<Sample> samples;
  unsigned packets = 0;
  double speed_sum = 0;  // LD06: the speed fields (deg/s) of its packets
};

struct Options {
  int turns = 4;
  double hz = 10.0;             // revolutions per second
  std::vector<double> turn_hz;  // per revolution, when given (speed changes)
  double samples_per_s = 4500;
  double start_deg = 0.0;  // the rotor's angle when the stream starts
  int flip_every = 0;      // every n-th packet gets one byte changed
  int drop_every = 0;      // every n-th packet loses one byte
  bool descriptor = true;  // RPLIDAR: the scan descriptor first
  unsigned seed = 1;
};

struct Stream {
  std::vector<uint8_t> bytes;
  std::vector<Turn> turns;  // by revolution; a reader completes all but the last
  int damaged = 0;          // packets changed or cut
};

// The scene: a room of about 4 m x 3 m around the scanner with a post ahead
// (sensor 0 degrees) at 0.8 m, and no return in a doorway at 250..260.
inline double SceneMm(double deg) {
  const double a = deg * 3.14159265358979323846 / 180.0;
  if (deg >= 250.0 && deg < 260.0) return 0.0;
  if (deg < 5.0 || deg > 355.0) return 800.0;
  const double cx = std::fabs(std::cos(a)), sy = std::fabs(std::sin(a));
  const double wall = std::fmin(cx > 1e-9 ? 2000.0 / cx : 1e9, sy > 1e-9 ? 1500.0 / sy : 1e9);
  return std::floor(wall);
}

// CRC-8, polynomial 0x4D, MSB first, from 0: table-driven.
inline uint8_t Crc8(const uint8_t* p, std::size_t n) {
  static const std::vector<uint8_t> table = [] {
    std::vector<uint8_t> t(256);
    for (unsigned i = 0; i < 256; ++i) {
      unsigned c = i;
      for (int k = 0; k < 8; ++k) c = (c << 1) ^ ((c & 0x80u) ? 0x4Du : 0u);
      t[i] = static_cast<uint8_t>(c);
    }
    return t;
  }();
  uint8_t c = 0;
  for (std::size_t i = 0; i < n; ++i) c = table[c ^ p[i]];
  return c;
}

inline void Put16(std::vector<uint8_t>& b, unsigned v) {
  b.push_back(static_cast<uint8_t>(v & 0xFF));
  b.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
}

inline double YdCorrection(double d) {
  return d == 0.0 ? 0.0 : std::atan(21.8 * (155.3 - d) / (155.3 * d)) * 180.0 / 3.14159265358979323846;
}

inline double Norm(double a) {
  a = std::fmod(a, 360.0);
  return a < 0 ? a + 360.0 : a;
}

class Writer {
 public:
  Writer(Kind kind, const Options& o) : kind_(kind), o_(o), rng_(o.seed) {}

  Stream Write() {
    if (kind_ == Kind::kRplidar && o_.descriptor)
      s_.bytes.insert(s_.bytes.end(), {0xA5, 0x5A, 0x05, 0x00, 0x00, 0x40, 0x81});
    double rotor = o_.start_deg;  // revolutions count in whole 360s
    const double end = o_.start_deg + 360.0 * o_.turns;
    s_.turns.resize(static_cast<std::size_t>(o_.turns) + 1);
    while (rotor < end) rotor = Packet(rotor);
    return s_;
  }

 private:
  double Hz(int rev) const {
    return rev < static_cast<int>(o_.turn_hz.size()) ? o_.turn_hz[static_cast<std::size_t>(rev)] : o_.hz;
  }
  int Rev(double rotor) const { return static_cast<int>(std::floor(rotor / 360.0)); }

  // Emits one packet from the rotor's angle; returns the angle after it.
  double Packet(double rotor) {
    const int rev = Rev(rotor);
    const double step = 360.0 * Hz(rev) / o_.samples_per_s;  // degrees between samples
    std::vector<uint8_t> p;
    std::vector<Sample> got;
    double next = rotor;
    if (kind_ == Kind::kLd06) {
      const unsigned start = static_cast<unsigned>(std::lround(Norm(rotor) * 100.0)) % 36000u;
      // Rounded up to 360.00, the packet reads as the next revolution's first.
      const int at_rev = start == 0 && Norm(rotor) > 180.0 ? rev + 1 : rev;
      const unsigned span = static_cast<unsigned>(std::lround(step * 11 * 100.0));
      const unsigned endc = (start + span) % 36000u;
      const unsigned speed = static_cast<unsigned>(std::lround(360.0 * Hz(rev)));
      p = {0x54, 0x2C};
      Put16(p, speed);
      Put16(p, start);
      for (int i = 0; i < 12; ++i) {
        const double a = Norm(start / 100.0 + i * (span / 100.0) / 11.0);
        const unsigned d = static_cast<unsigned>(SceneMm(a));
        const unsigned q = d == 0 ? 0u : 200u - static_cast<unsigned>(i * 7) % 50u;
        Put16(p, d);
        p.push_back(static_cast<uint8_t>(q));
        got.push_back({a, static_cast<double>(d), q});
      }
      Put16(p, endc);
      Put16(p, static_cast<unsigned>(stamp_ % 30000));
      stamp_ += 3;
      p.push_back(Crc8(p.data(), p.size()));
      next = rotor + step * 12;
      Keep(at_rev, p, got, speed, false);
      return next;
    }
    if (kind_ == Kind::kRplidar) {
      const unsigned q6 = static_cast<unsigned>(std::lround(Norm(rotor) * 64.0)) % (360u * 64u);
      const double a = q6 / 64.0;
      const unsigned q2 = static_cast<unsigned>(SceneMm(a) * 4.0) + static_cast<unsigned>(q6 % 4);
      const bool first = Rev(rotor) != last_rev_;
      last_rev_ = Rev(rotor);
      const unsigned quality = q2 == 0 ? 0 : 15 + q6 % 40;
      p.push_back(static_cast<uint8_t>(quality << 2 | (first ? 1u : 2u)));
      p.push_back(static_cast<uint8_t>(((q6 & 0x7F) << 1) | 1));
      p.push_back(static_cast<uint8_t>(q6 >> 7));
      Put16(p, q2);
      got.push_back({a, q2 / 4.0, quality});
      Keep(rev, p, got, 0, first);
      return rotor + step;
    }
    // YDLIDAR: a one-sample packet at the start of each revolution, then packets of up to 40.
    const bool first = Rev(rotor) != last_rev_;
    last_rev_ = Rev(rotor);
    const int n = first ? 1 : 40;
    const unsigned fsa = (static_cast<unsigned>(std::lround(Norm(rotor) * 64.0)) % (360u * 64u)) << 1 | 1u;
    const unsigned lsa =
        (static_cast<unsigned>(std::lround(Norm(rotor + step * (n - 1)) * 64.0)) % (360u * 64u)) << 1 | 1u;
    const double f = (fsa >> 1) / 64.0, l = (lsa >> 1) / 64.0;
    double span = l - f;
    if (span < 0) span += 360.0;
    std::vector<unsigned> raw;
    for (int i = 0; i < n; ++i) {
      const double base = f + (n > 1 ? i * span / (n - 1) : 0.0);
      const unsigned s = static_cast<unsigned>(SceneMm(Norm(base)) * 4.0) + static_cast<unsigned>(i % 3);
      raw.push_back(s);
      got.push_back({Norm(base + YdCorrection(s / 4.0)), s / 4.0, 0});
    }
    unsigned x = 0x55AA ^ ((first ? 1u : 0u) | static_cast<unsigned>(n) << 8) ^ fsa ^ lsa;
    for (unsigned s : raw) x ^= s;
    p = {0xAA, 0x55, static_cast<uint8_t>(first ? 1 : 0), static_cast<uint8_t>(n)};
    Put16(p, fsa);
    Put16(p, lsa);
    Put16(p, x);
    for (unsigned s : raw) Put16(p, s);
    Keep(rev, p, got, 0, first);
    return rotor + step * n;
  }

  // Sends a packet, damaged on request; an intact one is what a reader must
  // get. RPLIDAR and YDLIDAR mark a turn's first packet: when that packet is
  // lost, its revolution's packets join the turn before.
  void Keep(int rev, std::vector<uint8_t>& p, const std::vector<Sample>& got, unsigned speed, bool marks_turn) {
    ++count_;
    bool intact = true;
    if (o_.flip_every > 0 && count_ % o_.flip_every == 0) {
      std::uniform_int_distribution<std::size_t> at(0, p.size() - 1);
      p[at(rng_)] ^= static_cast<uint8_t>(1u << (count_ % 8));
      intact = false;
    } else if (o_.drop_every > 0 && count_ % o_.drop_every == 0) {
      std::uniform_int_distribution<std::size_t> at(0, p.size() - 1);
      p.erase(p.begin() + static_cast<std::ptrdiff_t>(at(rng_)));
      intact = false;
    }
    s_.bytes.insert(s_.bytes.end(), p.begin(), p.end());
    if (kind_ == Kind::kLd06 || (marks_turn && intact) || into_ < 0) into_ = rev - Rev(o_.start_deg);
    if (!intact) {
      ++s_.damaged;
      return;
    }
    Turn& t = s_.turns[static_cast<std::size_t>(into_)];
    t.samples.insert(t.samples.end(), got.begin(), got.end());
    ++t.packets;
    t.speed_sum += speed;
  }

  Kind kind_;
  Options o_;
  std::mt19937 rng_;
  Stream s_;
  int count_ = 0;
  int into_ = -1;  // the turn a reader puts the packets in
  int last_rev_ = -1000000;
  unsigned stamp_ = 0;
};

inline Stream Write(Kind kind, const Options& o) { return Writer(kind, o).Write(); }

}  // namespace spin

#endif
