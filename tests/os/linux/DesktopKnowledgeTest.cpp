// Desktop entries, the package databases and MIME icons, read from the fixture roots under
// tests/data.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "os/linux/DesktopKnowledge.h"

using namespace os::desktop;

namespace {

const std::string DesktopRoot = std::string(KESTREL_TEST_DATA) + "/desktop";
const std::string SplitRoot = std::string(KESTREL_TEST_DATA) + "/dpkg";
const std::string RpmRoot = std::string(KESTREL_TEST_DATA) + "/rpm";

DesktopSources FixtureDesktop(const std::string& root = DesktopRoot) {
    DesktopSources sources;
    sources.root = root;
    sources.applicationDirs = {"/home/.local/share/applications", "/usr/share/applications",
                               "/var/lib/flatpak/exports/share/applications",
                               "/var/lib/snapd/desktop/applications"};
    sources.pathDirs = {"/usr/local/bin", "/usr/bin"};
    return sources;
}

KnowledgeSources FixtureKnowledge(const std::string& root = DesktopRoot,
                                  const std::string& rpmCommand = "/nonexistent/rpm") {
    KnowledgeSources sources;
    sources.desktop = FixtureDesktop(root);
    sources.dataDirs = {"/usr/share"};
    sources.rpmCommand = rpmCommand;
    return sources;
}

// A scratch root that the test may change, removed afterwards.
class ScratchRoot {
public:
    ScratchRoot() {
        char pattern[] = "/tmp/kestrel-icons-XXXXXX";
        const char* made = ::mkdtemp(pattern);
        if (made != nullptr)
            m_path = made;
    }
    ~ScratchRoot() {
        if (!m_path.empty())
            std::system(("rm -rf '" + m_path + "'").c_str());
    }
    const std::string& path() const { return m_path; }
    void makeFolder(const std::string& relative) const {
        std::system(("mkdir -p '" + m_path + relative + "'").c_str());
    }
    void write(const std::string& relative, const std::string& text, mode_t mode = 0644) const {
        std::ofstream(m_path + relative, std::ios::binary) << text;
        ::chmod((m_path + relative).c_str(), mode);
    }
    // Moves a folder's time forward, so the change is seen whatever the clock's resolution.
    void touchLater(const std::string& relative, int seconds) const {
        struct stat st {};
        ASSERT_EQ(::stat((m_path + relative).c_str(), &st), 0);
        timespec times[2] = {st.st_atim, st.st_mtim};
        times[1].tv_sec += seconds;
        ASSERT_EQ(::utimensat(AT_FDCWD, (m_path + relative).c_str(), times, 0), 0);
    }

private:
    std::string m_path;
};

} // namespace

TEST(ResolvePath, FollowsLinksInsideTheRoot) {
    struct Case {
        const char* path;
        const char* resolved;
    };
    const Case cases[] = {
        {"/usr/bin/pv", "/usr/bin/pixelview"}, // relative link
        {"/bin/pv", "/usr/bin/pixelview"},     // through the merged-/usr folder link
        {"/opt/tool/bin/tool-link", "/opt/tool/bin/tool-real"}, // absolute link stays in the root
        {"/usr/bin/../bin/./editor", "/usr/bin/editor"},
        {"//usr//bin/editor/", "/usr/bin/editor"},
        {"/usr/bin/missing/../gone", "/usr/bin/gone"}, // missing parts kept, normalised
        {"/", "/"},
        {"relative/path", ""},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ResolvePath(DesktopRoot, c.path), c.resolved) << c.path;
}

TEST(ResolvePath, LinkLoopGivesEmptyText) {
    ScratchRoot root;
    ASSERT_FALSE(root.path().empty());
    ASSERT_EQ(::symlink("b", (root.path() + "/a").c_str()), 0);
    ASSERT_EQ(::symlink("a", (root.path() + "/b").c_str()), 0);
    EXPECT_EQ(ResolvePath(root.path(), "/a"), "");
}

TEST(SplitExec, FollowsTheQuotingRules) {
    struct Case {
        const char* exec;
        std::vector<std::string> words;
    };
    const Case cases[] = {
        {"pixelview %F", {"pixelview", "%F"}},
        {"\"/opt/with space/prog\" %u", {"/opt/with space/prog", "%u"}},
        {"sh -c \"echo \\\"hi\\\" \\\\ \\$HOME\"", {"sh", "-c", "echo \"hi\" \\ $HOME"}},
        {"  spaced\targs  ", {"spaced", "args"}},
        {"\"unterminated quote", {"unterminated quote"}},
        {"", {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SplitExec(c.exec), c.words) << c.exec;
}

TEST(ParseDesktopEntry, LocalisedNameFollowsTheLocaleRules) {
    std::string text;
    ASSERT_TRUE(ReadFileText(DesktopRoot + "/usr/share/applications/viewer.desktop", text));
    struct Case {
        const char* locale;
        const char* name;
        const char* genericName;
    };
    const Case cases[] = {
        {"zh_CN", "像素查看器", "图像查看器"},
        {"zh_CN.UTF-8", "像素查看器", "图像查看器"},
        {"zh_TW", "像素看图", "Image Viewer"}, // no zh_TW: the language alone, then the default
        {"de_DE.UTF-8@euro", "Pixelbetrachter", "Image Viewer"},
        {"C", "Pixel Viewer", "Image Viewer"},
    };
    for (const Case& c : cases) {
        ParsedEntry parsed = ParseDesktopEntry(text, c.locale);
        EXPECT_EQ(parsed.entry.name, c.name) << c.locale;
        EXPECT_EQ(parsed.entry.genericName, c.genericName) << c.locale;
    }
    ParsedEntry parsed = ParseDesktopEntry(text, "zh_CN");
    EXPECT_TRUE(parsed.application);
    EXPECT_EQ(parsed.entry.icon, "pixel-viewer");
    // The action group's Exec must not replace the entry's own.
    EXPECT_EQ(parsed.execProgram, "pixelview");
    EXPECT_TRUE(parsed.exactLaunch);
}

TEST(ParseDesktopEntry, OddInputGivesNoProgram) {
    const char* texts[] = {
        "",
        "[Desktop Entry]\nType=Application\nExec=\n",
        "[Desktop Entry]\nType=Application\nExec=env A=1 B=2\n",
        "[Desktop Entry]\nType=Application\nExec=python3 /usr/share/app/main.py\n",
        "no group at all\nExec=prog\n",
        "[Desktop Entry]\n=\n==\nExec\n[Other]\nExec=prog\n",
        "[Desktop Entry]\nType=Application\nExec=\"\n",
    };
    for (const char* text : texts)
        EXPECT_EQ(ParseDesktopEntry(text, "zh_CN").execProgram, "") << text;
    ParsedEntry hidden =
        ParseDesktopEntry("[Desktop Entry]\nType=Application\nHidden=true\nExec=prog\n", "C");
    EXPECT_TRUE(hidden.hidden);
    EXPECT_FALSE(hidden.application);
}

TEST(DescriptionOf, AddsTheGenericNameOnlyWhenItSaysMore) {
    struct Case {
        const char* name;
        const char* genericName;
        const char* description;
    };
    const Case cases[] = {
        {"Pixel Viewer", "Image Viewer", "Pixel Viewer - Image Viewer"},
        {"Firefox Web Browser", "Web Browser", "Firefox Web Browser"},
        {"Tool", "tool", "Tool"},
        {"Tool", "", "Tool"},
        {"", "Terminal", "Terminal"},
        {"像素查看器", "图像查看器", "像素查看器 - 图像查看器"},
    };
    for (const Case& c : cases) {
        DesktopEntry entry;
        entry.name = c.name;
        entry.genericName = c.genericName;
        EXPECT_EQ(DescriptionOf(entry), c.description) << c.name << " / " << c.genericName;
    }
}

TEST(DesktopIndex, FindsTheEntryThatLaunchesAnExecutable) {
    DesktopIndex index(FixtureDesktop());
    struct Case {
        const char* path;
        const char* id; // "" when no entry launches it
    };
    const Case cases[] = {
        {"/usr/bin/pixelview", "viewer.desktop"}, // beats dup-args.desktop, which adds arguments
        {"/usr/bin/pv", "viewer.desktop"},
        {"/bin/pixelview", "viewer.desktop"},
        {"/opt/tool/bin/tool-real", "vendor-tool.desktop"}, // TryExec, through an absolute link
        {"/usr/bin/tool-launcher", "vendor-tool.desktop"},
        {"/usr/bin/envprog", "envapp.desktop"},
        {"/opt/with space/prog", "quoted.desktop"},
        {"/usr/bin/editor", "editor.desktop"},
        {"/usr/bin/helperprog", "shown.desktop"}, // a shown entry beats a NoDisplay one
        {"/usr/bin/python3.11", ""},              // only run as an interpreter of a script
        {"/usr/bin/maskedprog", ""},              // masked by a hidden entry of the same ID
        {"/usr/bin/linkprog", ""},                // Type=Link
        {"/usr/bin/notes", ""},
        {"/nonexistent", ""},
        {"/app/bin/flatviewer", "org.example.Flat.desktop"}, // flatpak, --command=
        {"/app/bin/nocmd-bin", "org.example.NoCmd.desktop"}, // flatpak, command from metadata
        {"/snap/snapfox/12/usr/lib/snapfox/snapfox", "snapfox_snapfox.desktop"},
        {"/snap/other/1/bin/other", ""},
        {"/usr/bin/flatpak", ""},
    };
    for (const Case& c : cases) {
        const DesktopEntry* entry = index.entryForExecutable(c.path);
        EXPECT_EQ(entry == nullptr ? "" : entry->id, c.id) << c.path;
    }
    const DesktopEntry* viewer = index.entryForExecutable("/usr/bin/pixelview");
    ASSERT_NE(viewer, nullptr);
    EXPECT_EQ(viewer->name, "像素查看器");
    // The user's own entry masks the system's entry of the same ID.
    const DesktopEntry* editor = index.entryForExecutable("/usr/bin/editor");
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->name, "My Editor");
}

TEST(DesktopIndex, RebuildsOnlyWhenAFolderChanges) {
    ScratchRoot root;
    ASSERT_FALSE(root.path().empty());
    root.makeFolder("/usr/bin");
    root.makeFolder("/usr/share/applications");
    root.write("/usr/bin/newprog", "#!/bin/sh\n", 0755);
    DesktopIndex index(FixtureDesktop(root.path()));
    EXPECT_EQ(index.entryForExecutable("/usr/bin/newprog"), nullptr);
    EXPECT_FALSE(index.refreshIfChanged());
    std::uint64_t generation = index.generation();

    root.write("/usr/share/applications/newprog.desktop",
               "[Desktop Entry]\nType=Application\nName=New\nExec=newprog\n");
    root.touchLater("/usr/share/applications", 5);
    EXPECT_TRUE(index.refreshIfChanged());
    EXPECT_GT(index.generation(), generation);
    const DesktopEntry* entry = index.entryForExecutable("/usr/bin/newprog");
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->name, "New");
    EXPECT_FALSE(index.refreshIfChanged());

    // A FIFO in place of an entry must not block the build.
    ASSERT_EQ(::mkfifo((root.path() + "/usr/share/applications/fifo.desktop").c_str(), 0644), 0);
    root.touchLater("/usr/share/applications", 10);
    EXPECT_TRUE(index.refreshIfChanged());
    EXPECT_NE(index.entryForExecutable("/usr/bin/newprog"), nullptr);

    // A folder that appears where there was none is a change too.
    root.makeFolder("/home/.local/share/applications");
    EXPECT_TRUE(index.refreshIfChanged());
}

TEST(MaintainerName, DropsTheAddress) {
    struct Case {
        const char* maintainer;
        const char* name;
    };
    const Case cases[] = {
        {"Matthias Klose <doko@debian.org>", "Matthias Klose"},
        {"\"Quoted, Name\" <q@example.org>", "Quoted, Name"},
        {"  Spaces Around   <a@b>  ", "Spaces Around"},
        {"<only@example.org>", ""},
        {"only@example.org", ""},
        {"Name Without Address", "Name Without Address"},
        {"Broken <unterminated", "Broken"},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MaintainerName(c.maintainer), c.name) << c.maintainer;
}

TEST(DpkgDatabase, FindsTheInstalledOwner) {
    DpkgDatabase dpkg(DesktopRoot);
    struct Case {
        const char* path;
        const char* package; // "" when no installed package owns it
        const char* description;
        const char* company;
    };
    const Case cases[] = {
        {"/usr/bin/pixelview", "pixelview", "small picture viewer", "Pixel Team"},
        {"/usr/bin/python3.11", "python3.11-minimal",
         "Minimal subset of the Python language (version 3.11)", "Matthias Klose"},
        {"/usr/bin/pkgonly", "pkgonly-tools", "tools found only through their package",
         "Quoted, Name"}, // listed as /bin/pkgonly
        {"/bin/pkgonly", "pkgonly-tools", "tools found only through their package", "Quoted, Name"},
        {"/usr/bin/helperprog", "mailonly", "helper with an address-only maintainer", ""},
        {"/usr/bin/editor", "", "", ""}, // only a removed package's left-over list names it
        {"/usr/bin/nothing", "", "", ""},
    };
    for (const Case& c : cases) {
        PackageInfo info;
        bool found = dpkg.ownerOf(c.path, info);
        EXPECT_EQ(found, c.package[0] != '\0') << c.path;
        EXPECT_EQ(info.package, c.package) << c.path;
        EXPECT_EQ(info.description, c.description) << c.path;
        EXPECT_EQ(info.company, c.company) << c.path;
    }
}

TEST(DpkgDatabase, AliasesOnlyOnMergedUsrSystems) {
    DpkgDatabase dpkg(SplitRoot);
    PackageInfo info;
    EXPECT_TRUE(dpkg.ownerOf("/bin/splittool", info));
    EXPECT_EQ(info.company, "Split Maintainer");
    // /bin is a folder of its own here, so /usr/bin/splittool is another file.
    EXPECT_FALSE(dpkg.ownerOf("/usr/bin/splittool", info));
}

TEST(DpkgDatabase, MissingOrBrokenDatabaseOwnsNothing) {
    ScratchRoot root;
    ASSERT_FALSE(root.path().empty());
    PackageInfo info;
    DpkgDatabase none(root.path());
    EXPECT_FALSE(none.ownerOf("/usr/bin/anything", info));

    root.makeFolder("/var/lib/dpkg/info");
    root.write("/var/lib/dpkg/status",
               "Package: a\nStatus\nMaintainer: \xff\xfe <x>\n\n\n:\nPackage:\n");
    const char list[] = "/usr/bin/a\n\0\0/usr/bin/b";
    root.write("/var/lib/dpkg/info/a.list", std::string(list, sizeof list - 1));
    root.write("/var/lib/dpkg/info/.list", "/usr/bin/c\n");
    DpkgDatabase broken(root.path());
    EXPECT_FALSE(broken.ownerOf("/usr/bin/c", info));
    // Package "a" has no Status line: it does not count as installed.
    EXPECT_FALSE(broken.ownerOf("/usr/bin/a", info));
}

TEST(DpkgDatabase, RebuildsWhenThePackagesChange) {
    ScratchRoot root;
    ASSERT_FALSE(root.path().empty());
    root.makeFolder("/var/lib/dpkg/info");
    root.write(
        "/var/lib/dpkg/status",
        "Package: one\nStatus: install ok installed\nMaintainer: One <1@x>\nDescription: first\n");
    root.write("/var/lib/dpkg/info/one.list", "/usr/bin/one\n");
    DpkgDatabase dpkg(root.path());
    PackageInfo info;
    EXPECT_TRUE(dpkg.ownerOf("/usr/bin/one", info));
    EXPECT_FALSE(dpkg.ownerOf("/usr/bin/two", info));
    EXPECT_FALSE(dpkg.refreshIfChanged());

    root.write("/var/lib/dpkg/status",
               "Package: one\nStatus: install ok installed\nDescription: first\n\n"
               "Package: two\nStatus: install ok installed\nDescription: second\n");
    root.write("/var/lib/dpkg/info/two.list", "/usr/bin/two\n");
    root.touchLater("/var/lib/dpkg/info", 5);
    EXPECT_TRUE(dpkg.refreshIfChanged());
    EXPECT_TRUE(dpkg.ownerOf("/usr/bin/two", info));
    EXPECT_EQ(info.description, "second");
}

namespace {

std::string ReadBytes(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

// One installed package "one" whose list names /usr/bin/one and /usr/bin/uno.
void WriteOnePackage(const ScratchRoot& root) {
    root.makeFolder("/var/lib/dpkg/info");
    root.write("/var/lib/dpkg/status",
               "Package: one\nStatus: install ok installed\nDescription: first\n");
    root.write("/var/lib/dpkg/info/one.list", "/usr/bin/one\n/usr/bin/uno\n");
}

} // namespace

TEST(DpkgDatabase, KeepsItsPathIndexBetweenRuns) {
    ScratchRoot root;
    ASSERT_FALSE(root.path().empty());
    WriteOnePackage(root);
    const std::string cache = root.path() + "/cache/kestrel/dpkg.cache";
    PackageInfo info;
    {
        DpkgDatabase first(root.path(), cache);
        EXPECT_TRUE(first.ownerOf("/usr/bin/one", info));
    }
    const std::string kept = ReadBytes(cache);
    ASSERT_FALSE(kept.empty()) << "the index was not kept";

    // dpkg replaces lists by renaming, which the info folder's time shows; a list changed in
    // place is not seen, which proves the second run took the kept index.
    root.write("/var/lib/dpkg/info/one.list", "/usr/bin/other\n");
    {
        DpkgDatabase second(root.path(), cache);
        EXPECT_TRUE(second.ownerOf("/usr/bin/one", info));
        EXPECT_EQ(info.description, "first");
        EXPECT_FALSE(second.ownerOf("/usr/bin/other", info));
    }

    root.touchLater("/var/lib/dpkg/status", 5);
    DpkgDatabase third(root.path(), cache);
    EXPECT_FALSE(third.ownerOf("/usr/bin/one", info));
    EXPECT_TRUE(third.ownerOf("/usr/bin/other", info));
    EXPECT_NE(ReadBytes(cache), kept) << "the stale index was not replaced";
}

TEST(DpkgDatabase, DamagedOrUnwritableCacheIsRebuilt) {
    ScratchRoot root;
    ASSERT_FALSE(root.path().empty());
    WriteOnePackage(root);
    const std::string cache = root.path() + "/dpkg.cache";
    {
        DpkgDatabase build(root.path(), cache);
        PackageInfo info;
        ASSERT_TRUE(build.ownerOf("/usr/bin/one", info));
    }
    const std::string good = ReadBytes(cache);
    ASSERT_GT(good.size(), 16u);
    // The entries follow the header; the first entry's package number is 8 bytes in.
    const std::size_t entries = good.size() - 2 * 16;
    struct Case {
        const char* name;
        std::string bytes;
    };
    std::string badPackage = good;
    badPackage[entries + 8] = '\x07';
    std::string unsorted = good;
    std::swap_ranges(unsorted.begin() + static_cast<std::ptrdiff_t>(entries),
                     unsorted.begin() + static_cast<std::ptrdiff_t>(entries + 16),
                     unsorted.begin() + static_cast<std::ptrdiff_t>(entries + 16));
    const Case cases[] = {
        {"empty", ""},
        {"cut inside the header", good.substr(0, 20)},
        {"cut inside an entry", good.substr(0, good.size() - 3)},
        {"extra bytes", good + "xyz"},
        {"other magic", "X" + good.substr(1)},
        {"package out of range", badPackage},
        {"entries out of order", unsorted},
    };
    for (const Case& c : cases) {
        WriteBytes(cache, c.bytes);
        // Changed in place: only a list read afresh knows /usr/bin/two.
        root.write("/var/lib/dpkg/info/one.list", "/usr/bin/one\n/usr/bin/two\n");
        DpkgDatabase dpkg(root.path(), cache);
        PackageInfo info;
        EXPECT_TRUE(dpkg.ownerOf("/usr/bin/two", info)) << c.name;
        EXPECT_EQ(info.package, "one") << c.name;
        EXPECT_EQ(ReadBytes(cache).size(), good.size()) << c.name << ": not rewritten";
        root.write("/var/lib/dpkg/info/one.list", "/usr/bin/one\n/usr/bin/uno\n");
    }

    // A cache that cannot be kept changes nothing else.
    root.write("/plainfile", "x");
    DpkgDatabase unwritable(root.path(), root.path() + "/plainfile/dpkg.cache");
    PackageInfo info;
    EXPECT_TRUE(unwritable.ownerOf("/usr/bin/uno", info));
}

TEST(RpmDatabase, AsksTheRpmCommand) {
    RpmDatabase rpm(RpmRoot, RpmRoot + "/fake-rpm");
    ASSERT_TRUE(rpm.present());
    PackageInfo info;
    EXPECT_TRUE(rpm.ownerOf("/usr/bin/rpmtool", info));
    EXPECT_EQ(info.description, "Tool packaged with rpm");
    EXPECT_EQ(info.company, "Example Vendor");
    EXPECT_TRUE(rpm.ownerOf("/usr/bin/novendor", info));
    EXPECT_EQ(info.company, "");
    EXPECT_FALSE(rpm.ownerOf("/usr/bin/unowned", info));
    EXPECT_EQ(info.description, "");
    // An rpm that does not answer is given up after a bounded wait.
    EXPECT_FALSE(rpm.ownerOf("/usr/bin/hanging", info));

    EXPECT_FALSE(RpmDatabase(RpmRoot, "/nonexistent/rpm").present());
    EXPECT_FALSE(
        RpmDatabase(DesktopRoot, RpmRoot + "/fake-rpm").present()); // no rpm database there
}

TEST(MimeGlobs, NameGivesTypeAndIcons) {
    MimeGlobs mime(DesktopRoot, {"/home/.local/share", "/usr/share"});
    struct Case {
        const char* name;
        const char* type;
    };
    const Case cases[] = {
        {"report.pdf", "application/pdf"},
        {"REPORT.PDF", "application/pdf"},
        {"a.tar.gz", "application/x-compressed-tar"}, // heavier glob wins over *.gz
        {"a.gz", "application/gzip"},
        {"README.first", "text/x-readme"},
        {"Makefile", "text/x-makefile"},
        {"main.c", "text/x-csrc"},
        {"noextension", ""},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(mime.mimeTypeOfName(c.name), c.type) << c.name;
    EXPECT_EQ(mime.iconNamesOf("application/pdf"),
              (std::vector<std::string>{"application-pdf", "x-office-document"}));
    EXPECT_EQ(mime.iconNamesOf("text/x-makefile"),
              (std::vector<std::string>{"text-x-script", "text-x-makefile", "text-x-generic"}));
    EXPECT_TRUE(mime.iconNamesOf("garbage").empty());
}

TEST(ExecutableKnowledge, DescribesFromEntryAndPackage) {
    ExecutableKnowledge knowledge(FixtureKnowledge());
    struct Case {
        const char* path;
        const char* description;
        const char* company;
    };
    const Case cases[] = {
        {"/usr/bin/pv", "像素查看器 - 图像查看器",
         "Pixel Team"}, // entry names it, package makes it
        {"/usr/bin/python3", "Minimal subset of the Python language (version 3.11)",
         "Matthias Klose"},
        {"/usr/bin/pkgonly", "tools found only through their package", "Quoted, Name"},
        {"/opt/tool/bin/tool-link", "工具", ""},
        {"/usr/bin/editor", "My Editor", ""},
        {"/usr/bin/notes", "", ""},
        {"/nonexistent/program", "", ""},
        {"relative", "", ""},
        {"", "", ""},
    };
    for (int round = 0; round < 2; ++round) { // the second round answers from what was kept
        for (const Case& c : cases) {
            std::string description = "stale", company = "stale";
            bool known = knowledge.describe(c.path, description, company);
            EXPECT_EQ(known, c.description[0] != '\0' || c.company[0] != '\0') << c.path;
            EXPECT_EQ(description, c.description) << c.path;
            EXPECT_EQ(company, c.company) << c.path;
        }
    }
}

TEST(ExecutableKnowledge, UsesRpmWhereThereIsNoDpkg) {
    KnowledgeSources sources = FixtureKnowledge(RpmRoot, RpmRoot + "/fake-rpm");
    ExecutableKnowledge knowledge(sources);
    std::string description, company;
    EXPECT_TRUE(knowledge.describe("/usr/bin/rpmtool", description, company));
    EXPECT_EQ(description, "Tool packaged with rpm");
    EXPECT_EQ(company, "Example Vendor");

    // Where dpkg keeps the packages, rpm is not asked.
    ScratchRoot root;
    ASSERT_FALSE(root.path().empty());
    root.makeFolder("/var/lib/rpm");
    root.makeFolder("/var/lib/dpkg/info");
    root.write("/var/lib/dpkg/status", "");
    ExecutableKnowledge debian(FixtureKnowledge(root.path(), RpmRoot + "/fake-rpm"));
    EXPECT_FALSE(debian.describe("/usr/bin/rpmtool", description, company));
}

TEST(ExecutableKnowledge, IconNamesForPaths) {
    ExecutableKnowledge knowledge(FixtureKnowledge());
    struct Case {
        const char* path;
        const char* icon;
    };
    const Case cases[] = {
        {"/usr/bin/pv", "pixel-viewer;application-x-executable"},
        {"/opt/tool/bin/tool-real", "/opt/tool/share/tool.png;application-x-executable"},
        {"/usr/bin/pkgonly", "application-x-executable"},
        {"/usr/bin", "folder;inode-directory"},
        {"/usr/bin/notes", "application-octet-stream;application-x-generic"},
        {"/nowhere/report.PDF", "application-pdf;x-office-document"}, // need not exist
        {"/nowhere/a.tar.gz", "application-x-compressed-tar;package-x-generic"},
        {"/nowhere/program", "application-octet-stream;application-x-generic"},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(knowledge.iconNameOf(c.path), c.icon) << c.path;
}

TEST(ExecutableKnowledge, ForgetsKeptAnswersWhenSourcesChange) {
    ScratchRoot root;
    ASSERT_FALSE(root.path().empty());
    root.makeFolder("/usr/bin");
    root.makeFolder("/usr/share/applications");
    root.write("/usr/bin/prog", "#!/bin/sh\n", 0755);
    ExecutableKnowledge knowledge(FixtureKnowledge(root.path()));
    std::string description, company;
    EXPECT_FALSE(knowledge.describe("/usr/bin/prog", description, company));
    EXPECT_EQ(knowledge.iconNameOf("/usr/bin/prog"), "application-x-executable");
    std::uint64_t generation = knowledge.generation();

    root.write(
        "/usr/share/applications/prog.desktop",
        "[Desktop Entry]\nType=Application\nName=Prog\nIcon=prog-icon\nExec=/usr/bin/prog\n");
    root.touchLater("/usr/share/applications", 5);
    knowledge.refreshIfChanged();
    EXPECT_NE(knowledge.generation(), generation);
    EXPECT_TRUE(knowledge.describe("/usr/bin/prog", description, company));
    EXPECT_EQ(description, "Prog");
    EXPECT_EQ(knowledge.iconNameOf("/usr/bin/prog"), "prog-icon;application-x-executable");
}

TEST(ExecutableKnowledge, DescriptionStaysOnOneLine) {
    ScratchRoot root;
    ASSERT_FALSE(root.path().empty());
    root.makeFolder("/usr/bin");
    root.makeFolder("/usr/share/applications");
    root.makeFolder("/var/lib/dpkg/info");
    root.write("/usr/bin/prog", "#!/bin/sh\n", 0755);
    root.write("/usr/share/applications/prog.desktop",
               "[Desktop Entry]\nType=Application\nName=Two\\nLines\\tand\x01more\nExec=prog\n");
    root.write("/var/lib/dpkg/status", "Package: prog\nStatus: install ok installed\nMaintainer: "
                                       "Tab\tName <t@x>\nDescription: x\n");
    root.write("/var/lib/dpkg/info/prog.list", "/usr/bin/prog\n");
    ExecutableKnowledge knowledge(FixtureKnowledge(root.path()));
    std::string description, company;
    EXPECT_TRUE(knowledge.describe("/usr/bin/prog", description, company));
    EXPECT_EQ(description, "Two Lines and more");
    EXPECT_EQ(company, "Tab Name");
}

TEST(DesktopParsers, SurviveArbitraryBytes) {
    // Made of the characters the formats give meaning to, so the parsers' branches are hit.
    const std::string alphabet = "[]=\\\"%% \n\t\r;:/<>@#-.*?abcAZ09_\x01\xff\xe4";
    std::mt19937 random(20261210);
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    std::uniform_int_distribution<int> length(0, 200);
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        for (int i = length(random); i > 0; --i)
            text += alphabet[pick(random)];
        std::string withGroup = "[Desktop Entry]\nExec=" + text;
        ParsedEntry parsed = ParseDesktopEntry(withGroup, "zh_CN");
        EXPECT_LE(parsed.execProgram.size(), text.size());
        ParseDesktopEntry(text, text);
        SplitExec(text);
        MaintainerName(text);
    }
}
