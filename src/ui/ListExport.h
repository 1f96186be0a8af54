#pragma once
// "导出列表...": the rows shown, with the visible columns and their titles, as the bytes of a
// CSV file or of tab-separated text.
#include <string>
#include <string_view>
#include <vector>

#include "list/ListControl.h"

enum class ExportFormat {
    // RFC 4180: UTF-8 with a byte order mark (spreadsheet programs on Windows take the Chinese
    // text for ANSI otherwise), fields holding a comma, a double quote, CR or LF in double
    // quotes with their quotes doubled, every record ending in CR LF.
    Csv,
    // UTF-8 without a byte order mark, fields separated by one tab, every record ending in LF.
    // A tab, line feed, carriage return or backslash inside a field is written as \t, \n, \r
    // or \\ (as kestrel-snapshot writes them), so that every record stays one line of exactly
    // as many fields as there are titles.
    Tsv,
};

// Appends one field: quoted as RFC 4180 asks when it holds a comma, a double quote, CR or LF;
// with the escapes of ExportFormat::Tsv.
void appendCsvField(std::string& out, std::string_view field);
void appendTsvField(std::string& out, std::string_view field);
// Appends a JSON string: the escapes JSON requires, and U+FFFD for every byte that does not
// belong to a well-formed UTF-8 sequence (a path on Linux may hold any byte).
void appendJsonString(std::string& out, std::string_view text);

// Tab-separated text for a name ending in ".txt" (ASCII letters in any case), CSV otherwise.
ExportFormat exportFormatFor(std::string_view fileName);

// The bytes of a file holding one record of `titles`, then one record per entry of `rows`
// (each as many fields as there are titles), in `format`.
std::string exportText(const std::vector<std::string>& titles,
                       const std::vector<std::vector<std::string>>& rows, ExportFormat format);

// The columns exported from `list`: the visible ones in their order, but for the manage
// column, whose cells show only a picture.
std::vector<int> exportedColumns(const ListControl& list);

// exportText of `list`: the titles of exportedColumns, then the text (VTSGetText) of those
// columns for every row in display order.
std::string exportList(const ListControl& list, ExportFormat format);
