// The entry point's steps and the five entry functions that the record's function fields hold.
#pragma once

#include "host/effect_record.h"

namespace quill {

class EffectBase;

// Creates one effect object, or answers null when it cannot be made whole.
using EffectFactory = EffectBase* (*)(audioMasterCallback audioMaster) noexcept;

// Supplied by the plug-in: its effect object.
EffectBase* createEffectInstance(audioMasterCallback audioMaster) noexcept;

// The exported entry's steps: checks the host's interface version, creates one instance with
// `create` and answers its record, or null. main thread only.
AEffect* pluginMain(audioMasterCallback audioMaster, EffectFactory create) noexcept;

// Entry functions: each finds the object through the record and calls one operation.
VstIntPtr QUILL_CALL dispatchEntry(AEffect* effect, std::int32_t opcode, std::int32_t index,
                                   VstIntPtr value, void* ptr, float opt) noexcept;
void QUILL_CALL processEntry(AEffect* effect, float** inputs, float** outputs,
                             std::int32_t sampleFrames) noexcept;
void QUILL_CALL setParameterEntry(AEffect* effect, std::int32_t index, float value) noexcept;
float QUILL_CALL getParameterEntry(AEffect* effect, std::int32_t index) noexcept;
void QUILL_CALL processReplacingEntry(AEffect* effect, float** inputs, float** outputs,
                                      std::int32_t sampleFrames) noexcept;

} // namespace quill
