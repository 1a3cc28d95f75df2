#!/usr/bin/env python3
"""Checks, byte for byte, the log file of one run of the program.

Usage: check_log.py LOG COMMAND_LINE START END [LINE...]

The log must hold exactly: the run header with COMMAND_LINE, the start stamp, each LINE, the end
stamp and an empty line, every line ended by CR LF. The two stamps are UTC times that must lie,
in order, between START and END (seconds since the epoch, taken around the run).
"""

import calendar
import re
import sys
import time

STAMP = rb"(\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2})"


def main():
    log_path, command_line, start, end, *lines = sys.argv[1:]
    with open(log_path, "rb") as log:
        data = log.read()
    expected = (re.escape(b"Running program\r\n\t " + command_line.encode() + b"\r\n") +
                b"Executed " + STAMP + b"\r\n" +
                b"".join(re.escape(line.encode() + b"\r\n") for line in lines) +
                b"Completed " + STAMP + b"\r\n\r\n")
    match = re.fullmatch(expected, data)
    if match is None:
        print(f"FAILED: {log_path} holds {data!r}")
        print(f"        expected the lines {[command_line, *lines]!r} between stamps, CR LF ends")
        return 1
    executed, completed = (calendar.timegm(time.strptime(m.decode(), "%Y/%m/%d %H:%M:%S"))
                           for m in match.groups())
    if not int(start) <= executed <= completed <= int(end):
        print(f"FAILED: stamps {match.group(1)!r}, {match.group(2)!r} are not in order within "
              f"the run ({time.strftime('%H:%M:%S', time.gmtime(int(start)))} to "
              f"{time.strftime('%H:%M:%S', time.gmtime(int(end)))} UTC)")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
