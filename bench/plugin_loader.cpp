#include "plugin_loader.h"

#include <cstdlib>
#include <dlfcn.h>

namespace bench {

const char* modulePath() noexcept {
    const char* path = std::getenv("QUILLMONT_PATH");
    return path != nullptr && path[0] != '\0' ? path : QUILLMONT_PATH;
}

PluginModule::PluginModule(const char* path) noexcept {
    handle_ = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        error_ = dlerror();
        return;
    }
    // Hosts look for VSTPluginMain first and fall back to main.
    void* symbol = dlsym(handle_, "VSTPluginMain");
    if (symbol == nullptr) {
        symbol = dlsym(handle_, "main");
    }
    if (symbol == nullptr) {
        error_ = "no entry point";
        return;
    }
    entry_ = reinterpret_cast<EntryProc>(symbol);
    error_ = nullptr;
}

PluginModule::~PluginModule() {
    if (handle_ != nullptr) {
        dlclose(handle_);
    }
}

Effect* PluginModule::create(HostCallback host) const noexcept {
    if (entry_ == nullptr) {
        return nullptr;
    }
    Effect* effect = entry_(host);
    return effect != nullptr && effect->magic == kMagic ? effect : nullptr;
}

bool isModuleLoaded(const char* path) noexcept {
    void* handle = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr) {
        return false;
    }
    dlclose(handle);
    return true;
}

void closeEffect(Effect* effect) noexcept {
    dispatch(effect, effClose);
}

} // namespace bench
