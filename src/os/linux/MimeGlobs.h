#pragma once
// The shared MIME database's file-name rules (mime/globs2) and icon names (mime/icons,
// mime/generic-icons): the icon of a file from its name alone.
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "os/linux/DesktopFiles.h"

namespace os::desktop {

// The data folders of $XDG_DATA_HOME and $XDG_DATA_DIRS (defaults where unset), highest
// precedence first; each may hold a mime/ folder.
std::vector<std::string> DefaultDataDirs();

class MimeGlobs {
public:
    MimeGlobs(std::string root, std::vector<std::string> dataDirs);

    // The MIME type for a file name (no folder), by the highest-weighted, then longest,
    // matching glob; empty when none matches.
    std::string mimeTypeOfName(std::string_view fileName);

    // Icon names for a MIME type, best first: its own icon, then its generic icon.
    std::vector<std::string> iconNamesOf(const std::string& mimeType);

    // Rebuilds when a globs2 file changed since it was built; true when it did.
    bool refreshIfChanged();

private:
    void build();
    void readGlobs(const std::string& file);
    static void readIconMap(const std::string& file,
                            std::unordered_map<std::string, std::string>& map);

    struct Glob {
        int weight;
        std::string mimeType;
        std::string pattern; // lower-cased unless caseSensitive
        bool caseSensitive;
        enum class Kind { Literal, Suffix, Pattern } kind;
    };

    std::string m_root;
    std::vector<std::string> m_dataDirs;
    bool m_built = false;
    SourceStamp m_stamp;
    std::vector<Glob> m_globs;
    std::unordered_map<std::string, std::string> m_icons;
    std::unordered_map<std::string, std::string> m_genericIcons;
};

} // namespace os::desktop
