#include "ui/ListExport.h"

#include <cstddef>

namespace {

constexpr std::string_view ByteOrderMark = "\xEF\xBB\xBF";

bool endsWithTxt(std::string_view name) {
    constexpr std::string_view suffix = ".txt";
    if (name.size() < suffix.size())
        return false;
    const std::string_view tail = name.substr(name.size() - suffix.size());
    for (std::size_t i = 0; i < suffix.size(); ++i) {
        char c = tail[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != suffix[i])
            return false;
    }
    return true;
}

} // namespace

void appendCsvField(std::string& out, std::string_view field) {
    if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
        out.append(field);
        return;
    }
    out += '"';
    for (const char c : field) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

void appendTsvField(std::string& out, std::string_view field) {
    // A byte at a time: most fields have nothing to escape, and a search for any of four
    // bytes would look at each byte four times.
    std::size_t plain = 0;
    for (std::size_t i = 0; i < field.size(); ++i) {
        const char c = field[i];
        const char* escaped = nullptr;
        switch (c) {
        case '\t':
            escaped = "\\t";
            break;
        case '\n':
            escaped = "\\n";
            break;
        case '\r':
            escaped = "\\r";
            break;
        case '\\':
            escaped = "\\\\";
            break;
        default:
            continue;
        }
        out.append(field.data() + plain, i - plain);
        out.append(escaped, 2);
        plain = i + 1;
    }
    out.append(field.data() + plain, field.size() - plain);
}

void appendJsonString(std::string& out, std::string_view text) {
    static constexpr char Hex[] = "0123456789abcdef";
    out += '"';
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20) {
                    out += "\\u00";
                    out += Hex[c >> 4];
                    out += Hex[c & 0xf];
                } else {
                    out += static_cast<char>(c);
                }
            }
            ++i;
            continue;
        }
        // Lengths and the allowed range of the second byte (no overlong forms, no surrogates,
        // nothing above U+10FFFF).
        std::size_t length = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xbf;
        if (c >= 0xc2 && c <= 0xdf) {
            length = 2;
        } else if (c >= 0xe0 && c <= 0xef) {
            length = 3;
            low = c == 0xe0 ? 0xa0 : 0x80;
            high = c == 0xed ? 0x9f : 0xbf;
        } else if (c >= 0xf0 && c <= 0xf4) {
            length = 4;
            low = c == 0xf0 ? 0x90 : 0x80;
            high = c == 0xf4 ? 0x8f : 0xbf;
        }
        bool valid = length != 0 && i + length <= text.size();
        for (std::size_t k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            valid = k == 1 ? next >= low && next <= high : next >= 0x80 && next <= 0xbf;
        }
        if (valid) {
            out.append(text.substr(i, length));
            i += length;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    out += '"';
}

namespace {

// Appends one record; `field(i)` gives the text of field i of `count`.
template <typename Field>
void appendRecord(std::string& out, std::size_t count, ExportFormat format, Field field) {
    for (std::size_t i = 0; i < count; ++i) {
        if (format == ExportFormat::Csv) {
            if (i != 0)
                out += ',';
            appendCsvField(out, field(i));
        } else {
            if (i != 0)
                out += '\t';
            appendTsvField(out, field(i));
        }
    }
    out += format == ExportFormat::Csv ? "\r\n" : "\n";
}

} // namespace

ExportFormat exportFormatFor(std::string_view fileName) {
    return endsWithTxt(fileName) ? ExportFormat::Tsv : ExportFormat::Csv;
}

std::string exportText(const std::vector<std::string>& titles,
                       const std::vector<std::vector<std::string>>& rows, ExportFormat format) {
    std::string out;
    if (format == ExportFormat::Csv)
        out += ByteOrderMark;
    const auto record = [&](const std::vector<std::string>& fields) {
        appendRecord(out, titles.size(), format, [&fields](std::size_t i) -> std::string_view {
            return i < fields.size() ? std::string_view(fields[i]) : std::string_view();
        });
    };
    record(titles);
    for (const std::vector<std::string>& row : rows)
        record(row);
    return out;
}

std::vector<int> exportedColumns(const ListControl& list) {
    std::vector<int> columns;
    for (int column = 0; column < list.columnCount(); ++column) {
        if (column != ColumnManage && list.column(column).visible)
            columns.push_back(column);
    }
    return columns;
}

std::string exportList(const ListControl& list, ExportFormat format) {
    const std::vector<int> columns = exportedColumns(list);
    std::string out;
    if (format == ExportFormat::Csv)
        out += ByteOrderMark;
    appendRecord(out, columns.size(), format,
                 [&](std::size_t i) -> std::string_view { return list.column(columns[i]).title; });
    // What a filter leaves out is not shown, so it is not saved either.
    for (RowHandle row = list.firstShownRow(); row != nullptr; row = list.nextShownRow(row)) {
        appendRecord(out, columns.size(), format,
                     [&](std::size_t i) { return VTSGetText(row->Rec, columns[i]); });
    }
    return out;
}
