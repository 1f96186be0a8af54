#include "os/Processes.h"

#include <cwchar>
#include <string>
#include <vector>

#include <windows.h>

#include <tlhelp32.h>

#include "os/windows/WinProcess.h"
#include "win32/WinText.h"

namespace os {

bool SnapshotProcesses(std::vector<ProcessEntry>& processes) {
    processes.clear();
    win32::UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.valid())
        return false;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    if (!::Process32FirstW(snapshot.get(), &entry))
        return false;
    do {
        ProcessEntry process;
        process.pid = entry.th32ProcessID;
        process.exeFile =
            win32::Utf8FromWide(entry.szExeFile, ::wcsnlen(entry.szExeFile, MAX_PATH));
        processes.push_back(std::move(process));
        entry.dwSize = sizeof entry;
    } while (::Process32NextW(snapshot.get(), &entry));
    return true;
}

std::string ProcessImagePath(std::uint32_t pid) {
    // The limited right is granted also for protected and elevated processes.
    win32::UniqueHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process.valid())
        return {};
    // Long paths (\\?\ form) reach 32767 characters.
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD length = static_cast<DWORD>(path.size());
        if (::QueryFullProcessImageNameW(process.get(), 0, path.data(), &length)) {
            path.resize(length);
            return win32::Utf8FromWide(path);
        }
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || path.size() >= 32768)
            return {};
        path.resize(path.size() * 4 > 32768 ? 32768 : path.size() * 4);
    }
}

std::uint64_t ProcessStartTime(std::uint32_t pid) {
    win32::UniqueHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process.valid())
        return 0;
    return win::CreationTimeOf(process.get());
}

} // namespace os

namespace os::win {

std::uint64_t CreationTimeOf(HANDLE process) {
    FILETIME creation{};
    FILETIME exit{};
    FILETIME kernel{};
    FILETIME user{};
    if (!::GetProcessTimes(process, &creation, &exit, &kernel, &user))
        return 0;
    return static_cast<std::uint64_t>(creation.dwHighDateTime) << 32 | creation.dwLowDateTime;
}

} // namespace os::win
