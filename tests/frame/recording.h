// Test doubles for the frame: an effect that records which operation ran with which arguments, an
// editor that records its calls, and a host callback that records every request it receives.
#pragma once

#include "host/effect_extended.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

namespace quill::test {

// --- Formatting of recorded calls -------------------------------------------------------------

inline std::string formatArg(bool value) {
    return value ? "true" : "false";
}

inline std::string formatArg(float value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", static_cast<double>(value));
    return text;
}

inline std::string formatArg(const void* address) {
    if (address == nullptr) {
        return "null";
    }
    char text[32];
    std::snprintf(text, sizeof text, "0x%llx",
                  static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(address)));
    return text;
}

template <class T>
requires std::is_integral_v<T> &&(!std::is_same_v<T, bool>)std::string formatArg(T value) {
    return std::to_string(static_cast<long long>(value));
}

// "name(arg, arg, ...)": how a recorded operation appears in the journal.
template <class... Args>
std::string call(const char* name, Args... args) {
    std::string text = name;
    text += '(';
    [[maybe_unused]] bool first = true;
    ((text += (first ? "" : ", ") + formatArg(args), first = false), ...);
    text += ')';
    return text;
}

// --- The journal shared by the recording effect, editor and host -------------------------------

struct HostCall {
    AEffect* effect;
    std::int32_t opcode;
    std::int32_t index;
    VstIntPtr value;
    void* ptr;
    float opt;
    std::size_t operationsBefore; // journal entries of the effect before this request arrived
};

struct Journal {
    std::vector<std::string> operations;
    std::vector<HostCall> hostCalls;
    VstIntPtr hostAnswer = 0;
    // Runs inside the host callback, after the request is recorded.
    std::function<void(AEffect*)> duringHostCall;

    void reset() { *this = Journal{}; }
};

inline Journal journal;

inline VstIntPtr QUILL_CALL recordingHost(AEffect* effect, std::int32_t opcode, std::int32_t index,
                                          VstIntPtr value, void* ptr, float opt) {
    journal.hostCalls.push_back(
        {effect, opcode, index, value, ptr, opt, journal.operations.size()});
    if (journal.duringHostCall) {
        journal.duringHostCall(effect);
    }
    return journal.hostAnswer;
}

// --- Editor ------------------------------------------------------------------------------------

class RecordingEditor : public EffectEditor {
public:
    ~RecordingEditor() override { journal.operations.push_back("~RecordingEditor()"); }
    std::int32_t editGetRect(void* ptr) override {
        journal.operations.push_back(call("editGetRect", ptr));
        return 11;
    }
    std::int32_t editOpen(void* ptr) override {
        journal.operations.push_back(call("editOpen", ptr));
        return 12;
    }
    void editClose() override { journal.operations.push_back(call("editClose")); }
    void editIdle() override { journal.operations.push_back(call("editIdle")); }
    std::int32_t editKeyDown(EditorKey& key) override {
        journal.operations.push_back(
            call("editKeyDown", key.character, key.virtualKey, key.modifiers));
        return 21;
    }
    std::int32_t editKeyUp(EditorKey& key) override {
        journal.operations.push_back(
            call("editKeyUp", key.character, key.virtualKey, key.modifiers));
        return 22;
    }
    std::int32_t setEditKnobMode(std::int32_t mode) override {
        journal.operations.push_back(call("setEditKnobMode", mode));
        return 23;
    }
};

// --- Effects -----------------------------------------------------------------------------------

// The smallest concrete effect: every operation keeps the frame's default.
class PlainEffect : public EffectExtended {
public:
    explicit PlainEffect(audioMasterCallback host = nullptr, std::int32_t programs = 1,
                         std::int32_t params = 1)
        : EffectExtended(host, programs, params) {}
    void process(float**, float**, std::int32_t) noexcept override {}
};

// Records every operation the dispatcher and the entry functions reach, with its arguments, then
// answers the frame's default, or `forced` when a test sets it (converted to the operation's type).
class RecordingEffect : public EffectExtended {
public:
    explicit RecordingEffect(audioMasterCallback host = recordingHost, std::int32_t programs = 4,
                             std::int32_t params = 7)
        : EffectExtended(host, programs, params) {}
    ~RecordingEffect() override { journal.operations.push_back("~RecordingEffect()"); }

    std::optional<std::int64_t> forced;
    std::optional<float> forcedVu;
    float parameters[8] = {};

    void installEditor(EffectEditor* newEditor) { editor = newEditor; }
    std::int32_t programCount() const { return numPrograms; }

    // EffectBase
    void setParameter(std::int32_t index, float value) override {
        note(call("setParameter", index, value));
        if (index >= 0 && index < 8) {
            parameters[index] = value;
        }
    }
    float getParameter(std::int32_t index) override {
        note(call("getParameter", index));
        return index >= 0 && index < 8 ? parameters[index] : -1.0f;
    }
    void process(float** inputs, float** outputs, std::int32_t frames) noexcept override {
        note(call("process", inputs, outputs, frames));
    }
    void processReplacing(float** inputs, float** outputs,
                          std::int32_t frames) noexcept override {
        note(call("processReplacing", inputs, outputs, frames));
    }
    void open() override { note(call("open")); }
    void close() override { note(call("close")); }
    std::int32_t getProgram() override {
        note(call("getProgram"));
        return answer(EffectExtended::getProgram());
    }
    void setProgram(std::int32_t program) override {
        note(call("setProgram", program));
        EffectExtended::setProgram(program);
    }
    void setProgramName(char* name) override {
        note(call("setProgramName", name));
        EffectExtended::setProgramName(name);
    }
    void getProgramName(char* name) override {
        note(call("getProgramName", name));
        EffectExtended::getProgramName(name);
    }
    void getParamLabel(std::int32_t index, char* label) override {
        note(call("getParamLabel", index, label));
        EffectExtended::getParamLabel(index, label);
    }
    void getParamDisplay(std::int32_t index, char* display) override {
        note(call("getParamDisplay", index, display));
        EffectExtended::getParamDisplay(index, display);
    }
    void getParamName(std::int32_t index, char* name) override {
        note(call("getParamName", index, name));
        EffectExtended::getParamName(index, name);
    }
    float getVu() override {
        note(call("getVu"));
        return forcedVu ? *forcedVu : EffectExtended::getVu();
    }
    std::int32_t getChunk(void** data, bool isPreset) override {
        note(call("getChunk", static_cast<void*>(data), isPreset));
        return answer(EffectExtended::getChunk(data, isPreset));
    }
    std::int32_t setChunk(void* data, std::int32_t size, bool isPreset) override {
        note(call("setChunk", data, size, isPreset));
        return answer(EffectExtended::setChunk(data, size, isPreset));
    }
    void setSampleRate(float rate) override {
        note(call("setSampleRate", rate));
        EffectExtended::setSampleRate(rate);
    }
    void setBlockSize(std::int32_t size) override {
        note(call("setBlockSize", size));
        EffectExtended::setBlockSize(size);
    }
    void suspend() override { note(call("suspend")); }
    void resume() override { note(call("resume")); }

    // EffectExtended
    VstIntPtr processEvents(VstEvents* events) override {
        note(call("processEvents", static_cast<void*>(events)));
        return answer(EffectExtended::processEvents(events));
    }
    bool canBeAutomated(std::int32_t index) override {
        note(call("canBeAutomated", index));
        return answer(EffectExtended::canBeAutomated(index));
    }
    bool string2Parameter(std::int32_t index, char* text) override {
        note(call("string2Parameter", index, text));
        return answer(EffectExtended::string2Parameter(index, text));
    }
    std::int32_t getNumProgramCategories() override {
        note(call("getNumProgramCategories"));
        return answer(EffectExtended::getNumProgramCategories());
    }
    bool getProgramNameIndexed(std::int32_t category, std::int32_t index, char* text) override {
        note(call("getProgramNameIndexed", category, index, text));
        return answer(EffectExtended::getProgramNameIndexed(category, index, text));
    }
    bool copyProgram(std::int32_t destination) override {
        note(call("copyProgram", destination));
        return answer(EffectExtended::copyProgram(destination));
    }
    void connectInput(std::int32_t index, bool state) override {
        note(call("connectInput", index, state));
    }
    void connectOutput(std::int32_t index, bool state) override {
        note(call("connectOutput", index, state));
    }
    bool getInputProperties(std::int32_t index, void* properties) override {
        note(call("getInputProperties", index, properties));
        return answer(EffectExtended::getInputProperties(index, properties));
    }
    bool getOutputProperties(std::int32_t index, void* properties) override {
        note(call("getOutputProperties", index, properties));
        return answer(EffectExtended::getOutputProperties(index, properties));
    }
    std::int32_t getPlugCategory() override {
        note(call("getPlugCategory"));
        return answer(EffectExtended::getPlugCategory());
    }
    VstIntPtr getCurrentPosition() override {
        note(call("getCurrentPosition"));
        return answer(EffectExtended::getCurrentPosition());
    }
    void* getDestinationBuffer() override {
        note(call("getDestinationBuffer"));
        return answer(EffectExtended::getDestinationBuffer());
    }
    bool offlineNotify(void* files, std::int32_t count, bool start) override {
        note(call("offlineNotify", files, count, start));
        return answer(EffectExtended::offlineNotify(files, count, start));
    }
    bool offlinePrepare(void* tasks, std::int32_t count) override {
        note(call("offlinePrepare", tasks, count));
        return answer(EffectExtended::offlinePrepare(tasks, count));
    }
    bool offlineRun(void* tasks, std::int32_t count) override {
        note(call("offlineRun", tasks, count));
        return answer(EffectExtended::offlineRun(tasks, count));
    }
    bool processVarIo(void* varIo) override {
        note(call("processVarIo", varIo));
        return answer(EffectExtended::processVarIo(varIo));
    }
    bool setSpeakerArrangement(void* input, void* output) override {
        note(call("setSpeakerArrangement", input, output));
        return answer(EffectExtended::setSpeakerArrangement(input, output));
    }
    void setBlockSizeAndSampleRate(std::int32_t size, float rate) override {
        note(call("setBlockSizeAndSampleRate", size, rate));
        EffectExtended::setBlockSizeAndSampleRate(size, rate);
    }
    bool setBypass(bool state) override {
        note(call("setBypass", state));
        return answer(EffectExtended::setBypass(state));
    }
    bool getEffectName(char* name) override {
        note(call("getEffectName", name));
        return answer(EffectExtended::getEffectName(name));
    }
    bool getErrorText(char* text) override {
        note(call("getErrorText", text));
        return answer(EffectExtended::getErrorText(text));
    }
    bool getVendorString(char* text) override {
        note(call("getVendorString", text));
        return answer(EffectExtended::getVendorString(text));
    }
    bool getProductString(char* text) override {
        note(call("getProductString", text));
        return answer(EffectExtended::getProductString(text));
    }
    std::int32_t getVendorVersion() override {
        note(call("getVendorVersion"));
        return answer(EffectExtended::getVendorVersion());
    }
    VstIntPtr vendorSpecific(std::int32_t index, VstIntPtr value, void* ptr, float opt) override {
        note(call("vendorSpecific", index, value, ptr, opt));
        return answer(EffectExtended::vendorSpecific(index, value, ptr, opt));
    }
    std::int32_t canDo(char* text) override {
        note(call("canDo", text));
        return answer(EffectExtended::canDo(text));
    }
    void* getIcon() override {
        note(call("getIcon"));
        return answer(EffectExtended::getIcon());
    }
    bool setViewPosition(std::int32_t x, std::int32_t y) override {
        note(call("setViewPosition", x, y));
        return answer(EffectExtended::setViewPosition(x, y));
    }
    std::int32_t getTailSize() override {
        note(call("getTailSize"));
        return answer(EffectExtended::getTailSize());
    }
    std::int32_t idle() override {
        note(call("idle"));
        return answer(EffectExtended::idle());
    }
    bool getParameterProperties(std::int32_t index, void* properties) override {
        note(call("getParameterProperties", index, properties));
        return answer(EffectExtended::getParameterProperties(index, properties));
    }
    bool keysRequired() override {
        note(call("keysRequired"));
        return answer(EffectExtended::keysRequired());
    }
    std::int32_t getVstVersion() override {
        note(call("getVstVersion"));
        return answer(EffectExtended::getVstVersion());
    }
    std::int32_t getMidiProgramName(std::int32_t channel, void* program) override {
        note(call("getMidiProgramName", channel, program));
        return answer(EffectExtended::getMidiProgramName(channel, program));
    }
    std::int32_t getCurrentMidiProgram(std::int32_t channel, void* program) override {
        note(call("getCurrentMidiProgram", channel, program));
        return answer(EffectExtended::getCurrentMidiProgram(channel, program));
    }
    std::int32_t getMidiProgramCategory(std::int32_t channel, void* category) override {
        note(call("getMidiProgramCategory", channel, category));
        return answer(EffectExtended::getMidiProgramCategory(channel, category));
    }
    bool hasMidiProgramsChanged(std::int32_t channel) override {
        note(call("hasMidiProgramsChanged", channel));
        return answer(EffectExtended::hasMidiProgramsChanged(channel));
    }
    bool getMidiKeyName(std::int32_t channel, void* keyName) override {
        note(call("getMidiKeyName", channel, keyName));
        return answer(EffectExtended::getMidiKeyName(channel, keyName));
    }
    bool beginSetProgram() override {
        note(call("beginSetProgram"));
        return answer(EffectExtended::beginSetProgram());
    }
    bool endSetProgram() override {
        note(call("endSetProgram"));
        return answer(EffectExtended::endSetProgram());
    }

private:
    static void note(std::string entry) { journal.operations.push_back(std::move(entry)); }

    template <class T>
    T answer(T fallback) const {
        if (!forced) {
            return fallback;
        }
        if constexpr (std::is_same_v<T, bool>) {
            return *forced != 0;
        } else if constexpr (std::is_pointer_v<T>) {
            return reinterpret_cast<T>(static_cast<std::intptr_t>(*forced));
        } else {
            return static_cast<T>(*forced);
        }
    }
};

} // namespace quill::test
