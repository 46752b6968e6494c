#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-3-Clause
"""Every place that states the release agrees with CMakeLists.txt's project().

check_version.py ROOT VERSION [--demo PROGRAM] [--python PYTHON --pythonpath DIR]
check_version.py --self-test
"""
import argparse
import re
import subprocess
import sys
import tempfile
from pathlib import Path


def stated_versions(root):
    """(where, version) for each file that repeats the release."""
    root = Path(root)
    found = []
    text = (root / "CMakeLists.txt").read_text()
    m = re.search(r"^project\(scanpilot VERSION ([0-9.]+)", text, re.M)
    found.append(("CMakeLists.txt project()", m.group(1) if m else None))
    m = re.search(r"<version>([^<]*)</version>", (root / "ros/package.xml").read_text())
    found.append(("ros/package.xml", m.group(1) if m else None))
    # A Debian revision (-N), if any, is the packaging's own.
    first = (root / "debian/changelog").read_text().split("\n", 1)[0]
    m = re.match(r"scanpilot \(([0-9.]+)(-[^)]+)?\)", first)
    found.append(("debian/changelog", m.group(1) if m else None))
    return found


def static_pyproject_version(root):
    """pyproject.toml must take the version from setup.py (dynamic), not state one."""
    text = (Path(root) / "pyproject.toml").read_text()
    return re.search(r"^version\s*=", text, re.M) is not None


def problems(root, version, demo=None, python=None, pythonpath=None):
    out = ["%s says %s, not %s" % (w, v, version) for w, v in stated_versions(root) if v != version]
    if static_pyproject_version(root):
        out.append("pyproject.toml states a version of its own (use dynamic = [\"version\"])")
    if demo:
        said = subprocess.run([demo, "--version"], capture_output=True, text=True).stdout.strip()
        if said != "robot-demo " + version:
            out.append("robot-demo --version says %r" % said)
    if python:
        said = subprocess.run([python, "-c", "import scanpilot; print(scanpilot.__version__)"],
                              capture_output=True, text=True, env={"PYTHONPATH": pythonpath}).stdout.strip()
        if said != version:
            out.append("scanpilot.__version__ is %r" % said)
    return out


def self_test(root):
    """A copy of the version files with one changed must be caught, and an untouched one not."""
    with tempfile.TemporaryDirectory() as tmp:
        for name in ("CMakeLists.txt", "ros/package.xml", "debian/changelog", "pyproject.toml"):
            (Path(tmp) / name).parent.mkdir(parents=True, exist_ok=True)
            (Path(tmp) / name).write_text((Path(root) / name).read_text())
        version = stated_versions(tmp)[0][1]
        assert problems(tmp, version) == [], problems(tmp, version)
        changelog = Path(tmp) / "debian/changelog"
        changelog.write_text(changelog.read_text().replace("(" + version, "(9" + version, 1))
        assert any("debian/changelog" in p for p in problems(tmp, version))
        py = Path(tmp) / "pyproject.toml"
        py.write_text(py.read_text().replace("[project]\n", "[project]\nversion = \"%s\"\n" % version))
        assert any("pyproject.toml" in p for p in problems(tmp, version))
    print("the version check catches a changelog and a pyproject.toml out of step")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("root")
    ap.add_argument("version", nargs="?")
    ap.add_argument("--demo")
    ap.add_argument("--python")
    ap.add_argument("--pythonpath")
    ap.add_argument("--self-test", action="store_true")
    args = ap.parse_args()
    if args.self_test:
        self_test(args.root)
        return 0
    found = problems(args.root, args.version, args.demo, args.python, args.pythonpath)
    for p in found:
        print("version: " + p, file=sys.stderr)
    if not found:
        print("every stated version is %s" % args.version)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
