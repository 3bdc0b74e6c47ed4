#include "render.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <deque>
#include <optional>
#include <stdexcept>

namespace quill {

namespace {

std::string trimLower(const std::string& s) {
    size_t begin = 0, end = s.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(s[begin])))
        ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(s[end - 1])))
        --end;
    std::string out = s.substr(begin, end - begin);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool allDigits(const std::string& s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c)) != 0;
    });
}

// Audio buffers for one plug-in: numInputs silent inputs, numOutputs outputs.
class Buffers {
public:
    Buffers(const vst::AEffect& effect, int32_t blockSize)
        : inputs_(static_cast<size_t>(std::max(effect.numInputs, 0)),
                  std::vector<float>(static_cast<size_t>(blockSize))),
          outputs_(static_cast<size_t>(std::max(effect.numOutputs, 0)),
                   std::vector<float>(static_cast<size_t>(blockSize))) {
        for (auto& in : inputs_)
            inputPtrs_.push_back(in.data());
        for (auto& out : outputs_)
            outputPtrs_.push_back(out.data());
        // Never hand out a null array, even to a plug-in without channels.
        inputPtrs_.push_back(nullptr);
        outputPtrs_.push_back(nullptr);
    }

    // One block through processReplacing when the plug-in can, else through process
    // (which adds to the outputs, so they start silent).
    void run(Plugin& plugin, int32_t frames) {
        for (auto& out : outputs_)
            std::fill(out.begin(), out.end(), 0.0f);
        for (auto& in : inputs_)
            std::fill(in.begin(), in.end(), 0.0f);
        if (plugin.effect().flags & vst::effFlagsCanReplacing)
            plugin.processReplacing(inputPtrs_.data(), outputPtrs_.data(), frames);
        else
            plugin.process(inputPtrs_.data(), outputPtrs_.data(), frames);
    }

    std::vector<const float*> outputs() const {
        std::vector<const float*> out;
        for (const auto& o : outputs_)
            out.push_back(o.data());
        return out;
    }

private:
    std::vector<std::vector<float>> inputs_, outputs_;
    std::vector<float*> inputPtrs_, outputPtrs_;
};

// Hands an instrument each event in the block where its absolute position falls.
class EventFeeder {
public:
    void add(const std::vector<ReceivedEvent>& events) {
        for (const ReceivedEvent& e : events)
            if (e.type == vst::kVstMidiType)
                pending_.push_back(e);
        std::stable_sort(pending_.begin(), pending_.end(),
                         [](const ReceivedEvent& a, const ReceivedEvent& b) {
                             return a.samplePosition() < b.samplePosition();
                         });
    }

    void feed(Plugin& instrument, int64_t blockStart, int32_t frames) {
        std::vector<vst::VstMidiEvent> block;
        while (!pending_.empty() && pending_.front().samplePosition() < blockStart + frames) {
            const ReceivedEvent& e = pending_.front();
            vst::VstMidiEvent m{};
            m.type = vst::kVstMidiType;
            m.byteSize = vst::kVstMidiEventByteSize;
            m.deltaFrames =
                static_cast<int32_t>(std::max<int64_t>(e.samplePosition() - blockStart, 0));
            for (size_t i = 0; i < 4; ++i)
                m.midiData[i] = e.midi[i];
            block.push_back(m);
            pending_.pop_front();
        }
        if (!block.empty())
            instrument.sendEvents(block);
    }

private:
    std::deque<ReceivedEvent> pending_;
};

void startPlugin(Plugin& plugin, const RenderOptions& options) {
    plugin.config().recordRequests = false;
    plugin.dispatch(vst::effOpen);
    plugin.setSampleRate(options.sampleRate);
    plugin.setBlockSize(options.blockSize);
}

} // namespace

int32_t findParameter(Plugin& plugin, const std::string& name) {
    const int32_t count = plugin.effect().numParams;
    if (allDigits(name)) {
        const long index = std::strtol(name.c_str(), nullptr, 10);
        if (name.size() > 9 || index >= count)
            throw UsageError("parameter index " + name + " is out of range: " + plugin.path() +
                             " has " + std::to_string(count) + " parameters (0 to " +
                             std::to_string(count - 1) + ")");
        return static_cast<int32_t>(index);
    }
    std::vector<std::string> names;
    for (int32_t i = 0; i < count; ++i)
        names.push_back(plugin.text(vst::effGetParamName, i));
    for (int32_t i = 0; i < count; ++i)
        if (names[static_cast<size_t>(i)] == name)
            return i;
    int32_t found = -1;
    for (int32_t i = 0; i < count; ++i) {
        if (trimLower(names[static_cast<size_t>(i)]) == trimLower(name)) {
            if (found >= 0)
                throw UsageError("parameter name '" + name + "' is ambiguous; name it by index");
            found = i;
        }
    }
    if (found >= 0)
        return found;
    std::string known;
    for (int32_t i = 0; i < count; ++i)
        known += "\n  " + std::to_string(i) + " \"" + names[static_cast<size_t>(i)] + "\"";
    throw UsageError("unknown parameter '" + name + "' in " + plugin.path() +
                     (count ? "; its parameters are:" + known : "; it has none"));
}

float parseParameterValue(const std::string& name, const std::string& text) {
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(begin, &end);
    if (text.empty() || end == begin || *end != '\0' || errno == ERANGE || !std::isfinite(v))
        throw UsageError("value '" + text + "' for parameter '" + name + "' is not a number");
    if (v < 0.0 || v > 1.0)
        throw UsageError("value " + text + " for parameter '" + name + "' is outside 0..1");
    return static_cast<float>(v);
}

int64_t framesForSeconds(double seconds, double sampleRate) {
    return static_cast<int64_t>(std::llround(seconds * sampleRate));
}

RenderResult render(const RenderOptions& options, const ChannelsFn& onChannels,
                    const AudioSink& sink, const ProgressFn& progress) {
    if (options.blockSize <= 0)
        throw std::runtime_error("block size must be at least 1");
    if (!(options.sampleRate > 0.0f))
        throw std::runtime_error("sample rate must be above 0");

    Plugin generator = Plugin::load(options.plugin);
    startPlugin(generator, options);
    for (const ParameterSetting& s : options.settings) {
        const int32_t index = findParameter(generator, s.name);
        generator.setParameter(index, parseParameterValue(s.name, s.value));
    }

    std::optional<Plugin> instrument;
    std::optional<Buffers> instrumentBuffers;
    RenderResult result;
    if (!options.through.empty()) {
        instrument.emplace(Plugin::load(options.through));
        startPlugin(*instrument, options);
        result.channels = std::max(instrument->effect().numOutputs, 0);
        if (result.channels == 0)
            throw std::runtime_error(options.through +
                                     ": the instrument has no audio outputs to record");
        instrumentBuffers.emplace(instrument->effect(), options.blockSize);
        if (onChannels)
            onChannels(result.channels);
        instrument->resume();
    }

    result.effectName = generator.text(vst::effGetEffectName);
    Buffers generatorBuffers(generator.effect(), options.blockSize);
    generator.resume();

    EventFeeder feeder;
    int64_t done = 0;
    while (done < options.frames) {
        const auto frames =
            static_cast<int32_t>(std::min<int64_t>(options.blockSize, options.frames - done));
        generatorBuffers.run(generator, frames);
        std::vector<ReceivedEvent> events = generator.takeEvents();
        if (instrument) {
            feeder.add(events);
            feeder.feed(*instrument, done, frames);
            instrumentBuffers->run(*instrument, frames);
            if (sink)
                sink(instrumentBuffers->outputs(), frames);
        }
        result.events.insert(result.events.end(), events.begin(), events.end());
        done += frames;
        if (progress)
            progress(done, options.frames);
    }
    generator.suspend();
    if (instrument)
        instrument->suspend();
    result.frames = done;
    return result;
}

} // namespace quill
