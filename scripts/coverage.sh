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
# Counted are the lines the program ran, and the lines of platform/win32 that backend_probe.exe ran
# through its own copy of it (counted too, and said apart, per file and in total). The other test
# programs (stand-ins, the touchpad's driver, the other probes) have no counters. A run whose tests
# failed prints its figures and exits with status 1: the figures then count a run that went wrong.
# The Wine tests' artifacts go to build/wine as in any run.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=build/windows-coverage

cmake --preset windows-coverage >/dev/null && cmake --build --preset windows-coverage -j2 >/dev/null ||
  { echo "coverage.sh: the windows-coverage build failed" >&2; exit 1; }
# The Linux programs the Wine tests run: fwimage (the flash against the image) and fwupdate-sim
# (the agreement table's machines). Brought up to date each time, as the program is.
cmake --preset linux >/dev/null &&
  cmake --build --preset linux -j2 --target fwimage fwupdate-sim >/dev/null ||
  { echo "coverage.sh: fwimage or fwupdate-sim (linux preset) failed to build" >&2; exit 1; }

# The tests' exit status is kept beside the counts, so that counting again says it too.
# Each object's counts land beside it: the runtime prepends GCOV_PREFIX to the object's absolute
# Linux path, and Wine's drive Z: is the Linux root.
status_file=$build/pytest.status
if [ -z "${FWU_COVERAGE_COUNT_ONLY:-}" ]; then
  find "$build" -name '*.gcda' -delete
  rm -f "$status_file"
  pytest_log=$build/pytest.log
  GCOV_PREFIX=Z: GCOV_PREFIX_STRIP=0 pytest-3 testing/wine -rfExX \
    --exe "$build/platform/win32/fwupdate.exe" --fwimage build/linux/tools/fwimage \
    --build "$build" "$@" >"$pytest_log" 2>&1
  tests_status=$?
  echo "$tests_status" >"$status_file"
  if [ "$tests_status" != 0 ]; then
    # pytest's short summary names each failure; the whole output stays in the log.
    sed -n '/short test summary info/,$p' "$pytest_log"
  fi
  tail -n 1 "$pytest_log"
  echo "(pytest exit status $tests_status; its output: $pytest_log)"
fi
tests_status=$(cat "$status_file" 2>/dev/null || echo "unknown: no run's status")

# gcov of the MinGW toolchain reads every object of the program: its notes (.gcno) and, when the
# object ran, its counts (.gcda); a line that ran in any object counts once. The backend probe's
# own copy of platform/win32 is read apart, so that the lines only it ran are told apart from the
# program's.
probe_objects=$build/testing/wine/probes/CMakeFiles/backend_probe_platform.dir
objects=$(find "$build/CMakeFiles/fwu_core.dir" "$build/CMakeFiles/fwu_platform.dir" \
  "$build/platform/win32/CMakeFiles/fwupdate.dir" "$probe_objects" -name '*.gcno' | sort)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
n=0
for object in $objects; do
  n=$((n + 1))
  case $object in "$probe_objects"/*) kind=probe ;; *) kind=program ;; esac
  mkdir -p "$work/$kind/$n"
  (cd "$work/$kind/$n" && x86_64-w64-mingw32-gcov --json-format "$root/${object%.gcno}.gcda" \
    >/dev/null 2>&1)
done

# The functions the linker left out of the program because nothing in it refers to them (the
# windows-coverage build gives each function a section of its own and drops the unused ones):
# discarded, and defined nowhere in the linked program.
program=$build/platform/win32
awk '/^Discarded input sections/ {on = 1} /^Memory Configuration/ {on = 0}
     on && $1 ~ /^\.text\$/ {print substr($1, 7)}' "$program/fwupdate.map" | sort -u \
  >"$work/discarded.txt"
x86_64-w64-mingw32-nm --defined-only "$program/linked/fwupdate.exe" | awk '{print $NF}' |
  sort -u >"$work/defined.txt"
comm -23 "$work/discarded.txt" "$work/defined.txt" >"$work/left-out.txt"

python3 - "$work" "${FWU_COVERAGE_LINES:-0}" <<'EOF'
import glob, gzip, json, sys
from collections import defaultdict

work, listing = sys.argv[1], sys.argv[2] == "1"
left_out_names = set(open(work + "/left-out.txt").read().split())
CORE = ("app/", "device/", "image/", "pnp/", "log/", "resources/")


def read(kind):
    """file -> line number -> ran; and, by file, the functions the program does not hold."""
    lines, left_out = defaultdict(dict), defaultdict(dict)
    for report in glob.glob(f"{work}/{kind}/*/*.gcov.json.gz"):
        for source in json.load(gzip.open(report))["files"]:
            name = source["file"].removeprefix("./")
            for function in source["functions"]:
                if function["name"] in left_out_names:
                    left_out[name][function["demangled_name"]] = range(
                        function["start_line"], function["end_line"] + 1)
            for line in source["lines"]:
                seen = lines[name]
                seen[line["line_number"]] = seen.get(line["line_number"], False) or line["count"] > 0
    return lines, left_out


program, left_out = read("program")
probe, _ = read("probe")
for title, prefixes in (("platform/win32", ("platform/win32/",)), ("core", CORE)):
    ran = by_probe = total = 0
    print(f"{title}:")
    for name in sorted(name for name in program if name.startswith(prefixes)):
        outside = {number for lines in left_out[name].values() for number in lines}
        counted = {number: seen for number, seen in program[name].items() if number not in outside}
        if not counted:
            continue
        probed = {number for number, seen in counted.items()
                  if not seen and probe.get(name, {}).get(number, False)}
        count, run = len(counted), sum(counted.values()) + len(probed)
        ran, by_probe, total = ran + run, by_probe + len(probed), total + count
        alone = f"  ({len(probed)} by backend_probe alone)" if probed else ""
        print(f"  {name:44} {run:4} of {count:4}  {100 * run / count:5.1f} %{alone}")
        unrun = sorted(number for number, seen in counted.items()
                       if not seen and number not in probed)
        if unrun and listing:
            print("      unrun: " + " ".join(map(str, unrun)))
    alone = f"  ({by_probe} by backend_probe alone)" if by_probe else ""
    print(f"  {'total':44} {ran:4} of {total:4}  {100 * ran / max(total, 1):5.1f} %{alone}")
print("not counted: functions the linker left out of the program, as nothing in it calls them")
for name in sorted(left_out):
    for function, lines in sorted(left_out[name].items(), key=lambda item: item[1].start):
        print(f"  {name}:{lines.start}-{lines.stop - 1}  {function}")
EOF

if [ "$tests_status" != 0 ]; then
  echo "FAILED: the Wine tests failed (pytest exit status $tests_status): the figures above count" \
    "a run that went wrong"
  exit 1
fi
