#include "os/FileVersion.h"

#include <cstdint>
#include <string>
#include <vector>

#include <windows.h>

#include "os/PeImage.h"
#include "win32/WinText.h"

namespace os {

bool LoadVersionResource(const std::string& path, std::vector<std::uint8_t>& block) {
    block.clear();
    const std::wstring wide = win32::WideFromUtf8(path);
    if (wide.empty())
        return false;
    // Folders and devices have no version resource, and opening a device may block.
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0)
        return false;
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(wide.c_str(), &ignored);
    if (size < 6)
        return false;
    std::vector<std::uint8_t> data(size, 0);
    if (!::GetFileVersionInfoW(wide.c_str(), 0, size, data.data()))
        return false;
    // The system's copy carries room for its own conversions after the block; the block's
    // length is its first 16-bit field.
    const std::size_t length = static_cast<std::size_t>(data[0]) | static_cast<std::size_t>(data[1])
                                                                       << 8;
    if (length < 6 || length > data.size() || length > kMaxVersionResourceSize)
        return false;
    data.resize(length);
    block = std::move(data);
    return true;
}

bool DescribeExecutable(const std::string&, std::string& description, std::string& company) {
    // A Windows executable describes itself in its version resource; nothing else is asked.
    description.clear();
    company.clear();
    return false;
}

void PrepareDescriptions() {}

} // namespace os
