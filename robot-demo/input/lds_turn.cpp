// SPDX-License-Identifier: BSD-3-Clause
// A scanner's complete turn, judged by the gates (speed, packets, the wall
// clock when live) and binned to a scan, or refused with a stop record.
#include <algorithm>
#include <chrono>
#include <cstdint>

#include "input/lds_source.h"

bool LdsTurnSource::OnTime(TurnInfo& info, double fraction) {
  const double took = std::chrono::duration<double>(chunk_time_ - turn_start_).count();
  const double since = std::chrono::duration<double>(chunk_time_ - (have_last_turn_ ? last_turn_ : start_)).count();
  const bool consecutive = have_last_turn_;
  last_turn_ = chunk_time_;
  have_last_turn_ = true;
  if (!StreamHasSpeed(kind_)) {
    // No speed field: the speed is the clock's, from turn to turn (the
    // first from its own packets), and the rpm gate judges it.
    const double period = consecutive ? since : (fraction > 0 ? took / fraction : 0.0);
    info.rpm = period > 0 ? static_cast<float>(60.0 / period) : 0.0f;
    return true;
  }
  if (!(info.rpm > 0)) return true;  // refused by the rpm gate already
  const double period = 60.0 / static_cast<double>(info.rpm);
  const double allowed = 1.5 * period * fraction + 0.1;
  if (took > allowed) {
    info.seconds = took;
    Skip(info, SkipReason::kLate, allowed);
    return false;
  }
  // The clock grants twice the turn time that passes (a serial line may run
  // a little ahead of the rotor, a busy host catch up); a turn costs its
  // share of a turn at its own speed. Sustained faster delivery runs the
  // credit out.
  credit_ = std::min(credit_ + 2.0 * since, 2.0 * period) - period * fraction;
  const bool early = credit_ < -0.5 * period;
  credit_ = std::max(credit_, -period);
  if (early) {
    Skip(info, SkipReason::kEarly, static_cast<double>(info.rpm));
    return false;
  }
  return true;
}

namespace {

// A finished turn's samples and how much of the turn they cover, from
// either decoder; its speed and packets go into `info`.
struct TurnSamples {
  const float* angle = nullptr;
  const float* range = nullptr;
  const std::uint8_t* flags = nullptr;
  std::size_t count = 0;
  double fraction = 1.0;  // of the turn's packets or sectors
  bool covered = true;    // enough of them for the gate
};

TurnSamples ReadTurn(const SpinDecoder* spin, const WireDecoder& decoder, const LdsGate& gate, TurnInfo& info) {
  TurnSamples s;
  if (spin != nullptr) {
    const SpinTurn& t = spin->Turn();
    s.angle = t.angle_deg;
    s.range = t.range_mm;
    s.flags = t.flags;
    s.count = t.count;
    s.fraction = static_cast<double>(t.sectors) / SpinTurn::kSectors;
    s.covered = t.sectors >= MinPackets(gate, SpinTurn::kSectors);
    info.rpm = t.rpm;
    info.packets = t.packets;
    info.sectors = t.sectors;
    return s;
  }
  const ScanTurn& t = decoder.Turn();
  s.angle = t.angle_deg;
  s.range = t.range_mm;
  s.flags = t.flags;
  s.count = t.count;
  s.fraction = t.packets_per_turn > 0 ? static_cast<double>(t.packets) / t.packets_per_turn : 0.0;
  s.covered = t.packets >= MinPackets(gate, t.packets_per_turn);
  info.rpm = t.rpm;
  info.packets = t.packets;
  info.packets_per_turn = t.packets_per_turn;
  return s;
}

}  // namespace

TurnSource::Result LdsTurnSource::TakeTurn(Scan& scan, TurnInfo& info) {
  info = TurnInfo{};
  info.scanner = true;
  info.turn = stats_.turns++;
  deadline_ = After(Clock::now());
  restarts_in_row_ = 0;
  const TurnSamples t = ReadTurn(spin_.get(), decoder_, gate_, info);
  const double fraction = t.fraction;
  const bool covered = t.covered;
  const bool timed = !gate_.clock || OnTime(info, fraction);
  const bool judge_rpm = StreamHasSpeed(kind_) || gate_.clock;  // a replay cannot tell these scanners' speed
  const double rpm = info.rpm;
  if (!timed) {
    // refused by the clock, reason set
  } else if (judge_rpm && !(rpm >= gate_.rpm_min)) {
    Skip(info, SkipReason::kSlow, gate_.rpm_min);
  } else if (judge_rpm && !(rpm <= gate_.rpm_max)) {
    Skip(info, SkipReason::kFast, gate_.rpm_max);
  } else if (!covered) {
    if (spin_)
      Skip(info, SkipReason::kCoverage, MinPackets(gate_, SpinTurn::kSectors));
    else
      Skip(info, SkipReason::kFewPackets, MinPackets(gate_, info.packets_per_turn));
  }
  if (info.skip != SkipReason::kNone) {
    Advance();
    return kStop;
  }
  // A layout scanbin refuses would give a scan of no returns: free space.
  if (!TurnToReadings(t.angle, t.range, t.flags, t.count, layout_, scan))
    return Fail("the scanner layout is not valid", ErrorKind::kInput);
  if (stats_.planned == 0 || info.rpm < stats_.rpm_min) stats_.rpm_min = info.rpm;
  if (stats_.planned == 0 || info.rpm > stats_.rpm_max) stats_.rpm_max = info.rpm;
  stats_.rpm_sum += rpm;
  ++stats_.planned;
  Advance();
  return kScan;
}
