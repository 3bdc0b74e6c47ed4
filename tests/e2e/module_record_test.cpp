// The built module as a host sees it: entry point, record, lifetime of instances, exports.
#include "vst_host.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

using namespace quill;

constexpr const char* kModule = QUILLMONT_PATH;

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

#if defined(_WIN32)
// The names the module exports and the libraries it imports from, read from the image that the
// Windows loader mapped.
struct ModuleTables {
    std::set<std::string> exported;
    std::vector<std::string> needed;
};

ModuleTables readModuleTables() {
    std::string native = kModule;
    std::replace(native.begin(), native.end(), '/', '\\');
    HMODULE module = LoadLibraryA(native.c_str());
    if (module == nullptr) {
        ADD_FAILURE() << "LoadLibrary failed for " << native;
        return {};
    }
    const auto* base = reinterpret_cast<const unsigned char*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY* directories = nt->OptionalHeader.DataDirectory;

    ModuleTables tables;
    if (directories[IMAGE_DIRECTORY_ENTRY_EXPORT].Size != 0) {
        const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(
            base + directories[IMAGE_DIRECTORY_ENTRY_EXPORT].VirtualAddress);
        const auto* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
        for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
            tables.exported.insert(reinterpret_cast<const char*>(base + names[i]));
        }
    }
    if (directories[IMAGE_DIRECTORY_ENTRY_IMPORT].Size != 0) {
        for (const auto* import = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(
                 base + directories[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress);
             import->Name != 0; ++import) {
            tables.needed.emplace_back(reinterpret_cast<const char*>(base + import->Name));
        }
    }
    FreeLibrary(module);
    return tables;
}
#else
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

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        if (!line.empty()) {
            result.push_back(line);
        }
    }
    return result;
}

// The module's dynamic symbols and NEEDED entries, as the ELF tools list them.
struct ModuleTables {
    std::set<std::string> exported;
    std::vector<std::string> needed;
};

ModuleTables readModuleTables() {
    ModuleTables tables;
    for (const std::string& name : lines(
             runCommand(std::string("nm -D --defined-only ") + kModule + " | awk '{print $3}'"))) {
        tables.exported.insert(name);
    }
    for (const std::string& line : lines(runCommand(std::string("readelf -d ") + kModule))) {
        if (line.find("(NEEDED)") != std::string::npos) {
            tables.needed.push_back(line);
        }
    }
    return tables;
}
#endif

TEST(ModuleExports, ExactlyTheTwoEntryNamesAndNoCxxRuntimeDependency) {
    const ModuleTables tables = readModuleTables();
    EXPECT_EQ(tables.exported, (std::set<std::string>{"VSTPluginMain", "main"}));

    ASSERT_FALSE(tables.needed.empty()) << "no imported library listed";
    for (const std::string& library : tables.needed) {
        std::string lower = library;
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        for (const char* runtime : {"libstdc++", "libgcc", "libwinpthread"}) {
            EXPECT_EQ(lower.find(runtime), std::string::npos) << library;
        }
    }
}

} // namespace
