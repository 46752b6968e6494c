// SPDX-License-Identifier: BSD-3-Clause
// The files of one run, written apart and moved into the output folder
// together, so the folder shows the whole set or its previous content.
//
//   OutputSet out;
//   if (!out.Open(dir)) return Fail(kExitCannotWrite, out.Error());  // before the run
//   out.Add("run.svg", svg);                      // whole text
//   std::FILE* f = out.Create("run.html");        // or piece by piece
//   ... std::fputs(part, f) ...; out.Close(f);
//   if (!out.Commit()) return Fail(kExitCannotWrite, out.Error());
//
// The first failure sticks: later calls do nothing and Commit reports it.
// An OutputSet destroyed without Commit removes what it staged.
//
// One run at a time per folder: Open takes an exclusive flock on the folder
// itself, held until Commit or Abort, and refuses a folder another run holds.
// Commit fsyncs every file, then writes a journal of the new names into the
// staging folder before it moves anything, so that a run killed during the
// moves leaves a state the next Open finishes (it says so on stderr); staging
// folders of killed runs without a journal are removed by the next Open.
//
// A single file the user names outside the folder (--save-scans, --save-raw)
// is a StagedFile instead; staged_file.h says why the two stay apart.
#ifndef SCANPILOT_OUTPUT_OUTPUT_SET_H
#define SCANPILOT_OUTPUT_OUTPUT_SET_H

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "output/commit_journal.h"

class OutputSet {
 public:
  OutputSet() = default;
  OutputSet(const OutputSet&) = delete;
  OutputSet& operator=(const OutputSet&) = delete;
  ~OutputSet();

  // Creates `dir` (and missing parents), locks it, repairs what killed runs
  // left in it, and makes a staging directory inside it; false when any of
  // that fails, `dir` is not a directory, another run holds it, or the set
  // is already open.
  bool Open(const std::string& dir);

  // Stages the whole file `name` (a plain name, no '/').
  bool Add(const std::string& name, const std::string& content);
  // Opens `name` in the staging directory for writing piece by piece; hand
  // it back with Close. nullptr after a failure.
  std::FILE* Create(const std::string& name);
  // Closes a file from Create; false (and the set fails) when any write to it
  // failed.
  bool Close(std::FILE* f);
  // For writers that open the file themselves: the staged path of `name`,
  // which Commit then moves in. Empty after a failure. Report a failed write
  // with Fail.
  std::string Stage(const std::string& name);
  // Fails the set with a one-line reason.
  void Fail(const std::string& why);

  // Flushes every staged file to disk, clears this program's own earlier
  // outputs from the folder (IsOwnOutput), moves the staged files in and
  // flushes the folder. On failure puts the previous outputs back as far as
  // it can, removes the staging directory and returns false.
  bool Commit();
  // Drops everything staged; removes `dir` again when Open created it and it
  // is still empty. Safe to call more than once.
  void Abort();

  bool Ok() const { return error_.empty(); }
  // One line naming the file or folder and what went wrong.
  const std::string& Error() const { return error_; }
  const std::string& Dir() const { return dir_; }
  // Staged names in the order they were first staged.
  const std::vector<std::string>& Names() const { return names_; }

  // The names this program writes into an output folder: run.svg, run.html
  // and tick-NNN.svg (three or more digits). Nothing else is ever removed.
  static bool IsOwnOutput(const std::string& name);

 private:
  bool Register(const std::string& name);
  std::string StagedPath(const std::string& name) const { return staging_ + "/" + name; }
  void CloseAll();
  void RemoveStaging();
  bool Lock();
  void Unlock();
  bool SyncStaged();
  bool MoveIn(const std::string& aside);

  std::string dir_, staging_, error_;
  std::vector<std::string> names_;
  std::vector<std::string> created_;  // directories Open made, outermost first
  std::vector<std::pair<std::FILE*, std::string>> open_;
  bool committed_ = false;
  int lock_fd_ = -1;  // the folder, open and flocked while the set is open
};

#endif
