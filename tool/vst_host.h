// A small headless VST 2 host: loads a plug-in file, creates one instance, records every
// request the plug-in makes of the host, and wraps the record's five entry functions.
//
// Typical use:
//
//     quill::Plugin plug = quill::Plugin::load("build/quillmont.so");
//     plug.dispatch(quill::vst::effMainsChanged, 0, 1);
//     plug.processReplacing(nullptr, nullptr, 1024);
//     for (const quill::ReceivedEvent& e : plug.events()) { ... }
//
// Threads: a Plugin may be used from any one thread at a time. Plug-ins that keep per-thread
// state (Quillmont's random source does) give reproducible results only when they are
// created and processed on a thread that has not run them before; runOnFreshThread() gives
// such a thread.
#pragma once

#include "vst_abi.h"

#include <array>
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

namespace quill {

// What the host answers. Changes made through Plugin::config() apply from the next request.
struct HostConfig {
    // Answer to audioMasterVersion (also to the query `main` makes before the instance exists).
    intptr_t versionAnswer = 2400;
    // Answers to audioMasterGetSampleRate and audioMasterGetBlockSize. Plugin::setSampleRate()
    // and Plugin::setBlockSize() keep these in step with what the plug-in was told.
    float sampleRate = 44100.0f;
    int32_t blockSize = 1024;
    // Keep a HostRequest for every request (events are recorded either way). Long renders may
    // turn this off to save memory.
    bool recordRequests = true;
};

// One request the plug-in made through the host callback, in the order they came.
struct HostRequest {
    const vst::AEffect* effect = nullptr; // as passed: null for main's version query
    int32_t opcode = 0;
    int32_t index = 0;
    intptr_t value = 0;
    const void* ptr = nullptr; // the address as passed; do not dereference it later
    float opt = 0.0f;
    std::string text; // audioMasterCanDo: the text asked about; otherwise empty
    intptr_t answer = 0;
    bool duringProcessing = false; // made inside process/processReplacing
};

// One event handed to the host by audioMasterProcessEvents.
struct ReceivedEvent {
    int64_t block = -1;            // 0-based index of the processing call it came in; -1 outside
    int64_t blockStart = 0;        // sample position where that block starts (outside processing:
                                   // where the next block would start)
    int32_t blockLength = 0;       // frames of that block (0 outside processing)
    int32_t type = 0;              // vst::kVstMidiType for MIDI events
    int32_t deltaFrames = 0;       // offset inside the block
    std::array<uint8_t, 4> midi{}; // midiData of a MIDI event; zero for other types

    int64_t samplePosition() const { return blockStart + deltaFrames; }
};

// A plug-in that could not be loaded. what() names the file and the reason.
class LoadError : public std::runtime_error {
public:
    enum class Kind {
        FileMissing, // no such file, or not a regular file
        NotALibrary, // the loader failed; the message carries its reason
        NoEntry,     // exports neither VSTPluginMain nor main
        NullEffect,  // the entry point answered null
        BadMagic,    // the record's magic is not 'VstP'
    };
    LoadError(Kind kind, const std::string& message, std::vector<HostRequest> requests = {})
        : std::runtime_error(message), kind_(kind), requests_(std::move(requests)) {}
    Kind kind() const { return kind_; }
    // Requests the plug-in made before the failure (e.g. the version query of `main`).
    const std::vector<HostRequest>& requests() const { return requests_; }

private:
    Kind kind_;
    std::vector<HostRequest> requests_;
};

// One plug-in instance and the library it came from. Destruction sends effClose (unless
// close() was called) and then unloads the library. Movable, not copyable.
class Plugin {
public:
    // Load the library (dlopen with RTLD_NOW | RTLD_LOCAL; LoadLibrary on Windows), look up
    // VSTPluginMain then main, call it with the host callback. Throws LoadError. Loading one file
    // twice gives two independent instances.
    static Plugin load(const std::string& path, const HostConfig& config = {});

    Plugin(Plugin&&) noexcept;
    Plugin& operator=(Plugin&&) noexcept;
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;
    ~Plugin();

    const std::string& path() const;
    // "VSTPluginMain" or "main": the entry point that created this instance.
    const std::string& entrySymbol() const;
    // The record the plug-in answered. Valid until close() or destruction.
    const vst::AEffect& effect() const;
    vst::AEffect* effectPointer() const;

    // The record's five functions, called as a host calls them.
    intptr_t dispatch(int32_t opcode, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr,
                      float opt = 0.0f);
    // Each call counts as one block for ReceivedEvent::block; frames > 0 advance the position.
    void process(float** inputs, float** outputs, int32_t frames);
    void processReplacing(float** inputs, float** outputs, int32_t frames);
    void setParameter(int32_t index, float value);
    float getParameter(int32_t index);

    // Conveniences over dispatch().
    // Ask for a text (effGetParamName, effGetEffectName, ...) with a zeroed 512-byte buffer;
    // answers what the plug-in wrote, up to the first NUL.
    std::string text(int32_t opcode, int32_t index = 0);
    // effProcessEvents with one list holding these events (deltaFrames as given); answers
    // the plug-in's answer. The list and the events live for the call only.
    intptr_t sendEvents(std::vector<vst::VstMidiEvent>& events);
    // effCanDo with the given text.
    intptr_t canDo(const std::string& what);
    // effSetSampleRate / effSetBlockSize, also updating the host's own answers.
    void setSampleRate(float rate);
    void setBlockSize(int32_t frames);
    // effMainsChanged with 1 / 0.
    void resume();
    void suspend();
    // effClose; answers the plug-in's answer. Afterwards only destruction is allowed.
    intptr_t close();
    bool closed() const;

    // The host side: its answers and what it saw.
    HostConfig& config();
    std::vector<HostRequest> requests() const; // a copy, in arrival order
    std::vector<ReceivedEvent> events() const; // a copy, in arrival order
    std::vector<ReceivedEvent> takeEvents();   // moves the events out and forgets them
    void clearRecords();                       // forget requests and events
    int64_t blocksProcessed() const;
    int64_t samplesProcessed() const;

    struct Impl;

private:
    explicit Plugin(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// Names for messages and listings; "opcode N" for numbers without a name.
std::string effectOpcodeName(int32_t opcode);
std::string hostOpcodeName(int32_t opcode);

// Run f() on a new thread and wait for it; answers f's result and rethrows its exception.
template <class F>
auto runOnFreshThread(F&& f) -> std::invoke_result_t<F&> {
    using R = std::invoke_result_t<F&>;
    std::exception_ptr error;
    if constexpr (std::is_void_v<R>) {
        std::thread worker([&] {
            try {
                f();
            } catch (...) {
                error = std::current_exception();
            }
        });
        worker.join();
        if (error)
            std::rethrow_exception(error);
    } else {
        std::optional<R> result;
        std::thread worker([&] {
            try {
                result.emplace(f());
            } catch (...) {
                error = std::current_exception();
            }
        });
        worker.join();
        if (error)
            std::rethrow_exception(error);
        return std::move(*result);
    }
}

} // namespace quill
