# SPDX-License-Identifier: BSD-3-Clause
"""The map simulator from Python: the pilot driven round a BARN world, a
hand-written controller into a wall, and bad input."""
import math
import os

import numpy as np
import pytest

import scanpilot

if not hasattr(scanpilot, "SimWorld"):
    pytest.skip("the module was built without the map simulator", allow_module_level=True)

BARN = os.path.join(os.environ.get("SCANPILOT_SOURCE", os.path.join(os.path.dirname(__file__), "..", "..")),
                    "examples", "maps", "barn")


def drive_pilot(world_number, limit=100.0):
    """The pilot round a BARN world, as a Python user writes it; the poses it went through."""
    sim_map = scanpilot.SimMap(os.path.join(BARN, "barn_%d.yaml" % world_number))
    world = scanpilot.SimWorld(sim_map, start=(-2.25, 3.0, math.pi / 2), robot_radius=0.215)
    goal = (-2.25, 13.0)
    poses = [world.pose]
    with scanpilot.Pilot(robot_radius=0.215, margin=0.1) as pilot:
        while world.time < limit - 1e-9:
            scan = world.scan()
            pilot.set_goal(goal=scanpilot.window_goal(*world.to_robot(*goal)))
            step = pilot.step(scan)
            moved = world.move(step.speed, step.turn_rate)
            poses.append(world.pose)
            if moved["contact"] or math.dist(world.pose[:2], goal) <= 1.0:
                break
    return sim_map, world, poses, goal


def test_pilot_round_a_barn_world():
    sim_map, world, poses, goal = drive_pilot(5)
    assert world.contact is None
    assert math.dist(world.pose[:2], goal) <= 1.0, world.pose
    assert world.time < 40.0
    # Every pose clear of the walls by the robot's radius, checked with the map's own distance.
    for x, y, _ in poses:
        assert sim_map.wall_distance(x, y, 1.0) > 0.215
    # It drove forward: y grew by the 9 m to the goal's circle.
    assert poses[-1][1] - poses[0][1] > 8.9


def test_same_seed_same_scans_other_seed_other_noise():
    sim_map = scanpilot.SimMap(os.path.join(BARN, "barn_1.yaml"))
    make = lambda seed: scanpilot.SimWorld(sim_map, start=(-2.25, 1.5, 1.5), seed=seed, range_noise=0.01)
    a, b, c = make(1).scan(), make(1).scan(), make(2).scan()
    assert a.dtype == np.float32 and a.shape == (360,)
    assert np.array_equal(a, b)
    assert not np.array_equal(a, c)
    finite = np.isfinite(a) & np.isfinite(c)
    assert np.abs(a[finite] - c[finite]).max() < 0.1


def test_own_controller_into_a_wall_stops_at_contact():
    sim_map = scanpilot.SimMap(os.path.join(BARN, "barn_1.yaml"))
    # Straight down (-y) from inside the arena: its bottom wall lies ahead.
    ahead = sim_map.cast(-2.25, 1.5, -math.pi / 2)
    assert 1.0 < ahead < 2.0
    world = scanpilot.SimWorld(sim_map, start=(-2.25, 1.5, -math.pi / 2), robot_radius=0.2, max_speed=2.0)
    assert world.clearance() == pytest.approx(sim_map.wall_distance(-2.25, 1.5) - 0.2)
    contact = None
    for _ in range(20):
        contact = world.move(3.0, 0.0)["contact"]  # clipped to 2 m/s
        if contact:
            break
    assert contact["with"] == "wall"
    assert contact["robot"][1] == pytest.approx(1.5 - ahead + 0.2, abs=2e-4)
    assert world.contact == contact
    assert world.move(1.0, 0.0)["travelled"] == 0.0


def test_person_is_seen_and_detected():
    sim_map = scanpilot.SimMap(os.path.join(BARN, "barn_1.yaml"))
    world = scanpilot.SimWorld(sim_map, start=(-2.25, 1.5, 0.0), detector_noise=0.0)
    world.set_route([(-1.25, 1.5), (-1.25, 2.0)])
    scan = world.scan()
    assert scan[180] == pytest.approx(0.8, abs=1e-6)
    x, y = world.detect()
    assert x == pytest.approx(0.83, abs=0.05) and y == pytest.approx(0.0, abs=1e-6)
    assert world.person == (-1.25, 1.5)


def test_bad_input_raises_value_error_naming_it(tmp_path):
    with pytest.raises(ValueError, match="cannot open"):
        scanpilot.SimMap(str(tmp_path / "none.yaml"))
    (tmp_path / "m.yaml").write_text("image: m.pgm\nresolution: -1\norigin: [0, 0, 0]\nnegate: 0\n"
                                     "occupied_thresh: 0.65\nfree_thresh: 0.2\n")
    with pytest.raises(ValueError, match="m.yaml: key 'resolution' must be > 0"):
        scanpilot.SimMap(str(tmp_path / "m.yaml"))
    sim_map = scanpilot.SimMap(os.path.join(BARN, "barn_1.yaml"))
    with pytest.raises(ValueError, match="off the map"):
        scanpilot.SimWorld(sim_map, start=(50.0, 0.0, 0.0))
    with pytest.raises(ValueError, match="unknown keyword 'speed'"):
        scanpilot.SimWorld(sim_map, start=(-2.25, 1.5, 0.0), speed=1)
    world = scanpilot.SimWorld(sim_map, start=(-2.25, 1.5, 0.0))
    with pytest.raises(ValueError, match="empty"):
        world.set_route([])
