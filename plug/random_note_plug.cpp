#include "plug/random_note_plug.h"

#include "host/entry.h"
#include "host/numeric.h"
#include "plug/random_source.h"

#include <cmath>
#include <cstring>
#include <new>

namespace quill {
namespace {

constexpr char kDefaultProgramName[] = "MIDI Quillmont";
static_assert(sizeof kDefaultProgramName <= kProgramNameSize);

bool isParamIndex(std::int32_t index) { return static_cast<std::uint32_t>(index) < kNumParams; }

} // namespace

NoteProgram::NoteProgram() noexcept {
    for (std::int32_t k = 0; k < kNumParams; ++k) {
        values[k].store(kParamDefaults[k], std::memory_order_relaxed);
    }
    std::memset(name, 0, sizeof name);
    std::memcpy(name, kDefaultProgramName, sizeof kDefaultProgramName);
}

RandomNotePlug::RandomNotePlug(audioMasterCallback audioMaster) noexcept
    : EffectExtended(audioMaster, kNumPrograms, kNumParams) {
    programs = new (std::nothrow) NoteProgram[kNumPrograms];
    outOfMemory = programs == nullptr;
    for (std::int32_t k = 0; k < kNumParams; ++k) {
        currentValues[k].store(kParamDefaults[k], std::memory_order_relaxed);
    }
    const std::int32_t maxInterval = truncateToInt32(getSampleRate());
    maxIntervalSamples.store(maxInterval, std::memory_order_relaxed);
    intervalSamples = truncateToInt32(randomFactor() * maxInterval);
    elapsedSamples = 0;
    if (programs != nullptr) {
        setProgram(0);
    }
    record.uniqueID = kUniqueId;
    record.numInputs = 0;
    record.numOutputs = 0;
    setCanReplacing(true);
    setCanMono(true);
    setIsSynth(true);
}

RandomNotePlug::~RandomNotePlug() { delete[] programs; }

void RandomNotePlug::setParameter(std::int32_t index, float value) {
    if (!isParamIndex(index)) {
        return;
    }
    switch (index) {
    case MaxTime:
        // A value that is not a number counts as below its partner; a partner that is not a
        // number compares false and lets the value pass.
        if (std::isnan(value) || value < this->value(MinTime)) {
            value = this->value(MinTime);
        }
        break;
    case MinTime:
        if (value > this->value(MaxTime)) {
            value = this->value(MaxTime);
        }
        break;
    case MaxAmplitude:
        if (std::isnan(value) || value < this->value(MinAmplitude)) {
            value = this->value(MinAmplitude);
        }
        break;
    case MinAmplitude:
        if (value > this->value(MaxAmplitude)) {
            value = this->value(MaxAmplitude);
        }
        break;
    default:
        break;
    }
    storeValue(index, value);
    if (index == MaxTime || index == MinTime || index == MaxAmplitude || index == MinAmplitude) {
        keepPairOrdered(static_cast<ParamIndex>(index));
    }
}

void RandomNotePlug::storeValue(std::int32_t index, float value) noexcept {
    if (programs != nullptr) {
        programs[currentProgram.load(std::memory_order_relaxed)].values[index].store(
            value, std::memory_order_relaxed);
    }
    // Sequentially consistent, with the loads in keepPairOrdered: see there.
    currentValues[index].store(value, std::memory_order_seq_cst);
    if (index == MaxTime) {
        updateMaxInterval(value);
    }
}

void RandomNotePlug::keepPairOrdered(ParamIndex index) noexcept {
    // Another thread may have set the partner between the clamp and the store, each clamp then
    // comparing with the value from before the other's change. So every setter looks at the pair
    // again after its store and its own side gives way, as its clamp would have made it do. The
    // stores and these loads are sequentially consistent: the setter that stores last sees both
    // final values, so no pair is left out of order.
    const bool time = index == MaxTime || index == MinTime;
    const ParamIndex high = time ? MaxTime : MaxAmplitude;
    const ParamIndex low = time ? MinTime : MinAmplitude;
    for (;;) {
        const float highValue = currentValues[high].load(std::memory_order_seq_cst);
        const float lowValue = currentValues[low].load(std::memory_order_seq_cst);
        if (!(highValue < lowValue)) {
            return;
        }
        storeValue(index, index == high ? lowValue : highValue);
    }
}

float RandomNotePlug::getParameter(std::int32_t index) {
    return isParamIndex(index) ? currentValues[index].load(std::memory_order_relaxed) : 0.0f;
}

void RandomNotePlug::updateMaxInterval(float maxTime) noexcept {
    const std::int32_t samples =
        truncateToInt32(static_cast<double>(getSampleRate()) * static_cast<double>(maxTime));
    maxIntervalSamples.store(samples < kMinIntervalSamples ? kMinIntervalSamples : samples,
                             std::memory_order_relaxed);
}

void RandomNotePlug::setProgram(std::int32_t program) {
    if (programs == nullptr || program < 0 || program >= numPrograms) {
        return;
    }
    currentProgram.store(program, std::memory_order_relaxed);
    for (std::int32_t k = 0; k < kNumParams; ++k) {
        setParameter(k, programs[program].values[k].load(std::memory_order_relaxed));
    }
}

void RandomNotePlug::setProgramName(char* name) {
    if (name == nullptr || programs == nullptr) {
        return;
    }
    // Longer names are cut to the 23 characters the field holds.
    char* field = programs[currentProgram.load(std::memory_order_relaxed)].name;
    std::size_t length = 0;
    while (length < kProgramNameSize - 1 && name[length] != '\0') {
        field[length] = name[length];
        ++length;
    }
    field[length] = '\0';
}

void RandomNotePlug::getProgramName(char* name) {
    if (name == nullptr || programs == nullptr) {
        return;
    }
    const std::int32_t program = currentProgram.load(std::memory_order_relaxed);
    const char* field = programs[program].name;
    if (std::strcmp(field, "Init") == 0) {
        // "Init" followed by the program's number, counted from 1.
        char number[12];
        std::int32_t count = 0;
        std::uint32_t n = static_cast<std::uint32_t>(program) + 1;
        do {
            number[count++] = static_cast<char>('0' + n % 10);
            n /= 10;
        } while (n != 0);
        std::memcpy(name, "Init ", 5);
        for (std::int32_t i = 0; i < count; ++i) {
            name[5 + i] = number[count - 1 - i];
        }
        name[5 + count] = '\0';
        return;
    }
    std::memcpy(name, field, std::strlen(field) + 1);
}

EffectBase* createEffectInstance(audioMasterCallback audioMaster) noexcept {
    auto* plug = new (std::nothrow) RandomNotePlug(audioMaster);
    if (plug == nullptr) {
        return nullptr;
    }
    if (plug->isOutOfMemory()) {
        delete plug;
        return nullptr;
    }
    return plug;
}

} // namespace quill
