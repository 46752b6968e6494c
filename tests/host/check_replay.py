#!/usr/bin/env python3
"""Checks robot-demo's replay of scanner recordings against a model of the
binning rule computed here, from the recording's text, in exact arithmetic.

usage: check_replay.py --demo ROBOT_DEMO --work DIR --maker MAKE_RECORDING CASE
CASE: recording | layouts
"""
import argparse
import math
import os
import struct
import subprocess
import sys

# Cross builds run the demo under the emulator that ctest names.
EMULATOR = [e for e in os.environ.get("SCANPILOT_TEST_EMULATOR", "").split(";") if e]
from fractions import Fraction

INF = math.inf
NAN = math.nan


def fail(msg):
    print("FAIL: " + msg)
    sys.exit(1)


# ---- float32 model ----------------------------------------------------------

def f32_bits(x):
    return struct.unpack("<I", struct.pack("<f", x))[0]


def f32_from_bits(b):
    return struct.unpack("<f", struct.pack("<I", b))[0]


def f32_round(x):
    """Double -> nearest float32 (ties to even); inf beyond the range."""
    try:
        return struct.unpack("<f", struct.pack("<f", x))[0]
    except OverflowError:
        return math.copysign(INF, x)


def decimal_to_f32(tok):
    """A decimal token -> the float32 nearest to its exact value."""
    low = tok.lower().lstrip("+")
    if low in ("inf", "infinity"):
        return INF
    if low in ("-inf", "-infinity"):
        return -INF
    if low.lstrip("-") == "nan":
        return math.nan
    exact = Fraction(tok)
    c = f32_round(float(exact))
    if math.isinf(c):
        return c
    # Check the neighbours in exact arithmetic, so that no double rounding slips in.
    best = None
    b = f32_bits(c)
    for cand_bits in (b - 1, b, b + 1):
        if cand_bits < 0 or cand_bits >= 0xFFFFFFFF:
            continue
        v = f32_from_bits(cand_bits)
        if math.isinf(v) or math.isnan(v):
            continue
        err = abs(Fraction(v) - exact)
        if best is None or err < best[0] or (err == best[0] and (cand_bits & 1) == 0):
            best = (err, v)
    return best[1]


# ---- the binning rule ------------------------------------------------------

class Layout:
    def __init__(self, zero=0.0, clockwise=False, mm=False, min_range=0.0, max_range=INF):
        self.zero, self.clockwise, self.mm = zero, clockwise, mm
        self.min_range, self.max_range = f32_round(min_range), f32_round(max_range)

    def args(self):
        a = ["--zero-at", repr(self.zero), "--units", "mm" if self.mm else "m"]
        if self.clockwise:
            a.append("--clockwise")
        if self.min_range > 0:
            a += ["--min-range", repr(self.min_range)]
        if self.max_range < INF:
            a += ["--max-range", repr(self.max_range)]
        return a


def index_of(phi):
    t = (phi + 180.0) + 0.5
    return int(math.floor(t)) % 360


def range_of(raw, lay):
    """What a sample says of its degree: -inf too near to measure, a return,
    inf no return, or NaN nothing (NaN, zero, negative, below the lower limit)."""
    if raw == -INF:
        return -INF
    m = raw / 1000.0 if lay.mm else raw * 1.0
    if math.isnan(m) or not (m > 0.0):
        return NAN
    f = f32_round(m)
    if math.isinf(f) or f > lay.max_range:
        return INF
    if not (f > 0.0) or f < lay.min_range:
        return NAN
    return f


def bin_turn(samples, lay):
    """samples: (theta as a double, raw as a float32 value). A degree no
    usable sample reached stays NaN, unseen."""
    out = [NAN] * 360
    for theta, raw in samples:
        if not math.isfinite(theta):
            continue
        phi = lay.zero - theta if lay.clockwise else lay.zero + theta
        i = index_of(phi)
        v = range_of(raw, lay)
        if not math.isnan(v) and (math.isnan(out[i]) or v < out[i]):
            out[i] = v
    return out


def tokens(line):
    return [t for t in line.replace(",", " ").replace("\t", " ").split(" ") if t]


def split_lines(text):
    return text.replace("\r\n", "\n").replace("\r", "\n").split("\n")


def model_samples(text, lay):
    turns, cur, last = [], [], None
    for line in split_lines(text):
        t = tokens(line)
        if t and t[0].startswith("#"):
            continue
        if not t:
            if cur:
                turns.append(cur)
            cur, last = [], None
            continue
        angle = decimal_to_f32(t[0])
        raw = decimal_to_f32(t[1])
        if last is not None and angle < last:
            turns.append(cur)
            cur, last = [], None
        cur.append((angle, raw))
        if not math.isnan(angle):
            last = angle
    if cur:
        turns.append(cur)
    return [bin_turn(s, lay) for s in turns]


def model_ranges(text, lay):
    out = []
    for line in split_lines(text):
        t = tokens(line)
        if not t or t[0].startswith("#"):
            continue
        n = len(t)
        out.append(bin_turn([((360.0 * k) / n, decimal_to_f32(v)) for k, v in enumerate(t)], lay))
    return out


def read_saved(path):
    with open(path) as f:
        return [[decimal_to_f32(v) for v in tokens(line)] for line in split_lines(f.read()) if tokens(line)]


def same(a, b):
    return len(a) == len(b) and all(
        len(x) == len(y) and all(f32_bits(p) == f32_bits(q) for p, q in zip(x, y)) for x, y in zip(a, b))


def first_difference(a, b):
    for s, (x, y) in enumerate(zip(a, b)):
        for i, (p, q) in enumerate(zip(x, y)):
            if f32_bits(p) != f32_bits(q):
                return "scan %d index %d: demo %r, model %r" % (s, i, p, q)
    return "%d scans vs %d" % (len(a), len(b))


# ---- running the demo ------------------------------------------------------

def run(demo, args, want_rc=0, stdin=None):
    p = subprocess.run(EMULATOR + [demo] + args, input=stdin, capture_output=True, text=True, timeout=120)
    if p.returncode != want_rc:
        fail("%s: status %d, want %d\nstderr: %s" % (" ".join(args), p.returncode, want_rc, p.stderr))
    return p.stdout


def scan_lines(out):
    return [l for l in out.splitlines() if l.startswith("scan ")]


def case_recording(a):
    lay = Layout(zero=37.5, clockwise=True, mm=True, min_range=0.1)
    for form in ("samples", "ranges"):
        rec = os.path.join(a.work, "rec-%s.txt" % form)
        saved = os.path.join(a.work, "saved-%s.txt" % form)
        subprocess.run([sys.executable, a.maker, "--form", form, "--turns", "60", "--seed", "3", rec], check=True)
        with open(rec, newline="") as f:
            text = f.read()
        model = model_samples(text, lay) if form == "samples" else model_ranges(text, lay)
        if len(model) != 60:
            fail("%s: the model found %d turns, want 60" % (form, len(model)))
        out = run(a.demo, ["--scans", rec, "--format", form] + lay.args() +
                  ["--save-scans", saved, "--out", os.path.join(a.work, "pic-" + form)])
        got = read_saved(saved)
        if not same(got, model):
            fail("%s: saved scans differ from the rule: %s" % (form, first_difference(got, model)))
        # Body hits under 0.1 m must have been masked; without the mask they show.
        if any(0 < v < 0.1 for s in got for v in s):
            fail("%s: a return under --min-range survived" % form)
        lay0 = Layout(zero=37.5, clockwise=True, mm=True)
        if not any(0 < v < 0.1 for s in (model_samples(text, lay0) if form == "samples" else model_ranges(text, lay0)) for v in s):
            fail("%s: the recording has no body hits to mask" % form)
        # The planner's answers on the saved scans, replayed in the default format.
        again = run(a.demo, ["--scans", saved, "--out", os.path.join(a.work, "pic2-" + form)])
        if scan_lines(out) != scan_lines(again) or len(scan_lines(out)) != 60:
            fail("%s: replaying the saved scans gives other plans" % form)
        if "hint:" in out:
            fail("%s: hint on a recording read in the right units" % form)
        # The same log read as metres lands nowhere on the grid: the hint says so.
        wrong = run(a.demo, ["--scans", rec, "--format", form, "--zero-at", "37.5", "--clockwise",
                             "--quiet", "--out", os.path.join(a.work, "pic3-" + form)])
        if "hint:" not in wrong or "--units mm" not in wrong:
            fail("%s: no units hint for millimetres read as metres:\n%s" % (form, wrong))
        # The follower runs from start to end, on a pipe too.
        fol = run(a.demo, ["--scans", "-", "--format", form] + lay.args() + ["--follow", "0.85", "--out",
                  os.path.join(a.work, "pic4-" + form)], stdin=text)
        lines = scan_lines(fol)
        if len(lines) != 60 or not all(", tracked (" in l for l in lines):
            fail("%s: --follow did not print 60 tracked lines" % form)
        if "pictures:" not in fol or "tick-000.svg" not in fol or "tick-059.svg" not in fol:
            fail("%s: a pipe's default pictures are the first and the last scan:\n%s" % (form, fol[-300:]))
        svg = open(os.path.join(a.work, "pic4-" + form, "tick-059.svg")).read()
        if "tracked point" not in svg:
            fail("%s: the picture does not draw the tracked point" % form)
    print("ok")


def case_layouts(a):
    """A single return ahead, left and behind lands on 180, 270 and 0."""
    want = {0.0: 180, 90.0: 270, 180.0: 0}
    checked = 0
    for zero in (0.0, 90.0, 180.0, 270.0, 37.5):
        for cw in (False, True):
            for mm in (False, True):
                lay = Layout(zero=zero, clockwise=cw, mm=mm)
                raw = "1500" if mm else "1.5"
                for form in ("samples", "ranges"):
                    lines = []
                    for bearing in want:
                        theta = ((zero - bearing) if cw else (bearing - zero)) % 360.0
                        if form == "samples":
                            # a few no-echo samples around it, a blank line ends the turn
                            lines += ["0 0", "%r %s" % (theta, raw), "359.5 0", ""]
                        else:
                            n = 720
                            k = int(round(theta * n / 360.0))
                            lines.append(" ".join(raw if i == k else "0" for i in range(n)))
                    path = os.path.join(a.work, "one.txt")
                    saved = os.path.join(a.work, "one-saved.txt")
                    with open(path, "w") as f:
                        f.write("\n".join(lines) + "\n")
                    run(a.demo, ["--scans", path, "--format", form, "--quiet", "--save-scans", saved,
                                 "--out", os.path.join(a.work, "pic")] + lay.args())
                    got = read_saved(saved)
                    if len(got) != 3:
                        fail("%s zero %s cw %s: %d scans" % (form, zero, cw, len(got)))
                    for scan, (bearing, idx) in zip(got, want.items()):
                        hits = [i for i, v in enumerate(scan) if math.isfinite(v)]
                        if hits != [idx] or scan[idx] != f32_round(1.5):
                            fail("%s zero %s %s %s: bearing %s landed on %s, want %d"
                                 % (form, zero, "cw" if cw else "ccw", "mm" if mm else "m", bearing, hits, idx))
                    checked += 1
    # Both limits are inclusive, compared after the unit is applied.
    for mm in (False, True):
        lay = Layout(zero=0.0, mm=mm, min_range=0.1, max_range=4.0)
        vals = ["100", "99", "4000", "4001"] if mm else ["0.1", "0.0999", "4", "4.001"]
        path = os.path.join(a.work, "limits.txt")
        saved = os.path.join(a.work, "limits-saved.txt")
        with open(path, "w") as f:
            f.write("".join("%d %s\n" % (10 * k, v) for k, v in enumerate(vals)))
        run(a.demo, ["--scans", path, "--format", "samples", "--quiet", "--save-scans", saved,
                     "--out", os.path.join(a.work, "pic")] + lay.args())
        got = read_saved(saved)[0]
        kept = [math.isfinite(got[180 + 10 * k]) for k in range(4)]
        if kept != [True, False, True, False] or got[180] != f32_round(0.1) or got[200] != 4.0:
            fail("limits (%s): kept %s" % ("mm" if mm else "m", kept))
    print("ok: %d layouts" % checked)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--demo", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--maker")
    ap.add_argument("case", choices=["recording", "layouts"])
    a = ap.parse_args()
    os.makedirs(a.work, exist_ok=True)
    {"recording": case_recording, "layouts": case_layouts}[a.case](a)


if __name__ == "__main__":
    main()
