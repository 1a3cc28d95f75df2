#!/usr/bin/env bash
# Runs every test: the Linux build on the simulated machine, the same under AddressSanitizer and
# UndefinedBehaviorSanitizer, and the Windows cross-build with its checks.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh test

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
