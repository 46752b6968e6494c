# SPDX-License-Identifier: BSD-3-Clause
"""The LaserScan rule written out for the bag tests, apart from the code it
checks: a message's ranges as the 360 readings robot-demo saves."""
import math
import struct

DEG_PER_RAD = 180.0 / 3.14159265358979323846


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
