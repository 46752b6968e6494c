#!/usr/bin/env python3
"""Writes a scanner log the way a cheap 360-degree scanner's driver does.

The robot drives through a 6 m x 4 m room behind a walking person. The
scanner is mounted with its 0 deg at 37.5 deg to the left of ahead and turns
clockwise; ranges are whole millimetres, 0 for no echo; a mounting post on
the robot's body shows up as hits under 0.1 m; each sample has a quality
column. Two forms:

  samples  one sample per line 'angle range quality', 400..720 samples per
           turn at uneven angles, a new turn where the angle falls back;
  ranges   one turn per line, N evenly spaced ranges (N varies per turn).

Replay with: --zero-at 37.5 --clockwise --units mm --min-range 0.1
(and --follow 0.85: the person's near side starts 0.82 m ahead)

usage: make-recording.py --form samples|ranges --turns N [--seed S] OUT
"""
import argparse
import math
import random

ZERO_DEG = 37.5          # robot bearing of the sensor's 0 deg
CLOCKWISE = True
MAX_ECHO_MM = 8000       # beyond this the scanner reports 0
BODY_POST = (-158.0, -150.0, 0.055)  # robot bearings (deg) where a post sits (behind-right), its distance (m)


def room():
    w, d = 6.0, 4.0
    segs = [((0, 0), (w, 0)), ((w, 0), (w, d)), ((w, d), (0, d)), ((0, d), (0, 0)),
            ((3.0, 0.0), (3.0, 1.4)), ((3.0, 2.4), (3.0, 4.0)),      # partition with a doorway
            ((1.2, 2.8), (1.8, 2.8)), ((1.8, 2.8), (1.8, 3.3)),      # a box
            ((1.8, 3.3), (1.2, 3.3)), ((1.2, 3.3), (1.2, 2.8))]
    discs = [((4.5, 1.0), 0.15), ((4.8, 3.0), 0.2)]                  # pillars
    return segs, discs


def ray_segment(ox, oy, dx, dy, a, b):
    (ax, ay), (bx, by) = a, b
    ex, ey = bx - ax, by - ay
    den = dx * ey - dy * ex
    if abs(den) < 1e-12:
        return math.inf
    t = ((ax - ox) * ey - (ay - oy) * ex) / den
    u = ((ax - ox) * dy - (ay - oy) * dx) / den
    return t if t > 1e-9 and 0.0 <= u <= 1.0 else math.inf


def ray_disc(ox, oy, dx, dy, c, r):
    fx, fy = ox - c[0], oy - c[1]
    b = fx * dx + fy * dy
    cc = fx * fx + fy * fy - r * r
    disc = b * b - cc
    if disc < 0:
        return math.inf
    t = -b - math.sqrt(disc)
    return t if t > 1e-9 else math.inf


def person_at(t):
    # Walks through the doorway and back along a smooth loop.
    x = 3.0 + 2.0 * math.sin(0.21 * t)
    y = 1.9 + 0.9 * math.sin(0.37 * t)
    return x, y


def cast(world, pose, person, bearing_deg):
    segs, discs = world
    x, y, h = pose
    a = h + math.radians(bearing_deg)
    dx, dy = math.cos(a), math.sin(a)
    best = math.inf
    for s in segs:
        best = min(best, ray_segment(x, y, dx, dy, *s))
    for c, r in discs + [(person, 0.18)]:
        best = min(best, ray_disc(x, y, dx, dy, c, r))
    return best


def robot_bearing(theta):
    return ZERO_DEG - theta if CLOCKWISE else ZERO_DEG + theta


def sample(rng, world, pose, person, theta):
    """(range in mm, quality) for sensor angle theta."""
    phi = robot_bearing(theta) % 360.0
    if BODY_POST[0] <= phi - 360.0 * (phi > 180.0) <= BODY_POST[1]:   # behind-right, on the robot
        return int(round(BODY_POST[2] * 1000 + rng.uniform(-8, 8))), rng.randint(5, 15)
    d = cast(world, pose, person, phi)
    if not math.isfinite(d) or d * 1000 > MAX_ECHO_MM or rng.random() < 0.03:
        return 0, 0
    mm = int(round(d * 1000 + rng.gauss(0, 6)))
    return max(mm, 1), rng.randint(10, 47)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--form", choices=["samples", "ranges"], required=True)
    ap.add_argument("--turns", type=int, default=200)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("out")
    args = ap.parse_args()
    rng = random.Random(args.seed)
    world = room()
    pose = [2.0, 1.9, 0.0]  # 1 m behind the person, facing them
    with open(args.out, "w", newline="") as f:
        f.write("# scanner log: zero at %.1f deg, %s, millimetres, 0 = no echo\n"
                % (ZERO_DEG, "clockwise" if CLOCKWISE else "counter-clockwise"))
        for k in range(args.turns):
            t = k * 0.1
            person = person_at(t)
            # The robot keeps about 1 m behind the person, facing them.
            px, py = person
            h = math.atan2(py - pose[1], px - pose[0])
            dist = math.hypot(px - pose[0], py - pose[1])
            step = max(0.0, min(0.05, dist - 1.0))
            pose = [pose[0] + step * math.cos(h), pose[1] + step * math.sin(h), h]
            n = rng.randint(400, 720)
            if args.form == "samples":
                for i in range(n):
                    theta = (i + rng.uniform(-0.35, 0.35)) * 360.0 / n
                    theta = min(max(theta, 0.0), 359.999)
                    mm, q = sample(rng, world, pose, person, theta)
                    f.write("%.3f %d %d\n" % (theta, mm, q))
            else:
                vals = [sample(rng, world, pose, person, 360.0 * i / n)[0] for i in range(n)]
                f.write(",".join(str(v) for v in vals) + "\r\n")


if __name__ == "__main__":
    main()
