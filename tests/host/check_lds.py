#!/usr/bin/env python3
"""Checks robot-demo on a spinning scanner's raw serial stream (--format lds):
replays of generated captures against a model of the packet protocol and of
the binning rule computed here, and live runs over a pseudo-terminal.

usage: check_lds.py --demo ROBOT_DEMO --writer WRITE_LDS_STREAM --work DIR CASE
CASE: model | gates | stream | sigint | turns | stall
"""
import argparse
import json
import math
import os
import queue
import signal
import subprocess
import sys
import termios
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_json as cj  # noqa: E402  (shortest float texts)
import check_replay as cr  # noqa: E402  (the binning rule in exact arithmetic)

EMULATOR = cr.EMULATOR
fail = cr.fail
RECORD_HEADS = ("scan ", "turn ", "no complete turn")


# ---- the protocol, from its description ---------------------------------------

def checksum(p):
    c = 0
    for k in range(10):
        c = (c << 1) + (p[2 * k] | p[2 * k + 1] << 8)
    return ((c & 0x7FFF) + (c >> 15)) & 0x7FFF


def packets_of(data):
    """Good packets in stream order, checksum failures, skipped bytes. A start
    is 0xFA and an index byte; after a bad checksum the search goes on from
    the next byte; a start too near the end to be whole is left unread."""
    good, failures, skipped, i, n = [], 0, 0, 0, len(data)
    while i < n:
        if data[i] != 0xFA or (i + 1 < n and not 0xA0 <= data[i + 1] <= 0xF9):
            skipped += 1
            i += 1
        elif n - i < 22:
            break
        elif checksum(data[i:i + 22]) == data[i + 20] | data[i + 21] << 8:
            good.append(data[i:i + 22])
            i += 22
        else:
            failures += 1
            skipped += 1
            i += 1
    return good, failures, skipped


def turns_of(good):
    """Complete turns: a turn ends where the index does not grow. The last
    one's end is never seen, so it is not a turn yet."""
    turns, cur, last = [], None, None
    for p in good:
        idx = p[1] - 0xA0
        if cur is None or idx <= last:
            if cur is not None:
                turns.append(cur)
            cur = []
        cur.append(p)
        last = idx
    return turns


def samples_of(turn):
    out = []
    for p in turn:
        for j in range(4):
            b0, b1 = p[4 + 4 * j], p[5 + 4 * j]
            dist = b0 | (b1 & 0x3F) << 8
            raw = 0.0 if (b1 & 0x80) or dist == 0 else float(dist)
            out.append((float(4 * (p[1] - 0xA0) + j), raw))
    return out


def rpm_of(turn):
    return cr.f32_round((sum(p[2] | p[3] << 8 for p in turn) / 64.0) / len(turn))


class Scanner:
    """The scanner's own layout, its mount, and the gates of the run."""

    def __init__(self, zero=0.0, cw=False, yaw=0.0, upside=False, min_range=0.0, max_range=math.inf,
                 rpm=(200.0, 400.0), pct=90):
        self.zero, self.cw, self.yaw, self.upside = zero, cw, yaw, upside
        self.min_range, self.max_range, self.rpm, self.pct = min_range, max_range, rpm, pct

    def layout(self):
        sense = -1.0 if self.upside else 1.0
        zero = math.fmod(self.yaw, 360.0) + sense * math.fmod(self.zero, 360.0)
        return cr.Layout(zero=zero, clockwise=self.cw != self.upside, mm=True, min_range=self.min_range,
                         max_range=self.max_range)

    def args(self):
        a = ["--zero-at", repr(self.zero), "--mount-yaw", repr(self.yaw), "--rpm-range",
             "%r,%r" % self.rpm, "--min-packets", str(self.pct)]
        a += ["--clockwise"] if self.cw else []
        a += ["--upside-down"] if self.upside else []
        a += ["--min-range", repr(self.min_range)] if self.min_range > 0 else []
        a += ["--max-range", repr(self.max_range)] if self.max_range < math.inf else []
        return a


def model(data, sc):
    """Records (('scan', readings, turn, rpm, packets) or ('turn', k, reason,
    rpm, packets, limit)) and the summary counters."""
    good, failures, skipped = packets_of(data)
    need = (sc.pct * 90 + 99) // 100
    lay = sc.layout()
    records, planned_rpm = [], []
    for k, t in enumerate(turns_of(good)):
        rpm = rpm_of(t)
        if not rpm >= sc.rpm[0]:
            records.append(("turn", k, "slow", rpm, len(t), sc.rpm[0]))
        elif not rpm <= sc.rpm[1]:
            records.append(("turn", k, "fast", rpm, len(t), sc.rpm[1]))
        elif len(t) < need:
            records.append(("turn", k, "packets", rpm, len(t), need))
        else:
            records.append(("scan", cr.bin_turn(samples_of(t), lay), k, rpm, len(t)))
            planned_rpm.append(rpm)
    skips = [r for r in records if r[0] == "turn"]
    summary = {"bytes": len(data), "packets": len(good), "checksum_failures": failures, "skipped_bytes": skipped,
               "turns": len(records), "turns_planned": len(planned_rpm),
               "turns_not_planned": {"rpm": sum(1 for r in skips if r[2] != "packets"),
                                     "packets": sum(1 for r in skips if r[2] == "packets")},
               "stop_timeouts": 0,
               "rpm": None if not planned_rpm else
               {"min": min(planned_rpm), "mean": sum_in_order(planned_rpm) / len(planned_rpm),
                "max": max(planned_rpm)}}
    return records, summary


def sum_in_order(values):
    """In double, in turn order, as the program adds them."""
    s = 0.0
    for v in values:
        s += v
    return s


def stop_line(r):
    _, k, reason, rpm, packets, limit = r
    if reason == "packets":
        return "turn %d not planned: %d of 90 packets (below %d): stop" % (k, packets, limit)
    return "turn %d not planned: %.1f rpm (%s %g): stop" % (k, rpm, "below" if reason == "slow" else "above", limit)


# ---- running the programs ---------------------------------------------------

def run(cmd, want=0):
    p = subprocess.run(EMULATOR + cmd, capture_output=True, text=True, timeout=300)
    if p.returncode != want:
        fail("%s: status %d, want %d\nstderr: %s" % (" ".join(cmd), p.returncode, want, p.stderr))
    return p.stdout, p.stderr


def capture(a, name, args):
    path = os.path.join(a.work, name + ".bin")
    run([a.writer] + args + [path])
    with open(path, "rb") as f:
        return path, f.read()


def records_of(out):
    return [l for l in out.splitlines() if l.startswith(RECORD_HEADS)]


def floats(o):
    """Numbers parsed as text (parse_float=str) back to doubles."""
    if isinstance(o, dict):
        return {k: floats(v) for k, v in o.items()}
    if isinstance(o, list):
        return [floats(v) for v in o]
    return float(o) if isinstance(o, str) and o[:1] in "-0123456789" else o


def as_f32(obj, key):
    """A float field back to its float's value; its text must be the shortest that gives it."""
    tok = obj.get(key)
    if isinstance(tok, str):
        if not cj.shortest_f32_text_ok(tok):
            fail("%s %s is not the shortest text of a float" % (key, tok))
        obj[key] = cr.f32_round(float(tok))


def json_records(out):
    objs = []
    for line in out.splitlines():
        o = json.loads(line, parse_float=str)
        as_f32(o, "rpm")
        as_f32(o.get("skipped") or {}, "rpm")
        rpm = (o.get("summary") or {}).get("rpm")
        if rpm:
            as_f32(rpm, "min")
            as_f32(rpm, "max")
        objs.append(floats(o))
    if not objs or "summary" not in objs[-1]:
        fail("no JSON summary last:\n" + out[-500:])
    for o in objs:
        if o.get("schema") != 1:
            fail("object without schema 1: %r" % o)
    # Every run ends on a stop: the last command a consumer reads is zero.
    end = objs[-2] if len(objs) >= 2 else {}
    if (end.get("end") != {"records": len(objs) - 2} or end.get("command") != {"speed": 0, "turn_rate": 0}
            or end.get("reason") != "end" or end.get("stopped") is not True):
        fail("no closing stop record before the summary: %r" % end)
    return objs[:-2], objs[-1]["summary"]


# ---- replays against the model ----------------------------------------------

HAZARDS = ["--start-inside", "9", "--markers", "--invalid-every", "7", "--warning-every", "5", "--zero-every", "11",
           "--flip-every", "37", "--drop-every", "53", "--seed", "5", "--spin-up"]
# A scanner slowing down to a stop over its last turns, one too fast, one with a gap.
SPIN_DOWN = ["--turn-rpm", "3:420", "--missing", "5:30:12", "--turn-rpm", "8:250", "--turn-rpm", "9:190",
             "--turn-rpm", "10:120", "--turn-rpm", "11:60", "--spin-down"]


def check_replay_against_model(a, tag, path, data, sc):
    records, summary = model(data, sc)
    saved = os.path.join(a.work, tag + "-scans.txt")
    base = [a.demo, "--format", "lds", "--scans", path, "--out", os.path.join(a.work, tag + "-out")] + sc.args()
    out, err = run(base + ["--save-scans", saved])
    want_scans = [r[1] for r in records if r[0] == "scan"]
    got = cr.read_saved(saved)
    if not cr.same(got, want_scans):
        fail("%s: saved scans differ from the model: %s" % (tag, cr.first_difference(got, want_scans)))
    want_lines, n = [], 0
    for r in records:
        want_lines.append("scan %d: " % n if r[0] == "scan" else stop_line(r))
        n += r[0] == "scan"
    lines = records_of(out)
    if len(lines) != len(want_lines) or any(not l.startswith(w) for l, w in zip(lines, want_lines)):
        fail("%s: records differ:\n%s\nwant\n%s" % (tag, "\n".join(lines), "\n".join(want_lines)))
    if any(", drive " not in l for l in lines if l.startswith("scan ")):
        fail("%s: a planned turn's line lacks its drive command" % tag)
    # The planner's answers are those of the saved scans replayed as degrees.
    again, _ = run([a.demo, "--scans", saved, "--out", os.path.join(a.work, tag + "-again")]) if want_scans else ("", "")
    # Drive commands and reasons included: the same readings, the same step.
    plain = [l for l in lines if l.startswith("scan ")]
    if plain != [l for l in again.splitlines() if l.startswith("scan ")]:
        fail("%s: the saved scans plan differently" % tag)
    check_json_against_model(a, tag, base, records, summary)
    return records


def check_json_against_model(a, tag, base, records, summary):
    out, _ = run(base + ["--json"])
    objs, got = json_records(out)
    if len(objs) != len(records):
        fail("%s: %d JSON records, want %d" % (tag, len(objs), len(records)))
    n = 0
    for o, r in zip(objs, records):
        if r[0] == "scan":
            if o.get("scan") != n or (o["turn"], o["rpm"], o["packets"]) != (r[2], r[3], r[4]):
                fail("%s: scan object %r, want scan %d of turn %d" % (tag, o, n, r[2]))
            n += 1
        else:
            s = o.get("skipped")
            want = {"reason": r[2], "turn": r[1], "rpm": r[3], "packets": r[4], "limit": r[5]}
            if s != want or o["command"] != {"speed": 0, "turn_rate": 0}:
                fail("%s: stop object %r, want %r" % (tag, o, want))
    for key, value in summary.items():
        if got.get(key) != value:
            fail("%s: summary %s = %r, want %r" % (tag, key, got.get(key), value))
    if got["scans"] != summary["turns_planned"] or got["end"] != "input":
        fail("%s: summary %r" % (tag, got))


def case_model(a):
    """Every port hazard, a spin-down, gaps and odd mounts, bit for bit."""
    path, data = capture(a, "hazards", ["--turns", "13"] + HAZARDS + SPIN_DOWN)
    mounts = [Scanner(),
              Scanner(zero=37.5, cw=True, yaw=180.0, min_range=0.3, max_range=4.0),
              Scanner(zero=-90.0, cw=False, yaw=12.25, upside=True, min_range=0.25)]
    kinds = set()
    for i, sc in enumerate(mounts):
        kinds |= {r[2] for r in check_replay_against_model(a, "hazards-%d" % i, path, data, sc) if r[0] == "turn"}
    if kinds != {"slow", "fast", "packets"}:
        fail("the capture should hold slow, fast and gappy turns, has %s" % sorted(kinds))
    # The spin-down's slow turns are stops, not scans of nothing.
    recs, _ = model(data, mounts[0])
    if [r[2] for r in recs[-3:]] != ["slow"] * 3:
        fail("the spin-down's last turns should be too slow: %r" % [(r[0], r[2]) for r in recs[-3:]])
    print("ok: %d bytes, %d turns, %d mounts" % (len(data), len(recs), len(mounts)))


def case_gates(a):
    """The gates' bounds are inclusive and adjustable; wide ones plan every turn."""
    path, data = capture(a, "gates", ["--turns", "9", "--turn-rpm", "1:250", "--turn-rpm", "2:350",
                                      "--turn-rpm", "3:249", "--missing", "4:0:9", "--missing", "5:0:10",
                                      "--markers", "--seed", "9"])
    for i, sc in enumerate([Scanner(rpm=(250.0, 350.0)), Scanner(pct=100), Scanner(pct=0, rpm=(0.0, 1e6)),
                            Scanner(rpm=(249.0, 249.0))]):
        check_replay_against_model(a, "gates-%d" % i, path, data, sc)
    recs, _ = model(data, Scanner(rpm=(250.0, 350.0)))
    if [r[0] for r in recs[1:6]] != ["scan", "scan", "turn", "scan", "turn"]:
        fail("gates: 250 and 350 rpm are in, 249 out, 81 of 90 packets in, 80 out: %r" % [(r[0], r[2]) for r in recs])
    # Nothing but a stream's first turn: no complete turn, one error line.
    one, _ = capture(a, "one-turn", ["--turns", "1"])
    _, err = run([a.demo, "--format", "lds", "--scans", one, "--out", os.path.join(a.work, "one")], want=2)
    if not err.startswith("robot-demo: %s: no complete scanner turn in 1980 bytes (90 good packets)" % one):
        fail("one turn: " + err)
    print("ok")


# ---- live over a pseudo-terminal --------------------------------------------

class Live:
    """robot-demo --device on a pseudo-terminal, its output read line by line as it comes."""

    def __init__(self, a, tag, extra):
        self.master, self.slave = os.openpty()
        attrs = termios.tcgetattr(self.slave)  # a cooked, echoing terminal at 9600 baud to begin with
        attrs[3] |= termios.ICANON | termios.ECHO
        attrs[1] |= termios.ICRNL
        attrs[4] = attrs[5] = termios.B9600
        termios.tcsetattr(self.slave, termios.TCSANOW, attrs)
        self.path = os.ttyname(self.slave)
        self.out_dir = os.path.join(a.work, tag + "-out")
        self.raw = os.path.join(a.work, tag + "-raw.bin")
        self.cmd = [a.demo, "--format", "lds", "--device", self.path, "--out", self.out_dir,
                    "--save-raw", self.raw] + extra
        self.p = subprocess.Popen(EMULATOR + self.cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.lines = queue.Queue()
        self.seen = []  # lines handed out by next_line
        self.stop = threading.Event()
        self.writer = None
        self.err = []
        threading.Thread(target=self._pump, args=(self.p.stdout, self.lines.put), daemon=True).start()
        threading.Thread(target=self._pump, args=(self.p.stderr, lambda l: l is not None and self.err.append(l)),
                         daemon=True).start()
        self.settings = self._configured()

    @staticmethod
    def _pump(stream, put):
        for line in stream:
            put(line)
        put(None)

    def _configured(self):
        """Waits until robot-demo has set the port raw: only then may bytes flow."""
        end = time.time() + 60
        while time.time() < end:
            attrs = termios.tcgetattr(self.slave)
            if not attrs[3] & termios.ICANON:
                os.close(self.slave)
                return attrs
            if self.p.poll() is not None:
                break
            time.sleep(0.005)
        fail("the port was never set raw; status %r, stderr %s" % (self.p.poll(), "".join(self.err)))

    def send(self, data, turns_per_s=5.0, chunk=220):
        """At about the scanner's pace: 1980 bytes per turn."""
        pause = chunk / (1980.0 * turns_per_s)
        for k in range(0, len(data), chunk):
            if self.stop.is_set():
                return
            os.write(self.master, data[k:k + chunk])
            time.sleep(pause)

    def send_endless(self, data):
        """The capture over and over, until finish()."""
        def loop():
            while not self.stop.is_set():
                self.send(data)
        self.writer = threading.Thread(target=loop, daemon=True)
        self.writer.start()

    def next_line(self, timeout=30):
        line = self.lines.get(timeout=timeout)
        if line is None:
            fail("robot-demo's output ended early; stderr: %s" % "".join(self.err))
        self.seen.append(line)
        return line

    def finish(self, want, hang_up=False):
        """Standard output whole (what next_line gave included) and standard error."""
        if hang_up:
            time.sleep(0.5)  # let the reader take every byte before the line goes
            os.close(self.master)
        try:
            self.p.wait(timeout=60)
        except subprocess.TimeoutExpired:
            self.p.kill()
            fail("robot-demo did not end")
        self.stop.set()
        if self.writer is not None:
            self.writer.join()
        if not hang_up:
            os.close(self.master)
        rest = []
        while True:
            line = self.lines.get(timeout=10)
            if line is None:
                break
            rest.append(line)
        self.p.stdout.close()
        self.p.stderr.close()
        time.sleep(0.05)
        if self.p.returncode != want:
            fail("%s: status %d, want %d; stderr: %s" % (" ".join(self.cmd), self.p.returncode, want,
                                                        "".join(self.err)))
        return "".join(self.seen + rest), "".join(self.err)


def check_port_settings(attrs, speed):
    iflag, oflag, cflag, lflag, ispeed, ospeed, cc = attrs
    if lflag & (termios.ICANON | termios.ECHO | termios.ISIG | termios.IEXTEN):
        fail("line discipline still on: lflag %#x" % lflag)
    if iflag & (termios.ICRNL | termios.IXON | termios.ISTRIP | termios.INLCR):
        fail("input still translated: iflag %#x" % iflag)
    if (cflag & termios.CSIZE) != termios.CS8 or cflag & (termios.PARENB | termios.CSTOPB) or \
            not cflag & termios.CLOCAL or not cflag & termios.CREAD:
        fail("not 8N1 with CLOCAL: cflag %#x" % cflag)
    if ispeed != speed or ospeed != speed or cc[termios.VMIN] != 1:
        fail("speed %r/%r or VMIN %r" % (ispeed, ospeed, cc[termios.VMIN]))


def summary_lines(out):
    return [l for l in out.splitlines() if l.startswith(("turns:", "speed of", "stream:"))]


def live_capture(a):
    return capture(a, "live", ["--turns", "12", "--markers", "--flip-every", "41", "--drop-every", "97",
                               "--start-inside", "5", "--turn-rpm", "4:150", "--missing", "7:3:20", "--seed", "11"])


def case_stream(a):
    """Live lines equal a replay of the same bytes; a vanished port ends with status 1, after the summary."""
    path, data = live_capture(a)
    for fmt, extra, speed in (("human", ["--baud", "230400"], termios.B230400), ("json", ["--json"], termios.B115200)):
        live = Live(a, "stream-" + fmt, extra + ["--turn-timeout", "3"])
        check_port_settings(live.settings, speed)
        live.send(data)
        out, err = live.finish(want=1, hang_up=True)
        if err.count("\n") != 1 or not err.startswith("robot-demo: %s: the device went away" % live.path):
            fail("%s: stderr should be one line about the device:\n%s" % (fmt, err))
        replay, _ = run([a.demo, "--format", "lds", "--scans", path, "--out", os.path.join(a.work, "r-" + fmt)] +
                        [x for x in extra if x.startswith("--json")])
        with open(live.raw, "rb") as f:
            if f.read() != data:
                fail("%s: --save-raw does not hold the bytes sent" % fmt)
        if not os.path.exists(os.path.join(live.out_dir, "run.html")):
            fail("%s: no run.html after the device went away" % fmt)
        if fmt == "human":
            if records_of(out) != records_of(replay) or summary_lines(out) != summary_lines(replay):
                fail("live and replayed lines differ:\n%s\n---\n%s" % (out, replay))
            if "ended: the device went away" not in out or "pictures:" not in out:
                fail("no closing lines:\n" + out)
        else:
            lo, ls = json_records(out)
            ro, rs = json_records(replay)
            if lo != ro or ls["end"] != "device" or any(ls[k] != rs[k] for k in ("packets", "turns", "rpm")):
                fail("live and replayed JSON differ")
            if len([o for o in lo if "scan" in o]) < 8 or not any("skipped" in o for o in lo):
                fail("the stream should hold planned and skipped turns")
    print("ok")


def case_sigint(a):
    """SIGINT ends a live run normally; its raw recording replays to the same lines."""
    _, data = capture(a, "steady", ["--turns", "5", "--flip-every", "71"])
    live = Live(a, "sigint", ["--json", "--turn-timeout", "3"])
    live.send_endless(data)
    seen = 0
    while seen < 4:  # each planned turn comes out as it happens
        seen += '"scan"' in live.next_line()
    live.p.send_signal(signal.SIGINT)
    out, err = live.finish(want=0)
    objs, summary = json_records(out)
    if summary["end"] != "signal" or summary["pictures"] is None or err:
        fail("after SIGINT: summary %r, stderr %s" % (summary, err))
    replay, _ = run([a.demo, "--format", "lds", "--scans", live.raw, "--json", "--out", os.path.join(a.work, "r")])
    ro, rs = json_records(replay)
    if summary["scans"] < 4 or objs != ro or summary["bytes"] != rs["bytes"]:
        fail("the raw recording replays to other records")
    print("ok: %d scans" % summary["scans"])


def case_turns(a):
    """--turns N plans N turns and stops; the recording of what it used replays to the same."""
    _, data = live_capture(a)
    live = Live(a, "turns", ["--turns", "3", "--turn-timeout", "3"])
    live.send_endless(data)
    out, err = live.finish(want=0)
    scans = [l for l in records_of(out) if l.startswith("scan ")]
    if len(scans) != 3 or "ended: --turns 3 planned turns reached" not in out or err:
        fail("--turns 3:\n%s\nstderr %s" % (out, err))
    with open(live.raw, "rb") as f:
        raw = f.read()
    if not (data * 2).startswith(raw):
        fail("the recording is not the stream's beginning")
    replay, _ = run([a.demo, "--format", "lds", "--scans", live.raw, "--out", os.path.join(a.work, "r")])
    if records_of(replay) != records_of(out):
        fail("the recording replays to other lines:\n%s\n---\n%s" % (replay, out))
    print("ok")


def case_stall(a):
    """A silent scanner gives a stop record per wait and one warning, never a scan."""
    _, data = capture(a, "stall", ["--turns", "4"])
    live = Live(a, "stall", ["--turn-timeout", "0.4"])

    def until(pred):
        while not pred(live.next_line()):
            pass

    until(lambda l: l.startswith("no complete turn"))  # silence from the start
    live.send(data)
    until(lambda l: l.startswith("scan 2:"))
    until(lambda l: l.startswith("no complete turn"))  # silence after the turns
    until(lambda l: l.startswith("no complete turn"))
    live.p.send_signal(signal.SIGTERM)
    out, err = live.finish(want=0)
    recs = records_of(out)
    stops = [l for l in recs if l.startswith("no complete turn")]
    if any(l != "no complete turn for 0.4 s: stop" for l in stops):
        fail("stop records: %r" % stops)
    last_scan = max(i for i, l in enumerate(recs) if l.startswith("scan "))
    if recs.index(stops[0]) > 0 or len(recs) - last_scan - 1 < 2:
        fail("records around the stalls: %r" % recs)
    warn = [l for l in err.splitlines() if "warning" in l]
    if len(warn) != 1 or "no complete turn came from the scanner within 0.4 s" not in warn[0]:
        fail("want one warning, got %r" % err)
    if "timeouts: %d waits of 0.4 s without a complete turn" % len(stops) not in out or "ended: stopped by SIGTERM" not in out:
        fail("summary:\n" + out)
    print("ok: %d stop records" % len(stops))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--demo", required=True)
    ap.add_argument("--writer", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("case", choices=["model", "gates", "stream", "sigint", "turns", "stall"])
    a = ap.parse_args()
    os.makedirs(a.work, exist_ok=True)
    {"model": case_model, "gates": case_gates, "stream": case_stream, "sigint": case_sigint, "turns": case_turns,
     "stall": case_stall}[a.case](a)


if __name__ == "__main__":
    main()
