// SPDX-License-Identifier: BSD-3-Clause
// The journal of a commit into an output folder (OutputSet): written before
// the first move, so that a run killed midway leaves a state the next run
// finishes; and the file system steps both share.
#ifndef SCANPILOT_OUTPUT_COMMIT_JOURNAL_H
#define SCANPILOT_OUTPUT_COMMIT_JOURNAL_H

#include <string>
#include <vector>

// The staging folders' name prefix; "DIR/.robot-demo-XXXXXX".
extern const char kStagingPrefix[];
// The names this program writes into an output folder: run.svg, run.html
// and tick-NNN.svg (three or more digits). Nothing else is ever removed.
bool IsOwnOutputName(const std::string& name);

// The journal's path inside a staging folder.
std::string JournalPath(const std::string& staging);
// The journal: the new names, written and synced before the first move; 0
// or the errno.
int WriteJournal(const std::string& staging, const std::vector<std::string>& names);
// What killed runs left in `dir`, which this run holds locked: a staging
// folder with a whole journal is moved in, any other is removed; each said
// on standard error.
void RepairStale(const std::string& dir);

// Removes `path` and, for a directory, everything below it; never follows a
// symbolic link.
void RemoveTree(const std::string& path);
// This program's own outputs now in `dir` (IsOwnOutputName): plain
// files and links only, so that a folder the user happened to name run.svg
// is never touched.
std::vector<std::string> OwnOutputsIn(const std::string& dir);
// fsync of a file or a directory by its path; the errno, or 0.
int SyncPath(const std::string& path, bool directory);

#endif
