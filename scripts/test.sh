#!/usr/bin/env bash
# Builds everything and runs every test, then the same tests again under address and
# undefined-behaviour sanitizers (the large-archive round trip runs in the plain build only).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
jobs=$(nproc)

"$root/scripts/build.sh" "$root/build"
(cd "$root/build" && ctest --output-on-failure -j "$jobs")

if [ "${ZEL_SKIP_SANITIZE:-0}" != 1 ]; then
    "$root/scripts/build.sh" "$root/build-sanitize" -DZEL_SANITIZE=ON
    (cd "$root/build-sanitize" && ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
        ctest --output-on-failure -j "$jobs" -LE large)
fi
