// SPDX-License-Identifier: BSD-3-Clause
// scanwire - decodes the byte stream a spinning 360-degree scanner sends over
// its serial port into complete turns of samples, ready for scanbin.
//
// Contract
//   * Bytes in, turns out. Feed() takes the stream in chunks of any size, as
//     they come from the port (1 byte, 7, 4096...); the result never depends
//     on how the stream was cut into chunks.
//   * No I/O, no allocation, no exceptions, no locks, no global state. All
//     memory is inside the WireDecoder object (one turn of samples and one
//     packet buffer, about 4 KB; it may live on the stack or inside another
//     object). One decoder per stream. Different decoders may run on
//     different threads at once; one decoder needs one thread at a time.
//   * Ownership: Feed() reads `data` during the call only. Turn() is a
//     reference into the decoder, valid until NextTurn(), Reset() or the
//     decoder's end.
//   * No turn is lost or overwritten: a complete turn stays until the caller
//     calls NextTurn(), and Feed() reads nothing while it waits.
//   * Bad input: any bytes are accepted. Bytes outside a packet with a good
//     checksum are skipped and counted; a packet with a bad checksum is
//     counted and dropped, and nothing of it reaches a turn. The search for
//     the next packet goes on from the rejected packet's second byte, since
//     a packet cut short by a lost byte holds the start of the next one. A
//     null `data` is read as no bytes. An unknown protocol value decodes nothing (every
//     byte is skipped).
//   * Units: sensor angles in degrees as the scanner numbers them (give
//     scanbin the mounting: zero_deg, clockwise); ranges in millimetres, 0 for
//     no return (scanbin with kScanMillimetres treats 0 as no return); speed
//     in revolutions per minute. Angles and ranges are whole numbers, exact
//     as floats; the speed is worked out in double, then converted to float;
//     so the same bytes give the same floats on every build.
//
// Use
//   WireDecoder dec;                               // WireProtocol::kLds22
//   std::size_t n = read(port, buf, sizeof buf), off = 0;
//   while (off < n) {
//     off += dec.Feed(buf + off, n - off);
//     if (dec.TurnReady()) {
//       const ScanTurn& t = dec.Turn();
//       if (t.packets >= 80) BinSamples(t.angle_deg, t.range_mm, t.count, mm_layout, scan);
//       dec.NextTurn();
//     }
//   }
//
// kLds22 packets: 22 bytes, 0xFA, index 0xA0..0xF9 (packet n = index - 0xA0
// of 90 per turn, sensor angles 4n..4n+3), speed (rpm * 64, 16-bit little
// endian), four readings of 4 bytes (distance bits 7..0; invalid flag,
// strength warning flag, distance bits 13..8; strength, 16-bit little
// endian), checksum (16-bit little endian over the first 20 bytes). A reading
// flagged invalid, or of distance 0, is no return; a warning alone is still a
// return. A turn ends where the packet number does not grow.
#ifndef SCANWIRE_H
#define SCANWIRE_H

#include <cstddef>
#include <cstdint>

#if defined(SCANWIRE_BUILDING)
#define SCANWIRE_API __attribute__((visibility("default")))
#else
#define SCANWIRE_API
#endif

// The packet formats a decoder reads; one per scanner family.
enum class WireProtocol : unsigned char {
  kLds22 = 0,  // 22-byte packets of four readings, see above
};

// ScanTurn::flags bits.
constexpr std::uint8_t kSampleInvalid = 0x01;  // the scanner marked the reading invalid
constexpr std::uint8_t kSampleWarning = 0x02;  // weak or doubtful signal, still a return

// One turn: the samples of the packets that arrived, in the order received
// (angles increasing). Angles of packets that did not arrive have no sample.
struct ScanTurn {
  static constexpr std::size_t kMaxSamples = 360;
  std::size_t count = 0;                  // samples held in the arrays below
  float angle_deg[kMaxSamples] = {};      // sensor angle, whole degrees
  float range_mm[kMaxSamples] = {};       // millimetres, 0 = no return
  std::uint16_t strength[kMaxSamples] = {};  // signal strength as sent
  std::uint8_t flags[kMaxSamples] = {};   // kSampleInvalid, kSampleWarning
  // Mean of the packets' speed fields: (sum / 64) / packets in double, then
  // converted to float.
  float rpm = 0.0f;
  unsigned packets = 0;           // good packets in this turn
  unsigned packets_per_turn = 0;  // a full turn's packets (90 for kLds22)
  unsigned lowest_packet = 0;     // lowest and highest packet number in the
  unsigned highest_packet = 0;    // turn (index - 0xA0 for kLds22)
};

// Running totals since construction or Reset(). Every byte read is part of a
// good packet, skipped, or still buffered (at most one packet's length).
struct WireCounters {
  std::uint64_t good_packets = 0;       // packets with a good checksum
  std::uint64_t checksum_failures = 0;  // packet starts dropped for their checksum
  std::uint64_t skipped_bytes = 0;      // bytes dropped while looking for a packet
  std::uint64_t turns = 0;              // turns made ready
};

struct WirePacket;  // a decoded packet, inside the library only

class WireDecoder {
 public:
  explicit WireDecoder(WireProtocol protocol = WireProtocol::kLds22) : protocol_(protocol) {
    Reset();
  }

  // Reads bytes until a turn is ready or all n are read; returns how many it
  // read (less than n only when a turn is ready, or data is null). While a
  // turn is ready it reads nothing and returns 0.
  SCANWIRE_API std::size_t Feed(const unsigned char* data, std::size_t n);
  bool TurnReady() const { return ready_; }
  // The ready turn (while TurnReady()).
  const ScanTurn& Turn() const { return turn_; }
  // Done with the ready turn: the next one starts (with the packet that
  // ended the ready one). No effect unless TurnReady().
  SCANWIRE_API void NextTurn();
  // End of the stream: makes the turn being assembled ready if it holds a
  // packet. Returns TurnReady(). Bytes of a started packet stay buffered; a
  // stream fed after it starts a new turn.
  SCANWIRE_API bool Flush();
  // Back to the state of a new decoder, counters included.
  SCANWIRE_API void Reset();
  const WireCounters& Counters() const { return counters_; }
  WireProtocol Protocol() const { return protocol_; }
  // Good packets of the turn being assembled (0 while a turn is ready).
  unsigned Assembling() const { return ready_ ? 0u : turn_.packets; }
  // Drops the turn being assembled and a started packet's bytes (counted as
  // skipped), as after a stall: old packets never join fresh ones. No effect
  // while a turn is ready.
  SCANWIRE_API void DropPartial();

 private:
  void Settle();
  void Take(const WirePacket& pkt);
  void StartTurn();

  // Room for longer packet formats (such as 47-byte ones) at the same object size.
  static constexpr std::size_t kBufferBytes = 64;
  WireProtocol protocol_;
  bool ready_;
  bool pending_;     // buf_ holds the good packet that starts the next turn
  std::size_t have_;  // bytes in buf_, a prefix that may begin a packet
  unsigned last_packet_;
  double rpm_sum_;
  unsigned char buf_[kBufferBytes];
  ScanTurn turn_;
  WireCounters counters_;
};

// ---------------------------------------------------------------------------
// SpinDecoder: the scanners whose turns have no fixed packet count, with the
// same contract as WireDecoder (any chunking gives the same turns, no I/O, no
// allocation, all memory inside the object, about 24 KB).
//
// kLd06 (LD06, LD19): 47-byte packets: 0x54 0x2C, speed (degrees per second),
//   start angle (0.01 degree), 12 points of distance (mm) and intensity, end
//   angle, a timestamp, CRC-8 (polynomial 0x4D, MSB first, from 0). Point i
//   lies at start + i * ((end - start) mod 360) / 11. A turn ends where a
//   packet's start angle is lower than the one before it. Speed: the packets'
//   own field.
// kRplidar (A1, A2, A3, C1, standard scan): 5-byte nodes after the scan
//   descriptor A5 5A 05 00 00 40 81 (skipped when seen): quality, start flag
//   and its inverse, check bit, angle_q6 (1/64 degree), distance_q2 (1/4 mm).
//   A node out of step (start flag equal to its inverse, check bit 0, angle
//   of 360 or more) is skipped byte by byte. A node with the start flag
//   begins a new turn. The nodes carry no speed: rpm is 0.
// kYdlidar (X2, X4): packets AA 55, CT, LSN samples, first and last angle
//   ((a >> 1) / 64 degrees), XOR check of every other 16-bit word, samples
//   (distance * 4). Sample i lies at first + i * ((last - first) mod 360) /
//   (LSN - 1), then turned by the sample's own distance d (mm):
//   atan(21.8 * (155.3 - d) / (155.3 * d)) degrees (none for d = 0). A packet
//   with CT bit 0 set begins a new turn. No speed field: rpm is 0.
//
// Angles: degrees in [0, 360) as the scanner numbers them (clockwise seen
// from above for all three: give scanbin clockwise = true and the zero).
// Ranges in millimetres, 0 = no return. None of these protocols flags a
// reading invalid: flags stay 0.
enum class SpinProtocol : unsigned char {
  kLd06 = 1,
  kRplidar = 2,
  kYdlidar = 3,
};

struct SpinTurn {
  static constexpr std::size_t kMaxSamples = 2048;
  static constexpr unsigned kSectors = 180;  // 2-degree sectors for coverage
  std::size_t count = 0;
  float angle_deg[kMaxSamples] = {};
  float range_mm[kMaxSamples] = {};
  std::uint16_t strength[kMaxSamples] = {};  // intensity or quality; 0 where none is sent
  std::uint8_t flags[kMaxSamples] = {};
  float rpm = 0.0f;      // mean of the packets' speed fields; 0 when the protocol sends none
  unsigned packets = 0;  // good packets (nodes for kRplidar) in the turn
  unsigned sectors = 0;  // 2-degree sectors [2k, 2k+2) holding at least one sample
};

struct SpinCounters {
  std::uint64_t good_packets = 0;
  std::uint64_t bad_packets = 0;      // framed, but their check or a field failed
  std::uint64_t skipped_bytes = 0;    // dropped while looking for a packet
  std::uint64_t resyncs = 0;          // runs of skipped bytes after a good packet
  std::uint64_t dropped_samples = 0;  // beyond a turn's kMaxSamples
  std::uint64_t dropped_turns = 0;    // unfinished turns dropped by DropPartial()
  std::uint64_t descriptors = 0;      // kRplidar scan descriptors seen
  std::uint64_t turns = 0;
};

class SpinDecoder {
 public:
  static constexpr std::size_t kMaxPacketSamples = 255;
  explicit SpinDecoder(SpinProtocol protocol) : protocol_(protocol) { Reset(); }
  SCANWIRE_API std::size_t Feed(const unsigned char* data, std::size_t n);
  bool TurnReady() const { return ready_; }
  const SpinTurn& Turn() const { return turn_; }
  SCANWIRE_API void NextTurn();
  SCANWIRE_API bool Flush();
  SCANWIRE_API void Reset();
  SCANWIRE_API void DropPartial();
  unsigned Assembling() const { return ready_ ? 0u : turn_.packets; }
  const SpinCounters& Counters() const { return counters_; }
  SpinProtocol Protocol() const { return protocol_; }

 private:
  void Settle();
  void Take(std::size_t len);
  void Add();
  void StartTurn();

  static constexpr std::size_t kBufferBytes = 10 + 2 * kMaxPacketSamples;
  SpinProtocol protocol_;
  bool ready_;
  bool pending_;  // pkt_ holds the packet that starts the next turn
  bool skipping_;
  std::size_t have_;
  double rpm_sum_;
  double last_start_;
  std::uint32_t seen_[(SpinTurn::kSectors + 31) / 32];
  unsigned char buf_[kBufferBytes];
  // The packet being taken: its samples.
  int pkt_samples_;
  bool pkt_starts_turn_;
  double pkt_rpm_, pkt_start_;
  float pkt_angle_[kMaxPacketSamples];
  float pkt_range_[kMaxPacketSamples];
  std::uint16_t pkt_strength_[kMaxPacketSamples];
  SpinTurn turn_;
  SpinCounters counters_;
};

// The protocol's name as robot-demo and the docs write it.
SCANWIRE_API const char* SpinProtocolName(SpinProtocol protocol);

#endif
