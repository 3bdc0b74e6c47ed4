// Plug-in scanners open and close a plug-in again and again. Ten thousand instances made through
// the module's `main` and ended with effClose must leave the heap exactly as they found it.
// Under AddressSanitizer the leak checker also runs; under either sanitizer the sanitizer's own
// allocator counts the bytes, otherwise the C library's.
#include "vst_abi.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstddef>
#include <cstdint>

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define QUILL_SANITIZER_ALLOCATOR 1
#endif
#if __has_feature(address_sanitizer)
#define QUILL_LEAK_CHECKER 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QUILL_SANITIZER_ALLOCATOR 1
#endif
#if defined(__SANITIZE_ADDRESS__)
#define QUILL_LEAK_CHECKER 1
#endif

#if defined(QUILL_SANITIZER_ALLOCATOR)
// The sanitizer runtimes' allocator statistics (not every compiler ships the header).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#else
#include <malloc.h>
#endif
#if defined(QUILL_LEAK_CHECKER)
#include <sanitizer/lsan_interface.h>
#endif

namespace {

using namespace quill;

constexpr const char* kModule = QUILLMONT_PATH;
constexpr int kWarmUpCycles = 100;
constexpr int kCycles = 10000;

std::size_t bytesInUse() {
#if defined(QUILL_SANITIZER_ALLOCATOR)
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}

intptr_t hostCallback(vst::AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) {
    return opcode == vst::audioMasterVersion ? 2400 : 1;
}

// One life of an instance as a scanning host gives it: create, ask, switch on, run a block,
// switch off, close.
bool cycle(vst::EntryProc entry) {
    vst::AEffect* effect = entry(hostCallback);
    if (effect == nullptr) {
        return false;
    }
    char text[64] = {};
    effect->dispatcher(effect, vst::effGetEffectName, 0, 0, text, 0.0f);
    effect->dispatcher(effect, vst::effGetProgramName, 0, 0, text, 0.0f);
    effect->setParameter(effect, 0, 0.0f);
    effect->dispatcher(effect, vst::effMainsChanged, 0, 1, nullptr, 0.0f);
    effect->processReplacing(effect, nullptr, nullptr, 64);
    effect->dispatcher(effect, vst::effMainsChanged, 0, 0, nullptr, 0.0f);
    return effect->dispatcher(effect, vst::effClose, 0, 0, nullptr, 0.0f) == 1;
}

// Hosts that scan load the module, create an instance, close it and unload the module, for
// every plug-in on every scan. The C++ runtime linked into the module used to keep its
// emergency exception pool (about 71 KiB) allocated after each unload.
TEST(LeakCycles, UnloadingTheModuleLeavesNoRuntimeMemoryBehind) {
    const auto loadCycle = [] {
        void* library = dlopen(kModule, RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) {
            return false;
        }
        auto entry = reinterpret_cast<vst::EntryProc>(dlsym(library, "main"));
        const bool ok = entry != nullptr && cycle(entry);
        return dlclose(library) == 0 && ok;
    };
    // The dynamic loader grows some tables of its own over the first loads; not a leak.
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(loadCycle()) << dlerror();
    }
    const std::size_t before = bytesInUse();
    for (int i = 0; i < 50; ++i) {
        ASSERT_TRUE(loadCycle()) << dlerror();
    }
    EXPECT_EQ(bytesInUse(), before) << "bytes still allocated after 50 loads and unloads";
}

TEST(LeakCycles, TenThousandInstancesThroughMainAndEffCloseLeaveTheHeapAsTheyFoundIt) {
    void* library = dlopen(kModule, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    auto entry = reinterpret_cast<vst::EntryProc>(dlsym(library, "main"));
    ASSERT_NE(entry, nullptr);

    // The first instances on a thread may set up its thread-local storage; not a leak.
    for (int i = 0; i < kWarmUpCycles; ++i) {
        ASSERT_TRUE(cycle(entry));
    }
    const std::size_t before = bytesInUse();
    int failures = 0;
    for (int i = 0; i < kCycles; ++i) {
        failures += cycle(entry) ? 0 : 1;
    }
    const std::size_t after = bytesInUse();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(after, before) << "bytes still allocated after " << kCycles << " closed instances";
#if defined(QUILL_LEAK_CHECKER)
    EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0);
#endif
    dlclose(library);
}

} // namespace
