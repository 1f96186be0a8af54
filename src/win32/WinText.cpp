#include "win32/WinText.h"

#include <climits>

namespace win32 {

std::string Utf8FromWide(const wchar_t* text, std::size_t length) {
    if (text == nullptr || length == 0 || length > static_cast<std::size_t>(INT_MAX))
        return {};
    const int wideLength = static_cast<int>(length);
    const int needed =
        ::WideCharToMultiByte(CP_UTF8, 0, text, wideLength, nullptr, 0, nullptr, nullptr);
    if (needed <= 0)
        return {};
    std::string out(static_cast<std::size_t>(needed), '\0');
    const int written =
        ::WideCharToMultiByte(CP_UTF8, 0, text, wideLength, out.data(), needed, nullptr, nullptr);
    if (written <= 0)
        return {};
    out.resize(static_cast<std::size_t>(written));
    return out;
}

std::string Utf8FromWide(const std::wstring& text) {
    return Utf8FromWide(text.data(), text.size());
}

std::wstring WideFromUtf8(const std::string& text) {
    if (text.empty() || text.size() > static_cast<std::size_t>(INT_MAX))
        return {};
    const int length = static_cast<int>(text.size());
    const int needed = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
    if (needed <= 0)
        return {};
    std::wstring out(static_cast<std::size_t>(needed), L'\0');
    const int written = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), length, out.data(), needed);
    if (written <= 0)
        return {};
    out.resize(static_cast<std::size_t>(written));
    return out;
}

UniqueHandle::~UniqueHandle() {
    reset();
}

bool UniqueHandle::reset() {
    if (!valid()) {
        m_handle = nullptr;
        return true;
    }
    const HANDLE handle = m_handle;
    m_handle = nullptr;
    return ::CloseHandle(handle) != 0;
}

} // namespace win32
