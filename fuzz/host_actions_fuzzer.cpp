// Fuzzes the plug-in the way a careless host drives it: each input is decoded into a sequence of
// host actions on up to four instances, made through the entry point's steps. The host callback
// checks every request the plug-in makes; any malformed event, an event outside processing or an
// unexpected request aborts, as do a broken parameter pair, a text written past 64 bytes, or an
// entry point answer that contradicts the version the host gave.
#include "host/entry.h"
#include "plug/random_note_plug.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

using quill::AEffect;
using quill::VstIntPtr;

constexpr std::size_t kMaxInstances = 4;
// Longest block a single action asks for. The block routine's cost follows the notes it sends
// (at least 10 samples apart), so this bounds one action to a few thousand events.
constexpr std::int32_t kMaxBlock = 1 << 16;
// Size of the zeroed buffer handed with a pointer argument, and the part no answer may reach.
constexpr std::size_t kBufferSize = 4096;
constexpr std::size_t kLongestText = 64;

void fail(const char* what, long long detail = 0) {
    std::fprintf(stderr, "host check failed: %s (%lld)\n", what, detail);
    std::abort();
}

// What the host callback knows: the block in progress, and its answer to the version query.
struct HostState {
    const AEffect* processing = nullptr;
    std::int32_t blockLength = 0;
    std::int32_t lastOffset = 0;
    VstIntPtr versionAnswer = 2400;
    VstIntPtr eventsAnswer = 1;
};

HostState host;

void checkEvents(const AEffect* effect, const void* ptr) {
    if (host.processing == nullptr) {
        fail("event sent outside processing");
    }
    if (effect != host.processing) {
        fail("event sent with another instance's record");
    }
    if (ptr == nullptr) {
        fail("null event list");
    }
    const auto* events = static_cast<const quill::VstEvents*>(ptr);
    if (events->numEvents != 1) {
        fail("event list does not hold exactly one event", events->numEvents);
    }
    const quill::VstMidiEvent* event = events->events[0];
    if (event == nullptr) {
        fail("null event in list");
    }
    if (event->type != quill::kVstMidiType || event->byteSize != 24) {
        fail("not a MIDI event record", event->type);
    }
    if (event->deltaFrames < 0 || event->deltaFrames >= host.blockLength) {
        fail("event offset outside its block", event->deltaFrames);
    }
    if (event->deltaFrames < host.lastOffset) {
        fail("events out of order", event->deltaFrames);
    }
    host.lastOffset = event->deltaFrames;
    const auto status = static_cast<std::uint8_t>(event->midiData[0]);
    const auto key = static_cast<std::uint8_t>(event->midiData[1]);
    const auto velocity = static_cast<std::uint8_t>(event->midiData[2]);
    if (status != 0x90) {
        fail("status is not a note-on on channel 1", status);
    }
    if (key >= 0x80 || velocity >= 0x80) {
        fail("MIDI data byte of 128 or more", key >= 0x80 ? key : velocity);
    }
    if (event->midiData[3] != 0 || event->flags != 0 || event->noteLength != 0 ||
        event->noteOffset != 0 || event->detune != 0 || event->noteOffVelocity != 0) {
        fail("unused event field not zero");
    }
}

VstIntPtr hostCallback(AEffect* effect, std::int32_t opcode, std::int32_t, VstIntPtr value,
                       void* ptr, float) {
    switch (opcode) {
    case quill::audioMasterVersion:
        if (effect != nullptr) {
            fail("version query from an instance");
        }
        return host.versionAnswer;
    case quill::audioMasterWantMidi:
        if (effect == nullptr || value != 1) {
            fail("malformed request for MIDI", value);
        }
        if (host.processing != nullptr) {
            fail("request for MIDI during processing");
        }
        return 1;
    case quill::audioMasterProcessEvents:
        checkEvents(effect, ptr);
        return host.eventsAnswer;
    default:
        fail("unexpected host request", opcode);
    }
    return 0;
}

float consumeFloat(FuzzedDataProvider& data) {
    static constexpr float kInteresting[] = {0.0f,
                                             1.0f,
                                             0.5f,
                                             -1.0f,
                                             2.0f,
                                             -0.0f,
                                             1e-30f,
                                             1e30f,
                                             44100.0f,
                                             std::numeric_limits<float>::quiet_NaN(),
                                             std::numeric_limits<float>::infinity(),
                                             -std::numeric_limits<float>::infinity(),
                                             std::numeric_limits<float>::max(),
                                             std::numeric_limits<float>::denorm_min()};
    if (data.ConsumeBool()) {
        return data.PickValueInArray(kInteresting);
    }
    return std::bit_cast<float>(data.ConsumeIntegral<std::uint32_t>());
}

std::int32_t consumeIndex(FuzzedDataProvider& data) {
    return data.ConsumeBool() ? data.ConsumeIntegralInRange<std::int32_t>(-1, 8)
                              : data.ConsumeIntegral<std::int32_t>();
}

std::int32_t consumeBlockLength(FuzzedDataProvider& data) {
    switch (data.ConsumeIntegralInRange<int>(0, 3)) {
    case 0:
        return data.ConsumeIntegralInRange<std::int32_t>(0, 64);
    case 1:
        return data.ConsumeIntegralInRange<std::int32_t>(0, 4096);
    case 2:
        return data.ConsumeIntegralInRange<std::int32_t>(0, kMaxBlock);
    default:
        return data.ConsumeIntegralInRange<std::int32_t>(std::numeric_limits<std::int32_t>::min(),
                                                         0);
    }
}

bool takesInputText(std::int32_t opcode) {
    return opcode == quill::effSetProgramName || opcode == quill::effString2Parameter ||
           opcode == quill::effCanDo;
}

// Checks what a single thread's parameter changes must leave: each time and amplitude pair in
// order unless one of them is not a number (which the Min side passes through unchanged).
void checkParameterPairs(AEffect* effect) {
    const auto pairHolds = [effect](std::int32_t high, std::int32_t low) {
        const float highValue = effect->getParameter(effect, high);
        const float lowValue = effect->getParameter(effect, low);
        return std::isnan(highValue) || std::isnan(lowValue) || highValue >= lowValue;
    };
    if (!pairHolds(quill::MaxTime, quill::MinTime)) {
        fail("Max time below Min time");
    }
    if (!pairHolds(quill::MaxAmplitude, quill::MinAmplitude)) {
        fail("Max amplitude below Min amplitude");
    }
}

void processBlock(AEffect* effect, std::int32_t frames, bool replacing) {
    host.processing = effect;
    host.blockLength = frames;
    host.lastOffset = 0;
    if (replacing) {
        effect->processReplacing(effect, nullptr, nullptr, frames);
    } else {
        effect->process(effect, nullptr, nullptr, frames);
    }
    host.processing = nullptr;
    host.blockLength = 0;
}

void closeInstance(AEffect* effect) {
    if (effect->dispatcher(effect, quill::effClose, 0, 0, nullptr, 0.0f) != 1) {
        fail("effClose did not answer 1");
    }
}

// Any opcode with any arguments. Answers false when it was effClose, which ends the instance.
bool dispatchAny(AEffect* effect, FuzzedDataProvider& data, std::vector<char>& buffer) {
    const std::int32_t opcode = data.ConsumeBool()
                                    ? data.ConsumeIntegralInRange<std::int32_t>(-1, 70)
                                    : data.ConsumeIntegral<std::int32_t>();
    const std::int32_t index = consumeIndex(data);
    const VstIntPtr value = data.ConsumeBool() ? data.ConsumeIntegralInRange<VstIntPtr>(-1, 2)
                                               : data.ConsumeIntegral<VstIntPtr>();
    const float opt = consumeFloat(data);
    const int pointerKind = data.ConsumeIntegralInRange<int>(0, 2);
    if (opcode == quill::effClose) {
        closeInstance(effect);
        return false;
    }

    std::fill(buffer.begin(), buffer.end(), '\0');
    void* ptr = nullptr;
    if (pointerKind >= 1) {
        ptr = buffer.data();
    }
    if (pointerKind == 2 && takesInputText(opcode)) {
        // A text from the host, of any length up to most of the buffer.
        const std::string text = data.ConsumeRandomLengthString(kBufferSize - 1);
        std::memcpy(buffer.data(), text.data(), text.size());
    }
    effect->dispatcher(effect, opcode, index, value, ptr, opt);
    if (ptr != nullptr && !takesInputText(opcode)) {
        for (std::size_t i = kLongestText; i < buffer.size(); ++i) {
            if (buffer[i] != '\0') {
                fail("answer written past 64 bytes", static_cast<long long>(i));
            }
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    FuzzedDataProvider data(bytes, size);
    std::vector<AEffect*> live;
    std::vector<char> buffer(kBufferSize);
    host = HostState{};

    const auto create = [&live, &data] {
        host.versionAnswer = data.ConsumeBool() ? 0 : data.ConsumeIntegral<std::int32_t>();
        AEffect* effect = quill::pluginMain(hostCallback, quill::createEffectInstance);
        if (host.versionAnswer == 0) {
            if (effect != nullptr) {
                fail("instance made although the host answered version 0");
            }
            return;
        }
        if (effect == nullptr) {
            fail("no instance although the host answered a version",
                 static_cast<long long>(host.versionAnswer));
        }
        if (effect->magic != quill::kEffectMagic || effect->numParams != quill::kNumParams) {
            fail("malformed record");
        }
        live.push_back(effect);
    };

    create();
    while (data.remaining_bytes() > 0 && !live.empty()) {
        const int action = data.ConsumeIntegralInRange<int>(0, 9);
        if (action == 0) {
            if (live.size() < kMaxInstances) {
                create();
            }
            continue;
        }
        const std::size_t which = data.ConsumeIntegralInRange<std::size_t>(0, live.size() - 1);
        AEffect* effect = live[which];
        switch (action) {
        case 1: {
            closeInstance(effect);
            live.erase(live.begin() + static_cast<std::ptrdiff_t>(which));
            break;
        }
        case 2:
        case 3: {
            if (!dispatchAny(effect, data, buffer)) {
                live.erase(live.begin() + static_cast<std::ptrdiff_t>(which));
            }
            break;
        }
        case 4: {
            const std::int32_t index = consumeIndex(data);
            effect->setParameter(effect, index, consumeFloat(data));
            break;
        }
        case 5: {
            const std::int32_t index = consumeIndex(data);
            const float answer = effect->getParameter(effect, index);
            if ((index < 0 || index >= quill::kNumParams) &&
                std::bit_cast<std::uint32_t>(answer) != 0) {
                fail("parameter outside 0 to 6 does not answer 0.0", index);
            }
            break;
        }
        case 6:
        case 7: {
            processBlock(effect, consumeBlockLength(data), data.ConsumeBool());
            break;
        }
        case 8: {
            effect->dispatcher(effect, quill::effMainsChanged, 0, data.ConsumeBool() ? 1 : 0,
                               nullptr, 0.0f);
            break;
        }
        default: {
            host.eventsAnswer = data.ConsumeIntegral<std::int8_t>();
            effect->dispatcher(effect, quill::effSetSampleRate, 0, 0, nullptr, consumeFloat(data));
            break;
        }
        }
        for (AEffect* each : live) {
            checkParameterPairs(each);
        }
    }
    for (AEffect* effect : live) {
        closeInstance(effect);
    }
    return 0;
}
