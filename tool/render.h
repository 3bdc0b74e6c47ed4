// Runs a plug-in block after block and collects the MIDI it sends, optionally playing it
// through a second plug-in (an instrument) whose audio is handed to a sink.
#pragma once

#include "vst_host.h"

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace quill {

// A mistake in what the user asked for (unknown parameter, bad value), as opposed to a
// failure of the plug-in or the system.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct ParameterSetting {
    std::string name; // a parameter name, or its index in decimal
    std::string value;
};

struct RenderOptions {
    std::string plugin;
    float sampleRate = 44100.0f;
    int32_t blockSize = 1024;
    int64_t frames = 0; // total length; the last block may be shorter
    std::vector<ParameterSetting> settings;
    std::string through; // instrument to play the events through; empty for none
};

struct RenderResult {
    std::string effectName; // of the generating plug-in
    std::vector<ReceivedEvent> events;
    int64_t frames = 0;
    int32_t channels = 0; // of the instrument's audio (0 without one)
};

// Receives the instrument's audio: `channels` buffers of `frames` samples each.
using AudioSink = std::function<void(const std::vector<const float*>& channels, int32_t frames)>;
// Called after each block with the frames done so far and the total.
using ProgressFn = std::function<void(int64_t done, int64_t total)>;
// Called once the instrument is loaded, with its output channel count, before any audio.
using ChannelsFn = std::function<void(int32_t channels)>;

// Loads, opens and switches on the plug-in, applies the settings in order, then runs all
// blocks. The caller decides the thread; quill runs it on a fresh one so that plug-ins with
// per-thread random state give the same result every time. Throws LoadError or
// std::runtime_error with a message naming the plug-in, parameter or value.
RenderResult render(const RenderOptions& options, const ChannelsFn& onChannels = {},
                    const AudioSink& sink = {}, const ProgressFn& progress = {});

// Finds a parameter by its index ("3") or its name (exact, else ignoring case and blanks
// around it). Throws UsageError listing the plug-in's parameter names.
int32_t findParameter(Plugin& plugin, const std::string& name);

// Parses a parameter value: a finite number from 0 to 1. Throws UsageError.
float parseParameterValue(const std::string& name, const std::string& text);

// Frames for a duration in seconds at a rate (rounded to the nearest frame).
int64_t framesForSeconds(double seconds, double sampleRate);

} // namespace quill
