#!/usr/bin/env python3
"""Times the program's HEX reader (through fwimage) against other HEX-to-binary converters.

    bench/hex_reader.py [--mib 32] [--runs 3] [--keep DIR]

Generates a large image (by default 32 MiB of data in 16-byte records with CR LF ends and an
extended linear address record every 64 KiB, about 94 MB of text), converts it to a flat binary
with each tool, checks that every tool wrote the same bytes, and prints each one's best time,
throughput, peak memory and the ratios to fwimage. Not part of the tests: timings depend on the
machine. Installs binutils, srecord, python3-intelhex and time with apt-get when they are missing.
"""

import argparse
import hashlib
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
FWIMAGE = os.path.join(ROOT, "build", "linux", "tools", "fwimage")
# Debian's python3-intelhex lives with the system interpreter, whatever python3 is first on PATH.
SYSTEM_PYTHON = "/usr/bin/python3"
GNU_TIME = "/usr/bin/time"
INTELHEX = ("import sys; from intelhex import IntelHex; "
            "IntelHex(sys.argv[1]).tobinfile(sys.argv[2])")


def ensure_tools():
    have_intelhex = subprocess.run([SYSTEM_PYTHON, "-c", "import intelhex"],
                                   capture_output=True).returncode == 0
    missing = [package for package, present in (
        ("binutils", shutil.which("objcopy")),
        ("srecord", shutil.which("srec_cat")),
        ("python3-intelhex", have_intelhex),
        ("time", os.path.exists(GNU_TIME))) if not present]
    if missing:
        sudo = [] if os.geteuid() == 0 else ["sudo"]
        subprocess.run(sudo + ["apt-get", "update", "-q"], check=True)
        subprocess.run(sudo + ["apt-get", "install", "-y", "-q", "--no-install-recommends"] +
                       missing, check=True)
    if not os.path.exists(FWIMAGE):
        subprocess.run(["cmake", "--preset", "linux"], cwd=ROOT, check=True,
                       stdout=subprocess.DEVNULL)
        subprocess.run(["cmake", "--build", "--preset", "linux", "--target", "fwimage"], cwd=ROOT,
                       check=True, stdout=subprocess.DEVNULL)


def record(address_field, record_type, data):
    fields = bytes([len(data), address_field >> 8, address_field & 0xFF, record_type]) + data
    return ":" + (fields + bytes([(-sum(fields)) & 0xFF])).hex().upper() + "\r\n"


def write_input(path, mib):
    data = random.Random(17).randbytes(mib << 20)
    with open(path, "w", newline="") as out:
        for block in range(0, len(data), 0x10000):
            lines = [record(0, 0x04, (block >> 16).to_bytes(2, "big"))]
            for offset in range(block, min(block + 0x10000, len(data)), 16):
                lines.append(record(offset & 0xFFFF, 0x00, data[offset:offset + 16]))
            out.write("".join(lines))
        out.write(record(0, 0x01, b""))


def run_once(command, work):
    """Wall time in seconds and peak resident memory in bytes of one run."""
    # GNU time reports the tool's own peak; a child of this script would also count the pages it
    # shared with the script before exec.
    report = os.path.join(work, "time.txt")
    start = time.perf_counter()
    subprocess.run([GNU_TIME, "-f", "%M", "-o", report] + command, check=True,
                   stdout=subprocess.DEVNULL)
    elapsed = time.perf_counter() - start
    with open(report) as f:
        return elapsed, int(f.read().split()[-1]) * 1024


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--mib", type=int, default=32, help="MiB of image data (default 32)")
    parser.add_argument("--runs", type=int, default=3,
                        help="runs per tool, best time kept (default 3; intelhex runs once)")
    parser.add_argument("--keep", help="work in this directory and keep its files")
    args = parser.parse_args()
    ensure_tools()

    work = args.keep or tempfile.mkdtemp(prefix="hex_bench_")
    os.makedirs(work, exist_ok=True)
    source = os.path.join(work, "input.hex")
    write_input(source, args.mib)
    text_bytes = os.path.getsize(source)

    def out(name):
        return os.path.join(work, name + ".bin")

    tools = [
        ("fwimage", [FWIMAGE, "-o", out("fwimage"), source], args.runs),
        ("objcopy", ["objcopy", "-I", "ihex", "-O", "binary", source, out("objcopy")], args.runs),
        ("srec_cat", ["srec_cat", source, "-Intel", "-o", out("srec_cat"), "-Binary"], args.runs),
        ("intelhex", [SYSTEM_PYTHON, "-c", INTELHEX, source, out("intelhex")], 1),
    ]
    results = []
    for name, command, runs in tools:
        timings = [run_once(command, work) for _ in range(max(runs, 1))]
        best = min(timings)
        results.append((name, best[0], max(t[1] for t in timings), runs))

    digests = {name: digest(out(name)) for name, _, _ in tools}
    same = len(set(digests.values())) == 1 and os.path.getsize(out("fwimage")) == args.mib << 20

    print(f"input: {args.mib} MiB of data, {text_bytes:,} bytes of HEX text; "
          f"outputs {'identical' if same else 'DIFFER'}")
    print(f"{'tool':<10} {'runs':>4} {'time s':>8} {'MB/s':>8} {'peak MiB':>9} "
          f"{'time x':>8} {'memory x':>9}")
    ours_time, ours_memory = results[0][1], results[0][2]
    for name, elapsed, memory, runs in results:
        print(f"{name:<10} {runs:>4} {elapsed:>8.3f} {text_bytes / elapsed / 1e6:>8.1f} "
              f"{memory / 2**20:>9.1f} {elapsed / ours_time:>8.2f} {memory / ours_memory:>9.2f}")
    print("time x, memory x: the tool's figure divided by fwimage's (above 1: fwimage is ahead)")
    if not args.keep:
        shutil.rmtree(work)
    return 0 if same else 1


if __name__ == "__main__":
    sys.exit(main())
