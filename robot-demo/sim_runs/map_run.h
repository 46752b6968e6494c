// SPDX-License-Identifier: BSD-3-Clause
// One run on a map (--map): a line per simulated second (or a JSON object per
// period), the outcome, the pictures and, with --save-scans, what the pilot
// was given, for a replay of the same steps.
#ifndef SCANPILOT_SIM_RUNS_MAP_RUN_H
#define SCANPILOT_SIM_RUNS_MAP_RUN_H

#include <string>

#include "sim_runs/map_episode.h"
#include "sim_runs/sim_options.h"

// Returns the exit status.
int RunMap(const SimOptions& o);
// The members every run's summary has, in this order (merging reads them back).
std::string ResultMembers(const MapResult& r);

#endif
