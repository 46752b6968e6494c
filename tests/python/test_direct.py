# SPDX-License-Identifier: BSD-3-Clause
"""The planner and tracker called one by one: a pilot step is exactly that sequence."""
import math
import subprocess
import sys

import numpy as np
import pytest

import scanpilot
from conftest import f32_bits, no_path_scan, room_scan, walk


def lround(v):
    return int(math.copysign(math.floor(abs(v) + 0.5), v))


def follow_target(tx, ty):
    """The pilot's target cell for a tracked point: pulled in to 2.4 m, then
    stepped toward the robot until the cell is free. (cell, target or None)."""
    tx, ty = np.float32(tx), np.float32(ty)
    reach = np.hypot(tx, ty)
    if np.isfinite(reach) and reach > np.float32(2.4):
        tx, ty = tx * np.float32(2.4) / reach, ty * np.float32(2.4) / reach
    col, row = scanpilot.metres_to_cell(float(ty)), scanpilot.metres_to_cell(float(tx))
    if not np.isfinite(reach):
        return (col, row), None
    steps = max(abs(col - 50), abs(row - 50))
    for k in range(steps):
        f = 1.0 - k / steps
        c, r = 50 + lround(f * (col - 50)), 50 + lround(f * (row - 50))
        if scanpilot.chk_target(c, r):
            return (col, row), (c, r)
    return (col, row), None


def by_hand(scans, goal_cell=None, follow=None, candidates=None):
    """Each scan through thredhold/filter/set_ranges/set_target/out_line and the getters."""
    scanpilot.init_helper()
    scanpilot.set_border(0.2 + 0.15)
    if follow is not None:
        scanpilot.thredhold(follow)
    out = []
    for k, scan in enumerate(scans):
        r = {}
        target = goal_cell
        if follow is not None:
            cx, cy = candidates[k] if candidates else (math.nan, math.nan)
            r["tracked"] = scanpilot.filter(cx, cy, scan)
        scanpilot.set_ranges(scan)
        if follow is not None:
            r["tracked_cell"], target = follow_target(*r["tracked"])
        scanpilot.clear_target()
        if target is not None:
            scanpilot.set_target(*target)
        r["target"] = target
        r["reached"] = scanpilot.out_line()
        r["path_cells"] = scanpilot.get_helper_num()
        r["steering"] = (scanpilot.get_fix_x(), scanpilot.get_fix_y())
        r["path_end"] = (scanpilot.get_face_x(), scanpilot.get_face_y())
        r["bearing"] = scanpilot.cal_angle(*r["steering"])
        out.append(r)
    return out


def assert_same(step, hand):
    for k, v in hand.items():
        got = getattr(step, k)
        if k in ("steering", "path_end", "tracked", "bearing"):
            assert (f32_bits(got) == f32_bits(v)).all(), (k, got, v)
        else:
            assert got == v, (k, got, v)


def test_goal_step_is_the_planner_sequence():
    scans = [room_scan(person=(0.7 + 0.1 * k, 0.05 * k)) for k in range(6)] + [no_path_scan()]
    with scanpilot.Pilot(goal=(1.6, 0.4)) as p:
        steps = [p.step(s) for s in scans]
    cell = (scanpilot.metres_to_cell(0.4), scanpilot.metres_to_cell(1.6))
    hand = by_hand(scans, goal_cell=cell)
    assert any(s.reached for s in steps) and steps[-1].path_cells == 0
    for s, h in zip(steps, hand):
        assert_same(s, h)


@pytest.mark.parametrize("with_candidates", [False, True])
def test_follow_step_is_the_tracker_and_planner_sequence(with_candidates):
    # Away down a long room until the target is pulled in to 2.4 m.
    scans = walk(6) + [room_scan((1.2 + 0.1 * k, 0.2), room=(-1.5, 4.5, -1.2, 1.6)) for k in range(18)]
    cands = None
    if with_candidates:  # near where the tracker stood before each scan: they pass its gate
        with scanpilot.Pilot(mode="follow", follow_distance=0.9) as p:
            track = [(0.9, 0.0)] + [p.step(s).tracked for s in scans]
        cands = [(x + 0.02, y + 0.01) for x, y in track[:-1]]
    with scanpilot.Pilot(mode="follow", follow_distance=0.9) as p:
        steps = [p.step(s, candidate=cands[k] if cands else None) for k, s in enumerate(scans)]
    hand = by_hand(scans, follow=0.9, candidates=cands)
    assert any(s.candidate_passed for s in steps) == with_candidates
    assert any(math.hypot(*s.tracked) > 2.4 for s in steps) and all(s.target for s in steps)
    for s, h in zip(steps, hand):
        assert_same(s, h)


def test_one_by_one_calls_are_refused_while_a_pilot_is_live():
    scan = room_scan()
    calls = [scanpilot.init_helper, lambda: scanpilot.set_ranges(scan), scanpilot.out_line,
             lambda: scanpilot.set_target(50, 60), scanpilot.get_helper_num, lambda: scanpilot.thredhold(1.0),
             lambda: scanpilot.filter(1.0, 0.0, scan), scanpilot.print_path, lambda: scanpilot.chk_target(1, 1)]
    with scanpilot.Pilot() as p:
        want = p.step(scan).to_json()
        for call in calls:
            with pytest.raises(RuntimeError, match="Pilot is live"):
                call()
        assert scanpilot.cal_angle(1.0, 1.0) == np.float32(math.pi / 4)  # pure: allowed
        assert p.step(scan).to_json() == want  # nothing reached the planner
    scanpilot.init_helper()


def test_print_path_lands_between_pythons_own_lines():
    code = ("import numpy as np, scanpilot as s\n"
            "s.init_helper(); s.set_ranges(np.full(360, np.inf, np.float32)); s.set_target(50, 54)\n"
            "s.out_line(); print('before'); s.print_path(); print('after', s.get_helper_num())\n")
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True).stdout
    lines = out.splitlines()
    assert lines[0] == "before" and lines[1].startswith("-----") and lines[-1] == "after 4"
    assert lines[2:-1] == ["loc_path [%d] - (50 , %d)" % (i, 51 + i) for i in range(4)]


def test_tracker_candidate_near_the_track_comes_back_unchanged():
    scan = room_scan(person=(1.0, 0.0))
    scanpilot.thredhold(1.0)
    assert scanpilot.filter(1.05, 0.02, scan) == (float(np.float32(1.05)), float(np.float32(0.02)))
    ax, ay = scanpilot.filter(1.5, 0.5, scan)  # too far from the track: the scan average near it
    assert 0.8 < ax < 1.0 and abs(ay) < 0.05
    with pytest.raises(ValueError, match="360"):
        scanpilot.filter(1.0, 0.0, scan[:271])
