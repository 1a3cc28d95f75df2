#!/usr/bin/env bash
# Checks the Windows program without running it: a PE32+ executable for the graphical subsystem
# whose import table names only DLLs that Windows always loads from its own directory (no MinGW
# runtime DLL, nothing that a planted DLL in the program's folder could stand in for), and whose
# resources hold the firmware image, the manifest, the version information and the icon; and that
# it is the program as shipped: stripped, its symbols apart, signed by the certificate in
# SIGNER.pem (by default the one the build signed with, written beside the executable).
set -uo pipefail
exe=${1:?usage: check-windows-exe.sh fwupdate.exe [SIGNER.pem]}
signer=${2:-${exe%.exe}.signer.pem}
root="$(cd "$(dirname "$0")/.." && pwd)"
# Known DLLs: Windows maps these from its own directory whatever folder the program runs from.
# Every other DLL is loaded at run time by platform/win32/system_dlls.cpp.
allowed=" kernel32.dll user32.dll advapi32.dll setupapi.dll msvcrt.dll "
source "$(dirname "$0")/lib/checks.sh"

headers=$(x86_64-w64-mingw32-objdump -p "$exe") || { echo "FAILED: cannot read $exe"; exit 1; }
check "PE32+ image" grep -q $'Magic\t\t\t020b' <<<"$headers"
check "graphical subsystem" grep -q $'Subsystem\t\t00000002' <<<"$headers"
imports=$(grep 'DLL Name:' <<<"$headers" | awk '{print tolower($3)}' | sort -u)
echo "imports:" $imports
for dll in $imports; do
  check "import $dll is one Windows always takes from its own directory" \
    grep -q " $dll " <<<"$allowed"
done

# MinGW's setupapi import library also carries the CM_ functions: linked by mistake, they would
# reach the configuration manager past the loader in system_dlls.cpp.
setupapi_functions=$(awk '/DLL Name:/ {dll = tolower($3); next}
                          dll == "setupapi.dll" && NF == 3 && $1 ~ /^[0-9a-f]+$/ {print $3}' \
                         <<<"$headers")
echo "setupapi functions:" $setupapi_functions
for function in $setupapi_functions; do
  check "setupapi.dll import $function is a SetupDi function" [ "${function#SetupDi}" != "$function" ]
done

resource() {  # type, name: the raw bytes of one resource
  wrestool -x --raw --type="$1" --name="$2" "$exe"
}
manifest=$(resource 24 1)
check "manifest asks for administrator rights" \
  grep -q 'requestedExecutionLevel level="requireAdministrator"' <<<"$manifest"
check "manifest asks for Common Controls 6" \
  grep -q 'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"' <<<"$manifest"
check "manifest declares per-monitor DPI awareness" grep -q '>PerMonitorV2' <<<"$manifest"
check "manifest names Windows 10 and 11" \
  grep -q 'supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"' <<<"$manifest"

version_value() {  # key, value: the version resource holds this string pair
  resource 16 1 | python3 -c '
import re, sys
key, value = (s.encode("utf-16-le") for s in sys.argv[1:3])
data = sys.stdin.buffer.read()
# A string entry is its key, a zero, padding to four bytes, then its value and a zero.
sys.exit(0 if re.search(re.escape(key) + b"\0\0(\0\0)?" + re.escape(value) + b"\0\0", data) else 1)
' "$1" "$2"
}
check "version resource: product name" version_value ProductName "Talvex FW Update"
check "version resource: firmware version" version_value FirmwareVersion 17
check "version resource: file version" version_value FileVersion 1.0.0.0
check "icon resource" eval 'wrestool -l --type=14 "$exe" | grep -q "type=group_icon"'
check "RCDATA 104 equals resources/firmware.hex" \
  cmp -s <(resource 10 104) "$root/resources/firmware.hex"

# ---- Hardening (cmake/hardening.cmake) ----------------------------------------------------------
# The PE flags, from the optional header's DllCharacteristics: the image may be placed anywhere
# in the 64-bit address space and its data is never run.
characteristics=$(awk '/^DllCharacteristics/ {print $2}' <<<"$headers")
echo "DllCharacteristics: 0x$characteristics"
pe_flag() {  # BIT: the flag is set
  [[ -n $characteristics ]] && (( 16#$characteristics & $1 ))
}
check "PE flag dynamic base (0x0040)" pe_flag 0x0040
check "PE flag high-entropy VA (0x0020)" pe_flag 0x0020
check "PE flag NX compatible (0x0100)" pe_flag 0x0100
# The stack protector's runtime is in the image (libssp, linked statically): its failure message
# survives stripping. The shipped code's calls to it are found at the address that the symbols
# file gives it: functions that check their canary before they return.
check "stack protector runtime linked in" grep -qaF '*** stack smashing detected ***' "$exe"
stack_chk_fail=$(x86_64-w64-mingw32-nm "${exe%.exe}.debug" 2>/dev/null |
                   awk '$3 == "__stack_chk_fail" {sub(/^0+/, "", $1); print $1}')
canaries=0
if [[ -n $stack_chk_fail ]]; then
  canaries=$(x86_64-w64-mingw32-objdump -d --no-show-raw-insn "$exe" |
               grep -Ec "call +(0x)?$stack_chk_fail\b")
fi
echo "functions that check a stack canary: $canaries (__stack_chk_fail at 0x$stack_chk_fail)"
check "functions check their stack canary" [ "$canaries" -gt 0 ]

# ---- As shipped --------------------------------------------------------------------------------
source "$(dirname "$0")/lib/shipped_exe.sh"
check_shipped_exe "$exe" "$signer"

report windows-exe
