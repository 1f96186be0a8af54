#include "os/HostNames.h"

// winsock2.h before windows.h.
#include <winsock2.h>

#include <windows.h>
#include <ws2tcpip.h>

#include "win32/WinText.h"

namespace os {

namespace {

// Winsock is started once for the program's life; lookups then run on any thread.
bool winsockStarted() {
    static const bool started = [] {
        WSADATA data{};
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

} // namespace

std::string HostNameOfAddress(const std::string& address) {
    if (address.empty() || !winsockStarted())
        return {};
    ADDRINFOW hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_flags = AI_NUMERICHOST;
    ADDRINFOW* found = nullptr;
    const std::wstring wide = win32::WideFromUtf8(address);
    if (::GetAddrInfoW(wide.c_str(), nullptr, &hints, &found) != 0)
        return {};
    wchar_t host[NI_MAXHOST] = {};
    const int result = ::GetNameInfoW(found->ai_addr, static_cast<socklen_t>(found->ai_addrlen),
                                      host, NI_MAXHOST, nullptr, 0, NI_NAMEREQD);
    ::FreeAddrInfoW(found);
    return result == 0 ? win32::Utf8FromWide(std::wstring(host)) : std::string();
}

} // namespace os
