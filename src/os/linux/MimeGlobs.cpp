#include "os/linux/MimeGlobs.h"

#include <cstdlib>

#include <fnmatch.h>

namespace os::desktop {

namespace {

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

void AddDirs(std::vector<std::string>& out, std::string_view list) {
    while (!list.empty()) {
        std::size_t colon = list.find(':');
        std::string_view item = list.substr(0, colon);
        if (!item.empty() && item[0] == '/') {
            std::string dir(item);
            while (dir.size() > 1 && dir.back() == '/')
                dir.pop_back();
            bool known = false;
            for (const std::string& existing : out)
                known = known || existing == dir;
            if (!known)
                out.push_back(std::move(dir));
        }
        if (colon == std::string_view::npos)
            break;
        list.remove_prefix(colon + 1);
    }
}

} // namespace

std::vector<std::string> DefaultDataDirs() {
    std::vector<std::string> dirs;
    if (const char* value = std::getenv("XDG_DATA_HOME"); value != nullptr && value[0] == '/')
        AddDirs(dirs, value);
    else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/')
        AddDirs(dirs, std::string(home) + "/.local/share");
    const char* systemDirs = std::getenv("XDG_DATA_DIRS");
    AddDirs(dirs, (systemDirs != nullptr && systemDirs[0] != '\0') ? systemDirs
                                                                   : "/usr/local/share:/usr/share");
    return dirs;
}

MimeGlobs::MimeGlobs(std::string root, std::vector<std::string> dataDirs)
    : m_root(std::move(root)), m_dataDirs(std::move(dataDirs)) {}

std::string MimeGlobs::mimeTypeOfName(std::string_view fileName) {
    if (!m_built)
        build();
    if (fileName.empty())
        return {};
    std::string name(fileName);
    std::string lower = Lower(fileName);
    const Glob* best = nullptr;
    for (const Glob& glob : m_globs) {
        if (best != nullptr &&
            (glob.weight < best->weight ||
             (glob.weight == best->weight && glob.pattern.size() <= best->pattern.size())))
            continue;
        const std::string& subject = glob.caseSensitive ? name : lower;
        bool matches = false;
        switch (glob.kind) {
        case Glob::Kind::Literal:
            matches = subject == glob.pattern;
            break;
        case Glob::Kind::Suffix:
            matches = subject.size() >= glob.pattern.size() - 1 &&
                      subject.compare(subject.size() - (glob.pattern.size() - 1), std::string::npos,
                                      glob.pattern, 1, std::string::npos) == 0;
            break;
        case Glob::Kind::Pattern:
            matches = ::fnmatch(glob.pattern.c_str(), subject.c_str(), 0) == 0;
            break;
        }
        if (matches)
            best = &glob;
    }
    return best == nullptr ? std::string() : best->mimeType;
}

std::vector<std::string> MimeGlobs::iconNamesOf(const std::string& mimeType) {
    if (!m_built)
        build();
    std::vector<std::string> names;
    std::size_t slash = mimeType.find('/');
    if (mimeType.empty() || slash == std::string::npos)
        return names;
    if (auto icon = m_icons.find(mimeType); icon != m_icons.end())
        names.push_back(icon->second);
    std::string own = mimeType;
    own[slash] = '-';
    names.push_back(own);
    if (auto generic = m_genericIcons.find(mimeType); generic != m_genericIcons.end())
        names.push_back(generic->second);
    else
        names.push_back(mimeType.substr(0, slash) + "-x-generic");
    return names;
}

bool MimeGlobs::refreshIfChanged() {
    if (!m_built || !m_stamp.changed())
        return false;
    build();
    return true;
}

void MimeGlobs::build() {
    m_globs.clear();
    m_icons.clear();
    m_genericIcons.clear();
    m_stamp.clear();
    // The first folder's entries win for icons; for globs the weights decide.
    for (const std::string& dir : m_dataDirs) {
        std::string mimeDir = InRoot(m_root, dir + "/mime");
        m_stamp.add(mimeDir + "/globs2");
        readGlobs(mimeDir + "/globs2");
        readIconMap(mimeDir + "/icons", m_icons);
        readIconMap(mimeDir + "/generic-icons", m_genericIcons);
    }
    m_built = true;
}

void MimeGlobs::readGlobs(const std::string& file) {
    std::string text;
    if (!ReadFileText(file, text, 16u << 20))
        return;
    std::string_view rest = text;
    while (!rest.empty()) {
        std::size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        if (line.empty() || line[0] == '#')
            continue;
        // weight:type:glob[:flags[:...]]
        std::size_t first = line.find(':');
        std::size_t second = first == std::string_view::npos ? first : line.find(':', first + 1);
        if (second == std::string_view::npos)
            continue;
        std::size_t third = line.find(':', second + 1);
        std::string_view weight = line.substr(0, first);
        std::string_view type = line.substr(first + 1, second - first - 1);
        std::string_view pattern =
            line.substr(second + 1, third == std::string_view::npos ? third : third - second - 1);
        std::string_view flags =
            third == std::string_view::npos ? std::string_view() : line.substr(third + 1);
        if (type.empty() || pattern.empty() || weight.empty())
            continue;
        int value = 0;
        for (char c : weight) {
            if (c < '0' || c > '9') {
                value = -1;
                break;
            }
            value = value * 10 + (c - '0');
            if (value > 1000)
                break;
        }
        if (value < 0)
            continue;
        Glob glob;
        glob.weight = value;
        glob.mimeType = std::string(type);
        glob.caseSensitive = flags.substr(0, flags.find(':')).find("cs") != std::string_view::npos;
        glob.pattern = glob.caseSensitive ? std::string(pattern) : Lower(pattern);
        bool special = pattern.find_first_of("*?[") != std::string_view::npos;
        bool simpleSuffix = pattern.size() > 1 && pattern[0] == '*' &&
                            pattern.find_first_of("*?[", 1) == std::string_view::npos;
        glob.kind = !special       ? Glob::Kind::Literal
                    : simpleSuffix ? Glob::Kind::Suffix
                                   : Glob::Kind::Pattern;
        m_globs.push_back(std::move(glob));
    }
}

void MimeGlobs::readIconMap(const std::string& file,
                            std::unordered_map<std::string, std::string>& map) {
    std::string text;
    if (!ReadFileText(file, text, 4u << 20))
        return;
    std::string_view rest = text;
    while (!rest.empty()) {
        std::size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0 || colon + 1 == line.size())
            continue;
        map.emplace(std::string(line.substr(0, colon)), std::string(line.substr(colon + 1)));
    }
}

} // namespace os::desktop
