// SPDX-License-Identifier: BSD-3-Clause
// A person's route file and the numbers and paths of the files a map run reads.
#ifndef SCANPILOT_SIM_RUNS_ROUTE_FILE_H
#define SCANPILOT_SIM_RUNS_ROUTE_FILE_H

#include <string>
#include <vector>

#include "scansim.h"

// A whole finite number ("+" allowed), exactly as from_chars reads it.
bool ParseNumber(const std::string& s, double& v);
// One waypoint "x y" a line, in metres; '#' comments and blank lines are
// skipped. False with one line naming the file (and the line) otherwise.
bool LoadRoute(const std::string& file, std::vector<SimPoint>& route, std::string& why);
// `p` as seen from the folder of `base_file`, unless absolute.
std::string Relative(const std::string& base_file, const std::string& p);

#endif
