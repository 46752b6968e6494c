#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Builds the fuzz targets and runs each one: first over its committed corpus
# as a regression, then fuzzing for a bounded time.
#   fuzz/run.sh [seconds-per-target]   (default 60)
# FUZZ_BUILD_DIR picks the build directory (default build-fuzz).
set -euo pipefail
secs=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}

cmake -S "$root/fuzz" -B "$build" -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build" -j2

targets=(fuzz_pathgrid fuzz_scanfollow fuzz_scanbin fuzz_scanwire fuzz_spinwire)
# Newer targets fuzz for less, to keep the whole step within its time.
declare -A cap=([fuzz_spinwire]=40 [fuzz_mcap]=30)
if [ -f "$root/robot-demo/input/scan_text.cpp" ]; then
  targets+=(fuzz_scan_file)
else
  echo "fuzz: robot-demo/input/scan_text.cpp missing, scan-file target skipped"
fi
if [ -f "$root/robot-demo/input/lds_source.cpp" ]; then
  targets+=(fuzz_lds_input)
fi
# Built only where robot-demo's ROS 2 bag libraries are; a short run.
if [ -x "$build/fuzz_mcap" ]; then
  targets+=(fuzz_mcap)
else
  echo "fuzz: fuzz_mcap not built (libsqlite3-dev libyaml-cpp-dev libzstd-dev liblz4-dev), skipped"
fi

failed=0
summary=()
for t in "${targets[@]}"; do
  seeds="$root/fuzz/corpus/$t"
  work="$build/corpus/$t"   # grown corpus stays out of the repository
  art="$build/artifacts"
  mkdir -p "$work" "$art"
  log="$build/$t.log"

  echo "== $t: corpus regression"
  if ! "$build/$t" "$seeds"/* >"$log" 2>&1; then
    tail -n 30 "$log"
    echo "fuzz: $t fails on its committed corpus"
    failed=1
    summary+=("$t: corpus regression FAILED")
    continue
  fi

  t_secs=$secs
  if [ -n "${cap[$t]:-}" ] && [ "${cap[$t]}" -lt "$secs" ]; then t_secs=${cap[$t]}; fi
  echo "== $t: fuzzing ${t_secs}s"
  start=$(date +%s)
  if "$build/$t" -max_total_time="$t_secs" -max_len=4096 -timeout=20 -rss_limit_mb=2048 \
       -print_final_stats=1 -artifact_prefix="$art/$t-" "$work" "$seeds" >"$log" 2>&1; then
    status=ok
  else
    status=FAILED
    failed=1
    tail -n 40 "$log"
    ls -1 "$art"/"$t"-* 2>/dev/null | sed 's/^/fuzz: artifact /' || true
  fi
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  summary+=("$t: ${execs:-?} executions in $(( $(date +%s) - start ))s, $status")
done

echo "== fuzz summary"
printf '%s\n' "${summary[@]}"
exit $failed
