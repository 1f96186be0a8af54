#include "os/PeImage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "snapshot/PeBuilder.h"

using namespace pebuild;

namespace {

const Bytes kBlock =
    versionBlock({{{0x0409, 0x04B0}},
                  {{"040904B0", {{"FileDescription", "Test tool"}, {"CompanyName", "Acme"}}}}});

bool extract(const Bytes& image, Bytes& block) {
    return os::readVersionResource(os::MemoryImageSource(image), block);
}

// An image of `size` bytes of which only the first ones are stored: the rest reads as zeros.
// Counts what is read, to show that a large file is not read whole.
class CountingSource : public os::ImageSource {
public:
    CountingSource(const Bytes& head, std::uint64_t size) : m_head(head), m_size(size) {}
    std::uint64_t size() const override { return m_size; }
    bool readAt(std::uint64_t offset, std::span<std::uint8_t> out) const override {
        if (offset > m_size || out.size() > m_size - offset)
            return false;
        m_bytesRead += out.size();
        for (std::size_t i = 0; i < out.size(); ++i)
            out[i] = offset + i < m_head.size() ? m_head[offset + i] : 0;
        return true;
    }
    std::uint64_t bytesRead() const { return m_bytesRead; }

private:
    const Bytes& m_head;
    std::uint64_t m_size;
    mutable std::uint64_t m_bytesRead = 0;
};

} // namespace

TEST(PeImage, FindsTheVersionResourceInEveryLayout) {
    struct Case {
        const char* name;
        bool pe32Plus;
        std::uint32_t fileAlignment;
        std::uint32_t sectionAlignment;
        bool namedTypeEntry;
        std::uint32_t misalignment;
    };
    const Case cases[] = {
        {"PE32", false, 0x200, 0x1000, false, 0},
        {"PE32+", true, 0x200, 0x1000, false, 0},
        {"PE32, sections at file offsets", false, 0x200, 0x200, false, 0},
        {"PE32+, named type entry first", true, 0x200, 0x1000, true, 0},
        {"PE32, data on an odd offset", false, 0x1000, 0x1000, true, 3},
    };
    for (const Case& c : cases) {
        PeOptions options;
        options.pe32Plus = c.pe32Plus;
        options.fileAlignment = c.fileAlignment;
        options.sectionAlignment = c.sectionAlignment;
        options.namedTypeEntry = c.namedTypeEntry;
        options.dataMisalignment = c.misalignment;
        options.resources = {{3, 1, 0x0409, Bytes(40, 0x11)},
                             {14, 1, 0x0409, Bytes(20, 0x22)},
                             {16, 1, 0x0409, kBlock},
                             {24, 1, 0x0409, Bytes(30, 0x33)}};
        const PeFile pe = buildPe(options);
        Bytes block;
        ASSERT_TRUE(extract(pe.bytes, block)) << c.name;
        EXPECT_EQ(block, kBlock) << c.name;
    }
}

TEST(PeImage, PicksNameOneAndTheFirstLanguage) {
    const Bytes other = versionBlock({{{0x0804, 0x04B0}}, {}});
    struct Case {
        const char* name;
        std::vector<Resource> resources;
        std::optional<Bytes> expected;
    };
    const Case cases[] = {
        {"neutral among others",
         {{16, 1, 0x0409, other}, {16, 1, 0, kBlock}, {16, 1, 0x0804, other}},
         kBlock},
        {"first language without a neutral one",
         {{16, 1, 0x0409, kBlock}, {16, 1, 0x0804, other}},
         kBlock},
        {"name 2 besides name 1", {{16, 1, 0x0409, kBlock}, {16, 2, 0x0409, other}}, kBlock},
        {"only name 2", {{16, 2, 0, kBlock}}, std::nullopt},
        {"no version resource", {{3, 1, 0, kBlock}, {24, 1, 0, kBlock}}, std::nullopt},
        {"no resources", {}, std::nullopt},
    };
    for (const Case& c : cases) {
        PeOptions options;
        options.resources = c.resources;
        Bytes block{1, 2, 3};
        const bool found = extract(buildPe(options).bytes, block);
        EXPECT_EQ(found, c.expected.has_value()) << c.name;
        EXPECT_EQ(block, c.expected.value_or(Bytes{})) << c.name;
    }
}

TEST(PeImage, SpoiledStructuresGiveNoResource) {
    using Spoil = std::function<void(PeFile&)>;
    struct Case {
        const char* name;
        Spoil spoil;
    };
    const Case cases[] = {
        {"no MZ", [](PeFile& f) { f.bytes[1] = 'X'; }},
        {"no PE signature", [](PeFile& f) { f.bytes[f.layout.peHeader + 2] = 1; }},
        {"PE header past the end", [](PeFile& f) { put32(f.bytes, 0x3C, 0xFFFFFFF0u); }},
        {"PE header at the very end",
         [](PeFile& f) { put32(f.bytes, 0x3C, static_cast<std::uint32_t>(f.bytes.size() - 4)); }},
        {"ROM image magic", [](PeFile& f) { put16(f.bytes, f.layout.optionalHeader, 0x107); }},
        {"optional header too short for the resource directory",
         [](PeFile& f) { put16(f.bytes, f.layout.fileHeader + 16, 96 + 16); }},
        {"two data directories",
         [](PeFile& f) { put32(f.bytes, f.layout.resourceDirectoryEntry - 20, 2); }},
        {"resource RVA 0", [](PeFile& f) { put32(f.bytes, f.layout.resourceDirectoryEntry, 0); }},
        {"resource RVA outside every section",
         [](PeFile& f) { put32(f.bytes, f.layout.resourceDirectoryEntry, 0x7FFF0000u); }},
        {"section table past the end",
         [](PeFile& f) { put16(f.bytes, f.layout.fileHeader + 2, 0xFFFF); }},
        {"resource section raw data past the end",
         [](PeFile& f) { put32(f.bytes, f.layout.resourceSectionHeader + 20, 0xFFFFFE00u); }},
        {"resource section without raw data",
         [](PeFile& f) { put32(f.bytes, f.layout.resourceSectionHeader + 16, 0); }},
        {"type entry points at a data entry",
         [](PeFile& f) { put32(f.bytes, f.layout.versionTypeEntry + 4, 0x10); }},
        {"type directory past the section",
         [](PeFile& f) { put32(f.bytes, f.layout.versionTypeEntry + 4, 0x8FFFFFF0u); }},
        {"huge entry count",
         [](PeFile& f) {
             put16(f.bytes, f.layout.versionNameDirectory + 14, 0xFFFF);
             put16(f.bytes, f.layout.versionNameDirectory + 12, 0xFFFF);
         }},
        {"language entry is a subdirectory",
         [](PeFile& f) {
             put32(f.bytes, f.layout.versionLanguageDirectory + 16 + 4, 0x80000000u);
         }},
        {"data entry past the section",
         [](PeFile& f) {
             put32(f.bytes, f.layout.versionLanguageDirectory + 16 + 4, 0x7FFFFFF0u);
         }},
        {"data RVA outside every section",
         [](PeFile& f) { put32(f.bytes, f.layout.versionDataEntry, 0xFFFFFF00u); }},
        {"data size past the section",
         [](PeFile& f) { put32(f.bytes, f.layout.versionDataEntry + 4, 0x8000); }},
        {"data size 0", [](PeFile& f) { put32(f.bytes, f.layout.versionDataEntry + 4, 0); }},
        {"data RVA + size wraps around",
         [](PeFile& f) {
             put32(f.bytes, f.layout.versionDataEntry, 0xFFFFFFF0u);
             put32(f.bytes, f.layout.versionDataEntry + 4, 0x20);
         }},
    };
    for (const Case& c : cases) {
        PeFile pe = peWithVersion(kBlock);
        c.spoil(pe);
        Bytes block{1};
        EXPECT_FALSE(extract(pe.bytes, block)) << c.name;
        EXPECT_TRUE(block.empty()) << c.name;
    }
}

TEST(PeImage, DirectoryLoopsEndTheWalk) {
    struct Case {
        const char* name;
        std::function<void(PeFile&)> spoil;
    };
    const Case cases[] = {
        // RT_VERSION's directory is the root itself: name 1 is then looked up among types.
        {"type entry points at the root",
         [](PeFile& f) { put32(f.bytes, f.layout.versionTypeEntry + 4, 0x80000000u); }},
        // The name directory points at the type directory that holds it.
        {"name entry points at its parent",
         [](PeFile& f) {
             put32(f.bytes, f.layout.versionNameDirectory + 16 + 4,
                   0x80000000u | static_cast<std::uint32_t>(f.layout.versionNameDirectory -
                                                            f.layout.resourceSection));
         }},
        // The language directory points at itself.
        {"language entry points at itself",
         [](PeFile& f) {
             put32(f.bytes, f.layout.versionLanguageDirectory + 16 + 4,
                   0x80000000u | static_cast<std::uint32_t>(f.layout.versionLanguageDirectory -
                                                            f.layout.resourceSection));
         }},
    };
    for (const Case& c : cases) {
        PeFile pe = peWithVersion(kBlock);
        c.spoil(pe);
        Bytes block;
        EXPECT_FALSE(extract(pe.bytes, block)) << c.name;
    }
}

TEST(PeImage, EveryTruncationGivesTheWholeBlockOrNothing) {
    for (bool pe32Plus : {false, true}) {
        const PeFile pe = peWithVersion(kBlock, pe32Plus);
        const std::size_t needed = pe.layout.versionData + kBlock.size();
        for (std::size_t size = 0; size <= pe.bytes.size(); ++size) {
            const Bytes prefix(pe.bytes.begin(),
                               pe.bytes.begin() + static_cast<std::ptrdiff_t>(size));
            Bytes block;
            const bool found = extract(prefix, block);
            EXPECT_EQ(found, size >= needed) << size;
            if (found) {
                EXPECT_EQ(block, kBlock);
            }
        }
    }
}

TEST(PeImage, SpoilingAnySingleByteNeverReadsOutsideTheImage) {
    const PeFile pe = peWithVersion(kBlock, true);
    const std::size_t end = pe.layout.versionData; // headers and the whole resource tree
    for (std::size_t at = 0; at < end; ++at) {
        for (std::uint8_t value : {std::uint8_t{0x00}, std::uint8_t{0x80}, std::uint8_t{0xFF}}) {
            Bytes spoiled = pe.bytes;
            spoiled[at] = value;
            Bytes block;
            if (extract(spoiled, block)) {
                EXPECT_FALSE(block.empty());
                EXPECT_LE(block.size(), os::kMaxVersionResourceSize);
            }
        }
    }
}

TEST(PeImage, ReadsAResourceClaimingMoreThan64KiBOnlyToTheBlockLimit) {
    PeOptions options;
    Bytes large = kBlock;
    large.resize(0x12000, 0xEE);
    options.resources = {{16, 1, 0, large}};
    const PeFile pe = buildPe(options);
    Bytes block;
    ASSERT_TRUE(extract(pe.bytes, block));
    ASSERT_EQ(block.size(), os::kMaxVersionResourceSize);
    EXPECT_TRUE(std::equal(kBlock.begin(), kBlock.end(), block.begin()));
}

TEST(PeImage, ReadsOnlyWhatTheWalkNeedsOfALargeImage) {
    const PeFile pe = peWithVersion(kBlock);
    const CountingSource image(pe.bytes, std::uint64_t{3} << 30); // 3 GiB, mostly appended data
    Bytes block;
    ASSERT_TRUE(os::readVersionResource(image, block));
    EXPECT_EQ(block, kBlock);
    EXPECT_LT(image.bytesRead(), 16u * 1024u);
}
