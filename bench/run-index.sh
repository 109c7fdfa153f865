#!/usr/bin/env bash
# Unique character index over shuffled 8-character keys: Quillmart's NDX build
# against SQLite's CREATE UNIQUE INDEX over the same keys, in the same run.
# Usage: bench/run-index.sh [BUILD_DIR] [RECORDS]
# Prints wall time and peak resident memory of each (GNU time, best of three runs),
# the sorter's node-memory bound, and the time ratio Quillmart / SQLite.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
count=${2:-1000000}
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
if compgen -G "$work/*.CPL" >/dev/null; then echo "a .CPL work file was left behind" >&2; exit 1; fi
reset="sqlite3 '$work/keys.db' 'DROP INDEX IF EXISTS ki;'"
read -r sq_s sq_kb < <(best sqlite3 "$work/keys.db" "CREATE UNIQUE INDEX ki ON k(key);")

echo "date: $(date -u '+%Y-%m-%d %H:%M UTC'); nproc: $(nproc); cpu: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "sqlite3 $(sqlite3 --version | cut -d' ' -f1)"
printf '%-28s %8s s %8s KB peak\n' "Quillmart NDX build ($count)" "$qm_s" "$qm_kb"
printf '%-28s %8s s %8s KB peak\n' "SQLite CREATE UNIQUE INDEX" "$sq_s" "$sq_kb"
awk -v a="$qm_s" -v b="$sq_s" 'BEGIN { printf "ratio Quillmart / SQLite: %.2f\n", (b > 0 ? a / b : 0) }'
