#include "host_stub.h"

#include <cmath>

extern "C" {

std::uint64_t quill_bench_event_lists = 0;

std::intptr_t quill_bench_host(bench::Effect*, std::int32_t opcode, std::int32_t, std::intptr_t,
                               void*, float) {
    if (opcode == bench::audioMasterProcessEvents) {
        ++quill_bench_event_lists;
        return 1;
    }
    return opcode == bench::audioMasterVersion ? 2400 : 0;
}

void quill_bench_empty_process(bench::Effect*, float**, float**, std::int32_t) {}
}

namespace bench {
namespace {

thread_local std::uint32_t referenceState = 1;

// A one-event list as the plug-in hands it over: the count, a reserved field and two pointers.
struct EventList {
    std::int32_t numEvents;
    std::intptr_t reserved;
    void* events[2];
};

Effect emptyEffect = [] {
    Effect effect{};
    effect.magic = kMagic;
    effect.processReplacing = quill_bench_empty_process;
    effect.process = quill_bench_empty_process;
    return effect;
}();

} // namespace

double referenceRandomFactor() noexcept {
    referenceState = referenceState * 214013u + 2531011u;
    const int k = static_cast<int>((referenceState >> 16) & 0x7FFFu);
    return std::exp(-(k / 32767.0));
}

Effect* emptyRecord() noexcept {
    return &emptyEffect;
}

double referenceNotes(Effect* effect, HostCallback host, std::int32_t notes) noexcept {
    unsigned char event[32] = {};
    EventList list{1, 0, {event, nullptr}};
    double sum = 0.0;
    for (std::int32_t n = 0; n < notes; ++n) {
        host(effect, audioMasterProcessEvents, 0, 0, &list, 0.0f);
        sum += referenceRandomFactor();
        host(effect, audioMasterProcessEvents, 0, 0, &list, 0.0f);
        sum += referenceRandomFactor();
    }
    return sum;
}

} // namespace bench
