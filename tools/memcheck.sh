#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Runs the test programs of a plain (unsanitized) build under valgrind
# memcheck: each GoogleTest executable under tests/ (the libraries' and, in
# tests/host, robot-demo's) once with all its cases, plus the digest
# workload, the browser test's run.html fixture and robot-demo's demo, a
# replay with --follow and a replay of a scanner's serial capture. Any memcheck error or definite/indirect leak fails.
#   tools/memcheck.sh [build-dir]   (default: build)
# Left out: test_no_alloc, which replaces the allocator itself as valgrind
# does, and the tests that are CMake or Python scripts (the runs here stand
# in for them).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
vg=(valgrind --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite,indirect
    --show-leak-kinds=definite,indirect -q)
logs="$build/memcheck"
mkdir -p "$logs"

passed=0
failed=0
run() {  # name command...
  local name=$1
  shift
  local start log="$logs/$name.log"
  start=$(date +%s)
  if "${vg[@]}" "$@" >"$log" 2>&1; then
    echo "memcheck $name: ok ($(( $(date +%s) - start ))s)"
    passed=$((passed + 1))
  else
    echo "memcheck $name: FAILED ($(( $(date +%s) - start ))s), last lines of $log:"
    tail -n 40 "$log"
    failed=$((failed + 1))
  fi
}

found=0
while IFS= read -r exe; do
  name=$(basename "$exe")
  [ "$name" = test_no_alloc ] && continue
  found=1
  run "$name" "$exe"
done < <(find "$build/tests" -path "$build/tests/install-test" -prune -o \
              -type f -name 'test_*' -perm -u+x -print | sort)
if [ $found = 0 ]; then
  echo "memcheck: no test executables under $build/tests"
  exit 1
fi
run digest_workload "$build/tests/digest_workload" --expect "$root/tests/digest.txt"
demo="$build/robot-demo/robot-demo"
if [ -x "$demo" ]; then
  [ -x "$build/tests/host/test_scan_text" ] || { echo "memcheck: robot-demo is built but its tests are not"; exit 1; }
  rm -rf "$logs/demo-out" "$logs/replay-out" "$logs/fixture-out"
  run robot-demo "$demo" --seed 19 --out "$logs/demo-out"
  if command -v python3 >/dev/null; then
    python3 "$root/tools/make-recording.py" --form samples --turns 30 --seed 3 "$logs/recording.log"
    run robot-demo-replay "$demo" --scans "$logs/recording.log" --format samples --zero-at 37.5 --clockwise \
      --units mm --min-range 0.1 --follow 0.85 --save-scans "$logs/replay-scans.txt" --out "$logs/replay-out"
  else
    echo "memcheck: no python3 to make a recording; the replay is left out"
  fi
  rm -rf "$logs/lds-out"
  "$build/tests/write_lds_stream" --turns 20 --markers --flip-every 29 --start-inside 5 --turn-rpm 5:150 \
    "$logs/capture.lds"
  run robot-demo-lds "$demo" --format lds --scans "$logs/capture.lds" --zero-at 180 --clockwise --follow 0.85 \
    --json --save-raw "$logs/capture-again.lds" --out "$logs/lds-out"
  mkdir -p "$logs/fixture-out"
  run run-html-fixture "$build/tests/browser/run-html-fixture" "$logs/fixture-out"
fi
echo "memcheck: $passed passed, $failed failed"
[ $failed = 0 ]
