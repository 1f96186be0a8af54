#pragma once
// The connection log window "连接记录" in plain Win32: the filter field and the export button
// above a virtual ListView over ConnectionLogView (newest first; the control asks for the
// texts of the rows it paints), and the bottom line. The log is fed by the main window.
// Closing it hides it.
#include <memory>
#include <string>

#include <windows.h>

#include "ui/ConnectionLogView.h"
#include "ui/win32/Win32Components.h"

namespace win32ui {

class Win32ConnectionLogWindow {
public:
    // Makes the window, hidden, owned by `owner`, in `font` (not owned). "导出列表..." asks
    // `saveDialog` for the file (not owned; none: the system's dialog). Throws
    // std::runtime_error when the system cannot create it.
    Win32ConnectionLogWindow(ConnectionLogView& log, HWND owner, HFONT font,
                             ui::SaveFileDialog* saveDialog = nullptr);
    ~Win32ConnectionLogWindow();
    Win32ConnectionLogWindow(const Win32ConnectionLogWindow&) = delete;
    Win32ConnectionLogWindow& operator=(const Win32ConnectionLogWindow&) = delete;

    void show();
    // The log changed: the row count and the bottom line follow, the rows are painted anew.
    void logChanged();

    HWND handle() const { return m_window; }
    HWND listHandle() const { return m_list; }
    HWND filterHandle() const { return m_filter ? m_filter->handle() : nullptr; }
    HWND exportHandle() const { return m_export; }
    std::string bottomLineText() const;

private:
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void layout();
    void exportClick();

    ConnectionLogView& m_log;
    HWND m_window = nullptr;
    HWND m_list = nullptr;
    HWND m_bottom = nullptr;
    HWND m_export = nullptr;
    Win32MessageBoxes m_messages;
    std::unique_ptr<Win32TextField> m_filter;
    std::unique_ptr<ui::SaveFileDialog> m_ownDialog;
    ui::SaveFileDialog* m_saveDialog;
    // The text handed to the ListView for the cell it asked for last; it copies it at once.
    std::wstring m_cellText;
};

} // namespace win32ui
