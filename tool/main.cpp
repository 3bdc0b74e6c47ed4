// quill: a headless VST 2 host on the command line.
//
//   quill info [PLUGIN...] [--json]
//   quill render [PLUGIN] [--seconds S | --blocks K] [--rate HZ] [--block N]
//                [--set NAME=VALUE ...] [--out FILE.mid] [--csv]
//                [--through SYNTH.so --wav FILE.wav]
//
// Exit status: 0 done, 1 a plug-in or file failed, 2 the command line is wrong.

#include "isolate.h"
#include "midi_file.h"
#include "plugin_info.h"
#include "plugin_path.h"
#include "render.h"
#include "vst_host.h"

#include <CLI/CLI.hpp>
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
#include <string>
#include <vector>

#ifndef QUILL_VERSION
#define QUILL_VERSION "unknown"
#endif

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

const char* const kDeterministic =
    "Rendering is deterministic: the same command writes the same output, byte for byte. "
    "quill creates and runs each plug-in on a fresh thread, so a plug-in's per-thread random "
    "state starts the same every time.";

std::string resolveOrDefault(const std::string& name) {
    return name.empty() ? quill::defaultPlugin() : quill::resolvePlugin(name);
}

// Numbers from the command line, with messages that name the option and the value.
double parseNumber(const std::string& option, const std::string& text) {
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(begin, &end);
    if (text.empty() || end == begin || *end != '\0' || errno == ERANGE || !std::isfinite(v))
        throw quill::UsageError(option + ": '" + text + "' is not a number");
    return v;
}

int64_t parseCount(const std::string& option, const std::string& text, int64_t min, int64_t max) {
    const double v = parseNumber(option, text);
    if (v != std::floor(v))
        throw quill::UsageError(option + ": '" + text + "' is not a whole number");
    if (v < static_cast<double>(min) || v > static_cast<double>(max))
        throw quill::UsageError(option + ": " + text + " is outside " + std::to_string(min) + ".." +
                                std::to_string(max));
    return static_cast<int64_t>(v);
}

// ---------------------------------------------------------------------------------------
// info

struct InfoArgs {
    std::vector<std::string> plugins;
    bool json = false;
    std::string rate = "44100";
    std::string block = "1024";
    std::string timeout = "30";
};

int runInfo(const InfoArgs& args) {
    const auto rate = static_cast<float>(parseNumber("--rate", args.rate));
    if (!(rate > 0.0f))
        throw quill::UsageError("--rate: " + args.rate + " must be above 0");
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
        quill::IsolatedResult result;
        try {
            path = resolveOrDefault(name);
        } catch (const std::exception& e) {
            error = e.what();
        }
        if (error.empty()) {
            result = quill::runIsolated(
                [&] {
                    return quill::runOnFreshThread([&] {
                        quill::Plugin plugin = quill::Plugin::load(path);
                        const quill::PluginInfo info = quill::gatherInfo(plugin, rate, block);
                        return args.json ? quill::formatInfoJson(info)
                                         : quill::formatInfoText(info);
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
                jsonItems.push_back("{\"file\": " + quill::jsonString(path.empty() ? name : path) +
                                    ", \"error\": " + quill::jsonString(error) + "}");
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

// ---------------------------------------------------------------------------------------
// render

struct RenderArgs {
    std::string plugin;
    std::optional<std::string> seconds;
    std::optional<std::string> blocks;
    std::string rate = "44100";
    std::string block = "1024";
    std::vector<std::string> settings;
    std::string out;
    bool csv = false;
    std::string through;
    std::string wav;
};

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

void printListing(const quill::RenderResult& result, double rate, bool csv, std::FILE* out) {
    if (csv)
        std::fputs("time_s,sample,block,offset,status,key,velocity\n", out);
    else
        std::fputs("    time_s     sample   block  offset  status  key  velocity\n", out);
    for (const quill::ReceivedEvent& e : result.events) {
        if (e.type != quill::vst::kVstMidiType)
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

int runRender(const RenderArgs& args) {
    quill::RenderOptions options;
    const double rate = parseNumber("--rate", args.rate);
    if (!(rate > 0.0) || rate > 1e7)
        throw quill::UsageError("--rate: " + args.rate + " must be above 0 (and at most 10 MHz)");
    options.sampleRate = static_cast<float>(rate);
    options.blockSize = static_cast<int32_t>(parseCount("--block", args.block, 1, 1 << 20));
    if (args.blocks) {
        options.frames =
            parseCount("--blocks", *args.blocks, 0, INT64_C(1) << 40) * options.blockSize;
    } else {
        const double seconds = args.seconds ? parseNumber("--seconds", *args.seconds) : 10.0;
        if (seconds < 0.0)
            throw quill::UsageError("--seconds: " + *args.seconds +
                                    " is negative; a duration is 0 or more");
        if (seconds * rate > static_cast<double>(INT64_C(1) << 40))
            throw quill::UsageError("--seconds: " + *args.seconds + " is too long");
        options.frames = quill::framesForSeconds(seconds, rate);
    }
    for (const std::string& setting : args.settings) {
        const size_t eq = setting.find('=');
        if (eq == std::string::npos || eq == 0)
            throw quill::UsageError("--set: '" + setting + "' is not NAME=VALUE");
        quill::ParameterSetting s{setting.substr(0, eq), setting.substr(eq + 1)};
        quill::parseParameterValue(s.name, s.value); // reject bad values before loading
        options.settings.push_back(std::move(s));
    }
    if (!args.through.empty() && args.wav.empty())
        throw quill::UsageError("--through needs --wav FILE.wav for the instrument's audio");
    if (!args.wav.empty() && args.through.empty())
        throw quill::UsageError("--wav needs --through SYNTH.so to make the audio");

    options.plugin = resolveOrDefault(args.plugin);
    if (!args.through.empty())
        options.through = quill::resolvePlugin(args.through);

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
    const quill::RenderResult result = quill::runOnFreshThread([&] {
        return quill::render(options, onChannels, sink,
                             [&](int64_t done, int64_t total) { progress.update(done, total); });
    });
    progress.finish();

    const bool listing = args.csv || (args.out.empty() && args.wav.empty());
    if (listing)
        printListing(result, rate, args.csv, out);

    size_t midiCount = 0;
    for (const quill::ReceivedEvent& e : result.events)
        midiCount += e.type == quill::vst::kVstMidiType ? 1 : 0;

    std::FILE* report = listing ? stderr : out;
    if (midiFile != nullptr) {
        std::vector<quill::midi::TimedMessage> messages;
        for (const quill::ReceivedEvent& e : result.events)
            if (e.type == quill::vst::kVstMidiType)
                messages.push_back({e.samplePosition(), e.midi});
        const std::vector<uint8_t> bytes =
            quill::midi::writeType0(messages, result.frames, rate, result.effectName);
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

int run(int argc, char** argv) {
    CLI::App app{"quill: a headless VST 2 host. Shows what a plug-in tells a host, and runs it "
                 "block after block to record the MIDI it plays.",
                 "quill"};
    app.footer(kDeterministic);
    app.set_version_flag("--version", std::string("quill ") + QUILL_VERSION);
    app.require_subcommand(1);

    InfoArgs infoArgs;
    CLI::App* info = app.add_subcommand(
        "info", "Show what a host learns from each plug-in: entry point, record fields, names, "
                "category, capabilities, parameters and program. Each plug-in is examined in "
                "its own process, so one that crashes does not end a scan of many.");
    info->add_option("PLUGIN", infoArgs.plugins,
                     "Plug-in files; a name without a slash is looked for in LXVST_PATH, "
                     "VST_PATH, the standard VST directories and ~/.vst. Default: the "
                     "Quillmont plug-in beside quill.")
        ->type_name("");
    info->add_flag("--json", infoArgs.json, "Print JSON (an array when given several plug-ins)");
    info->add_option("--rate", infoArgs.rate, "Sample rate told to the plug-in, in Hz")
        ->type_name("HZ")
        ->capture_default_str();
    info->add_option("--block", infoArgs.block, "Block size told to the plug-in, in samples")
        ->type_name("N")
        ->capture_default_str();
    info->add_option("--timeout", infoArgs.timeout, "Seconds to wait for each plug-in")
        ->type_name("S")
        ->capture_default_str();
    info->footer(kDeterministic);

    RenderArgs renderArgs;
    CLI::App* render = app.add_subcommand(
        "render", "Switch the plug-in on, run it block after block and record every MIDI event "
                  "it sends: listed on standard output (blocks counted from 1), written as a "
                  "Standard MIDI File with --out, or played through an instrument into a WAV "
                  "file with --through and --wav.");
    render
        ->add_option("PLUGIN", renderArgs.plugin,
                     "Plug-in file (default: the Quillmont plug-in beside quill)")
        ->type_name("");
    CLI::Option* seconds =
        render->add_option("--seconds", renderArgs.seconds,
                           "Length in seconds (default 10); the last block may be "
                           "shorter than --block");
    CLI::Option* blocks =
        render->add_option("--blocks", renderArgs.blocks, "Length in blocks of --block samples");
    seconds->type_name("S")->excludes(blocks);
    blocks->type_name("K");
    render->add_option("--rate", renderArgs.rate, "Sample rate in Hz")
        ->type_name("HZ")
        ->capture_default_str();
    render->add_option("--block", renderArgs.block, "Block size in samples")
        ->type_name("N")
        ->capture_default_str();
    render
        ->add_option("--set", renderArgs.settings,
                     "Set a parameter before switching on: NAME=VALUE, NAME being the "
                     "parameter's name or index and VALUE the plug-in's value from 0 to 1; "
                     "repeatable, applied in order")
        ->type_name("NAME=VALUE")
        ->allow_extra_args(false);
    render
        ->add_option("--out", renderArgs.out,
                     "Write a Standard MIDI File (type 0, 120 bpm; where the rate allows, one "
                     "tick is one sample). Notes still sounding at the end are closed there.")
        ->type_name("FILE.mid");
    render->add_flag("--csv", renderArgs.csv, "List the events as CSV on standard output");
    render
        ->add_option("--through", renderArgs.through,
                     "Play the events into this instrument plug-in, block by block at their "
                     "offsets")
        ->type_name("SYNTH.so");
    render->add_option("--wav", renderArgs.wav, "Write the instrument's audio to this WAV file")
        ->type_name("FILE.wav");
    render->footer(kDeterministic);

    if (argc > 1 && argv[1][0] != '-' && std::strcmp(argv[1], "info") != 0 &&
        std::strcmp(argv[1], "render") != 0)
        throw quill::UsageError(std::string("unknown command '") + argv[1] +
                                "'; the commands are info and render (see quill --help)");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? 0 : kExitUsage;
    }

    if (info->parsed())
        return runInfo(infoArgs);
    return runRender(renderArgs);
}

} // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const quill::UsageError& e) {
        std::fprintf(stderr, "quill: %s\n", e.what());
        return kExitUsage;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "quill: %s\n", e.what());
        return kExitFailure;
    } catch (...) {
        std::fprintf(stderr, "quill: unexpected failure\n");
        return kExitFailure;
    }
}
