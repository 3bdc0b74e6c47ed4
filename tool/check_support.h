// Pieces shared by the check groups: random numbers from the seed, audio buffers with guard
// zones, an audit of the events a plug-in sends, and text buffers with canaries.
#pragma once

#include "check.h"
#include "vst_host.h"

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace quill::check {

// A generator for one check: the run's seed mixed with the check's name, so each check
// replays on its own with the same --seed.
class Rng {
public:
    Rng(uint64_t seed, const std::string& name);
    double uniform();          // [0, 1)
    int range(int lo, int hi); // [lo, hi]
    float value01();           // a parameter value: mostly uniform, sometimes exactly 0 or 1

private:
    std::mt19937_64 gen_;
};

// A plug-in loaded as a host loads it and opened (effOpen); the host keeps no log of
// requests, so long runs do not grow.
Plugin openPlugin(const std::string& path);

// Input and output buffers for numInputs/numOutputs channels. Each buffer has a guard zone
// after the block that the plug-in must not touch; inputs carry a quiet noise signal.
class AudioBuffers {
public:
    AudioBuffers(int inputs, int outputs, uint64_t seed);
    // Prepares buffers for a block of `frames`; outputs start at zero.
    void prepare(int32_t frames);
    float** inputs() { return inPtr_.data(); }
    float** outputs() { return outPtr_.data(); }
    // Empty when all is well; otherwise what went wrong (guard written, output not finite).
    std::string verify(int32_t frames) const;

    static constexpr int kGuard = 64;

private:
    int ins_;
    int outs_;
    std::mt19937 gen_;
    std::vector<std::vector<float>> in_, out_;
    std::vector<float*> inPtr_, outPtr_;
    int32_t frames_ = 0;
};

// Checks every event a plug-in sent: inside a processing call, offsets 0..N-1 in order,
// well-formed MIDI.
class EventAudit {
public:
    // Takes and checks the events the plug-in sent since the last call.
    void take(Plugin& plug);
    void check(const std::vector<ReceivedEvent>& events);
    size_t total() const { return total_; }
    size_t problems() const { return problems_; }
    // The first few problems, for notes.
    const std::vector<std::string>& examples() const { return examples_; }
    void problem(const std::string& what);

private:
    size_t total_ = 0;
    size_t problems_ = 0;
    std::vector<std::string> examples_;
    int64_t lastBlock_ = -2;
    int32_t lastOffset_ = 0;
};

// How bad it is to write past a buffer of a given size.
enum class Severity { Info, Warn, Fail };

struct Tier {
    size_t size;
    Severity severity;
    const char* why; // what the size stands for
};

// A text opcode and the buffer sizes it is tried with.
struct TextKind {
    const char* label; // "effGetParamName"
    int32_t opcode;
    std::vector<Tier> tiers; // the largest last
};

const TextKind& paramNameKind();
const TextKind& paramLabelKind();
const TextKind& paramDisplayKind();
const TextKind& programNameKind();
const TextKind& programNameIndexedKind();
const TextKind& effectNameKind();
const TextKind& vendorKind();
const TextKind& productKind();

// The outcome of asking for one text with a buffer of each size of its kind.
struct TextProbe {
    std::string text;            // what the largest buffer got, up to its NUL
    size_t extent = 0;           // bytes written (to the last byte changed), in the largest buffer
    bool terminated = false;     // a NUL inside the largest buffer
    bool underrun = false;       // wrote before the buffer
    std::vector<size_t> overrun; // sizes it wrote past
};

TextProbe probeText(Plugin& plug, const TextKind& kind, int32_t index, intptr_t value = 0);

// Gathers the probes of one text kind over many calls and judges them.
class TextAudit {
public:
    explicit TextAudit(const TextKind& kind) : kind_(kind) {}
    void add(const TextProbe& probe, const std::string& subject);
    // Adds notes and raises the status as the worst tier overrun says.
    void judge(CheckResult& result) const;
    size_t calls() const { return calls_; }

private:
    const TextKind& kind_;
    size_t calls_ = 0;
    size_t wrote_ = 0;
    size_t longest_ = 0;
    std::string longestText;
    std::string longestSubject;
    std::vector<size_t> overruns_; // per tier
    std::vector<std::string> overrunExample_;
    size_t unterminated_ = 0;
    size_t underruns_ = 0;
    size_t nonPrintable_ = 0;
    std::string firstBad_;
};

// Where the running check is, for the report when the plug-in crashes or hangs there. The
// text goes into memory shared with the parent process (set up by setStageBuffer).
void stage(const std::string& where);
void setStageBuffer(char* buffer, size_t size);

// Raises a result's status (Pass < Warn < Fail) and sets the reason when it gets worse.
void raise(CheckResult& result, CheckStatus status, const std::string& reason);

std::string quoted(const std::string& text);
std::string formatFloat(double value);
const char* severityName(Severity severity);

} // namespace quill::check
