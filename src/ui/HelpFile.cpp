#include "ui/HelpFile.h"

#include <filesystem>
#include <system_error>

#ifndef KESTREL_HELP_RELATIVE_DIR
#error "KESTREL_HELP_RELATIVE_DIR comes from the build (src/ui/commands.cmake)"
#endif
#ifndef KESTREL_HELP_INSTALLED_DIR
#error "KESTREL_HELP_INSTALLED_DIR comes from the build (src/ui/commands.cmake)"
#endif

namespace {

constexpr const char* HelpFileName = "KestrelHelp.html";

bool isRegularFile(const std::string& path) {
    std::error_code error;
    const std::u8string name(path.begin(), path.end());
    return std::filesystem::is_regular_file(std::filesystem::path(name), error);
}

} // namespace

std::vector<std::string> HelpFileCandidates(const std::string& exeDir) {
    std::vector<std::string> candidates;
    if (!exeDir.empty()) {
        candidates.push_back(exeDir + HelpFileName);
        candidates.push_back(exeDir + KESTREL_HELP_RELATIVE_DIR + "/" + HelpFileName);
    }
    candidates.push_back(std::string(KESTREL_HELP_INSTALLED_DIR) + "/" + HelpFileName);
    return candidates;
}

std::string HelpFilePath(const std::string& exeDir) {
    const std::vector<std::string> candidates = HelpFileCandidates(exeDir);
    for (const std::string& candidate : candidates) {
        if (isRegularFile(candidate))
            return candidate;
    }
    return candidates.back();
}
