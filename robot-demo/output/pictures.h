// SPDX-License-Identifier: BSD-3-Clause
// Which passes get a picture, and writing the pictures out.
#ifndef SCANPILOT_OUTPUT_PICTURES_H
#define SCANPILOT_OUTPUT_PICTURES_H

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "output/grid_view.h"
#include "output/output_set.h"

// File name and SVG text.
using PictureFiles = std::vector<std::pair<std::string, std::string>>;

// First, quarter, half, three quarters and last of `count` passes.
std::vector<int> DefaultSnapshots(int count);
bool IsSnapshot(const std::vector<int>& snapshots, int n);

// "tick-NNN.svg" for pass n.
std::string TickName(int n);

// Draws `view` as tick-NNN.svg for pass n; `what` ("tick 12", "scan 3") names
// the pass in the warning printed when the picture's path is not the pass's.
void AddGridPicture(PictureFiles& files, int n, GridView view, const std::string& title,
                    const std::string& what);

// Opens `out` on `dir` before a run; the exit status after one line on
// standard error when the folder cannot be used.
std::optional<int> OpenOutput(const std::string& dir, OutputSet& out);

// Stages every file and, when nothing written to standard output so far was
// lost, commits the set; then runs `after_commit` (files that go in only
// with the set, such as the saved scans), and prints the "pictures:" line,
// in tick order, when `announce` and all went well. Returns kExitOk or the
// failing status (after one line on standard error).
int WritePictures(OutputSet& out, const PictureFiles& files, bool announce = true,
                  const std::function<int()>& after_commit = {});

// The set's names as a person reads them: run.html, run.svg, then the tick
// pictures by number (tick-2 before tick-10 whatever their digits).
std::vector<std::string> NamesInTickOrder(const OutputSet& out);

// {"dir":...,"files":[...]} of a committed set, for the JSON summary.
std::string PicturesJson(const OutputSet& out);

#endif
