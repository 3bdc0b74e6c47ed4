#include "midi_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

using quill::midi::encodeVlq;
using quill::midi::TickClock;
using quill::midi::TimedMessage;
using quill::midi::writeType0;
using Bytes = std::vector<uint8_t>;

TEST(MidiVlq, EncodesAtEveryByteBoundary) {
    const std::vector<std::pair<uint32_t, Bytes>> cases = {
        {0x00000000, {0x00}},
        {0x00000040, {0x40}},
        {0x0000007F, {0x7F}},
        {0x00000080, {0x81, 0x00}},
        {0x00002000, {0xC0, 0x00}},
        {0x00003FFF, {0xFF, 0x7F}},
        {0x00004000, {0x81, 0x80, 0x00}},
        {0x00100000, {0xC0, 0x80, 0x00}},
        {0x001FFFFF, {0xFF, 0xFF, 0x7F}},
        {0x00200000, {0x81, 0x80, 0x80, 0x00}},
        {0x08000000, {0xC0, 0x80, 0x80, 0x00}},
        {0x0FFFFFFF, {0xFF, 0xFF, 0xFF, 0x7F}},
    };
    for (const auto& [value, bytes] : cases)
        EXPECT_EQ(encodeVlq(value), bytes) << "value 0x" << std::hex << value;
}

TEST(MidiVlq, RejectsWhatFourBytesCannotHold) {
    EXPECT_THROW(encodeVlq(0x10000000), std::out_of_range);
    EXPECT_THROW(encodeVlq(0xFFFFFFFF), std::out_of_range);
}

TEST(MidiTickClock, ChoosesOneTickPerSampleWhereTheDivisionAllows) {
    // rate, division, one tick per sample
    const std::vector<std::tuple<double, int, bool>> cases = {
        {44100.0, 22050, true}, {48000.0, 24000, true}, {22050.0, 11025, true},
        {8000.0, 4000, true},   {65534.0, 32767, true}, {96000.0, 960, false},
        {11025.0, 960, false},  {44100.5, 960, false},  {1.0, 960, false},
    };
    for (const auto& [rate, division, exact] : cases) {
        const TickClock clock = TickClock::forSampleRate(rate);
        EXPECT_EQ(clock.division, division) << "rate " << rate;
        EXPECT_EQ(clock.sampleExact(), exact) << "rate " << rate;
    }
}

TEST(MidiTickClock, TicksComeFromTheAbsolutePositionWithoutDrift) {
    // rate, sample position, ticks (120 bpm: 2 * division ticks a second)
    const std::vector<std::tuple<double, int64_t, int64_t>> cases = {
        {44100.0, 0, 0},
        {44100.0, 44044, 44044},
        {44100.0, 44100LL * 3600 * 24, 44100LL * 3600 * 24}, // a day, still one tick a sample
        {96000.0, 96000LL * 3600, 1920LL * 3600},            // an hour lands on the exact tick
        {96000.0, 24, 0},                                    // 0.48 ticks
        {96000.0, 25, 1},                                    // 0.5 rounds away from zero
        {96000.0, 1024, 20},                                 // 20.48
        {11025.0, 11025LL * 1000, 1920LL * 1000},
        {11025.0, 1, 0}, // 0.174
        {11025.0, 3, 1}, // 0.522
    };
    for (const auto& [rate, pos, ticks] : cases)
        EXPECT_EQ(TickClock::forSampleRate(rate).ticksAt(pos), ticks)
            << "rate " << rate << " position " << pos;
}

TEST(MidiTickClock, BlockByBlockPositionsAddUpToTheWholeLength) {
    // Deltas between events taken from absolute positions never add up to more or less than
    // the position of the last one, whatever the rate.
    for (double rate : {96000.0, 11025.0, 44100.5}) {
        const TickClock clock = TickClock::forSampleRate(rate);
        int64_t sum = 0, previous = 0;
        for (int64_t pos = 0; pos <= 1000 * 1021; pos += 1021) {
            sum += clock.ticksAt(pos) - previous;
            previous = clock.ticksAt(pos);
        }
        EXPECT_EQ(sum, clock.ticksAt(1000 * 1021)) << "rate " << rate;
        EXPECT_NEAR(static_cast<double>(sum), 1000 * 1021 * 1920.0 / rate, 0.5) << rate;
    }
}

TEST(MidiFile, WritesHeaderNameTempoEventsClosingNoteAndEnd) {
    const std::vector<TimedMessage> messages = {
        {100, {0x90, 60, 0, 0}},  // ends nothing: nothing sounds yet
        {100, {0x90, 60, 64, 0}}, // same time: keeps its order after the first
    };
    // clang-format off
    const Bytes expected = {
        'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0x56, 0x22, // format 0, 1 track, 22050
        'M', 'T', 'r', 'k', 0, 0, 0, 29,                        // track length
        0x00, 0xFF, 0x03, 0x01, 'T',                            // track name
        0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20,               // tempo 500000
        0x64, 0x90, 60, 0,                                      // at 100
        0x00, 0x90, 60, 64,                                     // at 100
        0x81, 0x48, 0x80, 60, 0,                                // note-off at 300
        0x00, 0xFF, 0x2F, 0x00,                                 // end of track at 300
    };
    // clang-format on
    EXPECT_EQ(writeType0(messages, 300, 44100.0, "T"), expected);
}

// Reads the channel events of a file written above back as (tick, status, data1, data2).
namespace {

struct ReadEvent {
    int64_t tick;
    uint8_t status, data1, data2;
    bool operator==(const ReadEvent&) const = default;
};

std::vector<ReadEvent> readTrack(const Bytes& file) {
    std::vector<ReadEvent> out;
    size_t i = 22; // header (14) and track head (8)
    int64_t tick = 0;
    while (i < file.size()) {
        uint32_t delta = 0;
        do {
            delta = (delta << 7) | (file[i] & 0x7Fu);
        } while (file[i++] & 0x80);
        tick += delta;
        const uint8_t status = file[i++];
        if (status == 0xFF) {
            i += 1;
            const uint8_t length = file[i++];
            i += length;
            continue;
        }
        const bool two = (status & 0xF0) == 0xC0 || (status & 0xF0) == 0xD0;
        ReadEvent e{tick, status, file[i], two ? uint8_t{0} : file[i + 1]};
        i += two ? 1 : 2;
        out.push_back(e);
    }
    return out;
}

} // namespace

TEST(MidiFile, ClosesExactlyTheNotesStillSoundingAtTheEnd) {
    struct Case {
        const char* what;
        std::vector<TimedMessage> in;
        std::vector<ReadEvent> out;
    };
    const std::vector<Case> cases = {
        {"note ended by velocity 0 stays ended",
         {{10, {0x90, 60, 72}}, {20, {0x90, 60, 0}}},
         {{10, 0x90, 60, 72}, {20, 0x90, 60, 0}}},
        {"note ended by note-off stays ended",
         {{10, {0x91, 61, 72}}, {20, {0x81, 61, 5}}},
         {{10, 0x91, 61, 72}, {20, 0x81, 61, 5}}},
        {"the last of a note-on stream is closed",
         {{10, {0x90, 60, 0}}, {10, {0x90, 60, 72}}, {30, {0x90, 60, 0}}, {30, {0x90, 60, 56}}},
         {{10, 0x90, 60, 0},
          {10, 0x90, 60, 72},
          {30, 0x90, 60, 0},
          {30, 0x90, 60, 56},
          {50, 0x80, 60, 0}}},
        {"channels and keys are told apart",
         {{10, {0x90, 60, 72}}, {11, {0x91, 60, 72}}, {12, {0x90, 62, 1}}, {13, {0x81, 60, 0}}},
         {{10, 0x90, 60, 72},
          {11, 0x91, 60, 72},
          {12, 0x90, 62, 1},
          {13, 0x81, 60, 0},
          {50, 0x80, 60, 0},
          {50, 0x80, 62, 0}}},
        {"out-of-order input is sorted, system messages dropped, early ones put at 0",
         {{40, {0x90, 64, 9}}, {-5, {0xB0, 7, 100}}, {20, {0xF8, 0, 0}}, {30, {0xC0, 3, 0}}},
         {{0, 0xB0, 7, 100}, {30, 0xC0, 3, 0}, {40, 0x90, 64, 9}, {50, 0x80, 64, 0}}},
        {"an event after the end moves the end",
         {{70, {0x90, 60, 72}}},
         {{70, 0x90, 60, 72}, {70, 0x80, 60, 0}}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(readTrack(writeType0(c.in, 50, 44100.0, "")), c.out) << c.what;
}
