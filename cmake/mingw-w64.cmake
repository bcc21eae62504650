# CMake toolchain file: 64-bit Windows with Debian's MinGW-w64 (posix thread model), against the libraries that
# scripts/windows-toolchain.sh builds (Qt, libcurl, libzip, libdeflate, zlib).
#
#   cmake -S . -B /tmp/zel-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
#
# The libraries' prefix is -DZEL_WINDOWS_PREFIX=DIR, else the environment variable of that name, else what
# `scripts/windows-toolchain.sh --print-prefix` answers (it fails when the prefix is not built yet).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

# The posix thread model: its libstdc++ has std::thread, std::mutex and std::jthread; the win32 model has not.
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

if(NOT ZEL_WINDOWS_PREFIX)
    if(DEFINED ENV{ZEL_WINDOWS_PREFIX})
        set(ZEL_WINDOWS_PREFIX "$ENV{ZEL_WINDOWS_PREFIX}")
    else()
        execute_process(COMMAND "${CMAKE_CURRENT_LIST_DIR}/../scripts/windows-toolchain.sh" --print-prefix
                        OUTPUT_VARIABLE ZEL_WINDOWS_PREFIX OUTPUT_STRIP_TRAILING_WHITESPACE
                        RESULT_VARIABLE _zel_rc)
        if(NOT _zel_rc EQUAL 0)
            message(FATAL_ERROR "No Windows libraries built: run scripts/windows-toolchain.sh first, "
                                "or pass -DZEL_WINDOWS_PREFIX=DIR")
        endif()
    endif()
endif()
set(ZEL_WINDOWS_PREFIX "${ZEL_WINDOWS_PREFIX}" CACHE PATH "Prefix of the MinGW-w64 builds of the libraries")
# try_compile projects read this file again, without the cache.
set(ENV{ZEL_WINDOWS_PREFIX} "${ZEL_WINDOWS_PREFIX}")

# Programs (pkg-config, Python, the shell tools) are the host's; libraries, headers and packages only the
# prefix's, so that nothing of Linux's /usr leaks into a Windows build. MinGW's own runtime and Windows'
# import libraries come with the compiler and need no search path.
set(CMAKE_FIND_ROOT_PATH "${ZEL_WINDOWS_PREFIX}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Qt's code generators (moc, rcc, uic) come from Debian's qt6-base-dev-tools, the same Qt version.
set(QT_HOST_PATH /usr)
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake)

# pkg-config sees the prefix's .pc files only (Linux's would name Linux libraries).
set(ENV{PKG_CONFIG_LIBDIR} "${ZEL_WINDOWS_PREFIX}/lib/pkgconfig")
unset(ENV{PKG_CONFIG_PATH})
