#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-3-Clause
"""What robot-demo tells a first-time user, as a shell sees it.

usage: check_messages.py --demo ROBOT_DEMO --source DIR --maker MAKE_RECORDING --work DIR CASE
CASE: formats | out_parent | mount

formats     real bags and captures, and logs from the independent recording
            maker, each given with a wrong --format (or none): one line naming
            the right one, status 2, nothing written; the right one still runs.
out_parent  --out and --save-scans under a missing folder: both refused the
            same way (status 1), nothing created.
mount       a robot that drives ahead, recorded with its scanner turned half a
            turn: one warning naming --mount-yaw (or the degrees format's
            frame); the same scans the right way round, a still scanner with
            people walking by, and captures of a still room: none.
"""
import argparse
import json
import math
import os
import shutil
import subprocess
import sys

EMULATOR = [e for e in os.environ.get("SCANPILOT_TEST_EMULATOR", "").split(";") if e]


def fail(msg):
    print("FAIL: " + msg)
    sys.exit(1)


def run(args, argv, status=None):
    p = subprocess.run(EMULATOR + [args.demo] + argv, capture_output=True, text=True, errors="replace",
                       timeout=240)
    if status is not None and p.returncode != status:
        fail("%s: status %d, not %d\nstderr: %s" % (" ".join(argv), p.returncode, status, p.stderr))
    return p


def one_line(p, expected):
    lines = p.stderr.splitlines()
    if lines != ["robot-demo: " + expected]:
        fail("stderr %r\nwanted the one line %r" % (p.stderr, "robot-demo: " + expected))


def supported(args, fmt, path):
    """Whether this robot-demo was built to read `fmt` (bag support is optional)."""
    p = run(args, ["--format", fmt, "--scans", path, "--quiet", "--no-html", "--out", os.path.join(args.work, "probe")])
    return "built without" not in p.stderr and "reads no" not in p.stderr and "only a robot-demo" not in p.stderr


def case_formats(args):
    data = os.path.join(args.source, "tests", "data")
    captures = os.path.join(args.source, "captures")
    out = os.path.join(args.work, "out")
    bag1 = os.path.join(data, "people-walking-laser.bag")
    folder = os.path.join(data, "ros2-straight")
    db3 = os.path.join(folder, "mumble_imu_lidar_bag_0.db3")
    mcap = os.path.join(data, "ros2-mcap", "straight-plain.mcap")
    samples = os.path.join(args.work, "lidar.log")
    ranges = os.path.join(args.work, "ranges.log")
    subprocess.run([sys.executable, args.maker, "--form", "samples", "--turns", "3", samples], check=True,
                   capture_output=True)
    subprocess.run([sys.executable, args.maker, "--form", "ranges", "--turns", "3", ranges], check=True,
                   capture_output=True)
    # Text of 360 readings a line, as a map run or --save-scans writes it.
    degrees = os.path.join(args.work, "degrees.txt")
    with open(degrees, "w") as f:
        for k in range(3):
            f.write(" ".join("%.3f" % (1.0 + 0.5 * math.sin(i * 0.05 + k)) for i in range(360)) + "\n")
    ld06_models = "ld06, ld19"
    cases = [
        (bag1, [], "a ROS 1 bag: replay it with --format rosbag"),
        (bag1, ["--format", "rosbag2"], "a ROS 1 bag: replay it with --format rosbag"),
        (bag1, ["--scanner", "ld06"], "a ROS 1 bag: replay it with --format rosbag"),
        (folder, [], "a ROS 2 bag folder: replay it with --format rosbag2"),
        (folder, ["--format", "rosbag"], "a ROS 2 bag folder: replay it with --format rosbag2"),
        (db3, ["--format", "ranges"], "an sqlite3 file (a ROS 2 bag's storage): replay it with --format rosbag2"),
        (mcap, ["--format", "samples"], "an MCAP file (a ROS 2 bag): replay it with --format rosbag2"),
        (os.path.join(captures, "ld06.bin"), [],
         "a scanner's raw serial stream: replay it with --format ld06, or the model's --scanner (%s) for its "
         "layout too" % ld06_models),
        (os.path.join(captures, "rplidar.bin"), ["--format", "rosbag"],
         "a scanner's raw serial stream: replay it with --format rplidar, or the model's --scanner "
         "(rplidar-a1, rplidar-a2, rplidar-c1) for its layout too"),
        (os.path.join(captures, "xv11-lds.bin"), ["--format", "samples"],
         "a scanner's raw serial stream: replay it with --format lds, or the model's --scanner (xv11-lds) for its "
         "layout too"),
        (samples, ["--format", "ld06"], "text of one 'angle range' sample a line: replay it with --format samples"),
        (ranges, ["--scanner", "rplidar-a1"], "text of one turn of ranges a line: replay it with --format ranges"),
        (degrees, ["--format", "rosbag"], "text of 360 readings a line: replay it with no --format"),
    ]
    for path, opts, words in cases:
        if os.path.exists(out):
            shutil.rmtree(out)
        p = run(args, ["--scans", path] + opts + ["--out", out], 2)
        one_line(p, path + ": " + words)
        if p.stdout or os.path.exists(out):
            fail("%s %s: wrote %r or made the output folder" % (path, opts, p.stdout[:200]))
    # Text in another text format: the first wrong line, then what the text looks like.
    p = run(args, ["--scans", samples, "--out", out], 2)
    one_line(p, samples + ":2: expected 360 readings, found 3; it looks like text of one 'angle range' sample a "
                "line: replay it with --format samples")
    p = run(args, ["--scans", ranges, "--out", out], 2)
    if not p.stderr.endswith("; it looks like text of one turn of ranges a line: replay it with --format ranges\n"):
        fail("a ranges log as degrees: %r" % p.stderr)
    # The ranges format still reads a samples log, with its warning, as before.
    p = run(args, ["--scans", samples, "--format", "ranges", "--quiet", "--no-html", "--out", out], 0)
    if "use --format samples" not in p.stderr or "replay it with" in p.stderr:
        fail("samples as ranges: %r" % p.stderr)
    # The right formats run, with no word about the format; standard input is not looked at ahead.
    rights = [([samples, "--format", "samples"]), ([ranges, "--format", "ranges"]), ([degrees]),
              ([os.path.join(captures, "ld06.bin"), "--scanner", "ld06"]),
              ([os.path.join(captures, "xv11-lds.bin"), "--format", "lds"])]
    if supported(args, "rosbag2", folder):
        rights += [[folder, "--format", "rosbag2"], [mcap, "--format", "rosbag2"]]
    for r in rights:
        p = run(args, ["--scans"] + r + ["--quiet", "--no-html", "--out", out], 0)
        if "replay it with" in p.stderr or "looks like" in p.stderr:
            fail("%s: %r" % (r, p.stderr))
    with open(bag1, "rb") as f:
        p = subprocess.run(EMULATOR + [args.demo, "--scans", "-", "--out", out], stdin=f, capture_output=True,
                           text=True, errors="replace")
    if p.returncode != 2 or "replay it with" in p.stderr or len(p.stderr.splitlines()) != 1:
        fail("a bag on standard input: status %d, %r" % (p.returncode, p.stderr))


def case_out_parent(args):
    degrees = os.path.join(args.work, "degrees.txt")
    with open(degrees, "w") as f:
        f.write(" ".join(["1.5"] * 360) + "\n")
    missing = os.path.join(args.work, "no-such-folder")
    deep = os.path.join(missing, "dir", "out")
    p = run(args, ["--scans", degrees, "--out", deep], 1)
    one_line(p, "%s: its parent folder %s does not exist; create it first, or choose another --out"
             % (deep, os.path.join(missing, "dir")))
    p = run(args, ["--scans", degrees, "--save-scans", os.path.join(missing, "s.txt"), "--out",
                   os.path.join(args.work, "o1")], 1)
    if len(p.stderr.splitlines()) != 1 or "s.txt" not in p.stderr:
        fail("--save-scans under a missing folder: %r" % p.stderr)
    p = run(args, ["--out", deep, "--seed", "3"], 1)  # the demo run too
    if os.path.exists(missing):
        fail("a refused --out created " + missing)
    # The folder itself is made when its parent is there, a trailing slash or not.
    for out in (os.path.join(args.work, "fresh"), os.path.join(args.work, "fresh2") + "/"):
        run(args, ["--scans", degrees, "--quiet", "--out", out], 0)
        if not os.path.isfile(os.path.join(out, "run.html")):
            fail("no run.html in " + out)


# ---- mount ------------------------------------------------------------------

def room_scan(x, y, turned):
    """360 readings of a robot at (x, y) facing +X in a 9 m x 3.5 m room with
    two posts, index = degree, 180 ahead, 270 left; the scanner turned by
    `turned` degrees."""
    posts = [(2.0, 1.2, 0.15), (-1.5, -0.8, 0.2), (4.5, -0.6, 0.25)]
    out = [0.0] * 360
    for i in range(360):
        a = math.radians(i - 180)
        dx, dy = math.cos(a), math.sin(a)
        best = math.inf
        for wall, d in ((-3.0 - x, dx), (6.0 - x, dx), (-1.5 - y, dy), (2.0 - y, dy)):
            if abs(d) > 1e-12 and wall / d > 0:
                best = min(best, wall / d)
        for px, py, r in posts:
            px, py = px - x, py - y
            b = px * dx + py * dy
            disc = b * b - (px * px + py * py - r * r)
            if disc >= 0 and b - math.sqrt(disc) > 0:
                best = min(best, b - math.sqrt(disc))
        out[(i + turned) % 360] = best
    return out


def warnings_of(args, argv):
    p = run(args, argv + ["--json", "--no-html", "--out", os.path.join(args.work, "mount-out")], 0)
    summary = json.loads(p.stdout.splitlines()[-1])["summary"]
    said = [w for w in summary["warnings"] if w["code"] == "mounted_backwards"]
    lines = [l for l in p.stderr.splitlines() if "backing away" in l]
    if len(said) != len(lines) or len(lines) > 1:
        fail("%s: %d warnings on stderr, %d in JSON (at most one, the same):\n%s" % (argv, len(lines), len(said),
                                                                                   p.stderr))
    return lines


def case_mount(args):
    for turned, expect in ((0, False), (180, True)):
        path = os.path.join(args.work, "drive-%d.txt" % turned)
        with open(path, "w") as f:
            for k in range(80):
                f.write(" ".join("%.4f" % r for r in room_scan(-2.0 + 0.04 * k, 0.1, turned)) + "\n")
        lines = warnings_of(args, ["--scans", path])
        if bool(lines) != expect:
            fail("a robot driving ahead, scanner turned %d: %r" % (turned, lines))
        if expect and "index 180 must be ahead" not in lines[0]:
            fail("the degrees format's hint: %r" % lines[0])
    # Still scanners: a room from each capture, both ways round.
    captures = os.path.join(args.source, "captures")
    for name, model in (("ld06.bin", "ld06"), ("ydlidar.bin", "ydlidar-x4")):
        for yaw in ("0", "180"):
            if warnings_of(args, ["--scans", os.path.join(captures, name), "--scanner", model, "--mount-yaw", yaw]):
                fail("a still scanner %s, --mount-yaw %s, was warned of" % (name, yaw))
    # A recorded robot driving straight (a ROS 2 bag): warned only when turned.
    bag = os.path.join(args.source, "tests", "data", "ros2-straight")
    if supported(args, "rosbag2", bag):
        if warnings_of(args, ["--format", "rosbag2", bag]):
            fail("the recorded bag as mounted was warned of")
        lines = warnings_of(args, ["--format", "rosbag2", bag, "--mount-yaw", "180"])
        if not lines or not lines[0].endswith("its scanner faces backwards: give --mount-yaw 0"):
            fail("the recorded bag turned: %r" % lines)
        lines = warnings_of(args, ["--format", "rosbag2", bag, "--mount-yaw", "170"])
        if not lines or not lines[0].endswith("give --mount-yaw 350"):
            fail("the recorded bag turned by 170: %r" % lines)
    # A still scanner with people walking in front of it (ROS 1, a half turn seen).
    people = os.path.join(args.source, "tests", "data", "people-walking-laser.bag")
    if supported(args, "rosbag", people):
        for yaw in ("0", "180"):
            if warnings_of(args, ["--format", "rosbag", "--scans", people, "--mount-yaw", yaw]):
                fail("people walking by a still scanner, --mount-yaw %s, was warned of" % yaw)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--demo", required=True)
    ap.add_argument("--source", required=True)
    ap.add_argument("--maker", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("case", choices=["formats", "out_parent", "mount"])
    args = ap.parse_args()
    if os.path.exists(args.work):
        shutil.rmtree(args.work)
    os.makedirs(args.work)
    globals()["case_" + args.case](args)
    print("ok: " + args.case)


if __name__ == "__main__":
    main()
