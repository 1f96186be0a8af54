#pragma once
// The window's small pictures are XPM files (C source): parsed here into pixels and made into
// bitmaps the Win32 controls can draw with alpha.
#include <cstddef>
#include <cstdint>
#include <vector>

#include <windows.h>

namespace win32ui {

struct Picture {
    int width = 0;
    int height = 0;
    // Top-down rows of 0xAARRGGBB with the colour premultiplied by alpha; "None" is 0.
    std::vector<std::uint32_t> pixels;
};

// Parses an XPM picture given as its array of strings; an empty picture (width 0) for
// malformed data: a bad header, an unknown colour, a short row or too few rows.
Picture parseXpm(const char* const* lines, std::size_t lineCount);

// A top-down 32-bit DIB section of `picture` for AlphaBlend and ImageList_Add; nullptr for an
// empty picture or when the system refuses. The caller owns it (DeleteObject).
HBITMAP createBitmap(const Picture& picture);

} // namespace win32ui
