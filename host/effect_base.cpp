#include "host/effect_base.h"

#include "host/entry.h"
#include "host/numeric.h"

#include <cstring>

namespace quill {

EffectBase::EffectBase(audioMasterCallback audioMaster, std::int32_t numPrograms,
                       std::int32_t numParams) noexcept
    : audioMaster(audioMaster), numPrograms(numPrograms), numParams(numParams) {
    std::memset(&record, 0, sizeof record);
    record.magic = kEffectMagic;
    record.dispatcher = dispatchEntry;
    record.process = processEntry;
    record.setParameter = setParameterEntry;
    record.getParameter = getParameterEntry;
    record.numPrograms = numPrograms;
    record.numParams = numParams;
    record.numInputs = 1;
    record.numOutputs = 2;
    record.ioRatio = 1.0f;
    record.object = this;
    record.uniqueID = kDefaultUniqueId;
    record.version = 1;
    record.processReplacing = processReplacingEntry;
}

EffectBase::~EffectBase() { delete editor; }

void EffectBase::setParameter(std::int32_t, float) {}

float EffectBase::getParameter(std::int32_t) { return 0.0f; }

void EffectBase::automateParameter(std::int32_t index, float value) {
    setParameter(index, value);
    callHost(audioMasterAutomate, index, 0, nullptr, value, 0);
}

void EffectBase::processReplacing(float**, float**, std::int32_t) noexcept {}

VstIntPtr EffectBase::dispatcher(std::int32_t opcode, std::int32_t index, VstIntPtr value,
                                 void* ptr, float opt) {
    switch (opcode) {
    case effOpen:
        open();
        return 0;
    case effClose:
        close();
        return 0;
    case effSetProgram:
        if (value >= 0 && value < numPrograms) {
            setProgram(static_cast<std::int32_t>(value));
        }
        return 0;
    case effGetProgram:
        return getProgram();
    case effSetProgramName:
        setProgramName(static_cast<char*>(ptr));
        return 0;
    case effGetProgramName:
        getProgramName(static_cast<char*>(ptr));
        return 0;
    case effGetParamLabel:
        getParamLabel(index, static_cast<char*>(ptr));
        return 0;
    case effGetParamDisplay:
        getParamDisplay(index, static_cast<char*>(ptr));
        return 0;
    case effGetParamName:
        getParamName(index, static_cast<char*>(ptr));
        return 0;
    case effGetVu:
        return truncateToInt32(static_cast<double>(getVu()) * 32767.0);
    case effSetSampleRate:
        setSampleRate(opt);
        return 0;
    case effSetBlockSize:
        setBlockSize(static_cast<std::int32_t>(value));
        return 0;
    case effMainsChanged:
        if (value == 0) {
            suspend();
        } else {
            resume();
        }
        return 0;
    case effEditGetRect:
        return editor != nullptr ? editor->editGetRect(ptr) : 0;
    case effEditOpen:
        return editor != nullptr ? editor->editOpen(ptr) : 0;
    case effEditClose:
        if (editor != nullptr) {
            editor->editClose();
        }
        return 0;
    case effEditIdle:
        if (editor != nullptr) {
            editor->editIdle();
        }
        return 0;
    case effIdentify:
        return kIdentifyAnswer;
    case effGetChunk:
        return getChunk(static_cast<void**>(ptr), index != 0);
    case effSetChunk:
        return setChunk(ptr, static_cast<std::int32_t>(value), index != 0);
    default:
        return 0;
    }
}

void EffectBase::open() {}

void EffectBase::close() {}

std::int32_t EffectBase::getProgram() { return currentProgram.load(std::memory_order_relaxed); }

void EffectBase::setProgram(std::int32_t program) {
    currentProgram.store(program, std::memory_order_relaxed);
}

void EffectBase::setProgramName(char* name) {
    if (name != nullptr) {
        name[0] = '\0';
    }
}

void EffectBase::getProgramName(char* name) {
    if (name != nullptr) {
        name[0] = '\0';
    }
}

void EffectBase::getParamLabel(std::int32_t, char* label) {
    if (label != nullptr) {
        label[0] = '\0';
    }
}

void EffectBase::getParamDisplay(std::int32_t, char* display) {
    if (display != nullptr) {
        display[0] = '\0';
    }
}

void EffectBase::getParamName(std::int32_t, char* name) {
    if (name != nullptr) {
        name[0] = '\0';
    }
}

float EffectBase::getVu() { return 0.0f; }

std::int32_t EffectBase::getChunk(void**, bool) { return 0; }

std::int32_t EffectBase::setChunk(void*, std::int32_t, bool) { return 0; }

void EffectBase::setSampleRate(float rate) { sampleRate.store(rate, std::memory_order_relaxed); }

void EffectBase::setBlockSize(std::int32_t size) {
    blockSize.store(size, std::memory_order_relaxed);
}

void EffectBase::suspend() {}

void EffectBase::resume() {}

void EffectBase::setUniqueId(std::int32_t identifier) { record.uniqueID = identifier; }

void EffectBase::setNumInputs(std::int32_t count) { record.numInputs = count; }

void EffectBase::setNumOutputs(std::int32_t count) { record.numOutputs = count; }

void EffectBase::setHasVu(bool state) { setFlag(effFlagsHasVu, state); }

void EffectBase::setHasClip(bool state) { setFlag(effFlagsHasClip, state); }

void EffectBase::setCanMono(bool state) { setFlag(effFlagsCanMono, state); }

void EffectBase::setCanReplacing(bool state) { setFlag(effFlagsCanReplacing, state); }

void EffectBase::setProgramChunks(bool state) { setFlag(effFlagsProgramChunks, state); }

void EffectBase::setRealQualities(std::int32_t qualities) { record.realQualities = qualities; }

void EffectBase::setOffQualities(std::int32_t qualities) { record.offQualities = qualities; }

void EffectBase::setInitialDelay(std::int32_t delay) { record.initialDelay = delay; }

float EffectBase::getSampleRate() { return sampleRate.load(std::memory_order_relaxed); }

std::int32_t EffectBase::getBlockSize() { return blockSize.load(std::memory_order_relaxed); }

VstIntPtr EffectBase::hostVersion() {
    const VstIntPtr answer = callHost(audioMasterVersion, 0, 0, nullptr, 0.0f, 1);
    return answer != 0 ? answer : 1;
}

VstIntPtr EffectBase::hostCurrentId() {
    return callHost(audioMasterCurrentId, 0, 0, nullptr, 0.0f, 0);
}

void EffectBase::hostIdle() { callHost(audioMasterIdle, 0, 0, nullptr, 0.0f, 0); }

bool EffectBase::hostInputConnected(std::int32_t input) {
    return callHost(audioMasterPinConnected, input, 0, nullptr, 0.0f, 0) == 0;
}

bool EffectBase::hostOutputConnected(std::int32_t output) {
    return callHost(audioMasterPinConnected, output, 1, nullptr, 0.0f, 0) == 0;
}

void EffectBase::setFlag(std::int32_t bit, bool state) noexcept {
    if (state) {
        record.flags |= bit;
    } else {
        record.flags &= ~bit;
    }
}

} // namespace quill
