// SPDX-License-Identifier: BSD-3-Clause
#include "sim_runs/suite_run.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/json_writer.h"
#include "base/messages.h"
#include "base/safe_text.h"
#include "base/std_streams.h"
#include "output/run_report.h"
#include "sim_runs/map_run.h"
#include "sim_runs/route_file.h"
#include "sim_runs/suite_file.h"
#include "sim_runs/suite_table.h"

namespace {

using MapsByKey = std::map<std::string, std::unique_ptr<SimMap>>;

std::string MapKey(const MapRunPlan& s) { return s.map + (s.open_unknown ? "|open" : ""); }

// Every map the shard's runs need, loaded and checked before anything is printed.
std::optional<int> LoadMaps(const SimOptions& o, const std::vector<MapRunPlan>& all, const std::vector<long long>& mine,
                            MapsByKey& maps) {
  for (const MapRunPlan& s : all) {
    std::ifstream probe(s.map);
    if (!probe) return Fail(kExitBadInput, o.suite + ": run '" + s.name + "': map " + s.map + ": cannot open");
  }
  for (long long i : mine) {
    const MapRunPlan& s = all[static_cast<std::size_t>(i)];
    const std::string key = MapKey(s);
    if (!maps.count(key)) {
      auto m = std::make_unique<SimMap>();
      char buf[512];
      SimMapOptions mo;
      mo.open_unknown = s.open_unknown;
      if (!m->Load(s.map.c_str(), mo, buf, sizeof buf))
        return Fail(kExitBadInput, o.suite + ": run '" + s.name + "': " + buf);
      maps[key] = std::move(m);
    }
    std::string problem;
    if (!CheckPlan(s, *maps[key], problem))
      return Fail(kExitBadInput, o.suite + ": run '" + s.name + "': " + s.map + ": " + problem);
  }
  return std::nullopt;
}

void PrintRun(const SimOptions& o, long long index, const MapRunPlan& s, const MapResult& r) {
  if (o.json) {
    JsonWriter w;
    w.BeginObject().Key("schema").Int(kPilotJsonSchema).Key("run").BeginObject();
    w.Key("index").Int(index).Key("name").String(s.name).MoreMembers(ResultMembers(r));
    Print("%s\n", w.EndObject().EndObject().Text().c_str());
  } else if (!o.quiet) {
    Print("%4lld %-24s %-9s %6.1f s  path %6.2f m  clearance %6.3f m%s%s\n", index,
          TerminalText(FitText(s.name, 24)).c_str(), r.outcome.c_str(), r.time, r.path_length, r.min_clearance,
          r.outcome == "collision" ? "  touching " : "",
          r.outcome == "collision" ? ContactText(r.contact).c_str() : "");
  }
}

// The value after "key": in a line of our own JSON (no nesting before it).
bool Field(const std::string& line, const std::string& key, std::string& value) {
  const std::string k = "\"" + key + "\":";
  const auto at = line.find(k);
  if (at == std::string::npos) return false;
  std::size_t b = at + k.size(), e = b;
  if (b < line.size() && line[b] == '"') {
    e = line.find('"', b + 1);
    if (e == std::string::npos) return false;
    value = line.substr(b + 1, e - b - 1);
    return true;
  }
  while (e < line.size() && line[e] != ',' && line[e] != '}') ++e;
  value = line.substr(b, e - b);
  return true;
}

// The suite runs of a shard's --json lines: its run lines into `rows` and
// `seen`, its suite line's count into `suite_runs` (which every shard must share).
std::optional<int> ReadShard(const std::string& file, std::vector<RunRow>& rows, std::map<long long, std::string>& seen,
                             long long& suite_runs) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return Fail(kExitBadInput, file + ": cannot open (" + std::strerror(errno) + ")");
  std::string line;
  long long n = 0;
  while (std::getline(in, line)) {
    ++n;
    const std::string at = file + ":" + std::to_string(n);
    std::string v;
    if (line.rfind("{\"schema\":", 0) == 0 && line.find(",\"suite\":{") != std::string::npos) {
      long long total = 0;
      if (!Field(line, "suite_runs", v) || std::from_chars(v.data(), v.data() + v.size(), total).ec != std::errc())
        return Fail(kExitBadInput, at + ": a suite line without 'suite_runs'");
      if (suite_runs >= 0 && total != suite_runs)
        return Fail(kExitBadInput, at + ": a shard of a suite of " + std::to_string(total) + " runs, not " +
                                       std::to_string(suite_runs));
      suite_runs = total;
      continue;
    }
    if (line.find(",\"run\":{\"index\":") == std::string::npos) continue;  // other lines pass
    RunRow r{};
    std::string idx, t, succ;
    if (!Field(line, "index", idx) || !Field(line, "outcome", r.outcome) || !Field(line, "success", succ) ||
        !Field(line, "time", t))
      return Fail(kExitBadInput, at + ": a run line without index, outcome, success or time");
    if (std::from_chars(idx.data(), idx.data() + idx.size(), r.index).ec != std::errc() || r.index < 1 ||
        !ParseNumber(t, r.time))
      return Fail(kExitBadInput, at + ": a run's index or time is not a number");
    r.success = succ == "true";
    if (seen.count(r.index))
      return Fail(kExitBadInput, at + ": run " + idx + " again (first in " + seen[r.index] + ")");
    seen[r.index] = at;
    rows.push_back(r);
  }
  return std::nullopt;
}

}  // namespace

int RunSuite(const SimOptions& o) {
  std::vector<MapRunPlan> all;
  std::string why;
  if (!LoadSuite(o.suite, o.over, all, why)) return Fail(kExitBadInput, why);
  std::vector<long long> mine;
  for (long long i = 0; i < static_cast<long long>(all.size()); ++i)
    if (i % o.shard_n == o.shard_k - 1) mine.push_back(i);
  MapsByKey maps;
  if (const auto status = LoadMaps(o, all, mine, maps)) return *status;
  std::vector<RunRow> rows;
  for (long long i : mine) {
    const MapRunPlan& s = all[static_cast<std::size_t>(i)];
    MapResult r;
    std::string fail;
    if (!RunEpisode(s, *maps[MapKey(s)], false, {}, r, fail)) return Fail(kExitBadInput, s.name + ": " + fail);
    rows.push_back({i + 1, r.outcome, r.success, r.time});
    PrintRun(o, i + 1, s, r);
    if (const auto status = StopStatus()) return *status;
  }
  const Table t = MakeTable(rows);
  const std::string shard = std::to_string(o.shard_k) + "/" + std::to_string(o.shard_n);
  if (o.json)
    Print("%s\n", TableJson(t, shard, static_cast<long long>(all.size())).c_str());
  else {
    if (o.shard_n > 1) Print("shard %s of a suite of %zu runs\n", shard.c_str(), all.size());
    PrintTable(t);
  }
  return MinSuccessStatus(o, t);
}

int RunMerge(const SimOptions& o) {
  std::vector<RunRow> rows;
  std::map<long long, std::string> seen;
  long long suite_runs = -1;
  for (const std::string& file : o.merge)
    if (const auto status = ReadShard(file, rows, seen, suite_runs)) return *status;
  if (suite_runs < 0)
    return Fail(kExitBadInput, "--merge: no suite line in the files (were they made with --suite --json?)");
  for (long long i = 1; i <= suite_runs; ++i)
    if (!seen.count(i))
      return Fail(kExitBadInput, "--merge: run " + std::to_string(i) + " of " + std::to_string(suite_runs) +
                                     " is in none of the files");
  if (static_cast<long long>(rows.size()) != suite_runs)
    return Fail(kExitBadInput, "--merge: more runs than the suite's " + std::to_string(suite_runs));
  const Table t = MakeTable(rows);
  if (o.json)
    Print("%s\n", TableJson(t, "1/1", suite_runs).c_str());
  else
    PrintTable(t);
  return MinSuccessStatus(o, t);
}
