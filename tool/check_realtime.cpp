// The real-time check: every call into the plug-in's processing entries runs inside a
// real-time context of LLVM's RealtimeSanitizer runtime, which intercepts malloc, free, locks
// and blocking system calls there. The runtime is linked into quill when it is available at
// build time (libclang_rt.rtsan); its entry points are weak here, so a quill built without it
// says that the check was skipped.
//
// The check hosts the plug-in itself rather than through quill::Plugin: the host's callback
// leaves the real-time context while it runs, so that only the plug-in's own work counts.

#include "check.h"
#include "check_support.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

extern "C" {
void __rtsan_init() __attribute__((weak));
void __rtsan_realtime_enter() __attribute__((weak));
void __rtsan_realtime_exit() __attribute__((weak));
}

namespace quill {

bool realtimeSanitizerLinked() {
    return __rtsan_init != nullptr && __rtsan_realtime_enter != nullptr &&
           __rtsan_realtime_exit != nullptr;
}

namespace {

constexpr const char* kStage = "quill-check-stage: ";
constexpr const char* kViolation = "intercepted call to real-time unsafe function";

// True while this thread is inside the plug-in's processing in a real-time context.
thread_local bool t_realtime = false;
float g_sampleRate = 44100.0f;
int32_t g_blockSize = 512;
int64_t g_events = 0;

intptr_t answer(int32_t opcode, void* ptr) {
    switch (opcode) {
    case vst::audioMasterVersion:
        return 2400;
    case vst::audioMasterWantMidi:
        return 1;
    case vst::audioMasterProcessEvents:
        if (ptr != nullptr)
            g_events += static_cast<const vst::VstEvents*>(ptr)->numEvents;
        return 1;
    case vst::audioMasterGetSampleRate:
        return static_cast<intptr_t>(g_sampleRate);
    case vst::audioMasterGetBlockSize:
        return g_blockSize;
    case vst::audioMasterGetCurrentProcessLevel:
        return t_realtime ? vst::kProcessLevelRealtime : vst::kProcessLevelUser;
    case vst::audioMasterCanDo:
        if (ptr != nullptr) {
            const char* text = static_cast<const char*>(ptr);
            for (const char* can :
                 {"sendVstEvents", "sendVstMidiEvent", "receiveVstEvents", "receiveVstMidiEvent"})
                if (std::strcmp(text, can) == 0)
                    return 1;
        }
        return 0;
    default:
        return 0;
    }
}

// The host's own work is not the plug-in's: it runs outside the real-time context.
intptr_t callback(vst::AEffect*, int32_t opcode, int32_t, intptr_t, void* ptr, float) {
    const bool wasRealtime = t_realtime;
    if (wasRealtime) {
        __rtsan_realtime_exit();
        t_realtime = false;
    }
    const intptr_t result = answer(opcode, ptr);
    if (wasRealtime) {
        t_realtime = true;
        __rtsan_realtime_enter();
    }
    return result;
}

void stage(const std::string& what) {
    check::stage("realtime: " + what);
    std::fprintf(stderr, "%s%s\n", kStage, what.c_str());
    std::fflush(stderr);
}

std::vector<CheckResult> realtimeRun(const CheckContext& c) {
    CheckResult r;
    r.name = "realtime";
    if (!realtimeSanitizerLinked()) {
        r.status = CheckStatus::Skip;
        r.reason = "this quill was built without the RealtimeSanitizer runtime "
                   "(libclang_rt.rtsan from libclang-rt-19-dev): not checked";
        return {r};
    }
    __rtsan_init();
    stage("loading");
    void* library = ::dlopen(c.path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr)
        throw std::runtime_error(std::string("cannot load: ") + ::dlerror());
    vst::EntryProc entry = nullptr;
    for (const char* name : {"VSTPluginMain", "main"}) {
        if (void* symbol = ::dlsym(library, name); symbol != nullptr) {
            entry = reinterpret_cast<vst::EntryProc>(symbol);
            break;
        }
    }
    if (entry == nullptr)
        throw std::runtime_error("no entry point");
    vst::AEffect* effect = entry(&callback);
    if (effect == nullptr || effect->magic != vst::kEffectMagic)
        throw std::runtime_error("the entry point made no instance");
    auto dispatch = [&](int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt) {
        return effect->dispatcher(effect, opcode, index, value, ptr, opt);
    };
    dispatch(vst::effOpen, 0, 0, nullptr, 0.0f);
    check::Rng rng(c.seed, "realtime");
    check::AudioBuffers audio(effect->numInputs, effect->numOutputs, c.seed);
    const int params = std::clamp(effect->numParams, 0, 4096);
    int64_t calls = 0;
    std::vector<int32_t> lengths = {1, 64, 512, 4096};
    for (int i = 0; i < 8; ++i)
        lengths.push_back(rng.range(0, 2048));
    for (float rate : {44100.0f, 96000.0f}) {
        for (bool replacing : {true, false}) {
            vst::ProcessProc proc = replacing ? effect->processReplacing : effect->process;
            if (proc == nullptr)
                continue;
            for (int32_t frames : lengths) {
                stage(std::string(replacing ? "processReplacing" : "process") + " at " +
                      check::formatFloat(rate) + " Hz, blocks of " + std::to_string(frames));
                dispatch(vst::effMainsChanged, 0, 0, nullptr, 0.0f);
                g_sampleRate = rate;
                g_blockSize = std::max(frames, 1);
                dispatch(vst::effSetSampleRate, 0, 0, nullptr, rate);
                dispatch(vst::effSetBlockSize, 0, g_blockSize, nullptr, 0.0f);
                dispatch(vst::effMainsChanged, 0, 1, nullptr, 0.0f);
                const int64_t count =
                    std::clamp<int64_t>(static_cast<int64_t>(rate / 8) / g_blockSize, 4, 4000);
                // Heavy plug-ins (convolution with tiny blocks) get 5 s for each length.
                const auto started = std::chrono::steady_clock::now();
                for (int64_t b = 0; b < count && std::chrono::steady_clock::now() - started <
                                                     std::chrono::seconds(5);
                     ++b) {
                    if (params > 0 && b % 4 == 3)
                        effect->setParameter(effect, rng.range(0, params - 1), rng.value01());
                    audio.prepare(frames);
                    t_realtime = true;
                    __rtsan_realtime_enter();
                    proc(effect, audio.inputs(), audio.outputs(), frames);
                    __rtsan_realtime_exit();
                    t_realtime = false;
                    ++calls;
                }
            }
        }
    }
    stage("closing");
    dispatch(vst::effMainsChanged, 0, 0, nullptr, 0.0f);
    dispatch(vst::effClose, 0, 0, nullptr, 0.0f);
    ::dlclose(library);
    r.reason = std::to_string(calls) +
               " processing calls (44100 and 96000 Hz, both entries, "
               "blocks of 0 to 4096, parameter changes between them) in a real-time context: "
               "no allocation, lock or blocking system call";
    r.notes.push_back(std::to_string(g_events) + " events received meanwhile");
    return {r};
}

std::vector<CheckResult> realtimeDeath(const std::string& why, const std::string& output) {
    CheckResult r;
    r.name = "realtime";
    r.status = CheckStatus::Fail;
    std::string where;
    size_t stagePos = std::string::npos;
    for (size_t pos = output.find(kStage); pos != std::string::npos;
         pos = output.find(kStage, pos + 1))
        stagePos = pos;
    if (stagePos != std::string::npos) {
        const size_t start = stagePos + std::strlen(kStage);
        where = output.substr(start, output.find('\n', start) - start);
    }
    const size_t v = output.find(kViolation);
    if (v != std::string::npos) {
        const size_t open = output.find('`', v);
        const size_t close = open == std::string::npos ? open : output.find('`', open + 1);
        const std::string function =
            close == std::string::npos ? "?" : output.substr(open + 1, close - open - 1);
        r.reason = "real-time violation: the plug-in called " + function + " during " + where;
        // The first frames of the stack in the plug-in, as the runtime printed them.
        char exe[4096] = {};
        const ssize_t len = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
        const std::string self = len > 0 ? std::string(exe, static_cast<size_t>(len)) : "";
        size_t line = output.find('\n', v);
        for (int k = 0; k < 4 && line != std::string::npos; ++k) {
            const size_t next = output.find('\n', line + 1);
            std::string text = output.substr(line + 1, next == std::string::npos ? std::string::npos
                                                                                 : next - line - 1);
            while (!text.empty() && text.front() == ' ')
                text.erase(0, 1);
            // The runtime's own frames (in quill) and its symbolizer remarks say nothing.
            const bool own = !self.empty() && text.find("(" + self + "+") != std::string::npos;
            if (!text.empty() && text.rfind("==", 0) != 0 && !own)
                r.notes.push_back(text);
            else
                --k;
            line = next;
        }
        r.notes.push_back("the runtime stops at the first violation; fix it and run again to "
                          "see the next");
    } else {
        r.reason = "the plug-in " + why;
    }
    return {r};
}

} // namespace

CheckGroup realtimeGroup() {
    return {{"realtime"}, realtimeRun, true, realtimeDeath};
}

} // namespace quill
