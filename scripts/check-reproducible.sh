#!/usr/bin/env bash
# Shows that the Windows program is reproducible: the sources as they are checked out, copied to a
# scratch folder of another name and depth and built there (so at another time, and in another
# time zone), give the same stripped image and the same symbols file, byte for byte, as the build
# that made the signed program given. Only the program's own targets are built, with the windows
# preset. The signature is not compared (it is made at signing time, by whoever holds the key);
# instead the signed program is checked to be that same image with a signature appended, and
# nothing else changed.
# Usage: scripts/check-reproducible.sh [fwupdate.exe]   (the signed program of a windows build)
# Works in build/reproducible/, removed when every check passed.
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
signed=$(realpath "${1:-$root/build/windows/platform/win32/fwupdate.exe}")
given=$(dirname "$signed")
out=$root/build/reproducible
folder=$out/the-second-build/sources
zone=Pacific/Chatham
source "$root/scripts/lib/checks.sh"

rm -rf "$out"
mkdir -p "$folder"
# Tracked files and new ones not ignored, as the working tree has them.
git -C "$root" ls-files -z --cached --others --exclude-standard |
  tar -C "$root" --null --files-from=- --ignore-failed-read -c 2>/dev/null | tar -C "$folder" -x
started=$(date +%s)
if ! (cd "$folder" && env -u SOURCE_DATE_EPOCH TZ=$zone \
        bash -c 'cmake --preset windows && cmake --build --preset windows \
                   --target fwupdate_unsigned') >"$out/build.log" 2>&1; then
  tail -n 30 "$out/build.log"
  echo "FAILED: the build in $folder (log: $out/build.log)"
  exit 1
fi
echo "second build: $folder, TZ=$zone, started $(date -u -d "@$started" +%T) UTC," \
  "$(($(date +%s) - started)) s"

second=$folder/build/windows/platform/win32
for file in fwupdate.unsigned.exe fwupdate.debug; do
  check "$file: the same bytes from both folders" cmp "$given/$file" "$second/$file"
  echo "$file: $(stat -c %s "$given/$file") bytes, sha256 $(sha256sum <"$given/$file" | cut -c1-64)"
done
check "$(basename "$signed") is that image with a signature appended" \
  python3 "$root/scripts/lib/pe.py" signed-from "$given/fwupdate.unsigned.exe" "$signed"

report reproducible && rm -rf "$out"
