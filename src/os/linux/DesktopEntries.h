#pragma once
// Desktop entries (the XDG .desktop files): which entry launches a given executable, and what
// it calls the program.
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "os/linux/DesktopFiles.h"

namespace os::desktop {

struct DesktopEntry {
    std::string id;          // desktop file ID, e.g. "org.example.Viewer.desktop"
    std::string name;        // Name, localised
    std::string genericName; // GenericName, localised; may be empty
    std::string icon;        // Icon: a theme icon name or an absolute file path; may be empty
    bool noDisplay = false;
};

// Where entries and programs are looked up. Every folder lies inside `root`.
struct DesktopSources {
    std::string root;
    std::vector<std::string> applicationDirs; // highest precedence first
    std::vector<std::string> pathDirs;        // the PATH that resolves bare program names
    std::string locale = "zh_CN";             // the window speaks Simplified Chinese
};

// The applications folders of $XDG_DATA_HOME and $XDG_DATA_DIRS (with the flatpak and snap
// export folders) and $PATH, with the defaults of the base-directory rules where unset.
DesktopSources DefaultDesktopSources();

// The words of an Exec value (already unescaped as a string value), split by the quoting rules
// of the desktop-entry format.
std::vector<std::string> SplitExec(std::string_view exec);

// The parts of one entry file that matter here, and the programs it launches: TryExec and the
// program word of Exec (after an `env` prefix), or the flatpak or snap application it runs.
// `exactLaunch` tells whether Exec runs its program with nothing but field codes, which makes the
// match certain.
struct ParsedEntry {
    DesktopEntry entry;
    bool application = false; // Type=Application and not Hidden
    bool hidden = false;
    std::string tryExec;
    std::string execProgram;
    bool exactLaunch = false;
    // A flatpak application (`flatpak run ... ID`): its ID, and the command named by
    // --command= if any (else the application's metadata names it).
    std::string flatpakApp;
    std::string flatpakCommand;
    // A snap application (/snap/bin/NAME or /snap/bin/NAME.APP): the snap's name.
    std::string snapName;
};
ParsedEntry ParseDesktopEntry(std::string_view text, const std::string& locale);

// What the description column shows for an entry: its Name, followed by its GenericName when
// that says something the Name does not.
std::string DescriptionOf(const DesktopEntry& entry);

// The entries of the applications folders, indexed by the resolved path of the executables
// they launch. Built on first use; rebuilt by refreshIfChanged() when a folder has changed.
class DesktopIndex {
public:
    explicit DesktopIndex(DesktopSources sources);

    // The entry launching the executable at `path` (resolved inside the root first); nullptr
    // when none does. A flatpak program is known by its path inside the sandbox (/app/...)
    // and in its installation; a snap program by the snap's folder (/snap/NAME/...).
    const DesktopEntry* entryForExecutable(const std::string& path);

    // Rebuilds the index when an applications folder was added, removed or changed since it
    // was built. True when it did; an index not built yet stays unbuilt.
    bool refreshIfChanged();

    // Counts the builds, so that caches derived from the index know when to forget.
    std::uint64_t generation() const { return m_generation; }

    const DesktopSources& sources() const { return m_sources; }

private:
    void build();
    void addFolder(const std::string& dir, const std::string& idPrefix, int depth,
                   std::unordered_set<std::string>& seenIds);
    void addEntry(ParsedEntry parsed);
    void indexProgram(const std::string& program, std::size_t entry, int rank);
    std::string resolveProgram(const std::string& program) const;
    std::string flatpakCommand(const std::string& app) const;

    DesktopSources m_sources;
    bool m_built = false;
    std::uint64_t m_generation = 0;
    SourceStamp m_stamp;
    std::vector<DesktopEntry> m_entries;
    struct Match {
        std::size_t entry;
        int rank;
    };
    std::unordered_map<std::string, Match> m_byExecutable;
};

} // namespace os::desktop
