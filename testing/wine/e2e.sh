#!/usr/bin/env bash
# End-to-end test of the real Windows program under Wine, unchanged, in two layers.
#
# 1. Wine's own HID stack (testing/wine/touchpad_driver/): the virtual touchpad's drivers are installed
#    in the prefix like any driver package, and the program finds, opens and updates the touchpad
#    through Wine's own setupapi.dll, hid.dll and HID class driver. Only the configuration
#    manager's calls that Wine 8 lacks (cfgmgr32.dll, newdev.dll) go to stand-ins, for the
#    program's process alone; they restart the touchpad's transport device for real.
#    - a probe shows what Wine does with feature reports of another length or ID;
#    - a silent update from 16 to 17: exit code 0, the log, the flash equal to the image, its
#      mup.xml (which Wine reports as the user's) refused with its line and no registry value, the
#      transport device stopped and started again with the touchpad back under its firmware's
#      product ID;
#    - an interactive update on a virtual X display (question 2, the background notice, the
#      success box), the default answer No, and the touchpad found only in its bootloader (both
#      questions, then the update);
#    - ERROR 8, 16 and 21, no eligible device, the same version, and a restart that nothing
#      repairs, each with its exit code and log line;
#    - two instances started at once: one updates, the other waits for it and ends with 1004.
#    Every run: Wine's own hid.dll and setupapi.dll in the program's process (its load trace),
#    and every feature report it exchanged reached the touchpad as report 7 of 531 bytes.
# 2. Stand-ins of all four DLLs (testing/wine/standins/) on the simulated machine, for what Wine
#    cannot show: the exact arguments of every call (a probe with each one wrong), that the
#    program leaves no handle, preparsed data or device list open (the update and each road of
#    layer 1 again: ERROR 8, 16 and 21, no device, the same version, a restart nothing repairs),
#    the decoys of the simulated machine (another vendor's device with the touchpad's product ID
#    and report 7, the touchpad's collections without report 7), and a stale HID-over-I2C device
#    that the removal repairs.
# Usage: testing/wine/e2e.sh [fwupdate.exe [fwimage [BUILD]]]
#   BUILD: the windows preset's build folder that holds the test's drivers and tools
#   (build/windows by default; scripts/release.sh passes its own)
# Leaves build/wine-e2e/: screenshots, each run's Wine trace and the two prefixes (prefix:
# C:\e2e\RUN holds each run's record.txt and flash.bin, C:\runs\RUN its directory and log).
set -uo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
exe=$(realpath "${1:-$root/build/windows/platform/win32/fwupdate.exe}")
fwimage=${2:-$root/build/linux/tools/fwimage}
# The test tools come from a build of the windows preset, wherever the executable under test lies.
built=$(realpath "${3:-$root/build/windows}")/testing/wine
standins=$built/standins
probes=$built/probes
touchpad=$built/touchpad_driver
checks=$root/testing/wine/checks
out=$root/build/wine-e2e

export WINEPREFIX=$out/prefix WINEARCH=win64 WINEDEBUG=-all
# A fresh prefix would otherwise offer to install Mono and Gecko, in windows of their own. Wine's
# own processes keep Wine's DLLs; only the program's runs select the stand-ins (program_dlls).
export WINEDLLOVERRIDES="mscoree,mshtml=;hid,setupapi,cfgmgr32,newdev=b"

caption="Talvex FW Update"
program='C:\fwupdate\fwupdate.exe'
# Wine hands Linux only the low 8 bits of an exit code.
updated=0 restart_hint=1 failed_update=$((1001 & 255)) no_device=$((1003 & 255))
same_version=$((1004 & 255)) declined=$((1007 & 255)) check_failed=77
# Texts as the box probe prints them, line breaks written as \n.
question_1='It looks like a previous firmware update was unsuccessful. Running it again may '
question_1+='correct the situation.\n\nDo you want to run the firmware update?'
question_2='IMPORTANT!\n\nThe touchpad firmware is about to be updated to another version. '
question_2+='A power outage during the firmware update process could make the device inoperable. '
question_2+='Please make sure the computer battery is charged and the power adapter is connected.'
question_2+='\n\nThe firmware update may take up to a minute. Please be patient and do not '
question_2+='interrupt the process.\n\nDo you want to continue with the firmware update?'
first_notice="Please do not interrupt the update process."

source "$root/scripts/lib/checks.sh"

# Ending the prefix's wineserver at the end also ends the keeper.
source "$root/testing/wine/wine.sh"

# ---- Runs of the program --------------------------------------------------------------------
# Set per layer: the DLL overrides of the program's process, the environment of its runs, and
# the arguments of check_loads.py that say which DLLs it must take from where.
program_dlls=""
run_environment=()
load_rules=()
declare -A pids starts ends statuses

# start_program NAME [ARGUMENT...]: starts the program in the background, with C:\runs\NAME as
# its current directory and Wine's DLL load trace and hid.dll trace in $out/NAME.stderr. Several
# runs may be under way at once.
start_program() {
  local name=$1
  shift
  mkdir -p "$drive_c/runs/$name"
  starts[$name]=$(date -u +%s)
  (cd "$drive_c/runs/$name" &&
    exec env "${run_environment[@]}" WINEDLLOVERRIDES="$program_dlls" \
      WINEDEBUG=-all,+loaddll,+hid timeout 180 wine "$program" "$@" \
      >/dev/null 2>"$out/$name.stderr") &
  pids[$name]=$!
}

# finish_program NAME STATUS: waits for the run, then checks its exit status (unless STATUS is
# "any"; it is kept in statuses[NAME]) and that it took each system DLL from where it must.
finish_program() {
  local name=$1 expected=$2 status=0
  wait "${pids[$name]}" || status=$?
  ends[$name]=$(date -u +%s)
  statuses[$name]=$status
  [[ $expected == any ]] ||
    check "$name: exit status $expected (got $status)" [ "$status" -eq "$expected" ]
  check "$name: the program took its system DLLs from where it must" \
    python3 "$checks/check_loads.py" "$out/$name.stderr" fwupdate.exe "${load_rules[@]}"
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

nothing_written() {  # NAME: the touchpad's flash was never programmed
  record_has "$1" "flash-bytes 0"
}

log_is() {  # NAME ARGUMENT-TEXT LINE...: the run's log file, byte for byte
  local name=$1 arguments=$2
  shift 2
  python3 "$checks/check_log.py" "$drive_c/runs/$name/fw.log" \
    "\"$program\" $arguments" "${starts[$name]}" "${ends[$name]}" "$@"
}

no_key() {  # KEY below HKLM does not exist
  ! wine reg query "HKLM\\$1" >/dev/null 2>&1
}

# ---- Message boxes ------------------------------------------------------------------------------

box() {  # the program's box as another process sees it (testing/wine/probes/box_probe.c)
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

question_box() {  # TEXT: the box of a question, as the box probe prints it
  printf 'caption: %s\nicon: shown\ntext: %s\nbutton: &Yes\nbutton: &No' "$caption" "$1"
}

# answer_update NAME: on the run's screen, answers question 2 with Yes, sees the background
# notice and the success box, and closes it; the screenshots go to $out/NAME-*.png.
answer_update() {
  local name=$1 seen
  seen=$(wait_for_box "$question_2" 60)
  check "$name: question 2, Yes and No: got
$seen" [ "$seen" == "$(question_box "$question_2")" ]
  timeout 30 import -window root "$out/$name-question.png"
  press y
  seen=$(wait_for_box "$first_notice" 30)
  check "$name: the background notice's first box: got
$seen" grep -qxF "text: $first_notice" <<<"$seen"
  timeout 30 import -window root "$out/$name-notice.png"
  seen=$(wait_for_box "Firmware update successful!" 120)
  check "$name: the success box: got
$seen" [ "$seen" == "$(printf 'caption: %s\nicon: shown\ntext: %s\nbutton: OK' "$caption" \
    'Firmware update successful!')" ]
  check "$name: the notice's box went away with its thread" [ "$(boxes_on_screen)" -eq 1 ]
  timeout 30 import -window root "$out/$name-success.png"
  press Return
}

# ---- Set-up -------------------------------------------------------------------------------------

rm -rf "$out"
mkdir -p "$out"
for needed in "$standins"/{e2e_world,hid,setupapi,cfgmgr32,newdev}.dll \
  "$probes"/{standin_probe,wine_keeper,report_probe}.exe \
  "$touchpad"/{fwu_e2e_bus.sys,fwu_e2e_hid.sys,fwu_e2e_touchpad.inf,cfgmgr32.dll,newdev.dll} \
  "$touchpad"/touchpad_tool.exe; do
  if [[ ! -s $needed ]]; then
    echo "FAILED: $needed is not built (windows preset)"
    exit 1
  fi
done
[[ -x $fwimage ]] || { echo "FAILED: $fwimage is not built (linux preset)"; exit 1; }

echo "--- helpers and the shipped image"
x86_64-w64-mingw32-gcc -municode -O2 -Wall -Wextra -Werror "$root/testing/wine/probes/box_probe.c" \
  -o "$out/box_probe.exe" || exit 1
"$fwimage" -o "$out/image.bin" "$root/resources/firmware.hex" >"$out/image.txt" || exit 1
image_base=$(sed -n 's/^binary: .* from \(0x[0-9A-F]*\)$/\1/p' "$out/image.txt")

echo "--- X display and Wine prefixes"
start_display_and_prefix
timeout 60 wineserver -w
# The stand-ins' layer runs in a prefix of its own, a copy of this fresh one.
cp -a "$WINEPREFIX" "$out/standins-prefix"

# use_prefix PREFIX STAND-IN... : makes PREFIX the prefix of what follows, with the program's
# files and tools and the given stand-ins in its system directory, and starts Wine's own
# processes there.
use_prefix() {
  export WINEPREFIX=$1
  shift
  drive_c=$WINEPREFIX/drive_c
  mkdir -p "$drive_c/fwupdate" "$drive_c/tools" "$drive_c/e2e" "$drive_c/runs"
  cp "$exe" "$drive_c/fwupdate/fwupdate.exe"
  cp "$out/box_probe.exe" "$probes/wine_keeper.exe" "$drive_c/tools/"
  # A native DLL in the system directory wins over Wine's own by default: the registry makes
  # Wine's own the default again for this prefix, and the program's runs override that in their
  # environment, which takes precedence.
  cp "$@" "$drive_c/windows/system32/"
  # Wine's own processes start now, with Wine's own DLLs, and stay until the end: none of them is
  # started from a run of the program, whose environment would hand them the stand-ins.
  local keeper=$out/keeper-$(basename "$WINEPREFIX").txt
  wine 'C:\tools\wine_keeper.exe' >"$keeper" 2>&1 &
  for _ in $(seq 300); do
    grep -q '^ready' "$keeper" 2>/dev/null && break
    sleep 0.2
  done
  check "Wine's own processes are up (keeper: $(tr -d '\r' <"$keeper"))" grep -q '^ready' "$keeper"
  for dll in hid setupapi cfgmgr32 newdev; do
    wine reg add 'HKCU\Software\Wine\DllOverrides' /v "$dll" /t REG_SZ /d builtin /f >/dev/null 2>&1
  done
  draw_captions
}

# ==== Layer 1: Wine's own HID stack, on the virtual touchpad ===================================

use_prefix "$out/prefix" "$touchpad"/{cfgmgr32,newdev}.dll
program_dlls="mscoree,mshtml=;cfgmgr32,newdev=n"
load_rules=(--builtin hid.dll,setupapi.dll --stand-ins cfgmgr32.dll,newdev.dll)
mkdir -p "$drive_c/tools/touchpad"
cp "$touchpad"/{fwu_e2e_bus.sys,fwu_e2e_hid.sys,fwu_e2e_touchpad.inf} \
  "$touchpad"/touchpad_tool.exe "$probes"/report_probe.exe "$drive_c/tools/touchpad/"

tool() {  # ARGUMENT...: touchpad_tool.exe; prints its output, keeps it in touchpad.txt
  timeout 180 wine 'C:\tools\touchpad\touchpad_tool.exe' "$@" 2>/dev/null | tr -d '\r' |
    tee -a "$out/touchpad.txt"
  return "${PIPESTATUS[0]}"
}

# set_up_touchpad [MACHINE-OPTION...]: builds the machine the options of fwupdate-sim describe
# and waits until Wine shows the touchpad as the machine has it. Runs that start after it share
# the one touchpad, and its record, until the next set-up; several of them at once:
#   set_up_touchpad; start_program first ARG...; start_program second ARG...
#   finish_program first STATUS; finish_program second STATUS; touchpad_record first
#   check "..." feature_calls_reached first second
set_up_touchpad() {
  check "the touchpad is set up as \"$*\"" tool set-up "$@"
}

# touchpad_record NAME: once Wine has settled, the touchpad's record and flash in C:\e2e\NAME.
touchpad_record() {
  check "$1: the touchpad settled" tool wait
  check "$1: the touchpad's record was read" tool record "C:\\e2e\\$1"
}

# feature_calls_reached NAME...: every feature report of the named runs, which shared the
# touchpad recorded last in C:\e2e\FIRST-NAME, reached it as report 7 of 531 bytes.
feature_calls_reached() {
  local traces=()
  for name in "$@"; do traces+=("$out/$name.stderr"); done
  python3 "$checks/check_feature_calls.py" "$drive_c/e2e/$1/record.txt" "${traces[@]}"
}

# run_touchpad NAME STATUS LOG-LINE [MACHINE-OPTION...]: a silent run with a log on a touchpad
# set up afresh; its exit status, its log and its feature reports, and its record read.
# (NAME is part of the log path, which the program cuts at a minus sign.)
run_touchpad() {
  local name=$1 status=$2 line=$3
  shift 3
  set_up_touchpad "$@"
  start_program "$name" /S "/vLOGFILE=C:\\runs\\$name\\fw.log"
  finish_program "$name" "$status"
  touchpad_record "$name"
  check "$name: log" log_is "$name" "/S /vLOGFILE=C:\\runs\\$name\\fw.log" "$line"
  if [[ $status -ne $no_device ]]; then
    check "$name: every feature report reached the touchpad as report 7 of 531 bytes" \
      feature_calls_reached "$name"
  fi
}

echo "--- the virtual touchpad's drivers"
check "the drivers are installed and the bus answers" tool install 'C:\tools\touchpad'
refuses() {  # REASON OPTION...: the bus refuses the machine options, saying why
  local reason=$1 said status=0
  shift
  said=$(tool set-up "$@") || status=$?
  [ "$status" -ne 0 ] && grep -q -- "$reason" <<<"$said"
}
check "the bus refuses an option of the program's own side" \
  refuses "no meaning for a real program" --answer yes
# A reason longer than the tool's room for the answer comes cut, not as a bus that is not there.
long_option=--$(printf 'x%.0s' $(seq 5000))
check "the bus refuses an unknown option, however long" \
  refuses "unknown option ${long_option:0:100}" "$long_option"
set_up_touchpad

echo "--- feature reports of another length or ID, through Wine's own HID stack"
status=0
timeout 60 wine 'C:\tools\touchpad\report_probe.exe' 2>/dev/null | tr -d '\r' \
  >"$out/report_probe.txt" || status=$?
sed 's/^/  /' "$out/report_probe.txt"
check "report probe: every call ended in a way it can tell (status $status)" [ "$status" -eq 0 ]

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
set_up_touchpad
seen=""
start_program silent /S '/vLOGFILE=C:\runs\silent\fw.log'
while kill -0 "${pids[silent]}" 2>/dev/null; do
  seen+=$(xdotool search --onlyvisible --name . 2>/dev/null | head -n1)
  sleep 0.2
done
finish_program silent $updated
touchpad_record silent
check "silent: no window" [ -z "$seen" ]
check "silent: log of a successful update, mup.xml refused" \
  log_is silent '/S /vLOGFILE=C:\runs\silent\fw.log' "Firmware update successful." "$mup_refused"
check "silent: the touchpad runs firmware 17" touchpad_is silent firmware 17
check "silent: the flash holds the image" flash_is_image silent
check "silent: every feature report reached the touchpad as report 7 of 531 bytes" \
  feature_calls_reached silent
check "silent: the transport device was disabled and enabled once" node_is silent 'ACPI\TPD0001\1' \
  'present 1 disabled 0 problem 0 disables 1 enables 1 reenumerations 0 removals 0 uninstalls 0'
check "silent: Wine removed the transport device and started it again" \
  eval 'record_has silent "transport-starts 2" && record_has silent "transport-removals 1"'
check "silent: the touchpad came back under its firmware's product ID" \
  record_has silent "appearances 0x1042 0x1042"
check "silent: the refused mup.xml wrote no inventory value" no_key 'SOFTWARE\FwuE2E\Touchpad'
check "silent: nor a display value" no_key 'SOFTWARE\FwuE2E\Display'

echo "--- interactive update"
set_up_touchpad
arguments='/vLOGFILE=C:\runs\interactive\fw.log'
start_program interactive "$arguments"
answer_update interactive
finish_program interactive $updated
touchpad_record interactive
check "interactive: log of a successful update" \
  log_is interactive "$arguments" "Firmware update successful."
check "interactive: the touchpad runs firmware 17" touchpad_is interactive firmware 17
check "interactive: the flash holds the image" flash_is_image interactive
check "interactive: every feature report reached the touchpad as report 7 of 531 bytes" \
  feature_calls_reached interactive

echo "--- interactive, the default answer"
set_up_touchpad
arguments='/vLOGFILE=C:\runs\declined\fw.log'
start_program declined "$arguments"
seen=$(wait_for_box "$question_2" 60)
check "declined: question 2 is up" grep -qxF "text: $question_2" <<<"$seen"
press Return
seen=$(wait_for_box "Firmware update aborted." 30)
check "declined: Return takes the default, No: got
$seen" grep -qxF "text: Firmware update aborted." <<<"$seen"
press Return
finish_program declined $declined
touchpad_record declined
check "declined: log" log_is declined "$arguments" "Firmware update aborted by the user."
check "declined: the touchpad still runs firmware 16, nothing written" \
  eval 'touchpad_is declined firmware 16 && nothing_written declined'

echo "--- the touchpad found only in its bootloader"
set_up_touchpad --device bootloader
arguments='/vLOGFILE=C:\runs\bootloader\fw.log'
start_program bootloader "$arguments"
seen=$(wait_for_box "$question_1" 60)
check "bootloader: question 1, Yes and No: got
$seen" [ "$seen" == "$(question_box "$question_1")" ]
timeout 30 import -window root "$out/bootloader-question-1.png"
press y
answer_update bootloader
finish_program bootloader $updated
touchpad_record bootloader
check "bootloader: log of a successful update" \
  log_is bootloader "$arguments" "Firmware update successful."
check "bootloader: the touchpad runs firmware 17" touchpad_is bootloader firmware 17
check "bootloader: the flash holds the image" flash_is_image bootloader
check "bootloader: the touchpad came back under its firmware's product ID" \
  record_has bootloader "appearances 0xD0C0 0x1042"
check "bootloader: every feature report reached the touchpad as report 7 of 531 bytes" \
  feature_calls_reached bootloader

echo "--- failure roads"
run_touchpad status_fails $failed_update \
  "ERROR 8: Failed to get the device status. Firmware update failed." --fail status
check "status_fails: nothing was written" \
  eval 'touchpad_is status_fails firmware 16 && nothing_written status_fails'
# A failed update does not even look at mup.xml: its log holds the error line alone, without the
# line that judging the file would add.
mkdir -p "$drive_c/runs/write_fails"
cp "$drive_c/runs/silent/mup.xml" "$drive_c/runs/write_fails/mup.xml"
run_touchpad write_fails $failed_update \
  "ERROR 16: Failed to write data. Firmware update failed." --fail write:3
check "write_fails: the touchpad is left in its bootloader" touchpad_is write_fails bootloader 0
run_touchpad never_valid $failed_update \
  "ERROR 21: Data written with errors. Firmware update failed." --image-never-valid
check "never_valid: the touchpad is left in its bootloader" \
  eval 'touchpad_is never_valid bootloader 0 && record_has never_valid "image-valid 0"'
run_touchpad no_touchpad $no_device \
  "ERROR: No eligible devices have been found. The firmware has not been updated." --device none
check "no_touchpad: the bus had no transport device to show" record_has no_touchpad "appearances"
run_touchpad same_version $same_version \
  "The device already has the target firmware version. Firmware update aborted." --version 17
check "same_version: nothing written" nothing_written same_version

echo "--- a restart that nothing repairs"
run_touchpad nothing_repairs $restart_hint \
  "Firmware update successful. The computer may need to be restarted." --restart fail
check "nothing_repairs: the flash holds the image all the same" flash_is_image nothing_repairs
# The restart, then the stale device removal twice: the transport device is an ACPI HID-class
# device of service hidi2c that Wine lists, and it stays in its problem state.
check "nothing_repairs: the transport device was restarted three times and kept its problem" \
  node_is nothing_repairs 'ACPI\TPD0001\1' \
  'present 1 disabled 0 problem 1 disables 3 enables 3 reenumerations 0 removals 0 uninstalls 0'

echo "--- two runs at once, one touchpad"
# Started together, as a deployment tool that retries or a second double click would: the
# machine-wide run mutex lets one update while the other waits, and the one that waited finds the
# touchpad at the target version. Interleaved, their bootloader commands would spoil each other's.
set_up_touchpad
for twin in twin_a twin_b; do start_program $twin /S "/vLOGFILE=C:\\runs\\$twin\\fw.log"; done
for twin in twin_a twin_b; do finish_program $twin any; done
touchpad_record twin_a
updater=twin_a waiter=twin_b
[[ ${statuses[twin_b]} -eq $updated ]] && updater=twin_b waiter=twin_a
check "twins: one updated, the other found the target version (got ${statuses[twin_a]} and \
${statuses[twin_b]})" [ "${statuses[$updater]} ${statuses[$waiter]}" == "$updated $same_version" ]
check "twins: log of the one that updated" \
  log_is $updater "/S /vLOGFILE=C:\\runs\\$updater\\fw.log" "Firmware update successful."
check "twins: log of the one that waited" \
  log_is $waiter "/S /vLOGFILE=C:\\runs\\$waiter\\fw.log" \
  "The device already has the target firmware version. Firmware update aborted."
stamp() {  # NAME WORD: the time of the run's one "Executed" or "Completed" stamp, in seconds
  local text
  text=$(tr -d '\r' <"$drive_c/runs/$1/fw.log" | sed -n "s/^$2 //p" | tr / -)
  # date takes an empty text for today's midnight: a missing stamp must fail instead.
  [[ -n $text ]] && date -u -d "$text" +%s
}
began_after() {  # WAITER UPDATER: the waiter's run began when the updater's had completed
  local began completed
  began=$(stamp "$1" Executed) && completed=$(stamp "$2" Completed) && [ "$began" -ge "$completed" ]
}
check "twins: the one that waited began its run only when the other had completed" \
  began_after $waiter $updater
check "twins: the touchpad runs firmware 17 from the image" \
  eval 'touchpad_is twin_a firmware 17 && flash_is_image twin_a'
check "twins: its transport device was restarted once, by the one that updated" \
  eval 'record_has twin_a "transport-starts 2" && record_has twin_a "transport-removals 1"'
check "twins: every feature report of both reached the touchpad as report 7 of 531 bytes" \
  feature_calls_reached twin_a twin_b

timeout 60 wineserver -k

# ==== Layer 2: stand-ins of all four DLLs, on the simulated machine ==============================

echo "--- the stand-ins' prefix"
use_prefix "$out/standins-prefix" "$standins"/{e2e_world,hid,setupapi,cfgmgr32,newdev}.dll
cp "$probes/standin_probe.exe" "$drive_c/tools/"
program_dlls="mscoree,mshtml=;hid,setupapi,cfgmgr32,newdev=n"
load_rules=(--native setupapi.dll,e2e_world.dll
  --stand-ins hid.dll,setupapi.dll,cfgmgr32.dll,newdev.dll,e2e_world.dll)

# start_world NAME MACHINE: starts a silent run with a log on the simulated machine that MACHINE
# describes. finish_world NAME STATUS LOG-LINE: its status, its one log line, no complaint of a
# stand-in, and a record of the world with nothing left open. Each run has a world of its own;
# several may be under way at once (the program's run mutex lets them work one at a time).
start_world() {
  local name=$1 machine=$2
  rm -rf "$drive_c/e2e/$name"
  run_environment=(FWU_E2E_DIR="C:\\e2e\\$name" FWU_E2E_MACHINE="$machine")
  start_program "$name" /S "/vLOGFILE=C:\\runs\\$name\\fw.log"
  run_environment=()
}

finish_world() {
  local name=$1 status=$2 line=$3
  finish_program "$name" "$status"
  check "$name: log" log_is "$name" "/S /vLOGFILE=C:\\runs\\$name\\fw.log" "$line"
  local complaint
  complaint=$(grep -a '^fwu-e2e:' "$out/$name.stderr")
  check "$name: no stand-in check failed ($complaint)" [ -z "$complaint" ]
  check "$name: the world's record was written" [ -s "$drive_c/e2e/$name/record.txt" ]
  for resource in handles preparsed-data interface-lists device-lists; do
    check "$name: the program left no $resource open" record_has "$name" "open-$resource 0"
  done
}

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

echo "--- the update among the simulated machine's decoys, every failure road, the stale device removal"
# Every road, for what only the stand-ins see: that the program leaves nothing open on it.
# (The names differ from the first layer's: they name each run's files in $out.)
start_world world_update ""
start_world stale_repairs '--restart fail --stale ok'
start_world world_status '--fail status'
start_world world_write '--fail write:3'
start_world world_never_valid --image-never-valid
start_world world_no_device '--device none'
start_world world_same_version '--version 17'
start_world world_no_repair '--restart fail'
finish_world world_update $updated "Firmware update successful."
check "world_update: the touchpad runs firmware 17" touchpad_is world_update firmware 17
check "world_update: the flash holds the image" flash_is_image world_update
finish_world stale_repairs $updated "Firmware update successful."
check "stale_repairs: the touchpad runs firmware 17" touchpad_is stale_repairs firmware 17
check "stale_repairs: the transport device was restarted and stayed in a problem state" \
  node_is stale_repairs 'ACPI\TPD0001\1' \
  'present 1 disabled 0 problem 1 disables 2 enables 2 reenumerations 0 removals 0 uninstalls 0'
check "stale_repairs: the stale device was restarted and repaired" \
  node_is stale_repairs 'ACPI\SNS0001\1' \
  'present 1 disabled 0 problem 0 disables 1 enables 1 reenumerations 0 removals 0 uninstalls 0'
finish_world world_status $failed_update \
  "ERROR 8: Failed to get the device status. Firmware update failed."
check "world_status: nothing was written" \
  eval 'touchpad_is world_status firmware 16 && nothing_written world_status'
finish_world world_write $failed_update "ERROR 16: Failed to write data. Firmware update failed."
check "world_write: the touchpad is left in its bootloader" touchpad_is world_write bootloader 0
finish_world world_never_valid $failed_update \
  "ERROR 21: Data written with errors. Firmware update failed."
check "world_never_valid: the touchpad is left in its bootloader" \
  eval 'touchpad_is world_never_valid bootloader 0 && record_has world_never_valid "image-valid 0"'
finish_world world_no_device $no_device \
  "ERROR: No eligible devices have been found. The firmware has not been updated."
finish_world world_same_version $same_version \
  "The device already has the target firmware version. Firmware update aborted."
check "world_same_version: nothing written" nothing_written world_same_version
finish_world world_no_repair $restart_hint \
  "Firmware update successful. The computer may need to be restarted."
check "world_no_repair: the flash holds the image all the same" flash_is_image world_no_repair

timeout 60 wineserver -k
report wine-e2e
