// A minimal loader for the built plug-in module: LoadLibrary/GetProcAddress on Windows,
// dlopen/dlsym elsewhere. It knows nothing of the plug-in's own headers: the record is read as raw
// bytes.
#pragma once

#include <cstdint>
#include <string>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace layout {

// The calling convention of the entry point, the record's functions and the host callback:
// cdecl on 32-bit Windows, the platform's only convention elsewhere.
#if defined(_WIN32) && !defined(_WIN64)
#define LAYOUT_CDECL __cdecl
#else
#define LAYOUT_CDECL
#endif

using HostCallback = std::intptr_t(LAYOUT_CDECL*)(void* effect, std::int32_t opcode,
                                                  std::int32_t index, std::intptr_t value,
                                                  void* ptr, float opt);
using EntryProc = void*(LAYOUT_CDECL*)(HostCallback host);
using DispatcherProc = std::intptr_t(LAYOUT_CDECL*)(void* effect, std::int32_t opcode,
                                                    std::int32_t index, std::intptr_t value,
                                                    void* ptr, float opt);
using ProcessProc = void(LAYOUT_CDECL*)(void* effect, float** inputs, float** outputs,
                                        std::int32_t sampleFrames);
using SetParameterProc = void(LAYOUT_CDECL*)(void* effect, std::int32_t index, float value);
using GetParameterProc = float(LAYOUT_CDECL*)(void* effect, std::int32_t index);

class Module {
public:
    explicit Module(const std::string& path) {
#if defined(_WIN32)
        std::string native = path;
        for (char& c : native) {
            if (c == '/') {
                c = '\\';
            }
        }
        handle_ = LoadLibraryA(native.c_str());
        if (handle_ == nullptr) {
            error_ = "LoadLibrary failed with error " + std::to_string(GetLastError());
        }
#else
        handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle_ == nullptr) {
            const char* text = dlerror();
            error_ = text != nullptr ? text : "dlopen failed";
        }
#endif
    }
    ~Module() {
        if (handle_ != nullptr) {
#if defined(_WIN32)
            FreeLibrary(handle_);
#else
            dlclose(handle_);
#endif
        }
    }
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    bool loaded() const {
        return handle_ != nullptr;
    }
    const std::string& error() const {
        return error_;
    }

    // The exported entry of that name, or null.
    EntryProc entry(const char* name) const {
        if (handle_ == nullptr) {
            return nullptr;
        }
#if defined(_WIN32)
        FARPROC symbol = GetProcAddress(handle_, name);
        return reinterpret_cast<EntryProc>(reinterpret_cast<void*>(symbol));
#else
        return reinterpret_cast<EntryProc>(dlsym(handle_, name));
#endif
    }

    // Whether code at this address belongs to this module's image.
    bool contains(const void* address) const {
        if (handle_ == nullptr || address == nullptr) {
            return false;
        }
#if defined(_WIN32)
        HMODULE owner = nullptr;
        if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                    GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                static_cast<LPCSTR>(address), &owner)) {
            return false;
        }
        return owner == handle_;
#else
        Dl_info owner{};
        Dl_info reference{};
        void* anchor = dlsym(handle_, "VSTPluginMain");
        if (anchor == nullptr || dladdr(anchor, &reference) == 0 || dladdr(address, &owner) == 0) {
            return false;
        }
        return owner.dli_fbase == reference.dli_fbase;
#endif
    }

private:
#if defined(_WIN32)
    HMODULE handle_ = nullptr;
#else
    void* handle_ = nullptr;
#endif
    std::string error_;
};

} // namespace layout
