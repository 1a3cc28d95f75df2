#!/usr/bin/env bash
# Checks the Debian package of the Linux program: lintian finds no error, the package made again
# in another folder and time zone is the same bytes, and the program it installs is the one given,
# stripped, and answers --help and --version.
# Usage: scripts/check-deb.sh FWUPDATE MANPAGE   (writes and keeps build/deb/)
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
[[ $# -eq 2 ]] || { echo "usage: scripts/check-deb.sh FWUPDATE MANPAGE"; exit 2; }
program=$(realpath "$1") manpage=$(realpath "$2")
out=$root/build/deb
source "$root/scripts/lib/checks.sh"

rm -rf "$out"
deb=$("$root/scripts/package-deb.sh" "$program" "$manpage" "$out/first") || exit 1
again=$(cd /tmp && TZ=Pacific/Chatham "$root/scripts/package-deb.sh" "$program" "$manpage" \
          "$out/second/elsewhere") || exit 1
echo "$(basename "$deb"): $(stat -c %s "$deb") bytes, sha256 $(sha256sum <"$deb" | cut -c1-64)"

# lintian warns that it runs as root, which CI does; only its findings count.
lintian --fail-on error "$deb" 2>&1 | grep -v 'running with root privileges' >"$out/lintian.txt"
check "lintian reports no error" test "${PIPESTATUS[0]}" -eq 0
sed 's/^/  /' "$out/lintian.txt"
check "the package made again elsewhere is the same bytes" cmp "$deb" "$again"

installed=$out/installed
dpkg-deb -x "$deb" "$installed"
shipped=$installed/usr/sbin/fwupdate
check "the program is installed as /usr/sbin/fwupdate" test -x "$shipped"
check "the shipped program has no symbol table" test -z "$(nm "$shipped" 2>/dev/null)"
check "the shipped program is the given one, stripped" \
  cmp <(objcopy --strip-unneeded -O binary -j .text "$program" /dev/stdout) \
  <(objcopy -O binary -j .text "$shipped" /dev/stdout)
help=$("$shipped" --help 2>&1)
check "fwupdate --help exits 0" test $? -eq 0
check "fwupdate --help names --silent and --log" \
  bash -c '[[ $1 == *--silent* && $1 == *--log* ]]' _ "$help"
version=$(sed -n 's/^#define FWU_VERSION_TEXT "\(.*\)"$/\1/p' "$root/resources/version.h")
check "fwupdate --version names $version" bash -c '[[ $("$1" --version) == *"$2"* ]]' _ \
  "$shipped" "$version"
check "the manual page is installed" test -s "$installed/usr/share/man/man8/fwupdate.8.gz"
report "debian package"
