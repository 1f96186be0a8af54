#pragma once
// The 14 columns of the connection list: numbers, header layout, the text each cell shows
// and how rows compare when the list is sorted by a column.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "list/TMyRec.h"

enum ListColumnIndex : int {
    ColumnPID = 0,
    ColumnProcess = 1,
    ColumnSecurity = 2,
    ColumnProtocol = 3,
    ColumnLocalAddr = 4,
    ColumnLocalPort = 5,
    ColumnRemoteAddr = 6,
    ColumnRemotePort = 7,
    ColumnState = 8,
    ColumnManage = 9,
    ColumnPath = 10,
    ColumnDescription = 11,
    ColumnCompany = 12,
    ColumnMark = 13,
};

inline constexpr int ColumnCount = 14;

// The columns after the described ones, each shown only while its option is on: the remote
// host's name (ResolveNames) and the traffic (ShowTraffic).
enum ExtraColumnIndex : int {
    ColumnRemoteHost = 14,
    ColumnSent = 15,
    ColumnReceived = 16,
    ColumnSendRate = 17,
    ColumnReceiveRate = 18,
};
inline constexpr int AllColumnCount = 19;
// A sort column of "none", also what a header click released outside its column reports.
inline constexpr int NoColumn = -1;

enum class ColumnAlignment { Left, Center, Right };

struct Rgb {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

// One header column as the main window's layout defines it.
struct ListColumn {
    std::string title;
    int width = 0;
    int minWidth = 10;
    int maxWidth = 10000;
    ColumnAlignment alignment = ColumnAlignment::Left;
    bool visible = true;
    bool hasBackground = false; // false: the list's own background
    Rgb background;
};

// The manage column's glyph (Image1, 19 x 18) is drawn at this offset from the cell's top-left.
inline constexpr int ManageGlyphLeft = 12;
inline constexpr int ManageGlyphTop = 3;
inline constexpr int ListRowHeight = 22;
inline constexpr int ListHeaderHeight = 20;
inline constexpr Rgb SelectionColour{0, 128, 64};

// Fixed cell text of the security-level column.
inline constexpr std::string_view TextNotEnabled = "未启用";

// The header as the layout defines it: titles, widths, limits, alignment, visibility
// (columns 10 to 12 start hidden; the option ShowInfo shows them), column 0's background.
std::array<ListColumn, ColumnCount> defaultListColumns();

// The header of columns 14 to 18 (index 0 is column 14): titles, widths, hidden; the traffic
// columns right-aligned.
std::array<ListColumn, AllColumnCount - ColumnCount> extraListColumns();

// A byte count as the traffic columns show it: below 1024 "900 B"; else with one decimal in
// the largest of KB, MB, GB (steps of 1024) that keeps the number below 1024 once rounded:
// "1.2 KB", "3.4 MB", "1.0 GB".
std::string FormatByteCount(std::uint64_t bytes);
// Bytes per second: FormatByteCount of the rounded rate and "/s".
std::string FormatByteRate(double bytesPerSecond);
// Sets the row's traffic texts from Socket's counters and the two rates (negative: unknown).
void setRowTraffic(TMyRec& row, double sendRate, double receiveRate);

// True for the columns that take part in sorting (all but 0, 2, 9, 13).
bool columnCompares(int column);

// The field of the row that `column` shows; nullptr for the columns that show none (2, 9 and
// numbers outside 0..13). Only computes the address: reads nothing of the row.
const std::string* columnField(const TMyRec& row, int column);

// The text of `column` in a row (VTSGetText). Empty for a column number outside 0..13. The view
// stays valid as long as the row's record is not changed.
std::string_view VTSGetText(const TMyRec& row, int column);

// Text comparison used by sorting: bytes, only ASCII a-z folded to upper case, the unsigned
// difference of the first differing bytes; a prefix sorts first. Allocates nothing.
int compareListText(std::string_view a, std::string_view b);

// VTSCompareNodes: sets `result` to the comparison of the two rows by `column`; a column
// without a comparison (0, 2, 9, 13, above 18, negative) leaves `result` untouched. The
// traffic columns compare their values (a row without one first), not their texts.
void VTSCompareNodes(const TMyRec& row1, const TMyRec& row2, int column, int& result);

// VTSCompareNodes with `result` starting at 0, as the list control calls it.
int compareRows(const TMyRec& row1, const TMyRec& row2, int column);
