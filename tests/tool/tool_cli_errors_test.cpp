// What quill says, and how it exits, when something is wrong.
#include "tool_cli_support.h"

using namespace quill_test;

namespace {

struct ErrorCase {
    std::vector<std::string> args; // "{dir}" stands for the test's directory
    int exitCode;
    std::vector<std::string> says; // parts of the message on standard error
};

std::string expand(const std::string& s, const TempDir& dir) {
    const auto at = s.find("{dir}");
    return at == std::string::npos ? s : s.substr(0, at) + dir.path().string() + s.substr(at + 5);
}

void checkErrors(const std::vector<ErrorCase>& cases) {
    for (const ErrorCase& c : cases) {
        TempDir dir;
        std::ofstream(dir / "text.so") << std::string(200, 'x') << "\n"; // longer than a header
        std::filesystem::create_directories(dir / "a-directory.mid");
        std::vector<std::string> args;
        std::string shown;
        for (const std::string& a : c.args) {
            args.push_back(expand(a, dir));
            shown += " " + a;
        }
        SCOPED_TRACE("quill" + shown);
        const Outcome run = quill(args, dir);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        for (const std::string& part : c.says)
            EXPECT_TRUE(contains(run.err, expand(part, dir))) << "[" << part << "] in " << run.err;
        EXPECT_FALSE(contains(run.err, "terminate called")) << run.err;
        // Nothing half-written is left behind.
        EXPECT_FALSE(std::filesystem::exists(dir / "out.mid"));
        EXPECT_FALSE(std::filesystem::exists(dir / "out.wav"));
    }
}

} // namespace

TEST(QuillErrors, PluginFilesThatCannotBeUsed) {
    checkErrors({
        {{"info", "{dir}/missing.so"}, 1, {"{dir}/missing.so: No such file or directory"}},
        {{"render", "{dir}/missing.so"}, 1, {"{dir}/missing.so: No such file or directory"}},
        {{"info", "{dir}/text.so"}, 1, {"{dir}/text.so: cannot load as a shared library"}},
        {{"render", "{dir}/text.so", "--out", "{dir}/out.mid"},
         1,
         {"{dir}/text.so: cannot load as a shared library", "invalid ELF header"}},
        {{"info", NO_ENTRY_FIXTURE},
         1,
         {std::string(NO_ENTRY_FIXTURE) + ": not a VST 2 plug-in: exports neither "
                                          "VSTPluginMain nor main"}},
        {{"render", NULL_FIXTURE, "--out", "{dir}/out.mid"},
         1,
         {std::string(NULL_FIXTURE) + ": VSTPluginMain answered null"}},
        {{"info", BAD_MAGIC_FIXTURE}, 1, {"magic 0x4E6F7065 (expected 0x56737450)"}},
        {{"info", CRASH_FIXTURE}, 1, {std::string(CRASH_FIXTURE) + ": crashed (signal 11"}},
        {{"info", "quill-no-such-plugin"},
         1,
         {"plug-in 'quill-no-such-plugin' not found", "/usr/lib/vst"}},
        {{"render", PROBE_FIXTURE, "--through", "{dir}/missing.so", "--wav", "{dir}/out.wav"},
         1,
         {"{dir}/missing.so: No such file or directory"}},
    });
}

TEST(QuillErrors, ValuesAndOptionsThatMakeNoSense) {
    REQUIRE_QUILLMONT();
    checkErrors({
        {{"render", "--set", "Loudness=0.5", "--out", "{dir}/out.mid"},
         2,
         {"unknown parameter 'Loudness'", "0 \"Max time\"", "6 \"Note\""}},
        {{"render", "--set", "7=0.5"}, 2, {"parameter index 7 is out of range", "0 to 6"}},
        {{"render", "--set", "Note=loud"},
         2,
         {"value 'loud' for parameter 'Note' is not a number"}},
        {{"render", "--set", "Note=1.5"}, 2, {"value 1.5 for parameter 'Note' is outside 0..1"}},
        {{"render", "--set", "Note"}, 2, {"--set: 'Note' is not NAME=VALUE"}},
        {{"render", "--seconds", "-1"}, 2, {"--seconds: -1 is negative"}},
        {{"render", "--seconds", "ten"}, 2, {"--seconds: 'ten' is not a number"}},
        {{"render", "--blocks", "-3"}, 2, {"--blocks: -3 is outside 0.."}},
        {{"render", "--blocks", "2.5"}, 2, {"--blocks: '2.5' is not a whole number"}},
        {{"render", "--block", "0"}, 2, {"--block: 0 is outside 1.."}},
        {{"render", "--rate", "0"}, 2, {"--rate: 0 must be above 0"}},
        {{"render", "--seconds", "1", "--blocks", "2"}, 2, {"--seconds excludes --blocks"}},
        {{"render", "--through", PROBE_FIXTURE}, 2, {"--through needs --wav"}},
        {{"render", "--wav", "{dir}/out.wav"}, 2, {"--wav needs --through"}},
        {{"render", "--frobnicate"}, 2, {"--frobnicate"}},
        {{"transmogrify"}, 2, {"transmogrify"}},
        {{}, 2, {"A subcommand is required"}},
    });
}

TEST(QuillErrors, OutputsThatCannotBeWritten) {
    REQUIRE_QUILLMONT();
    checkErrors({
        {{"render", "--out", "{dir}/no/such/dir/notes.mid"},
         1,
         {"cannot write {dir}/no/such/dir/notes.mid: No such file or directory"}},
        {{"render", "--out", "{dir}/a-directory.mid"},
         1,
         {"cannot write {dir}/a-directory.mid: Is a directory"}},
        {{"render", "--through", PROBE_FIXTURE, "--wav", "{dir}/no/such/dir/audio.wav"},
         1,
         {"cannot write {dir}/no/such/dir/audio.wav"}},
    });
}

TEST(QuillHelp, EveryCommandSaysRenderingIsDeterministic) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--help"}, {"info", "--help"}, {"render", "--help"}}) {
        TempDir dir;
        const Outcome run = quill(args, dir);
        EXPECT_EQ(run.exitCode, 0) << args[0];
        EXPECT_TRUE(contains(run.out, "Rendering is deterministic: the same command writes the "
                                      "same output, byte for byte."))
            << run.out;
    }
    TempDir dir;
    const Outcome render = quill({"render", "--help"}, dir);
    for (const char* option : {"--seconds", "--blocks", "--rate", "--block", "--set", "--out",
                               "--csv", "--through", "--wav"})
        EXPECT_TRUE(contains(render.out, option)) << option;
}
