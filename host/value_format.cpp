// The fixed-width value texts hosts show in their generic parameter views. Every text is at most
// 8 characters and the NUL; digits are built in a scratch area of our own, nothing is allocated.
#include "host/effect_base.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace quill {
namespace {

constexpr char kOverflowText[] = " Huge!  ";
constexpr char kMinusInfinityText[] = "  -oo   ";
constexpr char kNotANumberText[] = "  NaN   ";
constexpr int kPositions = 8;

static_assert(sizeof kOverflowText == 9 && sizeof kMinusInfinityText == 9 &&
              sizeof kNotANumberText == 9);

void copyFixed(const char (&fixed)[9], char* text) { std::memcpy(text, fixed, sizeof fixed); }

// Writes the decimal digits of `magnitude` at `out`, most significant first; answers the count.
int writeDigits(std::uint64_t magnitude, char* out) {
    char reversed[24];
    int count = 0;
    do {
        reversed[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    for (int i = 0; i < count; ++i) {
        out[i] = reversed[count - 1 - i];
    }
    return count;
}

} // namespace

void EffectBase::formatFloat(float value, char* text) {
    double v = value;
    if (std::isnan(v)) {
        copyFixed(kNotANumberText, text);
        return;
    }
    const bool negative = v < 0.0;
    if (negative) {
        v = -v;
    }
    if ((!negative && v > 99999999.0) || (negative && v > 9999999.0)) {
        copyFixed(kOverflowText, text);
        return;
    }

    char scratch[32];
    int length = 0;
    if (negative) {
        scratch[length++] = '-';
    }
    const int integerDigits = writeDigits(static_cast<std::uint64_t>(std::floor(v)), scratch + length);
    length += integerDigits;
    // An integer part that leaves no room for the point shows as its exact digits alone.
    if (length < kPositions) {
        scratch[length++] = '.';
        const int fractionDigits = kPositions - length;
        double m = std::fmod(v, 1.0) * std::pow(10.0, fractionDigits);
        for (int i = fractionDigits - 1; i >= 0; --i) {
            int digit = 0;
            if (m > 0.0) {
                digit = static_cast<int>(std::fmod(m, 10.0));
                m /= 10.0;
            }
            scratch[length + i] = static_cast<char>('0' + digit);
        }
        length += fractionDigits;
    }
    scratch[length] = '\0';
    std::memcpy(text, scratch, static_cast<std::size_t>(length) + 1);
}

void EffectBase::formatLong(std::int32_t value, char* text) {
    // Values that need more than 8 characters show the overflow text, never a cut number.
    if (value >= 100000000 || value < -9999999) {
        copyFixed(kOverflowText, text);
        return;
    }
    char digits[16];
    const bool negative = value < 0;
    const auto magnitude =
        static_cast<std::uint64_t>(negative ? -static_cast<std::int64_t>(value) : value);
    int length = 0;
    if (negative) {
        digits[length++] = '-';
    }
    length += writeDigits(magnitude, digits + length);

    char scratch[32];
    const int padding = length < 7 ? 7 - length : 0;
    std::memset(scratch, ' ', static_cast<std::size_t>(padding));
    std::memcpy(scratch + padding, digits, static_cast<std::size_t>(length));
    scratch[padding + length] = '\0';
    std::memcpy(text, scratch, static_cast<std::size_t>(padding + length) + 1);
}

void EffectBase::formatDecibels(float value, char* text) {
    if (value > 0.0f) {
        formatFloat(static_cast<float>(20.0 * std::log10(static_cast<double>(value))), text);
    } else {
        copyFixed(kMinusInfinityText, text);
    }
}

void EffectBase::formatHertz(float samples, char* text) {
    const float rate = getSampleRate();
    if (samples != 0.0f && !std::isnan(samples)) {
        formatFloat(static_cast<float>(static_cast<double>(rate) / samples), text);
    } else {
        formatFloat(0.0f, text);
    }
}

void EffectBase::formatMilliseconds(float samples, char* text) {
    const double rate = getSampleRate();
    formatFloat(static_cast<float>(static_cast<double>(samples) * 1000.0 / rate), text);
}

} // namespace quill
