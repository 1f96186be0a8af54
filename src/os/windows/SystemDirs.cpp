#include "os/SystemDirs.h"

#include <string>
#include <vector>

#include <windows.h>

#include "win32/WinText.h"

namespace os {

std::vector<std::string> SystemDirectories() {
    wchar_t buffer[MAX_PATH + 1] = {};
    const UINT length = ::GetSystemDirectoryW(buffer, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH)
        return {};
    std::wstring dir(buffer, length);
    while (dir.size() > 3 && (dir.back() == L'\\' || dir.back() == L'/'))
        dir.pop_back();
    return {win32::Utf8FromWide(dir)};
}

std::string ExecutableDir() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return {};
        // A name that fills the buffer may have been cut short.
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        if (path.size() >= 32768)
            return {};
        path.resize(path.size() * 4 > 32768 ? 32768 : path.size() * 4);
    }
    const std::size_t separator = path.find_last_of(L"\\/");
    if (separator == std::wstring::npos)
        return {};
    return win32::Utf8FromWide(path.substr(0, separator + 1));
}

} // namespace os
