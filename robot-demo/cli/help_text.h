// SPDX-License-Identifier: BSD-3-Clause
// The lines of robot-demo's help around its options.
#ifndef SCANPILOT_CLI_HELP_TEXT_H
#define SCANPILOT_CLI_HELP_TEXT_H

// How each run is asked for, and what the program does without options.
extern const char kSynopsis[];
// Signals and exit statuses.
extern const char kHostFooter[];

#endif
