// SPDX-License-Identifier: BSD-3-Clause
#include "runs/saved_files.h"

#include <string>

#include "base/messages.h"

std::optional<int> SavedFiles::Open() {
  std::string why;
  if (!o_.save_scans.empty() && !scans_.Open(o_.save_scans, why))
    return Fail(kExitCannotWrite, o_.save_scans + ": " + why);
  if (!o_.save_raw.empty() && !raw_.Open(o_.save_raw, why)) return Fail(kExitCannotWrite, o_.save_raw + ": " + why);
  return std::nullopt;
}

int SavedFiles::CommitScans() {
  std::string why;
  if (!o_.save_scans.empty() && !scans_.Commit(why)) return Fail(kExitCannotWrite, o_.save_scans + ": " + why);
  return kExitOk;
}

int SavedFiles::CommitRaw() {
  std::string why;
  if (!o_.save_raw.empty() && !raw_.Commit(why)) return Fail(kExitCannotWrite, o_.save_raw + ": " + why);
  return kExitOk;
}

int SavedFiles::Commit() {
  const int status = CommitScans();
  return status != kExitOk ? status : CommitRaw();
}
