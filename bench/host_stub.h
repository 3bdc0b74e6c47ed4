// The host side the measurements share: a host callback that does nothing but count the event
// lists it receives, a processing function that returns at once, and a copy of the plug-in's
// random factor. They live in their own translation unit so that the compiler cannot inline them
// into the loops that call them: the plug-in's calls cannot be inlined either.
#pragma once

#include "plugin_loader.h"

#include <cstdint>

extern "C" {
// The host callback: answers the version query, counts event lists, answers 0 to the rest.
std::intptr_t quill_bench_host(bench::Effect* effect, std::int32_t opcode, std::int32_t index,
                               std::intptr_t value, void* ptr, float opt);
// A processing function that returns at once.
void quill_bench_empty_process(bench::Effect* effect, float** inputs, float** outputs,
                               std::int32_t sampleFrames);
// Event lists the callback has received since the process started.
extern std::uint64_t quill_bench_event_lists;
}

namespace bench {

// exp(-(k / 32767.0)) with k drawn from the same 15-bit generator rule as the plug-in's.
double referenceRandomFactor() noexcept;

// A record whose processReplacing returns at once: the reference for an empty block.
Effect* emptyRecord() noexcept;

// The unavoidable work of one note, done `notes` times: two calls of `host` through a pointer
// with a one-event list, and two draws of the random factor. Answers the sum of the draws.
double referenceNotes(Effect* effect, HostCallback host, std::int32_t notes) noexcept;

} // namespace bench
