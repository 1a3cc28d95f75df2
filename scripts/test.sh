#!/usr/bin/env bash
# Runs every test: the Linux build on the simulated machine, the same under AddressSanitizer and
# UndefinedBehaviorSanitizer, the Windows cross-build with its checks, the Windows program under
# Wine, and a bounded fuzzing run of the HEX reader (FWU_FUZZ_SECONDS, 60 by default).
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

echo "=== windows"
cmake --preset windows >/dev/null
cmake --build --preset windows
scripts/check-windows-exe.sh build/windows/platform/win32/fwupdate.exe

echo "=== wine"
scripts/wine-smoke.sh build/windows/platform/win32/fwupdate.exe

seconds=${FWU_FUZZ_SECONDS:-60}
echo "=== fuzz (hex reader, $seconds s)"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target hex_reader_fuzz
# New inputs and any crash file go to a scratch directory; the committed corpus is only read.
root=$(pwd)
scratch=$(mktemp -d)
mkdir "$scratch/corpus"
log=build/fuzz/hex_reader_fuzz.log
if (cd "$scratch" && "$root/build/fuzz/fuzz/hex_reader_fuzz" -max_total_time="$seconds" \
      -dict="$root/fuzz/hex_reader.dict" corpus "$root/fuzz/corpus/hex_reader") >"$log" 2>&1; then
  tail -n 1 "$log"
  rm -rf "$scratch"
else
  tail -n 40 "$log"
  echo "FAILED: hex reader fuzzing (log: $log, inputs and crash: $scratch)"
  exit 1
fi
