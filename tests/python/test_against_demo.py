"""The module's steps against robot-demo --json on the same recordings: the
scans robot-demo gave its planner (--save-scans) stepped through a Pilot of
the module give the same objects, float for float."""
import importlib.util
import json
import os
import subprocess
import sys
from pathlib import Path

import pytest

import scanpilot
from test_pilot import FLOAT32_KEYS, same

SOURCE = Path(os.environ.get("SCANPILOT_SOURCE", Path(__file__).resolve().parents[2]))
DEMO = os.environ.get("SCANPILOT_DEMO", "")
LAYOUT = ["--zero-at", "37.5", "--clockwise", "--units", "mm", "--min-range", "0.1"]

pytestmark = pytest.mark.skipif(not DEMO or not Path(DEMO).exists(), reason="robot-demo is not built")


def example():
    found = importlib.util.spec_from_file_location("replay_plot", SOURCE / "examples" / "replay_plot.py")
    mod = importlib.util.module_from_spec(found)
    found.loader.exec_module(mod)
    return mod


def recording(tmp_path, form, turns):
    path = tmp_path / ("%s.log" % form)
    subprocess.run([sys.executable, str(SOURCE / "tools" / "make-recording.py"), "--form", form,
                    "--turns", str(turns), str(path)], check=True)
    return path


def demo_steps(args, tmp_path):
    saved = tmp_path / "saved.txt"
    out = subprocess.run([DEMO] + args + ["--json", "--save-scans", str(saved), "--out", str(tmp_path / "o")],
                         capture_output=True, text=True, check=True).stdout
    lines = [json.loads(l, parse_int=float) for l in out.splitlines()]
    assert "summary" in lines[-1]
    assert lines[-2]["end"] == {"records": len(lines) - 2} and lines[-2]["reason"] == "end"
    assert lines[-2]["command"] == {"speed": 0, "turn_rate": 0}
    return lines[:-2], saved


def compare(objects, saved, **config):
    scans = [s for _, s in example().read_scans(str(saved))]
    assert len(scans) == len(objects)
    with scanpilot.Pilot(**config) as p:
        for n, (scan, want) in enumerate(zip(scans, objects)):
            assert want.pop("schema") == 1 and want.pop("scan") == n
            got = p.step(scan).to_dict()
            assert list(got) == list(want), n
            for k in got:
                assert same(got[k], want[k], k in FLOAT32_KEYS), (n, k, got[k], want[k])
    return len(scans)


def test_follow_replay_of_a_scanner_log(tmp_path):
    objects, saved = demo_steps(["--scans", str(recording(tmp_path, "samples", 40)), "--format", "samples"] + LAYOUT +
                                ["--follow", "0.85"], tmp_path)
    assert compare(objects, saved, mode="follow", follow_distance=0.85) == 40


def test_goal_replay_with_another_robot(tmp_path):
    args = ["--scans", str(recording(tmp_path, "ranges", 30)), "--format", "ranges"] + LAYOUT + \
        ["--target", "1.5,-0.4", "--robot-radius", "0.25", "--margin", "0.2"]
    objects, saved = demo_steps(args, tmp_path)
    cell = (scanpilot.metres_to_cell(-0.4), scanpilot.metres_to_cell(1.5))
    assert compare(objects, saved, goal_cell=cell, robot_radius=0.25, margin=0.2) == 30


def test_the_real_laser_bag(tmp_path):
    bag = SOURCE / "tests" / "data" / "people-walking-laser.bag"
    probe = subprocess.run([DEMO, "--scans", str(bag), "--format", "rosbag", "--quiet", "--no-html",
                            "--out", str(tmp_path / "p")], capture_output=True, text=True)
    if probe.returncode != 0 and "rosbag" in probe.stderr:
        pytest.skip("robot-demo reads no bags in this build: " + probe.stderr.strip())
    objects, saved = demo_steps(["--scans", str(bag), "--format", "rosbag", "--follow", "1.0"], tmp_path)
    assert compare(objects, saved, mode="follow", follow_distance=1.0) == 1265
