#include "host/entry.h"

#include "host/effect_base.h"

namespace quill {
namespace {

EffectBase* objectOf(AEffect* effect) noexcept { return static_cast<EffectBase*>(effect->object); }

} // namespace

AEffect* pluginMain(audioMasterCallback audioMaster, EffectFactory create) noexcept {
    if (audioMaster == nullptr) {
        return nullptr;
    }
    if (audioMaster(nullptr, audioMasterVersion, 0, 0, nullptr, 0.0f) == 0) {
        return nullptr;
    }
    EffectBase* effect = create(audioMaster);
    return effect != nullptr ? effect->getRecord() : nullptr;
}

// main thread only
VstIntPtr QUILL_CALL dispatchEntry(AEffect* effect, std::int32_t opcode, std::int32_t index,
                                   VstIntPtr value, void* ptr, float opt) noexcept {
    EffectBase* object = objectOf(effect);
    if (opcode == effClose) {
        object->dispatcher(opcode, index, value, ptr, opt);
        delete object;
        return 1;
    }
    return object->dispatcher(opcode, index, value, ptr, opt);
}

// audio thread
void QUILL_CALL processEntry(AEffect* effect, float** inputs, float** outputs,
                             std::int32_t sampleFrames) noexcept {
    objectOf(effect)->process(inputs, outputs, sampleFrames);
}

// any host thread
void QUILL_CALL setParameterEntry(AEffect* effect, std::int32_t index, float value) noexcept {
    objectOf(effect)->setParameter(index, value);
}

// any host thread
float QUILL_CALL getParameterEntry(AEffect* effect, std::int32_t index) noexcept {
    return objectOf(effect)->getParameter(index);
}

// audio thread
void QUILL_CALL processReplacingEntry(AEffect* effect, float** inputs, float** outputs,
                                      std::int32_t sampleFrames) noexcept {
    objectOf(effect)->processReplacing(inputs, outputs, sampleFrames);
}

} // namespace quill
