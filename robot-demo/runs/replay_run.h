// SPDX-License-Identifier: BSD-3-Clause
// A replay of a recording (--scans, or a bag after --format): streamed from a
// file or standard input, a regular file checked whole first.
#ifndef SCANPILOT_RUNS_REPLAY_RUN_H
#define SCANPILOT_RUNS_REPLAY_RUN_H

#include "cli/options.h"

// Replays o.scans (a file, or standard input for "-"); returns the exit status.
int RunReplay(const Options& o);

#endif
