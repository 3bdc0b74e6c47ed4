#include "check.h"

#include "check_support.h"
#include "commands.h"
#include "plugin_path.h"
#include "render.h"

#include <poll.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <random>
#include <set>

namespace quill {

namespace {

const char* statusName(CheckStatus s) {
    switch (s) {
    case CheckStatus::Pass:
        return "PASS";
    case CheckStatus::Warn:
        return "WARN";
    case CheckStatus::Fail:
        return "FAIL";
    case CheckStatus::Skip:
        return "SKIP";
    }
    return "?";
}

std::string oneLine(std::string s) {
    for (char& c : s)
        if (c == '\n' || c == '\t' || c == '\r')
            c = ' ';
    return s;
}

std::string serialise(const std::vector<CheckResult>& results) {
    std::string out;
    for (const CheckResult& r : results) {
        out +=
            "R\t" + oneLine(r.name) + "\t" + statusName(r.status) + "\t" + oneLine(r.reason) + "\n";
        for (const std::string& n : r.notes)
            out += "N\t" + oneLine(n) + "\n";
    }
    return out;
}

std::vector<CheckResult> parse(const std::string& text) {
    std::vector<CheckResult> out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        if (line.rfind("R\t", 0) == 0) {
            CheckResult r;
            const size_t a = line.find('\t', 2);
            const size_t b = line.find('\t', a + 1);
            r.name = line.substr(2, a - 2);
            const std::string s = line.substr(a + 1, b - a - 1);
            r.status = s == "PASS"   ? CheckStatus::Pass
                       : s == "WARN" ? CheckStatus::Warn
                       : s == "SKIP" ? CheckStatus::Skip
                                     : CheckStatus::Fail;
            r.reason = line.substr(b + 1);
            out.push_back(r);
        } else if (line.rfind("N\t", 0) == 0 && !out.empty()) {
            out.back().notes.push_back(line.substr(2));
        }
    }
    return out;
}

void writeAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += static_cast<size_t>(n);
    }
}

struct ChildOutcome {
    bool ok = false;
    std::string answer; // what the group answered
    std::string why;    // how it died
    std::string output; // its standard output and error, when captured
};

// Runs one group in a child process, at most timeoutSeconds.
ChildOutcome runChild(const CheckGroup& group, const CheckContext& context, int timeoutSeconds) {
    ChildOutcome outcome;
    int result[2];
    int output[2] = {-1, -1};
    if (::pipe(result) != 0 || (group.captureOutput && ::pipe(output) != 0)) {
        outcome.why = std::string("cannot create a pipe: ") + std::strerror(errno);
        return outcome;
    }
    // The child notes where it is; after a crash or hang the parent reads it.
    constexpr size_t kStageSize = 512;
    void* shared =
        ::mmap(nullptr, kStageSize, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    char* stageText = shared == MAP_FAILED ? nullptr : static_cast<char*>(shared);
    if (stageText != nullptr)
        stageText[0] = '\0';
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) {
        outcome.why = std::string("cannot start a child process: ") + std::strerror(errno);
        return outcome;
    }
    if (pid == 0) {
        // The child ends with quill, also when quill is stopped from outside.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() == 1)
            ::_exit(1);
        check::setStageBuffer(stageText, kStageSize);
        // A crash ends the child by its signal, whatever handlers the process had installed
        // (a sanitizer's, say), so that the report says it crashed.
        for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT})
            std::signal(sig, SIG_DFL);
        ::close(result[0]);
        if (group.captureOutput) {
            ::close(output[0]);
            ::dup2(output[1], STDOUT_FILENO);
            ::dup2(output[1], STDERR_FILENO);
            ::close(output[1]);
        } else {
            ::dup2(STDERR_FILENO, STDOUT_FILENO); // a chatty plug-in must not mix with results
        }
        std::string message;
        try {
            message = "O" + serialise(group.run(context));
        } catch (const std::exception& e) {
            message = std::string("E") + e.what();
        } catch (...) {
            message = "Eunknown failure";
        }
        writeAll(result[1], message);
        ::close(result[1]);
        std::fflush(nullptr);
        ::_exit(0);
    }
    ::close(result[1]);
    if (group.captureOutput)
        ::close(output[1]);

    std::string received;
    bool timedOut = false;
    bool resultOpen = true;
    bool outputOpen = group.captureOutput;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    char buffer[4096];
    while (resultOpen || outputOpen) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            timedOut = true;
            break;
        }
        pollfd fds[2];
        nfds_t count = 0;
        if (resultOpen)
            fds[count++] = {result[0], POLLIN, 0};
        if (outputOpen)
            fds[count++] = {output[0], POLLIN, 0};
        const int ready = ::poll(fds, count, static_cast<int>(std::min<long long>(left, 1000)));
        if (ready <= 0)
            continue;
        for (nfds_t i = 0; i < count; ++i) {
            if (fds[i].revents == 0)
                continue;
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            const bool isResult = fds[i].fd == result[0];
            if (n <= 0) {
                (isResult ? resultOpen : outputOpen) = false;
                continue;
            }
            if (isResult)
                received.append(buffer, static_cast<size_t>(n));
            else if (outcome.output.size() < (1u << 20))
                outcome.output.append(buffer, static_cast<size_t>(n));
        }
    }
    ::close(result[0]);
    if (group.captureOutput)
        ::close(output[0]);
    if (timedOut)
        ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    std::string where;
    if (stageText != nullptr) {
        where.assign(stageText, strnlen(stageText, kStageSize));
        ::munmap(shared, kStageSize);
    }
    const std::string during = where.empty() ? "" : " during " + where;
    if (timedOut) {
        outcome.why = "did not finish within " + std::to_string(timeoutSeconds) +
                      " s and was stopped (hang?)" + during;
    } else if (WIFSIGNALED(status)) {
        const int sig = WTERMSIG(status);
        const char* name = ::strsignal(sig);
        outcome.why = "crashed (signal " + std::to_string(sig) + ", " +
                      (name != nullptr ? name : "unknown") + ")" + during;
    } else if (!received.empty() && received[0] == 'O') {
        outcome.ok = true;
        outcome.answer = received.substr(1);
    } else if (!received.empty() && received[0] == 'E') {
        outcome.why = "failed: " + received.substr(1) + during;
    } else {
        outcome.why = "ended without an answer (exit status " +
                      std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + ")" + during;
    }
    return outcome;
}

uint64_t newSeed() {
    std::random_device device;
    return (static_cast<uint64_t>(device()) << 32 | device()) & 0xFFFFFFFFFFFFull;
}

std::string jsonString(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

int parseInt(const std::string& text, const char* option, int lo, int hi) {
    try {
        size_t used = 0;
        const long v = std::stol(text, &used);
        if (used == text.size() && v >= lo && v <= hi)
            return static_cast<int>(v);
    } catch (const std::exception&) {
    }
    throw UsageError(std::string(option) + " '" + text + "' is not a whole number from " +
                     std::to_string(lo) + " to " + std::to_string(hi));
}

void printLine(const CheckResult& r, bool verbose) {
    std::printf("%s  %-18s %s\n", statusName(r.status), r.name.c_str(), r.reason.c_str());
    const bool showNotes =
        verbose || r.status == CheckStatus::Fail || r.status == CheckStatus::Warn;
    if (showNotes) {
        size_t shown = 0;
        for (const std::string& n : r.notes) {
            if (!verbose && (n.rfind("INFO", 0) == 0 || ++shown > 8))
                continue;
            std::printf("      %s\n", n.c_str());
        }
    }
    std::fflush(stdout);
}

} // namespace

std::vector<std::string> checkNames() {
    std::vector<std::string> names;
    for (const CheckGroup& g : checkGroups())
        names.insert(names.end(), g.names.begin(), g.names.end());
    return names;
}

int runCheck(const CheckArgs& args) {
    CheckContext context;
    context.quick = args.quick;
    context.cycles = parseInt(args.cycles, "--cycles", 1, 1000000);
    if (args.quick && args.cycles == CheckArgs{}.cycles)
        context.cycles = 1000; // --quick shortens the long runs, not the cycle count
    {
        char* end = nullptr;
        const double s = std::strtod(args.threadSeconds.c_str(), &end);
        if (end == args.threadSeconds.c_str() || *end != '\0' || !std::isfinite(s) || s < 0 ||
            s > 3600)
            throw UsageError("--thread-seconds '" + args.threadSeconds +
                             "' is not a number of seconds from 0 to 3600");
        context.threadSeconds =
            (args.quick && args.threadSeconds == CheckArgs{}.threadSeconds) ? 0.5 : s;
    }
    const int timeout = parseInt(args.timeout, "--timeout", 1, 86400);
    if (args.seed.empty()) {
        context.seed = newSeed();
    } else {
        try {
            size_t used = 0;
            context.seed = std::stoull(args.seed, &used, 0);
            if (used != args.seed.size())
                throw std::invalid_argument("trailing");
        } catch (const std::exception&) {
            throw UsageError("--seed '" + args.seed + "' is not a whole number");
        }
    }
    const std::vector<std::string> known = checkNames();
    const std::set<std::string> only(args.only.begin(), args.only.end());
    for (const std::string& name : only)
        if (std::find(known.begin(), known.end(), name) == known.end()) {
            std::string list;
            for (const std::string& k : known)
                list += (list.empty() ? "" : ", ") + k;
            throw UsageError("unknown check '" + name + "'; the checks are " + list);
        }
    context.path = args.plugin.empty() ? defaultPlugin() : resolvePlugin(args.plugin);

    if (!args.json) {
        std::printf("quill check %s\nseed %llu (replay with --seed %llu)\n", context.path.c_str(),
                    static_cast<unsigned long long>(context.seed),
                    static_cast<unsigned long long>(context.seed));
        std::fflush(stdout);
    }

    std::vector<CheckResult> all;
    bool loadable = true;
    std::string loadProblem;
    for (const CheckGroup& group : checkGroups()) {
        bool wanted = only.empty();
        for (const std::string& n : group.names)
            wanted = wanted || only.count(n) > 0;
        if (!wanted)
            continue;
        std::vector<CheckResult> results;
        if (!loadable) {
            for (const std::string& n : group.names)
                results.push_back({n, CheckStatus::Skip, "not run: " + loadProblem, {}});
        } else {
            const ChildOutcome outcome = runChild(group, context, timeout);
            if (outcome.ok) {
                results = parse(outcome.answer);
            } else if (group.onDeath) {
                results = group.onDeath(outcome.why, outcome.output);
            } else {
                for (const std::string& n : group.names)
                    results.push_back({n, CheckStatus::Fail, "the plug-in " + outcome.why, {}});
            }
            if (!outcome.ok && group.names.front() == "open-cold") {
                loadable = false;
                loadProblem = "the plug-in cannot be opened (" + outcome.why + ")";
            }
        }
        for (CheckResult& r : results) {
            if (!only.empty() && only.count(r.name) == 0)
                continue;
            if (!args.json)
                printLine(r, args.verbose);
            all.push_back(std::move(r));
        }
    }

    int pass = 0, warn = 0, fail = 0, skip = 0;
    for (const CheckResult& r : all) {
        switch (r.status) {
        case CheckStatus::Pass:
            ++pass;
            break;
        case CheckStatus::Warn:
            ++warn;
            break;
        case CheckStatus::Fail:
            ++fail;
            break;
        case CheckStatus::Skip:
            ++skip;
            break;
        }
    }
    if (args.json) {
        std::string out = "{\n  \"plugin\": " + jsonString(context.path) +
                          ",\n  \"seed\": " + std::to_string(context.seed) +
                          ",\n  \"quick\": " + (context.quick ? "true" : "false") +
                          ",\n  \"checks\": [";
        for (size_t i = 0; i < all.size(); ++i) {
            const CheckResult& r = all[i];
            out += std::string(i ? "," : "") + "\n    {\"name\": " + jsonString(r.name) +
                   ", \"status\": " + jsonString(statusName(r.status)) +
                   ", \"reason\": " + jsonString(r.reason) + ", \"notes\": [";
            for (size_t k = 0; k < r.notes.size(); ++k)
                out += std::string(k ? ", " : "") + jsonString(r.notes[k]);
            out += "]}";
        }
        out += "\n  ],\n  \"summary\": {\"passed\": " + std::to_string(pass) +
               ", \"warnings\": " + std::to_string(warn) + ", \"failed\": " + std::to_string(fail) +
               ", \"skipped\": " + std::to_string(skip) + "}\n}\n";
        std::fputs(out.c_str(), stdout);
    } else {
        std::printf("%zu checks: %d passed, %d passed with warnings, %d failed, %d skipped "
                    "(seed %llu)\n",
                    all.size(), pass, warn, fail, skip,
                    static_cast<unsigned long long>(context.seed));
    }
    std::fflush(stdout);
    return fail > 0 ? kExitFailure : 0;
}

} // namespace quill
