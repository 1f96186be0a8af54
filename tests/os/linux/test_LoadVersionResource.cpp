#include "os/FileVersion.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "snapshot/PeBuilder.h"
#include "snapshot/UnitGetTcpUdpTable.h"

using namespace pebuild;

namespace {

const Bytes kBlock = versionBlock(
    {{{0x0804, 0x04B0}},
     {{"080404B0", {{"CompanyName", "鹰隼软件公司"}, {"FileDescription", "网络连接查看器"}}}}});

class LoadVersionResourceTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "kestrel-pe-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_dir = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }

    std::string write(const std::string& name, const Bytes& bytes) const {
        const std::string path = (m_dir / name).string();
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        EXPECT_TRUE(out.good()) << path;
        return path;
    }

    std::filesystem::path m_dir;
};

// Bytes this process has read through read(2)-like calls so far.
std::uint64_t bytesReadByThisProcess() {
    std::ifstream io("/proc/self/io");
    std::string key;
    std::uint64_t value = 0;
    while (io >> key >> value) {
        if (key == "rchar:")
            return value;
    }
    return 0;
}

} // namespace

TEST_F(LoadVersionResourceTest, ReadsTheBlockOfPe32AndPe32PlusFiles) {
    for (bool pe32Plus : {false, true}) {
        const std::string path =
            write(pe32Plus ? "app64.exe" : "app32.exe", peWithVersion(kBlock, pe32Plus).bytes);
        Bytes block;
        ASSERT_TRUE(os::LoadVersionResource(path, block)) << path;
        EXPECT_EQ(block, kBlock);
    }
}

TEST_F(LoadVersionResourceTest, GetFileVersionStringsReadsABuiltExecutableEndToEnd) {
    const std::string path = write("setup.exe", peWithVersion(kBlock, true).bytes);
    std::string company;
    EXPECT_EQ(GetFileVersionStrings(path, company), "网络连接查看器");
    EXPECT_EQ(company, "鹰隼软件公司");
}

TEST_F(LoadVersionResourceTest, PathsWithOddBytesAndLinksAreFollowed) {
    const std::string odd = write("a b\n\xff\xfe\x01 中.exe", peWithVersion(kBlock).bytes);
    const std::string link = (m_dir / "link.exe").string();
    ASSERT_EQ(::symlink(odd.c_str(), link.c_str()), 0);
    for (const std::string& path : {odd, link}) {
        Bytes block;
        EXPECT_TRUE(os::LoadVersionResource(path, block)) << path;
        EXPECT_EQ(block, kBlock);
    }
}

TEST_F(LoadVersionResourceTest, FilesWithoutAVersionResourceGiveNothing) {
    const std::string fifo = (m_dir / "fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0); // opening it must not wait for a writer
    Bytes truncated = peWithVersion(kBlock).bytes;
    truncated.resize(truncated.size() / 2);
    PeOptions noResources;
    const std::string paths[] = {
        (m_dir / "missing.exe").string(),
        m_dir.string(),
        fifo,
        "/dev/null",
        "/dev/zero",
        "/proc/self/status",
        write("empty.exe", {}),
        write("mz.exe", {'M', 'Z'}),
        write("text.exe", {'h', 'e', 'l', 'l', 'o', '\n'}),
        write("truncated.exe", truncated),
        write("plain.exe", buildPe(noResources).bytes),
        "/proc/self/exe", // an ELF file
        "",
    };
    for (const std::string& path : paths) {
        Bytes block{1, 2, 3};
        EXPECT_FALSE(os::LoadVersionResource(path, block)) << path;
        EXPECT_TRUE(block.empty()) << path;
    }
}

// A self-extracting installer carries its payload after the image: the resource near the
// start is found without reading the payload, also beyond 4 GiB.
TEST_F(LoadVersionResourceTest, ReadsLittleOfAHugeFile) {
    const std::string path = write("installer.exe", peWithVersion(kBlock).bytes);
    if (::truncate(path.c_str(), off_t{5} << 30) != 0)
        GTEST_SKIP() << "no room for a sparse 5 GiB file here";
    const std::uint64_t before = bytesReadByThisProcess();
    Bytes block;
    ASSERT_TRUE(os::LoadVersionResource(path, block));
    const std::uint64_t read = bytesReadByThisProcess() - before;
    EXPECT_EQ(block, kBlock);
    EXPECT_LT(read, 64u * 1024u);
}
