#include "ui/win32/Win32Commands.h"

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ui/ClipboardReport.h"
#include "ui/HelpFile.h"
#include "ui/TempDir.h"
#include "ui/win32/Win32WindowTestSupport.h"
#include "win32/WinText.h"

namespace {

using win32test::MenuDriver;
using win32test::openMenuWindow;
using win32ui::ShellExecuteCall;
using win32ui::Win32Shell;

// A plain top-level window of the test's own thread: clipboard owner and menu owner.
class TestWindow {
public:
    TestWindow()
        : m_window(::CreateWindowExW(0, L"STATIC", L"owner", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                                     nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr)) {}
    ~TestWindow() {
        if (m_window != nullptr)
            ::DestroyWindow(m_window);
    }
    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;
    HWND handle() const { return m_window; }

private:
    HWND m_window;
};

// Tests running side by side share Wine's one clipboard: each clipboard test holds this
// machine-wide lock while it runs.
class ClipboardLock {
public:
    ClipboardLock() : m_mutex(::CreateMutexW(nullptr, FALSE, L"KestrelTestClipboard")) {
        if (m_mutex != nullptr)
            ::WaitForSingleObject(m_mutex, 60000);
    }
    ~ClipboardLock() {
        if (m_mutex != nullptr) {
            ::ReleaseMutex(m_mutex);
            ::CloseHandle(m_mutex);
        }
    }
    ClipboardLock(const ClipboardLock&) = delete;
    ClipboardLock& operator=(const ClipboardLock&) = delete;

private:
    HANDLE m_mutex;
};

std::wstring clipboardText(HWND owner) {
    std::wstring text;
    if (!::OpenClipboard(owner))
        return L"<clipboard not opened>";
    if (const HANDLE data = ::GetClipboardData(CF_UNICODETEXT)) {
        if (const auto* chars = static_cast<const wchar_t*>(::GlobalLock(data))) {
            text = chars;
            ::GlobalUnlock(data);
        }
    } else {
        text = L"<no text>";
    }
    ::CloseClipboard();
    return text;
}

TEST(Win32Clipboard, ChineseTextRoundTripsWithCrLfLineEnds) {
    const ClipboardLock lock;
    TestWindow owner;
    ASSERT_NE(owner.handle(), nullptr);
    win32ui::Win32Clipboard clipboard(owner.handle());

    clipboard.setText("程序名称:浏览器\r\n路径:C:\\程序\\a b.exe\n第三行\n");
    EXPECT_EQ(clipboardText(owner.handle()),
              L"程序名称:浏览器\r\n路径:C:\\程序\\a b.exe\r\n第三行\r\n");

    // A second copy replaces the first.
    clipboard.setText("PID:42");
    EXPECT_EQ(clipboardText(owner.handle()), L"PID:42");
}

TEST(Win32Clipboard, ReportIsCopiedAsItIs) {
    const ClipboardLock lock;
    TestWindow owner;
    win32ui::Win32Clipboard clipboard(owner.handle());
    TMyRec rec;
    rec.Protocol = "UDP";
    rec.ProcName = "服务.exe";
    const std::string report = BuildClipboardReport(rec);
    clipboard.setText(report);
    EXPECT_EQ(clipboardText(owner.handle()), win32::WideFromUtf8(report));
}

TEST(Win32Clipboard, LineFeedsGainCarriageReturnsOnce) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"", ""},
        {"a", "a"},
        {"\n", "\r\n"},
        {"a\nb", "a\r\nb"},
        {"a\r\nb\r\n", "a\r\nb\r\n"},
        {"\n\n", "\r\n\r\n"},
        {"a\rb", "a\rb"},
        {"\r\r\n", "\r\r\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(win32ui::Win32Clipboard::withCrLf(c.in), c.out) << c.in;
}

TEST(Win32Clipboard, HeldByAnotherProgramLeavesTheContent) {
    const ClipboardLock lock;
    TestWindow owner;
    win32ui::Win32Clipboard clipboard(owner.handle());
    clipboard.setText("before");

    // Another thread with a window of its own holds the clipboard open meanwhile.
    std::atomic<bool> holding{false};
    std::atomic<bool> release{false};
    std::thread holder([&] {
        TestWindow other;
        if (::OpenClipboard(other.handle())) {
            holding = true;
            while (!release)
                ::Sleep(1);
            ::CloseClipboard();
        }
        holding = true;
    });
    while (!holding)
        ::Sleep(1);
    clipboard.setText("during");
    release = true;
    holder.join();
    EXPECT_EQ(clipboardText(owner.handle()), L"before");
}

TEST(Win32Clipboard, WithoutOwnerNothingHappens) {
    const ClipboardLock lock;
    TestWindow owner;
    win32ui::Win32Clipboard(owner.handle()).setText("kept");
    win32ui::Win32Clipboard(nullptr).setText("lost");
    EXPECT_EQ(clipboardText(owner.handle()), L"kept");
}

struct RecordingShell {
    std::vector<ShellExecuteCall> calls;
    Win32Shell shell{nullptr, [this](const ShellExecuteCall& call) { calls.push_back(call); }};
};

TEST(Win32Shell, SelectPassesTheFileToExplorer) {
    const struct {
        const char* path;
        const wchar_t* parameters;
    } cases[] = {
        {"C:\\windows\\notepad.exe", L"/select, C:\\windows\\notepad.exe"},
        // Explorer splits its parameters at commas and the shell at spaces: such paths are
        // quoted whole.
        {"C:\\Program Files\\App\\app.exe", L"/select, \"C:\\Program Files\\App\\app.exe\""},
        {"C:\\a,b\\c.exe", L"/select, \"C:\\a,b\\c.exe\""},
        {"C:\\程序\\网络.exe", L"/select, C:\\程序\\网络.exe"},
        {"\\\\server\\share\\tool.exe", L"/select, \\\\server\\share\\tool.exe"},
    };
    for (const auto& c : cases) {
        RecordingShell recorder;
        recorder.shell.selectInFileManager(c.path);
        ASSERT_EQ(recorder.calls.size(), 1u) << c.path;
        const ShellExecuteCall& call = recorder.calls[0];
        EXPECT_EQ(call.verb, L"open");
        EXPECT_EQ(call.file, L"explorer.exe");
        EXPECT_EQ(call.parameters, c.parameters) << c.path;
        EXPECT_FALSE(call.invokeIdList);
    }
}

TEST(Win32Shell, PropertiesAskTheShellForThePropertySheet) {
    RecordingShell recorder;
    recorder.shell.showProperties("C:\\Program Files\\程序\\a.exe");
    ASSERT_EQ(recorder.calls.size(), 1u);
    EXPECT_EQ(recorder.calls[0].verb, L"properties");
    EXPECT_EQ(recorder.calls[0].file, L"C:\\Program Files\\程序\\a.exe");
    EXPECT_TRUE(recorder.calls[0].parameters.empty());
    EXPECT_TRUE(recorder.calls[0].invokeIdList);
}

TEST(Win32Shell, DocumentsOpenAndAddressesTakeTheirDefaultAction) {
    const struct {
        const char* target;
        const wchar_t* verb;
    } cases[] = {
        {"C:\\Kestrel\\KestrelHelp.chm", L"open"},
        {"\\\\server\\kestrel\\KestrelHelp.chm", L"open"},
        {"https://kestrel.example.org/", L""},
        {"https://kestrel.example.org/update", L""},
    };
    for (const auto& c : cases) {
        RecordingShell recorder;
        recorder.shell.openDocument(c.target);
        ASSERT_EQ(recorder.calls.size(), 1u) << c.target;
        EXPECT_EQ(recorder.calls[0].verb, c.verb) << c.target;
        EXPECT_EQ(recorder.calls[0].file, win32::WideFromUtf8(c.target));
        EXPECT_FALSE(recorder.calls[0].invokeIdList);
    }
}

TEST(Win32Shell, HelpSectionsOpenAtTheirAnchor) {
    RecordingShell compiled;
    compiled.shell.openHelpSection("C:\\Program Files\\Kestrel\\KestrelHelp.CHM", "about");
    ASSERT_EQ(compiled.calls.size(), 1u);
    EXPECT_EQ(compiled.calls[0].file, L"hh.exe");
    EXPECT_EQ(
        compiled.calls[0].parameters,
        L"mk:@MSITStore:C:\\Program Files\\Kestrel\\KestrelHelp.CHM::/KestrelHelp.html#about");

    RecordingShell page;
    page.shell.openHelpSection("C:\\My Kestrel#2\\KestrelHelp.html", "updates");
    ASSERT_EQ(page.calls.size(), 1u);
    EXPECT_EQ(page.calls[0].file, L"file:///C:/My%20Kestrel%232/KestrelHelp.html#updates");
    EXPECT_TRUE(page.calls[0].parameters.empty());

    RecordingShell none;
    none.shell.openHelpSection("", "about");
    EXPECT_TRUE(none.calls.empty());
}

TEST(Win32Shell, EmptyTargetsAskNothing) {
    RecordingShell recorder;
    recorder.shell.openDocument("");
    recorder.shell.selectInFileManager("");
    recorder.shell.showProperties("");
    EXPECT_TRUE(recorder.calls.empty());
}

TEST(Win32PopupMenu, ClosedWithoutAChoiceRunsNothing) {
    TestWindow owner;
    const HMENU menu = ::CreatePopupMenu();
    ASSERT_NE(menu, nullptr);
    ::AppendMenuW(menu, MF_STRING, 101, L"进程信息");
    ::AppendMenuW(menu, MF_STRING, 102, L"拷贝到剪贴板");
    std::vector<unsigned> run;
    win32ui::Win32PopupMenu popup(owner.handle(), menu, [&](unsigned id) { run.push_back(id); });

    MenuDriver::keys.clear();
    MenuDriver::ended = false;
    MenuDriver::ticks = 0;
    const UINT_PTR timer = ::SetTimer(nullptr, 0, 20, &MenuDriver::onTimer);
    ASSERT_NE(timer, 0u);
    popup.popup(ScreenPoint{50, 50});
    ::KillTimer(nullptr, timer);
    EXPECT_TRUE(MenuDriver::ended);
    EXPECT_TRUE(run.empty());
    ::DestroyMenu(menu);
}

TEST(Win32PopupMenu, AChosenItemRunsItsCommandAfterTheMenuClosed) {
    TestWindow owner;
    const HMENU menu = ::CreatePopupMenu();
    ::AppendMenuW(menu, MF_STRING, 101, L"进程信息");
    ::AppendMenuW(menu, MF_STRING | MF_GRAYED, 102, L"结束进程(&E)");
    ::AppendMenuW(menu, MF_STRING, 103, L"拷贝到剪贴板");
    std::vector<unsigned> run;
    bool menuOpenWhileRunning = false;
    win32ui::Win32PopupMenu popup(owner.handle(), menu, [&](unsigned id) {
        run.push_back(id);
        menuOpenWhileRunning = openMenuWindow() != nullptr;
    });

    // Down to the third item (past the disabled one), Enter.
    MenuDriver::keys = {VK_DOWN, VK_DOWN, VK_DOWN, VK_RETURN};
    MenuDriver::ended = false;
    MenuDriver::ticks = 0;
    const UINT_PTR timer = ::SetTimer(nullptr, 0, 20, &MenuDriver::onTimer);
    popup.popup(ScreenPoint{50, 50});
    ::KillTimer(nullptr, timer);
    EXPECT_EQ(run, std::vector<unsigned>{103});
    EXPECT_FALSE(menuOpenWhileRunning);
    ::DestroyMenu(menu);
}

TEST(Win32PopupMenu, WithoutMenuOrOwnerNothingOpens) {
    TestWindow owner;
    std::vector<unsigned> run;
    win32ui::Win32PopupMenu(owner.handle(), nullptr, [&](unsigned id) {
        run.push_back(id);
    }).popup(ScreenPoint{0, 0});
    const HMENU menu = ::CreatePopupMenu();
    win32ui::Win32PopupMenu(nullptr, menu, [&](unsigned id) {
        run.push_back(id);
    }).popup(ScreenPoint{0, 0});
    ::DestroyMenu(menu);
    EXPECT_TRUE(run.empty());
}

TEST(Win32CommandComponents, GiveEveryPieceTheCommandsNeed) {
    const ClipboardLock lock;
    TestWindow owner;
    const HMENU menu = ::CreatePopupMenu();
    const HMENU options = ::CreatePopupMenu();
    win32ui::Win32CommandComponents components(
        owner.handle(), menu, options, owner.handle(), [](unsigned) {},
        [] { return static_cast<HIMAGELIST>(nullptr); });
    const TFormKestrelCommands commands = components.commands();
    EXPECT_NE(commands.PmTree, nullptr);
    EXPECT_NE(commands.PmOptions, nullptr);
    EXPECT_NE(commands.Shell, nullptr);
    EXPECT_NE(commands.Clipboard, nullptr);
    EXPECT_NE(commands.SaveDialog, nullptr);
    ASSERT_NE(commands.ProcInfoDialogs, nullptr);
    EXPECT_NE(commands.ProcInfoDialogs->createProcInfoView(), nullptr);

    commands.Clipboard->setText("a\nb");
    EXPECT_EQ(clipboardText(owner.handle()), L"a\r\nb");
    ::DestroyMenu(menu);
    ::DestroyMenu(options);
}

TEST(HelpFile, TheCompiledHelpNextToTheProgramFirstThenTheHtml) {
    TempDir tree;
    std::string exeDir = tree.path() + "/";
    const std::vector<std::string> candidates = HelpFileCandidates(exeDir);
    ASSERT_EQ(candidates.size(), 2u);
    EXPECT_EQ(candidates[0], exeDir + "KestrelHelp.chm");
    EXPECT_EQ(candidates[1], exeDir + "KestrelHelp.html");

    // Nothing there: the compiled help's name, so the shell can say what is missing.
    EXPECT_EQ(HelpFilePath(exeDir), candidates[0]);
    writeTextFile(candidates[1], "<html></html>");
    EXPECT_EQ(HelpFilePath(exeDir), candidates[1]);
    writeTextFile(candidates[0], "ITSF");
    EXPECT_EQ(HelpFilePath(exeDir), candidates[0]);

    EXPECT_TRUE(HelpFileCandidates("").empty());
    EXPECT_EQ(HelpFilePath(""), "KestrelHelp.chm");
}

} // namespace
