#include "os/IconNames.h"

#include <mutex>
#include <string>
#include <unordered_map>

#include <windows.h>

#include <shellapi.h>

#include "win32/WinText.h"

namespace os {

// On Windows an icon key is a file path and a system index is the shell's own: a position in
// the system image list, the same for its small and large pictures.
namespace {

class IconIndices {
public:
    void remember(int index, const std::string& key) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_keys.try_emplace(index, key);
    }

    std::string keyOf(int index) {
        std::lock_guard<std::mutex> guard(m_lock);
        const auto found = m_keys.find(index);
        return found == m_keys.end() ? std::string() : found->second;
    }

    bool cached(const std::string& path, int& index) {
        std::lock_guard<std::mutex> guard(m_lock);
        const auto found = m_byPath.find(path);
        if (found == m_byPath.end())
            return false;
        index = found->second;
        return true;
    }

    void cache(const std::string& path, int index) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_byPath.emplace(path, index);
    }

private:
    std::mutex m_lock;
    std::unordered_map<int, std::string> m_keys;
    std::unordered_map<std::string, int> m_byPath;
};

IconIndices& Indices() {
    static IconIndices indices;
    return indices;
}

int shellIconIndex(const std::wstring& path, UINT extraFlags, DWORD attributes) {
    SHFILEINFOW info{};
    const DWORD_PTR list = ::SHGetFileInfoW(path.c_str(), attributes, &info, sizeof info,
                                            SHGFI_SYSICONINDEX | SHGFI_SMALLICON | extraFlags);
    return list == 0 ? -1 : info.iIcon;
}

} // namespace

int SystemIconIndexOfName(const std::string& iconKey) {
    if (iconKey.empty())
        return -1;
    const std::wstring wide = win32::WideFromUtf8(iconKey);
    int index = shellIconIndex(wide, 0, 0);
    // A file that is gone or may not be read still gets the icon of its kind.
    if (index < 0)
        index = shellIconIndex(wide, SHGFI_USEFILEATTRIBUTES, FILE_ATTRIBUTE_NORMAL);
    if (index >= 0)
        Indices().remember(index, iconKey);
    return index;
}

std::string SystemIconName(int systemIndex) {
    return Indices().keyOf(systemIndex);
}

std::string IconNameOfPath(const std::string& path) {
    return path;
}

int SystemIconIndexOfPath(const std::string& path) {
    if (path.empty())
        return -1;
    int index = -1;
    if (Indices().cached(path, index))
        return index;
    index = SystemIconIndexOfName(path);
    Indices().cache(path, index);
    return index;
}

} // namespace os
