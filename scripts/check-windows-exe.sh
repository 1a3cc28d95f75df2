#!/usr/bin/env bash
# Checks the Windows program without running it: a PE32+ executable for the graphical subsystem
# whose import table names only DLLs that Windows always loads from its own directory (no MinGW
# runtime DLL, nothing that a planted DLL in the program's folder could stand in for) and no
# CryptoAPI function, whose resources hold the firmware image, the manifest, the version
# information and the icon, whose entry point seeds the stack canary itself, and whose code sets
# the image load policy with the flags it means; and that it is the program as shipped: stripped,
# its symbols apart, signed by the certificate in SIGNER.pem (by default the one the build signed
# with, written beside the executable).
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

# Nothing in the program seeds, hashes or encrypts through CryptoAPI or CNG: their first call loads
# a cryptographic provider, and the stack protector's runtime that did so ran before WinMain had
# limited where DLLs come from.
imported_functions=$(awk '/DLL Name:/ {dll = tolower($3); next}
                          dll != "" && NF == 3 && $1 ~ /^[0-9a-f]+$/ {print $3}' <<<"$headers")
echo "imported functions: $(wc -w <<<"$imported_functions")"
crypto_functions=$(grep -E '^(Crypt|BCrypt|NCrypt|SystemFunction036$|ProcessPrng$)' \
                     <<<"$imported_functions" | tr '\n' ' ')
check "no CryptoAPI or CNG function imported (found: ${crypto_functions:-none})" \
  [ -z "$crypto_functions" ]

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
# The stack protector's runtime is the program's own (platform/win32/entry/stack_guard.cpp); the
# symbols file gives its addresses in the stripped image. Addresses here: hexadecimal, 16 digits.
symbols=$(x86_64-w64-mingw32-nm -n "${exe%.exe}.debug" 2>/dev/null)
address_of() {  # SYMBOL
  awk -v name="$1" '$3 == name {print $1; exit}' <<<"$symbols"
}
disassemble() {  # FROM TO: the stripped image's code between two addresses, one instruction a line
  x86_64-w64-mingw32-objdump -d --no-show-raw-insn --start-address="0x$1" --stop-address="0x$2" \
    "$exe" | grep -E '^ +[0-9a-f]+:'
}
short() {  # ADDRESS: as objdump writes it in code, without leading zeros
  sed 's/^0*//' <<<"$1"
}
stack_chk_fail=$(address_of __stack_chk_fail)
guard=$(address_of __stack_chk_guard)
crt_start=$(address_of WinMainCRTStartup)
entry=$(x86_64-w64-mingw32-objdump -f "$exe" | sed -n 's/^start address 0x//p')
# (Compared as strings: the addresses have the same width, and some look like decimal numbers.)
entry_name=$(awk -v at="$entry" '$1 "" == at "" && $2 == "T" {print $3; exit}' <<<"$symbols")
# The function the loader starts the image in: from the entry point to the next code symbol.
entry_end=$(awk -v at="$entry" '$1 "" > at "" && $2 ~ /^[Tt]$/ {print $1; exit}' <<<"$symbols")
echo "entry point: 0x$entry ($entry_name), canary at 0x$guard, C runtime's entry at 0x$crt_start"
check "the image starts at the canary's seeding (fwu_start_windowed), not in the C runtime" \
  [ "$entry_name" == fwu_start_windowed ]
entry_code=""
[[ -n $entry && -n $entry_end ]] && entry_code=$(disassemble "$entry" "$entry_end")
# Where the entry function writes the canary and where it hands over to the C runtime, as line
# numbers: seeded first, nothing compiled with the stack protector can have been entered before.
seeded_at=$(grep -nE "mov +%r[a-z0-9]+,.*# 0x$(short "$guard")\$" <<<"$entry_code" | cut -d: -f1)
handed_at=$(grep -nE "(jmp|call) +0x$(short "$crt_start")\$" <<<"$entry_code" | cut -d: -f1)
check "the entry point writes the canary once (line ${seeded_at:-none}), then hands over to \
WinMainCRTStartup (line ${handed_at:-none})" \
  eval '[[ $seeded_at =~ ^[0-9]+$ && $handed_at =~ ^[0-9]+$ && $seeded_at -lt $handed_at ]]'
check "the entry point checks no canary of its own" \
  eval '[[ -n $entry_code && -n $stack_chk_fail ]] &&
        ! grep -qE "call +0x$(short "$stack_chk_fail")\$" <<<"$entry_code"'
# A failed check ends the process at once with a fast fail (int 0x29), nothing unwound; libssp's
# runtime, which writes a message and seeds through CryptoAPI, is not in the image.
check "__stack_chk_fail ends the process with a fast fail" \
  eval '[[ -n $stack_chk_fail ]] &&
        disassemble "$stack_chk_fail" "$(printf %016x $((16#$stack_chk_fail + 16)))" |
          grep -qE "int +\\\$0x29"'
check "libssp's runtime is not in the image" \
  eval '! grep -qaF "*** stack smashing detected ***" "$exe" &&
        ! grep -q " __stack_chk_fail_local$" <<<"$symbols"'
# The shipped code's calls to the failure: functions that check their canary before they return.
canaries=0
if [[ -n $stack_chk_fail ]]; then
  canaries=$(x86_64-w64-mingw32-objdump -d --no-show-raw-insn "$exe" |
               grep -Ec "call +0x$(short "$stack_chk_fail")\$")
fi
echo "functions that check a stack canary: $canaries (__stack_chk_fail at 0x$stack_chk_fail)"
check "functions check their stack canary" [ "$canaries" -gt 0 ]

# ---- Image load policy (platform/win32/system_dlls.cpp) -------------------------------------------
# Beside the limited DLL search the process sets its image load policy: no image from a remote
# location or with a low mandatory label, System32's copy first. The flags are behind a pointer,
# so no trace of a run shows them: they are read here from the code before each call of the
# import, as the arguments it passes (policy in ecx, size in r8d, the flags stored where rdx
# points).
set_policy=$(address_of __imp_SetProcessMitigationPolicy)
policy_calls=""
if [[ -n $set_policy ]]; then
  policy_calls=$(x86_64-w64-mingw32-objdump -d --no-show-raw-insn "$exe" | python3 -c '
import re, sys
target = sys.argv[1]
window = []
for line in sys.stdin:
    code = line.split(":", 1)[1].strip() if re.match(r"^ +[0-9a-f]+:", line) else None
    if code is None:
        continue
    if re.match(r"call +\*0x[0-9a-f]+\(%rip\) +# 0x" + target + r"$", code):
        found = {}
        for before in window:
            if m := re.match(r"mov +\$0x([0-9a-f]+),%ecx$", before):
                found["policy"] = m.group(1)
            if m := re.match(r"mov +\$0x([0-9a-f]+),%r8d?$", before):
                found["size"] = m.group(1)
            if m := re.match(r"lea +(0x[0-9a-f]+)\(%rsp\),%rdx$", before):
                found["at"] = m.group(1)
        for before in window:
            if m := re.match(r"movl +\$0x([0-9a-f]+),(0x[0-9a-f]+)\(%rsp\)$", before):
                if m.group(2) == found.get("at"):
                    found["flags"] = m.group(1)
        print("policy 0x%s size 0x%s flags 0x%s" % tuple(found.get(k, "?") for k in
                                                         ("policy", "size", "flags")))
    window = (window + [code])[-10:]
' "$(short "$set_policy")")
fi
echo "SetProcessMitigationPolicy calls (__imp_ at 0x$set_policy):"
sed 's/^/  /' <<<"${policy_calls:-  none}"
kernel32_functions=$(awk '/DLL Name:/ {dll = tolower($3); next}
                          dll == "kernel32.dll" && NF == 3 && $1 ~ /^[0-9a-f]+$/ {print $3}' \
                         <<<"$headers")
check "kernel32.dll import SetProcessMitigationPolicy" \
  grep -qx SetProcessMitigationPolicy <<<"$kernel32_functions"
check "the image load policy is set: ProcessImageLoadPolicy (0xa), 4 bytes, flags 0x7 \
(NoRemoteImages, NoLowMandatoryLabelImages, PreferSystem32Images)" \
  grep -qx "policy 0xa size 0x4 flags 0x7" <<<"$policy_calls"

# ---- As shipped --------------------------------------------------------------------------------
source "$(dirname "$0")/lib/shipped_exe.sh"
check_shipped_exe "$exe" "$signer"

report windows-exe
