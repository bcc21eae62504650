#!/usr/bin/env bash
# scripts/windows-toolchain.sh [--print-prefix | --print-key]
#
# Builds, once, the libraries a Windows build of the project needs, cross-compiled with Debian's MinGW-w64
# (posix threads) from Debian's source packages of the same versions as the Linux ones: zlib, libdeflate,
# libzip (zlib, Windows' own crypto for AES), libcurl (Schannel TLS) and qtbase (Core, Gui, Widgets,
# Network, Test; the windows platform plugin and the Schannel TLS plugin). All are shared DLLs.
#
#   (no option)     installs what is missing (apt-get), builds the prefix unless already complete, and
#                   prints the prefix on the last line of standard output
#   --print-prefix  prints the prefix and exits 0 when it is complete; exits 1 otherwise (builds nothing)
#   --print-key     prints the cache key (builds nothing)
#
# ZEL_WINDOWS_CACHE  the cache folder (default /var/cache/zel-windows); the prefix is $ZEL_WINDOWS_CACHE/KEY/prefix,
#                    KEY made of the recipe number below and the versions of the compiler and of the sources,
#                    so that a changed recipe or a new Debian version builds a new prefix beside the old one
# ZEL_WINDOWS_JOBS   parallel build jobs (default: the number of cores)
#
# The prefix counts as complete only when KEY/complete exists, written last. A killed or failed run goes on
# where it stopped: finished steps have their own stamps in KEY/work, an unfinished one builds again in its
# build folder (Ninja redoes whatever it has not recorded as done); a complete run removes KEY/work.
#
# cmake/mingw-w64.cmake is the toolchain file that goes with it (-DCMAKE_TOOLCHAIN_FILE=...). Shared DLLs
# rather than static: Qt's plugins load as usual, the many test programs link fast, and Qt stays replaceable
# (LGPL). A packed program needs beside it, from PREFIX/bin: Qt6Core, Qt6Gui, Qt6Widgets, Qt6Network,
# libcurl, libzip, libdeflate, libzlib, libgcc_s_seh-1, libstdc++-6, libwinpthread-1 (.dll; the MinGW runtime
# is copied there), and from PREFIX/plugins: platforms/qwindows.dll, styles/qwindowsvistastyle.dll (the
# native look) and tls/qschannelbackend.dll (Qt's own TLS, if used). To run one from a build tree under
# Wine: WINEPATH="PREFIX/bin" wine prog.exe (Qt6Core.dll finds PREFIX/plugins relative to itself).
set -euo pipefail

# Bump when anything below changes what is built.
recipe=1

root=$(cd "$(dirname "$0")/.." && pwd)
cache=$(realpath -m "${ZEL_WINDOWS_CACHE:-/var/cache/zel-windows}")
jobs=${ZEL_WINDOWS_JOBS:-$(nproc)}
toolchain=$root/cmake/mingw-w64.cmake
triplet=x86_64-w64-mingw32

# Linux package whose source version this build follows, by the Debian source package built.
declare -A follows=([zlib]=zlib1g-dev [libdeflate]=libdeflate-dev [libzip]=libzip-dev
                    [curl]=libcurl4-openssl-dev [qt6-base]=qt6-base-dev)
order=(zlib libdeflate libzip curl qt6-base)

packages=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
          cmake ninja-build make pkg-config dpkg-dev xz-utils bzip2 patch perl
          qt6-base-dev qt6-base-dev-tools zlib1g-dev libdeflate-dev libzip-dev libcurl4-openssl-dev)

log() { echo "windows-toolchain: $*" >&2; }

installed_version() { dpkg-query -W -f='${Status}|${Version}|${source:Version}\n' "$1" 2>/dev/null |
                          awk -F'|' -v want="$2" '$1 == "install ok installed" { print (want == "src" ? $3 : $2) }'; }

install_missing() {
    local missing=() p
    for p in "${packages[@]}"; do
        [ -n "$(installed_version "$p" bin)" ] || missing+=("$p")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        log "installing: ${missing[*]}"
        apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
    fi
}

# Fills versions[] (source package -> Debian version) and key; fails when a package is not installed.
declare -A versions
compute_key() {
    local src v ids
    ids="recipe=$recipe"
    for p in g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev; do
        v=$(installed_version "$p" bin)
        [ -n "$v" ] || { log "$p is not installed"; return 1; }
        ids+=" $p=$v"
    done
    for src in "${order[@]}"; do
        v=$(installed_version "${follows[$src]}" src)
        [ -n "$v" ] || { log "${follows[$src]} is not installed"; return 1; }
        versions[$src]=$v
        ids+=" $src=$v"
    done
    local qt=${versions[qt6-base]%%+*}
    key="r$recipe-gcc$("$triplet-gcc-posix" -dumpversion | sed 's/-posix//')-qt$qt-$(echo "$ids" | sha256sum | cut -c1-10)"
    key_ids=$ids
}

case ${1:-} in
    --print-key) compute_key; echo "$key"; exit 0 ;;
    --print-prefix)
        compute_key || exit 1
        [ -e "$cache/$key/complete" ] || { log "not built: $cache/$key"; exit 1; }
        echo "$cache/$key/prefix"; exit 0 ;;
    "") ;;
    *) log "unknown option '$1' (known: --print-prefix, --print-key)"; exit 2 ;;
esac

[ "$(id -u)" -eq 0 ] || { log "run as root (it installs packages and writes $cache)"; exit 2; }
install_missing
compute_key
top=$cache/$key
prefix=$top/prefix
if [ -e "$top/complete" ]; then
    log "reusing $top"
    echo "$prefix"
    exit 0
fi

work=$top/work
mkdir -p "$prefix" "$work/logs" "$work/stamps"
log "building into $top ($key_ids)"
times=()

# Runs "$@" with its output in the step's log; on failure shows the log's end.
run() {
    local logf=$work/logs/$step.log
    if ! "$@" >>"$logf" 2>&1; then
        log "$step failed: $*"
        tail -n 40 "$logf" >&2
        exit 1
    fi
}

# Debian's source packages through an apt configuration of our own: the system's sources and lists stay as
# they are. Security and point-release updates are in the other suites.
fetch_sources() {
    local apt=$work/apt
    mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial" "$work/dl"
    cat >"$apt/sources.list" <<'EOF'
deb-src http://deb.debian.org/debian bookworm main
deb-src http://deb.debian.org/debian bookworm-updates main
deb-src http://deb.debian.org/debian-security bookworm-security main
EOF
    apt_opts=(-o "Dir::Etc::SourceList=$apt/sources.list" -o Dir::Etc::SourceParts=/dev/null
              -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache" -o APT::Sandbox::User=root)
    step=fetch run apt-get "${apt_opts[@]}" update
}

# Unpacks SRC (Debian patches applied, then our changes, if any: prepare_SRC) into $work/src/SRC, once.
unpack() {
    local src=$1 dsc
    [ -e "$work/stamps/unpacked-$src" ] && return
    rm -rf "$work/src/$src"
    mkdir -p "$work/src"
    (cd "$work/dl" && step=$src run apt-get "${apt_opts[@]}" source --download-only "$src=${versions[$src]}")
    dsc=$(ls "$work/dl/${src}_${versions[$src]#*:}.dsc")
    run dpkg-source -x "$dsc" "$work/src/$src"
    if declare -F "prepare_$src" >/dev/null; then "prepare_$src"; fi
    touch "$work/stamps/unpacked-$src"
}

cmake_lib() {
    local src=$1; shift
    run cmake -S "$work/src/$src" -B "$work/build/$src" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DZEL_WINDOWS_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" "$@"
    run cmake --build "$work/build/$src" -j "$jobs"
    run cmake --install "$work/build/$src"
}

prepare_zlib() {
    # Debian's tarball leaves out win32/, whose resource script the MinGW branch compiles in.
    sed -i 's|^if(MINGW)$|if(MINGW AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/win32/zlib1.rc)|' "$work/src/zlib/CMakeLists.txt"
}

build_zlib() {
    cmake_lib zlib -DINSTALL_PKGCONFIG_DIR="$prefix/lib/pkgconfig"
}

build_libdeflate() {
    # 1.14 has only a Makefile, which makes the DLL and its import library but installs neither well for
    # Windows: put them where MinGW looks (bin/, lib/libdeflate.dll.a) and describe them for pkg-config
    # and for CMake (the target names of libdeflate's own CMake package since 1.15).
    local s=$work/src/libdeflate
    run make -C "$s" -j "$jobs" CC="$triplet-gcc-posix" AR="$triplet-ar" libdeflate.dll
    install -D -m755 "$s/libdeflate.dll" "$prefix/bin/libdeflate.dll"
    install -D -m644 "$s/libdeflate.lib" "$prefix/lib/libdeflate.dll.a"
    install -D -m644 "$s/libdeflate.h" "$prefix/include/libdeflate.h"
    local v=${versions[libdeflate]%%-*}
    mkdir -p "$prefix/lib/pkgconfig" "$prefix/lib/cmake/libdeflate"
    cat >"$prefix/lib/pkgconfig/libdeflate.pc" <<EOF
prefix=$prefix
includedir=\${prefix}/include
libdir=\${prefix}/lib

Name: libdeflate
Description: Fast implementation of DEFLATE, zlib, and gzip
Version: $v
Libs: -L\${libdir} -ldeflate
Cflags: -I\${includedir} -DLIBDEFLATE_DLL
EOF
    cat >"$prefix/lib/cmake/libdeflate/libdeflate-config.cmake" <<'EOF'
# Written by scripts/windows-toolchain.sh: libdeflate 1.14 has no CMake package of its own.
get_filename_component(_libdeflate_prefix "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)
if(NOT TARGET libdeflate::libdeflate_shared)
    add_library(libdeflate::libdeflate_shared SHARED IMPORTED)
    set_target_properties(libdeflate::libdeflate_shared PROPERTIES
        IMPORTED_LOCATION "${_libdeflate_prefix}/bin/libdeflate.dll"
        IMPORTED_IMPLIB "${_libdeflate_prefix}/lib/libdeflate.dll.a"
        INTERFACE_INCLUDE_DIRECTORIES "${_libdeflate_prefix}/include"
        INTERFACE_COMPILE_DEFINITIONS LIBDEFLATE_DLL)
endif()
unset(_libdeflate_prefix)
EOF
    cat >"$prefix/lib/cmake/libdeflate/libdeflate-config-version.cmake" <<EOF
set(PACKAGE_VERSION "$v")
if(PACKAGE_FIND_VERSION VERSION_GREATER PACKAGE_VERSION)
    set(PACKAGE_VERSION_COMPATIBLE FALSE)
else()
    set(PACKAGE_VERSION_COMPATIBLE TRUE)
    if(PACKAGE_FIND_VERSION STREQUAL PACKAGE_VERSION)
        set(PACKAGE_VERSION_EXACT TRUE)
    endif()
endif()
EOF
}

build_libzip() {
    # AES through Windows' own BCrypt, as the Linux build has it through GnuTLS; no bzip2 or xz entries.
    cmake_lib libzip -DBUILD_SHARED_LIBS=ON -DENABLE_WINDOWS_CRYPTO=ON -DENABLE_COMMONCRYPTO=OFF \
        -DENABLE_GNUTLS=OFF -DENABLE_MBEDTLS=OFF -DENABLE_OPENSSL=OFF -DENABLE_BZIP2=OFF -DENABLE_LZMA=OFF \
        -DBUILD_TOOLS=OFF -DBUILD_REGRESS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_DOC=OFF
}

prepare_curl() {
    # Debian's series ends with the GnuTLS and NSS flavours' renames; its OpenSSL build takes them off too.
    (cd "$work/src/curl" && run patch -R -p1 -i debian/patches/99_nss.patch &&
                            run patch -R -p1 -i debian/patches/90_gnutls.patch)
}

build_curl() {
    cmake_lib curl -DBUILD_SHARED_LIBS=ON -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF -DENABLE_MANUAL=OFF \
        -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF -DCURL_USE_LIBSSH2=OFF -DUSE_LIBIDN2=OFF \
        -DUSE_NGHTTP2=OFF -DCURL_ZLIB=ON -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF -DCURL_DISABLE_LDAP=ON \
        -DCURL_CA_BUNDLE=none -DCURL_CA_PATH=none
}

build_qt6-base() {
    # Bundled third-party code rather than the prefix's: Qt's own copies are tested with this version.
    # tabletevent: Debian's source leaves out wintab.h. OpenGL stays on (dynamic OpenGL): without it the
    # 6.4.2 windows platform plugin does not compile. directwrite3: with Direct2D off, QtGui leaves out the
    # DirectWrite font database that the plugin still refers to (it is opt-in; GDI's is the default).
    cmake_lib qt6-base -DBUILD_SHARED_LIBS=ON -DQT_HOST_PATH=/usr \
        -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
        -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
        -DFEATURE_sql=OFF -DFEATURE_dbus=OFF -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF \
        -DFEATURE_xml=OFF -DFEATURE_direct2d=OFF -DFEATURE_jpeg=OFF -DFEATURE_openssl=OFF \
        -DFEATURE_tabletevent=OFF -DFEATURE_directwrite3=OFF -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF \
        -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_freetype=OFF -DFEATURE_system_png=OFF \
        -DFEATURE_system_doubleconversion=OFF
}

# The MinGW runtime beside the DLLs, so that PREFIX/bin alone is the whole run-time search path.
copy_runtime() {
    local f
    for f in libgcc_s_seh-1.dll libstdc++-6.dll libwinpthread-1.dll; do
        install -m755 "$("$triplet-g++-posix" -print-file-name="$f")" "$prefix/bin/$f"
    done
}

# A program using every library the way the project finds them must configure, compile and link.
smoke() {
    local s=$work/smoke
    rm -rf "$s" "$work/build/smoke"
    mkdir -p "$s"
    cat >"$s/CMakeLists.txt" <<'EOF'
cmake_minimum_required(VERSION 3.25)
project(smoke LANGUAGES C CXX)
find_package(Qt6 REQUIRED COMPONENTS Core Gui Widgets Network Test)
find_package(CURL REQUIRED)
find_package(ZLIB REQUIRED)
find_package(libzip CONFIG REQUIRED)
find_package(libdeflate CONFIG REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBDEFLATE REQUIRED IMPORTED_TARGET libdeflate)
add_executable(smoke WIN32 smoke.cpp)
target_link_libraries(smoke PRIVATE Qt6::Widgets Qt6::Network Qt6::Test CURL::libcurl ZLIB::ZLIB libzip::zip
                                    libdeflate::libdeflate_shared PkgConfig::LIBDEFLATE)
EOF
    cat >"$s/smoke.cpp" <<'EOF'
#include <QApplication>
#include <QLabel>
#include <QSslSocket>
#include <curl/curl.h>
#include <libdeflate.h>
#include <zip.h>
#include <zlib.h>
int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QLabel label(QString::fromLatin1(curl_version()) + QString::fromLatin1(zlibVersion()) +
                 QString::fromLatin1(zip_libzip_version()) + QSslSocket::activeBackend());
    libdeflate_free_compressor(libdeflate_alloc_compressor(6));
    label.show();
    return 0;
}
EOF
    run cmake -S "$s" -B "$work/build/smoke" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DZEL_WINDOWS_PREFIX="$prefix"
    run cmake --build "$work/build/smoke"
}

timed() {
    local name=$1; shift
    if [ -e "$work/stamps/$name" ]; then
        log "$name: done before"
        return
    fi
    local t0=$SECONDS
    log "$name ..."
    step=$name "$@"
    touch "$work/stamps/$name"
    times+=("$name $((SECONDS - t0)) s")
    log "$name: $((SECONDS - t0)) s"
}

t_all=$SECONDS
fetch_sources
build() { unpack "$1"; "build_$1"; }
for src in "${order[@]}"; do
    timed "$src" build "$src"
done
timed runtime copy_runtime
timed smoke smoke

{
    echo "key: $key"
    echo "$key_ids" | tr ' ' '\n'
    echo "toolchain: cmake/mingw-w64.cmake"
    echo "built $(date -u +%Y-%m-%dT%H:%M:%SZ) in $((SECONDS - t_all)) s this run:"
    printf '  %s\n' "${times[@]}"
} >"$prefix/BUILDINFO"
rm -rf "$top/logs"
mv "$work/logs" "$top/logs"
rm -rf "$work"
touch "$top/complete"
log "complete: $top ($(du -sh "$prefix" | cut -f1))"
echo "$prefix"
