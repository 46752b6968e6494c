// SPDX-License-Identifier: BSD-3-Clause
// How a run reports a scanner's stream: the drive command on each planned
// turn's line, the stop records of turns not planned and of waits without a
// turn, and the stream's counters in the summary.
#ifndef SCANPILOT_OUTPUT_TURN_REPORT_H
#define SCANPILOT_OUTPUT_TURN_REPORT_H

#include <string>

#include "input/lds_source.h"
#include "input/turn_source.h"
#include "scanpilot.h"

// ", drive 0.50 m/s, 0.12 rad/s", and when the robot does not move ahead,
// why: " (stop: bad input)", " (held: unseen space ahead)", " (turning on
// the spot)".
std::string DriveText(const PilotStep& step);
// The parenthesis alone, " (stop: bad input)", ...; nothing while driving.
// Searching for a lost object drives too, and says so.
std::string WhyText(const PilotStep& step);

// "slow", "fast", "packets" or "timeout", as the stop records name them.
const char* SkipReasonName(SkipReason r);

// The members a planned turn adds to its step object: ,"turn":K,"rpm":R,"packets":P
std::string TurnJsonMembers(const TurnInfo& info);

// "turn 7 not planned: 142.3 rpm (below 200): stop", "no complete turn for 0.5 s: stop".
std::string StopLine(const TurnInfo& info);
// {"schema":1,"skipped":{"reason":...,"turn":...,"rpm":...,"packets":...,"limit":...},
//  "command":{"speed":0,"turn_rate":0}}
std::string StopJson(const TurnInfo& info);

// How a run over a scanner's stream ended, as the summary names it:
// "input", "turns", "signal" or "device".
// The summary members of the stream (each ",\"key\":value"), `end` included.
std::string StreamSummaryJson(const LdsStats& s, const std::string& end);
// The summary lines for people. `live`: the stop timeouts are told too;
// `end`: a closing "ended: ..." line, or nothing when empty.
std::string StreamSummaryLines(const LdsStats& s, const LdsGate& gate, bool live, const std::string& end);

#endif
