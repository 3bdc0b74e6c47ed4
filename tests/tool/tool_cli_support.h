// Running the quill binary from tests.
#pragma once

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace quill_test {

struct Outcome {
    int exitCode = -1;
    std::string out;
    std::string err;
};

inline std::string shellQuote(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

inline std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

// A fresh directory for one test, removed afterwards.
class TempDir {
public:
    TempDir() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        path_ = std::filesystem::path(::testing::TempDir()) /
                ("quill-" + std::to_string(::getpid()) + "-" + info->test_suite_name() + "-" +
                 info->name());
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempDir() { std::filesystem::remove_all(path_); }
    const std::filesystem::path& path() const { return path_; }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// Runs a shell command line; stdin is empty, stdout and stderr are captured.
inline Outcome runShell(const std::string& command, const TempDir& dir) {
    const std::string out = dir / ".stdout";
    const std::string err = dir / ".stderr";
    const int status = std::system(
        (command + " </dev/null >" + shellQuote(out) + " 2>" + shellQuote(err)).c_str());
    Outcome run;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = readFile(out);
    run.err = readFile(err);
    return run;
}

// Runs quill with these arguments (and optional "NAME=value " environment prefix).
inline Outcome quill(const std::vector<std::string>& args, const TempDir& dir,
                     const std::string& env = "") {
    std::string command = env + shellQuote(QUILL_PATH);
    for (const std::string& a : args)
        command += " " + shellQuote(a);
    return runShell(command, dir);
}

inline bool commandExists(const std::string& name) {
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

inline std::string quillmontPath() {
#ifdef QUILLMONT_PATH
    return QUILLMONT_PATH;
#else
    return {};
#endif
}

inline bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

} // namespace quill_test

#define REQUIRE_QUILLMONT()                                                                        \
    if (quill_test::quillmontPath().empty())                                                       \
    GTEST_SKIP() << "the plug-in module is not part of this build"

#define REQUIRE_FILE(path)                                                                         \
    if (!std::filesystem::exists(path))                                                            \
    GTEST_SKIP() << path << " is not installed"

#define REQUIRE_COMMAND(name)                                                                      \
    if (!quill_test::commandExists(name))                                                          \
    GTEST_SKIP() << name << " is not installed"
