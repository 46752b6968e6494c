#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-3-Clause
"""What the Python binding adds per call: Pilot.step and get_helper_num from
Python against Pilot::Step and GetHelperNum in a C++ loop on the same scan
(pilot_call_loop, built beside the module).

  PYTHONPATH=build/python /usr/bin/python3 python/bench/overhead.py [--loop PROGRAM] [-n N] [--callgrind]

Wall time: the C++ program and the Python loop take turns, 7 times, each
the best of 5 rounds of N calls; the best of all turns is printed, which
steadies the figures on a shared machine. --callgrind also counts
instructions per call (valgrind, the same count however busy the machine
is): each side runs twice with different call counts, and the difference
is divided by the difference in calls.
"""
import argparse
import math
import os
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import numpy as np

import scanpilot


def room_scan():
    """A 4 m x 3 m room around the robot and a person 1 m ahead (index = degree)."""
    out = np.empty(360, np.float32)
    for i in range(360):
        dx, dy = -math.cos(math.radians(i)), -math.sin(math.radians(i))
        t = min(2.5 / dx if dx > 1e-9 else math.inf, -1.5 / dx if dx < -1e-9 else math.inf,
                1.4 / dy if dy > 1e-9 else math.inf, -1.6 / dy if dy < -1e-9 else math.inf)
        b, c = -dx, 1.0 - 0.18 ** 2
        if b * b - c >= 0 and -b - math.sqrt(b * b - c) > 0:
            t = min(t, -b - math.sqrt(b * b - c))
        out[i] = t
    return out


def best_ns(n, call, *args):
    best = math.inf
    for _ in range(5):
        t0 = time.perf_counter_ns()
        for _ in range(n):
            call(*args)
        best = min(best, (time.perf_counter_ns() - t0) / n)
    return best


def cpp_loop(program, scan_text, *args, prefix=()):
    out = subprocess.run([*prefix, program, *map(str, args)], input=scan_text, capture_output=True, text=True,
                         check=True).stdout
    return {k: float(v) for k, v in (line.split() for line in out.splitlines())}


def python_loop(kind, n):
    """Runs in a child under callgrind: n calls of one kind."""
    scan = room_scan()
    with scanpilot.Pilot() as p:
        p.step(scan)
        if kind == "step":
            for _ in range(n):
                p.step(scan)
        elif kind == "step64":
            scan64 = scan.astype(np.float64)
            for _ in range(n):
                p.step(scan64)
    if kind == "helper":
        for _ in range(n):
            scanpilot.get_helper_num()


def instructions(cmd, scan_text=None):
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "cg.out")
        subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=" + out, *map(str, cmd)], input=scan_text,
                       capture_output=True, text=True, check=True)
        for line in open(out):
            if line.startswith("summary:") or line.startswith("totals:"):
                return int(line.split()[1])
    raise RuntimeError("no instruction count from callgrind")


def per_call(cmd_for, a, b, scan_text=None):
    return (instructions(cmd_for(b), scan_text) - instructions(cmd_for(a), scan_text)) / (b - a)


def main():
    if len(sys.argv) == 4 and sys.argv[1] == "--child":
        return python_loop(sys.argv[2], int(sys.argv[3]))
    ap = argparse.ArgumentParser()
    default_loop = Path(scanpilot.__file__).resolve().parent.parent / "pilot_call_loop"
    ap.add_argument("--loop", default=str(default_loop), help="the C++ loop program (default: beside the module)")
    ap.add_argument("-n", type=int, default=20000, help="calls per round")
    ap.add_argument("--callgrind", action="store_true", help="also count instructions per call")
    args = ap.parse_args()

    scan = room_scan()
    text = "\n".join(repr(float(v)) for v in scan)
    scan64, scan_list = scan.astype(np.float64), scan.tolist()
    best = dict(cpp_step=math.inf, cpp_helper=math.inf, step=math.inf, step64=math.inf, step_list=math.inf,
                helper=math.inf, nothing=math.inf)
    for _ in range(7):
        cpp = cpp_loop(args.loop, text, args.n)
        best["cpp_step"] = min(best["cpp_step"], cpp["step_ns"])
        best["cpp_helper"] = min(best["cpp_helper"], cpp["get_helper_num_ns"])
        with scanpilot.Pilot() as p:
            cells = p.step(scan).path_cells
            assert cells == cpp["path_cells"], (cells, cpp["path_cells"])
            best["step"] = min(best["step"], best_ns(args.n, p.step, scan))
            best["step64"] = min(best["step64"], best_ns(args.n, p.step, scan64))
            best["step_list"] = min(best["step_list"], best_ns(args.n // 10, p.step, scan_list))
        scanpilot.init_helper()
        best["helper"] = min(best["helper"], best_ns(args.n * 10, scanpilot.get_helper_num))
        best["nothing"] = min(best["nothing"], best_ns(args.n * 10, int))  # an empty Python call

    rows = [("step, float32 array of 360", best["cpp_step"], best["step"]),
            ("step, float64 array (converted)", best["cpp_step"], best["step64"]),
            ("step, list of 360 Python floats", best["cpp_step"], best["step_list"]),
            ("get_helper_num", best["cpp_helper"], best["helper"])]
    print("wall time, ns per call (best of 7 x 5 rounds of %d calls; path of %d cells)" % (args.n, cells))
    print("%-36s %10s %10s %10s" % ("", "C++", "Python", "added"))
    for name, c, py in rows:
        print("%-36s %10.1f %10.1f %10.1f" % (name, c, py, py - c))
    print("%-36s %10s %10.1f" % ("int(), an empty Python call", "", best["nothing"]))

    if args.callgrind:
        me = [sys.executable, os.path.abspath(__file__), "--child"]
        cpp_step = per_call(lambda k: [args.loop, k, 1, "step"], 200, 400, text)
        cpp_helper = per_call(lambda k: [args.loop, k, 1, "helper"], 20000, 40000, text)
        py_step = per_call(lambda k: me + ["step", str(k)], 200, 400)
        py_step64 = per_call(lambda k: me + ["step64", str(k)], 200, 400)
        py_helper = per_call(lambda k: me + ["helper", str(k)], 20000, 40000)
        print("\ninstructions per call (callgrind)")
        print("%-36s %10s %10s %10s" % ("", "C++", "Python", "added"))
        for name, c, py in [("step, float32 array of 360", cpp_step, py_step),
                            ("step, float64 array (converted)", cpp_step, py_step64),
                            ("get_helper_num", cpp_helper, py_helper)]:
            print("%-36s %10.0f %10.0f %10.0f" % (name, c, py, py - c))


if __name__ == "__main__":
    main()
