// SPDX-License-Identifier: BSD-3-Clause
#include "sim_runs/suite_table.h"

#include <algorithm>
#include <cmath>

#include "base/messages.h"
#include "base/std_streams.h"
#include "output/run_report.h"
#include "scanpilot.h"

namespace {

long long Count(const Table& t, const char* k) {
  const auto it = t.outcomes.find(k);
  return it == t.outcomes.end() ? 0 : it->second;
}

double Rate(const Table& t) { return t.runs ? static_cast<double>(t.success) / static_cast<double>(t.runs) : 0.0; }
double MeanTime(const Table& t) { return t.success ? t.time_sum / static_cast<double>(t.success) : NAN; }

}  // namespace

Table MakeTable(std::vector<RunRow> rows) {
  std::sort(rows.begin(), rows.end(), [](const RunRow& a, const RunRow& b) { return a.index < b.index; });
  Table t;
  for (const RunRow& r : rows) {
    ++t.runs;
    ++t.outcomes[r.outcome];
    if (r.success) {
      ++t.success;
      t.time_sum += r.time;
      t.time_worst = std::max(t.time_worst, r.time);
    }
  }
  return t;
}

void PrintTable(const Table& t) {
  Print("suite: %lld runs, success %lld (%.1f %%)\n", t.runs, t.success, 100.0 * Rate(t));
  std::string outcomes;
  for (const auto& [k, n] : t.outcomes) outcomes += (outcomes.empty() ? "" : ", ") + k + " " + std::to_string(n);
  Print("  outcomes: %s\n", outcomes.c_str());
  Print("  collisions %lld, timeouts %lld\n", Count(t, "collision"), Count(t, "timeout"));
  if (t.success)
    Print("  time of the successful runs: mean %.2f s, worst %.2f s\n", MeanTime(t), t.time_worst);
  else
    Print("  time of the successful runs: none succeeded\n");
}

std::string TableJson(const Table& t, const std::string& extra) {
  std::string outcomes;
  for (const auto& [k, n] : t.outcomes) outcomes += (outcomes.empty() ? "\"" : ",\"") + k + "\":" + std::to_string(n);
  return "{\"schema\":" + std::to_string(kPilotJsonSchema) + ",\"suite\":{\"runs\":" + std::to_string(t.runs) +
         ",\"success\":" + std::to_string(t.success) + ",\"success_rate\":" + JsonNumber(Rate(t)) +
         ",\"collisions\":" + std::to_string(Count(t, "collision")) +
         ",\"timeouts\":" + std::to_string(Count(t, "timeout")) + ",\"outcomes\":{" + outcomes +
         "},\"time_mean\":" + JsonNumber(MeanTime(t)) +
         ",\"time_worst\":" + (t.success ? JsonNumber(t.time_worst) : "null") + extra + "}}";
}

int MinSuccessStatus(const SimOptions& o, const Table& t) {
  if (o.min_success && Rate(t) < *o.min_success) {
    Notice("success rate " + std::to_string(Rate(t)) + " is below --min-success " + std::to_string(*o.min_success));
    return kExitBelowMinSuccess;
  }
  return kExitOk;
}
