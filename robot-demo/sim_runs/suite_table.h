// SPDX-License-Identifier: BSD-3-Clause
// A suite's table: its runs' outcomes counted, printed for people or as
// JSON; the same from a suite's runs or from its shards' merged lines.
#ifndef SCANPILOT_SIM_RUNS_SUITE_TABLE_H
#define SCANPILOT_SIM_RUNS_SUITE_TABLE_H

#include <map>
#include <string>
#include <vector>

#include "sim_runs/sim_options.h"

// What the table needs of a run; a merge reads the same back from JSON.
struct RunRow {
  long long index;
  std::string outcome;
  bool success;
  double time;
};

struct Table {
  long long runs = 0, success = 0;
  std::map<std::string, long long> outcomes;
  double time_sum = 0.0, time_worst = 0.0;
};

// The table of `rows`, in the order of their index.
Table MakeTable(std::vector<RunRow> rows);
void PrintTable(const Table& t);
// The suite's JSON line; `shard` ("k/n") and `suite_runs` let --merge check its parts.
std::string TableJson(const Table& t, const std::string& shard, long long suite_runs);
// kExitBelowMinSuccess (said on standard error) when the success rate is below --min-success.
int MinSuccessStatus(const SimOptions& o, const Table& t);

#endif
