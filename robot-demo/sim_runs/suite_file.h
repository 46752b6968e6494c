// SPDX-License-Identifier: BSD-3-Clause
// A suite file: YAML with a list 'runs' of map runs and optional
// 'defaults' for them; paths relative to the file.
#ifndef SCANPILOT_SIM_RUNS_SUITE_FILE_H
#define SCANPILOT_SIM_RUNS_SUITE_FILE_H

#include <string>
#include <vector>

#include "sim_runs/map_episode.h"
#include "sim_runs/sim_options.h"

// The runs of `file`, `over` applied to each; false with one line naming the
// file and the line otherwise.
bool LoadSuite(const std::string& file, const Overrides& over, std::vector<MapRunPlan>& runs, std::string& why);

#endif
