#pragma once
// The package databases: which installed package owns a file, what it says it is, and who
// makes it.
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "os/linux/DesktopFiles.h"

namespace os::desktop {

struct PackageInfo {
    std::string package;
    std::string description; // the one-line summary
    std::string company;     // rpm Vendor, else the dpkg maintainer's name; may be empty
};

// The name part of a Maintainer value: "Jane Doe <jane@example.org>" gives "Jane Doe".
// Surrounding quotes are dropped; a value that is only an address gives empty text.
std::string MaintainerName(std::string_view maintainer);

// dpkg's database under `root`: var/lib/dpkg/status and the file lists var/lib/dpkg/info/*.list.
// Built on first use, rebuilt by refreshIfChanged() when the status file or the info folder
// changes. On a merged-/usr system (root's /bin a symbolic link) /bin/x, /sbin/x and /lib*/x
// in the lists stand for the same files as /usr/bin/x, ...
//
// Reading the lists (some 9 MB in a thousand files) takes most of a snapshot's time, so with a
// `cacheFile` the path index is kept there between runs, valid while the status file and the
// info folder are unchanged. A cache that is missing, stale or damaged is rebuilt; one that
// cannot be written is simply not kept.
class DpkgDatabase {
public:
    explicit DpkgDatabase(std::string root, std::string cacheFile = {});

    // The installed package owning the file at `path` (as resolved by the caller). False,
    // with `info` empty, when none does or there is no dpkg database.
    bool ownerOf(const std::string& path, PackageInfo& info);

    // Rebuilds when the status file or the info folder changed since it was built; true when
    // it did.
    bool refreshIfChanged();
    std::uint64_t generation() const { return m_generation; }

    // True when the root has a dpkg status file: then dpkg, not rpm, is the system's
    // package manager.
    bool present() const;

private:
    void build();
    void readStatus();
    void readLists();
    // What the cached index was built from: the status file and the info folder as they were
    // before reading, the /usr merge and how many packages the status file lists.
    struct CacheKey {
        std::uint64_t values[8] = {};
    };
    bool stampSources(CacheKey& key) const;
    bool loadCache(const CacheKey& key);
    void saveCache(const CacheKey& key) const;
    std::string canonical(std::string_view path) const;

    std::string m_root;
    std::string m_cacheFile;
    bool m_built = false;
    bool m_mergedUsr = false;
    std::uint64_t m_generation = 0;
    SourceStamp m_stamp;
    std::vector<PackageInfo> m_packages;
    std::unordered_map<std::string, std::uint32_t> m_packageByName;
    // (64-bit hash of the canonical path, package), sorted by hash. The lists name some
    // 150 000 paths; keeping them as strings in a hash map would cost tens of megabytes and
    // most of the first fill's time, for a handful of lookups.
    std::vector<std::pair<std::uint64_t, std::uint32_t>> m_packageByPath;
};

// rpm, asked through its command (`rpm -qf`) where the system has an rpm database under
// `root`. The command is a parameter so that tests can stand in for it.
class RpmDatabase {
public:
    RpmDatabase(std::string root, std::string command);

    bool present() const;

    // The package owning `path`: its Summary and Vendor. False, with `info` empty, when no
    // package owns it, rpm is absent or the command fails.
    bool ownerOf(const std::string& path, PackageInfo& info) const;

private:
    std::string m_root;
    std::string m_command;
};

} // namespace os::desktop
