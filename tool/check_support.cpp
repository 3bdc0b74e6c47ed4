#include "check_support.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace quill::check {

namespace {

constexpr unsigned char kCanary = 0xA5;
constexpr size_t kFront = 16;                   // canary bytes before each text buffer
constexpr size_t kBack = 4096;                  // and after it
constexpr uint32_t kSentinelBits = 0x7FC0BEEFu; // a NaN no plug-in computes

bool isSentinel(float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return bits == kSentinelBits;
}

float sentinel() {
    float v;
    std::memcpy(&v, &kSentinelBits, sizeof v);
    return v;
}

uint64_t hashName(const std::string& name) {
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : name) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

} // namespace

Rng::Rng(uint64_t seed, const std::string& name) : gen_(seed ^ hashName(name)) {}

double Rng::uniform() {
    return std::uniform_real_distribution<double>(0.0, 1.0)(gen_);
}

int Rng::range(int lo, int hi) {
    return std::uniform_int_distribution<int>(lo, hi)(gen_);
}

float Rng::value01() {
    const int pick = range(0, 19);
    if (pick == 0)
        return 0.0f;
    if (pick == 1)
        return 1.0f;
    return static_cast<float>(uniform());
}

Plugin openPlugin(const std::string& path) {
    HostConfig config;
    config.recordRequests = false;
    Plugin plug = Plugin::load(path, config);
    plug.dispatch(vst::effOpen);
    return plug;
}

AudioBuffers::AudioBuffers(int inputs, int outputs, uint64_t seed)
    : ins_(std::clamp(inputs, 0, 256)), outs_(std::clamp(outputs, 0, 256)),
      gen_(static_cast<uint32_t>(seed)), in_(static_cast<size_t>(ins_)),
      out_(static_cast<size_t>(outs_)), inPtr_(static_cast<size_t>(std::max(ins_, 1)), nullptr),
      outPtr_(static_cast<size_t>(std::max(outs_, 1)), nullptr) {}

void AudioBuffers::prepare(int32_t frames) {
    frames_ = std::max(frames, 0);
    const size_t size = static_cast<size_t>(frames_) + kGuard;
    std::uniform_real_distribution<float> noise(-0.25f, 0.25f);
    for (size_t c = 0; c < in_.size(); ++c) {
        in_[c].assign(size, sentinel());
        for (int32_t i = 0; i < frames_; ++i)
            in_[c][static_cast<size_t>(i)] = noise(gen_);
        inPtr_[c] = in_[c].data();
    }
    for (size_t c = 0; c < out_.size(); ++c) {
        out_[c].assign(size, sentinel());
        std::fill_n(out_[c].begin(), frames_, 0.0f);
        outPtr_[c] = out_[c].data();
    }
}

std::string AudioBuffers::verify(int32_t) const {
    char buf[160];
    for (size_t c = 0; c < out_.size(); ++c) {
        for (size_t i = static_cast<size_t>(frames_); i < out_[c].size(); ++i) {
            if (!isSentinel(out_[c][i])) {
                std::snprintf(buf, sizeof buf,
                              "wrote past the block in output %zu (sample %zu of a %d-sample "
                              "block)",
                              c, i, frames_);
                return buf;
            }
        }
        for (int32_t i = 0; i < frames_; ++i) {
            const float v = out_[c][static_cast<size_t>(i)];
            if (!std::isfinite(v)) {
                std::snprintf(buf, sizeof buf, "output %zu sample %d is %s", c, i,
                              std::isnan(v) ? "NaN" : "infinite");
                return buf;
            }
        }
    }
    for (size_t c = 0; c < in_.size(); ++c) {
        for (size_t i = static_cast<size_t>(frames_); i < in_[c].size(); ++i) {
            if (!isSentinel(in_[c][i])) {
                std::snprintf(buf, sizeof buf,
                              "wrote past the block in input %zu (sample %zu of a %d-sample "
                              "block)",
                              c, i, frames_);
                return buf;
            }
        }
    }
    return {};
}

void EventAudit::problem(const std::string& what) {
    ++problems_;
    if (examples_.size() < 5)
        examples_.push_back(what);
}

void EventAudit::take(Plugin& plug) {
    check(plug.takeEvents());
}

void EventAudit::check(const std::vector<ReceivedEvent>& events) {
    // Order is judged within one call's events: one audit may serve two instances, whose
    // blocks are numbered apart.
    lastBlock_ = -2;
    char buf[200];
    for (const ReceivedEvent& e : events) {
        ++total_;
        const unsigned status = e.midi[0];
        if (e.block < 0) {
            std::snprintf(buf, sizeof buf,
                          "an event (status 0x%02X, offset %d) came outside any processing call",
                          status, e.deltaFrames);
            problem(buf);
            continue;
        }
        if (e.deltaFrames < 0 || e.deltaFrames >= e.blockLength) {
            std::snprintf(buf, sizeof buf,
                          "event at offset %d in a %d-sample block (block %lld); offsets must "
                          "lie in 0..%d",
                          e.deltaFrames, e.blockLength, static_cast<long long>(e.block),
                          e.blockLength - 1);
            problem(buf);
        }
        if (e.block == lastBlock_ && e.deltaFrames < lastOffset_) {
            std::snprintf(buf, sizeof buf,
                          "events out of order in block %lld: offset %d after offset %d",
                          static_cast<long long>(e.block), e.deltaFrames, lastOffset_);
            problem(buf);
        }
        lastBlock_ = e.block;
        lastOffset_ = e.deltaFrames;
        if (e.type != vst::kVstMidiType)
            continue;
        if (status < 0x80) {
            std::snprintf(buf, sizeof buf,
                          "MIDI event without a status byte: %02X %02X %02X (block %lld, offset "
                          "%d)",
                          status, e.midi[1], e.midi[2], static_cast<long long>(e.block),
                          e.deltaFrames);
            problem(buf);
            continue;
        }
        int dataBytes = 0;
        switch (status & 0xF0) {
        case 0x80:
        case 0x90:
        case 0xA0:
        case 0xB0:
        case 0xE0:
            dataBytes = 2;
            break;
        case 0xC0:
        case 0xD0:
            dataBytes = 1;
            break;
        default:
            dataBytes = (status == 0xF2) ? 2 : (status == 0xF1 || status == 0xF3) ? 1 : 0;
            break;
        }
        for (int b = 1; b <= dataBytes; ++b) {
            if (e.midi[static_cast<size_t>(b)] >= 0x80) {
                std::snprintf(buf, sizeof buf,
                              "MIDI data byte %d is 0x%02X (must be below 0x80) in %02X %02X "
                              "%02X",
                              b, e.midi[static_cast<size_t>(b)], status, e.midi[1], e.midi[2]);
                problem(buf);
                break;
            }
        }
    }
}

namespace {

// The interface's limits count characters; hosts add one byte for the NUL, and real hosts
// hand out 64 bytes or more.
const char* const kBare = "the limit without room for the NUL";
const char* const kHost = "what hosts commonly give";
const char* const kLarge = "a large buffer";

} // namespace

const TextKind& paramNameKind() {
    static const TextKind k{
        "effGetParamName",
        vst::effGetParamName,
        {{8, Severity::Info, kBare},
         {9, Severity::Info, "8 characters and the NUL; longer names are common practice"},
         {64, Severity::Fail, kHost},
         {512, Severity::Fail, kLarge}}};
    return k;
}
const TextKind& paramLabelKind() {
    static const TextKind k{"effGetParamLabel",
                            vst::effGetParamLabel,
                            {{8, Severity::Info, kBare},
                             {9, Severity::Warn, "8 characters and the NUL, the documented limit"},
                             {64, Severity::Fail, kHost},
                             {512, Severity::Fail, kLarge}}};
    return k;
}
const TextKind& paramDisplayKind() {
    static const TextKind k{"effGetParamDisplay",
                            vst::effGetParamDisplay,
                            {{8, Severity::Info, kBare},
                             {9, Severity::Warn, "8 characters and the NUL, the documented limit"},
                             {64, Severity::Fail, kHost},
                             {512, Severity::Fail, kLarge}}};
    return k;
}
const TextKind& programNameKind() {
    static const TextKind k{
        "effGetProgramName",
        vst::effGetProgramName,
        {{8, Severity::Info, "8 bytes"},
         {24, Severity::Info, kBare},
         {25, Severity::Warn, "24 characters and the NUL, the documented limit"},
         {64, Severity::Fail, kHost},
         {512, Severity::Fail, kLarge}}};
    return k;
}
const TextKind& programNameIndexedKind() {
    static const TextKind k{
        "effGetProgramNameIndexed",
        vst::effGetProgramNameIndexed,
        {{8, Severity::Info, "8 bytes"},
         {24, Severity::Info, kBare},
         {25, Severity::Warn, "24 characters and the NUL, the documented limit"},
         {64, Severity::Fail, kHost},
         {512, Severity::Fail, kLarge}}};
    return k;
}
const TextKind& effectNameKind() {
    static const TextKind k{
        "effGetEffectName",
        vst::effGetEffectName,
        {{8, Severity::Info, "8 bytes"},
         {32, Severity::Info, kBare},
         {33, Severity::Warn, "32 characters and the NUL, the documented limit"},
         {64, Severity::Fail, kHost},
         {512, Severity::Fail, kLarge}}};
    return k;
}
const TextKind& vendorKind() {
    static const TextKind k{
        "effGetVendorString",
        vst::effGetVendorString,
        {{8, Severity::Info, "8 bytes"},
         {64, Severity::Info, kBare},
         {65, Severity::Warn, "64 characters and the NUL, the documented limit"},
         {512, Severity::Fail, kLarge}}};
    return k;
}
const TextKind& productKind() {
    static const TextKind k{
        "effGetProductString",
        vst::effGetProductString,
        {{8, Severity::Info, "8 bytes"},
         {64, Severity::Info, kBare},
         {65, Severity::Warn, "64 characters and the NUL, the documented limit"},
         {512, Severity::Fail, kLarge}}};
    return k;
}

TextProbe probeText(Plugin& plug, const TextKind& kind, int32_t index, intptr_t value) {
    TextProbe probe;
    for (size_t t = 0; t < kind.tiers.size(); ++t) {
        const size_t size = kind.tiers[t].size;
        std::vector<unsigned char> arena(kFront + size + kBack, kCanary);
        plug.dispatch(kind.opcode, index, value, arena.data() + kFront, 0.0f);
        for (size_t i = 0; i < kFront; ++i)
            if (arena[i] != kCanary)
                probe.underrun = true;
        size_t extent = 0;
        for (size_t i = arena.size(); i > kFront; --i) {
            if (arena[i - 1] != kCanary) {
                extent = i - kFront;
                break;
            }
        }
        if (extent > size)
            probe.overrun.push_back(size);
        if (t + 1 == kind.tiers.size()) {
            probe.extent = extent;
            const unsigned char* text = arena.data() + kFront;
            const auto* nul = static_cast<const unsigned char*>(std::memchr(text, 0, size));
            probe.terminated = nul != nullptr;
            probe.text.assign(reinterpret_cast<const char*>(text),
                              nul != nullptr ? static_cast<size_t>(nul - text)
                                             : std::min(extent, size));
        }
    }
    return probe;
}

void TextAudit::add(const TextProbe& probe, const std::string& subject) {
    ++calls_;
    if (overruns_.empty()) {
        overruns_.assign(kind_.tiers.size(), 0);
        overrunExample_.assign(kind_.tiers.size(), {});
    }
    if (probe.extent == 0)
        return; // wrote nothing: the plug-in does not answer this
    ++wrote_;
    if (probe.extent > longest_) {
        longest_ = probe.extent;
        longestText = probe.text;
        longestSubject = subject;
    }
    for (size_t t = 0; t < kind_.tiers.size(); ++t) {
        if (std::find(probe.overrun.begin(), probe.overrun.end(), kind_.tiers[t].size) !=
            probe.overrun.end()) {
            if (overruns_[t]++ == 0)
                overrunExample_[t] = subject + " " + quoted(probe.text) + ", " +
                                     std::to_string(probe.extent) + " bytes";
        }
    }
    if (!probe.terminated) {
        if (unterminated_++ == 0 && firstBad_.empty())
            firstBad_ =
                subject + ": no NUL within " + std::to_string(kind_.tiers.back().size) + " bytes";
    }
    if (probe.underrun)
        ++underruns_;
    for (unsigned char c : probe.text) {
        if (c < 0x20 || c == 0x7F) {
            if (nonPrintable_++ == 0)
                firstBad_ = firstBad_.empty() ? subject + " " + quoted(probe.text) : firstBad_;
            break;
        }
    }
}

void TextAudit::judge(CheckResult& result) const {
    const std::string label = kind_.label;
    if (calls_ == 0)
        return;
    if (wrote_ == 0) {
        result.notes.push_back(label + ": wrote nothing in " + std::to_string(calls_) +
                               " calls (not answered)");
        return;
    }
    result.notes.push_back(label + ": " + std::to_string(wrote_) +
                           (wrote_ == 1 ? " text" : " texts") + ", the longest " +
                           std::to_string(longest_) + " bytes (" + longestSubject + " " +
                           quoted(longestText) + ")");
    for (size_t t = 0; t < kind_.tiers.size(); ++t) {
        if (overruns_[t] == 0)
            continue;
        const Tier& tier = kind_.tiers[t];
        const std::string size = std::to_string(tier.size);
        const bool an = size[0] == '8' || size == "11" || size == "18";
        const std::string what = label + " overruns " + (an ? "an " : "a ") + size +
                                 "-byte buffer (" + tier.why + ") " + std::to_string(overruns_[t]) +
                                 (overruns_[t] == 1 ? " time" : " times") + ", e.g. " +
                                 overrunExample_[t];
        result.notes.push_back(std::string(severityName(tier.severity)) + ": " + what);
        if (tier.severity == Severity::Fail)
            raise(result, CheckStatus::Fail, what);
        else if (tier.severity == Severity::Warn)
            raise(result, CheckStatus::Warn, what);
    }
    if (unterminated_ > 0)
        raise(result, CheckStatus::Fail,
              label + ": " + std::to_string(unterminated_) + " texts without a NUL (" + firstBad_ +
                  ")");
    if (underruns_ > 0)
        raise(result, CheckStatus::Fail,
              label + ": wrote before the start of the buffer " + std::to_string(underruns_) +
                  " times");
    if (nonPrintable_ > 0) {
        result.notes.push_back("WARN: " + label + ": " + std::to_string(nonPrintable_) +
                               " texts hold control characters (" + firstBad_ + ")");
        raise(result, CheckStatus::Warn, label + ": texts hold control characters");
    }
}

namespace {
char* g_stage = nullptr;
size_t g_stageSize = 0;
} // namespace

void setStageBuffer(char* buffer, size_t size) {
    g_stage = buffer;
    g_stageSize = size;
}

void stage(const std::string& where) {
    if (g_stage == nullptr || g_stageSize == 0)
        return;
    const size_t n = std::min(where.size(), g_stageSize - 1);
    std::memcpy(g_stage, where.data(), n);
    g_stage[n] = '\0';
}

void raise(CheckResult& result, CheckStatus status, const std::string& reason) {
    auto rank = [](CheckStatus s) {
        switch (s) {
        case CheckStatus::Skip:
            return 0;
        case CheckStatus::Pass:
            return 1;
        case CheckStatus::Warn:
            return 2;
        case CheckStatus::Fail:
            return 3;
        }
        return 0;
    };
    if (rank(status) > rank(result.status)) {
        result.status = status;
        result.reason = reason;
    }
}

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string formatFloat(double value) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.9g", value);
    return buf;
}

const char* severityName(Severity severity) {
    switch (severity) {
    case Severity::Info:
        return "INFO";
    case Severity::Warn:
        return "WARN";
    case Severity::Fail:
        return "FAIL";
    }
    return "?";
}

} // namespace quill::check
