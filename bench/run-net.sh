#!/bin/bash
# FTP upload benchmark: Quillmart's FTP client against curl, both in active
# mode over one control connection to a pyftpdlib server on loopback.
#   1,000 files of 2-8 KB, then one 100 MB file; best wall times of
#   BENCH_ROUNDS rounds (default 3) and their ratios.
# Usage: bench/run-net.sh [BUILD_DIR]   (default: build)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "${1:-$ROOT/build}" && pwd)
BENCH=$BUILD/bin/ftp_upload_bench
[ -x "$BENCH" ] || cmake --build "$BUILD" --target ftp_upload_bench
WORK=$(mktemp -d)
SERVER_PID=
cleanup() { [ -n "$SERVER_PID" ] && kill "$SERVER_PID" 2>/dev/null; rm -rf "$WORK"; }
trap cleanup EXIT

mkdir -p "$WORK/local/many" "$WORK/local/big" "$WORK/root"
/usr/bin/python3 - "$WORK/local/many" <<'PY'
import os, random, sys
random.seed(7)
for i in range(1000):
    with open(os.path.join(sys.argv[1], "page%04d.htm" % i), "wb") as f:
        f.write(os.urandom(random.randint(2048, 8192)))
PY
head -c 100000000 /dev/urandom > "$WORK/local/big/big.bin"

/usr/bin/python3 "$ROOT/tests/net/ftp_server.py" "$WORK/root" 0 > "$WORK/server.out" &
SERVER_PID=$!
for _ in $(seq 50); do grep -q PORT "$WORK/server.out" 2>/dev/null && break; sleep 0.1; done
PORT=$(awk '/PORT/ {print $2}' "$WORK/server.out")

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
best() { printf '%s\n' "$@" | sort -g | head -1; }
ROUNDS=${BENCH_ROUNDS:-3}

# Each round uploads into fresh folders; ours and curl alternate so that a
# busy moment of the machine hits both. Every data connection leaves a port in
# TIME_WAIT; 2 x 1,001 per round is far below the 28,000 ephemeral ports.
ours_many=(); curl_many=(); ours_big=(); curl_big=()
for round in $(seq "$ROUNDS"); do
  for d in ours curl ours-big curl-big; do rm -rf "$WORK/root/$d"; mkdir -p "$WORK/root/$d"; done
  cd "$WORK/local/many"
  FILES=$(ls)
  LIST=$(echo $FILES | tr ' ' ',')
  t0=$(now); "$BENCH" "$PORT" ours/ $FILES > /dev/null; t1=$(now)
  ours_many+=("$(elapsed "$t0" "$t1")")
  t0=$(now); curl -s -P 127.0.0.1 -u user:secret -T "{$LIST}" "ftp://127.0.0.1:$PORT/curl/" > /dev/null; t1=$(now)
  curl_many+=("$(elapsed "$t0" "$t1")")
  diff -rq "$WORK/local/many" "$WORK/root/ours" > /dev/null || { echo "ours: files differ"; exit 1; }
  diff -rq "$WORK/local/many" "$WORK/root/curl" > /dev/null || { echo "curl: files differ"; exit 1; }

  cd "$WORK/local/big"
  t0=$(now); "$BENCH" "$PORT" ours-big/ big.bin > /dev/null; t1=$(now)
  ours_big+=("$(elapsed "$t0" "$t1")")
  t0=$(now); curl -s -P 127.0.0.1 -u user:secret -T big.bin "ftp://127.0.0.1:$PORT/curl-big/" > /dev/null; t1=$(now)
  curl_big+=("$(elapsed "$t0" "$t1")")
  cmp -s big.bin "$WORK/root/ours-big/big.bin" || { echo "ours: big file differs"; exit 1; }
done
om=$(best "${ours_many[@]}"); cm=$(best "${curl_many[@]}")
ob=$(best "${ours_big[@]}"); cb=$(best "${curl_big[@]}")

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(date -u +%F)"
echo "best of $ROUNDS rounds (wall time, upload session only):"
printf '1,000 files of 2-8 KB: quillmart %.2f s, curl %.2f s, ratio %s\n' "$om" "$cm" "$(ratio "$om" "$cm")"
printf '100 MB file:           quillmart %.2f s, curl %.2f s, ratio %s\n' "$ob" "$cb" "$(ratio "$ob" "$cb")"
