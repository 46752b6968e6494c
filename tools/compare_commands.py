#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-3-Clause
"""Compares the drive commands of two robot-demo --json runs, record by record.

usage: compare_commands.py BEFORE.json AFTER.json

Prints one line per record whose command differs (its number, both commands
and the new record's reason), then a count. Records are the lines that hold a
"command" object; the summary is skipped."""
import json
import sys


def commands(path):
    out = []
    with open(path, encoding="utf-8") as f:
        for line in f:
            rec = json.loads(line)
            if "command" in rec:
                out.append(rec)
    return out


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__.strip().splitlines()[2])
    before, after = commands(sys.argv[1]), commands(sys.argv[2])
    changed = 0
    for k in range(max(len(before), len(after))):
        b = before[k]["command"] if k < len(before) else None
        a = after[k]["command"] if k < len(after) else None
        if a == b:
            continue
        changed += 1
        rec = after[k] if k < len(after) else {}
        label = rec.get("scan", rec.get("tick", k))
        why = rec.get("reason") or (rec.get("stop") or {}).get("reason") or "-"
        print(f"record {k} (scan {label}): {b} -> {a} reason {why} seen_front {rec.get('seen_front')}")
    print(f"{changed} of {max(len(before), len(after))} records changed")


if __name__ == "__main__":
    main()
