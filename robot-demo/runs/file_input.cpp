// SPDX-License-Identifier: BSD-3-Clause
#include "runs/file_input.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include "base/messages.h"
#include "base/stop_signal.h"
#include "input/bag_source.h"
#include "input/ros2_source.h"
#include "input/scan_source.h"
#include "output/progress.h"
#include "runs/play_loop.h"

namespace {

// A line of the ranges format that looks like a sample is worth a word.
void WarnAboutFormat(const ScanSource& src, const std::string& name, RunWarnings& warnings) {
  if (src.FewValuesLine() == 0) return;
  warnings.Warn("looks_like_samples", name + ":" + std::to_string(src.FewValuesLine()) +
                                          ": a line of 2 or 3 numbers read as one turn of --format ranges; if it is "
                                          "'angle range [quality]', use --format samples");
}

// A text recording's scans, with the word its ranges format may deserve.
class TextTurnSource : public TurnSource {
 public:
  TextTurnSource(std::FILE* in, const Options& o, std::string name, RunWarnings& warnings)
      : src_(in, o.format, MountedLayout(o)), name_(std::move(name)), warnings_(warnings) {}
  Result Next(Scan& scan, TurnInfo& info) override {
    info = TurnInfo{};
    switch (src_.Next(scan)) {
      case ScanSource::kScan: WarnAboutFormat(src_, name_, warnings_); return kScan;
      case ScanSource::kEnd: return kEnd;
      case ScanSource::kError: break;
    }
    return Fail(src_.ErrorMessage(), ErrorKind::kInput, src_.ErrorLine());
  }

 private:
  ScanSource src_;
  std::string name_;
  RunWarnings& warnings_;
};

// An input that failed to open: its one line is its first record.
class FailedSource : public TurnSource {
 public:
  explicit FailedSource(std::string why) : why_(std::move(why)) {}
  Result Next(Scan&, TurnInfo&) override { return Fail(why_, ErrorKind::kInput); }

 private:
  std::string why_;
};

std::unique_ptr<TurnSource> OpenBagInput(const Options& o) {
  std::string why;
  std::unique_ptr<TurnSource> src = o.format == ScanFormat::kRosbag2
                                        ? OpenRos2Bag(o.scans, o.topic, PilotConfigOf(o), why)
                                        : OpenBag(o.scans, o.topic, PilotConfigOf(o), why);
  if (src) return src;
  // The reader names the file itself; the run's line does that already.
  if (why.rfind(o.scans + ": ", 0) == 0) why.erase(0, o.scans.size() + 2);
  return std::make_unique<FailedSource>(why);
}

}  // namespace

FileInput OpenFileInput(const Options& o, std::FILE* in, const std::string& name, RunWarnings& warnings, RawSink* raw) {
  FileInput f;
  if (o.format == ScanFormat::kRosbag || o.format == ScanFormat::kRosbag2) {
    f.src = OpenBagInput(o);
  } else if (o.format == ScanFormat::kLds) {
    f.bytes = std::make_unique<FileBytes>(in);
    f.src = std::make_unique<LdsTurnSource>(*f.bytes, o.stream, MountedLayout(o), LdsGateOf(o), raw);
  } else {
    f.src = std::make_unique<TextTurnSource>(in, o, name, warnings);
  }
  return f;
}

std::optional<std::string> Emptiness(const std::string& name, long long scans, const TurnSource& src) {
  if (const LdsStats* s = src.Stats()) {
    if (s->turns > 0 && s->planned == 0 && s->looks_like != nullptr)
      return name + ": no turn planned in " + std::to_string(s->bytes) +
             " bytes, most of them skipped: it looks like --format " + s->looks_like;
    if (s->turns > 0) return std::nullopt;
    return name + ": no complete scanner turn in " + std::to_string(s->bytes) + " bytes (" +
           std::to_string(s->wire.good_packets) + " good packets): " +
           (s->looks_like != nullptr ? std::string("it looks like --format ") + s->looks_like
                                     : std::string("is it a raw capture of the scanner's port?"));
  }
  if (scans > 0) return std::nullopt;
  return name + ": no scans in file";
}

std::optional<int> CheckWholeFile(const Options& o, const std::string& name, std::FILE* in, bool progress_on,
                                  RunWarnings& warnings, long long& count) {
  const long start = std::ftell(in);
  FileInput check = OpenFileInput(o, in, name, warnings, nullptr);
  Scan s{};
  TurnInfo info;
  Progress progress(progress_on, -1);
  TurnSource::Result r;
  count = 0;
  while ((r = check.src->Next(s, info)) != TurnSource::kEnd && r != TurnSource::kError) {
    if (r == TurnSource::kScan) progress.Tick(++count);
    if (StopSignal() != 0) break;
  }
  progress.Done();  // before any line, so that it starts a line of its own
  if (StopSignal() != 0) return Interrupted();
  if (r == TurnSource::kError) return Fail(kExitBadInput, SourceError(name, *check.src));
  if (const auto empty = Emptiness(name, count, *check.src)) return Fail(kExitBadInput, *empty);
  for (int n : o.snapshots)
    if (n >= count) return UsageError("--snapshot " + std::to_string(n) + ": the file has " + ScanRange(count));
  if (start < 0 || std::fseek(in, start, SEEK_SET) != 0)
    return Fail(kExitBadInput, name + ": cannot read twice: " + std::strerror(errno));
  std::clearerr(in);
  return std::nullopt;
}
