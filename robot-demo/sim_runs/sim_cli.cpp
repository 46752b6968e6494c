// SPDX-License-Identifier: BSD-3-Clause
#include "sim_runs/sim_cli.h"

#include "sim_runs/map_run.h"
#include "sim_runs/sim_options.h"
#include "sim_runs/suite_run.h"

int RunSim(const SimOptions& o) {
  if (!o.map.empty()) return RunMap(o);
  if (!o.suite.empty()) return RunSuite(o);
  return RunMerge(o);
}
