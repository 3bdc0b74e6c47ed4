#include "plugin_path.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Sets an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = old;
        if (value)
            ::setenv(name, value->c_str(), 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv() {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

class PluginPath : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = fs::path(::testing::TempDir()) /
                ("quill-path-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root_);
        fs::create_directories(root_ / "lx");
        fs::create_directories(root_ / "vst" / "sub");
        fs::create_directories(root_ / "home" / ".vst");
        touch(root_ / "lx" / "quilltest-both.so");
        touch(root_ / "vst" / "quilltest-both.so");
        touch(root_ / "vst" / "sub" / "quilltest-nested.so");
        touch(root_ / "vst" / "quilltest-plain");
        touch(root_ / "home" / ".vst" / "quilltest-home.so");
    }
    void TearDown() override { fs::remove_all(root_); }

    static void touch(const fs::path& p) { std::ofstream(p) << "x"; }
    std::string dir(const char* sub) const { return (root_ / sub).string(); }

    fs::path root_;
};

} // namespace

TEST_F(PluginPath, SearchesEnvironmentThenStandardDirectoriesThenHome) {
    ScopedEnv lx("LXVST_PATH", dir("lx"));
    ScopedEnv vst("VST_PATH", dir("nowhere") + ":" + dir("vst"));
    ScopedEnv home("HOME", dir("home"));
    const auto dirs = quill::pluginSearchDirs();
    ASSERT_GE(dirs.size(), 5u);
    EXPECT_EQ(dirs[0], dir("lx"));
    EXPECT_EQ(dirs[1], dir("nowhere"));
    EXPECT_EQ(dirs[2], dir("vst"));
    EXPECT_NE(std::find(dirs.begin(), dirs.end(), "/usr/lib/vst"), dirs.end());
    EXPECT_EQ(dirs.back(), dir("home") + "/.vst");
}

TEST_F(PluginPath, ResolvesNamesInSearchOrder) {
    ScopedEnv lx("LXVST_PATH", dir("lx"));
    ScopedEnv vst("VST_PATH", dir("vst"));
    ScopedEnv home("HOME", dir("home"));
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"quilltest-both.so", dir("lx") + "/quilltest-both.so"}, // LXVST_PATH comes first
        {"quilltest-both", dir("lx") + "/quilltest-both.so"},    // ".so" may be left out
        {"quilltest-nested", dir("vst") + "/sub/quilltest-nested.so"},
        {"quilltest-plain", dir("vst") + "/quilltest-plain"},
        {"quilltest-home", dir("home") + "/.vst/quilltest-home.so"},
        {"some/where/x.so", "some/where/x.so"}, // a slash: a path, taken as given
    };
    for (const auto& [name, path] : cases)
        EXPECT_EQ(quill::resolvePlugin(name), path) << name;
}

TEST_F(PluginPath, UnknownNameListsThePlacesSearched) {
    ScopedEnv vst("VST_PATH", dir("vst"));
    try {
        quill::resolvePlugin("quilltest-missing");
        FAIL() << "no error";
    } catch (const std::runtime_error& e) {
        const std::string message = e.what();
        EXPECT_NE(message.find("'quilltest-missing' not found"), std::string::npos) << message;
        EXPECT_NE(message.find(dir("vst")), std::string::npos) << message;
        EXPECT_NE(message.find("/usr/lib/vst"), std::string::npos) << message;
    }
}

TEST_F(PluginPath, DefaultPluginLooksBesideTheExecutableFirst) {
    ScopedEnv lx("LXVST_PATH", std::nullopt);
    ScopedEnv vst("VST_PATH", std::nullopt);
    ScopedEnv home("HOME", dir("home"));
    const std::string beside = quill::executableDir() + "/quillmont.so";
    if (fs::exists(beside)) { // the build puts the module beside the test executables
        EXPECT_EQ(quill::defaultPlugin(), beside);
        return;
    }
    if (fs::exists("/usr/lib/vst/quillmont.so") || fs::exists("/usr/local/lib/vst/quillmont.so"))
        GTEST_SKIP() << "an installed quillmont.so would be found";
    try {
        quill::defaultPlugin();
        FAIL() << "no error";
    } catch (const std::runtime_error& e) {
        const std::string message = e.what();
        EXPECT_NE(message.find("quillmont.so was not found; looked for:\n  " + beside),
                  std::string::npos)
            << message;
    }
}
