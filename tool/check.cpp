#include "check.h"

#include "check_support.h"
#include "commands.h"
#include "isolate.h"
#include "plugin_path.h"
#include "render.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <set>
#include <span>

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

struct ChildOutcome {
    bool ok = false;
    std::string answer; // what the group answered
    std::string why;    // how it died
    std::string output; // its standard output and error, when captured
};

// Runs one group in a child process, at most timeoutSeconds. The child notes where it is;
// after a crash or hang the report says where.
ChildOutcome runChild(const CheckGroup& group, const CheckContext& context, int timeoutSeconds) {
    const IsolatedResult child = runIsolated(
        [&](std::span<char> stage) {
            check::setStageBuffer(stage.data(), stage.size());
            return serialise(group.run(context));
        },
        IsolationOptions{.timeoutSeconds = timeoutSeconds,
                         .captureOutput = group.captureOutput,
                         .stageSize = 512});
    ChildOutcome outcome{child.ok, child.output, {}, child.captured};
    if (!child.ok) {
        const std::string during = child.stage.empty() ? "" : " during " + child.stage;
        if (child.threw)
            outcome.why = "failed: " + child.error + during;
        else if (child.timedOut)
            outcome.why = child.error + " (hang?)" + during;
        else
            outcome.why = child.error + during;
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
