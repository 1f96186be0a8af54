#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "fakes/FakeOs.h"
#include "snapshot/UnitGetTcpUdpTable.h"

using FakeOs::ipv4;
using FakeOs::portField;

namespace {

class SnapshotTest : public ::testing::Test {
protected:
    void SetUp() override {
        FakeOs::reset();
        TcpRecords.clear();
        UdpRecords.clear();
        FakeOs::setTcpTable(FakeOs::tcpTableBytes({}));
        FakeOs::setUdpTable(FakeOs::udpTableBytes({}));
        FakeOs::setProcesses(std::vector<os::ProcessEntry>{});
    }

    static FakeOs::TcpRow tcpRow(std::uint32_t state, std::uint16_t localPort, std::uint32_t pid) {
        return {state, ipv4(127, 0, 0, 1), portField(localPort), ipv4(10, 0, 0, 2), portField(443),
                pid};
    }

    // Owner 100 "web" with a described executable; owner 200 with a path but nothing known
    // about the file; owner 300 with no visible path.
    static void addOwners() {
        FakeOs::setProcesses(
            std::vector<os::ProcessEntry>{{100, "web"}, {200, "db"}, {300, "hidden"}});
        FakeOs::setImagePath(100, "/usr/bin/web");
        FakeOs::setImagePath(200, "/opt/db/db");
        FakeOs::setDescription("/usr/bin/web", "Web server", "Example Ltd");
        FakeOs::setStartTime(100, 4242);
        FakeOs::setStartTime(200, 77);
    }
};

struct DecodeCase {
    const char* name;
    FakeOs::TcpRow row;
    std::int32_t state;
    const char* localAddr;
    const char* localPort;
    const char* remoteAddr;
    const char* remotePort;
    const char* pid;
};

TEST_F(SnapshotTest, DecodesEveryTcpFieldFromItsBytes) {
    const DecodeCase cases[] = {
        {"port from first two bytes only",
         {5, ipv4(192, 168, 1, 20), portField(80, 0xAB, 0xCD), ipv4(8, 8, 8, 8),
          portField(0x1F90, 0xFF, 0xFF), 1234},
         5,
         "192.168.1.20",
         "80",
         "8.8.8.8",
         "8080",
         "1234"},
        {"listener with zero remote",
         {2, ipv4(0, 0, 0, 0), portField(22), ipv4(0, 0, 0, 0), portField(0), 0},
         2,
         "0.0.0.0",
         "22",
         "0.0.0.0",
         "0",
         "0"},
        {"top bit of the PID set",
         {11, ipv4(255, 255, 255, 255), portField(65535), ipv4(1, 2, 3, 4), portField(1),
          0x80000001u},
         11,
         "255.255.255.255",
         "65535",
         "1.2.3.4",
         "1",
         "2147483649"},
        {"state number passed through unchanged",
         {12, ipv4(10, 0, 0, 1), portField(256), ipv4(10, 0, 0, 9), portField(255), 0xFFFFFFFFu},
         12,
         "10.0.0.1",
         "256",
         "10.0.0.9",
         "255",
         "4294967295"},
    };
    for (const DecodeCase& c : cases) {
        SCOPED_TRACE(c.name);
        FakeOs::setTcpTable(FakeOs::tcpTableBytes({c.row}));
        GetTcpUdpTable();
        ASSERT_EQ(TcpRecords.size(), 1u);
        const File_Rec& rec = TcpRecords[0];
        EXPECT_EQ(rec.State, c.state);
        EXPECT_EQ(rec.LocalAddr, c.localAddr);
        EXPECT_EQ(rec.LocalPort, c.localPort);
        EXPECT_EQ(rec.RemoteAddr, c.remoteAddr);
        EXPECT_EQ(rec.RemotePort, c.remotePort);
        EXPECT_EQ(rec.PID, c.pid);
    }
}

TEST_F(SnapshotTest, RecordsFollowTableOrderAndFillOwnerFields) {
    addOwners();
    FakeOs::setTcpTable(FakeOs::tcpTableBytes(
        {tcpRow(2, 80, 100), tcpRow(5, 5432, 200), tcpRow(5, 9000, 300), tcpRow(11, 1000, 0)}));
    FakeOs::setUdpTable(FakeOs::udpTableBytes({{ipv4(0, 0, 0, 0), portField(53), 100}}));
    GetTcpUdpTable();

    ASSERT_EQ(TcpRecords.size(), 4u);
    EXPECT_EQ(TcpRecords[0].LocalPort, "80");
    EXPECT_EQ(TcpRecords[1].LocalPort, "5432");
    EXPECT_EQ(TcpRecords[2].LocalPort, "9000");
    EXPECT_EQ(TcpRecords[3].LocalPort, "1000");

    const File_Rec& web = TcpRecords[0];
    EXPECT_EQ(web.ProcName, "web");
    EXPECT_EQ(web.ProcPath, "/usr/bin/web");
    EXPECT_EQ(web.FileDesc, "Web server");
    EXPECT_EQ(web.Company, "Example Ltd");
    EXPECT_EQ(web.ProcStartTime, 4242u);

    const File_Rec& db = TcpRecords[1];
    EXPECT_EQ(db.ProcName, "db");
    EXPECT_EQ(db.ProcPath, "/opt/db/db");
    EXPECT_EQ(db.FileDesc, "");
    EXPECT_EQ(db.Company, "");

    const File_Rec& hidden = TcpRecords[2];
    EXPECT_EQ(hidden.ProcName, "hidden");
    EXPECT_EQ(hidden.ProcPath, "");
    EXPECT_EQ(hidden.ProcStartTime, 0u);

    const File_Rec& idle = TcpRecords[3];
    EXPECT_EQ(idle.PID, "0");
    EXPECT_EQ(idle.ProcName, "");
}

TEST_F(SnapshotTest, UdpRecordsHaveStateZeroAndNoRemote) {
    addOwners();
    FakeOs::setUdpTable(FakeOs::udpTableBytes({{ipv4(127, 0, 0, 1), portField(0x0050, 1, 2), 100},
                                               {ipv4(0, 0, 0, 0), portField(5353), 200}}));
    GetTcpUdpTable();
    ASSERT_EQ(UdpRecords.size(), 2u);
    EXPECT_TRUE(TcpRecords.empty());
    for (const File_Rec& rec : UdpRecords) {
        EXPECT_EQ(rec.State, 0);
        EXPECT_EQ(rec.RemoteAddr, "");
        EXPECT_EQ(rec.RemotePort, "");
    }
    EXPECT_EQ(UdpRecords[0].LocalAddr, "127.0.0.1");
    EXPECT_EQ(UdpRecords[0].LocalPort, "80");
    EXPECT_EQ(UdpRecords[0].ProcName, "web");
    EXPECT_EQ(UdpRecords[0].FileDesc, "Web server");
    EXPECT_EQ(UdpRecords[1].LocalPort, "5353");
    EXPECT_EQ(UdpRecords[1].PID, "200");
}

TEST_F(SnapshotTest, FailedProcessSnapshotLeavesOnlyNamesEmpty) {
    addOwners();
    FakeOs::setProcesses(std::nullopt);
    FakeOs::setTcpTable(FakeOs::tcpTableBytes({tcpRow(5, 80, 100)}));
    FakeOs::setUdpTable(FakeOs::udpTableBytes({{ipv4(0, 0, 0, 0), portField(53), 100}}));
    GetTcpUdpTable();
    ASSERT_EQ(TcpRecords.size(), 1u);
    ASSERT_EQ(UdpRecords.size(), 1u);
    for (const File_Rec* rec : {&TcpRecords[0], &UdpRecords[0]}) {
        EXPECT_EQ(rec->ProcName, "");
        EXPECT_EQ(rec->PID, "100");
        EXPECT_EQ(rec->ProcPath, "/usr/bin/web");
        EXPECT_EQ(rec->FileDesc, "Web server");
        EXPECT_EQ(rec->Company, "Example Ltd");
    }
    EXPECT_EQ(TcpRecords[0].LocalPort, "80");
}

TEST_F(SnapshotTest, EmptyPathReadsNoFile) {
    addOwners();
    FakeOs::setTcpTable(FakeOs::tcpTableBytes({tcpRow(5, 80, 300), tcpRow(2, 81, 0)}));
    GetTcpUdpTable();
    ASSERT_EQ(TcpRecords.size(), 2u);
    EXPECT_EQ(FakeOs::fileReads(), 0);
    for (const File_Rec& rec : TcpRecords) {
        EXPECT_EQ(rec.FileDesc, "");
        EXPECT_EQ(rec.Company, "");
    }
}

TEST_F(SnapshotTest, EndpointsOfOneProcessShareOwnerFieldsAndLookups) {
    addOwners();
    FakeOs::setImagePath(200, "/usr/bin/web"); // a second process of the same executable
    FakeOs::setTcpTable(FakeOs::tcpTableBytes(
        {tcpRow(2, 80, 100), tcpRow(5, 80, 100), tcpRow(5, 81, 200), tcpRow(6, 82, 100)}));
    FakeOs::setUdpTable(FakeOs::udpTableBytes({{ipv4(0, 0, 0, 0), portField(53), 100}}));
    GetTcpUdpTable();

    ASSERT_EQ(TcpRecords.size(), 4u);
    for (const File_Rec* rec : {&TcpRecords[1], &TcpRecords[3], &UdpRecords[0]}) {
        EXPECT_EQ(rec->PID, TcpRecords[0].PID);
        EXPECT_EQ(rec->ProcName, TcpRecords[0].ProcName);
        EXPECT_EQ(rec->ProcPath, TcpRecords[0].ProcPath);
        EXPECT_EQ(rec->FileDesc, TcpRecords[0].FileDesc);
        EXPECT_EQ(rec->Company, TcpRecords[0].Company);
        EXPECT_EQ(rec->ProcStartTime, TcpRecords[0].ProcStartTime);
    }
    EXPECT_EQ(TcpRecords[2].FileDesc, "Web server");
    EXPECT_EQ(FakeOs::counters().imagePathByPid.at(100), 1);
    EXPECT_EQ(FakeOs::counters().imagePathByPid.at(200), 1);
    EXPECT_EQ(FakeOs::fileReads(), FakeOs::counters().loadVersionByPath.at("/usr/bin/web") +
                                       FakeOs::counters().describeByPath.at("/usr/bin/web"));
    EXPECT_LE(FakeOs::counters().loadVersionByPath.at("/usr/bin/web"), 1);
    EXPECT_LE(FakeOs::counters().describeByPath.at("/usr/bin/web"), 1);
}

// The lookups of one snapshot are shared; the records must still be what a fresh lookup per
// record gives.
TEST_F(SnapshotTest, SharedLookupsGiveTheUncachedRecords) {
    addOwners();
    std::vector<os::ProcessEntry> processes{
        {100, "web"}, {200, "db"}, {100, "web-dup"}, {300, "hidden"}};
    FakeOs::setProcesses(processes);
    std::vector<FakeOs::TcpRow> rows;
    for (std::uint32_t i = 0; i < 30; ++i)
        rows.push_back(tcpRow(1 + i % 12, static_cast<std::uint16_t>(1000 + i),
                              std::vector<std::uint32_t>{100, 200, 300, 0, 999}[i % 5]));
    FakeOs::setTcpTable(FakeOs::tcpTableBytes(rows));
    GetTcpUdpTable();

    ASSERT_EQ(TcpRecords.size(), rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(i);
        const File_Rec& rec = TcpRecords[i];
        std::string company;
        const std::string path = GetProcessPathByPID(rows[i].pid);
        EXPECT_EQ(rec.ProcName, GetProcessNameByPID(processes, rows[i].pid));
        EXPECT_EQ(rec.ProcPath, path);
        EXPECT_EQ(rec.FileDesc, GetFileVersionStrings(path, company));
        EXPECT_EQ(rec.Company, company);
        EXPECT_EQ(rec.ProcStartTime, os::ProcessStartTime(rows[i].pid));
    }
    EXPECT_EQ(TcpRecords[0].ProcName, "web");
}

TEST_F(SnapshotTest, FreshRecordsHaveEmptyMark) {
    FakeOs::setTcpTable(FakeOs::tcpTableBytes({tcpRow(5, 80, 0)}));
    FakeOs::setUdpTable(FakeOs::udpTableBytes({{ipv4(0, 0, 0, 0), portField(53), 0}}));
    GetTcpUdpTable();
    TcpRecords[0].Mark = "ok";
    UdpRecords[0].Mark = "ok";
    GetTcpUdpTable();
    EXPECT_EQ(TcpRecords[0].Mark, "");
    EXPECT_EQ(UdpRecords[0].Mark, "");
}

TEST_F(SnapshotTest, ProcessSnapshotIsTakenOnceBeforeTheTables) {
    addOwners();
    FakeOs::setTcpTable(FakeOs::tcpTableBytes({tcpRow(5, 80, 100), tcpRow(5, 81, 200)}));
    GetTcpUdpTable();
    const auto& log = FakeOs::counters().callLog;
    EXPECT_EQ(FakeOs::counters().snapshotProcesses, 1);
    const auto snapshot = std::find(log.begin(), log.end(), "SnapshotProcesses");
    const auto tables = std::find(log.begin(), log.end(), "ReadEndpointTables");
    ASSERT_NE(snapshot, log.end());
    ASSERT_NE(tables, log.end());
    EXPECT_LT(snapshot, tables);
}

TEST_F(SnapshotTest, NoTableThrowsAndLeavesBothTablesEmpty) {
    FakeOs::setTcpTable(FakeOs::tcpTableBytes({tcpRow(5, 80, 0)}));
    FakeOs::setUdpTable(FakeOs::udpTableBytes({{ipv4(0, 0, 0, 0), portField(53), 0}}));
    GetTcpUdpTable();
    ASSERT_EQ(TcpRecords.size(), 1u);

    for (int which = 0; which < 2; ++which) {
        SCOPED_TRACE(which);
        FakeOs::setTcpTable(FakeOs::tcpTableBytes({tcpRow(5, 80, 0)}));
        FakeOs::setUdpTable(FakeOs::udpTableBytes({{ipv4(0, 0, 0, 0), portField(53), 0}}));
        if (which == 0)
            FakeOs::setTcpTable(std::nullopt);
        else
            FakeOs::setUdpTable(std::nullopt);
        TcpRecords.resize(3);
        UdpRecords.resize(3);
        try {
            GetTcpUdpTable();
            FAIL() << "no error raised";
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find("连接表"), std::string::npos) << e.what();
        }
        EXPECT_TRUE(TcpRecords.empty());
        EXPECT_TRUE(UdpRecords.empty());
    }
}

TEST_F(SnapshotTest, ShortOrEmptyTablesGiveOnlyWholeRows) {
    struct Case {
        const char* name;
        std::vector<std::uint8_t> tcp;
        std::size_t rows;
    };
    std::vector<std::uint8_t> claimsThree =
        FakeOs::tcpTableBytes({tcpRow(5, 80, 0), tcpRow(5, 81, 0)});
    claimsThree[0] = 3;
    std::vector<std::uint8_t> cutRow = FakeOs::tcpTableBytes({tcpRow(5, 80, 0), tcpRow(5, 81, 0)});
    cutRow.resize(cutRow.size() - 5);
    const Case cases[] = {
        {"no bytes at all", {}, 0},
        {"count only", FakeOs::tcpTableBytes({}), 0},
        {"count larger than the rows", claimsThree, 2},
        {"last row cut short", cutRow, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeOs::setTcpTable(c.tcp);
        GetTcpUdpTable();
        EXPECT_EQ(TcpRecords.size(), c.rows);
    }
}

TEST(ProcessNameTest, FindsEachPidFromTheStartOfTheSnapshot) {
    const std::vector<os::ProcessEntry> processes{{4, "System"}, {1200, "sshd"}, {77, "init"}};
    EXPECT_EQ(GetProcessNameByPID(processes, 77), "init");
    EXPECT_EQ(GetProcessNameByPID(processes, 4), "System");
    EXPECT_EQ(GetProcessNameByPID(processes, 5), "");
    EXPECT_EQ(GetProcessNameByPID({}, 4), "");
}

TEST(PrivilegeTest, DebugPrivilegeNeedsEveryPrivilege) {
    struct Case {
        const char* name;
        std::vector<std::string> held;
        bool result;
    };
    const Case cases[] = {
        {"both held", {"cap_sys_ptrace", "cap_dac_read_search"}, true},
        {"one held", {"cap_sys_ptrace"}, false},
        {"none held", {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeOs::reset();
        for (const std::string& name : c.held)
            FakeOs::setPrivilegeHeld(name, true);
        EXPECT_EQ(EnableDebugPrivilege(), c.result);
        for (const std::string& name : c.held)
            EXPECT_TRUE(FakeOs::privilegeEnabled(name));
    }
    FakeOs::reset();
    FakeOs::setDebugPrivilegeNames({});
    EXPECT_FALSE(EnableDebugPrivilege());
}

TEST(PrivilegeTest, SetPrivilegeReportsTheOutcome) {
    FakeOs::reset();
    FakeOs::setPrivilegeHeld("cap_sys_ptrace", true);
    EXPECT_TRUE(SetPrivilege("cap_sys_ptrace", true));
    EXPECT_TRUE(FakeOs::privilegeEnabled("cap_sys_ptrace"));
    EXPECT_TRUE(SetPrivilege("cap_sys_ptrace", false));
    EXPECT_FALSE(FakeOs::privilegeEnabled("cap_sys_ptrace"));
    EXPECT_FALSE(SetPrivilege("cap_net_admin", true));
    EXPECT_FALSE(SetPrivilege("", true));
}

} // namespace
