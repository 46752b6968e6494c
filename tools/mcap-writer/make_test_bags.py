#!/usr/bin/python3
# SPDX-License-Identifier: BSD-3-Clause
"""Writes tests/data/ros2-mcap/: the messages of the recorded sqlite3 bag
tests/data/ros2-straight, byte for byte, as MCAP files from an independent
writer (write_mcap.mjs), and small ones as seeds in fuzz/corpus/fuzz_mcap/.
Run after `npm ci` in this folder; needs node, zstd and lz4.

usage: tools/mcap-writer/make_test_bags.py
"""
import base64
import json
import os
import sqlite3
import subprocess

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.join(HERE, "..", "..", "tests", "data")
SOURCE = os.path.join(DATA, "ros2-straight", "mumble_imu_lidar_bag_0.db3")
OUT = os.path.join(DATA, "ros2-mcap")
SEEDS = os.path.join(HERE, "..", "..", "fuzz", "corpus", "fuzz_mcap")

# Only the names matter to a CDR reader; the text is for tools that show it.
DEFINITIONS = {
    "sensor_msgs/msg/LaserScan": "std_msgs/Header header\nfloat32 angle_min\nfloat32 angle_max\n"
    "float32 angle_increment\nfloat32 time_increment\nfloat32 scan_time\nfloat32 range_min\n"
    "float32 range_max\nfloat32[] ranges\nfloat32[] intensities\n",
    "sensor_msgs/msg/Imu": "std_msgs/Header header\ngeometry_msgs/Quaternion orientation\n...\n",
}

# name, mode, chunk bytes, scans kept (None: all)
FILES = [
    ("straight-zstd/straight-zstd_0.mcap", "zstd", 65536, None),
    ("straight-lz4.mcap", "lz4", 32768, None),
    ("straight-plain.mcap", "none", 16384, 20),
    ("straight-unchunked.mcap", "unchunked", 0, 12),
]
# Fuzz seeds under 4 KiB: one scan and the two messages before it.
SEED_FILES = [("zstd.mcap", "zstd", 1024), ("lz4.mcap", "lz4", 1024), ("plain.mcap", "none", 1024),
              ("unchunked.mcap", "unchunked", 0)]

METADATA = """rosbag2_bagfile_information:
  version: 5
  storage_identifier: mcap
  duration:
    nanoseconds: {duration}
  starting_time:
    nanoseconds_since_epoch: {start}
  message_count: {count}
  topics_with_message_count:
{topics}  compression_format: ""
  compression_mode: ""
  relative_file_paths:
    - straight-zstd_0.mcap
"""


def messages(limit):
    db = sqlite3.connect("file:%s?mode=ro" % SOURCE, uri=True)
    topics = db.execute("SELECT id, name, type FROM topics ORDER BY id").fetchall()
    index = {tid: n for n, (tid, _, _) in enumerate(topics)}
    out, scans = [], 0
    scan_id = [tid for tid, name, _ in topics if name == "/scan"][0]
    for tid, stamp, data in db.execute("SELECT topic_id, timestamp, data FROM messages ORDER BY timestamp, id"):
        if tid == scan_id:
            if limit is not None and scans == limit:
                break
            scans += 1
        out.append([index[tid], stamp, base64.b64encode(data).decode()])
    return [{"name": n, "type": t, "definition": DEFINITIONS[t]} for _, n, t in topics], out


def write(path, mode, chunk, topics, msgs):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    doc = json.dumps({"topics": topics, "messages": msgs})
    subprocess.run(["node", os.path.join(HERE, "write_mcap.mjs"), path, mode, str(chunk)], input=doc.encode(),
                   check=True, cwd=HERE)


def main():
    topics, msgs = messages(1)
    for name, mode, chunk in SEED_FILES:
        write(os.path.join(SEEDS, name), mode, chunk, topics, msgs[-3:])
    for name, mode, chunk, limit in FILES:
        topics, msgs = messages(limit)
        path = os.path.join(OUT, name)
        write(path, mode, chunk, topics, msgs)
        if name.startswith("straight-zstd/"):
            counts = {}
            for m in msgs:
                counts[m[0]] = counts.get(m[0], 0) + 1
            lines = "".join("    - topic_metadata:\n        name: %s\n        type: %s\n        serialization_format: "
                            "cdr\n        offered_qos_profiles: \"\"\n      message_count: %d\n"
                            % (t["name"], t["type"], counts.get(n, 0)) for n, t in enumerate(topics))
            with open(os.path.join(os.path.dirname(path), "metadata.yaml"), "w") as f:
                f.write(METADATA.format(duration=msgs[-1][1] - msgs[0][1], start=msgs[0][1], count=len(msgs),
                                        topics=lines))
        print("%s: %d bytes" % (name, os.path.getsize(path)))


if __name__ == "__main__":
    main()
