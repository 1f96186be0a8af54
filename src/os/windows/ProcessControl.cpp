#include "os/ProcessControl.h"

#include <cstdint>

#include <windows.h>

#include "os/windows/WinProcess.h"
#include "win32/WinText.h"

namespace os {

namespace {

// How long we wait to see the process gone, so that the refresh that follows no longer finds
// its sockets.
constexpr DWORD TerminateWaitMs = 2000;

EndProcessResult resultOfError(DWORD error) {
    switch (error) {
    case ERROR_INVALID_PARAMETER: // OpenProcess's answer for an ID no process has
        return EndProcessResult::Gone;
    case ERROR_ACCESS_DENIED:
        return EndProcessResult::NotPermitted;
    default:
        return EndProcessResult::Failed;
    }
}

} // namespace

EndProcessResult EndProcess(std::uint32_t pid, std::uint64_t expectedStartTime) {
    if (expectedStartTime == 0)
        return EndProcessResult::IdentityMismatch;
    // The handle pins the process object: once its creation time matches, the ID cannot be
    // handed to another process before TerminateProcess runs.
    win32::UniqueHandle process(::OpenProcess(
        PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, pid));
    if (!process.valid())
        return resultOfError(::GetLastError());
    if (::WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0)
        return EndProcessResult::Gone;
    const std::uint64_t startTime = win::CreationTimeOf(process.get());
    if (startTime == 0 || startTime != expectedStartTime)
        return EndProcessResult::IdentityMismatch;
    // Windows has no general "please end" request for a process without windows; like the
    // task manager's "End task" on a process, it is terminated, with exit code 0.
    if (!::TerminateProcess(process.get(), 0)) {
        const DWORD error = ::GetLastError();
        if (::WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0)
            return EndProcessResult::Gone;
        return resultOfError(error);
    }
    ::WaitForSingleObject(process.get(), TerminateWaitMs);
    return EndProcessResult::Ended;
}

} // namespace os
