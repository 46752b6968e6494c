#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-3-Clause
"""Reads a public header the way Doxygen should: its plain // comments are
the documentation. The opening block describes the file, a comment line
above a declaration describes it, and one after a member on its line
describes that member.

doxygen_filter.py HEADER   (prints the filtered header)
"""
import re
import sys

TRAILING = re.compile(r"^(\s*[^/\s][^\"]*?[;,{])(\s+)//(?!/)\s?(.*)$")
LEADING = re.compile(r"^(\s*)//(?!/)\s?(.*)$")
RULE = re.compile(r"^\s*//\s*[-=]{4,}")


def filter_header(lines):
    out = []
    opening = True
    for line in lines:
        if opening:
            m = LEADING.match(line)
            if m:
                text = m.group(2)
                out.append(("/// @file\n/// " if not out else "/// ") + text + "\n")
                continue
            opening = False
        if RULE.match(line):
            out.append("\n")  # a separator line documents nothing
            continue
        m = TRAILING.match(line)
        if m:
            out.append("%s%s///< %s\n" % (m.group(1), m.group(2), m.group(3)))
            continue
        m = LEADING.match(line)
        if m:
            out.append("%s/// %s\n" % (m.group(1), m.group(2)))
            continue
        out.append(line)
    return out


if __name__ == "__main__":
    with open(sys.argv[1], encoding="utf-8") as f:
        sys.stdout.write("".join(filter_header(f.readlines())))
