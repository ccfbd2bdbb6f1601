# Shared by the MinGW-w64 toolchain files; they set _kestrin_triple and
# _kestrin_cpu first. The -posix variants are used because the -win32 thread
# model lacks std::mutex (GoogleTest needs it).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${_kestrin_cpu})

set(CMAKE_C_COMPILER ${_kestrin_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_kestrin_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${_kestrin_triple}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${_kestrin_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# libjpeg-turbo, cross-built by scripts/setup.sh, is found under the cache.
get_filename_component(_kestrin_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
string(REGEX REPLACE "-.*" "" _kestrin_arch "${_kestrin_triple}")
list(APPEND CMAKE_FIND_ROOT_PATH "${_kestrin_root}/.cache/libjpeg-turbo-${_kestrin_arch}")
