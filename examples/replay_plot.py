#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-3-Clause
"""Replays a recording with the scanpilot module, prints one drive command per
scan and saves a picture of the run.

  replay_plot.py RECORDING [--follow D | --goal X,Y | --goal-cell COL,ROW]
                 [--min-range M] [--show-scan N] [--out run.png] [--quiet]

RECORDING holds one scan per line: 360 readings in metres, index = degree in
the robot frame (180 ahead, 270 left), separated by spaces or commas; inf and
nan are accepted, '#' starts a comment line, blank lines are skipped (the
format robot-demo --save-scans writes). A scanner's own log can be turned
into one with robot-demo --format ranges|samples ... --save-scans FILE.

The picture (matplotlib, Agg): the steering bearing and the command over
time, the tracked point over time (follow mode; the target cell in goal
mode), and one scan with the planner's blocked cells and the planned path.
"""
import argparse
import math
import sys
from fractions import Fraction

import numpy as np

import scanpilot

CELL = 0.05  # metres per grid cell


def fail(msg):
    print("replay_plot.py: " + msg, file=sys.stderr)
    sys.exit(2)


def to_float32(tokens, where):
    """Decimal text -> the nearest float32, as strtof would give it (no detour
    through double rounding: a double that lands exactly between two floats
    is settled against the decimal text itself)."""
    try:
        d = np.array([float(t) for t in tokens], np.float64)
    except ValueError as e:
        fail("%s: %s" % (where, e))
    with np.errstate(over="ignore"):
        f = d.astype(np.float32)
    if np.any(np.isinf(f) & np.isfinite(d)):
        fail("%s: a number out of float range" % where)
    if np.any((f == 0) & (d != 0)):
        fail("%s: a number too small for a float (underflow)" % where)
    toward = np.where(d > f, np.float32(np.inf), np.float32(-np.inf))
    mid = (f.astype(np.float64) + np.nextafter(f, toward).astype(np.float64)) / 2
    for k in np.flatnonzero(np.isfinite(d) & (d != f) & (d == mid)):
        exact = Fraction(tokens[k])
        if exact != Fraction(mid[k]):
            f[k] = np.nextafter(f[k], np.float32(np.inf if exact > Fraction(mid[k]) else -np.inf))
    return f


def read_scans(path):
    """Yields (line number, 360 float32 readings), streaming."""
    try:
        f = sys.stdin if path == "-" else open(path, encoding="utf-8", newline=None)
    except OSError as e:
        fail("%s: %s" % (path, e.strerror))
    with f:
        for n, line in enumerate(f, 1):
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            tokens = line.replace(",", " ").split()
            if len(tokens) != 360:
                fail("%s:%d: expected 360 readings, found %d" % (path, n, len(tokens)))
            yield n, to_float32(tokens, "%s:%d" % (path, n))


def count_scans(path):
    try:
        with open(path, encoding="utf-8", newline=None) as f:
            return sum(1 for line in f if line.strip() and not line.lstrip().startswith("#"))
    except OSError as e:
        fail("%s: %s" % (path, e.strerror))


def pair(text, kind):
    try:
        a, b = (kind(v) for v in text.split(","))
        return a, b
    except ValueError:
        fail("expected two numbers A,B, got %r" % text)


def describe(k, s):
    line = "scan %d: speed %.2f m/s, turn %+.2f rad/s" % (k, s.speed, s.turn_rate)
    why = [w for w in ("bad_input", "lost", "no_path", "guard_stopped", "no_free_target") if getattr(s, w)]
    if s.stopped:
        line += " (stop: %s)" % ", ".join(why)
    elif why:
        line += " (%s)" % ", ".join(why)
    if s.tracked is not None:
        line += ", tracked (%.2f, %.2f) m" % s.tracked
    return line


def plot(path, steps, shown, scan, pas, follow, title, radius):
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    n = np.arange(len(steps))
    fig = plt.figure(figsize=(14, 9), layout="constrained")
    grid = fig.add_gridspec(3, 2, width_ratios=[1.3, 1])
    ax_b, ax_c, ax_t = (fig.add_subplot(grid[k, 0]) for k in range(3))
    ax_s = fig.add_subplot(grid[:, 1])
    fig.suptitle(title)
    for ax in (ax_b, ax_c, ax_t):
        ax.axvline(shown, color="grey", lw=0.8, ls=":")
        ax.grid(alpha=0.3)
    ax_t.set_xlabel("scan")

    ax_b.plot(n, [s.bearing_deg for s in steps], color="tab:blue", label="steering bearing")
    stopped = np.array([s.stopped for s in steps])
    if stopped.any():
        ax_b.plot(n[stopped], np.zeros(stopped.sum()), "x", color="tab:red", label="full stop")
    ax_b.set_ylabel("degrees (+ left)")
    ax_b.legend(loc="upper left", fontsize=8)
    ax_b.set_title("steering bearing")

    ax_c.plot(n, [s.speed for s in steps], color="tab:green", label="speed (m/s)")
    ax_c.plot(n, [s.turn_rate for s in steps], color="tab:orange", label="turn rate (rad/s, + left)")
    guard = np.array([s.guard_stopped for s in steps])
    if guard.any():
        ax_c.plot(n[guard], np.zeros(guard.sum()), "|", color="tab:red", label="guard held")
    ax_c.legend(loc="upper left", fontsize=8)
    ax_c.set_title("drive command")

    if follow:
        pts = np.array([s.tracked for s in steps], dtype=float)
        what = "tracked point"
    else:
        pts = np.array([((s.target[1] - 50) * CELL, (s.target[0] - 50) * CELL) for s in steps], dtype=float)
        what = "target cell"
    ax_t.plot(n, pts[:, 0], color="tab:purple", label="X ahead (m)")
    ax_t.plot(n, pts[:, 1], color="tab:brown", label="Y left (m)")
    lost = np.array([s.lost for s in steps])
    if lost.any():
        ax_t.plot(n[lost], pts[lost, 0], "x", color="tab:red", label="lost")
    ax_t.set_ylabel("metres")
    ax_t.legend(loc="upper left", fontsize=8)
    ax_t.set_title(what + " over time")

    # Top view, ahead up and left to the left: horizontal = -Y, vertical = X.
    # Cells drawn centred on the metres the library gives for them.
    half = CELL / 2
    ax_s.imshow(pas.blocked[:, ::-1], origin="lower", cmap="Greys", vmin=0, vmax=2.5,
                extent=[-49 * CELL - half, 50 * CELL + half, -50 * CELL - half, 49 * CELL + half])
    i = np.radians(np.arange(360))
    d = scan.astype(np.float64)
    ok = np.isfinite(d) & (d > 0)
    ax_s.plot(d[ok] * np.sin(i[ok]), -d[ok] * np.cos(i[ok]), ".", ms=3, color="black", label="returns")
    st = steps[shown]
    # The walk begins on the robot's cell, or on the nearest free one when a
    # return covers the robot.
    walk = np.vstack([pas.start, pas.path])
    ax_s.plot(-(walk[:, 0] - 50) * CELL, (walk[:, 1] - 50) * CELL, "-", color="tab:blue", lw=2,
              label="planned path (%d cells)" % len(pas.path))
    if pas.start != (50, 50):
        ax_s.plot(-(pas.start[0] - 50) * CELL, (pas.start[1] - 50) * CELL, "D", color="tab:blue", ms=5,
                  label="walk start (robot's cell blocked)")
    ax_s.plot(-st.steering[1], st.steering[0], "o", color="tab:blue", mfc="none", ms=9, label="steering point")
    if st.target is not None:
        ax_s.plot(-(st.target[0] - 50) * CELL, (st.target[1] - 50) * CELL, "s", color="tab:green", mfc="none",
                  ms=9, label="target cell")
    if st.tracked is not None:
        ax_s.plot(-st.tracked[1], st.tracked[0], "*", color="tab:purple", ms=12, label="tracked point")
    ax_s.add_patch(matplotlib.patches.Circle((0, 0), radius, fill=False, color="tab:red", lw=1.5, label="robot"))
    ax_s.annotate("", xy=(0, 2 * radius), xytext=(0, 0), arrowprops=dict(arrowstyle="->", color="tab:red"))
    ax_s.set_xlim(-2.5, 2.5)
    ax_s.set_ylim(-2.5, 2.5)
    ax_s.set_aspect("equal")
    ax_s.set_xlabel("right (m)  [-Y]")
    ax_s.set_ylabel("ahead (m)  [X]")
    ax_s.set_title("scan %d: %s" % (shown, "reached" if st.reached else "not reached"))
    ax_s.legend(loc="upper center", bbox_to_anchor=(0.5, -0.1), ncol=2, fontsize=8)
    fig.savefig(path, dpi=100)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("recording")
    mode = ap.add_mutually_exclusive_group()
    mode.add_argument("--follow", type=float, metavar="D", help="follow an object D m straight ahead")
    mode.add_argument("--goal", metavar="X,Y", help="goal in metres (default: 1 m ahead)")
    mode.add_argument("--goal-cell", metavar="COL,ROW", help="goal cell 0..99")
    ap.add_argument("--min-range", type=float, default=0.0, help="readings nearer are the robot itself")
    ap.add_argument("--show-scan", type=int, metavar="N", help="the scan to draw (default: the middle one)")
    ap.add_argument("--out", default="replay.png", help="the picture (PNG, SVG or PDF by its name)")
    ap.add_argument("--quiet", action="store_true", help="print only the summary")
    args = ap.parse_args()

    config = {"min_range": args.min_range}
    if args.follow is not None:
        config.update(mode="follow", follow_distance=args.follow)
    elif args.goal:
        config["goal"] = pair(args.goal, float)
    elif args.goal_cell:
        config["goal_cell"] = pair(args.goal_cell, int)

    try:
        pilot = scanpilot.Pilot(**config)
    except ValueError as e:
        fail(str(e))
    # The drawn scan's pass is read back right after its step; the run itself
    # streams. Default: the middle scan of a file (counted first), the last
    # one of standard input.
    shown = args.show_scan
    if shown is None and args.recording != "-":
        shown = count_scans(args.recording) // 2
    steps, drawn = [], None
    with pilot:
        for k, (_, scan) in enumerate(read_scans(args.recording)):
            steps.append(pilot.step(scan))
            if not args.quiet:
                print(describe(k, steps[-1]))
            if shown is None or k == shown:
                drawn = (k, scan, pilot.read_pass())
    if not steps:
        fail("%s: no scans" % args.recording)
    if drawn is None:
        fail("--show-scan %d: the recording has %d scans" % (shown, len(steps)))
    shown, scan, pas = drawn
    moving = sum(not s.stopped for s in steps)
    print("%d scans, moving on %d, reached the target on %d" % (len(steps), moving, sum(s.reached for s in steps)))
    title = "%s: %s" % (args.recording, "follow %.2f m" % args.follow if args.follow is not None else
                        "goal %s" % (pilot.config.get("goal") or pilot.config.get("goal_cell"),))
    plot(args.out, steps, shown, scan, pas, args.follow is not None, title, pilot.config["robot_radius"])
    print("picture: " + args.out)


if __name__ == "__main__":
    main()
