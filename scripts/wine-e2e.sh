#!/usr/bin/env bash
# End-to-end test of the real Windows program under Wine, on an emulated touchpad. The program
# runs unchanged; stand-ins of hid.dll, setupapi.dll, cfgmgr32.dll and newdev.dll in the prefix's
# system directory (scripts/wine-e2e/, built by the windows preset) give it the simulated
# machine's touchpad, HID interfaces and device tree. They are selected with WINEDLLOVERRIDES for
# the program's process alone; every other process of the prefix keeps Wine's own DLLs.
#   - a silent run updates the touchpad from 16 to 17: exit code 0, the log, the flash equal to
#     the image; its mup.xml, which Wine reports as the user's, is refused and writes nothing;
#   - an interactive run on a virtual X display: question 2 answered Yes with the keyboard, the
#     background notice's first box, the success box; and one that takes the default answer, No;
#   - failure roads through the real backend: ERROR 8, ERROR 16, ERROR 21, no eligible device and
#     the same version, each with its exit code and log line;
#   - the restart road: the device restart fails and the stale device removal repairs it, and the
#     same when nothing repairs it;
#   - the stand-ins' own argument checks: a probe makes the program's calls, then each with one
#     argument wrong, which must end it with status 77.
# Usage: scripts/wine-e2e.sh [fwupdate.exe [fwimage]]
# Leaves build/wine-e2e/: screenshots, each run's Wine trace, and the Wine prefix, where
# C:\e2e\RUN holds each run's record.txt and flash.bin and C:\runs\RUN its directory and log.
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
exe=$(realpath "${1:-$root/build/windows/platform/win32/fwupdate.exe}")
fwimage=${2:-$root/build/linux/tools/fwimage}
standins=$(realpath "$(dirname "$exe")/../../scripts/wine-e2e")
standins_src=$root/scripts/wine-e2e
out=$root/build/wine-e2e

export WINEPREFIX=$out/prefix WINEARCH=win64 WINEDEBUG=-all
# A fresh prefix would otherwise offer to install Mono and Gecko, in windows of their own. Wine's
# own processes keep Wine's DLLs; only the program's runs select the stand-ins (program_dlls).
export WINEDLLOVERRIDES="mscoree,mshtml=;hid,setupapi,cfgmgr32,newdev=b"
program_dlls="mscoree,mshtml=;hid,setupapi,cfgmgr32,newdev=n"

caption="Talvex FW Update"
program='C:\fwupdate\fwupdate.exe'
drive_c=$WINEPREFIX/drive_c
# Wine hands Linux only the low 8 bits of an exit code.
updated=0 restart_hint=1 failed_update=$((1001 & 255)) no_device=$((1003 & 255))
same_version=$((1004 & 255)) declined=$((1007 & 255)) check_failed=77
# Texts as the box probe prints them, line breaks written as \n.
question_2='IMPORTANT!\n\nThe touchpad firmware is about to be updated to another version. '
question_2+='A power outage during the firmware update process could make the device inoperable. '
question_2+='Please make sure the computer battery is charged and the power adapter is connected.'
question_2+='\n\nThe firmware update may take up to a minute. Please be patient and do not '
question_2+='interrupt the process.\n\nDo you want to continue with the firmware update?'
first_notice="Please do not interrupt the update process."

source "$(dirname "$0")/lib/checks.sh"

# Ending the prefix's wineserver at the end also ends the keeper.
source "$(dirname "$0")/lib/wine.sh"

# ---- One run of the program -------------------------------------------------------------------

# start_program NAME MACHINE [ARGUMENT...]: starts the program in the background, with C:\runs\NAME
# as its current directory, the world C:\e2e\NAME made from the machine options MACHINE (the
# syntax of fwupdate-sim), and Wine's DLL load trace in $out/NAME.stderr. Sets $pid and $started.
start_program() {
  local name=$1 machine=$2
  shift 2
  mkdir -p "$drive_c/runs/$name"
  rm -rf "$drive_c/e2e/$name"
  started=$(date -u +%s)
  (cd "$drive_c/runs/$name" &&
    FWU_E2E_DIR="C:\\e2e\\$name" FWU_E2E_MACHINE="$machine" WINEDLLOVERRIDES="$program_dlls" \
      WINEDEBUG=-all,+loaddll exec timeout 180 wine "$program" "$@" \
      >/dev/null 2>"$out/$name.stderr") &
  pid=$!
}

# finish_program NAME STATUS: waits for the run, then checks what every run must leave: the exit
# status, no complaint of a stand-in, the stand-ins in the program's process alone, and a record
# of the world with nothing left open. Sets $ended.
finish_program() {
  local name=$1 expected=$2 status=0
  wait "$pid" || status=$?
  ended=$(date -u +%s)
  check "$name: exit status $expected (got $status)" [ "$status" -eq "$expected" ]
  local complaint
  complaint=$(grep -a '^fwu-e2e:' "$out/$name.stderr")
  check "$name: no stand-in check failed ($complaint)" [ -z "$complaint" ]
  check "$name: the stand-ins were loaded into the program's process alone" \
    python3 "$standins_src/check_loads.py" "$out/$name.stderr" fwupdate.exe
  check "$name: the world's record was written" [ -s "$drive_c/e2e/$name/record.txt" ]
  for resource in handles preparsed-data interface-lists device-lists; do
    check "$name: the program left no $resource open" record_has "$name" "open-$resource 0"
  done
}

record_has() {  # NAME LINE: the run's record holds LINE
  tr -d '\r' <"$drive_c/e2e/$1/record.txt" 2>/dev/null | grep -qxF -- "$2"
}

node_is() {  # NAME INSTANCE-ID FIELDS: the line of a device node in the run's record
  record_has "$1" "node $2 $3"
}

touchpad_is() {  # NAME MODE VERSION: the touchpad's state at the end of the run
  record_has "$1" "mode $2" && record_has "$1" "version $3"
}

flash_is_image() {  # NAME: the flash holds the shipped image, at its address, and nothing else
  record_has "$1" "flash-base $image_base" && cmp -s "$drive_c/e2e/$1/flash.bin" "$out/image.bin"
}

log_is() {  # NAME ARGUMENT-TEXT LINE...: the run's log file, byte for byte
  local name=$1 arguments=$2
  shift 2
  python3 "$root/scripts/wine-smoke/check_log.py" "$drive_c/runs/$name/fw.log" \
    "\"$program\" $arguments" "$started" "$ended" "$@"
}

no_key() {  # KEY below HKLM does not exist
  ! wine reg query "HKLM\\$1" >/dev/null 2>&1
}

# ---- Message boxes ------------------------------------------------------------------------------

box() {  # the program's box as another process sees it (scripts/wine-smoke/box_probe.c)
  timeout 30 wine 'C:\tools\box_probe.exe' "$caption" 2>/dev/null | tr -d '\r'
}

wait_for_box() {  # TEXT SECONDS: waits until the box shows TEXT; prints what the probe saw last
  local text=$1 seen=""
  for _ in $(seq $(($2 * 5))); do
    seen=$(box)
    grep -qxF "text: $text" <<<"$seen" && break
    sleep 0.2
  done
  echo "$seen"
}

press() {  # KEY: on the one box of the program that is on the screen
  local window
  window=$(xdotool search --onlyvisible --name "^$caption\$" 2>/dev/null | head -n1)
  # windowfocus, then key: "key --window" sends events that leave a key stuck in Wine.
  [[ -n $window ]] && timeout 30 xdotool windowfocus --sync "$window" key "$1"
}

boxes_on_screen() {
  xdotool search --onlyvisible --name "^$caption\$" 2>/dev/null | wc -l
}

# ---- Set-up -------------------------------------------------------------------------------------

rm -rf "$out"
mkdir -p "$out"
for built in e2e_world.dll hid.dll setupapi.dll cfgmgr32.dll newdev.dll standin_probe.exe \
  wine_keeper.exe; do
  if [[ ! -s $standins/$built ]]; then
    echo "FAILED: $standins/$built is not built (windows preset)"
    exit 1
  fi
done
[[ -x $fwimage ]] || { echo "FAILED: $fwimage is not built (linux preset)"; exit 1; }

echo "--- helpers and the shipped image"
x86_64-w64-mingw32-gcc -municode -O2 -Wall -Wextra -Werror "$root/scripts/wine-smoke/box_probe.c" \
  -o "$out/box_probe.exe" || exit 1
"$fwimage" -o "$out/image.bin" "$root/resources/firmware.hex" >"$out/image.txt" || exit 1
image_base=$(sed -n 's/^binary: .* from \(0x[0-9A-F]*\)$/\1/p' "$out/image.txt")

echo "--- X display and Wine prefix"
start_display_and_prefix
timeout 60 wineserver -w

echo "--- stand-ins in the system directory"
# A native DLL in the system directory wins over Wine's own by default: the registry makes Wine's
# own the default again for this prefix, and the program's runs override that in their
# environment, which takes precedence.
cp "$standins"/{e2e_world,hid,setupapi,cfgmgr32,newdev}.dll "$drive_c/windows/system32/"
mkdir -p "$drive_c/fwupdate" "$drive_c/tools" "$drive_c/e2e" "$drive_c/runs"
cp "$exe" "$drive_c/fwupdate/fwupdate.exe"
cp "$out/box_probe.exe" "$standins/standin_probe.exe" "$standins/wine_keeper.exe" "$drive_c/tools/"
# Wine's own processes start now, with Wine's own DLLs, and stay until the end: none of them is
# started from a run of the program, whose environment would hand them the stand-ins.
wine 'C:\tools\wine_keeper.exe' >"$out/keeper.txt" 2>&1 &
for _ in $(seq 300); do
  grep -q '^ready' "$out/keeper.txt" 2>/dev/null && break
  sleep 0.2
done
check "Wine's own processes are up (keeper: $(tr -d '\r' <"$out/keeper.txt"))" \
  grep -q '^ready' "$out/keeper.txt"
for dll in hid setupapi cfgmgr32 newdev; do
  wine reg add 'HKCU\Software\Wine\DllOverrides' /v "$dll" /t REG_SZ /d builtin /f >/dev/null 2>&1
done
draw_captions

echo "--- the stand-ins' checks"
# run_probe CASE [MACHINE]: runs the probe with the stand-ins, on the default machine or the one
# MACHINE describes; sets $status and $probe (its output, also kept in probe.txt).
run_probe() {
  status=0
  FWU_E2E_DIR='C:\e2e\probe' FWU_E2E_MACHINE="${2:-}" WINEDLLOVERRIDES="$program_dlls" \
    timeout 60 wine 'C:\tools\standin_probe.exe' "$1" >"$out/probe.raw" 2>&1 || status=$?
  probe=$(tr -d '\r' <"$out/probe.raw")
  printf '== %s %s: status %s\n%s\n' "$1" "${2:-}" "$status" "$probe" >>"$out/probe.txt"
  rm -f "$out/probe.raw"
}
run_probe ok
check "probe, the program's calls: status 0 (got $status: $probe)" [ "$status" -eq 0 ]
check "probe: the touchpad's report 7 collection, by a path in the prefix" \
  grep -q '^touchpad: \\\\?\\C:\\e2e\\probe\\devices\\HID#TPD0001&COL03#' <<<"$probe"
check "probe: the services of the ACPI HID-class devices" \
  grep -qx 'services: hidspi hidi2c hidi2c' <<<"$probe"
ended_by() {  # FUNCTION: the last probe was ended by a check of FUNCTION
  [ "$status" -eq "$check_failed" ] && grep -q "^fwu-e2e: $1" <<<"$probe"
}
while read -r misuse function; do
  run_probe "$misuse"
  check "probe $misuse: ended by $function with status $check_failed (got $status: $probe)" \
    ended_by "$function"
done <<'EOF'
class-devs-flags SetupDiGetClassDevsW
interface-data-size SetupDiEnumDeviceInterfaces
detail-size-field SetupDiGetDeviceInterfaceDetailW
detail-without-query SetupDiGetDeviceInterfaceDetailW
open-access CreateFileW
attributes-size HidD_GetAttributes
property-buffer CM_Get_Device_Interface_PropertyW
disable-flags CM_Disable_DevNode
reenumerate-flags CM_Reenumerate_DevNode
acpi-list-flags SetupDiGetClassDevsW
devinfo-size SetupDiEnumDeviceInfo
service-property SetupDiGetDeviceRegistryPropertyW
service-buffer SetupDiGetDeviceRegistryPropertyW
EOF
run_probe ok '--version 16 --answer yes'
check "probe: an option of the program's own side is no machine option (got $status: $probe)" \
  ended_by FWU_E2E_MACHINE

# ---- The program's runs ---------------------------------------------------------------------

echo "--- silent update, with mup.xml"
# ---- mup.xml and the trust boundary ----------------------------------------------------------
# The program reads mup.xml only when no standard user can have written it: owned by SYSTEM,
# Administrators or TrustedInstaller, and changeable by them alone. Wine 8 keeps no owner for a
# file: it reports the user running Wine as the owner of every file, with an access list made
# from the Unix mode bits that lets that user do everything, also after SetNamedSecurityInfo sets
# another owner and list (backend_probe.exe in scripts/wine-smoke.sh prints both). So under Wine
# no mup.xml can pass: the silent run shows one refused for the right reason, with its line and
# no registry value. Trusted files that write the record are the simulated machine's tests'.
mkdir -p "$drive_c/runs/silent"
cat >"$drive_c/runs/silent/mup.xml" <<'EOF'
<registrykey componentID="touchpad">
  <name>HKEY_LOCAL_MACHINE\SOFTWARE\FwuE2E\Touchpad</name>
  <value>17</value>
  <displayName>HKEY_LOCAL_MACHINE\SOFTWARE\FwuE2E\Display</displayName>
  <displayValue>"Touchpad firmware 17"</displayValue>
</registrykey>
EOF
mup_refused="Registry key inventory skipped: mup.xml is not owned by SYSTEM, Administrators or"
mup_refused+=" TrustedInstaller."
# ---- end of mup.xml and the trust boundary ---------------------------------------------------
seen=""
start_program silent "" /S '/vLOGFILE=C:\runs\silent\fw.log'
while kill -0 "$pid" 2>/dev/null; do
  seen+=$(xdotool search --onlyvisible --name . 2>/dev/null | head -n1)
  sleep 0.2
done
finish_program silent $updated
check "silent: no window" [ -z "$seen" ]
check "silent: log of a successful update, mup.xml refused" \
  log_is silent '/S /vLOGFILE=C:\runs\silent\fw.log' "Firmware update successful." "$mup_refused"
check "silent: the touchpad runs firmware 17" touchpad_is silent firmware 17
check "silent: the flash holds the image" flash_is_image silent
check "silent: the touchpad's transport device was restarted once" node_is silent 'ACPI\TPD0001\1' \
  'present 1 disabled 0 problem 0 disables 1 enables 1 reenumerations 0 removals 0 uninstalls 0'
check "silent: the refused mup.xml wrote no inventory value" no_key 'SOFTWARE\FwuE2E\Touchpad'
check "silent: nor a display value" no_key 'SOFTWARE\FwuE2E\Display'

echo "--- interactive update"
arguments='/vLOGFILE=C:\runs\interactive\fw.log'
start_program interactive "" "$arguments"
seen=$(wait_for_box "$question_2" 60)
check "interactive: question 2, Yes and No: got
$seen" [ "$seen" == "$(printf 'caption: %s\nicon: shown\ntext: %s\nbutton: &Yes\nbutton: &No' \
  "$caption" "$question_2")" ]
timeout 30 import -window root "$out/question.png"
press y
seen=$(wait_for_box "$first_notice" 30)
check "interactive: the background notice's first box: got
$seen" grep -qxF "text: $first_notice" <<<"$seen"
timeout 30 import -window root "$out/notice.png"
seen=$(wait_for_box "Firmware update successful!" 120)
check "interactive: the success box: got
$seen" [ "$seen" == "$(printf 'caption: %s\nicon: shown\ntext: %s\nbutton: OK' "$caption" \
  'Firmware update successful!')" ]
check "interactive: the notice's box went away with its thread" [ "$(boxes_on_screen)" -eq 1 ]
timeout 30 import -window root "$out/success.png"
press Return
finish_program interactive $updated
check "interactive: log of a successful update" \
  log_is interactive "$arguments" "Firmware update successful."
check "interactive: the touchpad runs firmware 17" touchpad_is interactive firmware 17
check "interactive: the flash holds the image" flash_is_image interactive

echo "--- interactive, the default answer"
arguments='/vLOGFILE=C:\runs\declined\fw.log'
start_program declined "" "$arguments"
seen=$(wait_for_box "$question_2" 60)
check "declined: question 2 is up" grep -qxF "text: $question_2" <<<"$seen"
press Return
seen=$(wait_for_box "Firmware update aborted." 30)
check "declined: Return takes the default, No: got
$seen" grep -qxF "text: Firmware update aborted." <<<"$seen"
press Return
finish_program declined $declined
check "declined: log" log_is declined "$arguments" "Firmware update aborted by the user."
check "declined: the touchpad still runs firmware 16, nothing written" \
  eval 'touchpad_is declined firmware 16 && record_has declined "flash-bytes 0"'

echo "--- failure roads"
# run_silent NAME MACHINE STATUS LOG-LINE: a silent run with a log, its status and its one line.
# (NAME is part of the log path, which the program cuts at a minus sign.)
run_silent() {
  local name=$1 machine=$2 status=$3 line=$4
  start_program "$name" "$machine" /S "/vLOGFILE=C:\\runs\\$name\\fw.log"
  finish_program "$name" "$status"
  check "$name: log" log_is "$name" "/S /vLOGFILE=C:\\runs\\$name\\fw.log" "$line"
}
run_silent status_fails '--fail status' $failed_update \
  "ERROR 8: Failed to get the device status. Firmware update failed."
check "status_fails: nothing was written" eval \
  'touchpad_is status_fails firmware 16 && record_has status_fails "flash-bytes 0"'
# A failed update writes no inventory record, whatever mup.xml says.
mkdir -p "$drive_c/runs/write_fails"
sed 's/FwuE2E\\Touchpad/FwuE2E\\Failed/' "$drive_c/runs/silent/mup.xml" \
  >"$drive_c/runs/write_fails/mup.xml"
run_silent write_fails '--fail write:3' $failed_update \
  "ERROR 16: Failed to write data. Firmware update failed."
check "write_fails: the touchpad is left in its bootloader" touchpad_is write_fails bootloader 0
check "write_fails: no inventory value" no_key 'SOFTWARE\FwuE2E\Failed'
run_silent never_valid '--image-never-valid' $failed_update \
  "ERROR 21: Data written with errors. Firmware update failed."
check "never_valid: the touchpad is left in its bootloader" \
  eval 'touchpad_is never_valid bootloader 0 && record_has never_valid "image-valid 0"'
run_silent no_touchpad '--device none' $no_device \
  "ERROR: No eligible devices have been found. The firmware has not been updated."
run_silent same_version '--version 17' $same_version \
  "The device already has the target firmware version. Firmware update aborted."

echo "--- restart roads"
run_silent stale_repairs '--restart fail --stale ok' $updated "Firmware update successful."
check "stale_repairs: the touchpad runs firmware 17" touchpad_is stale_repairs firmware 17
check "stale_repairs: the transport device was restarted and stayed in a problem state" \
  node_is stale_repairs 'ACPI\TPD0001\1' \
  'present 1 disabled 0 problem 1 disables 2 enables 2 reenumerations 0 removals 0 uninstalls 0'
check "stale_repairs: the stale device was restarted and repaired" \
  node_is stale_repairs 'ACPI\SNS0001\1' \
  'present 1 disabled 0 problem 0 disables 1 enables 1 reenumerations 0 removals 0 uninstalls 0'
run_silent nothing_repairs '--restart fail' $restart_hint \
  "Firmware update successful. The computer may need to be restarted."
check "nothing_repairs: the flash holds the image all the same" flash_is_image nothing_repairs

timeout 60 wineserver -k
report wine-e2e
