// Runs work in a child process so that a plug-in that crashes or hangs cannot take the
// caller down with it.
#pragma once

#include <cstddef>
#include <functional>
#include <span>
#include <string>

namespace quill {

struct IsolationOptions {
    int timeoutSeconds = 10;
    // Collect the child's standard output and error (up to 1 MiB) into `captured`; otherwise
    // its standard output goes to standard error, so that a chatty plug-in cannot mix with
    // the caller's results.
    bool captureOutput = false;
    // Bytes of memory shared with the child and handed to work() as its stage buffer: a
    // NUL-terminated note of where it is, which the parent still reads after a crash or a hang.
    std::size_t stageSize = 0;
};

struct IsolatedResult {
    bool ok = false;
    std::string output;    // what the work answered, when ok
    std::string error;     // why not, when not ok: the work's exception, a signal, a time-out
    bool threw = false;    // error is the message of the exception the work threw
    bool timedOut = false; // error says the child was stopped at the time-out
    std::string captured;  // the child's standard output and error, when captured
    std::string stage;     // the last note the work left in its stage buffer
};

// Forks; the child (which ends with its parent) runs work() with the stage buffer, sends back
// the text it answers or the message of the exception it throws, and ends with _exit. A crash
// ends it by its signal, whatever handlers the process had. The parent waits at most
// options.timeoutSeconds, then kills the child.
IsolatedResult runIsolated(const std::function<std::string(std::span<char> stage)>& work,
                           const IsolationOptions& options);

// The same without a stage buffer or captured output.
inline IsolatedResult runIsolated(const std::function<std::string()>& work, int timeoutSeconds) {
    return runIsolated([&](std::span<char>) { return work(); },
                       IsolationOptions{.timeoutSeconds = timeoutSeconds});
}

} // namespace quill
