#!/usr/bin/env python3
"""Fails when a function outside the tests is longer than the limit, so that every function stays
one a reader can hold. Uses universal-ctags for where each function starts and ends.

Usage: check-function-length.py ROOT [LIMIT]   (LIMIT: lines, 60 by default)
"""
import json
import subprocess
import sys

FOLDERS = ["platform", "widgets", "compralegal", "contracts", "export_screen", "filter_dialog",
           "package", "tools", "db", "apps"]


def lengths(root):
    out = subprocess.run(["ctags", "--output-format=json", "--fields=+ne", "--kinds-C++=f", "-R",
                          "--languages=C++", "-f", "-"] + FOLDERS, cwd=root, check=True,
                         capture_output=True, text=True).stdout
    for line in out.splitlines():
        tag = json.loads(line)
        if "end" in tag:
            yield tag["end"] - tag["line"] + 1, tag["path"], tag["line"], tag["name"]


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else "."
    limit = int(sys.argv[2]) if len(sys.argv) > 2 else 60
    found = sorted(lengths(root), reverse=True)
    if not found:
        print("no function found: is ctags the universal one?")
        return 1
    long_ones = [f for f in found if f[0] > limit]
    for size, path, line, name in long_ones:
        print(f"{path}:{line}: {name} has {size} lines, over {limit}")
    print(f"{len(found)} functions, the longest {found[0][0]} lines ({found[0][3]})")
    return 1 if long_ones else 0


if __name__ == "__main__":
    sys.exit(main())
