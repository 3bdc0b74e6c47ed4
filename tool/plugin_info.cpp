#include "plugin_info.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace quill {

const std::vector<std::string>& midiCapabilityTexts() {
    static const std::vector<std::string> texts{"sendVstEvents", "sendVstMidiEvent",
                                                "receiveVstEvents", "receiveVstMidiEvent"};
    return texts;
}

PluginInfo gatherInfo(Plugin& plugin, float sampleRate, int32_t blockSize) {
    plugin.dispatch(vst::effOpen);
    plugin.setSampleRate(sampleRate);
    plugin.setBlockSize(blockSize);

    const vst::AEffect& e = plugin.effect();
    PluginInfo info;
    info.path = plugin.path();
    info.entrySymbol = plugin.entrySymbol();
    info.magic = e.magic;
    info.uniqueID = e.uniqueID;
    info.version = e.version;
    info.numInputs = e.numInputs;
    info.numOutputs = e.numOutputs;
    info.numParams = e.numParams;
    info.numPrograms = e.numPrograms;
    info.flags = e.flags;
    info.initialDelay = e.initialDelay;
    info.effectName = plugin.text(vst::effGetEffectName);
    info.vendor = plugin.text(vst::effGetVendorString);
    info.product = plugin.text(vst::effGetProductString);
    info.vendorVersion = plugin.dispatch(vst::effGetVendorVersion);
    info.category = plugin.dispatch(vst::effGetPlugCategory);
    info.vstVersion = plugin.dispatch(vst::effGetVstVersion);
    for (const std::string& text : midiCapabilityTexts())
        info.canDo.emplace_back(text, plugin.canDo(text));
    for (int32_t i = 0; i < e.numParams; ++i) {
        ParameterInfo p;
        p.index = i;
        p.name = plugin.text(vst::effGetParamName, i);
        p.value = plugin.getParameter(i);
        p.display = plugin.text(vst::effGetParamDisplay, i);
        p.label = plugin.text(vst::effGetParamLabel, i);
        info.parameters.push_back(std::move(p));
    }
    info.currentProgram = plugin.dispatch(vst::effGetProgram);
    info.programName = plugin.text(vst::effGetProgramName);
    return info;
}

std::string flagNames(int32_t flags) {
    static const std::pair<int32_t, const char*> kNames[] = {
        {vst::effFlagsHasEditor, "HasEditor"},
        {vst::effFlagsHasClip, "HasClip"},
        {vst::effFlagsHasVu, "HasVu"},
        {vst::effFlagsCanMono, "CanMono"},
        {vst::effFlagsCanReplacing, "CanReplacing"},
        {vst::effFlagsProgramChunks, "ProgramChunks"},
        {vst::effFlagsIsSynth, "IsSynth"},
        {vst::effFlagsNoSoundInStop, "NoSoundInStop"},
        {vst::effFlagsExtIsAsync, "ExtIsAsync"},
        {vst::effFlagsExtHasBuffer, "ExtHasBuffer"},
    };
    std::string out;
    auto add = [&out](const std::string& name) {
        if (!out.empty())
            out += '|';
        out += name;
    };
    uint32_t rest = static_cast<uint32_t>(flags);
    for (const auto& [bit, name] : kNames) {
        if (rest & static_cast<uint32_t>(bit)) {
            add(name);
            rest &= ~static_cast<uint32_t>(bit);
        }
    }
    for (int b = 0; b < 32; ++b)
        if (rest & (1u << b))
            add(std::to_string(1ull << b));
    return out.empty() ? "none" : out;
}

std::string categoryName(intptr_t category) {
    switch (category) {
    case vst::kPlugCategUnknown:
        return "Unknown";
    case vst::kPlugCategEffect:
        return "Effect";
    case vst::kPlugCategSynth:
        return "Synth";
    default:
        return "category " + std::to_string(category);
    }
}

std::string fourCharText(int32_t code) {
    std::string out;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const auto c = static_cast<unsigned char>(static_cast<uint32_t>(code) >> shift);
        out += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
    }
    return out;
}

namespace {

std::string hex32(int32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08" PRIX32, static_cast<uint32_t>(v));
    return buf;
}

// Shortest text that reads back as the same float.
std::string floatText(float v) {
    if (!std::isfinite(v))
        return std::isnan(v) ? "nan" : (v > 0 ? "inf" : "-inf");
    char buf[32];
    for (int precision = 6; precision <= 9; ++precision) {
        std::snprintf(buf, sizeof buf, "%.*g", precision, static_cast<double>(v));
        if (std::strtof(buf, nullptr) == v)
            break;
    }
    return buf;
}

std::string canDoWord(intptr_t answer) {
    if (answer > 0)
        return "yes";
    if (answer < 0)
        return "no";
    return "don't know";
}

std::string quoted(const std::string& s) {
    return "\"" + s + "\"";
}

} // namespace

std::string formatInfoText(const PluginInfo& info) {
    std::string out;
    auto line = [&out](const std::string& key, const std::string& value) {
        char head[32];
        std::snprintf(head, sizeof head, "%-16s", (key + ":").c_str());
        out += head + value + "\n";
    };
    line("file", info.path);
    line("entry", info.entrySymbol);
    line("magic", hex32(info.magic) + " '" + fourCharText(info.magic) + "'");
    line("unique ID", std::to_string(info.uniqueID) + " " + hex32(info.uniqueID) + " '" +
                          fourCharText(info.uniqueID) + "'");
    line("version", std::to_string(info.version));
    line("inputs", std::to_string(info.numInputs));
    line("outputs", std::to_string(info.numOutputs));
    line("flags", std::to_string(info.flags) + " " + flagNames(info.flags));
    line("initial delay", std::to_string(info.initialDelay));
    line("effect name", quoted(info.effectName));
    line("vendor", quoted(info.vendor));
    line("product", quoted(info.product));
    line("vendor version", std::to_string(info.vendorVersion));
    line("category", std::to_string(info.category) + " " + categoryName(info.category));
    line("VST version", std::to_string(info.vstVersion));
    out += "can do:\n";
    for (const auto& [text, answer] : info.canDo) {
        char row[96];
        std::snprintf(row, sizeof row, "  %-20s %3" PRIdPTR " %s\n", text.c_str(), answer,
                      canDoWord(answer).c_str());
        out += row;
    }
    line("parameters", std::to_string(info.numParams));
    if (!info.parameters.empty()) {
        size_t nameWidth = 4, textWidth = 4;
        for (const ParameterInfo& p : info.parameters) {
            nameWidth = std::max(nameWidth, quoted(p.name).size());
            textWidth = std::max(textWidth, quoted(p.display).size());
        }
        auto row = [&](const std::string& index, const std::string& name, const std::string& value,
                       const std::string& text, const std::string& label) {
            char buf[1024];
            std::snprintf(buf, sizeof buf, "  %5s  %-*s  %-11s  %-*s  %s\n", index.c_str(),
                          static_cast<int>(nameWidth), name.c_str(), value.c_str(),
                          static_cast<int>(textWidth), text.c_str(), label.c_str());
            out += buf;
        };
        row("index", "name", "value", "text", "label");
        for (const ParameterInfo& p : info.parameters)
            row(std::to_string(p.index), quoted(p.name), floatText(p.value), quoted(p.display),
                quoted(p.label));
    }
    line("programs", std::to_string(info.numPrograms));
    line("program", std::to_string(info.currentProgram) + " " + quoted(info.programName));
    return out;
}

namespace {

bool validUtf8(const std::string& text) {
    size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        size_t extra = 0;
        if (c < 0x80)
            extra = 0;
        else if (c >= 0xC2 && c <= 0xDF)
            extra = 1;
        else if (c >= 0xE0 && c <= 0xEF)
            extra = 2;
        else if (c >= 0xF0 && c <= 0xF4)
            extra = 3;
        else
            return false;
        if (extra > 0 && i + extra >= text.size())
            return false;
        for (size_t k = 1; k <= extra; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                return false;
        i += extra + 1;
    }
    return true;
}

} // namespace

std::string jsonString(const std::string& text) {
    // Plug-in texts are 8-bit without a declared encoding: UTF-8 passes through, anything else
    // is read as Latin-1, so the output is always valid JSON.
    const bool utf8 = validUtf8(text);
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"') {
            out += "\\\"";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F || (c >= 0x80 && !utf8)) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string formatInfoJson(const PluginInfo& info) {
    auto num = [](auto v) { return std::to_string(v); };
    std::string out = "{\n";
    auto field = [&out](const std::string& key, const std::string& value, bool last = false) {
        out += "  " + jsonString(key) + ": " + value + (last ? "\n" : ",\n");
    };
    field("file", jsonString(info.path));
    field("entry", jsonString(info.entrySymbol));
    field("magic", num(info.magic));
    field("magicText", jsonString(fourCharText(info.magic)));
    field("uniqueID", num(info.uniqueID));
    field("uniqueIDText", jsonString(fourCharText(info.uniqueID)));
    field("version", num(info.version));
    field("inputs", num(info.numInputs));
    field("outputs", num(info.numOutputs));
    field("flags", num(info.flags));
    std::string names = "[";
    if (info.flags != 0) {
        std::string all = flagNames(info.flags);
        size_t start = 0;
        while (true) {
            size_t bar = all.find('|', start);
            names += jsonString(all.substr(start, bar - start));
            if (bar == std::string::npos)
                break;
            names += ", ";
            start = bar + 1;
        }
    }
    field("flagNames", names + "]");
    field("initialDelay", num(info.initialDelay));
    field("effectName", jsonString(info.effectName));
    field("vendor", jsonString(info.vendor));
    field("product", jsonString(info.product));
    field("vendorVersion", num(info.vendorVersion));
    field("category", num(info.category));
    field("categoryName", jsonString(categoryName(info.category)));
    field("vstVersion", num(info.vstVersion));
    std::string can = "{";
    for (size_t i = 0; i < info.canDo.size(); ++i)
        can += (i ? ", " : "") + jsonString(info.canDo[i].first) + ": " + num(info.canDo[i].second);
    field("canDo", can + "}");
    field("numParams", num(info.numParams));
    std::string params = "[";
    for (size_t i = 0; i < info.parameters.size(); ++i) {
        const ParameterInfo& p = info.parameters[i];
        const std::string value = std::isfinite(p.value) ? floatText(p.value) : "null";
        params += std::string(i ? "," : "") + "\n    {\"index\": " + num(p.index) +
                  ", \"name\": " + jsonString(p.name) + ", \"value\": " + value +
                  ", \"text\": " + jsonString(p.display) + ", \"label\": " + jsonString(p.label) +
                  "}";
    }
    field("parameters", params + (info.parameters.empty() ? "]" : "\n  ]"));
    field("numPrograms", num(info.numPrograms));
    field("program", num(info.currentProgram));
    field("programName", jsonString(info.programName), true);
    return out + "}";
}

} // namespace quill
