#!/usr/bin/env bash
# Installs, with apt-get, whatever of the build and test tools this machine lacks (Debian 12).
# Usage: scripts/install-deps.sh [build|test]   (test adds Wine, Xvfb, pytest, libfaketime, the
# fuzzing runtime, umockdev, lintian, and QEMU, static busybox and cpio for the kernel world)
set -euo pipefail

packages=(cmake make g++ libgtest-dev python3 g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
          osslsigncode openssl)
if [[ "${1:-build}" == "test" ]]; then
  packages+=(clang clang-format libclang-rt-14-dev wine wine64 xvfb xdotool imagemagick icoutils
             srecord python3-intelhex python3-pytest gdb libfaketime file groff-base umockdev
             libumockdev-dev pkg-config lintian qemu-system-x86 busybox-static cpio)
fi

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=()
[[ $(id -u) -ne 0 ]] && sudo=(sudo)
echo "Installing: ${missing[*]}"
"${sudo[@]}" apt-get update -q
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends \
  "${missing[@]}"
