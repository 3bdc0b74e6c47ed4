// The block routine: counts samples and, where the current interval runs out, ends the sounding
// note and starts a new one with a drawn velocity, then draws the next interval. It never walks
// samples one by one, allocates nothing and makes no call but the host's event callback.
#include "plug/random_note_plug.h"

#include "host/numeric.h"
#include "plug/random_source.h"

#include <cstring>

namespace quill {
namespace {

// truncate(interval), but never below the shortest interval and at most the int32 range; NaN
// gives the shortest interval.
std::int32_t atLeastMinInterval(double interval) noexcept {
    if (!(interval >= kMinIntervalSamples)) {
        return kMinIntervalSamples;
    }
    if (interval >= 2147483647.0) {
        return 2147483647;
    }
    return static_cast<std::int32_t>(interval);
}

} // namespace

void RandomNotePlug::process(float**, float**, std::int32_t sampleFrames) noexcept {
    runBlock(sampleFrames);
}

void RandomNotePlug::processReplacing(float**, float**, std::int32_t sampleFrames) noexcept {
    runBlock(sampleFrames);
}

void RandomNotePlug::runBlock(std::int32_t sampleFrames) noexcept {
    if (sampleFrames <= 0) {
        return;
    }
    // Most blocks hold no note and only count. Nothing a block does before its first note can be
    // seen from outside, so the values in force at the block's start are read at that note.
    if (intervalSamples - elapsedSamples >= sampleFrames) {
        elapsedSamples += sampleFrames;
        return;
    }
    runNotes(sampleFrames);
}

void RandomNotePlug::runNotes(std::int32_t sampleFrames) noexcept {
    const double rate = getSampleRate();
    const double minT = rate * static_cast<double>(value(MinTime));
    const double minV = static_cast<double>(value(MinAmplitude)) * 127.0;
    const double maxV = static_cast<double>(value(MaxAmplitude)) * 127.0;
    std::uint32_t& random = threadRandomState();

    std::int32_t pos = 0;
    while (pos < sampleFrames) {
        const std::int32_t remaining = intervalSamples - elapsedSamples;
        // A note falls in this block only when its interval ends inside it (offsets 0 to N-1);
        // one that ends exactly at the block's end starts the next block at offset 0.
        if (remaining >= sampleFrames - pos) {
            elapsedSamples += sampleFrames - pos;
            pos = sampleFrames;
        } else {
            pos += remaining;
            elapsedSamples = 0;
            endNote(pos);
            const double velocity = randomFactorFrom(random) * (maxV - minV) + minV;
            sendNote(truncateToMidiByte(velocity), pos);
            const double maxInterval = maxIntervalSamples.load(std::memory_order_relaxed);
            const double interval = randomFactorFrom(random) * (maxInterval - minT) + minT;
            intervalSamples = atLeastMinInterval(interval);
        }
    }
}

std::uint8_t RandomNotePlug::currentKey() const noexcept {
    return truncateToMidiByte(static_cast<double>(value(Note)) * 127.0);
}

void RandomNotePlug::endNote(std::int32_t deltaFrames) noexcept {
    const std::uint8_t key =
        soundingKey >= 0 ? static_cast<std::uint8_t>(soundingKey) : currentKey();
    sendEvent(key, 0, deltaFrames);
}

void RandomNotePlug::sendNote(std::uint8_t velocity, std::int32_t deltaFrames) noexcept {
    const std::uint8_t key = currentKey();
    soundingKey = key;
    sendEvent(key, velocity, deltaFrames);
}

void RandomNotePlug::sendEvent(std::uint8_t key, std::uint8_t velocity,
                               std::int32_t deltaFrames) noexcept {
    VstMidiEvent event;
    std::memset(&event, 0, sizeof event);
    event.type = kVstMidiType;
    event.byteSize = static_cast<std::int32_t>(sizeof event - 2 * sizeof(std::int32_t));
    event.deltaFrames = deltaFrames;
    event.midiData[0] = static_cast<char>(0x90);
    event.midiData[1] = static_cast<char>(key);
    event.midiData[2] = static_cast<char>(velocity);

    VstEvents events;
    std::memset(&events, 0, sizeof events);
    events.numEvents = 1;
    events.events[0] = &event;
    hostProcessEvents(&events);
}

void RandomNotePlug::suspend() {
    // The interval limit follows Max time at the rate in force, as setting Max time does.
    updateMaxInterval(value(MaxTime));
}

void RandomNotePlug::resume() { hostWantMidi(1); }

} // namespace quill
