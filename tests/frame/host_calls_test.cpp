// The requests the frame sends to the host: what each one sends, and how the host's answer comes
// back.
#include "tests/frame/recording.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace quill::test {
namespace {

char firstBuffer[16];
char secondBuffer[16];
void* const P1 = firstBuffer;
void* const P2 = secondBuffer;

// How the host's answer becomes the operation's answer.
enum class Conversion {
    Unchanged,     // the host's answer, integer or address, as it came
    NonZero,       // true when the host answered anything but 0
    ExactlyOne,    // true only for an answer of exactly 1
    OneForNonZero, // the integer 1 for any non-zero answer, else 0
    Version,       // the host's answer, but 1 instead of 0
    PinInverted,   // true when the host answered 0
    Dropped,       // the operation answers nothing
    StoredRate,    // the stored sample rate, whatever the host answered
    StoredBlock,   // the stored block size, whatever the host answered
};

struct HostRow {
    std::string operation;
    std::function<VstIntPtr(RecordingEffect&)> invoke;
    std::int32_t opcode;
    std::int32_t index;
    VstIntPtr value;
    void* ptr;
    float opt;
    Conversion conversion;
    VstIntPtr withoutCallback;
};

VstIntPtr asInteger(const void* address) {
    return reinterpret_cast<VstIntPtr>(address);
}

// Every host call of both layers, with distinct arguments (3, 5, 7, 0.25, P1, P2) so that the
// request shows where each one travels.
std::vector<HostRow> hostTable() {
    using E = RecordingEffect&;
    using C = Conversion;
    auto* events = static_cast<VstEvents*>(P1);
    auto* text = static_cast<char*>(P1);
    return {
        {"automateParameter",
         [](E e) {
             e.automateParameter(3, 0.25f);
             return VstIntPtr{0};
         },
         audioMasterAutomate, 3, 0, nullptr, 0.25f, C::Dropped, 0},
        {"hostVersion", [](E e) { return e.hostVersion(); }, audioMasterVersion, 0, 0, nullptr,
         0.0f, C::Version, 1},
        {"hostCurrentId", [](E e) { return e.hostCurrentId(); }, audioMasterCurrentId, 0, 0,
         nullptr, 0.0f, C::Unchanged, 0},
        {"hostIdle",
         [](E e) {
             e.hostIdle();
             return VstIntPtr{0};
         },
         audioMasterIdle, 0, 0, nullptr, 0.0f, C::Dropped, 0},
        {"hostInputConnected", [](E e) { return VstIntPtr{e.hostInputConnected(3)}; },
         audioMasterPinConnected, 3, 0, nullptr, 0.0f, C::PinInverted, 1},
        {"hostOutputConnected", [](E e) { return VstIntPtr{e.hostOutputConnected(3)}; },
         audioMasterPinConnected, 3, 1, nullptr, 0.0f, C::PinInverted, 1},
        {"hostWantMidi",
         [](E e) {
             e.hostWantMidi(5);
             return VstIntPtr{0};
         },
         audioMasterWantMidi, 0, 5, nullptr, 0.0f, C::Dropped, 0},
        {"hostGetTime", [](E e) { return asInteger(e.hostGetTime(5)); }, audioMasterGetTime, 0, 5,
         nullptr, 0.0f, C::Unchanged, 0},
        {"hostProcessEvents", [events](E e) { return VstIntPtr{e.hostProcessEvents(events)}; },
         audioMasterProcessEvents, 0, 0, P1, 0.0f, C::ExactlyOne, 0},
        {"hostTempoAt", [](E e) { return e.hostTempoAt(5); }, audioMasterTempoAt, 0, 5, nullptr,
         0.0f, C::Unchanged, 0},
        {"hostGetNumAutomatableParameters", [](E e) { return e.hostGetNumAutomatableParameters(); },
         audioMasterGetNumAutomatableParameters, 0, 0, nullptr, 0.0f, C::Unchanged, 0},
        {"hostGetParameterQuantization", [](E e) { return e.hostGetParameterQuantization(); },
         audioMasterGetParameterQuantization, 0, 0, nullptr, 0.0f, C::Unchanged, 0},
        {"hostIOChanged", [](E e) { return VstIntPtr{e.hostIOChanged()}; }, audioMasterIOChanged, 0,
         0, nullptr, 0.0f, C::NonZero, 0},
        {"hostNeedIdle", [](E e) { return VstIntPtr{e.hostNeedIdle()}; }, audioMasterNeedIdle, 0, 0,
         nullptr, 0.0f, C::NonZero, 0},
        {"hostSizeWindow", [](E e) { return VstIntPtr{e.hostSizeWindow(3, 5)}; },
         audioMasterSizeWindow, 3, 5, nullptr, 0.0f, C::NonZero, 0},
        {"hostGetSampleRate", [](E e) { return static_cast<VstIntPtr>(e.hostGetSampleRate()); },
         audioMasterGetSampleRate, 0, 0, nullptr, 0.0f, C::StoredRate, 44100},
        {"hostGetBlockSize", [](E e) { return VstIntPtr{e.hostGetBlockSize()}; },
         audioMasterGetBlockSize, 0, 0, nullptr, 0.0f, C::StoredBlock, 1024},
        {"hostGetInputLatency", [](E e) { return e.hostGetInputLatency(); },
         audioMasterGetInputLatency, 0, 0, nullptr, 0.0f, C::Unchanged, 0},
        {"hostGetOutputLatency", [](E e) { return e.hostGetOutputLatency(); },
         audioMasterGetOutputLatency, 0, 0, nullptr, 0.0f, C::Unchanged, 0},
        {"hostGetPreviousPlug", [](E e) { return asInteger(e.hostGetPreviousPlug(7)); },
         audioMasterGetPreviousPlug, 0, 7, nullptr, 0.0f, C::Unchanged, 0},
        {"hostGetNextPlug", [](E e) { return asInteger(e.hostGetNextPlug(7)); },
         audioMasterGetNextPlug, 0, 7, nullptr, 0.0f, C::Unchanged, 0},
        {"hostWillReplaceOrAccumulate", [](E e) { return e.hostWillReplaceOrAccumulate(); },
         audioMasterWillReplaceOrAccumulate, 0, 0, nullptr, 0.0f, C::Unchanged, 0},
        {"hostGetCurrentProcessLevel", [](E e) { return e.hostGetCurrentProcessLevel(); },
         audioMasterGetCurrentProcessLevel, 0, 0, nullptr, 0.0f, C::Unchanged, 0},
        {"hostGetAutomationState", [](E e) { return e.hostGetAutomationState(); },
         audioMasterGetAutomationState, 0, 0, nullptr, 0.0f, C::Unchanged, 0},
        {"hostOfflineStart", [](E e) { return VstIntPtr{e.hostOfflineStart(P1, 5, 3)}; },
         audioMasterOfflineStart, 3, 5, P1, 0.0f, C::NonZero, 0},
        {"hostOfflineRead(readSource true)",
         [](E e) { return VstIntPtr{e.hostOfflineRead(P1, 5, true)}; }, audioMasterOfflineRead, 1,
         5, P1, 0.0f, C::NonZero, 0},
        {"hostOfflineRead(readSource false)",
         [](E e) { return VstIntPtr{e.hostOfflineRead(P1, 5, false)}; }, audioMasterOfflineRead, 0,
         5, P1, 0.0f, C::NonZero, 0},
        {"hostOfflineWrite", [](E e) { return VstIntPtr{e.hostOfflineWrite(P1, 5)}; },
         audioMasterOfflineWrite, 0, 5, P1, 0.0f, C::NonZero, 0},
        {"hostOfflineGetCurrentPass", [](E e) { return VstIntPtr{e.hostOfflineGetCurrentPass()}; },
         audioMasterOfflineGetCurrentPass, 0, 0, nullptr, 0.0f, C::OneForNonZero, 0},
        {"hostOfflineGetCurrentMetaPass",
         [](E e) { return VstIntPtr{e.hostOfflineGetCurrentMetaPass()}; },
         audioMasterOfflineGetCurrentMetaPass, 0, 0, nullptr, 0.0f, C::OneForNonZero, 0},
        {"hostSetOutputSampleRate",
         [](E e) {
             e.hostSetOutputSampleRate(0.25f);
             return VstIntPtr{0};
         },
         audioMasterSetOutputSampleRate, 0, 0, nullptr, 0.25f, C::Dropped, 0},
        {"hostGetSpeakerArrangement",
         [](E e) { return VstIntPtr{e.hostGetSpeakerArrangement(P1, P2)}; },
         audioMasterGetSpeakerArrangement, 0, asInteger(P1), P2, 0.0f, C::NonZero, 0},
        {"hostGetVendorString", [text](E e) { return VstIntPtr{e.hostGetVendorString(text)}; },
         audioMasterGetVendorString, 0, 0, P1, 0.0f, C::NonZero, 0},
        {"hostGetProductString", [text](E e) { return VstIntPtr{e.hostGetProductString(text)}; },
         audioMasterGetProductString, 0, 0, P1, 0.0f, C::NonZero, 0},
        {"hostGetVendorVersion", [](E e) { return e.hostGetVendorVersion(); },
         audioMasterGetVendorVersion, 0, 0, nullptr, 0.0f, C::Unchanged, 0},
        {"hostVendorSpecific", [](E e) { return e.hostVendorSpecific(3, 5, P1, 0.25f); },
         audioMasterVendorSpecific, 3, 5, P1, 0.25f, C::Unchanged, 0},
        {"hostCanDo", [text](E e) { return VstIntPtr{e.hostCanDo(text)}; }, audioMasterCanDo, 0, 0,
         P1, 0.0f, C::OneForNonZero, 0},
        {"hostGetLanguage", [](E e) { return e.hostGetLanguage(); }, audioMasterGetLanguage, 0, 0,
         nullptr, 0.0f, C::Unchanged, 0},
        {"hostOpenWindow", [](E e) { return asInteger(e.hostOpenWindow(P1)); },
         audioMasterOpenWindow, 0, 0, P1, 0.0f, C::Unchanged, 0},
        {"hostCloseWindow", [](E e) { return VstIntPtr{e.hostCloseWindow(P1)}; },
         audioMasterCloseWindow, 0, 0, P1, 0.0f, C::NonZero, 0},
        {"hostGetDirectory", [](E e) { return asInteger(e.hostGetDirectory()); },
         audioMasterGetDirectory, 0, 0, nullptr, 0.0f, C::Unchanged, 0},
        {"hostUpdateDisplay", [](E e) { return VstIntPtr{e.hostUpdateDisplay()}; },
         audioMasterUpdateDisplay, 0, 0, nullptr, 0.0f, C::NonZero, 0},
        {"hostBeginEdit", [](E e) { return VstIntPtr{e.hostBeginEdit(3)}; }, audioMasterBeginEdit,
         3, 0, nullptr, 0.0f, C::NonZero, 0},
        {"hostEndEdit", [](E e) { return VstIntPtr{e.hostEndEdit(3)}; }, audioMasterEndEdit, 3, 0,
         nullptr, 0.0f, C::NonZero, 0},
        {"hostOpenFileSelector", [](E e) { return VstIntPtr{e.hostOpenFileSelector(P1)}; },
         audioMasterOpenFileSelector, 0, 0, P1, 0.0f, C::NonZero, 0},
    };
}

VstIntPtr convert(Conversion conversion, VstIntPtr hostAnswer) {
    switch (conversion) {
    case Conversion::Unchanged:
        return hostAnswer;
    case Conversion::NonZero:
    case Conversion::OneForNonZero:
        return hostAnswer != 0 ? 1 : 0;
    case Conversion::ExactlyOne:
        return hostAnswer == 1 ? 1 : 0;
    case Conversion::Version:
        return hostAnswer != 0 ? hostAnswer : 1;
    case Conversion::PinInverted:
        return hostAnswer == 0 ? 1 : 0;
    case Conversion::Dropped:
        return 0;
    case Conversion::StoredRate:
        return 44100;
    case Conversion::StoredBlock:
        return 1024;
    }
    return -12345;
}

// Host answers to try: 0, 1, 2, -1, and on 64-bit builds 2^32 + 1, whose low 32 bits read as 1.
std::vector<VstIntPtr> hostAnswers() {
    std::vector<VstIntPtr> answers = {0, 1, 2, -1};
    if (sizeof(VstIntPtr) == 8) {
        answers.push_back(static_cast<VstIntPtr>((std::uint64_t{1} << 32 & UINTPTR_MAX) + 1));
    }
    return answers;
}

class FrameHostCalls : public ::testing::Test {
protected:
    void SetUp() override { journal.reset(); }
    RecordingEffect effect;
};

TEST_F(FrameHostCalls, TableCoversEveryRequestFrom0To45ExceptTheUnusedOnes) {
    std::set<std::int32_t> opcodes;
    for (const HostRow& row : hostTable()) {
        opcodes.insert(row.opcode);
    }
    std::set<std::int32_t> expected;
    for (std::int32_t opcode = 0; opcode <= 45; ++opcode) {
        if (opcode != 5 && opcode != 9 && opcode != 36) {
            expected.insert(opcode);
        }
    }
    EXPECT_EQ(opcodes, expected);
}

TEST_F(FrameHostCalls, EachCallSendsItsRequestOnceAndConvertsTheHostsAnswer) {
    for (const VstIntPtr hostAnswer : hostAnswers()) {
        for (const HostRow& row : hostTable()) {
            SCOPED_TRACE(row.operation + ", host answers " + std::to_string(hostAnswer));
            journal.reset();
            journal.hostAnswer = hostAnswer;
            const VstIntPtr answer = row.invoke(effect);
            ASSERT_EQ(journal.hostCalls.size(), 1u);
            const HostCall& sent = journal.hostCalls[0];
            EXPECT_EQ(sent.effect, effect.getRecord());
            EXPECT_EQ(sent.opcode, row.opcode);
            EXPECT_EQ(sent.index, row.index);
            EXPECT_EQ(sent.value, row.value);
            EXPECT_EQ(sent.ptr, row.ptr);
            EXPECT_EQ(sent.opt, row.opt);
            if (row.conversion != Conversion::Dropped) {
                EXPECT_EQ(answer, convert(row.conversion, hostAnswer));
            }
        }
    }
}

TEST_F(FrameHostCalls, WithoutACallbackNothingIsSentAndEachCallAnswersItsNeutralValue) {
    RecordingEffect unhosted(nullptr);
    for (const HostRow& row : hostTable()) {
        SCOPED_TRACE(row.operation);
        EXPECT_EQ(row.invoke(unhosted), row.withoutCallback);
    }
    EXPECT_TRUE(journal.hostCalls.empty());
    // automateParameter still sets the effect's own value.
    EXPECT_EQ(unhosted.parameters[3], 0.25f);
}

TEST_F(FrameHostCalls, OpenFileSelectorWithANullAddressSendsNothing) {
    journal.hostAnswer = 1;
    EXPECT_FALSE(effect.hostOpenFileSelector(nullptr));
    EXPECT_TRUE(journal.hostCalls.empty());
    EXPECT_TRUE(effect.hostOpenFileSelector(P1));
    EXPECT_EQ(journal.hostCalls.size(), 1u);
}

TEST_F(FrameHostCalls, AutomateParameterSetsTheOwnValueBeforeTheHostHears) {
    float valueSeenByHost = -1.0f;
    journal.duringHostCall = [&](AEffect* record) {
        valueSeenByHost = record->getParameter(record, 3);
    };
    effect.automateParameter(3, 0.75f);

    ASSERT_EQ(journal.hostCalls.size(), 1u);
    EXPECT_EQ(journal.hostCalls[0].operationsBefore, 1u);
    ASSERT_FALSE(journal.operations.empty());
    EXPECT_EQ(journal.operations[0], call("setParameter", 3, 0.75f));
    EXPECT_EQ(valueSeenByHost, 0.75f);
    EXPECT_EQ(journal.hostCalls[0].opcode, audioMasterAutomate);
    EXPECT_EQ(journal.hostCalls[0].index, 3);
    EXPECT_EQ(journal.hostCalls[0].opt, 0.75f);
}

TEST_F(FrameHostCalls, SampleRateAndBlockSizeAnswerTheStoredValuesNotTheHostsAnswer) {
    effect.setSampleRate(22050.5f);
    effect.setBlockSize(77);
    journal.hostAnswer = 96000;
    EXPECT_EQ(effect.hostGetSampleRate(), 22050.5f);
    EXPECT_EQ(effect.hostGetBlockSize(), 77);

    RecordingEffect unhosted(nullptr);
    unhosted.setSampleRate(8000.25f);
    unhosted.setBlockSize(3);
    EXPECT_EQ(unhosted.hostGetSampleRate(), 8000.25f);
    EXPECT_EQ(unhosted.hostGetBlockSize(), 3);
}

TEST_F(FrameHostCalls, SampleRateAndBlockSizeTheHostSetsDuringTheRequestAreAnswered) {
    effect.setSampleRate(44100.0f);
    journal.duringHostCall = [](AEffect* record) {
        record->dispatcher(record, effSetSampleRate, 0, 0, nullptr, 48000.5f);
    };
    EXPECT_EQ(effect.hostGetSampleRate(), 48000.5f);

    journal.duringHostCall = [](AEffect* record) {
        record->dispatcher(record, effSetBlockSize, 0, 333, nullptr, 0.0f);
    };
    EXPECT_EQ(effect.hostGetBlockSize(), 333);
}

TEST_F(FrameHostCalls, PreviousAndNextPlugCarryThePinInValueAndAnswerTheHostsRecord) {
    RecordingEffect neighbour;
    journal.hostAnswer = asInteger(neighbour.getRecord());
    for (const std::int32_t pin : {0, 1, -1, 1000}) {
        SCOPED_TRACE("pin " + std::to_string(pin));
        journal.hostCalls.clear();
        EXPECT_EQ(effect.hostGetPreviousPlug(pin), neighbour.getRecord());
        EXPECT_EQ(effect.hostGetNextPlug(pin), neighbour.getRecord());
        ASSERT_EQ(journal.hostCalls.size(), 2u);
        for (const HostCall& sent : journal.hostCalls) {
            EXPECT_EQ(sent.index, 0);
            EXPECT_EQ(sent.value, pin);
        }
    }
}

TEST_F(FrameHostCalls, FlagSettersSendNothing) {
    effect.setIsSynth(true);
    effect.setNoSoundInStop(true);
    effect.setCanReplacing(true);
    effect.setHasVu(true);
    EXPECT_TRUE(journal.hostCalls.empty());
}

} // namespace
} // namespace quill::test
