// Runs work in a child process so that a plug-in that crashes or hangs cannot take the
// caller down with it.
#pragma once

#include <functional>
#include <string>

namespace quill {

struct IsolatedResult {
    bool ok = false;
    std::string output; // what the work answered, when ok
    std::string error;  // why not, when not ok: the work's exception, a signal, a time-out
};

// Forks; the child runs work() (its standard output goes to standard error, so that a
// chatty plug-in cannot mix with the result), sends back the text it answers or the message
// of the exception it throws, and ends with _exit. The parent waits at most timeoutSeconds,
// then kills the child.
IsolatedResult runIsolated(const std::function<std::string()>& work, int timeoutSeconds);

} // namespace quill
