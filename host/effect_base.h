// EffectBase: the root of the effect classes. Owns the record the host holds, keeps the host
// callback and audio settings, turns opcodes 0 to 24 into virtual operations with neutral
// defaults, and wraps the host requests 0 to 4.
#pragma once

#include "host/effect_record.h"

#include <atomic>
#include <cstdint>

namespace quill {

struct EditorKey;

// Interface of an optional editor object owned by an effect. No editor exists in this plug-in.
class EffectEditor {
public:
    virtual ~EffectEditor() = default;
    virtual std::int32_t editGetRect(void* ptr) = 0;
    virtual std::int32_t editOpen(void* ptr) = 0;
    virtual void editClose() = 0;
    virtual void editIdle() = 0;
    virtual std::int32_t editKeyDown(EditorKey& key) = 0;
    virtual std::int32_t editKeyUp(EditorKey& key) = 0;
    virtual std::int32_t setEditKnobMode(std::int32_t mode) = 0;
};

class EffectBase {
public:
    EffectBase(audioMasterCallback audioMaster, std::int32_t numPrograms,
               std::int32_t numParams) noexcept;
    EffectBase(const EffectBase&) = delete;
    EffectBase& operator=(const EffectBase&) = delete;
    virtual ~EffectBase();

    // The record handed to the host; it lives exactly as long as this object.
    AEffect* getRecord() noexcept { return &record; }

    // any host thread
    virtual void setParameter(std::int32_t index, float value);
    // any host thread
    virtual float getParameter(std::int32_t index);
    // any host thread: sets the value, then tells the host
    virtual void automateParameter(std::int32_t index, float value);
    // audio thread
    virtual void process(float** inputs, float** outputs, std::int32_t sampleFrames) noexcept = 0;
    // audio thread
    virtual void processReplacing(float** inputs, float** outputs,
                                  std::int32_t sampleFrames) noexcept;
    // any host thread: opcodes 0 to 24, 0 for any other
    virtual VstIntPtr dispatcher(std::int32_t opcode, std::int32_t index, VstIntPtr value,
                                 void* ptr, float opt);
    // main thread only
    virtual void open();
    // main thread only
    virtual void close();
    // any host thread
    virtual std::int32_t getProgram();
    // any host thread; called only with 0 <= program < numPrograms
    virtual void setProgram(std::int32_t program);
    // any host thread
    virtual void setProgramName(char* name);
    // any host thread
    virtual void getProgramName(char* name);
    // any host thread
    virtual void getParamLabel(std::int32_t index, char* label);
    // any host thread
    virtual void getParamDisplay(std::int32_t index, char* display);
    // any host thread
    virtual void getParamName(std::int32_t index, char* name);
    // any host thread
    virtual float getVu();
    // main thread only
    virtual std::int32_t getChunk(void** data, bool isPreset);
    // main thread only
    virtual std::int32_t setChunk(void* data, std::int32_t size, bool isPreset);
    // main thread only, while switched off
    virtual void setSampleRate(float rate);
    // main thread only, while switched off
    virtual void setBlockSize(std::int32_t size);
    // main thread only: switched off
    virtual void suspend();
    // main thread only: switched on
    virtual void resume();
    virtual void setUniqueId(std::int32_t identifier);
    virtual void setNumInputs(std::int32_t count);
    virtual void setNumOutputs(std::int32_t count);
    virtual void setHasVu(bool state);
    virtual void setHasClip(bool state);
    virtual void setCanMono(bool state);
    virtual void setCanReplacing(bool state);
    virtual void setProgramChunks(bool state);
    virtual void setRealQualities(std::int32_t qualities);
    virtual void setOffQualities(std::int32_t qualities);
    virtual void setInitialDelay(std::int32_t delay);
    // any thread
    virtual float getSampleRate();
    // any thread
    virtual std::int32_t getBlockSize();
    virtual VstIntPtr hostVersion();
    virtual VstIntPtr hostCurrentId();
    virtual void hostIdle();
    virtual bool hostInputConnected(std::int32_t input);
    virtual bool hostOutputConnected(std::int32_t output);
    // Formatters: write at most 8 characters and the NUL into text; any thread.
    virtual void formatDecibels(float value, char* text);
    virtual void formatHertz(float samples, char* text);
    virtual void formatMilliseconds(float samples, char* text);
    virtual void formatFloat(float value, char* text);
    virtual void formatLong(std::int32_t value, char* text);

protected:
    // Sends one request to the host with this object's record; answers `without` when there is
    // no callback.
    VstIntPtr callHost(std::int32_t opcode, std::int32_t index, VstIntPtr value, void* ptr,
                       float opt, VstIntPtr without) noexcept {
        if (audioMaster == nullptr) {
            return without;
        }
        return audioMaster(&record, opcode, index, value, ptr, opt);
    }
    // Sets or clears one bit of the record's flags, leaving the others.
    void setFlag(std::int32_t bit, bool state) noexcept;

    // Written by the host's thread, read on the audio thread: whole 32-bit values.
    std::atomic<float> sampleRate{44100.0f};
    EffectEditor* editor = nullptr;
    audioMasterCallback audioMaster;
    std::int32_t numPrograms;
    std::int32_t numParams;
    std::atomic<std::int32_t> currentProgram{0};
    std::atomic<std::int32_t> blockSize{1024};
    AEffect record;
};

} // namespace quill
