// Memory: a program table that cannot be had leaves no instance and nothing allocated, closing
// releases everything, and the block routine allocates nothing.
//
// This file replaces the global allocation functions of the whole test program with counting ones
// that can be told to fail the next nothrow allocation. Failing is off unless a test arms it, and
// arming affects exactly one allocation, so the rest of the program is unaffected.
#include "plug_harness.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <vector>

#if defined(__GNUC__) && !defined(__clang__)
// The replacements below pair malloc with free themselves.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

namespace {

std::atomic<std::int64_t> liveAllocations{0};
std::atomic<std::int64_t> allocationCalls{0};
std::atomic<bool> failNextNothrowArray{false};
std::atomic<bool> failNextNothrowScalar{false};

void* allocate(std::size_t size) noexcept {
    void* memory = std::malloc(size == 0 ? 1 : size);
    allocationCalls.fetch_add(1, std::memory_order_relaxed);
    if (memory != nullptr) {
        liveAllocations.fetch_add(1, std::memory_order_relaxed);
    }
    return memory;
}

void release(void* memory) noexcept {
    if (memory != nullptr) {
        liveAllocations.fetch_sub(1, std::memory_order_relaxed);
        std::free(memory);
    }
}

} // namespace

void* operator new(std::size_t size) {
    if (void* memory = allocate(size)) {
        return memory;
    }
    throw std::bad_alloc();
}

void* operator new[](std::size_t size) {
    if (void* memory = allocate(size)) {
        return memory;
    }
    throw std::bad_alloc();
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    if (failNextNothrowScalar.exchange(false)) {
        return nullptr;
    }
    return allocate(size);
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    if (failNextNothrowArray.exchange(false)) {
        return nullptr;
    }
    return allocate(size);
}

void operator delete(void* memory) noexcept {
    release(memory);
}
void operator delete[](void* memory) noexcept {
    release(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
    release(memory);
}
void operator delete[](void* memory, std::size_t) noexcept {
    release(memory);
}
void operator delete(void* memory, const std::nothrow_t&) noexcept {
    release(memory);
}
void operator delete[](void* memory, const std::nothrow_t&) noexcept {
    release(memory);
}

namespace quill::test {
namespace {

// A host that keeps the opcode of every request, the version query included, without allocating.
struct RequestLog {
    std::int32_t opcodes[16];
    std::size_t count = 0;
    std::vector<std::int32_t> list() const { return {opcodes, opcodes + count}; }
};
RequestLog requests;

VstIntPtr QUILL_CALL loggingHost(AEffect*, std::int32_t opcode, std::int32_t, VstIntPtr, void*,
                                 float) {
    if (requests.count < 16) {
        requests.opcodes[requests.count++] = opcode;
    }
    return opcode == audioMasterVersion ? 2400 : 0;
}

TEST(Allocation, ProgramTableFailureLeavesNoInstanceAndNothingAllocated) {
    const std::int64_t before = liveAllocations.load();
    failNextNothrowArray = true;
    EffectBase* object = createEffectInstance(&loggingHost);
    const bool armedFailureUsed = !failNextNothrowArray.exchange(false);
    EXPECT_TRUE(armedFailureUsed);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(liveAllocations.load(), before);
}

TEST(Allocation, EntryPointAnswersNullWhenTheProgramTableFails) {
    requests.count = 0;
    const std::int64_t before = liveAllocations.load();
    failNextNothrowArray = true;
    AEffect* effect = pluginMain(&loggingHost, &createEffectInstance);
    const bool armedFailureUsed = !failNextNothrowArray.exchange(false);
    EXPECT_TRUE(armedFailureUsed);
    EXPECT_EQ(effect, nullptr);
    EXPECT_EQ(liveAllocations.load(), before);
    EXPECT_EQ(requests.list(), std::vector<std::int32_t>{audioMasterVersion});
}

TEST(Allocation, EntryPointAnswersNullWhenTheObjectFails) {
    const std::int64_t before = liveAllocations.load();
    failNextNothrowScalar = true;
    AEffect* effect = pluginMain(&loggingHost, &createEffectInstance);
    const bool armedFailureUsed = !failNextNothrowScalar.exchange(false);
    EXPECT_TRUE(armedFailureUsed);
    EXPECT_EQ(effect, nullptr);
    EXPECT_EQ(liveAllocations.load(), before);
}

TEST(Allocation, ClosingReleasesEverything) {
    const std::int64_t before = liveAllocations.load();
    AEffect* effect = pluginMain(&loggingHost, &createEffectInstance);
    ASSERT_NE(effect, nullptr);
    EXPECT_GT(liveAllocations.load(), before);
    EXPECT_EQ(effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f), 1);
    EXPECT_EQ(liveAllocations.load(), before);
}

TEST(Allocation, BlockRoutineAllocatesNothing) {
    Session session;
    session.set(MaxTime, 0.01f);
    session.dispatch(effMainsChanged, 0, 1);
    session.runBlocks(1024, 50); // past the first note, whose interval is drawn up to 1 s
    const std::size_t eventsBefore = session.host.events.size();

    const std::int64_t calls = allocationCalls.load();
    session.runBlocks(512, 400);
    session.runBlocks(7, 1000);
    session.run(0);
    session.run(-1);
    EXPECT_EQ(allocationCalls.load(), calls);
    // The measured stretch did send notes.
    EXPECT_GT(session.host.events.size(), eventsBefore + 100);
}

} // namespace
} // namespace quill::test
