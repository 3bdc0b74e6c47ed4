// What a host learns about a plug-in, gathered and printed for `quill info`.
#pragma once

#include "vst_host.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace quill {

struct ParameterInfo {
    int32_t index = 0;
    std::string name;
    float value = 0.0f;
    std::string display; // the value text
    std::string label;   // the unit
};

struct PluginInfo {
    std::string path;
    std::string entrySymbol;
    int32_t magic = 0;
    int32_t uniqueID = 0;
    int32_t version = 0;
    int32_t numInputs = 0;
    int32_t numOutputs = 0;
    int32_t numParams = 0;
    int32_t numPrograms = 0;
    int32_t flags = 0;
    int32_t initialDelay = 0;
    std::string effectName;
    std::string vendor;
    std::string product;
    intptr_t vendorVersion = 0;
    intptr_t category = 0;
    intptr_t vstVersion = 0; // effGetVstVersion: the interface version the plug-in speaks
    std::vector<std::pair<std::string, intptr_t>> canDo;
    std::vector<ParameterInfo> parameters;
    intptr_t currentProgram = 0;
    std::string programName;
};

// The capability texts about MIDI that info asks every plug-in.
const std::vector<std::string>& midiCapabilityTexts();

// Opens the plug-in (effOpen, sample rate, block size) and asks what a host asks; does not
// switch it on.
PluginInfo gatherInfo(Plugin& plugin, float sampleRate, int32_t blockSize);

// Flag bits by name ("CanMono|CanReplacing|IsSynth"); unnamed bits as numbers; "none" for 0.
std::string flagNames(int32_t flags);
// "Effect", "Synth", "Unknown", or "category N".
std::string categoryName(intptr_t category);
// The four characters of a code, first character from the most significant byte;
// characters outside printable ASCII as '?'.
std::string fourCharText(int32_t code);

std::string formatInfoText(const PluginInfo& info);
std::string formatInfoJson(const PluginInfo& info);
// A JSON string literal, with quotes.
std::string jsonString(const std::string& text);

} // namespace quill
