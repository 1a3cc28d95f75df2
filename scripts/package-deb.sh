#!/usr/bin/env bash
# Packs the Linux program into a Debian package, the same bytes from the same commit wherever and
# whenever it is made: every date in it is the commit's, every owner root, every list sorted.
# Usage: scripts/package-deb.sh FWUPDATE MANPAGE OUTDIR
#   FWUPDATE  the Linux program (build/linux-release/fwupdate)
#   MANPAGE   its manual page, troff source (section 8)
#   OUTDIR    where talvex-fwupdate_<version>_amd64.deb is written; its path is printed last
# The package is named talvex-fwupdate, not fwupdate: Debian's archive has a package of that name
# (another program, and a newer version number), which apt would install over this one.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
[[ $# -eq 3 ]] || { echo "usage: scripts/package-deb.sh FWUPDATE MANPAGE OUTDIR"; exit 2; }
program=$1 manpage=$2 out=$3

package=talvex-fwupdate
define() {  # NAME: the value of a #define in resources/version.h
  sed -n "s/^#define $1 \"\{0,1\}\([^\"]*\)\"\{0,1\}$/\1/p" "$root/resources/version.h"
}
version=$(define FWU_VERSION_TEXT)
[[ -n $version ]] || { echo "FAILED: no FWU_VERSION_TEXT in resources/version.h"; exit 1; }
# The commit's time, so that a rebuild at another time gives the same archive.
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct)}
stamp=$(date -u -d "@$SOURCE_DATE_EPOCH" -R)

# What the program needs of the system: glibc alone, at the newest symbol version it names.
needs_glibc=$(objdump -T "$program" | sed -n 's/.*GLIBC_\([0-9][0-9.]*\).*/\1/p' | sort -uV |
              tail -n 1)
if objdump -p "$program" | awk '$1 == "NEEDED" { print $2 }' | grep -qv -E '^(libc|libm)\.so\.6$'
then
  echo "FAILED: $program needs a shared library other than glibc:"
  objdump -p "$program" | awk '$1 == "NEEDED" { print "  " $2 }'
  exit 1
fi

tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
docs=$tree/usr/share/doc/$package
chmod 0755 "$tree"
install -d -m 0755 "$tree/DEBIAN" "$tree/usr/sbin" "$tree/usr/share/man/man8" "$docs"
# Shipped without its symbols, as the Windows program is; the build keeps the unstripped one.
strip --strip-unneeded -o "$tree/usr/sbin/fwupdate" "$program"
chmod 0755 "$tree/usr/sbin/fwupdate"
gzip -9n <"$manpage" >"$tree/usr/share/man/man8/fwupdate.8.gz"
cat >"$docs/copyright" <<EOF
Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: Talvex FW Update
Source: the project's own repository

Files: *
Copyright: $(date -u -d "@$SOURCE_DATE_EPOCH" +%Y) The Talvex FW Update maintainers
License: proprietary
 The program and the touchpad firmware it carries may be used to update the
 firmware of the Talvex touchpad. No other right is granted.
EOF
gzip -9n >"$docs/changelog.gz" <<EOF
$package ($version) stable; urgency=medium

  * Release $version: the touchpad firmware updater for Linux, carrying touchpad
    firmware $(define FWU_FIRMWARE_VERSION).

 -- The Talvex FW Update maintainers <maintainers@talvex.invalid>  $stamp
EOF
chmod 0644 "$docs"/* "$tree/usr/share/man/man8/fwupdate.8.gz"

depends=""
[[ -n $needs_glibc ]] && depends="Depends: libc6 (>= $needs_glibc)"
cat >"$tree/DEBIAN/control" <<EOF
Package: $package
Version: $version
Architecture: amd64
Maintainer: The Talvex FW Update maintainers <maintainers@talvex.invalid>
Installed-Size: $(du -sk --exclude=DEBIAN "$tree" | cut -f1)
${depends:+$depends
}Section: admin
Priority: optional
Description: firmware updater for the Talvex HID touchpad
 Rewrites the firmware of the Talvex touchpad through its bootloader, over the
 kernel's hidraw interface, and restarts the touchpad's transport device
 afterwards. It carries the firmware it writes. Run it as root; with --silent
 it asks nothing and its exit status alone tells the outcome.
EOF
# Every file dated with the commit, so the archive's members carry no build time.
find "$tree" -exec touch --no-dereference --date="@$SOURCE_DATE_EPOCH" {} +

mkdir -p "$out"
deb=$out/${package}_${version}_amd64.deb
dpkg-deb --root-owner-group -Zxz --build "$tree" "$deb" >/dev/null
echo "$deb"
