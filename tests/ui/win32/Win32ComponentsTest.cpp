// The Win32 components under Wine: each mirrors the logic's state onto its control and turns
// the control's notifications into the logic's events, errors going to the report.
#include <chrono>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include "ui/Components.h"
#include "ui/pictures/refresh.xpm"
#include "ui/win32/Win32Components.h"
#include "ui/win32/Win32WindowTestSupport.h"
#include "ui/win32/XpmPicture.h"

using namespace win32ui;
using win32test::windowText;

namespace {

struct RecordingReport : ui::ErrorReport {
    std::vector<std::string> errors;
    void showError(const std::string& text) override { errors.push_back(text); }
};

LRESULT CALLBACK parentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (reflectControlMessage(message, wParam, lParam, result))
        return result;
    if (message == WM_TIMER) {
        auto* timer = reinterpret_cast<Win32Timer*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
        if (timer && wParam == timer->timerId()) {
            timer->fired();
            return 0;
        }
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

// A top-level window that reflects its controls' messages, as the main window does.
class ParentWindow {
public:
    ParentWindow() {
        static const bool registered = [] {
            WNDCLASSEXW windowClass{};
            windowClass.cbSize = sizeof(windowClass);
            windowClass.lpfnWndProc = parentProc;
            windowClass.hInstance = ::GetModuleHandleW(nullptr);
            windowClass.lpszClassName = L"KestrelComponentsTestParent";
            return ::RegisterClassExW(&windowClass) != 0;
        }();
        EXPECT_TRUE(registered);
        m_window =
            ::CreateWindowExW(0, L"KestrelComponentsTestParent", L"parent", WS_OVERLAPPEDWINDOW, 0,
                              0, 400, 300, nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    }
    ~ParentWindow() { ::DestroyWindow(m_window); }
    HWND handle() const { return m_window; }
    void setTimer(Win32Timer* timer) {
        ::SetWindowLongPtrW(m_window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(timer));
    }

private:
    HWND m_window = nullptr;
};

class Win32ComponentsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(parent.handle(), nullptr); }

    void notify(const Win32Control& control, WORD code) {
        ::SendMessageW(parent.handle(), WM_COMMAND,
                       MAKEWPARAM(::GetDlgCtrlID(control.handle()), code),
                       reinterpret_cast<LPARAM>(control.handle()));
    }

    ParentWindow parent;
    RecordingReport report;
};

COLORREF pixelAt(HDC dc, int x, int y) {
    return ::GetPixel(dc, x, y);
}

// Draws `button` through its parent's WM_DRAWITEM into a memory bitmap.
struct Drawn {
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ previous = nullptr;
    ~Drawn() {
        ::SelectObject(dc, previous);
        ::DeleteObject(bitmap);
        ::DeleteDC(dc);
    }
};

std::unique_ptr<Drawn> drawButton(HWND parent, const Win32Button& button, UINT state, int width,
                                  int height) {
    auto drawn = std::make_unique<Drawn>();
    HDC screen = ::GetDC(nullptr);
    drawn->dc = ::CreateCompatibleDC(screen);
    drawn->bitmap = ::CreateCompatibleBitmap(screen, width, height);
    ::ReleaseDC(nullptr, screen);
    drawn->previous = ::SelectObject(drawn->dc, drawn->bitmap);
    DRAWITEMSTRUCT item{};
    item.CtlType = ODT_BUTTON;
    item.CtlID = static_cast<UINT>(::GetDlgCtrlID(button.handle()));
    item.itemAction = ODA_DRAWENTIRE;
    item.itemState = state;
    item.hwndItem = button.handle();
    item.hDC = drawn->dc;
    item.rcItem = RECT{0, 0, width, height};
    ::SendMessageW(parent, WM_DRAWITEM, item.CtlID, reinterpret_cast<LPARAM>(&item));
    return drawn;
}

TEST_F(Win32ComponentsTest, ButtonMirrorsCaptionAndEnabledState) {
    Win32Button button(parent.handle(), 10, Picture{}, report);
    button.setCaption("刷新");
    EXPECT_EQ(windowText(button.handle()), "刷新");
    EXPECT_TRUE(::IsWindowEnabled(button.handle()));
    button.setEnabled(false);
    EXPECT_FALSE(::IsWindowEnabled(button.handle()));
    button.setEnabled(true);
    EXPECT_TRUE(::IsWindowEnabled(button.handle()));
}

TEST_F(Win32ComponentsTest, ButtonClicksReachTheHandler) {
    Win32Button button(parent.handle(), 10, Picture{}, report);
    // A click counts where the button is.
    button.setBounds(0, 0, 80, 26);
    int clicks = 0;
    button.setOnClick([&] { ++clicks; });
    ::SendMessageW(button.handle(), BM_CLICK, 0, 0);
    EXPECT_EQ(clicks, 1);
    notify(button, BN_CLICKED);
    EXPECT_EQ(clicks, 2);
    // The second click of a quick double click arrives as a double click.
    notify(button, BN_DOUBLECLICKED);
    EXPECT_EQ(clicks, 3);
    // Other notifications are no clicks.
    notify(button, BN_SETFOCUS);
    EXPECT_EQ(clicks, 3);
    EXPECT_TRUE(report.errors.empty());
}

TEST_F(Win32ComponentsTest, ThrowingHandlersReachTheReportAndTheProgramGoesOn) {
    Win32Button button(parent.handle(), 10, Picture{}, report);
    int clicks = 0;
    button.setOnClick([&] {
        ++clicks;
        throw std::runtime_error("Unable to write to C:\\Kestrel.ini");
    });
    notify(button, BN_CLICKED);
    notify(button, BN_CLICKED);
    EXPECT_EQ(clicks, 2);
    EXPECT_EQ(report.errors, (std::vector<std::string>{"Unable to write to C:\\Kestrel.ini",
                                                       "Unable to write to C:\\Kestrel.ini"}));

    Win32CheckBox box(parent.handle(), 11, report);
    box.setOnClick([] { throw 42; });
    notify(box, BN_CLICKED);
    ASSERT_EQ(report.errors.size(), 3u);
    EXPECT_EQ(report.errors.back(), "Unknown error");
    // The new state stays, as a click that failed in its handler leaves it.
    EXPECT_TRUE(box.checked());
    EXPECT_EQ(::SendMessageW(box.handle(), BM_GETCHECK, 0, 0), BST_CHECKED);
}

TEST_F(Win32ComponentsTest, ButtonPaintsFaceHotTrackAndPressedColours) {
    const char* const* lines = refresh;
    Win32Button button(parent.handle(), 10, parseXpm(lines, std::size(refresh)), report);
    button.setCaption("刷新");
    struct Case {
        const char* name;
        bool hot;
        UINT state;
        COLORREF face;
    };
    const Case cases[] = {
        {"normal", false, 0, RGB(0xF4, 0xF4, 0xF0)},
        {"hot", true, 0, RGB(0xFF, 0xC7, 0x3C)},
        {"pressed", true, ODS_SELECTED, RGB(0x6A, 0x8D, 0xF4)},
        {"disabled", true, ODS_DISABLED, RGB(0xF4, 0xF4, 0xF0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.hot)
            ::SendMessageW(button.handle(), WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
        else
            ::SendMessageW(button.handle(), WM_MOUSELEAVE, 0, 0);
        EXPECT_EQ(button.hot(), c.hot);
        const auto drawn = drawButton(parent.handle(), button, c.state, 80, 26);
        // Inside the one-pixel border, away from the picture and the caption.
        EXPECT_EQ(pixelAt(drawn->dc, 2, 2), c.face);
        EXPECT_EQ(pixelAt(drawn->dc, 77, 23), c.face);
    }
}

TEST_F(Win32ComponentsTest, DisabledButtonShowsAGreyedPicture) {
    const char* const* lines = refresh;
    const Picture picture = parseXpm(lines, std::size(refresh));
    ASSERT_EQ(picture.width, 16);
    Win32Button button(parent.handle(), 10, picture, report);
    // No caption: the picture sits in the middle of a 26 x 26 button, at (5, 5).
    auto pictureColours = [&](UINT state) {
        const auto drawn = drawButton(parent.handle(), button, state, 26, 26);
        std::vector<COLORREF> colours;
        for (int y = 0; y < 16; ++y) {
            for (int x = 0; x < 16; ++x)
                colours.push_back(pixelAt(drawn->dc, 5 + x, 5 + y));
        }
        return colours;
    };
    const std::vector<COLORREF> normal = pictureColours(0);
    const std::vector<COLORREF> disabled = pictureColours(ODS_DISABLED);
    // Grey over the face #F4F4F0: red and green equal, blue at most 4 below.
    bool coloured = false;
    for (std::size_t i = 0; i < normal.size(); ++i) {
        const int red = GetRValue(disabled[i]);
        const int green = GetGValue(disabled[i]);
        const int blue = GetBValue(disabled[i]);
        EXPECT_EQ(red, green) << "pixel " << i;
        EXPECT_LE(std::abs(green - blue), 4) << "pixel " << i;
        if (std::abs(GetRValue(normal[i]) - GetGValue(normal[i])) > 16 ||
            std::abs(GetGValue(normal[i]) - GetBValue(normal[i])) > 16)
            coloured = true;
    }
    EXPECT_TRUE(coloured) << "the enabled picture was not drawn";
}

TEST_F(Win32ComponentsTest, CheckBoxClickTogglesOnceAndMirrorsCodeChanges) {
    Win32CheckBox box(parent.handle(), 11, report);
    box.setBounds(0, 0, 145, 17);
    box.setCaption("显示本地连接");
    EXPECT_EQ(windowText(box.handle()), "显示本地连接");
    std::vector<bool> seen;
    box.setOnClick([&] { seen.push_back(box.checked()); });

    ::SendMessageW(box.handle(), BM_CLICK, 0, 0);
    EXPECT_EQ(seen, std::vector<bool>{true});
    EXPECT_EQ(::SendMessageW(box.handle(), BM_GETCHECK, 0, 0), BST_CHECKED);

    ::SendMessageW(box.handle(), BM_CLICK, 0, 0);
    EXPECT_EQ(seen, (std::vector<bool>{true, false}));
    EXPECT_EQ(::SendMessageW(box.handle(), BM_GETCHECK, 0, 0), BST_UNCHECKED);

    // From code: a different state runs the handler and shows on screen; the same does nothing.
    box.setChecked(true);
    EXPECT_EQ(seen, (std::vector<bool>{true, false, true}));
    EXPECT_EQ(::SendMessageW(box.handle(), BM_GETCHECK, 0, 0), BST_CHECKED);
    box.setChecked(true);
    EXPECT_EQ(seen.size(), 3u);
}

TEST_F(Win32ComponentsTest, CheckBoxIsAsWideAsItsText) {
    Win32CheckBox shortBox(parent.handle(), 11, report);
    Win32CheckBox longBox(parent.handle(), 12, report);
    HFONT font = createInterfaceFont(11, false);
    shortBox.setFont(font);
    longBox.setFont(font);
    shortBox.setCaption("自动刷新");
    longBox.setCaption("始终保持在其他窗口前端");
    const int shortWidth = shortBox.idealWidth(96);
    const int longWidth = longBox.idealWidth(96);
    EXPECT_GT(shortWidth, measureText("自动刷新", font).cx);
    EXPECT_GT(longWidth, shortWidth);
    // Scaled with the DPI: the text is measured in the font given, the box glyph scales.
    EXPECT_GT(shortBox.idealWidth(192), shortWidth);
    shortBox.setFont(nullptr);
    longBox.setFont(nullptr);
    ::DeleteObject(font);
}

TEST_F(Win32ComponentsTest, StaticColoursAnswerTheParentsQuestion) {
    Win32Label label(parent.handle(), 13);
    label.setColours(RGB(255, 0, 0), RGB(0xEC, 0xF5, 0xF8));
    HDC dc = ::CreateCompatibleDC(nullptr);
    const LRESULT brush =
        ::SendMessageW(parent.handle(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                       reinterpret_cast<LPARAM>(label.handle()));
    EXPECT_NE(brush, 0);
    EXPECT_EQ(::GetTextColor(dc), RGB(255, 0, 0));
    EXPECT_EQ(::GetBkColor(dc), RGB(0xEC, 0xF5, 0xF8));
    ::DeleteDC(dc);
}

TEST_F(Win32ComponentsTest, LabelMirrorsCaptionAndTellsItsOwner) {
    Win32Label label(parent.handle(), 13);
    int changes = 0;
    label.setOnCaptionChanged([&] { ++changes; });
    label.setCaption("12345");
    EXPECT_EQ(windowText(label.handle()), "12345");
    EXPECT_EQ(changes, 1);
    label.setCaption("12345");
    EXPECT_EQ(changes, 1);
    const SIZE five = label.textSize();
    label.setCaption("1");
    EXPECT_LT(label.textSize().cx, five.cx);
}

TEST_F(Win32ComponentsTest, TimerFollowsItsScheduleAndTicksThroughTheWindow) {
    Win32Timer timer(parent.handle(), 7, report);
    parent.setTimer(&timer);
    int ticks = 0;
    timer.setOnTimer([&] { ++ticks; });
    EXPECT_FALSE(timer.running());

    timer.setInterval(10);
    EXPECT_FALSE(timer.running()) << "a disabled timer is not set";
    timer.setEnabled(true);
    EXPECT_TRUE(timer.running());
    EXPECT_TRUE(win32test::pumpUntil([&] { return ticks >= 2; }));

    timer.setEnabled(false);
    EXPECT_FALSE(timer.running());
    const int stopped = ticks;
    // A WM_TIMER still queued when the timer stopped does not tick.
    ::SendMessageW(parent.handle(), WM_TIMER, 7, 0);
    EXPECT_EQ(ticks, stopped);

    timer.setEnabled(true);
    timer.setInterval(0);
    EXPECT_FALSE(timer.running()) << "no interval, no timer";
    parent.setTimer(nullptr);
}

TEST_F(Win32ComponentsTest, TimerErrorsReachTheReport) {
    Win32Timer timer(parent.handle(), 7, report);
    timer.setOnTimer([] { throw std::runtime_error("refresh failed"); });
    timer.setEnabled(true);
    timer.fired();
    EXPECT_EQ(report.errors, std::vector<std::string>{"refresh failed"});
}

TEST_F(Win32ComponentsTest, MenuItemMirrorsStateAndRunsOnlyWhileEnabled) {
    HMENU menu = ::CreatePopupMenu();
    ASSERT_NE(menu, nullptr);
    ASSERT_TRUE(::AppendMenuW(menu, MF_STRING, 201, L"定位文件"));
    Win32MenuItem item(menu, 201, report);
    EXPECT_EQ(item.caption(), "定位文件");
    EXPECT_TRUE(item.enabled());
    int clicks = 0;
    item.setOnClick([&] { ++clicks; });

    item.activate();
    EXPECT_EQ(clicks, 1);
    item.setEnabled(false);
    EXPECT_NE(::GetMenuState(menu, 201, MF_BYCOMMAND) & MF_GRAYED, 0u);
    item.activate();
    EXPECT_EQ(clicks, 1);

    item.setCaption("属性(&R)");
    wchar_t text[64] = {};
    ::GetMenuStringW(menu, 201, text, 64, MF_BYCOMMAND);
    EXPECT_EQ(std::wstring(text), L"属性(&R)");
    // A new caption keeps the state.
    EXPECT_NE(::GetMenuState(menu, 201, MF_BYCOMMAND) & MF_GRAYED, 0u);
    item.setEnabled(true);
    EXPECT_EQ(::GetMenuState(menu, 201, MF_BYCOMMAND) & MF_GRAYED, 0u);

    item.setOnClick([] { throw std::runtime_error("cannot"); });
    item.activate();
    EXPECT_EQ(report.errors, std::vector<std::string>{"cannot"});
    ::DestroyMenu(menu);
}

TEST_F(Win32ComponentsTest, MessageBoxesAreOwnedCaptionedAndAnswered) {
    Win32MessageBoxes boxes(parent.handle());
    struct Case {
        const char* name;
        ui::DefaultButton defaultButton;
        int press;
        ui::Answer answer;
    };
    const Case cases[] = {
        {"yes by default, answered yes", ui::DefaultButton::Yes, IDYES, ui::Answer::Yes},
        {"no by default, answered no", ui::DefaultButton::No, IDNO, ui::Answer::No},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        win32test::BoxAnswerer answerer(L"提问", c.press);
        const ui::Answer answer = boxes.askYesNo("仍要结束?", "提问", c.defaultButton);
        answerer.finish();
        EXPECT_EQ(answer, c.answer);
        EXPECT_TRUE(answerer.seen());
        EXPECT_EQ(answerer.text(), "仍要结束?");
        EXPECT_EQ(answerer.defaultButton(),
                  c.defaultButton == ui::DefaultButton::Yes ? IDYES : IDNO);
        EXPECT_EQ(answerer.owner(), parent.handle());
    }

    win32test::BoxAnswerer errorAnswerer(L"Kestrel", IDOK);
    boxes.showError("Unable to write to C:\\Kestrel.ini");
    errorAnswerer.finish();
    EXPECT_TRUE(errorAnswerer.seen());
    EXPECT_EQ(errorAnswerer.text(), "Unable to write to C:\\Kestrel.ini");

    win32test::BoxAnswerer messageAnswerer(L"Kestrel", IDOK);
    boxes.showMessage("系统进程，不能结束。");
    messageAnswerer.finish();
    EXPECT_TRUE(messageAnswerer.seen());
    EXPECT_EQ(messageAnswerer.text(), "系统进程，不能结束。");
}

TEST(Win32InterfaceFont, IsMadeAndScales) {
    HFONT small = createInterfaceFont(11, false);
    HFONT large = createInterfaceFont(22, true);
    ASSERT_NE(small, nullptr);
    ASSERT_NE(large, nullptr);
    EXPECT_FALSE(interfaceFontFace().empty());
    EXPECT_GT(measureText("当前有", large).cx, measureText("当前有", small).cx);
    ::DeleteObject(small);
    ::DeleteObject(large);
    EXPECT_EQ(scaled(34, 96), 34);
    EXPECT_EQ(scaled(34, 144), 51);
    EXPECT_EQ(scaled(17, 120), 21);
}

TEST(Win32Dpi, FramesAndMetricsFollowTheDpi) {
    EXPECT_EQ(windowDpi(::GetDesktopWindow()), 96);
    RECT frame{0, 0, 746, 433};
    ASSERT_TRUE(adjustWindowRectForDpi(frame, WS_OVERLAPPEDWINDOW, 0, 96));
    EXPECT_GT(frame.right - frame.left, 746);
    EXPECT_GT(frame.bottom - frame.top, 433);
    EXPECT_GT(systemMetricForDpi(SM_CXICON, 96), 0);
}

} // namespace
