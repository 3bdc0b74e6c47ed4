// RandomNotePlug: emits an endless stream of random notes on one key, each with a random
// velocity, separated by random intervals. Seven parameters set the ranges and the key.
#pragma once

#include "host/effect_extended.h"

#include <atomic>
#include <cstdint>

namespace quill {

enum ParamIndex : std::int32_t {
    MaxTime = 0,
    MinTime,
    TimeDistrib,
    MaxAmplitude,
    MinAmplitude,
    AmpDistrib,
    Note,
    kNumParams
};

inline constexpr std::int32_t kNumPrograms = 1;
inline constexpr std::int32_t kUniqueId = fourCharCode('q', 'u', 'i', 'l');
// No interval between notes is shorter than this many samples.
inline constexpr std::int32_t kMinIntervalSamples = 10;
inline constexpr std::size_t kProgramNameSize = 24;

// The default value of each parameter, in ParamIndex order. Note is the float nearest 60/127.
inline constexpr float kParamDefaults[kNumParams] = {1.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f,
                                                     0.47244096f};

// One program: the seven parameter values and a name of at most 23 characters.
struct NoteProgram {
    NoteProgram() noexcept;

    // Written by the host's threads, read by the audio thread: whole 32-bit values.
    std::atomic<float> values[kNumParams];
    char name[kProgramNameSize];
};

class RandomNotePlug : public EffectExtended {
public:
    explicit RandomNotePlug(audioMasterCallback audioMaster) noexcept;
    ~RandomNotePlug() override;

    // True when the program table could not be allocated; such an object is never used.
    bool isOutOfMemory() const noexcept { return outOfMemory; }

    // any host thread
    void setParameter(std::int32_t index, float value) override;
    // any host thread
    float getParameter(std::int32_t index) override;
    // audio thread
    void process(float** inputs, float** outputs, std::int32_t sampleFrames) noexcept override;
    // audio thread
    void processReplacing(float** inputs, float** outputs,
                          std::int32_t sampleFrames) noexcept override;
    // any host thread
    void setProgram(std::int32_t program) override;
    // any host thread
    void setProgramName(char* name) override;
    // any host thread
    void getProgramName(char* name) override;
    // any host thread
    void getParamLabel(std::int32_t index, char* label) override;
    // any host thread
    void getParamDisplay(std::int32_t index, char* display) override;
    // any host thread
    void getParamName(std::int32_t index, char* name) override;
    // main thread only: switched off
    void suspend() override;
    // main thread only: switched on
    void resume() override;
    // main thread only
    std::int32_t getPlugCategory() override;
    bool getEffectName(char* name) override;
    bool getVendorString(char* text) override;
    bool getProductString(char* text) override;
    std::int32_t getVendorVersion() override;
    std::int32_t canDo(char* text) override;

    // The longest interval between notes, in samples, as the next draw will use it.
    std::int32_t getMaxIntervalSamples() const noexcept {
        return maxIntervalSamples.load(std::memory_order_relaxed);
    }

private:
    // audio thread: the block routine both processing entries share
    void runBlock(std::int32_t sampleFrames) noexcept;
    // audio thread: a block in which at least one note falls
    void runNotes(std::int32_t sampleFrames) noexcept;
    // audio thread: a velocity-0 note-on that ends the sounding note
    void endNote(std::int32_t deltaFrames) noexcept;
    // audio thread: a note-on with `velocity` on the Note key in force
    void sendNote(std::uint8_t velocity, std::int32_t deltaFrames) noexcept;
    void sendEvent(std::uint8_t key, std::uint8_t velocity, std::int32_t deltaFrames) noexcept;
    std::uint8_t currentKey() const noexcept;
    float value(ParamIndex index) const noexcept {
        return currentValues[index].load(std::memory_order_relaxed);
    }
    void updateMaxInterval(float maxTime) noexcept;
    // Stores a value in force and in the current program (and the interval limit for Max time).
    void storeValue(std::int32_t index, float value) noexcept;
    // Restores Max >= Min for the pair of `index` after setters on several threads crossed.
    void keepPairOrdered(ParamIndex index) noexcept;

    NoteProgram* programs = nullptr;
    // Written and read by the audio thread only (and the constructor).
    std::int32_t elapsedSamples = 0;
    std::atomic<std::int32_t> maxIntervalSamples{0};
    std::int32_t intervalSamples = 0;
    std::atomic<float> currentValues[kNumParams];
    // The key of the last note started, so that its end reaches it after a change of Note;
    // -1 before the first note.
    std::int32_t soundingKey = -1;
    bool outOfMemory = false;
};

} // namespace quill
