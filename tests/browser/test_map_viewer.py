#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-3-Clause
"""run.html of map runs in headless Chromium: the map drawn under the room
view, the window that follows the robot on the 60 m office map, the contact
marked where a run ended on one, and the page quick to step through.

Usage: test_map_viewer.py --demo ROBOT_DEMO --work DIR
Exits 77 (skipped) with the reason when no browser or driver can be used."""
import argparse
import os
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import test_viewer as tv  # noqa: E402  (skips by itself without selenium)
from selenium.webdriver.common.by import By  # noqa: E402
from selenium.webdriver.common.keys import Keys  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

# Counts of the room canvas's pixels by kind, in the page itself.
PIXELS = """
var c = document.getElementById('room'), g = c.getContext('2d');
var d = g.getImageData(0, 0, c.width, c.height).data, dark = 0, grey = 0, red = 0, blue = 0;
for (var i = 0; i < d.length; i += 4) {
  var r = d[i], gr = d[i + 1], b = d[i + 2];
  if (r < 60 && gr < 60 && b < 60) ++dark;
  else if (r > 190 && r < 210 && gr > 190 && gr < 210 && b > 190 && b < 210) ++grey;
  else if (r > 190 && gr < 80 && b < 80) ++red;
  else if (b > 150 && r < 80) ++blue;
}
return [dark, grey, red, blue, document.getElementById('room-box').hidden];
"""


def run_demo(demo, args, work):
    p = subprocess.run([demo] + args + ["--quiet", "--out", work], capture_output=True, text=True, timeout=300)
    if p.returncode != 0:
        sys.exit("robot-demo failed: %s" % p.stderr)


def write_room(work):
    w, h = 60, 30
    pix = bytearray([254] * (w * h))
    for r in range(h):
        for c in range(w):
            if r in (0, h - 1) or c in (0, w - 1):
                pix[r * w + c] = 0
    open(os.path.join(work, "room.pgm"), "wb").write(b"P5\n%d %d\n255\n" % (w, h) + bytes(pix))
    open(os.path.join(work, "room.yaml"), "w").write(
        "image: room.pgm\nresolution: 0.1\norigin: [0.0, 0.0, 0.0]\nnegate: 0\noccupied_thresh: 0.65\n"
        "free_thresh: 0.196\n")
    open(os.path.join(work, "toward.txt"), "w").write("2.5 1.5\n0.5 1.5\n")
    return os.path.join(work, "room.yaml"), os.path.join(work, "toward.txt")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--demo", required=True)
    ap.add_argument("--work", required=True)
    a = ap.parse_args()
    shutil.rmtree(a.work, ignore_errors=True)
    os.makedirs(a.work)
    office = os.path.join(a.work, "office")
    run_demo(a.demo, ["--map", os.path.join(ROOT, "examples/maps/willow-2010-02-18-0.10.yaml"),
                      "--start", "19.29,19.70,-40.2", "--person-route",
                      os.path.join(ROOT, "examples/routes/office-doorway.txt"), "--margin", "0.1"], office)
    room_yaml, toward = write_room(a.work)
    hit = os.path.join(a.work, "hit")
    run_demo(a.demo, ["--map", room_yaml, "--start", "1.5,1.5,0", "--person-route", toward, "--person-speed", "0.6"],
             hit)
    driver = tv.start_browser(os.path.join(a.work, "profile"))
    try:
        # The office: 57 m x 61 m, a 10 m window on the robot.
        driver.get("file://" + os.path.join(office, "run.html"))
        time.sleep(0.5)
        tv.check(not tv.severe_logs(driver), "office page: console errors %r" % tv.severe_logs(driver))
        dark, grey, red, blue, hidden = driver.execute_script(PIXELS)
        tv.check(not hidden, "office page: the map view is hidden")
        tv.check(grey > 1000, "office page: no unknown cells drawn (%d grey pixels)" % grey)
        tv.check(blue > 50, "office page: no robot drawn (%d blue pixels)" % blue)
        zoom = driver.find_elements(By.ID, "room-zoom")
        tv.check(len(zoom) == 1 and zoom[0].is_selected(), "office page: no ticked window box")
        # The whole map at once, then back.
        if zoom:
            zoom[0].click()
            whole = driver.execute_script(PIXELS)
            tv.check(whole[1] > grey, "office page: the whole map shows no more of it than the window")
            zoom[0].click()
        # Responsive: stepping through periods redraws quickly.
        body = driver.find_element(By.TAG_NAME, "body")
        t0 = time.time()
        for _ in range(40):
            body.send_keys(Keys.ARROW_RIGHT)
        period = int(tv.text(driver, "tick"))
        per_step = (time.time() - t0) / 40
        tv.check(period == 40, "office page: 40 steps reached period %d" % period)
        tv.check(per_step < 0.25, "office page: %.0f ms a step" % (per_step * 1000))
        # A run that ended on a contact: marked in red at the end.
        driver.get("file://" + os.path.join(hit, "run.html"))
        time.sleep(0.5)
        tv.check(not tv.severe_logs(driver), "contact page: console errors")
        body = driver.find_element(By.TAG_NAME, "body")
        body.send_keys(Keys.END)
        dark, grey, red, blue, hidden = driver.execute_script(PIXELS)
        tv.check(dark > 200, "contact page: the room's walls are not drawn (%d dark pixels)" % dark)
        tv.check(red > 30, "contact page: no contact marker (%d red pixels)" % red)
        tv.check(len(driver.find_elements(By.ID, "room-zoom")) == 0, "contact page: a window box on a small map")
        line = tv.text(driver, "tick-info")
        tv.check("contact with the person" in line, "contact page: the last line says %r" % line)
    finally:
        driver.quit()
    if tv.failures:
        sys.exit(1)
    print("ok")


if __name__ == "__main__":
    main()
