#!/bin/bash
# FTP upload benchmark against a pyftpdlib server on loopback, in one run:
#  1. the FTP client alone against curl, both in active mode over one control
#     connection: 1,000 files of 2-8 KB, then one 100 MiB file;
#  2. Upload Catalog (quillmart-cli upload with its default of up to 4
#     connections: new pages stored under their names, changed ones under a
#     temporary name renamed into place) against curl (plain STOR, active) and lftp mirror -R: 1,000
#     pages sent in full, then 10,000 pages of which one product changed
#     (Quillmart compares with its manifest, lftp lists the server; curl is
#     handed the two changed files).
# Best wall times of BENCH_ROUNDS rounds (default 3) and their ratios.
# Usage: bench/run-net.sh [BUILD_DIR]   (default: build)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
"$ROOT/bench/configure.sh" "${1:-$ROOT/build}"
BUILD=$(cd "${1:-$ROOT/build}" && pwd)
BENCH=$BUILD/bin/ftp_upload_bench
CLI=$BUILD/bin/quillmart-cli
[ -x "$BENCH" ] || cmake --build "$BUILD" --target ftp_upload_bench
[ -x "$CLI" ] || cmake --build "$BUILD" --target quillmart-cli
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
head -c 104857600 /dev/urandom > "$WORK/local/big/big.bin"

/usr/bin/python3 "$ROOT/tests/net/ftp_server.py" "$WORK/root" 0 > "$WORK/server.out" &
SERVER_PID=$!
for _ in $(seq 50); do grep -q PORT "$WORK/server.out" 2>/dev/null && break; sleep 0.1; done
PORT=$(awk '/PORT/ {print $2}' "$WORK/server.out")

. "$ROOT/bench/net/timing.sh"
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

# --- Upload Catalog: full and incremental -----------------------------------
. "$ROOT/bench/net/catalog_pages.sh"
qm() { XDG_CONFIG_HOME="$WORK/config" "$CLI" upload --port "$PORT" "$@" > /dev/null 2>&1; }
mirror() { lftp -u user,secret -p "$PORT" -e "mirror -R -X upload.txt -X 'upload-manifest-*' --no-perms $1 $2; quit" 127.0.0.1 > /dev/null; }
curl_list() { curl -s -P 127.0.0.1 -u user:secret --ftp-create-dirs -T "{$(cd "$1" && ls "${@:3}" | paste -sd,)}" "ftp://127.0.0.1:$PORT/$2/" > /dev/null; }

pages "$WORK/full" 1000
qm_full=(); curl_full=(); lftp_full=()
for round in $(seq "$ROUNDS"); do
  rm -rf "$WORK/root/qm-full" "$WORK/root/curl-full" "$WORK/root/lftp-full" "$WORK/full"/upload-manifest-*
  cd "$WORK/full"; site qm-full/
  t0=$(now); qm --all; t1=$(now); qm_full+=("$(elapsed "$t0" "$t1")")
  t0=$(now); curl_list "$WORK/full" curl-full P*.htm catalog.htm; t1=$(now); curl_full+=("$(elapsed "$t0" "$t1")")
  t0=$(now); mirror "$WORK/full" lftp-full; t1=$(now); lftp_full+=("$(elapsed "$t0" "$t1")")
  cmp -s "$WORK/full/P00999.htm" "$WORK/root/qm-full/P00999.htm" || { echo "quillmart: page differs"; exit 1; }
done

# 10,000 pages on the server (sent once, untimed), then one price changes.
pages "$WORK/inc" 10000
cd "$WORK/inc"; site qm-inc/
qm --all
mirror "$WORK/inc" lftp-inc
qm_inc=(); curl_inc=(); lftp_inc=()
for round in $(seq "$ROUNDS"); do
  sed -i "s/Price: <\/B>[0-9]*/Price: <\/B>$((11 + round))/" P04711.htm
  echo "<!-- round $round -->" >> catalog.htm
  t0=$(now); qm; t1=$(now); qm_inc+=("$(elapsed "$t0" "$t1")")
  t0=$(now); curl_list "$WORK/inc" curl-inc P04711.htm catalog.htm; t1=$(now); curl_inc+=("$(elapsed "$t0" "$t1")")
  t0=$(now); mirror "$WORK/inc" lftp-inc; t1=$(now); lftp_inc+=("$(elapsed "$t0" "$t1")")
  cmp -s P04711.htm "$WORK/root/qm-inc/P04711.htm" || { echo "quillmart: changed page not sent"; exit 1; }
done
qf=$(best "${qm_full[@]}"); cf=$(best "${curl_full[@]}"); lf=$(best "${lftp_full[@]}")
qi=$(best "${qm_inc[@]}"); ci=$(best "${curl_inc[@]}"); li=$(best "${lftp_inc[@]}")

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(date -u +%F)"
echo "best of $ROUNDS rounds (wall time, upload session only):"
printf '1,000 files of 2-8 KB: quillmart %.2f s, curl %.2f s, ratio %s\n' "$om" "$cm" "$(ratio "$om" "$cm")"
printf '100 MiB file:          quillmart %.2f s, curl %.2f s, ratio %s\n' "$ob" "$cb" "$(ratio "$ob" "$cb")"
printf 'Upload Catalog, 1,000 pages in full: quillmart %.2f s, curl %.2f s (%s), lftp mirror -R %.2f s (%s)\n' \
  "$qf" "$cf" "$(ratio "$qf" "$cf")" "$lf" "$(ratio "$qf" "$lf")"
printf 'Upload Catalog, 10,000 pages, one changed: quillmart %.2f s, curl %.2f s (%s), lftp mirror -R %.2f s (%s)\n' \
  "$qi" "$ci" "$(ratio "$qi" "$ci")" "$li" "$(ratio "$qi" "$li")"
