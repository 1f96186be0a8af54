#include "os/Privilege.h"

#include <string>
#include <vector>

#include <windows.h>

#include "win32/WinText.h"

namespace os {

std::vector<std::string> DebugPrivilegeNames() {
    return {"SeDebugPrivilege"};
}

bool AdjustOwnPrivilege(const std::string& name, bool enable) {
    const std::wstring wide = win32::WideFromUtf8(name);
    if (wide.empty())
        return false;
    HANDLE rawToken = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY,
                            &rawToken))
        return false;
    win32::UniqueHandle token(rawToken);
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    if (!::LookupPrivilegeValueW(nullptr, wide.c_str(), &privileges.Privileges[0].Luid))
        return false;
    privileges.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
    ::SetLastError(ERROR_SUCCESS);
    if (!::AdjustTokenPrivileges(token.get(), FALSE, &privileges, sizeof privileges, nullptr,
                                 nullptr))
        return false;
    // The call succeeds also when the token does not hold the privilege; only the last error
    // (ERROR_NOT_ALL_ASSIGNED) tells.
    return ::GetLastError() == ERROR_SUCCESS;
}

} // namespace os
