#!/usr/bin/env bash
# Signs the Windows program: an Authenticode signature with SHA-256, made with osslsigncode.
# Usage: scripts/sign-exe.sh UNSIGNED.exe SIGNED.exe SIGNER.pem TEST-CERTIFICATE-FOLDER
#   FWU_SIGN_PKCS12         the maintainer's certificate and key (a PKCS#12 file)
#   FWU_SIGN_PASSWORD       its password (set it, empty when the file has none); it leaves the
#                           environment once read, so neither openssl nor osslsigncode has it there
#   FWU_SIGN_PASSWORD_FILE  instead of FWU_SIGN_PASSWORD: a file holding the password. A pipe
#                           (/dev/fd/N from bash's <(...), as scripts/release.sh passes it) keeps
#                           the password off the disk and out of every environment
#   FWU_SIGN_TIMESTAMP_URL  an RFC 3161 time-stamping service to countersign the signature, so
#                           that it outlives the certificate; needs the network, so unset (off)
#                           unless asked for
# Without FWU_SIGN_PKCS12 the program is signed with a throwaway test certificate, made once in
# TEST-CERTIFICATE-FOLDER, so that every build and test run goes through this same step.
# SIGNER.pem receives the certificate that signed, and the issuers that its file carries, for
# scripts/check-windows-exe.sh.
set -euo pipefail
usage="usage: sign-exe.sh UNSIGNED.exe SIGNED.exe SIGNER.pem TEST-CERTIFICATE-FOLDER"
in=${1:?$usage} out=${2:?$usage} signer=${3:?$usage} test_folder=${4:?$usage}

# The test certificate says what it is in its own subject, where every tool shows it.
test_subject="/O=Talvex FW Update/CN=Talvex FW Update TEST CERTIFICATE - not for release"
test_pkcs12=$test_folder/TEST-ONLY-signing.p12
test_password=test-only

# Made whole or not at all: a run cut short must not leave a file that every later build takes.
make_test_certificate() {
  [[ -s $test_pkcs12 ]] && return
  mkdir -p "$test_folder"
  local key=$test_folder/TEST-ONLY-signing.key cert=$test_folder/TEST-ONLY-signing.pem
  local made=0
  (umask 077 && openssl req -x509 -newkey rsa:3072 -nodes -sha256 -days 3650 \
     -subj "$test_subject" -addext "keyUsage=critical,digitalSignature" \
     -addext "extendedKeyUsage=codeSigning" -keyout "$key" -out "$cert" 2>/dev/null &&
     openssl pkcs12 -export -inkey "$key" -in "$cert" -out "$test_pkcs12.partial" \
       -passout "pass:$test_password") || made=$?
  rm -f "$key"
  [[ $made -eq 0 ]] || { rm -f "$test_pkcs12.partial"; echo "FAILED: the test certificate" >&2; exit 1; }
  mv "$test_pkcs12.partial" "$test_pkcs12"
}

if [[ -n ${FWU_SIGN_PKCS12-} ]]; then
  pkcs12=$FWU_SIGN_PKCS12
  if [[ -n ${FWU_SIGN_PASSWORD_FILE-} ]]; then
    # (A trailing line end is not part of the password.)
    password=$(<"$FWU_SIGN_PASSWORD_FILE")
  else
    password=${FWU_SIGN_PASSWORD?FWU_SIGN_PKCS12 is set: set FWU_SIGN_PASSWORD too (empty for none)}
  fi
else
  make_test_certificate
  pkcs12=$test_pkcs12 password=$test_password
fi

# Read: no program started from here on finds the password in its environment.
unset FWU_SIGN_PASSWORD FWU_SIGN_PASSWORD_FILE

# The password goes in on standard input, never on a command line that `ps` shows. Files from
# older tools use ciphers that OpenSSL 3 reads only with -legacy.
certificates() {  # -clcerts (the certificate of the key) or -cacerts (its issuers): PEM blocks
  { printf '%s\n' "$password" | openssl pkcs12 -in "$pkcs12" "$1" -nokeys -passin stdin 2>/dev/null ||
      printf '%s\n' "$password" | openssl pkcs12 -legacy -in "$pkcs12" "$1" -nokeys -passin stdin
  } | sed -n '/-----BEGIN CERTIFICATE-----/,/-----END CERTIFICATE-----/p'
}
# The signing certificate first, then the issuers the file carries: the check pins the first and
# takes the others as trust anchors besides the system's. It takes its place beside the signed
# program only once that is whole; a failure leaves neither, nor the ones of an earlier signing.
rm -f "$signer" "$out"
if ! certificates -clcerts | openssl x509 >"$signer.partial" ||
  ! certificates -cacerts >>"$signer.partial"; then
  rm -f "$signer.partial"
  echo "FAILED: reading the certificate of $pkcs12" >&2
  exit 1
fi

options=(-pkcs12 "$pkcs12" -h sha256 -n "Talvex FW Update")
# (osslsigncode refuses an empty password file: a file without a password needs no option.)
[[ -n $password ]] && options+=(-readpass /dev/fd/3)
[[ -n ${FWU_SIGN_TIMESTAMP_URL-} ]] && options+=(-ts "$FWU_SIGN_TIMESTAMP_URL")
# Signed into a new file that takes its place only when whole: a failed signing leaves no
# executable that looks finished.
if ! log=$(osslsigncode sign "${options[@]}" -in "$in" -out "$out.partial" 2>&1 \
             3< <(printf '%s' "$password")); then
  echo "$log"
  rm -f "$out.partial" "$signer.partial"
  echo "FAILED: signing $in" >&2
  exit 1
fi
chmod 755 "$out.partial"
mv "$out.partial" "$out"
mv "$signer.partial" "$signer"
echo "Signed $out: $(openssl x509 -in "$signer" -noout -subject)"
