// quill check: a battery of tests that a VST 2 plug-in should survive in any host. Each group
// of checks runs in its own child process, so a plug-in that crashes or hangs fails that
// group and the others still run.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace quill {

struct CheckArgs {
    std::string plugin; // empty: the Quillmont plug-in beside quill
    bool json = false;
    std::string seed;                // empty: a new one, printed
    bool quick = false;              // shorter stress phases (for CI)
    bool verbose = false;            // every note, not only those of warnings and failures
    std::string timeout = "300";     // seconds per group of checks
    std::vector<std::string> only;   // run only these checks (by name)
    std::string cycles = "1000";     // open/close cycles
    std::string threadSeconds = "3"; // thread-safety run (0.5 with --quick)
};

// Runs the battery, prints one line per check and a summary. Answers the exit status: 0 when
// nothing failed, 1 when a check failed or the plug-in cannot be loaded; throws UsageError
// for bad options.
int runCheck(const CheckArgs& args);

// The names of the checks, in the order they run.
std::vector<std::string> checkNames();

// True when the RealtimeSanitizer runtime is linked into this program.
bool realtimeSanitizerLinked();

// ---- Shared by the check groups (check_*.cpp) ----

enum class CheckStatus { Pass, Warn, Fail, Skip };

struct CheckResult {
    std::string name;
    CheckStatus status = CheckStatus::Pass;
    std::string reason;
    std::vector<std::string> notes; // details: informational findings, warnings, values seen
};

struct CheckContext {
    std::string path;
    uint64_t seed = 0;
    bool quick = false;
    int cycles = 1000;
    double threadSeconds = 3.0;
};

// One group: runs in a child process and answers the results of one or more checks.
struct CheckGroup {
    std::vector<std::string> names; // the checks it reports, in order
    std::function<std::vector<CheckResult>(const CheckContext&)> run;
    bool captureOutput = false; // keep the child's standard error for the report
    // Turns a child that died into results (default: every check of the group fails with why).
    std::function<std::vector<CheckResult>(const std::string& why, const std::string& output)>
        onDeath;
};

std::vector<CheckGroup> checkGroups();

// The real-time group (check_realtime.cpp).
CheckGroup realtimeGroup();

} // namespace quill
