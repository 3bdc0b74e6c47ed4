#include "midi_file.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <stdexcept>
#include <utility>

namespace quill::midi {

std::vector<uint8_t> encodeVlq(uint32_t value) {
    if (value > 0x0FFFFFFFu)
        throw std::out_of_range("MIDI delta time " + std::to_string(value) +
                                " is longer than a file can hold (0x0FFFFFFF ticks)");
    uint8_t groups[4];
    int n = 0;
    do {
        groups[n++] = static_cast<uint8_t>(value & 0x7Fu);
        value >>= 7;
    } while (value != 0);
    std::vector<uint8_t> out;
    for (int i = n - 1; i >= 0; --i)
        out.push_back(static_cast<uint8_t>(groups[i] | (i > 0 ? 0x80u : 0u)));
    return out;
}

TickClock TickClock::forSampleRate(double sampleRate) {
    TickClock clock;
    clock.sampleRate = sampleRate;
    // Ticks per second at 120 bpm are 2 * division.
    if (sampleRate >= 2.0 && sampleRate <= 65534.0 && std::floor(sampleRate) == sampleRate &&
        static_cast<int64_t>(sampleRate) % 2 == 0)
        clock.division = static_cast<uint16_t>(static_cast<int64_t>(sampleRate) / 2);
    else
        clock.division = 960;
    return clock;
}

bool TickClock::sampleExact() const {
    return 2.0 * division == sampleRate;
}

int64_t TickClock::ticksAt(int64_t samplePosition) const {
    if (sampleExact())
        return samplePosition;
    // From the absolute position each time: no error carries from one event to the next.
    return std::llround(static_cast<double>(samplePosition) * 2.0 * division / sampleRate);
}

int channelMessageLength(uint8_t status) {
    switch (status & 0xF0) {
    case 0x80:
    case 0x90:
    case 0xA0:
    case 0xB0:
    case 0xE0:
        return 3;
    case 0xC0:
    case 0xD0:
        return 2;
    default:
        return 0;
    }
}

namespace {

void put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(v >> shift));
}

void put16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
}

class TrackWriter {
public:
    explicit TrackWriter(std::vector<uint8_t>& out) : out_(out) {}

    void event(int64_t tick, std::initializer_list<uint8_t> bytes) {
        tick = std::max(tick, lastTick_);
        auto delta =
            encodeVlq(static_cast<uint32_t>(std::min<int64_t>(tick - lastTick_, 0x7FFFFFFF)));
        out_.insert(out_.end(), delta.begin(), delta.end());
        out_.insert(out_.end(), bytes.begin(), bytes.end());
        lastTick_ = tick;
    }

    void meta(int64_t tick, uint8_t type, const std::vector<uint8_t>& data) {
        event(tick, {0xFF, type});
        auto length = encodeVlq(static_cast<uint32_t>(data.size()));
        out_.insert(out_.end(), length.begin(), length.end());
        out_.insert(out_.end(), data.begin(), data.end());
    }

    int64_t lastTick() const { return lastTick_; }

private:
    std::vector<uint8_t>& out_;
    int64_t lastTick_ = 0;
};

} // namespace

std::vector<uint8_t> writeType0(const std::vector<TimedMessage>& messages, int64_t endSample,
                                double sampleRate, const std::string& trackName) {
    const TickClock clock = TickClock::forSampleRate(sampleRate);

    std::vector<TimedMessage> sorted = messages;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const TimedMessage& a, const TimedMessage& b) {
                         return a.samplePosition < b.samplePosition;
                     });

    std::vector<uint8_t> track;
    TrackWriter writer(track);
    if (!trackName.empty())
        writer.meta(0, 0x03, std::vector<uint8_t>(trackName.begin(), trackName.end()));
    const uint32_t tempo = TickClock::kTempo;
    writer.meta(0, 0x51,
                {static_cast<uint8_t>(tempo >> 16), static_cast<uint8_t>(tempo >> 8),
                 static_cast<uint8_t>(tempo)});

    // Notes sounding, by (channel, key): how many note-ons have not been ended yet.
    std::map<std::pair<int, int>, int> sounding;
    for (const TimedMessage& m : sorted) {
        const uint8_t status = m.bytes[0];
        const int length = channelMessageLength(status);
        if (length == 0)
            continue;
        const int64_t tick = clock.ticksAt(std::max<int64_t>(m.samplePosition, 0));
        const uint8_t data1 = m.bytes[1] & 0x7F;
        const uint8_t data2 = m.bytes[2] & 0x7F;
        if (length == 3)
            writer.event(tick, {status, data1, data2});
        else
            writer.event(tick, {status, data1});

        const auto note = std::make_pair(status & 0x0F, static_cast<int>(data1));
        const uint8_t kind = status & 0xF0;
        if (kind == 0x90 && data2 > 0) {
            ++sounding[note];
        } else if (kind == 0x80 || (kind == 0x90 && data2 == 0)) {
            auto it = sounding.find(note);
            if (it != sounding.end() && --it->second == 0)
                sounding.erase(it);
        }
    }

    const int64_t endTick =
        std::max(clock.ticksAt(std::max<int64_t>(endSample, 0)), writer.lastTick());
    for (const auto& [note, count] : sounding)
        for (int i = 0; i < count; ++i)
            writer.event(endTick, {static_cast<uint8_t>(0x80 | note.first),
                                   static_cast<uint8_t>(note.second), 0});
    writer.meta(endTick, 0x2F, {});

    std::vector<uint8_t> file;
    file.insert(file.end(), {'M', 'T', 'h', 'd'});
    put32(file, 6);
    put16(file, 0); // format 0
    put16(file, 1); // one track
    put16(file, clock.division);
    file.insert(file.end(), {'M', 'T', 'r', 'k'});
    put32(file, static_cast<uint32_t>(track.size()));
    file.insert(file.end(), track.begin(), track.end());
    return file;
}

} // namespace quill::midi
