#!/usr/bin/env bash
# Builds the zip engine benchmark and runs it against Info-ZIP "zip -6" on the same data.
# Usage: bench/zip/run.sh [MiB]   (default 300)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build="$here/../../build-bench-zip"
cmake -S "$here" -B "$build" -G Ninja >/dev/null
cmake --build "$build" -j2 >"$build/build.log" || { cat "$build/build.log"; exit 1; }
"$build/zip_bench" "${1:-300}"
