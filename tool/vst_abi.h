// The binary interface between a VST 2 host and a plug-in, as the host side sees it.
//
// quill loads plug-ins like any other host does, so it declares the interface itself: the
// effect record the plug-in hands out, the callback and entry-function types, the opcode and
// flag numbers, and the event records. Layouts are checked at compile time for both pointer
// widths.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quill::vst {

struct AEffect;

// The calling convention of the entry point, the record's functions and the host callback: cdecl
// on 32-bit Windows (where compilers may default to others), the platform's only one elsewhere.
#if defined(_WIN32) && !defined(_WIN64)
#define QUILL_VST_CDECL __cdecl
#else
#define QUILL_VST_CDECL
#endif

// The host callback: effect, opcode, index, value, ptr, opt. `value` and the answer are
// pointer-sized.
using HostCallback = intptr_t(QUILL_VST_CDECL*)(AEffect* effect, int32_t opcode, int32_t index,
                                                intptr_t value, void* ptr, float opt);
using DispatcherProc = intptr_t(QUILL_VST_CDECL*)(AEffect* effect, int32_t opcode, int32_t index,
                                                  intptr_t value, void* ptr, float opt);
using ProcessProc = void(QUILL_VST_CDECL*)(AEffect* effect, float** inputs, float** outputs,
                                           int32_t sampleFrames);
using SetParameterProc = void(QUILL_VST_CDECL*)(AEffect* effect, int32_t index, float value);
using GetParameterProc = float(QUILL_VST_CDECL*)(AEffect* effect, int32_t index);

// The exported entry point (`VSTPluginMain`, or `main` in older plug-ins).
using EntryProc = AEffect*(QUILL_VST_CDECL*)(HostCallback host);

struct AEffect {
    int32_t magic;
    DispatcherProc dispatcher;
    ProcessProc process;
    SetParameterProc setParameter;
    GetParameterProc getParameter;
    int32_t numPrograms;
    int32_t numParams;
    int32_t numInputs;
    int32_t numOutputs;
    int32_t flags;
    intptr_t resvd1;
    intptr_t resvd2;
    int32_t initialDelay;
    int32_t realQualities;
    int32_t offQualities;
    float ioRatio;
    void* object;
    void* user;
    int32_t uniqueID;
    int32_t version;
    ProcessProc processReplacing;
    char future[60];
};

// Four-character codes: first character in the most significant byte.
constexpr int32_t fourCC(char a, char b, char c, char d) {
    return static_cast<int32_t>((static_cast<uint32_t>(static_cast<unsigned char>(a)) << 24) |
                                (static_cast<uint32_t>(static_cast<unsigned char>(b)) << 16) |
                                (static_cast<uint32_t>(static_cast<unsigned char>(c)) << 8) |
                                static_cast<uint32_t>(static_cast<unsigned char>(d)));
}

constexpr int32_t kEffectMagic = fourCC('V', 's', 't', 'P');

// Bits of AEffect::flags.
enum EffectFlags : int32_t {
    effFlagsHasEditor = 1,
    effFlagsHasClip = 2,
    effFlagsHasVu = 4,
    effFlagsCanMono = 8,
    effFlagsCanReplacing = 16,
    effFlagsProgramChunks = 32,
    effFlagsIsSynth = 256,
    effFlagsNoSoundInStop = 512,
    effFlagsExtIsAsync = 1024,
    effFlagsExtHasBuffer = 2048,
};

// Requests from the host to the plug-in (the dispatcher's opcode).
enum EffectOpcode : int32_t {
    effOpen = 0,
    effClose = 1,
    effSetProgram = 2,
    effGetProgram = 3,
    effSetProgramName = 4,
    effGetProgramName = 5,
    effGetParamLabel = 6,
    effGetParamDisplay = 7,
    effGetParamName = 8,
    effGetVu = 9,
    effSetSampleRate = 10,
    effSetBlockSize = 11,
    effMainsChanged = 12,
    effEditGetRect = 13,
    effEditOpen = 14,
    effEditClose = 15,
    effEditDraw = 16,
    effEditMouse = 17,
    effEditKey = 18,
    effEditIdle = 19,
    effEditTop = 20,
    effEditSleep = 21,
    effIdentify = 22,
    effGetChunk = 23,
    effSetChunk = 24,
    effProcessEvents = 25,
    effCanBeAutomated = 26,
    effString2Parameter = 27,
    effGetNumProgramCategories = 28,
    effGetProgramNameIndexed = 29,
    effCopyProgram = 30,
    effConnectInput = 31,
    effConnectOutput = 32,
    effGetInputProperties = 33,
    effGetOutputProperties = 34,
    effGetPlugCategory = 35,
    effGetCurrentPosition = 36,
    effGetDestinationBuffer = 37,
    effOfflineNotify = 38,
    effOfflinePrepare = 39,
    effOfflineRun = 40,
    effProcessVarIo = 41,
    effSetSpeakerArrangement = 42,
    effSetBlockSizeAndSampleRate = 43,
    effSetBypass = 44,
    effGetEffectName = 45,
    effGetErrorText = 46,
    effGetVendorString = 47,
    effGetProductString = 48,
    effGetVendorVersion = 49,
    effVendorSpecific = 50,
    effCanDo = 51,
    effGetTailSize = 52,
    effIdle = 53,
    effGetIcon = 54,
    effSetViewPosition = 55,
    effGetParameterProperties = 56,
    effKeysRequired = 57,
    effGetVstVersion = 58,
    effEditKeyDown = 59,
    effEditKeyUp = 60,
    effSetEditKnobMode = 61,
    effGetMidiProgramName = 62,
    effGetCurrentMidiProgram = 63,
    effGetMidiProgramCategory = 64,
    effHasMidiProgramsChanged = 65,
    effGetMidiKeyName = 66,
    effBeginSetProgram = 67,
    effEndSetProgram = 68,
};

// Requests from the plug-in to the host (the callback's opcode).
enum HostOpcode : int32_t {
    audioMasterAutomate = 0,
    audioMasterVersion = 1,
    audioMasterCurrentId = 2,
    audioMasterIdle = 3,
    audioMasterPinConnected = 4,
    audioMasterWantMidi = 6,
    audioMasterGetTime = 7,
    audioMasterProcessEvents = 8,
    audioMasterTempoAt = 10,
    audioMasterGetNumAutomatableParameters = 11,
    audioMasterGetParameterQuantization = 12,
    audioMasterIOChanged = 13,
    audioMasterNeedIdle = 14,
    audioMasterSizeWindow = 15,
    audioMasterGetSampleRate = 16,
    audioMasterGetBlockSize = 17,
    audioMasterGetInputLatency = 18,
    audioMasterGetOutputLatency = 19,
    audioMasterGetPreviousPlug = 20,
    audioMasterGetNextPlug = 21,
    audioMasterWillReplaceOrAccumulate = 22,
    audioMasterGetCurrentProcessLevel = 23,
    audioMasterGetAutomationState = 24,
    audioMasterOfflineStart = 25,
    audioMasterOfflineRead = 26,
    audioMasterOfflineWrite = 27,
    audioMasterOfflineGetCurrentPass = 28,
    audioMasterOfflineGetCurrentMetaPass = 29,
    audioMasterSetOutputSampleRate = 30,
    audioMasterGetSpeakerArrangement = 31,
    audioMasterGetVendorString = 32,
    audioMasterGetProductString = 33,
    audioMasterGetVendorVersion = 34,
    audioMasterVendorSpecific = 35,
    audioMasterCanDo = 37,
    audioMasterGetLanguage = 38,
    audioMasterOpenWindow = 39,
    audioMasterCloseWindow = 40,
    audioMasterGetDirectory = 41,
    audioMasterUpdateDisplay = 42,
    audioMasterBeginEdit = 43,
    audioMasterEndEdit = 44,
    audioMasterOpenFileSelector = 45,
};

// Plug-in categories (effGetPlugCategory answers).
enum PlugCategory : int32_t {
    kPlugCategUnknown = 0,
    kPlugCategEffect = 1,
    kPlugCategSynth = 2,
};

// What quill answers to audioMasterGetCurrentProcessLevel: 1 outside processing (a user
// thread), 2 inside a processing call (the thread that renders audio).
enum ProcessLevel : intptr_t {
    kProcessLevelUser = 1,
    kProcessLevelRealtime = 2,
};

constexpr int32_t kVstMidiType = 1;
// VstMidiEvent::byteSize: the bytes of the record after `type` and `byteSize`.
constexpr int32_t kVstMidiEventByteSize = 24;

// Any event: the common head, then type-specific bytes up to its byteSize.
struct VstEvent {
    int32_t type;
    int32_t byteSize;
    int32_t deltaFrames;
    int32_t flags;
    char data[16];
};

struct VstMidiEvent {
    int32_t type;     // kVstMidiType
    int32_t byteSize; // 24: the bytes after type and byteSize
    int32_t deltaFrames;
    int32_t flags;
    int32_t noteLength;
    int32_t noteOffset;
    unsigned char midiData[4];
    char detune;
    unsigned char noteOffVelocity;
    char reserved1;
    char reserved2;
};

// An event list; `events` really holds numEvents entries (at least two are always declared).
struct VstEvents {
    int32_t numEvents;
    intptr_t reserved;
    VstEvent* events[2];
};

static_assert(sizeof(VstEvent) == 32);
static_assert(sizeof(VstMidiEvent) == 32);
static_assert(offsetof(VstMidiEvent, deltaFrames) == 8);
static_assert(offsetof(VstMidiEvent, midiData) == 24);
static_assert(offsetof(VstMidiEvent, noteOffVelocity) == 29);

#if UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
static_assert(sizeof(AEffect) == 192);
static_assert(offsetof(AEffect, dispatcher) == 8);
static_assert(offsetof(AEffect, process) == 16);
static_assert(offsetof(AEffect, setParameter) == 24);
static_assert(offsetof(AEffect, getParameter) == 32);
static_assert(offsetof(AEffect, numPrograms) == 40);
static_assert(offsetof(AEffect, numParams) == 44);
static_assert(offsetof(AEffect, numInputs) == 48);
static_assert(offsetof(AEffect, numOutputs) == 52);
static_assert(offsetof(AEffect, flags) == 56);
static_assert(offsetof(AEffect, resvd1) == 64);
static_assert(offsetof(AEffect, resvd2) == 72);
static_assert(offsetof(AEffect, initialDelay) == 80);
static_assert(offsetof(AEffect, realQualities) == 84);
static_assert(offsetof(AEffect, offQualities) == 88);
static_assert(offsetof(AEffect, ioRatio) == 92);
static_assert(offsetof(AEffect, object) == 96);
static_assert(offsetof(AEffect, user) == 104);
static_assert(offsetof(AEffect, uniqueID) == 112);
static_assert(offsetof(AEffect, version) == 116);
static_assert(offsetof(AEffect, processReplacing) == 120);
static_assert(offsetof(AEffect, future) == 128);
static_assert(sizeof(VstEvents) == 32);
static_assert(offsetof(VstEvents, events) == 16);
#elif UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(AEffect) == 144);
static_assert(offsetof(AEffect, dispatcher) == 4);
static_assert(offsetof(AEffect, process) == 8);
static_assert(offsetof(AEffect, setParameter) == 12);
static_assert(offsetof(AEffect, getParameter) == 16);
static_assert(offsetof(AEffect, numPrograms) == 20);
static_assert(offsetof(AEffect, numParams) == 24);
static_assert(offsetof(AEffect, numInputs) == 28);
static_assert(offsetof(AEffect, numOutputs) == 32);
static_assert(offsetof(AEffect, flags) == 36);
static_assert(offsetof(AEffect, resvd1) == 40);
static_assert(offsetof(AEffect, resvd2) == 44);
static_assert(offsetof(AEffect, initialDelay) == 48);
static_assert(offsetof(AEffect, realQualities) == 52);
static_assert(offsetof(AEffect, offQualities) == 56);
static_assert(offsetof(AEffect, ioRatio) == 60);
static_assert(offsetof(AEffect, object) == 64);
static_assert(offsetof(AEffect, user) == 68);
static_assert(offsetof(AEffect, uniqueID) == 72);
static_assert(offsetof(AEffect, version) == 76);
static_assert(offsetof(AEffect, processReplacing) == 80);
static_assert(offsetof(AEffect, future) == 84);
static_assert(sizeof(VstEvents) == 16);
static_assert(offsetof(VstEvents, events) == 8);
#else
#error "unsupported pointer width"
#endif

} // namespace quill::vst
