# SPDX-License-Identifier: BSD-3-Clause
"""Scenes for the module's tests: a robot in a rectangular room, with a person."""
import math

import numpy as np
import pytest

import scanpilot


def pytest_report_header(config):
    return "scanpilot %s from %s" % (scanpilot.__version__, scanpilot.__file__)


def pytest_sessionfinish(session, exitstatus):
    """A run whose every case was skipped is a skipped test for ctest: status 77
    and a "SKIPPED: why" line, since pytest itself would call it a pass."""
    reporter = session.config.pluginmanager.get_plugin("terminalreporter")
    if reporter is None or exitstatus not in (0, 5):  # 5: a module-level skip collects nothing
        return
    skipped = reporter.stats.get("skipped", [])
    if not skipped or any(reporter.stats.get(k) for k in ("passed", "failed", "error", "xfailed", "xpassed")):
        return
    why = skipped[0].longrepr[2] if isinstance(skipped[0].longrepr, tuple) else str(skipped[0].longrepr)
    reporter.write_line("SKIPPED: every case: " + why.replace("Skipped: ", "", 1))
    session.exitstatus = 77


def room_scan(person=(1.0, 0.0), person_radius=0.18, room=(-1.5, 2.2, -1.2, 1.6)):
    """360 readings (index = degree, X = -d cos i, Y = -d sin i) from the robot at
    the origin in a room spanning X in room[0:2] and Y in room[2:4], with a disc
    of person_radius at `person` (None: nobody)."""
    out = np.empty(360, np.float32)
    for i in range(360):
        dx, dy = -math.cos(math.radians(i)), -math.sin(math.radians(i))
        best = math.inf
        for d, lo, hi in ((dx, room[0], room[1]), (dy, room[2], room[3])):
            if d > 1e-12:
                best = min(best, hi / d)
            elif d < -1e-12:
                best = min(best, lo / d)
        if person is not None:
            b = -(person[0] * dx + person[1] * dy)
            c = person[0] ** 2 + person[1] ** 2 - person_radius ** 2
            disc = b * b - c
            if disc >= 0 and -b - math.sqrt(disc) > 0:
                best = min(best, -b - math.sqrt(disc))
        out[i] = best
    return out


def walk(n, start=(1.0, 0.0), step=(0.02, 0.015)):
    """A person walking slowly away to the left, one scan per position."""
    return [room_scan((start[0] + k * step[0], start[1] + k * step[1])) for k in range(n)]


# Returns whose inflated disks cover the whole grid, so that the walk cannot take
# a step ('.' none, else 0.05 m * (c - '0')); the same scene as test_scanpilot.cpp.
COVER = ('0=JWM_.I.......<...e\\Ub..O.......dM..\\`h.DWpl..o.W..b....g.O.6...W[b......G..=..^.S._.......R....\\..I.....`..C...Td...a...Q.m^....KgYp..o.j\\>IW..ag@..S..a...S..^a....H.L.....U.^^.............\\`.MV?H....;b..`....[.kTj...gP`...pHk.\\..ZhF.Lg....R...`.._....>......Y_DKR...........b\\.......U.:O..cJ_....C..i[...fVc.r.RZT.m.._..Lh...HC....Wba......T..O..\\_.........')


def no_path_scan():
    return np.array([np.inf if c == "." else np.float32(0.05) * np.float32(ord(c) - 48) for c in COVER], np.float32)


def f32_bits(v):
    return np.float32(v).view(np.uint32)


@pytest.fixture
def scenes():
    return walk(12)
