#!/usr/bin/env bash
# Checks the Windows program: a PE32+ executable for the graphical subsystem whose import table
# names only DLLs that Windows always loads from its own directory (no MinGW runtime DLL, nothing
# that a planted DLL in the program's folder could stand in for).
set -uo pipefail
exe=${1:?usage: check-windows-exe.sh fwupdate.exe}
allowed=" kernel32.dll user32.dll advapi32.dll setupapi.dll msvcrt.dll "
passed=0
failed=0
check() {  # description, then the command that must succeed
  local what=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAILED: $what"
  fi
}

headers=$(x86_64-w64-mingw32-objdump -p "$exe") || { echo "FAILED: cannot read $exe"; exit 1; }
check "PE32+ image" grep -q $'Magic\t\t\t020b' <<<"$headers"
check "graphical subsystem" grep -q $'Subsystem\t\t00000002' <<<"$headers"
imports=$(grep 'DLL Name:' <<<"$headers" | awk '{print tolower($3)}' | sort -u)
echo "imports:" $imports
for dll in $imports; do
  check "import $dll is one Windows always takes from its own directory" \
    grep -q " $dll " <<<"$allowed"
done
echo "windows-exe: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
