#!/bin/sh
# SPDX-License-Identifier: BSD-3-Clause
# Holds a built library to the ABI stored for its release line.
#
#   tools/abi-check.sh BASELINE.abi LIBRARY.so HEADERS_DIR
#       compares; fails on an incompatible change unless the library's
#       SONAME differs from the baseline's (a new ABI number, said so)
#   tools/abi-check.sh --dump LIBRARY.so HEADERS_DIR OUT.abi
#       writes a baseline (from a release build with debug information)
#
# Only the types of the public header count (HEADERS_DIR). Added functions
# and variables are compatible; any other change is not: a struct that
# grows or moves a field breaks every program that holds one.
set -eu

if [ "${1:-}" = "--dump" ]; then
  [ $# -eq 4 ] || { echo "usage: $0 --dump LIBRARY.so HEADERS_DIR OUT.abi" >&2; exit 2; }
  exec abidw --headers-dir "$3" --drop-private-types --no-corpus-path --out-file "$4" "$2"
fi
[ $# -eq 3 ] || { echo "usage: $0 BASELINE.abi LIBRARY.so HEADERS_DIR" >&2; exit 2; }
baseline=$1 lib=$2 headers=$3
command -v abidiff >/dev/null || { echo "abi-check: abidiff not found (Debian: abigail-tools)" >&2; exit 2; }
[ -r "$baseline" ] || { echo "abi-check: no baseline $baseline" >&2; exit 2; }

old_soname=$(sed -n "1s/.* soname='\([^']*\)'.*/\1/p" "$baseline")
new_soname=$(LC_ALL=C readelf -d "$lib" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
if [ -z "$old_soname" ] || [ -z "$new_soname" ]; then echo "abi-check: no SONAME in $baseline or $lib" >&2; exit 2; fi

set +e
report=$(abidiff --no-added-syms --headers-dir2 "$headers" --drop-private-types "$baseline" "$lib" 2>&1)
status=$?
set -e
# abidiff's status is a bit field: 1 tool error, 2 usage error, 4 an ABI
# change, 8 an incompatible one.
if [ $((status & 3)) -ne 0 ]; then
  printf '%s\n' "$report" >&2
  echo "abi-check: abidiff could not compare $lib with $baseline (status $status)" >&2
  exit 2
fi
if [ "$status" -eq 0 ]; then
  echo "abi-check: $new_soname keeps the ABI of $baseline"
  exit 0
fi
printf '%s\n' "$report"
if [ "$new_soname" != "$old_soname" ]; then
  echo "abi-check: $new_soname changes the ABI of $old_soname, under a new SONAME: accepted"
  exit 0
fi
echo "abi-check: $new_soname breaks the ABI of $baseline; keep the old layout and add new types" \
  "and functions instead, or raise the library's SOVERSION" >&2
exit 1
