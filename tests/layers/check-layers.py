#!/usr/bin/env python3
"""Fails when a source file includes a header of a layer above its own, or of another library of
its own layer: every library may use only the layers below it (docs/architecture.md).

Usage: check-layers.py ROOT   (ROOT: the source tree; prints each wrong include and exits 1)
"""
import os
import re
import sys

# (layer, folder, the name its headers are included under); lower layers first. A folder whose
# name is None is included by plain file names from its own targets only.
LAYERS = [
    (1, "platform/base", "base"),
    (2, "platform/cmdline", "cmdline"),
    (2, "platform/dataset", "dataset"),
    (2, "platform/keylist", "keylist"),
    (2, "platform/layout", "layout"),
    (2, "platform/sqldb", "sqldb"),
    (3, "platform/rpc", "rpc"),
    (4, "platform/rpcclient", "rpcclient"),
    (4, "platform/rpcserver", "rpcserver"),
    (4, "platform/hostfw", "hostfw"),
    (4, "db/generator", None),
    (5, "contracts", "contracts"),
    (6, "platform/server", "server"),
    (6, "compralegal", "compralegal"),
    (7, "tools/export", "exportcommand"),
    (8, "widgets/hostfw", "hostfw/widgets"),
    (9, "widgets/host", "host"),
    (10, "filter_dialog", "filter_dialog"),
    (11, "export_screen", "export_screen"),
    (12, "package", "package"),
    (13, "apps", None),
]

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def owner(path):
    """The layer entry of the folder a file belongs to (the longest folder that holds it)."""
    best = None
    for entry in LAYERS:
        folder = entry[1]
        if path.startswith(folder + "/") and (best is None or len(folder) > len(best[1])):
            best = entry
    return best


def provider(include):
    """The layer entry whose include name starts the include, the longest name first."""
    best = None
    for entry in LAYERS:
        name = entry[2]
        if name and include.startswith(name + "/") and (best is None or len(name) > len(best[2])):
            best = entry
    return best


def check(root):
    problems = []
    for entry in LAYERS:
        top = os.path.join(root, entry[1])
        for folder, _, files in os.walk(top):
            for name in sorted(files):
                if not name.endswith((".h", ".cpp")):
                    continue
                path = os.path.relpath(os.path.join(folder, name), root)
                own = owner(path)
                if own is not entry:
                    continue  # a nested library's file, checked under its own entry
                with open(os.path.join(root, path), encoding="utf-8") as source:
                    for number, line in enumerate(source, 1):
                        match = INCLUDE.match(line)
                        if not match or "/" not in match.group(1):
                            continue  # a header of the file's own folder, or a moc file
                        included = match.group(1)
                        used = provider(included)
                        if used is None:
                            problems.append(f"{path}:{number}: {included}: no library of the "
                                            "layer map provides it")
                        elif used is not own and used[0] >= own[0]:
                            problems.append(f"{path}:{number}: {included}: {used[1]} (layer "
                                            f"{used[0]}) is not below {own[1]} (layer {own[0]})")
    return problems


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else "."
    problems = check(root)
    for problem in problems:
        print(problem)
    if problems:
        print(f"{len(problems)} include(s) against the layer map")
        return 1
    print("every include follows the layer map")
    return 0


if __name__ == "__main__":
    sys.exit(main())
