#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Instructions per SetRanges call on a room scan (360 echoes, 1.2 to 3 m),
# counted exactly under qemu: one instruction per translation block, every
# block execution logged. Needs the build tree of tools/cross-check.sh ARCH
# (or build/ for x86-64).
#   tools/count-insns.sh x86-64|aarch64|armhf|riscv64
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
case "${1:-}" in
  x86-64)  triple="x86_64-linux-gnu";   qemu="qemu-x86_64";  cxx="g++"; build="$root/build" ;;
  aarch64) triple="aarch64-linux-gnu";   qemu="qemu-aarch64" ;;
  armhf)   triple="arm-linux-gnueabihf"; qemu="qemu-arm" ;;
  riscv64) triple="riscv64-linux-gnu";   qemu="qemu-riscv64" ;;
  *) echo "usage: $0 x86-64|aarch64|armhf|riscv64" >&2; exit 2 ;;
esac
cxx=${cxx:-$triple-g++}
build=${build:-$root/build-cross-$1}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat >"$work/driver.cpp" <<'EOF'
#include <cstdlib>
#include "pathgrid.h"
int main(int argc, char** argv) {
  const int n = std::atoi(argv[1]);
  float scan[360];
  for (int i = 0; i < 360; ++i) scan[i] = 1.2f + 1.8f * static_cast<float>(i % 90) / 90.0f;
  InitHelper();
  for (int k = 0; k < n; ++k) {
    scan[k % 360] += 0.01f;
    SetRanges(scan);
  }
  return 0;
}
EOF
"$cxx" -O2 -I"$root/pathgrid" "$work/driver.cpp" -L"$build/pathgrid" -lpathgrid -o "$work/driver"
count() {
  "$qemu" -L "/usr/$triple" -E LD_LIBRARY_PATH="$build/pathgrid" -singlestep -d exec,nochain \
    -D /dev/stdout "$work/driver" "$1" | grep -c '^Trace'
}
base=$(count 0)
runs=$(count 20)
echo "$1: $(( (runs - base) / 20 )) instructions per SetRanges call"
