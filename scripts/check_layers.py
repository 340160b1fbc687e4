#!/usr/bin/python3
"""Fails when a source file under src/ includes a folder that is not below its own.

The folders form layers; each may include its own folder and the layers
listed before it, never one after it or beside it. The order is the one
ARCHITECTURE.md describes.

    scripts/check_layers.py [SRC_DIR]
"""
import os
import re
import sys

# Lowest first. Folders on one line share a level and may not include each other.
LAYERS = [
    ["platform"],
    ["math"],
    ["model"],
    ["expr"],
    ["joints"],
    ["forces"],
    ["contact"],
    ["dynamics"],
    ["analysis"],
    ["files"],
    ["session"],
    ["batch", "view"],
    ["app"],
]

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def level_of():
    level = {}
    for n, folders in enumerate(LAYERS):
        for f in folders:
            level[f] = n
    return level


def check(src):
    level = level_of()
    faults = []
    for root, _, files in os.walk(src):
        for name in sorted(files):
            if not name.endswith((".h", ".cpp")):
                continue
            path = os.path.join(root, name)
            rel = os.path.relpath(path, src)
            own = rel.split(os.sep)[0]
            if own not in level:
                faults.append(f"{path}: folder '{own}' has no place in the layer list of {__file__}")
                continue
            with open(path, encoding="utf-8", errors="replace") as f:
                for lineno, line in enumerate(f, 1):
                    m = INCLUDE.match(line)
                    if not m or "/" not in m.group(1):
                        continue
                    target = m.group(1).split("/")[0]
                    if target == own:
                        continue
                    if target not in level:
                        faults.append(f"{path}:{lineno}: includes \"{m.group(1)}\" from '{target}', "
                                      "a folder with no place in the layer list")
                    elif level[target] >= level[own]:
                        where = "beside" if level[target] == level[own] else "above"
                        faults.append(f"{path}:{lineno}: includes \"{m.group(1)}\"; '{target}' is "
                                      f"{where} '{own}', expected only folders below it")
    return faults


def main():
    src = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "src")
    faults = check(src)
    for f in faults:
        print(f)
    if faults:
        print(f"{len(faults)} include(s) against the layer order")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
