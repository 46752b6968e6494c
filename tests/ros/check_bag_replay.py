#!/usr/bin/env python3
"""robot-demo --format rosbag against a model: every LaserScan of a bag, read
here with Debian's own rosbag module, binned by the LaserScan rule in the
same double arithmetic, must be the scan robot-demo saved, bit for bit; and
a bag that is not fit to replay is one line and status 2.

usage: check_bag_replay.py --demo ROBOT_DEMO --bag BAG --work DIR CASE
CASE: scans | errors
"""
import argparse
import math
import os
import shutil
import struct
import subprocess
import sys

import rosbag
from sensor_msgs.msg import LaserScan

DEG_PER_RAD = 180.0 / 3.14159265358979323846


def fail(msg):
    print("FAIL: " + msg)
    sys.exit(1)


def f32(x):
    return struct.unpack("<f", struct.pack("<f", x))[0]


def bin_laser_scan(m, min_range=0.0, max_range=math.inf):
    """360 readings of one message: sample k at (angle_min + k * inc) * 180/pi
    degrees, index floor(phi + 180 + 0.5) mod 360. Each degree takes its
    smallest say: -inf (too near to measure), the nearest return, inf (no
    return: inf or beyond the upper limit); a degree without any stays NaN
    (NaN, zero, negative or below-the-lower-limit ranges say nothing)."""
    lo = max(f32(m.range_min), f32(min_range))
    hi = min(f32(m.range_max), max_range)
    out = [math.nan] * 360
    amin, inc = f32(m.angle_min), f32(m.angle_increment)
    for k, r in enumerate(m.ranges):
        r = f32(r)
        if r == -math.inf:
            say = -math.inf
        elif math.isnan(r) or not (r > 0) or r < lo:
            continue
        elif r > hi:
            say = math.inf
        else:
            say = r
        phi = (amin + float(k) * inc) * DEG_PER_RAD
        i = int(math.floor((phi + 180.0) + 0.5)) % 360
        if math.isnan(out[i]) or say < out[i]:
            out[i] = say
    return out


def saved_scans(path):
    with open(path) as f:
        return [[f32(float(t)) for t in line.split()] for line in f if line.strip()]


def run(cmd, want):
    p = subprocess.run(cmd, capture_output=True, text=True)
    if p.returncode != want:
        fail("%s: status %d, want %d\n%s" % (" ".join(cmd), p.returncode, want, p.stderr))
    return p


def case_scans(args):
    saved = os.path.join(args.work, "saved.txt")
    for extra, limits in (([], (0.0, math.inf)), (["--min-range", "0.3", "--max-range", "3"], (0.3, 3.0))):
        run([args.demo, "--scans", args.bag, "--format", "rosbag", "--quiet", "--no-html", "--save-scans", saved,
             "--out", os.path.join(args.work, "o")] + extra, 0)
        got = saved_scans(saved)
        with rosbag.Bag(args.bag) as bag:
            msgs = [m for _, m, _ in bag.read_messages(topics=["/scan"])]
        if len(got) != len(msgs):
            fail("%d scans saved for %d messages" % (len(got), len(msgs)))
        for n, (m, scan) in enumerate(zip(msgs, got)):
            want = bin_laser_scan(m, *limits)
            for i in range(360):
                if struct.pack("<f", scan[i]) != struct.pack("<f", want[i]):
                    fail("message %d, reading %d: saved %r, the rule gives %r (%s)" % (n, i, scan[i], want[i], extra))
    print("ok: %d messages binned by the LaserScan rule, bit for bit" % len(msgs))


def write_bag(path, source, topics, scans_per_topic):
    """A bag of `source`'s first LaserScan, written on each of `topics`."""
    with rosbag.Bag(source, "r") as src:
        msg = next(m for _, m, _ in src.read_messages(topics=["/scan"]))
    with rosbag.Bag(path, "w") as out:
        for k in range(scans_per_topic):
            for t in topics:
                out.write(t, msg)


def one_line(p, words):
    """One line (a usage error may add one hint line) naming `words`."""
    lines = p.stderr.splitlines()
    hint = len(lines) == 2 and lines[1].startswith("Try ")
    if not (len(lines) == 1 or hint) or not all(w in lines[0] for w in words):
        fail("want one line with %s, got %r" % (words, p.stderr))


def case_errors(args):
    out = ["--out", os.path.join(args.work, "o"), "--no-html"]
    two = os.path.join(args.work, "two-topics.bag")
    write_bag(two, args.bag, ["/front/scan", "/rear/scan"], 3)
    one_line(run([args.demo, "--scans", two, "--format", "rosbag"] + out, 2), ["/front/scan", "/rear/scan", "--topic"])
    p = run([args.demo, "--scans", two, "--format", "rosbag", "--topic", "/rear/scan", "--json"] + out, 0)
    if len(p.stdout.splitlines()) != 5 or '"end":{"records":3}' not in p.stdout.splitlines()[3]:
        fail("--topic /rear/scan: want 3 scans, the closing stop and a summary, got %r" % p.stdout)
    one_line(run([args.demo, "--scans", two, "--format", "rosbag", "--topic", "/side"] + out, 2), ["/side"])
    cut = os.path.join(args.work, "cut.bag")
    with open(args.bag, "rb") as f:
        data = f.read()
    with open(cut, "wb") as f:
        f.write(data[:len(data) // 2])
    one_line(run([args.demo, "--scans", cut, "--format", "rosbag"] + out, 2), ["cut.bag"])
    junk = os.path.join(args.work, "junk.bag")
    with open(junk, "wb") as f:
        f.write(b"#ROSBAG V2.0\n" + bytes(range(256)) * 40)
    one_line(run([args.demo, "--scans", junk, "--format", "rosbag"] + out, 2), ["junk.bag"])
    for opt in (["--zero-at", "90"], ["--clockwise"], ["--units", "mm"]):
        one_line(run([args.demo, "--scans", args.bag, "--format", "rosbag"] + opt + out, 2), [opt[0]])
    one_line(run([args.demo, "--scans", "-", "--format", "rosbag"] + out, 2), ["file name"])
    one_line(run([args.demo, "--scans", args.bag, "--topic", "/scan"] + out, 2), ["--format rosbag"])
    print("ok: several topics, a missing topic, a cut and a junk bag, and misplaced options are one line each")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--demo", required=True)
    ap.add_argument("--bag", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("case", choices=["scans", "errors"])
    args = ap.parse_args()
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    {"scans": case_scans, "errors": case_errors}[args.case](args)


if __name__ == "__main__":
    main()
