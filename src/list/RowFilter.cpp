#include "list/RowFilter.h"

#include <cstddef>
#include <cstring>

namespace {

unsigned char fold(unsigned char c) {
    return c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - ('a' - 'A')) : c;
}

} // namespace

RowFilter::RowFilter(std::string_view text) : m_text(text) {
    m_folded.reserve(text.size());
    for (const char c : text)
        m_folded.push_back(static_cast<char>(fold(static_cast<unsigned char>(c))));
}

bool RowFilter::narrows(const RowFilter& wider) const {
    return m_folded.find(wider.m_folded) != std::string::npos;
}

bool RowFilter::matchesText(std::string_view cell) const {
    const std::size_t n = m_folded.size();
    if (n == 0)
        return true;
    if (cell.size() < n)
        return false;
    const auto* needle = reinterpret_cast<const unsigned char*>(m_folded.data());
    const auto* hay = reinterpret_cast<const unsigned char*>(cell.data());
    const unsigned char first = needle[0];
    // A folded letter can stand for two bytes of the cell; anything else for one, which memchr
    // finds fastest.
    const bool letter = first >= 'A' && first <= 'Z';
    const std::size_t last = cell.size() - n;
    for (std::size_t i = 0; i <= last; ++i) {
        if (letter) {
            if (fold(hay[i]) != first)
                continue;
        } else {
            const void* found = std::memchr(hay + i, first, last - i + 1);
            if (!found)
                return false;
            i = static_cast<std::size_t>(static_cast<const unsigned char*>(found) - hay);
        }
        std::size_t k = 1;
        while (k < n && fold(hay[i + k]) == needle[k])
            ++k;
        if (k == n)
            return true;
    }
    return false;
}

bool RowFilter::matches(const TMyRec& row, const std::array<bool, AllColumnCount>& visible) const {
    if (m_folded.empty())
        return true;
    for (int column = 0; column < AllColumnCount; ++column) {
        if (visible[static_cast<std::size_t>(column)] && matchesText(VTSGetText(row, column)))
            return true;
    }
    return false;
}
