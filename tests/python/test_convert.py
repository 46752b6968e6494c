# SPDX-License-Identifier: BSD-3-Clause
"""scanbin's conversions from Python: known answers worked out from the binning rule."""
import math

import numpy as np
import pytest

import scanpilot

INF = np.float32(np.inf)


def only(**readings):
    """360 readings of +inf but the given ones (r180=1.0 -> index 180)."""
    out = np.full(360, INF)
    for k, v in readings.items():
        out[int(k[1:])] = v
    return out


def test_even_scan_counter_clockwise_and_clockwise():
    r = scanpilot.bin_even_scan(np.array([1, 2, 3, 4], np.float32))  # sensor 0, 90, 180, 270 deg
    assert r.dtype == np.float32 and r.shape == (360,)
    assert np.array_equal(r, only(r180=1, r270=2, r0=3, r90=4))
    # Zero at 37.5 deg left, clockwise: sample 1 (sensor 90) lies at bearing -52.5,
    # index floor(-52.5 + 180 + 0.5) = 128.
    r = scanpilot.bin_even_scan([1.0, 2.0, 3.0, 4.0], zero_deg=37.5, clockwise=True)
    assert np.array_equal(r, only(r218=1, r128=2, r38=3, r308=4))


def test_millimetres_limits_and_the_smallest_return_per_degree():
    r = scanpilot.bin_samples([0.0, 0.4, 90.0, 180.0, 200.0], [1234, 1000, 50, 0, 9000], units="mm",
                              min_range=0.1, max_range=8.0)
    # 1234 mm is the float nearest 1.234; 0 deg and 0.4 deg share index 180 (the nearer
    # wins); 50 mm is under min_range, 0 is no echo, 9 m is beyond max_range.
    assert np.array_equal(r, only(r180=np.float32(1.0)))
    r = scanpilot.bin_samples([0.0], [1234], range_scale=0.001)
    assert r[180] == np.float32(1.234) and np.isinf(np.delete(r, 180)).all()
    r = scanpilot.bin_samples([725.0, -0.5], [2.0, 3.0])  # 725 deg is 2 turns and 5 deg
    assert r[185] == 2.0 and r[180] == 3.0  # -0.5 + 180.5 = 180


def test_laser_scan_radians_counter_clockwise_from_ahead():
    r = scanpilot.bin_laser_scan(-math.pi / 2, math.pi / 2, [1.0, 2.0, 3.0, 0.05], 0.1, 10.0)
    assert np.array_equal(r, only(r90=1, r180=2, r270=3))


@pytest.mark.parametrize("call, word", [
    (lambda: scanpilot.bin_even_scan([]), "empty"),
    (lambda: scanpilot.bin_even_scan([1.0], range_scale=0.0), "range_scale"),
    (lambda: scanpilot.bin_even_scan([1.0], range_scale=math.inf), "range_scale"),
    (lambda: scanpilot.bin_even_scan([1.0], zero_deg=math.nan), "zero_deg"),
    (lambda: scanpilot.bin_samples([1.0], [1.0], min_range=math.nan), "NaN"),
    (lambda: scanpilot.bin_samples([1.0], [1.0], min_range=3.0, max_range=2.0), "exceed"),
    (lambda: scanpilot.bin_samples([1.0, 2.0], [1.0]), "differ in length"),
    (lambda: scanpilot.bin_even_scan([1.0], mount_yaw_deg=90.0), "mount_yaw_deg"),
    (lambda: scanpilot.bin_even_scan([1.0], units="km"), "units"),
    (lambda: scanpilot.bin_laser_scan(math.inf, 0.01, [1.0], 0.0, 1.0), "angle"),
    (lambda: scanpilot.bin_laser_scan(0.0, 0.01, [1.0], 2.0, 1.0), "exceed"),
    (lambda: scanpilot.bin_laser_scan(0.0, 0.01, [1.0], 0.0, math.nan), "NaN"),
    (lambda: scanpilot.bin_laser_scan(0.0, 0.01, [], 0.0, 1.0), "empty"),
    (lambda: scanpilot.bin_laser_scan(1e300, 0.01, [1.0], 0.0, 1.0), "angle"),  # float overflow: inf
])
def test_refused_arguments_raise_never_an_all_inf_array(call, word):
    with pytest.raises(ValueError, match=word):
        call()


def test_bad_samples_are_not_bad_arguments():
    r = scanpilot.bin_samples([math.nan, 10.0, math.inf], [1.0, math.nan, 1.0])
    assert np.isinf(r).all()
