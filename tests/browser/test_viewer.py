#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-3-Clause
"""Opens a run.html in headless Chromium and drives it like a user.

Usage: test_viewer.py --fixture PROGRAM --work DIR
   or: test_viewer.py --html run.html --info info.txt [--expected expected.json] [--total M] --work DIR

With --fixture, PROGRAM DIR writes run.html, info.txt and expected.json.
Exits 77 (skipped) with the reason when no browser or driver can be used.
"""
import argparse
import json
import re
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import time

SKIP = 77


def skip(why):
    print("SKIPPED: " + why)
    sys.exit(SKIP)


try:
    from selenium import webdriver
    from selenium.common.exceptions import NoAlertPresentException, WebDriverException
    from selenium.webdriver.common.action_chains import ActionChains
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
    from selenium.webdriver.chrome.service import Service
except ImportError as e:
    skip("python3-selenium is not installed (%s); apt-get install python3-selenium" % e)

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL: " + what)
    return ok


def find_binary(*names):
    for n in names:
        p = shutil.which(n)
        if p:
            return p
    return None


def start_browser(profile):
    chromium = find_binary("chromium", "chromium-browser")
    driver_bin = find_binary("chromedriver")
    if not chromium:
        skip("no chromium on PATH; apt-get install chromium")
    if not driver_bin:
        skip("no chromedriver on PATH; apt-get install chromium-driver")
    opts = webdriver.ChromeOptions()
    opts.binary_location = chromium
    for a in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
              "--disable-background-networking", "--disable-component-update", "--disable-sync",
              "--disable-dev-shm-usage", "--window-size=1450,1180", "--user-data-dir=" + profile):
        opts.add_argument(a)
    opts.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    try:
        return webdriver.Chrome(service=Service(driver_bin), options=opts)
    except WebDriverException as e:
        skip("chromium would not start under chromedriver: %s" % str(e).splitlines()[0])


def text(driver, element_id):
    return driver.execute_script("return document.getElementById(arguments[0]).textContent;", element_id)


def shown(driver):
    return int(text(driver, "tick")), text(driver, "tick-info")


def severe_logs(driver):
    return [e for e in driver.get_log("browser") if e.get("level") == "SEVERE"]


def expect_tick(driver, info, n, how):
    tick, line = shown(driver)
    check(tick == n, "%s: #tick shows %d, expected %d" % (how, tick, n))
    check(line == info[n], "%s: #tick-info is %r, expected %r" % (how, line, info[n]))
    slider = driver.execute_script("return document.getElementById('slider').value;")
    check(slider == str(n), "%s: slider at %s, expected %d" % (how, slider, n))


def no_alert(driver):
    try:
        driver.switch_to.alert
        return False
    except NoAlertPresentException:
        return True


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--fixture")
    ap.add_argument("--html")
    ap.add_argument("--info")
    ap.add_argument("--expected")
    ap.add_argument("--title", help="the raw title the page must show (default: the fixture's)")
    ap.add_argument("--total", type=int, help="ticks in the run when the page holds fewer (default: all)")
    ap.add_argument("--work", required=True)
    args = ap.parse_args()

    work = pathlib.Path(args.work)
    work.mkdir(parents=True, exist_ok=True)
    title = args.title
    if args.fixture:
        # Cross builds run the fixture under the emulator that ctest names.
        emulator = os.environ.get("SCANPILOT_TEST_EMULATOR", "").split(";")
        subprocess.run([e for e in emulator if e] + [args.fixture, str(work)], check=True)
        html, info_file, expected_file = work / "run.html", work / "info.txt", work / "expected.json"
        if title is None:
            title = "<script>window.__injected=1;alert(1)</script> & \"x\" a&b.txt"
    else:
        html, info_file = pathlib.Path(args.html), pathlib.Path(args.info)
        expected_file = pathlib.Path(args.expected) if args.expected else None
    info = info_file.read_text(encoding="utf-8").splitlines()
    expected = json.loads(expected_file.read_text()) if expected_file else None
    url = html.resolve().as_uri()
    count = len(info)
    if count < 3:
        print("FAIL: the run needs at least 3 ticks, has %d" % count)
        return 1

    profile = tempfile.mkdtemp(prefix="viewer-chromium-")
    driver = start_browser(profile)
    try:
        # Opening at a tick.
        mid = count // 2
        driver.get(url + "#tick=%d" % mid)
        expect_tick(driver, info, mid, "open at #tick=%d" % mid)
        own_scripts = driver.execute_script("return document.scripts.length;")
        check(own_scripts == 2, "page has %d script elements, expected its own 2" % own_scripts)
        check(driver.execute_script("return typeof window.__injected;") == "undefined",
              "the title's script ran")
        check(no_alert(driver), "an alert is open")
        note = driver.execute_script(
            "var e = document.getElementById('cut-note'); return e.hidden ? null : e.textContent;")
        if args.total is None or args.total == count:
            check(note is None, "a whole run shows the cut note %r" % note)
        else:
            want = "first %d of %d" % (count, args.total)
            check(note is not None and want in note, "cut note is %r, expected it to say %r" % (note, want))
        if title is not None:
            check(driver.title == title, "document title is %r, expected %r" % (driver.title, title))
            check(text(driver, "title") == title, "heading shows %r" % text(driver, "title"))

        # Following the hash.
        for n in (0, count - 1, 1, mid):
            driver.execute_script("location.hash = arguments[0];", "#tick=%d" % n)
            time.sleep(0.05)
            expect_tick(driver, info, n, "hashchange to %d" % n)

        # Keyboard: arrows, Home, End, and the slider keeps keys from stepping twice.
        body = driver.find_element(By.TAG_NAME, "body")
        body.send_keys(Keys.ARROW_RIGHT)
        expect_tick(driver, info, mid + 1, "Right")
        body.send_keys(Keys.ARROW_LEFT, Keys.ARROW_LEFT)
        expect_tick(driver, info, mid - 1, "Left twice")
        body.send_keys(Keys.END)
        expect_tick(driver, info, count - 1, "End")
        body.send_keys(Keys.ARROW_RIGHT)
        expect_tick(driver, info, count - 1, "Right at the end")
        body.send_keys(Keys.HOME)
        expect_tick(driver, info, 0, "Home")
        body.send_keys(Keys.ARROW_LEFT)
        expect_tick(driver, info, 0, "Left at the start")
        check(driver.current_url.endswith("#tick=0"), "address does not follow: %s" % driver.current_url)

        slider = driver.find_element(By.ID, "slider")
        width = slider.size["width"]
        ActionChains(driver).move_to_element_with_offset(slider, int(width * 0.25), 0).click().perform()
        tick, _ = shown(driver)
        check(0 < tick < count - 1, "slider click near 3/4 went to %d" % tick)
        expect_tick(driver, info, tick, "slider click")
        slider.send_keys(Keys.ARROW_RIGHT)
        expect_tick(driver, info, min(count - 1, tick + 1), "Right on the focused slider")

        # Timeline click.
        timeline = driver.find_element(By.ID, "timeline")
        ActionChains(driver).move_to_element_with_offset(timeline, int(timeline.size["width"] * 0.45), 0).click().perform()
        tick, _ = shown(driver)
        expect_tick(driver, info, tick, "timeline click")
        check(tick != 0 and tick != count - 1, "timeline click near the middle went to %d" % tick)

        # Play and pause.
        body.send_keys(Keys.HOME)
        driver.execute_script("document.getElementById('speed').value = '1';")
        body.send_keys(Keys.SPACE)
        time.sleep(0.5)  # some 5 ticks at 10 per second; the fixture has more
        body.send_keys(Keys.SPACE)
        paused, _ = shown(driver)
        check(0 < paused < count - 1, "Space did not play, or not at speed 1x (at %d)" % paused)
        time.sleep(0.3)
        check(shown(driver)[0] == paused, "Space did not pause")
        expect_tick(driver, info, paused, "after play")

        # Every tick's line, and what the page decoded against what went in.
        for n in range(count) if count <= 200 else range(0, count, max(1, count // 150)):
            driver.execute_script("location.hash = arguments[0];", "#tick=%d" % n)
            tick, line = shown(driver)
            check(tick == n and line == info[n], "tick %d: page shows %d / %r" % (n, tick, line))
            status = text(driver, "status")
            check(not re.search(r"-0(\.0+)?(?![.0-9])", line + " " + status), "tick %d shows a signed zero: %r / %r" % (
                n, line, status))
            if expected:
                got = driver.execute_script("""
                    var t = window.runViewer.decode(arguments[0]), blocked = 0, pull = 0, onGrid = 0;
                    for (var k = 0; k < 10000; ++k) { blocked += t.blocked[k]; if (!t.blocked[k]) pull += t.attraction[k]; }
                    for (var d = 0; d < 360; ++d) if (!isNaN(t.scan[d])) ++onGrid;
                    return {blocked: blocked, pull: pull, scanOnGrid: onGrid, start: t.start, path: t.path};""", n)
                want = expected["ticks"][n]
                check(got == want, "tick %d decodes to %s, expected %s" % (
                    n, json.dumps(got)[:200], json.dumps(want)[:200]))

        # The drawing is there: enough non-white pixels on the grid canvas.
        driver.execute_script("location.hash = arguments[0];", "#tick=%d" % mid)
        inked = driver.execute_script("""
            var c = document.getElementById('grid'), g = c.getContext('2d');
            var d = g.getImageData(0, 0, c.width, c.height).data, n = 0;
            for (var i = 0; i < d.length; i += 4) if (d[i] < 240 || d[i + 1] < 240 || d[i + 2] < 240) ++n;
            return n / (c.width * c.height);""")
        check(inked > 0.05, "grid canvas nearly blank (%.3f inked)" % inked)

        check(no_alert(driver), "an alert is open at the end")
        check(driver.execute_script("return typeof window.__injected;") == "undefined", "injected script ran")
        logs = severe_logs(driver)
        check(not logs, "console errors: %s" % logs)
        driver.execute_script("window.scrollTo(0, 0);")
        shot = work / "viewer.png"
        driver.save_screenshot(str(shot))
        print("screenshot: %s" % shot)

        # A --follow replay (a tracked point, no true distance) has a row
        # and a status word for the tracked point's distance.
        has_tracked, has_distance = driver.execute_script("""
            var d = JSON.parse(document.getElementById('run-data').textContent), f = function (i) {
              return d.ticks.some(function (t) { return t[i] !== null; }); };
            return [f(7), f(4)];""")
        if has_tracked and not has_distance:
            check("tracked point" in text(driver, "status"), "no tracked point's distance in %r" % text(driver, "status"))

        # Runs of the pilot show its command and why it does not drive ahead:
        # in the status line, and as two coloured strips under the reached one.
        has_command = driver.execute_script("""
            var d = JSON.parse(document.getElementById('run-data').textContent);
            return d.ticks.length > 0 && d.ticks.every(function (t) { return t[12] !== null && t[12] !== undefined; });""")
        if has_command:
            status = text(driver, "status")
            check(re.search(r"drive -?\d+\.\d\d m/s, -?\d+\.\d\d rad/s", status), "no command in %r" % status)
            inked = driver.execute_script("""
                var c = document.getElementById('timeline'), r = window.devicePixelRatio || 1;
                var g = c.getContext('2d'), out = [];
                [36, 56].forEach(function (y) {   // the command and reason strips (CSS px)
                  var d = g.getImageData(Math.round(200 * r), Math.round(y * r), Math.round(c.width - 212 * r), 1).data, n = 0;
                  for (var i = 0; i < d.length; i += 4) if (!(d[i] === 246 && d[i + 1] === 246 && d[i + 2] === 246)) ++n;
                  out.push(n / (d.length / 4));
                });
                return out;""")
            check(inked[0] > 0.9, "the command strip is %.2f coloured" % inked[0])

            # The legend under the timeline names every colour the strips
            # use: the colour at the middle of each tick's column, read off
            # the canvas, must be a swatch of its row, and every reason of
            # the run must be named once.
            legend = driver.execute_script(r"""
                var d = JSON.parse(document.getElementById('run-data').textContent);
                var c = document.getElementById('timeline'), r = window.devicePixelRatio || 1, g = c.getContext('2d');
                var n = d.ticks.length, w = c.width / r - 200 - 12;
                function at(j) { return 200 + (n > 1 ? j * w / (n - 1) : w / 2); }
                var marker = at(window.runViewer.current());
                function hex(y, j) {
                  var x = Math.min(at(j), 200 + w - 1);
                  var p = g.getImageData(Math.round(x * r), Math.round(y * r), 1, 1).data;
                  return '#' + [p[0], p[1], p[2]].map(function (v) { return ('0' + v.toString(16)).slice(-2); }).join('');
                }
                var rows = Array.prototype.map.call(document.querySelectorAll('#timeline-legend > div'), function (div) {
                  return { title: div.querySelector('b').textContent,
                           keys: Array.prototype.map.call(div.querySelectorAll('.key'), function (k) {
                             return [k.querySelector('i').getAttribute('data-colour'), k.textContent]; }) };
                });
                // Only ticks whose neighbours are alike: narrow columns blend at their edges.
                function kind(t) { return t[12][3]; }
                function alike(j, f) {
                  return Math.abs(at(j) - marker) > 4 && (j === 0 || f(d.ticks[j - 1]) === f(d.ticks[j])) && (j === n - 1 || f(d.ticks[j + 1]) === f(d.ticks[j]));
                }
                var used = { command: {}, reason: {} }, reasons = {};
                d.ticks.forEach(function (t, j) {
                  if (alike(j, kind)) used.command[hex(36, j)] = true;
                  if (t[12][2] === 'driving') return;
                  reasons[t[12][2]] = true;
                  if (alike(j, function (u) { return u[12][2]; })) used.reason[hex(56, j)] = true;
                });
                return { rows: rows, command: Object.keys(used.command), reason: Object.keys(used.reason),
                         reasons: Object.keys(reasons), shown: !!document.getElementById('timeline-legend').offsetHeight };""")
            rows = {r["title"]: r["keys"] for r in legend["rows"]}
            check(legend["shown"], "the timeline's legend is not shown")
            for title, strip in (("command:", "command"), ("why not driving:", "reason")):
                keys = rows.get(title)
                check(keys is not None, "no %r row in the timeline's legend: %r" % (title, list(rows)))
                colours = {k[0] for k in (keys or [])}
                for colour in legend[strip]:
                    check(colour in colours, "the %s strip's %s is not in its legend row %r" % (strip, colour, keys))
            reason_keys = rows.get("why not driving:") or []
            check(len(reason_keys) == max(1, len(legend["reasons"])),
                  "legend reasons %r for the run's %r" % ([k[1] for k in reason_keys], legend["reasons"]))
            check(len({k[0] for k in reason_keys}) == len(reason_keys) or len(legend["reasons"]) <= 1,
                  "two reasons share a colour in the legend: %r" % reason_keys)

        # In a 1400 x 1000 window the timeline is in view without scrolling.
        driver.set_window_size(1400, 1000)
        driver.refresh()
        time.sleep(0.3)
        top, bottom, inner = driver.execute_script("""
            var b = document.getElementById('timeline').getBoundingClientRect();
            return [b.top, b.bottom, window.innerHeight];""")
        check(0 < top and bottom <= inner, "at 1400 x 1000 the timeline spans %.0f..%.0f of %.0f px" % (top, bottom, inner))
        shot = work / "viewer-1400x1000.png"
        driver.save_screenshot(str(shot))
        print("screenshot: %s" % shot)
    finally:
        driver.quit()
        shutil.rmtree(profile, ignore_errors=True)

    if failures:
        print("%d check(s) failed" % len(failures))
        return 1
    print("viewer in the browser: all checks passed (%d ticks)" % count)
    return 0


if __name__ == "__main__":
    sys.exit(main())
