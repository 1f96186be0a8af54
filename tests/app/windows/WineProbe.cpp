// Reads what the test of the real kestrel.exe cannot see from the X server: the texts of a
// window's controls and where a control sits on the screen. Runs in the same Wine prefix as
// the program.
//   kestrel_wine_probe texts <window caption>            one line per child control's text
//   kestrel_wine_probe point <window caption> <text>     "x y" in screen pixels: a point of
//                                                        the control near its left end, where
//                                                        a check box has its square
//   kestrel_wine_probe checked <window caption> <text>   "1" ticked, "0" not
//   kestrel_wine_probe row <window caption>              "x y" of a point in the first row
//                                                        of the window's list view
//   kestrel_wine_probe menu                              status 0 while a popup menu is open
//   kestrel_wine_probe clipboard                         the clipboard's Unicode text
//   kestrel_wine_probe details                           shows the process details dialog
//                                                        for a sample row until it is closed
// Captions and texts are UTF-8; exit status 1 when the window or control is not there.
#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

#include <windows.h>

#include <shellapi.h>

#include "ui/win32/Win32ProcInfoDialog.h"
#include "win32/WinText.h"

namespace {

struct Search {
    std::wstring text;
    std::vector<HWND> found;
};

BOOL CALLBACK collectTopLevel(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<Search*>(data);
    wchar_t caption[256] = {};
    ::GetWindowTextW(window, caption, 256);
    if (::IsWindowVisible(window) && search->text == caption)
        search->found.push_back(window);
    return TRUE;
}

BOOL CALLBACK collectChild(HWND window, LPARAM data) {
    reinterpret_cast<std::vector<HWND>*>(data)->push_back(window);
    return TRUE;
}

std::wstring textOf(HWND window) {
    const int length = ::GetWindowTextLengthW(window);
    std::wstring text(static_cast<std::size_t>(length > 0 ? length : 0) + 1, L'\0');
    const int copied = ::GetWindowTextW(window, text.data(), static_cast<int>(text.size()));
    text.resize(static_cast<std::size_t>(copied > 0 ? copied : 0));
    return text;
}

class NoShell : public ShellRequests {
public:
    void openDocument(const std::string&) override {}
    void selectInFileManager(const std::string&) override {}
    void showProperties(const std::string&) override {}
};

int showDetails() {
    TMyRec rec;
    rec.Protocol = "TCP";
    rec.PID = "1234";
    rec.ProcName = "kestrel.exe";
    rec.ProcPath = "C:\\Program Files\\Kestrel 网络\\kestrel.exe";
    rec.FileDesc = "网络连接查看器";
    rec.Company = "示例公司";
    NoShell shell;
    win32ui::Win32ProcInfoDialog dialog(nullptr, {});
    TFormProcInfo form(dialog, shell);
    form.Show(rec, -1);
    return 0;
}

std::wstring classOf(HWND window) {
    wchar_t name[64] = {};
    ::GetClassNameW(window, name, 64);
    return name;
}

BOOL CALLBACK findOpenMenu(HWND window, LPARAM found) {
    if (classOf(window) != L"#32768" || !::IsWindowVisible(window))
        return TRUE;
    *reinterpret_cast<bool*>(found) = true;
    return FALSE;
}

void print(const std::string& line) {
    const std::string out = line + "\n";
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), out.data(), static_cast<DWORD>(out.size()),
                &written, nullptr);
}

HWND findChild(HWND top, const std::wstring& text) {
    std::vector<HWND> children;
    ::EnumChildWindows(top, &collectChild, reinterpret_cast<LPARAM>(&children));
    for (HWND child : children) {
        if (textOf(child) == text)
            return child;
    }
    return nullptr;
}

} // namespace

int main() {
    int count = 0;
    LPWSTR* arguments = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (arguments != nullptr && count == 2 && std::wstring(arguments[1]) == L"details") {
        ::LocalFree(arguments);
        return showDetails();
    }
    if (arguments != nullptr && count == 2 && std::wstring(arguments[1]) == L"menu") {
        ::LocalFree(arguments);
        bool open = false;
        ::EnumWindows(&findOpenMenu, reinterpret_cast<LPARAM>(&open));
        return open ? 0 : 1;
    }
    if (arguments != nullptr && count == 2 && std::wstring(arguments[1]) == L"clipboard") {
        ::LocalFree(arguments);
        if (!::OpenClipboard(nullptr))
            return 1;
        std::string text;
        bool found = false;
        if (const HANDLE data = ::GetClipboardData(CF_UNICODETEXT)) {
            if (const auto* chars = static_cast<const wchar_t*>(::GlobalLock(data))) {
                text = win32::Utf8FromWide(chars, std::wcslen(chars));
                found = true;
                ::GlobalUnlock(data);
            }
        }
        ::CloseClipboard();
        if (found)
            print(text);
        return found ? 0 : 1;
    }
    if (arguments == nullptr || count < 3)
        return 2;
    const std::wstring command = arguments[1];
    Search search{arguments[2], {}};
    const std::wstring childText = count > 3 ? arguments[3] : L"";
    ::LocalFree(arguments);

    ::EnumWindows(&collectTopLevel, reinterpret_cast<LPARAM>(&search));
    if (search.found.empty())
        return 1;
    const HWND top = search.found.front();

    if (command == L"texts") {
        std::vector<HWND> children;
        ::EnumChildWindows(top, &collectChild, reinterpret_cast<LPARAM>(&children));
        for (HWND child : children)
            print(win32::Utf8FromWide(textOf(child)));
        return 0;
    }
    if (command == L"row") {
        std::vector<HWND> children;
        ::EnumChildWindows(top, &collectChild, reinterpret_cast<LPARAM>(&children));
        HWND list = nullptr;
        HWND header = nullptr;
        for (HWND child : children) {
            if (classOf(child) == L"SysListView32" && list == nullptr)
                list = child;
            else if (classOf(child) == L"SysHeader32" && header == nullptr)
                header = child;
        }
        if (list == nullptr)
            return 1;
        RECT listBox{};
        ::GetWindowRect(list, &listBox);
        RECT headerBox = listBox;
        headerBox.bottom = listBox.top;
        if (header != nullptr)
            ::GetWindowRect(header, &headerBox);
        // Rows are at least 22 design pixels high: 8 below the header is inside the first.
        print(std::to_string(listBox.left + (listBox.right - listBox.left) / 3) + " " +
              std::to_string(headerBox.bottom + 8));
        return 0;
    }
    const HWND child = findChild(top, childText);
    if (child == nullptr)
        return 1;
    if (command == L"point") {
        RECT rect{};
        ::GetWindowRect(child, &rect);
        const int half = (rect.bottom - rect.top) / 2;
        const int x = rect.left + std::min<int>(half, (rect.right - rect.left) / 2);
        print(std::to_string(x) + " " + std::to_string(rect.top + half));
        return 0;
    }
    if (command == L"checked") {
        print(::SendMessageW(child, BM_GETCHECK, 0, 0) == BST_CHECKED ? "1" : "0");
        return 0;
    }
    return 2;
}
