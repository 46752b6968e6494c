#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-3-Clause
"""Every relative link of the project's pages must reach a file, and an
anchor a heading of that file (as a Markdown renderer makes them); every
docs/*.md page that robot-demo's --help names must exist.

  check_doc_links.py ROOT        check README.md, docs/*.md and the other pages
  check_doc_links.py --self-test the checker must catch each kind of break
"""
import os
import re
import sys
import tempfile

LINK = re.compile(r"!?\[(?:[^\]\\]|\\.)*\]\(\s*<?([^)\s>]+)>?(?:\s+\"[^\"]*\")?\s*\)")
CODE_SPAN = re.compile(r"(`+)(?:.+?)\1")
FENCE = re.compile(r"^\s*(```|~~~)")


def lines_outside_code(text):
    """(number, line) of the lines outside fenced blocks, code spans removed."""
    fenced = False
    for n, line in enumerate(text.splitlines(), 1):
        if FENCE.match(line):
            fenced = not fenced
            continue
        if not fenced:
            yield n, CODE_SPAN.sub("", line)


def slug(heading):
    s = heading.strip().lower()
    s = re.sub(r"[^\w\- ]", "", s)
    return s.replace(" ", "-")


def anchors(path, cache={}):
    if path not in cache:
        found, seen = set(), {}
        with open(path, encoding="utf-8") as f:
            fenced = False
            for line in f:
                if FENCE.match(line):
                    fenced = not fenced
                    continue
                m = None if fenced else re.match(r"^#{1,6}\s+(.*?)\s*#*\s*$", line)
                if m:
                    base = slug(m.group(1))
                    k = seen.get(base, 0)
                    seen[base] = k + 1
                    found.add(base if k == 0 else "%s-%d" % (base, k))
        cache[path] = found
    return cache[path]


CHECKED = [0]


def check_page(root, page):
    problems = []
    with open(page, encoding="utf-8") as f:
        text = f.read()
    here = os.path.dirname(page)
    for n, line in lines_outside_code(text):
        for target in LINK.findall(line):
            if re.match(r"^[a-z][a-z0-9+.-]*:", target, re.I):
                continue  # http:, mailto:, ...
            CHECKED[0] += 1
            path, _, anchor = target.partition("#")
            dest = os.path.normpath(os.path.join(here, path)) if path else page
            where = "%s:%d: %s" % (os.path.relpath(page, root), n, target)
            if not os.path.exists(dest):
                problems.append(where + ": no such file")
            elif anchor and (not dest.endswith(".md") or anchor not in anchors(dest)):
                problems.append(where + ": no such heading")
    return problems


def pages(root):
    found = [os.path.join(root, "README.md")]
    for sub in ("docs", "fuzz", os.path.join("tests", "data")):
        d = os.path.join(root, sub)
        if os.path.isdir(d):
            found += sorted(os.path.join(d, f) for f in os.listdir(d) if f.endswith(".md"))
    return found


def check_usage(root):
    usage = os.path.join(root, "robot-demo", "cli", "usage.cpp")
    if not os.path.exists(usage):
        return []
    with open(usage, encoding="utf-8") as f:
        named = sorted(set(re.findall(r"docs/[\w.-]+\.md", f.read())))
    return ["robot-demo --help names %s: no such file" % p for p in named if not os.path.exists(os.path.join(root, p))]


def check(root):
    problems = []
    for page in pages(root):
        problems += check_page(root, page)
    return problems + check_usage(root)


def self_test():
    with tempfile.TemporaryDirectory() as root:
        os.makedirs(os.path.join(root, "docs"))
        os.makedirs(os.path.join(root, "robot-demo", "cli"))
        files = {
            "README.md": "# Top: `the` page\n\n[ok](docs/a.md#a-heading) [ok](#top-the-page)\n"
                         "[gone](docs/missing.md) [bad anchor](docs/a.md#nope) `[code](nowhere.md)`\n"
                         "```\n[fenced](nowhere.md)\n```\n[web](https://example.org/x)\n",
            "docs/a.md": "# A heading\n## A heading\n[ok](a.md#a-heading-1) [up](../README.md#nope)\n"
                         "![picture](pic.png)\n",
            "robot-demo/cli/usage.cpp": '"see docs/a.md" "see docs/b.md"\n',
        }
        for name, text in files.items():
            with open(os.path.join(root, name), "w", encoding="utf-8") as f:
                f.write(text)
        got = sorted(check(root))
        want = sorted([
            "README.md:4: docs/missing.md: no such file",
            "README.md:4: docs/a.md#nope: no such heading",
            os.path.join("docs", "a.md") + ":3: ../README.md#nope: no such heading",
            os.path.join("docs", "a.md") + ":4: pic.png: no such file",
            "robot-demo --help names docs/b.md: no such file",
        ])
        if got != want:
            print("self-test failed:\n  got  %r\n  want %r" % (got, want))
            return 1
    print("self-test: ok")
    return 0


def main():
    if sys.argv[1:] == ["--self-test"]:
        return self_test()
    if len(sys.argv) != 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    root = os.path.abspath(sys.argv[1])
    problems = check(root)
    for p in problems:
        print(p)
    if problems:
        return 1
    print("%d pages, %d relative links, all resolve" % (len(pages(root)), CHECKED[0]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
