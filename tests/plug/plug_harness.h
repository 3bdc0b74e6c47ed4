// A recording host for driving RandomNotePlug: creates the plug-in through its factory, reaches it
// through the record as a host does, and keeps every request the plug-in makes, with each note
// event copied byte for byte.
#pragma once

#include "host/effect_record.h"
#include "host/entry.h"
#include "plug/random_note_plug.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <thread>
#include <utility>
#include <vector>

namespace quill::test {

// One request the plug-in sent to the host.
struct HostCall {
    std::int32_t opcode;
    std::int32_t index;
    VstIntPtr value;
    bool ptrIsNull;
    float opt;
};

// One note event as the host received it, with where it fell in the stream.
struct NoteEvent {
    std::int64_t block;       // index of the processing call, from 0
    std::int64_t blockStart;  // absolute sample position of the block's first frame
    std::int32_t blockLength; // sampleFrames of that call
    std::int32_t deltaFrames; // as sent
    std::uint8_t key;         // midiData[1]
    std::uint8_t velocity;    // midiData[2]
    unsigned char raw[32];    // the whole VstMidiEvent
    std::int32_t numEvents;   // of the enclosing list
    VstIntPtr listReserved;   // of the enclosing list
    bool secondEntryIsNull;   // events[1] of the enclosing list

    std::int64_t time() const { return blockStart + deltaFrames; }
};

// Requests made with a record whose `user` field is not set (the version query of the entry point,
// or anything sent from inside a constructor) are counted here.
inline std::int64_t& unattributedCalls() {
    thread_local std::int64_t count = 0;
    return count;
}

class RecordingHost {
public:
    RecordingHost() {
        calls.reserve(64);
        events.reserve(1 << 16);
    }

    static VstIntPtr QUILL_CALL callback(AEffect* effect, std::int32_t opcode, std::int32_t index,
                                         VstIntPtr value, void* ptr, float opt) {
        if (effect == nullptr || effect->user == nullptr) {
            ++unattributedCalls();
            return opcode == audioMasterVersion ? 2400 : 0;
        }
        return static_cast<RecordingHost*>(effect->user)->receive(opcode, index, value, ptr, opt);
    }

    // Every request but the note events, which go to `events`.
    std::vector<HostCall> calls;
    std::vector<NoteEvent> events;
    std::int64_t block = 0;
    std::int64_t blockStart = 0;
    std::int32_t blockLength = 0;

private:
    VstIntPtr receive(std::int32_t opcode, std::int32_t index, VstIntPtr value, void* ptr,
                      float opt) {
        if (opcode != audioMasterProcessEvents || ptr == nullptr) {
            calls.push_back({opcode, index, value, ptr == nullptr, opt});
            return opcode == audioMasterVersion ? 2400 : 0;
        }
        const auto* list = static_cast<const VstEvents*>(ptr);
        NoteEvent event{};
        event.block = block;
        event.blockStart = blockStart;
        event.blockLength = blockLength;
        event.numEvents = list->numEvents;
        event.listReserved = list->reserved;
        event.secondEntryIsNull = list->events[1] == nullptr;
        if (list->events[0] != nullptr) {
            std::memcpy(event.raw, list->events[0], sizeof event.raw);
            event.deltaFrames = list->events[0]->deltaFrames;
            event.key = static_cast<std::uint8_t>(list->events[0]->midiData[1]);
            event.velocity = static_cast<std::uint8_t>(list->events[0]->midiData[2]);
        }
        events.push_back(event);
        return 1;
    }
};

// Checks every byte of one event and its list against the one-note-on form.
inline void expectWellFormed(const NoteEvent& event) {
    EXPECT_EQ(event.numEvents, 1);
    EXPECT_EQ(event.listReserved, 0);
    EXPECT_TRUE(event.secondEntryIsNull);
    std::int32_t type = 0;
    std::int32_t byteSize = 0;
    std::memcpy(&type, event.raw + 0, 4);
    std::memcpy(&byteSize, event.raw + 4, 4);
    EXPECT_EQ(type, 1);
    EXPECT_EQ(byteSize, 24);
    for (int i = 12; i < 24; ++i) {
        EXPECT_EQ(event.raw[i], 0) << "byte " << i;
    }
    EXPECT_EQ(event.raw[24], 0x90);
    EXPECT_LE(event.raw[25], 127);
    EXPECT_LE(event.raw[26], 127);
    for (int i = 27; i < 32; ++i) {
        EXPECT_EQ(event.raw[i], 0) << "byte " << i;
    }
}

// One plug-in instance made by the factory and driven through its record, as a host drives it.
class Session {
public:
    Session() : effect(nullptr) {
        EffectBase* object = createEffectInstance(&RecordingHost::callback);
        if (object != nullptr) {
            plug = static_cast<RandomNotePlug*>(object);
            effect = object->getRecord();
            effect->user = &host;
        }
    }
    ~Session() {
        if (effect != nullptr) {
            effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f);
        }
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    VstIntPtr dispatch(std::int32_t opcode, std::int32_t index = 0, VstIntPtr value = 0,
                       void* ptr = nullptr, float opt = 0.0f) {
        return effect->dispatcher(effect, opcode, index, value, ptr, opt);
    }
    void set(std::int32_t index, float value) { effect->setParameter(effect, index, value); }
    float get(std::int32_t index) { return effect->getParameter(effect, index); }
    void setSampleRate(float rate) { dispatch(effSetSampleRate, 0, 0, nullptr, rate); }

    // One processing call of `frames` samples through processReplacing (or process).
    void run(std::int32_t frames, bool replacing = true) {
        host.blockLength = frames;
        if (replacing) {
            effect->processReplacing(effect, nullptr, nullptr, frames);
        } else {
            effect->process(effect, nullptr, nullptr, frames);
        }
        ++host.block;
        if (frames > 0) {
            host.blockStart += frames;
        }
    }
    void runBlocks(std::int32_t frames, std::int64_t count) {
        for (std::int64_t i = 0; i < count; ++i) {
            run(frames);
        }
    }

    RecordingHost host;
    RandomNotePlug* plug = nullptr;
    AEffect* effect;
};

// Runs `body` on a thread that has never drawn a random number, and waits for it. The generator's
// state is per thread and starts at 1, so whatever `body` creates and processes there hears the
// stream from its beginning.
template <typename Body>
void onFreshThread(Body&& body) {
    std::thread thread(std::forward<Body>(body));
    thread.join();
}

// What the host received from one instance.
struct Stream {
    std::vector<NoteEvent> events;
    std::vector<HostCall> calls;
};

// Creates an instance on a fresh thread, lets `body` drive it there, and answers what it sent.
template <typename Body>
Stream onFreshSession(Body&& body) {
    Stream stream;
    onFreshThread([&] {
        Session session;
        if (session.effect == nullptr) {
            ADD_FAILURE() << "no instance";
            return;
        }
        body(session);
        stream.events = std::move(session.host.events);
        stream.calls = std::move(session.host.calls);
    });
    return stream;
}

} // namespace quill::test
