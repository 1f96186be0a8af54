// The Linux readers on saved kernel output: /proc/net text, a fake /proc tree and netlink
// dump bytes (tests/data/netlink/capture_sockdiag.py describes how those were taken).
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <tuple>
#include <vector>

#include "os/linux/LinuxEndpoints.h"
#include "os/linux/LinuxProcesses.h"

using namespace os::linuxnet;

namespace {

const std::string ProcFixture = std::string(KESTREL_TEST_DATA) + "/proc";
const std::string NetlinkFixture = std::string(KESTREL_TEST_DATA) + "/netlink";

// state, local "a.b.c.d:port", remote, pid
using Row = std::tuple<std::uint32_t, std::string, std::string, std::uint32_t>;

std::string text(const std::array<std::uint8_t, 4>& a, std::uint16_t port) {
    return std::to_string(a[0]) + "." + std::to_string(a[1]) + "." + std::to_string(a[2]) + "." +
           std::to_string(a[3]) + ":" + std::to_string(port);
}

std::vector<Row> rows(const std::vector<Endpoint>& endpoints) {
    std::vector<Row> out;
    for (const Endpoint& e : endpoints)
        out.emplace_back(e.state, text(e.localAddr, e.localPort), text(e.remoteAddr, e.remotePort),
                         e.pid);
    return out;
}

std::vector<std::uint8_t> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::array<std::uint8_t, 16> v6(std::initializer_list<std::uint8_t> tail) {
    std::array<std::uint8_t, 16> a{};
    std::copy(tail.begin(), tail.end(), a.end() - static_cast<std::ptrdiff_t>(tail.size()));
    return a;
}

TEST(LinuxStateTest, KernelStatesMapToMibNumbers) {
    const std::pair<std::uint8_t, std::uint32_t> cases[] = {
        {1, 5},  {2, 3},  {3, 4},  {4, 6},  {5, 7},  {6, 11}, {7, 1},   {8, 8},
        {9, 10}, {10, 2}, {11, 9}, {12, 4}, {13, 0}, {0, 0},  {200, 0},
    };
    for (const auto& [linuxState, mib] : cases)
        EXPECT_EQ(mibTcpState(linuxState), mib) << int(linuxState);
}

TEST(LinuxConvertTest, Ipv4TrafficOfIpv6SocketsBecomesIpv4Rows) {
    const auto mapped = [](std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
        return v6({0xff, 0xff, a, b, c, d});
    };
    struct Case {
        const char* name;
        RawSocket socket;
        Protocol protocol;
        bool kept;
        std::string local;
        std::string remote;
    };
    RawSocket v4{AF_INET, 1, {127, 0, 0, 1}, {10, 1, 2, 3}, 80, 5000, 1, false};
    RawSocket dualListener{AF_INET6, 10, {}, {}, 443, 0, 2, false};
    RawSocket v6onlyListener{AF_INET6, 10, {}, {}, 443, 0, 3, true};
    RawSocket mappedPair{AF_INET6, 1,    mapped(127, 0, 0, 1), mapped(127, 0, 0, 2), 443, 6000,
                         4,        false};
    RawSocket loopback6{AF_INET6, 10, v6({1}), {}, 22, 0, 5, false};
    RawSocket mixed{AF_INET6, 1, mapped(127, 0, 0, 1), v6({1}), 22, 9, 6, false};
    RawSocket mappedListener{AF_INET6, 10, mapped(127, 0, 0, 1), {}, 8443, 0, 7, true};
    RawSocket boundOnly{AF_INET, 13, {127, 0, 0, 1}, {}, 9000, 0, 8, false};
    RawSocket udpDual{AF_INET6, 7, {}, {}, 5353, 0, 9, false};
    RawSocket udpConnected{AF_INET, 1, {127, 0, 0, 1}, {8, 8, 8, 8}, 5000, 53, 10, false};
    const Case cases[] = {
        {"plain IPv4", v4, Protocol::Tcp, true, "127.0.0.1:80", "10.1.2.3:5000"},
        {"dual-stack listener on ::", dualListener, Protocol::Tcp, true, "0.0.0.0:443",
         "0.0.0.0:0"},
        {"v6-only listener", v6onlyListener, Protocol::Tcp, false, "", ""},
        {"mapped connection", mappedPair, Protocol::Tcp, true, "127.0.0.1:443", "127.0.0.2:6000"},
        {"pure IPv6", loopback6, Protocol::Tcp, false, "", ""},
        {"mapped local, IPv6 remote", mixed, Protocol::Tcp, false, "", ""},
        {"listener on a mapped address", mappedListener, Protocol::Tcp, true, "127.0.0.1:8443",
         "0.0.0.0:0"},
        {"bound only", boundOnly, Protocol::Tcp, false, "", ""},
        {"dual-stack UDP", udpDual, Protocol::Udp, true, "0.0.0.0:5353", "0.0.0.0:0"},
        {"connected UDP keeps no remote", udpConnected, Protocol::Udp, true, "127.0.0.1:5000",
         "0.0.0.0:0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Endpoint e;
        ASSERT_EQ(toIpv4Endpoint(c.socket, c.protocol, e), c.kept);
        if (!c.kept)
            continue;
        EXPECT_EQ(text(e.localAddr, e.localPort), c.local);
        EXPECT_EQ(text(e.remoteAddr, e.remotePort), c.remote);
        EXPECT_EQ(e.inode, c.socket.inode);
        EXPECT_EQ(e.state, c.protocol == Protocol::Udp ? 0u : mibTcpState(c.socket.linuxState));
    }
}

TEST(InodeOwnersTest, KeepsEveryInodeOnceAndGrowsPastWhatWasPromised) {
    InodeOwners owners(4);
    // Neighbouring inodes as the kernel hands them out, and far-apart ones, well past the
    // promised size.
    std::vector<std::uint64_t> inodes;
    for (std::uint64_t i = 0; i < 5000; ++i)
        inodes.push_back(1000000 + i);
    for (std::uint64_t i = 1; i <= 64; ++i)
        inodes.push_back(i << 40);
    for (std::uint64_t inode : inodes)
        owners.add(inode);
    for (std::uint64_t inode : inodes)
        owners.add(inode); // again: no second entry
    owners.add(0);
    EXPECT_EQ(owners.size(), inodes.size());
    EXPECT_EQ(owners.find(0), nullptr);
    EXPECT_EQ(owners.find(999999), nullptr);
    EXPECT_EQ(owners.find(1u << 20), nullptr);
    for (std::uint64_t inode : inodes) {
        std::uint32_t* pid = owners.find(inode);
        ASSERT_NE(pid, nullptr) << inode;
        EXPECT_EQ(*pid, 0u);
        *pid = static_cast<std::uint32_t>(inode % 65521 + 1);
    }
    for (std::uint64_t i = 0; i < 20000; ++i) // grows further; the PIDs set so far stay
        owners.add(5000000 + i);
    for (std::uint64_t inode : inodes)
        EXPECT_EQ(*owners.find(inode), inode % 65521 + 1) << inode;
}

TEST(LinuxProcNetTest, FixtureTreeGivesRowsWithOwners) {
    std::vector<Endpoint> tcp;
    std::vector<Endpoint> udp;
    ASSERT_TRUE(collectEndpoints(ProcFixture, Source::ProcNet, tcp, udp));
    const std::vector<Row> expectedTcp = {
        {2, "0.0.0.0:443", "0.0.0.0:0", 500},
        {5, "10.0.0.10:22", "10.0.0.2:54321", 300},
        {5, "127.0.0.1:443", "127.0.0.1:50010", 500},
        {2, "127.0.0.1:8080", "0.0.0.0:0", 100},
        {5, "127.0.0.1:8080", "127.0.0.1:50000", 100},
        {2, "127.0.0.1:8081", "0.0.0.0:0", 0}, // nobody holds it
        {5, "127.0.0.1:50000", "127.0.0.1:8080", 200},
        {11, "127.0.0.1:50001", "127.0.0.1:8080", 0}, // TIME_WAIT has no inode
    };
    EXPECT_EQ(rows(tcp), expectedTcp);
    const std::vector<Row> expectedUdp = {
        {0, "0.0.0.0:53", "0.0.0.0:0", 100},
        {0, "0.0.0.0:5353", "0.0.0.0:0", 300},
        {0, "127.0.0.1:514", "0.0.0.0:0", 200},
    };
    EXPECT_EQ(rows(udp), expectedUdp);
}

TEST(LinuxProcNetTest, V6OnlyDefaultDropsListenersOnAnyAddress) {
    std::ifstream in(ProcFixture + "/net/tcp6");
    const std::string tcp6((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (const bool v6only : {false, true}) {
        std::vector<RawSocket> raw;
        parseProcNet(tcp6, AF_INET6, v6only, raw);
        ASSERT_EQ(raw.size(), 3u);
        std::size_t kept = 0;
        for (const RawSocket& s : raw) {
            Endpoint e;
            kept += toIpv4Endpoint(s, Protocol::Tcp, e) ? 1 : 0;
        }
        EXPECT_EQ(kept, v6only ? 1u : 2u);
    }
}

TEST(LinuxProcNetTest, BrokenLinesAreSkipped) {
    const char* lines[] = {
        "",
        "garbage",
        "   0: 0100007F:1F90 00000000:0000 0A 00000000:00000000 00:00000000 00000000 0 0",
        "   0: 0100007F1F90 00000000:0000 0A 00000000:00000000 00:00000000 00000000 0 0 12 1",
        "   0: 0100007F:1F90 00000000:0000 0A 00000000:00000000 00:00000000 00000000 0 0 x12 1",
        "   0: 0100007F:11F90 00000000:0000 0A 00000000:00000000 00:00000000 00000000 0 0 12 1",
        "   0: 0100007F:1F90 00000000:0000 0A1 00000000:00000000 00:00000000 00000000 0 0 12 1",
    };
    for (const char* line : lines) {
        std::vector<RawSocket> raw;
        parseProcNet(line, AF_INET, false, raw);
        EXPECT_TRUE(raw.empty()) << line;
    }
    std::vector<RawSocket> raw;
    parseProcNet("   0: 0100007F:1F90 0200000A:0050 01 0:0 0:0 0 0 0 77 1\n", AF_INET, false, raw);
    ASSERT_EQ(raw.size(), 1u);
    EXPECT_EQ(raw[0].localPort, 8080);
    EXPECT_EQ(raw[0].remotePort, 80);
    EXPECT_EQ(raw[0].inode, 77u);
    EXPECT_EQ(raw[0].linuxState, 1);
    EXPECT_EQ(raw[0].local[0], 127);
    EXPECT_EQ(raw[0].remote[0], 10);
    EXPECT_EQ(raw[0].remote[3], 2);
}

TEST(LinuxProcNetTest, MissingFilesFailOrCountAsEmpty) {
    std::vector<RawSocket> raw;
    EXPECT_FALSE(readProcNet(std::string(KESTREL_TEST_DATA) + "/no-such-proc", Protocol::Tcp, raw));
    std::vector<Endpoint> tcp;
    std::vector<Endpoint> udp;
    EXPECT_FALSE(collectEndpoints(std::string(KESTREL_TEST_DATA) + "/no-such-proc", Source::ProcNet,
                                  tcp, udp));
    EXPECT_TRUE(tcp.empty());
    EXPECT_TRUE(udp.empty());
}

struct ParsedDump {
    DumpState state;
    std::vector<RawSocket> sockets;
};

ParsedDump parseDump(const std::vector<std::uint8_t>& bytes, std::uint32_t seq = 4242) {
    ParsedDump parsed;
    parsed.state.seq = seq;
    parseSockDiagBuffer(bytes.data(), bytes.size(), parsed.state, parsed.sockets);
    return parsed;
}

TEST(LinuxSockDiagTest, SavedDumpsGiveTheLoopbackSockets) {
    std::vector<Endpoint> endpoints;
    std::vector<RawSocket> raw;
    for (const char* file : {"/tcp4.bin", "/tcp6.bin"}) {
        const ParsedDump parsed = parseDump(readBytes(NetlinkFixture + file));
        ASSERT_TRUE(parsed.state.done) << file;
        EXPECT_FALSE(parsed.state.malformed);
        EXPECT_EQ(parsed.state.error, 0);
        for (const RawSocket& s : parsed.sockets) {
            raw.push_back(s);
            Endpoint e;
            if (toIpv4Endpoint(s, Protocol::Tcp, e) && e.localPort >= 38000 && e.localPort < 38100)
                endpoints.push_back(e);
        }
    }
    std::vector<Row> found;
    for (Row row : rows(endpoints)) {
        std::get<3>(row) = 0;
        found.push_back(row);
    }
    std::sort(found.begin(), found.end());
    std::vector<Row> expected = {
        {2, "127.0.0.1:38001", "0.0.0.0:0", 0},       {5, "127.0.0.1:38001", "127.0.0.1:38002", 0},
        {5, "127.0.0.1:38002", "127.0.0.1:38001", 0}, {2, "0.0.0.0:38003", "0.0.0.0:0", 0},
        {5, "127.0.0.1:38003", "127.0.0.2:38004", 0}, {5, "127.0.0.2:38004", "127.0.0.1:38003", 0},
    };
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(found, expected);

    const auto byPort = [&](std::uint16_t port) {
        return std::find_if(raw.begin(), raw.end(), [&](const RawSocket& s) {
            return s.family == AF_INET6 && s.localPort == port && s.linuxState == 10;
        });
    };
    ASSERT_NE(byPort(38003), raw.end());
    ASSERT_NE(byPort(38005), raw.end());
    ASSERT_NE(byPort(38006), raw.end());
    EXPECT_FALSE(byPort(38003)->v6only);
    EXPECT_TRUE(byPort(38005)->v6only);
    for (const RawSocket& s : raw) {
        if (s.linuxState != 6 && s.linuxState != 12) {
            EXPECT_NE(s.inode, 0u);
        }
    }
}

TEST(LinuxSockDiagTest, CutDumpsAreReportedNotOverread) {
    const std::vector<std::uint8_t> whole = readBytes(NetlinkFixture + "/tcp6.bin");
    ASSERT_GT(whole.size(), 100u);
    const std::size_t all = parseDump(whole).sockets.size();
    for (std::size_t cut = 1; cut < whole.size(); ++cut) {
        // A copy of exactly `cut` bytes, so that a sanitizer sees any read past the end.
        const std::vector<std::uint8_t> part(whole.begin(),
                                             whole.begin() + static_cast<std::ptrdiff_t>(cut));
        const ParsedDump parsed = parseDump(part);
        EXPECT_FALSE(parsed.state.done) << cut;
        EXPECT_LE(parsed.sockets.size(), all);
    }
}

std::vector<std::uint8_t> message(std::uint16_t type, std::uint32_t seq,
                                  const std::vector<std::uint8_t>& payload,
                                  std::uint16_t flags = 0) {
    nlmsghdr header{};
    header.nlmsg_len = static_cast<std::uint32_t>(NLMSG_HDRLEN + payload.size());
    header.nlmsg_type = type;
    header.nlmsg_flags = flags;
    header.nlmsg_seq = seq;
    std::vector<std::uint8_t> out(NLMSG_ALIGN(header.nlmsg_len), 0);
    std::memcpy(out.data(), &header, sizeof header);
    std::copy(payload.begin(), payload.end(), out.begin() + NLMSG_HDRLEN);
    return out;
}

std::vector<std::uint8_t> intPayload(int value) {
    std::vector<std::uint8_t> out(sizeof(nlmsgerr), 0);
    std::memcpy(out.data(), &value, sizeof value);
    return out;
}

std::vector<std::uint8_t> diagPayload(std::uint8_t family, std::uint8_t state, std::uint16_t port,
                                      std::vector<std::uint8_t> attributes = {}) {
    inet_diag_msg msg{};
    msg.idiag_family = family;
    msg.idiag_state = state;
    msg.id.idiag_sport = htons(port);
    msg.idiag_inode = 99;
    std::vector<std::uint8_t> out(NLMSG_ALIGN(sizeof msg) + attributes.size(), 0);
    std::memcpy(out.data(), &msg, sizeof msg);
    if (!attributes.empty())
        std::memcpy(out.data() + NLMSG_ALIGN(sizeof msg), attributes.data(), attributes.size());
    return out;
}

std::vector<std::uint8_t> join(std::initializer_list<std::vector<std::uint8_t>> parts) {
    std::vector<std::uint8_t> out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST(LinuxSockDiagTest, ReplyKindsAreTold) {
    const std::vector<std::uint8_t> zeroLengthAttribute = {0, 0, INET_DIAG_SKV6ONLY, 0};
    const std::vector<std::uint8_t> v6onlyAttribute = {5, 0, INET_DIAG_SKV6ONLY, 0, 1, 0, 0, 0};
    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        bool done;
        int error;
        bool malformed;
        bool interrupted;
        std::size_t sockets;
    };
    const Case cases[] = {
        {"socket then done",
         join({message(SOCK_DIAG_BY_FAMILY, 7, diagPayload(AF_INET, 10, 80)),
               message(NLMSG_DONE, 7, intPayload(0))}),
         true, 0, false, false, 1},
        {"refused by the kernel", message(NLMSG_ERROR, 7, intPayload(-EPERM)), true, EPERM, false,
         false, 0},
        {"error in the done message", message(NLMSG_DONE, 7, intPayload(-ENOENT)), true, ENOENT,
         false, false, 0},
        {"another request's messages are ignored",
         join({message(SOCK_DIAG_BY_FAMILY, 8, diagPayload(AF_INET, 10, 80)),
               message(SOCK_DIAG_BY_FAMILY, 7, diagPayload(AF_INET, 10, 81))}),
         false, 0, false, false, 1},
        {"payload shorter than a socket",
         message(SOCK_DIAG_BY_FAMILY, 7, std::vector<std::uint8_t>(20, 0)), false, 0, true, false,
         0},
        {"unknown family", message(SOCK_DIAG_BY_FAMILY, 7, diagPayload(AF_UNIX, 10, 80)), false, 0,
         true, false, 0},
        {"length smaller than a header",
         {8, 0, 0, 0, 3, 0, 0, 0, 7, 0, 0, 0, 0, 0, 0, 0},
         false,
         0,
         true,
         false,
         0},
        {"zero-length attribute stops attribute walk",
         message(SOCK_DIAG_BY_FAMILY, 7, diagPayload(AF_INET6, 10, 80, zeroLengthAttribute)), false,
         0, false, false, 1},
        {"inconsistent dump flagged",
         message(SOCK_DIAG_BY_FAMILY, 7, diagPayload(AF_INET6, 10, 80, v6onlyAttribute),
                 NLM_F_DUMP_INTR),
         false, 0, false, true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ParsedDump parsed = parseDump(c.bytes, 7);
        EXPECT_EQ(parsed.state.done, c.done);
        EXPECT_EQ(parsed.state.error, c.error);
        EXPECT_EQ(parsed.state.malformed, c.malformed);
        EXPECT_EQ(parsed.state.interrupted, c.interrupted);
        EXPECT_EQ(parsed.sockets.size(), c.sockets);
    }
    const ParsedDump flagged = parseDump(cases[8].bytes, 7);
    ASSERT_EQ(flagged.sockets.size(), 1u);
    EXPECT_TRUE(flagged.sockets[0].v6only);
}

TEST(LinuxProcessesTest, FixtureTreeGivesNamesFromExeCmdlineOrComm) {
    std::vector<os::ProcessEntry> processes;
    ASSERT_TRUE(os::linuxproc::snapshotProcesses(ProcFixture, processes));
    std::vector<std::pair<std::uint32_t, std::string>> found;
    for (const os::ProcessEntry& p : processes)
        found.emplace_back(p.pid, p.exeFile);
    std::sort(found.begin(), found.end());
    const std::vector<std::pair<std::uint32_t, std::string>> expected = {
        {100, "sshd"},        // executable link
        {200, "server"},      // link to a deleted file
        {300, "python3"},     // first word of the command line
        {400, "kworker/0:1"}, // kernel thread: its comm
        {500, "nginx"},       // rewritten title "nginx: worker process"
    };
    EXPECT_EQ(found, expected);

    std::vector<os::ProcessEntry> none;
    EXPECT_FALSE(os::linuxproc::snapshotProcesses(ProcFixture + "/missing", none));
    EXPECT_TRUE(none.empty());
}

TEST(LinuxProcessesTest, FixtureTreeGivesPathsAndStartTimes) {
    using namespace os::linuxproc;
    EXPECT_EQ(processImagePath(ProcFixture, 100), "/usr/sbin/sshd");
    EXPECT_EQ(processImagePath(ProcFixture, 200), "/opt/app/server");
    EXPECT_EQ(processImagePath(ProcFixture, 300), "");
    EXPECT_EQ(processImagePath(ProcFixture, 0), "");
    EXPECT_EQ(processImagePath(ProcFixture, 4000000), "");
    EXPECT_EQ(processStartTime(ProcFixture, 100), 5000u);
    EXPECT_EQ(processStartTime(ProcFixture, 200), 123456789012u); // name holds ") "
    EXPECT_EQ(processStartTime(ProcFixture, 500), 0u);            // stat cut short
    EXPECT_EQ(processStartTime(ProcFixture, 300), 0u);            // no stat
}

} // namespace
