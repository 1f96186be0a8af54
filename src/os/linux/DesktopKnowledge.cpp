#include "os/linux/DesktopKnowledge.h"

#include <chrono>
#include <cstdlib>

#include <sys/stat.h>

namespace os::desktop {

namespace {

// Kept answers are per executable path; this only guards against unbounded growth.
constexpr std::size_t MaxKeptAnswers = 8192;

std::string JoinNames(const std::vector<std::string>& names) {
    std::string joined;
    for (const std::string& name : names) {
        if (!joined.empty())
            joined += ';';
        joined += name;
    }
    return joined;
}

// Texts go into one-line cells and the clipboard report: an entry's "\n" escape or a tab in a
// package's field must not break a line there.
std::string OneLine(std::string text) {
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = ' ';
    return text;
}

// The user's cache folder as the XDG base directories name it; empty without one.
std::string UserCacheFolder() {
    if (const char* value = std::getenv("XDG_CACHE_HOME"); value != nullptr && value[0] == '/')
        return value;
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/')
        return std::string(home) + "/.cache";
    return {};
}

std::string BaseName(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

KnowledgeSources DefaultKnowledgeSources() {
    KnowledgeSources sources;
    sources.desktop = DefaultDesktopSources();
    sources.dataDirs = DefaultDataDirs();
    if (const std::string cache = UserCacheFolder(); !cache.empty())
        sources.dpkgCacheFile = cache + "/kestrel/dpkg-files.cache";
    return sources;
}

ExecutableKnowledge::ExecutableKnowledge(KnowledgeSources sources)
    : m_root(sources.desktop.root), m_desktop(sources.desktop),
      m_dpkg(sources.desktop.root, sources.dpkgCacheFile),
      m_rpm(sources.desktop.root, sources.rpmCommand),
      m_mime(sources.desktop.root, sources.dataDirs) {}

bool ExecutableKnowledge::describe(const std::string& path, std::string& description,
                                   std::string& company) {
    description.clear();
    company.clear();
    if (path.empty() || path[0] != '/')
        return false;
    if (auto kept = m_descriptions.find(path); kept != m_descriptions.end()) {
        description = kept->second.description;
        company = kept->second.company;
        return !description.empty() || !company.empty();
    }
    std::string resolved = ResolvePath(m_root, path);
    if (resolved.empty())
        resolved = path;
    PackageInfo package;
    // rpm is asked only where dpkg is not the package manager: Debian systems may carry an
    // rpm database for building packages, and each question costs a process.
    if (!m_dpkg.ownerOf(resolved, package) && !m_dpkg.present())
        m_rpm.ownerOf(resolved, package);
    if (const DesktopEntry* entry = m_desktop.entryForExecutable(resolved))
        description = DescriptionOf(*entry);
    if (description.empty())
        description = package.description;
    description = OneLine(std::move(description));
    company = OneLine(std::move(package.company));
    if (m_descriptions.size() >= MaxKeptAnswers)
        m_descriptions.clear();
    m_descriptions.emplace(path, Description{description, company});
    return !description.empty() || !company.empty();
}

std::string ExecutableKnowledge::iconNameOf(const std::string& path) {
    if (path.empty())
        return {};
    if (auto kept = m_iconNames.find(path); kept != m_iconNames.end())
        return kept->second;
    std::string names;
    std::string resolved = path[0] == '/' ? ResolvePath(m_root, path) : std::string();
    if (!resolved.empty()) {
        const DesktopEntry* entry = m_desktop.entryForExecutable(resolved);
        struct stat st {};
        std::string real = InRoot(m_root, resolved);
        bool exists = ::stat(real.c_str(), &st) == 0;
        if (entry != nullptr && !entry->icon.empty())
            names = entry->icon + ";application-x-executable";
        else if (exists && S_ISDIR(st.st_mode))
            names = "folder;inode-directory";
        else if (exists && S_ISREG(st.st_mode) && (st.st_mode & 0111) != 0)
            names = "application-x-executable";
    }
    if (names.empty()) {
        std::string type = m_mime.mimeTypeOfName(BaseName(path));
        names = JoinNames(m_mime.iconNamesOf(type.empty() ? "application/octet-stream" : type));
    }
    if (m_iconNames.size() >= MaxKeptAnswers)
        m_iconNames.clear();
    m_iconNames.emplace(path, names);
    return names;
}

void ExecutableKnowledge::prepare() {
    // Both indexes are built on their first lookup; "/" is nobody's executable.
    PackageInfo none;
    m_dpkg.ownerOf("/", none);
    m_desktop.entryForExecutable("/");
}

void ExecutableKnowledge::refreshIfChanged() {
    // Every index is asked, not just the first that changed, so each records its new state.
    bool desktop = m_desktop.refreshIfChanged();
    bool dpkg = m_dpkg.refreshIfChanged();
    bool mime = m_mime.refreshIfChanged();
    if (desktop || dpkg || mime)
        forget();
}

void ExecutableKnowledge::forget() {
    m_descriptions.clear();
    m_iconNames.clear();
    ++m_generation;
}

std::mutex& SystemKnowledgeLock() {
    static std::mutex lock;
    return lock;
}

ExecutableKnowledge& SystemKnowledge() {
    static ExecutableKnowledge knowledge(DefaultKnowledgeSources());
    static std::chrono::steady_clock::time_point lastCheck = std::chrono::steady_clock::now();
    auto now = std::chrono::steady_clock::now();
    if (now - lastCheck >= std::chrono::seconds(2)) {
        lastCheck = now;
        knowledge.refreshIfChanged();
    }
    return knowledge;
}

} // namespace os::desktop
