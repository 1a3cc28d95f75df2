#!/usr/bin/env bash
# Runs every test: the Linux build on the simulated machine, the same under AddressSanitizer and
# UndefinedBehaviorSanitizer, the Linux program's build and package, the Linux program on a mocked
# laptop (umockdev) and on a real kernel (QEMU), the mutation run against the Linux tests, the
# Windows cross-build with its checks, the Windows program under Wine (without a touchpad, then on
# an emulated one, then its stack protector's runtime), and a bounded fuzzing run of each fuzz
# target (FWU_FUZZ_SECONDS each, 30 by default).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh test

echo "=== format"
git ls-files '*.cpp' '*.h' '*.c' | xargs clang-format --dry-run -Werror

for preset in linux linux-asan; do
  echo "=== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done
# The two figures the failure tests print: they run again on their own to show them.
build/linux/fwu_tests --gtest_filter='FaultMatrix.*:PowerLossTest.*' |
  grep -E '^(fault matrix|power loss):'

echo "=== linux-release"
# The Linux program as it ships: static, with the firmware it carries, its options and its manual.
cmake --preset linux-release >/dev/null
cmake --build --preset linux-release
file build/linux-release/fwupdate | grep -q 'static-pie linked'
build/linux-release/fwupdate --help | grep -q -- '--silent'
build/linux-release/fwupdate --help | grep -q -- '--log FILE'
groff -man -Tutf8 -ww platform/linux/fwupdate.8 >/dev/null
# Its Debian package: lintian, the same bytes when made again elsewhere, the program it installs.
scripts/check-deb.sh build/linux-release/fwupdate platform/linux/fwupdate.8

echo "=== umockdev (the Linux program on a mocked laptop)"
# Its dynamically linked twin in umockdev's tree of a laptop; one line per case, then the figures.
testing/umockdev/run.sh

echo "=== kernel"
# The Linux program, run unchanged on Debian's kernel under QEMU against the virtual touchpad
# behind uhid, with a laptop's I2C and ACPI side laid out as sysfs, and compared with the
# simulated machine (testing/kernel/README.md).
testing/kernel/run.py --build build/linux --fwupdate build/linux-release/fwupdate

echo "=== mutants"
# The hand-made faults of scripts/mutants.toml, each against the test binary just built: every one
# must be killed or marked equivalent with its reason.
scripts/mutants.py

echo "=== windows"
cmake --preset windows >/dev/null
cmake --build --preset windows
scripts/check-windows-exe.sh build/windows/platform/win32/fwupdate.exe

# The checks above and the Wine tests below take fwupdate.exe as the build leaves it: stripped and
# signed, as it ships.
echo "=== release: signature checks, reproducible build"
scripts/check-signing.sh build/windows/platform/win32/fwupdate.exe
scripts/check-reproducible.sh build/windows/platform/win32/fwupdate.exe

echo "=== wine"
# The smoke tests without a touchpad, then the virtual touchpad and the stand-ins (testing/wine);
# -rxX names each expected failure with its reason.
pytest-3 testing/wine -rxX --exe build/windows/platform/win32/fwupdate.exe \
  --fwimage build/linux/tools/fwimage --build build/windows
testing/stack_guard/run.sh build/windows/platform/win32/fwupdate.exe

seconds=${FWU_FUZZ_SECONDS:-30}
fuzz_targets=(hex_reader device_answers command_line inventory)
echo "=== fuzz (${fuzz_targets[*]}, $seconds s each)"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target "${fuzz_targets[@]/%/_fuzz}"
# New inputs and any crash file go to a scratch directory; the committed corpus is only read.
# Paths are absolute: some targets change into a scratch directory of their own.
root=$(pwd)
for target in "${fuzz_targets[@]}"; do
  scratch=$(mktemp -d)
  mkdir "$scratch/corpus"
  log=$root/build/fuzz/${target}_fuzz.log
  options=(-max_total_time="$seconds")
  [[ -f fuzz/$target.dict ]] && options+=(-dict="$root/fuzz/$target.dict")
  if (cd "$scratch" && "$root/build/fuzz/fuzz/${target}_fuzz" "${options[@]}" \
        "$scratch/corpus" "$root/fuzz/corpus/$target") >"$log" 2>&1; then
    echo "$target: $(tail -n 1 "$log")"
    rm -rf "$scratch"
  else
    tail -n 40 "$log"
    echo "FAILED: $target fuzzing (log: $log, inputs and crash: $scratch)"
    exit 1
  fi
done
