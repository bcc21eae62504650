#!/usr/bin/env bash
# scripts/windows.sh: the Windows build, made here and run under Wine, as one command (Debian 12, as root):
#   1. installs what it needs (MinGW-w64, Wine, Xvfb) and builds, or reuses, the Windows builds of the libraries
#      (scripts/windows-toolchain.sh: cached under /var/cache/zel-windows, ZEL_WINDOWS_CACHE moves it);
#   2. cross-builds zelftp.exe and every test in build-windows/ (warnings are errors);
#   3. packs zelftp-windows.zip: the program with the DLLs and Qt plugins it needs, to unpack and run on Windows
#      with nothing installed;
#   4. runs every test under Wine (offscreen, in a Wine prefix of its own in build-windows/wine), with the FTP
#      server and the archive tools on the Linux side of loopback, reached through the host bridge
#      (tests/support/hostbridge.py).
# Ends with CTest's own summary line. Knobs: ZEL_WINDOWS_TESTS (a CTest -R pattern) runs only those tests,
# ZEL_WINDOWS_SCREENSHOT=FILE also shows the packed program's window on Xvfb after a send and a receive against
# the demo server and writes a screenshot of it (scripts/windows-screenshot.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/install-deps.sh windows

prefix=$(scripts/windows-toolchain.sh | tail -n 1)
build=$root/build-windows
step_start=$SECONDS
step() { echo "== $1 ($((SECONDS - step_start)) s so far)"; }

step "Windows build (MinGW-w64) in $build"
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DZEL_WINDOWS_PREFIX="$prefix" \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_COMPILE_WARNING_AS_ERROR=ON -DCMAKE_CROSSCOMPILING_EMULATOR="$root/scripts/wine-run.sh" \
      >/dev/null
cmake --build "$build" -j "$(nproc)"

step "Packing zelftp-windows.zip"
pack=$build/zelftp-windows
rm -rf "$pack" "$root/zelftp-windows.zip"
mkdir -p "$pack"
cp "$build/src/zelftp.exe" "$pack/"
# The program's DLLs, found by asking each file what it imports until nothing new comes.
dlls_of() { x86_64-w64-mingw32-objdump -p "$1" | sed -n 's/^\s*DLL Name: //p'; }
queue=("$pack/zelftp.exe")
while [ ${#queue[@]} -gt 0 ]; do
    file=${queue[0]}
    queue=("${queue[@]:1}")
    while read -r dll; do
        [ -e "$pack/$dll" ] && continue
        found=$(find "$prefix/bin" -maxdepth 1 -iname "$dll" | head -n 1)
        [ -n "$found" ] || continue # a system DLL of Windows
        cp "$found" "$pack/"
        queue+=("$pack/$(basename "$found")")
    done < <(dlls_of "$file")
done
for plugin in platforms/qwindows.dll styles/qwindowsvistastyle.dll; do
    mkdir -p "$pack/$(dirname "$plugin")"
    cp "$prefix/plugins/$plugin" "$pack/$plugin"
done
(cd "$build" && zip -qr "$root/zelftp-windows.zip" zelftp-windows)
echo "zelftp-windows.zip: $(du -k "$root/zelftp-windows.zip" | cut -f1) KiB, $(ls "$pack" | wc -l) entries"

step "Wine prefix"
export WINEPREFIX=$build/wine WINEDEBUG=-all WINEARCH=win64
export WINEDLLOVERRIDES="mscoree,mshtml=" # no Mono or Gecko installer prompts
temp=/tmp/zel-wine-temp
mkdir -p "$temp"
if [ ! -e "$WINEPREFIX/system.reg" ]; then
    # Temporary files go where Linux programs reach them by the same name (Z: is /). Wine passes no QT_ variable
    # from Linux's environment, so the tests' ones are the prefix's own: the offscreen platform, and QtTest's
    # output on standard output (it writes to the debugger's log where no console is attached).
    scripts/wine-prefix.sh '[HKEY_CURRENT_USER\Environment]
"TEMP"="Z:\\tmp\\zel-wine-temp"
"TMP"="Z:\\tmp\\zel-wine-temp"
"QT_QPA_PLATFORM"="offscreen"
"QT_FORCE_STDERR_LOGGING"="1"'
fi
export WINEPATH="$prefix/bin"

step "Tests under Wine"
bridge_port=$build/hostbridge.port
rm -f "$bridge_port"
/usr/bin/python3 tests/support/hostbridge.py "$bridge_port" &
bridge=$!
trap 'kill $bridge 2>/dev/null; wineserver -k 2>/dev/null || /usr/lib/wine/wineserver -k 2>/dev/null || true' EXIT
for _ in $(seq 100); do [ -s "$bridge_port" ] && break; sleep 0.1; done
export ZEL_HOST_BRIDGE=$(cat "$bridge_port")
# One wineserver for the whole run: starting one per test costs seconds each. The first program started starts
# Wine's background services, which keep its standard output open: started here, not from a test whose output
# CTest reads to the end.
wineserver -p 2>/dev/null || true
wine cmd /c exit </dev/null >/dev/null 2>&1 || true
filter=()
[ -n "${ZEL_WINDOWS_TESTS:-}" ] && filter=(-R "$ZEL_WINDOWS_TESTS")
status=0
(cd "$build" && ctest --output-on-failure -j "$(nproc)" "${filter[@]}") | tee "$build/ctest.log" || status=1

if [ -n "${ZEL_WINDOWS_SCREENSHOT:-}" ]; then
    step "The window, seen"
    scripts/windows-screenshot.sh "$pack/zelftp.exe" "$ZEL_WINDOWS_SCREENSHOT"
fi
grep -E '^[0-9]+% tests passed' "$build/ctest.log" | tail -n 1
exit $status
