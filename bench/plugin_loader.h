// A minimal VST 2 host side for the benchmarks: loads the plug-in module with dlopen the way a
// host does and declares only the parts of the effect record and the opcodes it uses. It includes
// nothing of the plug-in's own code.
#pragma once

#include <cstddef>
#include <cstdint>

namespace bench {

struct Effect;

using HostCallback = std::intptr_t (*)(Effect* effect, std::int32_t opcode, std::int32_t index,
                                       std::intptr_t value, void* ptr, float opt);
using DispatcherProc = std::intptr_t (*)(Effect* effect, std::int32_t opcode, std::int32_t index,
                                         std::intptr_t value, void* ptr, float opt);
using ProcessProc = void (*)(Effect* effect, float** inputs, float** outputs,
                             std::int32_t sampleFrames);
using SetParameterProc = void (*)(Effect* effect, std::int32_t index, float value);
using GetParameterProc = float (*)(Effect* effect, std::int32_t index);
using EntryProc = Effect* (*)(HostCallback host);

// The effect record, field for field in its natural layout.
struct Effect {
    std::int32_t magic;
    DispatcherProc dispatcher;
    ProcessProc process;
    SetParameterProc setParameter;
    GetParameterProc getParameter;
    std::int32_t numPrograms;
    std::int32_t numParams;
    std::int32_t numInputs;
    std::int32_t numOutputs;
    std::int32_t flags;
    std::intptr_t resvd1;
    std::intptr_t resvd2;
    std::int32_t initialDelay;
    std::int32_t realQualities;
    std::int32_t offQualities;
    float ioRatio;
    void* object;
    void* user;
    std::int32_t uniqueID;
    std::int32_t version;
    ProcessProc processReplacing;
    char future[60];
};

#if INTPTR_MAX == INT64_MAX
static_assert(sizeof(Effect) == 192 && offsetof(Effect, processReplacing) == 120);
#else
static_assert(sizeof(Effect) == 144 && offsetof(Effect, processReplacing) == 80);
#endif

inline constexpr std::int32_t kMagic = 0x56737450; // 'VstP'

// Dispatcher opcodes used here.
enum : std::int32_t {
    effOpen = 0,
    effClose = 1,
    effSetProgram = 2,
    effGetProgramName = 5,
    effGetParamLabel = 6,
    effGetParamDisplay = 7,
    effGetParamName = 8,
    effSetSampleRate = 10,
    effSetBlockSize = 11,
    effMainsChanged = 12,
    effGetPlugCategory = 35,
    effGetEffectName = 45,
    effGetVendorString = 47,
    effGetProductString = 48,
    effGetVendorVersion = 49,
    effCanDo = 51,
    effGetVstVersion = 58,
};

// Host requests the plug-in makes.
enum : std::int32_t {
    audioMasterVersion = 1,
    audioMasterWantMidi = 6,
    audioMasterProcessEvents = 8,
};

// Parameter indices.
enum : std::int32_t { kMaxTime = 0, kMinTime = 1, kNumParamsExpected = 7 };

// The path of the module to load: $QUILLMONT_PATH when set, else the one built beside the
// benchmarks.
const char* modulePath() noexcept;

// One loaded module. Closing it unloads it when no other handle holds it.
class PluginModule {
public:
    explicit PluginModule(const char* path) noexcept;
    ~PluginModule();
    PluginModule(const PluginModule&) = delete;
    PluginModule& operator=(const PluginModule&) = delete;

    bool ok() const noexcept { return entry_ != nullptr; }
    const char* error() const noexcept { return error_; }
    EntryProc entry() const noexcept { return entry_; }

    // Creates an instance through the entry point; null when the plug-in declines.
    Effect* create(HostCallback host) const noexcept;

private:
    void* handle_ = nullptr;
    EntryProc entry_ = nullptr;
    const char* error_ = "not loaded";
};

// True while the module at `path` is mapped in this process (it does not load it).
bool isModuleLoaded(const char* path) noexcept;

// Shorthands for the dispatcher.
inline std::intptr_t dispatch(Effect* effect, std::int32_t opcode, std::int32_t index = 0,
                              std::intptr_t value = 0, void* ptr = nullptr,
                              float opt = 0.0f) noexcept {
    return effect->dispatcher(effect, opcode, index, value, ptr, opt);
}
void closeEffect(Effect* effect) noexcept;

} // namespace bench
