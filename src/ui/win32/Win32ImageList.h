#pragma once
// The icon cache's toolkit part in Win32: an image list of the common controls, and the shell's
// system image lists as the system's icons (system indices from os/IconNames.h).
#include <string>

#include <windows.h>

#include <commctrl.h>

#include "list/ImageListEx.h"

namespace win32ui {

// The toolkit's image list over an HIMAGELIST of 32-bit colour with a mask. Changing the width
// or height makes a new, empty list of that size, as ImageList_SetIconSize does; handle()
// changes with it.
class Win32ImageStore : public ImageStore {
public:
    Win32ImageStore(int width = 16, int height = 16);
    ~Win32ImageStore() override;
    Win32ImageStore(const Win32ImageStore&) = delete;
    Win32ImageStore& operator=(const Win32ImageStore&) = delete;

    // nullptr only when the system refused to make the list.
    HIMAGELIST handle() const { return m_list; }

    int width() const override { return m_width; }
    int height() const override { return m_height; }
    void setWidth(int width) override;
    void setHeight(int height) override;
    int count() const override;
    // From the shell's small or large system image list (Win32SystemImageList::systemList).
    int addSystemIcon(int systemIndex, bool small) override;

    // Appends `icon` drawn at the list's size; its index, or -1 when the list takes nothing.
    // The caller keeps `icon`.
    int addIcon(HICON icon);

private:
    void recreate();

    int m_width;
    int m_height;
    HIMAGELIST m_list = nullptr;
};

// Draws picture `index` of `list` with its top left corner at (x, y), `width` x `height` pixels
// large: the list's own size is drawn as it is, any other stretched (a screen of more than
// 96 DPI shows the 16- and 32-pixel pictures larger). False when there is nothing to draw.
bool drawImage(HIMAGELIST list, int index, HDC dc, int x, int y, int width, int height);

// The shell's system image lists. Indices are the shell's, the same in the small and the
// large list.
class Win32SystemImageList : public SystemImageList {
public:
    int iconIndexOfPath(const std::string& path) override;
    // The store makes the copy (ImageStore::addSystemIcon): a Win32ImageStore from the shell.
    int copyIcon(int systemIndex, bool small, ImageStore& target) override;

    // The shell's small or large system image list; nullptr when the shell gives none. Owned
    // by the shell: never destroyed.
    static HIMAGELIST systemList(bool small);
};

} // namespace win32ui
