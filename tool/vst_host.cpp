#include "vst_host.h"

#include <sys/stat.h>

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <unordered_map>

namespace quill {

struct Plugin::Impl {
    std::string path;
    std::string entrySymbol;
    void* library = nullptr;
    vst::AEffect* effect = nullptr;
    bool isClosed = false;

    mutable std::mutex mutex; // guards everything below
    HostConfig config;
    std::vector<HostRequest> requests;
    std::vector<ReceivedEvent> events;
    bool inProcess = false;
    int64_t blocks = 0;
    int64_t samples = 0;
    int32_t currentBlockLength = 0;

    intptr_t answer(vst::AEffect* effect, int32_t opcode, int32_t index, intptr_t value, void* ptr,
                    float opt);
    template <class Call>
    void runBlock(int32_t frames, Call call);
};

namespace {

// Which instance a callback belongs to. The version query of `main` comes with a null
// effect, and a plug-in may call back with its own record before `main` has answered it, so
// the instance being created is remembered separately. Creation is serialised.
std::mutex g_createMutex;
std::mutex g_mapMutex;
std::unordered_map<const vst::AEffect*, Plugin::Impl*> g_instances;
Plugin::Impl* g_creating = nullptr;

Plugin::Impl* findInstance(vst::AEffect* effect) {
    std::lock_guard lock(g_mapMutex);
    if (effect != nullptr) {
        auto it = g_instances.find(effect);
        if (it != g_instances.end())
            return it->second;
        if (g_creating != nullptr) {
            g_instances.emplace(effect, g_creating);
            return g_creating;
        }
        return nullptr;
    }
    return g_creating;
}

void forgetInstance(const Plugin::Impl* impl) {
    std::lock_guard lock(g_mapMutex);
    for (auto it = g_instances.begin(); it != g_instances.end();) {
        if (it->second == impl)
            it = g_instances.erase(it);
        else
            ++it;
    }
    if (g_creating == impl)
        g_creating = nullptr;
}

intptr_t QUILL_VST_CDECL hostCallback(vst::AEffect* effect, int32_t opcode, int32_t index,
                                      intptr_t value, void* ptr, float opt) {
    Plugin::Impl* impl = findInstance(effect);
    if (impl == nullptr) // a stray call from an instance we no longer know
        return opcode == vst::audioMasterVersion ? HostConfig{}.versionAnswer : 0;
    return impl->answer(effect, opcode, index, value, ptr, opt);
}

// Copies a NUL-terminated text of at most `limit` bytes from a plug-in's buffer.
std::string boundedText(const char* text, size_t limit) {
    if (text == nullptr)
        return {};
    size_t n = 0;
    while (n < limit && text[n] != '\0')
        ++n;
    return std::string(text, n);
}

void copyText(void* ptr, const char* text) {
    if (ptr != nullptr)
        std::strcpy(static_cast<char*>(ptr), text); // short texts; hosts give 64 bytes or more
}

std::string fileProblem(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return std::strerror(errno);
    if (S_ISDIR(st.st_mode))
        return "is a directory, not a plug-in file";
    if (!S_ISREG(st.st_mode))
        return "is not a regular file";
    return {};
}

// The platform's library loader. openLibrary answers null and says why when the file cannot be
// loaded.
#if defined(_WIN32)
void* openLibrary(const std::string& path, std::string& why) {
    std::string native = path;
    std::replace(native.begin(), native.end(), '/', '\\');
    // A headless host must not wait on a dialog box about a file that cannot be opened.
    DWORD oldMode = 0;
    ::SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &oldMode);
    HMODULE library = ::LoadLibraryA(native.c_str());
    const DWORD error = ::GetLastError();
    ::SetThreadErrorMode(oldMode, nullptr);
    if (library == nullptr) {
        char text[256] = {};
        const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                         nullptr, error, 0, text, sizeof text, nullptr);
        why = n > 0 ? std::string(text, n) : "error " + std::to_string(error);
        while (!why.empty() && (why.back() == '\n' || why.back() == '\r' || why.back() == ' '))
            why.pop_back();
    }
    return reinterpret_cast<void*>(library);
}
void* findSymbol(void* library, const char* name) {
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(library), name));
}
void closeLibrary(void* library) {
    ::FreeLibrary(static_cast<HMODULE>(library));
}
#else
void* openLibrary(const std::string& path, std::string& why) {
    ::dlerror();
    void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* text = ::dlerror();
        why = text != nullptr ? text : "unknown reason";
    }
    return library;
}
void* findSymbol(void* library, const char* name) {
    ::dlerror();
    void* symbol = ::dlsym(library, name);
    return ::dlerror() == nullptr ? symbol : nullptr;
}
void closeLibrary(void* library) {
    ::dlclose(library);
}
#endif

} // namespace

intptr_t Plugin::Impl::answer(vst::AEffect* from, int32_t opcode, int32_t index, intptr_t value,
                              void* ptr, float opt) {
    std::lock_guard lock(mutex);
    intptr_t result = 0;
    std::string text;
    switch (opcode) {
    case vst::audioMasterVersion:
        result = config.versionAnswer;
        break;
    case vst::audioMasterWantMidi:
        result = 1;
        break;
    case vst::audioMasterProcessEvents: {
        const auto* list = static_cast<const vst::VstEvents*>(ptr);
        if (list != nullptr) {
            for (int32_t i = 0; i < list->numEvents; ++i) {
                const vst::VstEvent* ev = list->events[i];
                if (ev == nullptr)
                    continue;
                ReceivedEvent got;
                got.block = inProcess ? blocks : -1;
                got.blockStart = samples;
                got.blockLength = inProcess ? currentBlockLength : 0;
                got.type = ev->type;
                got.deltaFrames = ev->deltaFrames;
                if (ev->type == vst::kVstMidiType) {
                    const auto* midi = reinterpret_cast<const vst::VstMidiEvent*>(ev);
                    for (size_t b = 0; b < got.midi.size(); ++b)
                        got.midi[b] = midi->midiData[b];
                }
                events.push_back(got);
            }
        }
        result = 1;
        break;
    }
    case vst::audioMasterGetSampleRate:
        result = static_cast<intptr_t>(config.sampleRate);
        break;
    case vst::audioMasterGetBlockSize:
        result = config.blockSize;
        break;
    case vst::audioMasterGetCurrentProcessLevel:
        result = inProcess ? vst::kProcessLevelRealtime : vst::kProcessLevelUser;
        break;
    case vst::audioMasterCanDo: {
        text = boundedText(static_cast<const char*>(ptr), 256);
        static const char* const kCan[] = {"sendVstEvents", "sendVstMidiEvent", "receiveVstEvents",
                                           "receiveVstMidiEvent"};
        for (const char* can : kCan)
            if (text == can)
                result = 1;
        break;
    }
    case vst::audioMasterGetVendorString:
        copyText(ptr, "KOVA");
        result = 1;
        break;
    case vst::audioMasterGetProductString:
        copyText(ptr, "quill");
        result = 1;
        break;
    case vst::audioMasterGetVendorVersion:
        result = 1;
        break;
    default:
        result = 0; // GetTime, Automate, Idle, ... : nothing to offer, a neutral answer
        break;
    }
    if (config.recordRequests) {
        requests.push_back(
            HostRequest{from, opcode, index, value, ptr, opt, std::move(text), result, inProcess});
    }
    return result;
}

Plugin Plugin::load(const std::string& path, const HostConfig& config) {
    if (std::string problem = fileProblem(path); !problem.empty())
        throw LoadError(LoadError::Kind::FileMissing, path + ": " + problem);

    std::string why;
    void* library = openLibrary(path, why);
    if (library == nullptr) {
        throw LoadError(LoadError::Kind::NotALibrary,
                        path + ": cannot load as a shared library: " + why);
    }

    auto impl = std::make_unique<Impl>();
    impl->path = path;
    impl->library = library;
    impl->config = config;

    vst::EntryProc entry = nullptr;
    for (const char* name : {"VSTPluginMain", "main"}) {
        void* symbol = findSymbol(library, name);
        if (symbol != nullptr) {
            entry = reinterpret_cast<vst::EntryProc>(symbol);
            impl->entrySymbol = name;
            break;
        }
    }
    if (entry == nullptr) {
        closeLibrary(library);
        throw LoadError(LoadError::Kind::NoEntry,
                        path + ": not a VST 2 plug-in: exports neither VSTPluginMain nor main");
    }

    vst::AEffect* effect = nullptr;
    {
        std::lock_guard createLock(g_createMutex);
        {
            std::lock_guard lock(g_mapMutex);
            g_creating = impl.get();
        }
        effect = entry(&hostCallback);
        std::lock_guard lock(g_mapMutex);
        g_creating = nullptr;
        if (effect != nullptr)
            g_instances[effect] = impl.get();
    }

    if (effect == nullptr || effect->magic != vst::kEffectMagic) {
        std::vector<HostRequest> seen;
        {
            std::lock_guard lock(impl->mutex);
            seen = impl->requests;
        }
        forgetInstance(impl.get());
        if (effect == nullptr) {
            closeLibrary(library);
            throw LoadError(LoadError::Kind::NullEffect,
                            path + ": " + impl->entrySymbol +
                                " answered null: the plug-in made no instance",
                            std::move(seen));
        }
        char buf[96];
        std::snprintf(buf, sizeof buf, "0x%08" PRIX32 " (expected 0x%08" PRIX32 ")",
                      static_cast<uint32_t>(effect->magic),
                      static_cast<uint32_t>(vst::kEffectMagic));
        // The record is not a VST record, so nothing in it can be called; the library stays
        // loaded rather than pull code from under a half-made object.
        throw LoadError(LoadError::Kind::BadMagic,
                        path + ": " + impl->entrySymbol + " answered a record with magic " + buf,
                        std::move(seen));
    }
    impl->effect = effect;
    return Plugin(std::move(impl));
}

Plugin::Plugin(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Plugin::Plugin(Plugin&&) noexcept = default;
Plugin& Plugin::operator=(Plugin&& other) noexcept {
    if (this != &other) {
        Plugin dying(std::move(*this));
        impl_ = std::move(other.impl_);
    }
    return *this;
}

Plugin::~Plugin() {
    if (!impl_)
        return;
    if (!impl_->isClosed) {
        try {
            close();
        } catch (...) { // nothing may leave a destructor; the library is unloaded regardless
        }
    }
    forgetInstance(impl_.get());
    if (impl_->library != nullptr)
        closeLibrary(impl_->library);
}

const std::string& Plugin::path() const {
    return impl_->path;
}
const std::string& Plugin::entrySymbol() const {
    return impl_->entrySymbol;
}
const vst::AEffect& Plugin::effect() const {
    return *impl_->effect;
}
vst::AEffect* Plugin::effectPointer() const {
    return impl_->effect;
}

intptr_t Plugin::dispatch(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt) {
    if (impl_->isClosed)
        throw std::logic_error(impl_->path + ": dispatch after effClose");
    return impl_->effect->dispatcher(impl_->effect, opcode, index, value, ptr, opt);
}

template <class Call>
void Plugin::Impl::runBlock(int32_t frames, Call call) {
    if (isClosed)
        throw std::logic_error(path + ": processing after effClose");
    {
        std::lock_guard lock(mutex);
        inProcess = true;
        currentBlockLength = frames;
    }
    call();
    std::lock_guard lock(mutex);
    inProcess = false;
    currentBlockLength = 0;
    ++blocks;
    if (frames > 0)
        samples += frames;
}

void Plugin::process(float** inputs, float** outputs, int32_t frames) {
    impl_->runBlock(frames,
                    [&] { impl_->effect->process(impl_->effect, inputs, outputs, frames); });
}

void Plugin::processReplacing(float** inputs, float** outputs, int32_t frames) {
    impl_->runBlock(
        frames, [&] { impl_->effect->processReplacing(impl_->effect, inputs, outputs, frames); });
}

void Plugin::setParameter(int32_t index, float value) {
    impl_->effect->setParameter(impl_->effect, index, value);
}

float Plugin::getParameter(int32_t index) {
    return impl_->effect->getParameter(impl_->effect, index);
}

std::string Plugin::text(int32_t opcode, int32_t index) {
    char buffer[512] = {};
    dispatch(opcode, index, 0, buffer, 0.0f);
    return boundedText(buffer, sizeof buffer - 1);
}

intptr_t Plugin::sendEvents(std::vector<vst::VstMidiEvent>& events) {
    // The list: count, reserved, then one pointer per event (at least the two declared).
    const size_t slots = std::max<size_t>(events.size(), 2);
    std::vector<intptr_t> storage(2 + slots, 0);
    auto* list = reinterpret_cast<vst::VstEvents*>(storage.data());
    list->numEvents = static_cast<int32_t>(events.size());
    list->reserved = 0;
    for (size_t i = 0; i < events.size(); ++i)
        list->events[i] = reinterpret_cast<vst::VstEvent*>(&events[i]);
    return dispatch(vst::effProcessEvents, 0, 0, list, 0.0f);
}

intptr_t Plugin::canDo(const std::string& what) {
    std::string copy = what; // the plug-in gets a writable, NUL-terminated text
    return dispatch(vst::effCanDo, 0, 0, copy.data(), 0.0f);
}

void Plugin::setSampleRate(float rate) {
    {
        std::lock_guard lock(impl_->mutex);
        impl_->config.sampleRate = rate;
    }
    dispatch(vst::effSetSampleRate, 0, 0, nullptr, rate);
}

void Plugin::setBlockSize(int32_t frames) {
    {
        std::lock_guard lock(impl_->mutex);
        impl_->config.blockSize = frames;
    }
    dispatch(vst::effSetBlockSize, 0, frames, nullptr, 0.0f);
}

void Plugin::resume() {
    dispatch(vst::effMainsChanged, 0, 1);
}
void Plugin::suspend() {
    dispatch(vst::effMainsChanged, 0, 0);
}

intptr_t Plugin::close() {
    if (impl_->isClosed)
        return 0;
    intptr_t answer = dispatch(vst::effClose);
    impl_->isClosed = true;
    return answer;
}

bool Plugin::closed() const {
    return impl_->isClosed;
}

HostConfig& Plugin::config() {
    return impl_->config;
}

std::vector<HostRequest> Plugin::requests() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->requests;
}

std::vector<ReceivedEvent> Plugin::events() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->events;
}

std::vector<ReceivedEvent> Plugin::takeEvents() {
    std::lock_guard lock(impl_->mutex);
    std::vector<ReceivedEvent> out;
    out.swap(impl_->events);
    return out;
}

void Plugin::clearRecords() {
    std::lock_guard lock(impl_->mutex);
    impl_->requests.clear();
    impl_->events.clear();
}

int64_t Plugin::blocksProcessed() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->blocks;
}

int64_t Plugin::samplesProcessed() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->samples;
}

std::string effectOpcodeName(int32_t opcode) {
    static const char* const kNames[] = {"effOpen",
                                         "effClose",
                                         "effSetProgram",
                                         "effGetProgram",
                                         "effSetProgramName",
                                         "effGetProgramName",
                                         "effGetParamLabel",
                                         "effGetParamDisplay",
                                         "effGetParamName",
                                         "effGetVu",
                                         "effSetSampleRate",
                                         "effSetBlockSize",
                                         "effMainsChanged",
                                         "effEditGetRect",
                                         "effEditOpen",
                                         "effEditClose",
                                         "effEditDraw",
                                         "effEditMouse",
                                         "effEditKey",
                                         "effEditIdle",
                                         "effEditTop",
                                         "effEditSleep",
                                         "effIdentify",
                                         "effGetChunk",
                                         "effSetChunk",
                                         "effProcessEvents",
                                         "effCanBeAutomated",
                                         "effString2Parameter",
                                         "effGetNumProgramCategories",
                                         "effGetProgramNameIndexed",
                                         "effCopyProgram",
                                         "effConnectInput",
                                         "effConnectOutput",
                                         "effGetInputProperties",
                                         "effGetOutputProperties",
                                         "effGetPlugCategory",
                                         "effGetCurrentPosition",
                                         "effGetDestinationBuffer",
                                         "effOfflineNotify",
                                         "effOfflinePrepare",
                                         "effOfflineRun",
                                         "effProcessVarIo",
                                         "effSetSpeakerArrangement",
                                         "effSetBlockSizeAndSampleRate",
                                         "effSetBypass",
                                         "effGetEffectName",
                                         "effGetErrorText",
                                         "effGetVendorString",
                                         "effGetProductString",
                                         "effGetVendorVersion",
                                         "effVendorSpecific",
                                         "effCanDo",
                                         "effGetTailSize",
                                         "effIdle",
                                         "effGetIcon",
                                         "effSetViewPosition",
                                         "effGetParameterProperties",
                                         "effKeysRequired",
                                         "effGetVstVersion",
                                         "effEditKeyDown",
                                         "effEditKeyUp",
                                         "effSetEditKnobMode",
                                         "effGetMidiProgramName",
                                         "effGetCurrentMidiProgram",
                                         "effGetMidiProgramCategory",
                                         "effHasMidiProgramsChanged",
                                         "effGetMidiKeyName",
                                         "effBeginSetProgram",
                                         "effEndSetProgram"};
    static_assert(std::size(kNames) == 69);
    if (opcode >= 0 && opcode < static_cast<int32_t>(std::size(kNames)))
        return kNames[opcode];
    return "opcode " + std::to_string(opcode);
}

std::string hostOpcodeName(int32_t opcode) {
    static const char* const kNames[] = {"audioMasterAutomate",
                                         "audioMasterVersion",
                                         "audioMasterCurrentId",
                                         "audioMasterIdle",
                                         "audioMasterPinConnected",
                                         nullptr,
                                         "audioMasterWantMidi",
                                         "audioMasterGetTime",
                                         "audioMasterProcessEvents",
                                         nullptr,
                                         "audioMasterTempoAt",
                                         "audioMasterGetNumAutomatableParameters",
                                         "audioMasterGetParameterQuantization",
                                         "audioMasterIOChanged",
                                         "audioMasterNeedIdle",
                                         "audioMasterSizeWindow",
                                         "audioMasterGetSampleRate",
                                         "audioMasterGetBlockSize",
                                         "audioMasterGetInputLatency",
                                         "audioMasterGetOutputLatency",
                                         "audioMasterGetPreviousPlug",
                                         "audioMasterGetNextPlug",
                                         "audioMasterWillReplaceOrAccumulate",
                                         "audioMasterGetCurrentProcessLevel",
                                         "audioMasterGetAutomationState",
                                         "audioMasterOfflineStart",
                                         "audioMasterOfflineRead",
                                         "audioMasterOfflineWrite",
                                         "audioMasterOfflineGetCurrentPass",
                                         "audioMasterOfflineGetCurrentMetaPass",
                                         "audioMasterSetOutputSampleRate",
                                         "audioMasterGetSpeakerArrangement",
                                         "audioMasterGetVendorString",
                                         "audioMasterGetProductString",
                                         "audioMasterGetVendorVersion",
                                         "audioMasterVendorSpecific",
                                         nullptr,
                                         "audioMasterCanDo",
                                         "audioMasterGetLanguage",
                                         "audioMasterOpenWindow",
                                         "audioMasterCloseWindow",
                                         "audioMasterGetDirectory",
                                         "audioMasterUpdateDisplay",
                                         "audioMasterBeginEdit",
                                         "audioMasterEndEdit",
                                         "audioMasterOpenFileSelector"};
    static_assert(std::size(kNames) == 46);
    if (opcode >= 0 && opcode < static_cast<int32_t>(std::size(kNames)) &&
        kNames[opcode] != nullptr)
        return kNames[opcode];
    return "opcode " + std::to_string(opcode);
}

} // namespace quill
