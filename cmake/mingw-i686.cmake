# Cross-compiling the product: 32-bit Windows with MinGW-w64.
set(_kestrin_triple i686-w64-mingw32)
set(_kestrin_cpu x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# Test executables run under Wine, in the build tree's own 32-bit prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR "${_kestrin_root}/scripts/wine-run.sh")
