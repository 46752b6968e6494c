// SPDX-License-Identifier: BSD-3-Clause
#include "output/turn_report.h"

#include <cmath>
#include <cstdio>

#include "output/run_report.h"

namespace {

std::string Printf(const char* fmt, double a, double b = 0.0, double c = 0.0) {
  char buf[160];
  std::snprintf(buf, sizeof buf, fmt, a, b, c);
  return buf;
}

}  // namespace

const char* SkipReasonName(SkipReason r) {
  switch (r) {
    case SkipReason::kSlow: return "slow";
    case SkipReason::kFast: return "fast";
    case SkipReason::kFewPackets: return "packets";
    case SkipReason::kTimeout: return "timeout";
    case SkipReason::kCoverage: return "coverage";
    case SkipReason::kStale: return "stale";
    case SkipReason::kLate: return "late";
    case SkipReason::kEarly: return "early";
    case SkipReason::kGarbage: return "garbage";
    case SkipReason::kRestart: return "restart";
    case SkipReason::kDescriptor: return "descriptor";
    case SkipReason::kEnd: return "end";
    case SkipReason::kNone: break;
  }
  return "none";
}

std::string DriveText(const PilotStep& step) {
  // Anything that prints as zero is written as a plain zero, never "-0.00".
  const auto shown = [](double v) { return std::fabs(v) < 0.005 ? 0.0 : v; };
  std::string s = Printf(", drive %.2f m/s, %.2f rad/s", shown(step.command.speed), shown(step.command.turn_rate));
  return s + WhyText(step);
}

std::string WhyText(const PilotStep& step) {
  if (step.command.speed > 0.0 && step.reason == PilotReason::kDriving) return "";
  const char* why = PilotReasonText(step.reason);
  if (step.stopped) return std::string(" (stop: ") + why + ")";
  if (step.guard_stopped) return std::string(" (held: ") + why + ")";
  return std::string(" (") + why + ")";
}

std::string TurnJsonMembers(const TurnInfo& info) {
  JsonWriter w = JsonWriter::Continuing();
  return w.Key("turn").Int(info.turn).Key("rpm").Float(info.rpm).Key("packets").Int(info.packets).Text();
}

std::string StopLine(const TurnInfo& info) {
  const std::string head = "turn " + std::to_string(info.turn) + " not planned: ";
  switch (info.skip) {
    case SkipReason::kSlow:
      return head + Printf("%.1f rpm (below %g): stop", static_cast<double>(info.rpm), info.limit);
    case SkipReason::kFast:
      return head + Printf("%.1f rpm (above %g): stop", static_cast<double>(info.rpm), info.limit);
    case SkipReason::kFewPackets:
      return head + Printf("%.0f of %.0f packets (below %.0f): stop", info.packets, info.packets_per_turn, info.limit);
    case SkipReason::kTimeout: return Printf("no complete turn for %g s: stop", info.limit);
    case SkipReason::kCoverage:
      return head + Printf("%.0f of 180 two-degree sectors seen (below %.0f): stop", info.sectors, info.limit);
    case SkipReason::kStale: return Printf("unfinished turn older than %.2f s dropped: stop", info.limit);
    case SkipReason::kLate:
      return head + Printf("took %.2f s to arrive, at most %.2f s at %.1f rpm: stop", info.seconds, info.limit,
                           static_cast<double>(info.rpm));
    case SkipReason::kEarly:
      return head + Printf("turns arrive faster than %.1f rpm allows: stop", static_cast<double>(info.rpm));
    case SkipReason::kGarbage: return Printf("no valid packet in %.0f bytes: stop", info.limit);
    case SkipReason::kRestart:
      return Printf("no complete turn for %g s: scanner restarted (%.0f so far): stop", info.seconds, info.limit);
    case SkipReason::kDescriptor: return "the scanner's answer to the start request is wrong: stop";
    case SkipReason::kEnd: return "run ends: stop";
    case SkipReason::kNone: break;
  }
  return head + "stop";
}

std::string StopJson(const TurnInfo& info) {
  JsonWriter w;
  w.BeginObject().Key("schema").Int(kPilotJsonSchema).Key("skipped").BeginObject();
  w.Key("reason").String(SkipReasonName(info.skip));
  if (info.turn >= 0)
    w.Key("turn").Int(info.turn).Key("rpm").Float(info.rpm).Key("packets").Int(info.packets);
  else
    w.Key("turn").Null().Key("rpm").Null().Key("packets").Null();
  w.Key("limit").Number(info.limit);
  if (info.skip == SkipReason::kLate || info.skip == SkipReason::kRestart) w.Key("seconds").Number(info.seconds);
  if (info.skip == SkipReason::kCoverage) w.Key("sectors").Int(info.sectors);
  w.EndObject();
  ZeroCommand(w);
  return w.EndObject().Text();
}

std::string StreamSummaryJson(const LdsStats& s, const std::string& end) {
  JsonWriter w = JsonWriter::Continuing();
  w.Key("bytes").Count(s.bytes).Key("packets").Count(s.wire.good_packets);
  w.Key("checksum_failures").Count(s.wire.checksum_failures).Key("skipped_bytes").Count(s.wire.skipped_bytes);
  w.Key("turns").Int(s.turns).Key("turns_planned").Int(s.planned);
  w.Key("turns_not_planned").BeginObject().Key("rpm").Int(s.slow + s.fast).Key("packets").Int(s.few_packets);
  w.Key("clock").Int(s.clock).EndObject();
  w.Key("restarts").Int(s.restarts).Key("stop_timeouts").Int(s.timeouts).Key("rpm");
  if (s.planned > 0 && s.rpm_max > 0) {  // 0: a replay of a scanner that sends no speed
    w.BeginObject().Key("min").Float(s.rpm_min).Key("mean").Number(s.rpm_sum / static_cast<double>(s.planned));
    w.Key("max").Float(s.rpm_max).EndObject();
  } else {
    w.Null();
  }
  return w.Key("end").String(end).Text();
}

std::string StreamSummaryLines(const LdsStats& s, const LdsGate& gate, bool live, const std::string& end) {
  const long long skipped = s.slow + s.fast + s.few_packets;  // complete turns only
  std::string o = "turns: " + std::to_string(s.turns) + " complete, " + std::to_string(s.planned) + " planned, " +
                  std::to_string(skipped) + " not planned";
  if (skipped > 0 && !s.sectors)
    o += " (" + std::to_string(s.slow + s.fast) + Printf(" outside %g..%g rpm, ", gate.rpm_min, gate.rpm_max) +
         std::to_string(s.few_packets) + " under " + std::to_string(MinPackets(gate, 90)) + " of 90 packets)";
  if (skipped > 0 && s.sectors)
    o += " (" + std::to_string(s.slow + s.fast) + Printf(" outside %g..%g rpm, ", gate.rpm_min, gate.rpm_max) +
         std::to_string(s.few_packets) + " under " + std::to_string(MinPackets(gate, 180)) + " of 180 sectors)";
  if (s.clock > 0) o += ", " + std::to_string(s.clock) + " refused by the clock (stale, late or early)";
  o += "\n";
  if (s.planned > 0 && s.rpm_max > 0)
    o += Printf("speed of the planned turns: min %.1f, mean %.1f, max %.1f rpm\n", static_cast<double>(s.rpm_min),
                s.rpm_sum / static_cast<double>(s.planned), static_cast<double>(s.rpm_max));
  o += "stream: " + std::to_string(s.bytes) + " bytes, " + std::to_string(s.wire.good_packets) + " good packets, " +
       std::to_string(s.wire.checksum_failures) + " checksum failures, " + std::to_string(s.wire.skipped_bytes) +
       " bytes skipped\n";
  if (live)
    o += "timeouts: " + std::to_string(s.timeouts) +
         Printf(" waits of %g s without a complete turn, a stop each\n", gate.turn_timeout);
  if (!end.empty()) o += "ended: " + end + "\n";
  return o;
}
