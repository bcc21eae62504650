# Every library the project uses, found in one place and known by one name each:
#   CURL::libcurl, ZLIB::ZLIB, Threads::Threads, zel::libzip, zel::libdeflate, and OpenSSL::SSL where libcurl
#   speaks TLS through OpenSSL (not on Windows, where it uses the system's own);
#   with ZEL_WITH_QT (the default): Qt6 Core, Gui, Widgets, Network, and Test when the tests are built.
# The zip benchmark includes it without Qt, to build the layers it needs on their own.
option(ZEL_WITH_QT "Find Qt (the windows and the tests need it)" ON)
# Global: the benchmarks build the project as a sub-folder of their own and link its libraries from theirs.
set(CMAKE_FIND_PACKAGE_TARGETS_GLOBAL ON)
if(ZEL_WITH_QT)
    set(ZEL_QT_COMPONENTS Core Gui Widgets Network)
    if(BUILD_TESTING)
        list(APPEND ZEL_QT_COMPONENTS Test)
    endif()
    find_package(Qt6 REQUIRED COMPONENTS ${ZEL_QT_COMPONENTS})
endif()
find_package(CURL REQUIRED)
find_package(ZLIB REQUIRED)
find_package(Threads REQUIRED)
if(NOT WIN32)
    find_package(OpenSSL REQUIRED COMPONENTS Crypto SSL)
endif()

find_package(PkgConfig QUIET)
# libzip's own CMake config is broken on Debian and libdeflate 1.14 has none: pkg-config finds both there. On
# Windows vcpkg ships configs for both; a plain prefix (a cross-built one) is searched for the files themselves.
if(PKG_CONFIG_FOUND AND NOT WIN32)
    pkg_check_modules(LIBZIP REQUIRED IMPORTED_TARGET GLOBAL libzip>=1.7)
    pkg_check_modules(LIBDEFLATE REQUIRED IMPORTED_TARGET GLOBAL libdeflate)
    add_library(zel::libzip ALIAS PkgConfig::LIBZIP)
    add_library(zel::libdeflate ALIAS PkgConfig::LIBDEFLATE)
else()
    find_package(libzip CONFIG REQUIRED)
    add_library(zel::libzip INTERFACE IMPORTED GLOBAL)
    target_link_libraries(zel::libzip INTERFACE libzip::zip)
    add_library(zel::libdeflate INTERFACE IMPORTED GLOBAL)
    find_package(libdeflate CONFIG QUIET)
    if(TARGET libdeflate::libdeflate_shared)
        target_link_libraries(zel::libdeflate INTERFACE libdeflate::libdeflate_shared)
    elseif(TARGET libdeflate::libdeflate_static)
        target_link_libraries(zel::libdeflate INTERFACE libdeflate::libdeflate_static)
    else()
        find_path(LIBDEFLATE_INCLUDE_DIR libdeflate.h REQUIRED)
        find_library(LIBDEFLATE_LIBRARY NAMES deflate libdeflate REQUIRED)
        target_include_directories(zel::libdeflate INTERFACE ${LIBDEFLATE_INCLUDE_DIR})
        target_link_libraries(zel::libdeflate INTERFACE ${LIBDEFLATE_LIBRARY})
    endif()
endif()
