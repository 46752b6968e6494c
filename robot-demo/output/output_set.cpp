// SPDX-License-Identifier: BSD-3-Clause
#include "output/output_set.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "base/messages.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char kAside[] = ".previous";
constexpr char kJournal[] = ".commit";
constexpr char kJournalHead[] = "robot-demo commit 1\n";
constexpr char kJournalEnd[] = "end\n";

std::string Reason(int err) { return err != 0 ? std::strerror(err) : "write failed"; }

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> NamesIn(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (const dirent* e = ::readdir(d)) {
      const std::string n = e->d_name;
      if (n != "." && n != "..") names.push_back(n);
    }
    ::closedir(d);
  }
  return names;
}

// Removes `path` and, for a directory, everything below it; never follows a
// symbolic link.
void RemoveTree(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return;
  if (!S_ISDIR(st.st_mode)) {
    ::unlink(path.c_str());
    return;
  }
  for (const auto& n : NamesIn(path)) RemoveTree(path + "/" + n);
  ::rmdir(path.c_str());
}

// Own outputs now in `dir`: plain files and links only, so that a folder the
// user happened to name run.svg is never touched.
std::vector<std::string> OwnOutputsIn(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& n : NamesIn(dir)) {
    struct stat st {};
    if (OutputSet::IsOwnOutput(n) && ::lstat((dir + "/" + n).c_str(), &st) == 0 &&
        (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)))
      names.push_back(n);
  }
  return names;
}

// fsync of a file or a directory by its path; the errno, or 0.
int SyncPath(const std::string& path, bool directory) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | (directory ? O_DIRECTORY : 0));
  if (fd < 0) return errno;
  const int err = ::fsync(fd) == 0 ? 0 : errno;
  ::close(fd);
  // Some file systems cannot sync a directory; the files themselves are.
  return directory && (err == EINVAL || err == ENOTSUP) ? 0 : err;
}

bool WriteAll(int fd, const std::string& s) {
  std::size_t done = 0;
  while (done < s.size()) {
    const ssize_t n = ::write(fd, s.data() + done, s.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// The journal: the new names, written and synced before the first move.
int WriteJournal(const std::string& staging, const std::vector<std::string>& names) {
  std::string text = kJournalHead;
  for (const auto& n : names) text += n + "\n";
  text += kJournalEnd;
  const std::string path = staging + "/" + kJournal;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return errno;
  int err = WriteAll(fd, text) ? 0 : errno != 0 ? errno : EIO;
  if (err == 0 && ::fsync(fd) != 0) err = errno;
  ::close(fd);
  return err != 0 ? err : SyncPath(staging, true);
}

// The names of a complete journal; false when there is none or it was cut
// short (then no move had started).
bool ReadJournal(const std::string& staging, std::vector<std::string>& names) {
  std::FILE* f = std::fopen((staging + "/" + kJournal).c_str(), "rb");
  if (f == nullptr) return false;
  std::string text;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0 && text.size() < (1u << 20)) text.append(buf, n);
  std::fclose(f);
  const std::size_t head = std::strlen(kJournalHead), end = std::strlen(kJournalEnd);
  if (text.size() < head + end || text.compare(0, head, kJournalHead) != 0 ||
      text.compare(text.size() - end, end, kJournalEnd) != 0)
    return false;
  std::size_t pos = head;
  names.clear();
  for (std::size_t nl; (nl = text.find('\n', pos)) < text.size() - end; pos = nl + 1)
    names.push_back(text.substr(pos, nl - pos));
  return std::all_of(names.begin(), names.end(), OutputSet::IsOwnOutput);
}

// Finishes a commit that was cut off: a new file is either still staged or
// already in `dir` (each move is one rename), so every own output in `dir`
// that is not a moved-in new file belongs to the earlier set and goes.
void RollForward(const std::string& dir, const std::string& staging, const std::vector<std::string>& names) {
  for (const auto& n : OwnOutputsIn(dir)) {
    const bool is_new = std::find(names.begin(), names.end(), n) != names.end() && !Exists(staging + "/" + n);
    if (!is_new) ::unlink((dir + "/" + n).c_str());
  }
  for (const auto& n : names)
    if (Exists(staging + "/" + n)) ::rename((staging + "/" + n).c_str(), (dir + "/" + n).c_str());
  SyncPath(dir, true);
}

// What killed runs left in `dir`, which this run holds locked.
void RepairStale(const std::string& dir) {
  const std::size_t prefix = std::strlen(kStagingPrefix);
  for (const auto& n : NamesIn(dir)) {
    struct stat st {};
    const std::string path = dir + "/" + n;
    if (n.compare(0, prefix, kStagingPrefix) != 0 || ::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
      continue;
    std::vector<std::string> names;
    if (ReadJournal(path, names)) {
      RollForward(dir, path, names);
      Notice(dir + ": finished moving in the outputs of an earlier run that was stopped during its last step");
    } else {
      Notice(dir + ": removed " + n + ", left by an earlier run that was stopped");
    }
    RemoveTree(path);
  }
}

}  // namespace

const char kStagingPrefix[] = ".robot-demo-";

OutputSet::~OutputSet() {
  if (!committed_) Abort();
  Unlock();
}

bool OutputSet::IsOwnOutput(const std::string& name) {
  if (name == "run.svg" || name == "run.html") return true;
  const std::size_t digits = name.size() >= 12 ? name.size() - 9 : 0;  // "tick-" + N + ".svg"
  if (digits < 3 || name.compare(0, 5, "tick-") != 0 || name.compare(name.size() - 4, 4, ".svg") != 0) return false;
  return std::all_of(name.begin() + 5, name.end() - 4, [](char c) { return c >= '0' && c <= '9'; });
}

bool OutputSet::Open(const std::string& dir) {
  if (!staging_.empty() || committed_) {
    Fail(dir + ": output set already open");
    return false;
  }
  dir_ = dir;
  while (dir_.size() > 1 && dir_.back() == '/') dir_.pop_back();
  // Each missing level, outermost first, as mkdir -p would.
  for (std::size_t pos = 1; pos <= dir_.size() && Ok(); ++pos) {
    if (pos < dir_.size() && dir_[pos] != '/') continue;
    const std::string level = dir_.substr(0, pos);
    if (::mkdir(level.c_str(), 0777) == 0)
      created_.push_back(level);
    else if (errno != EEXIST)
      Fail(dir_ + ": cannot create directory: " + std::strerror(errno));
  }
  if (Ok() && !IsDirectory(dir_)) Fail(dir_ + ": not a directory");
  if (Ok() && Lock() && lock_fd_ >= 0) RepairStale(dir_);
  std::string tmpl = dir_ + "/" + kStagingPrefix + "XXXXXX";
  if (Ok() && ::mkdtemp(tmpl.data()) == nullptr) Fail(dir_ + ": cannot write there: " + std::strerror(errno));
  if (!Ok()) {
    Abort();
    return false;
  }
  staging_ = tmpl;
  return true;
}

// An exclusive flock on the folder itself: nothing to leave behind, and it
// goes with the process however that ends. Assumes a local file system; where
// the folder cannot be locked (some network file systems), the run goes on
// unlocked after a warning.
bool OutputSet::Lock() {
  lock_fd_ = ::open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (lock_fd_ < 0) {
    Fail(dir_ + ": cannot open: " + std::strerror(errno));
    return false;
  }
  if (::flock(lock_fd_, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) {
      Fail(dir_ + ": in use by another robot-demo run; wait for it to end or choose another --out");
      return false;
    }
    Notice("warning: " + dir_ + ": cannot lock (" + std::strerror(errno) +
           "); a second run into this folder at the same time could mix its files with this run's");
    Unlock();  // unlocked, this run also leaves other runs' staging folders alone
    return true;
  }
  // The folder locked must still be the one at that path (an aborted run
  // removes a folder it made).
  struct stat held {}, now {};
  if (::fstat(lock_fd_, &held) != 0 || ::stat(dir_.c_str(), &now) != 0 || held.st_dev != now.st_dev ||
      held.st_ino != now.st_ino) {
    Fail(dir_ + ": in use by another robot-demo run; wait for it to end or choose another --out");
    return false;
  }
  return true;
}

void OutputSet::Unlock() {
  if (lock_fd_ >= 0) ::close(lock_fd_);
  lock_fd_ = -1;
}

bool OutputSet::Register(const std::string& name) {
  if (!Ok()) return false;
  if (staging_.empty()) {
    Fail(name + ": output set is not open");
    return false;
  }
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos ||
      name.find('\0') != std::string::npos || name.compare(0, std::strlen(kStagingPrefix), kStagingPrefix) == 0) {
    Fail(dir_ + ": '" + name + "' is not a plain file name");
    return false;
  }
  if (std::find(names_.begin(), names_.end(), name) == names_.end()) names_.push_back(name);
  return true;
}

void OutputSet::Fail(const std::string& why) {
  if (error_.empty()) error_ = why.empty() ? "output failed" : why;
}

std::string OutputSet::Stage(const std::string& name) {
  return Register(name) ? StagedPath(name) : std::string();
}

std::FILE* OutputSet::Create(const std::string& name) {
  if (!Register(name)) return nullptr;
  std::FILE* f = std::fopen(StagedPath(name).c_str(), "wbe");
  if (f == nullptr) {
    Fail(dir_ + "/" + name + ": " + std::strerror(errno));
    return nullptr;
  }
  open_.emplace_back(f, name);
  return f;
}

bool OutputSet::Close(std::FILE* f) {
  const auto it = std::find_if(open_.begin(), open_.end(), [f](const auto& p) { return p.first == f; });
  if (it == open_.end()) {
    Fail(dir_ + ": closing a file that is not part of the set");
    return false;
  }
  const std::string name = it->second;
  open_.erase(it);
  int err = 0;
  bool bad = std::ferror(f) != 0;
  if (std::fflush(f) != 0) bad = true, err = errno;
  if (std::fclose(f) != 0) bad = true, err = err != 0 ? err : errno;
  if (bad) Fail(dir_ + "/" + name + ": " + Reason(err));
  return !bad && Ok();
}

bool OutputSet::Add(const std::string& name, const std::string& content) {
  std::FILE* f = Create(name);
  if (f == nullptr) return false;
  if (std::fwrite(content.data(), 1, content.size(), f) != content.size()) {
    const int err = errno;
    Fail(dir_ + "/" + name + ": " + Reason(err));
  }
  return Close(f);
}

void OutputSet::CloseAll() {
  while (!open_.empty()) Close(open_.back().first);
}

void OutputSet::RemoveStaging() {
  if (!staging_.empty()) RemoveTree(staging_);
  staging_.clear();
}

// Every staged file on disk, then the journal that allows the moves.
bool OutputSet::SyncStaged() {
  for (const auto& n : names_) {
    if (const int err = SyncPath(StagedPath(n), false)) {
      Fail(dir_ + "/" + n + ": " + std::strerror(err));
      return false;
    }
  }
  if (const int err = WriteJournal(staging_, names_)) {
    Fail(dir_ + ": cannot write there: " + std::strerror(err));
    return false;
  }
  return true;
}

// Earlier outputs step aside first, so that none is left next to the new
// set and each can go back if a move fails halfway.
bool OutputSet::MoveIn(const std::string& aside) {
  std::vector<std::string> moved_aside, moved_in;
  if (::mkdir(aside.c_str(), 0700) != 0) Fail(dir_ + ": cannot write there: " + std::strerror(errno));
  for (const auto& n : Ok() ? OwnOutputsIn(dir_) : std::vector<std::string>()) {
    if (::rename((dir_ + "/" + n).c_str(), (aside + "/" + n).c_str()) != 0) {
      Fail(dir_ + "/" + n + ": cannot replace: " + std::strerror(errno));
      break;
    }
    moved_aside.push_back(n);
  }
  for (const auto& n : Ok() ? names_ : std::vector<std::string>()) {
    if (::rename(StagedPath(n).c_str(), (dir_ + "/" + n).c_str()) != 0) {
      Fail(dir_ + "/" + n + ": " + std::strerror(errno));
      break;
    }
    moved_in.push_back(n);
  }
  if (Ok()) return true;
  bool restored = true;
  for (const auto& n : moved_in)
    restored = ::rename((dir_ + "/" + n).c_str(), StagedPath(n).c_str()) == 0 && restored;
  for (const auto& n : moved_aside)
    restored = ::rename((aside + "/" + n).c_str(), (dir_ + "/" + n).c_str()) == 0 && restored;
  if (restored) {
    ::unlink((staging_ + "/" + kJournal).c_str());
  } else {
    // The journal stays: the next run into the folder finishes the move.
    error_ += "; the next run into " + dir_ + " completes this one's files";
    staging_.clear();
  }
  return false;
}

bool OutputSet::Commit() {
  if (committed_) return true;
  if (staging_.empty()) Fail(dir_ + ": output set is not open");
  CloseAll();
  if (!Ok() || !SyncStaged() || !MoveIn(staging_ + "/" + kAside)) {
    Abort();
    return false;
  }
  // The files are in; a folder that cannot be flushed is still reported.
  if (const int err = SyncPath(dir_, true)) Fail(dir_ + ": " + std::strerror(err));
  // A folder this run made must itself survive a power cut.
  if (!created_.empty()) {
    const std::size_t slash = created_.front().find_last_of('/');
    SyncPath(slash == std::string::npos ? "." : slash == 0 ? "/" : created_.front().substr(0, slash), true);
  }
  committed_ = true;
  ::unlink((staging_ + "/" + kJournal).c_str());
  RemoveStaging();
  Unlock();
  return Ok();
}

void OutputSet::Abort() {
  for (const auto& p : open_) std::fclose(p.first);
  open_.clear();
  RemoveStaging();
  if (!committed_)
    for (auto it = created_.rbegin(); it != created_.rend(); ++it) ::rmdir(it->c_str());  // only while empty
  created_.clear();
  Unlock();
}
