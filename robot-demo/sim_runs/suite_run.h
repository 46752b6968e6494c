// SPDX-License-Identifier: BSD-3-Clause
// Suites (--suite, a shard of one with --shard) and the merging of shards'
// JSON lines (--merge) into one table.
#ifndef SCANPILOT_SIM_RUNS_SUITE_RUN_H
#define SCANPILOT_SIM_RUNS_SUITE_RUN_H

#include "sim_runs/sim_options.h"

// Each returns the exit status.
int RunSuite(const SimOptions& o);
int RunMerge(const SimOptions& o);

#endif
