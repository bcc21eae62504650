#!/usr/bin/env bash
# scripts/check-windows.sh: compiles every source below the window classes (src/platform, src/ftp, src/profile,
# src/archive, src/transfer; the files written for POSIX systems only left out) for Windows with MinGW-w64, syntax and warnings only (-fsyntax-only, warnings as errors), and
# reports every file that fails. Nothing is linked: Debian has no MinGW build of Qt, libcurl or libzip, so their
# Linux headers stand in (they are the same headers, configured for Linux); zlib is MinGW's own.
# Exit status: 0 when every file compiles, 1 otherwise.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
"$root/scripts/install-deps.sh" windows

# The POSIX thread model: its libstdc++ has std::thread and std::mutex, as MSVC's does (GCC 12's win32 model
# has neither, which is a fault of that toolchain, not of the code).
cxx=x86_64-w64-mingw32-g++-posix
command -v "$cxx" >/dev/null || cxx=x86_64-w64-mingw32-g++

# Only the libraries' own folders: all of /usr/include would put glibc's headers before MinGW's.
shim=$(mktemp -d)
trap 'rm -rf "$shim"' EXIT
ln -s /usr/include/x86_64-linux-gnu/curl "$shim/curl"
ln -s /usr/include/zip.h "$shim/zip.h"
ln -s /usr/include/zipconf.h "$shim/zipconf.h"
ln -s /usr/include/libdeflate.h "$shim/libdeflate.h"
# OpenSSL's headers are split between the common folder and the architecture's configuration.
mkdir "$shim/openssl"
ln -s /usr/include/openssl/* /usr/include/x86_64-linux-gnu/openssl/* "$shim/openssl/"
qt=/usr/include/x86_64-linux-gnu/qt6

# UNICODE and _UNICODE: what Qt's CMake targets define on Windows.
flags=(-std=c++20 -fsyntax-only -Wall -Wextra -Wpedantic -Werror
       -DQT_NO_KEYWORDS -DQT_NO_FOREACH -DQT_NO_CAST_TO_ASCII -DUNICODE -D_UNICODE
       -I"$root/src" -isystem "$shim" -isystem "$qt" -isystem "$qt/QtCore" -isystem "$qt/QtGui"
       -isystem "$qt/QtWidgets" -isystem "$qt/QtNetwork")

mapfile -t files < <(find src/platform src/ftp src/profile src/archive src/transfer -name '*.cpp' ! -name '*Posix.cpp' | sort)
# One response file for the flags, so that xargs can run the compiler on the files in parallel.
printf '"%s"\n' "${flags[@]}" >"$shim/flags.rsp"
mkdir "$shim/logs"
log_of() { echo "$shim/logs/$(echo "$1" | tr / _).log"; }
export -f log_of
export cxx shim
printf '%s\n' "${files[@]}" | xargs -P "$(nproc)" -I{} bash -c \
    'log=$(log_of "$1"); "$cxx" "@$shim/flags.rsp" "$1" >"$log" 2>&1 || touch "$log.failed"' _ {}

failed=()
for f in "${files[@]}"; do
    log=$(log_of "$f")
    if [ -e "$log.failed" ]; then
        failed+=("$f ($(grep -cE ': (fatal )?error: ' "$log") errors)")
        echo "=== $f"
        cat "$log"
    fi
done
echo
echo "MinGW-w64 ($("$cxx" -dumpversion)): ${#files[@]} files, $((${#files[@]} - ${#failed[@]})) compile, ${#failed[@]} fail"
for f in "${failed[@]}"; do
    echo "  FAILED: $f"
done
[ ${#failed[@]} -eq 0 ]
