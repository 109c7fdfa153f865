#!/usr/bin/env bash
# Table engine: append 100,000 records with memos, then read every field and
# memo back, in records per second; the same table is then read by dbfread and
# python3-dbf (independent readers) and the ratios printed.
# Usage: bench/run-dbf.sh [BUILD_DIR] [RECORDS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
count=${2:-100000}
"$root/bench/configure.sh" "$build"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --build "$build" --target dbf_bench >"$work/build.log" 2>&1 || { cat "$work/build.log"; exit 1; }

echo "date: $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //')"
engine_out=$("$build/bin/dbf_bench" "$work" "$count")
echo "$engine_out" | grep -v '^engine_read_seconds='
engine=$(echo "$engine_out" | sed -n 's/^engine_read_seconds=//p')

# Each peer reads every field of every record, memos included; best of three.
/usr/bin/python3 - "$work/CATALOG.DBF" "$engine" <<'PY'
import sys, time
import dbf, dbfread

path, engine = sys.argv[1], float(sys.argv[2])

def with_dbfread():
    n = 0
    for record in dbfread.DBF(path, encoding="cp437"):
        for value in record.values():
            pass
        n += 1
    return n

def with_dbf():
    table = dbf.Table(path, codepage="cp437")
    table.open(dbf.READ_ONLY)
    n = 0
    for record in table:
        for value in record:
            pass
        n += 1
    table.close()
    return n

def best(read):
    times = []
    for _ in range(3):
        start = time.perf_counter()
        n = read()
        times.append(time.perf_counter() - start)
    return n, min(times)

results = {name: best(read) for name, read in (("dbfread", with_dbfread), ("python3-dbf", with_dbf))}
for name, (n, seconds) in results.items():
    print(f"{name:12s} read:  {n} records in {seconds:.3f} s = {n / seconds:.0f} records/s; "
          f"engine is {seconds / engine:.1f}x faster")
fastest = min(seconds for _, seconds in results.values())
print(f"engine vs the faster peer: {fastest / engine:.1f}x (aim: at least 5x)")
PY
