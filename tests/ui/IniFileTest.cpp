// The settings file: value parsing, the in-place edit of one entry, and the real file on disk.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "os/SettingsPath.h"
#include "os/SystemDirs.h"
#include "ui/IniFile.h"
#include "ui/TempDir.h"

TEST(ProfileInteger, ParsesDecimalAndHexWithSign) {
    struct Case {
        const char* text;
        std::optional<std::int32_t> expected;
    };
    const Case cases[] = {
        {"0", 0},
        {"1", 1},
        {"5", 5},
        {"-1", -1},
        {"+7", 7},
        {"0x10", 16},
        {"0X1f", 31},
        {"$10", 16},
        {"$ff", 255},
        {"-$10", -16},
        {"-0x10", -16},
        {"  12", 12},
        {"00000000000000000000042", 42},
        {"2147483647", 2147483647},
        {"-2147483648", std::numeric_limits<std::int32_t>::min()},
        {"$FFFFFFFF", -1},
        {"0x80000000", std::numeric_limits<std::int32_t>::min()},
        {"2147483648", std::nullopt},
        {"99999999999999999999", std::nullopt},
        {"0x100000000", std::nullopt},
        {"", std::nullopt},
        {"abc", std::nullopt},
        {"0x", std::nullopt},
        {"$", std::nullopt},
        {"-", std::nullopt},
        {"1 ", std::nullopt},
        {"1a", std::nullopt},
        {"0x1g", std::nullopt},
        {"1.0", std::nullopt},
        {"--1", std::nullopt},
        {"0b1", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ParseProfileInteger(c.text), c.expected) << '"' << c.text << '"';
}

TEST(ProfileText, FindsValuesWithoutRegardToCase) {
    struct Case {
        const char* text;
        const char* key;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"[Set]\nShowLocal=0\n", "ShowLocal", "0"},
        {"[SET]\r\nshowlocal = 0x10 \r\n", "ShowLocal", "0x10"},
        {"  [ set ]  \n  ShowLocal=  1\n", "ShowLocal", "1"},
        {"[Set]\nShowLocal=\"0\"\n", "ShowLocal", "0"},
        {"[Set]\nShowLocal=\n", "ShowLocal", ""},
        {"[Set]\nShowLocal=1\nShowLocal=0\n", "ShowLocal", "1"},
        {"[Other]\nShowLocal=0\n[Set]\nAutoRefresh=1\n", "ShowLocal", std::nullopt},
        {"ShowLocal=0\n[Set]\n", "ShowLocal", std::nullopt},
        {"[Set]\n;ShowLocal=0\n", "ShowLocal", std::nullopt},
        {"[Settings]\nShowLocal=0\n", "ShowLocal", std::nullopt},
        {"[Set]\nShowLocalX=0\n", "ShowLocal", std::nullopt},
        {"[Set]\nShowLocal=0", "ShowLocal", "0"},
        {"[Set]\nShowLocal=a=b\n", "ShowLocal", "a=b"},
        {"[Set]\nAutoRefresh=1\n[Set]\nShowLocal=0\n", "ShowLocal", std::nullopt},
        {"", "ShowLocal", std::nullopt},
        {"\xEF\xBB\xBF[Set]\r\nShowLocal=0\r\n", "ShowLocal", "0"},
        {"\xff\xfe garbage\n[Set]\nShowLocal=0\n", "ShowLocal", "0"},
        // A lone CR ends a line.
        {"[Set]\r\nAutoRefresh=0\rShowInfo=1\r\n", "AutoRefresh", "0"},
        {"[Set]\r\nAutoRefresh=0\rShowInfo=1\r\n", "ShowInfo", "1"},
        {"[Set]\rShowInfo=1", "ShowInfo", "1"},
        {"[Other]\rShowInfo=0\r[Set]\rShowInfo=1\r", "ShowInfo", "1"},
        {"[Set]\r\r\nShowInfo=1\r\r\n", "ShowInfo", "1"},
        {"[Set]\nShowLocal=0\r;ShowInfo=1\n", "ShowInfo", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FindProfileValue(c.text, "Set", c.key), c.expected) << c.text << c.key;
}

TEST(ProfileText, WritingChangesOneEntryAndKeepsEveryOtherByte) {
    struct Case {
        const char* before;
        const char* key;
        const char* value;
        const char* after;
    };
    const Case cases[] = {
        // No file yet.
        {"", "ShowInfo", "1", "[Set]\nShowInfo=1\n"},
        // An entry changes in place; the spelling of its key and its spacing stay.
        {"[Set]\nShowLocal=1\nAutoRefresh=5\nAlwaysTop=1\n", "AutoRefresh", "1",
         "[Set]\nShowLocal=1\nAutoRefresh=1\nAlwaysTop=1\n"},
        {"[set]\r\n  autorefresh = 0x10 \r\n", "AutoRefresh", "1",
         "[set]\r\n  autorefresh = 1\r\n"},
        {"[Set]\nShowLocal=\n", "ShowLocal", "0", "[Set]\nShowLocal=0\n"},
        {"[Set]\nShowLocal=1", "ShowLocal", "0", "[Set]\nShowLocal=0"},
        // A new entry goes after the last entry of its section, before blank lines and the
        // next section.
        {"; mine\n[Set]\nShowLocal=0\n\n[Other]\nX=1\n", "ShowInfo", "1",
         "; mine\n[Set]\nShowLocal=0\nShowInfo=1\n\n[Other]\nX=1\n"},
        {"[Set]\n[Other]\nX=1\n", "ShowInfo", "1", "[Set]\nShowInfo=1\n[Other]\nX=1\n"},
        {"[Set]", "ShowInfo", "1", "[Set]\nShowInfo=1\n"},
        {"[Set]\r\nShowLocal=0\r\n", "AlwaysTop", "0", "[Set]\r\nShowLocal=0\r\nAlwaysTop=0\r\n"},
        // A new section goes at the end, after a line break if the file lacks its last one.
        {"[Other]\nX=1\n", "ShowInfo", "1", "[Other]\nX=1\n[Set]\nShowInfo=1\n"},
        {"[Other]\nX=1", "ShowInfo", "1", "[Other]\nX=1\n[Set]\nShowInfo=1\n"},
        {"[Other]\r\nX=1\r\n", "ShowInfo", "0", "[Other]\r\nX=1\r\n[Set]\r\nShowInfo=0\r\n"},
        {"\xEF\xBB\xBF[Set]\r\nShowLocal=1\r\n", "ShowLocal", "0",
         "\xEF\xBB\xBF[Set]\r\nShowLocal=0\r\n"},
        {"\xEF\xBB\xBF", "ShowInfo", "1", "\xEF\xBB\xBF[Set]\nShowInfo=1\n"},
        // Only the first section and the first entry of a name count.
        {"[Set]\nShowInfo=0\n[SET]\nShowInfo=0\n", "ShowInfo", "1",
         "[Set]\nShowInfo=1\n[SET]\nShowInfo=0\n"},
        {"[Set]\nShowInfo=0\nshowinfo=0\n", "ShowInfo", "1", "[Set]\nShowInfo=1\nshowinfo=0\n"},
        // A key of another section is not touched.
        {"[Other]\nShowInfo=0\n", "ShowInfo", "1", "[Other]\nShowInfo=0\n[Set]\nShowInfo=1\n"},
        // A lone CR ends a line, so the entry after it stays; a file of lone CRs gets its new
        // lines with the same break.
        {"[Set]\r\nAutoRefresh=0\rShowInfo=1\r\n", "AutoRefresh", "1",
         "[Set]\r\nAutoRefresh=1\rShowInfo=1\r\n"},
        {"[Set]\r\nAutoRefresh=0\rShowInfo=1\r\n", "ShowInfo", "0",
         "[Set]\r\nAutoRefresh=0\rShowInfo=0\r\n"},
        {"[Set]\rShowLocal=0\r", "ShowInfo", "1", "[Set]\rShowLocal=0\rShowInfo=1\r"},
        {"[Other]\rX=1\r", "ShowInfo", "1", "[Other]\rX=1\r[Set]\rShowInfo=1\r"},
        {"[Set]\rShowLocal=0", "ShowInfo", "1", "[Set]\rShowLocal=0\rShowInfo=1\r"},
    };
    for (const Case& c : cases) {
        const std::string after = SetProfileValue(c.before, "Set", c.key, c.value);
        EXPECT_EQ(after, c.after) << c.before;
        EXPECT_EQ(FindProfileValue(after, "Set", c.key), std::string(c.value)) << c.before;
    }
}

// `text` in UTF-16 with its byte order mark, little- or big-endian.
std::string utf16File(std::u16string_view text, bool littleEndian) {
    std::string bytes;
    const auto put = [&](char16_t unit) {
        const char low = static_cast<char>(unit & 0xFF);
        const char high = static_cast<char>(unit >> 8);
        bytes.push_back(littleEndian ? low : high);
        bytes.push_back(littleEndian ? high : low);
    };
    put(u'\uFEFF');
    for (const char16_t unit : text)
        put(unit);
    return bytes;
}

TEST(IniFileOnDisk, Utf16FilesAreReadAndWrittenInTheirOwnEncoding) {
    for (const bool littleEndian : {true, false}) {
        SCOPED_TRACE(littleEndian ? "little-endian" : "big-endian");
        TempDir dir;
        const std::string name = dir.file("Kestrel.ini");
        // A comment in Chinese, a character outside the basic plane and an unpaired surrogate
        // must all survive the write unchanged.
        const std::u16string before = u"; 设置 \U0001F600 \xD800x\r\n[Set]\r\nShowInfo=1\r\n"
                                      u"AutoRefresh=0x10\r\nName=网络\r\n";
        writeTextFile(name, utf16File(before, littleEndian));

        IniFile ini(name);
        EXPECT_TRUE(ini.ReadBool("Set", "ShowInfo", false));
        EXPECT_TRUE(ini.ReadBool("Set", "AutoRefresh", false));
        EXPECT_EQ(ini.ReadString("Set", "Name", ""), "网络");

        ini.WriteBool("Set", "AlwaysTop", false);
        EXPECT_EQ(readTextFile(name), utf16File(before + u"AlwaysTop=0\r\n", littleEndian));
        ini.WriteBool("Set", "ShowInfo", false);
        EXPECT_EQ(readTextFile(name),
                  utf16File(u"; 设置 \U0001F600 \xD800x\r\n[Set]\r\nShowInfo=0\r\n"
                            u"AutoRefresh=0x10\r\nName=网络\r\nAlwaysTop=0\r\n",
                            littleEndian));
        EXPECT_FALSE(ini.ReadBool("Set", "AlwaysTop", true));
        EXPECT_FALSE(ini.ReadBool("Set", "ShowInfo", true));
    }
}

TEST(IniFileOnDisk, Utf16FileWithOnlyItsMarkOrAnOddLastByte) {
    TempDir dir;
    const std::string name = dir.file("Kestrel.ini");
    writeTextFile(name, "\xFF\xFE");
    IniFile ini(name);
    ini.WriteBool("Set", "ShowInfo", true);
    EXPECT_EQ(readTextFile(name), utf16File(u"[Set]\nShowInfo=1\n", true));

    // A file cut in the middle of a code unit keeps its last byte where it was.
    writeTextFile(name, utf16File(u"[Set]\r\nShowInfo=1\r\n", false) + "\x41");
    EXPECT_TRUE(ini.ReadBool("Set", "ShowInfo", false));
    ini.WriteBool("Set", "ShowInfo", false);
    EXPECT_EQ(readTextFile(name), utf16File(u"[Set]\r\nShowInfo=0\r\n", false) + "\x41");
}

TEST(IniFileOnDisk, MissingFileGivesDefaultsAndCreatesNothing) {
    TempDir dir;
    const std::string name = dir.file("kestrel/Kestrel.ini");
    const IniFile ini(name);
    EXPECT_TRUE(ini.ReadBool("Set", "ShowLocal", true));
    EXPECT_FALSE(ini.ReadBool("Set", "ShowInfo", false));
    EXPECT_EQ(ini.ReadInteger("Set", "AutoRefresh", 7), 7);
    EXPECT_EQ(ini.ReadString("Set", "AutoRefresh", "d"), "d");
    EXPECT_FALSE(std::filesystem::exists(dir.file("kestrel")));
}

TEST(IniFileOnDisk, BadValuesGiveTheDefault) {
    TempDir dir;
    const std::string name = dir.file("Kestrel.ini");
    writeTextFile(name, "[Set]\nShowLocal=abc\nAutoRefresh=\nAlwaysTop=0\nShowInfo=0x10\n");
    const IniFile ini(name);
    EXPECT_TRUE(ini.ReadBool("Set", "ShowLocal", true));
    EXPECT_FALSE(ini.ReadBool("Set", "ShowLocal", false));
    EXPECT_TRUE(ini.ReadBool("Set", "AutoRefresh", true));
    EXPECT_FALSE(ini.ReadBool("Set", "AlwaysTop", true));
    EXPECT_TRUE(ini.ReadBool("Set", "ShowInfo", false));
}

TEST(IniFileOnDisk, LongValueIsCutTo2047Bytes) {
    TempDir dir;
    const std::string name = dir.file("Kestrel.ini");
    // 2047 digits are read; the 2048th byte, which makes it no integer, is cut off.
    writeTextFile(name, "[Set]\nShowInfo=" + std::string(2047, '0') + "x\n");
    const IniFile ini(name);
    EXPECT_EQ(ini.ReadString("Set", "ShowInfo", "").size(), 2047u);
    EXPECT_EQ(ini.ReadInteger("Set", "ShowInfo", 9), 0);
}

TEST(IniFileOnDisk, FirstWriteCreatesFolderAndFile) {
    TempDir dir;
    const std::string name = dir.file("deep/er/kestrel/Kestrel.ini");
    IniFile ini(name);
    ini.WriteBool("Set", "ShowInfo", true);
    EXPECT_EQ(readTextFile(name), "[Set]\nShowInfo=1\n");
    struct stat st {};
    ASSERT_EQ(::stat(dir.file("deep/er/kestrel").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ini.WriteBool("Set", "ShowInfo", false);
    ini.WriteBool("Set", "ShowLocal", false);
    EXPECT_EQ(readTextFile(name), "[Set]\nShowInfo=0\nShowLocal=0\n");
    // Nothing but the file is left in its folder: no temporary files.
    int entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.file("deep/er/kestrel"))) {
        static_cast<void>(entry);
        ++entries;
    }
    EXPECT_EQ(entries, 1);
}

TEST(IniFileOnDisk, ReplacingKeepsPermissionsAndSymbolicLinks) {
    TempDir dir;
    const std::string real = dir.file("dotfiles/kestrel.ini");
    writeTextFile(real, "# mine\n[Set]\nAlwaysTop=1\n");
    ASSERT_EQ(::chmod(real.c_str(), 0640), 0);
    std::filesystem::create_directories(dir.file("config/kestrel"));
    const std::string link = dir.file("config/kestrel/Kestrel.ini");
    std::filesystem::create_symlink("../../dotfiles/kestrel.ini", link);

    IniFile ini(link);
    ini.WriteBool("Set", "AlwaysTop", false);

    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(readTextFile(real), "# mine\n[Set]\nAlwaysTop=0\n");
    struct stat st {};
    ASSERT_EQ(::stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

// The names in `folder`, sorted.
std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void expectRefusedWrite(IniFile& ini) {
    try {
        ini.WriteBool("Set", "ShowInfo", true);
        ADD_FAILURE() << "no error for " << ini.fileName();
    } catch (const std::runtime_error& error) {
        EXPECT_EQ(std::string(error.what()), "Unable to write to " + ini.fileName());
    }
}

TEST(IniFileOnDisk, ALinkIsOnlyFollowedToARegularFileOfThisUser) {
    TempDir dir;
    const std::string targets = dir.file("targets");
    writeTextFile(dir.file("targets/passwd"), "root:x:0:0::/root:/bin/sh\n");
    std::filesystem::create_directories(dir.file("targets/folder"));
    ASSERT_EQ(::mkfifo(dir.file("targets/fifo").c_str(), 0600), 0);
    std::filesystem::create_symlink("passwd-gone", dir.file("targets/dangling"));
    const std::vector<std::string> targetsBefore = namesIn(targets);

    struct Case {
        const char* what;
        std::string linkTarget;
    };
    const Case cases[] = {
        {"dangling, in a missing folder", dir.file("missing/deeper/Kestrel.ini")},
        {"dangling, in an existing folder", dir.file("targets/new.ini")},
        {"a folder", dir.file("targets/folder")},
        {"a pipe", dir.file("targets/fifo")},
        {"a link that dangles", dir.file("targets/dangling")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string link = dir.file("config/kestrel/Kestrel.ini");
        std::filesystem::create_directories(dir.file("config/kestrel"));
        std::filesystem::remove(link);
        std::filesystem::create_symlink(c.linkTarget, link);
        IniFile ini(link);
        expectRefusedWrite(ini);
        EXPECT_TRUE(std::filesystem::is_symlink(link));
        EXPECT_EQ(std::filesystem::read_symlink(link), c.linkTarget);
        EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"config", "targets"}));
        EXPECT_EQ(namesIn(targets), targetsBefore);
        EXPECT_EQ(namesIn(dir.file("config/kestrel")), std::vector<std::string>{"Kestrel.ini"});
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir.file("targets/folder")));
    EXPECT_EQ(readTextFile(dir.file("targets/passwd")), "root:x:0:0::/root:/bin/sh\n");

    // A dangling link where the settings folder belongs makes no folder either.
    std::filesystem::remove_all(dir.file("config/kestrel"));
    std::filesystem::create_symlink(dir.file("missing/kestrel"), dir.file("config/kestrel"));
    IniFile ini(dir.file("config/kestrel/Kestrel.ini"));
    expectRefusedWrite(ini);
    EXPECT_FALSE(std::filesystem::exists(dir.file("missing")));
}

TEST(IniFileOnDisk, ALinkToAnotherUsersFileIsNotFollowed) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root can give a file to another user";
    TempDir dir;
    const std::string other = dir.file("etc/passwd");
    writeTextFile(other, "[Set]\nShowInfo=0\n");
    ASSERT_EQ(::chown(other.c_str(), 65534, 65534), 0);
    const std::string link = dir.file("Kestrel.ini");
    std::filesystem::create_symlink("etc/passwd", link);
    // Two hops lead there as well.
    const std::string chain = dir.file("chain.ini");
    std::filesystem::create_symlink("Kestrel.ini", chain);

    for (const std::string& name : {link, chain}) {
        IniFile ini(name);
        expectRefusedWrite(ini);
    }
    EXPECT_EQ(readTextFile(other), "[Set]\nShowInfo=0\n");
    struct stat st {};
    ASSERT_EQ(::stat(other.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(namesIn(dir.file("etc")), std::vector<std::string>{"passwd"});

    // The same file as this user's own is written through the link.
    ASSERT_EQ(::chown(other.c_str(), 0, 0), 0);
    IniFile ini(chain);
    ini.WriteBool("Set", "ShowInfo", true);
    EXPECT_EQ(readTextFile(other), "[Set]\nShowInfo=1\n");
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_TRUE(std::filesystem::is_symlink(chain));
}

TEST(IniFileOnDisk, RefusedWriteThrowsWithTheFullFileName) {
    TempDir dir;
    writeTextFile(dir.file("plainfile"), "not a folder");
    struct Case {
        std::string name;
    };
    const Case cases[] = {
        // The folder cannot be made: a file stands where it should be (refused even to root).
        {dir.file("plainfile/kestrel/Kestrel.ini")},
        // The settings file is a folder: it cannot be read back, so it is left alone.
        {dir.file("folder/Kestrel.ini")},
    };
    std::filesystem::create_directories(dir.file("folder/Kestrel.ini"));
    for (const Case& c : cases) {
        IniFile ini(c.name);
        try {
            ini.WriteBool("Set", "ShowInfo", true);
            ADD_FAILURE() << "no error for " << c.name;
        } catch (const std::runtime_error& error) {
            EXPECT_EQ(std::string(error.what()), "Unable to write to " + c.name);
        }
    }
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("folder/Kestrel.ini")));
    EXPECT_EQ(readTextFile(dir.file("plainfile")), "not a folder");
}

TEST(IniFileOnDisk, UnchangedValueDoesNotTouchTheFile) {
    TempDir dir;
    const std::string name = dir.file("Kestrel.ini");
    writeTextFile(name, "[Set]\nShowInfo=1\n");
    int replaces = 0;
    ProfileStorage storage;
    storage.replace = [&](const std::string& path, const std::string& text) {
        ++replaces;
        return os::ReplaceWholeFile(path, text);
    };
    IniFile ini(name, storage);
    ini.WriteBool("Set", "ShowInfo", true);
    EXPECT_EQ(replaces, 0);
    ini.WriteBool("Set", "ShowInfo", false);
    EXPECT_EQ(replaces, 1);
}

class SettingsFilePathTest : public ::testing::Test {
protected:
    void SetUp() override {
        save("XDG_CONFIG_HOME", m_xdg);
        save("HOME", m_home);
    }
    void TearDown() override {
        restore("XDG_CONFIG_HOME", m_xdg);
        restore("HOME", m_home);
    }

private:
    static void save(const char* name, std::optional<std::string>& slot) {
        if (const char* value = std::getenv(name))
            slot = value;
    }
    static void restore(const char* name, const std::optional<std::string>& slot) {
        if (slot)
            ::setenv(name, slot->c_str(), 1);
        else
            ::unsetenv(name);
    }
    std::optional<std::string> m_xdg;
    std::optional<std::string> m_home;
};

TEST_F(SettingsFilePathTest, FollowsXdgConfigHomeElseHome) {
    struct Case {
        std::optional<std::string> xdg;
        std::optional<std::string> home;
        std::string expected;
    };
    const Case cases[] = {
        {"/cfg", "/home/u", "/cfg/kestrel/Kestrel.ini"},
        {"/cfg/", "/home/u", "/cfg/kestrel/Kestrel.ini"},
        {std::nullopt, "/home/u", "/home/u/.config/kestrel/Kestrel.ini"},
        {"", "/home/u/", "/home/u/.config/kestrel/Kestrel.ini"},
        // A relative XDG_CONFIG_HOME is not valid and is ignored.
        {"relative/cfg", "/home/u", "/home/u/.config/kestrel/Kestrel.ini"},
        {"/", "/home/u", "/kestrel/Kestrel.ini"},
    };
    for (const Case& c : cases) {
        if (c.xdg)
            ::setenv("XDG_CONFIG_HOME", c.xdg->c_str(), 1);
        else
            ::unsetenv("XDG_CONFIG_HOME");
        if (c.home)
            ::setenv("HOME", c.home->c_str(), 1);
        else
            ::unsetenv("HOME");
        EXPECT_EQ(os::SettingsFilePath(), c.expected) << c.xdg.value_or("(unset)");
    }
}

TEST_F(SettingsFilePathTest, WithoutHomeVariableUsesTheUserDatabase) {
    ::unsetenv("XDG_CONFIG_HOME");
    ::unsetenv("HOME");
    const std::string path = os::SettingsFilePath();
    // Every account of this machine has a home folder in the user database.
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path.front(), '/');
    EXPECT_TRUE(path.ends_with("/.config/kestrel/Kestrel.ini")) << path;
}

TEST(SystemDirs, ExecutableDirIsTheFolderOfThisProgram) {
    const std::string folder = os::ExecutableDir();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.front(), '/');
    EXPECT_EQ(folder.back(), '/');
    EXPECT_TRUE(std::filesystem::exists(folder + "ui_inifile_test")) << folder;
}
