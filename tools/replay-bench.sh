#!/bin/sh
# SPDX-License-Identifier: BSD-3-Clause
# Replay memory and throughput on a long recording.
#   tools/replay-bench.sh [ROBOT_DEMO [OLD_ROBOT_DEMO]]
# Generates a scanner log (tools/make-recording.py), converts it once with
# --save-scans, repeats those scans to $SCANS lines (default 100000) in the
# default format, and replays them with --quiet under /usr/bin/time -v:
# peak memory (maximum resident set size) and scans per second. Also times
# $SAMPLE_TURNS turns (default 20000) of the raw log in the samples format.
# OLD_ROBOT_DEMO, if given, is timed on the same default-format file.
set -eu
demo=${1:-build/robot-demo/robot-demo}
old=${2:-}
scans=${SCANS:-100000}
turns=${SAMPLE_TURNS:-20000}
here=$(dirname "$0")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
layout="--zero-at 37.5 --clockwise --units mm --min-range 0.1"

python3 "$here/make-recording.py" --form samples --turns 200 "$work/log.txt"
"$demo" --scans "$work/log.txt" --format samples $layout --quiet --save-scans "$work/200.txt" \
  --out "$work/pics" >/dev/null
awk -v n="$scans" '{ a[NR] = $0 } END { for (i = 0; i < n; i++) print a[i % NR + 1] }' "$work/200.txt" >"$work/scans.txt"
# The samples log without its comment line, repeated; each copy starts a new turn.
grep -v '^#' "$work/log.txt" >"$work/one.txt"
reps=$(( (turns + 199) / 200 ))
i=0; : >"$work/samples.txt"
while [ "$i" -lt "$reps" ]; do cat "$work/one.txt" >>"$work/samples.txt"; i=$((i + 1)); done

# measure NAME COUNT COMMAND...: prints scans/s and peak RSS.
measure() {
  name=$1; count=$2; shift 2
  start=$(date +%s.%N)
  /usr/bin/time -v "$@" >/dev/null 2>"$work/time.txt" || { cat "$work/time.txt" >&2; exit 1; }
  end=$(date +%s.%N)
  rss=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time.txt")
  awk -v n="$name" -v c="$count" -v s="$start" -v e="$end" -v r="$rss" \
    'BEGIN { printf "%-38s %8d scans %7.2f s %9.0f scans/s  peak RSS %6.1f MB\n", n, c, e - s, c / (e - s), r / 1024 }'
}

echo "files: $(wc -c <"$work/scans.txt") bytes ($scans scans), $(wc -c <"$work/samples.txt") bytes ($((reps * 200)) turns)"
measure "robot-demo (default format)" "$scans" "$demo" --scans "$work/scans.txt" --quiet --out "$work/p1"
measure "robot-demo --no-html (default format)" "$scans" "$demo" --scans "$work/scans.txt" --quiet --no-html --out "$work/p5"
measure "robot-demo --format samples" "$((reps * 200))" "$demo" --scans "$work/samples.txt" --format samples $layout --quiet --out "$work/p2"
measure "robot-demo --follow (default format)" "$scans" "$demo" --scans "$work/scans.txt" --follow 0.85 --quiet --out "$work/p3"
if [ -n "$old" ]; then
  measure "old robot-demo (reads whole file)" "$scans" "$old" --scans "$work/scans.txt" --out "$work/p4"
fi
