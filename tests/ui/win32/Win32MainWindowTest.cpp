// The Win32 main window over the real window logic, with a snapshot the test controls and the
// settings file in a folder of its own, under Wine's null display driver.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include "list/Columns.h"
#include "os/ProcessControl.h"
#include "snapshot/UnitGetTcpUdpTable.h"
#include "ui/TempDir.h"
#include "ui/TestRecords.h"
#include "ui/UnitFormKestrel.h"
#include "ui/Worker.h"
#include "ui/win32/Win32ConnectionLogWindow.h"
#include "ui/win32/Win32MainWindow.h"
#include "ui/win32/Win32WindowTestSupport.h"
#include "win32/WinText.h"

using win32test::BoxAnswerer;
using win32test::pumpUntil;
using win32test::windowText;
using win32ui::Win32MainWindow;

namespace {

// The endpoints the next snapshot reports; a snapshot can be made to fail.
struct FakeSystem {
    std::vector<File_Rec> tcp = {
        tcpRecord(2, "0.0.0.0", "135", "0.0.0.0", "0", "640", "svchost.exe",
                  "C:\\windows\\system32\\svchost.exe"),
        tcpRecord(5, "10.0.0.5", "51000", "93.184.216.34", "443", "2020", "firefox.exe",
                  "C:\\Program Files\\Mozilla Firefox\\firefox.exe"),
        tcpRecord(5, "10.0.0.5", "51001", "93.184.216.34", "443", "2020", "firefox.exe",
                  "C:\\Program Files\\Mozilla Firefox\\firefox.exe"),
        // A loopback connection: hidden while ShowLocal is off.
        tcpRecord(5, "127.0.0.1", "50500", "127.0.0.1", "8080", "3030", "node.exe",
                  "C:\\Program Files\\nodejs\\node.exe"),
        tcpRecord(11, "10.0.0.5", "40000", "10.0.0.9", "80", "0", "", ""),
    };
    std::vector<File_Rec> udp = {
        udpRecord("0.0.0.0", "5353", "4040", "mdnsd.exe", "C:\\Program Files\\Bonjour\\mdnsd.exe"),
    };
    std::string failure;
    // When set, a snapshot waits for it, on the worker's thread.
    std::shared_future<void> gate;
    int snapshots = 0;
    // The same count, for other threads.
    std::atomic<int> snapshotsSeen{0};

    TFormKestrelServices services(const std::string& settingsFile) {
        TFormKestrelServices services;
        services.settingsFile = settingsFile;
        services.exeDir = [] { return std::string("C:\\Kestrel\\"); };
        services.systemDirs = [] { return std::vector<std::string>{"C:\\WINDOWS\\SYSTEM32"}; };
        services.enableDebugPrivilege = [] { return false; };
        // Refreshes run it on the worker's thread.
        services.takeSnapshot = [this](Snapshot& snapshot) {
            ++snapshots;
            ++snapshotsSeen;
            if (gate.valid())
                gate.wait();
            if (!failure.empty())
                throw std::runtime_error(failure);
            snapshot.Tcp = tcp;
            snapshot.Udp = udp;
        };
        return services;
    }
};

// Delivers what the worker's threads post to `window` until no job runs and none is due, as
// the program's loop would.
void finishWork(HWND window) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        MSG message{};
        bool delivered = false;
        while (::PeekMessageW(&message, window, Win32MainWindow::WorkerMessage,
                              Win32MainWindow::WorkerMessage, PM_REMOVE)) {
            ::DispatchMessageW(&message);
            delivered = true;
        }
        // A job posts before it counts itself out.
        if (!delivered && ui::ThreadWorker::runningJobs() == 0 &&
            !::PeekMessageW(&message, window, Win32MainWindow::WorkerMessage,
                            Win32MainWindow::WorkerMessage, PM_NOREMOVE))
            return;
        if (!delivered)
            ::Sleep(2);
    }
}

RECT clientRectOf(HWND control, HWND parent) {
    RECT bounds{};
    ::GetWindowRect(control, &bounds);
    ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&bounds), 2);
    return bounds;
}

class Win32MainWindowTest : public ::testing::Test {
protected:
    std::unique_ptr<Win32MainWindow> makeWindow() {
        auto window = std::make_unique<Win32MainWindow>(system.services(settingsFile));
        window->setOnDestroyed([this] { ++destroyedCount; });
        return window;
    }

    std::string settings() const { return readTextFile(settingsFile); }

    TempDir folder;
    std::string settingsFile = folder.file("Kestrel.ini");
    FakeSystem system;
    int destroyedCount = 0;
};

TEST_F(Win32MainWindowTest, CreationStampsTheCaptionAndFillsListAndCounters) {
    auto window = makeWindow();
    EXPECT_EQ(windowText(window->handle()), "Kestrel V$V$(网络连接查看器)");
    EXPECT_EQ(window->countersText(), "当前有0个程序已连接或尝试连接网络，共建立0个连接。");
    window->create();
    EXPECT_EQ(system.snapshots, 1);
    EXPECT_EQ(windowText(window->handle()), "Kestrel V3.0(网络连接查看器)");
    // Programs with a path: svchost, firefox, node, mdnsd; every endpoint is a row.
    EXPECT_EQ(window->countersText(), "当前有4个程序已连接或尝试连接网络，共建立6个连接。");
    ASSERT_NE(window->listHandle(), nullptr);
    EXPECT_EQ(::SendMessageW(window->listHandle(), LVM_GETITEMCOUNT, 0, 0), 6);
    // Nothing is written at start without stored options.
    EXPECT_FALSE(std::filesystem::exists(settingsFile));
    // Created but not yet shown.
    EXPECT_FALSE(::IsWindowVisible(window->handle()));
}

TEST_F(Win32MainWindowTest, ControlsShowTheirDesignState) {
    auto window = makeWindow();
    window->create();
    struct Box {
        win32ui::Win32CheckBox& box;
        const char* caption;
        bool checked;
    };
    const Box boxes[] = {
        {window->showLocalBox(), "显示本地连接", true},
        {window->autoRefreshBox(), "自动刷新", false},
        {window->alwaysTopBox(), "始终保持在其他窗口前端", true},
        {window->showInfoBox(), "显示文件详细信息", false},
    };
    for (const Box& b : boxes) {
        SCOPED_TRACE(b.caption);
        EXPECT_EQ(windowText(b.box.handle()), b.caption);
        EXPECT_EQ(::SendMessageW(b.box.handle(), BM_GETCHECK, 0, 0) == BST_CHECKED, b.checked);
    }
    struct Button {
        win32ui::Win32Button& button;
        const char* caption;
    };
    const Button buttons[] = {
        {window->helpButton(), "帮助"},           {window->updateButton(), "更新"},
        {window->homePageButton(), "主页"},       {window->refreshButton(), "刷新"},
        {window->endProcessButton(), "结束进程"},
    };
    for (const Button& b : buttons) {
        SCOPED_TRACE(b.caption);
        EXPECT_EQ(windowText(b.button.handle()), b.caption);
        EXPECT_TRUE(::IsWindowEnabled(b.button.handle()));
    }
    // The context menu PmTree: its items and two separators, in order.
    HMENU menu = window->popupMenu();
    const std::vector<std::wstring> expected = {
        L"进程信息",    L"",         L"结束进程(&E)", L"断开连接",    L"", L"拷贝到剪贴板",
        L"导出列表...", L"定位文件", L"属性(&R)",     L"查看连接记录"};
    ASSERT_EQ(::GetMenuItemCount(menu), static_cast<int>(expected.size()));
    for (int i = 0; i < static_cast<int>(expected.size()); ++i) {
        wchar_t text[64] = {};
        ::GetMenuStringW(menu, static_cast<UINT>(i), text, 64, MF_BYPOSITION);
        EXPECT_EQ(std::wstring(text), expected[static_cast<std::size_t>(i)]) << "item " << i;
        const bool separator =
            (::GetMenuState(menu, static_cast<UINT>(i), MF_BYPOSITION) & MF_SEPARATOR) != 0;
        EXPECT_EQ(separator, expected[static_cast<std::size_t>(i)].empty()) << "item " << i;
    }
    EXPECT_FALSE(window->timer().running());

    // Tab moves from the list through the bottom panel in the designed order, then on to the
    // top buttons.
    const HWND tabOrder[] = {window->listHandle(),
                             window->refreshButton().handle(),
                             window->endProcessButton().handle(),
                             window->showLocalBox().handle(),
                             window->autoRefreshBox().handle(),
                             window->alwaysTopBox().handle(),
                             window->showInfoBox().handle(),
                             window->helpButton().handle(),
                             window->updateButton().handle(),
                             window->homePageButton().handle()};
    for (std::size_t i = 0; i + 1 < std::size(tabOrder); ++i)
        EXPECT_EQ(::GetNextDlgTabItem(window->handle(), tabOrder[i], FALSE), tabOrder[i + 1])
            << "after control " << i;
}

TEST_F(Win32MainWindowTest, ClientAreaIsTheDesignSizeCentredAndMinimumSizeScales) {
    auto window = makeWindow();
    window->create();
    ASSERT_EQ(window->dpi(), 96);
    RECT client{};
    ::GetClientRect(window->handle(), &client);
    EXPECT_EQ(client.right, 746);
    EXPECT_EQ(client.bottom, 433);

    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    ASSERT_TRUE(::GetMonitorInfoW(::MonitorFromWindow(window->handle(), MONITOR_DEFAULTTOPRIMARY),
                                  &monitor));
    const RECT& area = monitor.rcWork;
    EXPECT_NEAR(window->left() + window->width() / 2, (area.left + area.right) / 2, 1);
    EXPECT_NEAR(window->top() + window->height() / 2, (area.top + area.bottom) / 2, 1);

    MINMAXINFO limits{};
    ::SendMessageW(window->handle(), WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&limits));
    EXPECT_EQ(limits.ptMinTrackSize.x, 672);
    EXPECT_EQ(limits.ptMinTrackSize.y, 200);

    // Moved to a screen of 150 %: every design size scales.
    RECT suggested{100, 100, 100 + window->width() * 3 / 2, 100 + window->height() * 3 / 2};
    ::SendMessageW(window->handle(), WM_DPICHANGED, MAKEWPARAM(144, 144),
                   reinterpret_cast<LPARAM>(&suggested));
    EXPECT_EQ(window->dpi(), 144);
    ::SendMessageW(window->handle(), WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&limits));
    EXPECT_EQ(limits.ptMinTrackSize.x, 1008);
    EXPECT_EQ(limits.ptMinTrackSize.y, 300);
    const RECT refresh = clientRectOf(window->refreshButton().handle(), window->handle());
    EXPECT_EQ(refresh.right - refresh.left, 120);
    EXPECT_EQ(refresh.bottom - refresh.top, 39);
    const RECT help = clientRectOf(window->helpButton().handle(), window->handle());
    EXPECT_EQ(help.bottom - help.top, 48);
}

TEST_F(Win32MainWindowTest, PanelsAreLaidOutAsDesigned) {
    auto window = makeWindow();
    window->create();
    HWND main = window->handle();
    RECT client{};
    ::GetClientRect(main, &client);

    // The top buttons sit at the right edge, side by side.
    const RECT help = clientRectOf(window->helpButton().handle(), main);
    const RECT update = clientRectOf(window->updateButton().handle(), main);
    const RECT home = clientRectOf(window->homePageButton().handle(), main);
    EXPECT_EQ(help.right - help.left, 74);
    EXPECT_EQ(help.right, update.left);
    EXPECT_EQ(update.right, home.left);
    EXPECT_EQ(home.right, client.right - 1);
    EXPECT_EQ(home.bottom - home.top, 32);

    // The counters sentence reads on without gaps; the numbers move what follows them.
    const RECT app = clientRectOf(window->appCountLabel().handle(), main);
    const RECT net = clientRectOf(window->netCountLabel().handle(), main);
    EXPECT_LT(app.right, net.left);
    window->appCountLabel().setCaption("12345");
    const RECT wideApp = clientRectOf(window->appCountLabel().handle(), main);
    const RECT movedNet = clientRectOf(window->netCountLabel().handle(), main);
    EXPECT_GT(wideApp.right, app.right);
    EXPECT_EQ(movedNet.left - net.left, wideApp.right - app.right);

    // The list fills the space between the panels.
    const RECT list = clientRectOf(window->listHandle(), main);
    EXPECT_EQ(list.left, 0);
    EXPECT_EQ(list.top, 34);
    EXPECT_EQ(list.right, client.right);
    EXPECT_EQ(list.bottom, client.bottom - 28);

    // Bottom panel, from the left: three boxes, the two buttons, the fourth box; all visible at
    // the design size, none overlapping.
    const HWND order[] = {window->showLocalBox().handle(),     window->autoRefreshBox().handle(),
                          window->alwaysTopBox().handle(),     window->refreshButton().handle(),
                          window->endProcessButton().handle(), window->showInfoBox().handle()};
    int previousRight = 0;
    std::vector<RECT> before;
    for (HWND control : order) {
        const RECT bounds = clientRectOf(control, main);
        EXPECT_GE(bounds.left, previousRight);
        EXPECT_LE(bounds.right, client.right);
        EXPECT_GE(bounds.top, client.bottom - 28);
        EXPECT_LE(bounds.bottom, client.bottom);
        previousRight = bounds.right;
        before.push_back(bounds);
    }
    // Wider and taller: the bottom controls keep their places from the left.
    ::SetWindowPos(main, nullptr, 0, 0, window->width() + 200, window->height() + 100,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    for (std::size_t i = 0; i < std::size(order); ++i) {
        const RECT bounds = clientRectOf(order[i], main);
        EXPECT_EQ(bounds.left, before[i].left);
        EXPECT_EQ(bounds.top, before[i].top + 100);
    }
}

// The filter field is an EDIT control between the sentence and the buttons: typed text shows
// only the matching rows, Escape empties it, Ctrl+F anywhere in the window focuses it.
TEST_F(Win32MainWindowTest, FilterFieldShowsMatchingRowsEscapeClearsCtrlFFocuses) {
    auto window = makeWindow();
    window->create();
    HWND main = window->handle();
    HWND field = window->filterField().handle();
    wchar_t className[16]{};
    ::GetClassNameW(field, className, static_cast<int>(std::size(className)));
    EXPECT_EQ(std::wstring(className), L"Edit");
    EXPECT_EQ(window->filterField().placeholder(), "筛选");
    wchar_t cue[16]{};
    if (::SendMessageW(field, EM_GETCUEBANNER, reinterpret_cast<WPARAM>(cue), std::size(cue))) {
        EXPECT_EQ(std::wstring(cue), L"筛选");
    }
    const RECT sentenceEnd = clientRectOf(window->label(MainControl::Label5).handle(), main);
    const RECT bounds = clientRectOf(field, main);
    const RECT options = clientRectOf(window->optionsButton().handle(), main);
    EXPECT_GE(bounds.left, sentenceEnd.right);
    EXPECT_LT(bounds.right, options.left);
    EXPECT_GT(bounds.right - bounds.left, 0);
    EXPECT_GT(bounds.top, 0);
    EXPECT_LT(bounds.bottom, 34);

    // The user types: each character is a change of the control (EN_CHANGE).
    for (const wchar_t c : std::wstring(L"FIREfox"))
        ::SendMessageW(field, WM_CHAR, c, 1);
    EXPECT_EQ(window->filterField().text(), "FIREfox");
    EXPECT_EQ(::SendMessageW(window->listHandle(), LVM_GETITEMCOUNT, 0, 0), 2);
    EXPECT_EQ(window->countersText(),
              "当前有4个程序已连接或尝试连接网络，共建立6个连接，显示 2 项。");
    EXPECT_FALSE(std::filesystem::exists(settingsFile)) << "the filter is not saved";

    // A refresh keeps the filter on the new rows.
    system.tcp.push_back(tcpRecord(2, "0.0.0.0", "9000", "0.0.0.0", "0", "2021", "firefox.exe",
                                   "C:\\Program Files\\Mozilla Firefox\\firefox.exe"));
    ::SendMessageW(window->refreshButton().handle(), BM_CLICK, 0, 0);
    finishWork(main);
    EXPECT_EQ(::SendMessageW(window->listHandle(), LVM_GETITEMCOUNT, 0, 0), 3);
    EXPECT_EQ(window->countersText(),
              "当前有4个程序已连接或尝试连接网络，共建立7个连接，显示 3 项。");

    // Escape in the field, as the program's loop hands it over (the dialog manager first).
    ::SetFocus(field);
    MSG escape{field, WM_KEYDOWN, VK_ESCAPE, 1, 0, {}};
    if (!::IsDialogMessageW(main, &escape))
        ::DispatchMessageW(&escape);
    EXPECT_EQ(window->filterField().text(), "");
    EXPECT_EQ(window->filterField().shownText(), "");
    EXPECT_EQ(::SendMessageW(window->listHandle(), LVM_GETITEMCOUNT, 0, 0), 7);
    EXPECT_EQ(window->countersText(), "当前有4个程序已连接或尝试连接网络，共建立7个连接。");
    EXPECT_TRUE(::IsWindow(main)) << "Escape does not close the window";

    // Ctrl+F while the list has the keyboard; F alone is no shortcut.
    ::SetFocus(window->listHandle());
    MSG find{window->listHandle(), WM_KEYDOWN, 'F', 1, 0, {}};
    EXPECT_FALSE(win32ui::translateShortcut(main, find));
    BYTE keys[256]{};
    ASSERT_TRUE(::GetKeyboardState(keys));
    keys[VK_CONTROL] = 0x80;
    ASSERT_TRUE(::SetKeyboardState(keys));
    EXPECT_TRUE(win32ui::translateShortcut(main, find));
    keys[VK_CONTROL] = 0;
    ::SetKeyboardState(keys);
    EXPECT_EQ(::GetFocus(), field);
}

TEST_F(Win32MainWindowTest, TickingAnOptionWritesTheSettingsFile) {
    auto window = makeWindow();
    window->create();
    ::SendMessageW(window->showInfoBox().handle(), BM_CLICK, 0, 0);
    EXPECT_EQ(::SendMessageW(window->showInfoBox().handle(), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_TRUE(window->form().showInfo());
    const std::string written = settings();
    EXPECT_NE(written.find("[Set]"), std::string::npos) << written;
    EXPECT_NE(written.find("ShowInfo=1"), std::string::npos) << written;
    EXPECT_EQ(written.find("ShowLocal"), std::string::npos) << written;
    EXPECT_EQ(system.snapshots, 1) << "ShowInfo does not refresh";
}

TEST_F(Win32MainWindowTest, ShowLocalRefreshesAtOnceWithoutLoopbackRows) {
    auto window = makeWindow();
    window->create();
    ::SendMessageW(window->showLocalBox().handle(), BM_CLICK, 0, 0);
    finishWork(window->handle());
    EXPECT_EQ(system.snapshots, 2);
    EXPECT_NE(settings().find("ShowLocal=0"), std::string::npos);
    EXPECT_EQ(window->countersText(), "当前有4个程序已连接或尝试连接网络，共建立5个连接。");
    EXPECT_EQ(::SendMessageW(window->listHandle(), LVM_GETITEMCOUNT, 0, 0), 5);
}

TEST_F(Win32MainWindowTest, StoredOptionsApplyBeforeTheWindowIsShown) {
    writeTextFile(settingsFile, "[Set]\r\nAlwaysTop=0\r\nAutoRefresh=5\r\nShowLocal=0\r\n");
    auto window = makeWindow();
    EXPECT_TRUE(window->stayOnTop()) << "the window starts in the topmost band";
    const RECT before{window->left(), window->top(), window->left() + window->width(),
                      window->top() + window->height()};
    window->create();
    EXPECT_EQ(system.snapshots, 1) << "no refresh before the first fill";
    EXPECT_FALSE(window->stayOnTop());
    EXPECT_FALSE(::IsWindowVisible(window->handle()));
    EXPECT_EQ(window->left(), before.left);
    EXPECT_EQ(window->top(), before.top);
    EXPECT_EQ(window->left() + window->width(), before.right);
    EXPECT_EQ(window->top() + window->height(), before.bottom);
    EXPECT_TRUE(window->timer().running());
    EXPECT_EQ(window->countersText(), "当前有4个程序已连接或尝试连接网络，共建立5个连接。");
    EXPECT_NE(settings().find("AutoRefresh=1"), std::string::npos) << settings();

    // Ticked again once shown: the window stays where it is, shown. (Whether it is back in
    // the topmost band is not asked here: Wine 8 does not put a window back there while a
    // tooltip it owns is topmost, which the list's tooltips are.)
    window->show(SW_SHOWNOACTIVATE);
    ::SendMessageW(window->alwaysTopBox().handle(), BM_CLICK, 0, 0);
    EXPECT_TRUE(window->form().alwaysTop());
    EXPECT_NE(settings().find("AlwaysTop=1"), std::string::npos) << settings();
    EXPECT_TRUE(::IsWindowVisible(window->handle()));
    EXPECT_EQ(window->left(), before.left);
    EXPECT_EQ(window->top(), before.top);
    EXPECT_EQ(window->width(), before.right - before.left);
    EXPECT_EQ(window->height(), before.bottom - before.top);
}

TEST_F(Win32MainWindowTest, TimerAndRefreshButtonRefresh) {
    auto window = makeWindow();
    window->create();
    HWND main = window->handle();
    // Auto refresh off: a stray WM_TIMER does nothing.
    ::SendMessageW(main, WM_TIMER, window->timer().timerId(), 0);
    EXPECT_EQ(system.snapshots, 1);

    ::SendMessageW(window->autoRefreshBox().handle(), BM_CLICK, 0, 0);
    EXPECT_TRUE(window->timer().running());
    EXPECT_EQ(window->timer().interval(), 10000);
    ::SendMessageW(main, WM_TIMER, window->timer().timerId(), 0);
    finishWork(main);
    EXPECT_EQ(system.snapshots, 2);
    EXPECT_TRUE(window->timer().running());

    ::SendMessageW(window->refreshButton().handle(), BM_CLICK, 0, 0);
    finishWork(main);
    EXPECT_EQ(system.snapshots, 3);
    EXPECT_TRUE(::IsWindowEnabled(window->refreshButton().handle()));
    EXPECT_TRUE(window->timer().running());

    // A new endpoint shows up in the list and the counters.
    system.udp.push_back(udpRecord("0.0.0.0", "68", "5050", "dhcp.exe", "C:\\dhcp.exe"));
    ::SendMessageW(window->refreshButton().handle(), BM_CLICK, 0, 0);
    finishWork(main);
    EXPECT_EQ(window->countersText(), "当前有5个程序已连接或尝试连接网络，共建立7个连接。");
    EXPECT_EQ(::SendMessageW(window->listHandle(), LVM_GETITEMCOUNT, 0, 0), 7);
}

TEST_F(Win32MainWindowTest, WhileASlowSnapshotIsTakenTheWindowAnswersAndStartsNoSecond) {
    auto window = makeWindow();
    window->create();
    HWND main = window->handle();
    ::SendMessageW(window->autoRefreshBox().handle(), BM_CLICK, 0, 0);
    std::promise<void> open;
    system.gate = open.get_future().share();
    system.udp.clear();
    ::SendMessageW(window->refreshButton().handle(), BM_CLICK, 0, 0);
    ASSERT_TRUE(pumpUntil([this] { return system.snapshotsSeen == 2; }));
    EXPECT_FALSE(::IsWindowEnabled(window->refreshButton().handle()));
    // The window answers; the timer, the button and the ShowLocal box start nothing.
    ::SendMessageW(main, WM_TIMER, window->timer().timerId(), 0);
    ::SendMessageW(window->refreshButton().handle(), BM_CLICK, 0, 0);
    ::SendMessageW(window->showLocalBox().handle(), BM_CLICK, 0, 0);
    RECT before{};
    ::GetWindowRect(main, &before);
    ::SetWindowPos(main, nullptr, 0, 0, before.right - before.left + 40,
                   before.bottom - before.top + 30, SWP_NOMOVE | SWP_NOZORDER);
    ::UpdateWindow(main);
    EXPECT_EQ(system.snapshotsSeen, 2);
    EXPECT_EQ(::SendMessageW(window->listHandle(), LVM_GETITEMCOUNT, 0, 0), 6);

    open.set_value();
    finishWork(main);
    // Merged with the options as they are now: the UDP row gone, the loopback row hidden.
    EXPECT_EQ(::SendMessageW(window->listHandle(), LVM_GETITEMCOUNT, 0, 0), 4);
    EXPECT_EQ(system.snapshotsSeen, 2);
    EXPECT_TRUE(::IsWindowEnabled(window->refreshButton().handle()));
    EXPECT_TRUE(window->timer().running());
}

TEST_F(Win32MainWindowTest, ClosingWhileASnapshotIsTakenWaitsForNothing) {
    auto window = makeWindow();
    window->create();
    HWND main = window->handle();
    std::promise<void> open;
    system.gate = open.get_future().share();
    ::SendMessageW(window->refreshButton().handle(), BM_CLICK, 0, 0);
    ASSERT_TRUE(pumpUntil([this] { return system.snapshotsSeen == 2; }));
    {
        BoxAnswerer answerer(L"Kestrel", IDYES);
        ::SendMessageW(main, WM_CLOSE, 0, 0);
        answerer.finish();
        EXPECT_TRUE(answerer.seen());
    }
    EXPECT_FALSE(::IsWindow(main));
    EXPECT_EQ(destroyedCount, 1);
    EXPECT_EQ(ui::ThreadWorker::runningJobs(), 1);
    window.reset();
    // The job ends alone; its merge has nowhere to go and is dropped.
    open.set_value();
    EXPECT_TRUE(pumpUntil([] { return ui::ThreadWorker::runningJobs() == 0; }));
    EXPECT_TRUE(pumpUntil([] { return true; }));
}

TEST_F(Win32MainWindowTest, AFailedRefreshIsReportedAndTheButtonComesBack) {
    auto window = makeWindow();
    window->create();
    system.failure = "snapshot failed";
    BoxAnswerer answerer(L"Kestrel", IDOK);
    ::SendMessageW(window->refreshButton().handle(), BM_CLICK, 0, 0);
    finishWork(window->handle());
    answerer.finish();
    EXPECT_TRUE(answerer.seen());
    EXPECT_EQ(answerer.text(), "snapshot failed");
    EXPECT_EQ(answerer.owner(), window->handle());
    EXPECT_TRUE(::IsWindowEnabled(window->refreshButton().handle()));
    EXPECT_TRUE(::IsWindow(window->handle())) << "the program goes on";
}

TEST_F(Win32MainWindowTest, ClosingAsksAndEndsOnlyOnYes) {
    auto window = makeWindow();
    window->create();
    HWND main = window->handle();
    {
        BoxAnswerer answerer(L"Kestrel", IDNO);
        ::SendMessageW(main, WM_CLOSE, 0, 0);
        answerer.finish();
        EXPECT_TRUE(answerer.seen());
        EXPECT_EQ(answerer.text(), "您确认要退出网络连接查看器?");
        EXPECT_EQ(answerer.defaultButton(), IDYES);
        EXPECT_TRUE(::IsWindow(main));
        EXPECT_EQ(destroyedCount, 0);
    }
    {
        BoxAnswerer answerer(L"Kestrel", IDYES);
        ::SendMessageW(main, WM_CLOSE, 0, 0);
        answerer.finish();
        EXPECT_TRUE(answerer.seen());
        EXPECT_FALSE(::IsWindow(main));
        EXPECT_EQ(destroyedCount, 1);
        EXPECT_EQ(window->handle(), nullptr);
    }
    // The window object goes after its window without touching it.
    window.reset();
}

TEST_F(Win32MainWindowTest, AutoRefreshGoesOnWhileTheCloseQuestionIsOpen) {
    auto window = makeWindow();
    window->create();
    ::SendMessageW(window->autoRefreshBox().handle(), BM_CLICK, 0, 0);
    // Short intervals, so that the test need not wait ten seconds.
    window->timer().setInterval(20);
    const int before = system.snapshots;
    BoxAnswerer answerer(L"Kestrel", IDNO,
                         [this, before] { return system.snapshotsSeen >= before + 2; });
    ::SendMessageW(window->handle(), WM_CLOSE, 0, 0);
    answerer.finish();
    EXPECT_TRUE(answerer.seen()) << "the box's own loop did not refresh the list";
    EXPECT_GE(system.snapshots, before + 2);
    EXPECT_TRUE(::IsWindow(window->handle()));
    EXPECT_TRUE(window->timer().running());
}

TEST_F(Win32MainWindowTest, ContextMenuCommandsRunTheirItems) {
    auto window = makeWindow();
    window->create();
    int clicks = 0;
    window->menuItem(3).setOnClick([&] { ++clicks; });
    const UINT locate = window->menuItem(3).commandId();
    // As the menu's keyboard accelerators arrive: WM_COMMAND without a control.
    ::SendMessageW(window->handle(), WM_COMMAND, MAKEWPARAM(locate, 0), 0);
    EXPECT_EQ(clicks, 1);
    window->menuItem(3).setEnabled(false);
    ::SendMessageW(window->handle(), WM_COMMAND, MAKEWPARAM(locate, 0), 0);
    EXPECT_EQ(clicks, 1) << "a disabled item does not run";
}

TEST_F(Win32MainWindowTest, BothConnectionLogCommandsOpenTheLogWindow) {
    auto window = makeWindow();
    window->create();
    window->show();
    EXPECT_EQ(window->connectionLogWindow(), nullptr);
    const UINT fromContext =
        window->menuItem(static_cast<std::size_t>(ContextItem::NViewLog)).commandId();
    const UINT fromOptions = window->optionCommand(OptionCommand::NConnectionLog).commandId();
    EXPECT_NE(fromContext, fromOptions);
    for (const UINT command : {fromOptions, fromContext}) {
        ::SendMessageW(window->handle(), WM_COMMAND, MAKEWPARAM(command, 0), 0);
        win32ui::Win32ConnectionLogWindow* log = window->connectionLogWindow();
        ASSERT_NE(log, nullptr);
        EXPECT_TRUE(::IsWindowVisible(log->handle()));
        EXPECT_EQ(windowText(log->handle()), "连接记录");
        ::ShowWindow(log->handle(), SW_HIDE);
    }
}

TEST_F(Win32MainWindowTest, OptionsButtonSitsLeftOfHelpWithItsNeighboursLook) {
    auto window = makeWindow();
    window->create();
    HWND main = window->handle();
    const HWND options = window->optionsButton().handle();
    const HWND help = window->helpButton().handle();
    EXPECT_EQ(windowText(options), "选项");
    EXPECT_TRUE(::IsWindowEnabled(options));
    EXPECT_NE(::GetWindowLongPtrW(options, GWL_STYLE) & WS_VISIBLE, 0); // the window is hidden
    const RECT optionsBounds = clientRectOf(options, main);
    const RECT helpBounds = clientRectOf(help, main);
    EXPECT_EQ(optionsBounds.right, helpBounds.left);
    EXPECT_EQ(optionsBounds.right - optionsBounds.left, 74);
    EXPECT_EQ(optionsBounds.top, helpBounds.top);
    EXPECT_EQ(optionsBounds.bottom, helpBounds.bottom);
    EXPECT_GT(optionsBounds.left, clientRectOf(window->netCountLabel().handle(), main).right);
    // The same look: drawn by the same bitmap button, in the same font.
    EXPECT_EQ(::GetWindowLongPtrW(options, GWL_STYLE), ::GetWindowLongPtrW(help, GWL_STYLE));
    EXPECT_EQ(::SendMessageW(options, WM_GETFONT, 0, 0), ::SendMessageW(help, WM_GETFONT, 0, 0));
    // It joins the end of the keyboard's order.
    EXPECT_EQ(::GetNextDlgTabItem(main, window->homePageButton().handle(), FALSE), options);
}

TEST_F(Win32MainWindowTest, OptionsMenuDropsDownBelowItsButtonAndStoresTheChoice) {
    writeTextFile(settingsFile, "[Set]\nShowInfo=0\n[Options]\nShowIPv6=1\n");
    auto window = makeWindow();
    window->create();
    window->show();
    HMENU menu = window->optionsMenu();
    // The check items, then a separator and the command "连接记录".
    const std::vector<std::wstring> expected = {L"显示IPv6连接", L"解析主机名", L"显示流量", L"",
                                                L"连接记录"};
    ASSERT_EQ(::GetMenuItemCount(menu), static_cast<int>(expected.size()));
    for (int i = 0; i < static_cast<int>(expected.size()); ++i) {
        wchar_t text[64] = {};
        ::GetMenuStringW(menu, static_cast<UINT>(i), text, 64, MF_BYPOSITION);
        EXPECT_EQ(std::wstring(text), expected[static_cast<std::size_t>(i)]);
        const UINT state = ::GetMenuState(menu, static_cast<UINT>(i), MF_BYPOSITION);
        EXPECT_EQ((state & MF_CHECKED) != 0, i == 0) << "item " << i;
        EXPECT_EQ((state & MF_SEPARATOR) != 0, i == 3) << "item " << i;
    }
    EXPECT_TRUE(window->form().showIPv6());

    RECT shown{};
    win32test::MenuDriver::keys = {VK_DOWN, VK_DOWN, VK_RETURN};
    win32test::MenuDriver::whileOpen = [&shown] {
        if (const HWND open = win32test::openMenuWindow())
            ::GetWindowRect(open, &shown);
    };
    win32test::MenuDriver::ended = false;
    win32test::MenuDriver::ticks = 0;
    const UINT_PTR timer = ::SetTimer(nullptr, 0, 20, &win32test::MenuDriver::onTimer);
    ASSERT_NE(timer, 0u);
    ::SendMessageW(window->optionsButton().handle(), BM_CLICK, 0, 0);
    ::KillTimer(nullptr, timer);
    EXPECT_EQ(win32test::openMenuWindow(), nullptr);

    RECT button{};
    ::GetWindowRect(window->optionsButton().handle(), &button);
    EXPECT_EQ(shown.left, button.left);
    EXPECT_GE(shown.top, button.bottom);
    EXPECT_TRUE(window->form().resolveNames());
    EXPECT_NE(::GetMenuState(menu, 1, MF_BYPOSITION) & MF_CHECKED, 0u);
    EXPECT_EQ(settings(), "[Set]\nShowInfo=0\n[Options]\nShowIPv6=1\nResolveNames=1\n");
}

// The columns of "解析主机名" and "显示流量" in the real list view: the header gains and loses
// them with their options; the names come from the worker's threads, the traffic sorts by value.
TEST_F(Win32MainWindowTest, OptionColumnsComeAndGoWithTheirOptions) {
    const std::uint64_t sent[] = {900, 3565158, 1229};
    for (std::size_t i = 0; i < 3; ++i) {
        system.tcp[i].Socket.hasByteCounters = true;
        system.tcp[i].Socket.bytesAcked = sent[i];
    }
    TFormKestrelServices services = system.services(settingsFile);
    services.hostNameOfAddress = [](const std::string& address) {
        return address == "93.184.216.34" ? std::string("example.org") : std::string();
    };
    Win32MainWindow window(std::move(services));
    window.create();
    window.show();
    const HWND list = window.listHandle();
    ASSERT_NE(list, nullptr);
    const HWND header = reinterpret_cast<HWND>(::SendMessageW(list, LVM_GETHEADER, 0, 0));
    auto titles = [header] {
        std::vector<std::string> shown;
        const int count = static_cast<int>(::SendMessageW(header, HDM_GETITEMCOUNT, 0, 0));
        for (int viewColumn = 1; viewColumn < count; ++viewColumn) {
            wchar_t buffer[128] = {};
            HDITEMW item{};
            item.mask = HDI_TEXT;
            item.pszText = buffer;
            item.cchTextMax = 128;
            ::SendMessageW(header, HDM_GETITEMW, static_cast<WPARAM>(viewColumn),
                           reinterpret_cast<LPARAM>(&item));
            shown.push_back(win32::Utf8FromWide(std::wstring(buffer)));
        }
        return shown;
    };
    auto columnTexts = [list](int viewColumn) {
        std::vector<std::string> texts;
        const int count = static_cast<int>(::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
        for (int item = 0; item < count; ++item) {
            wchar_t buffer[256] = {};
            LVITEMW request{};
            request.iSubItem = viewColumn;
            request.pszText = buffer;
            request.cchTextMax = 256;
            const auto length = ::SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(item),
                                               reinterpret_cast<LPARAM>(&request));
            texts.push_back(win32::Utf8FromWide(buffer, static_cast<std::size_t>(length)));
        }
        return texts;
    };
    auto choose = [&window](int position) {
        const UINT id = ::GetMenuItemID(window.optionsMenu(), position);
        ::SendMessageW(window.handle(), WM_COMMAND, MAKEWPARAM(id, 0), 0);
    };
    using Texts = std::vector<std::string>;
    const Texts described{"进程",   "协议",     "本地IP", "本地端口",
                          "目标IP", "目标端口", "状态",   "管理"};
    auto with = [&described](const Texts& more) {
        Texts all = described;
        all.insert(all.end(), more.begin(), more.end());
        return all;
    };
    EXPECT_EQ(titles(), described);

    choose(1); // 解析主机名
    EXPECT_EQ(titles(), with({"目标主机"}));
    finishWork(window.handle());
    const Texts hosts = columnTexts(9);
    EXPECT_EQ(std::count(hosts.begin(), hosts.end(), "example.org"), 2) << "firefox's two rows";
    EXPECT_EQ(std::count(hosts.begin(), hosts.end(), "10.0.0.9"), 0) << "no name: nothing";

    choose(2); // 显示流量
    EXPECT_EQ(titles(), with({"目标主机", "已发送", "已接收", "发送速率", "接收速率"}));
    ui::dispatchEvent(window.messages(), [&window] {
        window.form().VTSHeaderClick(ColumnSent);
        window.form().VTSHeaderClick(ColumnSent);
    });
    Texts sentColumn;
    for (const std::string& text : columnTexts(10)) {
        if (!text.empty())
            sentColumn.push_back(text);
    }
    EXPECT_EQ(sentColumn, (Texts{"900 B", "1.2 KB", "3.4 MB"}));

    choose(1);
    EXPECT_EQ(titles(), with({"已发送", "已接收", "发送速率", "接收速率"}));
    choose(2);
    EXPECT_EQ(titles(), described);
    EXPECT_EQ(settings(), "[Options]\nResolveNames=0\nShowTraffic=0\n");
}

// The context menu of the real window, opened for firefox's first connection and driven by
// a thread timer inside the menu's own loop.
class Win32ContextMenuTest : public Win32MainWindowTest {
protected:
    std::unique_ptr<Win32MainWindow> makeWindowEndingProcesses() {
        TFormKestrelServices services = system.services(settingsFile);
        services.endProcess = [this](std::uint32_t pid, std::uint64_t) {
            endCalls.push_back(pid);
            return os::EndProcessResult::Ended;
        };
        auto window = std::make_unique<Win32MainWindow>(std::move(services));
        window->create();
        return window;
    }

    static RowHandle rowWithPort(Win32MainWindow& window, const std::string& port) {
        for (RowHandle row = window.list().firstRow(); row; row = window.list().nextRow(row)) {
            if (row->Rec.LocalPort == port)
                return row;
        }
        return nullptr;
    }

    // Opens the menu for the row of `port` as a right click does; while it is open `whileOpen`
    // runs, then "结束进程(&E)" is chosen with the keyboard.
    void endProcessFromTheMenu(Win32MainWindow& window, const std::string& port,
                               std::function<void()> whileOpen) {
        const RowHandle row = rowWithPort(window, port);
        ASSERT_NE(row, nullptr);
        window.list().selectRow(row);
        window.list().setFocusedRow(row);
        win32test::MenuDriver::keys = {VK_DOWN, VK_DOWN, VK_RETURN};
        win32test::MenuDriver::whileOpen = std::move(whileOpen);
        win32test::MenuDriver::ended = false;
        win32test::MenuDriver::ticks = 0;
        const UINT_PTR timer = ::SetTimer(nullptr, 0, 20, &win32test::MenuDriver::onTimer);
        ASSERT_NE(timer, 0u);
        window.form().VTSGetPopupMenu(row, 1, ScreenPoint{60, 60});
        ::KillTimer(nullptr, timer);
        // The end of the process, and the refresh after it, on the worker.
        finishWork(window.handle());
        EXPECT_EQ(win32test::openMenuWindow(), nullptr);
    }

    std::vector<std::uint32_t> endCalls;
};

TEST_F(Win32ContextMenuTest, TheChosenCommandActsOnTheMenusRow) {
    auto window = makeWindowEndingProcesses();
    endProcessFromTheMenu(*window, "51000", [&] {
        // Meanwhile the focus has gone to node's row.
        const RowHandle node = rowWithPort(*window, "50500");
        window->list().selectRow(node);
        window->list().setFocusedRow(node);
    });
    EXPECT_EQ(endCalls, std::vector<std::uint32_t>{2020});
}

TEST_F(Win32ContextMenuTest, NothingHappensOnceARefreshRemovedTheMenusRow) {
    auto window = makeWindowEndingProcesses();
    ::SendMessageW(window->autoRefreshBox().handle(), BM_CLICK, 0, 0);
    // Should the command reach another row, its question is answered, so the test ends.
    BoxAnswerer answerer(L"Kestrel", IDNO);
    const int before = system.snapshots;
    endProcessFromTheMenu(*window, "51000", [&] {
        // The connection closes and the auto-refresh timer fires while the menu is open.
        system.tcp.erase(system.tcp.begin() + 1);
        ::SendMessageW(window->handle(), WM_TIMER, window->timer().timerId(), 0);
        finishWork(window->handle());
    });
    answerer.finish();
    EXPECT_EQ(system.snapshots, before + 1);
    EXPECT_EQ(rowWithPort(*window, "51000"), nullptr);
    EXPECT_NE(window->list().focusedRow(), nullptr);
    EXPECT_TRUE(endCalls.empty());
    EXPECT_FALSE(answerer.seen()) << answerer.text();
}

} // namespace
