// SPDX-License-Identifier: BSD-3-Clause
// Map runs, suites and the merging of suite shards: robot-demo with --map,
// --suite or --merge. Their options are in sim_options.h.
#ifndef SCANPILOT_SIM_RUNS_SIM_CLI_H
#define SCANPILOT_SIM_RUNS_SIM_CLI_H

// A suite whose success rate fell below --min-success.
constexpr int kExitBelowMinSuccess = 3;

struct SimOptions;

// Runs a map run, a suite or a merge; returns the exit status.
int RunSim(const SimOptions& o);

#endif
