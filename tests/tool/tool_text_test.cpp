// The small texts quill prints and the values it accepts.
#include "plugin_info.h"
#include "render.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

TEST(ToolText, FlagNamesListNamedBitsThenTheRestAsNumbers) {
    const std::vector<std::pair<int32_t, std::string>> cases = {
        {0, "none"},
        {280, "CanMono|CanReplacing|IsSynth"},
        {17, "HasEditor|CanReplacing"},
        {1 | 4096, "HasEditor|4096"},
        {2 | 4 | 32 | 512 | 1024 | 2048,
         "HasClip|HasVu|ProgramChunks|NoSoundInStop|ExtIsAsync|ExtHasBuffer"},
        {static_cast<int32_t>(0x80000000u), "2147483648"},
    };
    for (const auto& [flags, names] : cases)
        EXPECT_EQ(quill::flagNames(flags), names) << flags;
}

TEST(ToolText, CategoriesAndFourCharacterCodes) {
    EXPECT_EQ(quill::categoryName(0), "Unknown");
    EXPECT_EQ(quill::categoryName(1), "Effect");
    EXPECT_EQ(quill::categoryName(2), "Synth");
    EXPECT_EQ(quill::categoryName(7), "category 7");
    EXPECT_EQ(quill::categoryName(-1), "category -1");
    EXPECT_EQ(quill::fourCharText(0x7175696C), "quil");
    EXPECT_EQ(quill::fourCharText(0x56737450), "VstP");
    EXPECT_EQ(quill::fourCharText(0x00FF4120), "??A ");
}

TEST(ToolText, JsonStringsEscapeEverythingJsonForbids) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"Quillmont", "\"Quillmont\""},
        {"   ms   ", "\"   ms   \""},
        {"a\"b\\c", "\"a\\\"b\\\\c\""},
        {"line\nnext\ttab", "\"line\\nnext\\ttab\""},
        {std::string("\x01\x1f", 2), "\"\\u0001\\u001f\""},
        {"caf\xc3\xa9", "\"caf\xc3\xa9\""}, // UTF-8 passes through
        {"caf\xe9", "\"caf\\u00e9\""},      // other 8-bit text is read as Latin-1
        {"\xc3", "\"\\u00c3\""},            // a cut-off sequence is not UTF-8
        {"", "\"\""},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(quill::jsonString(in), out);
}

TEST(ToolText, ParameterValuesAreNumbersFromZeroToOne) {
    const std::vector<std::pair<std::string, float>> good = {
        {"0", 0.0f}, {"1", 1.0f}, {"0.5", 0.5f}, {"1e-1", 0.1f}, {".25", 0.25f}, {"1.0", 1.0f}};
    for (const auto& [text, value] : good)
        EXPECT_EQ(quill::parseParameterValue("Note", text), value) << text;

    const std::vector<std::pair<std::string, std::string>> bad = {
        {"", "is not a number"},     {"abc", "is not a number"},  {"0.5x", "is not a number"},
        {"nan", "is not a number"},  {"inf", "is not a number"},  {"1e999", "is not a number"},
        {"-0.1", "is outside 0..1"}, {"1.01", "is outside 0..1"},
    };
    for (const auto& [text, reason] : bad) {
        try {
            quill::parseParameterValue("Note", text);
            ADD_FAILURE() << "accepted '" << text << "'";
        } catch (const quill::UsageError& e) {
            const std::string message = e.what();
            EXPECT_NE(message.find(reason), std::string::npos) << message;
            EXPECT_NE(message.find("'Note'"), std::string::npos) << message;
        }
    }
}

TEST(ToolText, SecondsBecomeTheNearestFrameCount) {
    EXPECT_EQ(quill::framesForSeconds(10.0, 44100.0), 441000);
    EXPECT_EQ(quill::framesForSeconds(0.0, 44100.0), 0);
    EXPECT_EQ(quill::framesForSeconds(1.0 / 3.0, 48000.0), 16000);
    EXPECT_EQ(quill::framesForSeconds(0.00001, 44100.0), 0); // 0.441 frames
    EXPECT_EQ(quill::framesForSeconds(0.00002, 44100.0), 1); // 0.882 frames
}
