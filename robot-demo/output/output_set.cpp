// SPDX-License-Identifier: BSD-3-Clause
#include "output/output_set.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "base/messages.h"
#include "output/commit_journal.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char kAside[] = ".previous";

std::string Reason(int err) { return err != 0 ? std::strerror(err) : "write failed"; }

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

OutputSet::~OutputSet() {
  if (!committed_) Abort();
  Unlock();
}

bool OutputSet::IsOwnOutput(const std::string& name) { return IsOwnOutputName(name); }

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
    ::unlink(JournalPath(staging_).c_str());
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
  ::unlink(JournalPath(staging_).c_str());
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
