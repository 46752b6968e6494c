// The embedded scenario run: a robot follows a person for 30 s, prints a
// status line per simulated second and a summary, and draws the run.
#ifndef SCANPILOT_DEMO_RUN_H
#define SCANPILOT_DEMO_RUN_H

#include "cli.h"

// Returns the exit status.
int RunDemo(const Options& o);

#endif
