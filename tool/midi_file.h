// Standard MIDI File writer (format 0, one track) for events placed at sample positions.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace quill::midi {

// The variable-length quantity of a delta time: 7 bits a byte, most significant first, the
// high bit set on all bytes but the last. Values above 0x0FFFFFFF do not fit in the four bytes
// a file allows; they throw std::out_of_range.
std::vector<uint8_t> encodeVlq(uint32_t value);

// Turns sample positions into ticks. The tempo is fixed at 120 beats per minute (500000 µs a
// quarter note); where the sample rate allows it the division is rate / 2 ticks a quarter, so
// that one tick is exactly one sample. Otherwise the division is 960 and ticks are rounded
// from the absolute position, so rounding never accumulates along the file.
struct TickClock {
    static constexpr uint32_t kTempo = 500000; // microseconds per quarter note

    uint16_t division = 960; // ticks per quarter note
    double sampleRate = 44100.0;

    static TickClock forSampleRate(double sampleRate);
    // True when one tick is exactly one sample.
    bool sampleExact() const;
    int64_t ticksAt(int64_t samplePosition) const;
};

// A MIDI message at an absolute sample position.
struct TimedMessage {
    int64_t samplePosition = 0;
    std::array<uint8_t, 4> bytes{};
};

// Bytes in a channel message with this status (3, or 2 for program change and channel
// pressure); 0 for anything a type 0 track does not take from a plug-in (system messages,
// data bytes in the status place).
int channelMessageLength(uint8_t status);

// A whole type 0 file: header, then one track with the track name (when not empty), the
// tempo, the messages in time order (equal times keep their order), a note-off at endSample
// for every note still sounding there, and the end of track. Messages before 0 are placed at
// 0; the track ends at endSample or at the last message, whichever is later.
std::vector<uint8_t> writeType0(const std::vector<TimedMessage>& messages, int64_t endSample,
                                double sampleRate, const std::string& trackName);

} // namespace quill::midi
