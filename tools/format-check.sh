#!/bin/sh
# SPDX-License-Identifier: BSD-3-Clause
# The lines changed since a base commit follow .clang-format; older code
# keeps its hand-aligned layout until someone touches it.
#
#   tools/format-check.sh [BASE]
#
# BASE defaults to the commit that last changed .clang-format. Prints the
# fix as a diff and fails when a changed line is off.
set -eu
cd "$(dirname "$0")/.."
formatter=$(command -v git-clang-format || command -v git-clang-format-14 || true)
[ -n "$formatter" ] || { echo "format-check: git-clang-format not found (Debian: clang-format)" >&2; exit 2; }
git rev-parse --git-dir >/dev/null 2>&1 || { echo "format-check: not a git checkout" >&2; exit 2; }
base=${1:-$(git log -n 1 --format=%H -- .clang-format)}
[ -n "$base" ] || { echo "format-check: .clang-format is not committed yet" >&2; exit 2; }
binary=$(command -v clang-format || command -v clang-format-14)
# Committed and uncommitted changes alike.
diff=$("$formatter" --binary "$binary" --diff --extensions c,cc,cpp,h,hpp "$base" -- 2>&1) || true
case "$diff" in
  "" | "no modified files to format" | "clang-format did not modify any files")
    echo "format-check: the lines changed since $(git rev-parse --short "$base") follow .clang-format"
    exit 0 ;;
esac
printf '%s\n' "$diff"
echo "format-check: the lines above, changed since $(git rev-parse --short "$base"), do not follow .clang-format" >&2
exit 1
