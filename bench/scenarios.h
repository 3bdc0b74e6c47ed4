// The plug-in states the measurements start from, set up through the record as a host would.
#pragma once

#include "plugin_loader.h"

#include <cstdint>

namespace bench {

// No buffers: the plug-in has no inputs and no outputs.
inline float** const kNoBuffers = nullptr;

// An instance switched on at `sampleRate` whose intervals are so long (Max time = Min time =
// 40000 s, about 1.76e9 samples at 44.1 kHz) that a block almost never holds a note. The first
// interval, drawn before the parameters were set, has already run out. Null on failure.
Effect* makeQuietInstance(const PluginModule& module, float sampleRate) noexcept;

// An instance switched on at `sampleRate` with Max time = Min time = 0, a note every 10 samples,
// already past its first interval so that every block carries notes. Null on failure.
Effect* makeDenseInstance(const PluginModule& module, float sampleRate,
                          std::int32_t blockLength) noexcept;

} // namespace bench
