#!/usr/bin/env bash
# Builds the program and starts it on a sample installation of both products (a scratch Windows folder
# whose profile files point at sample data folders) against a local FTP server with the account demo/demo,
# whose home holds a FIXED.ZIP made from the sample data.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
demo=${ZEL_DEMO_DIR:-/tmp/zel-demo}
port=${ZEL_DEMO_PORT:-2121}

"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build" --target zelftp -j "$(nproc)"

rm -rf "$demo"
mkdir -p "$demo/WINDOWS" "$demo/TOVA" "$demo/LEDGRA/data_qmx" "$demo/srv/home/demo" "$demo/fixed"
printf '[Paths]\r\nDataPath=%s\\\r\n' "$demo/TOVA" > "$demo/WINDOWS/tovacfg.ini"
printf '[General Information]\r\ndbpath=%s\r\nProgramName=PALVEX.EXE\r\n' "$demo/LEDGRA" > "$demo/WINDOWS/ledgra2.ini"
for f in CUSTOMER.DAT INVOICE.DAT STOCK.DAT; do echo "sample TOVA data: $f" > "$demo/TOVA/$f"; done
echo "sample Ledgra database" > "$demo/LEDGRA/ledgra2.mdb"
echo "sample online database" > "$demo/LEDGRA/norvane.mdb"
for f in ledger.qmx journal.qmx; do echo "sample Ledgra data: $f" > "$demo/LEDGRA/data_qmx/$f"; done
# The repaired data set as support would place it: both products' files, marked as repaired.
cp "$demo"/TOVA/* "$demo/LEDGRA/ledgra2.mdb" "$demo/LEDGRA/norvane.mdb" "$demo"/LEDGRA/data_qmx/* "$demo/fixed/"
for f in "$demo"/fixed/*; do echo "repaired by support" >> "$f"; done
(cd "$demo/fixed" && zip -q "$demo/srv/home/demo/FIXED.ZIP" ./*)

/usr/bin/python3 "$root/scripts/demo-ftpserver.py" "$demo/srv" "$port" &
server=$!
trap 'kill $server 2>/dev/null' EXIT
for _ in $(seq 100); do
    (echo >"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
    sleep 0.1
done

export WINDIR="$demo/WINDOWS" ZEL_FTP_HOST="127.0.0.1:$port"
echo "Sample installation in $demo. Log in with user name demo and password demo."
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    export QT_QPA_PLATFORM=vnc:size=1024x768:port=5900
    echo "No display here: the window is served over VNC on port 5900 (connect a VNC viewer to it)."
fi
"$root/build/src/zelftp"
