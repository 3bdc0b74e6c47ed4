// The library's exported entry points: plumbing only.
#include "host/entry.h"

#define QUILL_EXPORT __attribute__((visibility("default")))

#if defined(_WIN32)
#include <windows.h>
#undef QUILL_EXPORT
#define QUILL_EXPORT __declspec(dllexport)

namespace {
HINSTANCE moduleHandle = nullptr;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD, LPVOID) {
    moduleHandle = instance;
    return TRUE;
}
#endif

// Hosts look for VSTPluginMain first; older ones for main. Both answer the same way.
extern "C" QUILL_EXPORT quill::AEffect* QUILL_CALL VSTPluginMain(
    quill::audioMasterCallback audioMaster) noexcept {
    return quill::pluginMain(audioMaster, quill::createEffectInstance);
}

#if defined(QUILL_STATIC_CXX_RUNTIME) && defined(__GLIBCXX__)
// The C++ runtime is linked into this module and keeps an emergency exception pool that it never
// frees. Hosts load and unload the module many times (scanners do it on every scan): hand the
// pool back when the module is unloaded, so that each unload leaves nothing allocated.
namespace __gnu_cxx {
void __freeres();
}
__attribute__((destructor)) static void releaseRuntimeMemory() {
    __gnu_cxx::__freeres();
}
#endif

#if defined(_WIN32)
// Exported under the name main by the module-definition file.
extern "C" quill::AEffect* QUILL_CALL legacyMain(quill::audioMasterCallback audioMaster) noexcept {
    return quill::pluginMain(audioMaster, quill::createEffectInstance);
}
#else
// A C++ function cannot be called main with this signature; give it that name at symbol level.
extern "C" QUILL_EXPORT quill::AEffect* legacyMain(quill::audioMasterCallback audioMaster) noexcept
    __asm__("main");
extern "C" quill::AEffect* legacyMain(quill::audioMasterCallback audioMaster) noexcept {
    return quill::pluginMain(audioMaster, quill::createEffectInstance);
}
#endif
