# SPDX-License-Identifier: BSD-3-Clause
"""Type stubs of the scanpilot module (the compiled part is scanpilot._scanpilot)."""
from types import TracebackType
from typing import Any, Dict, Literal, Optional, Sequence, Tuple, Union

import numpy as np
import numpy.typing as npt

__version__: str
GRID_CELLS: int  # 100 cells per side, 0.05 m each, robot on (50, 50)
READINGS: int  # 360 readings per scan
MAX_BORDER: float  # robot_radius + margin may not exceed it (m)
# Step.to_dict's keys in order, each with its kind: "Bool", "Int", "Float",
# "Double", "Point", "Cell", "Command" or "Reason" (docs/json.md).
STEP_FIELDS: Tuple[Tuple[str, str], ...]

# A 1-D array of real numbers; float32 is taken as it is, other floats and
# integers are converted (a copy). Never modified.
ArrayLike = Union[npt.NDArray[Any], Sequence[float]]
Point = Tuple[float, float]  # (x, y) metres: X ahead, Y left
Cell = Tuple[int, int]  # (col, row), 0..99

class Step:
    """What one pilot step did; values are the C++ PilotStep's, bit for bit."""

    @property
    def reached(self) -> bool: ...
    @property
    def path_cells(self) -> int: ...
    @property
    def steering(self) -> Point: ...
    @property
    def path_end(self) -> Point: ...
    @property
    def bearing(self) -> float: ...  # radians, float32 value; NaN for none
    @property
    def bearing_rad(self) -> float: ...  # = bearing
    @property
    def bearing_deg(self) -> float: ...
    @property
    def has_tracked(self) -> bool: ...
    @property
    def tracked(self) -> Optional[Point]: ...  # follow mode only
    @property
    def candidate_passed(self) -> bool: ...
    @property
    def tracked_cell(self) -> Optional[Cell]: ...  # follow mode only
    @property
    def has_target(self) -> bool: ...
    @property
    def target(self) -> Optional[Cell]: ...
    @property
    def target_cell(self) -> Optional[Cell]: ...  # = target
    @property
    def target_blocked(self) -> bool: ...
    @property
    def command(self) -> Tuple[float, float]: ...  # (speed, turn_rate)
    @property
    def speed(self) -> float: ...  # m/s, >= 0
    @property
    def turn_rate(self) -> float: ...  # rad/s, positive turns left
    @property
    def returns_inside_robot(self) -> int: ...
    @property
    def lost(self) -> bool: ...
    @property
    def no_free_target(self) -> bool: ...
    @property
    def no_path(self) -> bool: ...
    @property
    def bad_input(self) -> bool: ...
    @property
    def guard_stopped(self) -> bool: ...
    @property
    def seen(self) -> int: ...
    @property
    def seen_front(self) -> int: ...
    @property
    def near(self) -> int: ...
    @property
    def low_coverage(self) -> bool: ...
    @property
    def unseen_held(self) -> bool: ...
    @property
    def reason(self) -> str:
        """'driving', or why the speed is zero: 'bad_input', 'low_coverage', 'lost', 'no_path', 'guard', 'unseen',
        'near', 'turning', 'arrived', 'recovery', 'not_live'."""
    @property
    def route_found(self) -> bool: ...
    @property
    def route_cells(self) -> int: ...
    @property
    def lookahead(self) -> Optional[Point]: ...
    @property
    def scan_clearance(self) -> float: ...
    @property
    def recovering(self) -> bool: ...
    @property
    def stopped(self) -> bool: ...
    def to_dict(self) -> Dict[str, Any]:
        """PilotStepJson's object without "schema" and "scan"; None for non-finite numbers."""
    def to_json(self, scan: int = 0) -> str:
        """The line PilotStepJson writes for this step (no line end)."""

class Pass:
    """The pilot's last pass, read back (Pilot.read_pass)."""

    blocked: npt.NDArray[np.uint8]  # [row, col], 100 x 100; 1 inside an inflated return
    attraction: npt.NDArray[np.uint8]  # [row, col], 100 x 100; 255 on target cells, 0 when blocked
    path: npt.NDArray[np.int32]  # N x 2 (col, row), walking order, start excluded
    start: Cell
    consistent: bool

class Pilot:
    """From one range scan to one drive command (scanpilot.h). One live Pilot per process."""

    def __init__(
        self,
        *,
        mode: Literal["goal", "follow"] = "goal",
        goal: Point = (1.0, 0.0),
        goal_cell: Cell = ...,
        follow_distance: float = 1.0,
        zero_deg: float = 0.0,
        clockwise: bool = False,
        range_scale: float = 1.0,
        units: Literal["m", "mm"] = "m",
        min_range: float = 0.0,
        max_range: float = float("inf"),
        mount_yaw_deg: float = 0.0,
        upside_down: bool = False,
        robot_radius: float = 0.2,
        margin: float = 0.15,
        max_speed: float = 0.5,
        max_turn_rate: float = 1.2,
        period: float = 0.1,
        turn_gain: float = 2.5,
        drive_bearing: float = 1.0,
        min_steer: float = 0.1,
        approach_gain: float = 1.2,
        standoff: float = 0.4,
        min_face_distance: float = 0.05,
        guard_margin: float = 0.08,
        guard_floor: float = 0.02,
        lookahead: float = 0.6,
        clearance_cost: float = 2.0,
        slow_clearance: float = 0.1,
        recovery_time: float = 6.0,
    ) -> None:
        """ValueError for an unknown keyword or a bad value; RuntimeError while another Pilot is live."""
    def close(self) -> None: ...
    def __enter__(self) -> "Pilot": ...
    def __exit__(
        self,
        exc_type: Optional[type],
        exc: Optional[BaseException],
        tb: Optional[TracebackType],
    ) -> None: ...
    @property
    def live(self) -> bool: ...
    @property
    def config(self) -> Dict[str, Any]:
        """Keywords that make the same pilot: Pilot(**pilot.config)."""
    @property
    def readings(self) -> Optional[npt.NDArray[np.float32]]:
        """The 360 readings the last step gave the planner (a copy); None before a step; RuntimeError once closed."""
    def step(self, scan: ArrayLike, candidate: Optional[Point] = None) -> Step:
        """360 readings: index = degree, 180 ahead, 270 left, metres; NaN (or masked) unseen, +inf no return."""
    def step_samples(self, angles_deg: ArrayLike, ranges: ArrayLike, candidate: Optional[Point] = None) -> Step:
        """Explicit samples in sensor degrees and raw ranges, binned with the layout and mount."""
    def step_even_turn(self, ranges: ArrayLike, candidate: Optional[Point] = None) -> Step:
        """n evenly spaced raw ranges, the first at the sensor's 0 deg."""
    def step_laser_scan(
        self,
        angle_min: float,
        angle_increment: float,
        ranges: ArrayLike,
        range_min: float,
        range_max: float,
        candidate: Optional[Point] = None,
    ) -> Step:
        """A LaserScan's fields: radians counter-clockwise from ahead, metres."""
    def read_pass(self) -> Pass:
        """RuntimeError before the first step."""
    def set_goal(self, *, goal: Optional[Point] = None, goal_cell: Optional[Cell] = None) -> None: ...
    def restart_tracker(self, distance: float) -> None: ...

def default_config(mode: Literal["goal", "follow"] = "goal") -> Dict[str, Any]: ...
def metres_to_cell(metres: float) -> int: ...

# The planner (pathgrid.h), one call each; RuntimeError while a Pilot is live.
def init_helper() -> None: ...
def set_border(border: float) -> None: ...
def set_ranges(scan: ArrayLike) -> None: ...
def set_obst(x: int, y: int) -> None: ...
def clear_obst() -> None: ...
def set_target(x: int, y: int) -> None: ...
def clear_target() -> None: ...
def set_back(x: int, y: int) -> None: ...
def chk_target(x: int, y: int) -> bool: ...
def out_line() -> bool: ...
def path_grow() -> bool: ...
def start_pos() -> None: ...
def cal_point_cost(x: int, y: int) -> int: ...
def show_map() -> None: ...
def get_helper_num() -> int: ...
def get_fix_x() -> float: ...
def get_fix_y() -> float: ...
def get_face_x() -> float: ...
def get_face_y() -> float: ...
def cal_angle(a: float, b: float) -> float:
    """Pure: allowed while a Pilot is live."""
def print_path() -> None:
    """Writes to the C library's stdout (file descriptor 1), flushed; not to sys.stdout."""

# The tracker (scanfollow.h).
def thredhold(x: float) -> None: ...
def filter(x: float, y: float, scan: ArrayLike) -> Tuple[float, float]: ...

# The conversions (scanbin.h): 360 float32 readings; ValueError when scanbin refuses the arguments.
def bin_even_scan(
    ranges: ArrayLike,
    *,
    zero_deg: float = 0.0,
    clockwise: bool = False,
    range_scale: float = 1.0,
    units: Literal["m", "mm"] = "m",
    min_range: float = 0.0,
    max_range: float = float("inf"),
) -> npt.NDArray[np.float32]: ...
def bin_samples(
    angles_deg: ArrayLike,
    ranges: ArrayLike,
    *,
    zero_deg: float = 0.0,
    clockwise: bool = False,
    range_scale: float = 1.0,
    units: Literal["m", "mm"] = "m",
    min_range: float = 0.0,
    max_range: float = float("inf"),
) -> npt.NDArray[np.float32]: ...
def bin_laser_scan(
    angle_min: float, angle_increment: float, ranges: ArrayLike, range_min: float, range_max: float
) -> npt.NDArray[np.float32]: ...

# The map simulator (absent from a module built without scansim).
class SimMap:
    """A map_server map (YAML with an 8-bit PGM or PNG); unknown and outside are walls unless open_unknown."""
    def __init__(self, yaml_path: str, open_unknown: bool = False) -> None: ...
    @property
    def width(self) -> int: ...
    @property
    def height(self) -> int: ...
    @property
    def resolution(self) -> float: ...
    @property
    def origin(self) -> Tuple[float, float, float]: ...
    def free(self, x: float, y: float) -> bool: ...
    def cast(self, x: float, y: float, heading: float, max_range: float = 12.0) -> float: ...
    def wall_distance(self, x: float, y: float, limit: float = 5.0) -> float: ...

class SimWorld:
    """A disc robot, its scanner and a walking person on a SimMap."""
    def __init__(self, map: SimMap, *, start: Tuple[float, float, float], seed: int = 7, **config: float) -> None: ...
    def set_route(self, route: Sequence[Tuple[float, float]]) -> None: ...
    def scan(self) -> npt.NDArray[np.float32]: ...
    def scan_turn(self, n: int) -> npt.NDArray[np.float32]: ...
    def detect(self) -> Optional[Tuple[float, float]]: ...
    def move(self, speed: float, turn_rate: float, dt: float = 0.1) -> Dict[str, Any]: ...
    @property
    def pose(self) -> Tuple[float, float, float]: ...
    @property
    def time(self) -> float: ...
    @property
    def person(self) -> Optional[Tuple[float, float]]: ...
    @property
    def contact(self) -> Optional[Dict[str, Any]]: ...
    def clearance(self, limit: float = 5.0) -> float: ...
    def to_robot(self, x: float, y: float) -> Tuple[float, float]: ...

def window_goal(x: float, y: float) -> Tuple[float, float]: ...
