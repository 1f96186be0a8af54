#include "ui/win32/XpmPicture.h"

#include <charconv>
#include <cstring>
#include <string_view>
#include <unordered_map>

namespace win32ui {
namespace {

bool readInt(std::string_view& text, int& value) {
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || value < 0)
        return false;
    text.remove_prefix(static_cast<std::size_t>(end - text.data()));
    return true;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The colour of one colour line's "c" key: "#RRGGBB" or "None".
bool readColour(std::string_view definition, std::uint32_t& colour) {
    const std::size_t key = definition.find(" c ");
    if (key == std::string_view::npos)
        return false;
    std::string_view value = definition.substr(key + 3);
    while (!value.empty() && value.front() == ' ')
        value.remove_prefix(1);
    if (value.substr(0, 4) == "None") {
        colour = 0;
        return true;
    }
    if (value.size() < 7 || value.front() != '#')
        return false;
    std::uint32_t rgb = 0;
    for (std::size_t i = 1; i < 7; ++i) {
        const int digit = hexDigit(value[i]);
        if (digit < 0)
            return false;
        rgb = (rgb << 4) | static_cast<std::uint32_t>(digit);
    }
    colour = 0xFF000000u | rgb;
    return true;
}

} // namespace

Picture parseXpm(const char* const* lines, std::size_t lineCount) {
    if (lines == nullptr || lineCount == 0 || lines[0] == nullptr)
        return {};
    std::string_view header = lines[0];
    int width = 0;
    int height = 0;
    int colours = 0;
    int charsPerPixel = 0;
    if (!readInt(header, width) || !readInt(header, height) || !readInt(header, colours) ||
        !readInt(header, charsPerPixel) || width == 0 || height == 0 || charsPerPixel == 0 ||
        charsPerPixel > 2 || width > 4096 || height > 4096)
        return {};
    if (lineCount < 1 + static_cast<std::size_t>(colours) + static_cast<std::size_t>(height))
        return {};

    const auto cpp = static_cast<std::size_t>(charsPerPixel);
    std::unordered_map<std::string_view, std::uint32_t> palette;
    for (int i = 0; i < colours; ++i) {
        const char* line = lines[1 + i];
        if (line == nullptr)
            return {};
        const std::string_view definition = line;
        std::uint32_t colour = 0;
        if (definition.size() < cpp || !readColour(definition.substr(cpp), colour))
            return {};
        palette[definition.substr(0, cpp)] = colour;
    }

    Picture picture;
    picture.width = width;
    picture.height = height;
    picture.pixels.reserve(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y) {
        const char* line = lines[1 + colours + y];
        if (line == nullptr || std::strlen(line) < cpp * static_cast<std::size_t>(width))
            return {};
        const std::string_view row = line;
        for (int x = 0; x < width; ++x) {
            const auto found = palette.find(row.substr(static_cast<std::size_t>(x) * cpp, cpp));
            if (found == palette.end())
                return {};
            // Opaque or fully transparent only, so premultiplying changes nothing.
            picture.pixels.push_back(found->second);
        }
    }
    return picture;
}

HBITMAP createBitmap(const Picture& picture) {
    if (picture.width <= 0 || picture.height <= 0 ||
        picture.pixels.size() !=
            static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height))
        return nullptr;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = picture.width;
    info.bmiHeader.biHeight = -picture.height; // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = ::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap == nullptr || bits == nullptr) {
        if (bitmap != nullptr)
            ::DeleteObject(bitmap);
        return nullptr;
    }
    std::memcpy(bits, picture.pixels.data(), picture.pixels.size() * sizeof(std::uint32_t));
    return bitmap;
}

} // namespace win32ui
