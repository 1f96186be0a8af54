#include "os/PeImage.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace os {

bool MemoryImageSource::readAt(std::uint64_t offset, std::span<std::uint8_t> out) const {
    if (offset > m_bytes.size() || out.size() > m_bytes.size() - offset)
        return false;
    if (!out.empty())
        std::memcpy(out.data(), m_bytes.data() + offset, out.size());
    return true;
}

namespace {

constexpr std::uint32_t kDosHeaderSize = 64;
constexpr std::uint32_t kNewHeaderOffsetField = 0x3C;
constexpr std::uint32_t kFileHeaderSize = 20;
constexpr std::uint32_t kSectionHeaderSize = 40;
constexpr std::uint16_t kMagicPe32 = 0x10B;
constexpr std::uint16_t kMagicPe32Plus = 0x20B;
constexpr std::uint32_t kResourceDirectoryIndex = 2;
constexpr std::uint32_t kResourceDirectorySize = 16;
constexpr std::uint32_t kResourceEntrySize = 8;
constexpr std::uint32_t kResourceDataEntrySize = 16;
constexpr std::uint32_t kSubdirectoryFlag = 0x80000000u;
constexpr std::uint32_t kRtVersion = 16;
constexpr std::uint32_t kVersionResourceName = 1;

std::uint16_t le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

struct Section {
    std::uint32_t virtualAddress = 0;
    std::uint32_t virtualSize = 0;
    std::uint32_t rawSize = 0;
    std::uint32_t rawOffset = 0;
};

struct ResourceEntry {
    std::uint32_t name = 0; // an ID, or a name string's offset with the top bit set
    std::uint32_t data = 0; // a subdirectory's offset with the top bit set, else a data entry's
};

class PeReader {
public:
    explicit PeReader(const ImageSource& image) : m_image(image) {}

    bool readHeaders();
    std::optional<ResourceLocation> versionResource() const;

private:
    std::optional<std::uint64_t> rvaToOffset(std::uint64_t rva, std::uint64_t length) const;
    bool readRva(std::uint64_t rva, std::span<std::uint8_t> out) const;
    std::optional<std::vector<ResourceEntry>> directoryEntries(std::uint32_t directory) const;

    const ImageSource& m_image;
    std::uint32_t m_sizeOfHeaders = 0;
    std::uint32_t m_resourceRva = 0;
    std::vector<Section> m_sections;
};

bool PeReader::readHeaders() {
    std::array<std::uint8_t, kDosHeaderSize> dos{};
    if (!m_image.readAt(0, dos) || dos[0] != 'M' || dos[1] != 'Z')
        return false;
    const std::uint64_t peHeader = le32(dos.data() + kNewHeaderOffsetField);

    std::array<std::uint8_t, 4 + kFileHeaderSize> fileHeader{};
    if (!m_image.readAt(peHeader, fileHeader))
        return false;
    if (fileHeader[0] != 'P' || fileHeader[1] != 'E' || fileHeader[2] != 0 || fileHeader[3] != 0)
        return false;
    const std::uint16_t sectionCount = le16(fileHeader.data() + 4 + 2);
    const std::uint16_t optionalHeaderSize = le16(fileHeader.data() + 4 + 16);

    // The optional header is read only as far as it declares itself; fields beyond that end
    // do not exist.
    const std::uint64_t optionalHeader = peHeader + fileHeader.size();
    std::vector<std::uint8_t> optionalBytes(optionalHeaderSize);
    if (optionalHeaderSize < 2 || !m_image.readAt(optionalHeader, optionalBytes))
        return false;
    const std::uint16_t magic = le16(optionalBytes.data());
    std::size_t countField = 0;
    std::size_t directories = 0;
    if (magic == kMagicPe32) {
        countField = 92;
        directories = 96;
    } else if (magic == kMagicPe32Plus) {
        countField = 108;
        directories = 112;
    } else {
        return false;
    }
    if (optionalBytes.size() < directories)
        return false;
    m_sizeOfHeaders = le32(optionalBytes.data() + 60);
    const std::uint32_t directoryCount = le32(optionalBytes.data() + countField);
    const std::size_t resourceDirectory = directories + kResourceDirectoryIndex * 8;
    if (directoryCount <= kResourceDirectoryIndex || optionalBytes.size() < resourceDirectory + 8)
        return false;
    m_resourceRva = le32(optionalBytes.data() + resourceDirectory);
    if (m_resourceRva == 0)
        return false;

    const std::uint64_t sectionTable = optionalHeader + optionalHeaderSize;
    const std::size_t tableSize = std::size_t{sectionCount} * kSectionHeaderSize;
    if (sectionTable > m_image.size() || tableSize > m_image.size() - sectionTable)
        return false;
    std::vector<std::uint8_t> table(tableSize);
    if (!m_image.readAt(sectionTable, table))
        return false;
    m_sections.reserve(sectionCount);
    for (std::size_t i = 0; i < sectionCount; ++i) {
        const std::uint8_t* header = table.data() + i * kSectionHeaderSize;
        m_sections.push_back(
            Section{le32(header + 12), le32(header + 8), le32(header + 16), le32(header + 20)});
    }
    return true;
}

// The file offset of `length` bytes at `rva`, when all of them are stored in the file within
// one section (or within the headers, which are mapped at their file offsets).
std::optional<std::uint64_t> PeReader::rvaToOffset(std::uint64_t rva, std::uint64_t length) const {
    for (const Section& section : m_sections) {
        // Linkers may leave the virtual size 0; the raw size then gives the extent.
        const std::uint64_t extent =
            section.virtualSize != 0 ? section.virtualSize : section.rawSize;
        if (rva < section.virtualAddress || rva - section.virtualAddress >= extent)
            continue;
        const std::uint64_t inSection = rva - section.virtualAddress;
        if (inSection + length > section.rawSize)
            return std::nullopt; // not stored in the file: zero fill in memory only
        return std::uint64_t{section.rawOffset} + inSection;
    }
    if (rva + length <= m_sizeOfHeaders)
        return rva;
    return std::nullopt;
}

bool PeReader::readRva(std::uint64_t rva, std::span<std::uint8_t> out) const {
    const std::optional<std::uint64_t> offset = rvaToOffset(rva, out.size());
    return offset && m_image.readAt(*offset, out);
}

// The entries of the resource directory at `directory` (an offset from the resource root).
std::optional<std::vector<ResourceEntry>>
PeReader::directoryEntries(std::uint32_t directory) const {
    const std::uint64_t at = std::uint64_t{m_resourceRva} + directory;
    std::array<std::uint8_t, kResourceDirectorySize> header{};
    if (!readRva(at, header))
        return std::nullopt;
    const std::size_t count = std::size_t{le16(header.data() + 12)} + le16(header.data() + 14);
    const std::optional<std::uint64_t> offset =
        rvaToOffset(at + kResourceDirectorySize, count * kResourceEntrySize);
    if (!offset || *offset > m_image.size() ||
        count * kResourceEntrySize > m_image.size() - *offset)
        return std::nullopt;
    std::vector<std::uint8_t> raw(count * kResourceEntrySize);
    if (!m_image.readAt(*offset, raw))
        return std::nullopt;
    std::vector<ResourceEntry> entries(count);
    for (std::size_t i = 0; i < count; ++i)
        entries[i] = ResourceEntry{le32(raw.data() + i * kResourceEntrySize),
                                   le32(raw.data() + i * kResourceEntrySize + 4)};
    return entries;
}

std::optional<std::uint32_t> subdirectoryById(const std::vector<ResourceEntry>& entries,
                                              std::uint32_t id) {
    for (const ResourceEntry& entry : entries) {
        if (entry.name == id && (entry.data & kSubdirectoryFlag) != 0)
            return entry.data & ~kSubdirectoryFlag;
    }
    return std::nullopt;
}

std::optional<ResourceLocation> PeReader::versionResource() const {
    // Exactly three levels (type, name, language) are walked, so a directory that points
    // back at itself or at an ancestor cannot make the walk endless.
    const auto root = directoryEntries(0);
    if (!root)
        return std::nullopt;
    const auto typeDirectory = subdirectoryById(*root, kRtVersion);
    if (!typeDirectory)
        return std::nullopt;
    const auto names = directoryEntries(*typeDirectory);
    if (!names)
        return std::nullopt;
    const auto nameDirectory = subdirectoryById(*names, kVersionResourceName);
    if (!nameDirectory)
        return std::nullopt;
    const auto languages = directoryEntries(*nameDirectory);
    if (!languages)
        return std::nullopt;

    // Languages are sorted by ID, so the neutral one comes first when there is one.
    const auto leaf =
        std::find_if(languages->begin(), languages->end(),
                     [](const ResourceEntry& e) { return (e.data & kSubdirectoryFlag) == 0; });
    if (leaf == languages->end())
        return std::nullopt;
    const std::uint32_t dataEntry = leaf->data;

    std::array<std::uint8_t, kResourceDataEntrySize> entry{};
    if (!readRva(std::uint64_t{m_resourceRva} + dataEntry, entry))
        return std::nullopt;
    const std::uint32_t dataRva = le32(entry.data());
    const std::uint32_t size = std::min(le32(entry.data() + 4), kMaxVersionResourceSize);
    if (size == 0)
        return std::nullopt;
    const std::optional<std::uint64_t> offset = rvaToOffset(dataRva, size);
    if (!offset || *offset > m_image.size() || size > m_image.size() - *offset)
        return std::nullopt;
    return ResourceLocation{*offset, size};
}

} // namespace

std::optional<ResourceLocation> findVersionResource(const ImageSource& image) {
    PeReader reader(image);
    if (!reader.readHeaders())
        return std::nullopt;
    return reader.versionResource();
}

bool readVersionResource(const ImageSource& image, std::vector<std::uint8_t>& block) {
    block.clear();
    const std::optional<ResourceLocation> location = findVersionResource(image);
    if (!location)
        return false;
    block.resize(location->size);
    if (!image.readAt(location->offset, block)) {
        block.clear();
        return false;
    }
    return true;
}

} // namespace os
