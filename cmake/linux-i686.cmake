# 32-bit x86 Linux with the host's compiler in -m32 mode (Debian: g++-multilib).
#   cmake -S . -B build-i686 --toolchain cmake/linux-i686.cmake
# The 32-bit programs run natively on an x86_64 kernel with IA-32 emulation; on a kernel without
# it (booted with ia32_emulation=off, as some VMs are) tests run under qemu-i386 (qemu-user).
# Tests that start 32-bit programs themselves (quill's command-line tests) need the kernel to hand
# those to qemu-i386 too: scripts/platforms.sh registers it as a binfmt_misc handler for the run.
# GoogleTest is built from source here: Debian ships its libraries for the host architecture only.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT "-m32")
set(CMAKE_CXX_FLAGS_INIT "-m32")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")

# Look for 32-bit libraries in the multiarch directories, not the host's.
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set_property(GLOBAL PROPERTY FIND_LIBRARY_USE_LIB64_PATHS OFF)
set_property(GLOBAL PROPERTY FIND_LIBRARY_USE_LIB32_PATHS ON)

set(QUILL_GTEST_FROM_SOURCE ON CACHE BOOL "Build GoogleTest from /usr/src/googletest")

# Can this kernel run a 32-bit program (natively, or through a binfmt_misc handler)? Probed at
# every configure, since a handler may come and go; set QUILL_I686_EMULATOR to skip the probe.
if(NOT DEFINED CACHE{QUILL_I686_EMULATOR})
    set(probe_dir ${CMAKE_BINARY_DIR}/CMakeFiles/i686-probe)
    file(MAKE_DIRECTORY ${probe_dir})
    file(WRITE ${probe_dir}/probe.c "int main(void) { return sizeof(void*) == 4 ? 0 : 1; }\n")
    execute_process(COMMAND gcc -m32 probe.c -o probe WORKING_DIRECTORY ${probe_dir}
                    RESULT_VARIABLE probe_built OUTPUT_QUIET ERROR_QUIET)
    if(probe_built EQUAL 0)
        execute_process(COMMAND ${probe_dir}/probe RESULT_VARIABLE probe_ran
                        OUTPUT_QUIET ERROR_QUIET)
        if(NOT probe_ran EQUAL 0)
            find_program(QUILL_QEMU_I386 qemu-i386)
            if(QUILL_QEMU_I386)
                set(CMAKE_CROSSCOMPILING_EMULATOR ${QUILL_QEMU_I386})
            else()
                message(WARNING "This kernel cannot run 32-bit programs and qemu-i386 is missing "
                                "(apt-get install qemu-user): the tests will not run")
            endif()
        endif()
    endif()
elseif(QUILL_I686_EMULATOR)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${QUILL_I686_EMULATOR})
endif()
