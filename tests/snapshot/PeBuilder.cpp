#include "snapshot/PeBuilder.h"

#include <algorithm>
#include <map>

namespace pebuild {

namespace {

constexpr std::uint32_t kSubdirectory = 0x80000000u;
constexpr std::uint16_t kRtVersion = 16;

std::size_t alignUp(std::size_t value, std::size_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

void padTo4(Bytes& bytes) {
    bytes.resize(alignUp(bytes.size(), 4), 0);
}

void append(Bytes& to, const Bytes& from) {
    to.insert(to.end(), from.begin(), from.end());
}

// The fixed part of a version resource (VS_FIXEDFILEINFO), with version 3.0.0.0.
Bytes fixedFileInfo() {
    Bytes info(52, 0);
    put32(info, 0, 0xFEEF04BDu);
    put32(info, 4, 0x00010000u);
    put32(info, 8, 0x00030000u);
    put32(info, 16, 0x00030000u);
    put32(info, 24, 0x3F);
    put32(info, 32, 0x00040004u);
    put32(info, 36, 1);
    return info;
}

struct Leaf {
    std::uint16_t language = 0;
    const Bytes* data = nullptr;
    std::size_t dataEntry = 0;
    std::size_t dataOffset = 0;
};

struct NameDirectory {
    std::uint16_t name = 0;
    std::vector<Leaf> leaves;
    std::size_t offset = 0;
};

struct TypeDirectory {
    bool named = false;
    std::uint16_t id = 0;
    std::vector<NameDirectory> names;
    std::size_t offset = 0;
};

void putDirectoryHeader(Bytes& bytes, std::size_t at, std::uint16_t named, std::uint16_t ids) {
    put16(bytes, at + 12, named);
    put16(bytes, at + 14, ids);
}

} // namespace

void put16(Bytes& bytes, std::size_t at, std::uint16_t value) {
    bytes.at(at) = static_cast<std::uint8_t>(value);
    bytes.at(at + 1) = static_cast<std::uint8_t>(value >> 8);
}

void put32(Bytes& bytes, std::size_t at, std::uint32_t value) {
    put16(bytes, at, static_cast<std::uint16_t>(value));
    put16(bytes, at + 2, static_cast<std::uint16_t>(value >> 16));
}

Bytes utf16le(std::string_view utf8) {
    Bytes out;
    std::size_t i = 0;
    while (i < utf8.size()) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        char32_t c = lead;
        std::size_t extra = 0;
        if (lead >= 0xF0) {
            c = lead & 0x07;
            extra = 3;
        } else if (lead >= 0xE0) {
            c = lead & 0x0F;
            extra = 2;
        } else if (lead >= 0xC0) {
            c = lead & 0x1F;
            extra = 1;
        }
        for (std::size_t k = 1; k <= extra && i + k < utf8.size(); ++k)
            c = (c << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        i += 1 + extra;
        auto unit = [&out](char32_t u) {
            out.push_back(static_cast<std::uint8_t>(u));
            out.push_back(static_cast<std::uint8_t>(u >> 8));
        };
        if (c >= 0x10000) {
            unit(0xD800 + ((c - 0x10000) >> 10));
            unit(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            unit(c);
        }
    }
    return out;
}

VersionNode textNode(const std::string& key, const std::string& value) {
    VersionNode node;
    node.key = key;
    node.text = true;
    node.value = utf16le(value);
    node.value.push_back(0);
    node.value.push_back(0);
    node.valueLength = static_cast<std::uint16_t>(node.value.size() / 2);
    return node;
}

VersionNode binaryNode(const std::string& key, const Bytes& value) {
    VersionNode node;
    node.key = key;
    node.value = value;
    node.valueLength = static_cast<std::uint16_t>(value.size());
    return node;
}

VersionNode groupNode(const std::string& key, std::vector<VersionNode> children) {
    VersionNode node;
    node.key = key;
    node.text = true;
    node.children = std::move(children);
    return node;
}

Bytes serialize(const VersionNode& node) {
    Bytes out(6, 0);
    append(out, utf16le(node.key));
    out.push_back(0);
    out.push_back(0);
    padTo4(out);
    append(out, node.value);
    for (const VersionNode& child : node.children) {
        padTo4(out);
        append(out, serialize(child));
    }
    put16(out, 0, node.lengthOverride.value_or(static_cast<std::uint16_t>(out.size())));
    put16(out, 2, node.valueLength);
    put16(out, 4, node.text ? 1 : 0);
    return out;
}

VersionNode versionTree(const VersionResource& resource) {
    VersionNode root = binaryNode("VS_VERSION_INFO", fixedFileInfo());
    std::vector<VersionNode> tables;
    for (const StringTable& table : resource.tables) {
        std::vector<VersionNode> strings;
        for (const auto& [name, value] : table.strings)
            strings.push_back(textNode(name, value));
        tables.push_back(groupNode(table.key, std::move(strings)));
    }
    root.children.push_back(groupNode("StringFileInfo", std::move(tables)));
    if (resource.withVarFileInfo) {
        std::vector<VersionNode> vars;
        if (!resource.translations.empty()) {
            Bytes translation;
            for (const auto& [language, codePage] : resource.translations) {
                translation.resize(translation.size() + 4);
                put16(translation, translation.size() - 4, language);
                put16(translation, translation.size() - 2, codePage);
            }
            vars.push_back(binaryNode("Translation", translation));
        }
        VersionNode varFileInfo = groupNode("VarFileInfo", std::move(vars));
        root.children.push_back(std::move(varFileInfo));
    }
    return root;
}

Bytes versionBlock(const VersionResource& resource) {
    return serialize(versionTree(resource));
}

PeFile buildPe(const PeOptions& options) {
    static const Bytes muiData{'m', 'u', 'i', 0};
    PeFile file;
    PeLayout& layout = file.layout;

    // The resource tree, in a linker's order: named entries first, then IDs ascending.
    std::vector<TypeDirectory> types;
    if (options.namedTypeEntry && !options.resources.empty())
        types.push_back(TypeDirectory{true, 0, {NameDirectory{1, {Leaf{0, &muiData}}}}});
    std::map<std::uint16_t, std::map<std::uint16_t, std::map<std::uint16_t, const Bytes*>>> tree;
    for (const Resource& resource : options.resources)
        tree[resource.type][resource.name][resource.language] = &resource.data;
    for (const auto& [type, names] : tree) {
        TypeDirectory typeDirectory{false, type, {}};
        for (const auto& [name, languages] : names) {
            NameDirectory nameDirectory{name, {}};
            for (const auto& [language, data] : languages)
                nameDirectory.leaves.push_back(Leaf{language, data});
            typeDirectory.names.push_back(std::move(nameDirectory));
        }
        types.push_back(std::move(typeDirectory));
    }

    std::size_t offset = 16 + 8 * types.size();
    for (TypeDirectory& type : types) {
        type.offset = offset;
        offset += 16 + 8 * type.names.size();
    }
    for (TypeDirectory& type : types) {
        for (NameDirectory& name : type.names) {
            name.offset = offset;
            offset += 16 + 8 * name.leaves.size();
        }
    }
    for (TypeDirectory& type : types)
        for (NameDirectory& name : type.names)
            for (Leaf& leaf : name.leaves) {
                leaf.dataEntry = offset;
                offset += 16;
            }
    const std::size_t typeName = offset;
    offset = alignUp(offset + 2 + 2 * 3, 4);
    for (TypeDirectory& type : types)
        for (NameDirectory& name : type.names)
            for (Leaf& leaf : name.leaves) {
                leaf.dataOffset = alignUp(offset, 4) + options.dataMisalignment;
                offset = leaf.dataOffset + leaf.data->size();
            }
    const std::size_t resourceSize = types.empty() ? 0 : offset;

    // Headers.
    const bool withResources = resourceSize != 0;
    const std::size_t optionalSize = options.pe32Plus ? 240 : 224;
    const std::uint16_t sectionCount = withResources ? 2 : 1;
    layout.peHeader = 0x80;
    layout.fileHeader = layout.peHeader + 4;
    layout.optionalHeader = layout.fileHeader + 20;
    layout.sectionTable = layout.optionalHeader + optionalSize;
    const std::size_t headersSize =
        alignUp(layout.sectionTable + 40 * sectionCount, options.fileAlignment);
    const std::uint32_t textRva =
        static_cast<std::uint32_t>(alignUp(headersSize, options.sectionAlignment));
    const std::uint32_t textRaw = static_cast<std::uint32_t>(headersSize);
    const std::uint32_t textRawSize = options.fileAlignment;
    const std::uint32_t rsrcRva =
        textRva + static_cast<std::uint32_t>(alignUp(0x10, options.sectionAlignment));
    const std::uint32_t rsrcRaw = textRaw + textRawSize;
    const std::uint32_t rsrcRawSize =
        static_cast<std::uint32_t>(alignUp(resourceSize, options.fileAlignment));
    const std::uint32_t imageSize = static_cast<std::uint32_t>(
        alignUp(rsrcRva + std::max<std::size_t>(resourceSize, 1), options.sectionAlignment));

    Bytes& bytes = file.bytes;
    bytes.assign(rsrcRaw + rsrcRawSize, 0);
    bytes[0] = 'M';
    bytes[1] = 'Z';
    put32(bytes, 0x3C, static_cast<std::uint32_t>(layout.peHeader));
    bytes[layout.peHeader] = 'P';
    bytes[layout.peHeader + 1] = 'E';
    put16(bytes, layout.fileHeader, options.pe32Plus ? 0x8664 : 0x14C);
    put16(bytes, layout.fileHeader + 2, sectionCount);
    put16(bytes, layout.fileHeader + 16, static_cast<std::uint16_t>(optionalSize));
    put16(bytes, layout.fileHeader + 18, options.pe32Plus ? 0x22 : 0x102);

    const std::size_t opt = layout.optionalHeader;
    put16(bytes, opt, options.pe32Plus ? 0x20B : 0x10B);
    put32(bytes, opt + 16, textRva);
    put32(bytes, opt + 32, options.sectionAlignment);
    put32(bytes, opt + 36, options.fileAlignment);
    put16(bytes, opt + 48, 6);
    put32(bytes, opt + 56, imageSize);
    put32(bytes, opt + 60, static_cast<std::uint32_t>(headersSize));
    put16(bytes, opt + 68, 2);
    const std::size_t directories = opt + (options.pe32Plus ? 112 : 96);
    put32(bytes, directories - 4, 16);
    layout.resourceDirectoryEntry = directories + 2 * 8;
    if (withResources) {
        put32(bytes, layout.resourceDirectoryEntry, rsrcRva);
        put32(bytes, layout.resourceDirectoryEntry + 4, static_cast<std::uint32_t>(resourceSize));
    }

    auto section = [&bytes](std::size_t at, const char* name, std::uint32_t virtualSize,
                            std::uint32_t rva, std::uint32_t rawSize, std::uint32_t raw) {
        for (std::size_t i = 0; name[i] != 0 && i < 8; ++i)
            bytes[at + i] = static_cast<std::uint8_t>(name[i]);
        put32(bytes, at + 8, virtualSize);
        put32(bytes, at + 12, rva);
        put32(bytes, at + 16, rawSize);
        put32(bytes, at + 20, raw);
        put32(bytes, at + 36, 0x40000040u);
    };
    section(layout.sectionTable, ".text", 0x10, textRva, textRawSize, textRaw);
    bytes[textRaw] = 0xC3;
    if (!withResources)
        return file;
    layout.resourceSectionHeader = layout.sectionTable + 40;
    section(layout.resourceSectionHeader, ".rsrc", static_cast<std::uint32_t>(resourceSize),
            rsrcRva, rsrcRawSize, rsrcRaw);
    layout.resourceSection = rsrcRaw;
    layout.resourceRva = rsrcRva;

    // The resource tree itself.
    const std::size_t base = rsrcRaw;
    std::uint16_t namedTypes = 0;
    for (const TypeDirectory& type : types)
        namedTypes = static_cast<std::uint16_t>(namedTypes + (type.named ? 1 : 0));
    putDirectoryHeader(bytes, base, namedTypes,
                       static_cast<std::uint16_t>(types.size() - namedTypes));
    put16(bytes, base + typeName, 3);
    const Bytes mui = utf16le("MUI");
    std::copy(mui.begin(), mui.end(),
              bytes.begin() + static_cast<std::ptrdiff_t>(base + typeName + 2));
    for (std::size_t t = 0; t < types.size(); ++t) {
        const TypeDirectory& type = types[t];
        const std::size_t entry = base + 16 + 8 * t;
        put32(bytes, entry,
              type.named ? kSubdirectory | static_cast<std::uint32_t>(typeName) : type.id);
        put32(bytes, entry + 4, kSubdirectory | static_cast<std::uint32_t>(type.offset));
        putDirectoryHeader(bytes, base + type.offset, 0,
                           static_cast<std::uint16_t>(type.names.size()));
        const bool version = !type.named && type.id == kRtVersion && layout.versionTypeEntry == 0;
        if (version) {
            layout.versionTypeEntry = entry;
            layout.versionNameDirectory = base + type.offset;
        }
        for (std::size_t n = 0; n < type.names.size(); ++n) {
            const NameDirectory& name = type.names[n];
            const std::size_t nameEntry = base + type.offset + 16 + 8 * n;
            put32(bytes, nameEntry, name.name);
            put32(bytes, nameEntry + 4, kSubdirectory | static_cast<std::uint32_t>(name.offset));
            putDirectoryHeader(bytes, base + name.offset, 0,
                               static_cast<std::uint16_t>(name.leaves.size()));
            if (version && n == 0)
                layout.versionLanguageDirectory = base + name.offset;
            for (std::size_t l = 0; l < name.leaves.size(); ++l) {
                const Leaf& leaf = name.leaves[l];
                const std::size_t languageEntry = base + name.offset + 16 + 8 * l;
                put32(bytes, languageEntry, leaf.language);
                put32(bytes, languageEntry + 4, static_cast<std::uint32_t>(leaf.dataEntry));
                put32(bytes, base + leaf.dataEntry,
                      rsrcRva + static_cast<std::uint32_t>(leaf.dataOffset));
                put32(bytes, base + leaf.dataEntry + 4,
                      static_cast<std::uint32_t>(leaf.data->size()));
                std::copy(leaf.data->begin(), leaf.data->end(),
                          bytes.begin() + static_cast<std::ptrdiff_t>(base + leaf.dataOffset));
                if (version && n == 0 && l == 0) {
                    layout.versionDataEntry = base + leaf.dataEntry;
                    layout.versionData = base + leaf.dataOffset;
                }
            }
        }
    }
    return file;
}

PeFile peWithVersion(const Bytes& block, bool pe32Plus) {
    PeOptions options;
    options.pe32Plus = pe32Plus;
    options.resources.push_back(Resource{3, 1, 0x0409, Bytes(40, 0x11)});
    options.resources.push_back(Resource{kRtVersion, 1, 0, block});
    return buildPe(options);
}

} // namespace pebuild
