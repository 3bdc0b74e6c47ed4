// The host library against real modules: Quillmont, small fixture modules, and third-party
// plug-ins from Debian where installed.
#include "vst_host.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace quill;

namespace {

const char* const kKars = "/usr/lib/vst/Kars-vst.so";
const char* const kLspCompressor = "/usr/lib/vst/lsp-plugins/compressor-mono.so";

std::string quillmontPath() {
#ifdef QUILLMONT_PATH
    return QUILLMONT_PATH;
#else
    return {};
#endif
}

#define REQUIRE_QUILLMONT()                                                                        \
    if (quillmontPath().empty())                                                                   \
    GTEST_SKIP() << "the plug-in module is not part of this build"

std::vector<HostRequest> withOpcode(const std::vector<HostRequest>& all, int32_t opcode) {
    std::vector<HostRequest> out;
    for (const HostRequest& r : all)
        if (r.opcode == opcode)
            out.push_back(r);
    return out;
}

// The note events of the default stream: (0-based block, offset, velocity) of each event.
struct Seen {
    int64_t block;
    int32_t offset;
    int velocity;
    bool operator==(const Seen&) const = default;
};

std::vector<Seen> seen(const std::vector<ReceivedEvent>& events) {
    std::vector<Seen> out;
    for (const ReceivedEvent& e : events)
        out.push_back({e.block, e.deltaFrames, e.midi[2]});
    return out;
}

} // namespace

TEST(HostLibrary, LoadsQuillmontAndReadsItsRecord) {
    REQUIRE_QUILLMONT();
    Plugin plug = Plugin::load(quillmontPath());
    EXPECT_EQ(plug.entrySymbol(), "VSTPluginMain");
    EXPECT_EQ(plug.path(), quillmontPath());
    const vst::AEffect& e = plug.effect();
    EXPECT_EQ(e.magic, vst::kEffectMagic);
    EXPECT_EQ(e.uniqueID, vst::fourCC('q', 'u', 'i', 'l'));
    EXPECT_EQ(e.numParams, 7);
    EXPECT_EQ(e.numPrograms, 1);
    EXPECT_EQ(e.flags, 280);
    EXPECT_EQ(plug.text(vst::effGetEffectName), "Quillmont");
    EXPECT_EQ(plug.text(vst::effGetParamName, 3), "Max amplitude");
    EXPECT_EQ(plug.canDo("sendVstEvents"), 1);
    EXPECT_EQ(plug.canDo("receiveVstMidiEvent"), -1); // a 64-bit -1, not 4294967295
}

TEST(HostLibrary, RecordsTheVersionQueryOfMainWithANullEffect) {
    REQUIRE_QUILLMONT();
    Plugin plug = Plugin::load(quillmontPath());
    const auto requests = plug.requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests[0].opcode, vst::audioMasterVersion);
    EXPECT_EQ(requests[0].effect, nullptr);
    EXPECT_EQ(requests[0].answer, 2400);
    EXPECT_FALSE(requests[0].duringProcessing);

    plug.clearRecords();
    plug.resume();
    const auto wantMidi = withOpcode(plug.requests(), vst::audioMasterWantMidi);
    ASSERT_EQ(wantMidi.size(), 1u);
    EXPECT_EQ(wantMidi[0].effect, plug.effectPointer());
    EXPECT_EQ(wantMidi[0].value, 1);
}

TEST(HostLibrary, VersionAnswerDecidesWhetherMainMakesAnInstance) {
    REQUIRE_QUILLMONT();
    for (intptr_t answer : {1, 2200, -1, 2400}) {
        HostConfig config;
        config.versionAnswer = answer;
        Plugin plug = Plugin::load(quillmontPath(), config);
        EXPECT_EQ(plug.effect().magic, vst::kEffectMagic) << answer;
        EXPECT_EQ(plug.requests().at(0).answer, answer);
    }

    HostConfig zero;
    zero.versionAnswer = 0;
    try {
        Plugin::load(quillmontPath(), zero);
        FAIL() << "an instance despite version 0";
    } catch (const LoadError& e) {
        EXPECT_EQ(e.kind(), LoadError::Kind::NullEffect);
        EXPECT_NE(std::string(e.what()).find("VSTPluginMain answered null"), std::string::npos)
            << e.what();
        ASSERT_EQ(e.requests().size(), 1u) << "main must make no call after version 0";
        EXPECT_EQ(e.requests()[0].opcode, vst::audioMasterVersion);
        EXPECT_EQ(e.requests()[0].answer, 0);
    }
}

TEST(HostLibrary, EventsCarryTheirBlockAndOffset) {
    REQUIRE_QUILLMONT();
    // The default stream at 44100 Hz in blocks of 1024, created and run on a fresh thread.
    const std::vector<ReceivedEvent> events = runOnFreshThread([] {
        Plugin plug = Plugin::load(quillmontPath());
        plug.dispatch(vst::effOpen);
        plug.setSampleRate(44100.0f);
        plug.setBlockSize(1024);
        plug.resume();
        for (int b = 0; b < 80; ++b)
            plug.processReplacing(nullptr, nullptr, 1024);
        EXPECT_EQ(plug.blocksProcessed(), 80);
        EXPECT_EQ(plug.samplesProcessed(), 80 * 1024);
        return plug.events();
    });
    const std::vector<Seen> expected = {{43, 12, 0}, {43, 12, 72}, {78, 520, 0}, {78, 520, 56}};
    EXPECT_EQ(seen(events), expected);
    for (const ReceivedEvent& e : events) {
        EXPECT_EQ(e.type, vst::kVstMidiType);
        EXPECT_EQ(e.midi[0], 0x90);
        EXPECT_EQ(e.midi[1], 60);
        EXPECT_EQ(e.blockLength, 1024);
        EXPECT_EQ(e.blockStart, e.block * 1024);
    }
    EXPECT_EQ(events[0].samplePosition(), 44044);
    EXPECT_EQ(events[2].samplePosition(), 80392);
}

TEST(HostLibrary, FreshThreadsGiveTheSameStreamEveryTime) {
    REQUIRE_QUILLMONT();
    auto run = [] {
        return runOnFreshThread([] {
            Plugin plug = Plugin::load(quillmontPath());
            plug.resume();
            for (int b = 0; b < 300; ++b)
                plug.process(nullptr, nullptr, 512);
            return seen(plug.events());
        });
    };
    const auto first = run();
    EXPECT_GE(first.size(), 6u);
    EXPECT_EQ(run(), first);
}

TEST(HostLibrary, TwoInstancesKeepTheirOwnRecords) {
    REQUIRE_QUILLMONT();
    runOnFreshThread([] {
        Plugin a = Plugin::load(quillmontPath());
        Plugin b = Plugin::load(quillmontPath());
        ASSERT_NE(a.effectPointer(), b.effectPointer());
        a.clearRecords();
        b.clearRecords();
        b.resume();
        EXPECT_TRUE(withOpcode(a.requests(), vst::audioMasterWantMidi).empty());
        EXPECT_EQ(withOpcode(b.requests(), vst::audioMasterWantMidi).size(), 1u);

        EXPECT_EQ(a.close(), 1);
        EXPECT_TRUE(a.closed());
        // The other instance still works and its events reach only its own record.
        for (int i = 0; i < 100; ++i)
            b.processReplacing(nullptr, nullptr, 1024);
        EXPECT_FALSE(b.events().empty());
        EXPECT_TRUE(a.events().empty());
        for (const HostRequest& r : b.requests())
            EXPECT_EQ(r.effect, b.effectPointer());
    });
}

TEST(HostLibrary, MovedPluginKeepsReceivingItsRequests) {
    REQUIRE_QUILLMONT();
    Plugin original = Plugin::load(quillmontPath());
    Plugin moved = std::move(original);
    moved.clearRecords();
    moved.resume();
    EXPECT_EQ(withOpcode(moved.requests(), vst::audioMasterWantMidi).size(), 1u);
}

TEST(HostLibrary, LoadErrorsNameTheFileAndTheReason) {
    const std::string dir = ::testing::TempDir() + "quill-host-" + std::to_string(::getpid());
    std::filesystem::create_directories(dir);
    const std::string text = dir + "/notes.so";
    std::ofstream(text) << "not a library\n";

    struct Case {
        std::string path;
        LoadError::Kind kind;
        std::string reason;
    };
    const std::vector<Case> cases = {
        {dir + "/missing.so", LoadError::Kind::FileMissing, "No such file or directory"},
        {dir, LoadError::Kind::FileMissing, "is a directory"},
        {text, LoadError::Kind::NotALibrary, "cannot load as a shared library"},
        {NO_ENTRY_FIXTURE, LoadError::Kind::NoEntry, "exports neither VSTPluginMain nor main"},
        {NULL_FIXTURE, LoadError::Kind::NullEffect, "VSTPluginMain answered null"},
        {BAD_MAGIC_FIXTURE, LoadError::Kind::BadMagic, "magic 0x4E6F7065 (expected 0x56737450)"},
    };
    for (const Case& c : cases) {
        try {
            Plugin::load(c.path);
            ADD_FAILURE() << "loaded " << c.path;
        } catch (const LoadError& e) {
            const std::string message = e.what();
            EXPECT_EQ(e.kind(), c.kind) << message;
            EXPECT_EQ(message.rfind(c.path + ": ", 0), 0u) << message;
            EXPECT_NE(message.find(c.reason), std::string::npos) << message;
        }
    }
    std::filesystem::remove_all(dir);
}

TEST(HostLibrary, FallsBackToMainAndAnswersWhatAHostIsAsked) {
    Plugin probe = Plugin::load(PROBE_FIXTURE);
    EXPECT_EQ(probe.entrySymbol(), "main");
    probe.setSampleRate(48000.0f);
    probe.setBlockSize(256);

    // The probe sends the host the request numbered by the index of effVendorSpecific.
    auto ask = [&](int32_t opcode, const char* text = nullptr) {
        std::string buffer = text ? text : "";
        return probe.dispatch(vst::effVendorSpecific, opcode, 0, text ? buffer.data() : nullptr);
    };
    EXPECT_EQ(ask(vst::audioMasterVersion), 2400);
    EXPECT_EQ(ask(vst::audioMasterGetSampleRate), 48000);
    EXPECT_EQ(ask(vst::audioMasterGetBlockSize), 256);
    EXPECT_EQ(ask(vst::audioMasterGetCurrentProcessLevel), vst::kProcessLevelUser);
    EXPECT_EQ(ask(vst::audioMasterCanDo, "sendVstEvents"), 1);
    EXPECT_EQ(ask(vst::audioMasterCanDo, "receiveVstMidiEvent"), 1);
    EXPECT_EQ(ask(vst::audioMasterCanDo, "sizeWindow"), 0);
    EXPECT_EQ(ask(vst::audioMasterGetTime), 0);
    EXPECT_EQ(ask(999), 0);

    probe.config().versionAnswer = 2200;
    EXPECT_EQ(ask(vst::audioMasterVersion), 2200);

    const auto canDo = withOpcode(probe.requests(), vst::audioMasterCanDo);
    ASSERT_EQ(canDo.size(), 3u);
    EXPECT_EQ(canDo[0].text, "sendVstEvents");
    EXPECT_EQ(canDo[2].text, "sizeWindow");

    // Inside processing the probe asks for its process level again.
    float out[64];
    float* outputs[] = {out};
    probe.clearRecords();
    probe.processReplacing(nullptr, outputs, 64);
    const auto level = withOpcode(probe.requests(), vst::audioMasterGetCurrentProcessLevel);
    ASSERT_EQ(level.size(), 1u);
    EXPECT_TRUE(level[0].duringProcessing);
    EXPECT_EQ(level[0].answer, vst::kProcessLevelRealtime);
}

TEST(HostLibrary, EventsOutsideProcessingAndOfOtherTypesAreKept) {
    Plugin probe = Plugin::load(PROBE_FIXTURE);
    float out[100];
    float* outputs[] = {out};
    probe.processReplacing(nullptr, outputs, 100);
    probe.processReplacing(nullptr, outputs, 50);

    vst::VstMidiEvent midi{};
    midi.type = vst::kVstMidiType;
    midi.byteSize = vst::kVstMidiEventByteSize;
    midi.deltaFrames = 7;
    midi.midiData[0] = 0xB0;
    midi.midiData[1] = 64;
    midi.midiData[2] = 127;
    midi.midiData[3] = 9;
    vst::VstEvent other{};
    other.type = 6; // not MIDI: only its head is read
    other.byteSize = 16;
    other.deltaFrames = 3;
    other.data[0] = 0x55;
    vst::VstEvents list{};
    list.numEvents = 2;
    list.events[0] = reinterpret_cast<vst::VstEvent*>(&midi);
    list.events[1] = &other;
    // The probe passes the list to the host, outside any processing call.
    EXPECT_EQ(probe.dispatch(vst::effVendorSpecific, vst::audioMasterProcessEvents, 0, &list), 1);

    const std::vector<ReceivedEvent> events = probe.events();
    ASSERT_EQ(events.size(), 2u);
    for (const ReceivedEvent& e : events) {
        EXPECT_EQ(e.block, -1);
        EXPECT_EQ(e.blockStart, 150); // where the next block would start
        EXPECT_EQ(e.blockLength, 0);
    }
    EXPECT_EQ(events[0].type, vst::kVstMidiType);
    EXPECT_EQ(events[0].samplePosition(), 157);
    EXPECT_EQ(events[0].midi, (std::array<uint8_t, 4>{0xB0, 64, 127, 9}));
    EXPECT_EQ(events[1].type, 6);
    EXPECT_EQ(events[1].deltaFrames, 3);
    EXPECT_EQ(events[1].midi, (std::array<uint8_t, 4>{}));
    EXPECT_EQ(probe.takeEvents().size(), 2u);
    EXPECT_TRUE(probe.events().empty());
}

TEST(HostLibrary, SendsEventListsOfAnyLength) {
    Plugin probe = Plugin::load(PROBE_FIXTURE);
    float out[16];
    float* outputs[] = {out};
    // The probe writes velocity / 127 at each note-on's offset in the next block.
    for (size_t count : {1u, 2u, 5u}) {
        std::vector<vst::VstMidiEvent> events;
        for (size_t i = 0; i < count; ++i) {
            vst::VstMidiEvent m{};
            m.type = vst::kVstMidiType;
            m.byteSize = vst::kVstMidiEventByteSize;
            m.deltaFrames = static_cast<int32_t>(3 * i + 1);
            m.midiData[0] = 0x90;
            m.midiData[1] = 60;
            m.midiData[2] = static_cast<unsigned char>(20 * (i + 1));
            events.push_back(m);
        }
        EXPECT_EQ(probe.sendEvents(events), 1);
        probe.processReplacing(nullptr, outputs, 16);
        for (int32_t f = 0; f < 16; ++f) {
            const bool hit = f % 3 == 1 && static_cast<size_t>(f / 3) < count;
            EXPECT_FLOAT_EQ(out[f], hit ? static_cast<float>(20 * (f / 3 + 1)) / 127.0f : 0.0f)
                << count << " events, frame " << f;
        }
    }
}

TEST(HostLibrary, LoadsThirdPartyPluginsThroughEitherEntry) {
    struct Case {
        const char* path;
        const char* entry;
        const char* name;
    };
    int tried = 0;
    std::vector<Case> cases = {{kKars, "main", "Kars"}};
#ifndef __SANITIZE_ADDRESS__
    // LSP's modules leave allocations behind when unloaded, which the leak checker of a
    // sanitizer build would blame on this test; they are the Debian plug-ins that export
    // VSTPluginMain.
    cases.push_back({kLspCompressor, "VSTPluginMain", "Compressor Mono"});
#endif
    for (const Case& c : cases) {
        if (!std::filesystem::exists(c.path))
            continue;
        ++tried;
        Plugin plug = Plugin::load(c.path);
        EXPECT_EQ(plug.entrySymbol(), c.entry);
        plug.dispatch(vst::effOpen);
        EXPECT_EQ(plug.text(vst::effGetEffectName), c.name);
        EXPECT_EQ(plug.effect().magic, vst::kEffectMagic);
    }
    if (tried == 0)
        GTEST_SKIP() << "dpf-plugins-vst and lsp-plugins-vst are not installed";
}
