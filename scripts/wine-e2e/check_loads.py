#!/usr/bin/env python3
"""Checks, from Wine's DLL load trace of one run (WINEDEBUG=+loaddll), that the program took the
stand-in system DLLs and that no other process of the prefix did.

Usage: check_loads.py TRACE PROGRAM

PROGRAM is the file name of the program's executable. The program's process must have loaded
setupapi.dll and e2e_world.dll as native DLLs; every native load of a stand-in (hid, setupapi,
cfgmgr32, newdev, e2e_world) must be in that process. Prints what does not hold, and then exits
with status 1.
"""

import re
import sys

STAND_INS = {"hid.dll", "setupapi.dll", "cfgmgr32.dll", "newdev.dll", "e2e_world.dll"}
LOAD = re.compile(r'^([0-9a-f]+):trace:loaddll:\w+ Loaded L"(.*)" at [0-9A-Fa-f]+: (\w+)')


def main():
    trace_path, program = sys.argv[1:3]
    loads = []  # (process, file name, kind)
    with open(trace_path, "rb") as trace:
        for raw in trace:
            match = LOAD.match(raw.decode("utf-8", "replace").rstrip("\r\n"))
            if match:
                name = match.group(2).replace("\\\\", "\\").rsplit("\\", 1)[-1].lower()
                loads.append((match.group(1), name, match.group(3)))
    programs = {process for process, name, _ in loads if name == program.lower()}
    if len(programs) != 1:
        print(f"FAILED: {program} appears in {len(programs)} processes of the trace")
        return 1
    (process,) = programs
    native = {(p, name) for p, name, kind in loads if kind == "native" and name in STAND_INS}
    taken = sorted(name for p, name in native if p == process)
    elsewhere = sorted(f"{name} in process {p}" for p, name in native if p != process)
    failed = False
    for needed in ("setupapi.dll", "e2e_world.dll"):
        if needed not in taken:
            print(f"FAILED: the program did not take the stand-in {needed} (took: {taken})")
            failed = True
    if elsewhere:
        print(f"FAILED: stand-ins loaded outside the program: {', '.join(elsewhere)}")
        failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
