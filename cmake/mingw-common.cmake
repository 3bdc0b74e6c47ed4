# Shared part of the MinGW-w64 toolchain files; include it after setting QUILL_MINGW_TRIPLE and
# CMAKE_SYSTEM_PROCESSOR.
#
# The posix threads variant of Debian's compilers (the `-posix` suffixed drivers) is used: its
# C++ runtime has std::thread and std::mutex, which the test host needs. Everything is linked
# with -static so that the DLL and the test programs need only system DLLs, under Wine as on
# Windows.
set(CMAKE_SYSTEM_NAME Windows)

find_program(QUILL_MINGW_CC NAMES ${QUILL_MINGW_TRIPLE}-gcc-posix ${QUILL_MINGW_TRIPLE}-gcc REQUIRED)
find_program(QUILL_MINGW_CXX NAMES ${QUILL_MINGW_TRIPLE}-g++-posix ${QUILL_MINGW_TRIPLE}-g++ REQUIRED)
set(CMAKE_C_COMPILER ${QUILL_MINGW_CC})
set(CMAKE_CXX_COMPILER ${QUILL_MINGW_CXX})
set(CMAKE_RC_COMPILER ${QUILL_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QUILL_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

set(QUILL_GTEST_FROM_SOURCE ON CACHE BOOL "Build GoogleTest from /usr/src/googletest")

# GoogleTest lists a program's tests when ctest runs, not at build time, so that building needs no
# Wine.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)

# Tests run under Wine. One prefix per architecture, reused across runs; Wine creates it on first
# use. mscoree/mshtml are disabled so that Wine does not offer to install Mono or Gecko.
set(QUILL_WINEPREFIX "/tmp/quillmont-wine-${QUILL_WINE_ARCH}" CACHE PATH
    "Wine prefix the tests run in (created on first use)")
# scripts/wine-run.sh starts a program again when Wine failed to start it at all, or when, under
# qemu-i386, Wine crashed while ending a program that had passed its tests.
set(CMAKE_CROSSCOMPILING_EMULATOR
    bash ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh
    env WINEPREFIX=${QUILL_WINEPREFIX} WINEARCH=${QUILL_WINE_ARCH} WINEDEBUG=-all
    WINEDLLOVERRIDES=mscoree,mshtml= ${QUILL_WINE})
