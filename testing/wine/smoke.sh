#!/usr/bin/env bash
# Smoke test of the real Windows program under Wine. Wine has no touchpad, so the program takes its
# no-device road for real, through the real Windows backend:
#   - silent, with a log file: no window at all, exit code 1003, and the log of the run;
#   - interactive, on a virtual X display: the error box (caption, error icon, text, OK), kept as
#     a screenshot and closed with the keyboard; exit code 1003 and the log line after the box;
#   - in both, a hid.dll planted beside the program: the program loads hid.dll at run time, and
#     must take it from the system directory;
#   - backend_probe.exe (built beside the program): the registry calls of the inventory record and
#     the device walks, on what Wine has.
# Usage: testing/wine/smoke.sh [fwupdate.exe [BUILD]]
# Leaves build/wine-smoke/: error-box.png, the two logs, and the Wine prefix of the run.
set -uo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
exe=$(realpath "${1:-$root/build/windows/platform/win32/fwupdate.exe}")
probe=$(realpath "${2:-$root/build/windows}")/testing/wine/probes/backend_probe.exe
here=$root/testing/wine/probes
out=$root/build/wine-smoke

export WINEPREFIX=$out/prefix WINEARCH=win64 WINEDEBUG=-all
# A fresh prefix would otherwise offer to install Mono and Gecko, in windows of their own.
export WINEDLLOVERRIDES="mscoree,mshtml="

caption="Talvex FW Update"
box_text='ERROR: No eligible devices have been found!\n\nThe firmware has not been updated.'
log_text="ERROR: No eligible devices have been found. The firmware has not been updated."
no_device=$((1003 & 255))  # Wine hands Linux only the low 8 bits of the exit code: 235
# cfgmgr32.dll and newdev.dll are mapped into every Wine process before the program runs, so a
# planted copy of them is never looked at here, whatever the program does; the no-device road
# does not reach them anyway.
planted=(hid.dll)
program='C:\fwupdate\fwupdate.exe'
# Wine starts the program with its name quoted, as Explorer does.
command_line="\"$program\""
drive_c=$WINEPREFIX/drive_c

source "$root/scripts/lib/checks.sh"

source "$root/testing/wine/wine.sh"

# The names of the visible top-level windows on the display, one a line.
visible_windows() {
  local id
  for id in $(xdotool search --onlyvisible --name . 2>/dev/null); do
    xdotool getwindowname "$id" 2>/dev/null
  done
}

rm -rf "$out"
mkdir -p "$out"

echo "--- helpers"
mingw=(x86_64-w64-mingw32-gcc -municode -O2 -Wall -Wextra -Werror)
"${mingw[@]}" -shared "$here/planted_dll.c" -o "$out/planted.dll" &&
  "${mingw[@]}" "$here/load_probe.c" -o "$out/load_probe.exe" &&
  "${mingw[@]}" "$here/box_probe.c" -o "$out/box_probe.exe" || exit 1

echo "--- X display and Wine prefix"
start_display_and_prefix
draw_captions
timeout 60 wineserver -w

mkdir -p "$drive_c/fwupdate" "$drive_c/tools"
cp "$exe" "$drive_c/fwupdate/fwupdate.exe"
cp "$out/load_probe.exe" "$drive_c/fwupdate/"
cp "$out/box_probe.exe" "$probe" "$drive_c/tools/"
for dll in "${planted[@]}"; do cp "$out/planted.dll" "$drive_c/fwupdate/$dll"; done

echo "--- planted DLLs: control"
# Without this the plant below could pass only because this Wine never looks in the folder.
for dll in "${planted[@]}"; do
  status=0
  timeout 60 wine 'C:\fwupdate\load_probe.exe' "$dll" >/dev/null 2>&1 || status=$?
  check "a plain LoadLibraryW takes the $dll planted beside the program (status $status)" \
    [ "$status" -eq 66 ]
done
rm -f "$drive_c/planted.txt"

echo "--- silent run"
started=$(date -u +%s)
timeout 60 wine "$program" /S '/vLOGFILE=C:\fwlogs\run.log' >/dev/null 2>&1 &
pid=$!
seen=""
while kill -0 "$pid" 2>/dev/null; do
  seen+=$(visible_windows)
  sleep 0.1
done
status=0
wait "$pid" || status=$?
ended=$(date -u +%s)
check "silent run shows no window (saw: ${seen:-none})" [ -z "$seen" ]
check "silent run exits with 1003's status $no_device (got $status)" [ "$status" -eq "$no_device" ]
check "silent run loads no planted DLL ($(cat "$drive_c/planted.txt" 2>/dev/null))" \
  [ ! -e "$drive_c/planted.txt" ]
cp "$drive_c/fwlogs/run.log" "$out/" 2>/dev/null
check "silent run log" python3 "$root/testing/wine/checks/check_log.py" "$drive_c/fwlogs/run.log" \
  "$command_line /S /vLOGFILE=C:\\fwlogs\\run.log" "$started" "$ended" "$log_text"

echo "--- interactive run"
rm -f "$drive_c/planted.txt"
started=$(date -u +%s)
timeout 120 wine "$program" '/vLOGFILE=C:\fwlogs\box.log' >/dev/null 2>&1 &
pid=$!
window=$(timeout 60 xdotool search --sync --onlyvisible --name "^$caption\$" 2>/dev/null | head -n1)
check "the error box appears" [ -n "$window" ]
if [[ -n $window ]]; then
  # The same look-out that found nothing in the silent run.
  check "the window check sees the box" grep -qx "$caption" <<<"$(visible_windows)"
  box=$(timeout 30 wine 'C:\tools\box_probe.exe' "$caption" 2>/dev/null | tr -d '\r')
  expected=$(printf 'caption: %s\nicon: shown\ntext: %s\nbutton: OK' "$caption" "$box_text")
  check "the box has the caption, an icon, the text and one OK button: got
$box" [ "$box" == "$expected" ]
  timeout 30 import -window root "$out/error-box.png"
  check "screenshot $out/error-box.png" [ -s "$out/error-box.png" ]
  # windowfocus, then key: "key --window" sends events that leave a key stuck in Wine.
  timeout 30 xdotool windowfocus --sync "$window" key Return
fi
status=0
wait "$pid" || status=$?
ended=$(date -u +%s)
check "interactive run exits with 1003's status $no_device (got $status)" \
  [ "$status" -eq "$no_device" ]
check "interactive run loads no planted DLL ($(cat "$drive_c/planted.txt" 2>/dev/null))" \
  [ ! -e "$drive_c/planted.txt" ]
cp "$drive_c/fwlogs/box.log" "$out/" 2>/dev/null
check "interactive run log" python3 "$root/testing/wine/checks/check_log.py" "$drive_c/fwlogs/box.log" \
  "$command_line /vLOGFILE=C:\\fwlogs\\box.log" "$started" "$ended" "$log_text"

echo "--- backend probe"
status=0
timeout 60 wine 'C:\tools\backend_probe.exe' 2>&1 | tr -d '\r' || status=$?
check "backend probe (status $status)" [ "$status" -eq 0 ]
check "registry: inventory value stored as the two characters given" \
  default_value 'SOFTWARE\FwuSmoke\Inventory' 17
check "registry: value stored through the 64-bit view" \
  default_value 'SOFTWARE\FwuSmoke\View' Touchpad

timeout 60 wineserver -w
report wine-smoke
