// The note stream: times, velocities and keys as the host receives them, block after block.
// Every stream that depends on the exact draws is created and processed on a fresh thread.
#include "plug_harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <thread>
#include <vector>

namespace quill::test {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr std::int32_t kIntMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kIntMin = std::numeric_limits<std::int32_t>::min();
// The first interval a fresh thread draws at the default rate: truncate(exp(-41/32767) * 44100).
constexpr std::int64_t kFirstNote = 44044;

// Checks that events come in pairs at one instant: the velocity-0 end, then the new note.
void expectPairs(const std::vector<NoteEvent>& events) {
    ASSERT_EQ(events.size() % 2, 0u);
    for (std::size_t i = 0; i < events.size(); i += 2) {
        SCOPED_TRACE(i);
        EXPECT_EQ(events[i].velocity, 0);
        EXPECT_EQ(events[i].block, events[i + 1].block);
        EXPECT_EQ(events[i].deltaFrames, events[i + 1].deltaFrames);
    }
}

// The absolute times of the notes (one per pair).
std::vector<std::int64_t> noteTimes(const std::vector<NoteEvent>& events) {
    std::vector<std::int64_t> times;
    for (std::size_t i = 1; i < events.size(); i += 2) {
        times.push_back(events[i].time());
    }
    return times;
}

// Notes at `first`, `first + step`, ... up to but excluding `end`.
std::vector<std::int64_t> evenlySpaced(std::int64_t first, std::int64_t step, std::int64_t end) {
    std::vector<std::int64_t> times;
    for (std::int64_t t = first; t < end; t += step) {
        times.push_back(t);
    }
    return times;
}

void expectInsideBlocks(const std::vector<NoteEvent>& events) {
    for (const NoteEvent& event : events) {
        EXPECT_GE(event.deltaFrames, 0);
        EXPECT_LT(event.deltaFrames, event.blockLength) << "block " << event.block;
    }
}

TEST(NoteScheduler, WorkedStreamAtTheDefaults) {
    const Stream stream = onFreshSession([](Session& s) { s.runBlocks(1024, 80); });
    ASSERT_EQ(stream.events.size(), 4u);
    for (const NoteEvent& event : stream.events) {
        expectWellFormed(event);
        EXPECT_EQ(event.key, 60);
    }
    // The 44th block (index 43) at offset 12: 43 * 1024 + 12 = 44044.
    EXPECT_EQ(stream.events[0].block, 43);
    EXPECT_EQ(stream.events[0].deltaFrames, 12);
    EXPECT_EQ(stream.events[0].velocity, 0);
    EXPECT_EQ(stream.events[1].block, 43);
    EXPECT_EQ(stream.events[1].deltaFrames, 12);
    EXPECT_EQ(stream.events[1].velocity, 72);
    // The next interval is 36348: the 79th block at offset 520.
    EXPECT_EQ(stream.events[2].block, 78);
    EXPECT_EQ(stream.events[2].deltaFrames, 520);
    EXPECT_EQ(stream.events[2].velocity, 0);
    EXPECT_EQ(stream.events[3].block, 78);
    EXPECT_EQ(stream.events[3].deltaFrames, 520);
    EXPECT_EQ(stream.events[3].velocity, 56);
    EXPECT_EQ(stream.events[2].time() - stream.events[0].time(), 36348);
    // Processing sends nothing but the events.
    EXPECT_TRUE(stream.calls.empty());
}

// A note at offset p of a block of N and an interval I put the next note at I - (N - p) of the
// next block.
TEST(NoteScheduler, RemainingCountCarriesIntoTheNextBlock) {
    constexpr std::int32_t kBlock = 30000;
    constexpr std::int64_t kInterval = 22050;
    const Stream stream = onFreshSession([](Session& s) {
        s.set(MinTime, 0.5f);
        s.set(MaxTime, 0.5f);
        s.runBlocks(kBlock, 6);
    });
    expectPairs(stream.events);
    ASSERT_GE(stream.events.size(), 4u);
    const NoteEvent& first = stream.events[1];
    const NoteEvent& second = stream.events[3];
    EXPECT_EQ(first.block, 1);
    EXPECT_EQ(first.deltaFrames, kFirstNote - kBlock);
    EXPECT_EQ(second.block, 2);
    EXPECT_EQ(second.deltaFrames, kInterval - (kBlock - first.deltaFrames));
    EXPECT_EQ(noteTimes(stream.events), evenlySpaced(kFirstNote, kInterval, 6 * kBlock));
}

TEST(NoteScheduler, ZeroTimesGiveANoteEveryTenSamplesAcrossBlockBorders) {
    const Stream stream = onFreshSession([](Session& s) {
        s.set(MaxTime, 0.0f);
        s.set(MinTime, 0.0f);
        s.runBlocks(7, 10000);
    });
    expectPairs(stream.events);
    expectInsideBlocks(stream.events);
    EXPECT_EQ(noteTimes(stream.events), evenlySpaced(kFirstNote, 10, 70000));
}

TEST(NoteScheduler, EqualHalfSecondTimesGiveIntervalsOf22050) {
    const Stream stream = onFreshSession([](Session& s) {
        s.set(MinTime, 0.5f);
        s.set(MaxTime, 0.5f);
        s.runBlocks(4096, 200);
    });
    expectPairs(stream.events);
    EXPECT_EQ(noteTimes(stream.events), evenlySpaced(kFirstNote, 22050, 200 * 4096));
}

// The interval running when a time changes is kept; the change applies from the next draw.
TEST(NoteScheduler, NewTimesApplyFromTheNextIntervalDrawn) {
    const Stream stream = onFreshSession([](Session& s) {
        s.run(1024);
        s.set(MaxTime, 0.0f);
        s.set(MinTime, 0.0f);
        s.runBlocks(1024, 44);
    });
    EXPECT_EQ(noteTimes(stream.events), evenlySpaced(kFirstNote, 10, 45 * 1024));
}

// Velocities and keys: out-of-range and non-numeric values give data bytes within 0 to 127.
TEST(NoteScheduler, VelocitiesAndKeysFromTheValuesInForce) {
    struct ByteCase {
        const char* name;
        std::vector<std::pair<std::int32_t, float>> setup;
        std::uint8_t key;
        std::uint8_t lowestVelocity;
        std::uint8_t highestVelocity;
    };
    const ByteCase cases[] = {
        {"defaults", {}, 60, 46, 127},
        {"equal amplitudes of 0.5", {{MinAmplitude, 0.5f}, {MaxAmplitude, 0.5f}}, 60, 63, 63},
        {"max amplitude 0", {{MaxAmplitude, 0.0f}}, 60, 0, 0},
        {"note 1.0", {{Note, 1.0f}}, 127, 46, 127},
        {"note 0", {{Note, 0.0f}}, 0, 46, 127},
        {"note 0.999", {{Note, 0.999f}}, 126, 46, 127},
        {"note 2.0", {{Note, 2.0f}}, 127, 46, 127},
        {"note -1", {{Note, -1.0f}}, 0, 46, 127},
        {"note NaN", {{Note, kNaN}}, 0, 46, 127},
        {"note 1e30", {{Note, 1e30f}}, 127, 46, 127},
        {"note -infinity", {{Note, -kInf}}, 0, 46, 127},
        {"max amplitude 5", {{MaxAmplitude, 5.0f}}, 60, 127, 127},
        {"amplitudes -3", {{MinAmplitude, -3.0f}, {MaxAmplitude, -3.0f}}, 60, 0, 0},
        {"min amplitude NaN", {{MinAmplitude, kNaN}}, 60, 0, 0},
        {"max amplitude infinity", {{MaxAmplitude, kInf}}, 60, 127, 127},
        {"amplitudes 1e30", {{MaxAmplitude, 1e30f}, {MinAmplitude, 1e30f}}, 60, 127, 127},
        {"amplitudes -1e30", {{MinAmplitude, -1e30f}, {MaxAmplitude, -1e30f}}, 60, 0, 0},
    };
    for (const ByteCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Stream stream = onFreshSession([&](Session& s) {
            s.set(MaxTime, 0.001f);
            for (const auto& [index, value] : c.setup) {
                s.set(index, value);
            }
            s.runBlocks(4096, 40);
        });
        expectPairs(stream.events);
        ASSERT_GE(stream.events.size(), 200u);
        std::uint8_t lowest = 255;
        std::uint8_t highest = 0;
        for (std::size_t i = 0; i < stream.events.size(); ++i) {
            const NoteEvent& event = stream.events[i];
            expectWellFormed(event);
            EXPECT_EQ(event.key, c.key);
            if (i % 2 == 1) {
                lowest = std::min(lowest, event.velocity);
                highest = std::max(highest, event.velocity);
            }
        }
        EXPECT_GE(lowest, c.lowestVelocity);
        EXPECT_LE(highest, c.highestVelocity);
    }
}

// Over thousands of notes at the defaults every velocity lies in 46..127, and the low end,
// truncate(e^-1 * 127), is reached.
TEST(NoteScheduler, DefaultVelocitiesSpan46To127) {
    const Stream stream = onFreshSession([](Session& s) {
        s.host.events.reserve(12000);
        while (s.host.events.size() < 10000) {
            s.run(1 << 20);
        }
    });
    std::vector<int> counts(128, 0);
    for (std::size_t i = 1; i < stream.events.size(); i += 2) {
        ++counts[stream.events[i].velocity];
    }
    for (int velocity = 0; velocity < 46; ++velocity) {
        EXPECT_EQ(counts[static_cast<std::size_t>(velocity)], 0) << velocity;
    }
    EXPECT_GT(counts[46], 0);
    // The factor is densest near e^-1: low velocities come about e times as often as high ones.
    int low = 0;
    int high = 0;
    for (int velocity = 46; velocity < 56; ++velocity) {
        low += counts[static_cast<std::size_t>(velocity)];
    }
    for (int velocity = 117; velocity < 127; ++velocity) {
        high += counts[static_cast<std::size_t>(velocity)];
    }
    EXPECT_GT(2 * low, 3 * high);
}

// A block length of 0 or less, and switching off and on, leave the stream as it was.
TEST(NoteScheduler, EmptyBlocksAndSwitchingChangeNothing) {
    const Stream plain = onFreshSession([](Session& s) { s.runBlocks(1024, 120); });
    const Stream interrupted = onFreshSession([](Session& s) {
        s.run(0);
        s.run(-1);
        s.run(kIntMin);
        for (int block = 0; block < 120; ++block) {
            s.run(1024);
            s.run(0);
            s.run(-1024);
            if (block % 40 == 0) {
                s.dispatch(effMainsChanged, 0, 0);
                s.dispatch(effMainsChanged, 0, 1);
            }
        }
    });
    ASSERT_EQ(plain.events.size(), interrupted.events.size());
    ASSERT_GE(plain.events.size(), 4u);
    for (std::size_t i = 0; i < plain.events.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(interrupted.events[i].time(), plain.events[i].time());
        EXPECT_EQ(std::memcmp(interrupted.events[i].raw + 12, plain.events[i].raw + 12, 20), 0);
        EXPECT_GT(interrupted.events[i].blockLength, 0);
    }
}

// Time distrib and Amp distrib are kept and shown but leave the draws as they are.
TEST(NoteScheduler, DistributionValuesChangeNothingInTheDraws) {
    auto streamWith = [](float distrib) {
        return onFreshSession([=](Session& s) {
            s.set(MaxTime, 0.01f);
            if (distrib >= 0.0f || distrib != distrib) {
                s.set(TimeDistrib, distrib);
                s.set(AmpDistrib, distrib);
            }
            s.runBlocks(4096, 30);
        });
    };
    const Stream plain = streamWith(-1.0f);
    ASSERT_GT(plain.events.size(), 100u);
    for (const float distrib : {0.0f, 0.5f, 1.0f, kNaN}) {
        SCOPED_TRACE(distrib);
        const Stream other = streamWith(distrib);
        ASSERT_EQ(other.events.size(), plain.events.size());
        for (std::size_t i = 0; i < plain.events.size(); ++i) {
            EXPECT_EQ(std::memcmp(other.events[i].raw, plain.events[i].raw, 32), 0);
            EXPECT_EQ(other.events[i].block, plain.events[i].block);
        }
    }
}

// Parameters, the rate and the program change on one thread while another processes: every event
// stays well formed and inside its block. (Run under the thread sanitizer, this also shows that
// the shared values are read and written without a data race.)
TEST(NoteScheduler, ParameterChangesWhileProcessing) {
    Session session;
    session.set(MaxTime, 0.005f);
    std::atomic<bool> done{false};
    std::thread audio([&] {
        for (int block = 0; block < 4000; ++block) {
            session.run(64 + block % 97);
        }
        done = true;
    });
    std::thread control([&] {
        const float values[] = {0.0f, 0.001f, 0.003f, 0.5f, 1.0f, 2.0f, -1.0f, kNaN};
        std::uint32_t step = 0;
        while (!done) {
            const float value = values[step % 8];
            session.set(static_cast<std::int32_t>(step % kNumParams), value);
            if (step % 64 == 0) {
                session.dispatch(effSetProgram, 0, 0);
                session.setSampleRate(step % 128 == 0 ? 48000.0f : 44100.0f);
                session.set(MaxTime, 0.005f);
            }
            char text[16];
            session.dispatch(effGetParamDisplay, static_cast<std::int32_t>(step % kNumParams), 0,
                             text);
            ++step;
        }
    });
    audio.join();
    control.join();
    ASSERT_FALSE(session.host.events.empty());
    std::size_t outside = 0;
    std::size_t badBytes = 0;
    for (const NoteEvent& event : session.host.events) {
        outside += event.deltaFrames < 0 || event.deltaFrames >= event.blockLength ? 1 : 0;
        badBytes += event.raw[24] != 0x90 || event.key > 127 || event.velocity > 127 ? 1 : 0;
    }
    EXPECT_EQ(outside, 0u);
    EXPECT_EQ(badBytes, 0u);
}

// A note whose interval ends exactly at the end of a block arrives at offset 0 of the next block,
// never at an offset equal to the block length.
TEST(NoteScheduler, IntervalEndingAtABlockEndArrivesAtOffsetZeroOfTheNext) {
    struct EdgeCase {
        const char* name;
        float time; // Max time and Min time, or a negative number to keep the defaults
        std::vector<std::int32_t> blocks;
        std::vector<std::pair<std::int64_t, std::int32_t>> notes; // (block, offset)
    };
    const EdgeCase cases[] = {
        {"first interval equal to the first block", -1.0f, {44044, 1024}, {{1, 0}}},
        {"first interval one short of the block", -1.0f, {44045, 1024}, {{0, 44044}}},
        {"intervals of 10 in blocks of 10",
         0.0f,
         {44044, 10, 10, 10, 5, 5},
         {{1, 0}, {2, 0}, {3, 0}, {4, 0}}},
        {"intervals of 22050 in blocks of 22050",
         0.5f,
         {44034, 22050, 22050, 22050},
         {{1, 10}, {2, 10}, {3, 10}}},
        {"intervals of 22050 cut at each note",
         0.5f,
         {44044, 22050, 22050, 22050},
         {{1, 0}, {2, 0}, {3, 0}}},
    };
    for (const EdgeCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Stream stream = onFreshSession([&](Session& s) {
            if (c.time >= 0.0f) {
                s.set(MinTime, c.time);
                s.set(MaxTime, c.time);
            }
            for (const std::int32_t frames : c.blocks) {
                s.run(frames);
            }
        });
        expectPairs(stream.events);
        expectInsideBlocks(stream.events);
        std::vector<std::pair<std::int64_t, std::int32_t>> notes;
        for (std::size_t i = 1; i < stream.events.size(); i += 2) {
            notes.emplace_back(stream.events[i].block, stream.events[i].deltaFrames);
        }
        EXPECT_EQ(notes, c.notes);
    }
}

// The velocity-0 event goes to the key of the note that sounds, also after a change of Note;
// before the first note it goes to the key in force.
TEST(NoteScheduler, NoteChangeEndsTheSoundingKey) {
    const Stream stream = onFreshSession([](Session& s) {
        s.runBlocks(1024, 44); // first note in block 43
        s.set(Note, 1.0f);
        s.runBlocks(1024, 35); // second note in block 78
        s.set(Note, 0.5f);
        s.set(Note, 0.0f);
        while (s.host.events.size() < 8) {
            s.run(1024);
        }
    });
    ASSERT_EQ(stream.events.size(), 8u);
    const std::uint8_t keys[] = {60, 60, 60, 127, 127, 0, 0, 0};
    for (std::size_t i = 0; i < 8; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(stream.events[i].key, keys[i]);
        EXPECT_EQ(stream.events[i].velocity == 0, i % 2 == 0);
    }
    EXPECT_EQ(stream.events[2].block, 78);

    const Stream changedFirst = onFreshSession([](Session& s) {
        s.set(Note, 1.0f);
        s.runBlocks(1024, 44);
    });
    ASSERT_EQ(changedFirst.events.size(), 2u);
    EXPECT_EQ(changedFirst.events[0].key, 127);
    EXPECT_EQ(changedFirst.events[1].key, 127);
}

// Huge and non-numeric times and rates saturate: no crash, no event outside its block, intervals
// of at least 10 and at most the largest count.
TEST(NoteScheduler, HugeAndNonNumericTimesSaturate) {
    const Stream saturated = onFreshSession([](Session& s) {
        s.set(MaxTime, 1e30f);
        s.set(MinTime, 1e30f);
        s.run(static_cast<std::int32_t>(kFirstNote) + 1);
        s.run(kIntMax);
        s.run(kIntMax);
    });
    // Every interval after the first is the largest count: 2^31 - 1 samples.
    ASSERT_EQ(saturated.events.size(), 6u);
    expectInsideBlocks(saturated.events);
    EXPECT_EQ(saturated.events[1].time(), kFirstNote);
    EXPECT_EQ(saturated.events[3].time() - saturated.events[1].time(), kIntMax);
    EXPECT_EQ(saturated.events[5].time() - saturated.events[3].time(), kIntMax);
    EXPECT_EQ(saturated.events[3].deltaFrames, kIntMax - 1);

    struct TenCase {
        const char* name;
        float sampleRate; // applied with a program change, which recomputes the limit
        std::vector<std::pair<std::int32_t, float>> setup;
    };
    const TenCase tens[] = {
        {"NaN sample rate", kNaN, {}},
        // An infinite rate makes the limit the largest count but Min time 0 times it NaN.
        {"infinite sample rate", kInf, {}},
        {"zero sample rate", 0.0f, {}},
        {"negative sample rate", -44100.0f, {}},
        {"NaN min time", 44100.0f, {{MinTime, kNaN}}},
        {"min time -1e30", 44100.0f, {{MinTime, -1e30f}}},
        {"max time NaN takes min time 0", 44100.0f, {{MaxTime, kNaN}}},
    };
    for (const TenCase& c : tens) {
        SCOPED_TRACE(c.name);
        const Stream stream = onFreshSession([&](Session& s) {
            s.setSampleRate(c.sampleRate);
            s.dispatch(effSetProgram, 0, 0);
            for (const auto& [index, value] : c.setup) {
                s.set(index, value);
            }
            s.runBlocks(1000, 50);
        });
        expectPairs(stream.events);
        expectInsideBlocks(stream.events);
        EXPECT_EQ(noteTimes(stream.events), evenlySpaced(kFirstNote, 10, 50000));
    }

    // A huge rate or Max time alone draws intervals between e^-1 and 1 times the largest count.
    for (const float rate : {44100.0f, 1e30f}) {
        SCOPED_TRACE(rate);
        const Stream stream = onFreshSession([&](Session& s) {
            s.setSampleRate(rate);
            s.set(MaxTime, rate == 44100.0f ? 1e30f : 1.0f);
            s.run(static_cast<std::int32_t>(kFirstNote) + 1);
            s.run(kIntMax);
        });
        expectInsideBlocks(stream.events);
        ASSERT_EQ(stream.events.size(), 4u);
        const std::int64_t interval = stream.events[3].time() - stream.events[1].time();
        EXPECT_GE(interval, static_cast<std::int64_t>(std::exp(-1.0) * kIntMax));
        EXPECT_LE(interval, kIntMax);
    }
}

// Both processing entries run the same routine: the same calls give the same stream, whichever
// entry or mix of entries the host uses, and the audio buffers are left alone.
TEST(NoteScheduler, ProcessAndProcessReplacingGiveTheSameStream) {
    const std::int32_t blocks[] = {512, 1, 4096, 333, 0, 10000, 7, 2048, 65536, 100000};
    enum class Entry { Process, Replacing, Alternate };
    auto runWith = [&](Entry entry) {
        bool buffersUntouched = true;
        Stream stream = onFreshSession([&](Session& s) {
            s.set(MaxTime, 0.05f);
            float samples[4] = {0.25f, -0.5f, 0.75f, 1.0f};
            float* channels[2] = {samples, samples + 2};
            int call = 0;
            for (int round = 0; round < 5; ++round) {
                for (const std::int32_t frames : blocks) {
                    const bool replacing =
                        entry == Entry::Replacing || (entry == Entry::Alternate && call % 2 == 1);
                    s.host.blockLength = frames;
                    if (replacing) {
                        s.effect->processReplacing(s.effect, channels, channels, frames);
                    } else {
                        s.effect->process(s.effect, channels, channels, frames);
                    }
                    ++s.host.block;
                    s.host.blockStart += frames;
                    ++call;
                }
            }
            buffersUntouched = samples[0] == 0.25f && samples[1] == -0.5f && samples[2] == 0.75f &&
                               samples[3] == 1.0f;
        });
        EXPECT_TRUE(buffersUntouched);
        return stream;
    };
    const Stream process = runWith(Entry::Process);
    const Stream replacing = runWith(Entry::Replacing);
    const Stream alternate = runWith(Entry::Alternate);
    ASSERT_GT(process.events.size(), 100u);
    for (const Stream* other : {&replacing, &alternate}) {
        ASSERT_EQ(other->events.size(), process.events.size());
        for (std::size_t i = 0; i < process.events.size(); ++i) {
            EXPECT_EQ(other->events[i].block, process.events[i].block);
            EXPECT_EQ(std::memcmp(other->events[i].raw, process.events[i].raw, 32), 0);
        }
    }
}

TEST(NoteScheduler, SwitchingOnAsksForMidiAndSwitchingOffSendsNothing) {
    Session session;
    session.dispatch(effMainsChanged, 0, 0);
    EXPECT_TRUE(session.host.calls.empty());

    for (const VstIntPtr on : {VstIntPtr{1}, VstIntPtr{-1}, VstIntPtr{7}}) {
        SCOPED_TRACE(on);
        session.host.calls.clear();
        EXPECT_EQ(session.dispatch(effMainsChanged, 0, on), 0);
        ASSERT_EQ(session.host.calls.size(), 1u);
        const HostCall& call = session.host.calls[0];
        EXPECT_EQ(call.opcode, 6);
        EXPECT_EQ(call.index, 0);
        EXPECT_EQ(call.value, 1);
        EXPECT_TRUE(call.ptrIsNull);
        EXPECT_EQ(call.opt, 0.0f);
    }
    EXPECT_TRUE(session.host.events.empty());
}

} // namespace
} // namespace quill::test
