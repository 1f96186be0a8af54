#include "snapshot/VersionInfo.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr std::size_t kNodeHeaderSize = 6; // wLength, wValueLength, wType

std::size_t alignUp4(std::size_t offset) {
    return (offset + 3) & ~std::size_t{3};
}

std::uint16_t le16(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

char foldAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalIgnoringAsciiCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return foldAscii(x) == foldAscii(y);
           });
}

// Offset of the first UTF-16 NUL at or after `from` that ends before `end`.
std::optional<std::size_t> findNul16(std::span<const std::uint8_t> bytes, std::size_t from,
                                     std::size_t end) {
    for (std::size_t at = from; at + 2 <= end; at += 2) {
        if (bytes[at] == 0 && bytes[at + 1] == 0)
            return at;
    }
    return std::nullopt;
}

} // namespace

std::string utf16leToUtf8(std::span<const std::uint8_t> bytes) {
    std::string out;
    out.reserve(bytes.size());
    const std::size_t units = bytes.size() / 2;
    for (std::size_t i = 0; i < units; ++i) {
        const char32_t unit = le16(bytes, 2 * i);
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units) {
            const char32_t low = le16(bytes, 2 * (i + 1));
            if (low >= 0xDC00 && low <= 0xDFFF) {
                appendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        appendUtf8(out, unit >= 0xD800 && unit <= 0xDFFF ? char32_t{0xFFFD} : unit);
    }
    return out;
}

std::string versionLanguageKey(std::span<const std::uint8_t, 4> translation) {
    char key[9] = {};
    std::snprintf(key, sizeof key, "%.2X%.2X%.2X%.2X", unsigned{translation[1]},
                  unsigned{translation[0]}, unsigned{translation[3]}, unsigned{translation[2]});
    return key;
}

// One node of the block: wLength, wValueLength, wType, a NUL-terminated UTF-16 key, the value
// and the children, each of the last two starting on a 4-byte boundary.
struct VersionInfo::Node {
    std::size_t end = 0;           // one past the node's last byte, within its parent
    std::string key;               // UTF-8
    std::uint16_t valueLength = 0; // in bytes for binary values, in UTF-16 units for text
    std::size_t valueStart = 0;
    std::size_t valueEnd = 0;
    std::size_t childrenStart = 0;
};

std::optional<VersionInfo::Node> VersionInfo::parseNode(std::size_t at, std::size_t limit) const {
    if (limit > m_block.size() || at > limit || limit - at < kNodeHeaderSize)
        return std::nullopt;
    const std::uint16_t length = le16(m_block, at);
    if (length < kNodeHeaderSize)
        return std::nullopt; // also stops a walk that would not advance
    Node node;
    // A length running past the parent is cut at the parent's end rather than trusted.
    node.end = at + std::min<std::size_t>(length, limit - at);
    node.valueLength = le16(m_block, at + 2);
    const bool text = le16(m_block, at + 4) != 0;
    const std::size_t keyStart = at + kNodeHeaderSize;
    const std::optional<std::size_t> keyNul = findNul16(m_block, keyStart, node.end);
    if (!keyNul)
        return std::nullopt;
    node.key = utf16leToUtf8(m_block.subspan(keyStart, *keyNul - keyStart));
    const std::size_t valueBytes = std::size_t{node.valueLength} * (text ? 2 : 1);
    const std::size_t valueStart = alignUp4(*keyNul + 2);
    node.valueStart = std::min(valueStart, node.end);
    node.valueEnd = std::min(valueStart + valueBytes, node.end);
    node.childrenStart = std::min(alignUp4(valueStart + valueBytes), node.end);
    return node;
}

std::optional<VersionInfo::Node> VersionInfo::find(std::string_view path) const {
    std::optional<Node> node = parseNode(0, m_block.size());
    while (node && !path.empty()) {
        const std::size_t slash = path.find('\\');
        const std::string_view key = path.substr(0, slash);
        path = slash == std::string_view::npos ? std::string_view{} : path.substr(slash + 1);
        if (key.empty())
            continue;
        std::optional<Node> match;
        std::size_t at = node->childrenStart;
        while (std::optional<Node> child = parseNode(at, node->end)) {
            if (equalIgnoringAsciiCase(child->key, key)) {
                match = std::move(child);
                break;
            }
            at = alignUp4(at + le16(m_block, at));
        }
        node = std::move(match);
    }
    return node;
}

std::optional<std::span<const std::uint8_t>> VersionInfo::queryValue(std::string_view path) const {
    const std::optional<Node> node = find(path);
    if (!node)
        return std::nullopt;
    return m_block.subspan(node->valueStart, node->valueEnd - node->valueStart);
}

std::optional<std::string> VersionInfo::queryString(std::string_view path) const {
    const std::optional<Node> node = find(path);
    if (!node)
        return std::nullopt;
    if (node->valueLength == 0)
        return std::string{};
    // The text runs to its NUL; the length field is not trusted for that, because some tools
    // count bytes instead of characters, and others leave the NUL out of the count.
    const std::size_t end =
        findNul16(m_block, node->valueStart, node->end)
            .value_or(node->valueStart + (node->end - node->valueStart) / 2 * 2);
    return utf16leToUtf8(m_block.subspan(node->valueStart, end - node->valueStart));
}
