// SPDX-License-Identifier: BSD-3-Clause
#include "output/staged_file.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/messages.h"
#include "base/std_streams.h"

namespace {

constexpr char kTempMark[] = ".robot-demo-";

std::string Reason(int err) { return std::strerror(err != 0 ? err : EIO); }

// Folder and name of a path, as the temporary file beside it needs them.
void SplitPath(const std::string& path, std::string& dir, std::string& base) {
  const std::size_t slash = path.find_last_of('/');
  dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  base = slash == std::string::npos ? path : path.substr(slash + 1);
}

// Temporary files of earlier runs for the same name that nobody holds any
// more: a killed run's.
void RemoveStaleTemps(const std::string& dir, const std::string& base) {
  const std::string prefix = "." + base + kTempMark;
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return;
  std::vector<std::string> stale;
  while (const dirent* e = ::readdir(d)) {
    const std::string n = e->d_name;
    if (n.size() != prefix.size() + 6 || n.compare(0, prefix.size(), prefix) != 0) continue;
    const std::string p = dir + "/" + n;
    const int fd = ::open(p.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) continue;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0) stale.push_back(p);
    ::close(fd);
  }
  ::closedir(d);
  for (const auto& p : stale)
    if (::unlink(p.c_str()) == 0) Notice("removed " + p + ", left by an earlier run that was stopped");
}

bool UnderDevOrProc(const std::string& real) {
  return real.compare(0, 5, "/dev/") == 0 || real.compare(0, 6, "/proc/") == 0;
}

int SyncDir(const std::string& dir) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errno;
  const int err = ::fsync(fd) == 0 || errno == EINVAL ? 0 : errno;
  ::close(fd);
  return err;
}

}  // namespace

StagedFile::~StagedFile() {
  if (f_ != nullptr && f_ != stdout) {
    std::fclose(f_);
    if (!temp_.empty()) ::unlink(temp_.c_str());
  }
}

bool StagedFile::Open(const std::string& path, std::string& why) {
  path_ = path;
  struct stat lst {
  }, st{};
  if (::lstat(path.c_str(), &lst) != 0) {
    if (errno == ENOENT) return OpenTemp(path, why);
    why = Reason(errno);
    return false;
  }
  const bool target_ok = ::stat(path.c_str(), &st) == 0;
  if (target_ok && S_ISDIR(st.st_mode)) {
    why = "is a directory";
    return false;
  }
  if (S_ISREG(lst.st_mode)) return OpenTemp(path, why);
  if (!target_ok) {
    why = std::string("cannot follow the link: ") + Reason(errno);
    return false;
  }
  // A link: a regular file it leads to is replaced where it lies, unless it
  // is reached through /dev or /proc (/dev/stdout), which is a stream.
  char* real = ::realpath(path.c_str(), nullptr);
  const std::string resolved = real != nullptr ? real : "";
  std::free(real);
  if (S_ISLNK(lst.st_mode) && S_ISREG(st.st_mode) && !resolved.empty() && !UnderDevOrProc(resolved) &&
      !UnderDevOrProc(path))
    return OpenTemp(resolved, why);
  return OpenStream(path, S_ISREG(st.st_mode), why);
}

bool StagedFile::OpenStream(const std::string& path, bool append, std::string& why) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC | (append ? O_APPEND : 0));
  if (fd < 0 || (f_ = ::fdopen(fd, "wb")) == nullptr) {
    why = std::string("cannot write: ") + Reason(errno);
    if (fd >= 0) ::close(fd);
    return false;
  }
  // Our own standard output (/dev/stdout, /proc/self/fd/1): through its
  // FILE, so that the lines and the scans share one offset and one buffer.
  struct stat mine {
  }, out{};
  if (::fstat(fd, &mine) == 0 && ::fstat(STDOUT_FILENO, &out) == 0 && mine.st_dev == out.st_dev &&
      mine.st_ino == out.st_ino) {
    std::fclose(f_);
    f_ = stdout;
    return true;
  }
  std::setvbuf(f_, nullptr, _IOFBF, 1 << 16);  // room for a whole line
  return true;
}

bool StagedFile::OpenTemp(const std::string& target, std::string& why) {
  path_ = target;
  std::string dir, base;
  SplitPath(target, dir, base);
  RemoveStaleTemps(dir, base);
  temp_ = dir + "/." + base + kTempMark + "XXXXXX";
  const int fd = ::mkostemp(temp_.data(), O_CLOEXEC);
  if (fd < 0) {
    why = std::string("cannot create a file beside it: ") + Reason(errno);
    temp_.clear();
    return false;
  }
  // Held until the file is renamed or removed: a later run can tell a live
  // run's file from a killed one's.
  (void)::flock(fd, LOCK_EX | LOCK_NB);
  // mkstemp's 0600 would surprise whoever reads the scans next: use the
  // mode a plain fopen would give.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  (void)::fchmod(fd, 0666 & ~mask);
  f_ = ::fdopen(fd, "wb");
  if (f_ == nullptr) {
    why = Reason(errno);
    ::close(fd);
    ::unlink(temp_.c_str());
    return false;
  }
  return true;
}

bool StagedFile::Write(const void* data, std::size_t n) {
  if (failed_ || f_ == nullptr) return false;
  // A stream gets each piece whole as it comes, so that a reader sees it at
  // once and other writers to the same place cannot cut into it.
  if ((n > 0 && std::fwrite(data, 1, n, f_) != n) || (temp_.empty() && std::fflush(f_) != 0)) {
    failed_ = true;
    errno_ = errno;
    if (f_ == stdout) NoteStdoutError(errno_);
  }
  return !failed_;
}

bool StagedFile::Commit(std::string& why) {
  if (f_ == nullptr) {
    why = "not open";
    return false;
  }
  std::FILE* f = f_;
  f_ = nullptr;
  auto check = [this](bool ok) {
    if (!ok && !failed_) failed_ = true, errno_ = errno;
  };
  check(std::fflush(f) == 0);
  if (!temp_.empty()) check(::fsync(::fileno(f)) == 0);
  if (f != stdout) check(std::fclose(f) == 0);
  if (!temp_.empty()) {
    if (!failed_) check(std::rename(temp_.c_str(), path_.c_str()) == 0);
    if (failed_) ::unlink(temp_.c_str());
    std::string dir, base;
    SplitPath(path_, dir, base);
    if (!failed_) errno_ = SyncDir(dir), failed_ = errno_ != 0;
  }
  if (failed_) why = std::string("cannot write: ") + Reason(errno_);
  return !failed_;
}
