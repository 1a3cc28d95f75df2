#!/usr/bin/env python3
"""Checks, from Wine's DLL load trace of one run (WINEDEBUG=+loaddll), which system DLLs the
program took: Wine's own (builtin) or a stand-in (native, from the prefix's system directory).

Usage: check_loads.py TRACE PROGRAM [--builtin DLL,...] [--native DLL,...] [--stand-ins DLL,...]

PROGRAM is the file name of the program's executable. In the program's process every --builtin
DLL must have been loaded as Wine's own and every --native one as a stand-in. Every --stand-ins
DLL that the program's process loaded at all must be the stand-in, and no other process of the
prefix may have loaded a stand-in. Prints what does not hold, and then exits with status 1.
"""

import argparse
import re
import sys

LOAD = re.compile(r'^([0-9a-f]+):trace:loaddll:\w+ Loaded L"(.*)" at [0-9A-Fa-f]+: (\w+)')


def names(text):
    return {name.lower() for name in text.split(",") if name}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("trace")
    parser.add_argument("program")
    parser.add_argument("--builtin", type=names, default=set())
    parser.add_argument("--native", type=names, default=set())
    parser.add_argument("--stand-ins", type=names, default=set())
    args = parser.parse_args()
    loads = []  # (process, file name, kind)
    with open(args.trace, "rb") as trace:
        for raw in trace:
            match = LOAD.match(raw.decode("utf-8", "replace").rstrip("\r\n"))
            if match:
                name = match.group(2).replace("\\\\", "\\").rsplit("\\", 1)[-1].lower()
                loads.append((match.group(1), name, match.group(3)))
    programs = {process for process, name, _ in loads if name == args.program.lower()}
    if len(programs) != 1:
        print(f"FAILED: {args.program} appears in {len(programs)} processes of the trace")
        return 1
    (process,) = programs
    taken = {(name, kind) for p, name, kind in loads if p == process}
    failed = False
    for name in sorted(args.builtin):
        if (name, "builtin") not in taken:
            print(f"FAILED: the program did not take Wine's own {name} (took: {sorted(taken)})")
            failed = True
    for name in sorted(args.native):
        if (name, "native") not in taken:
            print(f"FAILED: the program did not take the stand-in {name} (took: {sorted(taken)})")
            failed = True
    for name, kind in sorted(taken):
        if name in args.stand_ins and kind != "native":
            print(f"FAILED: the program took Wine's own {name} where its stand-in was meant")
            failed = True
    elsewhere = sorted(f"{name} in process {p}" for p, name, kind in loads
                       if p != process and kind == "native" and name in args.stand_ins)
    if elsewhere:
        print(f"FAILED: stand-ins loaded outside the program: {', '.join(elsewhere)}")
        failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
