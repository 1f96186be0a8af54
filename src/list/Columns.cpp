#include "list/Columns.h"

#include <algorithm>
#include <cstddef>

std::array<ListColumn, ColumnCount> defaultListColumns() {
    auto col = [](const char* title, int width, bool visible) {
        ListColumn c;
        c.title = title;
        c.width = width;
        c.visible = visible;
        return c;
    };
    std::array<ListColumn, ColumnCount> columns{
        col("进程ID", 24, false), col("进程", 120, true),      col("安全等级", 80, false),
        col("协议", 60, true),    col("本地IP", 100, true),    col("本地端口", 80, true),
        col("目标IP", 130, true), col("目标端口", 110, true),  col("状态", 80, true),
        col("管理", 40, true),    col("文件路径", 260, false), col("文件说明", 150, false),
        col("公司", 80, false),   col("备注", 50, false),
    };
    columns[ColumnPID].hasBackground = true;
    columns[ColumnPID].background = Rgb{255, 255, 236};
    columns[ColumnManage].minWidth = 40;
    columns[ColumnManage].maxWidth = 40;
    columns[ColumnManage].alignment = ColumnAlignment::Center;
    return columns;
}

namespace {

const std::string* fieldOf(const TMyRec& row, int column) {
    switch (column) {
    case ColumnPID:
        return &row.PID;
    case ColumnProcess:
        return &row.ProcName;
    case ColumnProtocol:
        return &row.Protocol;
    case ColumnLocalAddr:
        return &row.LocalAddr;
    case ColumnLocalPort:
        return &row.LocalPort;
    case ColumnRemoteAddr:
        return &row.RemoteAddr;
    case ColumnRemotePort:
        return &row.RemotePort;
    case ColumnState:
        return &row.State;
    case ColumnPath:
        return &row.ProcPath;
    case ColumnDescription:
        return &row.FileDesc;
    case ColumnCompany:
        return &row.Company;
    case ColumnMark:
        return &row.Mark;
    default:
        return nullptr;
    }
}

unsigned char foldAscii(unsigned char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - ('a' - 'A')) : c;
}

} // namespace

const std::string* columnField(const TMyRec& row, int column) {
    return fieldOf(row, column);
}

bool columnCompares(int column) {
    return column >= ColumnProcess && column <= ColumnCompany && column != ColumnSecurity &&
           column != ColumnManage;
}

std::string_view VTSGetText(const TMyRec& row, int column) {
    if (column == ColumnSecurity)
        return TextNotEnabled;
    const std::string* field = fieldOf(row, column);
    return field ? std::string_view(*field) : std::string_view();
}

int compareListText(std::string_view a, std::string_view b) {
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
        const unsigned char ca = foldAscii(static_cast<unsigned char>(a[i]));
        const unsigned char cb = foldAscii(static_cast<unsigned char>(b[i]));
        if (ca != cb)
            return static_cast<int>(ca) - static_cast<int>(cb);
    }
    if (a.size() == b.size())
        return 0;
    return a.size() < b.size() ? -1 : 1;
}

void VTSCompareNodes(const TMyRec& row1, const TMyRec& row2, int column, int& result) {
    if (!columnCompares(column))
        return;
    result = compareListText(*fieldOf(row1, column), *fieldOf(row2, column));
}

int compareRows(const TMyRec& row1, const TMyRec& row2, int column) {
    int result = 0;
    VTSCompareNodes(row1, row2, column, result);
    return result;
}
