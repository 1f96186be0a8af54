#include "snapshot/UnitGetTcpUdpTable.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes/FakeOs.h"
#include "snapshot/PeBuilder.h"

using namespace pebuild;

namespace {

const std::string kPath = "/opt/app/app.exe";

class GetFileVersionStringsTest : public ::testing::Test {
protected:
    void SetUp() override { FakeOs::reset(); }
};

} // namespace

TEST_F(GetFileVersionStringsTest, EmptyNameTouchesNoFile) {
    FakeOs::setVersionResource(
        "", versionBlock({{{0x0409, 0x04B0}}, {{"040904B0", {{"FileDescription", "x"}}}}}));
    FakeOs::setDescription("", "desktop", "vendor");
    std::string company = "left over";
    EXPECT_EQ(GetFileVersionStrings("", company), "");
    EXPECT_EQ(company, "");
    EXPECT_EQ(FakeOs::fileReads(), 0);
}

TEST_F(GetFileVersionStringsTest, FollowsTheFirstTranslationOnly) {
    struct Case {
        const char* name;
        VersionResource resource;
        std::string description;
        std::string company;
    };
    const std::vector<std::pair<std::string, std::string>> both = {
        {"CompanyName", "鹰隼软件"}, {"FileDescription", "连接查看器"}};
    const Case cases[] = {
        {"0x0804/0x04B0 reads 080404B0",
         {{{0x0804, 0x04B0}}, {{"080404B0", both}}},
         "连接查看器",
         "鹰隼软件"},
        {"0x0409/0x04E4 reads 040904E4",
         {{{0x0409, 0x04E4}}, {{"040904E4", both}}},
         "连接查看器",
         "鹰隼软件"},
        {"lower-case table key",
         {{{0x0804, 0x04B0}}, {{"080404b0", both}}},
         "连接查看器",
         "鹰隼软件"},
        {"description only under the second translation",
         {{{0x0804, 0x04B0}, {0x0409, 0x04B0}},
          {{"080404B0", {{"CompanyName", "A"}}}, {"040904B0", both}}},
         "",
         ""},
        {"table of the second translation only",
         {{{0x0804, 0x04B0}, {0x0409, 0x04B0}}, {{"040904B0", both}}},
         "",
         ""},
        {"second translation ignored when the first has a table",
         {{{0x0409, 0x04B0}, {0x0804, 0x04B0}},
          {{"080404B0", both}, {"040904B0", {{"FileDescription", "English"}}}}},
         "English",
         ""},
        {"company without description",
         {{{0x0804, 0x04B0}}, {{"080404B0", {{"CompanyName", "鹰隼软件"}}}}},
         "",
         ""},
        {"description without company",
         {{{0x0804, 0x04B0}}, {{"080404B0", {{"FileDescription", "连接查看器"}}}}},
         "连接查看器",
         ""},
        {"empty description still looks up the company",
         {{{0x0804, 0x04B0}},
          {{"080404B0", {{"FileDescription", ""}, {"CompanyName", "鹰隼软件"}}}}},
         "",
         "鹰隼软件"},
        {"no translation value", {{}, {{"080404B0", both}}}, "", ""},
        {"no VarFileInfo", {{{0x0804, 0x04B0}}, {{"080404B0", both}}, false}, "", ""},
        {"no string table at all", {{{0x0804, 0x04B0}}, {}}, "", ""},
    };
    for (const Case& c : cases) {
        FakeOs::reset();
        FakeOs::setVersionResource(kPath, versionBlock(c.resource));
        FakeOs::setDescription(kPath, "must not be used", "must not be used");
        std::string company = "left over";
        EXPECT_EQ(GetFileVersionStrings(kPath, company), c.description) << c.name;
        EXPECT_EQ(company, c.company) << c.name;
        EXPECT_EQ(FakeOs::counters().describeExecutable, 0) << c.name;
    }
}

TEST_F(GetFileVersionStringsTest, TranslationShorterThanOneEntryGivesNothing) {
    VersionNode root = versionTree({{}, {{"00000000", {{"FileDescription", "x"}}}}});
    root.children[1].children.push_back(binaryNode("Translation", {0x00, 0x00, 0x00}));
    FakeOs::setVersionResource(kPath, serialize(root));
    std::string company;
    EXPECT_EQ(GetFileVersionStrings(kPath, company), "");
    EXPECT_EQ(company, "");
}

TEST_F(GetFileVersionStringsTest, WithoutAVersionResourceAsksTheDesktop) {
    FakeOs::setDescription(kPath, "Web browser", "Debian Mozilla Team");
    std::string company;
    EXPECT_EQ(GetFileVersionStrings(kPath, company), "Web browser");
    EXPECT_EQ(company, "Debian Mozilla Team");
    EXPECT_EQ(FakeOs::counters().loadVersionByPath.at(kPath), 1);
    EXPECT_EQ(FakeOs::counters().describeByPath.at(kPath), 1);

    company = "left over";
    EXPECT_EQ(GetFileVersionStrings("/usr/bin/unknown", company), "");
    EXPECT_EQ(company, "");
}

TEST_F(GetFileVersionStringsTest, MalformedBlockGivesNothing) {
    FakeOs::setVersionResource(kPath, {0xFF, 0xFF, 0x00});
    FakeOs::setDescription(kPath, "desktop", "vendor");
    std::string company = "left over";
    EXPECT_EQ(GetFileVersionStrings(kPath, company), "");
    EXPECT_EQ(company, "");
}
