# Cross-compiling for 32-bit Windows with MinGW-w64. The -posix variants are
# used because the -win32 thread model lacks std::mutex (GoogleTest needs it).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# libjpeg-turbo, cross-built by scripts/setup.sh, is found under the cache.
get_filename_component(_kestrin_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
list(APPEND CMAKE_FIND_ROOT_PATH "${_kestrin_root}/.cache/libjpeg-turbo-i686")

# Test executables run under Wine, in the build tree's own 32-bit prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR "${_kestrin_root}/scripts/wine-run.sh")
