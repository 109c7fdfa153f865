#!/usr/bin/env bash
# Browsing 100,000 products in key order through the Qt table model against the
# bare engine walking CATALOG.NDX in the same run, and editing 10,000 products
# (find by key, edit, post) through the dataset.
# Usage: bench/run-dataset.sh [BUILD_DIR] [RECORDS] [EDITS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
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
