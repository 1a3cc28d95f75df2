# Counted checks for the test scripts: `check DESCRIPTION COMMAND...` runs the command and counts
# it as passed or failed; `report NAME` prints "NAME: N passed, N failed" and fails when any did.
passed=0
failed=0

check() {
  local what=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAILED: $what"
  fi
}

report() {
  echo "$1: $passed passed, $failed failed"
  [[ $failed -eq 0 ]]
}
