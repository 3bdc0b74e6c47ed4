// What the host shows: parameter names, labels and value texts, the plug-in's names, category,
// version and capability answers, each checked byte for byte with marked bytes around the buffer.
#include "plug_harness.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace quill::test {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr unsigned char kMark = 0xA5;

// A host buffer with marked bytes before and after the part handed to the plug-in.
class MarkedBuffer {
public:
    static constexpr std::size_t kBefore = 16;
    static constexpr std::size_t kSize = 96;

    MarkedBuffer() { std::memset(bytes, kMark, sizeof bytes); }

    char* data() { return reinterpret_cast<char*>(bytes + kBefore); }

    // The text written, up to its NUL; fails when the plug-in wrote before the buffer, wrote more
    // than `limit` bytes, or left no NUL within them.
    std::string text(std::size_t limit) const {
        for (std::size_t i = 0; i < kBefore; ++i) {
            EXPECT_EQ(bytes[i], kMark) << "byte written before the buffer";
        }
        const unsigned char* start = bytes + kBefore;
        const void* nul = std::memchr(start, 0, limit);
        for (std::size_t i = limit; i < kSize - kBefore; ++i) {
            EXPECT_EQ(start[i], kMark) << "byte " << i << " written past " << limit;
        }
        if (nul == nullptr) {
            ADD_FAILURE() << "no NUL within " << limit << " bytes";
            return {};
        }
        return std::string(
            reinterpret_cast<const char*>(start),
            static_cast<std::size_t>(static_cast<const unsigned char*>(nul) - start));
    }

    bool untouched() const {
        for (const unsigned char byte : bytes) {
            if (byte != kMark) {
                return false;
            }
        }
        return true;
    }

private:
    unsigned char bytes[kSize];
};

struct TextRow {
    std::int32_t index;
    const char* name;
    const char* label;
    const char* display;
};

void expectTexts(Session& session, const TextRow& row) {
    SCOPED_TRACE(row.index);
    MarkedBuffer name;
    MarkedBuffer label;
    MarkedBuffer display;
    EXPECT_EQ(session.dispatch(effGetParamName, row.index, 0, name.data()), 0);
    EXPECT_EQ(session.dispatch(effGetParamLabel, row.index, 0, label.data()), 0);
    EXPECT_EQ(session.dispatch(effGetParamDisplay, row.index, 0, display.data()), 0);
    EXPECT_EQ(name.text(14), row.name);
    EXPECT_EQ(label.text(9), row.label);
    EXPECT_EQ(display.text(9), row.display);
}

TEST(ParameterTexts, AtTheDefaults) {
    Session session;
    const TextRow rows[] = {
        {0, "Max time", "   ms   ", "1000.000"},
        {1, "Min time", "   ms   ", "      0"},
        {2, "Time distrib", "", "exponent"},
        {3, "Max amplitude", "", "    127"},
        {4, "Min amplitude", "", "      0"},
        {5, "Amp distrib", "", "exponent"},
        {6, "Note", "", "     60"},
    };
    for (const TextRow& row : rows) {
        expectTexts(session, row);
    }
}

TEST(ParameterTexts, ValueTextsTruncateAndFollowTheIntervalLimit) {
    struct DisplayCase {
        const char* name;
        float sampleRate;
        std::vector<std::pair<std::int32_t, float>> setup;
        std::int32_t index;
        const char* display;
    };
    const DisplayCase cases[] = {
        {"min time 0.7 is held below", 44100.0f, {{MinTime, 0.7f}}, MinTime, "    699"},
        {"min time 0.9 is held below", 44100.0f, {{MinTime, 0.9f}}, MinTime, "    899"},
        {"min time 0.25", 44100.0f, {{MinTime, 0.25f}}, MinTime, "    250"},
        {"min time is the same at any rate", 96000.0f, {{MinTime, 0.25f}}, MinTime, "    250"},
        {"max amplitude 0.5", 44100.0f, {{MaxAmplitude, 0.5f}}, MaxAmplitude, "     63"},
        {"min amplitude 0.5", 44100.0f, {{MinAmplitude, 0.5f}}, MinAmplitude, "     63"},
        {"note 1.0", 44100.0f, {{Note, 1.0f}}, Note, "    127"},
        {"note negative truncates toward zero", 44100.0f, {{Note, -0.5f}}, Note, "    -63"},
        {"limit 22050", 44100.0f, {{MaxTime, 0.5f}}, MaxTime, "500.0000"},
        {"limit 10", 44100.0f, {{MaxTime, 0.0001f}}, MaxTime, "0.226757"},
        {"limit 44100 at 48000 Hz", 48000.0f, {}, MaxTime, "918.7500"},
        {"time distrib at 0.3", 44100.0f, {{TimeDistrib, 0.3f}}, TimeDistrib, "exponent"},
        {"amp distrib at NaN", 44100.0f, {{AmpDistrib, kNaN}}, AmpDistrib, "exponent"},
        {"min time NaN", 44100.0f, {{MinTime, kNaN}}, MinTime, "      0"},
    };
    for (const DisplayCase& c : cases) {
        SCOPED_TRACE(c.name);
        Session session;
        session.setSampleRate(c.sampleRate);
        for (const auto& [index, value] : c.setup) {
            session.set(index, value);
        }
        MarkedBuffer display;
        session.dispatch(effGetParamDisplay, c.index, 0, display.data());
        EXPECT_EQ(display.text(9), c.display);
    }
}

// Values beyond the integer range saturate before formatting, so they show the same text as the
// largest and smallest counts.
TEST(ParameterTexts, OutOfRangeValuesShowTheSaturatedCount) {
    struct SaturationCase {
        const char* name;
        std::vector<std::pair<std::int32_t, float>> setup;
        std::int32_t index;
        std::int32_t count;
    };
    const SaturationCase cases[] = {
        {"min time 1e30", {{MaxTime, 1e30f}, {MinTime, 1e30f}}, MinTime, 2147483647},
        {"min time -1e30", {{MinTime, -1e30f}}, MinTime, -2147483647 - 1},
        {"note infinity", {{Note, kInf}}, Note, 2147483647},
        {"note -1e30", {{Note, -1e30f}}, Note, -2147483647 - 1},
        {"max amplitude 1e30", {{MaxAmplitude, 1e30f}}, MaxAmplitude, 2147483647},
    };
    for (const SaturationCase& c : cases) {
        SCOPED_TRACE(c.name);
        Session session;
        for (const auto& [index, value] : c.setup) {
            session.set(index, value);
        }
        MarkedBuffer display;
        MarkedBuffer expected;
        session.dispatch(effGetParamDisplay, c.index, 0, display.data());
        session.plug->formatLong(c.count, expected.data());
        EXPECT_EQ(display.text(9), expected.text(9));
    }
}

TEST(ParameterTexts, IndicesOutsideTheSevenWriteNothing) {
    Session session;
    for (const std::int32_t index : {7, -1, 8, 1000, std::numeric_limits<std::int32_t>::min()}) {
        for (const std::int32_t opcode : {effGetParamName, effGetParamLabel, effGetParamDisplay}) {
            SCOPED_TRACE(::testing::Message() << "index " << index << " opcode " << opcode);
            MarkedBuffer buffer;
            EXPECT_EQ(session.dispatch(opcode, index, 0, buffer.data()), 0);
            EXPECT_TRUE(buffer.untouched());
        }
    }
}

// For every index, extreme values and sample rates, names stay within 14 bytes and labels and
// value texts within 9, each with its NUL.
TEST(ParameterTexts, NoTextOutgrowsItsBufferAtExtremeValues) {
    const float values[] = {kNaN, kInf, -kInf, 1e30f, -1e30f, 0.0f, -0.0f, 1.0f, 12345.678f};
    const float rates[] = {44100.0f, 0.0f, 1e30f, kNaN, -1.0f, kInf, 1e-30f};
    for (const float rate : rates) {
        for (const float value : values) {
            SCOPED_TRACE(::testing::Message() << "rate " << rate << " value " << value);
            Session session;
            session.setSampleRate(rate);
            // Min before Max and Min again, so that every value ends up in force.
            for (const std::int32_t index : {MinTime, MaxTime, MinTime, MinAmplitude, MaxAmplitude,
                                             MinAmplitude, TimeDistrib, AmpDistrib, Note}) {
                session.set(index, value);
            }
            for (std::int32_t index = 0; index < kNumParams; ++index) {
                const float held = session.get(index);
                EXPECT_TRUE(held == value || (held != held && value != value)) << index;
            }
            for (std::int32_t index = -1; index <= kNumParams; ++index) {
                MarkedBuffer name;
                MarkedBuffer label;
                MarkedBuffer display;
                session.dispatch(effGetParamName, index, 0, name.data());
                session.dispatch(effGetParamLabel, index, 0, label.data());
                session.dispatch(effGetParamDisplay, index, 0, display.data());
                if (index < 0 || index >= kNumParams) {
                    EXPECT_TRUE(name.untouched() && label.untouched() && display.untouched());
                    continue;
                }
                name.text(14);
                label.text(9);
                display.text(9);
            }
        }
    }
}

TEST(Identity, NamesWithTheirExactBytes) {
    struct NameCase {
        std::int32_t opcode;
        const char* text;
        std::size_t bytes;
    };
    const NameCase cases[] = {
        {effGetEffectName, "Quillmont", 10},
        {effGetVendorString, "KOVA", 5},
        {effGetProductString, "KOVA midi tools", 16},
    };
    Session session;
    for (const NameCase& c : cases) {
        SCOPED_TRACE(c.text);
        MarkedBuffer buffer;
        EXPECT_EQ(session.dispatch(c.opcode, 0, 0, buffer.data()), 1);
        EXPECT_EQ(buffer.text(c.bytes), c.text);
        EXPECT_EQ(session.dispatch(c.opcode, 0, 0, nullptr), 0);
    }
}

TEST(Identity, CategoryAndVendorVersion) {
    Session session;
    EXPECT_EQ(session.effect->flags & effFlagsIsSynth, effFlagsIsSynth);
    EXPECT_EQ(session.dispatch(effGetPlugCategory), 1);
    EXPECT_EQ(session.dispatch(effGetVendorVersion), 1);
    EXPECT_EQ(session.effect->version, 1);
}

TEST(Identity, CapabilityAnswers) {
    struct CanDoCase {
        const char* text;
        VstIntPtr answer;
    };
    const CanDoCase cases[] = {
        {"sendVstMidiEvent", 1},     {"sendVstEvents", 1},  {"receiveVstEvents", -1},
        {"receiveVstMidiEvent", -1}, {"sendvstevents", 0},  {"SENDVSTMIDIEVENT", 0},
        {"receivevstmidievent", 0},  {"sendVstEvent", 0},   {"receiveVstMidiEven", 0},
        {"sendVstEventsX", 0},       {" sendVstEvents", 0}, {"", 0},
        {"receiveVstTimeInfo", 0},   {"bypass", 0},
    };
    Session session;
    for (const CanDoCase& c : cases) {
        SCOPED_TRACE(c.text);
        std::string text = c.text;
        // A 64-bit host must see -1, not 4294967295.
        EXPECT_EQ(session.dispatch(effCanDo, 0, 0, text.data()), c.answer);
        EXPECT_EQ(text, c.text);
    }
    EXPECT_EQ(session.dispatch(effCanDo, 0, 0, nullptr), 0);
}

} // namespace
} // namespace quill::test
