// The entry point's steps and the five entry functions the record's function fields hold.
#include "tests/frame/recording.h"

#include "host/entry.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quill::test {
namespace {

int factoryCalls = 0;
audioMasterCallback factoryHost = nullptr;
RecordingEffect* created = nullptr;

EffectBase* makeRecording(audioMasterCallback host) noexcept {
    ++factoryCalls;
    factoryHost = host;
    created = new RecordingEffect(host);
    return created;
}

EffectBase* makeNothing(audioMasterCallback host) noexcept {
    ++factoryCalls;
    factoryHost = host;
    return nullptr;
}

class FrameEntry : public ::testing::Test {
protected:
    void SetUp() override {
        journal.reset();
        factoryCalls = 0;
        factoryHost = nullptr;
        created = nullptr;
    }

    static void expectVersionQuery(const HostCall& sent) {
        EXPECT_EQ(sent.effect, nullptr);
        EXPECT_EQ(sent.opcode, audioMasterVersion);
        EXPECT_EQ(sent.index, 0);
        EXPECT_EQ(sent.value, 0);
        EXPECT_EQ(sent.ptr, nullptr);
        EXPECT_EQ(sent.opt, 0.0f);
    }

    // Creates an instance the way a host does and hands back its record.
    static AEffect* openInstance() {
        journal.hostAnswer = 2400;
        AEffect* record = pluginMain(recordingHost, makeRecording);
        journal.hostAnswer = 0;
        return record;
    }
};

TEST_F(FrameEntry, NullCallbackAnswersNullAndCreatesNothing) {
    EXPECT_EQ(pluginMain(nullptr, makeRecording), nullptr);
    EXPECT_EQ(factoryCalls, 0);
}

TEST_F(FrameEntry, HostAnsweringZeroToTheVersionQueryGetsNullAndNoOtherCall) {
    journal.hostAnswer = 0;
    EXPECT_EQ(pluginMain(recordingHost, makeRecording), nullptr);
    EXPECT_EQ(factoryCalls, 0);
    ASSERT_EQ(journal.hostCalls.size(), 1u);
    expectVersionQuery(journal.hostCalls[0]);
}

TEST_F(FrameEntry, AnyOtherVersionAnswerGetsTheNewInstancesRecord) {
    for (const VstIntPtr version : {VstIntPtr{1}, VstIntPtr{2200}, VstIntPtr{-1}}) {
        SCOPED_TRACE("host version " + std::to_string(version));
        SetUp();
        journal.hostAnswer = version;
        AEffect* record = pluginMain(recordingHost, makeRecording);
        ASSERT_NE(created, nullptr);
        EXPECT_EQ(record, created->getRecord());
        EXPECT_EQ(factoryCalls, 1);
        EXPECT_EQ(factoryHost, &recordingHost);
        ASSERT_EQ(journal.hostCalls.size(), 1u) << "only the version query is sent";
        expectVersionQuery(journal.hostCalls[0]);
        EXPECT_EQ(record->magic, kEffectMagic);
        EXPECT_EQ(record->dispatcher(record, effClose, 0, 0, nullptr, 0.0f), 1);
    }
}

TEST_F(FrameEntry, FactoryAnsweringNullGivesNull) {
    journal.hostAnswer = 1;
    EXPECT_EQ(pluginMain(recordingHost, makeNothing), nullptr);
    EXPECT_EQ(factoryCalls, 1);
    EXPECT_EQ(factoryHost, &recordingHost);
    EXPECT_EQ(journal.hostCalls.size(), 1u);
}

TEST_F(FrameEntry, CloseRunsCloseThenTheDestructorAndAnswers1) {
    AEffect* record = openInstance();
    ASSERT_NE(record, nullptr);
    journal.operations.clear();
    EXPECT_EQ(record->dispatcher(record, effClose, 3, 5, nullptr, 0.25f), 1);
    EXPECT_EQ(journal.operations, (std::vector<std::string>{"close()", "~RecordingEffect()"}));
}

TEST_F(FrameEntry, DispatchEntryPassesOtherOpcodesAndAnswersThrough) {
    AEffect* record = openInstance();
    ASSERT_NE(record, nullptr);
    char text[8];
    const VstIntPtr wide = sizeof(VstIntPtr) == 8
                               ? static_cast<VstIntPtr>((std::uint64_t{1} << 32 & UINTPTR_MAX) + 5)
                               : 5;
    const struct {
        std::int32_t opcode;
        std::int32_t index;
        VstIntPtr value;
        float opt;
        std::optional<std::int64_t> forced;
        std::string expectedCall;
        VstIntPtr answer;
    } rows[] = {
        {effVendorSpecific, 3, wide, 0.25f, 77, call("vendorSpecific", 3, wide, text, 0.25f), 77},
        {effVendorSpecific, INT_MIN, -1, -2.5f, -1,
         call("vendorSpecific", INT_MIN, -1, text, -2.5f), -1},
        {effGetCurrentPosition, 0, 0, 0.0f, wide, call("getCurrentPosition"), wide},
        {effGetCurrentMidiProgram, 9, 0, 0.0f, std::nullopt, call("getCurrentMidiProgram", 9, text),
         -1},
        {effGetParamName, 4, 0, 0.0f, std::nullopt, call("getParamName", 4, text), 0},
        {effIdentify, 0, 0, 0.0f, std::nullopt, "", 0x4E764566},
        {-1, 1, 1, 1.0f, 1, "", 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE("opcode " + std::to_string(row.opcode));
        journal.operations.clear();
        created->forced = row.forced;
        EXPECT_EQ(record->dispatcher(record, row.opcode, row.index, row.value, text, row.opt),
                  row.answer);
        EXPECT_EQ(journal.operations, row.expectedCall.empty()
                                          ? std::vector<std::string>{}
                                          : std::vector<std::string>{row.expectedCall});
    }
    record->dispatcher(record, effClose, 0, 0, nullptr, 0.0f);
}

TEST_F(FrameEntry, TheOtherFourEntriesReachTheirOperationWithUnchangedArguments) {
    AEffect* record = openInstance();
    ASSERT_NE(record, nullptr);
    float left[4] = {};
    float right[4] = {};
    float* inputs[] = {left};
    float* outputs[] = {left, right};

    for (const std::int32_t frames : {64, 0, -1, INT_MAX}) {
        SCOPED_TRACE("frames " + std::to_string(frames));
        journal.operations.clear();
        record->process(record, inputs, outputs, frames);
        record->processReplacing(record, outputs, inputs, frames);
        EXPECT_EQ(journal.operations,
                  (std::vector<std::string>{call("process", inputs, outputs, frames),
                                            call("processReplacing", outputs, inputs, frames)}));
    }

    const struct {
        std::int32_t index;
        float value;
    } parameters[] = {{3, 0.25f}, {0, -1.5f}, {7, 1e30f}};
    for (const auto& row : parameters) {
        SCOPED_TRACE("parameter " + std::to_string(row.index));
        journal.operations.clear();
        record->setParameter(record, row.index, row.value);
        EXPECT_EQ(record->getParameter(record, row.index), row.value);
        EXPECT_EQ(journal.operations,
                  (std::vector<std::string>{call("setParameter", row.index, row.value),
                                            call("getParameter", row.index)}));
    }
    journal.operations.clear();
    EXPECT_EQ(record->getParameter(record, -1), -1.0f); // the override's answer, unchanged
    EXPECT_EQ(journal.operations, std::vector<std::string>{call("getParameter", -1)});

    record->dispatcher(record, effClose, 0, 0, nullptr, 0.0f);
}

TEST_F(FrameEntry, ClosingOneInstanceLeavesAnotherWorking) {
    AEffect* first = openInstance();
    RecordingEffect* firstObject = created;
    AEffect* second = openInstance();
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    ASSERT_NE(first, second);
    ASSERT_NE(static_cast<void*>(firstObject), static_cast<void*>(created));

    second->setParameter(second, 2, 0.5f);
    second->dispatcher(second, effSetSampleRate, 0, 0, nullptr, 48000.0f);
    EXPECT_EQ(first->dispatcher(first, effClose, 0, 0, nullptr, 0.0f), 1);

    EXPECT_EQ(second->getParameter(second, 2), 0.5f);
    EXPECT_EQ(second->dispatcher(second, effGetVstVersion, 0, 0, nullptr, 0.0f), 2200);
    EXPECT_EQ(created->getSampleRate(), 48000.0f);
    journal.operations.clear();
    EXPECT_EQ(second->dispatcher(second, effClose, 0, 0, nullptr, 0.0f), 1);
    EXPECT_EQ(journal.operations, (std::vector<std::string>{"close()", "~RecordingEffect()"}));
}

} // namespace
} // namespace quill::test
