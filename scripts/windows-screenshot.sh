#!/usr/bin/env bash
# scripts/windows-screenshot.sh ZELFTP_EXE OUT.png: shows the Windows program's main window under Wine on Xvfb, with
# Qt's windows platform plugin, on a sample TOVA installation against the demo FTP server (account demo/demo), does
# a Test Connection, a send and a receive through its keys, as a user would, and writes a screenshot of the
# screen. Called by scripts/windows.sh (ZEL_WINDOWS_SCREENSHOT=FILE), which builds the program and the Wine setup
# it needs. A script, not a test: it waits for the window's steps by watching the FTP server's home folder.
set -euo pipefail
exe=$(realpath "$1")
out=$(realpath -m "$2")
root=$(cd "$(dirname "$0")/.." && pwd)
work=${ZEL_DEMO_DIR:-/tmp/zel-wine-demo}
port=${ZEL_DEMO_PORT:-2122}
display=${ZEL_DEMO_DISPLAY:-:95}

rm -rf "$work"
mkdir -p "$work/TOVA" "$work/srv/home/demo" "$work/fixed"
for f in CUSTOMER.DAT INVOICE.DAT STOCK.DAT; do echo "sample TOVA data: $f" >"$work/TOVA/$f"; done
cp "$work"/TOVA/* "$work/fixed/"
for f in "$work"/fixed/*; do echo "repaired by support" >>"$f"; done
(cd "$work/fixed" && zip -q "$work/srv/home/demo/FIXED.ZIP" ./*)

# The display first: Wine's background processes, which the prefix's set-up starts, draw the program's windows.
Xvfb "$display" -screen 0 1024x768x24 -noreset >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=$display
for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done

# A Wine prefix of its own: the program finds the product's profile in Wine's Windows folder, as on a customer's
# machine, and shows real windows (the tests' prefix runs everything offscreen).
export WINEPREFIX=$work/wine WINEDEBUG=-all WINEARCH=win64 WINEDLLOVERRIDES="mscoree,mshtml="
"$root/scripts/wine-prefix.sh"
printf '[Paths]\r\nDataPath=Z:%s\\\r\n' "$(echo "$work/TOVA" | tr / '\\')" >"$WINEPREFIX/drive_c/windows/tovacfg.ini"

/usr/bin/python3 "$root/scripts/demo-ftpserver.py" "$work/srv" "$port" &
server=$!
cleanup() {
    kill "$server" "$xvfb" ${program:+"$program"} 2>/dev/null || true
    wait 2>/dev/null || true
    wineserver -k 2>/dev/null || true
}
trap cleanup EXIT

wait_for() { # a condition, up to three minutes (the first program of a new Wine prefix starts slowly)
    for _ in $(seq 1800); do eval "$1" && return 0; sleep 0.1; done
    echo "windows-screenshot: timed out waiting for: $1" >&2
    return 1
}
window_count() { xdotool search --onlyvisible --name 'ZEL FTP CLIENT' 2>/dev/null | wc -l; }
press() { # keys to the newest visible window of the program
    local w
    w=$(xdotool search --onlyvisible --name 'ZEL FTP CLIENT' | tail -n 1)
    xdotool windowactivate --sync "$w" >/dev/null 2>&1 || true
    xdotool key --window "$w" --delay 50 "$@" 2>/dev/null
}

(cd "$(dirname "$exe")" && exec env ZEL_FTP_HOST="127.0.0.1:$port" wine "$exe" -platform windows >"$work/zelftp.log" 2>&1) &
program=$!
# The start-up confirmation, then the main window.
wait_for '[ "$(window_count)" -ge 1 ]'
press Return
wait_for '[ "$(window_count)" -eq 1 ]'
press d e m o Tab d e m o alt+t
sleep 3
# Send Files: the backup warning, then the upload; the program deletes its local archive once it is sent.
press alt+s
wait_for '[ "$(window_count)" -eq 2 ]'
press Return
wait_for '[ -e "$work/srv/home/demo/ZEL.ZIP" ] && [ ! -e "$work/TOVA/ZEL.ZIP" ]'
sleep 1
# Receive Files: the backup warning, then the repaired data set in place.
press alt+r
wait_for '[ "$(window_count)" -eq 2 ]'
press Return
wait_for 'grep -q "repaired by support" "$work/TOVA/STOCK.DAT" 2>/dev/null && [ ! -e "$work/TOVA/ZEL-RECOVERY" ]'
sleep 2
import -window "$(xdotool search --onlyvisible --name 'ZEL FTP CLIENT' | head -n 1)" "$out"
echo "windows-screenshot: $out"
