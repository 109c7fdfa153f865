#!/usr/bin/env bash
# Installs the test packages too, builds Quillmart with its tests, benchmarks and
# Debian package, and runs every test: once in a normal build, then again,
# windows included (offscreen), under ASan and UBSan.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh --tests

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

echo "== Build and test (RelWithDebInfo) =="
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQM_BUILD_TESTS=ON -DQM_BUILD_BENCH=ON >/dev/null
cmake --build build -j "$jobs"
# The Debian package, which a test unpacks and starts.
cmake --build build -j "$jobs" --target package
ctest --test-dir build --output-on-failure -j "$jobs" --timeout 600

echo "== Build and test under AddressSanitizer and UndefinedBehaviorSanitizer =="
cmake -S . -B build-san -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" -DQM_SANITIZE=ON -DQM_BUILD_TESTS=ON \
      -DQM_WITH_GUI=ON -DQM_BUILD_BENCH=OFF >/dev/null
cmake --build build-san -j "$jobs"
ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-san --output-on-failure -j "$jobs" --timeout 900 -LE nosan
