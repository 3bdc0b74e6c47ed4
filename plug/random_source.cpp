#include "plug/random_source.h"

namespace quill {
namespace {

thread_local std::uint32_t state = 1;

} // namespace

std::uint32_t& threadRandomState() noexcept { return state; }

int nextRandom() noexcept { return nextRandomFrom(state); }

double randomFactor() noexcept { return randomFactorFrom(state); }

} // namespace quill
