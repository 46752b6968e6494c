#include "pictures.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <sys/stat.h>

#include "cli.h"
#include "svg.h"

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

int WritePictures(const std::string& dir, const PictureFiles& files) {
  if (::mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST)
    return Fail(kExitCannotWrite, dir + ": cannot create directory: " + std::strerror(errno));
  for (const auto& f : files) {
    std::string why;
    if (!WriteFileAtomic(dir + "/" + f.first, f.second, why))
      return Fail(kExitCannotWrite, dir + "/" + f.first + ": " + why);
  }
  std::printf("pictures: %s/ (", dir.c_str());
  for (std::size_t i = 0; i < files.size(); ++i) std::printf("%s%s", i ? ", " : "", files[i].first.c_str());
  std::printf(")\n");
  return kExitOk;
}
