#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <initializer_list>
#include <map>
#include <stdexcept>
#include <string>
#include <tuple>
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
        FakeOs::setTcpTable(FakeOs::tcpEndpoints({}));
        FakeOs::setUdpTable(FakeOs::udpEndpoints({}));
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

TEST_F(SnapshotTest, FormatsEveryTcpField) {
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
        FakeOs::setTcpTable(FakeOs::tcpEndpoints({c.row}));
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
    FakeOs::setTcpTable(FakeOs::tcpEndpoints(
        {tcpRow(2, 80, 100), tcpRow(5, 5432, 200), tcpRow(5, 9000, 300), tcpRow(11, 1000, 0)}));
    FakeOs::setUdpTable(FakeOs::udpEndpoints({{ipv4(0, 0, 0, 0), portField(53), 100}}));
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
    FakeOs::setUdpTable(FakeOs::udpEndpoints({{ipv4(127, 0, 0, 1), portField(0x0050, 1, 2), 100},
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
    FakeOs::setTcpTable(FakeOs::tcpEndpoints({tcpRow(5, 80, 100)}));
    FakeOs::setUdpTable(FakeOs::udpEndpoints({{ipv4(0, 0, 0, 0), portField(53), 100}}));
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
    FakeOs::setTcpTable(FakeOs::tcpEndpoints({tcpRow(5, 80, 300), tcpRow(2, 81, 0)}));
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
    FakeOs::setTcpTable(FakeOs::tcpEndpoints(
        {tcpRow(2, 80, 100), tcpRow(5, 80, 100), tcpRow(5, 81, 200), tcpRow(6, 82, 100)}));
    FakeOs::setUdpTable(FakeOs::udpEndpoints({{ipv4(0, 0, 0, 0), portField(53), 100}}));
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
    FakeOs::setTcpTable(FakeOs::tcpEndpoints(rows));
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
    FakeOs::setTcpTable(FakeOs::tcpEndpoints({tcpRow(5, 80, 0)}));
    FakeOs::setUdpTable(FakeOs::udpEndpoints({{ipv4(0, 0, 0, 0), portField(53), 0}}));
    GetTcpUdpTable();
    TcpRecords[0].Mark = "ok";
    UdpRecords[0].Mark = "ok";
    GetTcpUdpTable();
    EXPECT_EQ(TcpRecords[0].Mark, "");
    EXPECT_EQ(UdpRecords[0].Mark, "");
}

TEST_F(SnapshotTest, ProcessSnapshotIsTakenOnceBeforeTheTables) {
    addOwners();
    FakeOs::setTcpTable(FakeOs::tcpEndpoints({tcpRow(5, 80, 100), tcpRow(5, 81, 200)}));
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
    FakeOs::setTcpTable(FakeOs::tcpEndpoints({tcpRow(5, 80, 0)}));
    FakeOs::setUdpTable(FakeOs::udpEndpoints({{ipv4(0, 0, 0, 0), portField(53), 0}}));
    GetTcpUdpTable();
    ASSERT_EQ(TcpRecords.size(), 1u);

    for (int which = 0; which < 2; ++which) {
        SCOPED_TRACE(which);
        FakeOs::setTcpTable(FakeOs::tcpEndpoints({tcpRow(5, 80, 0)}));
        FakeOs::setUdpTable(FakeOs::udpEndpoints({{ipv4(0, 0, 0, 0), portField(53), 0}}));
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

// The byte rows of the Windows tables are decoded in os/ (IpHelperTablesTest covers counts
// that promise more rows than there are); an empty table is no record here.
TEST_F(SnapshotTest, EmptyTablesGiveNoRecords) {
    GetTcpUdpTable();
    EXPECT_TRUE(TcpRecords.empty());
    EXPECT_TRUE(UdpRecords.empty());
}

os::Endpoint v6Endpoint(os::Protocol protocol, std::uint16_t port, std::uint32_t pid) {
    os::Endpoint e;
    e.protocol = protocol;
    e.family = os::Family::V6;
    e.state = protocol == os::Protocol::Tcp ? 2 : 0;
    e.localAddr[15] = 1;
    e.localPort = port;
    e.pid = pid;
    return e;
}

TEST_F(SnapshotTest, Ipv6RecordsAreKeptApartFromTheShownOnes) {
    addOwners();
    std::vector<os::Endpoint> tcp = FakeOs::tcpEndpoints({tcpRow(5, 80, 100)});
    tcp.insert(tcp.begin(), v6Endpoint(os::Protocol::Tcp, 8443, 100));
    tcp.push_back(v6Endpoint(os::Protocol::Tcp, 8444, 200));
    std::vector<os::Endpoint> udp = FakeOs::udpEndpoints({{ipv4(0, 0, 0, 0), portField(53), 0}});
    udp.push_back(v6Endpoint(os::Protocol::Udp, 5353, 200));
    FakeOs::setTcpTable(tcp);
    FakeOs::setUdpTable(udp);

    Snapshot snapshot;
    TakeSnapshot(snapshot);
    ASSERT_EQ(snapshot.Tcp.size(), 1u);
    EXPECT_EQ(snapshot.Tcp[0].LocalPort, "80");
    ASSERT_EQ(snapshot.Tcp6.size(), 2u);
    EXPECT_EQ(snapshot.Tcp6[0].LocalAddr, "::1");
    EXPECT_EQ(snapshot.Tcp6[0].LocalPort, "8443");
    EXPECT_EQ(snapshot.Tcp6[0].RemoteAddr, "::");
    EXPECT_EQ(snapshot.Tcp6[0].ProcName, "web");
    EXPECT_EQ(snapshot.Tcp6[1].PID, "200");
    ASSERT_EQ(snapshot.Udp.size(), 1u);
    ASSERT_EQ(snapshot.Udp6.size(), 1u);
    EXPECT_EQ(snapshot.Udp6[0].LocalAddr, "::1");
    EXPECT_EQ(snapshot.Udp6[0].RemoteAddr, "");
    EXPECT_EQ(snapshot.Udp6[0].State, 0);

    GetTcpUdpTable();
    ASSERT_EQ(TcpRecords.size(), 1u);
    EXPECT_EQ(TcpRecords[0].LocalAddr, "127.0.0.1");
    ASSERT_EQ(UdpRecords.size(), 1u);
    ASSERT_EQ(Tcp6Records.size(), 2u);
    EXPECT_EQ(Tcp6Records[0].LocalPort, "8443");
    EXPECT_EQ(Tcp6Records[1].LocalPort, "8444");
    ASSERT_EQ(Udp6Records.size(), 1u);
    EXPECT_EQ(Udp6Records[0].LocalPort, "5353");

    // The next snapshot replaces the IPv6 tables as it does the others.
    FakeOs::setTcpTable(FakeOs::tcpEndpoints({}));
    FakeOs::setUdpTable(FakeOs::udpEndpoints({}));
    GetTcpUdpTable();
    EXPECT_TRUE(Tcp6Records.empty());
    EXPECT_TRUE(Udp6Records.empty());
}

TEST_F(SnapshotTest, WhatTheSystemToldOfASocketReachesItsRecord) {
    addOwners();
    std::vector<os::Endpoint> tcp = FakeOs::tcpEndpoints({tcpRow(5, 80, 100), tcpRow(5, 81, 200)});
    tcp[0].uid = 1000;
    tcp[0].inode = 4711;
    tcp[0].cookie = 99;
    tcp[0].hasByteCounters = true;
    tcp[0].bytesAcked = 1u << 20;
    tcp[0].bytesReceived = 17;
    tcp[0].ownerStartTime = 31337; // found with the socket: no later lookup
    FakeOs::setTcpTable(tcp);
    Snapshot snapshot;
    TakeSnapshot(snapshot);
    ASSERT_EQ(snapshot.Tcp.size(), 2u);
    const File_Rec& told = snapshot.Tcp[0];
    EXPECT_EQ(told.UserId, 1000u);
    EXPECT_EQ(told.Inode, 4711u);
    EXPECT_EQ(told.Cookie, 99u);
    EXPECT_TRUE(told.HasByteCounters);
    EXPECT_EQ(told.BytesAcked, 1u << 20);
    EXPECT_EQ(told.BytesReceived, 17u);
    EXPECT_EQ(told.ProcStartTime, 31337u);
    EXPECT_EQ(FakeOs::counters().startTimeByPid.count(100), 0u);
    const File_Rec& untold = snapshot.Tcp[1];
    EXPECT_EQ(untold.UserId, os::NoUserId);
    EXPECT_EQ(untold.Inode, 0u);
    EXPECT_FALSE(untold.HasByteCounters);
    EXPECT_EQ(untold.ProcStartTime, 77u); // looked up, as the table did not tell
}

// Only a socket held by a process this program may not see (PID 0 with an inode) needs its
// user's name; each user ID is asked once per snapshot, and again in the next.
TEST_F(SnapshotTest, UserNamesOfSocketsWithUnseenOwnersAreAskedOncePerSnapshot) {
    addOwners();
    FakeOs::setUserName(0, "root");
    FakeOs::setUserName(1000, "alice");
    std::vector<os::Endpoint> tcp =
        FakeOs::tcpEndpoints({tcpRow(2, 80, 0), tcpRow(2, 81, 0), tcpRow(5, 82, 100),
                              tcpRow(11, 83, 0), tcpRow(2, 84, 0)});
    const std::uint32_t uids[] = {0, 0, 1000, 0, 2001};
    const std::uint64_t inodes[] = {10, 11, 12, 0, 14};
    for (std::size_t i = 0; i < tcp.size(); ++i) {
        tcp[i].uid = uids[i];
        tcp[i].inode = inodes[i];
    }
    std::vector<os::Endpoint> udp = FakeOs::udpEndpoints({{ipv4(0, 0, 0, 0), portField(53), 0}});
    udp[0].uid = 0;
    udp[0].inode = 15;
    FakeOs::setTcpTable(tcp);
    FakeOs::setUdpTable(udp);
    Snapshot snapshot;
    TakeSnapshot(snapshot);
    ASSERT_EQ(snapshot.Tcp.size(), 5u);
    ASSERT_EQ(snapshot.Udp.size(), 1u);
    EXPECT_EQ(snapshot.Tcp[0].UserName, "root");
    EXPECT_EQ(snapshot.Tcp[1].UserName, "root");
    EXPECT_EQ(snapshot.Tcp[2].UserName, ""); // its owner is known
    EXPECT_EQ(snapshot.Tcp[3].UserName, ""); // no inode: the kernel's
    EXPECT_EQ(snapshot.Tcp[4].UserName, ""); // no name known
    EXPECT_EQ(snapshot.Udp[0].UserName, "root");
    const std::map<std::uint32_t, int> asked = {{0, 1}, {2001, 1}};
    EXPECT_EQ(FakeOs::counters().userNameByUid, asked);

    FakeOs::setUserName(0, "toor"); // renamed meanwhile
    TakeSnapshot(snapshot);
    EXPECT_EQ(snapshot.Tcp[0].UserName, "toor");
    EXPECT_EQ(snapshot.Tcp[2].UserName, "");
    EXPECT_EQ(FakeOs::counters().userNameByUid.at(0), 2);
}

TEST_F(SnapshotTest, ReusedRecordsKeepNothingOfTheLastSnapshot) {
    addOwners();
    std::vector<os::Endpoint> tcp = FakeOs::tcpEndpoints({tcpRow(5, 80, 100)});
    tcp[0].inode = 5;
    tcp[0].hasByteCounters = true;
    FakeOs::setTcpTable(tcp);
    Snapshot snapshot;
    TakeSnapshot(snapshot);
    FakeOs::setTcpTable(FakeOs::tcpEndpoints({tcpRow(2, 81, 0)}));
    TakeSnapshot(snapshot);
    ASSERT_EQ(snapshot.Tcp.size(), 1u);
    File_Rec fresh;
    fresh.State = 2;
    fresh.LocalAddr = "127.0.0.1";
    fresh.LocalPort = "81";
    fresh.RemoteAddr = "10.0.0.2";
    fresh.RemotePort = "443";
    fresh.PID = "0";
    const File_Rec& rec = snapshot.Tcp[0];
    EXPECT_EQ(std::tie(rec.State, rec.LocalAddr, rec.LocalPort, rec.RemoteAddr, rec.RemotePort,
                       rec.PID, rec.ProcName, rec.ProcPath, rec.FileDesc, rec.Company, rec.Mark,
                       rec.ProcStartTime, rec.UserId, rec.Inode, rec.Cookie, rec.HasByteCounters,
                       rec.BytesAcked, rec.BytesReceived, rec.UserName),
              std::tie(fresh.State, fresh.LocalAddr, fresh.LocalPort, fresh.RemoteAddr,
                       fresh.RemotePort, fresh.PID, fresh.ProcName, fresh.ProcPath, fresh.FileDesc,
                       fresh.Company, fresh.Mark, fresh.ProcStartTime, fresh.UserId, fresh.Inode,
                       fresh.Cookie, fresh.HasByteCounters, fresh.BytesAcked, fresh.BytesReceived,
                       fresh.UserName));
}

TEST_F(SnapshotTest, FailedSnapshotLeavesTheValueEmpty) {
    FakeOs::setTcpTable(FakeOs::tcpEndpoints({tcpRow(5, 80, 0)}));
    Snapshot snapshot;
    TakeSnapshot(snapshot);
    snapshot.Tcp6.resize(2);
    FakeOs::setUdpTable(std::nullopt);
    EXPECT_THROW(TakeSnapshot(snapshot), std::runtime_error);
    EXPECT_TRUE(snapshot.Tcp.empty());
    EXPECT_TRUE(snapshot.Udp.empty());
    EXPECT_TRUE(snapshot.Tcp6.empty());
    EXPECT_TRUE(snapshot.Udp6.empty());
}

std::array<std::uint8_t, 16> v6Bytes(std::initializer_list<std::uint16_t> groups) {
    std::array<std::uint8_t, 16> out{};
    std::size_t i = 0;
    for (const std::uint16_t g : groups) {
        out[i++] = static_cast<std::uint8_t>(g >> 8);
        out[i++] = static_cast<std::uint8_t>(g & 0xff);
    }
    return out;
}

TEST(AddressTextTest, Ipv6TextIsTheRecommendedForm) {
    struct Case {
        std::array<std::uint8_t, 16> address;
        std::uint32_t scope;
        const char* text;
    };
    const Case cases[] = {
        {v6Bytes({0, 0, 0, 0, 0, 0, 0, 1}), 0, "::1"},
        {v6Bytes({0, 0, 0, 0, 0, 0, 0, 0}), 0, "::"},
        {v6Bytes({0x2001, 0xdb8, 0, 0, 0, 0, 0, 1}), 0, "2001:db8::1"},
        {v6Bytes({0x2001, 0xdb8, 0, 0, 1, 0, 0, 1}), 0, "2001:db8::1:0:0:1"},    // first of equals
        {v6Bytes({0x2001, 0xdb8, 0, 1, 1, 1, 1, 1}), 0, "2001:db8:0:1:1:1:1:1"}, // one zero stays
        {v6Bytes({0x2001, 0, 0, 1, 0, 0, 0, 1}), 0, "2001:0:0:1::1"},            // longest run
        {v6Bytes({0x2001, 0xDB8, 0xABCD, 0x12, 0, 0, 0, 0}), 0, "2001:db8:abcd:12::"},
        {v6Bytes({0xfe80, 0, 0, 0, 0x0a00, 0x27ff, 0xfe4e, 0x6f1}), 3, "fe80::a00:27ff:fe4e:6f1%3"},
        {v6Bytes({0, 0, 0, 0, 0, 0xffff, 0xc000, 0x0201}), 0, "::ffff:192.0.2.1"},
        {v6Bytes({1, 2, 3, 4, 5, 6, 7, 8}), 0, "1:2:3:4:5:6:7:8"},
        {v6Bytes({0xffff, 0xffff, 0xffff, 0xffff, 0xffff, 0xffff, 0xffff, 0xffff}), 4294967295u,
         "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff%4294967295"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(AddressText(os::Family::V6, c.address, c.scope), c.text);
    const std::array<std::uint8_t, 16> v4{192, 168, 0, 255};
    EXPECT_EQ(AddressText(os::Family::V4, v4), "192.168.0.255");
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
