#include "snapshot/VersionInfo.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "snapshot/PeBuilder.h"

using namespace pebuild;

namespace {

const VersionResource kChinese{{{0x0804, 0x04B0}},
                               {{"080404B0",
                                 {{"CompanyName", "鹰隼软件公司"},
                                  {"FileDescription", "网络连接查看器"},
                                  {"ProductName", "Kestrel"}}}}};

std::optional<std::string> queryString(const Bytes& block, const std::string& path) {
    return VersionInfo(block).queryString(path);
}

} // namespace

TEST(VersionLanguageKey, FormatsLanguageThenCodePageInUpperCaseHex) {
    struct Case {
        std::array<std::uint8_t, 4> bytes;
        const char* key;
    };
    const Case cases[] = {
        {{0x04, 0x08, 0xB0, 0x04}, "080404B0"}, // language 0x0804, code page 0x04B0
        {{0x09, 0x04, 0xE4, 0x04}, "040904E4"}, // language 0x0409, code page 0x04E4
        {{0x00, 0x00, 0x00, 0x00}, "00000000"},
        {{0xFF, 0xAB, 0x01, 0xCD}, "ABFFCD01"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(versionLanguageKey(c.bytes), c.key);
}

TEST(VersionInfo, AnswersTheQueriesOfABuiltBlock) {
    const Bytes block = versionBlock(kChinese);
    const VersionInfo info(block);

    const auto translation = info.queryValue("\\VarFileInfo\\Translation");
    ASSERT_TRUE(translation);
    EXPECT_EQ(Bytes(translation->begin(), translation->end()), (Bytes{0x04, 0x08, 0xB0, 0x04}));

    EXPECT_EQ(info.queryString("\\StringFileInfo\\080404B0\\FileDescription"), "网络连接查看器");
    EXPECT_EQ(info.queryString("\\StringFileInfo\\080404B0\\CompanyName"), "鹰隼软件公司");
    EXPECT_EQ(info.queryString("\\StringFileInfo\\080404B0\\ProductName"), "Kestrel");

    const auto fixed = info.queryValue("\\");
    ASSERT_TRUE(fixed);
    EXPECT_EQ(fixed->size(), 52u);
    EXPECT_EQ((*fixed)[0], 0xBD);
}

TEST(VersionInfo, ComparesKeysWithoutRegardToCase) {
    VersionResource lower = kChinese;
    lower.tables[0].key = "080404b0"; // some resource compilers write lower-case keys
    const Bytes block = versionBlock(lower);
    EXPECT_EQ(queryString(block, "\\StringFileInfo\\080404B0\\FileDescription"), "网络连接查看器");
    EXPECT_EQ(queryString(block, "\\stringfileinfo\\080404B0\\filedescription"), "网络连接查看器");
    EXPECT_EQ(queryString(block, "\\STRINGFILEINFO\\080404B0\\COMPANYNAME"), "鹰隼软件公司");
}

TEST(VersionInfo, MissingNodesGiveNoValue) {
    const Bytes block = versionBlock(kChinese);
    const char* paths[] = {
        "\\StringFileInfo\\040904B0\\FileDescription", // another table
        "\\StringFileInfo\\080404B0\\FileVersion",     // another value
        "\\StringFileInfo\\080404B0\\FileDescriptio",  // a prefix of a key is no match
        "\\StringFileInfo\\080404B0\\FileDescriptionX",
        "\\VarFileInfo\\Translation\\More",
        "\\NoSuchNode",
    };
    for (const char* path : paths)
        EXPECT_FALSE(queryString(block, path)) << path;
}

TEST(VersionInfo, ReadsTextValuesToTheirNul) {
    struct Case {
        const char* name;
        VersionNode node;
        std::optional<std::string> expected;
    };
    VersionNode countsBytes = textNode("V", "abc");
    countsBytes.valueLength = 8; // bytes instead of characters
    VersionNode countsNoNul = textNode("V", "abc");
    countsNoNul.valueLength = 3;
    VersionNode empty = textNode("V", "");
    empty.valueLength = 0;
    empty.value.clear();
    VersionNode unterminated = textNode("V", "abc");
    unterminated.value.resize(6); // no NUL before the node ends
    VersionNode pairs = textNode("V", "a😀b");
    VersionNode loneSurrogate = textNode("V", "");
    loneSurrogate.value = {0x00, 0xD8, 'x', 0x00, 0x00, 0x00};
    loneSurrogate.valueLength = 3;

    const Case cases[] = {
        {"counts bytes", countsBytes, "abc"},
        {"count without NUL", countsNoNul, "abc"},
        {"empty", empty, ""},
        {"unterminated", unterminated, "abc"},
        {"surrogate pair", pairs, "a😀b"},
        {"lone surrogate", loneSurrogate, "\xEF\xBF\xBDx"},
    };
    for (const Case& c : cases) {
        VersionNode root = binaryNode("VS_VERSION_INFO", {});
        root.children.push_back(c.node);
        // A sibling after the value shows that reading stops at the value's own node.
        root.children.push_back(textNode("W", "zzz"));
        EXPECT_EQ(queryString(serialize(root), "\\V"), c.expected) << c.name;
    }
}

TEST(VersionInfo, FindsNodesAfterOddLengthKeysAndValues) {
    VersionNode table = groupNode("080404B0", {});
    table.children.push_back(textNode("A", "x")); // key and value need padding
    table.children.push_back(textNode("BBB", "yy"));
    table.children.push_back(binaryNode("C", {1, 2, 3})); // odd binary value
    table.children.push_back(textNode("FileDescription", "found"));
    VersionNode root = binaryNode("VS_VERSION_INFO", {9});
    root.children.push_back(groupNode("StringFileInfo", {table}));
    const Bytes block = serialize(root);
    EXPECT_EQ(queryString(block, "\\StringFileInfo\\080404B0\\FileDescription"), "found");
    const auto c = VersionInfo(block).queryValue("\\StringFileInfo\\080404B0\\C");
    ASSERT_TRUE(c);
    EXPECT_EQ(Bytes(c->begin(), c->end()), (Bytes{1, 2, 3}));
}

TEST(VersionInfo, MalformedBlocksGiveNoValueAndNoFault) {
    const std::string description = "\\StringFileInfo\\080404B0\\FileDescription";
    struct Case {
        const char* name;
        Bytes block;
    };
    std::vector<Case> cases = {
        {"empty", {}},
        {"shorter than a header", {0x20, 0, 0, 0, 0}},
        {"root length 0",
         [] {
             Bytes b = versionBlock(kChinese);
             put16(b, 0, 0);
             return b;
         }()},
        {"root key without NUL", Bytes{0x0C, 0, 0, 0, 0, 0, 'V', 0, 'S', 0, '_', 0}},
    };
    {
        VersionNode root = versionTree(kChinese);
        root.children[0].lengthOverride = 0; // StringFileInfo of length 0 must not loop
        cases.push_back({"child length 0", serialize(root)});
    }
    {
        VersionNode root = versionTree(kChinese);
        root.children[0].lengthOverride = 5; // shorter than its own header
        cases.push_back({"child length 5", serialize(root)});
    }
    {
        VersionNode root = versionTree(kChinese);
        root.children[0].children[0].children[1].valueLength = 0xFFFF; // value past the end
        root.children[0].children[0].children[1].lengthOverride = 0xFFFF;
        cases.push_back({"lengths past the block", serialize(root)});
    }
    for (const Case& c : cases) {
        const VersionInfo info(c.block);
        const auto text = info.queryString(description);
        if (text) {
            EXPECT_TRUE(std::string("网络连接查看器").starts_with(*text)) << c.name;
        }
        info.queryValue("\\VarFileInfo\\Translation");
        info.queryValue("\\");
    }
}

// Every prefix of a good block (a truncated resource) answers either nothing or a prefix of
// the true value, and every single spoiled byte leaves the reader within the block.
TEST(VersionInfo, TruncatedAndSpoiledBlocksStayWithinBounds) {
    const Bytes block = versionBlock(kChinese);
    const std::string description = "网络连接查看器";
    const std::string path = "\\StringFileInfo\\080404B0\\FileDescription";
    for (std::size_t size = 0; size <= block.size(); ++size) {
        // A copy of exactly `size` bytes, so that a sanitizer sees any read past its end.
        const Bytes prefix(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(size));
        const auto text = VersionInfo(prefix).queryString(path);
        if (text) {
            EXPECT_TRUE(description.starts_with(*text)) << size;
        }
    }
    for (std::size_t at = 0; at < block.size(); ++at) {
        for (std::uint8_t value : {std::uint8_t{0x00}, std::uint8_t{0xFF}, std::uint8_t{0x03}}) {
            Bytes spoiled = block;
            spoiled[at] = value;
            const VersionInfo info(spoiled);
            info.queryString(path);
            info.queryValue("\\VarFileInfo\\Translation");
        }
    }
}

TEST(Utf16leToUtf8, ConvertsEveryPlaneAndIgnoresAnOddTrailingByte) {
    EXPECT_EQ(utf16leToUtf8(utf16le("Aé中😀")), "Aé中😀");
    Bytes odd = utf16le("ab");
    odd.push_back('c');
    EXPECT_EQ(utf16leToUtf8(odd), "ab");
    EXPECT_EQ(utf16leToUtf8(Bytes{0x00, 0xDC}), "\xEF\xBF\xBD"); // a low surrogate alone
}
