#!/usr/bin/env python3
"""Writes the seed corpora under fuzz/corpus/. Deterministic; rerun after
changing it and commit the result. Files named regress-* are kept inputs
that once failed and are left alone."""
import math
import os
import random
import struct

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
