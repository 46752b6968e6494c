// SPDX-License-Identifier: BSD-3-Clause
// The embedded scenario run: a robot follows a person for 30 s, prints a
// status line per simulated second and a summary, and draws the run.
#ifndef SCANPILOT_RUNS_DEMO_RUN_H
#define SCANPILOT_RUNS_DEMO_RUN_H

#include "cli/options.h"

// Returns the exit status.
int RunDemo(const Options& o);

#endif
