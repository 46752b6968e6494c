#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-3-Clause
"""robot-demo's man page names every option that --help names, and no other.

check_man_page.py ROBOT_DEMO MAN_PAGE [EMULATOR...]
"""
import re
import subprocess
import sys

OPTION = re.compile(r"(?<![\w-])--[a-z][a-z0-9-]*")


def options_of_man(text):
    # roff: \- is a hyphen, \fB...\fR switch fonts.
    plain = re.sub(r"\\f[BIRP]", "", text).replace("\\-", "-")
    return set(OPTION.findall(plain))


def main():
    demo, page = sys.argv[1], sys.argv[2]
    emulator = sys.argv[3:]
    helped = subprocess.run(emulator + [demo, "--help"], capture_output=True, text=True, check=True).stdout
    want = set(OPTION.findall(helped))
    with open(page, encoding="utf-8") as f:
        got = options_of_man(f.read())
    missing, extra = sorted(want - got), sorted(got - want)
    if missing or extra or len(want) < 20:
        print("man page out of step with --help: missing %s, extra %s (%d options in --help)"
              % (missing, extra, len(want)), file=sys.stderr)
        return 1
    print("the man page names the %d options of --help" % len(want))
    return 0


if __name__ == "__main__":
    sys.exit(main())
