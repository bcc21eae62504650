#!/usr/bin/env bash
# The workflow benchmark: Send Files and Receive Files against zip + curl and curl + unzip, side by side.
# Usage: bench/run.sh [--quick] [--runs N] [--sets KEYS] [--server pyftpdlib|vsftpd] [--work DIR] [--out DIR]
#   --quick leaves out the 2 GiB data set; see bench/workflows/bench.py --help for the rest.
# Installs what it needs, builds the project (Release) with the benchmark's programs in build-bench/, runs the
# benchmark on scratch data under /tmp (removed at the end), prints the table and writes bench/results/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

"$root/scripts/install-deps.sh" bench

build="$root/build-bench"
cmake -S "$root/bench/workflows" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
echo "Building in $build"
cmake --build "$build" -j "$(nproc)" >"$build/build.log" 2>&1 || { tail -50 "$build/build.log"; exit 1; }

exec /usr/bin/python3 "$root/bench/workflows/bench.py" --build "$build" "$@"
