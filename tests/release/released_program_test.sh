#!/usr/bin/env bash
# The released program trusts only its publisher, under Wine:
#   released_program_test.sh SOURCE_DIR BUILD_DIR TEST_EXE
# builds the release preset's program (the one the installer ships) with a publisher's key
# made for this run, makes a throw-away certificate authority and a certificate for the
# update server's host, serves a folder over HTTPS with openssl s_server, and runs TEST_EXE
# (ReleasedProgramTestWin32.cpp) under Wine, which drives the program through a web proxy.
set -euo pipefail
src=$(realpath "$1")
build=$(realpath "$2")
test_exe=$3
# Beside the Windows build, at the same depth, so that the compiler cache serves it.
release="$(dirname "$build")/release-test"
work="$build/released-program"
rm -rf "$work"
mkdir -p "$work/www"
server=
cleanup() {
  [ -n "$server" ] && kill "$server" 2>/dev/null || true
  [ -n "${LUMETRA_KEEP_WORK:-}" ] || rm -rf "$work"
}
trap cleanup EXIT

openssl ecparam -name prime256v1 -genkey -noout -out "$work/publisher.pem"
openssl ec -in "$work/publisher.pem" -pubout -out "$work/publisher.pub.pem" 2>/dev/null
(cd "$src" && cmake --preset release -B "$release" -DLUMETRA_UPDATE_PUBLIC_KEY="$work/publisher.pub.pem") \
  > "$work/configure.log" 2>&1 || { tail -20 "$work/configure.log"; exit 1; }
cmake --build "$release" --target installer > "$work/build.log" 2>&1 || { tail -40 "$work/build.log"; exit 1; }
program="$release/installer/files/LumetraControlBox.exe"
echo "released program: $program"

host=$(sed -n 's/^LUMETRA_UPDATE_HOST:STRING=//p' "$release/CMakeCache.txt")
[ -n "$host" ] || { echo "no update host in the release's cache" >&2; exit 1; }
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 \
  -keyout "$work/ca.key" -out "$work/ca.pem" -subj "/CN=Lumetra test authority $$" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
openssl x509 -in "$work/ca.pem" -outform DER -out "$work/ca.der"
openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout "$work/server.key" \
  -out "$work/server.csr" -subj "/CN=$host" 2>/dev/null
printf 'subjectAltName=DNS:%s\nextendedKeyUsage=serverAuth\n' "$host" > "$work/server.ext"
openssl x509 -req -in "$work/server.csr" -CA "$work/ca.pem" -CAkey "$work/ca.key" -CAcreateserial \
  -days 2 -extfile "$work/server.ext" -out "$work/server.pem" 2>/dev/null

# An HTTPS server on a free port of this machine: each file of www/ is a whole answer.
for attempt in $(seq 1 20); do
  port=$((20000 + RANDOM % 40000))
  (cd "$work/www" && exec openssl s_server -accept "127.0.0.1:$port" -cert "$work/server.pem" \
     -key "$work/server.key" -HTTP) > "$work/server.log" 2>&1 &
  server=$!
  for wait in $(seq 1 20); do
    if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then break 2; fi
    kill -0 "$server" 2>/dev/null || break
    sleep 0.1
  done
  kill "$server" 2>/dev/null || true
  server=
done
[ -n "$server" ] || { echo "no HTTPS server could start" >&2; cat "$work/server.log" >&2; exit 1; }
echo "HTTPS server for $host on port $port"

windows() { echo "Z:${1//\//\\}"; }
LUMETRA_RELEASED_EXE=$(windows "$program") \
LUMETRA_PUBLISHER_KEY="$work/publisher.pem" \
LUMETRA_TLS_CA=$(windows "$work/ca.der") \
LUMETRA_TLS_HOST="$host" \
LUMETRA_TLS_PORT=$port \
LUMETRA_TLS_WWW=$(windows "$work/www") \
  "$build/wine-run" "$test_exe"
