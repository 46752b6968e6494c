# SPDX-License-Identifier: BSD-3-Clause
"""From one range scan to one drive command: the scanpilot libraries in Python.

    import numpy as np
    import scanpilot

    with scanpilot.Pilot(goal=(1.5, 0.5), min_range=0.1) as pilot:
        scan = np.full(360, np.inf, dtype=np.float32)   # index = degree, 180 ahead, metres
        step = pilot.step(scan)
        drive(step.speed, step.turn_rate)

Pilot runs the tracker, the planner and a guarded controller once per scan
(scanpilot.h). The planner's and the tracker's calls are here one by one as
well (init_helper, set_ranges, out_line, ..., thredhold, filter), for use
while no Pilot is live, and so are the scanbin conversions (bin_even_scan,
bin_samples, bin_laser_scan).

Arrays: any 1-D array of real numbers (numpy array, list, ...). float32 is
used as it is; other float types and integer types are converted to
float32 (a copy, rounded to nearest as numpy casts). Booleans, complex,
object and string arrays, and any other shape or length, raise ValueError.
The caller's array is never modified: the libraries work on a copy.

The process has one planner and one tracker: one Pilot may be live at a
time, and the one-by-one calls raise RuntimeError while it is. The calls
hold a lock around them, and the planning pass (the steps, out_line,
set_ranges, read_pass) and the conversions run without the GIL.
"""
from ._scanpilot import (
    GRID_CELLS,
    MAX_BORDER,
    READINGS,
    STEP_FIELDS,
    Pass,
    Pilot,
    Step,
    __version__,
    bin_even_scan,
    bin_laser_scan,
    bin_samples,
    cal_angle,
    cal_point_cost,
    chk_target,
    clear_obst,
    clear_target,
    default_config,
    filter,
    get_face_x,
    get_face_y,
    get_fix_x,
    get_fix_y,
    get_helper_num,
    init_helper,
    metres_to_cell,
    out_line,
    path_grow,
    print_path,
    set_back,
    set_border,
    set_obst,
    set_ranges,
    set_target,
    show_map,
    start_pos,
    thredhold,
)

# `filter` is left out of the star-import so that it does not hide the builtin.
__all__ = [
    "GRID_CELLS", "MAX_BORDER", "READINGS", "STEP_FIELDS", "Pass", "Pilot", "Step", "bin_even_scan",
    "bin_laser_scan", "bin_samples", "cal_angle", "cal_point_cost", "chk_target", "clear_obst", "clear_target",
    "default_config", "get_face_x", "get_face_y", "get_fix_x", "get_fix_y", "get_helper_num", "init_helper",
    "metres_to_cell", "out_line", "path_grow", "print_path", "set_back", "set_border", "set_obst", "set_ranges",
    "set_target", "show_map", "start_pos", "thredhold",
]

# The map simulator, when the module was built with it (scansim: yaml-cpp and libpng).
try:
    from ._scanpilot import SimMap, SimWorld, window_goal
    __all__ += ["SimMap", "SimWorld", "window_goal"]
except ImportError:
    pass
