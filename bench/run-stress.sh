#!/usr/bin/env bash
# Mixed-load stress at full size: eight quillmart-cli workers at once for
# SECONDS (60 by default) appending, changing, deleting and recalling products
# of their own on one table with CATALOG.NDX, then the checker of the stress
# test (tests/app/stress_check.py): commands per kind, refusals, throughput and
# the verdict. Exits non-zero when the verdict is FAIL.
# Usage: bench/run-stress.sh [BUILD_DIR] [SECONDS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/bench/configure.sh" "${1:-$root/build}"
build=$(cd "${1:-$root/build}" && pwd)
seconds=${2:-60}
cmake --build "$build" --target quillmart-cli >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "date: $(date -u '+%Y-%m-%d %H:%M UTC'); nproc: $(nproc); cpu: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
"$root/tests/app/stress_run.sh" "$build/bin/quillmart-cli" "$work/shop" "$seconds"
