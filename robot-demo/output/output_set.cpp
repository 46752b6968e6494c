#include "output/output_set.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char kStagingPrefix[] = ".robot-demo-";
constexpr char kAside[] = ".previous";

std::string Reason(int err) { return err != 0 ? std::strerror(err) : "write failed"; }

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
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
  if (DIR* d = ::opendir(path.c_str())) {
    std::vector<std::string> names;
    while (const dirent* e = ::readdir(d)) {
      const std::string n = e->d_name;
      if (n != "." && n != "..") names.push_back(n);
    }
    ::closedir(d);
    for (const auto& n : names) RemoveTree(path + "/" + n);
  }
  ::rmdir(path.c_str());
}

// Own outputs now in `dir`: plain files and links only, so that a folder the
// user happened to name run.svg is never touched.
std::vector<std::string> OwnOutputsIn(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (const dirent* e = ::readdir(d)) {
      const std::string n = e->d_name;
      struct stat st {};
      if (OutputSet::IsOwnOutput(n) && ::lstat((dir + "/" + n).c_str(), &st) == 0 &&
          (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)))
        names.push_back(n);
    }
    ::closedir(d);
  }
  return names;
}

}  // namespace

OutputSet::~OutputSet() {
  if (!committed_) Abort();
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
  for (std::size_t pos = 1; pos <= dir_.size(); ++pos) {
    if (pos < dir_.size() && dir_[pos] != '/') continue;
    const std::string level = dir_.substr(0, pos);
    if (::mkdir(level.c_str(), 0777) == 0) {
      created_.push_back(level);
    } else if (errno != EEXIST) {
      Fail(dir_ + ": cannot create directory: " + std::strerror(errno));
      Abort();
      return false;
    }
  }
  if (!IsDirectory(dir_)) {
    Fail(dir_ + ": not a directory");
    Abort();
    return false;
  }
  std::string tmpl = dir_ + "/" + kStagingPrefix + "XXXXXX";
  if (::mkdtemp(tmpl.data()) == nullptr) {
    Fail(dir_ + ": cannot write there: " + std::strerror(errno));
    Abort();
    return false;
  }
  staging_ = tmpl;
  return true;
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
  std::FILE* f = std::fopen(StagedPath(name).c_str(), "wb");
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

bool OutputSet::Commit() {
  if (committed_) return true;
  if (staging_.empty()) Fail(dir_ + ": output set is not open");
  CloseAll();
  if (!Ok()) {
    Abort();
    return false;
  }
  const std::string aside = staging_ + "/" + kAside;
  std::vector<std::string> moved_aside, moved_in;
  if (::mkdir(aside.c_str(), 0700) != 0) Fail(dir_ + ": cannot write there: " + std::strerror(errno));
  // Earlier outputs step aside first, so that none is left next to the new
  // set and each can go back if the move fails halfway.
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
  if (!Ok()) {
    bool restored = true;
    for (const auto& n : moved_in) ::rename((dir_ + "/" + n).c_str(), StagedPath(n).c_str());
    for (const auto& n : moved_aside)
      restored = ::rename((aside + "/" + n).c_str(), (dir_ + "/" + n).c_str()) == 0 && restored;
    if (!restored) {
      // Better a stray hidden folder than earlier outputs lost.
      error_ += "; earlier outputs left in " + aside;
      staging_.clear();
    }
    Abort();
    return false;
  }
  committed_ = true;
  RemoveStaging();
  return true;
}

void OutputSet::Abort() {
  for (const auto& p : open_) std::fclose(p.first);
  open_.clear();
  RemoveStaging();
  if (!committed_)
    for (auto it = created_.rbegin(); it != created_.rend(); ++it) ::rmdir(it->c_str());  // only while empty
  created_.clear();
}

bool CheckStandardStreams() {
  if (::fcntl(STDOUT_FILENO, F_GETFD) == -1) return false;
  for (int fd : {STDIN_FILENO, STDERR_FILENO}) {
    if (::fcntl(fd, F_GETFD) != -1) continue;
    const int got = ::open("/dev/null", O_RDWR);
    if (got != fd && got >= 0) ::close(got);
  }
  return true;
}

bool FlushStdout(std::string& why) {
  errno = 0;
  const bool flushed = std::fflush(stdout) == 0;
  const int err = errno;
  if (flushed && std::ferror(stdout) == 0) return true;
  why = err != 0 ? std::strerror(err) : "some of it was lost";
  return false;
}
