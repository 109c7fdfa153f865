#!/usr/bin/env bash
# Build Local with stacked pages over 100,000 products: pages per second.
# Usage: bench/run-catalog.sh [BUILD_DIR] [PRODUCTS]
# The product table is written by python3-dbf, an independent DBF writer, in
# a scratch folder that is removed afterwards; set BENCH_TABLE_DIR to a folder
# to keep the table there and reuse it on the next run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
"$root/bench/configure.sh" "$build"
count=${2:-100000}
cmake --build "$build" --target bench_build_local >/dev/null
if [ -n "${BENCH_TABLE_DIR:-}" ]; then
  work=$BENCH_TABLE_DIR
  mkdir -p "$work"
else
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
fi

[ -f "$work/catalog.dbf" ] || /usr/bin/python3 - "$work" "$count" <<'PY'
import os, sys, dbf
work, count = sys.argv[1], int(sys.argv[2])
t = dbf.Table(os.path.join(work, "catalog.dbf"),
              "CODE C(8); NAME C(30); PRICE C(10); COLOUR C(12); STOCK C(6); SNOTES M",
              dbf_type="db3", codepage="cp437")
t.open(dbf.READ_WRITE)
colours = ["Red", "Green", "Blue", "Amber", "Slate", "Ivory"]
for i in range(count):
    t.append(("P%06d" % i, "Product number %d" % i, "%d.%02d" % (i % 500, i % 100),
              colours[i % 6], str(i % 1000),
              "Product %d is sturdy and light.\r\n<P>Ask us about bulk prices." % i))
t.close()
PY

echo "date: $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //')"
"$build/bin/bench_build_local" "$work" 3
