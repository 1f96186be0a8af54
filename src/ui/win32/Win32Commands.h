#pragma once
// The pieces the connection commands need in Win32: the context menu, the shell, the clipboard
// and the process details dialogs. The main window makes one Win32CommandComponents and binds
// it to its TFormKestrel with SetCommandComponents(commands()).
#include <functional>
#include <string>

#include <windows.h>

#include "list/ImageListEx.h"
#include "ui/CommandComponents.h"
#include "ui/ShellRequests.h"
#include "ui/UnitFormKestrel.h"
#include "ui/win32/Win32ProcInfoDialog.h"

namespace win32ui {

// The context menu PmTree, tracked modally at a screen point.
class Win32PopupMenu : public ui::PopupMenu {
public:
    // `owner` receives the menu's messages; `runCommand(id)` runs the chosen item.
    Win32PopupMenu(HWND owner, HMENU menu, std::function<void(unsigned)> runCommand);
    // Returns once the menu has closed and the chosen item's command (if any) has run.
    void popup(ScreenPoint where) override;

private:
    HWND m_owner;
    HMENU m_menu;
    std::function<void(unsigned)> m_runCommand;
};

// The options menu PmOptions, tracked modally just below its button.
class Win32DropDownMenu : public ui::DropDownMenu {
public:
    Win32DropDownMenu(HWND owner, HMENU menu, HWND button,
                      std::function<void(unsigned)> runCommand);
    void dropDown() override;

private:
    HWND m_owner;
    HMENU m_menu;
    HWND m_button;
    std::function<void(unsigned)> m_runCommand;
};

// One request to the shell, in the terms of ShellExecuteW / ShellExecuteExW.
struct ShellExecuteCall {
    std::wstring verb; // empty: the file's default action
    std::wstring file;
    std::wstring parameters;
    // ShellExecuteExW with SEE_MASK_INVOKEIDLIST, as the properties sheet needs.
    bool invokeIdList = false;
};

class Win32Shell : public ShellRequests {
public:
    // Carries out one request; the result is not reported (the default calls the shell).
    using Executor = std::function<void(const ShellExecuteCall&)>;

    // `owner` (may be null) owns what the shell shows for a document or address.
    explicit Win32Shell(HWND owner = nullptr, Executor execute = {});

    // A local path is opened with "open", an address with its default action.
    void openDocument(const std::string& urlOrPath) override;
    // A compiled help file through hh.exe at its page's anchor; an HTML one as a file address
    // with the anchor, by its default action.
    void openHelpSection(const std::string& helpFile, const std::string& section) override;
    // explorer.exe "/select, <path>".
    void selectInFileManager(const std::string& path) override;
    void showProperties(const std::string& path) override;

    // explorer.exe's parameters selecting `path`. The path is quoted when it holds a space or
    // a comma: explorer splits its command line at commas, so an unquoted path with a comma
    // would select the wrong item.
    static std::wstring selectParameters(const std::string& path);

    // Calls ShellExecuteW / ShellExecuteExW with COM initialised for the call, as the shell's
    // verbs and property sheets require.
    static void executeWithShell(HWND owner, const ShellExecuteCall& call);

private:
    HWND m_owner;
    Executor m_execute;
};

class Win32Clipboard : public ClipboardText {
public:
    // `owner` becomes the clipboard owner; without one nothing can be put on the clipboard.
    explicit Win32Clipboard(HWND owner) : m_owner(owner) {}
    // CF_UNICODETEXT with CR LF line ends; nothing happens when the clipboard is held by
    // another program.
    void setText(const std::string& text) override;

    // `text` with every line feed not yet preceded by a carriage return given one.
    static std::string withCrLf(const std::string& text);

private:
    HWND m_owner;
};

// GetSaveFileNameW, owned by the main window.
class Win32SaveFileDialog : public ui::SaveFileDialog {
public:
    explicit Win32SaveFileDialog(HWND owner) : m_owner(owner) {}
    std::string askSaveFileName(const std::string& caption,
                                const std::string& suggestedName) override;

private:
    HWND m_owner;
};

class Win32CommandComponents {
public:
    // `pmTree` is the context menu, `pmOptions` the menu of `optionsButton`; `runCommand(id)`
    // runs the chosen item of either. `largeIcons` gives the image list of the window's
    // 32-pixel icon cache (nullptr while there is none).
    Win32CommandComponents(HWND owner, HMENU pmTree, HMENU pmOptions, HWND optionsButton,
                           std::function<void(unsigned)> runCommand,
                           std::function<HIMAGELIST()> largeIcons);
    TFormKestrelCommands commands();

private:
    Win32PopupMenu m_menu;
    Win32DropDownMenu m_options;
    Win32Shell m_shell;
    Win32Clipboard m_clipboard;
    Win32ProcInfoDialogs m_dialogs;
    Win32SaveFileDialog m_saveDialog;
};

} // namespace win32ui
