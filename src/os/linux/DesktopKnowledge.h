#pragma once
// What the desktop knows about an executable: its desktop entry, its package, its icon. One
// instance serves the process (over the live system); tests make their own over fixtures.
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "os/linux/DesktopEntries.h"
#include "os/linux/MimeGlobs.h"
#include "os/linux/PackageDb.h"

namespace os::desktop {

struct KnowledgeSources {
    DesktopSources desktop;            // its root is the root of everything below
    std::vector<std::string> dataDirs; // folders holding mime/
    std::string rpmCommand = "/usr/bin/rpm";
    // Where dpkg's path index is kept between runs; empty: nowhere.
    std::string dpkgCacheFile;
};

KnowledgeSources DefaultKnowledgeSources();

class ExecutableKnowledge {
public:
    explicit ExecutableKnowledge(KnowledgeSources sources);

    // Description and company of the executable at `path`: the launching desktop entry's
    // name, else the owning package's summary; the package's vendor or maintainer. False,
    // with both empty, when nothing is known. Answers are kept per path.
    bool describe(const std::string& path, std::string& description, std::string& company);

    // The icon names for `path`, best first, separated by ';' (a name starting with '/' is a
    // picture file): the desktop entry's Icon, else the executable icon for an executable,
    // the folder icon for a folder, else the icons of the MIME type its name implies. The file
    // need not exist. Empty only for an empty path.
    std::string iconNameOf(const std::string& path);

    // Rebuilds whatever index's sources changed and forgets the answers kept so far if so.
    void refreshIfChanged();

    // Builds the indexes describe() reads (package files, desktop entries) if not built yet,
    // so that they can be made ahead of the first question, on another thread under
    // SystemKnowledgeLock().
    void prepare();

    // Changes whenever kept answers were forgotten.
    std::uint64_t generation() const { return m_generation; }

private:
    void forget();

    std::string m_root;
    DesktopIndex m_desktop;
    DpkgDatabase m_dpkg;
    RpmDatabase m_rpm;
    MimeGlobs m_mime;
    std::uint64_t m_generation = 0;
    struct Description {
        std::string description;
        std::string company;
    };
    std::unordered_map<std::string, Description> m_descriptions;
    std::unordered_map<std::string, std::string> m_iconNames;
};

// The process-wide instance over the live system, created on first use. Hold the lock while
// using it. It looks at its sources again at most every two seconds, so a refresh of many rows
// pays for that once.
std::mutex& SystemKnowledgeLock();
ExecutableKnowledge& SystemKnowledge();

} // namespace os::desktop
