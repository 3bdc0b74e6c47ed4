// The plug-in's own random generator. Its state is held per thread and starts at 1 on a thread's
// first draw, so a thread that creates and runs a plug-in always hears the same stream.
#pragma once

#include <cmath>
#include <cstdint>

namespace quill {

// any thread: the calling thread's generator state. The reference stays valid, and is this
// thread's alone, for the thread's whole life, so a caller that draws many times can look it up
// once.
std::uint32_t& threadRandomState() noexcept;

// The next value of the generator whose state is `state`, from 0 to 32767.
inline int nextRandomFrom(std::uint32_t& state) noexcept {
    state = state * 214013u + 2531011u;
    return static_cast<int>((state >> 16) & 0x7FFFu);
}

// exp(-nextRandomFrom(state) / 32767), from e^-1 to 1; values near e^-1 are the most frequent.
inline double randomFactorFrom(std::uint32_t& state) noexcept {
    return std::exp(-(nextRandomFrom(state) / 32767.0));
}

// any thread: the next value of the calling thread's generator, from 0 to 32767
int nextRandom() noexcept;

// any thread: exp(-nextRandom() / 32767), from e^-1 to 1; values near e^-1 are the most frequent
double randomFactor() noexcept;

} // namespace quill
