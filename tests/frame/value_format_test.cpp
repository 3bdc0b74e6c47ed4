// The five formatters: exact fixed-width texts, digit for digit, and never more than 9 bytes.
#include "tests/frame/recording.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace quill::test {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kDenormal = std::numeric_limits<float>::denorm_min();
constexpr std::size_t kBefore = 8;  // canary bytes in front of the text
constexpr std::size_t kWindow = 9;  // the most a formatter may write
constexpr std::size_t kBuffer = 32; // canary bytes behind the window fill the rest

// The expected text with its NUL, so that comparisons include the terminator.
std::string text(const char* characters) {
    return std::string(characters, std::strlen(characters) + 1);
}

// Runs `format` on a 9-byte window with canary bytes on both sides, checks that nothing outside
// the window changed and that the text ends within it, and answers the text with its NUL. The
// window is filled with two different patterns to show that the text does not depend on them.
std::string formatted(const std::function<void(char*)>& format) {
    std::string results[2];
    const unsigned char fills[2] = {0xA5, 0x00};
    for (int pass = 0; pass < 2; ++pass) {
        unsigned char buffer[kBuffer];
        std::memset(buffer, 0xA5, sizeof buffer);
        std::memset(buffer + kBefore, fills[pass], kWindow);
        char* window = reinterpret_cast<char*>(buffer + kBefore);
        format(window);
        for (std::size_t i = 0; i < kBuffer; ++i) {
            if (i < kBefore || i >= kBefore + kWindow) {
                EXPECT_EQ(buffer[i], 0xA5) << "byte " << static_cast<long>(i - kBefore)
                                           << " relative to the text was written";
            }
        }
        const void* nul = std::memchr(window, '\0', kWindow);
        EXPECT_NE(nul, nullptr) << "the text is not terminated within 9 bytes";
        const std::size_t length =
            nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - window) + 1
                           : kWindow;
        results[pass] = std::string(window, length);
    }
    EXPECT_EQ(results[0], results[1]) << "the text depends on what the buffer held";
    return results[0];
}

struct FloatRow {
    float value;
    const char* expected;
};

struct LongRow {
    std::int32_t value;
    const char* expected;
};

class FormatTest : public ::testing::Test {
protected:
    std::string floatText(float value) {
        return formatted([&](char* out) { effect.formatFloat(value, out); });
    }
    PlainEffect effect; // sample rate 44100 Hz
};

using FormatFloat = FormatTest;
using FormatDecibels = FormatTest;
using FormatHertz = FormatTest;
using FormatMilliseconds = FormatTest;
using FormatLong = FormatTest;
using FormatBounds = FormatTest;

TEST_F(FormatFloat, FixedPointTextsOfEightPositions) {
    const FloatRow rows[] = {
        {0.0f, "0.000000"},
        {-0.0f, "0.000000"},
        {0.5f, "0.500000"},
        {1.0f, "1.000000"},
        {3.14159f, "3.141590"},
        {12.345f, "12.34500"},
        {19.99f, "19.98999"}, // held as slightly less than 19.99
        {0.7f, "0.699999"},   // held as slightly less than 0.7
        {0.0000005f, "0.000000"},
        {1000.0f, "1000.000"},
        {44100.0f, "44100.00"},
        {9999999.0f, "9999999."},
        {-3.5f, "-3.50000"},
        {-0.5f, "-0.50000"},
        {-0.001f, "-0.00100"},
        {-0.0000005f, "-0.00000"},
        {100000000.0f, " Huge!  "},
        {-10000000.0f, " Huge!  "},
        {kInf, " Huge!  "},
        {-kInf, " Huge!  "},
        // The last digit is truncated, never raised.
        {999999.9f, "999999.8"}, // held as 999999.875
        {0.001f, "0.001000"},
        {-123456.7f, "-123456."},
        {1234567.5f, "1234567."},
    };
    for (const FloatRow& row : rows) {
        SCOPED_TRACE("value " + formatArg(row.value));
        EXPECT_EQ(floatText(row.value), text(row.expected));
    }
}

TEST_F(FormatFloat, IntegerPartsTooLongForAPointShowTheirExactDigits) {
    // Non-negative 10,000,000 to 99,999,999 and negative -1,000,000 to -9,999,999 fill all
    // 8 characters with digits (and sign); no leading digit is ever dropped.
    const FloatRow rows[] = {
        {10000000.0f, "10000000"}, {12345678.0f, "12345678"}, {16777216.0f, "16777216"},
        {99999992.0f, "99999992"}, {-1000000.0f, "-1000000"}, {-1234567.0f, "-1234567"},
        {-9999999.0f, "-9999999"}, {10000000.5f, "10000000"}, {-1000000.5f, "-1000000"},
        {99999999.0f, " Huge!  "}, // held as 100,000,000
    };
    for (const FloatRow& row : rows) {
        SCOPED_TRACE("value " + formatArg(row.value));
        EXPECT_EQ(floatText(row.value), text(row.expected));
    }
}

TEST_F(FormatFloat, NotANumberSaysSo) {
    EXPECT_EQ(floatText(kNaN), text("  NaN   "));
    EXPECT_EQ(floatText(-kNaN), text("  NaN   "));
    EXPECT_EQ(floatText(std::numeric_limits<float>::signaling_NaN()), text("  NaN   "));
}

TEST_F(FormatDecibels, RatiosInDecibelsAndMinusInfinityForNoSignal) {
    const FloatRow rows[] = {
        {1.0f, "0.000000"},  {10.0f, "20.00000"},  {100.0f, "40.00000"}, {2.0f, "6.020599"},
        {0.5f, "-6.02059"},  {0.001f, "-60.0000"}, {0.0f, "  -oo   "},   {-1.0f, "  -oo   "},
        {-0.0f, "  -oo   "}, {kNaN, "  -oo   "},   {-kInf, "  -oo   "},  {kInf, " Huge!  "},
        {1e30f, "600.0000"},
    };
    for (const FloatRow& row : rows) {
        SCOPED_TRACE("ratio " + formatArg(row.value));
        EXPECT_EQ(formatted([&](char* out) { effect.formatDecibels(row.value, out); }),
                  text(row.expected));
    }
}

struct PeriodRow {
    float samples;
    const char* hertz;
    const char* milliseconds;
};

TEST_F(FormatHertz, PeriodsAt44100Hz) {
    const PeriodRow rows[] = {
        {0.0f, "0.000000", "0.000000"},     {1.0f, "44100.00", "0.022675"},
        {10.0f, "4410.000", "0.226757"},    {441.0f, "100.0000", "10.00000"},
        {22050.0f, "2.000000", "500.0000"}, {44100.0f, "1.000000", "1000.000"},
    };
    for (const PeriodRow& row : rows) {
        SCOPED_TRACE("samples " + formatArg(row.samples));
        EXPECT_EQ(formatted([&](char* out) { effect.formatHertz(row.samples, out); }),
                  text(row.hertz));
        EXPECT_EQ(formatted([&](char* out) { effect.formatMilliseconds(row.samples, out); }),
                  text(row.milliseconds));
    }
}

TEST_F(FormatHertz, NoPeriodShowsZeroAndOddPeriodsGoThroughFormatFloat) {
    const FloatRow rows[] = {
        {kNaN, "0.000000"},    {-0.0f, "0.000000"}, {-441.0f, "-100.000"},   {0.001f, "44099996"},
        {0.0001f, " Huge!  "}, {kInf, "0.000000"},  {kDenormal, " Huge!  "},
    };
    for (const FloatRow& row : rows) {
        SCOPED_TRACE("samples " + formatArg(row.value));
        EXPECT_EQ(formatted([&](char* out) { effect.formatHertz(row.value, out); }),
                  text(row.expected));
    }
}

TEST_F(FormatMilliseconds, FollowsTheCurrentSampleRate) {
    effect.dispatcher(effSetSampleRate, 0, 0, nullptr, 48000.0f);
    EXPECT_EQ(formatted([&](char* out) { effect.formatMilliseconds(48.0f, out); }),
              text("1.000000"));
    EXPECT_EQ(formatted([&](char* out) { effect.formatHertz(480.0f, out); }), text("100.0000"));
}

TEST_F(FormatMilliseconds, ZeroSampleRateGivesOverflowOrNotANumber) {
    effect.setSampleRate(0.0f);
    const FloatRow rows[] = {
        {1.0f, " Huge!  "}, {-1.0f, " Huge!  "}, {kDenormal, " Huge!  "},
        {0.0f, "  NaN   "}, {-0.0f, "  NaN   "},
    };
    for (const FloatRow& row : rows) {
        SCOPED_TRACE("samples " + formatArg(row.value));
        EXPECT_EQ(formatted([&](char* out) { effect.formatMilliseconds(row.value, out); }),
                  text(row.expected));
    }
}

TEST_F(FormatLong, IntegersRightAlignedInSevenColumns) {
    const LongRow rows[] = {
        {0, "      0"},         {60, "     60"},        {127, "    127"},
        {1000, "   1000"},      {-5, "     -5"},        {9999999, "9999999"},
        {-999999, "-999999"},   {-1234567, "-1234567"}, {100000000, " Huge!  "},
        {INT_MAX, " Huge!  "},  {-1, "     -1"},        {10000000, "10000000"},
        {12345678, "12345678"}, {99999999, "99999999"}, {-9999999, "-9999999"},
    };
    for (const LongRow& row : rows) {
        SCOPED_TRACE("value " + std::to_string(row.value));
        EXPECT_EQ(formatted([&](char* out) { effect.formatLong(row.value, out); }),
                  text(row.expected));
    }
}

TEST_F(FormatLong, BelowMinusSevenNinesShowsOverflowNotACutNumber) {
    for (const std::int32_t value : {-10000000, -12345678, -99999999, -100000000, INT_MIN}) {
        SCOPED_TRACE("value " + std::to_string(value));
        EXPECT_EQ(formatted([&](char* out) { effect.formatLong(value, out); }), text(" Huge!  "));
    }
}

TEST_F(FormatBounds, NoFormatterWritesMoreThanNineBytesForExtremeInputs) {
    const std::vector<float> values = {
        kNaN,    -kNaN,    kInf,      -kInf,      1e30f,      -1e30f,      FLT_MAX,     -FLT_MAX,
        FLT_MIN, -FLT_MIN, kDenormal, -kDenormal, 0.9999999f, -0.9999999f, 99999992.0f, -9999999.0f,
        1e8f,    -1e7f,    1.0e-7f,   -1.0e-7f,   123456.79f, -12345.678f, 0.0f,        -0.0f,
    };
    const std::vector<float> rates = {44100.0f, 0.0f,  -44100.0f, kNaN,      kInf,
                                      -kInf,    1e30f, FLT_MIN,   kDenormal, 1.0f};
    for (const float rate : rates) {
        effect.setSampleRate(rate);
        for (const float value : values) {
            SCOPED_TRACE("value " + formatArg(value) + " at rate " + formatArg(rate));
            formatted([&](char* out) { effect.formatFloat(value, out); });
            formatted([&](char* out) { effect.formatDecibels(value, out); });
            formatted([&](char* out) { effect.formatHertz(value, out); });
            formatted([&](char* out) { effect.formatMilliseconds(value, out); });
        }
    }
    for (const std::int32_t value :
         {INT_MIN, INT_MIN + 1, INT_MAX, -10000000, -9999999, 99999999, 100000000, 0, -1}) {
        SCOPED_TRACE("long " + std::to_string(value));
        formatted([&](char* out) { effect.formatLong(value, out); });
    }
}

// A sample rate of its own, reached only through the virtual table.
class OwnRateEffect : public PlainEffect {
public:
    float getSampleRate() override { return 1000.0f; }
};

// A float text of its own, reached only through the virtual table.
class OwnFloatEffect : public PlainEffect {
public:
    void formatFloat(float value, char* out) override {
        values.push_back(value);
        std::strcpy(out, "own");
    }
    std::vector<float> values;
};

TEST(FormatVirtual, HertzAndMillisecondsAskForTheSampleRateThroughTheVirtualTable) {
    OwnRateEffect effect; // stores 44100 Hz, answers 1000 Hz
    EXPECT_EQ(formatted([&](char* out) { effect.formatHertz(10.0f, out); }), text("100.0000"));
    EXPECT_EQ(formatted([&](char* out) { effect.formatMilliseconds(10.0f, out); }),
              text("10.00000"));
}

TEST(FormatVirtual, UnitFormattersHandTheirNumberToTheVirtualFormatFloat) {
    OwnFloatEffect effect;
    EXPECT_EQ(formatted([&](char* out) { effect.formatDecibels(10.0f, out); }), text("own"));
    EXPECT_EQ(formatted([&](char* out) { effect.formatHertz(441.0f, out); }), text("own"));
    EXPECT_EQ(formatted([&](char* out) { effect.formatMilliseconds(441.0f, out); }), text("own"));
    EXPECT_EQ(formatted([&](char* out) { effect.formatHertz(0.0f, out); }), text("own"));
    // formatted() runs each formatter twice.
    EXPECT_EQ(effect.values,
              (std::vector<float>{20.0f, 20.0f, 100.0f, 100.0f, 10.0f, 10.0f, 0.0f, 0.0f}));
    // The minus infinity text is the formatter's own and does not go through formatFloat.
    effect.values.clear();
    EXPECT_EQ(formatted([&](char* out) { effect.formatDecibels(0.0f, out); }), text("  -oo   "));
    EXPECT_TRUE(effect.values.empty());
}

} // namespace
} // namespace quill::test
