#pragma once
// The process details dialog in Win32: a modal dialog built in memory whose controls follow
// TFormProcInfo's layout, scaled to the owner's DPI; the link and the button are forwarded to
// TFormProcInfo.
#include <functional>
#include <map>
#include <memory>
#include <string>

#include <windows.h>

#include <commctrl.h>

#include "ui/CommandComponents.h"
#include "ui/UnitFormProcInfo.h"

namespace win32ui {

class Win32ProcInfoDialog : public ProcInfoView {
public:
    // The 32-pixel icon cache the icon is drawn from (null while there is none).
    using IconList = std::function<HIMAGELIST()>;

    // `owner` (may be null) is disabled while the dialog runs and the dialog is centred on it.
    // The layout follows the owner's DPI, or `dpi` when it is not 0.
    Win32ProcInfoDialog(HWND owner, IconList largeIcons, int dpi = 0);
    ~Win32ProcInfoDialog() override;
    Win32ProcInfoDialog(const Win32ProcInfoDialog&) = delete;
    Win32ProcInfoDialog& operator=(const Win32ProcInfoDialog&) = delete;

    void setText(ProcInfoControl control, const std::string& text) override;
    void drawLargeIcon(int index) override;
    // Runs the dialog's modal loop, which keeps dispatching the thread's other messages
    // (the main window's timer among them).
    void showModal() override;
    void closeDialog() override;

    // While the dialog runs: its window, and the window of one control (Panel1 is the dialog's
    // own client area). Null otherwise.
    HWND handle() const { return m_dialog; }
    HWND control(ProcInfoControl control) const;
    // The text set for a control (EPath: the path).
    std::string text(ProcInfoControl control) const;
    int iconIndex() const { return m_iconIndex; }
    // The DPI the dialog is laid out for (96 = 100 %).
    int dpi() const { return m_dpi; }

    // Control identifiers: BTNOK is IDOK, so Enter presses it; Esc sends IDCANCEL.
    static int controlId(ProcInfoControl control);

private:
    static INT_PTR CALLBACK dialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK buttonProc(HWND button, UINT message, WPARAM wParam, LPARAM lParam,
                                       UINT_PTR subclassId, DWORD_PTR data);
    INT_PTR handleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void createControls();
    void createFonts();
    void releaseGdiObjects();
    void sizeLabelToText(ProcInfoControl control);
    void drawButton(const DRAWITEMSTRUCT& item) const;
    void drawImage(const DRAWITEMSTRUCT& item) const;
    int scale(int designPixels) const;

    HWND m_owner;
    IconList m_largeIcons;
    HWND m_dialog = nullptr;
    std::map<ProcInfoControl, std::wstring> m_texts;
    std::map<ProcInfoControl, HWND> m_controls;
    int m_iconIndex = -1;
    int m_fixedDpi = 0;
    int m_dpi = 96;
    bool m_closeRequested = false;
    bool m_buttonHot = false;
    HFONT m_font = nullptr;
    HFONT m_boldFont = nullptr;
    HFONT m_linkFont = nullptr;
    HBRUSH m_panelBrush = nullptr;
    HBRUSH m_lineBrush = nullptr;
    HBRUSH m_pathBrush = nullptr;
};

// Makes one details dialog per opening, owned by the main window.
class Win32ProcInfoDialogs : public ui::ProcInfoDialogs {
public:
    Win32ProcInfoDialogs(HWND owner, Win32ProcInfoDialog::IconList largeIcons);
    std::unique_ptr<ProcInfoView> createProcInfoView() override;

private:
    HWND m_owner;
    Win32ProcInfoDialog::IconList m_largeIcons;
};

} // namespace win32ui
