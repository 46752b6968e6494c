#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Instructions per call under callgrind: repeatable on a shared machine.
# usage: bench/callgrind.sh [BUILD_DIR [LIB_DIR]]   (default: build)
# LIB_DIR, when given, holds another build of libpathgrid.so.1 and
# libscanfollow.so.1 to count instead, with the same workload (side by side).
set -euo pipefail
build=${1:-build}
if [ -n "${2:-}" ]; then export LD_LIBRARY_PATH="$2${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"; fi
exe="$build/bench/cycle_count"
[ -x "$exe" ] || { echo "callgrind.sh: build $exe first (cmake --build $build)" >&2; exit 2; }
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

count() {  # mode calls
  LD_BIND_NOW=1 valgrind --tool=callgrind --toggle-collect=scanpilot_measure \
    --callgrind-out-file="$out/cg.out" "$exe" "$1" "$2" >/dev/null 2>"$out/log"
  local ir
  ir=$(sed -n 's/.*Collected : \([0-9]*\).*/\1/p' "$out/log")
  [ -n "$ir" ] || { cat "$out/log" >&2; exit 1; }
  printf '%-10s %10d instructions per call (%d calls)\n' "$1" $((ir / $2)) "$2"
}

echo "output digest: $("$exe" outputs 300)"
count cycle 300
count settarget 200
count setranges 200
count filter 200
