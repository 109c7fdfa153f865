#!/usr/bin/env bash
# Makes sure BUILD_DIR (default: build/) is configured with the benchmarks and the
# tests, which a plain configure (./run.sh's) leaves out; bench/run-*.sh call it
# first. A build made elsewhere keeps its generator and build type.
# Usage: bench/configure.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
cache="$build/CMakeCache.txt"
if [ -f "$cache" ] && grep -qx 'QM_BUILD_TESTS:BOOL=ON' "$cache" && grep -qx 'QM_BUILD_BENCH:BOOL=ON' "$cache"; then
  exit 0
fi
args=(-DQM_BUILD_TESTS=ON -DQM_BUILD_BENCH=ON)
[ -f "$cache" ] || args+=(-G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo)
cmake -S "$root" -B "$build" "${args[@]}" >/dev/null
