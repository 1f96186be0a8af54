#include "ui/win32/XpmPicture.h"

#include <cstdint>
#include <iterator>

#include <gtest/gtest.h>

#include "ui/pictures/help.xpm"
#include "ui/pictures/manage.xpm"

namespace {

std::uint32_t pixelAt(const win32ui::Picture& picture, int x, int y) {
    return picture.pixels.at(static_cast<std::size_t>(y * picture.width + x));
}

TEST(XpmPicture, ReadsTheWindowPictures) {
    const win32ui::Picture glyph = win32ui::parseXpm(manage, std::size(manage));
    ASSERT_EQ(glyph.width, 19);
    ASSERT_EQ(glyph.height, 18);
    EXPECT_EQ(pixelAt(glyph, 0, 0), 0xFFFFFFFFu);
    EXPECT_EQ(pixelAt(glyph, 0, 1), 0xFF4A5A6Au);   // frame
    EXPECT_EQ(pixelAt(glyph, 1, 2), 0xFFF39A1Eu);   // title bar
    EXPECT_EQ(pixelAt(glyph, 18, 11), 0xFF17702Au); // last column, last colour

    const win32ui::Picture question = win32ui::parseXpm(help, std::size(help));
    ASSERT_EQ(question.width, 16);
    EXPECT_EQ(pixelAt(question, 0, 0), 0u); // "None" is fully transparent
    EXPECT_EQ(pixelAt(question, 4, 1), 0xFF1F4E9Au);
}

TEST(XpmPicture, MalformedDataGivesAnEmptyPicture) {
    struct Case {
        const char* name;
        std::vector<const char*> lines;
    };
    const Case cases[] = {
        {"no header", {}},
        {"header not numbers", {"a b c d"}},
        {"zero width", {"0 1 1 1", ". c #000000", ""}},
        {"three chars per pixel", {"1 1 1 3", "... c #000000", "..."}},
        {"missing rows", {"2 2 1 1", ". c #000000", ".."}},
        {"short row", {"2 2 1 1", ". c #000000", "..", "."}},
        {"unknown colour key", {"2 1 1 1", ". c #000000", ".x"}},
        {"colour without c key", {"1 1 1 1", ". m #000000", "."}},
        {"bad hex", {"1 1 1 1", ". c #00GG00", "."}},
        {"named colour", {"1 1 1 1", ". c white", "."}},
        {"null row", {"1 1 1 1", ". c #000000", nullptr}},
    };
    for (const Case& c : cases) {
        const win32ui::Picture picture = win32ui::parseXpm(c.lines.data(), c.lines.size());
        EXPECT_EQ(picture.width, 0) << c.name;
        EXPECT_TRUE(picture.pixels.empty()) << c.name;
    }
}

TEST(XpmPicture, TwoCharactersPerPixel) {
    const char* const lines[] = {"2 1 2 2", "aa c #102030", "ab c None", "abaa"};
    const win32ui::Picture picture = win32ui::parseXpm(lines, std::size(lines));
    ASSERT_EQ(picture.width, 2);
    EXPECT_EQ(pixelAt(picture, 0, 0), 0u);
    EXPECT_EQ(pixelAt(picture, 1, 0), 0xFF102030u);
}

TEST(XpmPicture, BitmapHasThePictureSizeAndPixels) {
    const win32ui::Picture glyph = win32ui::parseXpm(manage, std::size(manage));
    HBITMAP bitmap = win32ui::createBitmap(glyph);
    ASSERT_NE(bitmap, nullptr);
    DIBSECTION section{};
    ASSERT_EQ(::GetObjectW(bitmap, sizeof section, &section), static_cast<int>(sizeof section));
    EXPECT_EQ(section.dsBm.bmWidth, 19);
    EXPECT_EQ(section.dsBm.bmHeight, 18);
    EXPECT_EQ(section.dsBm.bmBitsPixel, 32);
    const auto* bits = static_cast<const std::uint32_t*>(section.dsBm.bmBits);
    ASSERT_NE(bits, nullptr);
    EXPECT_EQ(bits[19 * 1 + 0], 0xFF4A5A6Au); // top-down: row 1 is the frame
    ::DeleteObject(bitmap);

    EXPECT_EQ(win32ui::createBitmap(win32ui::Picture{}), nullptr);
}

} // namespace
