# The checks of the program as it ships, for scripts/check-windows-exe.sh (requires checks.sh):
# stripped, its symbols in the file that its debug link names, no link time in it, and an intact
# Authenticode signature (SHA-256) from the expected certificate.

# The trust anchors of a signature check: the certificates of SIGNER.pem (the signing certificate
# first, which is its own root when self-signed, then the issuers its PKCS#12 file carried) and the
# system's roots. The signature must come from the first certificate itself.
system_roots=/etc/ssl/certs/ca-certificates.crt

# A debugger given the shipped program alone finds the program's entry and its source line: the
# symbols file is found by the debug link, matches it, and holds our debug information.
symbols_found() {  # EXE
  gdb -nx -batch -ex 'info line WinMain' "$1" 2>&1 |
    grep '^Line [0-9]* of "\./platform/win32/entry/winmain\.cpp"' >/dev/null
}

# check_shipped_exe EXE SIGNER.pem
check_shipped_exe() {
  local exe=$1 signer=$2 lib
  lib=$(dirname "${BASH_SOURCE[0]}")
  local symbols=${exe%.exe}.debug

  check "stripped: no .debug_* section, no symbol table" python3 "$lib/pe.py" stripped "$exe"
  check "debug link names $(basename "$symbols") beside it, with its CRC" \
    python3 "$lib/pe.py" debuglink "$exe" "$symbols"
  check "gdb reads the program's symbols and lines from $(basename "$symbols")" symbols_found "$exe"
  check "no link time in the PE header" python3 "$lib/pe.py" no-timestamp "$exe"
  echo "size: $(stat -c %s "$exe") bytes, symbols $(stat -c %s "$symbols" 2>/dev/null) bytes"

  local fingerprint anchors verified status
  fingerprint=$(openssl x509 -in "$signer" -noout -fingerprint -sha256 | sed 's/.*=//; s/://g')
  echo "signer: $(openssl x509 -in "$signer" -noout -subject -nameopt oneline)"
  echo "signer SHA-256 fingerprint: $fingerprint"
  anchors=$(mktemp)
  cat "$signer" >"$anchors"
  [[ -r $system_roots ]] && cat "$system_roots" >>"$anchors"
  # -require-leaf-hash: a sound signature by any other certificate is refused. No revocation list
  # is fetched, so that the check needs no network: osslsigncode from 2.9 on fetches them unless
  # told not to (-ignore-crl), older ones never do.
  local offline=()
  osslsigncode verify --help 2>&1 | grep -- -ignore-crl >/dev/null && offline=(-ignore-crl)
  verified=$(osslsigncode verify -in "$exe" -CAfile "$anchors" "${offline[@]}" \
               -require-leaf-hash "sha256:$fingerprint" 2>&1)
  status=$?
  rm -f "$anchors"
  check "signed file: Authenticode signature verifies, by the certificate in $(basename "$signer")" \
    eval '[[ $status -eq 0 && -n $fingerprint ]] && grep -q "^Signature verification: ok" <<<"$verified"'
  [[ $status -eq 0 ]] || grep -E 'MISMATCH|[Ff]ail|[Ee]rror' <<<"$verified" | head -n 5
  check "signed file: the signature's digest is SHA-256" \
    grep -q '^Message digest algorithm *: SHA256' <<<"$verified"
  # The signature leaves out the PE checksum and its own table; the checksum covers every byte.
  check "signed file: PE checksum matches its bytes" python3 "$lib/pe.py" checksum "$exe"
}
