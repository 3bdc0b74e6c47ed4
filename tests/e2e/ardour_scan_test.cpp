// A real host's scanner loads the built module and records what it learned in an XML cache file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

constexpr const char* kModule = QUILLMONT_PATH;
constexpr const char* kScanner = "/usr/lib/ardour7/ardour-vst-scanner";

// The value of attribute `name` in `xml`, or an empty text.
std::string attribute(const std::string& xml, const std::string& name) {
    const std::string key = " " + name + "=\"";
    const std::size_t start = xml.find(key);
    if (start == std::string::npos) {
        return {};
    }
    const std::size_t begin = start + key.size();
    return xml.substr(begin, xml.find('"', begin) - begin);
}

TEST(ArdourScan, RecordsNameCreatorIdAndMidiOutput) {
    if (!fs::exists(kScanner)) {
        if (std::getenv("CI") != nullptr) {
            FAIL() << kScanner << " is missing; CI installs ardour";
        }
        GTEST_SKIP() << kScanner << " not installed (apt-get install ardour)";
    }
    const fs::path home =
        fs::temp_directory_path() / ("quill-ardour-" + std::to_string(::getpid()));
    fs::remove_all(home);
    fs::create_directories(home);
    const std::string command = "HOME='" + home.string() + "' LD_LIBRARY_PATH=/usr/lib/ardour7 " +
                                kScanner + " '" + kModule + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;

    std::string xml;
    for (const auto& entry : fs::recursive_directory_iterator(home)) {
        if (entry.path().extension() == ".v2i") {
            std::ifstream in(entry.path());
            std::stringstream content;
            content << in.rdbuf();
            xml = content.str();
        }
    }
    fs::remove_all(home);
    ASSERT_FALSE(xml.empty()) << "the scanner wrote no cache file";
    EXPECT_EQ(attribute(xml, "name"), "Quillmont");
    EXPECT_EQ(attribute(xml, "creator"), "KOVA");
    EXPECT_EQ(attribute(xml, "id"), "1903520108");
    EXPECT_EQ(attribute(xml, "n_inputs"), "0");
    EXPECT_EQ(attribute(xml, "n_outputs"), "0");
    EXPECT_EQ(attribute(xml, "n_midi_outputs"), "1");
}

} // namespace
