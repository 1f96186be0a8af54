#include "os/SettingsPath.h"

#include <string>

#include <windows.h>

#include "os/SystemDirs.h"
#include "win32/WinText.h"

namespace os {

namespace {

// The settings file is small; anything larger is no settings file of ours.
constexpr LONGLONG MaxFileSize = 16 * 1024 * 1024;

std::wstring parentFolder(const std::wstring& path) {
    const std::size_t separator = path.find_last_of(L"\\/");
    if (separator == std::wstring::npos)
        return {};
    return path.substr(0, separator);
}

bool isFolder(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool makeFolders(const std::wstring& folder) {
    if (folder.empty() || isFolder(folder))
        return true;
    // A drive ("C:") or a share root cannot be made; it exists or it does not.
    if (folder.size() <= 2 || folder.back() == L':')
        return false;
    const std::wstring parent = parentFolder(folder);
    if (!parent.empty() && parent != folder && !makeFolders(parent))
        return false;
    if (::CreateDirectoryW(folder.c_str(), nullptr))
        return true;
    // Someone else may have made it meanwhile.
    return ::GetLastError() == ERROR_ALREADY_EXISTS && isFolder(folder);
}

bool writeAll(HANDLE file, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const std::size_t rest = data.size() - done;
        const DWORD chunk = rest > (1u << 30) ? (1u << 30) : static_cast<DWORD>(rest);
        DWORD written = 0;
        if (!::WriteFile(file, data.data() + done, chunk, &written, nullptr) || written == 0)
            return false;
        done += written;
    }
    return true;
}

} // namespace

std::string SettingsFilePath() {
    const std::string dir = ExecutableDir();
    if (dir.empty())
        return {};
    return dir + "Kestrel.ini";
}

FileReadResult ReadWholeFile(const std::string& path, std::string& contents) {
    contents.clear();
    const std::wstring wide = win32::WideFromUtf8(path);
    if (wide.empty())
        return FileReadResult::Missing;
    win32::UniqueHandle file(::CreateFileW(wide.c_str(), GENERIC_READ,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                   ? FileReadResult::Missing
                   : FileReadResult::Failed;
    }
    LARGE_INTEGER size{};
    if (::GetFileType(file.get()) != FILE_TYPE_DISK || !::GetFileSizeEx(file.get(), &size) ||
        size.QuadPart < 0 || size.QuadPart > MaxFileSize)
        return FileReadResult::Failed;
    contents.resize(static_cast<std::size_t>(size.QuadPart));
    std::size_t done = 0;
    while (done < contents.size()) {
        DWORD got = 0;
        if (!::ReadFile(file.get(), contents.data() + done,
                        static_cast<DWORD>(contents.size() - done), &got, nullptr)) {
            contents.clear();
            return FileReadResult::Failed;
        }
        if (got == 0)
            break;
        done += got;
    }
    contents.resize(done);
    return FileReadResult::Read;
}

bool ReplaceWholeFile(const std::string& path, const std::string& contents) {
    const std::wstring target = win32::WideFromUtf8(path);
    if (target.empty())
        return false;
    const std::wstring folder = parentFolder(target);
    if (!makeFolders(folder))
        return false;

    // An existing file that may not be written stays as it is.
    const DWORD attributes = ::GetFileAttributesW(target.c_str());
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (exists) {
        if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0)
            return false;
        win32::UniqueHandle probe(::CreateFileW(
            target.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!probe.valid())
            return false;
    }

    const std::wstring temporary = target + L".tmp" + std::to_wstring(::GetCurrentProcessId()) +
                                   L"-" + std::to_wstring(::GetTickCount64());
    {
        win32::UniqueHandle file(::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr,
                                               CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.valid())
            return false;
        const bool written = writeAll(file.get(), contents) && ::FlushFileBuffers(file.get());
        if (!file.reset() || !written) {
            ::DeleteFileW(temporary.c_str());
            return false;
        }
    }
    // ReplaceFileW keeps the replaced file's attributes and access rights; a new file is
    // simply moved into place.
    const bool replaced =
        exists ? ::ReplaceFileW(target.c_str(), temporary.c_str(), nullptr,
                                REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr) != 0
               : ::MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH) != 0;
    if (!replaced) {
        ::DeleteFileW(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace os
