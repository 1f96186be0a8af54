// The clipboard report, the system-program test and the details dialog's logic.
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "list/TMyRec.h"
#include "ui/ClipboardReport.h"
#include "ui/HelpFile.h"
#include "ui/SystemProcessCheck.h"
#include "ui/TempDir.h"
#include "ui/UnitFormProcInfo.h"

namespace {

std::string separator() {
    std::string line;
    for (int i = 0; i < 23; ++i)
        line += "\xE2\x80\x95";
    return line;
}

std::string joinLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines)
        text += line + "\r\n";
    return text;
}

TMyRec tcpRow() {
    TMyRec rec;
    rec.Protocol = "TCP";
    rec.State = "已建立";
    rec.LocalAddr = "192.168.1.20";
    rec.LocalPort = "48812";
    rec.RemoteAddr = "93.184.216.34";
    rec.RemotePort = "443";
    rec.PID = "2817";
    rec.ProcName = "firefox-esr";
    rec.ProcPath = "/usr/lib/firefox-esr/firefox-esr";
    rec.FileDesc = "Firefox ESR";
    rec.Company = "Mozilla";
    rec.Mark = "md";
    return rec;
}

TEST(ClipboardReport, TcpRowGivesTheFourteenLinesExactly) {
    const std::string expected = joinLines({
        separator(),
        "程序名称:firefox-esr",
        "程序说明:Firefox ESR",
        "路径:/usr/lib/firefox-esr/firefox-esr",
        "PID:2817",
        "网络协议:TCP",
        "本机地址:192.168.1.20",
        "本地端口:48812",
        "目标地址:93.184.216.34",
        "目标端口:443",
        "状态:已建立",
        "生成:Kestrel",
        std::string("主页:") + ReportHomePageURL,
        separator(),
    });
    EXPECT_EQ(BuildClipboardReport(tcpRow()), expected);
}

TEST(ClipboardReport, UdpRowLeavesRemoteAndStateEmpty) {
    TMyRec rec;
    rec.Protocol = "UDP";
    rec.LocalAddr = "0.0.0.0";
    rec.LocalPort = "5353";
    rec.PID = "611";
    rec.ProcName = "avahi-daemon";
    rec.ProcPath = "/usr/sbin/avahi-daemon";
    rec.FileDesc = "Avahi mDNS/DNS-SD daemon";
    rec.Mark = "add";
    const std::string expected = joinLines({
        separator(),
        "程序名称:avahi-daemon",
        "程序说明:Avahi mDNS/DNS-SD daemon",
        "路径:/usr/sbin/avahi-daemon",
        "PID:611",
        "网络协议:UDP",
        "本机地址:0.0.0.0",
        "本地端口:5353",
        "目标地址:",
        "目标端口:",
        "状态:",
        "生成:Kestrel",
        std::string("主页:") + ReportHomePageURL,
        separator(),
    });
    EXPECT_EQ(BuildClipboardReport(rec), expected);
}

TEST(ClipboardReport, RowWithoutPathCarriesTheExplanation) {
    TMyRec rec;
    rec.Protocol = "TCP";
    rec.State = "等待时间";
    rec.LocalAddr = "127.0.0.1";
    rec.LocalPort = "40000";
    rec.RemoteAddr = "127.0.0.1";
    rec.RemotePort = "8080";
    rec.PID = "0";
    for (const char* note :
         {"系统核心虚拟进程，用来表示系统的空闲状态，这个数值越大CPU的空闲率就越高，反之就"
          "是CPU的占用率越高。",
          "用户 root 的进程，当前权限无法查看。"}) {
        rec.FileDesc = note;
        const std::string report = BuildClipboardReport(rec);
        EXPECT_NE(report.find("\r\n程序名称:\r\n"), std::string::npos);
        EXPECT_NE(report.find("\r\n路径:\r\n"), std::string::npos);
        EXPECT_NE(report.find("\r\n程序说明:" + rec.FileDesc + "\r\n"), std::string::npos);
    }
}

TEST(ClipboardReport, FramingAndLineStructure) {
    TMyRec rec = tcpRow();
    rec.ProcPath = "/opt/" + std::string(600, 'x') + "/a b/程序";
    const std::string report = BuildClipboardReport(rec);

    EXPECT_EQ(separator().size(), 69u); // 23 characters of 3 bytes
    EXPECT_EQ(report.rfind(separator() + "\r\n", 0), 0u);
    EXPECT_EQ(report.substr(report.size() - separator().size() - 2), separator() + "\r\n");

    // 14 CR LF pairs and no bare LF or CR: the long path stays one line.
    int crlf = 0;
    for (std::size_t i = 0; i < report.size(); ++i) {
        if (report[i] == '\r') {
            ASSERT_LT(i + 1, report.size());
            ASSERT_EQ(report[i + 1], '\n');
            ++crlf;
            ++i;
        } else {
            ASSERT_NE(report[i], '\n');
        }
    }
    EXPECT_EQ(crlf, 14);
    EXPECT_NE(report.find("\r\n路径:" + rec.ProcPath + "\r\n"), std::string::npos);
    // Company and Mark are not part of it.
    EXPECT_EQ(report.find("Mozilla"), std::string::npos);
    EXPECT_EQ(report.find("md"), std::string::npos);
}

// One line, and no made-up address: by default the report names the home page option's
// address, empty until the project has a web site.
TEST(ClipboardReport, OwnHomePageAddressIsOneLineAndReal) {
    const std::string url = ReportHomePageURL;
    EXPECT_EQ(url.find_first_of("\r\n"), std::string::npos);
    EXPECT_EQ(url.find("example.org"), std::string::npos) << url;
}

TEST(SystemProcessCheck, UpperCasesAsciiLettersOnly) {
    EXPECT_EQ(UpperCaseAscii("/usr/sbin/sshd"), "/USR/SBIN/SSHD");
    EXPECT_EQ(UpperCaseAscii("/opt/ärger/程序-x"), "/OPT/äRGER/程序-X");
    EXPECT_EQ(UpperCaseAscii(std::string("a\0z\xff", 4)), std::string("A\0Z\xff", 4));
}

TEST(SystemProcessCheck, PathsUnderSystemFolders) {
    const std::vector<std::string> dirs{"/usr/sbin", "/sbin", "/usr/lib/systemd", "/lib/systemd"};
    const std::vector<std::pair<std::string, bool>> cases{
        {"/usr/sbin/sshd", true},
        {"/USR/SBIN/sshd", true},
        {"/Usr/Lib/Systemd/systemd-resolved", true},
        {"/lib/systemd/systemd-networkd", true},
        {"/usr/sbin2/tool", true}, // a folder named with the system folder's name as prefix
        {"/usr/lib/systemd-extra/x", true},
        {"/usr/bin/python3", false},
        {"/home/user/bin/server", false},
        {"/usr/local/bin/xsbin", false}, // "SBIN" inside a name is not a folder
        {"/usr/lib/ſystemd/x", false},   // non-ASCII letters are not folded
        {"", false},
    };
    for (const auto& [path, expected] : cases)
        EXPECT_EQ(IsUnderSystemDir(path, dirs), expected) << path;
}

TEST(SystemProcessCheck, EmptyFolderEntriesMatchNothing) {
    EXPECT_FALSE(IsUnderSystemDir("/usr/bin/x", {""}));
    EXPECT_FALSE(IsUnderSystemDir("/usr/bin/x", {}));
    EXPECT_TRUE(IsUnderSystemDir("/usr/sbin/x", {"", "/USR/SBIN"}));
}

class RecordingView : public ProcInfoView {
public:
    void setText(ProcInfoControl control, const std::string& text) override {
        calls.push_back({control, text});
    }
    void drawLargeIcon(int index) override { iconIndex = index; }
    void showModal() override {
        shownAfterCalls = calls.size();
        if (whileModal)
            whileModal();
    }
    void closeDialog() override { ++closed; }

    std::vector<std::pair<ProcInfoControl, std::string>> calls;
    int iconIndex = -100;
    std::size_t shownAfterCalls = 0;
    int closed = 0;
    std::function<void()> whileModal;
};

class RecordingShell : public ShellRequests {
public:
    void openDocument(const std::string& target) override { opened.push_back(target); }
    void selectInFileManager(const std::string& path) override { selected.push_back(path); }
    void showProperties(const std::string& path) override { properties.push_back(path); }
    std::vector<std::string> opened, selected, properties;
};

TEST(FormProcInfo, FillsTheCaptionsInOrderThenShows) {
    RecordingView view;
    RecordingShell shell;
    TFormProcInfo form(view, shell);
    form.Show(tcpRow(), 7);

    const std::vector<std::pair<ProcInfoControl, std::string>> expected{
        {ProcInfoControl::LabExe, "firefox-esr"},
        {ProcInfoControl::LabExeDes, "Firefox ESR  "},
        {ProcInfoControl::LabPID, "PID:2817"},
        {ProcInfoControl::Labcomp, "Mozilla "},
        {ProcInfoControl::EPath, "/usr/lib/firefox-esr/firefox-esr"},
    };
    EXPECT_EQ(view.calls, expected);
    EXPECT_EQ(view.iconIndex, 7);
    EXPECT_EQ(view.shownAfterCalls, expected.size());
}

TEST(FormProcInfo, EmptyDescriptionAndCompanyKeepTheirSpaces) {
    RecordingView view;
    RecordingShell shell;
    TFormProcInfo form(view, shell);
    TMyRec rec = tcpRow();
    rec.FileDesc.clear();
    rec.Company.clear();
    form.Show(rec, -1);
    ASSERT_EQ(view.calls.size(), 5u);
    EXPECT_EQ(view.calls[1].second, "  ");
    EXPECT_EQ(view.calls[3].second, " ");
    EXPECT_EQ(view.iconIndex, -1);
}

TEST(FormProcInfo, LinkLocatesWithoutExistenceCheckAndOkCloses) {
    RecordingView view;
    RecordingShell shell;
    TFormProcInfo form(view, shell);
    TMyRec rec = tcpRow();
    rec.ProcPath = "/nonexistent dir/with space/prog";
    view.whileModal = [&view] {
        view.onLocateClick();
        view.onOkClick();
    };
    form.Show(rec, -1);
    EXPECT_EQ(shell.selected, std::vector<std::string>{rec.ProcPath});
    EXPECT_EQ(view.closed, 1);
    EXPECT_TRUE(shell.properties.empty());
}

TEST(FormProcInfo, LayoutMatchesTheDialog) {
    // The dialog's own coordinates, in creation order; width 0: a label sized to its text.
    const ProcInfoPlacement described[] = {
        {ProcInfoControl::Panel1, 0, 0, 425, 237}, {ProcInfoControl::Image1, 16, 16, 32, 32},
        {ProcInfoControl::LabExe, 80, 16, 0, 0},   {ProcInfoControl::LabExeDes, 80, 45, 0, 0},
        {ProcInfoControl::LabPID, 80, 69, 0, 0},   {ProcInfoControl::Labcomp, 80, 91, 0, 0},
        {ProcInfoControl::Shape1, 8, 114, 409, 1}, {ProcInfoControl::Label5, 10, 121, 54, 14},
        {ProcInfoControl::EPath, 8, 140, 409, 20}, {ProcInfoControl::LabLocate, 12, 179, 48, 14},
        {ProcInfoControl::Shape2, 8, 198, 409, 1}, {ProcInfoControl::BTNOK, 321, 202, 97, 26},
    };
    EXPECT_EQ(ProcInfoLook::ClientWidth, 425);
    EXPECT_EQ(ProcInfoLook::ClientHeight, 237);
    const auto& places = ProcInfoLook::Placements();
    ASSERT_EQ(places.size(), std::size(described));
    for (std::size_t i = 0; i < places.size(); ++i) {
        const ProcInfoPlacement& place = places[i];
        const ProcInfoPlacement& want = described[i];
        SCOPED_TRACE(static_cast<int>(want.control));
        EXPECT_EQ(place.control, want.control);
        EXPECT_EQ(place.left, want.left);
        EXPECT_EQ(place.top, want.top);
        EXPECT_EQ(place.width, want.width);
        EXPECT_EQ(place.height, want.height);
        EXPECT_GE(place.left, 0);
        EXPECT_GE(place.top, 0);
        EXPECT_LE(place.left + place.width, ProcInfoLook::ClientWidth);
        EXPECT_LE(place.top + place.height, ProcInfoLook::ClientHeight);
    }
}

TEST(FormProcInfo, ViewCallbacksAreClearedWithTheForm) {
    RecordingView view;
    RecordingShell shell;
    {
        TFormProcInfo form(view, shell);
        EXPECT_TRUE(view.onLocateClick);
    }
    EXPECT_FALSE(view.onLocateClick);
    EXPECT_FALSE(view.onOkClick);
}

// Windows keeps its help next to the program only: tests/ui/win32/Win32CommandsTest.cpp.
#ifndef _WIN32
TEST(HelpFile, NextToTheExecutableFirstThenTheDataFolder) {
    TempDir tree;
    const std::string exeDir = tree.path() + "/bin/";
    const std::vector<std::string> candidates = HelpFileCandidates(exeDir);
    ASSERT_EQ(candidates.size(), 3u);
    EXPECT_EQ(candidates[0], exeDir + "KestrelHelp.html");
    EXPECT_NE(candidates[1].find("kestrel/KestrelHelp.html"), std::string::npos);

    // Nothing there: the installed place, so the desktop can name what is missing.
    EXPECT_EQ(HelpFilePath(exeDir), candidates.back());

    writeTextFile(candidates[1], "<html></html>");
    EXPECT_EQ(HelpFilePath(exeDir), candidates[1]);
    writeTextFile(candidates[0], "<html></html>");
    EXPECT_EQ(HelpFilePath(exeDir), candidates[0]);

    EXPECT_EQ(HelpFileCandidates("").size(), 1u);
}
#endif

TEST(HelpFile, TheHelpDocumentCoversTheWindow) {
    const std::string help =
        readTextFile(std::string(KESTREL_TEST_DATA) + "/../../docs/help/KestrelHelp.html");
    ASSERT_FALSE(help.empty());
    for (const char* needed : {"<meta charset=\"utf-8\">",
                               "进程",
                               "协议",
                               "本地IP",
                               "本地端口",
                               "目标IP",
                               "目标端口",
                               "状态",
                               "管理",
                               "文件路径",
                               "文件说明",
                               "公司",
                               "显示本地连接",
                               "自动刷新",
                               "始终保持在其他窗口前端",
                               "显示文件详细信息",
                               "选项",
                               "显示IPv6连接",
                               "解析主机名",
                               "显示流量",
                               "[Options]",
                               "进程信息",
                               "结束进程",
                               "断开连接",
                               "拷贝到剪贴板",
                               "定位文件",
                               "属性",
                               "进程详细信息",
                               "kestrel-snapshot",
                               "setcap",
                               "cap_dac_read_search,cap_net_admin,cap_sys_ptrace"})
        EXPECT_NE(help.find(needed), std::string::npos) << needed;
}

} // namespace
