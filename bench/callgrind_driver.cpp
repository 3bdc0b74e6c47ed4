// Runs one hot path of the plug-in a given number of times, for counting instructions under
// callgrind. Only quill_bench_measured is meant to be counted (callgrind's --toggle-collect), and
// within it not the host callback's own body; setup happens outside it.
//
// Usage: quill_callgrind_driver MODE COUNT
//   empty-32, empty-1024, empty-8192   COUNT blocks without a note through processReplacing
//   empty-reference                     COUNT calls of a processing function that returns at once
//   notes                               COUNT 1024-sample blocks at 44.1 kHz, a note every 10
//   samples notes-reference                     COUNT x 102 notes' unavoidable work: two host
//   calls, two draws
// Prints "units N": the blocks, or the notes, that the measured part ran.
#include "host_stub.h"
#include "plugin_loader.h"
#include "scenarios.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr std::int32_t kDenseBlock = 1024;
constexpr std::int32_t kReferenceNotesPerBlock = kDenseBlock / 10;

} // namespace

extern "C" __attribute__((noinline)) double quill_bench_measured(bench::Effect* effect,
                                                                 std::int32_t blocks,
                                                                 std::int32_t length,
                                                                 std::int32_t referenceNotes) {
    double sum = 0.0;
    for (std::int32_t block = 0; block < blocks; ++block) {
        if (referenceNotes > 0) {
            sum += bench::referenceNotes(effect, quill_bench_host, referenceNotes);
        } else {
            effect->processReplacing(effect, bench::kNoBuffers, bench::kNoBuffers, length);
        }
    }
    return sum;
}

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s MODE COUNT\n", argv[0]);
        return 2;
    }
    const char* mode = argv[1];
    const auto count = static_cast<std::int32_t>(std::atoi(argv[2]));
    if (count <= 0) {
        std::fprintf(stderr, "COUNT must be positive\n");
        return 2;
    }

    if (std::strcmp(mode, "empty-reference") == 0) {
        quill_bench_measured(bench::emptyRecord(), count, 1024, 0);
        std::printf("units %d\n", count);
        return 0;
    }
    if (std::strcmp(mode, "notes-reference") == 0) {
        const double sum =
            quill_bench_measured(bench::emptyRecord(), count, 0, kReferenceNotesPerBlock);
        std::printf("units %d\n", count * kReferenceNotesPerBlock);
        return sum > 0.0 ? 0 : 1;
    }

    bench::PluginModule module(bench::modulePath());
    if (!module.ok()) {
        std::fprintf(stderr, "cannot load %s: %s\n", bench::modulePath(), module.error());
        return 1;
    }
    std::int32_t length = 0;
    bench::Effect* effect = nullptr;
    if (std::strncmp(mode, "empty-", 6) == 0) {
        length = static_cast<std::int32_t>(std::atoi(mode + 6));
        effect = length > 0 ? bench::makeQuietInstance(module, 44100.0f) : nullptr;
    } else if (std::strcmp(mode, "dense-64") == 0) {
        effect = bench::makeDenseInstance(module, 96000.0f, 64);
        if (effect == nullptr) {
            std::fprintf(stderr, "could not set up the instance for %s\n", mode);
            return 1;
        }
        std::uint64_t maxNotes = 0;
        for (std::int32_t block = 0; block < count; ++block) {
            const std::uint64_t before = quill_bench_event_lists;
            quill_bench_measured(effect, 1, 64, 0);
            const std::uint64_t notes = (quill_bench_event_lists - before) / 2;
            maxNotes = notes > maxNotes ? notes : maxNotes;
        }
        bench::closeEffect(effect);
        std::printf("units %d\nmax_notes %llu\n", count, static_cast<unsigned long long>(maxNotes));
        return 0;
    } else if (std::strcmp(mode, "notes") == 0) {
        length = kDenseBlock;
        effect = bench::makeDenseInstance(module, 44100.0f, kDenseBlock);
    } else {
        std::fprintf(stderr, "unknown mode %s\n", mode);
        return 2;
    }
    if (effect == nullptr) {
        std::fprintf(stderr, "could not set up the instance for %s\n", mode);
        return 1;
    }

    const std::uint64_t before = quill_bench_event_lists;
    quill_bench_measured(effect, count, length, 0);
    const std::uint64_t notes = (quill_bench_event_lists - before) / 2;
    bench::closeEffect(effect);
    if (length == kDenseBlock && std::strcmp(mode, "notes") == 0) {
        std::printf("units %llu\n", static_cast<unsigned long long>(notes));
    } else {
        if (notes != 0) {
            std::fprintf(stderr, "%llu notes fell in the empty blocks\n",
                         static_cast<unsigned long long>(notes));
            return 1;
        }
        std::printf("units %d\n", count);
    }
    return 0;
}
