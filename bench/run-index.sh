#!/usr/bin/env bash
# Unique character index over shuffled 8-character keys: Quillmart's NDX build
# against SQLite's CREATE UNIQUE INDEX over the same keys, in the same run; then
# 20,000 appends into a table with a non-unique index, all with one repeated key
# against each with its own key.
# Usage: bench/run-index.sh [BUILD_DIR] [RECORDS] [APPENDS] [sweep]
# With "sweep" it first runs the Perl XBase sweep of the index tests at full size
# (about 500 table sizes up to 100,000 records instead of the test suite's 56).
# Prints wall time and peak resident memory of each build (GNU time, best of three
# runs), the sorter's node-memory bound, the time ratio Quillmart / SQLite, the
# append times (best of three) and their ratio repeated / distinct.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/bench/configure.sh" "${1:-$root/build}"
build=$(cd "${1:-$root/build}" && pwd)
count=${2:-1000000}
appends=${3:-20000}
if [ "${4:-}" = sweep ]; then
  cmake --build "$build" --target index_ndx_interop_test >/dev/null
  QM_NDX_SWEEP_FULL=1 "$build/tests/index/index_ndx_interop_test" --gtest_filter='NdxInteropSweep.*'
fi
cmake --build "$build" --target qm_index_bench >/dev/null
bench=$build/bin/qm_index_bench
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$bench" make "$work" "$count"
sqlite3 "$work/keys.db" "CREATE TABLE k(key TEXT);" ".import $work/keys.txt k"
sync

# best CMD...: runs it three times under GNU time; prints "seconds kbytes" of the
# fastest run (the machine may be shared, so the best run is the fair figure).
best() {
  local result=""
  for _ in 1 2 3; do
    [ -n "${reset:-}" ] && eval "$reset"
    /usr/bin/time -f '%e %M' -o "$work/time.txt" "$@" >"$work/out.txt"
    read -r s kb <"$work/time.txt"
    if [ -z "$result" ] || awk -v a="$s" -v b="${result% *}" 'BEGIN { exit !(a < b) }'; then
      result="$s $kb"
    fi
  done
  echo "$result"
}

cd "$work"  # the sorter's .CPL work file goes to the current directory
read -r qm_s qm_kb < <(best "$bench" build "$work")
cat "$work/out.txt"
"$bench" verify "$work"
if compgen -G "$work/*.CPL" >/dev/null; then echo "a .CPL work file was left behind" >&2; exit 1; fi
reset="sqlite3 '$work/keys.db' 'DROP INDEX IF EXISTS ki;'"
read -r sq_s sq_kb < <(best sqlite3 "$work/keys.db" "CREATE UNIQUE INDEX ki ON k(key);")

echo "date: $(date -u '+%Y-%m-%d %H:%M UTC'); nproc: $(nproc); cpu: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "sqlite3 $(sqlite3 --version | cut -d' ' -f1)"
printf '%-28s %8s s %8s KB peak\n' "Quillmart NDX build ($count)" "$qm_s" "$qm_kb"
printf '%-28s %8s s %8s KB peak\n' "SQLite CREATE UNIQUE INDEX" "$sq_s" "$sq_kb"
awk -v a="$qm_s" -v b="$sq_s" 'BEGIN { printf "ratio Quillmart / SQLite: %.2f\n", (b > 0 ? a / b : 0) }'

# best_appends MODE: the fastest of three runs of the append benchmark, in seconds.
best_appends() {
  local result=""
  for _ in 1 2 3; do
    rm -rf "$work/appends" && mkdir "$work/appends"
    s=$("$bench" appends "$work/appends" "$appends" "$1")
    if [ -z "$result" ] || awk -v a="$s" -v b="$result" 'BEGIN { exit !(a < b) }'; then result=$s; fi
  done
  echo "$result"
}
rep_s=$(best_appends repeated)
dis_s=$(best_appends distinct)
printf '%-28s %8s s\n' "$appends appends, one key" "$rep_s"
printf '%-28s %8s s\n' "$appends appends, distinct" "$dis_s"
awk -v a="$rep_s" -v b="$dis_s" 'BEGIN { printf "ratio repeated / distinct: %.2f\n", (b > 0 ? a / b : 0) }'
