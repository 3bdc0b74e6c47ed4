// Two host threads set the two sides of a pair at the same moment: one raises Min above the
// Max in force, the other lowers Max below the Min in force. Each clamp alone sees nothing
// wrong, because each compares with the partner from before the other's change. Max time was
// left below Min time this way; the pair must come out ordered every time.
#include "host/entry.h"
#include "plug/random_note_plug.h"

#include <gtest/gtest.h>

#include <barrier>
#include <cstdint>
#include <string>
#include <thread>

namespace {

using quill::AEffect;
using quill::VstIntPtr;

constexpr int kTrials = 20000;

VstIntPtr hostCallback(AEffect*, std::int32_t opcode, std::int32_t, VstIntPtr, void*, float) {
    return opcode == quill::audioMasterVersion ? 2400 : 0;
}

struct Pair {
    const char* name;
    std::int32_t high;
    std::int32_t low;
};

class CrossedSetters : public testing::TestWithParam<Pair> {};

TEST_P(CrossedSetters, LeaveThePairOrdered) {
    const Pair pair = GetParam();
    AEffect* effect = quill::pluginMain(hostCallback, quill::createEffectInstance);
    ASSERT_NE(effect, nullptr);

    std::barrier start(2);
    std::barrier done(3);
    int outOfOrder = 0;
    std::thread raiseLow([&] {
        for (int trial = 0; trial < kTrials; ++trial) {
            start.arrive_and_wait();
            effect->setParameter(effect, pair.low, 0.9f);
            done.arrive_and_wait();
            done.arrive_and_wait();
        }
    });
    std::thread lowerHigh([&] {
        for (int trial = 0; trial < kTrials; ++trial) {
            start.arrive_and_wait();
            effect->setParameter(effect, pair.high, 0.2f);
            done.arrive_and_wait();
            done.arrive_and_wait();
        }
    });
    for (int trial = 0; trial < kTrials; ++trial) {
        done.arrive_and_wait();
        // Both setters are finished: check, then put the pair back to 0 and 1 for the next race.
        if (effect->getParameter(effect, pair.high) < effect->getParameter(effect, pair.low)) {
            ++outOfOrder;
        }
        effect->setParameter(effect, pair.low, 0.0f);
        effect->setParameter(effect, pair.high, 1.0f);
        done.arrive_and_wait();
    }
    raiseLow.join();
    lowerHigh.join();
    EXPECT_EQ(outOfOrder, 0) << "of " << kTrials << " races";
    effect->dispatcher(effect, quill::effClose, 0, 0, nullptr, 0.0f);
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, CrossedSetters,
    testing::Values(Pair{"Time", quill::MaxTime, quill::MinTime},
                    Pair{"Amplitude", quill::MaxAmplitude, quill::MinAmplitude}),
    [](const testing::TestParamInfo<Pair>& info) { return std::string(info.param.name); });

} // namespace
