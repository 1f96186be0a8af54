#include "list/RowRules.h"

#include "list/Columns.h"

#include <array>

std::string TcpStateText(std::int32_t state) {
    // The platform's numbering: 9 is closing, 10 last ACK.
    static constexpr std::array<std::string_view, 12> names{
        "关闭",      "监听",     "同步发送", "同步接收", "已建立",   "等待完成1",
        "等待完成2", "等待关闭", "正在关闭", "最后确认", "等待时间", "删除",
    };
    if (state >= 1 && state <= 12)
        return std::string(names[static_cast<std::size_t>(state - 1)]);
    return "未知状态" + std::to_string(state);
}

namespace {

// A socket with an inode was made by a process; when none was found, it is one this program
// may not see (a socket without an inode, such as TIME_WAIT, is the kernel's).
bool ownerHidden(const File_Rec& record) {
    return record.PID == "0" && record.Inode != 0 && record.UserId != os::NoUserId;
}

std::string hiddenOwnerNote(const File_Rec& record) {
    const std::string user =
        record.UserName.empty() ? std::to_string(record.UserId) : record.UserName;
    std::string note(TextHiddenOwnerNote);
    note.replace(note.find("%s"), 2, user);
    return note;
}

} // namespace

std::string describeRecord(const File_Rec& record) {
    if (!record.ProcPath.empty())
        return record.FileDesc;
    if (ownerHidden(record))
        return hiddenOwnerNote(record);
    if (record.ProcName == "System")
        return std::string(TextSystemNote);
    return std::string(TextIdleNote);
}

std::string describeRecordPlainly(const File_Rec& record) {
    if (record.ProcPath.empty() && ownerHidden(record))
        return hiddenOwnerNote(record);
    return record.FileDesc;
}

std::string_view protocolText(RowProtocol protocol) {
    switch (protocol) {
    case RowProtocol::Tcp:
        return "TCP";
    case RowProtocol::Udp:
        return "UDP";
    case RowProtocol::Tcp6:
        return "TCPv6";
    case RowProtocol::Udp6:
        return "UDPv6";
    }
    return "UDP";
}

void makeRow(TMyRec& row, const File_Rec& record, RowProtocol protocol, std::string_view mark) {
    const bool tcp = protocol == RowProtocol::Tcp || protocol == RowProtocol::Tcp6;
    row.Protocol = protocolText(protocol);
    if (tcp)
        row.State = TcpStateText(record.State);
    row.LocalAddr = record.LocalAddr;
    row.LocalPort = record.LocalPort;
    if (tcp) {
        row.RemoteAddr = record.RemoteAddr;
        row.RemotePort = record.RemotePort;
    }
    row.PID = record.PID;
    row.ProcName = record.ProcName;
    row.ProcPath = record.ProcPath;
    row.FileDesc = describeRecord(record);
    row.Company = record.Company;
    row.Mark = mark;
    row.ProcStartTime = record.ProcStartTime;
    row.Socket = record.Socket;
    row.Socket.protocol = tcp ? os::Protocol::Tcp : os::Protocol::Udp;
    row.Socket.state = tcp ? static_cast<std::uint32_t>(record.State) : 0;
    row.RemoteHost.clear();
    setRowTraffic(row, -1, -1);
}
