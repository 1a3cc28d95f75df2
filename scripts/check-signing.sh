#!/usr/bin/env bash
# Shows that the executable check refuses what must not ship, and by its signature checks alone:
# the stripped image unsigned, a byte flipped in the signed file (in the code, the header's
# checksum, the signature, the last byte) and a sound signature by another certificate. Signing
# with a maintainer's PKCS#12 file through FWU_SIGN_PKCS12 and FWU_SIGN_PASSWORD gives a file the
# check accepts against that certificate; a wrong password, or a time-stamping service that cannot
# be reached, fails the signing and leaves no executable. Neither openssl nor osslsigncode finds the
# password in its environment. scripts/release.sh refuses to release without a certificate unless
# --test-signed asks for one signed with the test certificate, which goes to dist-TEST-SIGNED/.
# Usage: scripts/check-signing.sh [fwupdate.exe]   (the signed program, as the build leaves it)
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
exe=$(realpath "${1:-$root/build/windows/platform/win32/fwupdate.exe}")
base=${exe%.exe}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
source "$root/scripts/lib/checks.sh"

# copy NAME: a folder of its own with the build's symbols and signer certificate, where the check
# finds them beside the executable; prints the executable's path there.
copy() {
  mkdir "$scratch/$1"
  cp "$base.debug" "$scratch/$1/fwupdate.debug"
  cp "$base.signer.pem" "$scratch/$1/fwupdate.signer.pem"
  echo "$scratch/$1/fwupdate.exe"
}

# refused EXE [SIGNER.pem]: the executable check fails, every failure one of its signed-file
# checks.
refused() {
  local output
  output=$("$root/scripts/check-windows-exe.sh" "$@" 2>&1) && return 1
  grep '^FAILED: signed file:' >/dev/null <<<"$output" &&
    ! grep '^FAILED:' <<<"$output" | grep -v '^FAILED: signed file:'
}

accepted() {  # EXE [SIGNER.pem]
  "$root/scripts/check-windows-exe.sh" "$@" >/dev/null 2>&1
}

# flip EXE WHERE: flips the lowest bit of one byte: in the middle of the code, in the header's
# checksum, in the middle of the signature, or the file's last byte.
flip() {
  PYTHONPATH="$root/scripts/lib" python3 -c '
import sys, pe
path, where = sys.argv[1:]
image = pe.load(path)
offset, size = image.security_directory()
text = image.section(b".text")
at = {"code": image.data.index(text) + len(text) // 2, "checksum": image.checksum_at,
      "signature": offset + size // 2, "last-byte": len(image.data) - 1}[where]
data = bytearray(image.data)
data[at] ^= 1
open(path, "wb").write(data)
' "$1" "$2"
}

echo "--- the check refuses"
unsigned=$(copy unsigned)
cp "$base.unsigned.exe" "$unsigned"
check "the stripped image, unsigned" refused "$unsigned"
for where in code checksum signature last-byte; do
  flipped=$(copy "$where")
  cp "$exe" "$flipped"
  flip "$flipped" "$where"
  check "the signed file with a byte flipped: $where" refused "$flipped"
done

echo "--- a maintainer's certificate"
# A CA of our own issues two code-signing certificates, each in a PKCS#12 file with the CA beside
# it, as a CA delivers them: the maintainer's, and a stranger's whose signature chains to the same
# CA and must still be refused. The password is one that a command line would mangle.
pki=$scratch/pki
mkdir "$pki"
password="a pass phrase with 'quotes', \"double\" and \$dollars"
issue() {  # NAME: NAME.p12, a certificate from the CA and its key
  openssl req -new -newkey rsa:2048 -nodes -subj "/CN=$1 (TEST)" -keyout "$pki/$1.key" \
    -out "$pki/$1.csr" 2>/dev/null &&
    openssl x509 -req -in "$pki/$1.csr" -CA "$pki/ca.pem" -CAkey "$pki/ca.key" -days 2 \
      -extfile <(echo "extendedKeyUsage=codeSigning") -out "$pki/$1.pem" 2>/dev/null &&
    openssl pkcs12 -export -inkey "$pki/$1.key" -in "$pki/$1.pem" -certfile "$pki/ca.pem" \
      -out "$pki/$1.p12" -passout fd:3 3<<<"$password"
}
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Signing CA (TEST)" \
  -keyout "$pki/ca.key" -out "$pki/ca.pem" 2>/dev/null && issue maintainer && issue stranger ||
  exit 1

sign() {  # NAME OUT [VARIABLE=VALUE...]: the stripped image signed with NAME.p12 into OUT
  local name=$1 out=$2
  shift 2
  env FWU_SIGN_PKCS12="$pki/$name.p12" FWU_SIGN_PASSWORD="$password" "$@" \
    "$root/scripts/sign-exe.sh" "$base.unsigned.exe" "$out" "$pki/$name.signer.pem" \
    "$pki/no-test-certificate" >"$pki/sign.log" 2>&1
}
signed=$(copy maintainer)
check "signing with FWU_SIGN_PKCS12 and FWU_SIGN_PASSWORD" sign maintainer "$signed"
check "the check accepts it against that certificate" accepted "$signed" "$pki/maintainer.signer.pem"
check "the check refuses it against the build's certificate" refused "$signed" "$base.signer.pem"
check "no test certificate made when the maintainer's is given" test ! -e "$pki/no-test-certificate"
stranger=$(copy stranger)
check "signing with the stranger's certificate" sign stranger "$stranger"
check "the check refuses the stranger's signature against the maintainer's certificate" \
  refused "$stranger" "$pki/maintainer.signer.pem"

openssl pkcs12 -export -inkey "$pki/maintainer.key" -in "$pki/maintainer.pem" \
  -certfile "$pki/ca.pem" -out "$pki/no-password.p12" -passout pass: || exit 1
rm -f "$signed"
check "signing with a PKCS#12 file without a password (FWU_SIGN_PASSWORD empty)" \
  eval 'sign no-password "$signed" FWU_SIGN_PASSWORD= &&
        accepted "$signed" "$pki/no-password.signer.pem"'

# The password leaves the environment once sign-exe.sh has read it: openssl and osslsigncode,
# seen through stand-ins of the same names ahead on the PATH, find it there neither when it comes
# in FWU_SIGN_PASSWORD nor when it comes on a pipe (FWU_SIGN_PASSWORD_FILE, as release.sh gives it).
spies=$scratch/spies
mkdir "$spies"
for tool in openssl osslsigncode; do
  cat >"$spies/$tool" <<EOF
#!/bin/sh
env | grep -c '^FWU_SIGN_PASSWORD=' >>"$spies/$tool.seen"
exec $(command -v $tool) "\$@"
EOF
  chmod +x "$spies/$tool"
done
not_seen() {  # TOOL: the stand-in ran, and never with the password in its environment
  [[ -s $spies/$1.seen ]] && ! grep -qv '^0$' "$spies/$1.seen"
}
rm -f "$signed"
check "signing with the password in FWU_SIGN_PASSWORD, the tools watched" \
  eval 'sign maintainer "$signed" PATH="$spies:$PATH" &&
        accepted "$signed" "$pki/maintainer.signer.pem"'
check "... openssl does not find the password in its environment" not_seen openssl
check "... nor does osslsigncode" not_seen osslsigncode
rm -f "$signed" "$spies"/*.seen
check "signing with the password on a pipe (FWU_SIGN_PASSWORD_FILE)" \
  eval 'env -u FWU_SIGN_PASSWORD FWU_SIGN_PKCS12="$pki/maintainer.p12" PATH="$spies:$PATH" \
          FWU_SIGN_PASSWORD_FILE=<(printf "%s" "$password") "$root/scripts/sign-exe.sh" \
          "$base.unsigned.exe" "$signed" "$pki/maintainer.signer.pem" "$pki/no-test-certificate" \
          >"$pki/sign.log" 2>&1 && accepted "$signed" "$pki/maintainer.signer.pem"'
check "... openssl and osslsigncode ran without it in their environment" \
  eval 'not_seen openssl && not_seen osslsigncode'

# A failed signing must not leave the program of an earlier one, which would look finished: each
# starts with one in place.
cp "$exe" "$signed"
check "a wrong password fails the signing" eval '! sign maintainer "$signed" FWU_SIGN_PASSWORD=wrong'
check "... and leaves no executable, nor a certificate" \
  eval '[[ ! -e $signed && ! -e $pki/maintainer.signer.pem ]]'
cp "$exe" "$signed"
# Nothing listens on the discard port of the loopback address: the service cannot be reached.
check "an unreachable time-stamping service fails the signing" \
  eval '! sign maintainer "$signed" FWU_SIGN_TIMESTAMP_URL=http://127.0.0.1:9/'
check "... and leaves no executable, nor a certificate" \
  eval '[[ ! -e $signed && ! -e $pki/maintainer.signer.pem ]]'

echo "--- the release refuses the test certificate"
# scripts/release.sh in a folder of its own, with a stand-in for git, which it starts once it has
# chosen where the release goes: the stand-in notes whether the signing password is in its
# environment and reports a changed working tree, which ends the run before anything is built.
release=$scratch/release
mkdir -p "$release/scripts" "$release/bin"
cp "$root/scripts/release.sh" "$release/scripts/"
cat >"$release/bin/git" <<EOF
#!/bin/sh
env | grep -c '^FWU_SIGN_PASSWORD=' >>"$release/git.seen"
echo " M a change"
EOF
chmod +x "$release/bin/git"
run_release() {  # [VARIABLE=VALUE...] -- [ARGUMENT...]: release.sh's output; its status in $status
  local variables=()
  while [[ $1 != -- ]]; do variables+=("$1"); shift; done
  shift
  rm -rf "$release/dist" "$release/dist-TEST-SIGNED" "$release/git.seen"
  status=0
  output=$(env -u FWU_SIGN_PKCS12 -u FWU_SIGN_PASSWORD -u FWU_SIGN_SHA256 \
             PATH="$release/bin:$PATH" "${variables[@]}" "$release/scripts/release.sh" "$@" 2>&1) ||
    status=$?
}
nothing_written() {
  [[ ! -e $release/dist && ! -e $release/dist-TEST-SIGNED ]]
}
run_release --
check "without a certificate nor --test-signed: refused (status $status)" \
  eval '[[ $status -ne 0 ]] && grep -q "only when asked for" <<<"$output"'
check "... before it starts anything, and nothing written" \
  eval '[[ ! -e $release/git.seen ]] && nothing_written'
run_release -- --test-signed
check "with --test-signed: goes on, into dist-TEST-SIGNED/" \
  eval 'grep -qx "=== release into dist-TEST-SIGNED/" <<<"$output" &&
        grep -q "working tree differs" <<<"$output" && [[ -e $release/git.seen ]]'
run_release FWU_SIGN_PKCS12="$pki/maintainer.p12" FWU_SIGN_PASSWORD="$password" -- --test-signed
check "--test-signed with a certificate given: refused, nothing started" \
  eval '[[ $status -ne 0 && ! -e $release/git.seen ]] && nothing_written'
run_release FWU_SIGN_PKCS12="$pki/maintainer.p12" FWU_SIGN_PASSWORD="$password" \
  FWU_SIGN_SHA256=00 --
check "with a certificate: into dist/, and git, which it starts, has no password in its environment" \
  eval 'grep -qx "=== release into dist/" <<<"$output" && [[ -s $release/git.seen ]] &&
        ! grep -qv "^0$" "$release/git.seen"'

report signing
