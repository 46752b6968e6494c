// SPDX-License-Identifier: BSD-3-Clause
// A live run: a spinning scanner's serial port read as it streams, each
// usable turn planned the moment it completes, a stop record for any other
// turn and for each wait without a turn. It ends normally on --turns or a
// stop signal, and with status 1 when the device goes away, always after
// the summary and the outputs of what ran.
#ifndef SCANPILOT_RUNS_LIVE_H
#define SCANPILOT_RUNS_LIVE_H

#include "cli/options.h"

// Runs from o.device; returns the exit status.
int RunLive(const Options& o);

#endif
