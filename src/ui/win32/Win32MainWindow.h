#pragma once
// The main window FormKestrel in plain Win32: the top panel with the counters sentence and the
// Help, Update and Home Page buttons, the list VTS, the bottom panel with the four option check
// boxes and the Refresh and End Process buttons, the context menu PmTree and Timer1. The
// window only mirrors state and forwards the user's events; TFormKestrel decides.
#include <array>
#include <functional>
#include <memory>
#include <string>

#include <windows.h>

#include "list/MemoryListControl.h"
#include "ui/Components.h"
#include "ui/UnitFormKestrel.h"
#include "ui/win32/Win32Components.h"

namespace win32ui {

class Win32ListView;
class Win32CommandComponents;
class Win32SystemImageList;

// The resource ID of the application icon in kestrel.exe (src/app/win32/kestrel.rc).
inline constexpr int ApplicationIconId = 1;

class Win32MainWindow : public ui::Window {
public:
    // Makes the window, hidden, centred on its screen at its design size, lays out its
    // controls in their design state and binds the window logic to them; runs no handler.
    // Without icon services of its own the shell's system image lists serve the icon caches.
    // Throws std::runtime_error when the system cannot create the window.
    explicit Win32MainWindow(TFormKestrelServices services);
    ~Win32MainWindow() override;
    Win32MainWindow(const Win32MainWindow&) = delete;
    Win32MainWindow& operator=(const Win32MainWindow&) = delete;

    // The creation sequence (FormCreate); call once, before the window is first shown.
    void create();
    void show(int showCommand = SW_SHOWNORMAL);
    // Runs when the window has been destroyed (the program's main window ends the loop here).
    void setOnDestroyed(std::function<void()> destroyed) { m_onDestroyed = std::move(destroyed); }

    // nullptr once the window has been destroyed.
    HWND handle() const { return m_window; }
    int dpi() const { return m_dpi; }
    TFormKestrel& form() { return *m_form; }
    MemoryListControl& list() { return m_list; }
    Win32MessageBoxes& messages() { return m_messages; }
    HMENU popupMenu() const { return m_popup; }
    // The list's child window (nullptr when the list view could not be made).
    HWND listHandle() const;
    // The counters sentence as it reads on screen.
    std::string countersText() const;
    Win32Label& appCountLabel() { return *m_labAppCount; }
    Win32Label& netCountLabel() { return *m_labNetCount; }
    Win32CheckBox& showLocalBox() { return *m_cbShowLocal; }
    Win32CheckBox& autoRefreshBox() { return *m_cbAutoRefresh; }
    Win32CheckBox& alwaysTopBox() { return *m_cbAlwaysTop; }
    Win32CheckBox& showInfoBox() { return *m_cbShowInfo; }
    Win32Button& helpButton() { return *m_btnHelp; }
    Win32Button& updateButton() { return *m_btnUpdate; }
    Win32Button& homePageButton() { return *m_btnHomePage; }
    Win32Button& refreshButton() { return *m_btnRefresh; }
    Win32Button& endProcessButton() { return *m_btnEndPro; }
    Win32Timer& timer() { return *m_timer; }
    // The context menu's items in menu order: NProcInfo, NEndProc, NCopy, NLocate, NProperty.
    Win32MenuItem& menuItem(std::size_t index) { return *m_menuItems.at(index); }

    // ui::Window
    std::string caption() const override;
    void setCaption(const std::string& caption) override;
    bool stayOnTop() const override;
    void setStayOnTop(bool stayOnTop) override;
    int left() const override;
    int top() const override;
    int width() const override;
    int height() const override;

    // Design sizes, at 96 DPI.
    static constexpr int ClientWidth = 746;
    static constexpr int ClientHeight = 433;
    static constexpr int MinimumWidth = 672;
    static constexpr int MinimumHeight = 200;
    static constexpr int TopPanelHeight = 34;
    static constexpr int BottomPanelHeight = 28;

private:
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void makeControls();
    // Takes the window apart: the logic first, then the controls, the window and its GDI objects.
    void release();
    void placeAtDesignSize();
    void applyDpi(int dpi);
    void layout();
    void layoutTopPanel();
    void paint();
    void closeRequested();
    void runMenuCommand(unsigned commandId);
    void destroyed();

    HWND m_window = nullptr;
    int m_dpi = 96;
    bool m_closeQueryOpen = false;
    bool m_shown = false;
    HWND m_lastFocus = nullptr;
    std::function<void()> m_onDestroyed;

    HFONT m_font = nullptr;
    HFONT m_boldFont = nullptr;
    HBRUSH m_panelBrush = nullptr;
    HICON m_bigIcon = nullptr;
    HICON m_smallIcon = nullptr;
    HMENU m_popup = nullptr;

    Win32MessageBoxes m_messages;
    MemoryListControl m_list;
    std::unique_ptr<Win32ListView> m_listView;
    std::unique_ptr<Win32Label> m_label1;
    std::unique_ptr<Win32Label> m_labAppCount;
    std::unique_ptr<Win32Label> m_label3;
    std::unique_ptr<Win32Label> m_labNetCount;
    std::unique_ptr<Win32Label> m_label5;
    // The filter's text, not yet on screen in this front end: it stays empty, so every row
    // shows.
    ui::TextField m_filterField;
    std::unique_ptr<Win32Button> m_btnHelp;
    std::unique_ptr<Win32Button> m_btnUpdate;
    std::unique_ptr<Win32Button> m_btnHomePage;
    std::unique_ptr<Win32Button> m_btnRefresh;
    std::unique_ptr<Win32Button> m_btnEndPro;
    std::unique_ptr<Win32CheckBox> m_cbShowLocal;
    std::unique_ptr<Win32CheckBox> m_cbAutoRefresh;
    std::unique_ptr<Win32CheckBox> m_cbAlwaysTop;
    std::unique_ptr<Win32CheckBox> m_cbShowInfo;
    std::unique_ptr<Win32Timer> m_timer;
    std::array<std::unique_ptr<Win32MenuItem>, 5> m_menuItems;
    // The shell's system image lists, behind both icon caches.
    std::unique_ptr<Win32SystemImageList> m_systemImages;
    // The context menu, shell, clipboard and details dialogs of the connection commands.
    std::unique_ptr<Win32CommandComponents> m_commandParts;
    // Last: it refers to everything above.
    std::unique_ptr<TFormKestrel> m_form;
};

// The program's event loop: dispatches messages until WM_QUIT, with the dialog keys (Tab,
// arrows, Space) moving between `mainWindow`'s controls. Returns WM_QUIT's exit code.
int runMessageLoop(HWND mainWindow);

} // namespace win32ui
