// SPDX-License-Identifier: BSD-3-Clause
// Map runs, suites and the merging of suite shards: robot-demo with --map,
// --suite or --merge. Their options are read here, apart from the replay's.
#ifndef SCANPILOT_SIM_RUNS_SIM_CLI_H
#define SCANPILOT_SIM_RUNS_SIM_CLI_H

// True when the command line asks for a map run, a suite or a merge.
bool WantsSimRun(int argc, char** argv);
// Runs it; returns the exit status.
int RunSim(int argc, char** argv);

#endif
