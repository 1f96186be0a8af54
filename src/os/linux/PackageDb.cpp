#include "os/linux/PackageDb.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace os::desktop {

namespace {

std::string_view TrimSpaces(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

// The lists name some 150,000 paths, so the hash takes eight bytes a step; each step is a
// bijection of the running value, and the length goes in first.
std::uint64_t HashBytes(std::string_view text) {
    std::uint64_t h = 0x9e3779b97f4a7c15ull ^ text.size();
    auto step = [&h](std::uint64_t word) {
        h ^= word;
        h *= 0xbf58476d1ce4e5b9ull;
        h ^= h >> 31;
    };
    const char* p = text.data();
    std::size_t n = text.size();
    for (; n >= 8; p += 8, n -= 8) {
        std::uint64_t word;
        std::memcpy(&word, p, 8);
        step(word);
    }
    if (n > 0) {
        std::uint64_t word = 0;
        std::memcpy(&word, p, n);
        step(word);
    }
    h *= 0x94d049bb133111ebull;
    return h ^ (h >> 29);
}

// The folders that merged-/usr systems keep only under /usr.
bool IsUsrAlias(std::string_view path) {
    static constexpr std::array<std::string_view, 6> aliases = {"/bin/",   "/sbin/",  "/lib/",
                                                                "/lib32/", "/lib64/", "/libx32/"};
    for (std::string_view alias : aliases)
        if (path.substr(0, alias.size()) == alias)
            return true;
    return false;
}

std::uint64_t HashOfPath(std::string_view path, bool mergedUsr) {
    if (!mergedUsr || !IsUsrAlias(path))
        return HashBytes(path);
    constexpr std::string_view usr = "/usr";
    char buffer[512];
    if (usr.size() + path.size() <= sizeof buffer) {
        std::memcpy(buffer, usr.data(), usr.size());
        std::memcpy(buffer + usr.size(), path.data(), path.size());
        return HashBytes(std::string_view(buffer, usr.size() + path.size()));
    }
    std::string full(usr);
    full += path;
    return HashBytes(full);
}

// Folders of documentation and data that never hold a program: about 40 % of what the lists
// name, left out to keep the first build short.
bool HoldsNoPrograms(std::string_view path) {
    static constexpr std::array<std::string_view, 10> folders = {
        "/usr/share/doc/",      "/usr/share/man/",  "/usr/share/locale/",  "/usr/share/icons/",
        "/usr/share/help/",     "/usr/share/info/", "/usr/share/gtk-doc/", "/usr/share/lintian/",
        "/usr/share/zoneinfo/", "/usr/include/"};
    if (path.substr(0, 5) != "/usr/")
        return false;
    for (std::string_view folder : folders)
        if (path.substr(0, folder.size()) == folder)
            return true;
    return false;
}

bool IsInstalledStatus(std::string_view status) {
    // "want flag state": only the state word matters.
    std::size_t lastSpace = status.rfind(' ');
    std::string_view state =
        lastSpace == std::string_view::npos ? status : status.substr(lastSpace + 1);
    return !state.empty() && state != "not-installed" && state != "config-files";
}

} // namespace

std::string MaintainerName(std::string_view maintainer) {
    std::size_t angle = maintainer.find('<');
    std::string_view name = TrimSpaces(maintainer.substr(0, angle));
    if (angle == std::string_view::npos && name.find('@') != std::string_view::npos &&
        name.find(' ') == std::string_view::npos)
        return {};
    if (name.size() >= 2 && name.front() == '"' && name.back() == '"')
        name = TrimSpaces(name.substr(1, name.size() - 2));
    return std::string(name);
}

DpkgDatabase::DpkgDatabase(std::string root, std::string cacheFile)
    : m_root(std::move(root)), m_cacheFile(std::move(cacheFile)) {}

bool DpkgDatabase::ownerOf(const std::string& path, PackageInfo& info) {
    info = PackageInfo{};
    if (!m_built)
        build();
    const std::uint64_t hash = HashOfPath(path, m_mergedUsr);
    auto found = std::lower_bound(m_packageByPath.begin(), m_packageByPath.end(),
                                  std::pair<std::uint64_t, std::uint32_t>(hash, 0));
    if (found == m_packageByPath.end() || found->first != hash)
        return false;
    info = m_packages[found->second];
    return true;
}

bool DpkgDatabase::refreshIfChanged() {
    if (!m_built || !m_stamp.changed())
        return false;
    build();
    return true;
}

bool DpkgDatabase::present() const {
    struct stat st {};
    std::string status = InRoot(m_root, "/var/lib/dpkg/status");
    return ::stat(status.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

void DpkgDatabase::build() {
    m_packages.clear();
    m_packageByName.clear();
    m_packageByPath.clear();
    m_stamp.clear();
    m_stamp.add(InRoot(m_root, "/var/lib/dpkg/status"));
    m_stamp.add(InRoot(m_root, "/var/lib/dpkg/info"));
    struct stat st {};
    std::string bin = InRoot(m_root, "/bin");
    m_mergedUsr = ::lstat(bin.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
    // Stamped before reading: a change made while reading gives a key that no longer matches.
    CacheKey key;
    const bool cacheable = !m_cacheFile.empty() && stampSources(key);
    readStatus();
    key.values[7] = m_packages.size();
    if (!cacheable || !loadCache(key)) {
        readLists();
        if (cacheable)
            saveCache(key);
    }
    m_built = true;
    ++m_generation;
}

void DpkgDatabase::readStatus() {
    std::string text;
    if (!ReadFileText(InRoot(m_root, "/var/lib/dpkg/status"), text))
        return;
    std::string_view rest = text;
    std::string_view package, architecture, status, maintainer, description;
    auto finish = [&] {
        if (!package.empty() && IsInstalledStatus(status)) {
            auto index = static_cast<std::uint32_t>(m_packages.size());
            m_packages.push_back(PackageInfo{std::string(package), std::string(description),
                                             MaintainerName(maintainer)});
            m_packageByName.emplace(std::string(package), index);
            if (!architecture.empty())
                m_packageByName.emplace(std::string(package) + ":" + std::string(architecture),
                                        index);
        }
        package = architecture = status = maintainer = description = {};
    };
    while (!rest.empty()) {
        std::size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty()) {
            finish();
            continue;
        }
        if (line[0] == ' ' || line[0] == '\t')
            continue; // continuation of a long field
        std::size_t colon = line.find(':');
        if (colon == std::string_view::npos)
            continue;
        std::string_view field = line.substr(0, colon);
        std::string_view value = TrimSpaces(line.substr(colon + 1));
        if (field == "Package")
            package = value;
        else if (field == "Architecture")
            architecture = value;
        else if (field == "Status")
            status = value;
        else if (field == "Maintainer")
            maintainer = value;
        else if (field == "Description")
            description = value;
    }
    finish();
}

void DpkgDatabase::readLists() {
    std::string infoDir = InRoot(m_root, "/var/lib/dpkg/info");
    FileReader reader;
    for (const std::string& name : FolderNames(infoDir)) {
        if (name.size() <= 5 || name.compare(name.size() - 5, 5, ".list") != 0)
            continue;
        std::string package = name.substr(0, name.size() - 5);
        auto owner = m_packageByName.find(package);
        if (owner == m_packageByName.end()) {
            std::size_t colon = package.find(':');
            if (colon != std::string::npos)
                owner = m_packageByName.find(package.substr(0, colon));
        }
        if (owner == m_packageByName.end())
            continue; // a list left behind by a package that is no longer installed
        if (!reader.read(infoDir + "/" + name))
            continue;
        std::string_view rest = reader.text();
        while (!rest.empty()) {
            std::size_t end = rest.find('\n');
            std::string_view line = rest.substr(0, end);
            rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
            if (!line.empty() && line[0] == '/' && !HoldsNoPrograms(line))
                m_packageByPath.emplace_back(HashOfPath(line, m_mergedUsr), owner->second);
        }
    }
    // Sorted by hash, then by the order read, so the first package naming a path answers.
    std::stable_sort(m_packageByPath.begin(), m_packageByPath.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
}

namespace {

constexpr std::uint64_t CacheMagic = 0x314b504454534b4bull; // "KKSTDPK1" in memory order

struct CacheEntry {
    std::uint64_t hash;
    std::uint32_t package;
    std::uint32_t unused;
};

struct CacheHeader {
    std::uint64_t magic;
    std::uint64_t key[8];
    std::uint64_t count;
};

bool WriteAll(int fd, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, bytes, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Creates the folders leading to `file` (private to the user, as a cache should be).
bool MakeParentFolders(const std::string& file) {
    for (std::size_t slash = file.find('/', 1); slash != std::string::npos;
         slash = file.find('/', slash + 1)) {
        const std::string folder = file.substr(0, slash);
        if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    return true;
}

} // namespace

bool DpkgDatabase::stampSources(CacheKey& key) const {
    struct stat status {};
    struct stat info {};
    if (::stat(InRoot(m_root, "/var/lib/dpkg/status").c_str(), &status) != 0 ||
        ::stat(InRoot(m_root, "/var/lib/dpkg/info").c_str(), &info) != 0)
        return false;
    auto nanoseconds = [](const timespec& time) {
        return static_cast<std::uint64_t>(time.tv_sec) * 1000000000u +
               static_cast<std::uint64_t>(time.tv_nsec);
    };
    key.values[0] = nanoseconds(status.st_mtim);
    key.values[1] = static_cast<std::uint64_t>(status.st_size);
    key.values[2] = status.st_ino;
    key.values[3] = nanoseconds(info.st_mtim);
    key.values[4] = info.st_ino;
    key.values[5] = status.st_dev;
    key.values[6] = m_mergedUsr ? 1 : 0;
    return true;
}

bool DpkgDatabase::loadCache(const CacheKey& key) {
    FileReader reader;
    if (!reader.read(m_cacheFile))
        return false;
    const std::string_view text = reader.text();
    if (text.size() < sizeof(CacheHeader))
        return false;
    CacheHeader header;
    std::memcpy(&header, text.data(), sizeof header);
    if (header.magic != CacheMagic || std::memcmp(header.key, key.values, sizeof header.key) != 0 ||
        header.count != (text.size() - sizeof header) / sizeof(CacheEntry) ||
        (text.size() - sizeof header) % sizeof(CacheEntry) != 0)
        return false;
    std::vector<std::pair<std::uint64_t, std::uint32_t>> index;
    index.reserve(header.count);
    const char* at = text.data() + sizeof header;
    for (std::uint64_t i = 0; i < header.count; ++i, at += sizeof(CacheEntry)) {
        CacheEntry entry;
        std::memcpy(&entry, at, sizeof entry);
        // A damaged file must not name a package that is not there or break the lookup order.
        if (entry.package >= m_packages.size() ||
            (!index.empty() && entry.hash < index.back().first))
            return false;
        index.emplace_back(entry.hash, entry.package);
    }
    m_packageByPath = std::move(index);
    return true;
}

void DpkgDatabase::saveCache(const CacheKey& key) const {
    if (!MakeParentFolders(m_cacheFile))
        return;
    std::string temporary = m_cacheFile + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return;
    UniqueFd file(fd);
    CacheHeader header{};
    header.magic = CacheMagic;
    std::memcpy(header.key, key.values, sizeof header.key);
    header.count = m_packageByPath.size();
    std::vector<CacheEntry> entries;
    entries.reserve(m_packageByPath.size());
    for (const auto& [hash, package] : m_packageByPath)
        entries.push_back(CacheEntry{hash, package, 0});
    const bool written = WriteAll(fd, &header, sizeof header) &&
                         WriteAll(fd, entries.data(), entries.size() * sizeof(CacheEntry));
    file.reset();
    if (!written || ::rename(temporary.c_str(), m_cacheFile.c_str()) != 0)
        ::unlink(temporary.c_str());
}

RpmDatabase::RpmDatabase(std::string root, std::string command)
    : m_root(std::move(root)), m_command(std::move(command)) {}

bool RpmDatabase::present() const {
    return !m_command.empty() && IsExecutableFile("", m_command) &&
           (IsFolder(InRoot(m_root, "/var/lib/rpm")) ||
            IsFolder(InRoot(m_root, "/usr/lib/sysimage/rpm")));
}

bool RpmDatabase::ownerOf(const std::string& path, PackageInfo& info) const {
    info = PackageInfo{};
    if (path.empty() || !present())
        return false;

    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return false;
    UniqueFd readEnd(ends[0]);
    UniqueFd writeEnd(ends[1]);

    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0)
        return false;
    bool prepared =
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0) == 0 &&
        posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDOUT_FILENO) == 0 &&
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0) == 0;
    std::string queryFormat = "%{SUMMARY}\\n%{VENDOR}\\n";
    std::vector<std::string> args = {m_command, "-qf", "--queryformat", queryFormat, "--", path};
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t child = 0;
    bool spawned = prepared && ::posix_spawn(&child, m_command.c_str(), &actions, nullptr,
                                             argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    writeEnd.reset();
    if (!spawned)
        return false;

    // A locked or broken database can keep rpm waiting: after a few seconds the answer is
    // given up, so the window is not held.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    std::string output;
    char buffer[4096];
    bool timedOut = false;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            timedOut = true;
            break;
        }
        pollfd ready{readEnd.get(), POLLIN, 0};
        int polled = ::poll(&ready, 1, static_cast<int>(left.count()));
        if (polled < 0 && errno == EINTR)
            continue;
        if (polled < 0)
            break;
        if (polled == 0)
            continue;
        ssize_t got = ::read(readEnd.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        if (output.size() < 65536)
            output.append(buffer, static_cast<std::size_t>(got));
    }
    if (timedOut)
        ::kill(child, SIGKILL);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            return false;
    }
    if (timedOut)
        return false;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return false;

    // Several packages may own one file; the first answers.
    std::string_view rest = output;
    std::size_t first = rest.find('\n');
    if (first == std::string_view::npos)
        return false;
    std::string_view summary = TrimSpaces(rest.substr(0, first));
    rest.remove_prefix(first + 1);
    std::string_view vendor = TrimSpaces(rest.substr(0, rest.find('\n')));
    if (vendor == "(none)")
        vendor = {};
    if (summary == "(none)")
        summary = {};
    if (summary.empty() && vendor.empty())
        return false;
    info.description = std::string(summary);
    info.company = std::string(vendor);
    return true;
}

} // namespace os::desktop
