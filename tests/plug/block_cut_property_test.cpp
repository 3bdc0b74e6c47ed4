// With constant parameters the stream does not depend on how the host cuts it into blocks: the
// same absolute times, keys and velocities for any table of block lengths, and every event inside
// its block.
#include "plug_harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace quill::test {
namespace {

constexpr std::int64_t kTotalSamples = 1'000'000;

struct Cut {
    std::string name;
    std::vector<std::int32_t> lengths; // repeated until kTotalSamples are processed
};

// Block lengths from 0 to 4999 from a fixed integer sequence (0 is an empty call).
std::vector<std::int32_t> mixedLengths() {
    std::vector<std::int32_t> lengths;
    std::uint32_t x = 12345u;
    for (int i = 0; i < 997; ++i) {
        x = x * 1664525u + 1013904223u;
        lengths.push_back(static_cast<std::int32_t>((x >> 8) % 5000u));
    }
    return lengths;
}

std::vector<Cut> cuts() {
    return {{"1", {1}},       {"7", {7}},       {"64", {64}},
            {"1024", {1024}}, {"4096", {4096}}, {"mixed", mixedLengths()}};
}

struct Settings {
    const char* name;
    std::vector<std::pair<std::int32_t, float>> values;
};

struct Heard {
    std::int64_t time;
    std::uint8_t key;
    std::uint8_t velocity;
    bool operator==(const Heard&) const = default;
};

std::vector<Heard> streamWithCut(const Settings& settings, const Cut& cut) {
    const Stream stream = onFreshSession([&](Session& s) {
        for (const auto& [index, value] : settings.values) {
            s.set(index, value);
        }
        std::size_t next = 0;
        while (s.host.blockStart < kTotalSamples) {
            const std::int64_t left = kTotalSamples - s.host.blockStart;
            s.run(static_cast<std::int32_t>(std::min<std::int64_t>(cut.lengths[next], left)));
            next = (next + 1) % cut.lengths.size();
        }
    });
    std::vector<Heard> notes;
    std::size_t outside = 0;
    for (const NoteEvent& event : stream.events) {
        if (event.deltaFrames < 0 || event.deltaFrames >= event.blockLength) {
            if (outside++ == 0) {
                ADD_FAILURE() << "offset " << event.deltaFrames << " in a block of "
                              << event.blockLength << " at " << event.time();
            }
        }
        notes.push_back({event.time(), event.key, event.velocity});
    }
    EXPECT_EQ(outside, 0u);
    return notes;
}

TEST(BlockCuts, StreamIsTheSameForEveryCutAndStaysInsideBlocks) {
    const Settings settings[] = {
        {"defaults", {}},
        {"short intervals", {{MaxTime, 0.01f}, {MinTime, 0.001f}}},
        {"intervals of 10", {{MaxTime, 0.0f}, {MinTime, 0.0f}}},
        {"narrow ranges",
         {{MaxTime, 0.002f},
          {MinTime, 0.0005f},
          {MaxAmplitude, 0.9f},
          {MinAmplitude, 0.2f},
          {Note, 0.3f}}},
    };
    for (const Settings& setting : settings) {
        SCOPED_TRACE(setting.name);
        const std::vector<Heard> reference = streamWithCut(setting, {"whole", {1 << 30}});
        ASSERT_GE(reference.size(), 20u);
        for (const Cut& cut : cuts()) {
            SCOPED_TRACE("blocks of " + cut.name);
            const std::vector<Heard> notes = streamWithCut(setting, cut);
            ASSERT_EQ(notes.size(), reference.size());
            // Compare the first difference only, to keep a failure readable.
            const auto mismatch = std::mismatch(notes.begin(), notes.end(), reference.begin());
            if (mismatch.first != notes.end()) {
                ADD_FAILURE() << "event " << (mismatch.first - notes.begin()) << " at "
                              << mismatch.first->time << " key " << int{mismatch.first->key}
                              << " velocity " << int{mismatch.first->velocity} << ", expected "
                              << mismatch.second->time << " key " << int{mismatch.second->key}
                              << " velocity " << int{mismatch.second->velocity};
            }
        }
    }
}

} // namespace
} // namespace quill::test
