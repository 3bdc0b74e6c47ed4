// The dispatcher of both frame layers: which operation each opcode reaches, with which arguments,
// and how its answer reaches the host.
#include "tests/frame/recording.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <set>
#include <string>
#include <vector>

namespace quill::test {
namespace {

char hostText[64];
void* const P = hostText;
constexpr std::int32_t kIndex = 3;
constexpr VstIntPtr kValue = 5;
constexpr float kOpt = 0.25f;

// A value whose low 32 bits are 0 on 64-bit builds: a dispatcher that narrows value before
// testing it sees 0.
constexpr VstIntPtr kHighBitsOnly =
    sizeof(VstIntPtr) == 8 ? static_cast<VstIntPtr>(std::uint64_t{1} << 32 & UINTPTR_MAX) : 0;

// How the operation's result reaches the host.
enum class Kind {
    Zero,       // always 0, whatever the operation answers
    Result,     // the operation's 32-bit integer result, unchanged
    WideResult, // the operation's pointer-sized result or address, unchanged
    YesNo,      // 1 for true, 0 for false
    Always1,    // the host receives 1
    Inverted,   // 0 for true, 1 for false
    Identify,   // the fixed identification code
};

struct OpcodeRow {
    std::int32_t opcode;
    std::int32_t index;
    VstIntPtr value;
    void* ptr;
    float opt;
    std::string expectedCall; // empty: no operation runs
    VstIntPtr defaultAnswer;
    Kind kind;
};

// Every opcode from 0 to 68 with distinct index (3), value (5), ptr (P) and opt (0.25), so that the
// recorded call shows the order in which the arguments arrive. The effect has 4 programs and no
// editor.
std::vector<OpcodeRow> opcodeTable() {
    const std::int32_t i = kIndex;
    const VstIntPtr v = kValue;
    const float o = kOpt;
    return {
        {effOpen, i, v, P, o, call("open"), 0, Kind::Zero},
        {effClose, i, v, P, o, call("close"), 0, Kind::Zero},
        {effSetProgram, i, 2, P, o, call("setProgram", 2), 0, Kind::Zero},
        {effGetProgram, i, v, P, o, call("getProgram"), 0, Kind::Result},
        {effSetProgramName, i, v, P, o, call("setProgramName", P), 0, Kind::Zero},
        {effGetProgramName, i, v, P, o, call("getProgramName", P), 0, Kind::Zero},
        {effGetParamLabel, i, v, P, o, call("getParamLabel", i, P), 0, Kind::Zero},
        {effGetParamDisplay, i, v, P, o, call("getParamDisplay", i, P), 0, Kind::Zero},
        {effGetParamName, i, v, P, o, call("getParamName", i, P), 0, Kind::Zero},
        {effGetVu, i, v, P, o, call("getVu"), 0, Kind::Zero},
        {effSetSampleRate, i, v, P, o, call("setSampleRate", o), 0, Kind::Zero},
        {effSetBlockSize, i, v, P, o, call("setBlockSize", 5), 0, Kind::Zero},
        {effMainsChanged, i, v, P, o, call("resume"), 0, Kind::Zero},
        {effEditGetRect, i, v, P, o, "", 0, Kind::Zero},
        {effEditOpen, i, v, P, o, "", 0, Kind::Zero},
        {effEditClose, i, v, P, o, "", 0, Kind::Zero},
        {effEditDraw, i, v, P, o, "", 0, Kind::Zero},
        {effEditMouse, i, v, P, o, "", 0, Kind::Zero},
        {effEditKey, i, v, P, o, "", 0, Kind::Zero},
        {effEditIdle, i, v, P, o, "", 0, Kind::Zero},
        {effEditTop, i, v, P, o, "", 0, Kind::Zero},
        {effEditSleep, i, v, P, o, "", 0, Kind::Zero},
        {effIdentify, i, v, P, o, "", 0x4E764566, Kind::Identify},
        {effGetChunk, i, v, P, o, call("getChunk", P, true), 0, Kind::Result},
        {effSetChunk, i, v, P, o, call("setChunk", P, 5, true), 0, Kind::Result},
        {effProcessEvents, i, v, P, o, call("processEvents", P), 0, Kind::WideResult},
        {effCanBeAutomated, i, v, P, o, call("canBeAutomated", i), 1, Kind::YesNo},
        {effString2Parameter, i, v, P, o, call("string2Parameter", i, P), 0, Kind::YesNo},
        {effGetNumProgramCategories, i, v, P, o, call("getNumProgramCategories"), 1, Kind::Result},
        {effGetProgramNameIndexed, i, v, P, o, call("getProgramNameIndexed", 5, i, P), 0,
         Kind::YesNo},
        {effCopyProgram, i, v, P, o, call("copyProgram", i), 0, Kind::YesNo},
        {effConnectInput, i, v, P, o, call("connectInput", i, true), 1, Kind::Always1},
        {effConnectOutput, i, v, P, o, call("connectOutput", i, true), 1, Kind::Always1},
        {effGetInputProperties, i, v, P, o, call("getInputProperties", i, P), 0, Kind::YesNo},
        {effGetOutputProperties, i, v, P, o, call("getOutputProperties", i, P), 0, Kind::YesNo},
        {effGetPlugCategory, i, v, P, o, call("getPlugCategory"), 0, Kind::Result},
        {effGetCurrentPosition, i, v, P, o, call("getCurrentPosition"), 0, Kind::WideResult},
        {effGetDestinationBuffer, i, v, P, o, call("getDestinationBuffer"), 0, Kind::WideResult},
        {effOfflineNotify, i, v, P, o, call("offlineNotify", P, 5, true), 0, Kind::YesNo},
        {effOfflinePrepare, i, v, P, o, call("offlinePrepare", P, 5), 0, Kind::YesNo},
        {effOfflineRun, i, v, P, o, call("offlineRun", P, 5), 0, Kind::YesNo},
        {effProcessVarIo, i, v, P, o, call("processVarIo", P), 0, Kind::YesNo},
        {effSetSpeakerArrangement, i, v, P, o,
         call("setSpeakerArrangement", reinterpret_cast<void*>(v), P), 0, Kind::YesNo},
        {effSetBlockSizeAndSampleRate, i, v, P, o, call("setBlockSizeAndSampleRate", 5, o), 1,
         Kind::Always1},
        {effSetBypass, i, v, P, o, call("setBypass", true), 0, Kind::YesNo},
        {effGetEffectName, i, v, P, o, call("getEffectName", P), 0, Kind::YesNo},
        {effGetErrorText, i, v, P, o, call("getErrorText", P), 0, Kind::YesNo},
        {effGetVendorString, i, v, P, o, call("getVendorString", P), 0, Kind::YesNo},
        {effGetProductString, i, v, P, o, call("getProductString", P), 0, Kind::YesNo},
        {effGetVendorVersion, i, v, P, o, call("getVendorVersion"), 0, Kind::Result},
        {effVendorSpecific, i, v, P, o, call("vendorSpecific", i, 5, P, o), 0, Kind::WideResult},
        {effCanDo, i, v, P, o, call("canDo", P), 0, Kind::Result},
        {effGetTailSize, i, v, P, o, call("getTailSize"), 0, Kind::Result},
        {effIdle, i, v, P, o, call("idle"), 0, Kind::Result},
        {effGetIcon, i, v, P, o, call("getIcon"), 0, Kind::WideResult},
        {effSetViewPosition, i, v, P, o, call("setViewPosition", i, 5), 0, Kind::YesNo},
        {effGetParameterProperties, i, v, P, o, call("getParameterProperties", i, P), 0,
         Kind::YesNo},
        {effKeysRequired, i, v, P, o, call("keysRequired"), 1, Kind::Inverted},
        {effGetVstVersion, i, v, P, o, call("getVstVersion"), 2200, Kind::Result},
        {effEditKeyDown, i, v, P, o, "", 0, Kind::Zero},
        {effEditKeyUp, i, v, P, o, "", 0, Kind::Zero},
        {effSetEditKnobMode, i, v, P, o, "", 0, Kind::Zero},
        {effGetMidiProgramName, i, v, P, o, call("getMidiProgramName", i, P), 0, Kind::Result},
        {effGetCurrentMidiProgram, i, v, P, o, call("getCurrentMidiProgram", i, P), -1,
         Kind::Result},
        {effGetMidiProgramCategory, i, v, P, o, call("getMidiProgramCategory", i, P), 0,
         Kind::Result},
        {effHasMidiProgramsChanged, i, v, P, o, call("hasMidiProgramsChanged", i), 0, Kind::YesNo},
        {effGetMidiKeyName, i, v, P, o, call("getMidiKeyName", i, P), 0, Kind::YesNo},
        {effBeginSetProgram, i, v, P, o, call("beginSetProgram"), 0, Kind::YesNo},
        {effEndSetProgram, i, v, P, o, call("endSetProgram"), 0, Kind::YesNo},
    };
}

std::vector<std::string> expectedCalls(const std::string& only) {
    return only.empty() ? std::vector<std::string>{} : std::vector<std::string>{only};
}

std::string traceOf(std::int32_t opcode) {
    return "opcode " + std::to_string(opcode);
}

class FrameDispatcher : public ::testing::Test {
protected:
    void SetUp() override { journal.reset(); }

    VstIntPtr dispatch(const OpcodeRow& row) {
        return effect.dispatcher(row.opcode, row.index, row.value, row.ptr, row.opt);
    }
    VstIntPtr dispatch(std::int32_t opcode, std::int32_t index = 0, VstIntPtr value = 0,
                       void* ptr = nullptr, float opt = 0.0f) {
        return effect.dispatcher(opcode, index, value, ptr, opt);
    }

    RecordingEffect effect;
};

TEST_F(FrameDispatcher, TableCoversEveryOpcodeFrom0To68Once) {
    std::set<std::int32_t> seen;
    for (const OpcodeRow& row : opcodeTable()) {
        EXPECT_TRUE(seen.insert(row.opcode).second) << traceOf(row.opcode) << " twice";
    }
    ASSERT_EQ(seen.size(), 69u);
    EXPECT_EQ(*seen.begin(), 0);
    EXPECT_EQ(*seen.rbegin(), 68);
}

TEST_F(FrameDispatcher, EachOpcodeReachesItsOperationWithItsArgumentsAndAnswersTheDefault) {
    for (const OpcodeRow& row : opcodeTable()) {
        SCOPED_TRACE(traceOf(row.opcode));
        journal.reset();
        RecordingEffect fresh;
        const VstIntPtr answer =
            fresh.dispatcher(row.opcode, row.index, row.value, row.ptr, row.opt);
        EXPECT_EQ(answer, row.defaultAnswer);
        EXPECT_EQ(journal.operations, expectedCalls(row.expectedCall));
        EXPECT_TRUE(journal.hostCalls.empty());
    }
}

TEST_F(FrameDispatcher, AnswerKindsShapeWhatTheOperationAnswers) {
    // 2 | 1 << 32 on 64-bit builds: a pointer-sized answer keeps its high bits, a 32-bit one
    // cannot carry them.
    const std::int64_t wide = sizeof(VstIntPtr) == 8 ? (std::int64_t{1} << 32) + 2 : 0x12345678;
    for (const std::int64_t forced :
         {std::int64_t{0}, std::int64_t{1}, std::int64_t{42}, std::int64_t{-1}, wide}) {
        for (const OpcodeRow& row : opcodeTable()) {
            SCOPED_TRACE(traceOf(row.opcode) + ", operation answers " + std::to_string(forced));
            journal.reset();
            effect.forced = forced;
            VstIntPtr expected = 0;
            switch (row.kind) {
            case Kind::Zero:
                expected = 0;
                break;
            case Kind::Result:
                expected = static_cast<std::int32_t>(forced);
                break;
            case Kind::WideResult:
                expected = static_cast<VstIntPtr>(forced);
                break;
            case Kind::YesNo:
                expected = forced != 0 ? 1 : 0;
                break;
            case Kind::Always1:
                expected = 1;
                break;
            case Kind::Inverted:
                expected = forced != 0 ? 0 : 1;
                break;
            case Kind::Identify:
                expected = 0x4E764566;
                break;
            }
            EXPECT_EQ(dispatch(row), expected);
        }
    }
}

TEST_F(FrameDispatcher, MinusOneFromAnOperationReachesTheHostAsAPointerSizedMinusOne) {
    // The default getCurrentMidiProgram answers -1; a 64-bit host must not see 4294967295.
    EXPECT_EQ(dispatch(effGetCurrentMidiProgram, 0, 0, P), VstIntPtr{-1});
    effect.forced = -1;
    EXPECT_EQ(dispatch(effCanDo, 0, 0, P), VstIntPtr{-1});
    EXPECT_EQ(dispatch(effGetChunk, 0, 0, P), VstIntPtr{-1});
}

TEST_F(FrameDispatcher, ArgumentsBecomeBooleansOnTheirFullWidth) {
    struct Row {
        std::int32_t opcode;
        std::int32_t index;
        VstIntPtr value;
        std::string expectedCall;
    };
    std::vector<Row> rows = {
        {effGetChunk, 0, 0, call("getChunk", P, false)},
        {effGetChunk, 3, 0, call("getChunk", P, true)},
        {effGetChunk, -1, 0, call("getChunk", P, true)},
        {effGetChunk, INT_MIN, 0, call("getChunk", P, true)},
        {effSetChunk, 0, 9, call("setChunk", P, 9, false)},
        {effSetChunk, 256, -9, call("setChunk", P, -9, true)},
        {effConnectInput, 1, 0, call("connectInput", 1, false)},
        {effConnectInput, 1, -1, call("connectInput", 1, true)},
        {effConnectOutput, -2, 0, call("connectOutput", -2, false)},
        {effConnectOutput, -2, 7, call("connectOutput", -2, true)},
        {effSetBypass, 0, 0, call("setBypass", false)},
        {effSetBypass, 0, -3, call("setBypass", true)},
        {effOfflineNotify, 0, 4, call("offlineNotify", P, 4, false)},
        {effOfflineNotify, -1, 4, call("offlineNotify", P, 4, true)},
        {effMainsChanged, 0, 0, call("suspend")},
    };
    if (kHighBitsOnly != 0) {
        rows.push_back({effConnectInput, 0, kHighBitsOnly, call("connectInput", 0, true)});
        rows.push_back({effConnectOutput, 0, kHighBitsOnly, call("connectOutput", 0, true)});
        rows.push_back({effSetBypass, 0, kHighBitsOnly, call("setBypass", true)});
        rows.push_back({effMainsChanged, 0, kHighBitsOnly, call("resume")});
    }
    for (const Row& row : rows) {
        SCOPED_TRACE(traceOf(row.opcode) + " index " + std::to_string(row.index) + " value " +
                     std::to_string(row.value));
        journal.reset();
        dispatch(row.opcode, row.index, row.value, P, 0.0f);
        EXPECT_EQ(journal.operations, expectedCalls(row.expectedCall));
    }
}

TEST_F(FrameDispatcher, OpcodesOutside25To68ReachTheBaseDispatcherUnchanged) {
    // The base dispatcher uses index, value, ptr and opt in these rows; each argument must arrive
    // as the host sent it, the full width of value included.
    struct Row {
        std::int32_t opcode;
        std::int32_t index;
        VstIntPtr value;
        void* ptr;
        float opt;
        std::string expectedCall;
    };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    std::vector<Row> rows = {
        {effSetChunk, INT_MIN, INT_MAX, P, 1.5f, call("setChunk", P, INT_MAX, true)},
        {effSetChunk, 0, -7, nullptr, 0.0f, call("setChunk", nullptr, -7, false)},
        {effSetSampleRate, -4, -4, nullptr, 96000.5f, call("setSampleRate", 96000.5f)},
        {effSetSampleRate, 0, 0, nullptr, nan, call("setSampleRate", nan)},
        {effGetParamName, INT_MAX, 0, P, 0.0f, call("getParamName", INT_MAX, P)},
        {effSetBlockSize, 0, -512, nullptr, 0.0f, call("setBlockSize", -512)},
    };
    if (kHighBitsOnly != 0) {
        // Narrowed to 32 bits this would be program 0 (valid) and switching off.
        rows.push_back({effSetProgram, 0, kHighBitsOnly, nullptr, 0.0f, ""});
        rows.push_back({effMainsChanged, 0, kHighBitsOnly, nullptr, 0.0f, call("resume")});
    }
    for (const Row& row : rows) {
        SCOPED_TRACE(traceOf(row.opcode));
        journal.reset();
        EXPECT_EQ(dispatch(row.opcode, row.index, row.value, row.ptr, row.opt), 0);
        EXPECT_EQ(journal.operations, expectedCalls(row.expectedCall));
    }

    // Opcodes that no row handles: the base answer 0, nothing runs, nothing is sent, and the
    // answer is what the base dispatcher itself gives for the same five values.
    for (const std::int32_t opcode : {69, 70, -1, -25, INT_MIN, INT_MAX, 1000, 0x10000 + 25}) {
        SCOPED_TRACE(traceOf(opcode));
        journal.reset();
        effect.forced = 1;
        EXPECT_EQ(dispatch(opcode, kIndex, kValue, P, kOpt), 0);
        EXPECT_EQ(effect.EffectBase::dispatcher(opcode, kIndex, kValue, P, kOpt), 0);
        EXPECT_TRUE(journal.operations.empty());
        EXPECT_TRUE(journal.hostCalls.empty());
    }
}

TEST_F(FrameDispatcher, TheEdgesOfTheExtendedRangeGoToTheRightLayer) {
    // 24 is the base's effSetChunk, 25 and 68 are the extended layer's, 69 is nobody's.
    const struct {
        std::int32_t opcode;
        std::string expectedCall;
    } rows[] = {
        {24, call("setChunk", P, 5, true)},
        {25, call("processEvents", P)},
        {68, call("endSetProgram")},
        {69, ""},
    };
    effect.forced = 1;
    for (const auto& row : rows) {
        SCOPED_TRACE(traceOf(row.opcode));
        journal.reset();
        EXPECT_EQ(dispatch(row.opcode, kIndex, kValue, P, kOpt), row.expectedCall.empty() ? 0 : 1);
        EXPECT_EQ(journal.operations, expectedCalls(row.expectedCall));
    }
}

TEST_F(FrameDispatcher, SetProgramIsCalledOnlyForIndicesInsideTheProgramCount) {
    ASSERT_EQ(effect.programCount(), 4);
    const struct {
        VstIntPtr value;
        bool calls;
    } rows[] = {{0, true},
                {3, true},
                {-1, false},
                {4, false},
                {INT_MAX, false},
                {INT_MIN, false},
                {kHighBitsOnly + 1, kHighBitsOnly == 0}};
    for (const auto& row : rows) {
        SCOPED_TRACE("value " + std::to_string(row.value));
        journal.reset();
        effect.setProgram(1);
        journal.reset();
        EXPECT_EQ(dispatch(effSetProgram, 0, row.value), 0);
        if (row.calls) {
            EXPECT_EQ(journal.operations,
                      std::vector<std::string>{call("setProgram", static_cast<int>(row.value))});
            EXPECT_EQ(dispatch(effGetProgram), row.value);
        } else {
            EXPECT_TRUE(journal.operations.empty());
            EXPECT_EQ(dispatch(effGetProgram), 1) << "the current program must not change";
        }
    }
}

TEST_F(FrameDispatcher, MainsChangedSuspendsOnZeroAndResumesOnAnythingElse) {
    const struct {
        VstIntPtr value;
        const char* operation;
    } rows[] = {{0, "suspend"}, {1, "resume"}, {-1, "resume"}, {5, "resume"}};
    for (const auto& row : rows) {
        SCOPED_TRACE("value " + std::to_string(row.value));
        journal.reset();
        EXPECT_EQ(dispatch(effMainsChanged, 0, row.value), 0);
        EXPECT_EQ(journal.operations, std::vector<std::string>{call(row.operation)});
        EXPECT_TRUE(journal.hostCalls.empty());
    }
}

TEST_F(FrameDispatcher, GetVuScalesBy32767TruncatesAndSaturates) {
    const float inf = std::numeric_limits<float>::infinity();
    const struct {
        float vu;
        VstIntPtr answer;
    } rows[] = {
        {0.0f, 0},
        {0.5f, 16383},
        {-0.5f, -16383},
        {1.0f, 32767},
        {-1.0f, -32767},
        {0.99999f, 32766}, // 32766.67 truncated, not rounded
        {std::numeric_limits<float>::quiet_NaN(), 0},
        {1e30f, INT32_MAX},
        {-1e30f, INT32_MIN},
        {inf, INT32_MAX},
        {-inf, INT32_MIN},
        {65540.0f, INT32_MAX}, // 65540 * 32767 = 2147549180: saturates, never wraps
    };
    for (const auto& row : rows) {
        SCOPED_TRACE("vu " + formatArg(row.vu));
        effect.forcedVu = row.vu;
        EXPECT_EQ(dispatch(effGetVu), row.answer);
    }
}

TEST_F(FrameDispatcher, EditorOpcodesAnswerZeroAndCallNothingWithoutAnEditor) {
    for (const std::int32_t opcode : {13, 14, 15, 16, 17, 18, 19, 20, 21, 59, 60, 61}) {
        SCOPED_TRACE(traceOf(opcode));
        journal.reset();
        EXPECT_EQ(dispatch(opcode, 65, 269, P, 2.7f), 0);
        EXPECT_TRUE(journal.operations.empty());
    }
}

class FrameEditor : public FrameDispatcher {
protected:
    void SetUp() override {
        FrameDispatcher::SetUp();
        effect.installEditor(new RecordingEditor);
    }
};

TEST_F(FrameEditor, EditorOpcodesReachTheEditorAndAnswerWhatItAnswers) {
    const struct {
        std::int32_t opcode;
        std::string expectedCall;
        VstIntPtr answer;
    } rows[] = {
        {effEditGetRect, call("editGetRect", P), 11},
        {effEditOpen, call("editOpen", P), 12},
        {effEditClose, call("editClose"), 0},
        {effEditDraw, "", 0},
        {effEditMouse, "", 0},
        {effEditKey, "", 0},
        {effEditIdle, call("editIdle"), 0},
        {effEditTop, "", 0},
        {effEditSleep, "", 0},
        {effEditKeyDown, call("editKeyDown", 65, 13, 2), 21},
        {effEditKeyUp, call("editKeyUp", 65, 13, 2), 22},
        {effSetEditKnobMode, call("setEditKnobMode", 269), 23},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(traceOf(row.opcode));
        journal.reset();
        EXPECT_EQ(dispatch(row.opcode, 65, 269, P, 2.7f), row.answer);
        EXPECT_EQ(journal.operations, expectedCalls(row.expectedCall));
    }
}

TEST_F(FrameEditor, EditorKeyTakesCharacterFromIndexAndLowBytesOfValueAndTruncatedOpt) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const struct {
        std::int32_t index;
        VstIntPtr value;
        float opt;
        int character, virtualKey, modifiers;
    } rows[] = {
        {65, 269, 2.7f, 65, 13, 2},
        {65, 269, 2.9f, 65, 13, 2},
        {0, 0, -1.0f, 0, 0, 255},
        {-7, 255, -0.9f, -7, 255, 0},
        {INT_MAX, 256, 256.0f, INT_MAX, 0, 0},
        {INT_MIN, -1, 513.5f, INT_MIN, 255, 1},
        {1, 1, nan, 1, 1, 0},
        {1, 1, 1e30f, 1, 1, 255}, // saturates to INT32_MAX, low byte 0xFF
        {1, 1, -1e30f, 1, 1, 0},  // saturates to INT32_MIN, low byte 0x00
    };
    for (const auto& row : rows) {
        SCOPED_TRACE("index " + std::to_string(row.index) + " value " + std::to_string(row.value) +
                     " opt " + formatArg(row.opt));
        journal.reset();
        dispatch(effEditKeyDown, row.index, row.value, nullptr, row.opt);
        dispatch(effEditKeyUp, row.index, row.value, nullptr, row.opt);
        EXPECT_EQ(journal.operations,
                  (std::vector<std::string>{
                      call("editKeyDown", row.character, row.virtualKey, row.modifiers),
                      call("editKeyUp", row.character, row.virtualKey, row.modifiers)}));
    }
}

TEST(FrameEditorOwnership, TheEffectDeletesItsEditorWhenDestroyed) {
    journal.reset();
    {
        RecordingEffect effect;
        auto* editor = new RecordingEditor;
        effect.installEditor(editor);
        EXPECT_EQ(effect.getEditor(), editor);
    }
    EXPECT_EQ(journal.operations,
              (std::vector<std::string>{"~RecordingEffect()", "~RecordingEditor()"}));
}

TEST(FrameDefaults, DefaultAnswersOfAnEffectThatOverridesNothing) {
    PlainEffect effect(nullptr, 1, 7);
    const struct {
        std::int32_t opcode;
        std::int32_t index;
        VstIntPtr answer;
    } rows[] = {
        {effCanBeAutomated, 0, 1},
        {effCanBeAutomated, 7, 1},
        {effCanBeAutomated, -1, 1},
        {effCanBeAutomated, INT_MAX, 1},
        {effGetVstVersion, 0, 2200},
        {effGetCurrentMidiProgram, 0, -1},
        {effGetNumProgramCategories, 0, 1},
        {effKeysRequired, 0, 1},
        {effCanDo, 0, 0},
        {effGetProgram, 0, 0},
        {effGetVu, 0, 0},
        {effIdentify, 0, 0x4E764566},
        {effIdentify, -5, 0x4E764566},
        {effGetPlugCategory, 0, kPlugCategUnknown},
        {effConnectInput, 99, 1},
        {effConnectOutput, -99, 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(traceOf(row.opcode) + " index " + std::to_string(row.index));
        EXPECT_EQ(effect.dispatcher(row.opcode, row.index, 0, hostText, 0.0f), row.answer);
    }
}

TEST(FrameDefaults, PlugCategoryFollowsTheSynthFlag) {
    PlainEffect effect;
    effect.setIsSynth(true);
    EXPECT_EQ(effect.dispatcher(effGetPlugCategory, 0, 0, nullptr, 0.0f), kPlugCategSynth);
    effect.setIsSynth(false);
    EXPECT_EQ(effect.dispatcher(effGetPlugCategory, 0, 0, nullptr, 0.0f), kPlugCategUnknown);
}

TEST(FrameDefaults, NoDefaultOfTheExtendedLayerWritesThroughPtr) {
    PlainEffect effect;
    for (std::int32_t opcode = 25; opcode <= 68; ++opcode) {
        SCOPED_TRACE(traceOf(opcode));
        char buffer[64];
        std::memset(buffer, 0x5A, sizeof buffer);
        effect.dispatcher(opcode, 1, 0, buffer, 0.0f);
        char expected[64];
        std::memset(expected, 0x5A, sizeof expected);
        EXPECT_EQ(std::memcmp(buffer, expected, sizeof buffer), 0);
    }
}

TEST(FrameDefaults, DefaultTextOperationsWriteOneNulAndNothingForANullPtr) {
    PlainEffect effect(nullptr, 1, 7);
    for (const std::int32_t opcode : {effSetProgramName, effGetProgramName, effGetParamLabel,
                                      effGetParamDisplay, effGetParamName}) {
        SCOPED_TRACE(traceOf(opcode));
        char buffer[32];
        std::memset(buffer, 'x', sizeof buffer);
        EXPECT_EQ(effect.dispatcher(opcode, 2, 0, buffer, 0.0f), 0);
        EXPECT_EQ(buffer[0], '\0');
        for (std::size_t i = 1; i < sizeof buffer; ++i) {
            EXPECT_EQ(buffer[i], 'x') << "byte " << i;
        }
        EXPECT_EQ(effect.dispatcher(opcode, 2, 0, nullptr, 0.0f), 0);
    }
}

} // namespace
} // namespace quill::test
