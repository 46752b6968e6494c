// SPDX-License-Identifier: BSD-3-Clause
// Map runs, suites and the merging of suite shards: robot-demo with --map,
// --suite or --merge. Their options are read in sim_options.h.
#ifndef SCANPILOT_SIM_RUNS_SIM_CLI_H
#define SCANPILOT_SIM_RUNS_SIM_CLI_H

struct SimOptions;

// Runs the map run, suite or merge `o` asks for; returns the exit status.
int RunSim(const SimOptions& o);

#endif
