#!/usr/bin/env bash
# Makes a release of the Windows program from the commit checked out: builds it with the windows
# preset in a fresh folder (build/release), stripped and signed; runs the executable check, the
# reproducibility check and the Wine tests on exactly that file; builds the Linux program with the
# linux-release preset in a fresh folder (build/release-linux) and checks its Debian package; and
# writes dist/:
#   fwupdate.exe    the program, signed
#   fwupdate.debug  its symbols (the program's debug link names this file)
#   talvex-fwupdate_<version>_amd64.deb   the Linux program and its manual
#   RELEASE.txt     the versions, the commit, the toolchain, the signing certificate
#   SHA256SUMS      for `sha256sum -c SHA256SUMS`
# Usage: scripts/release.sh [--test-signed]
# Signing: FWU_SIGN_PKCS12 and FWU_SIGN_PASSWORD name the maintainer's certificate, and
# FWU_SIGN_SHA256 the SHA-256 fingerprint it must have (taken from outside the file, so that an
# old or a wrong certificate cannot sign a release). Without them the script refuses, before it
# builds anything, unless --test-signed asks for a release signed with a throwaway test
# certificate: that one goes to dist-TEST-SIGNED/ instead, never to dist/, and RELEASE.txt says so.
# FWU_SIGN_TIMESTAMP_URL adds a time stamp from that service (off by default: it needs the network).
set -euo pipefail
cd "$(dirname "$0")/.."

test_signed=false
for argument in "$@"; do
  case $argument in
    --test-signed) test_signed=true ;;
    *) echo "usage: scripts/release.sh [--test-signed]"; exit 2 ;;
  esac
done

# The password is read here, into a variable that is not exported, and leaves the environment:
# no step below, nor anything it starts, finds it there. It reaches the signing on a pipe.
sign_password=${FWU_SIGN_PASSWORD-}
password_given=${FWU_SIGN_PASSWORD+yes}
unset FWU_SIGN_PASSWORD

fingerprint() {  # the hexadecimal digits of a SHA-256 fingerprint, upper case, without colons
  tr -d ':[:space:]' | tr '[:lower:]' '[:upper:]'
}
if [[ -n ${FWU_SIGN_PKCS12-} ]]; then
  if $test_signed; then
    echo "FAILED: --test-signed, but FWU_SIGN_PKCS12 names a certificate: choose one"
    exit 1
  fi
  if [[ -z $password_given ]]; then
    echo "FAILED: FWU_SIGN_PKCS12 is set: set FWU_SIGN_PASSWORD too (empty for none)"
    exit 1
  fi
  expected=$(fingerprint <<<"${FWU_SIGN_SHA256:?FWU_SIGN_PKCS12 is set: set FWU_SIGN_SHA256 too}")
  dist=dist
elif $test_signed; then
  dist=dist-TEST-SIGNED
else
  echo "FAILED: no signing certificate (FWU_SIGN_PKCS12, FWU_SIGN_PASSWORD, FWU_SIGN_SHA256)."
  echo "A release signed with the throwaway test certificate is made only when asked for, with"
  echo "--test-signed, and goes to dist-TEST-SIGNED/."
  exit 1
fi
echo "=== release into $dist/"

# A release names its commit, so it is built from that commit and nothing else.
if [[ -n $(git status --porcelain) ]]; then
  git status --short
  echo "FAILED: the working tree differs from its commit; commit or remove the changes first"
  exit 1
fi

scripts/install-deps.sh test

build=build/release
exe=$build/platform/win32/fwupdate.exe
echo "=== build ($build)"
# A fresh folder: nothing of an earlier build, nor its signature, is taken.
rm -rf "$build"
cmake --preset windows -B "$build" >/dev/null
if [[ -n ${FWU_SIGN_PKCS12-} ]]; then
  # The build signs with its test certificate, as every build does; the maintainer's signature is
  # made below, by this script, which alone holds the password.
  env -u FWU_SIGN_PKCS12 -u FWU_SIGN_TIMESTAMP_URL cmake --build "$build" -j2
else
  cmake --build "$build" -j2
fi
# The Linux programs the Wine tests run: fwimage compares the flash with the image, and
# fwupdate-sim runs each machine of the agreement table on the simulated machine.
cmake --preset linux >/dev/null
cmake --build --preset linux --target fwimage fwupdate-sim

signer=$build/platform/win32/fwupdate.signer.pem
if [[ -n ${FWU_SIGN_PKCS12-} ]]; then
  echo "=== signing with $FWU_SIGN_PKCS12"
  # The password on a pipe that only sign-exe.sh reads: on no disk, in no environment.
  FWU_SIGN_PASSWORD_FILE=<(printf '%s' "$sign_password") scripts/sign-exe.sh \
    "$build/platform/win32/fwupdate.unsigned.exe" "$exe" "$signer" "$build/test-certificate"
  sign_password=""
  signed_by=$(openssl x509 -in "$signer" -noout -fingerprint -sha256 | sed 's/.*=//' | fingerprint)
  if [[ $signed_by != "$expected" ]]; then
    echo "FAILED: signed by the certificate with SHA-256 fingerprint $signed_by, not $expected"
    exit 1
  fi
fi

echo "=== checks"
scripts/check-windows-exe.sh "$exe" "$signer"
scripts/check-reproducible.sh "$exe"
# The Wine tests take the test's own programs from this build too.
pytest-3 testing/wine --exe "$exe" --fwimage build/linux/tools/fwimage --build "$build"
testing/stack_guard/run.sh "$exe"

echo "=== the Linux program and its package"
linux_build=build/release-linux
rm -rf "$linux_build"
cmake --preset linux-release -B "$linux_build" >/dev/null
cmake --build "$linux_build" -j2
scripts/check-deb.sh "$linux_build/fwupdate" platform/linux/fwupdate.8

echo "=== $dist"
rm -rf "$dist"
mkdir "$dist"
cp "$exe" "$build/platform/win32/fwupdate.debug" "$dist/"
deb=$(scripts/package-deb.sh "$linux_build/fwupdate" platform/linux/fwupdate.8 "$dist")

define() {  # NAME: the value of a #define in resources/version.h
  sed -n "s/^#define $1 \"\{0,1\}\([^\"]*\)\"\{0,1\}$/\1/p" resources/version.h
}
package_version() {  # PACKAGE: its installed Debian version
  dpkg-query -W -f '${Version}' "$1"
}
certificate() {  # openssl x509 options for the signing certificate
  openssl x509 -in "$signer" -noout -nameopt oneline "$@" | sed 's/^[^=]*= *//'
}
{
  echo "Talvex FW Update $(define FWU_VERSION_TEXT), touchpad firmware $(define FWU_FIRMWARE_VERSION)"
  echo
  echo "commit:    $(git rev-parse HEAD) ($(git log -1 --format=%cI))"
  echo "files:     fwupdate.exe (the program: stripped, signed), fwupdate.debug (its symbols);"
  echo "           $(basename "$deb") (the Linux program, static, and its manual);"
  echo "           SHA-256 of each in SHA256SUMS"
  echo
  echo "toolchain (Debian 12 packages):"
  for package in g++-mingw-w64-x86-64-win32 mingw-w64-x86-64-dev binutils-mingw-w64-x86-64 \
                 g++ libc6-dev dpkg cmake osslsigncode; do
    printf '  %-28s %s\n' "$package" "$(package_version "$package")"
  done
  echo "  $(x86_64-w64-mingw32-g++ --version | head -n 1)"
  echo "  $(osslsigncode --version 2>&1 | head -n 1 | sed 's/, using:$//')"
  echo "  $(openssl version)"
  echo
  echo "signature: Authenticode, SHA-256"
  echo "  subject:             $(certificate -subject)"
  echo "  issuer:              $(certificate -issuer)"
  echo "  SHA-256 fingerprint: $(certificate -fingerprint -sha256)"
  echo "  valid until:         $(certificate -enddate)"
  echo "  time stamp:          ${FWU_SIGN_TIMESTAMP_URL:-none}"
  if [[ -z ${FWU_SIGN_PKCS12-} ]]; then
    echo "  TEST CERTIFICATE: made for this build alone and trusted by nobody. Not for customers."
  fi
  echo
  echo "checked: scripts/check-windows-exe.sh, scripts/check-reproducible.sh, the Wine tests"
  echo "         (testing/wine) and testing/stack_guard/run.sh, on this fwupdate.exe;"
  echo "         scripts/check-deb.sh on the Linux package"
} >"$dist/RELEASE.txt"
(cd "$dist" && sha256sum fwupdate.exe fwupdate.debug "$(basename "$deb")" RELEASE.txt >SHA256SUMS)
echo
cat "$dist/RELEASE.txt"
