// One thread processes blocks while two others change parameters, switch the program and read
// every text, as hosts do from their audio, automation and interface threads. Afterwards the
// parameter pairs must still be in order and every event must have been well-formed. Built
// under ThreadSanitizer this also proves the shared fields race-free.
#include "host/entry.h"
#include "plug/random_note_plug.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using quill::AEffect;
using quill::VstIntPtr;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kSeed = 20261211;
constexpr auto kStormDuration = std::chrono::seconds(2);
constexpr std::int64_t kMaxBlocks = 50'000'000;
constexpr std::int64_t kMaxHostActions = 50'000'000;
constexpr std::int32_t kMaxBlock = 4096;

// What the host saw, filled by the callback on the processing thread and read after joining.
struct EventLog {
    std::atomic<std::int32_t> blockLength{0};
    std::atomic<bool> processing{false};
    std::atomic<std::int64_t> events{0};
    std::atomic<std::int64_t> malformed{0};
    std::atomic<std::int64_t> outsideProcessing{0};
    std::atomic<std::int64_t> otherRequests{0};
};

VstIntPtr hostCallback(AEffect* effect, std::int32_t opcode, std::int32_t, VstIntPtr, void* ptr,
                       float) {
    if (opcode == quill::audioMasterVersion) {
        return 2400;
    }
    auto* log = static_cast<EventLog*>(effect->user);
    if (opcode == quill::audioMasterWantMidi) {
        return 1;
    }
    if (opcode != quill::audioMasterProcessEvents) {
        log->otherRequests.fetch_add(1, std::memory_order_relaxed);
        return 0;
    }
    if (!log->processing.load(std::memory_order_relaxed)) {
        log->outsideProcessing.fetch_add(1, std::memory_order_relaxed);
        return 1;
    }
    const auto* list = static_cast<const quill::VstEvents*>(ptr);
    const quill::VstMidiEvent* event = list->numEvents == 1 ? list->events[0] : nullptr;
    const std::int32_t length = log->blockLength.load(std::memory_order_relaxed);
    const bool wellFormed = event != nullptr && event->type == quill::kVstMidiType &&
                            event->deltaFrames >= 0 && event->deltaFrames < length &&
                            static_cast<std::uint8_t>(event->midiData[0]) == 0x90 &&
                            static_cast<std::uint8_t>(event->midiData[1]) < 0x80 &&
                            static_cast<std::uint8_t>(event->midiData[2]) < 0x80;
    if (!wellFormed) {
        log->malformed.fetch_add(1, std::memory_order_relaxed);
    }
    log->events.fetch_add(1, std::memory_order_relaxed);
    return 1;
}

// A value a host may send: mostly inside 0 to 1, often outside it, never NaN (a NaN Min value
// passes unchanged and so has no order with its partner). Amplitudes and Note also get values
// far outside or infinite; times stay below 3 s so that the interval running at the end of the
// storm is bounded.
float hostValue(std::mt19937& random, std::int32_t index) {
    std::uniform_int_distribution<int> kind(0, 9);
    std::uniform_real_distribution<float> normal(0.0f, 1.0f);
    std::uniform_real_distribution<float> outside(-2.0f, 3.0f);
    static constexpr float kExtremes[] = {-1e30f,
                                          1e30f,
                                          std::numeric_limits<float>::infinity(),
                                          -std::numeric_limits<float>::infinity(),
                                          std::numeric_limits<float>::denorm_min(),
                                          -0.0f};
    const int which = kind(random);
    if (which < 6) {
        return normal(random);
    }
    if (which < 9 || index == quill::MaxTime || index == quill::MinTime) {
        return outside(random);
    }
    return kExtremes[std::uniform_int_distribution<int>(0, 5)(random)];
}

// Reads a text into a buffer filled with a marker and checks it ends inside its limit.
bool readText(AEffect* effect, std::int32_t opcode, std::int32_t index, std::size_t limit) {
    char buffer[256];
    std::memset(buffer, 0x7F, sizeof buffer);
    effect->dispatcher(effect, opcode, index, 0, buffer, 0.0f);
    return std::memchr(buffer, '\0', limit) != nullptr &&
           std::memchr(buffer + limit, '\0', sizeof buffer - limit) == nullptr &&
           buffer[sizeof buffer - 1] == 0x7F;
}

struct HostThreadResult {
    std::int64_t actions = 0;
    std::int64_t badTexts = 0;
};

// Sets parameters, switches to program 0 and reads every text, in a random mix.
void hostThread(AEffect* effect, std::uint32_t seed, Clock::time_point deadline,
                HostThreadResult& result) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> action(0, 9);
    std::uniform_int_distribution<std::int32_t> index(0, quill::kNumParams - 1);
    for (; result.actions < kMaxHostActions && Clock::now() < deadline; ++result.actions) {
        const int which = action(random);
        if (which < 6) {
            const std::int32_t k = index(random);
            effect->setParameter(effect, k, hostValue(random, k));
        } else if (which == 6) {
            effect->dispatcher(effect, quill::effSetProgram, 0, 0, nullptr, 0.0f);
        } else if (which == 7) {
            volatile float value = effect->getParameter(effect, index(random));
            (void)value;
            result.badTexts += readText(effect, quill::effGetProgramName, 0, 24) ? 0 : 1;
        } else {
            for (std::int32_t k = 0; k < quill::kNumParams; ++k) {
                result.badTexts += readText(effect, quill::effGetParamName, k, 14) ? 0 : 1;
                result.badTexts += readText(effect, quill::effGetParamLabel, k, 9) ? 0 : 1;
                result.badTexts += readText(effect, quill::effGetParamDisplay, k, 9) ? 0 : 1;
            }
        }
    }
}

void processBlock(AEffect* effect, EventLog& log, std::int32_t frames, bool replacing) {
    log.blockLength.store(frames, std::memory_order_relaxed);
    log.processing.store(true, std::memory_order_relaxed);
    if (replacing) {
        effect->processReplacing(effect, nullptr, nullptr, frames);
    } else {
        effect->process(effect, nullptr, nullptr, frames);
    }
    log.processing.store(false, std::memory_order_relaxed);
}

TEST(ParameterStorm, PairsStayOrderedAndEventsWellFormedWhileOtherThreadsChangeEverything) {
    EventLog log;
    AEffect* effect = quill::pluginMain(hostCallback, quill::createEffectInstance);
    ASSERT_NE(effect, nullptr);
    effect->user = &log;
    effect->dispatcher(effect, quill::effMainsChanged, 0, 1, nullptr, 0.0f);

    const Clock::time_point deadline = Clock::now() + kStormDuration;
    std::int64_t blocks = 0;
    std::thread audio([&] {
        std::mt19937 random(kSeed);
        std::uniform_int_distribution<std::int32_t> length(1, kMaxBlock);
        for (; blocks < kMaxBlocks && Clock::now() < deadline; ++blocks) {
            processBlock(effect, log, length(random), blocks % 2 == 0);
        }
    });
    HostThreadResult first;
    HostThreadResult second;
    std::thread automation(hostThread, effect, kSeed + 1, deadline, std::ref(first));
    std::thread interface(hostThread, effect, kSeed + 2, deadline, std::ref(second));
    audio.join();
    automation.join();
    interface.join();

    std::printf("storm: %lld blocks, %lld host actions, %lld events\n",
                static_cast<long long>(blocks),
                static_cast<long long>(first.actions + second.actions),
                static_cast<long long>(log.events.load()));
    EXPECT_GT(blocks, 0);
    EXPECT_GT(first.actions + second.actions, 0);
    EXPECT_EQ(first.badTexts + second.badTexts, 0);
    EXPECT_GE(effect->getParameter(effect, quill::MaxTime),
              effect->getParameter(effect, quill::MinTime));
    EXPECT_GE(effect->getParameter(effect, quill::MaxAmplitude),
              effect->getParameter(effect, quill::MinAmplitude));

    // The plug-in still plays: the interval running now is at most 3 s (132300 samples), and
    // the ones after it at most 441 samples, so these blocks carry notes.
    effect->setParameter(effect, quill::MinTime, 0.0f);
    effect->setParameter(effect, quill::MaxTime, 0.01f);
    const std::int64_t before = log.events.load();
    for (int block = 0; block < 140; ++block) {
        processBlock(effect, log, 1024, true);
    }
    EXPECT_GT(log.events.load(), before);

    EXPECT_EQ(log.malformed.load(), 0);
    EXPECT_EQ(log.outsideProcessing.load(), 0);
    EXPECT_EQ(log.otherRequests.load(), 0);
    EXPECT_EQ(effect->dispatcher(effect, quill::effClose, 0, 0, nullptr, 0.0f), 1);
}

} // namespace
