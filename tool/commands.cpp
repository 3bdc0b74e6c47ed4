#include "commands.h"

#include "isolate.h"
#include "midi_file.h"
#include "plugin_info.h"
#include "plugin_path.h"
#include "render.h"
#include "vst_host.h"

#include <sndfile.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace quill {

namespace {

std::string resolveOrDefault(const std::string& name) {
    return name.empty() ? defaultPlugin() : resolvePlugin(name);
}

// Numbers from the command line, with messages that name the option and the value.
double parseNumber(const std::string& option, const std::string& text) {
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(begin, &end);
    if (text.empty() || end == begin || *end != '\0' || errno == ERANGE || !std::isfinite(v))
        throw UsageError(option + ": '" + text + "' is not a number");
    return v;
}

int64_t parseCount(const std::string& option, const std::string& text, int64_t min, int64_t max) {
    const double v = parseNumber(option, text);
    if (v != std::floor(v))
        throw UsageError(option + ": '" + text + "' is not a whole number");
    if (v < static_cast<double>(min) || v > static_cast<double>(max))
        throw UsageError(option + ": " + text + " is outside " + std::to_string(min) + ".." +
                         std::to_string(max));
    return static_cast<int64_t>(v);
}

} // namespace

int runInfo(const InfoArgs& args) {
    const auto rate = static_cast<float>(parseNumber("--rate", args.rate));
    if (!(rate > 0.0f))
        throw UsageError("--rate: " + args.rate + " must be above 0");
    const auto block = static_cast<int32_t>(parseCount("--block", args.block, 1, 1 << 20));
    const auto timeout = static_cast<int>(parseCount("--timeout", args.timeout, 1, 3600));

    std::vector<std::string> names = args.plugins;
    if (names.empty())
        names.emplace_back();
    const bool many = names.size() > 1;

    int status = 0;
    std::vector<std::string> jsonItems;
    bool firstText = true;
    for (const std::string& name : names) {
        std::string path;
        std::string error;
        IsolatedResult result;
        try {
            path = resolveOrDefault(name);
        } catch (const std::exception& e) {
            error = e.what();
        }
        if (error.empty()) {
            result = runIsolated(
                [&] {
                    return runOnFreshThread([&] {
                        Plugin plugin = Plugin::load(path);
                        const PluginInfo info = gatherInfo(plugin, rate, block);
                        return args.json ? formatInfoJson(info) : formatInfoText(info);
                    });
                },
                timeout);
            if (!result.ok)
                error =
                    result.error.rfind(path, 0) == 0 ? result.error : path + ": " + result.error;
        }
        if (!error.empty()) {
            status = kExitFailure;
            std::fprintf(stderr, "quill info: %s\n", error.c_str());
            if (args.json && many)
                jsonItems.push_back("{\"file\": " + jsonString(path.empty() ? name : path) +
                                    ", \"error\": " + jsonString(error) + "}");
            continue;
        }
        if (args.json) {
            jsonItems.push_back(result.output);
        } else {
            if (!firstText)
                std::fputs("\n", stdout);
            std::fputs(result.output.c_str(), stdout);
            firstText = false;
        }
    }
    if (args.json) {
        if (many) {
            std::string out = "[";
            for (size_t i = 0; i < jsonItems.size(); ++i)
                out += (i ? ",\n" : "\n") + jsonItems[i];
            std::fputs((out + "\n]\n").c_str(), stdout);
        } else if (!jsonItems.empty()) {
            std::fputs((jsonItems[0] + "\n").c_str(), stdout);
        }
    }
    return status;
}

namespace {

// A file quill writes; removed again unless the command finishes.
class OutputGuard {
public:
    explicit OutputGuard(std::string path) : path_(std::move(path)) {}
    OutputGuard(const OutputGuard&) = delete;
    OutputGuard& operator=(const OutputGuard&) = delete;
    ~OutputGuard() {
        if (!kept_ && !path_.empty())
            std::remove(path_.c_str());
    }
    void keep() { kept_ = true; }

private:
    std::string path_;
    bool kept_ = false;
};

class Progress {
public:
    explicit Progress(double sampleRate)
        : enabled_(::isatty(STDERR_FILENO) == 1), rate_(sampleRate),
          start_(std::chrono::steady_clock::now()) {}
    ~Progress() { finish(); }

    void update(int64_t done, int64_t total) {
        if (!enabled_)
            return;
        const auto now = std::chrono::steady_clock::now();
        if (now - start_ < std::chrono::seconds(1) ||
            (shown_ && now - last_ < std::chrono::milliseconds(100) && done < total))
            return;
        last_ = now;
        shown_ = true;
        const double percent =
            total > 0 ? 100.0 * static_cast<double>(done) / static_cast<double>(total) : 100.0;
        std::fprintf(stderr, "\rquill: rendering %.1f of %.1f s (%3.0f%%)",
                     static_cast<double>(done) / rate_, static_cast<double>(total) / rate_,
                     percent);
        std::fflush(stderr);
    }

    void finish() {
        if (shown_) {
            std::fputs("\r\033[K", stderr);
            std::fflush(stderr);
            shown_ = false;
        }
    }

private:
    bool enabled_;
    double rate_;
    std::chrono::steady_clock::time_point start_, last_;
    bool shown_ = false;
};

void printListing(const RenderResult& result, double rate, bool csv, std::FILE* out) {
    if (csv)
        std::fputs("time_s,sample,block,offset,status,key,velocity\n", out);
    else
        std::fputs("    time_s     sample   block  offset  status  key  velocity\n", out);
    for (const ReceivedEvent& e : result.events) {
        if (e.type != vst::kVstMidiType)
            continue;
        const int64_t pos = e.samplePosition();
        const double t = static_cast<double>(pos) / rate;
        const std::string block = e.block >= 0 ? std::to_string(e.block + 1) : "-";
        if (csv)
            std::fprintf(out, "%.6f,%" PRId64 ",%s,%d,%u,%u,%u\n", t, pos, block.c_str(),
                         e.deltaFrames, e.midi[0], e.midi[1], e.midi[2]);
        else
            std::fprintf(out, "%10.6f %10" PRId64 " %7s %7d    0x%02X  %3u  %8u\n", t, pos,
                         block.c_str(), e.deltaFrames, e.midi[0], e.midi[1], e.midi[2]);
    }
}

// While plug-ins run, whatever they print to standard output goes to standard error instead,
// so that quill's own output (a listing, CSV) stays clean. quill writes through output().
class PrivateStdout {
public:
    PrivateStdout() {
        std::fflush(stdout);
        const int saved = ::dup(STDOUT_FILENO);
        if (saved >= 0 && ::dup2(STDERR_FILENO, STDOUT_FILENO) >= 0)
            out_ = ::fdopen(saved, "w");
        if (out_ == nullptr && saved >= 0)
            ::close(saved);
    }
    PrivateStdout(const PrivateStdout&) = delete;
    PrivateStdout& operator=(const PrivateStdout&) = delete;
    ~PrivateStdout() {
        if (out_ == nullptr)
            return;
        std::fflush(stdout);
        std::fflush(out_);
        ::dup2(::fileno(out_), STDOUT_FILENO);
        std::fclose(out_);
    }
    std::FILE* output() const { return out_ != nullptr ? out_ : stdout; }

private:
    std::FILE* out_ = nullptr;
};

} // namespace

int runRender(const RenderArgs& args) {
    RenderOptions options;
    const double rate = parseNumber("--rate", args.rate);
    if (!(rate > 0.0) || rate > 1e7)
        throw UsageError("--rate: " + args.rate + " must be above 0 (and at most 10 MHz)");
    options.sampleRate = static_cast<float>(rate);
    options.blockSize = static_cast<int32_t>(parseCount("--block", args.block, 1, 1 << 20));
    if (args.blocks) {
        options.frames =
            parseCount("--blocks", *args.blocks, 0, INT64_C(1) << 40) * options.blockSize;
    } else {
        const double seconds = args.seconds ? parseNumber("--seconds", *args.seconds) : 10.0;
        if (seconds < 0.0)
            throw UsageError("--seconds: " + *args.seconds +
                             " is negative; a duration is 0 or more");
        if (seconds * rate > static_cast<double>(INT64_C(1) << 40))
            throw UsageError("--seconds: " + *args.seconds + " is too long");
        options.frames = framesForSeconds(seconds, rate);
    }
    for (const std::string& setting : args.settings) {
        const size_t eq = setting.find('=');
        if (eq == std::string::npos || eq == 0)
            throw UsageError("--set: '" + setting + "' is not NAME=VALUE");
        ParameterSetting s{setting.substr(0, eq), setting.substr(eq + 1)};
        parseParameterValue(s.name, s.value); // reject bad values before loading
        options.settings.push_back(std::move(s));
    }
    if (!args.through.empty() && args.wav.empty())
        throw UsageError("--through needs --wav FILE.wav for the instrument's audio");
    if (!args.wav.empty() && args.through.empty())
        throw UsageError("--wav needs --through SYNTH.so to make the audio");

    options.plugin = resolveOrDefault(args.plugin);
    if (!args.through.empty())
        options.through = resolvePlugin(args.through);

    // Open the outputs before the work, so that an unwritable path fails at once.
    std::FILE* midiFile = nullptr;
    OutputGuard midiGuard(args.out);
    if (!args.out.empty()) {
        midiFile = std::fopen(args.out.c_str(), "wb");
        if (midiFile == nullptr)
            throw std::runtime_error("cannot write " + args.out + ": " + std::strerror(errno));
    }
    struct FileCloser {
        std::FILE*& f;
        ~FileCloser() {
            if (f != nullptr)
                std::fclose(f);
        }
    } midiCloser{midiFile};

    SNDFILE* wav = nullptr;
    OutputGuard wavGuard(args.wav);
    struct WavCloser {
        SNDFILE*& f;
        ~WavCloser() {
            if (f != nullptr)
                sf_close(f);
        }
    } wavCloser{wav};
    int32_t wavChannels = 0;
    std::vector<float> interleaved;

    auto onChannels = [&](int32_t channels) {
        SF_INFO info{};
        info.samplerate = static_cast<int>(std::lround(rate));
        info.channels = channels;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        wav = sf_open(args.wav.c_str(), SFM_WRITE, &info);
        if (wav == nullptr)
            throw std::runtime_error("cannot write " + args.wav + ": " + sf_strerror(nullptr));
        // 16-bit PCM plays everywhere; samples beyond full scale are clipped, not wrapped.
        sf_command(wav, SFC_SET_CLIPPING, nullptr, SF_TRUE);
        wavChannels = channels;
    };
    auto sink = [&](const std::vector<const float*>& channels, int32_t frames) {
        interleaved.resize(static_cast<size_t>(frames) * static_cast<size_t>(wavChannels));
        for (int32_t f = 0; f < frames; ++f)
            for (int32_t c = 0; c < wavChannels; ++c)
                interleaved[static_cast<size_t>(f) * static_cast<size_t>(wavChannels) +
                            static_cast<size_t>(c)] = channels[static_cast<size_t>(c)][f];
        if (sf_writef_float(wav, interleaved.data(), frames) != frames)
            throw std::runtime_error("cannot write " + args.wav + ": " + sf_strerror(wav));
    };

    PrivateStdout privateStdout;
    std::FILE* const out = privateStdout.output();
    Progress progress(rate);
    const RenderResult result = runOnFreshThread([&] {
        return render(options, onChannels, sink,
                      [&](int64_t done, int64_t total) { progress.update(done, total); });
    });
    progress.finish();

    const bool listing = args.csv || (args.out.empty() && args.wav.empty());
    if (listing)
        printListing(result, rate, args.csv, out);

    size_t midiCount = 0;
    for (const ReceivedEvent& e : result.events)
        midiCount += e.type == vst::kVstMidiType ? 1 : 0;

    std::FILE* report = listing ? stderr : out;
    if (midiFile != nullptr) {
        std::vector<midi::TimedMessage> messages;
        for (const ReceivedEvent& e : result.events)
            if (e.type == vst::kVstMidiType)
                messages.push_back({e.samplePosition(), e.midi});
        const std::vector<uint8_t> bytes =
            midi::writeType0(messages, result.frames, rate, result.effectName);
        const bool written = std::fwrite(bytes.data(), 1, bytes.size(), midiFile) == bytes.size();
        const bool closed = std::fclose(midiFile) == 0;
        midiFile = nullptr;
        if (!written || !closed)
            throw std::runtime_error("cannot write " + args.out + ": " + std::strerror(errno));
        midiGuard.keep();
        std::fprintf(report, "quill: wrote %zu MIDI events (%.3f s at %g Hz) to %s\n", midiCount,
                     static_cast<double>(result.frames) / rate, rate, args.out.c_str());
    }
    if (wav != nullptr) {
        sf_write_sync(wav);
        sf_close(wav);
        wav = nullptr;
        wavGuard.keep();
        std::fprintf(report, "quill: wrote %d-channel audio (%.3f s at %g Hz) to %s\n", wavChannels,
                     static_cast<double>(result.frames) / rate, rate, args.wav.c_str());
    }
    return 0;
}

} // namespace quill
