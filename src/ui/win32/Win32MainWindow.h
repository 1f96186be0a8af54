#pragma once
// The main window FormKestrel in plain Win32, built from its description (ui/MainWindowLook.h):
// the top panel, the list VTS, the bottom panel, the menus PmTree and PmOptions and Timer1. The
// window only mirrors state and forwards the user's events; TFormKestrel decides.
#include <array>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <windows.h>

#include "list/MemoryListControl.h"
#include "ui/Components.h"
#include "ui/ConnectionLogView.h"
#include "ui/MainWindowLook.h"
#include "ui/UnitFormKestrel.h"
#include "ui/win32/Win32Components.h"
#include "ui/win32/Win32Worker.h"

namespace win32ui {

class Win32ListView;
class Win32CommandComponents;
class Win32ConnectionLogWindow;
class Win32SystemImageList;
class Win32ImageStore;

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
    HMENU optionsMenu() const { return m_optionsMenu; }
    // The counters sentence as it reads on screen.
    std::string countersText() const;
    Win32Label& label(MainControl control) { return *m_labels.at(index(control)); }
    Win32Button& button(MainControl control) { return *m_buttons.at(index(control)); }
    Win32CheckBox& checkBox(MainControl control) { return *m_boxes.at(index(control)); }
    Win32Label& appCountLabel() { return label(MainControl::LabAppCount); }
    Win32Label& netCountLabel() { return label(MainControl::LabNetCount); }
    Win32CheckBox& showLocalBox() { return checkBox(MainControl::CBShowLocal); }
    Win32CheckBox& autoRefreshBox() { return checkBox(MainControl::CBAutoRefresh); }
    Win32CheckBox& alwaysTopBox() { return checkBox(MainControl::CBAlwaysTop); }
    Win32CheckBox& showInfoBox() { return checkBox(MainControl::CBShowInfo); }
    Win32Button& optionsButton() { return button(MainControl::BTNOptions); }
    Win32Button& helpButton() { return button(MainControl::BTNHelp); }
    Win32Button& updateButton() { return button(MainControl::BTNUpdate); }
    Win32Button& homePageButton() { return button(MainControl::BTNHomePage); }
    Win32Button& refreshButton() { return button(MainControl::BTNRefresh); }
    Win32Button& endProcessButton() { return button(MainControl::BTNEndPro); }
    Win32TextField& filterField() { return *m_filterField; }
    Win32Timer& timer() { return *m_timer; }
    // The context menu's items in ContextItem order: NProcInfo, NEndProc, NCopy, NLocate,
    // NProperty.
    Win32MenuItem& menuItem(std::size_t index) { return *m_menuItems.at(index); }
    Win32MenuItem& optionItem(OptionItem item) {
        return *m_optionItems.at(static_cast<std::size_t>(item));
    }
    Win32MenuItem& optionCommand(OptionCommand item) {
        return *m_optionCommands.at(static_cast<std::size_t>(item));
    }

    // The connection log, fed by the window's snapshots (Windows announces no socket's end:
    // openings and closings are what the refreshes find), and its window "连接记录".
    const ConnectionLogView& connectionLog() const { return *m_log; }
    void showConnectionLog();
    // nullptr until first shown.
    Win32ConnectionLogWindow* connectionLogWindow() const { return m_logWindow.get(); }

    // ui::Window
    std::string caption() const override;
    void setCaption(const std::string& caption) override;
    bool stayOnTop() const override;
    void setStayOnTop(bool stayOnTop) override;
    int left() const override;
    int top() const override;
    int width() const override;
    int height() const override;

    // The window's keyboard shortcut Ctrl+F, sent as this command (WM_COMMAND, notification 1
    // as an accelerator's) by translateShortcut.
    static constexpr UINT FindCommand = 400;

    // Posted to the window by the worker's threads when completions are due.
    static constexpr UINT WorkerMessage = WM_APP + 1;

    // Design sizes, at 96 DPI.
    static constexpr int ClientWidth = MainWindowLook::ClientWidth;
    static constexpr int ClientHeight = MainWindowLook::ClientHeight;
    static constexpr int MinimumWidth = MainWindowLook::MinimumWidth;
    static constexpr int MinimumHeight = MainWindowLook::MinimumHeight;
    static constexpr int TopPanelHeight = MainWindowLook::TopPanelHeight;
    static constexpr int BottomPanelHeight = MainWindowLook::BottomPanelHeight;

private:
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void makeControls();
    // Takes the window apart: the logic first, then the controls, the window and its GDI objects.
    void release();
    void placeAtDesignSize();
    void applyDpi(int dpi);
    static std::size_t index(MainControl control) { return static_cast<std::size_t>(control); }
    void makeControl(const MainControlLook& look);
    void makeMenus();
    // Places every control where MainWindowLook::Layout says.
    void layout();
    void paint();
    void closeRequested();
    void runMenuCommand(unsigned commandId);
    // The store behind `icons` when this window made it; nullptr otherwise.
    const Win32ImageStore* storeOf(const TImageListEx* icons) const;
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
    // With the columns of the options, hidden until an option shows them.
    MemoryListControl m_list{ListHeaderColumns::WithOptional};
    std::unique_ptr<Win32ListView> m_listView;
    template <typename T>
    using ByControl = std::array<std::unique_ptr<T>, static_cast<std::size_t>(MainControl::Count)>;
    ByControl<Win32Label> m_labels;
    ByControl<Win32Button> m_buttons;
    ByControl<Win32CheckBox> m_boxes;
    std::unique_ptr<Win32TextField> m_filterField;
    std::unique_ptr<Win32Timer> m_timer;
    HMENU m_optionsMenu = nullptr;
    std::array<std::unique_ptr<Win32MenuItem>, static_cast<std::size_t>(ContextItem::Count)>
        m_menuItems;
    std::array<std::unique_ptr<Win32MenuItem>, static_cast<std::size_t>(OptionItem::Count)>
        m_optionItems;
    std::array<std::unique_ptr<Win32MenuItem>, static_cast<std::size_t>(OptionCommand::Count)>
        m_optionCommands;
    // The image stores this window made for the icon caches (which own them).
    std::vector<Win32ImageStore*> m_ownStores;
    // The shell's system image lists, behind both icon caches.
    std::unique_ptr<Win32SystemImageList> m_systemImages;
    // The context menu, shell, clipboard and details dialogs of the connection commands.
    std::unique_ptr<Win32CommandComponents> m_commandParts;
    // Snapshots and ending processes off the window's thread.
    std::unique_ptr<Win32Worker> m_worker;
    std::unique_ptr<ConnectionLogView> m_log;
    std::unique_ptr<Win32ConnectionLogWindow> m_logWindow;
    // Last: it refers to everything above.
    std::unique_ptr<TFormKestrel> m_form;
};

// The program's event loop: dispatches messages until WM_QUIT, with the dialog keys (Tab,
// arrows, Space) moving between `mainWindow`'s controls. Returns WM_QUIT's exit code.
int runMessageLoop(HWND mainWindow);
// The main window's shortcuts in a message taken from the queue: Ctrl+F pressed in the window
// or any of its controls goes to the window as FindCommand. True when it was one (the message
// is then done with).
bool translateShortcut(HWND mainWindow, const MSG& message);

} // namespace win32ui
