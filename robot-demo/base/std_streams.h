// SPDX-License-Identifier: BSD-3-Clause
// Standard output and its state for the whole program: whether a reader at
// the other end of a pipe went away, and whether anything written was lost.
#ifndef SCANPILOT_BASE_STD_STREAMS_H
#define SCANPILOT_BASE_STD_STREAMS_H

#include <string>

// Makes sure a later open cannot land on a closed standard stream. False when
// standard output itself is closed (the run's report would be lost).
bool CheckStandardStreams();
// Flushes standard output; false with the reason when anything written to it
// since the start was lost.
bool FlushStdout(std::string& why);
// printf to standard output, noting a closed pipe (SIGPIPE is ignored, so a
// reader that went away shows as EPIPE here).
void Print(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Notes that a write to standard output failed with `err`.
void NoteStdoutError(int err);
// True once a write to standard output met a closed pipe: the run stops,
// cleans up and ends quietly, as a Unix tool in a pipeline does.
bool StdoutPipeClosed();

#endif
