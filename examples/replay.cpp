#include "replay.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>
#include <utility>

#include "grid_frame.h"
#include "grid_view.h"
#include "pass_line.h"
#include "pathgrid.h"

namespace {

// Reads and parses the whole file; on failure returns the exit status after
// one line on standard error.
std::optional<int> ReadScanFile(const std::string& path, std::vector<Scan>& scans) {
  std::FILE* in = std::fopen(path.c_str(), "rb");
  if (in == nullptr) return Fail(kExitBadInput, path + ": cannot open: " + std::strerror(errno));
  std::string text;
  char chunk[65536];
  std::size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, in)) > 0) text.append(chunk, got);
  const bool read_error = std::ferror(in) != 0;
  const int read_errno = errno;
  std::fclose(in);
  if (read_error) return Fail(kExitBadInput, path + ": cannot read: " + std::strerror(read_errno));
  ScanParseError err{};
  if (ParseScanText(text, scans, err)) return std::nullopt;
  if (err.line > 0) return Fail(kExitBadInput, path + ":" + std::to_string(err.line) + ": " + err.message);
  return Fail(kExitBadInput, path + ": " + err.message);
}

void PrintScanLine(int n, const ScanPlan& p) {
  const PassFigures f{p.reached, p.path_length, p.fix_x, p.fix_y, p.face_x, p.face_y, p.bearing};
  std::printf("%s\n", ScanLine(n, f, p.target_free).c_str());
}

}  // namespace

Replay::Replay(const Options& o, std::vector<int> snapshots) : o_(o), snapshots_(std::move(snapshots)) {
  InitHelper();
  SetBorder(o_.border);
}

ScanPlan Replay::Step(const Scan& recorded) {
  const int n = scans_++;
  Scan scan = recorded;
  for (float& r : scan)
    if (r < o_.below || r > o_.above) r = std::numeric_limits<float>::infinity();
  ScanPlan p{};
  SetRanges(scan.data());
  p.target_free = ChkTarget(o_.target.col, o_.target.row);
  ClearTarget();
  SetTarget(o_.target.col, o_.target.row);
  p.reached = OutLine();
  p.path_length = GetHelperNum();
  p.fix_x = GetFixX();
  p.fix_y = GetFixY();
  p.face_x = GetFaceX();
  p.face_y = GetFaceY();
  p.bearing = CalAngle(p.fix_x, p.fix_y);
  reached_ += p.reached ? 1 : 0;
  PrintScanLine(n, p);
  if (IsSnapshot(snapshots_, n))
    AddGridPicture(files_, n, CaptureGridView(scan, true, o_.target, p.reached, o_.border),
                   "Planner grid for scan " + std::to_string(n) + " of " + o_.scans, "scan " + std::to_string(n));
  return p;
}

int Replay::Finish(OutputSet& out) {
  std::printf("reached the target on %d of %d scans\n", reached_, scans_);
  return WritePictures(out, files_);
}

int RunReplay(const Options& o) {
  std::vector<Scan> scans;
  if (const auto status = ReadScanFile(o.scans, scans)) return *status;
  const int count = static_cast<int>(scans.size());
  for (int n : o.snapshots)
    if (n >= count)
      return UsageError("--snapshot " + std::to_string(n) + ": the file has scans 0.." + std::to_string(count - 1));

  OutputSet out;
  if (const auto status = OpenOutput(o.out, out)) return *status;
  Replay replay(o, o.snapshots_given ? o.snapshots : DefaultSnapshots(count));
  std::printf("replaying %d scans from %s, target cell (%d, %d) = %.2f m ahead, %.2f m left\n", count,
              o.scans.c_str(), o.target.col, o.target.row, CellToMetres(o.target.row), CellToMetres(o.target.col));
  for (const Scan& scan : scans) replay.Step(scan);
  return replay.Finish(out);
}
