# 32-bit Windows, cross-built with Debian's MinGW-w64 (g++-mingw-w64-i686); tests run in a
# 32-bit Wine prefix (wine32:i386).
#   cmake -S . -B build-mingw32 --toolchain cmake/mingw-i686.cmake
set(CMAKE_SYSTEM_PROCESSOR i686)
set(QUILL_MINGW_TRIPLE i686-w64-mingw32)
set(QUILL_WINE_ARCH win32)
set(QUILL_WINE /usr/lib/wine/wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
