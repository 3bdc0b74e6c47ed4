// The note stream as a host receives it from the built module. Each render creates and runs the
// plug-in on a fresh thread, whose random sequence starts from the beginning.
#include "vst_host.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

using namespace quill;

constexpr const char* kModule = QUILLMONT_PATH;

struct Setting {
    int32_t index;
    float value;
};

enum class Entry { Process, ProcessReplacing };

// The first interval is drawn when the plug-in is created, before any setting applies: at
// 44100 Hz it ends within this many samples.
constexpr int32_t kFirstIntervalBound = 44100;

// Switches the plug-in on, runs one block of each length in `blocks` and answers every event.
std::vector<ReceivedEvent> render(std::vector<Setting> settings, std::vector<int32_t> blocks,
                                  Entry entry = Entry::ProcessReplacing,
                                  std::vector<HostRequest>* requests = nullptr) {
    return runOnFreshThread([&] {
        Plugin plug = Plugin::load(kModule);
        for (const Setting& s : settings) {
            plug.setParameter(s.index, s.value);
        }
        plug.resume();
        for (int32_t frames : blocks) {
            if (entry == Entry::Process) {
                plug.process(nullptr, nullptr, frames);
            } else {
                plug.processReplacing(nullptr, nullptr, frames);
            }
        }
        if (requests != nullptr) {
            *requests = plug.requests();
        }
        return plug.events();
    });
}

TEST(ModuleStream, DefaultStreamInBlocksOf1024) {
    const auto events = render({}, std::vector<int32_t>(80, 1024));
    ASSERT_GE(events.size(), 4u);
    // First interval 44044 samples: the 44th block (index 43) at offset 12.
    EXPECT_EQ(events[0].block, 43);
    EXPECT_EQ(events[0].deltaFrames, 12);
    EXPECT_EQ(events[0].midi, (std::array<uint8_t, 4>{0x90, 60, 0, 0}));
    EXPECT_EQ(events[1].block, 43);
    EXPECT_EQ(events[1].deltaFrames, 12);
    EXPECT_EQ(events[1].midi, (std::array<uint8_t, 4>{0x90, 60, 72, 0}));
    // Next interval 36348 samples, carried across blocks: the 79th block at offset 520.
    EXPECT_EQ(events[2].samplePosition() - events[1].samplePosition(), 36348);
    EXPECT_EQ(events[2].block, 78);
    EXPECT_EQ(events[2].deltaFrames, 520);
    EXPECT_EQ(events[2].midi[2], 0);
    EXPECT_EQ(events[3].deltaFrames, 520);
    EXPECT_EQ(events[3].midi[2], 56);
}

TEST(ModuleStream, ProcessAndProcessReplacingGiveTheSameStream) {
    const std::vector<Setting> dense = {{1, 0.0f}, {0, 0.01f}};
    const std::vector<int32_t> blocks(200, 333);
    const auto viaProcess = render(dense, blocks, Entry::Process);
    const auto viaReplacing = render(dense, blocks, Entry::ProcessReplacing);
    ASSERT_FALSE(viaProcess.empty());
    ASSERT_EQ(viaProcess.size(), viaReplacing.size());
    for (std::size_t i = 0; i < viaProcess.size(); ++i) {
        EXPECT_EQ(viaProcess[i].samplePosition(), viaReplacing[i].samplePosition());
        EXPECT_EQ(viaProcess[i].midi, viaReplacing[i].midi);
    }
}

TEST(ModuleStream, SwitchingOnAsksForMidiAndNothingElse) {
    std::vector<HostRequest> requests;
    render({}, {}, Entry::ProcessReplacing, &requests);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].opcode, vst::audioMasterVersion);
    EXPECT_EQ(requests[1].opcode, vst::audioMasterWantMidi);
    EXPECT_EQ(requests[1].value, 1);
}

TEST(ModuleStream, ANoteEndingExactlyAtABlockEndStartsTheNextBlock) {
    // The first note comes at 44044. With both times at 0.5 every later interval is 22050
    // samples, so after a block that ends one sample past the first note and one that ends
    // exactly at the next, every note falls on a block border and must arrive at offset 0.
    std::vector<int32_t> blocks = {44045, 22049};
    blocks.resize(10, 22050);
    const auto events = render({{1, 0.5f}, {0, 0.5f}}, blocks);
    ASSERT_GE(events.size(), 6u);
    EXPECT_EQ(events[0].samplePosition(), 44044);
    for (std::size_t i = 2; i < events.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(events[i].deltaFrames, 0);
        EXPECT_LT(events[i].deltaFrames, events[i].blockLength);
    }
    EXPECT_EQ(events[4].samplePosition() - events[2].samplePosition(), 22050);
}

TEST(ModuleStream, EventsAreWellFormedAtEveryBlockLength) {
    const std::vector<Setting> dense = {{1, 0.0f}, {0, 0.0f}, {6, 2.0f}, {3, 5.0f}};
    for (int32_t frames : {1, 7, 10, 64, 4096}) {
        SCOPED_TRACE(frames);
        std::vector<int32_t> blocks = {kFirstIntervalBound};
        blocks.resize(4096 / frames + 8, frames);
        const auto events = render(dense, blocks);
        ASSERT_FALSE(events.empty());
        for (const ReceivedEvent& e : events) {
            EXPECT_GE(e.deltaFrames, 0);
            EXPECT_LT(e.deltaFrames, e.blockLength);
            EXPECT_EQ(e.midi[0], 0x90);
            EXPECT_LT(e.midi[1], 0x80);
            EXPECT_LT(e.midi[2], 0x80);
        }
    }
}

} // namespace
