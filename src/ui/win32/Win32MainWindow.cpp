#include "ui/win32/Win32MainWindow.h"

#include <algorithm>
#include <chrono>
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
#include "ui/win32/Win32ConnectionLogWindow.h"
#include "ui/win32/Win32ImageList.h"
#include "ui/win32/Win32ListView.h"
#include "ui/win32/XpmPicture.h"
#include "win32/WinText.h"

#include "ui/pictures/endprocess.xpm"
#include "ui/pictures/help.xpm"
#include "ui/pictures/homepage.xpm"
#include "ui/pictures/options.xpm"
#include "ui/pictures/refresh.xpm"
#include "ui/pictures/update.xpm"

namespace win32ui {

namespace {

constexpr const wchar_t* WindowClassName = L"KestrelMainWindow";
constexpr UINT_PTR Timer1Id = 1;

// Control identifiers follow the description's names; command identifiers the menus' items.
constexpr int FirstControlId = 100;
constexpr UINT FirstContextCommand = 200;
constexpr UINT FirstOptionCommand = 300;

COLORREF colorRef(const LookRgb& rgb) {
    return RGB(rgb.red, rgb.green, rgb.blue);
}

template <std::size_t N> Picture picture(const char* const (&lines)[N]) {
    return parseXpm(lines, N);
}

// A button's picture by its name in the description.
Picture namedPicture(const char* name) {
    const std::string wanted = name ? name : "";
    if (wanted == "help")
        return picture(help);
    if (wanted == "update")
        return picture(update);
    if (wanted == "homepage")
        return picture(homepage);
    if (wanted == "refresh")
        return picture(refresh);
    if (wanted == "endprocess")
        return picture(endprocess);
    if (wanted == "options")
        return picture(options);
    return {};
}

void registerWindowClass() {
    static const bool registered =
        registerPlainWindowClass(WindowClassName, CS_HREDRAW | CS_VREDRAW);
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
    m_window = ::CreateWindowExW(
        (MainWindowLook::StartsOnTop ? WS_EX_TOPMOST : 0) | WS_EX_CONTROLPARENT, WindowClassName,
        L"", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
        CW_USEDEFAULT, nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    if (!m_window)
        throw std::runtime_error("Cannot create the main window (error " +
                                 std::to_string(::GetLastError()) + ")");
    ::SetWindowLongPtrW(m_window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    ::SetWindowLongPtrW(m_window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(windowProc));
    m_messages.setOwner(m_window);
    m_dpi = windowDpi(m_window);
    m_panelBrush = ::CreateSolidBrush(colorRef(MainWindowLook::PanelColour));

    try {
        makeControls();
        m_worker = std::make_unique<Win32Worker>(m_window, WorkerMessage, m_messages);
        TFormKestrelControls controls{
            .Form = *this,
            .VTS = m_list,
            .LabAppCount = appCountLabel(),
            .LabNetCount = netCountLabel(),
            .Label5 = label(MainControl::Label5),
            .EFilter = *m_filterField,
            .BTNOptions = optionsButton(),
            .BTNHelp = helpButton(),
            .BTNUpdate = updateButton(),
            .BTNHomePage = homePageButton(),
            .BTNRefresh = refreshButton(),
            .BTNEndPro = endProcessButton(),
            .CBShowLocal = showLocalBox(),
            .CBAutoRefresh = autoRefreshBox(),
            .CBAlwaysTop = alwaysTopBox(),
            .CBShowInfo = showInfoBox(),
            .Timer1 = *m_timer,
            .PmTree = {},
            .PmOptions = {},
            .PmOptionCommands = {},
            .Messages = m_messages,
            .Worker = *m_worker,
        };
        for (std::size_t i = 0; i < m_menuItems.size(); ++i)
            controls.PmTree[i] = m_menuItems[i].get();
        for (std::size_t i = 0; i < m_optionItems.size(); ++i)
            controls.PmOptions[i] = m_optionItems[i].get();
        for (std::size_t i = 0; i < m_optionCommands.size(); ++i)
            controls.PmOptionCommands[i] = m_optionCommands[i].get();
        if (!services.makeImageStore || !services.systemImages) {
            m_systemImages = std::make_unique<Win32SystemImageList>();
            services.systemImages = m_systemImages.get();
            // The window keeps the stores it makes, to draw from them as what they are.
            services.makeImageStore = [this] {
                auto store = std::make_unique<Win32ImageStore>(16, 16);
                m_ownStores.push_back(store.get());
                return store;
            };
        }
        m_log = std::make_unique<ConnectionLogView>(false, ConnectionLogView::TakeEnds{}, [] {
            return std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                .count();
        });
        services.snapshotTaken =
            [this, told = std::move(services.snapshotTaken)](const Snapshot& snapshot) {
                if (told)
                    told(snapshot);
                m_log->snapshotTaken(snapshot);
                if (m_logWindow)
                    m_logWindow->logChanged();
            };
        services.snapshotPending = [this, told = std::move(services.snapshotPending)] {
            if (told)
                told();
            m_log->snapshotPending();
        };
        services.showConnectionLog = [this] { showConnectionLog(); };
        m_form = std::make_unique<TFormKestrel>(controls, std::move(services));
        m_commandParts = std::make_unique<Win32CommandComponents>(
            m_window, m_popup, m_optionsMenu, optionsButton().handle(),
            [this](unsigned commandId) { runMenuCommand(commandId); },
            [this]() -> HIMAGELIST {
                const Win32ImageStore* store = storeOf(m_form ? m_form->largeIcons() : nullptr);
                return store ? store->handle() : nullptr;
            });
        m_form->SetCommandComponents(m_commandParts->commands());
        m_filterField->setOnEscape([this] { m_form->EFilterKeyEscape(); });
        if (m_listView)
            m_listView->setSmallIcons(
                [this] { return storeOf(m_form ? m_form->smallIcons() : nullptr); });
        applyDpi(m_dpi);
        placeAtDesignSize();
    } catch (...) {
        release();
        throw;
    }
}

const Win32ImageStore* Win32MainWindow::storeOf(const TImageListEx* icons) const {
    for (const Win32ImageStore* store : m_ownStores) {
        if (icons != nullptr && &icons->Images() == store)
            return store;
    }
    return nullptr;
}

Win32MainWindow::~Win32MainWindow() {
    release();
}

void Win32MainWindow::showConnectionLog() {
    if (!m_logWindow)
        m_logWindow = std::make_unique<Win32ConnectionLogWindow>(*m_log, m_window, m_font);
    m_logWindow->logChanged();
    m_logWindow->show();
}

void Win32MainWindow::release() {
    // The logic refers to the components, which refer to the window's controls.
    m_form.reset();
    // Owned by the main window: it goes first.
    m_logWindow.reset();
    // Completions still due are dropped; jobs still running end alone.
    m_worker.reset();
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
    for (auto& item : m_optionItems)
        item.reset();
    for (auto& item : m_optionCommands)
        item.reset();
    for (HMENU* menu : {&m_popup, &m_optionsMenu}) {
        if (*menu)
            ::DestroyMenu(*menu);
        *menu = nullptr;
    }
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
    // Created in the keyboard's order, which is the order of creation; then the sentence.
    for (const MainControl control : MainWindowLook::TabOrder())
        makeControl(MainWindowLook::Control(control));
    for (const MainControlLook& look : MainWindowLook::TopSentence())
        makeControl(look);
    m_timer = std::make_unique<Win32Timer>(m_window, Timer1Id, m_messages);
    makeMenus();
}

void Win32MainWindow::makeControl(const MainControlLook& look) {
    const std::size_t i = index(look.control);
    const int id = FirstControlId + static_cast<int>(i);
    const COLORREF panel = colorRef(MainWindowLook::PanelColour);
    switch (look.kind) {
    case ControlKind::List:
        m_listView = std::make_unique<Win32ListView>(m_window, id, m_list, m_messages);
        break;
    case ControlKind::Button:
        m_buttons[i] =
            std::make_unique<Win32Button>(m_window, id, namedPicture(look.picture), m_messages);
        break;
    case ControlKind::CheckBox:
        m_boxes[i] = std::make_unique<Win32CheckBox>(m_window, id, m_messages);
        m_boxes[i]->setColours(colorRef(MainWindowLook::CheckBoxText), panel);
        break;
    case ControlKind::Label:
        m_labels[i] = std::make_unique<Win32Label>(m_window, id);
        // The sentence's fixed pieces have no logic behind them; the counters get theirs.
        if (!look.hasColour)
            m_labels[i]->setCaption(look.caption);
        m_labels[i]->setColours(
            look.hasColour ? colorRef(look.colour) : ::GetSysColor(COLOR_WINDOWTEXT), panel);
        // A new count moves what follows it.
        m_labels[i]->setOnCaptionChanged([this] { layout(); });
        break;
    case ControlKind::TextField:
        m_filterField = std::make_unique<Win32TextField>(m_window, id, m_messages);
        break;
    case ControlKind::Panel:
        break;
    }
}

void Win32MainWindow::makeMenus() {
    m_popup = ::CreatePopupMenu();
    m_optionsMenu = ::CreatePopupMenu();
    if (!m_popup || !m_optionsMenu)
        throw std::runtime_error("Cannot create the menus");
    auto append = [](HMENU menu, UINT id, const char* caption) {
        const BOOL added =
            caption ? ::AppendMenuW(menu, MF_STRING, id, win32::WideFromUtf8(caption).c_str())
                    : ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        if (!added)
            throw std::runtime_error("Cannot fill the menus");
    };
    // The items start with their captions from the description; the logic sets them again.
    for (const MenuLine<ContextItem>& line : MainWindowLook::ContextMenu()) {
        const auto i = static_cast<std::size_t>(line.item);
        const UINT id = FirstContextCommand + static_cast<UINT>(i);
        append(m_popup, id, line.caption);
        if (line.caption)
            m_menuItems[i] = std::make_unique<Win32MenuItem>(m_popup, id, m_messages);
    }
    for (const OptionLook& option : MainWindowLook::OptionsMenu()) {
        const auto i = static_cast<std::size_t>(option.item);
        const UINT id = FirstOptionCommand + static_cast<UINT>(i);
        append(m_optionsMenu, id, option.caption);
        m_optionItems[i] = std::make_unique<Win32MenuItem>(m_optionsMenu, id, m_messages);
    }
    for (const MenuLine<OptionCommand>& line : MainWindowLook::OptionsCommands()) {
        const auto i = static_cast<std::size_t>(line.item);
        const UINT id =
            FirstOptionCommand + static_cast<UINT>(OptionItem::Count) + static_cast<UINT>(i);
        append(m_optionsMenu, id, line.caption);
        if (line.caption)
            m_optionCommands[i] = std::make_unique<Win32MenuItem>(m_optionsMenu, id, m_messages);
    }
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
    const int fontPixels = scaled(MainWindowLook::FontPixelHeight, m_dpi);
    HFONT font = createInterfaceFont(fontPixels, false);
    HFONT boldFont = createInterfaceFont(fontPixels, true);
    for (const auto* row : {&MainWindowLook::TopSentence(), &MainWindowLook::TopRight(),
                            &MainWindowLook::BottomRow()}) {
        for (const MainControlLook& look : *row) {
            const std::size_t i = index(look.control);
            if (m_labels[i])
                m_labels[i]->setFont(look.bold ? boldFont : font);
            if (m_buttons[i]) {
                m_buttons[i]->setFont(font);
                m_buttons[i]->setDpi(m_dpi);
            }
            if (m_boxes[i])
                m_boxes[i]->setFont(font);
        }
    }
    if (m_filterField)
        m_filterField->setFont(font);
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
    if (!m_window || !m_timer)
        return;
    RECT client{};
    ::GetClientRect(m_window, &client);
    const auto textSize = [this](MainControl control) {
        const std::size_t i = index(control);
        if (m_boxes[i])
            return LookRect{0, 0, m_boxes[i]->idealWidth(m_dpi), 0};
        const SIZE size = m_labels[i] ? m_labels[i]->textSize() : SIZE{0, 0};
        return LookRect{0, 0, static_cast<int>(size.cx), static_cast<int>(size.cy)};
    };
    const std::vector<LookRect> places = MainWindowLook::Layout(
        client.right - client.left, client.bottom - client.top,
        [this](int pixels) { return scaled(pixels, m_dpi); }, textSize);
    for (std::size_t i = 0; i < places.size(); ++i) {
        const LookRect& place = places[i];
        Win32Control* control = m_labels[i]    ? static_cast<Win32Control*>(m_labels[i].get())
                                : m_buttons[i] ? static_cast<Win32Control*>(m_buttons[i].get())
                                               : static_cast<Win32Control*>(m_boxes[i].get());
        if (control)
            control->setBounds(place.left, place.top, place.width, place.height);
    }
    if (m_filterField) {
        const LookRect& field = places[index(MainControl::EFilter)];
        m_filterField->setBounds(field.left, field.top, field.width, field.height);
    }
    if (m_listView) {
        const LookRect& list = places[index(MainControl::VTS)];
        m_listView->setBounds(list.left, list.top, list.width, list.height);
    }
    ::InvalidateRect(m_window, nullptr, TRUE);
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
    for (const MainControlLook& look : MainWindowLook::TopSentence()) {
        const Win32Label* label = m_labels[index(look.control)].get();
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
    auto run = [commandId](const auto& items) {
        for (const auto& item : items) {
            if (item && item->commandId() == commandId) {
                item->activate();
                return true;
            }
        }
        return false;
    };
    if (!run(m_menuItems) && !run(m_optionItems))
        run(m_optionCommands);
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
        if (lParam == 0 && HIWORD(wParam) == 1 && LOWORD(wParam) == FindCommand) {
            if (m_form)
                m_form->FormKeyFind();
            return 0;
        }
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
    case WorkerMessage:
        if (m_worker)
            m_worker->deliver();
        return 0;
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

bool translateShortcut(HWND mainWindow, const MSG& message) {
    if (!mainWindow || !::IsWindow(mainWindow) || message.message != WM_KEYDOWN ||
        message.wParam != 'F' || ::GetKeyState(VK_CONTROL) >= 0 ||
        (message.hwnd != mainWindow && !::IsChild(mainWindow, message.hwnd)))
        return false;
    ::SendMessageW(mainWindow, WM_COMMAND, MAKEWPARAM(Win32MainWindow::FindCommand, 1), 0);
    return true;
}

int runMessageLoop(HWND mainWindow) {
    MSG message{};
    for (;;) {
        const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
        if (got == 0)
            return static_cast<int>(message.wParam);
        if (got == -1)
            return 1;
        if (translateShortcut(mainWindow, message))
            continue;
        if (mainWindow && ::IsWindow(mainWindow) && ::IsDialogMessageW(mainWindow, &message))
            continue;
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
}

} // namespace win32ui
