#include "plugin_path.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

namespace quill {

namespace {

void appendPathList(std::vector<std::string>& dirs, const char* list) {
    if (list == nullptr)
        return;
    std::string all(list);
    size_t start = 0;
    while (start <= all.size()) {
        size_t end = all.find(':', start);
        if (end == std::string::npos)
            end = all.size();
        if (end > start)
            dirs.push_back(all.substr(start, end - start));
        start = end + 1;
    }
}

bool isRegularFile(const fs::path& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

std::string joinLines(const std::vector<std::string>& items) {
    std::string out;
    for (const std::string& item : items)
        out += "\n  " + item;
    return out;
}

} // namespace

std::vector<std::string> pluginSearchDirs() {
    std::vector<std::string> dirs;
    appendPathList(dirs, std::getenv("LXVST_PATH"));
    appendPathList(dirs, std::getenv("VST_PATH"));
    for (const char* dir :
         {"/usr/local/lib64/lxvst", "/usr/local/lib/lxvst", "/usr/lib64/lxvst", "/usr/lib/lxvst",
          "/usr/local/lib64/linux_vst", "/usr/local/lib/linux_vst", "/usr/lib64/linux_vst",
          "/usr/lib/linux_vst", "/usr/lib/vst", "/usr/local/lib/vst"})
        dirs.emplace_back(dir);
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0')
        dirs.push_back(std::string(home) + "/.vst");
    return dirs;
}

std::string resolvePlugin(const std::string& name) {
    if (name.empty())
        throw std::runtime_error("empty plug-in name");
    if (name.find('/') != std::string::npos)
        return name;

    std::vector<std::string> fileNames{name};
    if (!name.ends_with(".so"))
        fileNames.push_back(name + ".so");

    const std::vector<std::string> dirs = pluginSearchDirs();
    for (const std::string& dir : dirs) {
        std::vector<fs::path> places{fs::path(dir)};
        std::error_code ec;
        for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
            if (it->is_directory(ec))
                places.push_back(it->path());
        std::sort(places.begin() + 1, places.end());
        for (const fs::path& place : places)
            for (const std::string& file : fileNames)
                if (isRegularFile(place / file))
                    return (place / file).string();
    }
    for (const std::string& file : fileNames)
        if (isRegularFile(file))
            return "./" + file;
    throw std::runtime_error("plug-in '" + name +
                             "' not found; looked in (with subdirectories) and in the current "
                             "directory:" +
                             joinLines(dirs));
}

std::string executableDir() {
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec)
        return ".";
    return exe.parent_path().string();
}

std::string defaultPlugin() {
    const std::string file = "quillmont.so";
    const fs::path here = executableDir();
    std::vector<std::string> tried{(here / file).string(),
                                   (here.parent_path() / "lib/vst" / file).string(),
                                   (here.parent_path() / "lib/lxvst" / file).string()};
    for (const std::string& dir : pluginSearchDirs())
        tried.push_back((fs::path(dir) / file).string());
    for (const std::string& candidate : tried)
        if (isRegularFile(candidate))
            return candidate;
    throw std::runtime_error("no PLUGIN given and " + file +
                             " was not found; looked for:" + joinLines(tried));
}

} // namespace quill
