#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-3-Clause
"""The licence line at the top of every source file.

  tools/spdx.py           adds "SPDX-License-Identifier: BSD-3-Clause" to every
                          tracked source file that lacks it (after a #! line)
  tools/spdx.py --check   lists the files that lack it, and the licence files
                          of data by others that debian/copyright does not
                          list; fails if there is any
  tools/spdx.py --self-test
"""
import fnmatch
import os
import subprocess
import sys
import tempfile

LICENCE = "BSD-3-Clause"
TAG = "SPDX-License-Identifier:"
SLASHES = (".c", ".cc", ".cpp", ".h", ".hpp", ".js")
HASHES = (".py", ".pyi", ".cmake", ".sh", ".yaml", ".yml")
HASH_NAMES = ("CMakeLists.txt", ".clang-format")


def comment_for(path, first_line):
    """The comment marker a file's licence line takes, or None: not a source file."""
    name = os.path.basename(path)
    if name.endswith(SLASHES):
        return "//"
    if name.endswith(HASHES) or name in HASH_NAMES:
        return "#"
    if first_line.startswith("#!"):  # scripts without an extension (.ci/run, debian/rules)
        return "#"
    return None


def tracked_files(root):
    out = subprocess.run(["git", "-C", root, "ls-files", "-z"], capture_output=True, check=True).stdout
    return [p for p in out.decode().split("\0") if p]


def read_text(path):
    try:
        with open(path, encoding="utf-8") as f:
            return f.read()
    except (UnicodeDecodeError, IsADirectoryError, FileNotFoundError):
        return None  # binary data, a submodule or a deleted file


def with_line(text, marker):
    """The text with its licence line: first, or right after a #! line."""
    line = "%s %s %s\n" % (marker, TAG, LICENCE)
    if text.startswith("#!"):
        end = text.find("\n") + 1 or len(text)
        head = text[:end] if text[:end].endswith("\n") else text[:end] + "\n"
        return head + line + text[end:]
    return line + text


def has_line(text):
    # Within the first lines, as tools that read the tag expect.
    return any(TAG in line for line in text.splitlines()[:5])


def theirs_patterns(root):
    """The Files: patterns of debian/copyright but `*`: data by others, which
    keeps its own licence and takes no line of ours."""
    path = os.path.join(root, "debian", "copyright")
    if not os.path.exists(path):
        return []
    patterns = []
    for line in open(path, encoding="utf-8"):
        if line.startswith("Files:"):
            patterns += [p for p in line[len("Files:"):].split() if p != "*"]
    return patterns


def missing(root, files):
    out = []
    theirs = theirs_patterns(root)
    for rel in files:
        if any(fnmatch.fnmatchcase(rel, p) for p in theirs):
            continue
        text = read_text(os.path.join(root, rel))
        if text is None:
            continue
        marker = comment_for(rel, text.split("\n", 1)[0])
        if marker and not has_line(text):
            out.append((rel, marker, text))
    return out


def unlisted_licences(root, files):
    """Licence files beside data by others that debian/copyright does not cover."""
    path = os.path.join(root, "debian", "copyright")
    if not os.path.exists(path):
        return []
    patterns = []
    for line in open(path, encoding="utf-8"):
        if line.startswith("Files:"):
            patterns += line[len("Files:"):].split()
    theirs = [f for f in files if f.endswith(".LICENSE")]
    return [f for f in theirs if not any(fnmatch.fnmatchcase(f, p) for p in patterns if p != "*")]


def main(argv):
    root = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
    if "--self-test" in argv:
        return self_test()
    try:
        files = tracked_files(root)
    except (OSError, subprocess.CalledProcessError):
        print("SKIPPED: not a git checkout")
        return 0
    lacking = missing(root, files)
    if "--check" in argv:
        for rel, _, _ in lacking:
            print("no licence line: %s" % rel, file=sys.stderr)
        unlisted = unlisted_licences(root, files)
        for rel in unlisted:
            print("not in debian/copyright: %s" % rel, file=sys.stderr)
        if lacking or unlisted:
            print("run tools/spdx.py to add the missing lines" if lacking else "", file=sys.stderr)
            return 1
        print("every source file has its licence line")
        return 0
    for rel, marker, text in lacking:
        with open(os.path.join(root, rel), "w", encoding="utf-8") as f:
            f.write(with_line(text, marker))
        print("added: %s" % rel)
    return 0


def self_test():
    cases = {
        "a.cpp": ("int x;\n", "// %s %s\nint x;\n"),
        "run": ("#!/bin/sh\necho hi\n", "#!/bin/sh\n# %s %s\necho hi\n"),
        "m.py": ("#!/usr/bin/env python3\n", "#!/usr/bin/env python3\n# %s %s\n"),
        "CMakeLists.txt": ("project(x)\n", "# %s %s\nproject(x)\n"),
        "v.js": ("", "// %s %s\n"),
    }
    with tempfile.TemporaryDirectory() as root:
        for name, (text, _) in cases.items():
            with open(os.path.join(root, name), "w") as f:
                f.write(text)
        with open(os.path.join(root, "notes.md"), "w") as f:
            f.write("# not a source file\n")
        with open(os.path.join(root, "ok.h"), "w") as f:
            f.write("// %s %s\n" % (TAG, LICENCE))
        names = sorted(cases) + ["notes.md", "ok.h"]
        found = sorted(rel for rel, _, _ in missing(root, names))
        assert found == sorted(cases), found
        for rel, marker, text in missing(root, names):
            fixed = with_line(text, marker)
            assert fixed == cases[rel][1] % (TAG, LICENCE), (rel, fixed)
            with open(os.path.join(root, rel), "w") as f:
                f.write(fixed)
        assert missing(root, names) == [], "a fixed file is still reported"
        os.makedirs(os.path.join(root, "debian"))
        with open(os.path.join(root, "debian", "copyright"), "w") as f:
            f.write("Files: *\n\nFiles: data/listed.bin data/listed.LICENSE\n")
        assert unlisted_licences(root, ["data/listed.LICENSE", "data/other.LICENSE"]) == ["data/other.LICENSE"]
        # A source-like file among data by others keeps its own licence.
        os.makedirs(os.path.join(root, "data"))
        with open(os.path.join(root, "data", "listed.LICENSE"), "w") as f:
            f.write("theirs\n")
        with open(os.path.join(root, "data", "map.yaml"), "w") as f:
            f.write("image: map.pgm\n")
        with open(os.path.join(root, "debian", "copyright"), "a") as f:
            f.write("\nFiles: data/*.yaml\n")
        assert [rel for rel, _, _ in missing(root, ["data/map.yaml", "a.cpp"])] == [], "data by others was marked"
    print("the licence check finds and fixes each kind of source file")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
