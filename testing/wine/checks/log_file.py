"""The log file of one run of the program, byte for byte: the run header with the command line,
the start stamp, each line, the end stamp and an empty line, every line ended by CR LF. The two
stamps are UTC times that must lie, in order, between the times taken around the run."""

import calendar
import re
import time

STAMP = rb"(\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2})"


def seconds(stamp):
    return calendar.timegm(time.strptime(stamp, "%Y/%m/%d %H:%M:%S"))


def log_problems(log_path, command_line, start, end, lines):
    """What is wrong with the log at log_path; "" when it is right."""
    try:
        data = log_path.read_bytes()
    except OSError as error:
        return f"no log: {error}"
    expected = (re.escape(b"Running program\r\n\t " + command_line.encode() + b"\r\n") +
                b"Executed " + STAMP + b"\r\n" +
                b"".join(re.escape(line.encode() + b"\r\n") for line in lines) +
                b"Completed " + STAMP + b"\r\n\r\n")
    match = re.fullmatch(expected, data)
    if match is None:
        return f"{log_path} holds {data!r}, expected {[command_line, *lines]!r} between stamps"
    executed, completed = (seconds(m.decode()) for m in match.groups())
    if not int(start) <= executed <= completed <= int(end):
        return f"stamps {match.groups()!r} are not in order within the run ({start} to {end})"
    return ""
