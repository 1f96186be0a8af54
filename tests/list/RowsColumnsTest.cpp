// Rows and columns: state names, the row rule, the header, cell texts and the comparison.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "list/Columns.h"
#include "list/RowRules.h"
#include "ui/TestRecords.h"

namespace {

File_Rec record(std::int32_t state, std::string local, std::string localPort, std::string remote,
                std::string remotePort, std::string name, std::string path) {
    File_Rec r = tcpRecord(state, local, localPort, remote, remotePort, "4242", name, path);
    r.FileDesc = "desc";
    r.Company = "corp";
    r.Mark = "ok";
    r.ProcStartTime = 77;
    return r;
}

TEST(TcpStateText, NamesEveryStateAndFormatsTheRest) {
    const struct {
        std::int32_t state;
        const char* text;
    } cases[] = {
        {1, "关闭"},
        {2, "监听"},
        {3, "同步发送"},
        {4, "同步接收"},
        {5, "已建立"},
        {6, "等待完成1"},
        {7, "等待完成2"},
        {8, "等待关闭"},
        {9, "正在关闭"},
        {10, "最后确认"},
        {11, "等待时间"},
        {12, "删除"},
        {0, "未知状态0"},
        {13, "未知状态13"},
        {-1, "未知状态-1"},
        {-2147483647 - 1, "未知状态-2147483648"},
        {2147483647, "未知状态2147483647"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TcpStateText(c.state), c.text) << c.state;
}

TEST(MakeRow, TcpRowCopiesEveryFieldAndNamesTheState) {
    TMyRec row;
    makeRow(row, record(5, "10.0.0.1", "5000", "10.0.0.2", "80", "a.exe", "/usr/bin/a"),
            RowProtocol::Tcp, "add");
    EXPECT_EQ(row.Protocol, "TCP");
    EXPECT_EQ(row.State, "已建立");
    EXPECT_EQ(row.LocalAddr, "10.0.0.1");
    EXPECT_EQ(row.LocalPort, "5000");
    EXPECT_EQ(row.RemoteAddr, "10.0.0.2");
    EXPECT_EQ(row.RemotePort, "80");
    EXPECT_EQ(row.PID, "4242");
    EXPECT_EQ(row.ProcName, "a.exe");
    EXPECT_EQ(row.ProcPath, "/usr/bin/a");
    EXPECT_EQ(row.FileDesc, "desc");
    EXPECT_EQ(row.Company, "corp");
    EXPECT_EQ(row.Mark, "add");
    EXPECT_EQ(row.ProcStartTime, 77u);
}

TEST(MakeRow, UdpRowLeavesStateAndRemoteEmpty) {
    TMyRec row;
    // A UDP record with stray remote texts and a state must still give a clean UDP row.
    makeRow(row, record(2, "127.0.0.1", "53", "1.2.3.4", "9", "dns", "/usr/sbin/dns"),
            RowProtocol::Udp, "");
    EXPECT_EQ(row.Protocol, "UDP");
    EXPECT_EQ(row.State, "");
    EXPECT_EQ(row.RemoteAddr, "");
    EXPECT_EQ(row.RemotePort, "");
    EXPECT_EQ(row.LocalPort, "53");
    EXPECT_EQ(row.Mark, "");
    for (int column : {ColumnRemoteAddr, ColumnRemotePort, ColumnState})
        EXPECT_EQ(VTSGetText(row, column), "") << column;
}

TEST(MakeRow, IPv6RowsNameTheirProtocolAndOtherwiseFollowTheirIPv4Kind) {
    struct Case {
        RowProtocol protocol;
        const char* text;
        bool tcp;
    };
    const Case cases[] = {
        {RowProtocol::Tcp, "TCP", true},
        {RowProtocol::Udp, "UDP", false},
        {RowProtocol::Tcp6, "TCPv6", true},
        {RowProtocol::Udp6, "UDPv6", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(protocolText(c.protocol), c.text);
        TMyRec row;
        makeRow(row, record(5, "fe80::1%3", "5000", "2001:db8::2", "80", "a", "/usr/bin/a"),
                c.protocol, "add");
        EXPECT_EQ(row.Protocol, c.text);
        EXPECT_EQ(row.LocalAddr, "fe80::1%3");
        EXPECT_EQ(row.State, c.tcp ? "已建立" : "");
        EXPECT_EQ(row.RemoteAddr, c.tcp ? "2001:db8::2" : "");
        EXPECT_EQ(row.RemotePort, c.tcp ? "80" : "");
        EXPECT_EQ(VTSGetText(row, ColumnProtocol), c.text);
        EXPECT_EQ(row.Mark, "add");
    }
    // Sorted by protocol, IPv6 rows follow the IPv4 rows of their protocol.
    TMyRec tcp, tcp6, udp, udp6;
    tcp.Protocol = "TCP";
    tcp6.Protocol = "TCPv6";
    udp.Protocol = "UDP";
    udp6.Protocol = "UDPv6";
    EXPECT_LT(compareRows(tcp, tcp6, ColumnProtocol), 0);
    EXPECT_LT(compareRows(tcp6, udp, ColumnProtocol), 0);
    EXPECT_LT(compareRows(udp, udp6, ColumnProtocol), 0);
}

TEST(DescriptionRule, PathDecidesThenExactSystemName) {
    const struct {
        const char* name;
        const char* path;
        const char* fileDesc;
        std::string_view expected;
    } cases[] = {
        {"a.exe", "/opt/a", "Alpha", "Alpha"},
        {"a.exe", "/opt/a", "", ""},       // a path without description stays empty
        {"System", "/opt/System", "", ""}, // a path wins over the name
        {"System", "", "ignored", TextSystemNote},
        {"system", "", "", TextIdleNote},
        {"SYSTEM", "", "", TextIdleNote},
        {"[System Process]", "", "", TextIdleNote},
        {"", "", "", TextIdleNote},
    };
    for (const auto& c : cases) {
        File_Rec r = record(5, "1.1.1.1", "1", "2.2.2.2", "2", c.name, c.path);
        r.FileDesc = c.fileDesc;
        TMyRec row;
        makeRow(row, r, RowProtocol::Tcp, "");
        EXPECT_EQ(row.FileDesc, c.expected) << c.name << " / " << c.path;
    }
}

// A socket with an inode but no owner found is another user's that this program may not see;
// one without an inode (TIME_WAIT, the kernel's) keeps the notes by name.
TEST(DescriptionRule, SocketOfAnUnseenOwnerNamesItsUser) {
    const std::string idle(TextIdleNote);
    const std::string system(TextSystemNote);
    const struct {
        const char* pid;
        std::uint64_t inode;
        std::uint32_t uid;
        const char* userName;
        const char* procName;
        const char* path;
        std::string expected;
    } cases[] = {
        {"0", 4711, 0, "root", "", "", "用户 root 的进程，当前权限无法查看。"},
        {"0", 4711, 105, "systemd-resolve", "", "",
         "用户 systemd-resolve 的进程，当前权限无法查看。"},
        {"0", 4711, 2001, "", "", "", "用户 2001 的进程，当前权限无法查看。"}, // no name known
        {"0", 4711, 4294967294u, "", "", "",
         "用户 4294967294 的进程，当前权限无法查看。"}, // nobody
        {"0", 4711, 0, "root", "System", "", "用户 root 的进程，当前权限无法查看。"},
        {"0", 0, 0, "root", "", "", idle},           // no inode: a kernel-held socket
        {"0", 0, 0, "", "System", "", system},       // no inode, the name decides
        {"0", 4711, os::NoUserId, "", "", "", idle}, // no user ID told (Windows)
        {"812", 4711, 0, "root", "", "", idle},      // found, but its path unreadable
        {"812", 4711, 0, "root", "System", "", system},
        {"812", 4711, 0, "root", "sshd", "/usr/sbin/sshd", "OpenBSD Secure Shell server"},
        {"812", 0, os::NoUserId, "", "a.exe", "C:\\a.exe", "OpenBSD Secure Shell server"},
    };
    for (const auto& c : cases) {
        File_Rec r = record(2, "0.0.0.0", "22", "0.0.0.0", "0", c.procName, c.path);
        r.PID = c.pid;
        r.Inode = c.inode;
        r.UserId = c.uid;
        r.UserName = c.userName;
        r.FileDesc = "OpenBSD Secure Shell server";
        for (const RowProtocol protocol : {RowProtocol::Tcp, RowProtocol::Udp}) {
            TMyRec row;
            makeRow(row, r, protocol, "");
            EXPECT_EQ(row.FileDesc, c.expected)
                << c.pid << " / " << c.inode << " / " << c.uid << " / " << c.userName;
            EXPECT_EQ(VTSGetText(row, ColumnDescription), c.expected);
        }
        // The line-oriented output adds only the user's note; the other notes stay the window's.
        const bool userNote = c.expected.rfind("用户 ", 0) == 0;
        EXPECT_EQ(describeRecordPlainly(r), userNote ? c.expected : r.FileDesc)
            << c.pid << " / " << c.inode << " / " << c.uid << " / " << c.userName;
    }
}

TEST(Columns, HeaderLayout) {
    const auto columns = defaultListColumns();
    const struct {
        const char* title;
        int width;
        bool visible;
    } expected[ColumnCount] = {
        {"进程ID", 24, false}, {"进程", 120, true},      {"安全等级", 80, false},
        {"协议", 60, true},    {"本地IP", 100, true},    {"本地端口", 80, true},
        {"目标IP", 130, true}, {"目标端口", 110, true},  {"状态", 80, true},
        {"管理", 40, true},    {"文件路径", 260, false}, {"文件说明", 150, false},
        {"公司", 80, false},   {"备注", 50, false},
    };
    for (int i = 0; i < ColumnCount; ++i) {
        const ListColumn& c = columns[static_cast<std::size_t>(i)];
        EXPECT_EQ(c.title, expected[i].title) << i;
        EXPECT_EQ(c.width, expected[i].width) << i;
        EXPECT_EQ(c.visible, expected[i].visible) << i;
        EXPECT_EQ(c.hasBackground, i == ColumnPID) << i;
        if (i == ColumnManage) {
            EXPECT_EQ(c.minWidth, 40);
            EXPECT_EQ(c.maxWidth, 40);
            EXPECT_EQ(c.alignment, ColumnAlignment::Center);
        } else {
            EXPECT_EQ(c.minWidth, 10) << i;
            EXPECT_EQ(c.maxWidth, 10000) << i;
            EXPECT_EQ(c.alignment, ColumnAlignment::Left) << i;
        }
    }
    EXPECT_EQ(columns[ColumnPID].background, (Rgb{255, 255, 236}));
}

TMyRec fullRow() {
    TMyRec row;
    row.Protocol = "TCP";
    row.State = "S";
    row.LocalAddr = "LA";
    row.LocalPort = "LP";
    row.RemoteAddr = "RA";
    row.RemotePort = "RP";
    row.PID = "PID";
    row.ProcName = "N";
    row.ProcPath = "P";
    row.FileDesc = "D";
    row.Company = "C";
    row.Mark = "M";
    row.RemoteHost = "H";
    return row;
}

TEST(Columns, CellTextAndWhichColumnsCompare) {
    const TMyRec row = fullRow();
    const struct {
        int column;
        std::string_view text;
        bool compares;
    } cases[] = {
        {-1, "", false},
        {ColumnPID, "PID", false},
        {ColumnProcess, "N", true},
        {ColumnSecurity, "未启用", false},
        {ColumnProtocol, "TCP", true},
        {ColumnLocalAddr, "LA", true},
        {ColumnLocalPort, "LP", true},
        {ColumnRemoteAddr, "RA", true},
        {ColumnRemotePort, "RP", true},
        {ColumnState, "S", true},
        {ColumnManage, "", false},
        {ColumnPath, "P", true},
        {ColumnDescription, "D", true},
        {ColumnCompany, "C", true},
        {ColumnMark, "M", false},
        {ColumnRemoteHost, "H", true},
        {AllColumnCount, "", false},
        {1000, "", false},
    };
    TMyRec other; // every text empty, so it sorts before `row` wherever a column compares
    for (const auto& c : cases) {
        EXPECT_EQ(VTSGetText(row, c.column), c.text) << c.column;
        EXPECT_EQ(columnCompares(c.column), c.compares) << c.column;
        int result = 12345;
        VTSCompareNodes(row, other, c.column, result);
        if (c.compares)
            EXPECT_GT(result, 0) << c.column;
        else
            EXPECT_EQ(result, 12345)
                << c.column << ": a column without comparison leaves Result alone";
    }
}

TEST(CompareListText, BytesWithOnlyAsciiLettersFolded) {
    const struct {
        std::string_view a;
        std::string_view b;
        int sign;
    } cases[] = {
        {"svchost.exe", "SVCHOST.EXE", 0},
        {"", "", 0},
        {"", "a", -1},
        {"abc", "abcd", -1}, // a prefix sorts first
        {"135", "80", -1},   // numbers compare as text
        {"80", "8080", -1},
        {"10.0.0.2", "9.1.1.1", -1},
        {"a", "B", -1}, // folded: A < B
        {"Z", "a", 1},
        {"_", "a", 1}, // '_' (0x5F) is above folded 'A' (0x41)
        {"_", "A", 1},
        {"[", "z", 1},               // '[' 0x5B above 'Z' 0x5A once z is folded
        {"\xc3\xa4", "\xc3\x84", 1}, // non-ASCII letters are not folded
        {"zzz", "\xe4\xb8\xad", -1}, // Chinese bytes sort after ASCII
        {"\x7f", "\x80", -1},        // unsigned bytes
    };
    for (const auto& c : cases) {
        const int ab = compareListText(c.a, c.b);
        const int ba = compareListText(c.b, c.a);
        EXPECT_EQ((ab > 0) - (ab < 0), c.sign) << c.a << " vs " << c.b;
        EXPECT_EQ((ba > 0) - (ba < 0), -c.sign) << c.b << " vs " << c.a;
    }
    // The outcome is the unsigned byte difference at the first differing position.
    EXPECT_EQ(compareListText("a\x01", "A\xff"), 1 - 255);
    EXPECT_EQ(compareListText("b", "a"), 1);
}

} // namespace
