#include "host/effect_extended.h"

#include "host/numeric.h"

namespace quill {
namespace {

VstIntPtr yesNo(bool answer) { return answer ? 1 : 0; }

VstIntPtr addressOf(const void* address) { return reinterpret_cast<VstIntPtr>(address); }

} // namespace

EffectExtended::EffectExtended(audioMasterCallback audioMaster, std::int32_t numPrograms,
                               std::int32_t numParams) noexcept
    : EffectBase(audioMaster, numPrograms, numParams) {}

EffectExtended::~EffectExtended() = default;

VstIntPtr EffectExtended::dispatcher(std::int32_t opcode, std::int32_t index, VstIntPtr value,
                                     void* ptr, float opt) {
    if (static_cast<std::uint32_t>(opcode) - 25u > 43u) {
        return EffectBase::dispatcher(opcode, index, value, ptr, opt);
    }
    const auto value32 = static_cast<std::int32_t>(value);
    switch (opcode) {
    case effProcessEvents:
        return processEvents(static_cast<VstEvents*>(ptr));
    case effCanBeAutomated:
        return yesNo(canBeAutomated(index));
    case effString2Parameter:
        return yesNo(string2Parameter(index, static_cast<char*>(ptr)));
    case effGetNumProgramCategories:
        return getNumProgramCategories();
    case effGetProgramNameIndexed:
        return yesNo(getProgramNameIndexed(value32, index, static_cast<char*>(ptr)));
    case effCopyProgram:
        return yesNo(copyProgram(index));
    case effConnectInput:
        connectInput(index, value != 0);
        return 1;
    case effConnectOutput:
        connectOutput(index, value != 0);
        return 1;
    case effGetInputProperties:
        return yesNo(getInputProperties(index, ptr));
    case effGetOutputProperties:
        return yesNo(getOutputProperties(index, ptr));
    case effGetPlugCategory:
        return getPlugCategory();
    case effGetCurrentPosition:
        return getCurrentPosition();
    case effGetDestinationBuffer:
        return addressOf(getDestinationBuffer());
    case effOfflineNotify:
        return yesNo(offlineNotify(ptr, value32, index != 0));
    case effOfflinePrepare:
        return yesNo(offlinePrepare(ptr, value32));
    case effOfflineRun:
        return yesNo(offlineRun(ptr, value32));
    case effProcessVarIo:
        return yesNo(processVarIo(ptr));
    case effSetSpeakerArrangement:
        return yesNo(setSpeakerArrangement(reinterpret_cast<void*>(value), ptr));
    case effSetBlockSizeAndSampleRate:
        setBlockSizeAndSampleRate(value32, opt);
        return 1;
    case effSetBypass:
        return yesNo(setBypass(value != 0));
    case effGetEffectName:
        return yesNo(getEffectName(static_cast<char*>(ptr)));
    case effGetErrorText:
        return yesNo(getErrorText(static_cast<char*>(ptr)));
    case effGetVendorString:
        return yesNo(getVendorString(static_cast<char*>(ptr)));
    case effGetProductString:
        return yesNo(getProductString(static_cast<char*>(ptr)));
    case effGetVendorVersion:
        return getVendorVersion();
    case effVendorSpecific:
        return vendorSpecific(index, value, ptr, opt);
    case effCanDo:
        return canDo(static_cast<char*>(ptr));
    case effGetTailSize:
        return getTailSize();
    case effIdle:
        return idle();
    case effGetIcon:
        return addressOf(getIcon());
    case effSetViewPosition:
        return yesNo(setViewPosition(index, value32));
    case effGetParameterProperties:
        return yesNo(getParameterProperties(index, ptr));
    case effKeysRequired:
        return keysRequired() ? 0 : 1;
    case effGetVstVersion:
        return getVstVersion();
    case effEditKeyDown:
    case effEditKeyUp: {
        if (editor == nullptr) {
            return 0;
        }
        EditorKey key{index, static_cast<std::uint8_t>(value & 0xFF),
                      static_cast<std::uint8_t>(truncateToInt32(opt) & 0xFF)};
        return opcode == effEditKeyDown ? editor->editKeyDown(key) : editor->editKeyUp(key);
    }
    case effSetEditKnobMode:
        return editor != nullptr ? editor->setEditKnobMode(value32) : 0;
    case effGetMidiProgramName:
        return getMidiProgramName(index, ptr);
    case effGetCurrentMidiProgram:
        return getCurrentMidiProgram(index, ptr);
    case effGetMidiProgramCategory:
        return getMidiProgramCategory(index, ptr);
    case effHasMidiProgramsChanged:
        return yesNo(hasMidiProgramsChanged(index));
    case effGetMidiKeyName:
        return yesNo(getMidiKeyName(index, ptr));
    case effBeginSetProgram:
        return yesNo(beginSetProgram());
    case effEndSetProgram:
        return yesNo(endSetProgram());
    default:
        return 0;
    }
}

EffectEditor* EffectExtended::getEditor() { return editor; }

void EffectExtended::hostWantMidi(std::int32_t filter) {
    callHost(audioMasterWantMidi, 0, filter, nullptr, 0.0f, 0);
}

void* EffectExtended::hostGetTime(std::int32_t filter) {
    return reinterpret_cast<void*>(callHost(audioMasterGetTime, 0, filter, nullptr, 0.0f, 0));
}

VstIntPtr EffectExtended::hostTempoAt(std::int32_t position) {
    return callHost(audioMasterTempoAt, 0, position, nullptr, 0.0f, 0);
}

VstIntPtr EffectExtended::processEvents(VstEvents*) { return 0; }

VstIntPtr EffectExtended::hostGetNumAutomatableParameters() {
    return callHost(audioMasterGetNumAutomatableParameters, 0, 0, nullptr, 0.0f, 0);
}

VstIntPtr EffectExtended::hostGetParameterQuantization() {
    return callHost(audioMasterGetParameterQuantization, 0, 0, nullptr, 0.0f, 0);
}

bool EffectExtended::canBeAutomated(std::int32_t) { return true; }

bool EffectExtended::string2Parameter(std::int32_t, char*) { return false; }

float EffectExtended::getIndexedFloat(std::int32_t, std::int32_t) { return 0.0f; }

std::int32_t EffectExtended::getNumProgramCategories() { return 1; }

bool EffectExtended::getProgramNameIndexed(std::int32_t, std::int32_t, char*) { return false; }

bool EffectExtended::copyProgram(std::int32_t) { return false; }

bool EffectExtended::hostIOChanged() {
    return callHost(audioMasterIOChanged, 0, 0, nullptr, 0.0f, 0) != 0;
}

bool EffectExtended::hostNeedIdle() {
    return callHost(audioMasterNeedIdle, 0, 0, nullptr, 0.0f, 0) != 0;
}

bool EffectExtended::hostSizeWindow(std::int32_t width, std::int32_t height) {
    return callHost(audioMasterSizeWindow, width, height, nullptr, 0.0f, 0) != 0;
}

float EffectExtended::hostGetSampleRate() {
    callHost(audioMasterGetSampleRate, 0, 0, nullptr, 0.0f, 0);
    return sampleRate.load(std::memory_order_relaxed);
}

std::int32_t EffectExtended::hostGetBlockSize() {
    callHost(audioMasterGetBlockSize, 0, 0, nullptr, 0.0f, 0);
    return blockSize.load(std::memory_order_relaxed);
}

VstIntPtr EffectExtended::hostGetInputLatency() {
    return callHost(audioMasterGetInputLatency, 0, 0, nullptr, 0.0f, 0);
}

VstIntPtr EffectExtended::hostGetOutputLatency() {
    return callHost(audioMasterGetOutputLatency, 0, 0, nullptr, 0.0f, 0);
}

AEffect* EffectExtended::hostGetPreviousPlug(std::int32_t pin) {
    return reinterpret_cast<AEffect*>(
        callHost(audioMasterGetPreviousPlug, 0, pin, nullptr, 0.0f, 0));
}

AEffect* EffectExtended::hostGetNextPlug(std::int32_t pin) {
    return reinterpret_cast<AEffect*>(callHost(audioMasterGetNextPlug, 0, pin, nullptr, 0.0f, 0));
}

void EffectExtended::connectInput(std::int32_t, bool) {}

void EffectExtended::connectOutput(std::int32_t, bool) {}

bool EffectExtended::getInputProperties(std::int32_t, void*) { return false; }

bool EffectExtended::getOutputProperties(std::int32_t, void*) { return false; }

std::int32_t EffectExtended::getPlugCategory() {
    return (record.flags & effFlagsIsSynth) != 0 ? kPlugCategSynth : kPlugCategUnknown;
}

VstIntPtr EffectExtended::hostWillReplaceOrAccumulate() {
    return callHost(audioMasterWillReplaceOrAccumulate, 0, 0, nullptr, 0.0f, 0);
}

VstIntPtr EffectExtended::hostGetCurrentProcessLevel() {
    return callHost(audioMasterGetCurrentProcessLevel, 0, 0, nullptr, 0.0f, 0);
}

VstIntPtr EffectExtended::hostGetAutomationState() {
    return callHost(audioMasterGetAutomationState, 0, 0, nullptr, 0.0f, 0);
}

void EffectExtended::setExtIsAsync(bool state) { setFlag(effFlagsExtIsAsync, state); }

void EffectExtended::setExtHasBuffer(bool state) { setFlag(effFlagsExtHasBuffer, state); }

VstIntPtr EffectExtended::getCurrentPosition() { return 0; }

void* EffectExtended::getDestinationBuffer() { return nullptr; }

bool EffectExtended::hostOfflineRead(void* task, std::int32_t option, bool readSource) {
    return callHost(audioMasterOfflineRead, readSource ? 1 : 0, option, task, 0.0f, 0) != 0;
}

bool EffectExtended::hostOfflineWrite(void* task, std::int32_t option) {
    return callHost(audioMasterOfflineWrite, 0, option, task, 0.0f, 0) != 0;
}

bool EffectExtended::hostOfflineStart(void* files, std::int32_t fileCount,
                                      std::int32_t newFileCount) {
    return callHost(audioMasterOfflineStart, newFileCount, fileCount, files, 0.0f, 0) != 0;
}

std::int32_t EffectExtended::hostOfflineGetCurrentPass() {
    return callHost(audioMasterOfflineGetCurrentPass, 0, 0, nullptr, 0.0f, 0) != 0 ? 1 : 0;
}

std::int32_t EffectExtended::hostOfflineGetCurrentMetaPass() {
    return callHost(audioMasterOfflineGetCurrentMetaPass, 0, 0, nullptr, 0.0f, 0) != 0 ? 1 : 0;
}

bool EffectExtended::offlineNotify(void*, std::int32_t, bool) { return false; }

bool EffectExtended::offlinePrepare(void*, std::int32_t) { return false; }

bool EffectExtended::offlineRun(void*, std::int32_t) { return false; }

std::int32_t EffectExtended::getOfflineFirstValue() { return 0; }

std::int32_t EffectExtended::getOfflineSecondValue() { return 0; }

void EffectExtended::hostSetOutputSampleRate(float rate) {
    callHost(audioMasterSetOutputSampleRate, 0, 0, nullptr, rate, 0);
}

bool EffectExtended::hostGetSpeakerArrangement(void* first, void* second) {
    return callHost(audioMasterGetSpeakerArrangement, 0, addressOf(first), second, 0.0f, 0) != 0;
}

bool EffectExtended::hostGetVendorString(char* text) {
    return callHost(audioMasterGetVendorString, 0, 0, text, 0.0f, 0) != 0;
}

bool EffectExtended::hostGetProductString(char* text) {
    return callHost(audioMasterGetProductString, 0, 0, text, 0.0f, 0) != 0;
}

VstIntPtr EffectExtended::hostGetVendorVersion() {
    return callHost(audioMasterGetVendorVersion, 0, 0, nullptr, 0.0f, 0);
}

VstIntPtr EffectExtended::hostVendorSpecific(std::int32_t a, VstIntPtr b, void* p, float f) {
    return callHost(audioMasterVendorSpecific, a, b, p, f, 0);
}

std::int32_t EffectExtended::hostCanDo(const char* text) {
    return callHost(audioMasterCanDo, 0, 0, const_cast<char*>(text), 0.0f, 0) != 0 ? 1 : 0;
}

void EffectExtended::setIsSynth(bool state) { setFlag(effFlagsIsSynth, state); }

void EffectExtended::setNoSoundInStop(bool state) { setFlag(effFlagsNoSoundInStop, state); }

VstIntPtr EffectExtended::hostGetLanguage() {
    return callHost(audioMasterGetLanguage, 0, 0, nullptr, 0.0f, 0);
}

void* EffectExtended::hostOpenWindow(void* window) {
    return reinterpret_cast<void*>(callHost(audioMasterOpenWindow, 0, 0, window, 0.0f, 0));
}

bool EffectExtended::hostCloseWindow(void* window) {
    return callHost(audioMasterCloseWindow, 0, 0, window, 0.0f, 0) != 0;
}

void* EffectExtended::hostGetDirectory() {
    return reinterpret_cast<void*>(callHost(audioMasterGetDirectory, 0, 0, nullptr, 0.0f, 0));
}

bool EffectExtended::hostUpdateDisplay() {
    return callHost(audioMasterUpdateDisplay, 0, 0, nullptr, 0.0f, 0) != 0;
}

bool EffectExtended::processVarIo(void*) { return false; }

bool EffectExtended::setSpeakerArrangement(void*, void*) { return false; }

void EffectExtended::setBlockSizeAndSampleRate(std::int32_t size, float rate) {
    blockSize.store(size, std::memory_order_relaxed);
    sampleRate.store(rate, std::memory_order_relaxed);
}

bool EffectExtended::setBypass(bool) { return false; }

bool EffectExtended::getEffectName(char*) { return false; }

bool EffectExtended::getErrorText(char*) { return false; }

bool EffectExtended::getVendorString(char*) { return false; }

bool EffectExtended::getProductString(char*) { return false; }

std::int32_t EffectExtended::getVendorVersion() { return 0; }

VstIntPtr EffectExtended::vendorSpecific(std::int32_t, VstIntPtr, void*, float) { return 0; }

std::int32_t EffectExtended::canDo(char*) { return 0; }

void* EffectExtended::getIcon() { return nullptr; }

bool EffectExtended::setViewPosition(std::int32_t, std::int32_t) { return false; }

std::int32_t EffectExtended::getTailSize() { return 0; }

std::int32_t EffectExtended::idle() { return 0; }

bool EffectExtended::getParameterProperties(std::int32_t, void*) { return false; }

bool EffectExtended::keysRequired() { return false; }

std::int32_t EffectExtended::getVstVersion() { return kDefaultVstVersion; }

std::int32_t EffectExtended::getMidiProgramName(std::int32_t, void*) { return 0; }

std::int32_t EffectExtended::getCurrentMidiProgram(std::int32_t, void*) { return -1; }

std::int32_t EffectExtended::getMidiProgramCategory(std::int32_t, void*) { return 0; }

bool EffectExtended::hasMidiProgramsChanged(std::int32_t) { return false; }

bool EffectExtended::getMidiKeyName(std::int32_t, void*) { return false; }

bool EffectExtended::beginSetProgram() { return false; }

bool EffectExtended::endSetProgram() { return false; }

bool EffectExtended::hostBeginEdit(std::int32_t index) {
    return callHost(audioMasterBeginEdit, index, 0, nullptr, 0.0f, 0) != 0;
}

bool EffectExtended::hostEndEdit(std::int32_t index) {
    return callHost(audioMasterEndEdit, index, 0, nullptr, 0.0f, 0) != 0;
}

bool EffectExtended::hostOpenFileSelector(void* select) {
    if (select == nullptr) {
        return false;
    }
    return callHost(audioMasterOpenFileSelector, 0, 0, select, 0.0f, 0) != 0;
}
} // namespace quill
