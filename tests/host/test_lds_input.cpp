// SPDX-License-Identifier: BSD-3-Clause
// The host's reading of a scanner's serial stream: the gates, the waits
// without a turn, the bytes a recording gets, a port that goes away, and a
// pseudo-terminal set up as the scanner's port.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include "input/lds_source.h"
#include "input/serial_port.h"
#include "lds_stream.h"
#include "output/turn_report.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Hands out a byte string in chunks of a set size, then a scripted ending.
class ScriptBytes : public ByteSource {
 public:
  ScriptBytes(Bytes data, std::size_t chunk, Status end = kEnd, int err = 0)
      : data_(std::move(data)), chunk_(chunk), end_(end), err_(err) {}
  Status Read(unsigned char* buf, std::size_t n, std::size_t& got, int wait_ms) override {
    got = 0;
    if (pos_ == data_.size()) {
      if (end_ == kTimeout && wait_ms >= 0) std::this_thread::sleep_for(std::chrono::milliseconds(wait_ms));
      return end_;
    }
    got = std::min({n, chunk_, data_.size() - pos_});
    std::copy(data_.begin() + static_cast<std::ptrdiff_t>(pos_), data_.begin() + static_cast<std::ptrdiff_t>(pos_ + got),
              buf);
    pos_ += got;
    return kData;
  }
  int Errno() const override { return err_; }
  bool Live() const override { return end_ != kEnd; }
  void More(const Bytes& b) { data_.insert(data_.end(), b.begin(), b.end()); }

 private:
  Bytes data_;
  std::size_t chunk_, pos_ = 0;
  Status end_;
  int err_;
};

class Recorder : public RawSink {
 public:
  void Record(const unsigned char* d, std::size_t n) override { bytes.insert(bytes.end(), d, d + n); }
  Bytes bytes;
};

ScanLayout Millimetres() {
  ScanLayout l;
  l.range_scale = kScanMillimetres;
  return l;
}

struct Seen {
  std::vector<TurnSource::Result> results;
  std::vector<TurnInfo> infos;
  std::vector<Scan> scans;
};

Seen ReadAll(TurnSource& src) {
  Seen s;
  Scan scan{};
  TurnInfo info;
  TurnSource::Result r;
  while ((r = src.Next(scan, info)) == TurnSource::kScan || r == TurnSource::kStop) {
    s.results.push_back(r);
    s.infos.push_back(info);
    if (r == TurnSource::kScan) s.scans.push_back(scan);
  }
  s.results.push_back(r);
  return s;
}

TEST(LdsGate, ShareOfPacketsRoundsUp) {
  LdsGate g;
  EXPECT_EQ(MinPackets(g, 90), 81u);
  g.min_packets_percent = 1;
  EXPECT_EQ(MinPackets(g, 90), 1u);  // 0.9 packets: one must come
  g.min_packets_percent = 0;
  EXPECT_EQ(MinPackets(g, 90), 0u);
  g.min_packets_percent = 100;
  EXPECT_EQ(MinPackets(g, 90), 90u);
  g.min_packets_percent = 95;
  EXPECT_EQ(MinPackets(g, 90), 86u);  // 85.5
}

TEST(LdsTurnSource, ChunkSizesChangeNothingAndTheOpenTurnIsNeverPlanned) {
  lds::Options o;
  o.turns = 4;
  o.markers_in_data = true;
  o.flip_every = 23;
  o.start_inside = 7;
  o.turn_speed = {{1, 150 * 64}};
  const Bytes b = lds::Generate(o).bytes;
  std::vector<Seen> runs;
  for (std::size_t chunk : {std::size_t{1}, std::size_t{21}, b.size()}) {
    ScriptBytes bytes(b, chunk);
    LdsTurnSource src(bytes, Millimetres(), LdsGate{});
    runs.push_back(ReadAll(src));
    const LdsStats& s = *src.Stats();
    EXPECT_EQ(s.turns, 3);  // the fourth never ended
    EXPECT_EQ(s.planned, 2);
    EXPECT_EQ(s.slow, 1);
    EXPECT_EQ(s.few_packets, 0);
    EXPECT_EQ(s.bytes, b.size());
  }
  for (const Seen& r : runs) {
    ASSERT_EQ(r.results, runs[0].results);
    ASSERT_EQ(r.scans.size(), runs[0].scans.size());
    for (std::size_t k = 0; k < r.scans.size(); ++k)  // bits: unseen degrees are NaN
      ASSERT_EQ(std::memcmp(r.scans[k].data(), runs[0].scans[k].data(), sizeof(Scan)), 0) << k;
  }
  ASSERT_EQ(runs[0].infos.size(), 3u);
  EXPECT_EQ(runs[0].infos[0].skip, SkipReason::kNone);
  EXPECT_LT(runs[0].infos[0].packets, 90u);  // the flipped bits cost packets
  EXPECT_GE(runs[0].infos[0].packets, 81u);
  EXPECT_EQ(runs[0].infos[1].skip, SkipReason::kSlow);
  EXPECT_EQ(runs[0].infos[1].turn, 1);
  EXPECT_EQ(runs[0].infos[1].rpm, 150.0f);
  EXPECT_EQ(runs[0].infos[1].limit, 200.0);
  EXPECT_EQ(runs[0].results.back(), TurnSource::kEnd);
}

TEST(LdsTurnSource, RecordingHoldsExactlyTheBytesTaken) {
  lds::Options o;
  o.turns = 3;
  const Bytes b = lds::Generate(o).bytes;
  ScriptBytes bytes(b, b.size());
  Recorder raw;
  LdsTurnSource src(bytes, Millimetres(), LdsGate{}, &raw);
  Scan scan{};
  TurnInfo info;
  ASSERT_EQ(src.Next(scan, info), TurnSource::kScan);
  // The first turn ends with the next turn's first packet, taken whole.
  EXPECT_EQ(raw.bytes, Bytes(b.begin(), b.begin() + 91 * 22));
  ASSERT_EQ(src.Next(scan, info), TurnSource::kScan);
  ASSERT_EQ(src.Next(scan, info), TurnSource::kEnd);
  EXPECT_EQ(raw.bytes, b);
}

TEST(LdsTurnSource, SilenceGivesAStopEachWaitThenTurnsPlanAgain) {
  lds::Options o;
  o.turns = 2;
  ScriptBytes bytes({}, 4096, ByteSource::kTimeout);
  LdsGate gate;
  gate.turn_timeout = 0.03;
  LdsTurnSource src(bytes, Millimetres(), gate);
  Scan scan{};
  TurnInfo info;
  const auto t0 = std::chrono::steady_clock::now();
  for (int k = 1; k <= 3; ++k) {
    ASSERT_EQ(src.Next(scan, info), TurnSource::kStop);
    EXPECT_EQ(info.skip, SkipReason::kTimeout);
    EXPECT_EQ(info.limit, 0.03);
    EXPECT_EQ(info.turn, -1);
    // Never before its time: k waits have passed.
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(30 * k));
  }
  EXPECT_EQ(src.Stats()->timeouts, 3);
  bytes.More(lds::Generate(o).bytes);
  ASSERT_EQ(src.Next(scan, info), TurnSource::kScan);
  EXPECT_EQ(info.turn, 0);
  EXPECT_EQ(info.skip, SkipReason::kNone);
}

TEST(LdsTurnSource, APortThatGoesAwayIsADeviceErrorAndStaysOne) {
  lds::Options o;
  o.turns = 2;
  ScriptBytes bytes(lds::Generate(o).bytes, 100, ByteSource::kGone, EIO);
  LdsTurnSource src(bytes, Millimetres(), LdsGate{});
  const Seen s = ReadAll(src);
  ASSERT_EQ(s.results, (std::vector<TurnSource::Result>{TurnSource::kScan, TurnSource::kError}));
  EXPECT_EQ(src.Kind(), TurnSource::ErrorKind::kDevice);
  EXPECT_EQ(src.Error(), std::string("the device went away (") + std::strerror(EIO) + ")");
  Scan scan{};
  TurnInfo info;
  EXPECT_EQ(src.Next(scan, info), TurnSource::kError);

  ScriptBytes ended({}, 1, ByteSource::kGone, 0);
  LdsTurnSource src2(ended, Millimetres(), LdsGate{});
  EXPECT_EQ(src2.Next(scan, info), TurnSource::kError);
  EXPECT_EQ(src2.Error(), "the device went away (end of stream)");
}

TEST(LdsTurnSource, AnInterruptedWaitIsReportedAndReadingGoesOn) {
  lds::Options o;
  o.turns = 2;
  ScriptBytes bytes({}, 4096, ByteSource::kInterrupted);
  LdsTurnSource src(bytes, Millimetres(), LdsGate{});
  Scan scan{};
  TurnInfo info;
  EXPECT_EQ(src.Next(scan, info), TurnSource::kStopped);
  bytes.More(lds::Generate(o).bytes);
  EXPECT_EQ(src.Next(scan, info), TurnSource::kScan);
}

TEST(TurnReport, DriveCommandReadsAsPeopleExpect) {
  PilotStep s{};
  s.command = {0.5, -0.0};
  EXPECT_EQ(DriveText(s), ", drive 0.50 m/s, 0.00 rad/s");  // no "-0.00"
  s.command = {0.5, -0.004};
  EXPECT_EQ(DriveText(s), ", drive 0.50 m/s, 0.00 rad/s");  // nor for what rounds to it
  s.stopped = s.bad_input = s.low_coverage = true;
  s.reason = PilotReason::kLowCoverage;
  s.command = {0.0, 0.0};
  EXPECT_EQ(DriveText(s), ", drive 0.00 m/s, 0.00 rad/s (stop: too little seen ahead)");
  s = PilotStep{};
  s.guard_stopped = s.unseen_held = true;
  s.reason = PilotReason::kUnseen;
  s.command = {0.0, 0.6};
  EXPECT_EQ(DriveText(s), ", drive 0.00 m/s, 0.60 rad/s (held: unseen space ahead)");
}

// ---- what a turn did not see ----------------------------------------------------------

// Turns of a scene with a post 0.33 m straight ahead (sensor angles 357..3)
// and walls 3 m off elsewhere, then one packet that closes the last turn.
// `missing`: packets of the second turn never sent; `invalid`: its every
// reading flagged invalid.
Bytes PostTurns(const std::vector<int>& missing, bool invalid) {
  Bytes out;
  for (int turn = 0; turn < 2; ++turn)
    for (int number = 0; number < lds::kPacketsPerTurn; ++number) {
      if (turn == 1 && std::find(missing.begin(), missing.end(), number) != missing.end()) continue;
      lds::Readings r;
      for (int j = 0; j < 4; ++j) {
        const int angle = 4 * number + j;
        r[static_cast<std::size_t>(j)].distance = angle <= 3 || angle >= 357 ? 330 : 3000;
        r[static_cast<std::size_t>(j)].strength = 500;
        r[static_cast<std::size_t>(j)].invalid = turn == 1 && invalid;
      }
      const lds::PacketBytes p = lds::MakePacket(number, 300 * 64, r);
      out.insert(out.end(), p.begin(), p.end());
    }
  const lds::PacketBytes p = lds::MakePacket(0, 300 * 64, lds::SceneReadings(lds::Options{}, 2, 0));
  out.insert(out.end(), p.begin(), p.end());
  return out;
}

// The second turn of PostTurns as the pilot sees it, and its step.
struct PostStep {
  Scan whole, turn;
  PilotStep step, whole_step;
};

PostStep StepPost(const std::vector<int>& missing, bool invalid) {
  ScriptBytes bytes(PostTurns(missing, invalid), 4096);
  LdsTurnSource src(bytes, Millimetres(), LdsGate{});
  const Seen seen = ReadAll(src);
  PostStep r{};
  EXPECT_EQ(seen.scans.size(), 2u);
  if (seen.scans.size() != 2) return r;
  r.whole = seen.scans[0];
  r.turn = seen.scans[1];
  PilotConfig c;
  c.goal = PilotGoal::Metres(1.0, 0.0);
  Pilot pilot;
  EXPECT_EQ(pilot.Start(c), PilotError::kNone);
  pilot.Step(r.whole.data(), nullptr, r.whole_step);
  pilot.Step(r.turn.data(), nullptr, r.step);
  return r;
}

TEST(LdsTurnReadings, AnAllInvalidTurnSawNothingAndStops) {
  const PostStep p = StepPost({}, true);
  for (float v : p.turn) EXPECT_TRUE(std::isnan(v));
  EXPECT_EQ(p.step.command.speed, 0.0);
  EXPECT_EQ(p.step.command.turn_rate, 0.0);
  EXPECT_EQ(p.step.reason, PilotReason::kLowCoverage);
  EXPECT_TRUE(p.step.bad_input && p.step.stopped);
}

TEST(LdsTurnReadings, MissingPacketsOverAPostLeaveItUnseenAndHeld) {
  // 81 of 90 packets, just enough for the gate: the nine missing cover the post.
  const std::vector<int> missing = {85, 86, 87, 88, 89, 0, 1, 2, 3};
  const PostStep p = StepPost(missing, false);
  EXPECT_EQ(p.whole_step.command.speed, 0.0);  // the whole turn sees the post
  for (int i = 0; i < 360; ++i) {
    const int angle = (i + 180) % 360;  // sensor angle of reading i
    const bool gone = angle >= 340 || angle < 16;
    EXPECT_EQ(std::isnan(p.turn[static_cast<std::size_t>(i)]), gone) << i;
    EXPECT_FALSE(std::isnan(p.whole[static_cast<std::size_t>(i)])) << i;
  }
  EXPECT_EQ(p.step.command.speed, 0.0);
  EXPECT_EQ(p.step.reason, PilotReason::kUnseen);
  EXPECT_TRUE(p.step.unseen_held && !p.step.stopped);
  EXPECT_EQ(p.step.seen_front, 181 - 36);
}

// A pseudo-terminal in the state a login would leave it: cooked, echoing, 9600 baud.
struct Pty {
  int master = -1, slave = -1;
  char name[64] = {};
  Pty() {
    termios t{};
    cfmakeraw(&t);
    t.c_lflag |= ICANON | ECHO;
    t.c_iflag |= ICRNL;
    cfsetispeed(&t, B9600);
    cfsetospeed(&t, B9600);
    if (openpty(&master, &slave, name, &t, nullptr) != 0) master = slave = -1;
  }
  ~Pty() {
    if (master >= 0) close(master);
    if (slave >= 0) close(slave);
  }
};

TEST(SerialPort, SetsThePortRawAndReadsWithATimeoutUntilItGoesAway) {
  Pty pty;
  ASSERT_GE(pty.master, 0) << "no pseudo-terminal";
  SerialPort port;
  std::string why;
  ASSERT_TRUE(port.Open(pty.name, 230400, why)) << why;
  termios t{};
  ASSERT_EQ(tcgetattr(pty.slave, &t), 0);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(t.c_iflag & (ICRNL | IXON), 0u);
  EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB | CLOCAL | CREAD), tcflag_t{CS8 | CLOCAL | CREAD});
  EXPECT_EQ(cfgetispeed(&t), speed_t{B230400});
  close(pty.slave);
  pty.slave = -1;

  unsigned char buf[64];
  std::size_t got = 0;
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(port.Read(buf, sizeof buf, got, 50), ByteSource::kTimeout);
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(50));
  const unsigned char cr[] = {0x0D, 0xFA, 0x03, 0x0A};  // nothing translated, nothing echoed
  ASSERT_EQ(write(pty.master, cr, sizeof cr), 4);
  ASSERT_EQ(port.Read(buf, sizeof buf, got, 1000), ByteSource::kData);
  EXPECT_EQ(Bytes(buf, buf + got), Bytes(cr, cr + 4));
  close(pty.master);
  pty.master = -1;
  EXPECT_EQ(port.Read(buf, sizeof buf, got, 1000), ByteSource::kGone);
}

}  // namespace
