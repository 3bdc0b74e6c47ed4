// Float-to-integer conversions that truncate toward zero and never invoke undefined behaviour.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace quill {

// Truncates toward zero; NaN gives 0, values beyond the int32 range give its nearest bound.
constexpr std::int32_t truncateToInt32(double value) noexcept {
    if (!(value == value)) {
        return 0;
    }
    if (value >= 2147483647.0) {
        return std::numeric_limits<std::int32_t>::max();
    }
    if (value <= -2147483648.0) {
        return std::numeric_limits<std::int32_t>::min();
    }
    return static_cast<std::int32_t>(value);
}

// Truncates toward zero into a MIDI data byte: NaN and negative values give 0, large ones 127.
constexpr std::uint8_t truncateToMidiByte(double value) noexcept {
    // Two comparisons: below 1 (NaN included) truncates to 0, from 127 on saturates.
    if (!(value >= 1.0)) {
        return 0;
    }
    if (value >= 127.0) {
        return 127;
    }
    return static_cast<std::uint8_t>(static_cast<std::int32_t>(value));
}

} // namespace quill
