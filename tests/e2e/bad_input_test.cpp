// What a careless host may send, through the built module: parameter values that are not
// numbers, infinite, negative or huge; nonsense sample rates; block lengths of zero, less, one
// and the largest there is; opcodes nobody defined; null pointers where a buffer belongs. Each
// row must leave the plug-in answering as documented and its event stream well-formed.
#include "vst_host.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

using namespace quill;

constexpr const char* kModule = QUILLMONT_PATH;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr int32_t kDefaultKey = 60;
constexpr int32_t kMinInterval = 10;

// Every event arrived during processing, inside its block, as a single note-on on channel 1 with
// MIDI data bytes, one event per list; consecutive notes are at least 10 samples apart.
void expectWellFormed(const Plugin& plug) {
    const std::vector<ReceivedEvent> events = plug.events();
    int64_t lists = 0;
    for (const HostRequest& request : plug.requests()) {
        lists += request.opcode == vst::audioMasterProcessEvents ? 1 : 0;
    }
    EXPECT_EQ(lists, static_cast<int64_t>(events.size())) << "every list holds one event";
    ASSERT_EQ(events.size() % 2, 0u) << "notes come as pairs: end, then start";
    for (std::size_t i = 0; i < events.size(); ++i) {
        const ReceivedEvent& e = events[i];
        SCOPED_TRACE("event " + std::to_string(i));
        EXPECT_GE(e.block, 0);
        EXPECT_EQ(e.type, vst::kVstMidiType);
        EXPECT_GE(e.deltaFrames, 0);
        EXPECT_LT(e.deltaFrames, e.blockLength);
        EXPECT_EQ(e.midi[0], 0x90);
        EXPECT_LT(e.midi[1], 0x80);
        EXPECT_LT(e.midi[2], 0x80);
        EXPECT_EQ(e.midi[3], 0);
        if (i % 2 == 1) {
            EXPECT_EQ(e.samplePosition(), events[i - 1].samplePosition());
        }
        if (i >= 2 && i % 2 == 0) {
            EXPECT_GE(e.samplePosition() - events[i - 2].samplePosition(), kMinInterval);
        }
    }
}

bool sameValue(float a, float b) {
    return (std::isnan(a) && std::isnan(b)) || a == b;
}

// A value sent to every parameter of a new plug-in (Min time 0, Max time 1, Min amplitude 0,
// Max amplitude 1). Max time and Max amplitude store `storedMax`, Min time and Min amplitude
// `storedMin`, the others the value itself; each value text follows what was stored.
struct ValueRow {
    const char* name;
    float value;
    float storedMax;
    float storedMin;
    const char* maxTimeText;
    const char* minTimeText;
    const char* maxAmplitudeText;
    const char* minAmplitudeText;
    const char* noteText;
    int32_t key; // the key notes start on after Note takes the value
};

const ValueRow kValueRows[] = {
    {"NaN", kNaN, 0.0f, kNaN, "0.226757", "      0", "      0", "      0", "      0", 0},
    {"PlusInfinity", kInf, kInf, 1.0f, "48695776", "   1000", " Huge!  ", "    127", " Huge!  ",
     127},
    {"MinusInfinity", -kInf, 0.0f, -kInf, "0.226757", " Huge!  ", "      0", " Huge!  ", " Huge!  ",
     0},
    {"MinusOne", -1.0f, 0.0f, -1.0f, "0.226757", "  -1000", "      0", "   -127", "   -127", 0},
    {"Two", 2.0f, 2.0f, 1.0f, "2000.000", "   1000", "    254", "    127", "    254", 127},
    {"MinusHuge", -1e30f, 0.0f, -1e30f, "0.226757", " Huge!  ", "      0", " Huge!  ", " Huge!  ",
     0},
    {"Huge", 1e30f, 1e30f, 1.0f, "48695776", "   1000", " Huge!  ", "    127", " Huge!  ", 127},
};

class BadParameterValue : public testing::TestWithParam<ValueRow> {};

TEST_P(BadParameterValue, IsStoredClampedAndShownForEveryParameter) {
    const ValueRow& row = GetParam();
    const float defaults[7] = {1.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.47244096f};
    const float stored[7] = {row.storedMax, row.storedMin, row.value, row.storedMax,
                             row.storedMin, row.value,     row.value};
    const char* texts[7] = {row.maxTimeText,      row.minTimeText,      "exponent",
                            row.maxAmplitudeText, row.minAmplitudeText, "exponent",
                            row.noteText};
    for (int32_t index = 0; index < 7; ++index) {
        SCOPED_TRACE("parameter " + std::to_string(index));
        Plugin plug = Plugin::load(kModule);
        plug.setParameter(index, row.value);
        for (int32_t k = 0; k < 7; ++k) {
            const float expected = k == index ? stored[k] : defaults[k];
            EXPECT_TRUE(sameValue(plug.getParameter(k), expected))
                << "parameter " << k << " holds " << plug.getParameter(k) << ", expected "
                << expected;
        }
        EXPECT_EQ(plug.text(vst::effGetParamDisplay, index), texts[index]);
        // Selecting the program applies the stored values again, through the same clamps.
        plug.dispatch(vst::effSetProgram, 0, 0);
        EXPECT_TRUE(sameValue(plug.getParameter(index), stored[index]));
        EXPECT_EQ(plug.text(vst::effGetParamDisplay, index), texts[index]);
    }
}

TEST_P(BadParameterValue, KeepsTheEventStreamWellFormed) {
    const ValueRow& row = GetParam();
    for (int32_t index = 0; index < 7; ++index) {
        SCOPED_TRACE("parameter " + std::to_string(index));
        runOnFreshThread([&] {
            Plugin plug = Plugin::load(kModule);
            // Short intervals, so that every row sees many notes after the first one.
            plug.setParameter(0, 0.0f); // Max time 0: every interval 10 samples
            plug.resume();
            plug.processReplacing(nullptr, nullptr, 44100);
            const std::size_t before = plug.events().size();
            ASSERT_GE(before, 2u);
            plug.setParameter(index, row.value);
            for (int block = 0; block < 20; ++block) {
                plug.processReplacing(nullptr, nullptr, 1000);
            }
            expectWellFormed(plug);
            const std::vector<ReceivedEvent> events = plug.events();
            ASSERT_GT(events.size(), before) << "notes go on after the change";
            const int32_t key = index == 6 ? row.key : kDefaultKey;
            for (std::size_t i = before + 1; i < events.size(); i += 2) {
                EXPECT_EQ(events[i].midi[1], key);
            }
        });
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, BadParameterValue, testing::ValuesIn(kValueRows),
                         [](const testing::TestParamInfo<ValueRow>& info) {
                             return std::string(info.param.name);
                         });

// A sample rate sent while switched off, applied by selecting the program: the longest interval
// becomes rate x Max time (1 s), at least 10 samples, and Max time shows it at that rate.
struct RateRow {
    const char* name;
    float rate;
    const char* maxTimeText;
};

const RateRow kRateRows[] = {
    {"Zero", 0.0f, " Huge!  "},      // 10 samples at 0 Hz
    {"MinusOne", -1.0f, "-10000.0"}, // 10 samples at -1 Hz
    {"NaN", kNaN, "  NaN   "},       // 10 samples, a rate that is no number
    {"Tiny", 1e-30f, " Huge!  "},    // 10 samples at 1e-30 Hz
    {"Huge", 1e30f, "0.000000"},     // the largest interval there is, at 1e30 Hz
};

class BadSampleRate : public testing::TestWithParam<RateRow> {};

TEST_P(BadSampleRate, GivesAnIntervalOfAtLeastTenSamplesAndWellFormedEvents) {
    const RateRow& row = GetParam();
    runOnFreshThread([&] {
        Plugin plug = Plugin::load(kModule);
        plug.setSampleRate(row.rate);
        plug.dispatch(vst::effSetProgram, 0, 0);
        EXPECT_EQ(plug.text(vst::effGetParamDisplay, 0), row.maxTimeText);
        EXPECT_EQ(plug.text(vst::effGetParamDisplay, 1), "      0");
        // Switching off recomputes the same interval.
        plug.suspend();
        EXPECT_EQ(plug.text(vst::effGetParamDisplay, 0), row.maxTimeText);
        plug.resume();
        for (int block = 0; block < 60; ++block) {
            plug.processReplacing(nullptr, nullptr, 1024);
        }
        expectWellFormed(plug);
        // The first interval (44044 samples) was drawn at creation, at 44100 Hz.
        const std::vector<ReceivedEvent> events = plug.events();
        ASSERT_GE(events.size(), 2u);
        EXPECT_EQ(events[0].samplePosition(), 44044);
        if (row.rate < 1e6f || std::isnan(row.rate)) {
            // A rate of no use gives the shortest interval: 10 samples.
            ASSERT_GE(events.size(), 4u);
            EXPECT_EQ(events[2].samplePosition(), 44054);
        } else {
            EXPECT_EQ(events.size(), 2u) << "the next interval is longer than the render";
        }
    });
}

INSTANTIATE_TEST_SUITE_P(Rows, BadSampleRate, testing::ValuesIn(kRateRows),
                         [](const testing::TestParamInfo<RateRow>& info) {
                             return std::string(info.param.name);
                         });

// Blocks of no length or less do nothing: the stream afterwards is the one without them.
TEST(BadBlockLength, ZeroAndNegativeBlocksSendNothingAndChangeNothing) {
    for (const int32_t frames : {0, -5, INT_MIN}) {
        SCOPED_TRACE("block length " + std::to_string(frames));
        runOnFreshThread([&] {
            Plugin plug = Plugin::load(kModule);
            plug.resume();
            for (int block = 0; block < 3; ++block) {
                plug.processReplacing(nullptr, nullptr, frames);
                plug.process(nullptr, nullptr, frames);
            }
            EXPECT_TRUE(plug.events().empty());
            for (int block = 0; block < 80; ++block) {
                plug.processReplacing(nullptr, nullptr, 1024);
            }
            expectWellFormed(plug);
            const std::vector<ReceivedEvent> events = plug.events();
            ASSERT_GE(events.size(), 4u);
            EXPECT_EQ(events[0].samplePosition(), 44044);
            EXPECT_EQ(events[1].midi[2], 72);
            EXPECT_EQ(events[2].samplePosition(), 44044 + 36348);
            EXPECT_EQ(events[3].midi[2], 56);
        });
    }
}

TEST(BadBlockLength, BlocksOfOneSampleCarryEachNoteAtOffsetZero) {
    runOnFreshThread([] {
        Plugin plug = Plugin::load(kModule);
        plug.resume();
        for (int block = 0; block < 44100; ++block) {
            plug.processReplacing(nullptr, nullptr, 1);
        }
        expectWellFormed(plug);
        const std::vector<ReceivedEvent> events = plug.events();
        ASSERT_EQ(events.size(), 2u);
        EXPECT_EQ(events[0].block, 44044);
        EXPECT_EQ(events[0].deltaFrames, 0);
        EXPECT_EQ(events[1].midi[2], 72);
    });
}

// The largest block there is, with a fixed interval of 10000 s (441000000 samples) so that
// it carries only a few notes: they land at their exact positions, also in the next block.
TEST(BadBlockLength, LargestBlockKeepsEveryOffsetInside) {
    runOnFreshThread([] {
        Plugin plug = Plugin::load(kModule);
        plug.setParameter(0, 10000.0f);
        plug.setParameter(1, 10000.0f);
        plug.resume();
        plug.processReplacing(nullptr, nullptr, INT_MAX);
        plug.processReplacing(nullptr, nullptr, INT_MAX);
        expectWellFormed(plug);
        const std::vector<ReceivedEvent> events = plug.events();
        ASSERT_EQ(events.size(), 20u);
        for (std::size_t note = 0; note < 10; ++note) {
            SCOPED_TRACE("note " + std::to_string(note));
            EXPECT_EQ(events[2 * note].samplePosition(),
                      44044 + static_cast<int64_t>(note) * 441000000);
            EXPECT_EQ(events[2 * note].block, note < 5 ? 0 : 1);
        }
        EXPECT_EQ(events[10].deltaFrames, 2205044044 - INT_MAX);
        EXPECT_EQ(events[1].midi[2], 72);
        EXPECT_EQ(events[3].midi[2], 56);
    });
}

// Opcodes outside 0 to 68 answer 0, touch neither the buffer nor the state, and call nobody.
TEST(BadOpcode, UnknownOpcodesAnswerZeroAndChangeNothing) {
    for (const int32_t opcode : {-1, 69, INT_MAX, INT_MIN}) {
        SCOPED_TRACE("opcode " + std::to_string(opcode));
        Plugin plug = Plugin::load(kModule);
        plug.clearRecords();
        char buffer[256];
        std::memset(buffer, 0x55, sizeof buffer);
        for (void* ptr : {static_cast<void*>(buffer), static_cast<void*>(nullptr)}) {
            EXPECT_EQ(plug.dispatch(opcode, 3, 1, ptr, 0.5f), 0);
            EXPECT_EQ(plug.dispatch(opcode, -1, -1, ptr, kNaN), 0);
        }
        for (const char byte : buffer) {
            ASSERT_EQ(byte, 0x55);
        }
        EXPECT_TRUE(plug.requests().empty());
        EXPECT_EQ(plug.getParameter(0), 1.0f);
        EXPECT_EQ(plug.text(vst::effGetParamDisplay, 0), "1000.000");
        EXPECT_EQ(plug.text(vst::effGetProgramName), "MIDI Quillmont");
    }
}

// Every opcode that takes a pointer, sent with a null one: the usual answer, nothing written,
// no call to the host, and the plug-in works on as before.
TEST(NullPointer, EveryOpcodeWithAPointerAnswersAsUsual) {
    struct Row {
        int32_t opcode;
        intptr_t answer;
    };
    const Row rows[] = {
        {vst::effSetProgramName, 0},
        {vst::effGetProgramName, 0},
        {vst::effGetParamLabel, 0},
        {vst::effGetParamDisplay, 0},
        {vst::effGetParamName, 0},
        {vst::effGetChunk, 0},
        {vst::effSetChunk, 0},
        {vst::effProcessEvents, 0},
        {vst::effGetProgramNameIndexed, 0},
        {vst::effGetInputProperties, 0},
        {vst::effGetOutputProperties, 0},
        {vst::effProcessVarIo, 0},
        {vst::effSetSpeakerArrangement, 0},
        {vst::effGetEffectName, 0},
        {vst::effGetErrorText, 0},
        {vst::effGetVendorString, 0},
        {vst::effGetProductString, 0},
        {vst::effVendorSpecific, 0},
        {vst::effCanDo, 0},
        {vst::effGetParameterProperties, 0},
        {vst::effGetMidiProgramName, 0},
        {vst::effGetCurrentMidiProgram, -1},
        {vst::effGetMidiProgramCategory, 0},
        {vst::effGetMidiKeyName, 0},
    };
    runOnFreshThread([&] {
        Plugin plug = Plugin::load(kModule);
        plug.resume();
        plug.clearRecords();
        for (const Row& row : rows) {
            SCOPED_TRACE(effectOpcodeName(row.opcode));
            for (const int32_t index : {0, 6, 7, -1}) {
                EXPECT_EQ(plug.dispatch(row.opcode, index, 0, nullptr, 0.0f), row.answer)
                    << "index " << index;
            }
        }
        EXPECT_TRUE(plug.requests().empty());
        EXPECT_EQ(plug.text(vst::effGetProgramName), "MIDI Quillmont");
        EXPECT_EQ(plug.text(vst::effGetEffectName), "Quillmont");
        for (int block = 0; block < 50; ++block) {
            plug.processReplacing(nullptr, nullptr, 1024);
        }
        expectWellFormed(plug);
        const std::vector<ReceivedEvent> events = plug.events();
        ASSERT_GE(events.size(), 2u);
        EXPECT_EQ(events[0].samplePosition(), 44044);
    });
}

} // namespace
