// EffectExtended: the second layer of the frame. Answers dispatcher opcodes 25 to 68 with
// overridable operations that carry neutral defaults, hands every other opcode to EffectBase,
// and wraps the host requests 6 to 45.
#pragma once

#include "host/effect_base.h"

#include <cstdint>

namespace quill {

// The key record built for an editor's key operations; lives only for that call.
struct EditorKey {
    std::int32_t character;
    std::uint8_t virtualKey;
    std::uint8_t modifiers;
};

inline constexpr std::int32_t kDefaultVstVersion = 2200;

class EffectExtended : public EffectBase {
public:
    EffectExtended(audioMasterCallback audioMaster, std::int32_t numPrograms,
                   std::int32_t numParams) noexcept;
    ~EffectExtended() override;

    // any host thread: opcodes 25 to 68 here, all others to EffectBase's dispatcher
    VstIntPtr dispatcher(std::int32_t opcode, std::int32_t index, VstIntPtr value, void* ptr,
                         float opt) override;

    virtual EffectEditor* getEditor();
    // main thread only, when switched on
    virtual void hostWantMidi(std::int32_t filter);
    virtual void* hostGetTime(std::int32_t filter);
    virtual VstIntPtr hostTempoAt(std::int32_t position);
    // audio thread: events from the host
    virtual VstIntPtr processEvents(VstEvents* events);
    virtual VstIntPtr hostGetNumAutomatableParameters();
    virtual VstIntPtr hostGetParameterQuantization();
    // any host thread
    virtual bool canBeAutomated(std::int32_t index);
    virtual bool string2Parameter(std::int32_t index, char* text);
    virtual float getIndexedFloat(std::int32_t category, std::int32_t index);
    virtual std::int32_t getNumProgramCategories();
    virtual bool getProgramNameIndexed(std::int32_t category, std::int32_t index, char* text);
    virtual bool copyProgram(std::int32_t destination);
    virtual bool hostIOChanged();
    virtual bool hostNeedIdle();
    virtual bool hostSizeWindow(std::int32_t width, std::int32_t height);
    // Answers the sample rate stored when the host's answer returns.
    virtual float hostGetSampleRate();
    // Answers the block size stored when the host's answer returns.
    virtual std::int32_t hostGetBlockSize();
    virtual VstIntPtr hostGetInputLatency();
    virtual VstIntPtr hostGetOutputLatency();
    // The pin number travels in value.
    virtual AEffect* hostGetPreviousPlug(std::int32_t pin);
    virtual AEffect* hostGetNextPlug(std::int32_t pin);
    virtual void connectInput(std::int32_t index, bool state);
    virtual void connectOutput(std::int32_t index, bool state);
    virtual bool getInputProperties(std::int32_t index, void* properties);
    virtual bool getOutputProperties(std::int32_t index, void* properties);
    // main thread only
    virtual std::int32_t getPlugCategory();
    virtual VstIntPtr hostWillReplaceOrAccumulate();
    virtual VstIntPtr hostGetCurrentProcessLevel();
    virtual VstIntPtr hostGetAutomationState();
    virtual void setExtIsAsync(bool state);
    virtual void setExtHasBuffer(bool state);
    virtual VstIntPtr getCurrentPosition();
    virtual void* getDestinationBuffer();
    virtual bool hostOfflineRead(void* task, std::int32_t option, bool readSource);
    virtual bool hostOfflineWrite(void* task, std::int32_t option);
    virtual bool hostOfflineStart(void* files, std::int32_t fileCount, std::int32_t newFileCount);
    virtual std::int32_t hostOfflineGetCurrentPass();
    virtual std::int32_t hostOfflineGetCurrentMetaPass();
    virtual bool offlineNotify(void* files, std::int32_t count, bool start);
    virtual bool offlinePrepare(void* tasks, std::int32_t count);
    virtual bool offlineRun(void* tasks, std::int32_t count);
    virtual std::int32_t getOfflineFirstValue();
    virtual std::int32_t getOfflineSecondValue();
    virtual void hostSetOutputSampleRate(float rate);
    virtual bool hostGetSpeakerArrangement(void* first, void* second);
    virtual bool hostGetVendorString(char* text);
    virtual bool hostGetProductString(char* text);
    virtual VstIntPtr hostGetVendorVersion();
    virtual VstIntPtr hostVendorSpecific(std::int32_t a, VstIntPtr b, void* p, float f);
    virtual std::int32_t hostCanDo(const char* text);
    virtual void setIsSynth(bool state);
    virtual void setNoSoundInStop(bool state);
    virtual VstIntPtr hostGetLanguage();
    virtual void* hostOpenWindow(void* window);
    virtual bool hostCloseWindow(void* window);
    virtual void* hostGetDirectory();
    virtual bool hostUpdateDisplay();
    virtual bool processVarIo(void* varIo);
    virtual bool setSpeakerArrangement(void* input, void* output);
    // main thread only, while switched off
    virtual void setBlockSizeAndSampleRate(std::int32_t size, float rate);
    virtual bool setBypass(bool state);
    // main thread only: identity texts
    virtual bool getEffectName(char* name);
    virtual bool getErrorText(char* text);
    virtual bool getVendorString(char* text);
    virtual bool getProductString(char* text);
    virtual std::int32_t getVendorVersion();
    virtual VstIntPtr vendorSpecific(std::int32_t index, VstIntPtr value, void* ptr, float opt);
    // main thread only: capability query
    virtual std::int32_t canDo(char* text);
    virtual void* getIcon();
    virtual bool setViewPosition(std::int32_t x, std::int32_t y);
    virtual std::int32_t getTailSize();
    virtual std::int32_t idle();
    virtual bool getParameterProperties(std::int32_t index, void* properties);
    virtual bool keysRequired();
    virtual std::int32_t getVstVersion();
    virtual std::int32_t getMidiProgramName(std::int32_t channel, void* program);
    virtual std::int32_t getCurrentMidiProgram(std::int32_t channel, void* program);
    virtual std::int32_t getMidiProgramCategory(std::int32_t channel, void* category);
    virtual bool hasMidiProgramsChanged(std::int32_t channel);
    virtual bool getMidiKeyName(std::int32_t channel, void* keyName);
    virtual bool beginSetProgram();
    virtual bool endSetProgram();
    virtual bool hostBeginEdit(std::int32_t index);
    virtual bool hostEndEdit(std::int32_t index);
    virtual bool hostOpenFileSelector(void* select);

    // audio thread: hands an event list to the host; true only when the host answers 1
    bool hostProcessEvents(VstEvents* events) noexcept {
        return callHost(audioMasterProcessEvents, 0, 0, events, 0.0f, 0) == 1;
    }
};

} // namespace quill
