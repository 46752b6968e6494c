#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Cross-builds the project for another CPU with Debian's cross compilers,
# runs its tests under qemu user-mode emulation, then the digest workload,
# whose parts must equal the ones made on x86-64 (tests/digest.txt) except
# "atanf", which follows the C library's arctangent, then the pilot's
# closed-loop digest: with the program's own elementary functions it must
# equal x86-64's (tests/pilot_digest.txt); with the C library's
# (tests/pilot_digest_libm.txt) a difference is only reported.
#
#   tools/cross-check.sh ARCH [--libraries]   ARCH: aarch64, armhf or riscv64
#
# --libraries builds and tests the libraries alone (no robot-demo): their
# bits are what differs between CPUs. Without it robot-demo's tests run too
# (not the browser's, which test the page in the build machine's browser).
# For arm64 and armhf it adds that dpkg architecture (multiarch GoogleTest).
#
# Run as root on Debian 12 it installs what is missing (cross compiler,
# qemu-user, GoogleTest for ARCH); otherwise it prints the apt-get command.
# Build tree: build-cross-ARCH. JOBS=N sets the build parallelism (default 2).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
arch=${1:-}
libraries_only=0
[ "${2:-}" = "--libraries" ] && libraries_only=1
case "$arch" in
  aarch64) triple="aarch64-linux-gnu";   debarch=arm64;   qemu="qemu-aarch64" ;;
  armhf)   triple="arm-linux-gnueabihf"; debarch=armhf;   qemu="qemu-arm" ;;
  riscv64) triple="riscv64-linux-gnu";   debarch=riscv64; qemu="qemu-riscv64" ;;
  *) echo "usage: $0 aarch64|armhf|riscv64" >&2; exit 2 ;;
esac
jobs=${JOBS:-2}
build="$root/build-cross-$arch"
toolchain="$root/cmake/toolchains/$triple.cmake"
t0=$(date +%s)
lap() { echo "   ($1: $(( $(date +%s) - t0 ))s)"; t0=$(date +%s); }

# GoogleTest for the target: Debian's multiarch package where the release has
# the architecture (arm64, armhf); riscv64 is not a Debian 12 release
# architecture, so there it is built from the source in /usr/src/googletest.
host_arch=$(dpkg --print-architecture)
gtest_pkg=libgtest-dev:$debarch
[ "$arch" = riscv64 ] && gtest_pkg=libgtest-dev:$host_arch

need=()
command -v "$triple-g++" >/dev/null || need+=("g++-$triple")
command -v "$qemu" >/dev/null || command -v "$qemu-static" >/dev/null || need+=(qemu-user)
dpkg -s "$gtest_pkg" >/dev/null 2>&1 || need+=("$gtest_pkg")
command -v cmake >/dev/null || need+=(cmake)
if [ ${#need[@]} -gt 0 ]; then
  if [ "$(id -u)" != 0 ]; then
    echo "missing: ${need[*]}; as root:" >&2
    [ "$arch" != riscv64 ] && echo "  dpkg --add-architecture $debarch && apt-get update" >&2
    echo "  apt-get install --no-install-recommends ${need[*]}" >&2
    exit 2
  fi
  echo "== installing ${need[*]}"
  if [ "$arch" != riscv64 ] && ! dpkg --print-foreign-architectures | grep -qx "$debarch"; then
    dpkg --add-architecture "$debarch"
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q >/dev/null
  apt-get install -y -q --no-install-recommends "${need[@]}" >/dev/null
  lap install
fi

gtest_args=()
if [ "$arch" = riscv64 ]; then
  prefix="$build/googletest-install"
  if [ ! -f "$prefix/.done" ]; then
    echo "== GoogleTest for $arch from /usr/src/googletest"
    cmake -S /usr/src/googletest -B "$build/googletest" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
      -DCMAKE_BUILD_TYPE=Release -DBUILD_GMOCK=OFF -DCMAKE_INSTALL_PREFIX="$prefix" >/dev/null
    cmake --build "$build/googletest" -j"$jobs" >/dev/null
    cmake --install "$build/googletest" >/dev/null
    touch "$prefix/.done"
    lap googletest
  fi
  gtest_args=(-DCMAKE_PREFIX_PATH="$prefix")
fi

scope=(-DSCANPILOT_BUILD_EXAMPLES=ON)
[ $libraries_only = 1 ] && scope=(-DSCANPILOT_BUILD_EXAMPLES=OFF)
echo "== $arch: configure and build ($triple-g++, warnings as errors, no benchmarks, ${scope[*]})"
# Google Benchmark has no package for every architecture; the benchmarks
# measure the build machine anyway.
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" "${gtest_args[@]}" \
  -DSCANPILOT_WERROR=ON -DSCANPILOT_BUILD_BENCH=OFF "${scope[@]}" >/dev/null
cmake --build "$build" -j"$jobs"
lap build

echo "== $arch: the tests under $qemu (the digest follows on its own)"
echo "   (install_consumer is disabled in cross builds: it starts the installed"
echo "    programs directly, which needs binfmt_misc, not the emulator)"
ctest --test-dir "$build" --output-on-failure -j"$jobs" -LE "digest|browser"
lap tests

echo "== $arch: output digest against x86-64's (tests/digest.txt)"
emulator=("$(command -v "$qemu" || command -v "$qemu-static")" -L "/usr/$triple")
rc=0
"${emulator[@]}" "$build/tests/digest_workload" --expect "$root/tests/digest.txt" >"$build/digest.report" || rc=$?
cat "$build/digest.report"
lap digest
if [ $rc != 0 ]; then
  echo "$arch: FAILED: results differ from x86-64's beyond the C library's arctangent" >&2
  exit 1
fi
if grep -q '^digest matches except atanf' "$build/digest.report"; then
  echo "$arch: every part equals x86-64's; atanf: C library arctangent differs (CalAngle follows it)"
else
  echo "$arch: every part equals x86-64's, atanf included"
fi

echo "== $arch: the pilot's digest against x86-64's (tests/pilot_digest.txt)"
rc=0
"${emulator[@]}" "$build/tests/pilot_digest" --expect "$root/tests/pilot_digest.txt" || rc=$?
if [ $rc != 0 ]; then
  echo "$arch: FAILED: the pilot's answers differ from x86-64's with the same elementary functions" >&2
  exit 1
fi
rc=0
"${emulator[@]}" "$build/tests/pilot_digest" --libm --expect "$root/tests/pilot_digest_libm.txt" \
  >"$build/pilot_digest_libm.report" 2>/dev/null || rc=$?
lap "pilot digest"
if [ $rc = 0 ]; then
  echo "$arch: the pilot's answers equal x86-64's, with the C library's functions too"
elif [ $rc = 1 ]; then
  echo "$arch: the pilot's answers equal x86-64's; with the C library's elementary functions"
  echo "   they differ (a last bit of sin, hypot or atanf, then the closed loop; docs/platforms.md):"
  sed 's/^/     /' "$build/pilot_digest_libm.report"
  echo "   x86-64's (tests/pilot_digest_libm.txt):"
  sed 's/^/     /' "$root/tests/pilot_digest_libm.txt"
else
  echo "$arch: FAILED: pilot_digest --libm did not run through (status $rc)" >&2
  exit 1
fi

echo "== $arch: code size of the libraries (.text, bytes)"
for lib in pathgrid/libpathgrid.so scanfollow/libscanfollow.so; do
  "$triple-size" -A "$build/$lib" | awk -v lib="${lib#*/}" '$1 == ".text" { print "   " lib ": " $2 }'
done
