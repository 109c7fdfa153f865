#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, ASan, UBSan) into build-fuzz/ and
# runs each for SECONDS (default 60), one after the other, seeded from
# fuzz/corpus/<target>/ and fuzz/regressions/<target>/. An input that crashes or hangs is kept under
# fuzz/regressions/<target>/ (ctest replays it from then on). Prints the
# executions each target ran.
#   fuzz/run.sh [SECONDS] [TARGET...]
# QM_FUZZ_PREBUILT=1 skips the build (targets built already, e.g. by a build still running).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(table_memo ndx_walk key_expr ftp_reply settings_file csv_import memo_free_space)

build="$root/build-fuzz"
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
[ "${QM_FUZZ_PREBUILT:-0}" = 1 ] || cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Fuzz -DCMAKE_CXX_FLAGS_FUZZ="-O1 -gline-tables-only" -DCMAKE_C_FLAGS_FUZZ="-O1" \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ "${launcher[@]}" \
  -DQM_FUZZ=ON -DQM_BUILD_TESTS=OFF -DQM_WITH_GUI=OFF -DQM_BUILD_BENCH=OFF >/dev/null || exit 1
[ "${QM_FUZZ_PREBUILT:-0}" = 1 ] || cmake --build "$build" -j2 --target "${targets[@]/#/fuzz_}" || exit 1

status=0
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
for t in "${targets[@]}"; do
  work="$build/run-$t"
  found="$here/regressions/$t"
  rm -rf "$work" && mkdir -p "$work/corpus" "$work/artifacts" "$found"
  cp "$here/corpus/$t/"* "$here/regressions/$t/"* "$work/corpus/" 2>/dev/null
  log="$work/fuzz.log"
  "$build/fuzz/fuzz_$t" "$work/corpus" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -max_len=65536 -artifact_prefix="$work/artifacts/" -print_final_stats=1 >"$log" 2>&1
  rc=$?
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1)
  [ -z "$runs" ] && runs=$(grep -o '#[0-9]*' "$log" | tail -1 | tr -d '#')
  kept=0
  for f in "$work/artifacts/"*; do
    [ -f "$f" ] || continue
    cp "$f" "$found/" && kept=$((kept + 1))
  done
  if [ $rc -eq 0 ] && [ $kept -eq 0 ]; then
    echo "$t: ${runs:-0} executions in ${seconds}s, clean"
  else
    echo "$t: ${runs:-0} executions, FAILED (exit $rc), $kept input(s) kept in fuzz/regressions/$t; log: $log"
    grep -m3 'ERROR:\|SUMMARY:\|runtime error' "$log" | sed 's/^/    /'
    status=1
  fi
done
exit $status
