// What the host shows: parameter names, units and value texts, and the plug-in's identity.
#include "plug/random_note_plug.h"

#include "host/numeric.h"

#include <cstring>

namespace quill {
namespace {

constexpr const char* kParamNames[kNumParams] = {"Max time",      "Min time",      "Time distrib",
                                                 "Max amplitude", "Min amplitude", "Amp distrib",
                                                 "Note"};
constexpr const char* kParamLabels[kNumParams] = {"   ms   ", "   ms   ", "", "", "", "", ""};
constexpr char kDistribText[] = "exponent";

bool isParamIndex(std::int32_t index) { return static_cast<std::uint32_t>(index) < kNumParams; }

bool copyText(const char* source, char* destination) {
    if (destination == nullptr) {
        return false;
    }
    std::memcpy(destination, source, std::strlen(source) + 1);
    return true;
}

} // namespace

void RandomNotePlug::getParamName(std::int32_t index, char* name) {
    if (isParamIndex(index)) {
        copyText(kParamNames[index], name);
    }
}

void RandomNotePlug::getParamLabel(std::int32_t index, char* label) {
    if (isParamIndex(index)) {
        copyText(kParamLabels[index], label);
    }
}

void RandomNotePlug::getParamDisplay(std::int32_t index, char* display) {
    if (!isParamIndex(index) || display == nullptr) {
        return;
    }
    switch (index) {
    case MaxTime:
        formatMilliseconds(static_cast<float>(getMaxIntervalSamples()), display);
        break;
    case MinTime:
        formatLong(truncateToInt32(static_cast<double>(value(MinTime)) * 1000.0), display);
        break;
    case TimeDistrib:
    case AmpDistrib:
        copyText(kDistribText, display);
        break;
    default:
        formatLong(truncateToInt32(static_cast<double>(value(static_cast<ParamIndex>(index))) *
                                   127.0),
                   display);
        break;
    }
}

std::int32_t RandomNotePlug::getPlugCategory() { return kPlugCategEffect; }

bool RandomNotePlug::getEffectName(char* name) { return copyText("Quillmont", name); }

bool RandomNotePlug::getVendorString(char* text) { return copyText("KOVA", text); }

bool RandomNotePlug::getProductString(char* text) { return copyText("KOVA midi tools", text); }

std::int32_t RandomNotePlug::getVendorVersion() { return 1; }

std::int32_t RandomNotePlug::canDo(char* text) {
    if (text == nullptr) {
        return 0;
    }
    struct Capability {
        const char* text;
        std::int32_t answer;
    };
    static constexpr Capability kCapabilities[] = {{"sendVstMidiEvent", 1},
                                                   {"sendVstEvents", 1},
                                                   {"receiveVstEvents", -1},
                                                   {"receiveVstMidiEvent", -1}};
    for (const Capability& capability : kCapabilities) {
        if (std::strcmp(text, capability.text) == 0) {
            return capability.answer;
        }
    }
    return 0;
}

} // namespace quill
