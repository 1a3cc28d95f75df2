"""Every feature report the program exchanged through Wine's hid.dll reached the virtual touchpad
as report 7 of 531 bytes: every HidD_SetFeature and HidD_GetFeature in the runs' traces
(WINEDEBUG=+hid) names a 531-byte buffer (Wine cuts a longer set to the report's length, which the
device could not tell), the touchpad's record holds no report its transport device refused, and
the device handed the touchpad as many sets and gets as the traces made."""

import re

CALL = re.compile(rb":trace:hid:HidD_(Set|Get)Feature .*report_len (\d+)\.")
LENGTH = 531


def feature_call_problems(record_path, trace_paths):
    calls = {b"Set": 0, b"Get": 0}
    problems = []
    for path in trace_paths:
        for line in path.read_bytes().splitlines():
            if match := CALL.search(line):
                calls[match.group(1)] += 1
                if int(match.group(2)) != LENGTH:
                    problems.append(f"a feature call of another length: {line[:200]!r}")
    lines = record_path.read_text(errors="replace").splitlines()
    counts = dict(line.split(" ", 1) for line in lines if line.startswith("feature-"))
    problems += [f"the transport device refused: {line}" for line in lines
                 if line.startswith("refused ")]
    for call, name in [(b"Set", "feature-sets"), (b"Get", "feature-gets")]:
        if counts.get(name) != str(calls[call]):
            problems.append(f"HidD_{call.decode()}Feature called {calls[call]} times, "
                            f"the touchpad got {counts.get(name)}")
    if sum(calls.values()) == 0:
        problems.append("the trace holds no feature call at all")
    return problems
