// The effect record as construction leaves it, the setters that change it, and the audio settings
// the host stores through the dispatcher.
#include "tests/frame/recording.h"

#include "host/entry.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <new>
#include <string>
#include <vector>

namespace quill::test {
namespace {

TEST(FrameRecord, ConstructionFillsEveryFieldAndZeroesTheRest) {
    journal.reset();
    // Construct over garbage so that zeroed fields prove the constructor cleared them.
    alignas(PlainEffect) unsigned char storage[sizeof(PlainEffect)];
    std::memset(storage, 0xAB, sizeof storage);
    auto* effect = new (storage) PlainEffect(recordingHost, 3, 9);
    const AEffect& record = *effect->getRecord();

    EXPECT_EQ(record.magic, 0x56737450);
    EXPECT_EQ(record.dispatcher, &dispatchEntry);
    EXPECT_EQ(record.process, &processEntry);
    EXPECT_EQ(record.setParameter, &setParameterEntry);
    EXPECT_EQ(record.getParameter, &getParameterEntry);
    EXPECT_EQ(record.processReplacing, &processReplacingEntry);
    EXPECT_EQ(record.numPrograms, 3);
    EXPECT_EQ(record.numParams, 9);
    EXPECT_EQ(record.numInputs, 1);
    EXPECT_EQ(record.numOutputs, 2);
    EXPECT_EQ(record.flags, 0);
    EXPECT_EQ(record.resvd1, 0);
    EXPECT_EQ(record.resvd2, 0);
    EXPECT_EQ(record.initialDelay, 0);
    EXPECT_EQ(record.realQualities, 0);
    EXPECT_EQ(record.offQualities, 0);
    EXPECT_EQ(record.ioRatio, 1.0f);
    EXPECT_EQ(record.object, static_cast<EffectBase*>(effect));
    EXPECT_EQ(record.user, nullptr);
    EXPECT_EQ(record.uniqueID, 0x4E6F4566);
    EXPECT_EQ(record.version, 1);
    const char zeros[sizeof record.future] = {};
    EXPECT_EQ(std::memcmp(record.future, zeros, sizeof zeros), 0);
    // Four-character codes keep their first character in the most significant byte.
    EXPECT_EQ(record.magic, fourCharCode('V', 's', 't', 'P'));
    EXPECT_EQ(record.uniqueID, fourCharCode('N', 'o', 'E', 'f'));

    EXPECT_EQ(effect->getSampleRate(), 44100.0f);
    EXPECT_EQ(effect->getBlockSize(), 1024);
    EXPECT_EQ(effect->getProgram(), 0);
    EXPECT_EQ(effect->getEditor(), nullptr);
    EXPECT_TRUE(journal.hostCalls.empty()) << "construction must not call the host";
    effect->~PlainEffect();
}

TEST(FrameRecord, EveryInstanceHasItsOwnRecord) {
    PlainEffect first(nullptr, 1, 2);
    PlainEffect second(nullptr, 5, 6);
    EXPECT_NE(first.getRecord(), second.getRecord());
    EXPECT_EQ(first.getRecord()->object, static_cast<EffectBase*>(&first));
    EXPECT_EQ(second.getRecord()->object, static_cast<EffectBase*>(&second));
    EXPECT_EQ(second.getRecord()->numPrograms, 5);
}

struct FlagRow {
    const char* setter;
    std::function<void(EffectExtended&, bool)> set;
    std::int32_t bit;
};

std::vector<FlagRow> flagTable() {
    using E = EffectExtended&;
    return {
        {"setHasClip", [](E e, bool s) { e.setHasClip(s); }, 2},
        {"setHasVu", [](E e, bool s) { e.setHasVu(s); }, 4},
        {"setCanMono", [](E e, bool s) { e.setCanMono(s); }, 8},
        {"setCanReplacing", [](E e, bool s) { e.setCanReplacing(s); }, 16},
        {"setProgramChunks", [](E e, bool s) { e.setProgramChunks(s); }, 32},
        {"setIsSynth", [](E e, bool s) { e.setIsSynth(s); }, 256},
        {"setNoSoundInStop", [](E e, bool s) { e.setNoSoundInStop(s); }, 512},
        {"setExtIsAsync", [](E e, bool s) { e.setExtIsAsync(s); }, 1024},
        {"setExtHasBuffer", [](E e, bool s) { e.setExtHasBuffer(s); }, 2048},
    };
}

TEST(FrameFlags, EachSetterSetsAndClearsItsOwnBitOnly) {
    PlainEffect effect;
    std::int32_t& flags = effect.getRecord()->flags;
    for (const FlagRow& row : flagTable()) {
        for (const std::int32_t start : {0, -1, 0x0AAA, 0x0555, 280}) {
            SCOPED_TRACE(std::string(row.setter) + " from flags " + std::to_string(start));
            flags = start;
            row.set(effect, true);
            EXPECT_EQ(flags, start | row.bit);
            row.set(effect, true);
            EXPECT_EQ(flags, start | row.bit) << "setting a set bit changes nothing";
            row.set(effect, false);
            EXPECT_EQ(flags, start & ~row.bit);
            row.set(effect, false);
            EXPECT_EQ(flags, start & ~row.bit);
        }
    }
}

TEST(FrameFlags, SettersCombineOnAFreshEffectAndNeverSetTheEditorBit) {
    PlainEffect effect;
    const std::int32_t& flags = effect.getRecord()->flags;
    effect.setHasVu(true);
    effect.setHasClip(true);
    EXPECT_EQ(flags, 6);
    effect.setHasVu(false);
    EXPECT_EQ(flags, 2);

    effect.getRecord()->flags = 16 | 256;
    effect.setIsSynth(false);
    EXPECT_EQ(flags, 16);

    effect.getRecord()->flags = 0;
    for (const FlagRow& row : flagTable()) {
        row.set(effect, true);
    }
    EXPECT_EQ(flags, 2 | 4 | 8 | 16 | 32 | 256 | 512 | 1024 | 2048);
    EXPECT_EQ(flags & effFlagsHasEditor, 0);
}

TEST(FrameSetters, EachRecordSetterWritesItsFieldAndNothingElse) {
    struct Row {
        const char* setter;
        std::function<void(EffectBase&, std::int32_t)> set;
        std::int32_t AEffect::*field;
    };
    using E = EffectBase&;
    const Row rows[] = {
        {"setUniqueId", [](E e, std::int32_t v) { e.setUniqueId(v); }, &AEffect::uniqueID},
        {"setNumInputs", [](E e, std::int32_t v) { e.setNumInputs(v); }, &AEffect::numInputs},
        {"setNumOutputs", [](E e, std::int32_t v) { e.setNumOutputs(v); }, &AEffect::numOutputs},
        {"setRealQualities", [](E e, std::int32_t v) { e.setRealQualities(v); },
         &AEffect::realQualities},
        {"setOffQualities", [](E e, std::int32_t v) { e.setOffQualities(v); },
         &AEffect::offQualities},
        {"setInitialDelay", [](E e, std::int32_t v) { e.setInitialDelay(v); },
         &AEffect::initialDelay},
    };
    PlainEffect effect;
    AEffect& record = *effect.getRecord();
    for (const Row& row : rows) {
        for (const std::int32_t value : {0, 7, -1, INT_MIN, INT_MAX, 0x7175696C}) {
            SCOPED_TRACE(std::string(row.setter) + "(" + std::to_string(value) + ")");
            AEffect expected;
            std::memcpy(&expected, &record, sizeof record);
            expected.*row.field = value;
            row.set(effect, value);
            EXPECT_EQ(record.*row.field, value);
            EXPECT_EQ(std::memcmp(&expected, &record, sizeof record), 0);
        }
    }
}

class FrameSettings : public ::testing::Test {
protected:
    void SetUp() override { journal.reset(); }
    VstIntPtr dispatch(std::int32_t opcode, VstIntPtr value, float opt) {
        return effect.dispatcher(opcode, 0, value, nullptr, opt);
    }
    RecordingEffect effect;
};

TEST_F(FrameSettings, SampleRateIsStoredAsTheHostSentIt) {
    for (const float rate :
         {48000.0f, 22050.5f, 0.0f, -1.0f, 1e9f, 1e-30f, std::numeric_limits<float>::infinity()}) {
        SCOPED_TRACE("rate " + formatArg(rate));
        EXPECT_EQ(dispatch(effSetSampleRate, 0, rate), 0);
        EXPECT_EQ(effect.getSampleRate(), rate);
    }
    dispatch(effSetSampleRate, 0, std::numeric_limits<float>::quiet_NaN());
    EXPECT_TRUE(std::isnan(effect.getSampleRate()));
}

TEST_F(FrameSettings, BlockSizeIsStoredAsTheHostSentIt) {
    for (const std::int32_t size : {512, 1, 0, -5, INT_MAX, INT_MIN}) {
        SCOPED_TRACE("size " + std::to_string(size));
        EXPECT_EQ(dispatch(effSetBlockSize, size, 0.0f), 0);
        EXPECT_EQ(effect.getBlockSize(), size);
    }
}

TEST_F(FrameSettings, BlockSizeAndSampleRateStoresBothDirectlyAndAnswers1) {
    const struct {
        std::int32_t size;
        float rate;
    } rows[] = {{256, 96000.0f}, {0, 0.0f}, {-1, -44100.0f}, {INT_MAX, 1e9f}};
    for (const auto& row : rows) {
        SCOPED_TRACE("size " + std::to_string(row.size) + " rate " + formatArg(row.rate));
        journal.reset();
        EXPECT_EQ(dispatch(effSetBlockSizeAndSampleRate, row.size, row.rate), 1);
        EXPECT_EQ(effect.getBlockSize(), row.size);
        EXPECT_EQ(effect.getSampleRate(), row.rate);
        // Written directly: neither setSampleRate nor setBlockSize runs.
        EXPECT_EQ(journal.operations,
                  std::vector<std::string>{call("setBlockSizeAndSampleRate", row.size, row.rate)});
    }
}

} // namespace
} // namespace quill::test
