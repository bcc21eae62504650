#!/usr/bin/env bash
# scripts/install-deps.sh [windows] [bench]: installs the Debian packages the build, the tests, the CI checks and
# the demo need (only those missing); "windows" adds the MinGW-w64 compiler and Wine for scripts/check-windows.sh
# and scripts/windows.sh, "bench" what bench/run.sh needs besides.
set -euo pipefail
packages=(build-essential cmake ninja-build pkg-config git qt6-base-dev qt6-base-private-dev libgl-dev
          libcurl4-openssl-dev libzip-dev libdeflate-dev zlib1g-dev libssl-dev python3 python3-pyftpdlib
          python3-openssl zip unzip xvfb xauth fonts-dejavu-core clang clang-tidy clang-format)
for group in "$@"; do
    case $group in
        windows) packages+=(g++-mingw-w64-x86-64 libz-mingw-w64-dev wine64 wine imagemagick) ;;
        # curl is the peer; matplotlib draws the plot; libwrap0 is what the unpacked vsftpd links against.
        bench) packages+=(curl python3-matplotlib libwrap0) ;;
        *) echo "install-deps.sh: unknown group '$group' (known: windows, bench)" >&2; exit 2 ;;
    esac
done
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
