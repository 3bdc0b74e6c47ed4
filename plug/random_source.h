// The plug-in's own random generator. Its state is held per thread and starts at 1 on a thread's
// first draw, so a thread that creates and runs a plug-in always hears the same stream.
#pragma once

namespace quill {

// any thread: the next value of the calling thread's generator, from 0 to 32767
int nextRandom() noexcept;

// any thread: exp(-nextRandom() / 32767), from e^-1 to 1; values near e^-1 are the most frequent
double randomFactor() noexcept;

} // namespace quill
