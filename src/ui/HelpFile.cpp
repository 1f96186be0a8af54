#include "ui/HelpFile.h"

#include <filesystem>
#include <system_error>

// The build says which help files the program may have, best first, and whether it is
// installed with a data folder (Linux) or keeps everything next to the executable (Windows).
#ifndef KESTREL_HELP_FILE_NAMES
#error "KESTREL_HELP_FILE_NAMES comes from the build (docs/help/help.cmake)"
#endif
#ifndef KESTREL_HELP_DATA_FOLDERS
#error "KESTREL_HELP_DATA_FOLDERS comes from the build (docs/help/help.cmake)"
#endif
#if KESTREL_HELP_DATA_FOLDERS
#ifndef KESTREL_HELP_RELATIVE_DIR
#error "KESTREL_HELP_RELATIVE_DIR comes from the build (src/ui/commands.cmake)"
#endif
#ifndef KESTREL_HELP_INSTALLED_DIR
#error "KESTREL_HELP_INSTALLED_DIR comes from the build (src/ui/commands.cmake)"
#endif
#endif

namespace {

constexpr const char* HelpFileNames[] = {KESTREL_HELP_FILE_NAMES};
constexpr bool HasDataFolders = KESTREL_HELP_DATA_FOLDERS != 0;

bool isRegularFile(const std::string& path) {
    std::error_code error;
    const std::u8string name(path.begin(), path.end());
    return std::filesystem::is_regular_file(std::filesystem::path(name), error);
}

} // namespace

std::vector<std::string> HelpFileCandidates(const std::string& exeDir) {
    std::vector<std::string> candidates;
    if (!exeDir.empty()) {
        for (const char* name : HelpFileNames)
            candidates.push_back(exeDir + name);
    }
#if KESTREL_HELP_DATA_FOLDERS
    const std::string name = HelpFileNames[0];
    if (!exeDir.empty())
        candidates.push_back(exeDir + KESTREL_HELP_RELATIVE_DIR + "/" + name);
    candidates.push_back(std::string(KESTREL_HELP_INSTALLED_DIR) + "/" + name);
#endif
    return candidates;
}

std::string HelpFilePath(const std::string& exeDir) {
    const std::vector<std::string> candidates = HelpFileCandidates(exeDir);
    for (const std::string& candidate : candidates) {
        if (isRegularFile(candidate))
            return candidate;
    }
    // Nothing found: the installed place, or without one the best name next to the program,
    // so that the desktop can say what is missing.
    if (candidates.empty())
        return HelpFileNames[0];
    return HasDataFolders ? candidates.back() : candidates.front();
}
