# quill check: the validator behind `quill check` (check*.cpp), and LLVM's RealtimeSanitizer
# runtime for its real-time check.
#
# The runtime (libclang_rt.rtsan-x86_64.a, Debian package libclang-rt-19-dev) is linked into
# quill whole-archive; quill then enters a real-time context around each call into a
# plug-in's processing entries. Without it the real-time check reports SKIP. It cannot be
# combined with another sanitizer (ASan, TSan), which intercepts the same functions.
#   -DQUILL_RTSAN=AUTO (default): link it when found and no other sanitizer is in use
#   -DQUILL_RTSAN=ON: require it; -DQUILL_RTSAN=OFF: never link it

add_library(quill_check_lib STATIC check.cpp check_groups.cpp check_realtime.cpp
                                   check_support.cpp)
target_include_directories(quill_check_lib PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(quill_check_lib PUBLIC quill_app_lib PRIVATE quill_warnings)
target_link_libraries(quill PRIVATE quill_check_lib)

set(QUILL_RTSAN AUTO CACHE STRING "Link the RealtimeSanitizer runtime into quill: AUTO, ON, OFF")
set_property(CACHE QUILL_RTSAN PROPERTY STRINGS AUTO ON OFF)

set(quill_rtsan_library "")
if(NOT QUILL_RTSAN STREQUAL "OFF")
    set(quill_rtsan_why "")
    string(FIND "${CMAKE_CXX_FLAGS} ${CMAKE_EXE_LINKER_FLAGS}" "-fsanitize" quill_other_sanitizer)
    if(CMAKE_CROSSCOMPILING OR NOT CMAKE_SIZEOF_VOID_P EQUAL 8
       OR NOT CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
        set(quill_rtsan_why "only for native x86_64 builds")
    elseif(NOT quill_other_sanitizer EQUAL -1)
        set(quill_rtsan_why "another sanitizer is in use")
    else()
        file(GLOB quill_rtsan_candidates
             /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.rtsan-x86_64.a
             /usr/lib/clang/*/lib/linux/libclang_rt.rtsan-x86_64.a
             /usr/lib/llvm-*/lib/clang/*/lib/x86_64-pc-linux-gnu/libclang_rt.rtsan.a)
        list(SORT quill_rtsan_candidates COMPARE NATURAL ORDER DESCENDING)
        if(NOT QUILL_RTSAN_LIBRARY AND quill_rtsan_candidates)
            list(GET quill_rtsan_candidates 0 quill_first)
            set(QUILL_RTSAN_LIBRARY ${quill_first} CACHE FILEPATH "RealtimeSanitizer runtime")
        endif()
        if(QUILL_RTSAN_LIBRARY)
            set(quill_rtsan_library ${QUILL_RTSAN_LIBRARY})
        else()
            set(quill_rtsan_why "libclang_rt.rtsan not found (apt-get install libclang-rt-19-dev)")
        endif()
    endif()
    if(quill_rtsan_library)
        message(STATUS "quill check: RealtimeSanitizer runtime ${quill_rtsan_library}")
        target_link_libraries(quill PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,${quill_rtsan_library}>"
                                            Threads::Threads ${CMAKE_DL_LIBS} rt m)
        set_property(GLOBAL PROPERTY QUILL_RTSAN_LINKED ON)
    elseif(QUILL_RTSAN STREQUAL "ON")
        message(FATAL_ERROR "QUILL_RTSAN=ON but no RealtimeSanitizer runtime: ${quill_rtsan_why}")
    else()
        message(STATUS "quill check: no RealtimeSanitizer runtime (${quill_rtsan_why}); "
                       "its real-time check will report SKIP")
    endif()
endif()
