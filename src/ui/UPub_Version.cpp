#include "ui/UPub_Version.h"

#include <cstddef>
#include <exception>
#include <string_view>

namespace {

constexpr std::string_view Marker = "$V$";

bool markerAt(const std::string& text, std::size_t at) {
    if (text.size() - at < Marker.size())
        return false;
    for (std::size_t i = 0; i < Marker.size(); ++i) {
        char c = text[at + i];
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        if (c != Marker[i])
            return false;
    }
    return true;
}

} // namespace

std::string StampVersion(const std::string& Text, const std::string& Version) {
    try {
        std::string result;
        result.reserve(Text.size() + Version.size());
        std::size_t at = 0;
        while (at < Text.size()) {
            if (markerAt(Text, at)) {
                result += Version;
                at += Marker.size();
            } else {
                result += Text[at];
                ++at;
            }
        }
        return result;
    } catch (const std::exception&) {
        return Text;
    }
}
