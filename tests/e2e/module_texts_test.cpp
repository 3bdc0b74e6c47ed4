// Names, texts, identity and capabilities as a host reads them from the built module.
#include "vst_host.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

using namespace quill;

constexpr const char* kModule = QUILLMONT_PATH;

// Asks for a text into a buffer filled with a marker byte; answers the answer and the bytes
// written, counted up to the last byte that differs from the marker.
struct TextAnswer {
    intptr_t answer;
    std::string text;
    std::size_t bytesWritten;
};

TextAnswer askText(Plugin& plug, int32_t opcode, int32_t index = 0) {
    char buffer[64];
    std::memset(buffer, 0x5A, sizeof buffer);
    const intptr_t answer = plug.dispatch(opcode, index, 0, buffer);
    std::size_t written = sizeof buffer;
    while (written > 0 && static_cast<unsigned char>(buffer[written - 1]) == 0x5A) {
        --written;
    }
    return {answer, std::string(buffer, strnlen(buffer, written)), written};
}

TEST(ModuleIdentity, NamesWithTheirExactLengths) {
    Plugin plug = Plugin::load(kModule);
    struct Row {
        int32_t opcode;
        const char* text;
    } rows[] = {{vst::effGetEffectName, "Quillmont"},
                {vst::effGetVendorString, "KOVA"},
                {vst::effGetProductString, "KOVA midi tools"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        const TextAnswer got = askText(plug, row.opcode);
        EXPECT_EQ(got.answer, 1);
        EXPECT_EQ(got.text, row.text);
        EXPECT_EQ(got.bytesWritten, std::strlen(row.text) + 1);
    }
    EXPECT_EQ(plug.dispatch(vst::effGetPlugCategory), 1);
    EXPECT_EQ(plug.dispatch(vst::effGetVendorVersion), 1);
    EXPECT_EQ(plug.dispatch(vst::effGetVstVersion), 2200);
    EXPECT_EQ(plug.dispatch(vst::effGetEffectName, 0, 0, nullptr), 0);
}

TEST(ModuleIdentity, CapabilityAnswers) {
    Plugin plug = Plugin::load(kModule);
    struct Row {
        const char* text;
        intptr_t answer;
    } rows[] = {{"sendVstMidiEvent", 1},  {"sendVstEvents", 1},
                {"receiveVstEvents", -1}, {"receiveVstMidiEvent", -1},
                {"sendvstevents", 0},     {"receivevstmidievent", 0},
                {"sendVstEvent", 0},      {"", 0},
                {"sendVstEventsX", 0},    {"receiveVstTimeInfo", 0}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(plug.canDo(row.text), row.answer);
    }
    EXPECT_EQ(plug.dispatch(vst::effCanDo, 0, 0, nullptr), 0);
}

TEST(ModuleTexts, ParameterTextsAtTheDefaults) {
    Plugin plug = Plugin::load(kModule);
    struct Row {
        const char* name;
        const char* label;
        const char* display;
    } rows[] = {{"Max time", "   ms   ", "1000.000"},
                {"Min time", "   ms   ", "      0"},
                {"Time distrib", "", "exponent"},
                {"Max amplitude", "", "    127"},
                {"Min amplitude", "", "      0"},
                {"Amp distrib", "", "exponent"},
                {"Note", "", "     60"}};
    for (int32_t i = 0; i < 7; ++i) {
        SCOPED_TRACE(i);
        const TextAnswer name = askText(plug, vst::effGetParamName, i);
        const TextAnswer label = askText(plug, vst::effGetParamLabel, i);
        const TextAnswer display = askText(plug, vst::effGetParamDisplay, i);
        EXPECT_EQ(name.text, rows[i].name);
        EXPECT_EQ(label.text, rows[i].label);
        EXPECT_EQ(display.text, rows[i].display);
        EXPECT_EQ(name.answer, 0);
        EXPECT_LE(name.bytesWritten, 14u);
        EXPECT_LE(label.bytesWritten, 9u);
        EXPECT_LE(display.bytesWritten, 9u);
    }
    for (int32_t outside : {7, -1}) {
        for (int32_t opcode :
             {vst::effGetParamName, vst::effGetParamLabel, vst::effGetParamDisplay}) {
            EXPECT_EQ(askText(plug, opcode, outside).bytesWritten, 0u);
        }
    }
    EXPECT_EQ(plug.text(vst::effGetProgramName), "MIDI Quillmont");
}

TEST(ModuleTexts, MaxTimeTextFollowsTheSampleRate) {
    Plugin plug = Plugin::load(kModule);
    plug.setSampleRate(48000.0f);
    // The interval limit keeps its 44100 samples until Max time is applied again.
    EXPECT_EQ(plug.text(vst::effGetParamDisplay, 0), "918.7500");
    plug.dispatch(vst::effSetProgram, 0, 0);
    EXPECT_EQ(plug.text(vst::effGetParamDisplay, 0), "1000.000");
}

} // namespace
