#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-3-Clause
"""Writes the seed corpora under fuzz/corpus/. Deterministic; rerun after
changing it and commit the result. Files named regress-* are kept inputs
that once failed and are left alone.

The serial stream seeds come from the tests' stream generator, built as
write_lds_stream: make_corpus.py [PATH-TO-write_lds_stream] (default
build/tests/write_lds_stream; without it those seeds are left as they are)."""
import math
import os
import random
import struct
import subprocess
import sys
import tempfile

here = os.path.dirname(os.path.abspath(__file__))
rng = random.Random(20261208)


def write(target, name, data):
    d = os.path.join(here, "corpus", target)
    os.makedirs(d, exist_ok=True)
    if isinstance(data, str):
        data = data.encode()
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


# The binary targets read their choices from the end of the input, so any
# bytes are a valid program; a few sizes give the mutator a start.
for target in ("fuzz_pathgrid", "fuzz_scanfollow"):
    for n, size in enumerate((8, 32, 200, 600, 1600)):
        write(target, "seed-%d" % n, bytes(rng.randrange(256) for _ in range(size)))


def line(values):
    return " ".join(values) + "\n"


ring = ["%.3f" % (1.0 + 0.5 * math.sin(i * math.pi / 45)) for i in range(360)]
write("fuzz_scan_file", "one-scan", line(ring))
write("fuzz_scan_file", "comments-crlf",
      "# two scans\r\n\n" + line(["inf"] * 360).replace("\n", "\r\n")
      + ",".join(["1e-3", "-0", "NaN", "-Infinity"] * 90) + "\n")
write("fuzz_scan_file", "short-line", line(["2.5"] * 359))
write("fuzz_scan_file", "bad-token", line(["1.0"] * 10 + ["1.0x"] + ["1.0"] * 349))
write("fuzz_scan_file", "huge", line(["1e39"] + ["+4"] * 359))
write("fuzz_scan_file", "empty", "")
write("fuzz_scan_file", "bom", "\ufeff#x\n" + line(["0.5"] * 360))


# Scan binning: its own generator, so the seeds above stay as they are.
bin_rng = random.Random(20261209)
for n, size in enumerate((16, 100, 800, 3000, 12000)):
    write("fuzz_scanbin", "seed-%d" % n, bytes(bin_rng.randrange(256) for _ in range(size)))


# Serial packet streams, each followed by the target's control byte (bit 0:
# repair checksums; the rest: chunk sizes).
tool = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "build", "tests", "write_lds_stream")
streams = {
    "clean-1-turn": (["--turns", "1"], 0x02),
    "clean-2-turns": (["--turns", "2"], 0x00),
    "spin-markers-flags": (["--turns", "2", "--spin-up", "--spin-down", "--markers",
                            "--invalid-every", "7", "--warning-every", "5", "--zero-every", "11"], 0x54),
    "faults": (["--turns", "2", "--start-inside", "9", "--markers", "--flip-every", "8",
                "--drop-every", "13", "--seed", "3"], 0x37),
    "faults-repaired": (["--turns", "1", "--start-inside", "4", "--flip-every", "5", "--seed", "4"], 0x0B),
}
if not os.access(tool, os.X_OK):
    print("make_corpus: %s not found, serial stream seeds left as they are" % tool)
else:
    with tempfile.TemporaryDirectory() as tmp:
        for name, (args, control) in streams.items():
            out = os.path.join(tmp, name)
            subprocess.run([tool] + args + [out], check=True)
            with open(out, "rb") as f:
                write("fuzz_scanwire", name, f.read() + bytes([control]))
        # The host's reading of the stream: the stream, then control bytes
        # (repair and chunks; layout; gates).
        host = {
            "clean-3-turns": (["--turns", "3"], bytes([0x02, 0x00, 0x00])),
            "slow-gappy-mounted": (["--turns", "5", "--turn-rpm", "1:150", "--missing", "3:10:12",
                                    "--markers"], bytes([0x11, 0x5B, 0x91])),
            "faults-wide-gates": (["--turns", "3", "--start-inside", "9", "--flip-every", "9", "--drop-every", "17",
                                   "--seed", "5"], bytes([0x23, 0x2C, 0x0A])),
        }
        for name, (args, control) in host.items():
            out = os.path.join(tmp, name)
            subprocess.run([tool] + args + [out], check=True)
            with open(out, "rb") as f:
                write("fuzz_lds_input", name, f.read() + control)
    # A false start, a start without its index byte, a lone byte.
    write("fuzz_scanwire", "short-garbage", bytes([0x00, 0xFA, 0xA5, 0x13, 0xFA, 0xFA, 0x01]))
