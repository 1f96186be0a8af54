#include "ui/win32/Win32ImageList.h"

#include <shellapi.h>

#include "os/IconNames.h"

namespace win32ui {

namespace {

// Destroys the icon it holds: every icon taken out of an image list is a new object.
class UniqueIcon {
public:
    explicit UniqueIcon(HICON icon) : m_icon(icon) {}
    ~UniqueIcon() {
        if (m_icon)
            ::DestroyIcon(m_icon);
    }
    UniqueIcon(const UniqueIcon&) = delete;
    UniqueIcon& operator=(const UniqueIcon&) = delete;
    HICON get() const { return m_icon; }

private:
    HICON m_icon;
};

} // namespace

Win32ImageStore::Win32ImageStore(int width, int height) : m_width(width), m_height(height) {
    recreate();
}

Win32ImageStore::~Win32ImageStore() {
    if (m_list)
        ::ImageList_Destroy(m_list);
}

void Win32ImageStore::recreate() {
    if (m_list) {
        ::ImageList_Destroy(m_list);
        m_list = nullptr;
    }
    if (m_width > 0 && m_height > 0)
        m_list = ::ImageList_Create(m_width, m_height, ILC_COLOR32 | ILC_MASK, 0, 16);
}

void Win32ImageStore::setWidth(int width) {
    m_width = width;
    recreate();
}

void Win32ImageStore::setHeight(int height) {
    m_height = height;
    recreate();
}

int Win32ImageStore::count() const {
    return m_list ? ::ImageList_GetImageCount(m_list) : 0;
}

int Win32ImageStore::addIcon(HICON icon) {
    if (!m_list || !icon)
        return -1;
    // The list draws the icon at its own size: a 32 x 32 icon fits a 16 x 16 list.
    return ::ImageList_ReplaceIcon(m_list, -1, icon);
}

bool drawImage(HIMAGELIST list, int index, HDC dc, int x, int y, int width, int height) {
    if (!list || !dc || index < 0 || index >= ::ImageList_GetImageCount(list))
        return false;
    int listWidth = 0;
    int listHeight = 0;
    if (!::ImageList_GetIconSize(list, &listWidth, &listHeight))
        return false;
    if (listWidth == width && listHeight == height)
        return ::ImageList_Draw(list, index, dc, x, y, ILD_TRANSPARENT) != FALSE;
    const UniqueIcon icon(::ImageList_GetIcon(list, index, ILD_NORMAL));
    return icon.get() && ::DrawIconEx(dc, x, y, icon.get(), width, height, 0, nullptr, DI_NORMAL);
}

HIMAGELIST Win32SystemImageList::systemList(bool small) {
    // Any name gives the list; with SHGFI_USEFILEATTRIBUTES the shell touches no file.
    SHFILEINFOW info{};
    const DWORD_PTR list = ::SHGetFileInfoW(
        L"kestrel.txt", FILE_ATTRIBUTE_NORMAL, &info, sizeof info,
        SHGFI_SYSICONINDEX | SHGFI_USEFILEATTRIBUTES | (small ? SHGFI_SMALLICON : SHGFI_LARGEICON));
    return reinterpret_cast<HIMAGELIST>(list);
}

int Win32SystemImageList::iconIndexOfPath(const std::string& path) {
    return os::SystemIconIndexOfPath(path);
}

int Win32SystemImageList::copyIcon(int systemIndex, bool small, ImageStore& target) {
    return target.addSystemIcon(systemIndex, small);
}

int Win32ImageStore::addSystemIcon(int systemIndex, bool small) {
    if (systemIndex < 0)
        return -1;
    HIMAGELIST system = Win32SystemImageList::systemList(small);
    if (!system || systemIndex >= ::ImageList_GetImageCount(system))
        return -1;
    const UniqueIcon icon(::ImageList_GetIcon(system, systemIndex, ILD_NORMAL));
    if (!icon.get())
        return -1;
    return addIcon(icon.get());
}

} // namespace win32ui
