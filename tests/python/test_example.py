# SPDX-License-Identifier: BSD-3-Clause
"""examples/replay_plot.py: a recording in, one line per scan and a picture out."""
import importlib.util
import subprocess
import sys
from pathlib import Path

import numpy as np
import pytest

import scanpilot
from conftest import walk

EXAMPLE = Path(__file__).resolve().parents[2] / "examples" / "replay_plot.py"


def load_example():
    found = importlib.util.spec_from_file_location("replay_plot", EXAMPLE)
    mod = importlib.util.module_from_spec(found)
    found.loader.exec_module(mod)
    return mod


def test_decimal_text_becomes_the_nearest_float32_without_double_rounding():
    to_f32 = load_example().to_float32
    one_up = np.nextafter(np.float32(1), np.float32(2))
    # 1 + 2^-24 lies halfway between 1 and the next float; as a double it is exact.
    got = to_f32(["1.000000059604644775390625", "1.0000000596046447753906250000001", "inf", "-0", "nan"], "t")
    assert got[0] == 1.0 and got[1] == one_up and np.isinf(got[2]) and np.signbit(got[3]) and np.isnan(got[4])


def test_replay_prints_each_command_and_draws_the_run(tmp_path):
    pytest.importorskip("matplotlib")
    scans = walk(8)
    rows = ["# a recording", ""]
    for k, s in enumerate(scans):
        text = ["%r" % float(v) if np.isfinite(v) else "inf" for v in s]
        rows.append((",".join if k % 2 else " ".join)(text))
    rec = tmp_path / "rec.txt"
    rec.write_text("\r\n".join(rows) + "\n")
    out = tmp_path / "run.png"
    run = subprocess.run([sys.executable, str(EXAMPLE), str(rec), "--follow", "0.85", "--out", str(out)],
                         capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    lines = run.stdout.splitlines()
    with scanpilot.Pilot(mode="follow", follow_distance=0.85) as p:
        want = ["scan %d: speed %.2f m/s, turn %+.2f rad/s" % (k, st.speed, st.turn_rate)
                for k, st in enumerate(p.step(s) for s in scans)]
    assert [line.split(" (")[0].split(", tracked")[0] for line in lines[:8]] == want
    assert lines[8].startswith("8 scans") and lines[9] == "picture: " + str(out)
    assert out.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n" and out.stat().st_size > 20000


@pytest.mark.parametrize("content, args, message", [
    ("1 2 3\n", [], "rec.txt:1: expected 360 readings, found 3"),
    (" ".join(["1e39"] * 360) + "\n", [], "out of float range"),
    (" ".join(["1"] * 360) + "\n", ["--show-scan", "5"], "--show-scan 5: the recording has 1 scans"),
    ("# nothing\n", [], "no scans"),
])
def test_bad_recordings_stop_with_one_line(tmp_path, content, args, message):
    rec = tmp_path / "rec.txt"
    rec.write_text(content)
    run = subprocess.run([sys.executable, str(EXAMPLE), str(rec), "--out", str(tmp_path / "x.png")] + args,
                         capture_output=True, text=True)
    assert run.returncode == 2 and run.stderr.startswith("replay_plot.py: ") and message in run.stderr
    assert len(run.stderr.splitlines()) == 1 and not (tmp_path / "x.png").exists()
