#include "scenarios.h"

#include "host_stub.h"

namespace bench {
namespace {

Effect* switchedOn(const PluginModule& module, float sampleRate, std::int32_t blockLength) {
    Effect* effect = module.create(quill_bench_host);
    if (effect == nullptr || effect->processReplacing == nullptr) {
        return nullptr;
    }
    dispatch(effect, effSetSampleRate, 0, 0, nullptr, sampleRate);
    dispatch(effect, effSetBlockSize, 0, blockLength);
    dispatch(effect, effMainsChanged, 0, 1);
    return effect;
}

// Runs blocks until the interval drawn at construction has run out and a note went out.
bool runPastFirstNote(Effect* effect, std::int32_t blockLength) {
    const std::uint64_t before = quill_bench_event_lists;
    // The first interval is at most one second at the construction rate of 44.1 kHz.
    for (std::int64_t samples = 0; samples <= 2 * 44100 + blockLength; samples += blockLength) {
        effect->processReplacing(effect, kNoBuffers, kNoBuffers, blockLength);
        if (quill_bench_event_lists != before) {
            return true;
        }
    }
    return false;
}

} // namespace

Effect* makeQuietInstance(const PluginModule& module, float sampleRate) noexcept {
    constexpr std::int32_t kBlock = 1024;
    Effect* effect = switchedOn(module, sampleRate, kBlock);
    if (effect == nullptr) {
        return nullptr;
    }
    effect->setParameter(effect, kMaxTime, 40000.0f);
    effect->setParameter(effect, kMinTime, 40000.0f);
    if (!runPastFirstNote(effect, kBlock)) {
        closeEffect(effect);
        return nullptr;
    }
    return effect;
}

Effect* makeDenseInstance(const PluginModule& module, float sampleRate,
                          std::int32_t blockLength) noexcept {
    Effect* effect = switchedOn(module, sampleRate, blockLength);
    if (effect == nullptr) {
        return nullptr;
    }
    effect->setParameter(effect, kMinTime, 0.0f);
    effect->setParameter(effect, kMaxTime, 0.0f);
    if (!runPastFirstNote(effect, blockLength)) {
        closeEffect(effect);
        return nullptr;
    }
    // Two more blocks, so that the interval drawn under the new settings is the one running.
    effect->processReplacing(effect, kNoBuffers, kNoBuffers, blockLength);
    effect->processReplacing(effect, kNoBuffers, kNoBuffers, blockLength);
    return effect;
}

} // namespace bench
