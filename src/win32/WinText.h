#pragma once
// The boundary between the core's UTF-8 text and the wide (UTF-16) Win32 functions, and the
// owner of a kernel HANDLE.
#include <string>

#include <windows.h>

namespace win32 {

// UTF-8 of a wide text; unpaired surrogates become U+FFFD. Empty for an empty text.
std::string Utf8FromWide(const wchar_t* text, std::size_t length);
std::string Utf8FromWide(const std::wstring& text);

// Wide text of a UTF-8 text; invalid bytes become U+FFFD.
std::wstring WideFromUtf8(const std::string& text);

// Closes the handle it owns. Both null and INVALID_HANDLE_VALUE mean "none", because the
// Win32 functions use either for failure.
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE handle) : m_handle(handle) {}
    ~UniqueHandle();
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    HANDLE get() const { return m_handle; }
    bool valid() const { return m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE; }
    // Closes now and tells whether the close succeeded.
    bool reset();

private:
    HANDLE m_handle = nullptr;
};

} // namespace win32
