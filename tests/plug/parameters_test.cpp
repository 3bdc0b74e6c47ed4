// Parameters, the program, the interval limit and the record as the host finds them.
#include "plug_harness.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace quill::test {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr std::int32_t kIntMax = std::numeric_limits<std::int32_t>::max();

// Compares floats bit for bit, so that NaN equals NaN and 0.7 must be the same 0.7.
::testing::AssertionResult sameFloat(float actual, float expected) {
    if (std::bit_cast<std::uint32_t>(actual) == std::bit_cast<std::uint32_t>(expected) ||
        (std::isnan(actual) && std::isnan(expected))) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << actual << " is not " << expected;
}

// A RandomNotePlug that shows what setProgram passes on: every value reaching setParameter while
// `logging` is on is kept, so a plain program change reads back the program's stored values.
// While `replay` holds values, the program change passes those instead, which stands for a program
// whose values differ from the ones in force.
class ObservedPlug : public RandomNotePlug {
public:
    using RandomNotePlug::RandomNotePlug;

    struct Call {
        std::int32_t index;
        float value;
    };

    void setParameter(std::int32_t index, float value) override {
        if (logging) {
            log.push_back({index, value});
        }
        if (replay && index >= 0 && index < kNumParams) {
            if (const std::optional<float> stand = (*replay)[static_cast<std::size_t>(index)]) {
                value = *stand;
            }
        }
        RandomNotePlug::setParameter(index, value);
    }

    // The program's stored values, read through a program change.
    std::array<float, kNumParams> programValues() {
        log.clear();
        logging = true;
        dispatcher(effSetProgram, 0, 0, nullptr, 0.0f);
        logging = false;
        std::array<float, kNumParams> values{};
        values.fill(-12345.0f);
        for (const Call& call : log) {
            values[static_cast<std::size_t>(call.index)] = call.value;
        }
        return values;
    }

    std::vector<Call> log;
    bool logging = false;
    std::optional<std::array<std::optional<float>, kNumParams>> replay;
};

TEST(Parameters, DefaultsAndIndicesOutsideTheSeven) {
    Session session;
    ASSERT_NE(session.effect, nullptr);
    const std::array<float, kNumParams> defaults = {
        1.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, std::bit_cast<float>(0x3EF1E3C8u)};
    for (std::int32_t index = 0; index < kNumParams; ++index) {
        SCOPED_TRACE(index);
        EXPECT_TRUE(sameFloat(session.get(index), defaults[static_cast<std::size_t>(index)]));
        EXPECT_TRUE(sameFloat(session.plug->getParameter(index),
                              defaults[static_cast<std::size_t>(index)]));
    }
    EXPECT_TRUE(sameFloat(session.get(kNumParams), 0.0f));
    EXPECT_TRUE(sameFloat(session.get(-1), 0.0f));
    EXPECT_EQ(session.plug->getMaxIntervalSamples(), 44100);
}

TEST(Parameters, SettingAnIndexOutsideTheSevenChangesNothing) {
    ObservedPlug plug(&RecordingHost::callback);
    const std::array<float, kNumParams> before = plug.programValues();
    for (const std::int32_t index : {7, -1, 1000, std::numeric_limits<std::int32_t>::min()}) {
        plug.setParameter(index, 0.25f);
    }
    for (std::int32_t index = 0; index < kNumParams; ++index) {
        EXPECT_TRUE(sameFloat(plug.getParameter(index), before[static_cast<std::size_t>(index)]));
    }
    EXPECT_EQ(plug.programValues(), before);
    EXPECT_EQ(plug.getMaxIntervalSamples(), 44100);
}

struct ClampCase {
    const char* name;
    std::vector<std::pair<std::int32_t, float>> before;
    std::int32_t index;
    float value;
    float stored;
    std::int32_t maxIntervalSamples;
};

// Each value set is clamped against its partner in force, then stored both as the value in force
// and in the program. Only a new Max time moves the interval limit.
TEST(Parameters, ClampsAgainstThePartnerInForce) {
    // clang-format off
    const ClampCase cases[] = {
        {"max time below min time takes min time", {{MinTime, 0.5f}}, MaxTime, 0.2f, 0.5f, 22050},
        {"min time above max time takes max time", {{MaxTime, 0.2f}}, MinTime, 0.5f, 0.2f, 8820},
        {"max time equal to min time passes", {{MinTime, 0.3f}}, MaxTime, 0.3f, 0.3f, 13230},
        {"max time above min time passes", {{MinTime, 0.3f}}, MaxTime, 0.75f, 0.75f, 33075},
        {"max amplitude below min", {{MinAmplitude, 0.4f}}, MaxAmplitude, 0.1f, 0.4f, 44100},
        {"min amplitude above max", {{MaxAmplitude, 0.3f}}, MinAmplitude, 0.6f, 0.3f, 44100},
        {"min amplitude equal to max", {{MaxAmplitude, 0.3f}}, MinAmplitude, 0.3f, 0.3f, 44100},
        {"no upper limit on max time", {}, MaxTime, 7.0f, 7.0f, 308700},
        {"no lower limit on min time", {}, MinTime, -1.0f, -1.0f, 44100},
        {"time distrib unclamped", {}, TimeDistrib, 5.0f, 5.0f, 44100},
        {"amp distrib unclamped", {}, AmpDistrib, -2.0f, -2.0f, 44100},
        {"note unclamped", {}, Note, 3.0f, 3.0f, 44100},
        {"NaN max time takes min time", {{MinTime, 0.25f}}, MaxTime, kNaN, 0.25f, 11025},
        {"NaN max amplitude", {{MinAmplitude, 0.125f}}, MaxAmplitude, kNaN, 0.125f, 44100},
        {"NaN min time passes", {}, MinTime, kNaN, kNaN, 44100},
        {"NaN min amplitude passes", {}, MinAmplitude, kNaN, kNaN, 44100},
        // Only the value set is tested for NaN: against a NaN partner, value < partner is false.
        {"max time against a NaN min time", {{MinTime, kNaN}}, MaxTime, 0.5f, 0.5f, 22050},
        {"max amp, NaN min amp", {{MinAmplitude, kNaN}}, MaxAmplitude, 0.5f, 0.5f, 44100},
        {"min time below infinite max time", {{MaxTime, kInf}}, MinTime, 1e30f, 1e30f, kIntMax},
        {"NaN note passes", {}, Note, kNaN, kNaN, 44100},
    };
    // clang-format on
    for (const ClampCase& c : cases) {
        SCOPED_TRACE(c.name);
        ObservedPlug plug(&RecordingHost::callback);
        for (const auto& [index, value] : c.before) {
            plug.setParameter(index, value);
        }
        std::array<float, kNumParams> expected{};
        for (std::int32_t k = 0; k < kNumParams; ++k) {
            expected[static_cast<std::size_t>(k)] = plug.getParameter(k);
        }
        expected[static_cast<std::size_t>(c.index)] = c.stored;

        plug.setParameter(c.index, c.value);
        const std::int32_t limitAfterSet = plug.getMaxIntervalSamples();
        const std::array<float, kNumParams> program = plug.programValues();
        for (std::int32_t k = 0; k < kNumParams; ++k) {
            SCOPED_TRACE(k);
            EXPECT_TRUE(sameFloat(program[static_cast<std::size_t>(k)],
                                  expected[static_cast<std::size_t>(k)]));
            EXPECT_TRUE(sameFloat(plug.getParameter(k), expected[static_cast<std::size_t>(k)]));
        }
        EXPECT_EQ(limitAfterSet, c.maxIntervalSamples);
    }
}

// setProgram makes the program current first, then passes its values on in index order, so Max
// time meets the Min time from before and Min time meets the Max time just set (and likewise for
// the amplitudes); whatever is clamped is written back into the program.
TEST(Parameters, ProgramChangeSetsEachValueInIndexOrder) {
    constexpr std::nullopt_t no = std::nullopt;
    struct OrderCase {
        const char* name;
        std::vector<std::pair<std::int32_t, float>> before;
        std::array<std::optional<float>, kNumParams> program;
        std::int32_t first;
        std::int32_t second;
        float firstStored;
        float secondStored;
    };
    const OrderCase cases[] = {
        {"min time meets the max time just set",
         {},
         {{0.2f, 0.5f, no, no, no, no, no}},
         MaxTime,
         MinTime,
         0.2f,
         0.2f},
        {"max time meets the min time from before",
         {{MinTime, 0.8f}},
         {{0.5f, 0.3f, no, no, no, no, no}},
         MaxTime,
         MinTime,
         0.8f,
         0.3f},
        {"min amplitude meets the max amplitude just set",
         {},
         {{no, no, no, 0.25f, 0.75f, no, no}},
         MaxAmplitude,
         MinAmplitude,
         0.25f,
         0.25f},
        {"max amplitude meets the min amplitude from before",
         {{MinAmplitude, 0.9f}},
         {{no, no, no, 0.5f, 0.2f, no, no}},
         MaxAmplitude,
         MinAmplitude,
         0.9f,
         0.2f},
    };
    for (const OrderCase& c : cases) {
        SCOPED_TRACE(c.name);
        ObservedPlug plug(&RecordingHost::callback);
        for (const auto& [index, value] : c.before) {
            plug.setParameter(index, value);
        }
        plug.replay = c.program;
        plug.logging = true;
        plug.dispatcher(effSetProgram, 0, 0, nullptr, 0.0f);
        plug.logging = false;
        plug.replay.reset();

        ASSERT_EQ(plug.log.size(), static_cast<std::size_t>(kNumParams));
        for (std::int32_t k = 0; k < kNumParams; ++k) {
            EXPECT_EQ(plug.log[static_cast<std::size_t>(k)].index, k);
        }
        EXPECT_TRUE(sameFloat(plug.getParameter(c.first), c.firstStored));
        EXPECT_TRUE(sameFloat(plug.getParameter(c.second), c.secondStored));
        const std::array<float, kNumParams> stored = plug.programValues();
        EXPECT_TRUE(sameFloat(stored[static_cast<std::size_t>(c.first)], c.firstStored));
        EXPECT_TRUE(sameFloat(stored[static_cast<std::size_t>(c.second)], c.secondStored));
        if (c.first == MaxTime) {
            EXPECT_EQ(plug.getMaxIntervalSamples(),
                      static_cast<std::int32_t>(44100.0 * static_cast<double>(c.firstStored)));
        }
    }
}

TEST(Parameters, ProgramChangeOutsideTheTableDoesNothing) {
    ObservedPlug plug(&RecordingHost::callback);
    plug.logging = true;
    for (const VstIntPtr program : {VstIntPtr{1}, VstIntPtr{-1}, VstIntPtr{1} << 20}) {
        EXPECT_EQ(plug.dispatcher(effSetProgram, 0, program, nullptr, 0.0f), 0);
    }
    EXPECT_TRUE(plug.log.empty());
    EXPECT_EQ(plug.getProgram(), 0);
}

struct LimitCase {
    float sampleRate;
    float maxTime;
    std::int32_t expected;
};

// The limit is the sample rate times Max time, in whole samples, at least 10, and saturates instead
// of overflowing.
TEST(IntervalLimit, FollowsMaxTimeAtTheRateInForce) {
    const LimitCase cases[] = {
        {44100.0f, 1.0f, 44100},
        {48000.0f, 1.0f, 48000},
        {44100.0f, 0.5f, 22050},
        {48000.0f, 0.5f, 24000},
        {44100.0f, 0.0001f, 10},
        {44100.0f, 0.0f, 10},
        {44100.0f, 0.0002f, 10},
        {44100.0f, 0.0003f, 13},
        {44100.0f, 48000.0f, 2116800000},
        {44100.0f, 48697.0f, kIntMax},
        {44100.0f, 1e30f, kIntMax},
        {44100.0f, kInf, kIntMax},
        {44100.0f, kNaN, 10},
        {1e30f, 1.0f, kIntMax},
        {kInf, 1.0f, kIntMax},
        {kNaN, 1.0f, 10},
        {0.0f, 1.0f, 10},
        {-44100.0f, 1.0f, 10},
        {1e-30f, 1.0f, 10},
        {kInf, 0.0f, 10},
    };
    for (const LimitCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << "rate " << c.sampleRate << " max time " << c.maxTime);
        Session session;
        session.setSampleRate(c.sampleRate);
        session.set(MaxTime, c.maxTime);
        EXPECT_EQ(session.plug->getMaxIntervalSamples(), c.expected);
    }
}

TEST(IntervalLimit, RecomputedByProgramChangeAndSwitchingOffNotByTheRateAlone) {
    Session session;
    session.set(MaxTime, 0.5f);
    EXPECT_EQ(session.plug->getMaxIntervalSamples(), 22050);

    session.setSampleRate(48000.0f);
    session.dispatch(effSetBlockSizeAndSampleRate, 0, 512, nullptr, 96000.0f);
    session.dispatch(effSetSampleRate, 0, 0, nullptr, 48000.0f);
    EXPECT_EQ(session.plug->getMaxIntervalSamples(), 22050);

    // Switching on leaves it; switching off recomputes it from Max time, not from the rate alone.
    session.dispatch(effMainsChanged, 0, 1);
    EXPECT_EQ(session.plug->getMaxIntervalSamples(), 22050);
    session.dispatch(effMainsChanged, 0, 0);
    EXPECT_EQ(session.plug->getMaxIntervalSamples(), 24000);

    session.setSampleRate(44100.0f);
    session.dispatch(effSetProgram, 0, 0);
    EXPECT_EQ(session.plug->getMaxIntervalSamples(), 22050);
    EXPECT_EQ(session.get(MaxTime), 0.5f);
}

TEST(IntervalLimit, ProgramChangeAtANewRateUsesTheDefaultMaxTime) {
    Session session;
    session.setSampleRate(48000.0f);
    EXPECT_EQ(session.plug->getMaxIntervalSamples(), 44100);
    session.dispatch(effSetProgram, 0, 0);
    EXPECT_EQ(session.plug->getMaxIntervalSamples(), 48000);
}

TEST(IntervalLimit, SwitchingOffKeepsTheFloorOfTen) {
    const LimitCase cases[] = {
        {44100.0f, 0.0001f, 10}, {0.0f, 1.0f, 10},       {-1.0f, 1.0f, 10},
        {kNaN, 1.0f, 10},        {1e30f, 1.0f, kIntMax}, {96000.0f, 0.25f, 24000},
    };
    for (const LimitCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << "rate " << c.sampleRate << " max time " << c.maxTime);
        Session session;
        session.set(MaxTime, c.maxTime);
        session.setSampleRate(c.sampleRate);
        session.dispatch(effMainsChanged, 0, 0);
        EXPECT_EQ(session.plug->getMaxIntervalSamples(), c.expected);
    }
}

// Reads the program name into a buffer filled with a marker; answers the text and checks that
// nothing after its NUL was touched.
std::string readProgramName(Session& session) {
    constexpr unsigned char kMark = 0xA5;
    unsigned char buffer[64];
    std::memset(buffer, kMark, sizeof buffer);
    EXPECT_EQ(session.dispatch(effGetProgramName, 0, 0, buffer), 0);
    const auto* end = static_cast<const unsigned char*>(std::memchr(buffer, 0, sizeof buffer));
    if (end == nullptr) {
        ADD_FAILURE() << "no NUL written";
        return {};
    }
    const std::size_t length = static_cast<std::size_t>(end - buffer);
    EXPECT_LE(length, 23u);
    for (std::size_t i = length + 1; i < sizeof buffer; ++i) {
        EXPECT_EQ(buffer[i], kMark) << "byte " << i << " written";
    }
    return std::string(reinterpret_cast<const char*>(buffer), length);
}

TEST(ProgramName, StartsAsMidiQuillmont) {
    Session session;
    EXPECT_EQ(readProgramName(session), "MIDI Quillmont");
}

TEST(ProgramName, StoredWholeUpTo23CharactersAndInitIsNumbered) {
    struct NameCase {
        std::string set;
        std::string read;
    };
    const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    const NameCase cases[] = {
        {"Init", "Init 1"},
        {"init", "init"},
        {"INIT", "INIT"},
        {"Init ", "Init "},
        {"Init 1", "Init 1"},
        {"Ini", "Ini"},
        {"", ""},
        {"Bells", "Bells"},
        {alphabet.substr(0, 23), alphabet.substr(0, 23)},
        {alphabet.substr(0, 24), alphabet.substr(0, 23)},
        {alphabet + alphabet, alphabet.substr(0, 23)},
    };
    for (const NameCase& c : cases) {
        SCOPED_TRACE(c.set);
        Session session;
        std::string text = c.set;
        EXPECT_EQ(session.dispatch(effSetProgramName, 0, 0, text.data()), 0);
        EXPECT_EQ(readProgramName(session), c.read);
        // The host's text is only read.
        EXPECT_EQ(text, c.set);
    }
}

TEST(ProgramName, NullAddressesReadAndWriteNothing) {
    Session session;
    EXPECT_EQ(session.dispatch(effSetProgramName, 0, 0, nullptr), 0);
    EXPECT_EQ(session.dispatch(effGetProgramName, 0, 0, nullptr), 0);
    EXPECT_EQ(readProgramName(session), "MIDI Quillmont");
}

TEST(ProgramName, RenamingKeepsTheValues) {
    Session session;
    session.set(MinTime, 0.125f);
    std::string text(40, 'x');
    session.dispatch(effSetProgramName, 0, 0, text.data());
    session.dispatch(effSetProgram, 0, 0);
    EXPECT_EQ(session.get(MinTime), 0.125f);
    EXPECT_EQ(readProgramName(session), std::string(23, 'x'));
}

TEST(Record, IdentityAfterConstruction) {
    const std::int64_t before = unattributedCalls();
    EffectBase* object = createEffectInstance(&RecordingHost::callback);
    ASSERT_NE(object, nullptr);
    // The constructor sends nothing to the host.
    EXPECT_EQ(unattributedCalls(), before);
    AEffect* effect = object->getRecord();
    EXPECT_EQ(effect->magic, 0x56737450);
    EXPECT_EQ(effect->object, object);
    EXPECT_EQ(effect->uniqueID, 0x7175696C);
    EXPECT_EQ(effect->numInputs, 0);
    EXPECT_EQ(effect->numOutputs, 0);
    EXPECT_EQ(effect->flags, 280);
    EXPECT_EQ(effect->version, 1);
    EXPECT_EQ(effect->numPrograms, 1);
    EXPECT_EQ(effect->numParams, 7);
    EXPECT_EQ(effect->dispatcher(effect, effGetProgram, 0, 0, nullptr, 0.0f), 0);
    EXPECT_EQ(effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f), 1);
}

} // namespace
} // namespace quill::test
