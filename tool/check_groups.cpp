// The checks of quill check, in groups; each group runs in a child process (check.cpp).

#include "check.h"
#include "check_support.h"

#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <locale.h>
#include <map>
#include <sstream>
#include <thread>

extern "C" size_t __sanitizer_get_current_allocated_bytes() __attribute__((weak));

namespace quill {

using check::AudioBuffers;
using check::EventAudit;
using check::formatFloat;
using check::openPlugin;
using check::probeText;
using check::quoted;
using check::raise;
using check::Rng;
using check::stage;
using check::TextAudit;

namespace {

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::string fixed(double v, int digits) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.*f", digits, v);
    return buf;
}

// "1 program", "2 programs".
std::string count(long long n, const std::string& word) {
    return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

CheckResult result(const std::string& name) {
    CheckResult r;
    r.name = name;
    return r;
}

// Adds the event audit's verdict to a result.
void judgeEvents(CheckResult& r, const EventAudit& events) {
    if (events.problems() == 0)
        return;
    raise(r, CheckStatus::Fail,
          std::to_string(events.problems()) + " bad events of " + std::to_string(events.total()) +
              ": " + events.examples().front());
    for (const std::string& e : events.examples())
        r.notes.push_back("event: " + e);
}

int paramCount(const Plugin& plug) {
    return std::clamp(plug.effect().numParams, 0, 4096);
}
int programCount(const Plugin& plug) {
    return std::clamp(plug.effect().numPrograms, 0, 1024);
}

// Runs `blocks` blocks of `frames` through one entry and checks buffers and events.
struct BlockRunner {
    Plugin& plug;
    AudioBuffers audio;
    EventAudit& events;
    std::string problem; // the first buffer problem
    int64_t blocks = 0;

    BlockRunner(Plugin& p, EventAudit& e, uint64_t seed)
        : plug(p), audio(p.effect().numInputs, p.effect().numOutputs, seed), events(e) {}

    void run(bool replacing, int32_t frames) {
        audio.prepare(frames);
        if (replacing)
            plug.processReplacing(audio.inputs(), audio.outputs(), frames);
        else
            plug.process(audio.inputs(), audio.outputs(), frames);
        ++blocks;
        if (problem.empty()) {
            std::string p = audio.verify(frames);
            if (!p.empty())
                problem = (replacing ? "processReplacing: " : "process: ") + p;
        }
        events.take(plug);
    }
};

// ---- open ----

std::vector<CheckResult> openGroup(const CheckContext& c) {
    CheckResult cold = result("open-cold");
    CheckResult warm = result("open-warm");
    stage("open-cold: loading and opening");
    auto t0 = Clock::now();
    int32_t uid = 0, params = 0, programs = 0;
    {
        Plugin plug = openPlugin(c.path);
        const double ms = millisecondsSince(t0);
        const vst::AEffect& e = plug.effect();
        uid = e.uniqueID;
        params = e.numParams;
        programs = e.numPrograms;
        cold.reason = "loaded and opened in " + fixed(ms, 1) + " ms through " + plug.entrySymbol() +
                      ": " + count(e.numParams, "parameter") + ", " +
                      count(e.numPrograms, "program") + ", " + std::to_string(e.numInputs) +
                      " in, " + std::to_string(e.numOutputs) + " out";
        if (e.numParams < 0 || e.numParams > 100000 || e.numPrograms < 0 || e.numPrograms > 100000)
            raise(cold, CheckStatus::Fail, "implausible counts in the record");
        if (e.numInputs < 0 || e.numInputs > 1024 || e.numOutputs < 0 || e.numOutputs > 1024)
            raise(cold, CheckStatus::Fail, "implausible channel counts in the record");
        if (e.dispatcher == nullptr || e.setParameter == nullptr || e.getParameter == nullptr)
            raise(cold, CheckStatus::Fail, "the record lacks an entry function");
        if ((e.flags & vst::effFlagsCanReplacing) != 0 && e.processReplacing == nullptr)
            raise(cold, CheckStatus::Fail,
                  "effFlagsCanReplacing is set but processReplacing is null");
        if (e.uniqueID == 0)
            raise(cold, CheckStatus::Warn, "unique ID is 0; hosts tell plug-ins apart by it");
        const auto closeStart = Clock::now();
        plug.close();
        cold.notes.push_back("effClose took " + fixed(millisecondsSince(closeStart), 1) + " ms");
    }

    // Warm: loaded again after it was unloaded, and two instances side by side.
    stage("open-warm: two instances");
    t0 = Clock::now();
    Plugin a = openPlugin(c.path);
    const double againMs = millisecondsSince(t0);
    t0 = Clock::now();
    Plugin b = openPlugin(c.path);
    const double secondMs = millisecondsSince(t0);
    for (const Plugin* p : {&a, &b}) {
        const vst::AEffect& e = p->effect();
        if (e.uniqueID != uid || e.numParams != params || e.numPrograms != programs)
            raise(warm, CheckStatus::Fail,
                  "a second instance describes itself differently (unique ID, parameter or "
                  "program count)");
    }
    if (a.effectPointer() == b.effectPointer())
        raise(warm, CheckStatus::Fail, "two instances share one record");
    // Both instances work at once, and closing one leaves the other working.
    for (Plugin* p : {&a, &b}) {
        p->setSampleRate(44100.0f);
        p->setBlockSize(512);
        p->resume();
    }
    EventAudit events;
    BlockRunner ra(a, events, c.seed), rb(b, events, c.seed + 1);
    for (int i = 0; i < 8; ++i) {
        ra.run(true, 512);
        rb.run(true, 512);
    }
    b.suspend();
    b.close();
    for (int i = 0; i < 8; ++i)
        ra.run(true, 512);
    a.suspend();
    if (!ra.problem.empty() || !rb.problem.empty())
        raise(warm, CheckStatus::Fail, !ra.problem.empty() ? ra.problem : rb.problem);
    judgeEvents(warm, events);
    if (warm.reason.empty())
        warm.reason = "loaded again in " + fixed(againMs, 1) +
                      " ms; a second instance beside it in " + fixed(secondMs, 1) +
                      " ms; both process, and closing one leaves the other working";
    return {cold, warm};
}

// ---- open/close cycles ----

struct Usage {
    size_t heap = 0; // bytes in use by malloc
    size_t rss = 0;  // resident bytes
    int threads = 0;
};

// Bytes in use by malloc: from the sanitizer's allocator when quill runs under one (it
// replaces malloc), otherwise from the C library's.
size_t heapInUse() {
    if (__sanitizer_get_current_allocated_bytes != nullptr)
        return __sanitizer_get_current_allocated_bytes();
    const struct mallinfo2 mi = ::mallinfo2();
    return mi.uordblks + mi.hblkhd;
}

Usage usageNow() {
    Usage u;
    u.heap = heapInUse();
    std::ifstream statm("/proc/self/statm");
    size_t pages = 0, resident = 0;
    statm >> pages >> resident;
    u.rss = resident * 4096;
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("Threads:", 0) == 0)
            u.threads = std::atoi(line.c_str() + 8);
    return u;
}

std::string kib(long long bytes) {
    return fixed(static_cast<double>(bytes) / 1024.0, 1) + " KiB";
}

std::vector<CheckResult> cyclesGroup(const CheckContext& c) {
    CheckResult r = result("open-close-cycles");
    int cycleNumber = 0;
    auto cycle = [&] {
        stage("open-close-cycles: cycle " + std::to_string(++cycleNumber));
        Plugin plug = openPlugin(c.path);
        plug.text(vst::effGetEffectName);
        plug.close();
    };
    // Slow plug-ins (hundreds of milliseconds a load) get as many cycles as fit in the
    // budget; the verdict is per cycle.
    const double budget = c.quick ? 60.0 : 150.0;
    const auto start = Clock::now();
    const int warmUp = std::clamp(c.cycles / 10, 1, 50);
    for (int i = 0; i < warmUp && millisecondsSince(start) < budget * 100.0; ++i)
        cycle();
    ::malloc_trim(0);
    const Usage before = usageNow();
    const auto t0 = Clock::now();
    std::vector<size_t> heapAfter; // heap in use after each cycle
    heapAfter.reserve(static_cast<size_t>(c.cycles));
    int done = 0;
    for (; done < c.cycles && millisecondsSince(t0) < budget * 1000.0; ++done) {
        cycle();
        heapAfter.push_back(heapInUse());
    }
    const double seconds = millisecondsSince(t0) / 1000.0;
    ::malloc_trim(0);
    const Usage after = usageNow();
    const size_t halfHeap = heapAfter.empty() ? before.heap : heapAfter[heapAfter.size() / 2];
    const long long heapGrowth =
        static_cast<long long>(after.heap) - static_cast<long long>(before.heap);
    const long long rssGrowth =
        static_cast<long long>(after.rss) - static_cast<long long>(before.rss);
    const long long secondHalf =
        static_cast<long long>(after.heap) - static_cast<long long>(halfHeap);
    r.reason = std::to_string(done) + " cycles of load, effOpen, effClose, unload in " +
               fixed(seconds, 2) + " s; heap " + (heapGrowth >= 0 ? "+" : "") + kib(heapGrowth) +
               ", resident " + (rssGrowth >= 0 ? "+" : "") + kib(rssGrowth) + " after " +
               std::to_string(warmUp) + " warm-up cycles";
    if (done < c.cycles)
        r.notes.push_back("only " + std::to_string(done) + " of " + std::to_string(c.cycles) +
                          " cycles fit in " + fixed(budget, 0) + " s (" +
                          fixed(seconds * 1000.0 / std::max(done, 1), 0) + " ms a cycle)");
    r.notes.push_back("heap in use " + kib(static_cast<long long>(before.heap)) + " -> " +
                      kib(static_cast<long long>(after.heap)) + ", resident " +
                      kib(static_cast<long long>(before.rss)) + " -> " +
                      kib(static_cast<long long>(after.rss)) + ", threads " +
                      std::to_string(before.threads) + " -> " + std::to_string(after.threads));
    // A leak grows with the cycles, in both halves. Up to 16 bytes a cycle (8 KiB at
    // least) is noise of the loader; up to 64 a warning; more fails.
    const long long perCycle = heapGrowth / std::max(done, 1);
    const std::string growth = "heap +" + kib(heapGrowth) + " over " + std::to_string(done) +
                               " cycles (" + std::to_string(perCycle) + " bytes a cycle)";
    if (heapGrowth > std::max<long long>(8 * 1024, 16LL * done) && secondHalf > 0) {
        if (heapGrowth > std::max<long long>(16 * 1024, 64LL * done) && secondHalf > heapGrowth / 8)
            raise(r, CheckStatus::Fail, "memory grows: " + growth);
        else
            raise(r, CheckStatus::Warn, "memory grows a little: " + growth);
    }
    // Under a sanitizer resident memory holds its quarantine and shadow: not the plug-in's.
    const bool sanitizer = __sanitizer_get_current_allocated_bytes != nullptr;
    const long long rssLimit = std::max<long long>(8LL << 20, 4096LL * done);
    if (rssGrowth > rssLimit && !sanitizer)
        raise(r, CheckStatus::Fail, "resident memory grows by " + kib(rssGrowth));
    if (after.threads > before.threads)
        raise(r, CheckStatus::Fail,
              "threads left running after unload: " + std::to_string(before.threads) + " -> " +
                  std::to_string(after.threads));
    return {r};
}

// ---- identity and texts ----

std::vector<CheckResult> textsGroup(const CheckContext& c) {
    CheckResult id = result("identity");
    CheckResult params = result("parameter-texts");
    CheckResult progs = result("program-texts");
    stage("identity");
    Plugin plug = openPlugin(c.path);
    const vst::AEffect& e = plug.effect();

    // Identity: names through buffers of several sizes, numbers, capabilities.
    std::vector<std::string> shown;
    for (const check::TextKind* kind :
         {&check::effectNameKind(), &check::vendorKind(), &check::productKind()}) {
        TextAudit audit(*kind);
        const check::TextProbe probe = probeText(plug, *kind, 0);
        audit.add(probe, "the text");
        audit.judge(id);
        shown.push_back(probe.extent == 0 ? std::string("(none)") : quoted(probe.text));
    }
    const intptr_t category = plug.dispatch(vst::effGetPlugCategory);
    const intptr_t vstVersion = plug.dispatch(vst::effGetVstVersion);
    const intptr_t vendorVersion = plug.dispatch(vst::effGetVendorVersion);
    if (category < 0 || category > 11)
        raise(id, CheckStatus::Warn,
              "effGetPlugCategory answers " + std::to_string(category) + ", not a category");
    for (const char* can :
         {"sendVstEvents", "sendVstMidiEvent", "receiveVstEvents", "receiveVstMidiEvent",
          "receiveVstTimeInfo", "offline", "bypass", "", "an unknown capability"}) {
        const intptr_t a = plug.canDo(can);
        if (a < -1 || a > 1)
            raise(id, CheckStatus::Warn,
                  std::string("effCanDo \"") + can + "\" answers " + std::to_string(a) +
                      " (expected -1, 0 or 1)");
    }
    char uid[5] = {};
    for (int i = 0; i < 4; ++i) {
        const char ch =
            static_cast<char>((static_cast<uint32_t>(e.uniqueID) >> (24 - 8 * i)) & 0xFF);
        uid[i] = (ch >= 0x20 && ch < 0x7F) ? ch : '.';
    }
    if (e.uniqueID == 0)
        raise(id, CheckStatus::Warn, "unique ID is 0");
    if (id.reason.empty())
        id.reason = "name " + shown[0] + ", vendor " + shown[1] + ", product " + shown[2] +
                    ", ID '" + uid + "', category " + std::to_string(category) + ", VST version " +
                    std::to_string(vstVersion) + ", vendor version " +
                    std::to_string(vendorVersion);

    // Parameters: every text of every parameter, in buffers of each size.
    const int n = paramCount(plug);
    TextAudit names(check::paramNameKind()), labels(check::paramLabelKind()),
        displays(check::paramDisplayKind());
    for (int i = 0; i < n; ++i) {
        const std::string subject = "parameter " + std::to_string(i);
        stage("parameter-texts: " + subject);
        names.add(probeText(plug, check::paramNameKind(), i), subject);
        labels.add(probeText(plug, check::paramLabelKind(), i), subject);
        displays.add(probeText(plug, check::paramDisplayKind(), i), subject);
        plug.dispatch(vst::effCanBeAutomated, i);
    }
    names.judge(params);
    labels.judge(params);
    displays.judge(params);
    // Indices just outside the range must not crash; writing there is merely noted.
    for (int i : {-1, n}) {
        for (const check::TextKind* kind : {&check::paramNameKind(), &check::paramDisplayKind()}) {
            const check::TextProbe p = probeText(plug, *kind, i);
            if (p.extent > 0)
                params.notes.push_back(std::string("INFO: ") + kind->label + " answers index " +
                                       std::to_string(i) + " (outside 0.." + std::to_string(n - 1) +
                                       ") with " + quoted(p.text));
        }
        (void)plug.getParameter(i);
    }
    if (params.reason.empty())
        params.reason = n == 0
                            ? "no parameters"
                            : count(n, "parameter") + ": names, labels and value texts fit every "
                                                      "buffer that must hold them";

    // Programs: names by index, and each program selected in turn.
    const int m = programCount(plug);
    TextAudit indexed(check::programNameIndexedKind()), current(check::programNameKind());
    for (int i = 0; i < m; ++i)
        indexed.add(probeText(plug, check::programNameIndexedKind(), i, -1),
                    "program " + std::to_string(i));
    const intptr_t initial = plug.dispatch(vst::effGetProgram);
    for (int i = 0; i < m; ++i) {
        stage("program-texts: program " + std::to_string(i));
        plug.dispatch(vst::effBeginSetProgram);
        plug.dispatch(vst::effSetProgram, 0, i);
        plug.dispatch(vst::effEndSetProgram);
        const intptr_t now = plug.dispatch(vst::effGetProgram);
        if (now != i)
            raise(progs, CheckStatus::Fail,
                  "effGetProgram answers " + std::to_string(now) + " after effSetProgram " +
                      std::to_string(i));
        current.add(probeText(plug, check::programNameKind(), 0), "program " + std::to_string(i));
    }
    if (m > 0) {
        plug.dispatch(vst::effSetProgram, 0, initial >= 0 && initial < m ? initial : 0);
    }
    indexed.judge(progs);
    current.judge(progs);
    if (progs.reason.empty())
        progs.reason = m == 0 ? "no programs"
                              : count(m, "program") +
                                    ": selected in turn, names fit every buffer that "
                                    "must hold them";
    return {id, params, progs};
}

// ---- processing and events ----

std::vector<int32_t> randomMix(Rng& rng, int count) {
    std::vector<int32_t> out;
    for (int i = 0; i < count; ++i) {
        const int pick = rng.range(0, 9);
        out.push_back(pick == 0 ? 0 : pick < 4 ? rng.range(1, 32) : rng.range(1, 4096));
    }
    return out;
}

std::vector<CheckResult> processingGroup(const CheckContext& c) {
    CheckResult replacing = result("process-replacing");
    CheckResult accumulating = result("process");
    CheckResult events = result("events");
    Rng rng(c.seed, "processing");
    Plugin plug = openPlugin(c.path);
    EventAudit audit;
    BlockRunner runner(plug, audit, c.seed);
    const bool hasProcess = plug.effect().process != nullptr;
    const bool hasReplacing = plug.effect().processReplacing != nullptr;
    const std::vector<int32_t> lengths = {0, 1, 64, 128, 256, 512, 1024, 4096};
    const std::vector<int32_t> mix = randomMix(rng, 48);
    int64_t samples = 0;
    for (float rate : {44100.0f, 48000.0f, 96000.0f}) {
        for (bool useReplacing : {true, false}) {
            if (useReplacing ? !hasReplacing : !hasProcess)
                continue;
            std::string& problem = runner.problem;
            for (int32_t frames : lengths) {
                stage(std::string(useReplacing ? "processReplacing" : "process") + " at " +
                      formatFloat(rate) + " Hz, blocks of " + std::to_string(frames));
                plug.suspend();
                plug.setSampleRate(rate);
                plug.setBlockSize(std::max(frames, 1));
                plug.resume();
                // A quarter of a second at least, and a few blocks.
                const int64_t count =
                    frames == 0 ? 16
                                : std::max<int64_t>(4, static_cast<int64_t>(rate / 4) / frames);
                // Heavy plug-ins (convolution with tiny blocks) get 5 s for each length.
                const auto started = Clock::now();
                for (int64_t b = 0; b < count && millisecondsSince(started) < 5000.0; ++b) {
                    runner.run(useReplacing, frames);
                    samples += frames;
                }
                if (!problem.empty()) {
                    problem += " (at " + formatFloat(rate) + " Hz, blocks of " +
                               std::to_string(frames) + ")";
                    break;
                }
            }
            stage(std::string(useReplacing ? "processReplacing" : "process") + " at " +
                  formatFloat(rate) + " Hz, blocks of random lengths");
            plug.suspend();
            plug.setBlockSize(4096);
            plug.resume();
            for (int32_t frames : mix) {
                runner.run(useReplacing, frames);
                samples += frames;
            }
            CheckResult& r = useReplacing ? replacing : accumulating;
            if (!problem.empty() && r.status != CheckStatus::Fail) {
                raise(r, CheckStatus::Fail, problem);
                problem.clear();
            }
        }
    }
    plug.suspend();
    for (CheckResult* r : {&replacing, &accumulating}) {
        const bool has = r == &replacing ? hasReplacing : hasProcess;
        if (!has) {
            r->status = CheckStatus::Skip;
            r->reason = "the record has no such entry function";
        } else if (r->reason.empty()) {
            r->reason = "44100, 48000 and 96000 Hz, blocks of 0, 1, 64, 128, 256, 512, 1024, "
                        "4096 and 48 random lengths: outputs finite, nothing written past the "
                        "block";
        }
    }
    if (audit.total() == 0) {
        events.status = CheckStatus::Skip;
        events.reason = "sent no events in " + std::to_string(runner.blocks) + " blocks";
    } else {
        judgeEvents(events, audit);
        if (events.reason.empty())
            events.reason = std::to_string(audit.total()) + " events in " +
                            std::to_string(runner.blocks) + " blocks (" + std::to_string(samples) +
                            " samples): all inside processing, offsets 0..N-1 in order, "
                            "well-formed MIDI";
    }
    return {replacing, accumulating, events};
}

// ---- automation and parameter fuzzing ----

bool inUnit(float v) {
    return std::isfinite(v) && v >= 0.0f && v <= 1.0f;
}

std::vector<CheckResult> automationGroup(const CheckContext& c) {
    CheckResult r = result("automation");
    Rng rng(c.seed, "automation");
    Plugin plug = openPlugin(c.path);
    const int n = paramCount(plug);
    EventAudit audit;
    BlockRunner runner(plug, audit, c.seed);
    plug.setSampleRate(44100.0f);
    plug.setBlockSize(32);
    plug.resume();
    const int blocks = c.quick ? 2000 : 8000;
    int changes = 0;
    for (int b = 0; b < blocks && runner.problem.empty(); ++b) {
        stage("automation: block " + std::to_string(b));
        if (n > 0 && rng.range(0, 1) == 0) {
            const int k = rng.range(1, 3);
            for (int j = 0; j < k; ++j) {
                const int index = rng.range(0, n - 1);
                const float v = rng.value01();
                plug.setParameter(index, v);
                ++changes;
                const float got = plug.getParameter(index);
                if (!inUnit(got))
                    raise(r, CheckStatus::Fail,
                          "parameter " + std::to_string(index) + " set to " + formatFloat(v) +
                              " answers " + formatFloat(got));
            }
        }
        runner.run(b % 2 == 0 || plug.effect().process == nullptr, 32);
    }
    plug.suspend();
    if (!runner.problem.empty())
        raise(r, CheckStatus::Fail, runner.problem);
    judgeEvents(r, audit);
    if (r.reason.empty())
        r.reason = std::to_string(changes) + " random parameter changes between " +
                   std::to_string(runner.blocks) + " blocks of 32 samples; " +
                   std::to_string(audit.total()) + " events, all well-formed";
    return {r};
}

std::vector<CheckResult> fuzzGroup(const CheckContext& c) {
    CheckResult r = result("parameter-fuzz");
    Rng rng(c.seed, "parameter-fuzz");
    Plugin plug = openPlugin(c.path);
    const int n = paramCount(plug);
    if (n == 0) {
        r.status = CheckStatus::Skip;
        r.reason = "no parameters";
        return {r};
    }
    EventAudit audit;
    BlockRunner runner(plug, audit, c.seed);
    plug.setSampleRate(44100.0f);
    plug.setBlockSize(64);
    plug.resume();
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Odd {
        const char* name;
        float value;
    };
    const Odd odd[] = {{"NaN", nan},      {"+inf", inf}, {"-inf", -inf},
                       {"-1", -1.0f},     {"2", 2.0f},   {"1e30", 1e30f},
                       {"-1e30", -1e30f}, {"-0", -0.0f}, {"1e-40", 1e-40f}};
    // What getParameter answers after an out-of-range set: counted per value and kind.
    std::map<std::string, std::map<std::string, int>> answers;
    int sets = 0, roundTrips = 0, unstable = 0, textTrips = 0, textMismatch = 0;
    bool string2Offered = false;
    std::string unstableExample, mismatchExample;
    TextAudit displays(check::paramDisplayKind());
    char textBuf[512];
    // Plug-ins with hundreds of parameters get as many as fit in the budget.
    const double budget = c.quick ? 60.0 : 180.0;
    const auto started = Clock::now();
    int fuzzed = 0;
    for (int i = 0; i < n && millisecondsSince(started) < budget * 1000.0; ++i, ++fuzzed) {
        const float original = plug.getParameter(i);
        std::vector<float> inRange = {0.0f, 1.0f, 0.5f};
        for (int k = 0; k < 5; ++k)
            inRange.push_back(static_cast<float>(rng.uniform()));
        for (float v : inRange) {
            stage("parameter-fuzz: parameter " + std::to_string(i) + " set to " + formatFloat(v));
            plug.setParameter(i, v);
            ++sets;
            const float got = plug.getParameter(i);
            displays.add(probeText(plug, check::paramDisplayKind(), i),
                         "parameter " + std::to_string(i) + " at " + formatFloat(v));
            if (!inUnit(got)) {
                raise(r, CheckStatus::Fail,
                      "parameter " + std::to_string(i) + " set to " + formatFloat(v) + " answers " +
                          formatFloat(got) + " (not in 0..1)");
                continue;
            }
            // Setting what it answered keeps the value and the text (as restoring a state
            // does).
            const std::string text = plug.text(vst::effGetParamDisplay, i);
            plug.setParameter(i, got);
            const float again = plug.getParameter(i);
            ++roundTrips;
            if (std::fabs(again - got) > 1e-6f || plug.text(vst::effGetParamDisplay, i) != text) {
                if (unstable++ == 0)
                    unstableExample = "parameter " + std::to_string(i) + ": " + formatFloat(got) +
                                      " set again answers " + formatFloat(again);
            }
            // effString2Parameter with the value's own text, where offered.
            std::snprintf(textBuf, sizeof textBuf, "%s", text.c_str());
            if (plug.dispatch(vst::effString2Parameter, i, 0, textBuf) != 0) {
                string2Offered = true;
                ++textTrips;
                const float parsed = plug.getParameter(i);
                if (!inUnit(parsed) || plug.text(vst::effGetParamDisplay, i) != text) {
                    if (textMismatch++ == 0)
                        mismatchExample = "parameter " + std::to_string(i) + ": text " +
                                          quoted(text) + " reads back as " +
                                          quoted(plug.text(vst::effGetParamDisplay, i));
                }
            }
        }
        for (const Odd& o : odd) {
            stage("parameter-fuzz: parameter " + std::to_string(i) + " set to " + o.name +
                  ", then a block");
            plug.setParameter(i, o.value);
            ++sets;
            const float got = plug.getParameter(i);
            const std::string kind = std::isnan(got)       ? "NaN"
                                     : !std::isfinite(got) ? "infinite"
                                     : inUnit(got)         ? "0..1"
                                                           : "outside 0..1";
            ++answers[o.name][kind];
            displays.add(probeText(plug, check::paramDisplayKind(), i),
                         "parameter " + std::to_string(i) + " at " + o.name);
            runner.run(true, 64);
        }
        plug.setParameter(i, inUnit(original) ? original : 0.5f);
    }
    plug.suspend();
    if (fuzzed < n)
        r.notes.push_back("only " + std::to_string(fuzzed) + " of " + std::to_string(n) +
                          " parameters fit in " + fixed(budget, 0) + " s");
    displays.judge(r);
    judgeEvents(r, audit);
    if (!runner.problem.empty())
        r.notes.push_back("INFO: after out-of-range values: " + runner.problem);
    for (const auto& [value, kinds] : answers) {
        std::string line = "INFO: set to " + value + ", getParameter answers";
        const char* sep = " ";
        for (const auto& [kind, number] : kinds) {
            line += sep + kind + " for " + std::to_string(number);
            sep = ", ";
        }
        r.notes.push_back(line + " of " + std::to_string(n) + " parameters");
    }
    if (unstable > 0) {
        r.notes.push_back("WARN: " + std::to_string(unstable) + " of " +
                          std::to_string(roundTrips) + " values change when set again (" +
                          unstableExample + ")");
        raise(r, CheckStatus::Warn, "values change when set again: " + unstableExample);
    }
    r.notes.push_back(string2Offered
                          ? "effString2Parameter: " + std::to_string(textTrips) +
                                " text round trips, " + std::to_string(textMismatch) + " differ" +
                                (textMismatch ? " (" + mismatchExample + ")" : "")
                          : "effString2Parameter: not offered");
    if (textMismatch > 0)
        raise(r, CheckStatus::Warn, "text round trips differ: " + mismatchExample);
    if (r.reason.empty())
        r.reason = std::to_string(sets) + " sets over " + std::to_string(fuzzed) +
                   (fuzzed < n ? " of " + std::to_string(n) : std::string()) +
                   " parameters (8 in range, NaN, +-inf, -1, 2, +-1e30, -0, 1e-40 each): "
                   "in-range values answer 0..1 and keep their value and text when set again";
    return {r};
}

// ---- programs ----

std::vector<CheckResult> programsGroup(const CheckContext& c) {
    CheckResult r = result("programs");
    Rng rng(c.seed, "programs");
    Plugin plug = openPlugin(c.path);
    const int m = programCount(plug);
    if (m == 0) {
        r.status = CheckStatus::Skip;
        r.reason = "no programs";
        return {r};
    }
    EventAudit audit;
    BlockRunner runner(plug, audit, c.seed);
    plug.setSampleRate(44100.0f);
    plug.setBlockSize(256);
    plug.resume();
    // Switching while running, in order and at random.
    int switches = 0;
    for (int k = 0; k < std::max(2 * m, 64); ++k) {
        const int p = k < m ? k : rng.range(0, m - 1);
        stage("programs: switching to program " + std::to_string(p));
        plug.dispatch(vst::effBeginSetProgram);
        plug.dispatch(vst::effSetProgram, 0, p);
        plug.dispatch(vst::effEndSetProgram);
        ++switches;
        const intptr_t now = plug.dispatch(vst::effGetProgram);
        if (now != p)
            raise(r, CheckStatus::Fail,
                  "effGetProgram answers " + std::to_string(now) + " after switching to " +
                      std::to_string(p));
        runner.run(true, 256);
    }
    // Names of every length, the over-long ones included.
    TextAudit names(check::programNameKind());
    int renamed = 0, keptWhole = 0, shortNames = 0;
    std::string notKept;
    for (size_t length : {0u, 1u, 7u, 8u, 23u, 24u, 25u, 31u, 32u, 63u, 64u, 100u, 255u, 1000u}) {
        std::string name;
        for (size_t i = 0; i < length; ++i)
            name += static_cast<char>('a' + (i % 26));
        std::vector<char> given(name.begin(), name.end());
        given.push_back('\0');
        const std::vector<char> copy = given;
        stage("programs: a name of " + std::to_string(length) + " characters");
        plug.dispatch(vst::effSetProgramName, 0, 0, given.data());
        ++renamed;
        if (given != copy)
            raise(r, CheckStatus::Warn, "effSetProgramName changed the host's text");
        const check::TextProbe back = probeText(plug, check::programNameKind(), 0);
        names.add(back, std::to_string(length) + "-character name");
        if (length <= 23) {
            ++shortNames;
            if (back.text == name)
                ++keptWhole;
            else if (notKept.empty())
                notKept = quoted(name) + " reads back as " + quoted(back.text);
        }
        runner.run(true, 256);
        for (int i = 0; i < paramCount(plug); ++i) {
            if (!inUnit(plug.getParameter(i))) {
                raise(r, CheckStatus::Fail,
                      "after renaming, parameter " + std::to_string(i) + " answers " +
                          formatFloat(plug.getParameter(i)));
                break;
            }
        }
    }
    plug.suspend();
    names.judge(r);
    judgeEvents(r, audit);
    if (!runner.problem.empty())
        raise(r, CheckStatus::Fail, runner.problem);
    r.notes.push_back("names of up to 23 characters read back whole: " + std::to_string(keptWhole) +
                      " of " + std::to_string(shortNames) +
                      (notKept.empty() ? std::string() : " (" + notKept + ")"));
    if (r.reason.empty())
        r.reason = std::to_string(switches) + " program switches while processing; " +
                   std::to_string(renamed) +
                   " names of 0 to 1000 characters: nothing written past a buffer";
    return {r};
}

// ---- switching off and on ----

std::vector<CheckResult> switchingGroup(const CheckContext& c) {
    CheckResult r = result("switching");
    Plugin plug = openPlugin(c.path);
    EventAudit audit;
    BlockRunner runner(plug, audit, c.seed);
    plug.setSampleRate(44100.0f);
    plug.setBlockSize(512);
    int cycles = 0;
    stage("switching: off and on");
    for (int i = 0; i < 50; ++i) {
        plug.resume();
        runner.run(true, 512);
        plug.suspend();
        ++cycles;
    }
    // Told twice, as some hosts do.
    plug.resume();
    plug.resume();
    runner.run(true, 512);
    plug.suspend();
    plug.suspend();
    int changes = 0;
    for (float rate :
         {22050.0f, 32000.0f, 44100.0f, 48000.0f, 88200.0f, 96000.0f, 176400.0f, 192000.0f}) {
        for (int32_t block : {16, 100, 512, 1024, 8192}) {
            stage("switching: " + formatFloat(rate) + " Hz, blocks of " + std::to_string(block));
            plug.setSampleRate(rate);
            plug.setBlockSize(block);
            plug.resume();
            ++changes;
            const int64_t count = std::max<int64_t>(2, static_cast<int64_t>(rate / 10) / block);
            for (int64_t b = 0; b < count; ++b)
                runner.run(true, block);
            runner.run(true, block / 2); // a shorter block than announced
            plug.suspend();
            if (!runner.problem.empty()) {
                raise(r, CheckStatus::Fail,
                      runner.problem + " (after switching to " + formatFloat(rate) +
                          " Hz, blocks of " + std::to_string(block) + ")");
                break;
            }
        }
    }
    judgeEvents(r, audit);
    if (r.reason.empty())
        r.reason = std::to_string(cycles) + " off/on cycles, double on and off, and " +
                   std::to_string(changes) +
                   " changes of sample rate (22050..192000 Hz) and block size (16..8192) "
                   "while off";
    return {r};
}

// ---- threads ----

std::vector<CheckResult> threadsGroup(const CheckContext& c) {
    CheckResult r = result("thread-safety");
    Rng rng(c.seed, "thread-safety");
    Plugin plug = openPlugin(c.path);
    const int n = paramCount(plug);
    const int m = programCount(plug);
    plug.setSampleRate(44100.0f);
    plug.setBlockSize(64);
    plug.resume();
    EventAudit audit;
    stage("thread-safety: processing on one thread, parameters and texts on another");
    std::atomic<bool> stop{false};
    std::string audioProblem;
    int64_t blocks = 0;
    std::thread audio([&] {
        BlockRunner runner(plug, audit, c.seed);
        while (!stop.load(std::memory_order_relaxed)) {
            runner.run(true, 64);
        }
        blocks = runner.blocks;
        audioProblem = runner.problem;
    });
    const auto end =
        Clock::now() + std::chrono::milliseconds(static_cast<int64_t>(c.threadSeconds * 1000));
    int64_t sets = 0, texts = 0;
    TextAudit displays(check::paramDisplayKind()), names(check::paramNameKind()),
        labels(check::paramLabelKind()), programs(check::programNameKind());
    while (Clock::now() < end) {
        if (n > 0) {
            const int i = rng.range(0, n - 1);
            plug.setParameter(i, rng.value01());
            ++sets;
            const float got = plug.getParameter(i);
            if (!inUnit(got))
                raise(r, CheckStatus::Fail,
                      "parameter " + std::to_string(i) + " answers " + formatFloat(got));
            const std::string subject = "parameter " + std::to_string(i);
            displays.add(probeText(plug, check::paramDisplayKind(), i), subject);
            names.add(probeText(plug, check::paramNameKind(), i), subject);
            labels.add(probeText(plug, check::paramLabelKind(), i), subject);
            texts += 3;
        }
        if (m > 0) {
            programs.add(probeText(plug, check::programNameKind(), 0), "the program");
            ++texts;
        }
        if (n == 0 && m == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    stop = true;
    audio.join();
    plug.suspend();
    // Only texts that break a buffer count here; their lengths are parameter-texts' business.
    CheckResult textResult = result("texts");
    for (const TextAudit* a : {&displays, &names, &labels, &programs})
        a->judge(textResult);
    if (textResult.status == CheckStatus::Fail) {
        raise(r, CheckStatus::Fail, textResult.reason);
        for (const std::string& n : textResult.notes)
            if (n.rfind("FAIL", 0) == 0)
                r.notes.push_back(n);
    }
    if (!audioProblem.empty())
        raise(r, CheckStatus::Fail, audioProblem);
    judgeEvents(r, audit);
    {
        const std::string summary = fixed(c.threadSeconds, 1) + " s: " + std::to_string(blocks) +
                                    " blocks on one thread while another made " +
                                    std::to_string(sets) + " parameter changes and read " +
                                    std::to_string(texts) + " texts";
        if (r.reason.empty())
            r.reason = summary;
        else
            r.notes.push_back(summary);
    }
    return {r};
}

// ---- locale ----

std::string localeState() {
    const char* all = std::setlocale(LC_ALL, nullptr);
    const char* numeric = std::setlocale(LC_NUMERIC, nullptr);
    const lconv* lc = std::localeconv();
    std::string s = std::string("LC_ALL=") + (all ? all : "(null)") +
                    " LC_NUMERIC=" + (numeric ? numeric : "(null)") + " decimal point " +
                    quoted(lc && lc->decimal_point ? lc->decimal_point : "");
    s += ::uselocale(nullptr) == LC_GLOBAL_LOCALE ? "" : " (thread locale set)";
    return s;
}

std::vector<CheckResult> localeGroup(const CheckContext& c) {
    CheckResult r = result("locale");
    // As a host that honours the user's settings runs: the environment's locale, if any.
    std::setlocale(LC_ALL, "");
    const std::string before = localeState();
    stage("locale");
    {
        Plugin plug = openPlugin(c.path);
        const int n = paramCount(plug);
        for (int i = 0; i < n; ++i) {
            plug.text(vst::effGetParamName, i);
            plug.text(vst::effGetParamDisplay, i);
            plug.text(vst::effGetParamLabel, i);
        }
        plug.text(vst::effGetEffectName);
        plug.text(vst::effGetProgramName);
        plug.setSampleRate(48000.0f);
        plug.setBlockSize(256);
        plug.resume();
        AudioBuffers audio(plug.effect().numInputs, plug.effect().numOutputs, c.seed);
        for (int b = 0; b < 64; ++b) {
            audio.prepare(256);
            plug.processReplacing(audio.inputs(), audio.outputs(), 256);
        }
        plug.suspend();
        if (localeState() != before)
            raise(r, CheckStatus::Fail, "changed while open: " + before + " -> " + localeState());
        plug.close();
    }
    const std::string after = localeState();
    if (after != before)
        raise(r, CheckStatus::Fail, "changed: " + before + " -> " + after);
    if (r.reason.empty())
        r.reason = "unchanged through load, texts, processing, close and unload (" + before + ")";
    return {r};
}

} // namespace

std::vector<CheckGroup> checkGroups() {
    std::vector<CheckGroup> groups;
    groups.push_back({{"open-cold", "open-warm"}, openGroup, false, nullptr});
    groups.push_back({{"open-close-cycles"}, cyclesGroup, false, nullptr});
    groups.push_back(
        {{"identity", "parameter-texts", "program-texts"}, textsGroup, false, nullptr});
    groups.push_back({{"process-replacing", "process", "events"}, processingGroup, false, nullptr});
    groups.push_back({{"automation"}, automationGroup, false, nullptr});
    groups.push_back({{"parameter-fuzz"}, fuzzGroup, false, nullptr});
    groups.push_back({{"programs"}, programsGroup, false, nullptr});
    groups.push_back({{"switching"}, switchingGroup, false, nullptr});
    groups.push_back({{"thread-safety"}, threadsGroup, false, nullptr});
    groups.push_back(realtimeGroup());
    groups.push_back({{"locale"}, localeGroup, false, nullptr});
    return groups;
}

} // namespace quill
