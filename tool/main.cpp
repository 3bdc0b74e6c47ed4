// quill: a headless VST 2 host on the command line.
//
//   quill info [PLUGIN...] [--json]
//   quill render [PLUGIN] [--seconds S | --blocks K] [--rate HZ] [--block N]
//                [--set NAME=VALUE ...] [--out FILE.mid] [--csv]
//                [--through SYNTH.so --wav FILE.wav]
//
// This file only reads the command line; the commands are in commands.cpp.

#include "check.h"
#include "commands.h"
#include "render.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#ifndef QUILL_VERSION
#define QUILL_VERSION "unknown"
#endif

namespace {

const char* const kDeterministic =
    "Rendering is deterministic: the same command writes the same output, byte for byte. "
    "quill creates and runs each plug-in on a fresh thread, so a plug-in's per-thread random "
    "state starts the same every time.";

int run(int argc, char** argv) {
    CLI::App app{"quill: a headless VST 2 host. Shows what a plug-in tells a host, and runs it "
                 "block after block to record the MIDI it plays.",
                 "quill"};
    app.footer(kDeterministic);
    app.set_version_flag("--version", std::string("quill ") + QUILL_VERSION);
    app.require_subcommand(1);

    quill::InfoArgs infoArgs;
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

    quill::RenderArgs renderArgs;
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

    quill::CheckArgs checkArgs;
    CLI::App* check = app.add_subcommand(
        "check", "Run a battery of checks on a plug-in, as a validator does: opening and "
                 "closing, texts with canaries around every buffer, processing at several rates "
                 "and block lengths, the events it sends, automation, parameter fuzzing, "
                 "programs, switching, threads, real time (RealtimeSanitizer) and the locale. "
                 "One line per check (PASS, WARN, FAIL, SKIP) and a summary; exit status 1 "
                 "when a check fails.");
    check
        ->add_option("PLUGIN", checkArgs.plugin,
                     "Plug-in file (default: the Quillmont plug-in beside quill)")
        ->type_name("");
    check->add_flag("--json", checkArgs.json, "Print the results as JSON");
    check
        ->add_option("--seed", checkArgs.seed,
                     "Seed of the random parts (printed each run, so a failure can be replayed)")
        ->type_name("N");
    check->add_flag("--quick", checkArgs.quick, "Shorter automation and thread runs (for CI)");
    check->add_flag("-v,--verbose", checkArgs.verbose, "Print every note under each check");
    check->add_option("--only", checkArgs.only, "Run only this check (repeatable)")
        ->type_name("NAME")
        ->allow_extra_args(false);
    check->add_option("--cycles", checkArgs.cycles, "Open/close cycles")
        ->type_name("K")
        ->capture_default_str();
    check
        ->add_option("--thread-seconds", checkArgs.threadSeconds,
                     "Length of the thread-safety run (0.5 with --quick)")
        ->type_name("S")
        ->capture_default_str();
    check->add_option("--timeout", checkArgs.timeout, "Seconds for each group of checks")
        ->type_name("S")
        ->capture_default_str();
    check->footer("The checks run in child processes: a plug-in that crashes or hangs fails the "
                  "checks it was in, and the others still run.");

    if (argc > 1 && argv[1][0] != '-' && std::strcmp(argv[1], "info") != 0 &&
        std::strcmp(argv[1], "render") != 0 && std::strcmp(argv[1], "check") != 0)
        throw quill::UsageError(std::string("unknown command '") + argv[1] +
                                "'; the commands are info, render and check (see quill --help)");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? 0 : quill::kExitUsage;
    }

    if (info->parsed())
        return quill::runInfo(infoArgs);
    if (check->parsed())
        return quill::runCheck(checkArgs);
    return quill::runRender(renderArgs);
}

} // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const quill::UsageError& e) {
        std::fprintf(stderr, "quill: %s\n", e.what());
        return quill::kExitUsage;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "quill: %s\n", e.what());
        return quill::kExitFailure;
    } catch (...) {
        std::fprintf(stderr, "quill: unexpected failure\n");
        return quill::kExitFailure;
    }
}
