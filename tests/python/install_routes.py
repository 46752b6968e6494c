#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-3-Clause
"""Installs the scanpilot module one way into a scratch folder, then runs the
pytest files against the installed copy, away from the build tree.

  install_routes.py ROUTE --python PY --source DIR --build DIR --work DIR --tests DIR [--skip WHY]

  cmake-install  cmake --install BUILD --prefix WORK/cmake-install/prefix, then PYTHONPATH=<its package dir>
  pip            pip install --no-build-isolation . from a copy of the source tree, into a
                 venv made with --system-site-packages
  wheel          python3 -m build --no-isolation --wheel from that copy, the wheel into another venv

pip and wheel share the copy WORK/source and the CMake build setup.py keeps
in it. Nothing is downloaded (--no-index). Exit status 77: skipped (a Debian
tool is missing).
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import zipfile
from pathlib import Path

# Run inside the installed environment: where the module and its libraries
# come from, and one known answer, before the whole pytest suite.
CHECK = r"""
import sys, numpy as np, scanpilot
where = sys.argv[1]
assert scanpilot.__file__.startswith(where), ("imported from", scanpilot.__file__)
maps = open("/proc/self/maps").read().split()
libs = sorted({p for p in maps if "/lib" in p and any(
    n in p for n in ("libscanpilot.so", "libpathgrid.so", "libscanfollow.so", "libscanbin.so"))})
assert len(libs) == 4, libs
assert all(p.startswith(where) for p in libs), ("libraries from", libs)
scan = np.full(360, np.inf, np.float32)
with scanpilot.Pilot(goal_cell=(50, 70)) as pilot:
    step = pilot.step(scan)
assert step.reached and step.path_cells == 20 and step.speed == 0.5 and step.turn_rate == 0.0, step.to_dict()
print("scanpilot", scanpilot.__version__, "from", scanpilot.__file__, "libraries from", os.path.dirname(libs[0]))
"""


def skip(why):
    print("SKIPPED: " + why)
    sys.exit(77)


def run(cmd, **kw):
    print("+ " + " ".join(str(c) for c in cmd), flush=True)
    subprocess.run([str(c) for c in cmd], check=True, **kw)


def clean_env(keep_preload):
    env = dict(os.environ)
    for k in ("PYTHONPATH", "LD_LIBRARY_PATH", "PYTHONHOME", "PYTHONSTARTUP"):
        env.pop(k, None)
    if not keep_preload:
        env.pop("LD_PRELOAD", None)
        env.pop("ASAN_OPTIONS", None)
    return env


def check(python, where, env, args, cwd):
    run([python, "-c", "import os\n" + CHECK, where], env=env, cwd=cwd)
    run([python, "-m", "pytest", "-q", "-p", "no:cacheprovider", "-rs", args.tests], env=env, cwd=cwd)


def fresh(path):
    shutil.rmtree(path, ignore_errors=True)
    path.mkdir(parents=True)
    return path


def venv(args, path):
    if subprocess.run([args.python, "-c", "import venv, ensurepip"], capture_output=True).returncode != 0:
        skip("venv or ensurepip missing for %s (Debian: python3-venv)" % args.python)
    shutil.rmtree(path, ignore_errors=True)
    run([args.python, "-m", "venv", "--system-site-packages", path])
    return path / "bin" / "python"


def source_copy(args):
    """WORK/source: the source tree as it is now, keeping setup.py's build folder."""
    src, copy = Path(args.source), Path(args.work) / "source"
    copy.mkdir(parents=True, exist_ok=True)
    for p in copy.iterdir():
        if p.name != "build-python":
            shutil.rmtree(p) if p.is_dir() and not p.is_symlink() else p.unlink()
    # (obj-*: the build folders of dpkg-buildpackage, inside the tree)
    ignore = shutil.ignore_patterns(".git", "build*", "obj-*", "dist", "__pycache__", "*.egg-info", "robot-demo-out")
    for p in src.iterdir():
        if ignore(str(src), [p.name]):
            continue
        if p.is_dir():
            shutil.copytree(p, copy / p.name, ignore=ignore, symlinks=True)
        else:
            shutil.copy2(p, copy / p.name)
    return copy


def cmake_install(args):
    prefix = fresh(Path(args.work) / "cmake-install") / "prefix"
    run(["cmake", "--install", args.build, "--prefix", prefix], stdout=subprocess.DEVNULL)
    found = sorted(prefix.glob("**/scanpilot/__init__.py"))
    assert len(found) == 1, found
    pkg_dir = found[0].parent.parent
    print("package installed in", pkg_dir.relative_to(prefix))
    env = clean_env(keep_preload=True)
    env["PYTHONPATH"] = str(pkg_dir)
    check(args.python, str(prefix), env, args, cwd=prefix)


def pip_route(args):
    copy = source_copy(args)
    python = venv(args, Path(args.work) / "venv-pip")
    env = clean_env(keep_preload=False)
    run([python, "-m", "pip", "install", "--no-build-isolation", "--no-index", "--no-cache-dir", "."],
        cwd=copy, env=env)
    check(python, str(python.parent.parent), env, args, cwd=python.parent)


def wheel_route(args):
    if subprocess.run([args.python, "-c", "import build, wheel"], capture_output=True).returncode != 0:
        skip("the build or wheel module is missing for %s (Debian: python3-build python3-wheel)" % args.python)
    copy = source_copy(args)
    dist = fresh(Path(args.work) / "dist")
    env = clean_env(keep_preload=False)
    run([args.python, "-m", "build", "--no-isolation", "--wheel", "--outdir", dist, "."], cwd=copy, env=env)
    wheels = list(dist.glob("scanpilot-*.whl"))
    assert len(wheels) == 1, wheels
    names = set(zipfile.ZipFile(wheels[0]).namelist())
    pkg = {n.split("/", 1)[1] for n in names if n.startswith("scanpilot/")}
    # Each library under its SONAME, whatever its ABI number.
    libs = {re.sub(r"\.so\.[0-9]+$", ".so", n) for n in pkg if re.fullmatch(r"lib[a-z]+\.so\.[0-9]+", n)}
    # (the simulator's library comes along where the module was built with it)
    assert libs - {"libscansim.so"} == {"libscanpilot.so", "libpathgrid.so", "libscanfollow.so", "libscanbin.so"}, pkg
    assert {"__init__.py", "__init__.pyi", "py.typed"} <= pkg, pkg
    assert len([n for n in pkg if n.startswith("_scanpilot.") and n.endswith(".so")]) == 1, pkg
    assert len(pkg) == 4 + len(libs), ("unexpected files in the wheel", sorted(pkg))
    print("wheel", wheels[0].name, "holds", sorted(pkg))
    python = venv(args, Path(args.work) / "venv-wheel")
    run([python, "-m", "pip", "install", "--no-index", "--no-cache-dir", wheels[0]], env=env)
    check(python, str(python.parent.parent), env, args, cwd=python.parent)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("route", choices=["cmake-install", "pip", "wheel"])
    for a in ("--python", "--source", "--build", "--work", "--tests"):
        ap.add_argument(a, required=True)
    ap.add_argument("--skip")
    args = ap.parse_args()
    if args.skip:
        skip(args.skip)
    if subprocess.run([args.python, "-c", "import pytest, numpy"], capture_output=True).returncode != 0:
        skip("pytest or numpy missing for %s" % args.python)
    {"cmake-install": cmake_install, "pip": pip_route, "wheel": wheel_route}[args.route](args)


if __name__ == "__main__":
    main()
