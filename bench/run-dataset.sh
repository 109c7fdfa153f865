#!/usr/bin/env bash
# Browsing 100,000 products in key order through the Qt table model against the
# bare engine walking CATALOG.NDX in the same run, and editing 10,000 products
# (find by key, edit, post) through the dataset; then two quillmart-cli processes
# editing different products of one table at once.
# Usage: bench/run-dataset.sh [BUILD_DIR] [RECORDS] [EDITS] [CONCURRENT_EDITS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/bench/configure.sh" "${1:-$root/build}"
build=$(cd "${1:-$root/build}" && pwd)
records=${2:-100000}
edits=${3:-10000}
cmake --build "$build" --target qm_dataset_bench >/dev/null
bench=$build/bin/qm_dataset_bench
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "date: $(date -u '+%Y-%m-%d %H:%M UTC'); nproc: $(nproc); cpu: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
"$bench" make "$work" "$records"
"$bench" browse "$work"
"$bench" edit "$work" "$edits"

# Two companions editing different products of one table at once: every edit
# must arrive, and Perl XBase must walk the index clean afterwards.
concurrent=${4:-1000}
cli=$build/bin/quillmart-cli
shop=$work/shop
mkdir -p "$shop"
cd "$shop"
export XDG_CONFIG_HOME=$shop
"$cli" create CODE:8 NAME:12 >/dev/null
for key in A B C; do "$cli" set "$key" NAME=0 --new >/dev/null; done
editor() { for i in $(seq 1 "$concurrent"); do "$cli" set "$1" "NAME=$i" "SNOTES=note $i" >/dev/null || return 1; done; }
start=$(date +%s.%N)
editor A & first=$!
editor C & second=$!
wait $first && wait $second
seconds=$(awk -v s="$start" -v e="$(date +%s.%N)" 'BEGIN { printf "%.2f", e - s }')
printf '%-34s %8d in %7s s\n' "two companions, set (edits)" $((2 * concurrent)) "$seconds"
walk=$(/usr/bin/perl "$root/tests/data/index/walk_ndx.pl" CATALOG.NDX | tr '\n\t' ' :')
dump=$("$cli" dump | tr -d '\r' | tr '\n' ' ')
expected="CODE,NAME,SNOTES A,$concurrent,note $concurrent B,0, C,$concurrent,note $concurrent "
if [ "$walk" != "A:1 B:2 C:3 " ] || [ "$dump" != "$expected" ]; then
  echo "concurrent edits went wrong: index '$walk', table '$dump'" >&2
  exit 1
fi
echo "concurrent edits: nothing lost, index walks clean"
