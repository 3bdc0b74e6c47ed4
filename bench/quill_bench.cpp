// Benchmarks of the plug-in module, loaded with dlopen and driven through its effect record as a
// host drives it. Each measurement runs beside its reference in the same binary, so that their
// ratio holds on a noisy machine too.
#include "alloc_counter.h"
#include "host_stub.h"
#include "plugin_loader.h"
#include "scenarios.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

using bench::Effect;
using bench::PluginModule;

constexpr std::int32_t kDenseBlock = 1024;
constexpr float kDenseRate = 44100.0f;

// Closes the instance when the benchmark ends, before its module is unloaded.
struct Closer {
    Effect* effect;
    ~Closer() {
        if (effect != nullptr) {
            bench::closeEffect(effect);
        }
    }
};

bool loaded(benchmark::State& state, const PluginModule& module) {
    if (!module.ok()) {
        state.SkipWithError(module.error());
        return false;
    }
    return true;
}

// One processReplacing call through a record, the way a host makes it every block.
inline void processThrough(Effect* effect, std::int32_t length) {
    benchmark::DoNotOptimize(effect);
    effect->processReplacing(effect, bench::kNoBuffers, bench::kNoBuffers, length);
}

// Event lists the benchmark's loop produced, as notes per block.
void reportNotesPerBlock(benchmark::State& state, std::uint64_t eventListsBefore) {
    const double notes = static_cast<double>(quill_bench_event_lists - eventListsBefore) / 2.0;
    state.counters["notes_per_block"] =
        benchmark::Counter(notes / static_cast<double>(state.iterations()));
}

// ---- 1. A block without a note, against a processing function that returns at once ----------

void BM_EmptyBlock(benchmark::State& state) {
    PluginModule module(bench::modulePath());
    if (!loaded(state, module)) {
        return;
    }
    Closer instance{bench::makeQuietInstance(module, 44100.0f)};
    if (instance.effect == nullptr) {
        state.SkipWithError("could not set up an instance without notes");
        return;
    }
    const auto length = static_cast<std::int32_t>(state.range(0));
    const std::uint64_t before = quill_bench_event_lists;
    for (auto _ : state) {
        processThrough(instance.effect, length);
    }
    reportNotesPerBlock(state, before);
}
BENCHMARK(BM_EmptyBlock)->ArgName("block")->Arg(32)->Arg(1024)->Arg(8192);

void BM_EmptyBlockReference(benchmark::State& state) {
    Effect* record = bench::emptyRecord();
    const auto length = static_cast<std::int32_t>(state.range(0));
    for (auto _ : state) {
        processThrough(record, length);
    }
}
BENCHMARK(BM_EmptyBlockReference)->ArgName("block")->Arg(32)->Arg(1024)->Arg(8192);

// ---- 2. Notes at the densest setting, against two host calls and two draws per note ----------

// Counter whose value is nanoseconds per `items`, from the loop's time.
benchmark::Counter nanosecondsPer(double items) {
    return benchmark::Counter(items * 1e-9,
                              benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_DenseNotes(benchmark::State& state) {
    PluginModule module(bench::modulePath());
    if (!loaded(state, module)) {
        return;
    }
    Closer instance{bench::makeDenseInstance(module, kDenseRate, kDenseBlock)};
    if (instance.effect == nullptr) {
        state.SkipWithError("could not set up a dense instance");
        return;
    }
    const std::uint64_t before = quill_bench_event_lists;
    for (auto _ : state) {
        processThrough(instance.effect, kDenseBlock);
    }
    const double notes = static_cast<double>(quill_bench_event_lists - before) / 2.0;
    reportNotesPerBlock(state, before);
    state.counters["ns_per_note"] = nanosecondsPer(notes);
}
BENCHMARK(BM_DenseNotes);

void BM_DenseNotesReference(benchmark::State& state) {
    // As many notes per iteration as a dense block carries: a note every 10 samples.
    constexpr std::int32_t kNotes = kDenseBlock / 10;
    Effect* record = bench::emptyRecord();
    for (auto _ : state) {
        benchmark::DoNotOptimize(record);
        benchmark::DoNotOptimize(bench::referenceNotes(record, quill_bench_host, kNotes));
    }
    state.counters["notes_per_block"] = benchmark::Counter(kNotes);
    state.counters["ns_per_note"] =
        nanosecondsPer(static_cast<double>(kNotes) * static_cast<double>(state.iterations()));
}
BENCHMARK(BM_DenseNotesReference);

// ---- 1 and 2 paired: the plug-in and its reference in alternating chunks ---------------------
//
// On a shared machine the load changes from one second to the next, so two benchmarks that run
// one after the other can see different machines. Here every iteration times one chunk of the
// plug-in's work and one chunk of the reference's, back to back and in alternating order, and
// the figure is the median over all chunks of the ratio of the two: a chunk pair that another
// process interrupted is an outlier that the median leaves out.

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double>& values) {
    if (values.empty()) {
        return 0.0;
    }
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

// Times `plugin` and `reference` in turns, each answering the number of units it ran, and
// reports the median time per unit of each and the median of their ratios.
template <typename Plugin, typename Reference>
void runPaired(benchmark::State& state, Plugin plugin, Reference reference) {
    std::vector<double> pluginSeconds;
    std::vector<double> referenceSeconds;
    std::vector<double> ratios;
    bool pluginFirst = true;
    for (auto _ : state) {
        double perPluginUnit = 0.0;
        double perReferenceUnit = 0.0;
        for (int turn = 0; turn < 2; ++turn) {
            const bool runPlugin = (turn == 0) == pluginFirst;
            const auto start = std::chrono::steady_clock::now();
            const double units = runPlugin ? plugin() : reference();
            const double perUnit = secondsSince(start) / units;
            (runPlugin ? perPluginUnit : perReferenceUnit) = perUnit;
        }
        pluginFirst = !pluginFirst;
        pluginSeconds.push_back(perPluginUnit);
        referenceSeconds.push_back(perReferenceUnit);
        ratios.push_back(perPluginUnit / perReferenceUnit);
    }
    state.counters["plugin_ns"] = benchmark::Counter(median(pluginSeconds) * 1e9);
    state.counters["reference_ns"] = benchmark::Counter(median(referenceSeconds) * 1e9);
    state.counters["ratio"] = benchmark::Counter(median(ratios));
}

void BM_EmptyBlockPaired(benchmark::State& state) {
    constexpr int kCalls = 4000;
    PluginModule module(bench::modulePath());
    if (!loaded(state, module)) {
        return;
    }
    Closer instance{bench::makeQuietInstance(module, 44100.0f)};
    if (instance.effect == nullptr) {
        state.SkipWithError("could not set up an instance without notes");
        return;
    }
    const auto length = static_cast<std::int32_t>(state.range(0));
    Effect* record = bench::emptyRecord();
    runPaired(
        state,
        [&] {
            for (int call = 0; call < kCalls; ++call) {
                processThrough(instance.effect, length);
            }
            return static_cast<double>(kCalls);
        },
        [&] {
            for (int call = 0; call < kCalls; ++call) {
                processThrough(record, length);
            }
            return static_cast<double>(kCalls);
        });
}
BENCHMARK(BM_EmptyBlockPaired)->ArgName("block")->Arg(32)->Arg(1024)->Arg(8192);

void BM_DenseNotesPaired(benchmark::State& state) {
    constexpr std::int32_t kBlocks = 4;
    constexpr std::int32_t kNotes = kBlocks * kDenseBlock / 10;
    PluginModule module(bench::modulePath());
    if (!loaded(state, module)) {
        return;
    }
    Closer instance{bench::makeDenseInstance(module, kDenseRate, kDenseBlock)};
    if (instance.effect == nullptr) {
        state.SkipWithError("could not set up a dense instance");
        return;
    }
    Effect* record = bench::emptyRecord();
    runPaired(
        state,
        [&] {
            const std::uint64_t before = quill_bench_event_lists;
            for (std::int32_t block = 0; block < kBlocks; ++block) {
                processThrough(instance.effect, kDenseBlock);
            }
            return static_cast<double>(quill_bench_event_lists - before) / 2.0;
        },
        [&] {
            benchmark::DoNotOptimize(record);
            benchmark::DoNotOptimize(bench::referenceNotes(record, quill_bench_host, kNotes));
            return static_cast<double>(kNotes);
        });
}
BENCHMARK(BM_DenseNotesPaired);

// The worst block at the densest setting in a small real-time block: 64 samples at 96 kHz last
// 666.7 us. Every block is timed on its own, by the thread's CPU clock and by the wall clock, and
// so is, right after it, a call of the reference processing function that returns at once: the
// reference's worst shows what the machine itself adds (interrupts, other processes, the
// hypervisor). The clock reads are counted in, so the figures are upper bounds.
double threadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

// Per-call CPU and wall-clock times of one kind of call.
struct CallTimes {
    std::vector<double> cpu;
    std::vector<double> wall;

    explicit CallTimes(std::size_t calls) {
        cpu.reserve(calls);
        wall.reserve(calls);
    }
    // Runs `call` once and records its times; answers the wall-clock time.
    template <typename Call>
    double time(Call call) {
        const auto wallStart = std::chrono::steady_clock::now();
        const double cpuStart = threadSeconds();
        call();
        const double cpuEnd = threadSeconds();
        const double elapsed = secondsSince(wallStart);
        cpu.push_back(cpuEnd - cpuStart);
        wall.push_back(elapsed);
        return elapsed;
    }
    void report(benchmark::State& state, const std::string& prefix) {
        for (std::vector<double>* seconds : {&cpu, &wall}) {
            std::sort(seconds->begin(), seconds->end());
        }
        auto quantile = [](const std::vector<double>& seconds, double q) {
            return seconds[static_cast<std::size_t>(q * static_cast<double>(seconds.size() - 1))];
        };
        auto micro = [](double seconds) { return benchmark::Counter(seconds * 1e6); };
        state.counters[prefix + "cpu_worst_us"] = micro(cpu.back());
        state.counters[prefix + "cpu_p99_99_us"] = micro(quantile(cpu, 0.9999));
        state.counters[prefix + "cpu_median_us"] = micro(quantile(cpu, 0.5));
        state.counters[prefix + "wall_worst_us"] = micro(wall.back());
        state.counters[prefix + "wall_p99_99_us"] = micro(quantile(wall, 0.9999));
    }
};

void BM_DenseWorstBlock(benchmark::State& state) {
    constexpr std::int32_t kBlock = 64;
    PluginModule module(bench::modulePath());
    if (!loaded(state, module)) {
        return;
    }
    Closer instance{bench::makeDenseInstance(module, 96000.0f, kBlock)};
    if (instance.effect == nullptr) {
        state.SkipWithError("could not set up a dense instance");
        return;
    }
    Effect* record = bench::emptyRecord();
    const auto calls = static_cast<std::size_t>(state.max_iterations);
    CallTimes plugin(calls);
    CallTimes reference(calls);
    const std::uint64_t before = quill_bench_event_lists;
    for (auto _ : state) {
        state.SetIterationTime(plugin.time([&] { processThrough(instance.effect, kBlock); }));
        reference.time([&] { processThrough(record, kBlock); });
    }
    reportNotesPerBlock(state, before);
    plugin.report(state, "");
    reference.report(state, "reference_");
}
BENCHMARK(BM_DenseWorstBlock)->UseManualTime()->Iterations(500000);

// ---- 3. Creating and closing an instance, and a whole host scan -------------------------------

void BM_CreateClose(benchmark::State& state) {
    PluginModule module(bench::modulePath());
    if (!loaded(state, module)) {
        return;
    }
    const std::uint64_t before = quill_bench_allocation_count();
    for (auto _ : state) {
        Effect* effect = module.create(quill_bench_host);
        if (effect == nullptr) {
            state.SkipWithError("main answered null");
            break;
        }
        bench::closeEffect(effect);
    }
    // Shows that the counter sees the module's own allocations: the instance and its program
    // table are allocated on every creation.
    state.counters["allocs_per_iter"] = benchmark::Counter(
        static_cast<double>(quill_bench_allocation_count() - before) /
        static_cast<double>(std::max<benchmark::IterationCount>(state.iterations(), 1)));
}
BENCHMARK(BM_CreateClose);

// What a host learns when it scans a plug-in: load, create, identity, capabilities, every
// parameter's name, label and value text, the program name, close, unload.
void BM_HostScan(benchmark::State& state) {
    const char* path = bench::modulePath();
    if (bench::isModuleLoaded(path)) {
        state.SkipWithError("the module is still loaded: the scan would not load it afresh");
        return;
    }
    static const char* const kCanDos[] = {"sendVstMidiEvent", "sendVstEvents", "receiveVstEvents",
                                          "receiveVstMidiEvent", "bypass"};
    char text[256];
    std::int64_t answers = 0;
    for (auto _ : state) {
        PluginModule module(path);
        Effect* effect = module.create(quill_bench_host);
        if (effect == nullptr) {
            state.SkipWithError(module.ok() ? "main answered null" : module.error());
            break;
        }
        using bench::dispatch;
        dispatch(effect, bench::effOpen);
        answers += dispatch(effect, bench::effGetVstVersion);
        dispatch(effect, bench::effGetEffectName, 0, 0, text);
        dispatch(effect, bench::effGetVendorString, 0, 0, text);
        dispatch(effect, bench::effGetProductString, 0, 0, text);
        answers += dispatch(effect, bench::effGetVendorVersion);
        answers += dispatch(effect, bench::effGetPlugCategory);
        for (const char* canDo : kCanDos) {
            std::strcpy(text, canDo);
            answers += dispatch(effect, bench::effCanDo, 0, 0, text);
        }
        for (std::int32_t index = 0; index < effect->numParams; ++index) {
            dispatch(effect, bench::effGetParamName, index, 0, text);
            dispatch(effect, bench::effGetParamLabel, index, 0, text);
            dispatch(effect, bench::effGetParamDisplay, index, 0, text);
        }
        dispatch(effect, bench::effGetProgramName, 0, 0, text);
        bench::closeEffect(effect);
    }
    benchmark::DoNotOptimize(answers);
    state.counters["unloaded_after"] = benchmark::Counter(bench::isModuleLoaded(path) ? 0 : 1);
}
BENCHMARK(BM_HostScan)->Unit(benchmark::kMicrosecond);

// The part of a scan the plug-in cannot shorten: loading the module, finding the entry point and
// unloading it again, without making an instance.
void BM_LoadUnload(benchmark::State& state) {
    const char* path = bench::modulePath();
    if (bench::isModuleLoaded(path)) {
        state.SkipWithError("the module is still loaded: it would not be loaded afresh");
        return;
    }
    for (auto _ : state) {
        PluginModule module(path);
        if (!module.ok()) {
            state.SkipWithError(module.error());
            break;
        }
        benchmark::DoNotOptimize(module.entry());
    }
}
BENCHMARK(BM_LoadUnload)->Unit(benchmark::kMicrosecond);

// ---- 4. Parameter traffic: no allocation, a fraction of a microsecond --------------------------

void reportAllocations(benchmark::State& state, std::uint64_t before) {
    state.counters["allocs"] =
        benchmark::Counter(static_cast<double>(quill_bench_allocation_count() - before));
}

void BM_SetParameter(benchmark::State& state) {
    PluginModule module(bench::modulePath());
    if (!loaded(state, module)) {
        return;
    }
    Closer instance{module.create(quill_bench_host)};
    if (instance.effect == nullptr) {
        state.SkipWithError("main answered null");
        return;
    }
    const auto index = static_cast<std::int32_t>(state.range(0));
    static constexpr float kValues[4] = {0.25f, 0.5f, 0.75f, 1.0f};
    Effect* effect = instance.effect;
    std::uint32_t turn = 0;
    const std::uint64_t before = quill_bench_allocation_count();
    for (auto _ : state) {
        benchmark::DoNotOptimize(effect);
        effect->setParameter(effect, index, kValues[turn++ & 3u]);
    }
    reportAllocations(state, before);
}
BENCHMARK(BM_SetParameter)->ArgName("index")->DenseRange(0, bench::kNumParamsExpected - 1);

void BM_GetParamDisplay(benchmark::State& state) {
    PluginModule module(bench::modulePath());
    if (!loaded(state, module)) {
        return;
    }
    Closer instance{module.create(quill_bench_host)};
    if (instance.effect == nullptr) {
        state.SkipWithError("main answered null");
        return;
    }
    const auto index = static_cast<std::int32_t>(state.range(0));
    Effect* effect = instance.effect;
    char text[64];
    const std::uint64_t before = quill_bench_allocation_count();
    for (auto _ : state) {
        benchmark::DoNotOptimize(effect);
        effect->dispatcher(effect, bench::effGetParamDisplay, index, 0, text, 0.0f);
        benchmark::DoNotOptimize(text);
    }
    reportAllocations(state, before);
}
BENCHMARK(BM_GetParamDisplay)->ArgName("index")->DenseRange(0, bench::kNumParamsExpected - 1);

} // namespace

BENCHMARK_MAIN();
