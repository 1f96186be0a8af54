#include "os/SingleInstance.h"

#include <cstdint>
#include <string>

#include <windows.h>

#include "win32/WinText.h"

namespace os {

// Windows: a named mutex in the session's namespace. The system closes it when the process
// ends, however it ends. The handle is kept in the int member: kernel handles are 32-bit
// values also in 64-bit processes (so that 32-bit processes can share them).
SingleInstance::SingleInstance(const std::string& name) {
    const std::wstring wide = win32::WideFromUtf8(name);
    if (wide.empty())
        return;
    const HANDLE mutex = ::CreateMutexW(nullptr, FALSE, wide.c_str());
    const DWORD error = ::GetLastError();
    if (mutex == nullptr) {
        // The name is held by a process whose mutex we may not open (another integrity level):
        // still another instance.
        m_alreadyRunning = error == ERROR_ACCESS_DENIED;
        return;
    }
    m_fd = static_cast<int>(reinterpret_cast<std::intptr_t>(mutex));
    m_alreadyRunning = error == ERROR_ALREADY_EXISTS;
}

SingleInstance::~SingleInstance() {
    if (m_fd != -1)
        ::CloseHandle(reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(m_fd)));
}

} // namespace os
