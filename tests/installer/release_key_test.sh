#!/usr/bin/env bash
# A release is made only with the publisher's key: scripts/release without
# LUMETRA_UPDATE_PUBLIC_KEY, or with a file that is no public key, stops at once with a
# message naming the variable and how to make a key, and leaves dist/ as it was; the
# release preset refuses to configure without the key, and configures with a throw-away one.
#
#   release_key_test.sh SOURCE_DIR
set -euo pipefail
src=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/lumetra-release-key-$$.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

snapshot() {
  if [ -d "$src/dist" ]; then (cd "$src/dist" && find . -type f -exec sha256sum {} + | sort); else echo "no dist"; fi
}
before=$(snapshot)

if env -u LUMETRA_UPDATE_PUBLIC_KEY "$src/scripts/release" > "$work/out" 2> "$work/err"; then
  fail "scripts/release made a release without the key"
fi
grep -q "LUMETRA_UPDATE_PUBLIC_KEY" "$work/err" || fail "the refusal does not name the variable: $(cat "$work/err")"
grep -q "openssl ecparam -name prime256v1" "$work/err" || fail "the refusal does not say how to make a key"
echo "ok: refused without the key"

echo "not a key" > "$work/bogus.pem"
if LUMETRA_UPDATE_PUBLIC_KEY="$work/bogus.pem" "$src/scripts/release" > "$work/out" 2> "$work/err"; then
  fail "scripts/release made a release with a file that is no key"
fi
grep -q "not a readable PEM public key" "$work/err" || fail "no reason given for a bad key file: $(cat "$work/err")"
echo "ok: refused with a file that is no key"

[ "$(snapshot)" = "$before" ] || fail "dist/ changed by a refused release"
echo "ok: dist/ untouched"

# The release preset itself: no key, no configuration.
if (cd "$src" && cmake --preset release -B "$work/release-build" -U LUMETRA_UPDATE_PUBLIC_KEY) > "$work/cfg" 2>&1; then
  fail "the release preset configured without a key"
fi
grep -q "LUMETRA_UPDATE_PUBLIC_KEY is not set" "$work/cfg" || fail "the release preset failed otherwise: $(tail -20 "$work/cfg")"
echo "ok: the release preset refuses to configure without a key"

openssl ecparam -name prime256v1 -genkey -noout -out "$work/throwaway.pem"
openssl ec -in "$work/throwaway.pem" -pubout -out "$work/throwaway.pub.pem" 2>/dev/null
(cd "$src" && cmake --preset release -B "$work/release-build" -DLUMETRA_UPDATE_PUBLIC_KEY="$work/throwaway.pub.pem") \
  > "$work/cfg" 2>&1 || fail "the release preset did not configure with a throw-away key: $(tail -20 "$work/cfg")"
echo "ok: the release preset configures with a throw-away key"

# What the release preset links into the program is that key: its PEM body, in the key's
# library (the program's only source of a key).
(cd "$work/release-build" && cmake --build . --target lumetra_update_key) > "$work/build" 2>&1 ||
  fail "the key's library did not build: $(tail -20 "$work/build")"
body=$(grep -v -- "-----" "$work/throwaway.pub.pem" | tr -d '\n')
embedded=$(cat "$work"/release-build/update/UpdatePublicKey-*.cpp | grep -v -- "-----" | tr -d '\n')
[[ "$embedded" == *"$body"* ]] || fail "the release preset did not build the given key in"
strings -a "$work"/release-build/update/liblumetra_update_key.a | tr -d '\n' | grep -qF "$body" ||
  fail "the key's library does not carry the given key"
echo "ok: the release preset builds the given key in"
