// SPDX-License-Identifier: BSD-3-Clause
#include "output/commit_journal.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/messages.h"

namespace {

constexpr char kJournal[] = ".commit";
constexpr char kJournalHead[] = "robot-demo commit 1\n";
constexpr char kJournalEnd[] = "end\n";

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
  return std::all_of(names.begin(), names.end(), IsOwnOutputName);
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

}  // namespace

const char kStagingPrefix[] = ".robot-demo-";

bool IsOwnOutputName(const std::string& name) {
  if (name == "run.svg" || name == "run.html") return true;
  const std::size_t digits = name.size() >= 12 ? name.size() - 9 : 0;  // "tick-" + N + ".svg"
  if (digits < 3 || name.compare(0, 5, "tick-") != 0 || name.compare(name.size() - 4, 4, ".svg") != 0) return false;
  return std::all_of(name.begin() + 5, name.end() - 4, [](char c) { return c >= '0' && c <= '9'; });
}

std::string JournalPath(const std::string& staging) { return staging + "/" + kJournal; }

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

std::vector<std::string> OwnOutputsIn(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& n : NamesIn(dir)) {
    struct stat st {};
    if (IsOwnOutputName(n) && ::lstat((dir + "/" + n).c_str(), &st) == 0 &&
        (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)))
      names.push_back(n);
  }
  return names;
}

int SyncPath(const std::string& path, bool directory) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | (directory ? O_DIRECTORY : 0));
  if (fd < 0) return errno;
  const int err = ::fsync(fd) == 0 ? 0 : errno;
  ::close(fd);
  // Some file systems cannot sync a directory; the files themselves are.
  return directory && (err == EINVAL || err == ENOTSUP) ? 0 : err;
}

int WriteJournal(const std::string& staging, const std::vector<std::string>& names) {
  std::string text = kJournalHead;
  for (const auto& n : names) text += n + "\n";
  text += kJournalEnd;
  const std::string path = JournalPath(staging);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return errno;
  int err = WriteAll(fd, text) ? 0 : errno != 0 ? errno : EIO;
  if (err == 0 && ::fsync(fd) != 0) err = errno;
  ::close(fd);
  return err != 0 ? err : SyncPath(staging, true);
}

void RepairStale(const std::string& dir) {
  const std::size_t prefix = std::strlen(kStagingPrefix);
  for (const auto& n : NamesIn(dir)) {
    struct stat st {};
    const std::string path = dir + "/" + n;
    if (n.compare(0, prefix, kStagingPrefix) != 0 || ::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) continue;
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
