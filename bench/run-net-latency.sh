#!/bin/bash
# Upload Catalog at internet distance: a threaded pyftpdlib server that answers
# every command 25 ms late (BENCH_DELAY_MS; a model of a host that far away),
# in one run:
#  1. 1,000 pages sent in full to an empty folder: quillmart-cli upload with
#     1 and with 4 connections, curl (one connection, active, handed the
#     files, its fewest commands: --ftp-method nocwd), lftp mirror -R
#     --parallel=4;
#  2. 10,000 pages on the server of which one product changed: Quillmart
#     (manifest and quick check, 4 connections allowed), lftp mirror -R
#     --parallel=4 (lists the server and compares), and curl handed just the
#     two changed files (the floor: sending only those over one session).
# Every upload is checked against the local pages. Ratios are Quillmart / other.
# The incremental rounds print each round: the first one after the untimed
# seeding reads every page once (their times were too fresh to keep).
# Usage: bench/run-net-latency.sh [BUILD_DIR]   (default: build)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
"$ROOT/bench/configure.sh" "${1:-$ROOT/build}"
BUILD=$(cd "${1:-$ROOT/build}" && pwd)
CLI=$BUILD/bin/quillmart-cli
[ -x "$CLI" ] || cmake --build "$BUILD" --target quillmart-cli
DELAY=${BENCH_DELAY_MS:-25}
ROUNDS=${BENCH_ROUNDS:-3}
WORK=$(mktemp -d)
SERVER_PID=
stop_server() {
  if [ -n "$SERVER_PID" ]; then kill "$SERVER_PID" 2>/dev/null || true; wait "$SERVER_PID" 2>/dev/null || true; fi
  SERVER_PID=
}
cleanup() { stop_server; rm -rf "$WORK"; }
trap cleanup EXIT

start_server() {  # PORT (0: any) EXTRA_ARGS...
  : > "$WORK/server.out"
  /usr/bin/python3 "$ROOT/tests/net/ftp_server.py" "$WORK/root" "$@" > "$WORK/server.out" 2>&1 &
  SERVER_PID=$!
  for _ in $(seq 50); do grep -q PORT "$WORK/server.out" 2>/dev/null && break; sleep 0.1; done
  PORT=$(awk '/PORT/ {print $2}' "$WORK/server.out")
}

. "$ROOT/bench/net/timing.sh"

. "$ROOT/bench/net/catalog_pages.sh"
mkdir -p "$WORK/root"
qm() { XDG_CONFIG_HOME="$WORK/config" "$CLI" upload --port "$PORT" "$@" > "$WORK/qm.out" 2>&1 || { cat "$WORK/qm.out"; exit 1; }; }
mirror() { lftp -u user,secret -p "$PORT" -e "mirror -R --parallel=4 -X upload.txt -X 'upload-manifest-*' --no-perms $1 $2; quit" 127.0.0.1 > /dev/null; }
curl_list() {  # DIR REMOTE_DIR FILES... (the remote folder must exist: nocwd cannot make it)
  mkdir -p "$WORK/root/$2"
  curl -s -S -P 127.0.0.1 -u user:secret --ftp-method nocwd \
    -T "{$(cd "$1" && ls "${@:3}" | paste -sd,)}" "ftp://127.0.0.1:$PORT/$2/" > /dev/null
}
same() {  # LOCAL_DIR REMOTE_DIR WHAT
  diff -q <(cd "$1" && ls P*.htm catalog.htm) <(cd "$WORK/root/$2" && ls) > /dev/null || { echo "$3: files differ"; exit 1; }
  cmp -s "$1/P00999.htm" "$WORK/root/$2/P00999.htm" || { echo "$3: page differs"; exit 1; }
}

# Seeding, untimed, at loopback speed: 10,000 pages on the server for
# Quillmart (with its manifest) and for lftp.
pages "$WORK/full" 1000
pages "$WORK/inc" 10000
start_server 0
cd "$WORK/inc"; site qm-inc/
qm --all
lftp -u user,secret -p "$PORT" -e "mirror -R -X upload.txt -X 'upload-manifest-*' --no-perms $WORK/inc lftp-inc; quit" 127.0.0.1 > /dev/null
SEED_PORT=$PORT
stop_server
start_server "$SEED_PORT" --delay "$DELAY"  # the same port: the manifest is kept per site and port

# 1. 1,000 pages in full (one round: the single connection takes minutes).
cd "$WORK/full"
rm -rf "$WORK/root/qm1" "$WORK/root/qm4" "$WORK/root/curl" "$WORK/root/lftp" upload-manifest-*
site qm1/; t0=$(now); qm --all --connections 1; t1=$(now); q1=$(elapsed "$t0" "$t1"); same "$WORK/full" qm1 "quillmart 1"
rm -f upload-manifest-*
site qm4/; t0=$(now); qm --all --connections 4; t1=$(now); q4=$(elapsed "$t0" "$t1"); same "$WORK/full" qm4 "quillmart 4"
grep -i "connections" "$WORK/qm.out" || true
t0=$(now); curl_list "$WORK/full" curl P*.htm catalog.htm; t1=$(now); cf=$(elapsed "$t0" "$t1"); same "$WORK/full" curl curl
t0=$(now); mirror "$WORK/full" lftp; t1=$(now); lf=$(elapsed "$t0" "$t1"); same "$WORK/full" lftp lftp
echo "full: quillmart 1: $q1 s, quillmart 4: $q4 s, curl: $cf s, lftp: $lf s"

# 2. 10,000 pages, one product changed.
cd "$WORK/inc"; site qm-inc/
qm_inc=(); curl_inc=(); lftp_inc=()
for round in $(seq "$ROUNDS"); do
  sed -i "s/Price: <\/B>[0-9]*/Price: <\/B>$((11 + round))/" P04711.htm
  echo "<!-- round $round -->" >> catalog.htm
  t0=$(now); qm; t1=$(now); qm_inc+=("$(elapsed "$t0" "$t1")")
  grep -q "^uploaded P04711.htm" "$WORK/qm.out" && [ "$(grep -c '^uploaded' "$WORK/qm.out")" = 2 ] ||
    { echo "quillmart: not exactly the changed files sent"; cat "$WORK/qm.out"; exit 1; }
  t0=$(now); curl_list "$WORK/inc" curl-inc P04711.htm catalog.htm; t1=$(now); curl_inc+=("$(elapsed "$t0" "$t1")")
  t0=$(now); mirror "$WORK/inc" lftp-inc; t1=$(now); lftp_inc+=("$(elapsed "$t0" "$t1")")
  cmp -s P04711.htm "$WORK/root/qm-inc/P04711.htm" || { echo "quillmart: changed page not sent"; exit 1; }
  cmp -s P04711.htm "$WORK/root/lftp-inc/P04711.htm" || { echo "lftp: changed page not sent"; exit 1; }
done
qi=$(best "${qm_inc[@]}"); ci=$(best "${curl_inc[@]}"); li=$(best "${lftp_inc[@]}")

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(date -u '+%F %H:%M') UTC"
echo "server answers every command ${DELAY} ms late (threaded pyftpdlib); wall times of the upload sessions"
printf '1,000 pages in full: quillmart 1 connection %.2f s, 4 connections %.2f s; curl %.2f s; lftp --parallel=4 %.2f s\n' \
  "$q1" "$q4" "$cf" "$lf"
printf '  ratios: quillmart 4 / curl %s (aim <= 0.3), quillmart 4 / lftp %s (aim <= 1), quillmart 1 / curl %s\n' \
  "$(ratio "$q4" "$cf")" "$(ratio "$q4" "$lf")" "$(ratio "$q1" "$cf")"
printf '10,000 pages, one changed (best of %s; rounds: quillmart %s; lftp %s): quillmart %.2f s, curl two files %.2f s, lftp %.2f s\n' \
  "$ROUNDS" "${qm_inc[*]}" "${lftp_inc[*]}" "$qi" "$ci" "$li"
printf '  ratios: quillmart / curl two files %s (aim <= 2), quillmart / lftp %s (aim < 1)\n' \
  "$(ratio "$qi" "$ci")" "$(ratio "$qi" "$li")"
