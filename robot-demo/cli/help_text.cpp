// SPDX-License-Identifier: BSD-3-Clause
#include "cli/help_text.h"

const char kSynopsis[] =
    "usage: robot-demo [--out DIR] [--snapshot N[,N...]] [--seed N] [--verbose] [--no-html]\n"
    "                  [--json] [--robot-radius M] [--margin M]\n"
    "       robot-demo --scans FILE|- [--format degrees|ranges|samples|lds|rosbag|rosbag2] [layout options]\n"
    "                  [--target X,Y | --target-cell COL,ROW | --follow D [--candidates FILE]]\n"
    "                  [--no-return-below M] [--no-return-above M] [--save-scans OUT]\n"
    "                  [--quiet] [--json] [--robot-radius M] [--margin M]\n"
    "                  [--out DIR] [--snapshot N[,N...]]\n"
    "       robot-demo --scanner MODEL --device PATH [options]   (--scanner list)\n"
    "       robot-demo --format lds --device PATH [--baud N] [--turn-timeout S]\n"
    "                  [lds options] [layout options] [planning and output options]\n"
    "       robot-demo --map FILE.yaml --start X,Y,YAW_DEG (--goal X,Y | --person-route FILE)\n"
    "                  [map run options] [--json] [--out DIR] [--save-scans OUT]\n"
    "       robot-demo --suite FILE [--shard K/N] [--min-success RATE] [map run options] [--json]\n"
    "       robot-demo --merge SHARD.jsonl... [--min-success RATE] [--json]\n"
    "\n"
    "Without --scans: simulate a robot following a person through a room for 30 s\n"
    "(300 scans), print a status line per second and a summary.\n"
    "Every option also takes its value as --option=value.\n";

const char kHostFooter[] =
    "SIGINT, SIGTERM or SIGHUP stop a run cleanly: nothing of it is kept, status\n"
    "128 + the signal. Status 1: an output could not be written; 2: bad input;\n"
    "3: a suite's success rate below --min-success.";
