#!/usr/bin/env python3
"""Times a whole update of the shipped image on the simulated machine, in real time.

    bench/update.py [--runs 3] [--box-runs 20]

Prints, for fwupdate-sim without --fast (every wait of the program really waits):
  - the update: wall time, the sum of the waits the program asked for, their ratio, the process's
    CPU time and its peak memory (best wall time of --runs silent runs, from GNU time);
  - the time to the first box: from the start of the process to the consent question (median of
    --box-runs interactive runs answered No);
  - waits on Windows: the same update's waits, each rounded up to a timer tick of 15.625 ms (the
    default tick) and of 1 ms (the tick while the program holds the finer timer).
Not part of the tests: timings depend on the machine. Installs GNU time with apt-get when it is
missing, and builds fwupdate-sim when it is not there.
"""

import argparse
import math
import os
import platform
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SIM = os.path.join(ROOT, "build", "linux", "tools", "fwupdate-sim")
GNU_TIME = "/usr/bin/time"
DEFAULT_TICK_MS = 15.625
FINE_TICK_MS = 1.0


def ensure_tools():
    if not os.path.exists(GNU_TIME):
        sudo = [] if os.geteuid() == 0 else ["sudo"]
        subprocess.run(sudo + ["apt-get", "update", "-q"], check=True)
        subprocess.run(sudo + ["apt-get", "install", "-y", "-q", "--no-install-recommends", "time"],
                       check=True)
    if not os.path.exists(SIM):
        subprocess.run(["cmake", "--preset", "linux"], cwd=ROOT, check=True,
                       stdout=subprocess.DEVNULL)
        subprocess.run(["cmake", "--build", "--preset", "linux", "--target", "fwupdate-sim"],
                       cwd=ROOT, check=True, stdout=subprocess.DEVNULL)


def field(pattern, text):
    match = re.search(pattern, text, re.MULTILINE)
    if not match:
        sys.exit(f"bench: no match for {pattern!r} in:\n{text}")
    return match.group(1)


def timed_update(workdir):
    """One silent update in real time: wall s, waited ms, CPU s, peak KiB."""
    report = os.path.join(workdir, "time.txt")
    result = subprocess.run([GNU_TIME, "-o", report, "-f", "%e %U %S %M", SIM, "--", "/S"],
                            cwd=workdir, capture_output=True, text=True)
    if result.returncode != 0:
        sys.exit(f"bench: the update failed ({result.returncode}):\n{result.stdout}")
    wall, user, system, peak_kib = open(report).read().split()
    waited_ms = int(field(r"^waited: (\d+) ms$", result.stdout))
    return float(wall), waited_ms, float(user) + float(system), int(peak_kib)


def time_to_first_box(workdir):
    """Seconds from starting the process until the consent question is on its output."""
    start = time.perf_counter()
    process = subprocess.Popen([SIM, "--answer", "no"], cwd=workdir, stdout=subprocess.PIPE,
                               stdin=subprocess.DEVNULL, text=True)
    seen = None
    for line in process.stdout:
        if line.startswith("+-- ") and seen is None:
            seen = time.perf_counter() - start
    process.wait()
    if seen is None:
        sys.exit("bench: the simulator showed no box")
    return seen


def waits_of_an_update(workdir):
    result = subprocess.run([SIM, "--fast", "--list-waits", "--", "/S"], cwd=workdir,
                            capture_output=True, text=True, check=True)
    return [int(ms) for ms in field(r"^waits:((?: \d+)*)$", result.stdout).split()]


def on_tick(waits, tick_ms):
    """The time the waits take when each is rounded up to whole ticks."""
    return sum(math.ceil(ms / tick_ms) * tick_ms for ms in waits)


def cpu_model():
    try:
        for line in open("/proc/cpuinfo"):
            if line.startswith("model name"):
                return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "unknown"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--box-runs", type=int, default=20)
    args = parser.parse_args()
    ensure_tools()

    print(f"machine: {os.cpu_count()} cores, {cpu_model()}; {time.strftime('%Y-%m-%d')}")
    with tempfile.TemporaryDirectory() as workdir:
        runs = [timed_update(workdir) for _ in range(args.runs)]
        wall, waited_ms, cpu, _ = min(runs)
        peak_kib = max(run[3] for run in runs)
        print(f"update (best of {args.runs}): wall {wall:.2f} s, waits asked for "
              f"{waited_ms / 1000:.3f} s, ratio {wall / (waited_ms / 1000):.3f}, "
              f"CPU {cpu:.2f} s, peak memory {peak_kib / 1024:.1f} MiB")

        boxes = [time_to_first_box(workdir) for _ in range(args.box_runs)]
        print(f"first box (median of {args.box_runs}): {statistics.median(boxes) * 1000:.1f} ms "
              f"(min {min(boxes) * 1000:.1f}, max {max(boxes) * 1000:.1f})")

        waits = waits_of_an_update(workdir)
        asked = sum(waits)
        coarse = on_tick(waits, DEFAULT_TICK_MS)
        fine = on_tick(waits, FINE_TICK_MS)
        print(f"waits on Windows: {len(waits)} waits, {asked / 1000:.3f} s asked for; "
              f"{coarse / 1000:.3f} s at a {DEFAULT_TICK_MS} ms tick "
              f"(+{(coarse - asked) / asked * 100:.0f}%), {fine / 1000:.3f} s at a "
              f"{FINE_TICK_MS:g} ms tick")


if __name__ == "__main__":
    main()
