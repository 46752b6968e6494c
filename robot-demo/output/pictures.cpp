// SPDX-License-Identifier: BSD-3-Clause
#include "output/pictures.h"

#include <algorithm>
#include <cstdio>

#include "base/json_writer.h"
#include "base/messages.h"
#include "base/safe_text.h"
#include "base/std_streams.h"
#include "output/svg.h"

std::vector<int> DefaultSnapshots(int count) {
  std::vector<int> out;
  if (count <= 0) return out;
  const int picks[] = {0, count / 4, count / 2, (3 * count) / 4, count - 1};
  for (int p : picks)
    if (!IsSnapshot(out, p)) out.push_back(p);
  return out;
}

bool IsSnapshot(const std::vector<int>& snapshots, int n) {
  return std::find(snapshots.begin(), snapshots.end(), n) != snapshots.end();
}

std::string TickName(int n) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "tick-%03d.svg", n);
  return buf;
}

void AddGridPicture(PictureFiles& files, int n, GridView view, const std::string& title,
                    const std::string& what) {
  view.title = title;
  if (!view.consistent) std::fprintf(stderr, "robot-demo: %s: replayed path differs from the pass\n", what.c_str());
  files.emplace_back(TickName(n), GridSvg(view));
}

std::optional<int> OpenOutput(const std::string& dir, OutputSet& out) {
  if (out.Open(dir)) return std::nullopt;
  return Fail(kExitCannotWrite, out.Error());
}

int WritePictures(OutputSet& out, const PictureFiles& files, bool announce, const std::function<int()>& after_commit) {
  for (const auto& f : files) out.Add(f.first, f.second);
  // A run whose report was lost does not replace the previous pictures.
  std::string why;
  if (out.Ok() && !FlushStdout(why)) {
    out.Abort();
    return Fail(kExitCannotWrite, "standard output: " + why);
  }
  if (!out.Commit()) return Fail(kExitCannotWrite, out.Error());
  if (after_commit) {
    if (const int status = after_commit(); status != kExitOk) return status;
  }
  if (!announce) return kExitOk;
  const std::vector<std::string> names = NamesInTickOrder(out);
  Print("pictures: %s/ (", TerminalText(out.Dir()).c_str());
  for (std::size_t i = 0; i < names.size(); ++i) Print("%s%s", i ? ", " : "", names[i].c_str());
  Print(")\n");
  return kExitOk;
}

std::vector<std::string> NamesInTickOrder(const OutputSet& out) {
  std::vector<std::string> names = out.Names();
  // Own names only: a tick picture's number is its digits, so the shorter
  // name is the smaller number.
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    const bool ta = a.compare(0, 5, "tick-") == 0, tb = b.compare(0, 5, "tick-") == 0;
    if (ta != tb) return tb;
    if (ta && a.size() != b.size()) return a.size() < b.size();
    return a < b;
  });
  return names;
}

std::string PicturesJson(const OutputSet& out) {
  const std::vector<std::string> names = NamesInTickOrder(out);
  JsonWriter w;
  w.BeginObject().Key("dir").String(out.Dir()).Key("files").BeginArray();
  for (const std::string& name : names) w.String(name);
  return w.EndArray().EndObject().Text();
}
