#!/bin/bash
# The lines of the Windows program that the Wine tests run: builds the program with gcov's counters
# at -O0 (the windows-coverage preset, build/windows-coverage), runs every Wine suite on it and
# prints, per file and in total, the lines of platform/win32 and of the core (app/ device/ image/
# pnp/ log/) that ran. Run by hand: the build and the counting add minutes the test command does not
# need. testing/wine/UNRUN.md says why each line that did not run cannot.
#
#   scripts/coverage.sh [PYTEST ARGUMENTS]    e.g. -k standins, to count one suite's lines
#   FWU_COVERAGE_LINES=1 scripts/coverage.sh  also lists the line numbers that did not run
#   FWU_COVERAGE_COUNT_ONLY=1 ...             counts the last run's lines again, without a run
#
# The test programs (probes, stand-ins, the touchpad's driver) have no counters: the figure is the
# program's alone. The Wine tests' artifacts go to build/wine as in any run.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=build/windows-coverage

cmake --preset windows-coverage >/dev/null && cmake --build --preset windows-coverage -j2 >/dev/null ||
  { echo "coverage.sh: the windows-coverage build failed" >&2; exit 1; }
if [ ! -x build/linux/tools/fwimage ]; then
  cmake --preset linux >/dev/null && cmake --build --preset linux -j2 --target fwimage >/dev/null ||
    { echo "coverage.sh: fwimage (linux preset) failed to build" >&2; exit 1; }
fi

# Each object's counts land beside it: the runtime prepends GCOV_PREFIX to the object's absolute
# Linux path, and Wine's drive Z: is the Linux root.
if [ -z "${FWU_COVERAGE_COUNT_ONLY:-}" ]; then
  find "$build" -name '*.gcda' -delete
  GCOV_PREFIX=Z: GCOV_PREFIX_STRIP=0 pytest-3 testing/wine -rxX \
    --exe "$build/platform/win32/fwupdate.exe" --fwimage build/linux/tools/fwimage \
    --build "$build" "$@" | tail -n 1
  echo "(pytest exit status ${PIPESTATUS[0]})"
fi

# gcov of the MinGW toolchain reads every object of the program: its notes (.gcno) and, when the
# object ran, its counts (.gcda); a line that ran in any object counts once.
objects=$(find "$build/CMakeFiles/fwu_core.dir" "$build/CMakeFiles/fwu_platform.dir" \
  "$build/platform/win32/CMakeFiles/fwupdate.dir" -name '*.gcno' | sort)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
n=0
for object in $objects; do
  n=$((n + 1))
  mkdir "$work/$n"
  (cd "$work/$n" && x86_64-w64-mingw32-gcov --json-format "$root/${object%.gcno}.gcda" \
    >/dev/null 2>&1)
done
python3 - "$work" "${FWU_COVERAGE_LINES:-0}" <<'EOF'
import glob, gzip, json, sys
from collections import defaultdict

listing = sys.argv[2] == "1"
CORE = ("app/", "device/", "image/", "pnp/", "log/", "resources/")
lines = defaultdict(dict)  # file -> line number -> ran
for report in glob.glob(sys.argv[1] + "/*/*.gcov.json.gz"):
    for source in json.load(gzip.open(report))["files"]:
        name = source["file"].removeprefix("./")
        for line in source["lines"]:
            seen = lines[name]
            seen[line["line_number"]] = seen.get(line["line_number"], False) or line["count"] > 0
for title, prefixes in (("platform/win32", ("platform/win32/",)), ("core", CORE)):
    files = sorted(name for name in lines if name.startswith(prefixes))
    ran = total = 0
    print(f"{title}:")
    for name in files:
        count, run = len(lines[name]), sum(lines[name].values())
        ran, total = ran + run, total + count
        print(f"  {name:44} {run:4} of {count:4}  {100 * run / count:5.1f} %")
        unrun = sorted(number for number, ran in lines[name].items() if not ran)
        if unrun and listing:
            print("      unrun: " + " ".join(map(str, unrun)))
    print(f"  {'total':44} {ran:4} of {total:4}  {100 * ran / max(total, 1):5.1f} %")
EOF
