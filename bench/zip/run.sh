#!/usr/bin/env bash
# Builds the zip engine benchmark and runs it against Info-ZIP "zip -6" and "unzip" on the same seeded data.
# Usage: bench/zip/run.sh [set...]   sets: 256M 1G 2G 5000 20000 (default: 256M 1G 5000)
# ZEL_BENCH_RUNS (default 3) runs of each, interleaved; ZEL_BENCH_DIR for the data (default /tmp).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build="$here/../../build-bench-zip"
cmake -S "$here" -B "$build" -G Ninja >/dev/null
cmake --build "$build" >"$build/build.log" 2>&1 || { cat "$build/build.log"; exit 1; }
"$build/zip_bench" "$@"
