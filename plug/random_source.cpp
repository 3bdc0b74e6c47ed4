#include "plug/random_source.h"

#include <cmath>
#include <cstdint>

namespace quill {
namespace {

thread_local std::uint32_t state = 1;

} // namespace

int nextRandom() noexcept {
    state = state * 214013u + 2531011u;
    return static_cast<int>((state >> 16) & 0x7FFFu);
}

double randomFactor() noexcept { return std::exp(-(nextRandom() / 32767.0)); }

} // namespace quill
