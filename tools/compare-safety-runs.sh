#!/bin/sh
# SPDX-License-Identifier: BSD-3-Clause
# Replays the real bag, the demo and the recordings the tests use through two
# robot-demo builds with --json, and lists every record whose drive command
# changed, with the new record's reason.
#   tools/compare-safety-runs.sh BEFORE/robot-demo AFTER/robot-demo WRITE_LDS_STREAM WORKDIR
set -eu
before=$1 after=$2 writer=$3 work=$4
here=$(cd "$(dirname "$0")" && pwd)
bag=$here/../tests/data/people-walking-laser.bag
mkdir -p "$work"
python3 "$here/make-recording.py" --form samples --turns 60 --seed 3 "$work/rec-samples.txt"
python3 "$here/make-recording.py" --form ranges --turns 60 --seed 3 "$work/rec-ranges.txt"
"$writer" --turns 13 --start-inside 9 --markers --invalid-every 7 --warning-every 5 --zero-every 11 \
  --flip-every 37 --drop-every 53 --seed 5 --spin-up --turn-rpm 3:420 --missing 5:30:12 --turn-rpm 8:250 \
  "$work/hazards.lds"
"$writer" --turns 40 --seed 2 "$work/plain.lds"
layout="--zero-at 37.5 --clockwise --units mm --min-range 0.1"
compare() {
  name=$1
  shift
  "$before" "$@" --json --no-html --out "$work/out-before" > "$work/$name-before.json" 2>/dev/null
  "$after" "$@" --json --no-html --out "$work/out-after" > "$work/$name-after.json" 2>/dev/null
  echo "== $name: $*"
  python3 "$here/compare_commands.py" "$work/$name-before.json" "$work/$name-after.json"
}
compare demo
compare demo-seed19 --seed 19
compare bag-goal --scans "$bag" --format rosbag
compare bag-follow --scans "$bag" --format rosbag --follow 1.0
compare samples-goal --scans "$work/rec-samples.txt" --format samples $layout
compare samples-follow --scans "$work/rec-samples.txt" --format samples $layout --follow 0.85
compare ranges-goal --scans "$work/rec-ranges.txt" --format ranges $layout
compare ranges-follow --scans "$work/rec-ranges.txt" --format ranges $layout --follow 0.85
compare lds-hazards --scans "$work/hazards.lds" --format lds
compare lds-plain --scans "$work/plain.lds" --format lds
compare lds-plain-follow --scans "$work/plain.lds" --format lds --follow 1.0
