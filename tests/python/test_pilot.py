# SPDX-License-Identifier: BSD-3-Clause
"""The Pilot from Python: configuration, life, bad input, and the step's own views."""
import ast
import gc
import json
import math
import threading
import time
import warnings
from pathlib import Path

import numpy as np
import pytest

import scanpilot
from conftest import f32_bits, no_path_scan, room_scan, walk

# Keys whose numbers are float32 (the rest are double), from the field list itself.
FLOAT32_KEYS = {k for k, kind in scanpilot.STEP_FIELDS if kind in ("Float", "Point")}


def test_config_keywords_round_trip_and_defaults_are_the_librarys():
    assert scanpilot.default_config()["robot_radius"] == 0.2
    assert scanpilot.default_config()["goal"] == (1.0, 0.0)
    assert scanpilot.default_config("follow")["follow_distance"] == np.float32(1.0)
    custom = dict(mode="follow", follow_distance=0.85, zero_deg=37.5, clockwise=True, units="mm",
                  min_range=0.1, mount_yaw_deg=180.0, upside_down=True, robot_radius=0.25, margin=0.1,
                  max_speed=0.3, max_turn_rate=0.9, period=0.05, turn_gain=2.0, guard_margin=0.1)
    with scanpilot.Pilot(**custom) as p:
        cfg = p.config
        assert cfg["range_scale"] == 0.001 and cfg["min_range"] == float(np.float32(0.1))
        assert cfg["follow_distance"] == float(np.float32(0.85))
    with scanpilot.Pilot(**cfg) as again:
        assert again.config == cfg
    with scanpilot.Pilot(goal_cell=(40, 90)) as p:
        assert p.config["goal_cell"] == (40, 90) and "goal" not in p.config


def test_stubs_name_what_the_module_has_with_the_librarys_defaults():
    stub = Path(scanpilot.__file__).with_name("__init__.pyi")
    tree = ast.parse(stub.read_text())
    top = {n.name for n in tree.body if isinstance(n, (ast.FunctionDef, ast.ClassDef))}
    public = {k for k, v in vars(scanpilot).items() if not k.startswith("_") and callable(v)}
    assert top == public
    for cls in (n for n in tree.body if isinstance(n, ast.ClassDef)):
        members = {n.name for n in cls.body if isinstance(n, ast.FunctionDef)}
        members |= {n.target.id for n in cls.body if isinstance(n, ast.AnnAssign)}
        real = {k for k in dir(getattr(scanpilot, cls.name)) if not k.startswith("_")}
        assert members - {"__init__", "__enter__", "__exit__"} == real, cls.name
    pilot = next(n for n in tree.body if isinstance(n, ast.ClassDef) and n.name == "Pilot")
    init = next(n for n in pilot.body if isinstance(n, ast.FunctionDef) and n.name == "__init__")
    names = [a.arg for a in init.args.kwonlyargs]
    defaults = {a.arg: ast.literal_eval(d) if not isinstance(d, ast.Call) else math.inf
                for a, d in zip(init.args.kwonlyargs, init.args.kw_defaults) if not
                (isinstance(d, ast.Constant) and d.value is Ellipsis)}
    lib = {**scanpilot.default_config("follow"), **scanpilot.default_config("goal")}
    assert set(names) == set(lib) | {"goal_cell", "units"}
    for k, v in defaults.items():
        if k in lib:
            assert lib[k] == pytest.approx(v, rel=1e-7), k


@pytest.mark.parametrize("kw, word", [
    (dict(speed=1.0), "speed"), (dict(mode="walk"), "mode"), (dict(robot_radius="0.2"), "robot_radius"),
    (dict(robot_radius=True), "robot_radius"), (dict(clockwise=1), "clockwise"), (dict(goal=(1, 2, 3)), "goal"),
    (dict(goal_cell=(50.5, 70)), "goal_cell"), (dict(goal=(1, 0), goal_cell=(50, 70)), "not both"),
    (dict(mode="follow", goal=(1, 0)), "goal"), (dict(follow_distance=1.0), "follow"),
    (dict(units="cm"), "units"), (dict(units="mm", range_scale=0.001), "not both"),
    (dict(goal=(10.0, 0.0)), "grid"), (dict(goal_cell=(2 ** 40, 50)), "grid"),
    (dict(robot_radius=-0.1), "radius"), (dict(robot_radius=0.4, margin=0.2), "radius"),
    (dict(min_range=2.0, max_range=1.0), "layout"), (dict(zero_deg=math.nan), "layout"),
    (dict(mode="follow", follow_distance=0.0), "follow"), (dict(mode="follow", follow_distance=1e300), "follow"),
    (dict(max_speed=math.nan), "speed"), (dict(period=0.0), "period"), (dict(turn_gain=-1.0), "gains"),
])
def test_bad_configuration_is_a_value_error_naming_it_and_claims_nothing(kw, word):
    with pytest.raises(ValueError, match=word):
        scanpilot.Pilot(**kw)
    with scanpilot.Pilot() as p:  # nothing was left claimed
        assert p.live


def test_one_live_pilot_per_process():
    first = scanpilot.Pilot()
    with pytest.raises(RuntimeError, match="another pilot is live"):
        scanpilot.Pilot(mode="follow")
    assert not first.step(room_scan()).bad_input  # untouched by the refused one
    first.close()
    first.close()
    with pytest.raises(RuntimeError, match="closed"):
        first.step(room_scan())
    with pytest.raises(RuntimeError, match="closed"):
        first.read_pass()
    second = scanpilot.Pilot()
    del second  # garbage collection releases it
    gc.collect()
    with pytest.raises(ZeroDivisionError):
        with scanpilot.Pilot():
            1 / 0
    scanpilot.Pilot().close()


@pytest.mark.parametrize("bad, word", [
    (np.zeros((2, 180), np.float32), r"shape \(2, 180\)"), (np.zeros(359, np.float32), "359"),
    (np.float32(1.0), r"shape \(\)"), (np.zeros(360, bool), "dtype bool"),
    (np.zeros(360, np.complex64), "complex64"), ([1.0] * 359 + [None], "dtype object"),
    (["1"] * 360, "dtype <U1"), ("abc", "dtype <U3"), ([1.0, [2.0, 3.0]], "array of numbers, got list"),
])
def test_bad_arrays_are_value_errors_naming_the_problem(bad, word):
    with scanpilot.Pilot() as p:
        with pytest.raises(ValueError, match="scan: .*" + word):
            p.step(bad)
        with pytest.raises(ValueError, match="angles_deg and ranges differ"):
            p.step_samples(np.zeros(3), np.zeros(4))
        for cand in [(1.0,), "ab", (1.0, "x")]:
            with pytest.raises(ValueError, match="candidate"):
                p.step(room_scan(), candidate=cand)


def test_other_numeric_types_convert_like_numpy_and_give_the_same_step():
    scan = room_scan()
    with scanpilot.Pilot() as p:
        want = p.step(scan).to_json()
        for variant in (scan.astype(np.float64), scan.tolist(), np.repeat(scan, 2)[::2],
                        scan.astype(">f4"), scan.astype(np.float16).astype(np.float64)):
            got = p.step(variant)
            expect = np.asarray(variant, np.float64).astype(np.float32)
            assert p.readings.tobytes() == expect.tobytes()
            if expect.tobytes() == scan.tobytes():
                assert got.to_json() == want
        mm = np.array([1000, 2000, 0, 1500] * 90, np.int32)
        p.step_even_turn(mm)
        # The step marks the zero ranges unseen (NaN) where bin_even_scan says no return.
        got = p.readings
        assert np.count_nonzero(np.isnan(got)) == 90
        assert np.array_equal(np.where(np.isnan(got), np.inf, got), scanpilot.bin_even_scan(mm.astype(np.float32)))


def test_numbers_beyond_float_range_become_inf_with_numpys_warning():
    huge = np.full(360, 1e300)
    with scanpilot.Pilot() as p:
        with pytest.warns(RuntimeWarning, match="overflow"):
            p.step(huge)
        assert np.isposinf(p.readings).all()
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            with pytest.raises(RuntimeWarning, match="overflow"):
                p.step(huge)


def test_callers_arrays_are_never_written():
    odd = room_scan()
    odd[::7] = np.nan
    odd[3], odd[5], odd[11] = -0.0, -1.0, 0.0
    odd.view(np.uint32)[13] = 0x7FC0BEEF  # a NaN with a payload
    angles = np.linspace(0, 359, 360, dtype=np.float32)
    before = odd.tobytes(), angles.tobytes()
    with scanpilot.Pilot(mode="follow") as p:
        p.step(odd, candidate=(1.0, 0.0))
        p.step_samples(angles, odd)
        p.step_even_turn(odd)
        p.step_laser_scan(-3.1, 0.0174, odd, 0.0, 10.0)
        p.readings[:] = 5.0  # a copy: the pilot's readings stay
        assert p.readings.tobytes() != np.full(360, 5.0, np.float32).tobytes()
    scanpilot.init_helper()
    scanpilot.set_ranges(odd)
    scanpilot.thredhold(1.0)
    scanpilot.filter(1.0, 0.0, odd)
    scanpilot.bin_samples(angles, odd)
    scanpilot.bin_even_scan(odd)
    scanpilot.bin_laser_scan(-3.1, 0.0174, odd, 0.0, 10.0)
    assert (odd.tobytes(), angles.tobytes()) == before


def test_unusable_input_is_a_stop_not_a_crash():
    nan = np.full(360, np.nan, np.float32)
    with scanpilot.Pilot(mode="follow") as p:
        for s in (p.step(nan), p.step_samples([], []), p.step_even_turn(np.array([], np.float32)),
                  p.step_laser_scan(math.nan, 0.01, nan, 0.0, 10.0), p.step_laser_scan(0.0, 0.01, nan, 2.0, 1.0)):
            assert s.bad_input and s.stopped and s.speed == 0.0 and s.turn_rate == 0.0
        # A turn of nothing but NaN is garbage, not free space; one NaN among
        # good ranges is just no return there.
        for s in (p.step_even_turn(nan), p.step_samples(np.arange(360, dtype=np.float32), nan),
                  p.step_laser_scan(0.0, 0.01, nan, 0.0, 10.0)):
            assert s.bad_input and s.stopped and s.speed == 0.0
        some = np.full(360, 2.0, np.float32)
        some[7] = np.nan
        assert not p.step_even_turn(some).bad_input


def same(a, b, f32):
    """Equal as JSON values, numbers bit for bit (float32 keys as float32)."""
    if a is None or b is None or isinstance(a, bool) or isinstance(b, bool):
        return a is b
    if isinstance(a, dict):
        return list(a) == list(b) and all(same(a[k], b[k], f32) for k in a)
    if isinstance(a, (list, tuple)):
        return len(a) == len(b) and all(same(x, y, f32) for x, y in zip(a, b))
    if isinstance(a, (int, str)):
        return a == b
    if f32:
        return float(np.float32(a)) == a and f32_bits(a) == f32_bits(b)
    return np.float64(a).view(np.uint64) == np.float64(b).view(np.uint64)


def json_like(attr, like):
    """An attribute in to_dict's form: points as dicts, NaN as None."""
    if isinstance(attr, float) and not math.isfinite(attr):
        return None
    if isinstance(like, dict):
        return {k: json_like(x, None) for k, x in zip(like, attr)}
    return list(attr) if isinstance(like, list) else attr


def check_step_views(step, scan_number):
    """to_dict is PilotStepJson's object, bit for bit, and the attributes say the same."""
    line = json.loads(step.to_json(scan=scan_number), parse_int=float)  # keeps "-0" negative
    assert line.pop("schema") == 1 and line.pop("scan") == scan_number
    d = step.to_dict()
    assert list(d) == list(line) == [k for k, _ in scanpilot.STEP_FIELDS]
    for k, v in d.items():
        assert same(v, line[k], k in FLOAT32_KEYS), (k, v, line[k])
        assert same(json_like(getattr(step, k), v), v, k in FLOAT32_KEYS), k


def test_step_views_agree_with_the_library_json_in_every_kind_of_step():
    blocked = room_scan(person=(1.0, 0.0))
    walled = no_path_scan()
    with scanpilot.Pilot(goal=(1.0, 0.0)) as p:
        steps = [p.step(room_scan(person=None)), p.step(blocked), p.step(walled), p.step(np.full(360, np.nan))]
    assert steps[0].reached and steps[1].target_blocked and steps[2].path_cells == 0 and steps[3].bad_input
    with scanpilot.Pilot(mode="follow") as p:
        steps += [p.step(s, candidate=(1.0 + 0.01 * k, 0.0)) for k, s in enumerate(walk(4))]
        steps.append(p.step(room_scan(person=None)))  # the person is gone
    assert steps[4].candidate_passed and steps[-1].lost
    for n, s in enumerate(steps):
        check_step_views(s, n * 1000003)


def test_read_pass_is_the_planners_grid_row_by_column():
    with scanpilot.Pilot(goal=(1.2, -0.6)) as p:
        with pytest.raises(RuntimeError, match="no step"):
            p.read_pass()
        assert p.readings is None
        step = p.step(room_scan(person=(0.6, 0.1)))
        ps = p.read_pass()
    assert ps.consistent and ps.start == (50, 50)
    assert ps.blocked.shape == ps.attraction.shape == (100, 100) and ps.blocked.dtype == np.uint8
    assert ps.path.shape == (step.path_cells, 2)
    col, row = ps.path[-1]
    assert (np.float32((row - 50) * 0.05), np.float32((col - 50) * 0.05)) == step.path_end
    assert ps.attraction[step.target[1], step.target[0]] == 255
    # The planner keeps the read-back pass: each cell as ChkTarget sees it.
    free = np.array([[scanpilot.chk_target(c, r) for c in range(100)] for r in range(100)])
    assert np.array_equal(ps.blocked == 1, ~free)


def test_goal_and_tracker_can_change_between_steps():
    scan = room_scan(person=None)
    with scanpilot.Pilot(goal=(1.0, 0.0)) as p:
        p.set_goal(goal_cell=(30, 60))
        assert p.step(scan).target == (30, 60)
        with pytest.raises(ValueError, match="grid"):
            p.set_goal(goal=(0.0, 9.0))
        with pytest.raises(ValueError, match="follow"):
            p.restart_tracker(1.0)
    scenes = walk(3, start=(1.5, 0.0))
    with scanpilot.Pilot(mode="follow", follow_distance=1.5) as fresh:
        want = [fresh.step(s).to_json() for s in scenes]
    with scanpilot.Pilot(mode="follow") as p:
        p.step(room_scan())
        p.restart_tracker(1.5)
        assert [p.step(s).to_json() for s in scenes] == want
        with pytest.raises(ValueError, match="follow distance"):
            p.restart_tracker(-1.0)
        with pytest.raises(ValueError, match="goal"):
            p.set_goal(goal=(1.0, 0.0))


def test_a_closed_pilot_has_no_readings_to_give():
    p = scanpilot.Pilot()
    p.step(room_scan())
    assert p.readings.shape == (360,)
    p.close()
    with pytest.raises(RuntimeError, match="closed"):
        p.readings


def test_masked_readings_are_unseen_not_the_values_under_the_mask():
    free = np.full(360, np.inf, np.float32)
    with scanpilot.Pilot(goal=(1.5, 0.0)) as p:
        assert p.step(free).speed == 0.5
        ahead = np.ma.masked_array(free, mask=np.zeros(360, bool))
        ahead.mask[170:191] = True  # "no return" underneath: free space if the mask were ignored
        step = p.step(ahead)
        assert (step.speed, step.reason, step.unseen_held) == (0.0, "unseen", True)
        assert np.isnan(p.readings[170:191]).all() and np.isposinf(p.readings[:170]).all()
        gone = p.step(np.ma.masked_all(360, np.float32))
        assert (gone.speed, gone.turn_rate, gone.reason, gone.seen) == (0.0, 0.0, "low_coverage", 0)
        # Samples too: a masked sample says nothing of its degree.
        mm = np.ma.masked_array(np.full(360, 3000, np.int32), mask=np.arange(360) % 2 == 0)
        p2 = p.step_samples(np.arange(360, dtype=np.float32), mm)
        assert p2.seen == 180 and p2.reason == "low_coverage"


def test_close_racing_a_step_raises_as_after_close_and_never_returns_a_stop():
    # A step that passed the live check before close() took the lock used to
    # come back as a bad_input stop; it must raise like any step after close().
    scan = room_scan(person=None)
    outcomes = []
    for _ in range(20):
        p = scanpilot.Pilot()
        steps, ended = [], []

        def stepper():
            try:
                while True:
                    steps.append(p.step(scan))
            except RuntimeError as e:
                ended.append(str(e))

        t = threading.Thread(target=stepper)
        t.start()
        time.sleep(0.002)
        p.close()
        t.join()
        assert ended and "closed" in ended[0]
        assert not any(s.bad_input for s in steps)
        outcomes.append(len(steps))
    assert sum(outcomes) > 0
