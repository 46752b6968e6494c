#!/usr/bin/env python3
"""robot-demo as a person's shell sees it when things go wrong: a run that
fails, a second run into the same folder, signals and kills at any moment, a
reader that goes away, names that try to forge lines, and the order of the
system calls that make the outputs durable.

usage: check_safety.py --demo ROBOT_DEMO --work DIR CASE
"""
import argparse
import hashlib
import math
import os
import random
import re
import select
import shlex
import shutil
import signal
import stat
import subprocess
import sys
import threading
import time

DEMO = None
WORK = None
# Cross builds run the program under the emulator that ctest names.
EMULATOR = [e for e in os.environ.get("SCANPILOT_TEST_EMULATOR", "").split(";") if e]
CMD = []
# These watch the host's signals, locks, timing and system calls, the same
# for every target; under an emulator they would only be slow.
HOST_ONLY = {"concurrent", "signals", "sigkill", "html_count", "strace"}


def fail(msg):
    print("FAIL: " + msg)
    sys.exit(1)


def scan_line(i):
    return " ".join("%.3f" % (1.5 + 0.3 * math.sin(k * 0.1 + i * 0.01)) for k in range(360)) + "\n"


def write_scans(path, n):
    with open(path, "w") as f:
        for i in range(n):
            f.write(scan_line(i))


def run(args, **kw):
    return subprocess.run(CMD + args, capture_output=True, **kw)


def folder_state(d):
    """Name -> content hash of every entry, hidden ones included."""
    if not os.path.isdir(d):
        return None
    state = {}
    for n in sorted(os.listdir(d)):
        p = os.path.join(d, n)
        if os.path.isdir(p) and not os.path.islink(p):
            state[n] = "<dir>"
        else:
            with open(p, "rb") as f:
                state[n] = hashlib.sha1(f.read()).hexdigest()
    return state


def leftovers(*dirs):
    """Staging folders and temporaries a run must never leave."""
    left = []
    for d in dirs:
        if os.path.isdir(d):
            left += [os.path.join(d, n) for n in os.listdir(d) if ".robot-demo-" in n]
    return left


def case_save_kept():
    # The pictures fail at the very end (run.html cannot replace a folder of
    # that name): the saved scans must not be replaced either.
    scans, out, saved = os.path.join(WORK, "s.txt"), os.path.join(WORK, "out"), os.path.join(WORK, "saved.txt")
    write_scans(scans, 5)
    os.makedirs(os.path.join(out, "run.html"))
    with open(saved, "wb") as f:
        f.write(b"earlier scans\n")
    r = run(["--scans", scans, "--out", out, "--save-scans", saved])
    if r.returncode != 1 or b"run.html" not in r.stderr:
        fail("want status 1 naming run.html, got %d: %r" % (r.returncode, r.stderr))
    with open(saved, "rb") as f:
        if f.read() != b"earlier scans\n":
            fail("a failed run replaced --save-scans")
    if leftovers(WORK, out):
        fail("left behind: %s" % leftovers(WORK, out))


def case_save_checks():
    scans, out = os.path.join(WORK, "s.txt"), os.path.join(WORK, "out")
    write_scans(scans, 2)
    os.makedirs(os.path.join(WORK, "adir"))
    # Refused before any work: one line, status 1, nothing on stdout, no folder.
    for target, why in ((os.path.join(WORK, "adir"), "is a directory"),
                        (os.path.join(WORK, "no", "such", "x.txt"), "cannot create a file beside it"),
                        ("/proc/version/x", "Not a directory")):
        r = run(["--scans", scans, "--out", out, "--save-scans", target])
        err = r.stderr.decode()
        if r.returncode != 1 or r.stdout or err.count("\n") != 1 or why not in err or os.path.exists(out):
            fail("--save-scans %s: status %d, stdout %r, stderr %r" % (target, r.returncode, r.stdout, err))
    # A name the output set writes, however spelled: a usage error.
    for name in ("run.html", "run.svg", "tick-000.svg", "tick-1234.svg", ".robot-demo-abc123/x.txt",
                 "./run.html", "sub/../run.svg"):
        os.makedirs(os.path.join(out, "sub"), exist_ok=True)
        for base in (out, out + "/", os.path.relpath(out)):
            r = run(["--scans", scans, "--out", base, "--save-scans", os.path.join(out, name)])
            err = r.stderr.decode()
            if r.returncode != 2 or not err.startswith("robot-demo: --save-scans") or r.stdout:
                fail("--out %s --save-scans %s: status %d, stderr %r" % (base, name, r.returncode, err))
    # Beside the set, under a name of its own, is fine.
    r = run(["--scans", scans, "--out", out, "--save-scans", os.path.join(out, "scans.txt"), "--quiet"])
    if r.returncode != 0 or not os.path.isfile(os.path.join(out, "scans.txt")):
        fail("--save-scans beside the pictures: %d %r" % (r.returncode, r.stderr))


def case_save_stream():
    scans, out = os.path.join(WORK, "s.txt"), os.path.join(WORK, "out")
    write_scans(scans, 3)
    ref = os.path.join(WORK, "ref.txt")
    run(["--scans", scans, "--out", out, "--quiet", "--save-scans", ref])
    with open(ref) as f:
        want = f.read()
    if want.count("\n") != 3:
        fail("the reference save holds %r" % want[:100])
    # /dev/stdout into a pipe and into a file: written through, the link kept.
    if not os.path.islink("/dev/stdout"):
        fail("/dev/stdout is not a link on this machine (a run replaced it?): ln -sf /proc/self/fd/1 /dev/stdout")
    try:
        stream_to_stdout(scans, out, want)
    finally:
        if not os.path.islink("/dev/stdout") and os.geteuid() == 0:
            os.unlink("/dev/stdout")  # the run replaced the machine's link: put it back
            os.symlink("/proc/self/fd/1", "/dev/stdout")
            fail("the run replaced /dev/stdout with a file (now restored)")
    # A FIFO stays a FIFO and gets every scan.
    fifo = os.path.join(WORK, "fifo")
    os.mkfifo(fifo)
    got = []
    reader = threading.Thread(target=lambda: got.append(open(fifo).read()))
    reader.start()
    r = run(["--scans", scans, "--out", out, "--quiet", "--save-scans", fifo], timeout=60)
    reader.join(60)
    if r.returncode != 0 or got != [want] or not stat.S_ISFIFO(os.lstat(fifo).st_mode):
        fail("--save-scans FIFO: %d %r" % (r.returncode, r.stderr))
    if leftovers(WORK, out):
        fail("left behind: %s" % leftovers(WORK, out))


def stream_to_stdout(scans, out, want):
    r = run(["--scans", scans, "--out", out, "--quiet", "--save-scans", "/dev/stdout"])
    if r.returncode != 0 or want.encode() not in r.stdout or not os.path.islink("/dev/stdout"):
        fail("--save-scans /dev/stdout (pipe): %d %r" % (r.returncode, r.stderr))
    into = os.path.join(WORK, "stdout.txt")
    with open(into, "wb") as f:
        r = subprocess.run(CMD + ["--scans", scans, "--out", out, "--quiet", "--save-scans", "/dev/stdout"],
                           stdout=f, stderr=subprocess.PIPE)
    with open(into) as f:
        got = f.read()
    if r.returncode != 0 or want not in got or "reached the target" not in got or not os.path.islink("/dev/stdout"):
        fail("--save-scans /dev/stdout (file): %d %r %r" % (r.returncode, r.stderr, got[:200]))


def case_concurrent():
    # Two runs into one folder at once: one set, whole, never a mix.
    out = os.path.join(WORK, "out")
    for name, n in (("a.txt", 1500), ("b.txt", 1500)):
        write_scans(os.path.join(WORK, name), n)
    sets = {"a.txt": {"run.html", "tick-001.svg", "tick-002.svg"},
            "b.txt": {"run.html", "tick-003.svg", "tick-004.svg"}}
    for attempt in range(4):
        shutil.rmtree(out, ignore_errors=True)
        procs = []
        for name, snaps in (("a.txt", "1,2"), ("b.txt", "3,4")):
            procs.append(subprocess.Popen(CMD + ["--scans", os.path.join(WORK, name), "--out", out, "--quiet",
                                           "--snapshot", snaps], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE))
            time.sleep(random.uniform(0.0, 0.3) if attempt else 0.2)
        results = [(p.wait(120), p.stderr.read().decode()) for p in procs]
        ok = [i for i, (rc, _) in enumerate(results) if rc == 0]
        if len(ok) != 1:
            fail("want exactly one run to succeed, got %s" % results)
        loser = results[1 - ok[0]]
        if loser[0] != 1 or loser[1] != "robot-demo: %s: in use by another robot-demo run; wait for it to end or " \
                                         "choose another --out\n" % out:
            fail("the second run: %r" % (loser,))
        winner = ("a.txt", "b.txt")[ok[0]]
        names = set(os.listdir(out))
        if names != sets[winner]:
            fail("folder holds %s, want %s's set %s" % (names, winner, sets[winner]))
        with open(os.path.join(out, "run.html"), encoding="utf-8") as f:
            if "Replay of %s" % os.path.join(WORK, winner) not in f.read():
                fail("run.html is not %s's" % winner)


def old_or_new(out, old, new_names, rc, what):
    state = folder_state(out)
    if state == old:
        return "old"
    if state is not None and set(state) == new_names and rc == 0:
        return "new"
    fail("%s: status %d left %s" % (what, rc, sorted(state or {})))


def case_signals():
    # SIGINT, SIGTERM and SIGHUP at random moments of a replay or the demo.
    scans, out, saved = os.path.join(WORK, "long.txt"), os.path.join(WORK, "out"), os.path.join(WORK, "saved.txt")
    write_scans(scans, 2500)
    r = run(["--scans", scans, "--out", out, "--snapshot", "7", "--save-scans", saved, "--quiet"])
    if r.returncode != 0:
        fail("first run: %r" % r.stderr)
    old = folder_state(out)
    with open(saved, "rb") as f:
        old_saved = f.read()
    rng = random.Random(int(os.environ.get("SAFETY_SEED", "1")))
    outcomes = {}
    for i in range(60):
        sig = rng.choice([signal.SIGINT, signal.SIGTERM, signal.SIGHUP])
        demo = i % 6 == 5
        args = ["--out", out, "--snapshot", "9"] if demo else ["--scans", scans, "--out", out, "--save-scans",
                                                               saved, "--quiet"]
        new_names = {"run.html", "run.svg", "tick-009.svg"} if demo else \
            {"run.html", "tick-000.svg", "tick-625.svg", "tick-1250.svg", "tick-1875.svg", "tick-2499.svg"}
        p = subprocess.Popen(CMD + args, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        time.sleep(rng.uniform(0.0, 1.2))
        p.send_signal(sig)
        rc = p.wait(60)
        err = p.stderr.read().decode()
        name = signal.Signals(sig).name
        if rc == 128 + sig:
            if err != "robot-demo: interrupted (%s)\n" % name:
                fail("run %d (%s): stderr %r" % (i, name, err))
        elif rc == -sig:
            # The signal came before the program could install its handler
            # (while the system still loaded it): it made nothing yet, which
            # the checks below hold it to.
            if err:
                fail("run %d (%s): killed before its start, yet it said %r" % (i, name, err))
        elif rc != 0 or err:
            fail("run %d (%s): status %d, stderr %r" % (i, name, rc, err))
        got = old_or_new(out, old, new_names, rc, "run %d (%s)" % (i, name))
        outcomes[got] = outcomes.get(got, 0) + 1
        if leftovers(WORK, out):
            fail("run %d (%s) left %s" % (i, name, leftovers(WORK, out)))
        with open(saved, "rb") as f:
            if rc != 0 and f.read() != old_saved:
                fail("run %d (%s): interrupted, yet --save-scans changed" % (i, name))
        if got == "new":  # back to the old set for the next run
            shutil.rmtree(out)
            run(["--scans", scans, "--out", out, "--snapshot", "7", "--save-scans", saved, "--quiet"])
    # A replay waiting on a pipe that says nothing wakes up for the signal.
    for sig in (signal.SIGINT, signal.SIGHUP):
        p = subprocess.Popen(CMD + ["--scans", "-", "--out", os.path.join(WORK, "waiting")], stdin=subprocess.PIPE,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        p.stdin.write(scan_line(0).encode())
        p.stdin.flush()
        time.sleep(0.5)
        p.send_signal(sig)
        out_text, err = p.communicate(timeout=20)
        if p.returncode != 128 + sig or err.decode() != "robot-demo: interrupted (%s)\n" % signal.Signals(sig).name \
                or b"scan 0:" not in out_text or os.path.exists(os.path.join(WORK, "waiting")):
            fail("blocked read, %s: status %d, stderr %r" % (signal.Signals(sig).name, p.returncode, err))
    # With --json the last command a reader gets from an interrupted run is
    # a stop, though no summary follows.
    p = subprocess.Popen(CMD + ["--scans", "-", "--json", "--out", os.path.join(WORK, "waiting")],
                         stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    p.stdin.write(scan_line(0).encode())
    p.stdin.flush()
    time.sleep(0.5)
    p.send_signal(signal.SIGINT)
    out_text, err = p.communicate(timeout=20)
    lines = out_text.decode().splitlines()
    if p.returncode != 128 + signal.SIGINT or len(lines) != 2 or '"scan":0' not in lines[0] or \
            lines[1] != '{"schema":1,"end":{"records":1},"command":{"speed":0,"turn_rate":0},"stopped":true,"reason":"end"}':
        fail("interrupted --json run: status %d, output %r" % (p.returncode, lines))
    print("outcomes: %s" % outcomes)
    if outcomes.get("old", 0) < 10:
        fail("too few runs were interrupted to tell anything: %s" % outcomes)


def case_sigkill():
    # A kill nobody can catch: the next run repairs what is left and says so.
    scans, out = os.path.join(WORK, "long.txt"), os.path.join(WORK, "out")
    write_scans(scans, 400)
    r = run(["--scans", scans, "--out", out, "--snapshot", "7", "--quiet"])
    old = folder_state(out)
    new_names = {"run.html", "tick-000.svg", "tick-100.svg", "tick-200.svg", "tick-300.svg", "tick-399.svg"}
    rng = random.Random(2)
    repaired = 0
    for i in range(25):
        p = subprocess.Popen(CMD + ["--scans", scans, "--out", out, "--quiet"], stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
        time.sleep(rng.uniform(0.05, 0.6))
        p.kill()
        rc = p.wait()
        stale = leftovers(out)
        if not stale:  # killed before it began, or after it ended
            old_or_new(out, old, new_names, 0, "kill %d" % i)
        r = run(["--scans", scans, "--out", out, "--snapshot", "7", "--quiet"])
        err = r.stderr.decode()
        if r.returncode != 0 or leftovers(out) or folder_state(out) != old:
            fail("run after kill %d: %d %r, left %s" % (i, r.returncode, err, leftovers(out)))
        if stale:
            repaired += 1
            if not re.fullmatch(r"robot-demo: %s: (removed \.robot-demo-\w{6}, left by an earlier run that was "
                                r"stopped|finished moving in the outputs of an earlier run that was stopped during "
                                r"its last step)\n" % re.escape(out), err):
                fail("repair after kill %d said %r" % (i, err))
        elif err:
            fail("nothing to repair after kill %d, yet: %r" % (i, err))
    print("repaired after %d of 25 kills" % repaired)
    if repaired < 5:
        fail("too few kills hit a run in progress")
    # A killed run's --save-scans temporary goes with the next run that
    # saves to the same name.
    saved = os.path.join(WORK, "saved.txt")
    p = subprocess.Popen(CMD + ["--scans", scans, "--out", out, "--quiet", "--save-scans", saved],
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(0.3)
    p.kill()
    p.wait()
    temps = [n for n in os.listdir(WORK) if n.startswith(".saved.txt.robot-demo-")]
    r = run(["--scans", scans, "--out", out, "--quiet", "--save-scans", saved])
    if r.returncode != 0 or leftovers(WORK, out):
        fail("after a killed save: %d %r, left %s" % (r.returncode, r.stderr, leftovers(WORK, out)))
    for t in temps:
        if ("robot-demo: removed %s, left by an earlier run that was stopped" % os.path.join(WORK, t)) not in \
                r.stderr.decode():
            fail("%s removed without a word: %r" % (t, r.stderr))


def case_pipe_head():
    # `robot-demo ... | head -1`: quiet, by SIGPIPE, nothing left behind.
    scans, out, saved = os.path.join(WORK, "long.txt"), os.path.join(WORK, "out"), os.path.join(WORK, "saved.txt")
    write_scans(scans, 3000)
    for args in (["--scans", scans, "--save-scans", saved], ["--scans", "-"], ["--verbose"], ["--json"]):
        shutil.rmtree(out, ignore_errors=True)
        cmd = "set -o pipefail; %s %s --out %s %s| head -1" % (
            " ".join(shlex.quote(c) for c in CMD), " ".join(args), out, "< %s " % scans if "-" in args else "")
        r = subprocess.run(["bash", "-c", cmd], capture_output=True, timeout=120)
        if r.returncode != 141 or r.stderr or r.stdout.count(b"\n") != 1:
            fail("%s: status %d, stderr %r" % (cmd, r.returncode, r.stderr))
        if os.path.exists(out) or leftovers(WORK) or os.path.exists(saved):
            fail("%s left %s" % (cmd, leftovers(WORK) or out))


def case_live_lines():
    # A driver piped in: each scan's line comes out while the pipe is open.
    p = subprocess.Popen(CMD + ["--scans", "-", "--out", os.path.join(WORK, "out")], stdin=subprocess.PIPE,
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    got = b""
    for i in range(3):
        p.stdin.write(scan_line(i).encode())
        p.stdin.flush()
        deadline = time.time() + 20
        while ("scan %d:" % i).encode() not in got:
            ready, _, _ = select.select([p.stdout], [], [], max(0.0, deadline - time.time()))
            if not ready:
                p.kill()
                fail("scan %d's line did not come while the input stayed open; got %r" % (i, got))
            got += os.read(p.stdout.fileno(), 65536)
    p.stdin.close()
    rest, err = p.stdout.read(), p.stderr.read()
    p.wait(60)
    if p.returncode != 0 or b"pictures:" not in got + rest:
        fail("status %d: %r" % (p.returncode, err))


def case_escape():
    # A name with a newline and an escape sequence cannot forge a line.
    d = os.path.join(WORK, "o\nut\x1b[2J")
    name = os.path.join(WORK, "scans\nrobot-demo: all good\x1b[31m\xff.txt".encode("latin-1").decode("utf-8", "surrogateescape"))
    shown_name = os.path.join(WORK, "scans\\nrobot-demo: all good\\x1b[31m\\xff.txt")
    shown_dir = os.path.join(WORK, "o\\nut\\x1b[2J")
    r = run(["--scans", name, "--out", d])
    if r.returncode != 2 or r.stderr.decode("utf-8", "replace") != \
            "robot-demo: %s: cannot open: No such file or directory\n" % shown_name:
        fail("missing file: %d %r" % (r.returncode, r.stderr))
    with open(name, "w") as f:
        f.write(scan_line(0))
    r = run(["--scans", name, "--out", d])
    lines = r.stdout.decode("utf-8", "replace").split("\n")
    if r.returncode != 0 or not lines[0].startswith("replaying 1 scans from %s, " % shown_name) or \
            "pictures: %s/ (run.html, tick-000.svg)" % shown_dir not in lines or b"\x1b" in r.stdout:
        fail("header or pictures line not escaped: %r" % r.stdout)
    r = run(["--scans", name, "--out", d, "--save-scans", os.path.join(d, "run.html")])
    if r.returncode != 2 or b"\x1b" in r.stderr or r.stderr.count(b"\n") != 2 or shown_dir.encode() not in r.stderr:
        fail("usage error: %r" % r.stderr)


def case_html_count():
    # Past the page's 20000 scans the count still includes every scan, the
    # drawn ones too; a page that was never written is not described.
    scans, out = os.path.join(WORK, "long.txt"), os.path.join(WORK, "out")
    write_scans(scans, 20003)
    r = run(["--scans", scans, "--out", out, "--quiet", "--snapshot", "5,20001"], timeout=250)
    if r.returncode != 0 or b"run.html shows scans 0..19999 of 20003\n" not in r.stdout:
        fail("status %d: %r" % (r.returncode, r.stdout))
    with open(os.path.join(out, "run.html"), encoding="utf-8") as f:
        if '"total":20003}' not in f.read():
            fail("the page does not know the run had 20003 scans")
    write_scans(scans, 3)
    r = subprocess.run(["sh", "-c", "trap '' XFSZ; ulimit -f 1; exec \"$0\" \"$@\""] + CMD + ["--scans", scans,
                        "--out", os.path.join(WORK, "small")], capture_output=True)
    if r.returncode != 1 or b"run.html shows" in r.stdout or b"File too large" not in r.stderr:
        fail("unwritable page: status %d, stdout %r, stderr %r" % (r.returncode, r.stdout, r.stderr))


def case_strace():
    strace = shutil.which("strace")
    if strace is None:
        print("SKIPPED: strace is not installed")
        sys.exit(77)
    scans, out, saved = os.path.join(WORK, "s.txt"), os.path.join(WORK, "out"), os.path.join(WORK, "saved.txt")
    write_scans(scans, 40)
    log = os.path.join(WORK, "trace")
    env = dict(os.environ, ASAN_OPTIONS="detect_leaks=0")  # LeakSanitizer cannot run under ptrace
    r = subprocess.run([strace, "-f", "-y", "-o", log, "-e", "trace=fsync,fdatasync,rename,renameat,renameat2",
                        ] + CMD + ["--scans", scans, "--out", out, "--save-scans", saved, "--quiet"], capture_output=True,
                       env=env)
    if r.returncode != 0:
        fail("strace run: %d %r" % (r.returncode, r.stderr))
    synced, renamed_into, last_rename = set(), {}, {}
    with open(log, encoding="utf-8", errors="replace") as f:
        for i, line in enumerate(f):
            m = re.search(r"\b(fsync|fdatasync)\(\d+<([^>]*)>\) = 0", line)
            if m:
                synced.add(m.group(2))
                if m.group(2) in (out, WORK):
                    last_rename.pop(m.group(2), None)  # the folder was flushed after its renames
                continue
            m = re.search(r'\brename(?:at2?)?\((?:AT_FDCWD, )?"([^"]+)", (?:AT_FDCWD, )?"([^"]+)"', line)
            if m:
                src, dst = os.path.join(os.getcwd(), m.group(1)), os.path.join(os.getcwd(), m.group(2))
                renamed_into[dst] = src
                if os.path.dirname(dst) in (out, WORK):
                    last_rename[os.path.dirname(dst)] = i
                if os.path.basename(os.path.dirname(src)).startswith(".robot-demo-") and \
                        os.path.basename(src) == ".previous":
                    continue
                if os.path.dirname(dst) == out or dst == saved:
                    if src not in synced:
                        fail("%s renamed to %s before it was fsynced" % (src, dst))
    want = {os.path.join(out, n) for n in os.listdir(out)} | {saved}
    if set(renamed_into) & want != want:
        fail("not every output was renamed into place: %s" % sorted(want - set(renamed_into)))
    if last_rename:
        fail("folders not fsynced after their renames: %s" % sorted(last_rename))


def main():
    global DEMO, WORK
    ap = argparse.ArgumentParser()
    ap.add_argument("--demo", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("case")
    a = ap.parse_args()
    DEMO = os.path.abspath(a.demo)
    CMD[:] = EMULATOR + [DEMO]
    if EMULATOR and a.case in HOST_ONLY:
        print("SKIPPED: %s runs natively only" % a.case)
        sys.exit(77)
    WORK = os.path.abspath(a.work)
    shutil.rmtree(WORK, ignore_errors=True)
    os.makedirs(WORK)
    os.chdir(WORK)
    globals()["case_" + a.case]()
    print("ok: " + a.case)


if __name__ == "__main__":
    main()
