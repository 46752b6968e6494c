#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-3-Clause
"""robot-demo --format rosbag2 against models of its own: the recorded bag
read here with Python's sqlite3 and a CDR reader written for this test, each
LaserScan binned by the LaserScan rule in the same double arithmetic, must be
the scan robot-demo saved, bit for bit, for every storage and layout of the
bag; the same messages in a ROS 1 bag (Debian's rosbag module) must give the
same file; and a bag not fit to replay is one line and status 2.

usage: check_ros2_bag.py --demo ROBOT_DEMO --data TESTS_DATA --work DIR CASE
CASE: scans | ros1 | errors
"""
import argparse
import math
import os
import shutil
import sqlite3
import struct
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from laser_scan_model import bin_laser_scan, f32  # noqa: E402

LASER_SCAN = "sensor_msgs/msg/LaserScan"


def fail(msg):
    print("FAIL: " + msg)
    sys.exit(1)


class Scan:
    pass


def read_cdr_scan(data):
    """A little-endian CDR sensor_msgs/msg/LaserScan, field by field."""
    if data[:2] != b"\x00\x01":
        fail("the recorded bag holds a message that is not little-endian CDR")
    body, pos = data[4:], 0

    def take(fmt):
        nonlocal pos
        pos += (-pos) % 4
        v = struct.unpack_from("<" + fmt, body, pos)
        pos += struct.calcsize("<" + fmt)
        return v

    m = Scan()
    m.sec, m.nanosec = take("iI")
    (n,) = take("I")
    m.frame_id = body[pos:pos + n].rstrip(b"\0").decode()
    pos += n
    (m.angle_min, m.angle_max, m.angle_increment, m.time_increment, m.scan_time, m.range_min,
     m.range_max) = take("7f")
    (n,) = take("I")
    m.ranges = list(take("%df" % n)) if n else []
    (n,) = take("I")
    m.intensities = list(take("%df" % n)) if n else []
    if len(body) - pos >= 4:
        fail("a recorded message has bytes left over")
    return m


def recorded(data_dir, topic="/scan"):
    """(raw CDR, decoded) of every message on `topic`, by time."""
    db = sqlite3.connect("file:%s?mode=ro" % os.path.join(data_dir, "ros2-straight", "mumble_imu_lidar_bag_0.db3"),
                         uri=True)
    rows = db.execute("SELECT m.data FROM messages m JOIN topics t ON m.topic_id = t.id WHERE t.name = ? "
                      "ORDER BY m.timestamp, m.id", (topic,)).fetchall()
    return [(bytes(r[0]), read_cdr_scan(bytes(r[0]))) for r in rows]


def run(cmd, want):
    p = subprocess.run(cmd, capture_output=True, text=True)
    if p.returncode != want:
        fail("%s: status %d, want %d\n%s" % (" ".join(cmd), p.returncode, want, p.stderr))
    return p


def replay(args, bag, name, extra=(), fmt="rosbag2"):
    """The scans robot-demo saved from `bag`, as text."""
    saved = os.path.join(args.work, name + ".txt")
    run([args.demo, "--format", fmt, bag, "--quiet", "--no-html", "--save-scans", saved,
         "--out", os.path.join(args.work, "o")] + list(extra), 0)
    with open(saved) as f:
        return f.read()


def check_against_model(text, msgs, limits, what):
    got = [[f32(float(t)) for t in line.split()] for line in text.splitlines() if line.strip()]
    if len(got) != len(msgs):
        fail("%s: %d scans saved for %d messages" % (what, len(got), len(msgs)))
    for n, (m, scan) in enumerate(zip(msgs, got)):
        want = bin_laser_scan(m, *limits)
        for i in range(360):
            if struct.pack("<f", scan[i]) != struct.pack("<f", want[i]):
                fail("%s, message %d, reading %d: saved %r, the rule gives %r" % (what, n, i, scan[i], want[i]))


def write_metadata(folder, files, compression_mode="", compression_format=""):
    with open(os.path.join(folder, "metadata.yaml"), "w") as f:
        f.write("rosbag2_bagfile_information:\n  version: 5\n  storage_identifier: mcap\n"
                "  compression_format: \"%s\"\n  compression_mode: \"%s\"\n  relative_file_paths:\n%s"
                % (compression_format, compression_mode, "".join("    - %s\n" % p for p in files)))


def message_compressed_bag(args):
    """The recorded bag with every message compressed alone by Debian's zstd tool."""
    folder = os.path.join(args.work, "per-message")
    os.makedirs(folder)
    db_path = os.path.join(folder, "bag_0.db3")
    shutil.copy(os.path.join(args.data, "ros2-straight", "mumble_imu_lidar_bag_0.db3"), db_path)
    os.chmod(db_path, 0o644)
    db = sqlite3.connect(db_path)
    rows = db.execute("SELECT id, data FROM messages").fetchall()
    raw = os.path.join(args.work, "raw")
    os.makedirs(raw)
    for i, data in rows:
        with open(os.path.join(raw, "%d" % i), "wb") as f:
            f.write(data)
    subprocess.run(["zstd", "-q", "--rm"] + [os.path.join(raw, "%d" % i) for i, _ in rows], check=True)
    for i, _ in rows:
        with open(os.path.join(raw, "%d.zst" % i), "rb") as f:
            db.execute("UPDATE messages SET data = ? WHERE id = ?", (f.read(), i))
    db.commit()
    db.close()
    write_metadata(folder, ["bag_0.db3"], "MESSAGE", "zstd")
    return folder


def case_scans(args):
    d = args.data
    msgs = [m for _, m in recorded(d)]
    inputs = [
        ("folder", os.path.join(d, "ros2-straight"), 147, []),
        ("db3", os.path.join(d, "ros2-straight", "mumble_imu_lidar_bag_0.db3"), 147, ["--topic", "/scan"]),
        ("mcap-zstd-folder", os.path.join(d, "ros2-mcap", "straight-zstd"), 147, []),
        ("mcap-lz4", os.path.join(d, "ros2-mcap", "straight-lz4.mcap"), 147, []),
        ("mcap-plain", os.path.join(d, "ros2-mcap", "straight-plain.mcap"), 20, []),
        ("mcap-unchunked", os.path.join(d, "ros2-mcap", "straight-unchunked.mcap"), 12, []),
    ]
    for name, bag, count, extra in inputs:
        check_against_model(replay(args, bag, name, extra), msgs[:count], (0.0, math.inf), name)
    limits = ["--min-range", "0.3", "--max-range", "3"]
    check_against_model(replay(args, inputs[3][1], "limits", limits), msgs, (0.3, 3.0), "lz4 with range limits")
    # A split bag, its files named the old way (from the folder's parent).
    split = os.path.join(args.work, "split")
    os.makedirs(split)
    for name in ("straight-plain.mcap", "straight-unchunked.mcap"):
        shutil.copy(os.path.join(d, "ros2-mcap", name), split)
    write_metadata(split, ["split/straight-plain.mcap", "straight-unchunked.mcap"])
    check_against_model(replay(args, split, "split"), msgs[:20] + msgs[:12], (0.0, math.inf), "split bag")
    check_against_model(replay(args, message_compressed_bag(args), "per-message"), msgs, (0.0, math.inf),
                        "messages compressed one by one")
    # Compressed file by file, by Debian's zstd tool: a split bag of both storages.
    per_file = os.path.join(args.work, "per-file")
    os.makedirs(per_file)
    names = []
    for src in (os.path.join(d, "ros2-straight", "mumble_imu_lidar_bag_0.db3"),
                os.path.join(d, "ros2-mcap", "straight-unchunked.mcap")):
        names.append(os.path.basename(src) + ".zstd")
        subprocess.run(["zstd", "-q", "-f", src, "-o", os.path.join(per_file, names[-1])], check=True)
    write_metadata(per_file, names, "FILE", "zstd")
    tmp = os.path.join(args.work, "tmp")
    os.makedirs(tmp)
    saved = os.path.join(args.work, "per-file.txt")
    p = subprocess.run([args.demo, "--format", "rosbag2", per_file, "--quiet", "--no-html", "--save-scans", saved,
                        "--out", os.path.join(args.work, "o")], capture_output=True, text=True,
                       env=dict(os.environ, TMPDIR=tmp))
    if p.returncode != 0:
        fail("a bag compressed file by file: status %d\n%s" % (p.returncode, p.stderr))
    with open(saved) as f:
        check_against_model(f.read(), msgs + msgs[:12], (0.0, math.inf), "files compressed one by one")
    if os.listdir(tmp):
        fail("temporary files left behind: %s" % os.listdir(tmp))
    print("ok: sqlite3, MCAP (zstd, lz4, stored, unchunked), split, per-message and per-file zstd bags binned by "
          "the LaserScan rule, bit for bit")


def case_ros1(args):
    import rosbag
    import rospy
    from sensor_msgs.msg import LaserScan

    bag1 = os.path.join(args.work, "same.bag")
    with rosbag.Bag(bag1, "w") as out:
        for n, (_, m) in enumerate(recorded(args.data)):
            s = LaserScan()
            s.header.seq = n
            s.header.stamp = rospy.Time(m.sec, m.nanosec)
            s.header.frame_id = m.frame_id
            for field in ("angle_min", "angle_max", "angle_increment", "time_increment", "scan_time", "range_min",
                          "range_max", "ranges", "intensities"):
                setattr(s, field, getattr(m, field))
            out.write("/scan", s, s.header.stamp)
    want = replay(args, bag1, "ros1", fmt="rosbag")
    if len(want.splitlines()) != 147:
        fail("the ROS 1 bag gave %d scans, not 147" % len(want.splitlines()))
    for name, bag in (("sqlite3", os.path.join(args.data, "ros2-straight")),
                      ("mcap-zstd", os.path.join(args.data, "ros2-mcap", "straight-zstd")),
                      ("mcap-lz4", os.path.join(args.data, "ros2-mcap", "straight-lz4.mcap"))):
        if replay(args, bag, name) != want:
            fail("%s: the scans differ from the same messages' in a ROS 1 bag" % name)
    print("ok: sqlite3 and MCAP bags give the ROS 1 bag's scans, bit for bit")


def one_line(p, words):
    lines = p.stderr.splitlines()
    if len(lines) != 1 or not all(w in lines[0] for w in words):
        fail("want one line with %s, got %r" % (words, p.stderr))


def mcap_records(data):
    """(opcode, start of body, length) of the top-level records of an MCAP file."""
    pos, out = 8, []
    while pos + 9 <= len(data):
        op, length = struct.unpack_from("<BQ", data, pos)
        out.append((op, pos + 9, length))
        if op == 0x02:
            break
        pos += 9 + length
    return out


def case_errors(args):
    d, w = args.data, args.work
    out = ["--out", os.path.join(w, "o"), "--no-html", "--quiet"]

    def refused(path, words):
        one_line(run([args.demo, "--format", "rosbag2", path] + out, 2), [os.path.basename(path)] + words)

    def write(name, data):
        path = os.path.join(w, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    with open(os.path.join(d, "ros2-mcap", "straight-plain.mcap"), "rb") as f:
        plain = f.read()
    with open(os.path.join(d, "ros2-mcap", "straight-lz4.mcap"), "rb") as f:
        lz4 = f.read()
    with open(os.path.join(d, "ros2-straight", "mumble_imu_lidar_bag_0.db3"), "rb") as f:
        db3 = f.read()
    refused(write("junk.db3", b"not a bag\n" * 50), ["not a ROS 2 bag"])
    refused(write("empty.mcap", b""), ["not a ROS 2 bag"])
    # Cut anywhere before the end of the data section (a cut summary loses no message).
    data_end = [r for r in mcap_records(plain) if r[0] == 0x0F][0][1] - 9
    for cut in (9, 30, len(plain) // 3, data_end - 5, data_end):
        refused(write("cut-%d.mcap" % cut, plain[:cut]), [])
    refused(write("cut.db3", db3[:len(db3) // 2]), ["sqlite3"])
    chunk = [r for r in mcap_records(plain) if r[0] == 0x06][0]
    flipped = bytearray(plain)
    flipped[chunk[1] + chunk[2] - 100] ^= 0x40  # inside the stored records: only the check sum sees it
    refused(write("flipped.mcap", bytes(flipped)), ["check sum"])
    chunk = [r for r in mcap_records(lz4) if r[0] == 0x06][0]
    renamed = bytearray(lz4)
    at = chunk[1] + 28 + 4  # the compression's name after three u64, a u32 and its length
    if renamed[at:at + 3] != b"lz4":
        fail("the lz4 test file's first chunk is not where this test looks")
    renamed[at:at + 3] = b"xz4"
    refused(write("renamed.mcap", bytes(renamed)), ["xz4"])
    big = bytearray(lz4)
    struct.pack_into("<Q", big, chunk[1] + 16, 1 << 40)  # the chunk's stated size
    refused(write("huge-chunk.mcap", bytes(big)), ["chunk"])
    for name, words in (("no-meta", ["metadata.yaml"]), ("escape", ["outside"]), ("per-file", ["file by file"]),
                        ("not-yaml", ["metadata.yaml"])):
        folder = os.path.join(w, name)
        os.makedirs(folder)
        if name == "escape":
            write_metadata(folder, ["../../etc/passwd"])
        elif name == "per-file":
            write_metadata(folder, ["bag_0.db3.bz2"], "FILE", "bz2")
        elif name == "not-yaml":
            write(os.path.join(name, "metadata.yaml"), b"rosbag2_bagfile_information: [1, {")
        refused(folder, words)
    # Compressed file by file, but the file is cut.
    folder = os.path.join(w, "cut-per-file")
    os.makedirs(folder)
    packed = subprocess.run(["zstd", "-q", "-c", os.path.join(d, "ros2-mcap", "straight-plain.mcap")],
                            capture_output=True, check=True).stdout
    write(os.path.join("cut-per-file", "bag_0.mcap.zstd"), packed[:len(packed) // 2])
    write_metadata(folder, ["bag_0.mcap.zstd"], "FILE", "zstd")
    refused(folder, ["bag_0.mcap.zstd", "zstd"])
    # Hostile messages in an otherwise sound sqlite3 bag.
    good = [raw for raw, _ in recorded(d)][0]
    frame_end = 4 + 8 + 4 + 12
    hostile = [
        ("frame-length", good[:12] + struct.pack("<I", 0xFFFFFFF0) + good[16:]),
        ("ranges-count", good[:frame_end + 28] + struct.pack("<I", 0x40000000) + good[frame_end + 32:]),
        ("short", good[:3]),
        ("extra", good + b"\0" * 4),
        ("cut-ranges", good[:-100]),
    ]
    for name, data in hostile:
        path = os.path.join(w, "hostile-%s.db3" % name)
        shutil.copy(os.path.join(d, "ros2-straight", "mumble_imu_lidar_bag_0.db3"), path)
        os.chmod(path, 0o644)
        db = sqlite3.connect(path)
        db.execute("UPDATE messages SET data = ? WHERE id = (SELECT m.id FROM messages m JOIN topics t "
                   "ON m.topic_id = t.id WHERE t.name = '/scan' ORDER BY m.timestamp LIMIT 1 OFFSET 5)", (data,))
        db.commit()
        db.close()
        refused(path, ["message 5 on /scan"])
    # Topics: several LaserScan topics, a missing one, another serialization.
    two = os.path.join(w, "two-topics.db3")
    shutil.copy(os.path.join(d, "ros2-straight", "mumble_imu_lidar_bag_0.db3"), two)
    os.chmod(two, 0o644)
    db = sqlite3.connect(two)
    db.execute("INSERT INTO topics (id, name, type, serialization_format, offered_qos_profiles) "
               "VALUES (9, '/rear/scan', ?, 'cdr', '')", (LASER_SCAN,))
    db.execute("INSERT INTO messages (topic_id, timestamp, data) VALUES (9, 1, ?), (9, 2, ?)", (good, good))
    db.commit()
    db.close()
    one_line(run([args.demo, "--format", "rosbag2", two] + out, 2), ["/scan", "/rear/scan", "--topic"])
    p = run([args.demo, "--format", "rosbag2", two, "--topic", "/rear/scan", "--json"] + out[:-1], 0)
    if len(p.stdout.splitlines()) != 4 or '"end":{"records":2}' not in p.stdout.splitlines()[2]:
        fail("--topic /rear/scan: want 2 scans, the closing stop and a summary, got %r" % p.stdout)
    one_line(run([args.demo, "--format", "rosbag2", two, "--topic", "/side"] + out, 2), ["/side"])
    other = os.path.join(w, "other-format.db3")
    shutil.copy(two, other)
    db = sqlite3.connect(other)
    db.execute("UPDATE topics SET serialization_format = 'json' WHERE id = 9")
    db.commit()
    db.close()
    refused(other, ["json"])
    view = os.path.join(w, "view.db3")
    db = sqlite3.connect(view)
    db.execute("CREATE TABLE topics (id INTEGER, name TEXT, type TEXT, serialization_format TEXT)")
    db.execute("CREATE VIEW messages AS WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n) "
               "SELECT i AS id, 1 AS topic_id, i AS timestamp, x'00' AS data FROM n")
    db.commit()
    db.close()
    refused(view, ["tables"])
    print("ok: junk, cut, corrupt, escaping, hostile and ambiguous bags are one line and status 2 each")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--demo", required=True)
    ap.add_argument("--data", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("case", choices=["scans", "ros1", "errors"])
    args = ap.parse_args()
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    {"scans": case_scans, "ros1": case_ros1, "errors": case_errors}[args.case](args)


if __name__ == "__main__":
    main()
