#!/usr/bin/env bash
# Builds the Linux program's dynamically linked twin and the mocked laptop (build/linux-release)
# and runs every case of testing/umockdev/laptop_world.cpp, or those named: one line per case with
# its seconds, then the count of cases and seconds, then "N passed, N failed".
set -euo pipefail
cd "$(dirname "$0")/../.."

cmake --preset linux-release >/dev/null
cmake --build --preset linux-release --target fwupdate-dynamic laptop_world >/dev/null
world=build/linux-release/testing/umockdev
scratch=build/umockdev-scratch
rm -rf "$scratch"
"$world/laptop_world" build/linux-release/fwupdate-dynamic "$world/libfwu_sysfs_preload.so" "$scratch" \
  "$@"
