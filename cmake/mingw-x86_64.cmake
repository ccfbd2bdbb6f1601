# The same sources as 64-bit Windows programs, for testing only: where the
# kernel cannot start 32-bit programs, Wine can still run these, in a 64-bit
# prefix of their own. The product stays the 32-bit build.
set(_kestrin_triple x86_64-w64-mingw32)
set(_kestrin_cpu AMD64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

set(CMAKE_CROSSCOMPILING_EMULATOR "${_kestrin_root}/scripts/wine-run.sh;--win64")
