// SPDX-License-Identifier: BSD-3-Clause
#include "sim_runs/suite_table.h"

#include <algorithm>
#include <cmath>

#include "base/json_writer.h"
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

std::string TableJson(const Table& t, const std::string& shard, long long suite_runs) {
  JsonWriter w;
  w.BeginObject().Key("schema").Int(kPilotJsonSchema).Key("suite").BeginObject();
  w.Key("runs").Int(t.runs).Key("success").Int(t.success).Key("success_rate").Number(Rate(t));
  w.Key("collisions").Int(Count(t, "collision")).Key("timeouts").Int(Count(t, "timeout")).Key("outcomes").BeginObject();
  for (const auto& [k, n] : t.outcomes) w.Key(k).Int(n);
  w.EndObject().Key("time_mean").Number(MeanTime(t)).Key("time_worst");
  if (t.success)
    w.Number(t.time_worst);
  else
    w.Null();
  w.Key("shard").String(shard).Key("suite_runs").Int(suite_runs);
  return w.EndObject().EndObject().Text();
}

int MinSuccessStatus(const SimOptions& o, const Table& t) {
  if (o.min_success && Rate(t) < *o.min_success) {
    Notice("success rate " + std::to_string(Rate(t)) + " is below --min-success " + std::to_string(*o.min_success));
    return kExitBelowMinSuccess;
  }
  return kExitOk;
}
