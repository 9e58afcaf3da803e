#!/usr/bin/env python3
"""Reads scripts/mutations.txt and plants or removes one fault in a source tree.

A fault is a block:
    id: crc-init
    why: the CRC starts from 0 instead of 0xFFFF
    - CrcEngine engine(16, 0x1021, 0xFFFF, false, false, 0);
    + CrcEngine engine(16, 0x1021, 0x0000, false, false, 0);
Several "-"/"+" pairs are alternatives (the same fault as the code has been written over time):
the first whose "-" text occurs exactly once in the program's folders is applied. A "↵" in a
"-" text stands for a line break and the next line's indentation, in a "+" text for a line break.
"""
import json
import os
import pathlib
import re
import shutil
import subprocess
import sys

PROGRAM_DIRS = ["protocol", "device", "firmware", "calibration", "history", "app", "common", "sim", "tools"]


def parse(path):
    faults, current = [], None
    for raw in pathlib.Path(path).read_text().splitlines():
        line = raw.rstrip("\n")
        if line.startswith("id:"):
            current = {"id": line[3:].strip(), "why": "", "pairs": []}
            faults.append(current)
        elif current is None or not line.strip() or line.startswith("#"):
            continue
        elif line.startswith("why:"):
            current["why"] = line[4:].strip()
        elif line.startswith("- "):
            current["pairs"].append([line[2:].strip(), None])
        elif line.startswith("+ "):
            current["pairs"][-1][1] = line[2:].strip()
    return faults


def sources(tree):
    for d in PROGRAM_DIRS:
        base = pathlib.Path(tree, d)
        if base.is_dir():
            yield from sorted(p for p in base.rglob("*") if p.suffix in (".cpp", ".h"))


def pattern(text):
    return re.compile(r"\n\s*".join(re.escape(part) for part in text.split("↵")))


def locate(tree, fault):
    for old, new in fault["pairs"]:
        regex = pattern(old)
        hits = [(p, len(regex.findall(p.read_text()))) for p in sources(tree)]
        hits = [(p, n) for p, n in hits if n]
        if len(hits) == 1 and hits[0][1] == 1:
            return hits[0][0], regex, new
    return None


def reached(build, stamp):
    """The tests whose program, or a program they start (a *_PATH definition in their build
    flags), was linked after the stamp: the only ones a fault built since then can reach."""
    since = os.path.getmtime(stamp)
    build = pathlib.Path(build).resolve()
    tests = json.loads(subprocess.run(["ctest", "--show-only=json-v1"], cwd=build, check=True,
                                      capture_output=True, text=True).stdout)["tests"]
    names = []
    for test in tests:
        # The first word may be the launcher that stops a program at its first failure.
        exe = next(pathlib.Path(c) for c in test["command"] if c.startswith(str(build)))
        programs = [exe]
        for flags in pathlib.Path(build).rglob(f"CMakeFiles/{exe.name}.dir/flags.make"):
            programs += [pathlib.Path(p) for p in re.findall(r'-D\w+_PATH=\\"([^\\"]+)', flags.read_text())]
        if any(p.exists() and p.stat().st_mtime > since for p in programs):
            names.append(test["name"])
    return names


def selected(faults, only):
    wanted = set(filter(None, only.split(",")))
    return [f for f in faults if not wanted or f["id"] in wanted]


def main(argv):
    cmd = argv[1]
    if cmd == "ids":
        print("\n".join(f["id"] for f in selected(parse(argv[2]), argv[3])))
    elif cmd == "list":
        for f in selected(parse(argv[2]), argv[4]):
            found = locate(argv[3], f)
            where = str(found[0].relative_to(argv[3])) if found else "NOT FOUND"
            print(f"{f['id']:28} {where:40} {f['why']}")
    elif cmd == "apply":
        fault = next(f for f in parse(argv[2]) if f["id"] == argv[4])
        found = locate(argv[3], fault)
        if not found:
            return 1
        path, old, new = found
        shutil.copy2(path, str(path) + ".orig")
        path.write_text(old.sub(lambda _: new.replace("↵", "\n"), path.read_text(), count=1))
        print(path.relative_to(argv[3]))
    elif cmd == "reached":
        names = reached(argv[2], argv[3])
        print("^(" + "|".join(re.escape(n) for n in names) + ")$" if names else "")
    elif cmd == "restore":
        path = pathlib.Path(argv[2], argv[3])
        shutil.move(str(path) + ".orig", path)
        # Newer than the object built from the fault, so the next build compiles it again.
        os.utime(path)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
