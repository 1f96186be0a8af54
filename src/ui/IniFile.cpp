#include "ui/IniFile.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// The longest value the reader hands out, as a 2048-byte buffer with its terminator allows.
constexpr std::size_t MaxValueLength = 2047;

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

char foldAscii(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (foldAscii(a[i]) != foldAscii(b[i]))
            return false;
    }
    return true;
}

// One line of the file: [begin, end) is its content, [end, next) its line break.
struct Line {
    std::size_t begin = 0;
    std::size_t end = 0;
    std::size_t next = 0;
};

// The length of the line break at `at` (CR LF, a lone CR or a lone LF, as the system's profile
// functions take them), 0 when none starts there.
std::size_t lineBreakLength(std::string_view text, std::size_t at) {
    if (at >= text.size())
        return 0;
    if (text[at] == '\r')
        return at + 1 < text.size() && text[at + 1] == '\n' ? 2 : 1;
    return text[at] == '\n' ? 1 : 0;
}

std::vector<Line> splitLines(std::string_view text) {
    std::vector<Line> lines;
    // Editors may save the file with a UTF-8 byte order mark; it is kept, but not read as part
    // of the first line.
    std::size_t begin = text.starts_with("\xEF\xBB\xBF") ? 3 : 0;
    while (begin < text.size()) {
        const std::size_t lineBreak = text.find_first_of("\r\n", begin);
        Line line;
        line.begin = begin;
        if (lineBreak == std::string_view::npos) {
            line.end = line.next = text.size();
        } else {
            line.end = lineBreak;
            line.next = lineBreak + lineBreakLength(text, lineBreak);
        }
        lines.push_back(line);
        begin = line.next;
    }
    return lines;
}

// The section name of a section line, nullopt for any other line.
std::optional<std::string_view> sectionName(std::string_view content) {
    const std::string_view line = trimmed(content);
    if (line.empty() || line.front() != '[')
        return std::nullopt;
    std::string_view name = line.substr(1);
    const std::size_t close = name.find(']');
    if (close != std::string_view::npos)
        name = name.substr(0, close);
    return trimmed(name);
}

struct Entry {
    std::string_view key;
    std::size_t valueBegin = 0; // offset in the line's content
    std::string_view value;
};

std::optional<Entry> entryOf(std::string_view content) {
    const std::size_t equals = content.find('=');
    if (equals == std::string_view::npos)
        return std::nullopt;
    Entry entry;
    entry.key = trimmed(content.substr(0, equals));
    std::size_t valueBegin = equals + 1;
    while (valueBegin < content.size() && isBlank(content[valueBegin]))
        ++valueBegin;
    entry.valueBegin = valueBegin;
    entry.value = trimmed(content.substr(valueBegin));
    return entry;
}

// Lines [first, last) of the first section named `section`; nullopt when there is none.
struct SectionSpan {
    std::size_t header = 0;
    std::size_t first = 0;
    std::size_t last = 0;
};

std::optional<SectionSpan> findSection(std::string_view text, const std::vector<Line>& lines,
                                       std::string_view section) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto name = sectionName(text.substr(lines[i].begin, lines[i].end - lines[i].begin));
        if (!name || !sameName(*name, section))
            continue;
        SectionSpan span{i, i + 1, i + 1};
        while (span.last < lines.size() &&
               !sectionName(text.substr(lines[span.last].begin,
                                        lines[span.last].end - lines[span.last].begin)))
            ++span.last;
        return span;
    }
    return std::nullopt;
}

// The file's first line break, LF for a file without one.
std::string_view lineBreakOf(std::string_view text) {
    const std::size_t at = text.find_first_of("\r\n");
    if (at == std::string_view::npos)
        return "\n";
    return text.substr(at, lineBreakLength(text, at));
}

// A quoted value means its inside, as the profile functions read it.
std::string_view unquoted(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
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

// A settings file as text: its bytes as they are, or a UTF-16 file (told by its byte order
// mark) as UTF-8. Unpaired surrogates become the three-byte forms of their code units, and an
// odd last byte is kept aside, so that encoding the text again gives the file's bytes back.
enum class FileEncoding { Bytes, Utf16Le, Utf16Be };

struct FileText {
    FileEncoding encoding = FileEncoding::Bytes;
    std::string text;
    std::string oddByte;
};

void appendUtf8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
        out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (code >> 6)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (code >> 12)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (code >> 18)));
        out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

FileText decodeFile(std::string bytes) {
    FileText file;
    const bool littleEndian = bytes.starts_with("\xFF\xFE");
    if (!littleEndian && !bytes.starts_with("\xFE\xFF")) {
        file.text = std::move(bytes);
        return file;
    }
    file.encoding = littleEndian ? FileEncoding::Utf16Le : FileEncoding::Utf16Be;
    const auto unitAt = [&](std::size_t i) {
        const auto a = static_cast<unsigned char>(bytes[i]);
        const auto b = static_cast<unsigned char>(bytes[i + 1]);
        return static_cast<std::uint32_t>(littleEndian ? a | b << 8 : b | a << 8);
    };
    const std::size_t units = bytes.size() / 2;
    file.text.reserve(bytes.size() * 3 / 2);
    for (std::size_t i = 0; i < units; ++i) {
        std::uint32_t code = unitAt(2 * i);
        if (code >= 0xD800 && code < 0xDC00 && i + 1 < units) {
            const std::uint32_t low = unitAt(2 * (i + 1));
            if (low >= 0xDC00 && low < 0xE000) {
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        appendUtf8(file.text, code);
    }
    if (bytes.size() % 2 != 0)
        file.oddByte = bytes.substr(bytes.size() - 1);
    return file;
}

// The next code point of UTF-8 `text` at `at` (advanced past it); a byte that starts no
// sequence stands for U+FFFD.
std::uint32_t nextCodePoint(std::string_view text, std::size_t& at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t length = 0;
    std::uint32_t code = 0;
    if (lead < 0x80) {
        ++at;
        return lead;
    }
    if (lead >= 0xC2 && lead < 0xE0) {
        length = 2;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead < 0xF0) {
        length = 3;
        code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead < 0xF5) {
        length = 4;
        code = lead & 0x07;
    }
    if (length == 0 || at + length > text.size()) {
        ++at;
        return 0xFFFD;
    }
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[at + k]);
        if ((next & 0xC0) != 0x80) {
            ++at;
            return 0xFFFD;
        }
        code = code << 6 | (next & 0x3F);
    }
    at += length;
    return code > 0x10FFFF ? 0xFFFD : code;
}

std::string encodeFile(const FileText& file) {
    if (file.encoding == FileEncoding::Bytes)
        return file.text;
    const bool littleEndian = file.encoding == FileEncoding::Utf16Le;
    std::string bytes;
    bytes.reserve(file.text.size() * 2 + file.oddByte.size());
    const auto putUnit = [&](std::uint32_t unit) {
        const char low = static_cast<char>(unit & 0xFF);
        const char high = static_cast<char>(unit >> 8);
        bytes.push_back(littleEndian ? low : high);
        bytes.push_back(littleEndian ? high : low);
    };
    for (std::size_t at = 0; at < file.text.size();) {
        const std::uint32_t code = nextCodePoint(file.text, at);
        if (code >= 0x10000) {
            putUnit(0xD800 + ((code - 0x10000) >> 10));
            putUnit(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            putUnit(code);
        }
    }
    bytes.append(file.oddByte);
    return bytes;
}

[[noreturn]] void refuseWrite(const std::string& fileName) {
    throw std::runtime_error("Unable to write to " + fileName);
}

} // namespace

std::optional<std::int32_t> ParseProfileInteger(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    if (!text.empty() && text.front() == '$') {
        base = 16;
        text.remove_prefix(1);
    } else if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty())
        return std::nullopt;
    // Decimal up to 2^31 (the magnitude of the lowest value), hexadecimal up to 2^32 - 1.
    const std::uint64_t limit =
        base == 16 ? 0xFFFFFFFFull : (negative ? 0x80000000ull : 0x7FFFFFFFull);
    std::uint64_t magnitude = 0;
    for (const char c : text) {
        const int digit = base == 16 ? hexDigit(c) : (c >= '0' && c <= '9' ? c - '0' : -1);
        if (digit < 0)
            return std::nullopt;
        magnitude =
            magnitude * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
        if (magnitude > limit)
            return std::nullopt;
    }
    // Two's complement of 32 bits, so hexadecimal wraps the way the profile reader's does.
    std::uint32_t bits = static_cast<std::uint32_t>(magnitude);
    if (negative)
        bits = ~bits + 1u;
    return static_cast<std::int32_t>(bits);
}

std::optional<std::string> FindProfileValue(std::string_view text, std::string_view section,
                                            std::string_view key) {
    const std::vector<Line> lines = splitLines(text);
    const auto span = findSection(text, lines, section);
    if (!span)
        return std::nullopt;
    for (std::size_t i = span->first; i < span->last; ++i) {
        const auto entry = entryOf(text.substr(lines[i].begin, lines[i].end - lines[i].begin));
        if (entry && sameName(entry->key, key))
            return std::string(unquoted(entry->value));
    }
    return std::nullopt;
}

std::string SetProfileValue(std::string_view text, std::string_view section, std::string_view key,
                            std::string_view value) {
    const std::vector<Line> lines = splitLines(text);
    const std::string_view lineBreak = lineBreakOf(text);
    std::string result;
    result.reserve(text.size() + section.size() + key.size() + value.size() + 8);

    const auto span = findSection(text, lines, section);
    if (!span) {
        result.append(text);
        if (!lines.empty() && result.back() != '\n' && result.back() != '\r')
            result.append(lineBreak);
        result.append("[").append(section).append("]").append(lineBreak);
        result.append(key).append("=").append(value).append(lineBreak);
        return result;
    }

    for (std::size_t i = span->first; i < span->last; ++i) {
        const Line& line = lines[i];
        const auto entry = entryOf(text.substr(line.begin, line.end - line.begin));
        if (!entry || !sameName(entry->key, key))
            continue;
        const std::size_t valueBegin = line.begin + entry->valueBegin;
        result.append(text.substr(0, valueBegin));
        result.append(value);
        result.append(text.substr(line.end));
        return result;
    }

    // A new entry goes after the section's last line that is not blank.
    std::size_t after = span->header;
    for (std::size_t i = span->first; i < span->last; ++i) {
        if (!trimmed(text.substr(lines[i].begin, lines[i].end - lines[i].begin)).empty())
            after = i;
    }
    const Line& anchor = lines[after];
    result.append(text.substr(0, anchor.next));
    if (anchor.next == anchor.end)
        result.append(lineBreak);
    result.append(key).append("=").append(value).append(lineBreak);
    result.append(text.substr(anchor.next));
    return result;
}

std::string IniFile::ReadString(std::string_view section, std::string_view key,
                                std::string_view defaultValue) const {
    std::string bytes;
    if (m_storage.read(m_fileName, bytes) != os::FileReadResult::Read)
        return std::string(defaultValue);
    const FileText file = decodeFile(std::move(bytes));
    std::optional<std::string> value = FindProfileValue(file.text, section, key);
    if (!value)
        return std::string(defaultValue);
    if (value->size() > MaxValueLength)
        value->resize(MaxValueLength);
    return *value;
}

std::int32_t IniFile::ReadInteger(std::string_view section, std::string_view key,
                                  std::int32_t defaultValue) const {
    const std::string text = ReadString(section, key, "");
    return ParseProfileInteger(text).value_or(defaultValue);
}

bool IniFile::ReadBool(std::string_view section, std::string_view key, bool defaultValue) const {
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

void IniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    std::string oneLine(value);
    for (char& c : oneLine) {
        if (c == '\n' || c == '\r')
            c = ' ';
    }
    std::string bytes;
    const os::FileReadResult read = m_storage.read(m_fileName, bytes);
    // A file that exists but cannot be read would lose its other lines: leave it alone.
    if (read == os::FileReadResult::Failed)
        refuseWrite(m_fileName);
    FileText file = decodeFile(std::move(bytes));
    std::string changed = SetProfileValue(file.text, section, key, oneLine);
    if (read == os::FileReadResult::Read && changed == file.text)
        return;
    // The file keeps its encoding.
    file.text = std::move(changed);
    if (!m_storage.replace(m_fileName, encodeFile(file)))
        refuseWrite(m_fileName);
}

void IniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
    WriteString(section, key, value ? "1" : "0");
}
