#pragma once
// Queries on a VS_VERSIONINFO block (a PE file's version resource) with the semantics of the
// platform's VerQueryValue: a path of backslash-separated keys, each compared with the
// block's UTF-16 keys without regard to ASCII case. Every length in the block is checked
// against the block and against the enclosing node, so a malformed block gives "no value".
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

class VersionInfo {
public:
    // The block is not copied; it must outlive this object.
    explicit VersionInfo(std::span<const std::uint8_t> block) : m_block(block) {}

    // The raw bytes of the value at `path` (e.g. "\VarFileInfo\Translation"); "\" is the
    // root's value. std::nullopt when there is no such node.
    std::optional<std::span<const std::uint8_t>> queryValue(std::string_view path) const;

    // The text value at `path` (e.g. "\StringFileInfo\080404B0\CompanyName") in UTF-8, up to
    // its NUL. std::nullopt when there is no such node; empty text for an empty value.
    std::optional<std::string> queryString(std::string_view path) const;

private:
    struct Node;
    std::optional<Node> find(std::string_view path) const;
    std::optional<Node> parseNode(std::size_t at, std::size_t limit) const;

    std::span<const std::uint8_t> m_block;
};

// The key of a string table for one entry of "\VarFileInfo\Translation" (bytes b0 b1: the
// language, b2 b3: the code page, both little-endian): the bytes b1 b0 b3 b2 as eight
// upper-case hexadecimal digits, e.g. 080404B0.
std::string versionLanguageKey(std::span<const std::uint8_t, 4> translation);

// UTF-16LE code units to UTF-8; unpaired surrogates become U+FFFD.
std::string utf16leToUtf8(std::span<const std::uint8_t> bytes);
