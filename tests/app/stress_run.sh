#!/usr/bin/env bash
# The mixed-load stress: a product table of BASE products with CATALOG.NDX,
# then WORKERS quillmart-cli workers (stress_worker.sh) at once for SECONDS
# (at most MAX_OPS commands each) appending, changing, deleting and recalling
# products of their own while stress_locker.py now and then holds a lock they
# need for longer than they wait, then stress_check.py. Prints the figures and the
# checker's verdict; exits 0 only when it is PASS.
# Usage: stress_run.sh CLI SHOP SECONDS [MAX_OPS] [WORKERS] [BASE]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cli=$1 shop=$2 seconds=$3 maxOps=${4:-1000000} workers=${5:-8} base=${6:-300}
mkdir -p "$shop"
cd "$shop"
export XDG_CONFIG_HOME=$shop/config LC_ALL=C

# Products no worker touches, keys between the workers' ("0012B" < "0012W3"),
# so that every worker's appends land in pages shared with the others.
{
  echo "CODE,NAME,PRICE,SNOTES"
  for ((n = 0; n < base; n++)); do
    printf '%04dB,Base product %d,%d.50,"Notes of base product %d' "$n" "$n" "$n" "$n"
    ((n % 3 == 0)) && printf '\nsecond line é'
    echo '"'
  done
} >base.csv
"$cli" create CODE:8 NAME:24 PRICE:10 >/dev/null
"$cli" import base.csv >/dev/null
"$cli" reindex >/dev/null

start=$(date +%s.%N)
pids=()
for ((w = 0; w < workers; w++)); do
  "$here/stress_worker.sh" "$cli" "$w" "$seconds" "$maxOps" "worker-$w.log" &
  pids+=($!)
done
/usr/bin/python3 "$here/stress_locker.py" "$shop" "$seconds" >locker.txt &
pids+=($!)
for pid in "${pids[@]}"; do wait "$pid"; done
elapsed=$(awk -v s="$start" -v e="$(date +%s.%N)" 'BEGIN { printf "%.1f", e - s }')
commands=$(cat worker-*.log | wc -l)
echo "workers: $workers for $elapsed s; commands: $commands ($(awk -v c="$commands" -v t="$elapsed" \
  'BEGIN { printf "%.1f", c / t }') per second)"
cat locker.txt
/usr/bin/python3 "$here/stress_check.py" "$shop" "$cli" "$here/../data/index/walk_ndx.pl"
