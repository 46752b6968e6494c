#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-3-Clause
"""Stands in for a scanner on a pseudo-terminal: feeds a raw capture into it at
the serial line's pace, over and over, so that robot-demo --device runs live
without hardware.

usage: feed-pty.py CAPTURE --baud N [--rate B] [--answer rplidar|ydlidar] [--log FILE]
                   [--once] [--link PATH] [--reply HEX]

It prints the pseudo-terminal's path, then feeds until Ctrl-C. With --answer
it behaves like a scanner that waits to be asked: nothing is sent until the
start request (A5 20 for rplidar, A5 60 for ydlidar), which is answered with
the scan descriptor (or --reply HEX); a stop request (A5 25 / A5 65) pauses
the stream until the next start. --log writes each request received as a line
of hex (and a line "dtr" or "nodtr" when the line changes, where the system
says). --link makes PATH a symbolic link to the terminal.
"""
import argparse
import os
import select
import signal
import sys
import termios
import time
import tty

DESCRIPTOR = bytes([0xA5, 0x5A, 0x05, 0x00, 0x00, 0x40, 0x81])
START = {"rplidar": 0x20, "ydlidar": 0x60}
STOP = {"rplidar": 0x25, "ydlidar": 0x65}


class Requests:
    """Splits the bytes a host sends into requests: A5 cmd, or A5 cmd len payload checksum when cmd & 0x80."""

    def __init__(self):
        self.buf = b""

    def feed(self, data):
        self.buf += data
        out = []
        while True:
            i = self.buf.find(b"\xa5")
            if i < 0:
                self.buf = b""
                return out
            self.buf = self.buf[i:]
            if len(self.buf) < 2:
                return out
            cmd = self.buf[1]
            if cmd & 0x80:
                if len(self.buf) < 3 or len(self.buf) < 4 + self.buf[2]:
                    return out
                n = 4 + self.buf[2]
            else:
                n = 2
            out.append(self.buf[:n])
            self.buf = self.buf[n:]


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("capture")
    ap.add_argument("--baud", type=int, required=True, help="the scanner's rate; bytes go at baud/10 per second")
    ap.add_argument("--rate", type=float, help="bytes per second instead: the scanner's own data rate")
    ap.add_argument("--answer", choices=sorted(START), help="wait for the start request and answer it")
    ap.add_argument("--reply", help="answer the start request with these bytes (hex) instead of the descriptor")
    ap.add_argument("--log", help="write the requests received here, one per line, in hex")
    ap.add_argument("--once", action="store_true", help="feed the capture once, then keep the line open, silent")
    ap.add_argument("--link", help="a symbolic link to make to the terminal")
    a = ap.parse_args()
    with open(a.capture, "rb") as f:
        data = f.read()
    if not data:
        sys.exit("feed-pty.py: %s is empty" % a.capture)
    master, slave = os.openpty()
    tty.setraw(master)
    path = os.ttyname(slave)
    if a.link:
        if os.path.lexists(a.link):
            os.remove(a.link)
        os.symlink(path, a.link)
    log = open(a.log, "a", buffering=1) if a.log else None
    print("feeding %s at %d baud on %s (Ctrl-C ends)" % (a.capture, a.baud, path), flush=True)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    per_s = a.rate if a.rate else a.baud / 10.0
    reply = bytes.fromhex(a.reply) if a.reply else DESCRIPTOR
    requests = Requests()
    streaming = a.answer is None
    pos, sent, t0 = 0, 0, time.monotonic()
    try:
        while True:
            r, _, _ = select.select([master], [], [], 0.005)
            if r:
                try:
                    got = os.read(master, 4096)
                except OSError:
                    got = b""
                for req in requests.feed(got):
                    if log:
                        log.write(req.hex() + "\n")
                    if a.answer and req[1] == START[a.answer]:
                        os.write(master, reply)
                        streaming, sent, t0 = True, 0, time.monotonic()
                    elif a.answer and req[1] == STOP[a.answer]:
                        streaming = False
            if not streaming or (a.once and pos >= len(data)):
                continue
            due = int((time.monotonic() - t0) * per_s) - sent
            if due <= 0:
                continue
            chunk = data[pos:pos + min(due, 4096)] if pos < len(data) else b""
            if not chunk:
                pos = 0
                continue
            os.write(master, chunk)
            pos += len(chunk)
            sent += len(chunk)
            if not a.once and pos >= len(data):
                pos = 0
    except KeyboardInterrupt:
        pass
    finally:
        # Requests still in the terminal (a stop sent just before the end) are logged too.
        while log and select.select([master], [], [], 0.05)[0]:
            try:
                got = os.read(master, 4096)
            except OSError:
                break
            if not got:
                break
            for req in requests.feed(got):
                log.write(req.hex() + "\n")
        if a.link and os.path.islink(a.link):
            os.remove(a.link)


if __name__ == "__main__":
    main()
