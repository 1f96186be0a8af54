#pragma once
// How a snapshot record becomes a row: the TCP state names and the description rule.
#include <cstdint>
#include <string>
#include <string_view>

#include "list/TMyRec.h"
#include "snapshot/UnitGetTcpUdpTable.h"

// Description of the row of the process named exactly "System" when it has no path.
inline constexpr std::string_view TextSystemNote =
    "系统核心内存管理进程，拥有最高优先权，没有它系统无法启动。";
// Description of every other row without a path.
inline constexpr std::string_view TextIdleNote =
    "系统核心虚拟进程，用来表示系统的空闲状态，这个数值越大CPU的空闲率就越高，反之就是CPU的占用率越"
    "高。";
// Description of a row whose socket is held by a process this program may not see: "%s" is
// the socket's user name.
inline constexpr std::string_view TextHiddenOwnerNote = "用户 %s 的进程，当前权限无法查看。";

// The four tables of a snapshot; the IPv6 ones are shown as "TCPv6" and "UDPv6" rows.
enum class RowProtocol { Tcp, Udp, Tcp6, Udp6 };

// The protocol text of a row made from a record of that table.
std::string_view protocolText(RowProtocol protocol);

// Display name of a TCP state number (1 to 12); "未知状态" followed by the signed number for
// anything else.
std::string TcpStateText(std::int32_t state);

// The row's FileDesc: the record's own when it has a path (even if empty); for a socket with
// an inode and a user ID but no owner found (PID 0), TextHiddenOwnerNote with the record's
// UserName (the decimal user ID when that is empty); else the system or idle note by its
// exact process name.
std::string describeRecord(const File_Rec& record);

// What the line-oriented output says of a record: the note naming the socket's user for a
// socket whose owner cannot be seen, else the record's own description (empty without one),
// so that scripts reading it see nothing new for other rows.
std::string describeRecordPlainly(const File_Rec& record);

// Fills `row` from `record`: protocol, state (TCP, TCPv6), addresses and ports (remote ones for
// TCP and TCPv6 only), PID, name, path, description, company, the process start time, the
// socket (with the row's protocol and state), and `mark`.
void makeRow(TMyRec& row, const File_Rec& record, RowProtocol protocol, std::string_view mark);
