#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Builds both libraries and the digest workload three ways and checks that
# every build prints the digests stored in tests/digest.txt (and the
# simulator's and the pilot's theirs, in tests/scansim_digest.txt,
# tests/pilot_digest.txt and tests/pilot_digest_libm.txt):
#   g++ -O0, g++ -O3 -march=native, clang++ -O2   (all -ffp-contract=off)
# The "atanf" part follows the C library, so against the file it only warns
# when it differs; the three builds share one C library and must agree on it.
# The -O0 and -O2 builds use the Debug configuration with its flags replaced,
# because the library targets add -O3 to every other configuration. Warnings
# stay errors, so this is also the clang++ build of the libraries.
#   tools/check-digest.sh [--update]   (--update rewrites tests/digest.txt from the g++ -O0 build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
expect="$root/tests/digest.txt"
update=0
[ "${1:-}" = "--update" ] && update=1

build() {  # name compiler build-type flags-for-that-type
  local dir="$root/build-digest-$1" cxx=$2 type=$3 flags=$4
  local var="CMAKE_CXX_FLAGS_$(echo "$type" | tr '[:lower:]' '[:upper:]')"
  cmake -S "$root" -B "$dir" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE="$type" \
    "-D$var=$flags" -DCMAKE_CXX_FLAGS="-ffp-contract=off" \
    -DSCANPILOT_WERROR=ON -DSCANPILOT_BUILD_EXAMPLES=OFF -DSCANPILOT_BUILD_BENCH=OFF >/dev/null
  cmake --build "$dir" -j2 --target digest_workload pilot_digest >/dev/null
  # The map simulator's, where yaml-cpp and libpng let it be built.
  rm -f "$dir/tests/scansim_digest"
  cmake --build "$dir" -j2 --target scansim_digest >/dev/null 2>&1 || true
}

declare -A flavours=(
  [gcc-O0]="g++|Debug|-O0"
  [gcc-O3-native]="g++|Release|-O3 -march=native"
  [clang-O2]="clang++|Debug|-O2"
)
status=0
for name in gcc-O0 gcc-O3-native clang-O2; do
  IFS='|' read -r cxx type flags <<<"${flavours[$name]}"
  start=$(date +%s)
  build "$name" "$cxx" "$type" "$flags"
  out="$root/build-digest-$name/digest.out"
  rc=0
  "$root/build-digest-$name/tests/digest_workload" --expect "$expect" >"$out.report" || rc=$?
  head -n 7 "$out.report" >"$out"
  echo "== $name ($cxx $flags, $(( $(date +%s) - start ))s): $(grep '^total' "$out")"
  tail -n +8 "$out.report"
  if [ $update = 1 ] && [ "$name" = gcc-O0 ]; then
    cp "$out" "$expect"
    rc=0
    "$root/build-digest-$name/tests/digest_workload" --expect "$expect" >/dev/null || rc=$?
  fi
  if [ $rc != 0 ]; then
    echo "digest of $name differs from tests/digest.txt:"
    diff "$expect" "$out" || true
    status=1
  fi
  # The pilot's with its own elementary functions and with the C library's
  # (one C library here, so both must match).
  for check in "scansim_digest||scansim_digest.txt" "pilot_digest||pilot_digest.txt" \
    "pilot_digest|--libm|pilot_digest_libm.txt"; do
    IFS='|' read -r prog opt file <<<"$check"
    bin="$root/build-digest-$name/tests/$prog"
    [ -x "$bin" ] || continue
    # shellcheck disable=SC2086 # no option is no word
    if "$bin" $opt --expect "$root/tests/$file" >/dev/null; then
      echo "   $prog${opt:+ $opt}: same as tests/$file"
    else
      echo "$prog${opt:+ $opt} of $name differs from tests/$file"
      status=1
    fi
  done
  # No fused multiply-add in any library, whatever the target offers: a
  # digest only shows one where its workload happens to round differently.
  fused=0
  for lib in "$root/build-digest-$name"/*/lib*.so.*.*; do
    n=$(objdump -d --no-show-raw-insn "$lib" | grep -cE '\s(v?fn?m(add|sub)|vfmaddsub|vfmsubadd)[0-9a-z]*\s' || true)
    if [ "$n" != 0 ]; then
      echo "$name: $(basename "$lib") has $n fused multiply-add instructions"
      fused=1
      status=1
    fi
  done
  [ $fused = 0 ] && echo "   no fused multiply-add instruction in the libraries"
  if ! cmp -s "$out" "$root/build-digest-gcc-O0/digest.out"; then
    echo "digest of $name differs from the g++ -O0 build's, on the same C library:"
    diff "$root/build-digest-gcc-O0/digest.out" "$out" || true
    status=1
  fi
done
if [ $status = 0 ]; then echo "digest: all three builds agree with each other and with tests/digest.txt"; fi
exit $status
