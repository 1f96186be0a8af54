// "导出列表...": the bytes of the CSV and tab-separated files, which columns and rows go in,
// and the command through fake components onto real files in a temporary folder.
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "list/Columns.h"
#include "list/MemoryListControl.h"
#include "os/SettingsPath.h"
#include "snapshot/UnitGetTcpUdpTable.h"
#include "ui/CommandComponents.h"
#include "ui/FakeComponents.h"
#include "ui/ListExport.h"
#include "ui/TempDir.h"
#include "ui/TestRecords.h"
#include "ui/UnitFormKestrel.h"

namespace {

using Strings = std::vector<std::string>;

const std::string Bom = "\xEF\xBB\xBF";

TEST(ListExport, FieldsWithSeparatorsQuotesBreaksTabsAndChineseText) {
    const Strings titles{"进程", "说明"};
    const std::vector<Strings> rows{
        {"plain", ""},
        {"a,b", "say \"hi\""},
        {"two\r\nlines", "one\nbreak"},
        {"tab\there", "back\\slash"},
        {"浏览器.exe", "网络连接查看器，版本 3"},
        {"\"", "cr\r"},
    };
    struct Case {
        ExportFormat format;
        std::string bytes;
    };
    const Case cases[] = {
        {ExportFormat::Csv, Bom + "进程,说明\r\n"
                                  "plain,\r\n"
                                  "\"a,b\",\"say \"\"hi\"\"\"\r\n"
                                  "\"two\r\nlines\",\"one\nbreak\"\r\n"
                                  "tab\there,back\\slash\r\n"
                                  "浏览器.exe,网络连接查看器，版本 3\r\n"
                                  "\"\"\"\",\"cr\r\"\r\n"},
        {ExportFormat::Tsv, "进程\t说明\n"
                            "plain\t\n"
                            "a,b\tsay \"hi\"\n"
                            "two\\r\\nlines\tone\\nbreak\n"
                            "tab\\there\tback\\\\slash\n"
                            "浏览器.exe\t网络连接查看器，版本 3\n"
                            "\"\tcr\\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format == ExportFormat::Csv ? "csv" : "tsv");
        EXPECT_EQ(exportText(titles, rows, c.format), c.bytes);
    }
}

TEST(ListExport, TheCommaInChineseTextIsNotASeparator) {
    // "，" (U+FF0C) holds no byte 0x2C, so a field with it needs no quotes; an ASCII comma does.
    EXPECT_EQ(exportText({"a"}, {{"甲，乙"}, {"甲,乙"}}, ExportFormat::Csv),
              Bom + "a\r\n甲，乙\r\n\"甲,乙\"\r\n");
}

TEST(ListExport, NamesEndingInTxtGiveTabSeparatedText) {
    const std::pair<const char*, ExportFormat> cases[] = {
        {"/home/u/list.txt", ExportFormat::Tsv},   {"C:\\Users\\u\\LIST.TXT", ExportFormat::Tsv},
        {"list.Txt", ExportFormat::Tsv},           {".txt", ExportFormat::Tsv},
        {"/home/u/list.csv", ExportFormat::Csv},   {"list", ExportFormat::Csv},
        {"list.txt.csv", ExportFormat::Csv},       {"txt", ExportFormat::Csv},
        {"/home/u/a.txt/list", ExportFormat::Csv}, {"list.txt ", ExportFormat::Csv},
        {"列表.txt", ExportFormat::Tsv},
    };
    for (const auto& [name, format] : cases)
        EXPECT_EQ(exportFormatFor(name), format) << name;
}

void addRow(MemoryListControl& list, const char* protocol, const char* name, const char* port) {
    TMyRec& rec = list.addRow()->Rec;
    rec.Protocol = protocol;
    rec.ProcName = name;
    rec.LocalAddr = "::1";
    rec.LocalPort = port;
    rec.PID = "7";
    rec.ProcPath = std::string("/usr/bin/") + name;
    rec.FileDesc = "desc";
    rec.Company = "corp";
    rec.Mark = "add";
}

TEST(ListExport, VisibleColumnsButTheManageColumnAndRowsInDisplayOrder) {
    MemoryListControl list;
    addRow(list, "UDPv6", "zeta", "53");
    addRow(list, "TCPv6", "alpha", "22");
    list.sort(ColumnProcess, SortDirection::Ascending);
    EXPECT_EQ(exportedColumns(list),
              (std::vector<int>{ColumnProcess, ColumnProtocol, ColumnLocalAddr, ColumnLocalPort,
                                ColumnRemoteAddr, ColumnRemotePort, ColumnState}));
    EXPECT_EQ(exportList(list, ExportFormat::Tsv),
              "进程\t协议\t本地IP\t本地端口\t目标IP\t目标端口\t状态\n"
              "alpha\tTCPv6\t::1\t22\t\t\t\n"
              "zeta\tUDPv6\t::1\t53\t\t\t\n");

    for (const int column : {ColumnPath, ColumnDescription, ColumnCompany})
        list.setColumnVisible(column, true);
    list.sort(ColumnProcess, SortDirection::Descending);
    EXPECT_EQ(exportList(list, ExportFormat::Csv),
              Bom + "进程,协议,本地IP,本地端口,目标IP,目标端口,状态,文件路径,文件说明,公司\r\n"
                    "zeta,UDPv6,::1,53,,,,/usr/bin/zeta,desc,corp\r\n"
                    "alpha,TCPv6,::1,22,,,,/usr/bin/alpha,desc,corp\r\n");

    MemoryListControl empty;
    EXPECT_EQ(exportList(empty, ExportFormat::Csv),
              Bom + "进程,协议,本地IP,本地端口,目标IP,目标端口,状态\r\n")
        << "an empty list gives the titles alone";
}

TEST(ListExport, WhileFilteredOnlyTheRowsShown) {
    MemoryListControl list;
    addRow(list, "UDPv6", "zeta", "53");
    addRow(list, "TCPv6", "alpha", "22");
    addRow(list, "TCPv6", "Alphabet", "8080");
    list.sort(ColumnProcess, SortDirection::Ascending);
    list.setFilterText("ALPHA");
    EXPECT_EQ(exportList(list, ExportFormat::Tsv),
              "进程\t协议\t本地IP\t本地端口\t目标IP\t目标端口\t状态\n"
              "alpha\tTCPv6\t::1\t22\t\t\t\n"
              "Alphabet\tTCPv6\t::1\t8080\t\t\t\n");
    list.setFilterText("");
    EXPECT_EQ(exportList(list, ExportFormat::Tsv).find("zeta") != std::string::npos, true);
}

std::set<std::string> folderContents(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

class ExportCommandTest : public ::testing::Test {
protected:
    ExportCommandTest() {
        nextTcp = {
            tcpRecord(2, "0.0.0.0", "22", "0.0.0.0", "0", "101", "sshd", "/usr/sbin/sshd"),
            tcpRecord(5, "10.0.0.5", "40001", "10.0.0.9", "443", "1200", "浏览器,\"beta\"",
                      "/opt/browser/browser"),
        };
        nextUdp = {udpRecord("0.0.0.0", "5353", "611", "resolver", "")};
        TFormKestrelServices s;
        s.settingsFile = dir.file("Kestrel.ini");
        s.enableDebugPrivilege = [] { return false; };
        s.takeSnapshot = [this](Snapshot& snapshot) {
            snapshot.Tcp = nextTcp;
            snapshot.Udp = nextUdp;
        };
        s.writeWholeFile = [this](const std::string& path, const std::string& contents) {
            ++writes;
            return os::ReplaceWholeFile(path, contents);
        };
        form = std::make_unique<TFormKestrel>(w.controls(), std::move(s));
        TFormKestrelCommands commands;
        commands.SaveDialog = &dialog;
        form->SetCommandComponents(commands);
        form->FormCreate();
        std::filesystem::create_directory(out.path() + "/existing folder");
    }

    void exportAs(const std::string& name) {
        dialog.answer = name;
        ui::dispatchEvent(w.Messages, [this] { w.NExport.click(); });
        w.Worker.runAll();
    }

    TempDir dir;
    TempDir out;
    FakeKestrelWindow w;
    FakeSaveDialog dialog;
    std::vector<File_Rec> nextTcp, nextUdp;
    int writes = 0;
    std::unique_ptr<TFormKestrel> form;
};

TEST_F(ExportCommandTest, SavesTheRowsShownInTheChosenFormat) {
    EXPECT_EQ(w.NExport.caption(), "导出列表...");
    const std::string csv = out.file("list 1.csv");
    exportAs(csv);
    EXPECT_EQ(dialog.asked, Strings{"导出列表|Kestrel.csv"});
    EXPECT_EQ(readTextFile(csv), Bom + "进程,协议,本地IP,本地端口,目标IP,目标端口,状态\r\n"
                                       "resolver,UDP,0.0.0.0,5353,,,\r\n"
                                       "sshd,TCP,0.0.0.0,22,0.0.0.0,0,监听\r\n"
                                       "\"浏览器,\"\"beta\"\"\",TCP,10.0.0.5,40001,10.0.0.9,443,"
                                       "已建立\r\n");

    // With the file details shown and the list sorted by port, descending, as text.
    ui::dispatchEvent(w.Messages, [this] { w.CBShowInfo.setChecked(true); });
    w.Worker.runAll();
    ui::dispatchEvent(w.Messages, [this] { form->VTSHeaderClick(ColumnLocalPort); });
    const std::string txt = out.file("list.TXT");
    exportAs(txt);
    EXPECT_EQ(readTextFile(txt),
              "进程\t协议\t本地IP\t本地端口\t目标IP\t目标端口\t状态\t文件路径\t文件说明\t公司\n"
              "resolver\tUDP\t0.0.0.0\t5353\t\t\t\t\t" +
                  std::string(form->textIdleNote()) +
                  "\t\n"
                  "浏览器,\"beta\"\tTCP\t10.0.0.5\t40001\t10.0.0.9\t443\t已建立\t/opt/browser/"
                  "browser\t\t\n"
                  "sshd\tTCP\t0.0.0.0\t22\t0.0.0.0\t0\t监听\t/usr/sbin/sshd\t\t\n");
    EXPECT_TRUE(w.Messages.messages.empty());
    EXPECT_TRUE(w.Messages.errors.empty());
    EXPECT_EQ(folderContents(out.path()),
              (std::set<std::string>{"existing folder", "list 1.csv", "list.TXT"}));
}

TEST_F(ExportCommandTest, CancelledWritesNothing) {
    exportAs("");
    EXPECT_EQ(dialog.asked.size(), 1u);
    EXPECT_EQ(writes, 0);
    EXPECT_EQ(folderContents(out.path()), std::set<std::string>{"existing folder"});
    EXPECT_TRUE(w.Messages.messages.empty());
}

TEST_F(ExportCommandTest, ReplacesAnExistingFileWhole) {
    const std::string file = out.file("list.csv");
    writeTextFile(file, std::string(100000, 'x'));
    exportAs(file);
    const std::string saved = readTextFile(file);
    EXPECT_EQ(saved.substr(0, 3), Bom);
    EXPECT_EQ(saved.find('x'), std::string::npos) << "nothing of the old file is left";
    EXPECT_EQ(folderContents(out.path()), (std::set<std::string>{"existing folder", "list.csv"}));
}

TEST_F(ExportCommandTest, AnUnwritableTargetLeavesNothingBehindAndSaysSo) {
    const std::string cases[] = {
        out.file("existing folder"),              // a folder is no file to replace
        out.file(std::string(300, 'n') + ".csv"), // longer than a name may be
    };
    for (const std::string& target : cases) {
        SCOPED_TRACE(target.size());
        w.Messages.messages.clear();
        exportAs(target);
        EXPECT_EQ(w.Messages.messages, Strings{"无法保存文件：" + target});
        EXPECT_TRUE(w.Messages.errors.empty());
        EXPECT_EQ(folderContents(out.path()), std::set<std::string>{"existing folder"});
        EXPECT_TRUE(std::filesystem::is_empty(out.path() + "/existing folder"));
    }
}

TEST_F(ExportCommandTest, ARefreshWhileTheDialogIsOpenIsWhatGetsSaved) {
    dialog.whileOpen = [this] {
        nextTcp.pop_back();
        nextUdp.clear();
        w.BTNRefresh.click();
        w.Worker.runAll();
    };
    const std::string file = out.file("after.csv");
    exportAs(file);
    EXPECT_EQ(readTextFile(file), Bom + "进程,协议,本地IP,本地端口,目标IP,目标端口,状态\r\n"
                                        "sshd,TCP,0.0.0.0,22,0.0.0.0,0,监听\r\n");
}

TEST_F(ExportCommandTest, WithoutADialogTheCommandDoesNothing) {
    form->SetCommandComponents({});
    exportAs(out.file("never.csv"));
    EXPECT_EQ(writes, 0);
    EXPECT_EQ(folderContents(out.path()), std::set<std::string>{"existing folder"});
}

} // namespace
