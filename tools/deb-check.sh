#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Builds the Debian packages from a clean copy of the tree and holds them to
# what a user gets:
#
#   tools/deb-check.sh            amd64 (the build machine's architecture):
#       source and binary packages, lintian clean; then, as root, installs
#       them with apt-get, builds the README's program against them (CMake
#       and pkg-config, no prefix or PKG_CONFIG_PATH), imports the Python
#       module, runs /usr/bin/robot-demo, purges them and checks that no file
#       is left behind
#   tools/deb-check.sh --arch arm64|armhf
#       cross build (profiles nopython, pkg.scanpilot.noros, pkg.scanpilot.nosim), lintian clean; the packaged
#       robot-demo runs the demo under qemu-user
#
# Build area: build-deb[-ARCH]/ (the packages land there). Needs debhelper,
# lintian, and for a cross build crossbuild-essential-ARCH and qemu-user.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
arch=$(dpkg --print-architecture)
build_arch=$arch
[ "${1:-}" = "--arch" ] && arch=${2:?"--arch needs arm64 or armhf"}
area="$root/build-deb"
[ "$arch" != "$build_arch" ] && area="$root/build-deb-$arch"
t0=$(date +%s)
lap() { echo "   ($1: $(( $(date +%s) - t0 ))s)"; t0=$(date +%s); }
fail() { echo "deb-check: $*" >&2; exit 1; }

# A clean copy: what git tracks (and new files not ignored), as a clone would have it.
rm -rf "$area"
mkdir -p "$area/scanpilot"
(cd "$root" && git ls-files -z --cached --others --exclude-standard | xargs -0 tar -cf - --no-recursion) |
  tar -xf - -C "$area/scanpilot"
cd "$area/scanpilot"

export DEB_BUILD_OPTIONS="nocheck parallel=${JOBS:-2}"
if [ "$arch" = "$build_arch" ]; then
  dpkg-buildpackage -us -uc -F --build-profiles=nocheck >"$area/build.log" 2>&1 ||
    { tail -40 "$area/build.log"; fail "dpkg-buildpackage failed (log: $area/build.log)"; }
else
  dpkg-buildpackage -us -uc -b -a "$arch" --build-profiles=cross,nocheck,nopython,pkg.scanpilot.noros,pkg.scanpilot.nosim >"$area/build.log" 2>&1 ||
    { tail -40 "$area/build.log"; fail "dpkg-buildpackage -a $arch failed (log: $area/build.log)"; }
fi
lap "package build"
cd "$area"
ls ./*.deb
changes=$(ls ./*.changes)
lintian --fail-on error,warning --display-info "$changes" ||
  fail "lintian found errors or warnings in $changes"
lap lintian

# The packages' robot-demo plans the demo scenario (a short run, no pictures).
demo_run() {
  local out
  out=$("$@" --out "$area/demo-out" --no-html --snapshot 0) || fail "robot-demo's demo run failed"
  grep -q "^summary\|summary" <<<"$out" || fail "robot-demo printed no summary: $out"
  echo "robot-demo ran the demo: $(tail -1 <<<"$out")"
}

if [ "$arch" != "$build_arch" ]; then
  # Unpacked, not installed: the target's libraries and program under qemu-user.
  case "$arch" in
    arm64) qemu=qemu-aarch64 triple=aarch64-linux-gnu ;;
    armhf) qemu=qemu-arm triple=arm-linux-gnueabihf ;;
    *) fail "no emulator known for $arch" ;;
  esac
  for deb in ./*.deb; do dpkg-deb -x "$deb" "$area/root"; done
  LC_ALL=C readelf -h "$area/root/usr/bin/robot-demo" | grep -E "Class|Machine"
  export LD_LIBRARY_PATH="$area/root/usr/lib/$triple"
  said=$("$qemu" -L "/usr/$triple" "$area/root/usr/bin/robot-demo" --version)
  echo "$said"
  demo_run "$qemu" -L "/usr/$triple" "$area/root/usr/bin/robot-demo"
  lap "run under $qemu"
  exit 0
fi

[ "$(id -u)" = 0 ] || { echo "deb-check: not root: the install test is skipped"; exit 0; }
# Everything under these before the install, to find what a purge leaves behind.
snapshot() { find /usr /etc /opt /var/lib/dpkg/alternatives -xdev 2>/dev/null | LC_ALL=C sort; }
snapshot >"$area/before.txt"
installed() { dpkg-query -W -f '${db:Status-Abbrev} ${binary:Package}\n' | awk '$1 == "ii" {print $2}' | LC_ALL=C sort; }
installed >"$area/packages-before.txt"
packages=$(for deb in ./*.deb; do dpkg-deb -f "$deb" Package; done)
export DEBIAN_FRONTEND=noninteractive
# Ours, and whatever apt brought in for them (never what was there before).
purge_ours() {
  local pulled
  pulled=$(LC_ALL=C comm -13 "$area/packages-before.txt" <(installed))
  [ -z "$pulled" ] && return 0
  # shellcheck disable=SC2086
  apt-get purge -y -q $pulled >"$area/purge.log" 2>&1
}
# A check that fails below still leaves the machine as it was.
trap 'purge_ours || true' EXIT
apt-get install -y -q --no-install-recommends ./*.deb >"$area/install.log" 2>&1 ||
  { tail -20 "$area/install.log"; fail "apt-get install of the packages failed"; }
lap install
# Headers live in /usr/include/scanpilot: nothing of ours directly in /usr/include.
loose=$(dpkg -L libscanpilot-dev | grep -E '^/usr/include/[^/]+$' | grep -vx /usr/include/scanpilot || true)
[ -z "$loose" ] || fail "libscanpilot-dev puts files directly in /usr/include: $loose"

# The README's program, as a user builds it against the packages.
consumer="$area/consumer"
mkdir -p "$consumer"
/usr/bin/python3 - "$root/README.md" "$consumer" <<'PY'
import re, sys
text = open(sys.argv[1]).read()
for marker, lang, name in (("my_robot.cpp", "cpp", "my_robot.cpp"), ("CMakeLists.txt", "cmake", "CMakeLists.txt")):
    m = re.search(r"<!-- install test: %s -->\n```%s\n(.*?)```" % (re.escape(marker), lang), text, re.S)
    if not m:
        sys.exit("deb-check: no %s block in the README" % marker)
    open("%s/%s" % (sys.argv[2], name), "w").write(m.group(1))
PY
unset PKG_CONFIG_PATH CMAKE_PREFIX_PATH LD_LIBRARY_PATH
(cd "$consumer" && cmake -S . -B build >/dev/null && cmake --build build >/dev/null) ||
  fail "the README's CMake project does not build against the packages"
out=$("$consumer/build/my_robot")
[[ $out == "speed "* ]] || fail "my_robot (find_package) printed: $out"
echo "find_package: $out"
# shellcheck disable=SC2046  # the README's recipe: pkg-config's words are meant to split
(cd "$consumer" && g++ -std=c++17 my_robot.cpp $(pkg-config --cflags --libs scanpilot) -o my_robot-pc) ||
  fail "the README's program does not build with pkg-config"
out=$("$consumer/my_robot-pc")
[[ $out == "speed "* ]] || fail "my_robot (pkg-config) printed: $out"
echo "pkg-config: $out"
# The version macros come with the headers (in /usr/include/scanpilot, as the .pc file says).
printf '#include <scanpilot_version.h>\nstatic_assert(SCANPILOT_VERSION_MAJOR >= 1, "");\nint main() {}\n' >"$consumer/v.cpp"
# shellcheck disable=SC2046
g++ -std=c++17 $(pkg-config --cflags scanpilot) -c "$consumer/v.cpp" -o "$consumer/v.o" ||
  fail "scanpilot_version.h is not installed beside scanpilot.h"

if grep -qx python3-scanpilot <<<"$packages"; then
  (cd / && /usr/bin/python3 -c 'import scanpilot, numpy; p = scanpilot.Pilot(goal=(1.5, 0.5)); \
s = p.step(numpy.full(360, numpy.inf, dtype=numpy.float32)); print("import scanpilot", scanpilot.__version__, s.speed)') ||
    fail "import scanpilot failed"
fi
[ "$(command -v robot-demo)" = /usr/bin/robot-demo ] || fail "robot-demo is not /usr/bin/robot-demo"
robot-demo --version
demo_run /usr/bin/robot-demo
[ -f /usr/share/man/man1/robot-demo.1.gz ] || fail "robot-demo's man page is not installed"
if grep -qx scanpilot-ros <<<"$packages"; then
  ! ldd /usr/lib/scanpilot/scanpilot_node | grep -q "not found" || fail "scanpilot_node misses a library"
fi
lap "use"

trap - EXIT
purge_ours || { tail -20 "$area/purge.log"; fail "purge failed"; }
snapshot >"$area/after.txt"
left=$(LC_ALL=C comm -13 "$area/before.txt" "$area/after.txt" || true)
[ -z "$left" ] || fail "left behind after the purge:
$left"
echo "packages purged, nothing left behind"
lap purge
