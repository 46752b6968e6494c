// SPDX-License-Identifier: BSD-3-Clause
// pilot-steps FILE [--follow D] [--target-cell COL,ROW] [--robot-radius M --margin M]:
// each scan of a degrees-format file through a Pilot of its own, one
// PilotStepJson line per scan. Tests compare it with robot-demo --json, which
// reaches the same library through its own input, options and output code.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "input/scan_text.h"
#include "scanpilot.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: pilot-steps FILE [--follow D] [--target-cell C,R] [--robot-radius M] [--margin M]\n");
    return 2;
  }
  PilotConfig c;
  for (int i = 2; i + 1 < argc; i += 2) {
    const std::string opt = argv[i];
    if (opt == "--follow") {
      c.mode = PilotMode::kFollow;
      c.follow_distance = std::strtof(argv[i + 1], nullptr);
    } else if (opt == "--target-cell") {
      int col = 0, row = 0;
      if (std::sscanf(argv[i + 1], "%d,%d", &col, &row) != 2) return 2;
      c.goal = PilotGoal::Cell(col, row);
    } else if (opt == "--robot-radius") {
      c.robot_radius = std::strtod(argv[i + 1], nullptr);
    } else if (opt == "--margin") {
      c.margin = std::strtod(argv[i + 1], nullptr);
    } else {
      return 2;
    }
  }
  std::ifstream in(argv[1], std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  std::vector<std::array<float, 360>> scans;
  ScanParseError e{};
  if (!ParseScanText(text.str(), scans, e)) {
    std::fprintf(stderr, "pilot-steps: %s:%d: %s\n", argv[1], e.line, e.message.c_str());
    return 2;
  }
  Pilot pilot;
  if (const PilotError err = pilot.Start(c); err != PilotError::kNone) {
    std::fprintf(stderr, "pilot-steps: %s\n", PilotErrorText(err));
    return 2;
  }
  char line[kPilotJsonMax];
  for (std::size_t n = 0; n < scans.size(); ++n) {
    PilotStep s;
    pilot.Step(scans[n].data(), nullptr, s);
    PilotStepJson(s, static_cast<long long>(n), line, sizeof line);
    std::printf("%s\n", line);
  }
  return 0;
}
