#include "ui/win32/Win32MainWindow.h"

#include <algorithm>
#include <cstddef>
#include <exception>
#include <initializer_list>
#include <iterator>
#include <stdexcept>
#include <string>
#include <utility>

#include <windows.h>

#include <commctrl.h>

#include "ui/win32/Win32Commands.h"
#include "ui/win32/Win32ImageList.h"
#include "ui/win32/Win32ListView.h"
#include "ui/win32/XpmPicture.h"
#include "win32/WinText.h"

#include "ui/pictures/endprocess.xpm"
#include "ui/pictures/help.xpm"
#include "ui/pictures/homepage.xpm"
#include "ui/pictures/refresh.xpm"
#include "ui/pictures/update.xpm"

namespace win32ui {

namespace {

constexpr const wchar_t* WindowClassName = L"KestrelMainWindow";
constexpr COLORREF PanelColour = RGB(0xEC, 0xF5, 0xF8);
constexpr COLORREF CountRed = RGB(0xFF, 0x00, 0x00);
constexpr COLORREF CountBlue = RGB(0x00, 0x00, 0xFF);
constexpr UINT_PTR Timer1Id = 1;

// Arial 8 points: 11 pixels at 96 DPI.
constexpr int FontPixels = 11;
constexpr int SentenceLeft = 6;
constexpr int TopButtonHeight = 32;
constexpr int TopRightMargin = 1;
constexpr int HelpWidth = 74;
constexpr int UpdateWidth = 86;
constexpr int HomePageWidth = 86;
constexpr int BoxLeft = 8;
constexpr int BoxTop = 6;
constexpr int BoxHeight = 17;
constexpr int BoxSpacing = 10;
constexpr int ButtonsGap = 8;
constexpr int BottomButtonTop = 1;
constexpr int BottomButtonHeight = 26;
constexpr int RefreshWidth = 80;
constexpr int EndProWidth = 110;

// Control and command identifiers. The order of creation is the tab order: the list, then
// BTNRefresh, BTNEndPro, CBShowLocal, CBAutoRefresh, CBAlwaysTop, CBShowInfo.
enum ControlId : int {
    IdList = 100,
    IdRefresh,
    IdEndPro,
    IdShowLocal,
    IdAutoRefresh,
    IdAlwaysTop,
    IdShowInfo,
    IdHelp,
    IdUpdate,
    IdHomePage,
    IdLabel1,
    IdAppCount,
    IdLabel3,
    IdNetCount,
    IdLabel5,
};

enum MenuId : UINT {
    IdProcInfo = 200,
    IdEndProc,
    IdCopy,
    IdLocate,
    IdProperty,
};

template <std::size_t N> Picture picture(const char* const (&lines)[N]) {
    return parseXpm(lines, N);
}

void registerWindowClass() {
    static const bool registered = [] {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof(windowClass);
        windowClass.style = CS_HREDRAW | CS_VREDRAW;
        windowClass.lpfnWndProc = ::DefWindowProcW;
        windowClass.hInstance = ::GetModuleHandleW(nullptr);
        windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        windowClass.lpszClassName = WindowClassName;
        return ::RegisterClassExW(&windowClass) != 0 ||
               ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    }();
    if (!registered)
        throw std::runtime_error("Cannot register the main window's class");
}

HICON loadApplicationIcon(int side) {
    auto* icon = static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr),
                                                 MAKEINTRESOURCEW(ApplicationIconId), IMAGE_ICON,
                                                 side, side, LR_DEFAULTCOLOR));
    return icon;
}

} // namespace

Win32MainWindow::Win32MainWindow(TFormKestrelServices services) {
    registerWindowClass();
    // The form style "stay on top": the window starts in the topmost band.
    m_window = ::CreateWindowExW(WS_EX_TOPMOST | WS_EX_CONTROLPARENT, WindowClassName, L"",
                                 WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT,
                                 CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
                                 ::GetModuleHandleW(nullptr), nullptr);
    if (!m_window)
        throw std::runtime_error("Cannot create the main window (error " +
                                 std::to_string(::GetLastError()) + ")");
    ::SetWindowLongPtrW(m_window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    ::SetWindowLongPtrW(m_window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(windowProc));
    m_messages.setOwner(m_window);
    m_dpi = windowDpi(m_window);
    m_panelBrush = ::CreateSolidBrush(PanelColour);

    try {
        makeControls();
        const TFormKestrelControls controls{
            .Form = *this,
            .VTS = m_list,
            .LabAppCount = *m_labAppCount,
            .LabNetCount = *m_labNetCount,
            .Label5 = *m_label5,
            .EFilter = m_filterField,
            .BTNHelp = *m_btnHelp,
            .BTNUpdate = *m_btnUpdate,
            .BTNHomePage = *m_btnHomePage,
            .BTNRefresh = *m_btnRefresh,
            .BTNEndPro = *m_btnEndPro,
            .CBShowLocal = *m_cbShowLocal,
            .CBAutoRefresh = *m_cbAutoRefresh,
            .CBAlwaysTop = *m_cbAlwaysTop,
            .CBShowInfo = *m_cbShowInfo,
            .Timer1 = *m_timer,
            .NProcInfo = *m_menuItems[0],
            .NEndProc = *m_menuItems[1],
            .NCopy = *m_menuItems[2],
            .NLocate = *m_menuItems[3],
            .NProperty = *m_menuItems[4],
            .Messages = m_messages,
        };
        if (!services.makeImageStore || !services.systemImages) {
            m_systemImages = std::make_unique<Win32SystemImageList>();
            services.systemImages = m_systemImages.get();
            services.makeImageStore = [] { return std::make_unique<Win32ImageStore>(16, 16); };
        }
        m_form = std::make_unique<TFormKestrel>(controls, std::move(services));
        m_commandParts = std::make_unique<Win32CommandComponents>(
            m_window, m_popup, [this](unsigned commandId) { runMenuCommand(commandId); },
            [this] { return m_form ? m_form->largeIcons() : nullptr; });
        m_form->SetCommandComponents(m_commandParts->commands());
        if (m_listView)
            m_listView->setSmallIcons([this] { return m_form ? m_form->smallIcons() : nullptr; });
        applyDpi(m_dpi);
        placeAtDesignSize();
    } catch (...) {
        release();
        throw;
    }
}

Win32MainWindow::~Win32MainWindow() {
    release();
}

void Win32MainWindow::release() {
    // The logic refers to the components, which refer to the window's controls.
    m_form.reset();
    m_commandParts.reset();
    m_listView.reset();
    if (m_window) {
        // No message may reach this object while it is taken apart.
        ::SetWindowLongPtrW(m_window, GWLP_USERDATA, 0);
        ::DestroyWindow(m_window);
        m_window = nullptr;
    }
    m_timer.reset();
    for (auto& item : m_menuItems)
        item.reset();
    if (m_popup)
        ::DestroyMenu(m_popup);
    m_popup = nullptr;
    for (HGDIOBJ object : {static_cast<HGDIOBJ>(m_font), static_cast<HGDIOBJ>(m_boldFont),
                           static_cast<HGDIOBJ>(m_panelBrush)}) {
        if (object)
            ::DeleteObject(object);
    }
    m_font = m_boldFont = nullptr;
    m_panelBrush = nullptr;
    for (HICON icon : {m_bigIcon, m_smallIcon}) {
        if (icon)
            ::DestroyIcon(icon);
    }
    m_bigIcon = m_smallIcon = nullptr;
}

void Win32MainWindow::makeControls() {
    // Created in tab order (see ControlId).
    m_listView = std::make_unique<Win32ListView>(m_window, IdList, m_list, m_messages);
    m_btnRefresh = std::make_unique<Win32Button>(m_window, IdRefresh, picture(refresh), m_messages);
    m_btnEndPro =
        std::make_unique<Win32Button>(m_window, IdEndPro, picture(endprocess), m_messages);
    m_cbShowLocal = std::make_unique<Win32CheckBox>(m_window, IdShowLocal, m_messages);
    m_cbAutoRefresh = std::make_unique<Win32CheckBox>(m_window, IdAutoRefresh, m_messages);
    m_cbAlwaysTop = std::make_unique<Win32CheckBox>(m_window, IdAlwaysTop, m_messages);
    m_cbShowInfo = std::make_unique<Win32CheckBox>(m_window, IdShowInfo, m_messages);
    m_btnHelp = std::make_unique<Win32Button>(m_window, IdHelp, picture(help), m_messages);
    m_btnUpdate = std::make_unique<Win32Button>(m_window, IdUpdate, picture(update), m_messages);
    m_btnHomePage =
        std::make_unique<Win32Button>(m_window, IdHomePage, picture(homepage), m_messages);

    m_label1 = std::make_unique<Win32Label>(m_window, IdLabel1);
    m_labAppCount = std::make_unique<Win32Label>(m_window, IdAppCount);
    m_label3 = std::make_unique<Win32Label>(m_window, IdLabel3);
    m_labNetCount = std::make_unique<Win32Label>(m_window, IdNetCount);
    m_label5 = std::make_unique<Win32Label>(m_window, IdLabel5);
    m_label1->setCaption("当前有");
    m_label3->setCaption("个程序已连接或尝试连接网络，共建立");
    m_label5->setCaption("个连接。");
    const COLORREF windowText = ::GetSysColor(COLOR_WINDOWTEXT);
    m_label1->setColours(windowText, PanelColour);
    m_label3->setColours(windowText, PanelColour);
    m_label5->setColours(windowText, PanelColour);
    m_labAppCount->setColours(CountRed, PanelColour);
    m_labNetCount->setColours(CountBlue, PanelColour);
    // The sentence reads on without gaps: each number moves the text after it.
    for (Win32Label* label : {m_labAppCount.get(), m_labNetCount.get()})
        label->setOnCaptionChanged([this] { layoutTopPanel(); });

    for (Win32CheckBox* box :
         {m_cbShowLocal.get(), m_cbAutoRefresh.get(), m_cbAlwaysTop.get(), m_cbShowInfo.get()})
        box->setColours(RGB(0, 0, 0), PanelColour);

    m_timer = std::make_unique<Win32Timer>(m_window, Timer1Id, m_messages);

    m_popup = ::CreatePopupMenu();
    if (!m_popup)
        throw std::runtime_error("Cannot create the context menu");
    struct MenuLine {
        UINT id;
        const char* caption;
    };
    const MenuLine lines[] = {
        {IdProcInfo, "进程信息"}, {0, nullptr},           {IdEndProc, "结束进程(&E)"}, {0, nullptr},
        {IdCopy, "拷贝到剪贴板"}, {IdLocate, "定位文件"}, {IdProperty, "属性(&R)"},
    };
    for (const MenuLine& line : lines) {
        const BOOL added = line.caption ? ::AppendMenuW(m_popup, MF_STRING, line.id,
                                                        win32::WideFromUtf8(line.caption).c_str())
                                        : ::AppendMenuW(m_popup, MF_SEPARATOR, 0, nullptr);
        if (!added)
            throw std::runtime_error("Cannot fill the context menu");
    }
    const UINT itemIds[] = {IdProcInfo, IdEndProc, IdCopy, IdLocate, IdProperty};
    for (std::size_t i = 0; i < m_menuItems.size(); ++i)
        m_menuItems[i] = std::make_unique<Win32MenuItem>(m_popup, itemIds[i], m_messages);
}

void Win32MainWindow::placeAtDesignSize() {
    RECT frame{0, 0, scaled(ClientWidth, m_dpi), scaled(ClientHeight, m_dpi)};
    const DWORD style = static_cast<DWORD>(::GetWindowLongPtrW(m_window, GWL_STYLE));
    const DWORD exStyle = static_cast<DWORD>(::GetWindowLongPtrW(m_window, GWL_EXSTYLE));
    adjustWindowRectForDpi(frame, style, exStyle, m_dpi);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;

    RECT area{0, 0, width, height};
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    if (::GetMonitorInfoW(::MonitorFromWindow(m_window, MONITOR_DEFAULTTOPRIMARY), &monitor))
        area = monitor.rcWork;
    const int x = area.left + ((area.right - area.left) - width) / 2;
    const int y = area.top + ((area.bottom - area.top) - height) / 2;
    ::SetWindowPos(m_window, nullptr, x, y, width, height,
                   SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOOWNERZORDER);
    layout();
}

void Win32MainWindow::applyDpi(int dpi) {
    m_dpi = dpi > 0 ? dpi : 96;
    HFONT font = createInterfaceFont(scaled(FontPixels, m_dpi), false);
    HFONT boldFont = createInterfaceFont(scaled(FontPixels, m_dpi), true);
    for (Win32Control* control : std::initializer_list<Win32Control*>{
             m_label1.get(), m_label3.get(), m_label5.get(), m_btnHelp.get(), m_btnUpdate.get(),
             m_btnHomePage.get(), m_btnRefresh.get(), m_btnEndPro.get(), m_cbShowLocal.get(),
             m_cbAutoRefresh.get(), m_cbAlwaysTop.get(), m_cbShowInfo.get()})
        control->setFont(font);
    m_labAppCount->setFont(boldFont);
    m_labNetCount->setFont(boldFont);
    for (Win32Button* button : {m_btnHelp.get(), m_btnUpdate.get(), m_btnHomePage.get(),
                                m_btnRefresh.get(), m_btnEndPro.get()})
        button->setDpi(m_dpi);
    if (m_listView && m_listView->handle()) {
        ::SendMessageW(m_listView->handle(), WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
        m_listView->setDpi(m_dpi);
    }
    // The old fonts go only once no control uses them any more.
    if (m_font)
        ::DeleteObject(m_font);
    if (m_boldFont)
        ::DeleteObject(m_boldFont);
    m_font = font;
    m_boldFont = boldFont;

    HICON bigIcon = loadApplicationIcon(systemMetricForDpi(SM_CXICON, m_dpi));
    HICON smallIcon = loadApplicationIcon(systemMetricForDpi(SM_CXSMICON, m_dpi));
    if (bigIcon && smallIcon) {
        ::SendMessageW(m_window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon));
        ::SendMessageW(m_window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon));
        std::swap(bigIcon, m_bigIcon);
        std::swap(smallIcon, m_smallIcon);
    } else if (!m_bigIcon) {
        // A program without its icon resource (the tests) shows the system's.
        HICON system = ::LoadIconW(nullptr, IDI_APPLICATION);
        ::SendMessageW(m_window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(system));
        ::SendMessageW(m_window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(system));
    }
    for (HICON icon : {bigIcon, smallIcon}) {
        if (icon)
            ::DestroyIcon(icon);
    }
}

void Win32MainWindow::layout() {
    if (!m_window || !m_btnHelp)
        return;
    RECT client{};
    ::GetClientRect(m_window, &client);
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;
    const int topHeight = scaled(TopPanelHeight, m_dpi);
    const int bottomHeight = scaled(BottomPanelHeight, m_dpi);

    layoutTopPanel();
    const int buttonHeight = scaled(TopButtonHeight, m_dpi);
    const int buttonTop = (topHeight - buttonHeight) / 2;
    int x = width - scaled(TopRightMargin, m_dpi) -
            scaled(HelpWidth + UpdateWidth + HomePageWidth, m_dpi);
    for (const auto& [button, designWidth] :
         {std::pair{m_btnHelp.get(), HelpWidth}, std::pair{m_btnUpdate.get(), UpdateWidth},
          std::pair{m_btnHomePage.get(), HomePageWidth}}) {
        button->setBounds(x, buttonTop, scaled(designWidth, m_dpi), buttonHeight);
        x += scaled(designWidth, m_dpi);
    }

    if (m_listView)
        m_listView->setBounds(0, topHeight, width, std::max(0, height - topHeight - bottomHeight));

    // The bottom panel's controls keep their places from the left when the window is resized.
    // Each box is as wide as its text, so that all six fit the design width.
    const int bottomTop = height - bottomHeight;
    const int boxTop = bottomTop + scaled(BoxTop, m_dpi);
    const int boxHeight = scaled(BoxHeight, m_dpi);
    x = scaled(BoxLeft, m_dpi);
    for (Win32CheckBox* box : {m_cbShowLocal.get(), m_cbAutoRefresh.get(), m_cbAlwaysTop.get()}) {
        const int boxWidth = box->idealWidth(m_dpi);
        box->setBounds(x, boxTop, boxWidth, boxHeight);
        x += boxWidth + scaled(BoxSpacing, m_dpi);
    }
    x += scaled(ButtonsGap, m_dpi);
    const int bottomButtonTop = bottomTop + scaled(BottomButtonTop, m_dpi);
    const int bottomButtonHeight = scaled(BottomButtonHeight, m_dpi);
    m_btnRefresh->setBounds(x, bottomButtonTop, scaled(RefreshWidth, m_dpi), bottomButtonHeight);
    x += scaled(RefreshWidth, m_dpi);
    m_btnEndPro->setBounds(x, bottomButtonTop, scaled(EndProWidth, m_dpi), bottomButtonHeight);
    x += scaled(EndProWidth, m_dpi) + scaled(BoxSpacing, m_dpi);
    m_cbShowInfo->setBounds(x, boxTop, m_cbShowInfo->idealWidth(m_dpi), boxHeight);
    ::InvalidateRect(m_window, nullptr, TRUE);
}

void Win32MainWindow::layoutTopPanel() {
    if (!m_label5)
        return;
    const int topHeight = scaled(TopPanelHeight, m_dpi);
    int x = scaled(SentenceLeft, m_dpi);
    for (Win32Label* label : {m_label1.get(), m_labAppCount.get(), m_label3.get(),
                              m_labNetCount.get(), m_label5.get()}) {
        const SIZE size = label->textSize();
        label->setBounds(x, (topHeight - size.cy) / 2, size.cx, size.cy);
        x += size.cx;
    }
}

void Win32MainWindow::paint() {
    PAINTSTRUCT paint{};
    HDC dc = ::BeginPaint(m_window, &paint);
    if (!dc)
        return;
    RECT client{};
    ::GetClientRect(m_window, &client);
    RECT topPanel{client.left, client.top, client.right,
                  client.top + scaled(TopPanelHeight, m_dpi)};
    ::FillRect(dc, &topPanel, m_panelBrush);
    // A raised one-pixel bevel.
    ::DrawEdge(dc, &topPanel, BDR_RAISEDINNER, BF_RECT);
    RECT bottomPanel{client.left, client.bottom - scaled(BottomPanelHeight, m_dpi), client.right,
                     client.bottom};
    ::FillRect(dc, &bottomPanel, m_panelBrush);
    ::EndPaint(m_window, &paint);
}

void Win32MainWindow::create() {
    m_form->FormCreate();
}

void Win32MainWindow::show(int showCommand) {
    ::ShowWindow(m_window, showCommand);
    ::UpdateWindow(m_window);
    if (!m_shown && m_listView && m_listView->handle())
        ::SetFocus(m_listView->handle());
    m_shown = true;
}

HWND Win32MainWindow::listHandle() const {
    return m_listView ? m_listView->handle() : nullptr;
}

std::string Win32MainWindow::countersText() const {
    std::string sentence;
    for (const Win32Label* label : {m_label1.get(), m_labAppCount.get(), m_label3.get(),
                                    m_labNetCount.get(), m_label5.get()}) {
        const int length = ::GetWindowTextLengthW(label->handle());
        std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
        const int copied = ::GetWindowTextW(label->handle(), text.data(), length + 1);
        sentence += win32::Utf8FromWide(text.data(), static_cast<std::size_t>(std::max(copied, 0)));
    }
    return sentence;
}

std::string Win32MainWindow::caption() const {
    if (!m_window)
        return {};
    const int length = ::GetWindowTextLengthW(m_window);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const int copied = ::GetWindowTextW(m_window, text.data(), length + 1);
    return win32::Utf8FromWide(text.data(), static_cast<std::size_t>(std::max(copied, 0)));
}

void Win32MainWindow::setCaption(const std::string& caption) {
    if (m_window)
        ::SetWindowTextW(m_window, win32::WideFromUtf8(caption).c_str());
}

bool Win32MainWindow::stayOnTop() const {
    return m_window && (::GetWindowLongPtrW(m_window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
}

void Win32MainWindow::setStayOnTop(bool stayOnTop) {
    if (!m_window)
        return;
    // Position and size stay; a window not shown yet must not be activated (nor shown).
    const UINT flags = ::IsWindowVisible(m_window) ? 0 : SWP_NOACTIVATE;
    ::SetWindowPos(m_window, stayOnTop ? HWND_TOPMOST : HWND_NOTOPMOST, left(), top(), width(),
                   height(), flags);
}

int Win32MainWindow::left() const {
    RECT frame{};
    return m_window && ::GetWindowRect(m_window, &frame) ? frame.left : 0;
}

int Win32MainWindow::top() const {
    RECT frame{};
    return m_window && ::GetWindowRect(m_window, &frame) ? frame.top : 0;
}

int Win32MainWindow::width() const {
    RECT frame{};
    return m_window && ::GetWindowRect(m_window, &frame) ? frame.right - frame.left : 0;
}

int Win32MainWindow::height() const {
    RECT frame{};
    return m_window && ::GetWindowRect(m_window, &frame) ? frame.bottom - frame.top : 0;
}

void Win32MainWindow::closeRequested() {
    // A second close while the question is open (the taskbar's close) is not asked again.
    if (m_closeQueryOpen)
        return;
    m_closeQueryOpen = true;
    bool canClose = false;
    ui::dispatchEvent(m_messages, [this, &canClose] { m_form->FormCloseQuery(canClose); });
    m_closeQueryOpen = false;
    if (canClose && m_window)
        ::DestroyWindow(m_window);
}

void Win32MainWindow::runMenuCommand(unsigned commandId) {
    for (const auto& item : m_menuItems) {
        if (item && item->commandId() == commandId) {
            item->activate();
            return;
        }
    }
}

void Win32MainWindow::destroyed() {
    m_window = nullptr;
    m_messages.setOwner(nullptr);
    if (m_onDestroyed)
        m_onDestroyed();
}

LRESULT CALLBACK Win32MainWindow::windowProc(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
    auto* self = reinterpret_cast<Win32MainWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self)
        return ::DefWindowProcW(window, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        const LRESULT result = ::DefWindowProcW(window, message, wParam, lParam);
        self->destroyed();
        return result;
    }
    // No exception may cross the system's frames: one escaping a handler is reported and the
    // message gets the default answer.
    LRESULT result = 0;
    bool handled = false;
    ui::dispatchEvent(self->m_messages, [&] {
        result = self->handleMessage(window, message, wParam, lParam);
        handled = true;
    });
    return handled ? result : ::DefWindowProcW(window, message, wParam, lParam);
}

LRESULT Win32MainWindow::handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    switch (message) {
    case WM_COMMAND:
        if (reflectControlMessage(message, wParam, lParam, result))
            return result;
        // A menu's command (the context menu is tracked with its commands returned, but its
        // keyboard accelerators may still arrive here).
        if (lParam == 0 && HIWORD(wParam) == 0) {
            runMenuCommand(LOWORD(wParam));
            return 0;
        }
        break;
    case WM_DRAWITEM:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
        if (reflectControlMessage(message, wParam, lParam, result))
            return result;
        break;
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header && m_listView &&
            (header->hwndFrom == m_listView->handle() ||
             header->hwndFrom == m_listView->header()) &&
            m_listView->handleNotify(*header, result))
            return result;
        break;
    }
    case WM_TIMER:
        if (m_timer && wParam == m_timer->timerId()) {
            m_timer->fired();
            return 0;
        }
        break;
    case WM_SIZE:
        layout();
        return 0;
    case WM_GETMINMAXINFO: {
        auto* limits = reinterpret_cast<MINMAXINFO*>(lParam);
        limits->ptMinTrackSize.x = scaled(MinimumWidth, m_dpi);
        limits->ptMinTrackSize.y = scaled(MinimumHeight, m_dpi);
        return 0;
    }
    case WM_DPICHANGED: {
        applyDpi(LOWORD(wParam));
        const auto* suggested = reinterpret_cast<const RECT*>(lParam);
        if (suggested)
            ::SetWindowPos(m_window, nullptr, suggested->left, suggested->top,
                           suggested->right - suggested->left, suggested->bottom - suggested->top,
                           SWP_NOZORDER | SWP_NOACTIVATE);
        layout();
        return 0;
    }
    case WM_PAINT:
        paint();
        return 0;
    case WM_ACTIVATE:
        // The control that had the keyboard gets it back when the window is activated again.
        if (LOWORD(wParam) == WA_INACTIVE) {
            HWND focus = ::GetFocus();
            if (focus && ::IsChild(m_window, focus))
                m_lastFocus = focus;
        } else if (m_lastFocus && ::IsWindow(m_lastFocus) && ::IsChild(m_window, m_lastFocus)) {
            ::SetFocus(m_lastFocus);
            return 0;
        }
        break;
    case WM_CLOSE:
        closeRequested();
        return 0;
    default:
        break;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

int runMessageLoop(HWND mainWindow) {
    MSG message{};
    for (;;) {
        const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
        if (got == 0)
            return static_cast<int>(message.wParam);
        if (got == -1)
            return 1;
        if (mainWindow && ::IsWindow(mainWindow) && ::IsDialogMessageW(mainWindow, &message))
            continue;
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
}

} // namespace win32ui
