#include "list/Columns.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <iterator>

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

std::array<ListColumn, AllColumnCount - ColumnCount> extraListColumns() {
    auto col = [](const char* title, int width, ColumnAlignment alignment) {
        ListColumn c;
        c.title = title;
        c.width = width;
        c.visible = false;
        c.alignment = alignment;
        return c;
    };
    return {
        col("目标主机", 160, ColumnAlignment::Left), col("已发送", 80, ColumnAlignment::Right),
        col("已接收", 80, ColumnAlignment::Right),   col("发送速率", 90, ColumnAlignment::Right),
        col("接收速率", 90, ColumnAlignment::Right),
    };
}

std::string FormatByteCount(std::uint64_t bytes) {
    if (bytes < 1024)
        return std::to_string(bytes) + " B";
    static constexpr const char* Units[] = {"KB", "MB", "GB"};
    double value = static_cast<double>(bytes) / 1024;
    std::size_t unit = 0;
    // 1023.96 KB would print as "1024.0 KB": it is "1.0 MB".
    while (unit + 1 < std::size(Units) && value >= 1023.95) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, Units[unit]);
    return text;
}

std::string FormatByteRate(double bytesPerSecond) {
    if (!(bytesPerSecond >= 0))
        return {};
    const double rounded = std::min(bytesPerSecond + 0.5, 1.8e19);
    return FormatByteCount(static_cast<std::uint64_t>(rounded)) + "/s";
}

void setRowTraffic(TMyRec& row, double sendRate, double receiveRate) {
    const bool counted = row.Socket.protocol == os::Protocol::Tcp && row.Socket.hasByteCounters;
    row.SentText = counted ? FormatByteCount(row.Socket.bytesAcked) : std::string();
    row.ReceivedText = counted ? FormatByteCount(row.Socket.bytesReceived) : std::string();
    row.SendRate = counted ? sendRate : -1;
    row.ReceiveRate = counted ? receiveRate : -1;
    row.SendRateText = FormatByteRate(row.SendRate);
    row.ReceiveRateText = FormatByteRate(row.ReceiveRate);
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
    case ColumnRemoteHost:
        return &row.RemoteHost;
    case ColumnSent:
        return &row.SentText;
    case ColumnReceived:
        return &row.ReceivedText;
    case ColumnSendRate:
        return &row.SendRateText;
    case ColumnReceiveRate:
        return &row.ReceiveRateText;
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
    return (column >= ColumnProcess && column <= ColumnCompany && column != ColumnSecurity &&
            column != ColumnManage) ||
           (column >= ColumnRemoteHost && column < AllColumnCount);
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

namespace {

// The value a traffic column sorts by; -1 where the row has none.
double trafficValue(const TMyRec& row, int column) {
    const bool counted = row.Socket.protocol == os::Protocol::Tcp && row.Socket.hasByteCounters;
    switch (column) {
    case ColumnSent:
        return counted ? static_cast<double>(row.Socket.bytesAcked) : -1;
    case ColumnReceived:
        return counted ? static_cast<double>(row.Socket.bytesReceived) : -1;
    case ColumnSendRate:
        return row.SendRate;
    default:
        return row.ReceiveRate;
    }
}

} // namespace

void VTSCompareNodes(const TMyRec& row1, const TMyRec& row2, int column, int& result) {
    if (!columnCompares(column))
        return;
    if (column >= ColumnSent) {
        const double a = trafficValue(row1, column);
        const double b = trafficValue(row2, column);
        result = a < b ? -1 : (b < a ? 1 : 0);
        return;
    }
    result = compareListText(*fieldOf(row1, column), *fieldOf(row2, column));
}

int compareRows(const TMyRec& row1, const TMyRec& row2, int column) {
    int result = 0;
    VTSCompareNodes(row1, row2, column, result);
    return result;
}
