// quill check end to end: a clean plug-in passes, each spoiled fixture fails the check that
// is there to find its fault (and says why), and the output is replayable and machine-readable.

#include "tool_cli_support.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace {

using quill_test::contains;
using quill_test::lines;
using quill_test::Outcome;
using quill_test::TempDir;

// The line of one check ("PASS  name   why"), or empty.
std::string lineOf(const std::string& out, const std::string& check) {
    for (const std::string& line : lines(out))
        if (line.size() > 6 && line.compare(6, check.size() + 1, check + " ") == 0)
            return line;
    return {};
}

Outcome check(const std::string& plugin, const std::vector<std::string>& extra,
              const TempDir& dir) {
    std::vector<std::string> args = {"check", plugin, "--quick", "--seed", "7"};
    args.insert(args.end(), extra.begin(), extra.end());
    return quill_test::quill(args, dir);
}

TEST(QuillCheck, QuillmontPassesEveryCheck) {
    REQUIRE_QUILLMONT();
    TempDir dir;
    const Outcome run = check(quill_test::quillmontPath(), {}, dir);
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    size_t checks = 0;
    for (const std::string& line : lines(run.out)) {
        if (line.rfind("PASS  ", 0) == 0 || line.rfind("WARN  ", 0) == 0 ||
            line.rfind("FAIL  ", 0) == 0 || line.rfind("SKIP  ", 0) == 0) {
            ++checks;
            const bool realtimeSkipped = !RTSAN_LINKED && line.rfind("SKIP  realtime", 0) == 0;
            EXPECT_TRUE(line.rfind("PASS  ", 0) == 0 || realtimeSkipped) << line;
        }
    }
    EXPECT_EQ(checks, 16u) << run.out;
    EXPECT_TRUE(contains(run.out, RTSAN_LINKED ? "16 checks: 16 passed, 0 passed with warnings"
                                               : "16 checks: 15 passed, 0 passed with warnings, "
                                                 "0 failed, 1 skipped"))
        << run.out;
    // Quillmont sends notes: the event check has something to look at.
    EXPECT_TRUE(contains(lineOf(run.out, "events"), "events in")) << run.out;
}

TEST(QuillCheck, CleanFixturePassesEveryCheck) {
    TempDir dir;
    const Outcome run = check(CHECK_GOOD, {}, dir);
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_TRUE(contains(run.out, " 0 failed")) << run.out;
    EXPECT_FALSE(contains(run.out, "WARN  ")) << run.out;
    EXPECT_TRUE(lineOf(run.out, "realtime").rfind(RTSAN_LINKED ? "PASS" : "SKIP", 0) == 0)
        << run.out;
}

struct Fault {
    const char* fixture;
    const char* check; // the check that must fail
    const char* why;   // a part of its reason

    friend void PrintTo(const Fault& f, std::ostream* os) { *os << f.check; }
};

class QuillCheckFault : public ::testing::TestWithParam<Fault> {};

TEST_P(QuillCheckFault, FailsTheCheckThatLooksForIt) {
    const Fault& f = GetParam();
    TempDir dir;
    const Outcome run = check(f.fixture, {"--only", f.check, "--cycles", "300"}, dir);
    EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
    const std::string line = lineOf(run.out, f.check);
    EXPECT_EQ(line.rfind("FAIL  ", 0), 0u) << run.out;
    EXPECT_TRUE(contains(line, f.why)) << line;
    EXPECT_TRUE(contains(run.out, "1 failed")) << run.out;
}

const Fault kFaults[] = {
    {CHECK_TEXT_OVERRUN, "parameter-texts", "effGetParamDisplay overruns a 64-byte buffer"},
    {CHECK_TEXT_OVERRUN, "parameter-fuzz", "overruns a 64-byte buffer"},
    {CHECK_PROGRAM_OVERRUN, "program-texts", "effGetProgramName overruns a 64-byte buffer"},
    {CHECK_PROGRAM_OVERRUN, "programs", "overruns a 64-byte buffer"},
    {CHECK_EVENT_AT_END, "events", "offsets must lie in 0.."},
    {CHECK_EVENT_OUTSIDE, "events", "outside any processing call"},
    {CHECK_EVENT_BAD_MIDI, "events", "data byte 2 is 0x80"},
    {CHECK_EVENT_ORDER, "events", "out of order"},
    {CHECK_EVENT_AT_END, "automation", "offsets must lie in 0.."},
    {CHECK_OUTPUT_OVERRUN, "process-replacing", "wrote past the block in output 0"},
    {CHECK_OUTPUT_NAN, "process", "is NaN"},
    {CHECK_PARAM_RANGE, "parameter-fuzz", "not in 0..1"},
    {CHECK_PARAM_RANGE, "automation", "answers"},
    {CHECK_LEAK, "open-close-cycles", "memory grows"},
    {CHECK_LOCALE, "locale", "changed"},
    {CHECK_THREADS, "thread-safety", "crashed (signal 11"},
    // A crash names where it happened, so that it can be found again.
    {CHECK_CRASH_4096, "process-replacing",
     "crashed (signal 11, Segmentation fault) during processReplacing at 44100 Hz, blocks of "
     "4096"},
    {CHECK_SWITCH_RATE, "switching",
     "crashed (signal 11, Segmentation fault) during switching: "
     "176400 Hz"},
};

INSTANTIATE_TEST_SUITE_P(Fixtures, QuillCheckFault, ::testing::ValuesIn(kFaults),
                         [](const ::testing::TestParamInfo<Fault>& info) {
                             std::string name = std::to_string(info.index) + "_" + info.param.check;
                             for (char& c : name)
                                 if (c == '-')
                                     c = '_';
                             return name;
                         });

TEST(QuillCheck, CrashFailsItsGroupAndTheOthersStillRun) {
    TempDir dir;
    const Outcome run = check(CHECK_CRASH_4096, {}, dir);
    EXPECT_EQ(run.exitCode, 1) << run.out;
    // The processing group dies; checks in other processes go on and pass.
    EXPECT_EQ(lineOf(run.out, "events").rfind("FAIL", 0), 0u) << run.out;
    EXPECT_EQ(lineOf(run.out, "locale").rfind("PASS", 0), 0u) << run.out;
    EXPECT_EQ(lineOf(run.out, "parameter-texts").rfind("PASS", 0), 0u) << run.out;
}

TEST(QuillCheck, AllocationInProcessingIsARealTimeViolation) {
    TempDir dir;
    const Outcome run = check(CHECK_ALLOC, {"--only", "realtime"}, dir);
    const std::string line = lineOf(run.out, "realtime");
    if (!RTSAN_LINKED) {
        // Never a pass without the runtime.
        EXPECT_EQ(line.rfind("SKIP", 0), 0u) << run.out;
        EXPECT_EQ(run.exitCode, 0);
        return;
    }
    EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
    EXPECT_EQ(line.rfind("FAIL", 0), 0u) << run.out;
    EXPECT_TRUE(contains(line, "called malloc during processReplacing")) << line;
}

TEST(QuillCheck, OutOfRangeAnswersAreReportedNotFailed) {
    TempDir dir;
    const Outcome run = check(CHECK_PARAM_NAN, {"--only", "parameter-fuzz", "-v"}, dir);
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_EQ(lineOf(run.out, "parameter-fuzz").rfind("PASS", 0), 0u) << run.out;
    EXPECT_TRUE(contains(run.out, "INFO: set to NaN, getParameter answers NaN for 2 of 2"))
        << run.out;
}

TEST(QuillCheck, TextSizesAreReportedByTier) {
    REQUIRE_QUILLMONT();
    TempDir dir;
    const Outcome run =
        check(quill_test::quillmontPath(), {"--only", "parameter-texts", "-v"}, dir);
    EXPECT_EQ(run.exitCode, 0) << run.out;
    // "Max amplitude" and its NUL: 14 bytes, past the bare 8 and 9 bytes, inside 64.
    EXPECT_TRUE(contains(run.out, "the longest 14 bytes")) << run.out;
    EXPECT_TRUE(contains(run.out, "INFO: effGetParamName overruns a 9-byte buffer")) << run.out;
    EXPECT_FALSE(contains(run.out, "overruns a 64-byte")) << run.out;
    EXPECT_FALSE(contains(run.out, "effGetParamDisplay overruns a 9-byte")) << run.out;
}

TEST(QuillCheck, SeedIsPrintedAndReplays) {
    REQUIRE_QUILLMONT();
    TempDir dir;
    const std::vector<std::string> args = {"--only", "automation", "--only", "parameter-fuzz"};
    const Outcome first = check(quill_test::quillmontPath(), args, dir);
    const Outcome again = check(quill_test::quillmontPath(), args, dir);
    EXPECT_TRUE(contains(first.out, "seed 7 (replay with --seed 7)")) << first.out;
    EXPECT_FALSE(lineOf(first.out, "automation").empty()) << first.out;
    EXPECT_EQ(lineOf(first.out, "automation"), lineOf(again.out, "automation"));
    // Without --seed a new one is drawn and printed.
    const Outcome fresh =
        quill_test::quill({"check", quill_test::quillmontPath(), "--only", "identity"}, dir);
    EXPECT_TRUE(contains(fresh.out, "(replay with --seed ")) << fresh.out;
}

TEST(QuillCheck, JsonListsEveryCheckWithItsStatus) {
    TempDir dir;
    const Outcome run =
        check(CHECK_EVENT_AT_END, {"--json", "--only", "events", "--only", "identity"}, dir);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(contains(run.out, "\"seed\": 7")) << run.out;
    EXPECT_TRUE(contains(run.out, "{\"name\": \"identity\", \"status\": \"PASS\"")) << run.out;
    EXPECT_TRUE(contains(run.out, "{\"name\": \"events\", \"status\": \"FAIL\"")) << run.out;
    EXPECT_TRUE(contains(run.out, "\"failed\": 1")) << run.out;
    EXPECT_FALSE(contains(run.out, "PASS  ")) << "no text lines in JSON mode";
}

TEST(QuillCheck, BadOptionsAndUnloadablePlugins) {
    TempDir dir;
    Outcome run = quill_test::quill({"check", CHECK_GOOD, "--only", "nonsense"}, dir);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(contains(run.err, "unknown check 'nonsense'")) << run.err;
    run = quill_test::quill({"check", CHECK_GOOD, "--seed", "x1"}, dir);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(contains(run.err, "--seed 'x1'")) << run.err;
    // A file that is not a plug-in: open-cold fails, everything else is skipped, not passed.
    run = quill_test::quill({"check", NULL_FIXTURE, "--seed", "1"}, dir);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(lineOf(run.out, "open-cold").rfind("FAIL", 0), 0u) << run.out;
    EXPECT_TRUE(contains(run.out, " 0 passed")) << run.out;
    EXPECT_EQ(lineOf(run.out, "locale").rfind("SKIP", 0), 0u) << run.out;
}

} // namespace
