#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-3-Clause
"""robot-demo's map runs, suites and merges, checked from outside: the poses
against an independent unicycle and map model, shards against a whole run,
replays of saved scans against the run, and bad input against its one line."""
import argparse
import json
import math
import os
import shutil
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BARN = os.path.join(ROOT, "examples", "maps", "barn")


def run(demo, args, cwd=None, check=True):
    p = subprocess.run([demo] + args, cwd=cwd, capture_output=True, text=True, timeout=600)
    if check and p.returncode != 0:
        sys.exit("robot-demo %s: status %d\n%s" % (" ".join(args), p.returncode, p.stderr))
    return p


def read_pgm_map(yaml_path):
    """(occupied set of (col,row), width, height, res, ox, oy) by the map_server rules."""
    meta = {}
    for line in open(yaml_path):
        if ":" in line:
            k, v = line.split(":", 1)
            meta[k.strip()] = v.strip()
    res = float(meta["resolution"])
    ox, oy = [float(t) for t in meta["origin"].strip("[]").split(",")[:2]]
    data = open(os.path.join(os.path.dirname(yaml_path), meta["image"]), "rb").read()
    fields, pos = [], 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            pos = data.index(b"\n", pos)
            continue
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    w, h, maxval = int(fields[1]), int(fields[2]), int(fields[3])
    pix = data[pos + 1:]
    occ_th, free_th = float(meta["occupied_thresh"]), float(meta["free_thresh"])
    blocked = set()
    for r in range(h):
        for c in range(w):
            occ = (maxval - pix[r * w + c]) / maxval
            if not occ < free_th:  # walls and unknown both stop the robot by default
                blocked.add((c, h - 1 - r))  # image rows run from the top
    return blocked, w, h, res, ox, oy


def wall_distance(m, x, y, limit):
    blocked, w, h, res, ox, oy = m
    best = limit
    c0, r0 = int(math.floor((x - ox) / res)), int(math.floor((y - oy) / res))
    k = int(limit / res) + 2
    for r in range(r0 - k, r0 + k + 1):
        for c in range(c0 - k, c0 + k + 1):
            if (c, r) in blocked or not (0 <= c < w and 0 <= r < h):
                lx, hx = ox + c * res, ox + (c + 1) * res
                ly, hy = oy + r * res, oy + (r + 1) * res
                dx = max(lx - x, 0.0, x - hx)
                dy = max(ly - y, 0.0, y - hy)
                best = min(best, math.hypot(dx, dy))
    return best


def arc(p, v, w, dt):
    x, y, h = p
    if w == 0.0:
        return x + v * dt * math.cos(h), y + v * dt * math.sin(h), h
    h1 = h + w * dt
    return x + v / w * (math.sin(h1) - math.sin(h)), y - v / w * (math.cos(h1) - math.cos(h)), h1


def angle_diff(a, b):
    return abs(math.remainder(a - b, 2 * math.pi))


def json_lines(text):
    return [json.loads(line) for line in text.splitlines() if line.strip()]


def check_motion(lines, m, radius, vmax, wmax):
    steps, summary = lines[:-1], lines[-1]["summary"]
    assert steps, "no steps"
    for a, b in zip(steps, steps[1:]):
        assert abs(b["t"] - a["t"] - 0.1) < 1e-9
        v = min(max(a["command"]["speed"], -vmax), vmax)
        w = min(max(a["command"]["turn_rate"], -wmax), wmax)
        pa, pb = a["pose"], b["pose"]
        x, y, h = arc((pa["x"], pa["y"], pa["heading"]), v, w, 0.1)
        assert abs(x - pb["x"]) < 1e-9 and abs(y - pb["y"]) < 1e-9 and angle_diff(h, pb["heading"]) < 1e-9, \
            "scan %d: pose does not follow the arc of the last command" % b["scan"]
    for s in steps:
        d = wall_distance(m, s["pose"]["x"], s["pose"]["y"], radius + 0.3)
        assert d > radius, "scan %d: the robot overlaps a wall cell (%.4f m)" % (s["scan"], d)
        assert abs(s["clearance"] - min(d - radius, 0.3)) < 1e-9 or s["clearance"] >= 0.3, \
            "scan %d: clearance %r, independent %r" % (s["scan"], s["clearance"], d - radius)
    return steps, summary


def case_goal(demo, work):
    yaml_path = os.path.join(BARN, "barn_1.yaml")
    p = run(demo, ["--map", yaml_path, "--start", "-2.25,3,90", "--goal", "-2.25,13", "--goal-tolerance", "1",
                   "--time-limit", "40", "--robot-radius", "0.215", "--margin", "0.1", "--json", "--out",
                   os.path.join(work, "out")])
    lines = json_lines(p.stdout)
    m = read_pgm_map(yaml_path)
    steps, summary = check_motion(lines, m, 0.215, 0.5, 1.2)
    assert summary["outcome"] in ("reached", "timeout", "collision"), summary
    assert summary["success"] == (summary["outcome"] == "reached")
    assert abs(summary["time"] - 40.0) < 1e-9 or summary["outcome"] != "timeout"
    assert len(steps) == summary["periods"]
    driven = sum(math.hypot(b["pose"]["x"] - a["pose"]["x"], b["pose"]["y"] - a["pose"]["y"])
                 for a, b in zip(steps, steps[1:]))
    assert summary["path_length"] >= driven - 1e-9, "path length shorter than the chords"
    assert summary["min_clearance"] <= min(s["clearance"] for s in steps) + 1e-12
    # A world the pilot gets through: reached, and within the tolerance at the end.
    yaml5 = os.path.join(BARN, "barn_5.yaml")
    p = run(demo, ["--map", yaml5, "--start", "-2.25,3,90", "--goal", "-2.25,13", "--goal-tolerance", "1",
                   "--time-limit", "100", "--robot-radius", "0.215", "--margin", "0.1", "--json", "--no-html",
                   "--out", os.path.join(work, "out5")])
    lines = json_lines(p.stdout)
    steps, summary = check_motion(lines, read_pgm_map(yaml5), 0.215, 0.5, 1.2)
    assert summary["outcome"] == "reached" and summary["goal_distance"] <= 1.0, summary
    # The pictures: the map, the track and the goal are drawn.
    svg = open(os.path.join(work, "out", "run.svg")).read()
    assert svg.count("<polyline") >= 1 and "goal" in svg and "fill=\"#222\"" in svg


def write_room(work, name, width, height, rows_top_first=None):
    """A PGM room of width x height cells of 0.1 m with a wall all round."""
    w, h = width, height
    pix = bytearray([254] * (w * h))
    for r in range(h):
        for c in range(w):
            if r in (0, h - 1) or c in (0, w - 1):
                pix[r * w + c] = 0
    for (c, r) in rows_top_first or []:
        pix[r * w + c] = 0
    open(os.path.join(work, name + ".pgm"), "wb").write(b"P5\n%d %d\n255\n" % (w, h) + bytes(pix))
    with open(os.path.join(work, name + ".yaml"), "w") as f:
        f.write("image: %s.pgm\nresolution: 0.1\norigin: [0.0, 0.0, 0.0]\nnegate: 0\n"
                "occupied_thresh: 0.65\nfree_thresh: 0.196\n" % name)
    return os.path.join(work, name + ".yaml")


def case_collision(demo, work):
    room = write_room(work, "room", 80, 40)
    route = os.path.join(work, "toward.txt")
    open(route, "w").write("# walks straight at the robot\n2.5 2.0\n0.5 2.0\n")
    p = run(demo, ["--map", room, "--start", "1.5,2,0", "--person-route", route, "--person-speed", "0.6",
                   "--json", "--out", os.path.join(work, "out")])
    lines = json_lines(p.stdout)
    summary = lines[-1]["summary"]
    assert summary["outcome"] == "collision" and not summary["success"], summary
    c = summary["contact"]
    assert c["with"] == "person", c
    # At contact the centres are the two radii apart (to the contact step).
    gap = math.hypot(c["robot"]["x"] - c["point"]["x"], c["robot"]["y"] - c["point"]["y"])
    assert abs(gap - 0.4) < 2e-3, gap
    last = lines[-2]
    assert last["t"] <= c["t"] < last["t"] + 0.1 + 1e-9
    # Every step before it: the person and the robot apart.
    for s in lines[:-1]:
        assert math.hypot(s["pose"]["x"] - s["person"]["x"], s["pose"]["y"] - s["person"]["y"]) > 0.4
    # Human lines name it too.
    p = run(demo, ["--map", room, "--start", "1.5,2,0", "--person-route", route, "--person-speed", "0.6",
                   "--quiet", "--out", os.path.join(work, "out")])
    assert "outcome: collision" in p.stdout and "the person at" in p.stdout, p.stdout


def write_suite(work):
    write_room(work, "hall", 60, 30, [(30, r) for r in range(10, 30)])
    open(os.path.join(work, "walk.txt"), "w").write("2.0 1.0\n4.5 1.0\n4.5 2.2\n")
    text = ["defaults: {robot_radius: 0.215, margin: 0.1, goal_tolerance: 1, time_limit: 30}", "runs:"]
    for n in (1, 5, 7, 11):
        text.append("  - {name: barn_%d, map: %s/barn_%d.yaml, start: [-2.25, 3, 90], goal: [-2.25, 13]}"
                    % (n, os.path.relpath(BARN, work), n))
    text.append("  - {name: hall-follow, map: hall.yaml, start: [1.0, 1.0, 0], person_route: walk.txt}")
    text.append("  - {name: hall-goal, map: hall.yaml, start: [1.0, 1.0, 0], goal: [5.0, 2.0], time_limit: 20}")
    suite = os.path.join(work, "suite.yaml")
    open(suite, "w").write("\n".join(text) + "\n")
    return suite


def table_of(text):
    lines = text.splitlines()
    return lines[[i for i, l in enumerate(lines) if l.startswith("suite:")][0]:]


def case_shards(demo, work):
    suite = write_suite(work)
    whole = run(demo, ["--suite", suite, "--json"]).stdout
    human = run(demo, ["--suite", suite]).stdout
    parts = []
    for k in (1, 2, 3):
        out = run(demo, ["--suite", suite, "--shard", "%d/3" % k, "--json"]).stdout
        path = os.path.join(work, "shard%d.jsonl" % k)
        open(path, "w").write(out)
        parts.append(path)
    merged = run(demo, ["--merge"] + parts + ["--json"]).stdout
    merged_human = run(demo, ["--merge"] + parts).stdout
    whole_suite = json_lines(whole)[-1]["suite"]
    merged_suite = json_lines(merged)[-1]["suite"]
    assert whole_suite == merged_suite, (whole_suite, merged_suite)
    assert table_of(human) == table_of(merged_human), (human, merged_human)
    runs = [l["run"] for l in json_lines(whole)[:-1]]
    assert [r["index"] for r in runs] == list(range(1, 7))
    # The table from the runs, counted here.
    ok = [r for r in runs if r["success"]]
    assert whole_suite["success"] == len(ok)
    assert whole_suite["collisions"] == sum(r["outcome"] == "collision" for r in runs)
    assert whole_suite["timeouts"] == sum(r["outcome"] == "timeout" for r in runs)
    if ok:
        assert abs(whole_suite["time_mean"] - sum(r["time"] for r in ok) / len(ok)) < 1e-12
    # A shard missing, or given twice: refused.
    p = run(demo, ["--merge", parts[0], parts[1]], check=False)
    assert p.returncode == 2 and "is in none of the files" in p.stderr, p.stderr
    p = run(demo, ["--merge", parts[0], parts[0], parts[1], parts[2]], check=False)
    assert p.returncode == 2 and "again" in p.stderr, p.stderr
    # --min-success: its own status when missed, 0 when met.
    rate = whole_suite["success_rate"]
    p = run(demo, ["--suite", suite, "--quiet", "--min-success", str(min(1.0, rate + 0.01))], check=False)
    assert p.returncode == 3 and "below --min-success" in p.stderr, (p.returncode, p.stderr)
    p = run(demo, ["--merge"] + parts + ["--min-success", str(rate)], check=False)
    assert p.returncode == 0, p.stderr


def case_replay(demo, work):
    yaml5 = os.path.join(BARN, "barn_5.yaml")
    base = ["--map", yaml5, "--start", "-2.25,3,90", "--goal", "-2.25,13", "--goal-tolerance", "1",
            "--time-limit", "12", "--robot-radius", "0.215", "--margin", "0.1", "--range-noise", "0.01",
            "--dropout", "0.02", "--seed", "9", "--no-html", "--out", os.path.join(work, "out")]
    saved = os.path.join(work, "saved.txt")
    p = run(demo, base + ["--save-scans", saved, "--quiet"])
    cmd = [l for l in p.stdout.splitlines() if l.startswith("replay: robot-demo ")][0].split()[2:]
    live = json_lines(run(demo, base + ["--json"]).stdout)[:-1]
    again = json_lines(run(demo, cmd + ["--json", "--no-html", "--out", os.path.join(work, "out2")]).stdout)[:-1]
    # A replay that ends while driving closes on a stop record; the map run has none.
    again = [s for s in again if "end" not in s]
    strip = lambda s: {k: v for k, v in s.items() if k not in ("t", "pose", "person", "person_lost", "clearance")}
    assert len(live) == len(again), (len(live), len(again))
    for a, b in zip(live, again):
        assert strip(a) == b, "replay differs at scan %d:\n%s\n%s" % (a["scan"], strip(a), b)
    # Another seed gives other scans.
    other = os.path.join(work, "other.txt")
    run(demo, base[:-5] + ["--seed", "10", "--no-html", "--out", os.path.join(work, "o"), "--save-scans", other])
    assert open(other).read() != open(saved).read()
    run(demo, base + ["--save-scans", other])
    assert open(other).read() == open(saved).read()
    # Raw samples of a turn, binned by the pilot: the planner's readings replay the same.
    raw = base + ["--turn-samples", "500", "--save-scans", saved, "--quiet"]
    p = run(demo, raw)
    cmd = [l for l in p.stdout.splitlines() if l.startswith("replay: robot-demo ")][0].split()[2:]
    live = json_lines(run(demo, raw[:-3] + ["--json"]).stdout)[:-1]
    again = [s for s in json_lines(run(demo, cmd + ["--json", "--no-html", "--out", os.path.join(work, "out3")]).stdout)[:-1]
             if "end" not in s]
    assert len(live) == len(again) and all(strip(a) == b for a, b in zip(live, again)), "raw-turn replay differs"
    assert open(saved).read() != open(other).read()
    # A follow run: the scans and the detector's candidates.
    write_room(work, "hall", 60, 30, [(30, r) for r in range(10, 30)])
    walk = os.path.join(work, "walk.txt")
    open(walk, "w").write("2.0 1.0\n4.5 1.0\n4.5 2.2\n")
    base = ["--map", os.path.join(work, "hall.yaml"), "--start", "1.0,1.0,0", "--person-route", walk,
            "--range-noise", "0.005", "--no-html", "--out", os.path.join(work, "out")]
    p = run(demo, base + ["--save-scans", saved, "--quiet"])
    cmd = [l for l in p.stdout.splitlines() if l.startswith("replay: robot-demo ")][0].split()[2:]
    assert "--candidates" in cmd and "--follow" in cmd, cmd
    live = json_lines(run(demo, base + ["--json"]).stdout)[:-1]
    again = [s for s in json_lines(run(demo, cmd + ["--json", "--no-html", "--out", os.path.join(work, "out2")]).stdout)[:-1]
             if "end" not in s]
    assert len(live) == len(again) > 100 and all(strip(a) == b for a, b in zip(live, again)), "follow replay differs"
    assert any(s["candidate_passed"] for s in again)


def case_bad_input(demo, work):
    room = write_room(work, "room", 40, 30)
    out = os.path.join(work, "never")
    good = ["--start", "1,1,0", "--goal", "3,2", "--out", out]
    os.makedirs(os.path.join(work, "bad"), exist_ok=True)

    def bad_map(name, yaml_text, image=None):
        path = os.path.join(work, "bad", name + ".yaml")
        open(path, "w").write(yaml_text)
        if image is not None:
            open(os.path.join(work, "bad", name + ".pgm"), "wb").write(image)
        return path

    head = "resolution: 0.1\norigin: [0, 0, 0]\nnegate: 0\noccupied_thresh: 0.65\nfree_thresh: 0.196\n"
    okpgm = b"P5\n10 10\n255\n" + bytes([254] * 100)
    cases = [
        (["--map", bad_map("nokey", "image: a.pgm\nresolution: 0.1\n")] + good, "nokey.yaml", "missing key"),
        (["--map", bad_map("notyaml", "image: [a\n  b: ]]\n")] + good, "notyaml.yaml", "not YAML"),
        (["--map", bad_map("noimage", "image: nothere.pgm\n" + head)] + good, "nothere.pgm", "cannot open"),
        (["--map", bad_map("notpgm", "image: notpgm.pgm\n" + head, b"hello there\n")] + good, "notpgm.pgm",
         "not an 8-bit PGM or PNG"),
        (["--map", bad_map("size", "image: size.pgm\n" + head, b"P5\n10 12\n255\n" + bytes([254] * 100))] + good,
         "size.pgm", "cut short"),
        (["--map", bad_map("res0", "image: res0.pgm\n" + head.replace("0.1", "0"), okpgm)] + good, "res0.yaml",
         "'resolution'"),
        (["--map", bad_map("resnan", "image: resnan.pgm\n" + head.replace("0.1", ".nan"), okpgm)] + good,
         "resnan.yaml", "'resolution'"),
        (["--map", room, "--start", "0.05,1,0", "--goal", "3,2", "--out", out], "room.yaml", "inside a wall"),
        (["--map", room, "--start", "-5,1,0", "--goal", "3,2", "--out", out], "room.yaml", "off the map"),
        (["--map", room, "--start", "1,1,0", "--goal", "30,2", "--out", out], "room.yaml", "goal"),
        (["--map", room, "--start", "1,1,0", "--goal", "nan,2", "--out", out], "--goal", "X,Y"),
        (["--map", room, "--start", "1,1,0", "--goal", "3,2", "--range-noise", "nan", "--out", out],
         "--range-noise", "wants"),
        (["--map", room, "--start", "1,1,0", "--goal", "3,2", "--out", out, "--save-scans", out + "/run.svg"],
         "--save-scans", "one of the files the run writes"),
    ]
    empty = os.path.join(work, "bad", "empty.txt")
    open(empty, "w").write("# nothing\n\n")
    offroute = os.path.join(work, "bad", "off.txt")
    open(offroute, "w").write("2 1\n40 1\n")
    okroute = os.path.join(work, "bad", "ok.txt")
    open(okroute, "w").write("2 1\n3 1\n")
    nanroute = os.path.join(work, "bad", "nan.txt")
    open(nanroute, "w").write("2 1\nnan 1\n")
    cases += [
        (["--map", room, "--start", "1,1,0", "--person-route", empty, "--out", out], "empty.txt", "empty"),
        (["--map", room, "--start", "1,1,0", "--person-route", offroute, "--out", out], "room.yaml",
         "route point 2"),
        (["--map", room, "--start", "1,1,0", "--person-route", nanroute, "--out", out], "nan.txt:2", "waypoint"),
        (["--map", room, "--start", "1,1,180", "--person-route", okroute, "--out", out], "room.yaml",
         "not ahead"),
    ]
    suite = os.path.join(work, "bad", "suite.yaml")
    open(suite, "w").write("runs:\n  - {map: ../room.yaml, start: [1, 1, 0], goal: [3, 2]}\n"
                           "  - {name: gone, map: missing/map.yaml, start: [1, 1, 0], goal: [3, 2]}\n")
    badkey = os.path.join(work, "bad", "badkey.yaml")
    open(badkey, "w").write("runs:\n  - {map: ../room.yaml, start: [1, 1, 0], goal: [3, 2], speed: 4}\n")
    cases += [
        (["--suite", suite, "--json"], "missing/map.yaml", "cannot open"),
        (["--suite", badkey], "badkey.yaml:2", "unknown key 'speed'"),
    ]
    for args, name, what in cases:
        p = run(demo, args, check=False)
        err = p.stderr.strip().splitlines()
        assert p.returncode == 2, (args, p.returncode, p.stderr)
        assert name in err[0] and what in err[0], (args, err)
        assert len([l for l in err if not l.startswith("Try ")]) == 1, err
        assert p.stdout == "", (args, p.stdout)
        assert not os.path.exists(out), args


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--demo", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("case")
    a = ap.parse_args()
    shutil.rmtree(a.work, ignore_errors=True)
    os.makedirs(a.work)
    {"goal": case_goal, "collision": case_collision, "shards": case_shards, "replay": case_replay,
     "bad_input": case_bad_input}[a.case](a.demo, a.work)
    print("ok")


if __name__ == "__main__":
    main()
