#!/usr/bin/env bash
# Runs the test programs of a plain (unsanitized) build under valgrind
# memcheck, each GoogleTest executable once with all its cases, plus the
# digest workload and one demo run. Any memcheck error or definite/indirect
# leak fails.
#   tools/memcheck.sh [build-dir]   (default: build)
# Left out: test_no_alloc, which replaces the allocator itself as valgrind
# does, and the tests that are CMake scripts (the demo runs once here instead).
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
for exe in "$build"/tests/test_*; do
  [ -f "$exe" ] && [ -x "$exe" ] || continue
  name=$(basename "$exe")
  [ "$name" = test_no_alloc ] && continue
  found=1
  run "$name" "$exe"
done
if [ $found = 0 ]; then
  echo "memcheck: no test executables under $build/tests"
  exit 1
fi
run digest_workload "$build/tests/digest_workload" --expect "$root/tests/digest.txt"
if [ -x "$build/robot-demo/robot-demo" ]; then
  rm -rf "$logs/demo-out"
  run robot-demo "$build/robot-demo/robot-demo" --seed 19 --out "$logs/demo-out"
fi
echo "memcheck: $passed passed, $failed failed"
[ $failed = 0 ]
