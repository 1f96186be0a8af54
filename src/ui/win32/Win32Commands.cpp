#include "ui/win32/Win32Commands.h"

#include <cstring>
#include <cwchar>

#include <commdlg.h>
#include <objbase.h>
#include <shellapi.h>

#include "ui/win32/Win32ImageList.h"
#include "win32/WinText.h"

namespace win32ui {

namespace {

// A path the shell opens as a file: a drive letter ("C:") or a UNC / rooted name.
bool isLocalPath(const std::string& text) {
    if (text.size() >= 2 && text[1] == ':')
        return true;
    return !text.empty() && (text[0] == '\\' || text[0] == '/');
}

// COM for the calling thread for as long as the object lives; the shell's verbs may need it.
class ComForCall {
public:
    ComForCall()
        : m_result(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)) {}
    ~ComForCall() {
        // S_FALSE (already initialised) must be balanced too; RPC_E_CHANGED_MODE must not.
        if (SUCCEEDED(m_result))
            ::CoUninitialize();
    }
    ComForCall(const ComForCall&) = delete;
    ComForCall& operator=(const ComForCall&) = delete;

private:
    HRESULT m_result;
};

// Owns a global memory block until the clipboard takes it.
class GlobalBlock {
public:
    explicit GlobalBlock(SIZE_T bytes) : m_memory(::GlobalAlloc(GMEM_MOVEABLE, bytes)) {}
    ~GlobalBlock() {
        if (m_memory != nullptr)
            ::GlobalFree(m_memory);
    }
    GlobalBlock(const GlobalBlock&) = delete;
    GlobalBlock& operator=(const GlobalBlock&) = delete;

    HGLOBAL get() const { return m_memory; }
    HGLOBAL release() {
        const HGLOBAL memory = m_memory;
        m_memory = nullptr;
        return memory;
    }

private:
    HGLOBAL m_memory;
};

class OpenedClipboard {
public:
    explicit OpenedClipboard(HWND owner) : m_open(::OpenClipboard(owner) != FALSE) {}
    ~OpenedClipboard() {
        if (m_open)
            ::CloseClipboard();
    }
    OpenedClipboard(const OpenedClipboard&) = delete;
    OpenedClipboard& operator=(const OpenedClipboard&) = delete;

    bool open() const { return m_open; }

private:
    bool m_open;
};

} // namespace

Win32PopupMenu::Win32PopupMenu(HWND owner, HMENU menu, std::function<void(unsigned)> runCommand)
    : m_owner(owner), m_menu(menu), m_runCommand(std::move(runCommand)) {}

void Win32PopupMenu::popup(ScreenPoint where) {
    if (m_menu == nullptr || m_owner == nullptr || !::IsWindow(m_owner))
        return;
    // Without the foreground the menu would not close when the user clicks elsewhere.
    ::SetForegroundWindow(m_owner);
    const BOOL chosen = ::TrackPopupMenuEx(m_menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, where.x,
                                           where.y, m_owner, nullptr);
    // A message after the menu, as Windows asks, so that a second popup opens at once.
    ::PostMessageW(m_owner, WM_NULL, 0, 0);
    if (chosen != 0 && m_runCommand)
        m_runCommand(static_cast<unsigned>(chosen));
}

Win32DropDownMenu::Win32DropDownMenu(HWND owner, HMENU menu, HWND button,
                                     std::function<void(unsigned)> runCommand)
    : m_owner(owner), m_menu(menu), m_button(button), m_runCommand(std::move(runCommand)) {}

void Win32DropDownMenu::dropDown() {
    RECT bounds{};
    if (m_menu == nullptr || m_owner == nullptr || !::IsWindow(m_owner) ||
        !::GetWindowRect(m_button, &bounds))
        return;
    ::SetForegroundWindow(m_owner);
    // Below the button; where the screen ends there, above it.
    TPMPARAMS avoid{};
    avoid.cbSize = sizeof(avoid);
    avoid.rcExclude = bounds;
    const BOOL chosen =
        ::TrackPopupMenuEx(m_menu, TPM_RETURNCMD | TPM_LEFTALIGN | TPM_TOPALIGN | TPM_VERTICAL,
                           bounds.left, bounds.bottom, m_owner, &avoid);
    ::PostMessageW(m_owner, WM_NULL, 0, 0);
    if (chosen != 0 && m_runCommand)
        m_runCommand(static_cast<unsigned>(chosen));
}

Win32Shell::Win32Shell(HWND owner, Executor execute)
    : m_owner(owner), m_execute(std::move(execute)) {
    if (!m_execute)
        m_execute = [owner](const ShellExecuteCall& call) { executeWithShell(owner, call); };
}

void Win32Shell::openDocument(const std::string& urlOrPath) {
    if (urlOrPath.empty())
        return;
    ShellExecuteCall call;
    if (isLocalPath(urlOrPath))
        call.verb = L"open";
    call.file = win32::WideFromUtf8(urlOrPath);
    m_execute(call);
}

void Win32Shell::openHelpSection(const std::string& helpFile, const std::string& section) {
    if (helpFile.empty())
        return;
    const std::wstring path = win32::WideFromUtf8(helpFile);
    const std::wstring anchor = L"#" + win32::WideFromUtf8(section);
    ShellExecuteCall call;
    const bool compiled = path.size() > 4 && _wcsicmp(path.c_str() + path.size() - 4, L".chm") == 0;
    if (compiled) {
        // The page inside the compiled help is the HTML file it was compiled from.
        call.verb = L"open";
        call.file = L"hh.exe";
        call.parameters = L"mk:@MSITStore:" + path + L"::/KestrelHelp.html" + anchor;
    } else {
        std::wstring address = L"file:///";
        for (const wchar_t c : path) {
            if (c == L'\\')
                address += L'/';
            else if (c == L' ')
                address += L"%20";
            else if (c == L'#')
                address += L"%23";
            else if (c == L'%')
                address += L"%25";
            else
                address += c;
        }
        call.file = address + anchor;
    }
    m_execute(call);
}

void Win32Shell::selectInFileManager(const std::string& path) {
    if (path.empty())
        return;
    ShellExecuteCall call;
    call.verb = L"open";
    call.file = L"explorer.exe";
    call.parameters = selectParameters(path);
    m_execute(call);
}

void Win32Shell::showProperties(const std::string& path) {
    if (path.empty())
        return;
    ShellExecuteCall call;
    call.verb = L"properties";
    call.file = win32::WideFromUtf8(path);
    call.invokeIdList = true;
    m_execute(call);
}

std::wstring Win32Shell::selectParameters(const std::string& path) {
    const std::wstring wide = win32::WideFromUtf8(path);
    const bool quote = wide.find_first_of(L" \t,") != std::wstring::npos;
    return quote ? L"/select, \"" + wide + L"\"" : L"/select, " + wide;
}

void Win32Shell::executeWithShell(HWND owner, const ShellExecuteCall& call) {
    const ComForCall com;
    const wchar_t* verb = call.verb.empty() ? nullptr : call.verb.c_str();
    const wchar_t* parameters = call.parameters.empty() ? nullptr : call.parameters.c_str();
    if (!call.invokeIdList) {
        ::ShellExecuteW(owner, verb, call.file.c_str(), parameters, nullptr, SW_SHOWNORMAL);
        return;
    }
    SHELLEXECUTEINFOW info;
    std::memset(&info, 0, sizeof info);
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_INVOKEIDLIST;
    info.hwnd = owner;
    info.lpVerb = verb;
    info.lpFile = call.file.c_str();
    info.lpParameters = parameters;
    info.nShow = SW_SHOWNORMAL;
    ::ShellExecuteExW(&info);
}

std::string Win32Clipboard::withCrLf(const std::string& text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            out.push_back('\r');
        out.push_back(text[i]);
    }
    return out;
}

void Win32Clipboard::setText(const std::string& text) {
    if (m_owner == nullptr)
        return;
    const std::wstring wide = win32::WideFromUtf8(withCrLf(text));
    const SIZE_T bytes = (wide.size() + 1) * sizeof(wchar_t);
    GlobalBlock block(bytes);
    if (block.get() == nullptr)
        return;
    void* locked = ::GlobalLock(block.get());
    if (locked == nullptr)
        return;
    std::memcpy(locked, wide.c_str(), bytes);
    ::GlobalUnlock(block.get());

    const OpenedClipboard clipboard(m_owner);
    if (!clipboard.open() || !::EmptyClipboard())
        return;
    // On success the clipboard owns the block; otherwise it is freed here.
    if (::SetClipboardData(CF_UNICODETEXT, block.get()) != nullptr)
        block.release();
}

std::string Win32SaveFileDialog::askSaveFileName(const std::string& caption,
                                                 const std::string& suggestedName) {
    // Room for a long path; the dialog refuses a longer name rather than cutting it.
    std::wstring name(32768, L'\0');
    const std::wstring suggested = win32::WideFromUtf8(suggestedName);
    if (suggested.size() < name.size())
        std::wmemcpy(name.data(), suggested.c_str(), suggested.size());
    const std::wstring title = win32::WideFromUtf8(caption);
    // Pairs of display text and pattern, ended by an empty pair.
    const std::wstring filter = win32::WideFromUtf8("CSV 文件 (*.csv)") + L'\0' + L"*.csv" + L'\0' +
                                win32::WideFromUtf8("制表符分隔的文本文件 (*.txt)") + L'\0' +
                                L"*.txt" + L'\0' + L'\0';
    OPENFILENAMEW dialog;
    std::memset(&dialog, 0, sizeof dialog);
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = m_owner;
    dialog.lpstrFilter = filter.c_str();
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = name.data();
    dialog.nMaxFile = static_cast<DWORD>(name.size());
    dialog.lpstrTitle = title.c_str();
    // A name typed without an extension gets the chosen type's.
    dialog.lpstrDefExt = L"csv";
    dialog.Flags =
        OFN_EXPLORER | OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_HIDEREADONLY;
    if (!::GetSaveFileNameW(&dialog))
        return {};
    return win32::Utf8FromWide(name.c_str(), std::wcslen(name.c_str()));
}

Win32CommandComponents::Win32CommandComponents(HWND owner, HMENU pmTree, HMENU pmOptions,
                                               HWND optionsButton,
                                               std::function<void(unsigned)> runCommand,
                                               std::function<HIMAGELIST()> largeIcons)
    : m_menu(owner, pmTree, runCommand),
      m_options(owner, pmOptions, optionsButton, std::move(runCommand)), m_shell(owner),
      m_clipboard(owner), m_dialogs(owner,
                                    [largeIcons = std::move(largeIcons)]() -> HIMAGELIST {
                                        return largeIcons ? largeIcons() : nullptr;
                                    }),
      m_saveDialog(owner) {}

TFormKestrelCommands Win32CommandComponents::commands() {
    return TFormKestrelCommands{&m_menu,    &m_shell,   &m_clipboard,
                                &m_dialogs, &m_options, &m_saveDialog};
}

} // namespace win32ui
