// The two commands of quill, behind its command line: what `quill info` and `quill render`
// do once their options are read.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quill {

// Exit status: 0 done, 1 a plug-in or file failed, 2 the command line is wrong.
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// Options as given on the command line; numbers stay text until the command checks them, so
// that its messages can quote them.
struct InfoArgs {
    // Plug-in names or paths; empty for the default plug-in.
    std::vector<std::string> plugins;
    bool json = false;
    std::string rate = "44100";
    std::string block = "1024";
    std::string timeout = "30";
};

// Examines each plug-in in a child process and prints what a host learns (text or JSON).
// Answers the exit status; throws UsageError for bad options.
int runInfo(const InfoArgs& args);

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

// Renders as the options say: lists the events, writes the MIDI file, plays the events
// through an instrument into a WAV file. Answers the exit status; throws UsageError,
// LoadError or std::runtime_error.
int runRender(const RenderArgs& args);

} // namespace quill
