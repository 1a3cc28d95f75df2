#!/usr/bin/env python3
"""Checks that every feature report the program exchanged through Wine's hid.dll reached the
virtual touchpad as report 7 of 531 bytes, from the runs' hid.dll trace (WINEDEBUG=+hid) and the
record of the touchpad's transport device.

Usage: check_feature_calls.py RECORD TRACE...

Every HidD_SetFeature and HidD_GetFeature in the traces must name a 531-byte buffer (Wine cuts a
longer set to the report's length, which the device could not tell), the record must hold no
report that the transport device refused (another length, or another ID than 7), and the device
must have handed the touchpad as many sets and gets as the traces made: so no call was refused on
its way. Several traces: runs that shared the one touchpad. Prints what does not hold, and then
exits with status 1.
"""

import re
import sys

CALL = re.compile(rb":trace:hid:HidD_(Set|Get)Feature .*report_len (\d+)\.")
LENGTH = 531


def main():
    record_path, *trace_paths = sys.argv[1:]
    calls = {b"Set": 0, b"Get": 0}
    wrong = []
    for path in trace_paths:
        with open(path, "rb") as trace:
            for line in trace:
                match = CALL.search(line)
                if match:
                    calls[match.group(1)] += 1
                    if int(match.group(2)) != LENGTH:
                        wrong.append(line.strip().decode("utf-8", "replace"))
    with open(record_path, "rb") as record:
        lines = record.read().decode("utf-8", "replace").splitlines()
    counts = dict(line.split(" ", 1) for line in lines if line.startswith("feature-"))
    refused = [line for line in lines if line.startswith("refused ")]
    failed = False
    if wrong:
        print(f"FAILED: feature calls of another length than {LENGTH}: {wrong[:3]}")
        failed = True
    if refused:
        print(f"FAILED: the transport device refused: {refused[:3]}")
        failed = True
    for call, name in [(b"Set", "feature-sets"), (b"Get", "feature-gets")]:
        if counts.get(name) != str(calls[call]):
            print(f"FAILED: HidD_{call.decode()}Feature called {calls[call]} times, "
                  f"the touchpad got {counts.get(name)}")
            failed = True
    if sum(calls.values()) == 0:
        print("FAILED: the trace holds no feature call at all")
        failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
