// `quill info`, run as a user runs it.
#include "tool_cli_support.h"

using namespace quill_test;

namespace {

const char* const kKars = "/usr/lib/vst/Kars-vst.so";

// Lines of `quill info` on Quillmont at the defaults, with runs of blanks as they are printed.
const std::vector<std::string> kQuillmontLines = {
    "entry:          VSTPluginMain",
    "magic:          0x56737450 'VstP'",
    "unique ID:      1903520108 0x7175696C 'quil'",
    "version:        1",
    "inputs:         0",
    "outputs:        0",
    "flags:          280 CanMono|CanReplacing|IsSynth",
    "initial delay:  0",
    "effect name:    \"Quillmont\"",
    "vendor:         \"KOVA\"",
    "product:        \"KOVA midi tools\"",
    "vendor version: 1",
    "category:       1 Effect",
    "VST version:    2200",
    "  sendVstEvents          1 yes",
    "  sendVstMidiEvent       1 yes",
    "  receiveVstEvents      -1 no",
    "  receiveVstMidiEvent   -1 no",
    "parameters:     7",
    "  index  name             value        text        label",
    "      0  \"Max time\"       1            \"1000.000\"  \"   ms   \"",
    "      1  \"Min time\"       0            \"      0\"   \"   ms   \"",
    "      2  \"Time distrib\"   0            \"exponent\"  \"\"",
    "      3  \"Max amplitude\"  1            \"    127\"   \"\"",
    "      4  \"Min amplitude\"  0            \"      0\"   \"\"",
    "      5  \"Amp distrib\"    0            \"exponent\"  \"\"",
    "      6  \"Note\"           0.47244096   \"     60\"   \"\"",
    "programs:       1",
    "program:        0 \"MIDI Quillmont\"",
};

bool hasLine(const std::string& text, const std::string& line) {
    for (const std::string& l : lines(text))
        if (l == line)
            return true;
    return false;
}

// Evaluates Python expressions over JSON with Python's own parser (which also proves the
// JSON valid), one result a line; a single run, as Python is slow to start.
std::vector<std::string> jsonValues(const std::string& file,
                                    const std::vector<std::string>& expressions,
                                    const TempDir& dir) {
    std::string program = "import json,sys\nd=json.load(open(sys.argv[1]))\n";
    for (const std::string& e : expressions)
        program += "print(" + e + ")\n";
    const std::string script = dir / "read.py";
    std::ofstream(script) << program;
    const Outcome run = runShell("python3 " + shellQuote(script) + " " + shellQuote(file), dir);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    std::vector<std::string> out = lines(run.out);
    out.resize(expressions.size());
    return out;
}

} // namespace

TEST(QuillInfo, ShowsWhatAHostLearnsFromQuillmont) {
    REQUIRE_QUILLMONT();
    TempDir dir;
    const Outcome run = quill({"info", quillmontPath()}, dir);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(hasLine(run.out, "file:           " + quillmontPath())) << run.out;
    for (const std::string& line : kQuillmontLines)
        EXPECT_TRUE(hasLine(run.out, line)) << "missing line [" << line << "] in\n" << run.out;
}

TEST(QuillInfo, TellsThePluginTheSampleRate) {
    REQUIRE_QUILLMONT();
    TempDir dir;
    // The longest interval stays 44100 samples when only the rate changes: 918.75 ms at 48 kHz.
    const Outcome run = quill({"info", quillmontPath(), "--rate", "48000"}, dir);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(
        hasLine(run.out, "      0  \"Max time\"       1            \"918.7500\"  \"   ms   \""))
        << run.out;
}

TEST(QuillInfo, DefaultPluginIsTheOneBuiltBesideQuill) {
    REQUIRE_QUILLMONT();
    TempDir dir;
    const Outcome run = quill({"info"}, dir);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(hasLine(
        run.out, "file:           " +
                     (std::filesystem::path(QUILL_PATH).parent_path() / "quillmont.so").string()))
        << run.out;
    EXPECT_TRUE(hasLine(run.out, "effect name:    \"Quillmont\"")) << run.out;
}

TEST(QuillInfo, JsonCarriesTheSameFacts) {
    REQUIRE_QUILLMONT();
    REQUIRE_COMMAND("python3");
    TempDir dir;
    const Outcome run = quill({"info", "--json", quillmontPath()}, dir);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::string file = dir / "info.json";
    std::ofstream(file) << run.out;
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"d['entry']", "VSTPluginMain"},
        {"d['uniqueID'], d['uniqueIDText']", "1903520108 quil"},
        {"d['flags'], d['flagNames']", "280 ['CanMono', 'CanReplacing', 'IsSynth']"},
        {"d['effectName'], d['vendor'], d['product']", "Quillmont KOVA KOVA midi tools"},
        {"d['category'], d['categoryName'], d['vstVersion']", "1 Effect 2200"},
        {"d['canDo']['sendVstEvents'], d['canDo']['receiveVstMidiEvent']", "1 -1"},
        {"len(d['parameters'])", "7"},
        {"repr(d['parameters'][0]['label'])", "'   ms   '"},
        {"repr(d['parameters'][1]['text'])", "'      0'"},
        {"d['parameters'][3]['name'], d['parameters'][3]['text'].strip()", "Max amplitude 127"},
        {"d['parameters'][6]['value']", "0.47244096"},
        {"d['programName']", "MIDI Quillmont"},
    };
    std::vector<std::string> expressions;
    for (const auto& c : cases)
        expressions.push_back(c.first);
    const std::vector<std::string> values = jsonValues(file, expressions, dir);
    for (size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(values[i], cases[i].second) << cases[i].first;
}

TEST(QuillInfo, ShowsAThirdPartyInstrument) {
    REQUIRE_FILE(kKars);
    TempDir dir;
    // Found by name in the standard directories.
    const Outcome run = quill({"info", "Kars-vst"}, dir);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    for (const std::string& line :
         {std::string("file:           ") + kKars, std::string("entry:          main"),
          std::string("effect name:    \"Kars\""), std::string("vendor:         \"falkTX\""),
          std::string("category:       2 Synth"), std::string("inputs:         0")})
        EXPECT_TRUE(hasLine(run.out, line)) << "missing [" << line << "] in\n" << run.out;
    EXPECT_TRUE(contains(run.out, "IsSynth")) << run.out;
}

TEST(QuillInfo, ACrashingPluginDoesNotEndTheScan) {
    TempDir dir;
    const Outcome run =
        quill({"info", PROBE_FIXTURE, CRASH_FIXTURE, NULL_FIXTURE, PROBE_FIXTURE}, dir);
    EXPECT_EQ(run.exitCode, 1);
    // Both healthy plug-ins are reported, in order, around the two that failed.
    const auto first = run.out.find("file:           " + std::string(PROBE_FIXTURE));
    ASSERT_NE(first, std::string::npos) << run.out;
    EXPECT_NE(run.out.find("file:           " + std::string(PROBE_FIXTURE), first + 1),
              std::string::npos)
        << run.out;
    EXPECT_TRUE(contains(run.err, std::string(CRASH_FIXTURE) + ": crashed (signal 11")) << run.err;
    EXPECT_TRUE(contains(run.err, std::string(NULL_FIXTURE) + ": VSTPluginMain answered null"))
        << run.err;
}

TEST(QuillInfo, APluginThatNeverAnswersIsStoppedAndTheScanGoesOn) {
    TempDir dir;
    const Outcome run = quill({"info", "--timeout", "2", HANG_FIXTURE, PROBE_FIXTURE}, dir);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(contains(run.err,
                         std::string(HANG_FIXTURE) + ": did not finish within 2 s and was stopped"))
        << run.err;
    EXPECT_TRUE(contains(run.out, "effect name:    \"Probe\"")) << run.out;
}

TEST(QuillInfo, JsonScanOfSeveralIsAnArrayWithErrorsInPlace) {
    REQUIRE_COMMAND("python3");
    TempDir dir;
    const Outcome run = quill({"info", "--json", PROBE_FIXTURE, CRASH_FIXTURE}, dir);
    EXPECT_EQ(run.exitCode, 1);
    const std::string file = dir / "scan.json";
    std::ofstream(file) << run.out;
    const std::vector<std::string> values = jsonValues(
        file, {"len(d), d[0]['effectName'], d[0]['entry']", "d[1]['file']", "d[1]['error']"}, dir);
    EXPECT_EQ(values[0], "2 Probe main");
    EXPECT_EQ(values[1], CRASH_FIXTURE);
    EXPECT_TRUE(contains(values[2], "crashed (signal 11")) << values[2];
}

TEST(QuillInfo, FindsPluginsOnVstPath) {
    TempDir dir;
    const Outcome run =
        quill({"info", "fixture_probe"}, dir, "VST_PATH=" + shellQuote(FIXTURE_DIR) + " ");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(
        contains(run.out, "file:           " + std::string(FIXTURE_DIR) + "/fixture_probe.so"))
        << run.out;
}
