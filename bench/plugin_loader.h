// A minimal VST 2 host side for the benchmarks: loads the plug-in module with dlopen the way a
// host does, with quill's own declarations of the interface. It includes nothing of the
// plug-in's own code.
#pragma once

#include "vst_abi.h"

#include <cstddef>
#include <cstdint>

namespace bench {

using Effect = quill::vst::AEffect;
using quill::vst::EntryProc;
using quill::vst::HostCallback;
inline constexpr std::int32_t kMagic = quill::vst::kEffectMagic;

// The opcode names, as bench::effOpen and so on.
using namespace quill::vst;

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
