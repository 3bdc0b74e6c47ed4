# 64-bit Windows, cross-built with Debian's MinGW-w64 (g++-mingw-w64-x86-64); tests run with
# wine64.
#   cmake -S . -B build-mingw64 --toolchain cmake/mingw-x86_64.cmake
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QUILL_MINGW_TRIPLE x86_64-w64-mingw32)
set(QUILL_WINE_ARCH win64)
set(QUILL_WINE /usr/lib/wine/wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
