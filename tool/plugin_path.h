// Where quill looks for plug-in files.
#pragma once

#include <string>
#include <vector>

namespace quill {

// The directories searched for a plug-in named without a slash, in order: LXVST_PATH, then
// VST_PATH (both colon-separated), the usual Linux VST directories, then ~/.vst.
std::vector<std::string> pluginSearchDirs();

// A name with a slash is taken as a path. A name without one is looked for in each search
// directory and its immediate subdirectories, as given and with ".so" added, then in the
// current directory. Throws std::runtime_error naming the places searched.
std::string resolvePlugin(const std::string& name);

// The Quillmont plug-in: quillmont.so beside the running executable, then installed next to
// it (../lib/vst, ../lib/lxvst), then in the search directories. Throws std::runtime_error.
std::string defaultPlugin();

// The directory of the running executable (from /proc/self/exe).
std::string executableDir();

} // namespace quill
