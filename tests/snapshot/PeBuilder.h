#pragma once
// Builds version resources (VS_VERSIONINFO blocks) and small PE32/PE32+ files in memory, so
// that the tests need no binary fixtures. Every field a test may want to spoil is reachable:
// nodes can carry wrong lengths, and the PE builder reports where its structures lie.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pebuild {

using Bytes = std::vector<std::uint8_t>;

// UTF-8 to UTF-16LE code units, without a terminating NUL.
Bytes utf16le(std::string_view utf8);

// One node of a version block: wLength, wValueLength, wType, key, value, children.
struct VersionNode {
    std::string key;
    bool text = false;
    Bytes value;                                 // the value's bytes as stored
    std::uint16_t valueLength = 0;               // wValueLength as stored
    std::optional<std::uint16_t> lengthOverride; // wLength as stored, when not the true one
    std::vector<VersionNode> children;
};

// A text value with its NUL, wValueLength counting UTF-16 units including the NUL.
VersionNode textNode(const std::string& key, const std::string& value);
// A binary value, wValueLength counting bytes.
VersionNode binaryNode(const std::string& key, const Bytes& value);
// A node that only groups children (StringFileInfo, a string table, VarFileInfo).
VersionNode groupNode(const std::string& key, std::vector<VersionNode> children);

// The node laid out as a resource compiler does: key and value padded to 4 bytes, children
// on 4-byte boundaries, no padding after the last child.
Bytes serialize(const VersionNode& node);

struct StringTable {
    std::string key; // e.g. "080404B0"
    std::vector<std::pair<std::string, std::string>> strings;
};

struct VersionResource {
    // (language, code page) pairs of "\VarFileInfo\Translation", in order; none leaves the
    // Translation value out.
    std::vector<std::pair<std::uint16_t, std::uint16_t>> translations;
    std::vector<StringTable> tables;
    bool withVarFileInfo = true;
};

// VS_VERSION_INFO with a VS_FIXEDFILEINFO value, StringFileInfo and VarFileInfo.
VersionNode versionTree(const VersionResource& resource);
Bytes versionBlock(const VersionResource& resource);

struct Resource {
    std::uint16_t type = 0;
    std::uint16_t name = 0;
    std::uint16_t language = 0;
    Bytes data;
};

struct PeOptions {
    bool pe32Plus = false;
    // The image's resources; the directory is sorted by type, name and language like a
    // linker's. Empty: the image has no resource directory at all.
    std::vector<Resource> resources;
    // A type entry named by a string ahead of the numbered ones, as MUI resources have.
    bool namedTypeEntry = false;
    std::uint32_t fileAlignment = 0x200;
    std::uint32_t sectionAlignment = 0x1000;
    // Bytes of padding before each resource's data, to place it on odd offsets.
    std::uint32_t dataMisalignment = 0;
};

// File offsets of the structures tests spoil. `version*` refer to the first resource of type
// RT_VERSION; they are 0 when there is none.
struct PeLayout {
    std::size_t peHeader = 0;   // "PE\0\0"
    std::size_t fileHeader = 0; // COFF file header
    std::size_t optionalHeader = 0;
    std::size_t resourceDirectoryEntry = 0; // data directory 2: RVA, size
    std::size_t sectionTable = 0;
    std::size_t resourceSectionHeader = 0;
    std::size_t resourceSection = 0; // raw data of .rsrc: the root directory
    std::uint32_t resourceRva = 0;
    std::size_t versionTypeEntry = 0; // the root's entry for RT_VERSION
    std::size_t versionNameDirectory = 0;
    std::size_t versionLanguageDirectory = 0;
    std::size_t versionDataEntry = 0;
    std::size_t versionData = 0;
};

struct PeFile {
    Bytes bytes;
    PeLayout layout;
};

PeFile buildPe(const PeOptions& options);

// A PE image whose only resources are a version block (neutral language) and an icon.
PeFile peWithVersion(const Bytes& block, bool pe32Plus = false);

void put16(Bytes& bytes, std::size_t at, std::uint16_t value);
void put32(Bytes& bytes, std::size_t at, std::uint32_t value);

} // namespace pebuild
