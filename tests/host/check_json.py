#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-3-Clause
"""Checks robot-demo --json: every line is JSON to a standard parser, floats
are written in the shortest form that reads back to their bits, the steps
equal the library's own for the same scans, and the warnings a run owes.

usage: check_json.py --demo ROBOT_DEMO --steps PILOT_STEPS --work DIR --maker MAKE_RECORDING CASE
CASE: lines | steps | warnings | candidates | demo
"""
import argparse
import json
import os
import struct
import subprocess
import sys
from fractions import Fraction

# Cross builds run the programs under the emulator that ctest names.
EMULATOR = [e for e in os.environ.get("SCANPILOT_TEST_EMULATOR", "").split(";") if e]
LAYOUT = ["--zero-at", "37.5", "--clockwise", "--units", "mm"]
FLOAT_POINTS = ("steering", "path_end", "tracked")
DOUBLES = ("bearing_deg", "t", "distance")


def fail(msg):
    print("FAIL: " + msg)
    sys.exit(1)


def run(cmd, want=0):
    p = subprocess.run(EMULATOR + cmd, capture_output=True, text=True)
    if p.returncode != want:
        fail("%s: status %d, want %d\n%s" % (" ".join(cmd), p.returncode, want, p.stderr))
    return p.stdout, p.stderr


def no_constants(name):
    raise ValueError("not JSON: " + name)


def parse(line):
    """One line, numbers kept as their text."""
    return json.loads(line, parse_float=str, parse_int=int, parse_constant=no_constants)


def f32(x):
    return struct.unpack("<f", struct.pack("<f", x))[0]


def shortest_f32_text_ok(tok):
    """tok names a float32 (nearest to its exact value) and no shorter decimal does."""
    value = f32(float(Fraction(tok)))
    for digits in range(1, 10):
        s = "%.*g" % (digits, value)
        if f32(float(Fraction(s))) == value:
            return Fraction(s) == Fraction(tok)
    return False


def shortest_double_text_ok(tok):
    return Fraction(repr(float(tok))) == Fraction(tok)


def check_numbers(obj, where):
    for key in FLOAT_POINTS:
        p = obj.get(key)
        if p is None:
            continue
        for axis in ("x", "y"):
            if isinstance(p[axis], str) and not shortest_f32_text_ok(p[axis]):
                fail("%s: %s.%s = %s is not the shortest float text" % (where, key, axis, p[axis]))
    if isinstance(obj.get("bearing_rad"), str) and not shortest_f32_text_ok(obj["bearing_rad"]):
        fail("%s: bearing_rad %s" % (where, obj["bearing_rad"]))
    for key in DOUBLES:
        if isinstance(obj.get(key), str) and not shortest_double_text_ok(obj[key]):
            fail("%s: %s = %s is not the shortest double text" % (where, key, obj[key]))
    for key in ("speed", "turn_rate"):
        if isinstance(obj["command"][key], str) and not shortest_double_text_ok(obj["command"][key]):
            fail("%s: command.%s = %s" % (where, key, obj["command"][key]))


def json_run(cmd):
    """Runs with --json; returns (steps, summary, stderr)."""
    out, err = run(cmd + ["--json"])
    lines = out.splitlines()
    if not lines:
        fail("no output from " + " ".join(cmd))
    objs = []
    for i, line in enumerate(lines):
        try:
            objs.append(parse(line))
        except ValueError as e:
            fail("line %d is not JSON (%s): %s" % (i + 1, e, line[:200]))
    steps, end, summary = objs[:-2], objs[-2] if len(objs) >= 2 else {}, objs[-1]
    if "summary" not in summary or any("summary" in o for o in steps):
        fail("the summary must be the last object and only that")
    # The last command a consumer reads is a stop, in a record of its own.
    if (end.get("end") != {"records": len(steps)} or end.get("reason") != "end" or end.get("stopped") is not True
            or [float(end["command"][k]) for k in ("speed", "turn_rate")] != [0.0, 0.0]):
        fail("no closing stop record before the summary: %r" % end)
    for n, o in enumerate(steps):
        if o["schema"] != 1 or o["scan"] != n:
            fail("object %d: schema %r, scan %r" % (n, o["schema"], o["scan"]))
        check_numbers(o, "scan %d" % n)
    return steps, summary["summary"], err, lines


def make(args, work, form, turns):
    path = os.path.join(work, "%s.log" % form)
    subprocess.run([sys.executable, args.maker, "--form", form, "--turns", str(turns), path], check=True)
    return path


KEYS = ["schema", "scan", "reached", "path_cells", "steering", "path_end", "bearing_rad", "bearing_deg", "tracked",
        "candidate_passed", "tracked_cell", "target_cell", "target_blocked", "command", "stopped",
        "returns_inside_robot", "lost", "no_free_target", "no_path", "bad_input", "guard_stopped", "seen",
        "seen_front", "near", "low_coverage", "unseen_held", "reason",
        "route_found", "route_cells", "lookahead", "scan_clearance", "recovering"]
REASONS = {"driving", "not_live", "bad_input", "low_coverage", "lost", "no_path", "guard", "unseen", "near",
           "turning", "arrived", "recovery", "search"}


def case_lines(args, work):
    log = make(args, work, "samples", 40)
    base = [args.demo, "--scans", log, "--format", "samples"] + LAYOUT + ["--min-range", "0.1", "--follow", "0.85",
                                                                          "--out", os.path.join(work, "o")]
    steps, summary, err, _ = json_run(base)
    human, _ = run(base)
    scan_lines = [l for l in human.splitlines() if l.startswith("scan ")]
    if len(steps) != len(scan_lines) or summary["scans"] != len(steps):
        fail("%d objects, %d human lines, summary %r" % (len(steps), len(scan_lines), summary["scans"]))
    for n, o in enumerate(steps):
        if list(o.keys()) != KEYS:
            fail("scan %d keys: %s" % (n, list(o.keys())))
        reached = scan_lines[n].split(": ", 1)[1].startswith("reached")
        if o["reached"] != reached or "path %d cells" % o["path_cells"] not in scan_lines[n]:
            fail("scan %d: JSON and line disagree:\n%s\n%s" % (n, o, scan_lines[n]))
    if summary["reached"] != sum(o["reached"] for o in steps) or err:
        fail("summary %r, stderr %r" % (summary, err))
    if summary["pictures"] is None or "run.html" not in summary["pictures"]["files"]:
        fail("pictures not in the summary: %r" % summary)
    print("ok: %d scans, every line JSON, shortest floats" % len(steps))


def case_steps(args, work):
    """The replay's steps are the library's own, bit for bit (the text is the same)."""
    log = make(args, work, "ranges", 30)
    saved = os.path.join(work, "saved.txt")
    for extra, pilot in ((["--follow", "0.85"], ["--follow", "0.85"]),
                         (["--target-cell", "44,80", "--robot-radius", "0.25", "--margin", "0.2"],
                          ["--target-cell", "44,80", "--robot-radius", "0.25", "--margin", "0.2"])):
        cmd = [args.demo, "--scans", log, "--format", "ranges"] + LAYOUT + ["--min-range", "0.1", "--save-scans", saved,
                                                                            "--out", os.path.join(work, "o")] + extra
        _, _, _, lines = json_run(cmd)
        lib, _ = run([args.steps, saved] + pilot)
        if lines[:-2] != lib.splitlines():
            for n, (a, b) in enumerate(zip(lines, lib.splitlines())):
                if a != b:
                    fail("scan %d differs:\nrobot-demo %s\nlibrary    %s" % (n, a, b))
            fail("%d lines against %d" % (len(lines) - 2, len(lib.splitlines())))
    print("ok: robot-demo --json equals the library's steps")


def write_degrees(path, scans):
    with open(path, "w") as f:
        for s in scans:
            f.write(" ".join("inf" if r is None else repr(r) for r in s) + "\n")


def person_ahead(d=1.0, half=4):
    return [d if 180 - half <= i <= 180 + half else None for i in range(360)]


def warning_lines(err):
    return [l for l in err.splitlines() if l.startswith("robot-demo: warning: ")]


def case_warnings(args, work):
    log = make(args, work, "samples", 12)
    out = ["--out", os.path.join(work, "o")]
    steps, summary, err, _ = json_run([args.demo, "--scans", log, "--format", "samples"] + LAYOUT + out)
    codes = [w["code"] for w in summary["warnings"]]
    if len(warning_lines(err)) != 1 or codes != ["returns_inside_robot"] or "--min-range" not in err:
        fail("robot's own post: want one --min-range warning, got %r / %r" % (err, codes))
    if not any(o["returns_inside_robot"] > 0 for o in steps):
        fail("no scan flags its returns inside the robot")
    human, err = run([args.demo, "--scans", log, "--format", "samples"] + LAYOUT + out)
    if len(warning_lines(err)) != 1 or "robot-demo: warning" in human:
        fail("people get the same one warning on standard error: %r" % err)
    steps, summary, err, _ = json_run([args.demo, "--scans", log, "--format", "samples"] + LAYOUT +
                                      ["--min-range", "0.1"] + out)
    if err or summary["warnings"] or any(o["returns_inside_robot"] for o in steps):
        fail("with --min-range 0.1 nothing to say: %r %r" % (err, summary["warnings"]))

    lost = os.path.join(work, "lost.txt")
    # Gone for 70 scans: the pilot searches where the person was for its
    # recovery time (6 s, 60 scans at the assumed 10 Hz), then stops.
    write_degrees(lost, [person_ahead()] * 5 + [[None] * 360] * 70)
    steps, summary, err, _ = json_run([args.demo, "--scans", lost, "--follow", "1.0"] + out)
    if [w["code"] for w in summary["warnings"]] != ["tracker_lost"] or len(warning_lines(err)) != 1:
        fail("lost tracker: %r %r" % (summary["warnings"], err))
    for o in steps[5:65]:
        if not (o["lost"] and not o["stopped"] and o["reason"] == "search"):
            fail("scan %d: a lost tracker is searched for first: %r" % (o["scan"], o))
    if not any(float(o["command"]["speed"]) > 0 for o in steps[5:65]):
        fail("the search never drove toward where the person was")
    for o in steps[65:]:
        if not (o["lost"] and o["stopped"] and o["reason"] == "lost" and float(o["command"]["speed"]) == 0 and
                float(o["command"]["turn_rate"]) == 0):
            fail("scan %d: after the search a lost tracker must stop the robot: %r" % (o["scan"], o))
    if any(o["lost"] for o in steps[:5]) or not any(float(o["command"]["speed"]) > 0 for o in steps[:5]):
        fail("while the person is there the robot follows")
    if summary.get("lost") != {"records": 70, "stopped": 10} or summary["stops"].get("lost") != 10:
        fail("the summary's lost and stops: %r %r" % (summary.get("lost"), summary["stops"]))
    human, _ = run([args.demo, "--scans", lost, "--follow", "1.0"] + out)
    if "tracker lost on 70 of 75 records: searching where last seen on 60, stopped on 10\n" not in human:
        fail("the human summary does not count the lost scans: %r" % human[-400:])

    _, summary, err, _ = json_run([args.demo, "--scans", log, "--format", "ranges"] + LAYOUT + out)
    if "looks_like_samples" not in [w["code"] for w in summary["warnings"]] or "--format samples" not in err:
        fail("a samples log read as ranges: %r" % err)

    far = os.path.join(work, "far.log")
    with open(far, "w") as f:
        for _ in range(3):
            f.write(" ".join(["4000"] * 90) + "\n")
    _, summary, err, _ = json_run([args.demo, "--scans", far, "--format", "ranges"] + out)
    if [w["code"] for w in summary["warnings"]] != ["no_return_on_grid"]:
        fail("far returns in an unknown unit: %r" % summary["warnings"])
    _, summary, err, _ = json_run([args.demo, "--scans", far, "--format", "ranges", "--units", "mm"] + out)
    if summary["warnings"] or err:
        fail("--units mm was set: no hint about units: %r" % err)
    print("ok: each warning once, on standard error and in the summary")


def case_candidates(args, work):
    scans = os.path.join(work, "person.txt")
    write_degrees(scans, [person_ahead()] * 4)
    cands = os.path.join(work, "cands.txt")
    with open(cands, "w") as f:
        f.write("1.02 0.01\n\n2.5 1.0\n0.98,-0.02\n")
    out = ["--out", os.path.join(work, "o")]
    steps, _, _, _ = json_run([args.demo, "--scans", scans, "--follow", "1.0", "--candidates", cands] + out)
    passed = [o["candidate_passed"] for o in steps]
    if passed != [True, False, False, True]:
        fail("candidates passed: %r" % passed)
    if f32(float(steps[0]["tracked"]["x"])) != f32(1.02) or f32(float(steps[3]["tracked"]["y"])) != f32(-0.02):
        fail("a passed candidate is the tracker's answer: %r" % steps[0]["tracked"])
    with open(cands, "w") as f:
        f.write("1 0\n\n")
    _, err = run([args.demo, "--scans", scans, "--follow", "1.0", "--candidates", cands] + out, want=2)
    if len(err.splitlines()) != 1 or "2 lines for 4 scans" not in err:
        fail("too few candidate lines: %r" % err)
    with open(cands, "w") as f:
        f.write("1 0\n\nx y\n\n")
    _, err = run([args.demo, "--scans", scans, "--follow", "1.0", "--candidates", cands] + out, want=2)
    if len(err.splitlines()) != 1 or ":3: 'x'" not in err:
        fail("a bad candidate line: %r" % err)
    # Through a pipe the scans cannot be counted first: the file runs out where it does.
    with open(cands, "w") as f:
        f.write("1 0\n\n")
    with open(scans) as f:
        text = f.read()
    p = subprocess.run(EMULATOR + [args.demo, "--scans", "-", "--follow", "1.0", "--candidates", cands, "--json"] + out,
                       input=text, capture_output=True, text=True)
    if p.returncode != 2 or len(p.stdout.splitlines()) != 2 or "ends before scan 2" not in p.stderr:
        fail("a pipe of scans against a short candidates file: status %d, %r" % (p.returncode, p.stderr))
    print("ok: candidates gate the tracker, and a file that does not fit is one error")


def case_demo(args, work):
    out = ["--out", os.path.join(work, "o")]
    steps, summary, err, _ = json_run([args.demo] + out)
    human, _ = run([args.demo] + out)
    if len(steps) != 300 or summary["ticks"] != 300 or err:
        fail("%d ticks, stderr %r" % (len(steps), err))
    if "planner's path reached the target: %d of 300 passes" % summary["reached"] not in human:
        fail("reached %r disagrees with the summary for people" % summary["reached"])
    if "false detections rejected: %d of %d" % (summary["false_rejected"], summary["false_detections"]) not in human:
        fail("false detections disagree")
    mean = "mean %.2f m" % float(summary["distance_mean"])
    if mean not in human or any("t" not in o or "distance" not in o for o in steps):
        fail("distance %s not in the summary for people, or a tick without t/distance" % mean)
    if not all(o["tracked"] is not None for o in steps):
        fail("the demo follows: every tick has a tracked point")
    print("ok: the demo's 300 ticks and summary")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--demo", required=True)
    ap.add_argument("--steps", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--maker", required=True)
    ap.add_argument("case", choices=["lines", "steps", "warnings", "candidates", "demo"])
    args = ap.parse_args()
    os.makedirs(args.work, exist_ok=True)
    globals()["case_" + args.case](args, args.work)


if __name__ == "__main__":
    main()
