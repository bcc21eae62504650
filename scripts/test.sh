#!/usr/bin/env bash
# Everything CI checks, cheapest first; warnings are errors in every build:
#   1. clang-format: every C++ file as .clang-format wants it (any difference fails), and the layers below the
#      windows compiled for Windows with MinGW-w64 (scripts/check-windows.sh)
#   2. Release build with GCC, compile only (-O3 finds warnings the other builds do not)
#   3. Debug build with Clang, compile only, then clang-tidy on the lines changed (scripts/tidy.py)
#   4. the everyday build (GCC, RelWithDebInfo) and every test, in parallel
#   5. the sanitizer build and every test but the large-archive round trip again, leak detection on
# Knobs: ZEL_SKIP_CHECKS=1 skips 1-3, ZEL_SKIP_SANITIZE=1 skips 5, ZEL_TIDY_ALL=1 makes clang-tidy judge
# every line of every source (several minutes).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/install-deps.sh
jobs=$(nproc)
werror=-DCMAKE_COMPILE_WARNING_AS_ERROR=ON
# A preset's folder is configured afresh: when a folder made another way names another compiler, CMake wipes
# its cache and silently drops the preset's variables (a "sanitize" build without sanitizers).
configure() { cmake --preset "$1" --fresh "$werror" >/dev/null; }

step_start=$SECONDS
step() {
    [ -n "${step_name:-}" ] && echo "== $step_name: $((SECONDS - step_start)) s"
    step_name=$1
    step_start=$SECONDS
    [ -n "$step_name" ] && echo "== $step_name"
    return 0
}

if [ "${ZEL_SKIP_CHECKS:-0}" != 1 ]; then
    step "clang-format"
    git ls-files --cached --others --exclude-standard -- '*.cpp' '*.h' | xargs -r clang-format --dry-run -Werror

    step "Windows check (MinGW-w64)"
    scripts/check-windows.sh

    step "Release build (GCC)"
    configure release
    cmake --build --preset release -j "$jobs"

    step "Debug build (Clang)"
    configure clang-debug
    cmake --build --preset clang-debug -j "$jobs"

    step "clang-tidy"
    tidy_all=()
    [ "${ZEL_TIDY_ALL:-0}" = 1 ] && tidy_all=(--all)
    scripts/tidy.py build-clang-debug -j "$jobs" "${tidy_all[@]}"
fi

step "Build and tests (GCC, RelWithDebInfo)"
scripts/build.sh build "$werror"
(cd build && ctest --output-on-failure -j "$jobs")

if [ "${ZEL_SKIP_SANITIZE:-0}" != 1 ]; then
    step "Sanitizer build and tests"
    configure sanitize
    cmake --build --preset sanitize -j "$jobs"
    grep -q libasan <<<"$(ldd build-sanitize/src/zelftp)" || { echo "build-sanitize is not instrumented" >&2; exit 1; }
    # The test preset turns leak detection on, with scripts/lsan.supp, and leaves out the large test.
    ctest --preset sanitize -j "$jobs"
fi
