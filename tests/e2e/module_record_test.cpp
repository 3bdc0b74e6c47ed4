// The built module as a host sees it: entry point, record, lifetime of instances, exports.
#include "vst_host.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <string>

namespace {

using namespace quill;

constexpr const char* kModule = QUILLMONT_PATH;

std::string runCommand(const std::string& command) {
    std::string output;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe) {
        return output;
    }
    std::array<char, 256> buffer{};
    while (fgets(buffer.data(), buffer.size(), pipe.get()) != nullptr) {
        output += buffer.data();
    }
    return output;
}

bool allZero(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < size; ++i) {
        if (bytes[i] != 0) {
            return false;
        }
    }
    return true;
}

TEST(ModuleRecord, HoldsTheIdentityCountsAndEntryFunctions) {
    Plugin plug = Plugin::load(kModule);
    const vst::AEffect& e = plug.effect();
    EXPECT_EQ(plug.entrySymbol(), "VSTPluginMain");
    EXPECT_EQ(e.magic, 0x56737450);
    EXPECT_EQ(e.numPrograms, 1);
    EXPECT_EQ(e.numParams, 7);
    EXPECT_EQ(e.numInputs, 0);
    EXPECT_EQ(e.numOutputs, 0);
    EXPECT_EQ(e.flags, 280);
    EXPECT_EQ(e.uniqueID, 0x7175696C);
    EXPECT_EQ(e.version, 1);
    EXPECT_EQ(e.ioRatio, 1.0f);
    EXPECT_EQ(e.initialDelay, 0);
    EXPECT_EQ(e.realQualities, 0);
    EXPECT_EQ(e.offQualities, 0);
    EXPECT_EQ(e.resvd1, 0);
    EXPECT_EQ(e.resvd2, 0);
    EXPECT_EQ(e.user, nullptr);
    EXPECT_NE(e.object, nullptr);
    EXPECT_NE(static_cast<const void*>(e.object), static_cast<const void*>(&e));
    EXPECT_TRUE(allZero(e.future, sizeof e.future));
    EXPECT_NE(e.dispatcher, nullptr);
    EXPECT_NE(e.process, nullptr);
    EXPECT_NE(e.processReplacing, nullptr);
    EXPECT_NE(e.setParameter, nullptr);
    EXPECT_NE(e.getParameter, nullptr);
}

TEST(ModuleRecord, EffCloseAnswersOneThroughTheRecord) {
    Plugin plug = Plugin::load(kModule);
    EXPECT_EQ(plug.close(), 1);
}

TEST(ModuleRecord, TwoInstancesAreIndependent) {
    Plugin first = Plugin::load(kModule);
    Plugin second = Plugin::load(kModule);
    EXPECT_NE(first.effectPointer(), second.effectPointer());
    EXPECT_NE(first.effect().object, second.effect().object);

    first.setParameter(6, 1.0f);
    EXPECT_FLOAT_EQ(second.getParameter(6), 0.47244096f);
    EXPECT_EQ(first.close(), 1);

    // The survivor still answers every kind of request.
    second.setParameter(3, 0.5f);
    EXPECT_FLOAT_EQ(second.getParameter(3), 0.5f);
    EXPECT_EQ(second.text(vst::effGetParamDisplay, 3), "     63");
    second.resume();
    second.processReplacing(nullptr, nullptr, 100000);
    EXPECT_FALSE(second.events().empty());
}

TEST(ModuleEntry, HostAnsweringZeroToTheVersionQueryGetsNullAndNoOtherCall) {
    HostConfig config;
    config.versionAnswer = 0;
    try {
        Plugin::load(kModule, config);
        FAIL() << "a host answering 0 must get no instance";
    } catch (const LoadError& error) {
        EXPECT_EQ(error.kind(), LoadError::Kind::NullEffect);
        ASSERT_EQ(error.requests().size(), 1u);
        EXPECT_EQ(error.requests()[0].opcode, vst::audioMasterVersion);
        EXPECT_EQ(error.requests()[0].effect, nullptr);
    }
}

TEST(ModuleEntry, AnyNonZeroVersionAnswerGetsARecord) {
    for (intptr_t answer : {intptr_t{1}, intptr_t{2200}, intptr_t{-1}}) {
        SCOPED_TRACE(answer);
        HostConfig config;
        config.versionAnswer = answer;
        Plugin plug = Plugin::load(kModule, config);
        EXPECT_EQ(plug.effect().magic, 0x56737450);
        const auto requests = plug.requests();
        ASSERT_FALSE(requests.empty());
        EXPECT_EQ(requests[0].opcode, vst::audioMasterVersion);
        EXPECT_EQ(requests.size(), 1u) << "creating an instance asks the host nothing else";
    }
}

TEST(ModuleExports, ExactlyTheTwoEntryNamesAndNoCxxRuntimeDependency) {
    const std::string symbols =
        runCommand(std::string("nm -D --defined-only ") + kModule + " | awk '{print $3}'");
    std::set<std::string> names;
    std::size_t start = 0;
    while (start < symbols.size()) {
        const std::size_t end = symbols.find('\n', start);
        const std::string line = symbols.substr(start, end - start);
        if (!line.empty()) {
            names.insert(line);
        }
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    EXPECT_EQ(names, (std::set<std::string>{"VSTPluginMain", "main"}));

    const std::string dynamic = runCommand(std::string("readelf -d ") + kModule);
    ASSERT_NE(dynamic.find("NEEDED"), std::string::npos) << "readelf output missing";
    EXPECT_EQ(dynamic.find("libstdc++"), std::string::npos) << dynamic;
    EXPECT_EQ(dynamic.find("libgcc_s"), std::string::npos) << dynamic;
}

} // namespace
