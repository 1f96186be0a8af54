// The connection log window in Win32 under Wine: its virtual ListView shows the log newest
// first, asks the texts of the rows it shows, and the bottom line says that on Windows the log
// holds what the refreshes find; keys typed into the filter field narrow the rows, Escape
// empties it, and the export button saves the rows shown to a real file.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "ui/FakeComponents.h"
#include "ui/TestRecords.h"
#include "ui/win32/Win32ConnectionLogWindow.h"
#include "win32/WinText.h"

namespace {

std::string itemText(HWND list, int row, LogColumn column) {
    wchar_t text[256] = {};
    LVITEMW item{};
    item.iSubItem = static_cast<int>(column);
    item.pszText = text;
    item.cchTextMax = 256;
    const auto n = ::SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row),
                                  reinterpret_cast<LPARAM>(&item));
    return win32::Utf8FromWide(text, static_cast<std::size_t>(n));
}

TEST(Win32ConnectionLogWindowTest, ShowsTheRefreshesFindingsNewestFirst) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES};
    ::InitCommonControlsEx(&controls);
    std::int64_t now = 1'800'000'000'000;
    ConnectionLogView log(false, {}, [&now] { return now; });
    Snapshot snapshot;
    log.snapshotTaken(snapshot);
    win32ui::Win32ConnectionLogWindow window(log, nullptr, nullptr);
    wchar_t caption[64] = {};
    ::GetWindowTextW(window.handle(), caption, 64);
    EXPECT_EQ(win32::Utf8FromWide(caption, std::wcslen(caption)), "连接记录");
    EXPECT_EQ(ListView_GetItemCount(window.listHandle()), 0);

    snapshot.Tcp = {tcpRecord(5, "10.0.0.2", "50000", "10.0.0.9", "443", "42", "browser.exe",
                              "C:\\Program Files\\browser.exe")};
    now += 10000;
    log.snapshotTaken(snapshot);
    snapshot.Tcp.clear();
    snapshot.Udp = {udpRecord("0.0.0.0", "5353", "7", "mdns.exe")};
    now += 10000;
    log.snapshotTaken(snapshot);
    window.logChanged();
    ASSERT_EQ(ListView_GetItemCount(window.listHandle()), 3);
    // Newest first: the TCP connection's closing (found after the merge), the UDP socket's
    // opening, the TCP connection's opening.
    EXPECT_EQ(itemText(window.listHandle(), 0, LogColumn::Event), "关闭（刷新时发现）");
    EXPECT_EQ(itemText(window.listHandle(), 0, LogColumn::Process), "browser.exe (42)");
    EXPECT_EQ(itemText(window.listHandle(), 0, LogColumn::Path), "C:\\Program Files\\browser.exe");
    EXPECT_EQ(itemText(window.listHandle(), 0, LogColumn::Duration), "10.000 秒");
    EXPECT_EQ(itemText(window.listHandle(), 1, LogColumn::Protocol), "UDP");
    EXPECT_EQ(itemText(window.listHandle(), 2, LogColumn::Event), "打开（刷新时发现）");
    EXPECT_EQ(window.bottomLineText(), log.bottomLine());
    EXPECT_NE(window.bottomLineText().find("只记录刷新时发现的打开和关闭"), std::string::npos);

    // Closing hides it; it can be shown again.
    window.show();
    ::SendMessageW(window.handle(), WM_CLOSE, 0, 0);
    EXPECT_FALSE(::IsWindowVisible(window.handle()));
    window.show();
    EXPECT_TRUE(::IsWindowVisible(window.handle()));
}

TEST(Win32ConnectionLogWindowTest, TheFilterFieldNarrowsTheRowsAndTheExportSavesThem) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES};
    ::InitCommonControlsEx(&controls);
    std::int64_t now = 1'800'000'000'000;
    ConnectionLogView log(false, {}, [&now] { return now; });
    Snapshot snapshot;
    log.snapshotTaken(snapshot);
    const auto browser = [](const char* port) {
        return tcpRecord(5, "10.0.0.2", port, "10.0.0.9", "443", "42", "browser.exe",
                         "C:\\Apps\\browser.exe");
    };
    snapshot.Tcp = {browser("50000"), tcpRecord(5, "10.0.0.2", "50001", "10.0.0.9", "443", "43",
                                                "tool.exe", "C:\\Apps\\tool.exe")};
    log.snapshotTaken(snapshot);
    FakeSaveDialog dialog;
    win32ui::Win32ConnectionLogWindow window(log, nullptr, nullptr, &dialog);
    window.show();
    const HWND list = window.listHandle();
    const HWND field = window.filterHandle();
    ASSERT_NE(field, nullptr);
    ASSERT_EQ(ListView_GetItemCount(list), 2);
    wchar_t text[64] = {};
    ::GetWindowTextW(window.exportHandle(), text, 64);
    EXPECT_EQ(win32::Utf8FromWide(text, std::wcslen(text)), "导出列表...");
    RECT fieldRect{}, listRect{};
    ::GetWindowRect(field, &fieldRect);
    ::GetWindowRect(list, &listRect);
    EXPECT_LE(fieldRect.bottom, listRect.top) << "the field is above the list";

    for (const wchar_t key : std::wstring(L"BROWSER"))
        ::SendMessageW(field, WM_CHAR, key, 0);
    ASSERT_EQ(ListView_GetItemCount(list), 1);
    EXPECT_EQ(itemText(list, 0, LogColumn::LocalPort), "50000");
    EXPECT_EQ(window.bottomLineText().rfind("共 2 条记录，显示 1 项，", 0), 0u)
        << window.bottomLineText();

    // A refresh while the filter is set: the browser's new connection comes in, the tool's
    // closing stays out.
    snapshot.Tcp = {browser("50000"), browser("50002")};
    now += 10000;
    log.snapshotTaken(snapshot);
    window.logChanged();
    ASSERT_EQ(ListView_GetItemCount(list), 2);
    EXPECT_EQ(itemText(list, 0, LogColumn::LocalPort), "50002");

    const std::filesystem::path file =
        std::filesystem::temp_directory_path() /
        ("kestrel-log-test-" + std::to_string(::GetCurrentProcessId()) + ".csv");
    dialog.answer = file.string();
    ::SendMessageW(window.exportHandle(), BM_CLICK, 0, 0);
    EXPECT_EQ(dialog.asked, std::vector<std::string>{"导出列表|Kestrel-log.csv"});
    std::string saved;
    {
        std::ifstream in(file, std::ios::binary);
        saved.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::filesystem::remove(file);
    ASSERT_EQ(saved.rfind("\xEF\xBB\xBF时间,事件,协议,本地地址,本地端口,", 0), 0u) << saved;
    const std::size_t newer = saved.find(",50002,");
    const std::size_t older = saved.find(",50000,");
    EXPECT_NE(newer, std::string::npos);
    EXPECT_LT(newer, older) << "newest first";
    EXPECT_EQ(saved.find("tool.exe"), std::string::npos) << "a row the filter leaves out";
    EXPECT_NE(saved.find(",browser.exe (42),C:\\Apps\\browser.exe,"), std::string::npos);

    // Escape in the field empties it: every row again.
    ::SendMessageW(field, WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_EQ(::GetWindowTextLengthW(field), 0);
    EXPECT_EQ(ListView_GetItemCount(list), 4);
    EXPECT_EQ(window.bottomLineText().rfind("共 4 条记录，已丢弃", 0), 0u);
}

} // namespace
