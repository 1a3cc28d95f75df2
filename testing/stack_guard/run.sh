#!/usr/bin/env bash
# The program's own stack protector runtime under Wine, in a prefix of its own (no display needed):
#   - stack_guard_test.exe (built beside the program by the windows preset): an overrun stack
#     buffer and an over-long checked memcpy each end their process with the fast-fail status, a
#     copy that fits returns, and the canary is seeded, differently in each process;
#   - the program's silent run, traced by Wine's loader: it loads no cryptographic DLL (the stack
#     protector's start-up from libssp loaded bcrypt, crypt32 and rsaenh through CryptoAPI before
#     WinMain limited where DLLs come from).
# Usage: testing/stack_guard/run.sh [fwupdate.exe]
# Leaves build/stack-guard/: the loader trace of the run, wineboot's log and the Wine prefix.
set -uo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
exe=$(realpath "${1:-$root/build/windows/platform/win32/fwupdate.exe}")
test_exe=$(dirname "$exe")/stack_guard_test.exe
out=$root/build/stack-guard
source "$root/scripts/lib/checks.sh"

export WINEPREFIX=$out/prefix WINEARCH=win64 WINEDEBUG=-all
# A fresh prefix would otherwise offer to install Mono and Gecko.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
# The prefix is this script's own: ending its wineserver ends only what the script started.
trap 'wineserver -k 2>/dev/null' EXIT

rm -rf "$out"
mkdir -p "$out"
status=0
timeout 120 wineboot -i >"$out/wineboot.log" 2>&1 || status=$?
timeout 60 wineserver -w
check "the Wine prefix is made (wineboot status $status, log $out/wineboot.log)" [ "$status" -eq 0 ]
drive_c=$WINEPREFIX/drive_c
mkdir -p "$drive_c/fwupdate" "$drive_c/tools"
cp "$exe" "$drive_c/fwupdate/fwupdate.exe"
cp "$test_exe" "$drive_c/tools/" || exit 1

echo "--- the canary's checks"
status=0
timeout 120 wine 'C:\tools\stack_guard_test.exe' 2>/dev/null | tr -d '\r' || status=$?
check "stack_guard_test.exe: every case (status $status)" [ "$status" -eq 0 ]

echo "--- what the program loads"
status=0
WINEDEBUG=+loaddll timeout 60 wine 'C:\fwupdate\fwupdate.exe' /S >/dev/null 2>"$out/trace.txt" ||
  status=$?
check "silent run ends with 1003's status $((1003 & 255)) (got $status)" \
  [ "$status" -eq $((1003 & 255)) ]
# The loader's lines of the program's own process: the one that loaded fwupdate.exe.
loads=$(tr -d '\r' <"$out/trace.txt" |
          awk -F: '/:trace:loaddll:.*C:\\\\fwupdate\\\\fwupdate.exe/ {process = $1}
                   process != "" && $1 == process && /:trace:loaddll:/')
# Without these the search below could pass on a trace that shows nothing.
check "the trace shows the program's process loading kernel32.dll" \
  grep -qi 'system32\\\\kernel32.dll' <<<"$loads"
check "... and hid.dll, which only its run past WinMain loads" \
  grep -qi 'system32\\\\hid.dll' <<<"$loads"
crypto=$(grep -iE '\\(bcrypt|crypt32|rsaenh|cryptbase|cryptsp|ncrypt|dssenh)\.dll' <<<"$loads")
check "no cryptographic DLL loaded (${crypto:-none})" [ -z "$crypto" ]
echo "loaded by the program: $(grep -c 'build_module Loaded' <<<"$loads") modules;" \
  "trace in $out/trace.txt"

timeout 60 wineserver -w
report stack-guard
