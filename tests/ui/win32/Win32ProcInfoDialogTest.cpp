#include "ui/win32/Win32ProcInfoDialog.h"

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "win32/WinText.h"

namespace {

using win32ui::Win32ProcInfoDialog;

class RecordingShell : public ShellRequests {
public:
    void openDocument(const std::string& target) override { opened.push_back(target); }
    void selectInFileManager(const std::string& path) override { selected.push_back(path); }
    void showProperties(const std::string& path) override { properties.push_back(path); }
    std::vector<std::string> opened;
    std::vector<std::string> selected;
    std::vector<std::string> properties;
};

TMyRec sampleRow() {
    TMyRec rec;
    rec.Protocol = "TCP";
    rec.PID = "42";
    rec.ProcName = "网络 & 程序.exe";
    rec.ProcPath = "C:\\Program Files\\网络\\a b.exe";
    return rec; // no description, no company
}

std::string windowText(HWND window) {
    wchar_t buffer[512] = {};
    const int length = ::GetWindowTextW(window, buffer, 512);
    return win32::Utf8FromWide(buffer, static_cast<std::size_t>(length > 0 ? length : 0));
}

RECT childRect(HWND dialog, HWND child) {
    RECT rect{};
    ::GetWindowRect(child, &rect);
    ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

// Runs the dialog's modal loop for `rec`; `whileOpen` runs once from inside it, when the
// window exists. A dialog still open after ten seconds is ended by force and reported.
struct DialogRun {
    static inline Win32ProcInfoDialog* view = nullptr;
    static inline std::function<void(Win32ProcInfoDialog&)> whileOpen;
    static inline bool ran = false;
    static inline bool forced = false;
    static inline int ticks = 0;

    static void CALLBACK onTimer(HWND, UINT, UINT_PTR, DWORD) {
        if (view == nullptr || view->handle() == nullptr)
            return;
        if (!ran) {
            ran = true;
            whileOpen(*view);
            return;
        }
        if (++ticks > 1000) {
            forced = true;
            ::EndDialog(view->handle(), IDABORT);
        }
    }

    static void run(Win32ProcInfoDialog& dialog, ShellRequests& shell, const TMyRec& rec, int icon,
                    std::function<void(Win32ProcInfoDialog&)> step) {
        view = &dialog;
        whileOpen = std::move(step);
        ran = false;
        forced = false;
        ticks = 0;
        const UINT_PTR timer = ::SetTimer(nullptr, 0, 10, &DialogRun::onTimer);
        ASSERT_NE(timer, 0u);
        TFormProcInfo form(dialog, shell);
        form.Show(rec, icon);
        ::KillTimer(nullptr, timer);
        view = nullptr;
        EXPECT_TRUE(ran) << "the dialog never showed";
        EXPECT_FALSE(forced) << "the dialog did not close";
        EXPECT_EQ(dialog.handle(), nullptr);
    }
};

// Paints one control into a 32-bit bitmap of its size, as it would paint itself on screen.
class ControlPicture {
public:
    explicit ControlPicture(HWND control) {
        RECT rect{};
        ::GetClientRect(control, &rect);
        m_width = rect.right;
        m_height = rect.bottom;
        BITMAPINFO info;
        std::memset(&info, 0, sizeof info);
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = m_width;
        info.bmiHeader.biHeight = -m_height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        m_dc = ::CreateCompatibleDC(nullptr);
        m_bitmap = ::CreateDIBSection(m_dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        m_bits = static_cast<const std::uint32_t*>(bits);
        m_old = ::SelectObject(m_dc, m_bitmap);
        ::SendMessageW(control, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(m_dc),
                       PRF_CLIENT | PRF_ERASEBKGND);
        ::GdiFlush();
    }
    ~ControlPicture() {
        ::SelectObject(m_dc, m_old);
        ::DeleteObject(m_bitmap);
        ::DeleteDC(m_dc);
    }
    ControlPicture(const ControlPicture&) = delete;
    ControlPicture& operator=(const ControlPicture&) = delete;

    // 0xRRGGBB of one pixel; 0xFFFFFFFF outside.
    std::uint32_t rgb(int x, int y) const {
        if (m_bits == nullptr || x < 0 || y < 0 || x >= m_width || y >= m_height)
            return 0xFFFFFFFFu;
        return m_bits[y * m_width + x] & 0xFFFFFFu;
    }
    int width() const { return m_width; }
    int height() const { return m_height; }

private:
    int m_width = 0;
    int m_height = 0;
    HDC m_dc = nullptr;
    HBITMAP m_bitmap = nullptr;
    HGDIOBJ m_old = nullptr;
    const std::uint32_t* m_bits = nullptr;
};

std::uint32_t rgbOf(ProcInfoRgb colour) {
    return (std::uint32_t{colour.red} << 16) | (std::uint32_t{colour.green} << 8) | colour.blue;
}

// A 32 x 32 image list holding one opaque red picture.
class RedIconList {
public:
    RedIconList() : m_list(::ImageList_Create(32, 32, ILC_COLOR32 | ILC_MASK, 1, 1)) {
        BITMAPINFO info;
        std::memset(&info, 0, sizeof info);
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = 32;
        info.bmiHeader.biHeight = -32;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        const HBITMAP picture =
            ::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        auto* pixels = static_cast<std::uint32_t*>(bits);
        for (int i = 0; i < 32 * 32; ++i)
            pixels[i] = 0xFFFF0000u;
        const HBITMAP mask = ::CreateBitmap(32, 32, 1, 1, nullptr);
        ::ImageList_Add(m_list, picture, mask);
        ::DeleteObject(picture);
        ::DeleteObject(mask);
    }
    ~RedIconList() { ::ImageList_Destroy(m_list); }
    RedIconList(const RedIconList&) = delete;
    RedIconList& operator=(const RedIconList&) = delete;
    HIMAGELIST handle() const { return m_list; }

private:
    HIMAGELIST m_list;
};

class ProcInfoDialogAtDpi : public testing::TestWithParam<int> {};

// 0: the system's DPI; 144: 150 %, where every design pixel size must be scaled.
INSTANTIATE_TEST_SUITE_P(Win32ProcInfoDialog, ProcInfoDialogAtDpi, testing::Values(0, 144));

TEST_P(ProcInfoDialogAtDpi, ShowsACopyOfTheRowInTheLaidOutControls) {
    RecordingShell shell;
    const int fixedDpi = GetParam();
    Win32ProcInfoDialog dialog(nullptr, {}, fixedDpi);
    DialogRun::run(dialog, shell, sampleRow(), -1, [fixedDpi](Win32ProcInfoDialog& view) {
        if (fixedDpi != 0) {
            EXPECT_EQ(view.dpi(), fixedDpi);
        }
        const HWND window = view.handle();
        EXPECT_EQ(windowText(window), "进程详细信息");
        const struct {
            ProcInfoControl control;
            const char* text;
        } texts[] = {
            {ProcInfoControl::LabExe, "网络 & 程序.exe"},
            {ProcInfoControl::LabExeDes, "  "},
            {ProcInfoControl::LabPID, "PID:42"},
            {ProcInfoControl::Labcomp, " "},
            {ProcInfoControl::Label5, "文件路径: "},
            {ProcInfoControl::EPath, "C:\\Program Files\\网络\\a b.exe"},
            {ProcInfoControl::LabLocate, "定位文件"},
            {ProcInfoControl::BTNOK, "确定"},
        };
        for (const auto& t : texts) {
            ASSERT_NE(view.control(t.control), nullptr) << t.text;
            EXPECT_EQ(windowText(view.control(t.control)), t.text);
        }

        // The layout, scaled to the dialog's DPI.
        const auto scaled = [&view](int pixels) { return ::MulDiv(pixels, view.dpi(), 96); };
        RECT client{};
        ::GetClientRect(window, &client);
        EXPECT_EQ(client.right, scaled(ProcInfoLook::ClientWidth));
        EXPECT_EQ(client.bottom, scaled(ProcInfoLook::ClientHeight));
        for (const ProcInfoPlacement& place : ProcInfoLook::Placements()) {
            if (place.control == ProcInfoControl::Panel1)
                continue;
            const RECT rect = childRect(window, view.control(place.control));
            EXPECT_EQ(rect.left, scaled(place.left)) << static_cast<int>(place.control);
            EXPECT_EQ(rect.top, scaled(place.top)) << static_cast<int>(place.control);
            if (place.width > 0) {
                EXPECT_EQ(rect.right - rect.left, scaled(place.width));
                EXPECT_EQ(rect.bottom - rect.top, scaled(place.height));
            } else {
                EXPECT_GT(rect.bottom - rect.top, 0) << "a label sized to its text";
            }
        }
        // The font is scaled too: a label is as tall as a line of it.
        const RECT pidBox = childRect(window, view.control(ProcInfoControl::LabPID));
        EXPECT_GE(pidBox.bottom - pidBox.top, scaled(ProcInfoLook::FontPixelHeight));
        // Labels grow with their text.
        const RECT name = childRect(window, view.control(ProcInfoControl::LabExe));
        const RECT pid = childRect(window, view.control(ProcInfoControl::LabPID));
        EXPECT_GT(name.right - name.left, pid.right - pid.left);

        // The button has the focus and comes first in the tab order, then the path.
        const HWND ok = view.control(ProcInfoControl::BTNOK);
        const HWND path = view.control(ProcInfoControl::EPath);
        EXPECT_EQ(::GetFocus(), ok);
        EXPECT_EQ(::GetNextDlgTabItem(window, ok, FALSE), path);
        EXPECT_EQ(::GetNextDlgTabItem(window, path, FALSE), ok);
        EXPECT_TRUE(::GetWindowLongW(path, GWL_STYLE) & ES_READONLY);
        EXPECT_FALSE(::IsWindowEnabled(view.control(ProcInfoControl::LabExeDes)));
        EXPECT_TRUE(::IsWindowEnabled(view.control(ProcInfoControl::LabExe)));

        ::PostMessageW(ok, BM_CLICK, 0, 0);
    });
}

TEST(Win32ProcInfoDialog, EveryWayOfClosingEndsTheModalRun) {
    const struct {
        const char* name;
        std::function<void(Win32ProcInfoDialog&)> close;
    } cases[] = {
        {"OK button",
         [](Win32ProcInfoDialog& view) {
             ::PostMessageW(view.control(ProcInfoControl::BTNOK), BM_CLICK, 0, 0);
         }},
        {"Enter",
         [](Win32ProcInfoDialog& view) {
             const HWND ok = view.control(ProcInfoControl::BTNOK);
             ::PostMessageW(ok, WM_KEYDOWN, VK_RETURN, 0);
             ::PostMessageW(ok, WM_KEYUP, VK_RETURN, 0);
         }},
        {"Esc",
         [](Win32ProcInfoDialog& view) {
             const HWND ok = view.control(ProcInfoControl::BTNOK);
             ::PostMessageW(ok, WM_KEYDOWN, VK_ESCAPE, 0);
             ::PostMessageW(ok, WM_KEYUP, VK_ESCAPE, 0);
         }},
        {"Enter on the path",
         [](Win32ProcInfoDialog& view) {
             const HWND path = view.control(ProcInfoControl::EPath);
             ::SetFocus(path);
             ::PostMessageW(path, WM_KEYDOWN, VK_RETURN, 0);
         }},
        {"close button",
         [](Win32ProcInfoDialog& view) { ::PostMessageW(view.handle(), WM_CLOSE, 0, 0); }},
        {"from code", [](Win32ProcInfoDialog& view) { view.closeDialog(); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingShell shell;
        Win32ProcInfoDialog dialog(nullptr, {});
        DialogRun::run(dialog, shell, sampleRow(), -1, c.close);
        EXPECT_TRUE(shell.selected.empty());
    }
}

TEST(Win32ProcInfoDialog, ClosedBeforeItIsShownItReturnsAtOnce) {
    RecordingShell shell;
    Win32ProcInfoDialog dialog(nullptr, {});
    dialog.closeDialog();
    TFormProcInfo form(dialog, shell);
    form.Show(sampleRow(), -1);
    EXPECT_EQ(dialog.handle(), nullptr);
}

TEST(Win32ProcInfoDialog, TheLinkLocatesTheFileAndTheDialogStaysOpen) {
    RecordingShell shell;
    Win32ProcInfoDialog dialog(nullptr, {});
    DialogRun::run(dialog, shell, sampleRow(), -1, [&shell](Win32ProcInfoDialog& view) {
        const HWND link = view.control(ProcInfoControl::LabLocate);
        ASSERT_TRUE(::GetWindowLongW(link, GWL_STYLE) & SS_NOTIFY);
        ::SendMessageW(link, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
        ::SendMessageW(link, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
        EXPECT_EQ(shell.selected, std::vector<std::string>{"C:\\Program Files\\网络\\a b.exe"});
        EXPECT_NE(view.handle(), nullptr);
        EXPECT_TRUE(::IsWindow(view.handle()));
        view.closeDialog();
    });
}

TEST(Win32ProcInfoDialog, OwnerIsDisabledWhileOpenAndTheDialogSitsOverIt) {
    const HWND owner =
        ::CreateWindowExW(0, L"STATIC", L"Kestrel", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100, 700,
                          500, nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(owner, nullptr);
    RecordingShell shell;
    Win32ProcInfoDialog dialog(owner, {});
    DialogRun::run(dialog, shell, sampleRow(), -1, [owner](Win32ProcInfoDialog& view) {
        EXPECT_FALSE(::IsWindowEnabled(owner));
        EXPECT_EQ(::GetWindow(view.handle(), GW_OWNER), owner);
        RECT outer{};
        RECT box{};
        ::GetWindowRect(owner, &outer);
        ::GetWindowRect(view.handle(), &box);
        EXPECT_NEAR((box.left + box.right) / 2, (outer.left + outer.right) / 2, 2);
        EXPECT_NEAR((box.top + box.bottom) / 2, (outer.top + outer.bottom) / 2, 2);
        view.closeDialog();
    });
    EXPECT_TRUE(::IsWindowEnabled(owner));
    ::DestroyWindow(owner);
}

TEST(Win32ProcInfoDialog, DrawsTheCachedIconOverThePanel) {
    RedIconList icons;
    const std::uint32_t panel = rgbOf(ProcInfoLook::PanelColour);
    const struct {
        int index;
        std::uint32_t inside; // pixel (10, 10) of Image1
    } cases[] = {{0, 0xFF0000u}, {-1, panel}, {7, panel}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.index);
        RecordingShell shell;
        Win32ProcInfoDialog dialog(nullptr, [&icons] { return icons.handle(); });
        DialogRun::run(dialog, shell, sampleRow(), c.index, [&](Win32ProcInfoDialog& view) {
            EXPECT_EQ(view.iconIndex(), c.index);
            const ControlPicture image(view.control(ProcInfoControl::Image1));
            EXPECT_EQ(image.rgb(0, 0), panel) << "the icon sits at (1, 1)";
            EXPECT_EQ(image.rgb(10, 10), c.inside);
            view.closeDialog();
        });
    }
}

TEST(Win32ProcInfoDialog, TheIconGrowsWithTheDpi) {
    RedIconList icons;
    RecordingShell shell;
    Win32ProcInfoDialog dialog(
        nullptr, [&icons] { return icons.handle(); }, 144);
    DialogRun::run(dialog, shell, sampleRow(), 0, [&](Win32ProcInfoDialog& view) {
        const ControlPicture image(view.control(ProcInfoControl::Image1));
        // 48 x 48 from (2, 2).
        EXPECT_EQ(image.rgb(1, 1), rgbOf(ProcInfoLook::PanelColour));
        EXPECT_EQ(image.rgb(2, 2), 0xFF0000u);
        EXPECT_EQ(image.rgb(40, 40), 0xFF0000u);
        EXPECT_EQ(image.rgb(47, 47), 0xFF0000u);
        view.closeDialog();
    });
}

TEST(Win32ProcInfoDialog, PaintsTheLinesTheButtonAndItsHotTrack) {
    RecordingShell shell;
    Win32ProcInfoDialog dialog(nullptr, {});
    DialogRun::run(dialog, shell, sampleRow(), -1, [](Win32ProcInfoDialog& view) {
        const ControlPicture line(view.control(ProcInfoControl::Shape1));
        EXPECT_EQ(line.rgb(100, 0), rgbOf(ProcInfoLook::LineColour));
        const ControlPicture bottomLine(view.control(ProcInfoControl::Shape2));
        EXPECT_EQ(bottomLine.rgb(5, 0), rgbOf(ProcInfoLook::LineColour));

        const HWND ok = view.control(ProcInfoControl::BTNOK);
        {
            const ControlPicture button(ok);
            EXPECT_EQ(button.rgb(0, 0), rgbOf(ProcInfoLook::ButtonHighlight));
            EXPECT_EQ(button.rgb(4, 4), rgbOf(ProcInfoLook::ButtonFace));
        }
        ::SendMessageW(ok, WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
        {
            const ControlPicture hot(ok);
            EXPECT_EQ(hot.rgb(4, 4), rgbOf(ProcInfoLook::ButtonHotTrack));
        }
        ::SendMessageW(ok, WM_MOUSELEAVE, 0, 0);
        {
            const ControlPicture left(ok);
            EXPECT_EQ(left.rgb(4, 4), rgbOf(ProcInfoLook::ButtonFace));
        }
        view.closeDialog();
    });
}

TEST(Win32ProcInfoDialogs, MakeAFreshDialogForEveryOpening) {
    win32ui::Win32ProcInfoDialogs dialogs(nullptr, {});
    const std::unique_ptr<ProcInfoView> first = dialogs.createProcInfoView();
    const std::unique_ptr<ProcInfoView> second = dialogs.createProcInfoView();
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first.get(), second.get());
    EXPECT_NE(dynamic_cast<Win32ProcInfoDialog*>(first.get()), nullptr);
}

} // namespace
