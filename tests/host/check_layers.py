#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-3-Clause
"""robot-demo's folders are layers: a file includes from its own folder and
from the layers below it, never from a layer above nor from another folder
of its own layer, and no two files include each other, directly or around
a circle (a header and its .cpp count as one).

  check_layers.py DIR            check the sources under DIR (robot-demo/)
  check_layers.py --sizes DIR    also list files over 350 lines and
                                 functions over 60 (a report: never fails)
  check_layers.py --self-test    the checker must catch each kind of break
"""
import os
import re
import shutil
import sys
import tempfile

# Bottom first. Folders (or top-level files) on one line are neighbours.
LAYERS = [
    ["base", "grid_frame.h"],
    ["input", "world"],
    ["output"],
    ["cli"],
    ["runs", "sim_runs"],
    ["main.cpp"],
]
LAYER_OF = {room: n for n, rooms in enumerate(LAYERS) for room in rooms}
SOURCE = (".h", ".cpp")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def sources(top):
    for folder, dirs, files in os.walk(top):
        dirs.sort()
        for name in sorted(files):
            if name.endswith(SOURCE):
                yield os.path.relpath(os.path.join(folder, name), top).replace(os.sep, "/")


def room(rel):
    return rel.split("/", 1)[0]


def resolve(top, rel, target):
    """The included file under `top` (by the path from `top`, or beside the
    includer), or None for one from elsewhere (a library, a generated file)."""
    for cand in (target, os.path.join(os.path.dirname(rel), target)):
        cand = os.path.normpath(cand).replace(os.sep, "/")
        if os.path.isfile(os.path.join(top, cand)):
            return cand
    return None


def unit(rel):
    return os.path.splitext(rel)[0]


def cycles(edges):
    """Strongly connected groups of more than one unit (Tarjan's)."""
    index, low, stack, on, out = {}, {}, [], set(), []
    counter = [0]

    def visit(v):
        index[v] = low[v] = counter[0]
        counter[0] += 1
        stack.append(v)
        on.add(v)
        for w in sorted(edges.get(v, ())):
            if w not in index:
                visit(w)
                low[v] = min(low[v], low[w])
            elif w in on:
                low[v] = min(low[v], index[w])
        if low[v] == index[v]:
            group = []
            while True:
                w = stack.pop()
                on.discard(w)
                group.append(w)
                if w == v:
                    break
            if len(group) > 1:
                out.append(sorted(group))

    for v in sorted(edges):
        if v not in index:
            visit(v)
    return out


def check(top):
    """The problems found, one line each."""
    problems, edges = [], {}
    for rel in sources(top):
        here = room(rel)
        if here not in LAYER_OF:
            problems.append(f"{rel}: '{here}' is in no layer; add it to LAYERS in {os.path.basename(__file__)}")
            continue
        with open(os.path.join(top, rel), encoding="utf-8", errors="replace") as f:
            text = f.read()
        for target in INCLUDE.findall(text):
            dep = resolve(top, rel, target)
            if dep is None:
                continue
            if unit(dep) != unit(rel):
                edges.setdefault(unit(rel), set()).add(unit(dep))
            there = room(dep)
            if there == here or there not in LAYER_OF:
                continue
            if LAYER_OF[there] > LAYER_OF[here]:
                problems.append(f"{rel}: upward include of {dep} ({there}/ is above {here}/)")
            elif LAYER_OF[there] == LAYER_OF[here]:
                problems.append(f"{rel}: sideways include of {dep} ({there}/ and {here}/ are neighbours)")
    for group in cycles(edges):
        problems.append("include cycle: " + " -> ".join(group) + " (each reaches the others)")
    return problems


def sizes(top, max_lines=350, max_function=60):
    """Files over `max_lines` lines and functions over `max_function` lines
    (from the first line of the signature to the closing brace)."""
    found = []
    strip = re.compile(r'//.*|"(?:[^"\\]|\\.)*"|\'(?:[^\'\\]|\\.)*\'')
    for rel in sources(top):
        with open(os.path.join(top, rel), encoding="utf-8", errors="replace") as f:
            lines = f.read().splitlines()
        if len(lines) > max_lines:
            found.append(f"{rel}: {len(lines)} lines")
        blocks, head = [], 0  # (kind, first line); head: where the text before a brace began
        for n, line in enumerate(lines, 1):
            code = strip.sub("", line)
            if not code.strip() or code.lstrip().startswith("#"):
                head = n + 1
                continue
            for i, c in enumerate(code):
                if c == "{":
                    inside_function = any(k == "func" for k, _ in blocks)
                    before = " ".join(strip.sub("", x) for x in lines[head - 1:n - 1]) + code[:i]
                    if inside_function:
                        kind = "other"
                    elif re.match(r"\s*(namespace|extern)\b", before):
                        kind = "ns"
                    elif re.search(r"\b(struct|class|union|enum)\b[^()]*$", before):
                        kind = "class"
                    elif ")" in before and not re.search(r"=\s*$", before):
                        kind = "func"
                    else:
                        kind = "other"
                    blocks.append((kind, head))
                    head = n
                elif c == "}" and blocks:
                    kind, first = blocks.pop()
                    if kind == "func" and n - first + 1 > max_function:
                        found.append(f"{rel}:{first}: a function of {n - first + 1} lines")
                elif c == ";" or (c == "}" and not blocks):
                    head = n + 1 if i == len(code.rstrip()) - 1 else n
            if code.rstrip().endswith(("{", "}", ";")) or code.rstrip().endswith(":") and "public" in code:
                head = n + 1
    return found


def self_test():
    here = os.path.dirname(os.path.abspath(__file__))
    real = os.path.join(here, "..", "..", "robot-demo")
    failures = 0
    breaks = [
        ("upward", "base/messages.cpp", '#include "runs/replay.h"\n', "upward include of runs/replay.h"),
        ("sideways", "world/room.cpp", '#include "input/scan_text.h"\n', "sideways include of input/scan_text.h"),
        ("cycle", "input/scan_text.cpp", '#include "input/line_reader.h"\n',
         "include cycle: input/line_reader -> input/scan_text"),
        ("no layer", "extra/thing.cpp", '#include "base/scan.h"\n', "'extra' is in no layer"),
    ]
    with tempfile.TemporaryDirectory() as work:
        top = os.path.join(work, "robot-demo")
        shutil.copytree(real, top, ignore=shutil.ignore_patterns("*.js", "*.css", "*.html", "*.cmake"))
        if check(top):
            print("self-test: the project's own tree does not pass:", *check(top), sep="\n  ")
            failures += 1
        for name, rel, line, want in breaks:
            path = os.path.join(top, rel)
            old = open(path).read() if os.path.exists(path) else None
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "w") as f:
                f.write(line + (old or ""))
            got = check(top)
            if not any(want in p for p in got):
                print(f"self-test: a {name} break was not caught (wanted '{want}', got {got})")
                failures += 1
            if old is None:
                os.remove(path)
            else:
                with open(path, "w") as f:
                    f.write(old)
        # A generated or library header is no part of any layer.
        path = os.path.join(top, "base", "messages.cpp")
        old = open(path).read()
        with open(path, "w") as f:
            f.write('#include "scanpilot.h"\n#include "run_html_page.inc"\n' + old)
        if check(top):
            print("self-test: an include from outside the tree was taken for a break:", check(top))
            failures += 1
    print("self-test:", "failed" if failures else "every break caught")
    return 1 if failures else 0


def main(argv):
    if argv[1:] == ["--self-test"]:
        return self_test()
    want_sizes = len(argv) == 3 and argv[1] == "--sizes"
    if not (len(argv) == 2 or want_sizes):
        print(__doc__.strip(), file=sys.stderr)
        return 2
    top = argv[-1]
    problems = check(top)
    for p in problems:
        print(p)
    if want_sizes:
        for s in sizes(top):
            print("size:", s)
    if problems:
        print(f"check_layers: {len(problems)} include(s) break the layers of {top}", file=sys.stderr)
        return 1
    print(f"check_layers: {top}: every include goes down a layer or stays in its folder, and none closes a circle")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
