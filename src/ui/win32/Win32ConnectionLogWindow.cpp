#include "ui/win32/Win32ConnectionLogWindow.h"

#include <commctrl.h>
#include <stdexcept>

#include "os/SettingsPath.h"
#include "ui/win32/Win32Commands.h"
#include "win32/WinText.h"

namespace win32ui {

namespace {

constexpr const wchar_t* WindowClassName = L"KestrelConnectionLog";
constexpr int BottomHeight = 22;
constexpr int FilterId = 101;
constexpr int ExportId = 102;

void registerWindowClass() {
    static const bool registered = registerPlainWindowClass(WindowClassName, 0);
    if (!registered)
        throw std::runtime_error("Cannot register the connection log window's class");
}

} // namespace

Win32ConnectionLogWindow::Win32ConnectionLogWindow(ConnectionLogView& log, HWND owner, HFONT font,
                                                   ui::SaveFileDialog* saveDialog)
    : m_log(log), m_saveDialog(saveDialog) {
    registerWindowClass();
    const std::wstring caption = win32::WideFromUtf8(std::string(TextConnectionLogCaption));
    m_window = ::CreateWindowExW(
        0, WindowClassName, caption.c_str(), WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT,
        CW_USEDEFAULT, 900, 420, owner, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    if (!m_window)
        throw std::runtime_error("Cannot create the connection log window");
    ::SetWindowLongPtrW(m_window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    ::SetWindowLongPtrW(m_window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(windowProc));
    // A virtual list: 100,000 rows cost the control nothing until they are painted.
    m_list = ::CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
                               WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_OWNERDATA |
                                   LVS_SHOWSELALWAYS | LVS_SINGLESEL,
                               0, 0, 0, 0, m_window, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    m_bottom = ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_LEFT, 0, 0, 0, 0,
                                 m_window, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    const std::wstring exportCaption =
        win32::WideFromUtf8(std::string(ConnectionLogLook::ExportCaption()));
    m_export = ::CreateWindowExW(0, L"BUTTON", exportCaption.c_str(),
                                 WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 0, 0, 0, 0,
                                 m_window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(ExportId)),
                                 ::GetModuleHandleW(nullptr), nullptr);
    m_messages.setOwner(m_window);
    try {
        m_filter = std::make_unique<Win32TextField>(m_window, FilterId, m_messages);
    } catch (...) {
        ::DestroyWindow(m_window);
        throw;
    }
    if (!m_list || !m_bottom || !m_export) {
        m_filter.reset();
        ::DestroyWindow(m_window);
        throw std::runtime_error("Cannot create the connection log's controls");
    }
    m_filter->setPlaceholder(std::string(ConnectionLogLook::FilterPlaceholder()));
    m_filter->setOnChange([this] {
        if (m_log.setFilterText(m_filter->text()))
            logChanged();
    });
    // Escape empties the field, as the main window's does.
    m_filter->setOnEscape([this] { m_filter->setText(""); });
    if (!m_saveDialog) {
        m_ownDialog = std::make_unique<Win32SaveFileDialog>(m_window);
        m_saveDialog = m_ownDialog.get();
    }
    if (font) {
        ::SendMessageW(m_list, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        ::SendMessageW(m_bottom, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        ::SendMessageW(m_export, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        m_filter->setFont(font);
    }
    ListView_SetExtendedListViewStyle(m_list, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
    for (int i = 0; i < LogColumnCount; ++i) {
        const LogColumnInfo& info = logColumns()[static_cast<std::size_t>(i)];
        std::wstring text = win32::WideFromUtf8(std::string(info.caption));
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
        column.fmt = info.rightAligned && i != 0 ? LVCFMT_RIGHT : LVCFMT_LEFT;
        column.cx = info.width;
        column.pszText = text.data();
        ::SendMessageW(m_list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(i),
                       reinterpret_cast<LPARAM>(&column));
    }
    layout();
    logChanged();
}

Win32ConnectionLogWindow::~Win32ConnectionLogWindow() {
    if (m_window) {
        ::SetWindowLongPtrW(m_window, GWLP_USERDATA, 0);
        ::DestroyWindow(m_window);
    }
}

void Win32ConnectionLogWindow::show() {
    if (!m_window)
        return;
    ::ShowWindow(m_window, SW_SHOWNORMAL);
    ::SetForegroundWindow(m_window);
}

void Win32ConnectionLogWindow::logChanged() {
    if (!m_window)
        return;
    ::SendMessageW(m_list, LVM_SETITEMCOUNT, static_cast<WPARAM>(m_log.rowCount()),
                   LVSICF_NOSCROLL);
    ::InvalidateRect(m_list, nullptr, FALSE);
    ::SetWindowTextW(m_bottom, win32::WideFromUtf8(m_log.bottomLine()).c_str());
}

std::string Win32ConnectionLogWindow::bottomLineText() const {
    wchar_t text[512];
    const int n = ::GetWindowTextW(m_bottom, text, 512);
    return win32::Utf8FromWide(text, static_cast<std::size_t>(n > 0 ? n : 0));
}

void Win32ConnectionLogWindow::exportClick() {
    ui::dispatchEvent(
        m_messages, [this] { m_log.exportShown(*m_saveDialog, os::ReplaceWholeFile, m_messages); });
}

void Win32ConnectionLogWindow::layout() {
    RECT client{};
    ::GetClientRect(m_window, &client);
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;
    // Above the list at its right, as in the main window: the filter field, then the button.
    using namespace ConnectionLogLook;
    const int top = TopHeight;
    const int rowTop = (TopHeight - FilterHeight) / 2;
    const int exportLeft = width - Gap - ExportWidth;
    ::MoveWindow(m_export, exportLeft, rowTop - 1, ExportWidth, FilterHeight + 2, TRUE);
    if (m_filter)
        m_filter->setBounds(exportLeft - Gap - FilterWidth, rowTop, FilterWidth, FilterHeight);
    const int listHeight = height - top - BottomHeight;
    ::MoveWindow(m_list, 0, top, width, listHeight > 0 ? listHeight : 0, TRUE);
    ::MoveWindow(m_bottom, 6, height > BottomHeight ? height - BottomHeight + 4 : 0,
                 width > 12 ? width - 12 : 0, BottomHeight - 4, TRUE);
}

LRESULT CALLBACK Win32ConnectionLogWindow::windowProc(HWND window, UINT message, WPARAM wParam,
                                                      LPARAM lParam) {
    auto* self =
        reinterpret_cast<Win32ConnectionLogWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self)
        return ::DefWindowProcW(window, message, wParam, lParam);
    return self->handleMessage(message, wParam, lParam);
}

LRESULT Win32ConnectionLogWindow::handleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    switch (message) {
    case WM_SIZE:
        layout();
        return 0;
    case WM_COMMAND:
        if (reflectControlMessage(message, wParam, lParam, result))
            return result;
        if (LOWORD(wParam) == ExportId && HIWORD(wParam) == BN_CLICKED) {
            exportClick();
            return 0;
        }
        break;
    case WM_CLOSE:
        ::ShowWindow(m_window, SW_HIDE);
        return 0;
    case WM_NCDESTROY: {
        // Destroyed with its owner, the main window: nothing of it is left to touch.
        const HWND window = m_window;
        m_window = nullptr;
        m_list = nullptr;
        m_bottom = nullptr;
        m_export = nullptr;
        ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        return ::DefWindowProcW(window, message, wParam, lParam);
    }
    case WM_NOTIFY: {
        auto* header = reinterpret_cast<NMHDR*>(lParam);
        if (header->hwndFrom == m_list && header->code == LVN_GETDISPINFOW) {
            auto* info = reinterpret_cast<NMLVDISPINFOW*>(lParam);
            if ((info->item.mask & LVIF_TEXT) && info->item.pszText && info->item.cchTextMax > 0) {
                m_cellText = win32::WideFromUtf8(
                    m_log.cellText(static_cast<std::size_t>(info->item.iItem),
                                   static_cast<LogColumn>(info->item.iSubItem)));
                const std::size_t room = static_cast<std::size_t>(info->item.cchTextMax) - 1;
                const std::size_t n = m_cellText.size() < room ? m_cellText.size() : room;
                m_cellText.copy(info->item.pszText, n);
                info->item.pszText[n] = L'\0';
            }
            return 0;
        }
        break;
    }
    default:
        break;
    }
    return ::DefWindowProcW(m_window, message, wParam, lParam);
}

} // namespace win32ui
