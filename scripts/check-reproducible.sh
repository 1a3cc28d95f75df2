#!/usr/bin/env bash
# Shows that the Windows program is reproducible: the sources as they are checked out, copied to
# two scratch folders of different names and depths, built one after the other (so at two
# different times, the second in another time zone), give the same stripped image and the same
# symbols file, byte for byte. Only the program's own targets are built, with the windows preset.
# The signature is not compared (it is made at signing time, by whoever holds the key); instead the
# signed program given is checked to be that same image with a signature appended, and nothing
# else changed.
# Usage: scripts/check-reproducible.sh [fwupdate.exe]   (the signed program of the windows preset)
# Works in build/reproducible/, removed when every check passed.
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
signed=$(realpath "${1:-$root/build/windows/platform/win32/fwupdate.exe}")
out=$root/build/reproducible
folders=("$out/one/src" "$out/the-second-build/sources")
zones=(UTC Pacific/Chatham)
program=build/windows/platform/win32
source "$root/scripts/lib/checks.sh"

rm -rf "$out"
for index in 0 1; do
  folder=${folders[$index]}
  mkdir -p "$folder"
  # Tracked files and new ones not ignored, as the working tree has them.
  git -C "$root" ls-files -z --cached --others --exclude-standard |
    tar -C "$root" --null --files-from=- --ignore-failed-read -c 2>/dev/null | tar -C "$folder" -x
  started=$(date +%s)
  if ! (cd "$folder" && env -u SOURCE_DATE_EPOCH TZ=${zones[$index]} \
          bash -c 'cmake --preset windows && cmake --build --preset windows \
                     --target fwupdate_unsigned') >"$out/build-$index.log" 2>&1; then
    tail -n 30 "$out/build-$index.log"
    echo "FAILED: the build in $folder (log: $out/build-$index.log)"
    exit 1
  fi
  echo "build $((index + 1)): $folder, TZ=${zones[$index]}," \
    "started $(date -u -d "@$started" +%T) UTC, $(($(date +%s) - started)) s"
done

first=${folders[0]}/$program
second=${folders[1]}/$program
for file in fwupdate.unsigned.exe fwupdate.debug; do
  check "$file: the same bytes from both folders" cmp "$first/$file" "$second/$file"
  echo "$file: $(stat -c %s "$first/$file") bytes, sha256 $(sha256sum <"$first/$file" | cut -c1-64)"
done
check "$(basename "$signed") is that image with a signature appended" \
  python3 "$root/scripts/lib/pe.py" signed-from "$first/fwupdate.unsigned.exe" "$signed"

report reproducible && rm -rf "$out"
