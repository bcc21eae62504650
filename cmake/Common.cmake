# zel_common: what every target of the project compiles with (C++20, warnings, include root, sanitizers).
option(ZEL_SANITIZE "Build with address, leak and undefined-behaviour sanitizers (GCC and Clang)" OFF)
# Warnings are errors only where asked: CI configures with -DCMAKE_COMPILE_WARNING_AS_ERROR=ON (CMake's own
# switch, which also knows the MSVC spelling). A user's build on a newer compiler keeps building.
add_library(zel_common INTERFACE)
target_compile_features(zel_common INTERFACE cxx_std_20)
if(MSVC)
    target_compile_options(zel_common INTERFACE /W4 /utf-8)
else()
    target_compile_options(zel_common INTERFACE -Wall -Wextra -Wpedantic)
endif()
# GCC 12 at -O3 warns about overlapping copies inside std::string's operator+ (const char* + string&&) that
# cannot happen (GCC bug 105651); the other build types keep the warning.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(zel_common INTERFACE $<$<CONFIG:Release>:-Wno-restrict>)
endif()
target_compile_definitions(zel_common INTERFACE QT_NO_KEYWORDS QT_NO_FOREACH QT_NO_CAST_TO_ASCII)
# Sources name each other from the top of src/, whichever project includes this file.
target_include_directories(zel_common INTERFACE ${CMAKE_CURRENT_LIST_DIR}/../src)
if(ZEL_SANITIZE)
    if(MSVC)
        message(FATAL_ERROR "ZEL_SANITIZE is for GCC and Clang")
    endif()
    target_compile_options(zel_common INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer
                                                -fno-sanitize-recover=undefined)
    target_link_options(zel_common INTERFACE -fsanitize=address,undefined)
endif()
