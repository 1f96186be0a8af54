// The connection log window in Win32 under Wine: its virtual ListView shows the log newest
// first, asks the texts of the rows it shows, and the bottom line says that on Windows the log
// holds what the refreshes find.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>
#include <string>

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

} // namespace
