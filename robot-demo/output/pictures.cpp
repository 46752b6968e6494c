#include "output/pictures.h"

#include <algorithm>
#include <cstdio>

#include "cli/usage.h"
#include "output/svg.h"
#include "output/safe_text.h"

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

int WritePictures(OutputSet& out, const PictureFiles& files, bool announce) {
  for (const auto& f : files) out.Add(f.first, f.second);
  // A run whose report was lost does not replace the previous pictures.
  std::string why;
  if (out.Ok() && !FlushStdout(why)) {
    out.Abort();
    return Fail(kExitCannotWrite, "standard output: " + why);
  }
  if (!out.Commit()) return Fail(kExitCannotWrite, out.Error());
  if (!announce) return kExitOk;
  std::vector<std::string> names = out.Names();
  std::sort(names.begin(), names.end());
  std::printf("pictures: %s/ (", out.Dir().c_str());
  for (std::size_t i = 0; i < names.size(); ++i) std::printf("%s%s", i ? ", " : "", names[i].c_str());
  std::printf(")\n");
  return kExitOk;
}

std::string PicturesJson(const OutputSet& out) {
  std::vector<std::string> names = out.Names();
  std::sort(names.begin(), names.end());
  std::string o = "{\"dir\":" + JsonString(out.Dir()) + ",\"files\":[";
  for (std::size_t i = 0; i < names.size(); ++i) o += (i ? "," : "") + JsonString(names[i]);
  return o + "]}";
}
