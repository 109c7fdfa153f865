#!/usr/bin/env bash
# Crash consistency at full size: quillmart-cli SIGKILLed at random moments while
# it imports, sets, reindexes and builds, every kill checked as in the test suite
# (tests/app/crash_consistency_test.cpp, which this runs with a larger table and
# more kills). Prints kills per command (kills/runs), faults found and the time.
# Usage: bench/run-kill.sh [BUILD_DIR] [KILLS] [ROWS]
#   every 4th snapshot goes to python3-dbf, dbfread and Perl XBase (QM_KILL_PEER_EVERY)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
kills=${2:-2000}
rows=${3:-600}
"$root/bench/configure.sh" "$build"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
cmake --build "$build" --target app_crash_consistency_test quillmart-cli >"$log" 2>&1 || { cat "$log"; exit 1; }

echo "date: $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //')"
echo "table: $rows products to start with (reset when it passes three times that)"
status=0
QM_KILL_COUNT=$kills QM_KILL_ROWS=$rows QM_KILL_PEER_EVERY=${QM_KILL_PEER_EVERY:-4} \
  "$build/tests/app/app_crash_consistency_test" --gtest_brief=1 >"$log" 2>&1 || status=$?
grep -v '^Running main\|^\[' "$log" | sed '/^$/d'
exit $status
