#!/usr/bin/env bash
# scripts/sign with a throw-away self-signed certificate: osslsigncode must then see a
# valid signature on copies of the program and of the MSI, and none before; a wrong
# password fails and leaves the file as it was.
#
#   sign_test.sh SCRIPTS_SIGN PROGRAM.exe INSTALLER.msi
set -euo pipefail
sign=$1 exe=$2 msi=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Lumetra test signing" \
  -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
echo "throw-away" > "$work/password"
openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -out "$work/cert.pfx" \
  -passout file:"$work/password"
echo "not it" > "$work/wrong"

for file in "$exe" "$msi"; do
  name=$(basename "$file")
  copy="$work/$name"
  cp "$file" "$copy"
  if osslsigncode verify -CAfile "$work/cert.pem" -in "$copy" >/dev/null 2>&1; then
    fail "$name verifies before it was signed"
  fi

  if "$sign" "$work/cert.pfx" "$work/wrong" "$copy" 2>/dev/null; then fail "$name signed with a wrong password"; fi
  cmp -s "$file" "$copy" || fail "$name changed by a signing that failed"
  [ ! -e "$copy.signing" ] || fail "half-signed copy of $name left behind"

  "$sign" "$work/cert.pfx" "$work/password" "$copy"
  out=$(osslsigncode verify -CAfile "$work/cert.pem" -in "$copy" 2>&1) || fail "$name: $out"
  grep -q "Signature verification: ok" <<<"$out" || fail "$name: $out"
  grep -q "Lumetra test signing" <<<"$out" || fail "$name: signer not shown: $out"
  # No timestamp: signing needs no network.
  if grep -qi "Timestamp Server Signature verification: ok\|countersignature" <<<"$out"; then
    fail "$name carries a timestamp"
  fi
  echo "ok: $name signed and verified"
done
