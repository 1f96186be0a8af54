// The Linux readers on saved kernel output: /proc/net text, a fake /proc tree and netlink
// dump and destroy-group bytes (tests/data/netlink/capture_*.py describe how those were
// taken).
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sock_diag.h>
#include <linux/tcp.h>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <tuple>
#include <unistd.h>
#include <vector>

#include "os/linux/HelperOwners.h"
#include "os/linux/LinuxEndpoints.h"
#include "os/linux/LinuxProcesses.h"

using namespace os::linuxnet;

namespace {

const std::string ProcFixture = std::string(KESTREL_TEST_DATA) + "/proc";
const std::string NetlinkFixture = std::string(KESTREL_TEST_DATA) + "/netlink";

// state, local "a.b.c.d:port", remote, pid
using Row = std::tuple<std::uint32_t, std::string, std::string, std::uint32_t>;

std::string text(const std::array<std::uint8_t, 16>& a, std::uint16_t port) {
    return std::to_string(a[0]) + "." + std::to_string(a[1]) + "." + std::to_string(a[2]) + "." +
           std::to_string(a[3]) + ":" + std::to_string(port);
}

// An IPv6 row's address as its 16 bytes in hex, then the port.
std::string text6(const std::array<std::uint8_t, 16>& a, std::uint16_t port) {
    std::string out;
    for (const std::uint8_t b : a) {
        out += "0123456789abcdef"[b >> 4];
        out += "0123456789abcdef"[b & 15];
    }
    return out + ":" + std::to_string(port);
}

std::vector<Row> rows(const std::vector<Endpoint>& endpoints) {
    std::vector<Row> out;
    for (const Endpoint& e : endpoints) {
        const auto show = e.family == os::Family::V4 ? text : text6;
        out.emplace_back(e.state, show(e.localAddr, e.localPort), show(e.remoteAddr, e.remotePort),
                         e.pid);
    }
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

TEST(LinuxConvertTest, Ipv4TrafficOfIpv6SocketsBecomesIpv4RowsTheRestIpv6Rows) {
    const auto mapped = [](std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
        return v6({0xff, 0xff, a, b, c, d});
    };
    struct Case {
        const char* name;
        RawSocket socket;
        Protocol protocol;
        bool kept;
        os::Family family;
        std::string local;
        std::string remote;
    };
    const std::string any6 = std::string(32, '0');
    const std::string loop6 = std::string(31, '0') + "1";
    const std::string linkLocal = "fe80" + std::string(26, '0') + "02";
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
    RawSocket udp6Loop{AF_INET6, 7, v6({1}), {}, 5354, 0, 11, true};
    RawSocket scoped{AF_INET6, 1, {}, {}, 7000, 7001, 12, true};
    scoped.local = {0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2};
    scoped.remote = scoped.local;
    scoped.interfaceIndex = 3;
    const Case cases[] = {
        {"plain IPv4", v4, Protocol::Tcp, true, os::Family::V4, "127.0.0.1:80", "10.1.2.3:5000"},
        {"dual-stack listener on ::", dualListener, Protocol::Tcp, true, os::Family::V4,
         "0.0.0.0:443", "0.0.0.0:0"},
        {"v6-only listener", v6onlyListener, Protocol::Tcp, true, os::Family::V6, any6 + ":443",
         any6 + ":0"},
        {"mapped connection", mappedPair, Protocol::Tcp, true, os::Family::V4, "127.0.0.1:443",
         "127.0.0.2:6000"},
        {"pure IPv6", loopback6, Protocol::Tcp, true, os::Family::V6, loop6 + ":22", any6 + ":0"},
        {"mapped local, IPv6 remote", mixed, Protocol::Tcp, true, os::Family::V6,
         text6(mapped(127, 0, 0, 1), 22), loop6 + ":9"},
        {"listener on a mapped address", mappedListener, Protocol::Tcp, true, os::Family::V4,
         "127.0.0.1:8443", "0.0.0.0:0"},
        {"bound only", boundOnly, Protocol::Tcp, false, os::Family::V4, "", ""},
        {"dual-stack UDP", udpDual, Protocol::Udp, true, os::Family::V4, "0.0.0.0:5353",
         "0.0.0.0:0"},
        {"connected UDP keeps no remote", udpConnected, Protocol::Udp, true, os::Family::V4,
         "127.0.0.1:5000", "0.0.0.0:0"},
        {"IPv6 UDP", udp6Loop, Protocol::Udp, true, os::Family::V6, loop6 + ":5354", any6 + ":0"},
        {"link-local pair", scoped, Protocol::Tcp, true, os::Family::V6, linkLocal + ":7000",
         linkLocal + ":7001"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Endpoint e;
        ASSERT_EQ(toEndpoint(c.socket, c.protocol, e), c.kept);
        if (!c.kept)
            continue;
        EXPECT_EQ(e.family, c.family);
        const auto show = c.family == os::Family::V4 ? text : text6;
        EXPECT_EQ(show(e.localAddr, e.localPort), c.local);
        EXPECT_EQ(show(e.remoteAddr, e.remotePort), c.remote);
        if (c.family == os::Family::V4) {
            EXPECT_TRUE(std::all_of(e.localAddr.begin() + 4, e.localAddr.end(),
                                    [](std::uint8_t b) { return b == 0; }));
        }
        EXPECT_EQ(e.inode, c.socket.inode);
        EXPECT_EQ(e.protocol, c.protocol);
        EXPECT_EQ(e.state, c.protocol == Protocol::Udp ? 0u : mibTcpState(c.socket.linuxState));
        const std::uint32_t scope = c.socket.interfaceIndex;
        EXPECT_EQ(e.localScopeId, scope);
        EXPECT_EQ(e.remoteScopeId, scope);
    }
}

TEST(LinuxConvertTest, SocketFactsReachTheRow) {
    RawSocket s{AF_INET, 1, {127, 0, 0, 1}, {127, 0, 0, 1}, 80, 5000, 99, false};
    s.uid = 1000;
    s.cookie = 0x1122334455667788ull;
    s.hasByteCounters = true;
    s.bytesAcked = 1u << 20;
    s.bytesReceived = 12345;
    Endpoint e;
    ASSERT_TRUE(toEndpoint(s, Protocol::Tcp, e));
    EXPECT_EQ(e.uid, 1000u);
    EXPECT_EQ(e.inode, 99u);
    EXPECT_EQ(e.cookie, 0x1122334455667788ull);
    EXPECT_TRUE(e.hasByteCounters);
    EXPECT_EQ(e.bytesAcked, 1u << 20);
    EXPECT_EQ(e.bytesReceived, 12345u);
    EXPECT_EQ(e.pid, 0u);
    EXPECT_EQ(e.ownerStartTime, 0u);
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
    EXPECT_EQ(owners.unowned(), inodes.size());
    for (std::uint64_t inode : inodes) {
        SocketOwner* owner = owners.find(inode);
        ASSERT_NE(owner, nullptr) << inode;
        EXPECT_EQ(owner->pid, 0u);
        *owner = SocketOwner{static_cast<std::uint32_t>(inode % 65521 + 1), inode + 7};
    }
    EXPECT_EQ(owners.unowned(), 0u);
    for (std::uint64_t i = 0; i < 20000; ++i) // grows further; the owners set so far stay
        owners.add(5000000 + i);
    EXPECT_EQ(owners.unowned(), 20000u);
    for (std::uint64_t inode : inodes) {
        EXPECT_EQ(owners.find(inode)->pid, inode % 65521 + 1) << inode;
        EXPECT_EQ(owners.find(inode)->startTime, inode + 7) << inode;
    }
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
        {2, std::string(31, '0') + "1:8082", std::string(32, '0') + ":0", 0}, // IPv6 after IPv4
    };
    EXPECT_EQ(rows(tcp), expectedTcp);
    const std::vector<Row> expectedUdp = {
        {0, "0.0.0.0:53", "0.0.0.0:0", 100},
        {0, "0.0.0.0:5353", "0.0.0.0:0", 300},
        {0, "127.0.0.1:514", "0.0.0.0:0", 200},
        {0, std::string(31, '0') + "1:5354", std::string(32, '0') + ":0", 0},
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
        std::size_t ipv4 = 0;
        for (const RawSocket& s : raw) {
            Endpoint e;
            ASSERT_TRUE(toEndpoint(s, Protocol::Tcp, e));
            ipv4 += e.family == os::Family::V4 ? 1 : 0;
        }
        EXPECT_EQ(ipv4, v6only ? 1u : 2u);
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
            if (toEndpoint(s, Protocol::Tcp, e) && e.family == os::Family::V4 &&
                e.localPort >= 38000 && e.localPort < 38100)
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
        // The most negative status has no positive counterpart: an unknown error all the same.
        {"lowest status in the done message", message(NLMSG_DONE, 7, intPayload(INT_MIN)), true,
         INT_MAX, false, false, 0},
        {"lowest status in an error message", message(NLMSG_ERROR, 7, intPayload(INT_MIN)), true,
         INT_MAX, false, false, 0},
        {"positive status in the done message", message(NLMSG_DONE, 7, intPayload(INT_MAX)), true,
         0, false, false, 0},
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

std::vector<std::uint8_t> attribute(std::uint16_t type, const std::vector<std::uint8_t>& data) {
    rtattr header{};
    header.rta_len = static_cast<unsigned short>(RTA_LENGTH(data.size()));
    header.rta_type = type;
    std::vector<std::uint8_t> out(RTA_ALIGN(header.rta_len), 0);
    std::memcpy(out.data(), &header, sizeof header);
    std::copy(data.begin(), data.end(), out.begin() + RTA_LENGTH(0));
    return out;
}

TEST(LinuxSockDiagTest, OwnerIdentityAndByteCountersAreRead) {
    inet_diag_msg msg{};
    msg.idiag_family = AF_INET6;
    msg.idiag_state = 1;
    msg.id.idiag_sport = htons(443);
    msg.id.idiag_if = 4;
    msg.id.idiag_cookie[0] = 0x55667788;
    msg.id.idiag_cookie[1] = 0x11223344;
    msg.idiag_uid = 1234;
    msg.idiag_inode = 777;
    tcp_info info{};
    info.tcpi_bytes_acked = 5ull << 32;
    info.tcpi_bytes_received = 1u << 20;
    std::vector<std::uint8_t> infoBytes(sizeof info);
    std::memcpy(infoBytes.data(), &info, sizeof info);
    // An older kernel's shorter tcp_info that ends before the counters tells none.
    const std::vector<std::uint8_t> shortInfo(infoBytes.begin(), infoBytes.begin() + 80);
    for (const bool whole : {true, false}) {
        SCOPED_TRACE(whole);
        std::vector<std::uint8_t> payload(NLMSG_ALIGN(sizeof msg), 0);
        std::memcpy(payload.data(), &msg, sizeof msg);
        const std::vector<std::uint8_t> attr =
            attribute(INET_DIAG_INFO, whole ? infoBytes : shortInfo);
        payload.insert(payload.end(), attr.begin(), attr.end());
        const ParsedDump parsed = parseDump(message(SOCK_DIAG_BY_FAMILY, 7, payload), 7);
        ASSERT_EQ(parsed.sockets.size(), 1u);
        const RawSocket& s = parsed.sockets[0];
        EXPECT_EQ(s.uid, 1234u);
        EXPECT_EQ(s.inode, 777u);
        EXPECT_EQ(s.interfaceIndex, 4u);
        EXPECT_EQ(s.cookie, 0x1122334455667788ull);
        EXPECT_EQ(s.hasByteCounters, whole);
        EXPECT_EQ(s.bytesAcked, whole ? 5ull << 32 : 0u);
        EXPECT_EQ(s.bytesReceived, whole ? 1u << 20 : 0u);
    }
    // A request socket has no cookie of its own.
    msg.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
    msg.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
    std::vector<std::uint8_t> payload(NLMSG_ALIGN(sizeof msg), 0);
    std::memcpy(payload.data(), &msg, sizeof msg);
    const ParsedDump parsed = parseDump(message(SOCK_DIAG_BY_FAMILY, 7, payload), 7);
    ASSERT_EQ(parsed.sockets.size(), 1u);
    EXPECT_EQ(parsed.sockets[0].cookie, 0u);
}

// Destroy-group messages (tests/data/netlink/capture_destroy.py tells how they were taken).
struct ParsedEnds {
    std::size_t broken = 0;
    std::vector<RawSocket> sockets;
};

ParsedEnds parseEnds(const std::vector<std::uint8_t>& bytes, std::uint8_t groupProtocol) {
    ParsedEnds parsed;
    parsed.broken = parseSocketEndBuffer(bytes.data(), bytes.size(), groupProtocol, parsed.sockets);
    return parsed;
}

TEST(LinuxSocketEndTest, SavedAnnouncementsGiveTheEndedSockets) {
    struct Case {
        const char* file;
        std::uint8_t protocol;
        os::Family family;
        std::string local; // address bytes in hex and port, as text6 writes them
        std::string remote;
        bool counters;
    };
    const std::string loop4 = "7f000001000000000000000000000000";
    const std::string loop6 = "00000000000000000000000000000001";
    const std::string none = "00000000000000000000000000000000";
    const Case cases[] = {
        {"/destroy-tcp4.bin", IPPROTO_TCP, os::Family::V4, loop4 + ":38011", loop4 + ":38010",
         true},
        {"/destroy-tcp6.bin", IPPROTO_TCP, os::Family::V6, loop6 + ":38013", loop6 + ":38012",
         true},
        {"/destroy-udp4.bin", IPPROTO_UDP, os::Family::V4, loop4 + ":38014", none + ":0", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        // The group's protocol is only a stand-in: each message names its own.
        const std::uint8_t wrongGroup = c.protocol == IPPROTO_TCP ? IPPROTO_UDP : IPPROTO_TCP;
        const ParsedEnds parsed = parseEnds(readBytes(NetlinkFixture + c.file), wrongGroup);
        EXPECT_EQ(parsed.broken, 0u);
        ASSERT_EQ(parsed.sockets.size(), 1u);
        const RawSocket& s = parsed.sockets[0];
        EXPECT_EQ(s.protocol, c.protocol);
        EXPECT_NE(s.cookie, 0u);
        EXPECT_EQ(s.inode, 0u); // the announcement names no inode
        Endpoint e;
        ASSERT_TRUE(toEndpoint(s, c.protocol == IPPROTO_TCP ? Protocol::Tcp : Protocol::Udp, e));
        EXPECT_EQ(e.family, c.family);
        EXPECT_EQ(text6(e.localAddr, e.localPort), c.local);
        EXPECT_EQ(text6(e.remoteAddr, e.remotePort), c.remote);
        EXPECT_EQ(e.hasByteCounters, c.counters);
        if (c.counters) {
            EXPECT_EQ(e.state, 1u); // CLOSE
            // The kernel counts acknowledged sequence space: 5 bytes, the SYN and the FIN.
            EXPECT_EQ(e.bytesAcked, 7u);
            EXPECT_EQ(e.bytesReceived, 3u);
        }
    }
}

TEST(LinuxSocketEndTest, DamagedAnnouncementsAreSkippedNotOverread) {
    // An unknown attribute is stepped over; both messages of the buffer are read.
    ParsedEnds parsed = parseEnds(readBytes(NetlinkFixture + "/destroy-unknown.bin"), 0);
    EXPECT_EQ(parsed.broken, 0u);
    ASSERT_EQ(parsed.sockets.size(), 2u);
    EXPECT_EQ(parsed.sockets[0].protocol, IPPROTO_TCP);
    EXPECT_TRUE(parsed.sockets[0].hasByteCounters);
    EXPECT_EQ(parsed.sockets[0].bytesAcked, 7u);
    EXPECT_EQ(parsed.sockets[1].protocol, IPPROTO_UDP);
    EXPECT_EQ(parsed.sockets[1].localPort, 38014);

    // Cut inside the counters: the socket without them.
    parsed = parseEnds(readBytes(NetlinkFixture + "/destroy-cut-info.bin"), IPPROTO_TCP);
    EXPECT_EQ(parsed.broken, 0u);
    ASSERT_EQ(parsed.sockets.size(), 1u);
    EXPECT_EQ(parsed.sockets[0].localPort, 38011);
    EXPECT_FALSE(parsed.sockets[0].hasByteCounters);

    // Cut inside inet_diag_msg: that one is counted, the next message still read.
    parsed = parseEnds(readBytes(NetlinkFixture + "/destroy-cut-msg.bin"), IPPROTO_TCP);
    EXPECT_EQ(parsed.broken, 1u);
    ASSERT_EQ(parsed.sockets.size(), 1u);
    EXPECT_EQ(parsed.sockets[0].localPort, 38014);

    // Every cut of a whole message whose header still claims the full length: the header does
    // not fit, nothing is read past the buffer (ASan watches) and the rest is given up.
    const std::vector<std::uint8_t> whole = readBytes(NetlinkFixture + "/destroy-tcp4.bin");
    for (std::size_t cut = 0; cut < whole.size(); ++cut) {
        SCOPED_TRACE(cut);
        const std::vector<std::uint8_t> bytes(whole.begin(), whole.begin() + cut);
        parsed = parseEnds(bytes, IPPROTO_TCP);
        EXPECT_TRUE(parsed.sockets.empty());
        EXPECT_EQ(parsed.broken, cut == 0 ? 0u : 1u);
    }
    // Messages of another type (an error, a done) are no announcement.
    const ParsedEnds other = parseEnds(message(NLMSG_DONE, 0, std::vector<std::uint8_t>(4, 0)), 0);
    EXPECT_EQ(other.broken, 0u);
    EXPECT_TRUE(other.sockets.empty());
}

// A procfs tree of its own for the descriptor scan: processes with socket links and a stat.
class ScanFixture {
public:
    ScanFixture() {
        char pattern[] = "/tmp/kestrel-scan-XXXXXX";
        const char* made = ::mkdtemp(pattern);
        m_root = made != nullptr ? made : "";
    }
    ~ScanFixture() { std::filesystem::remove_all(m_root); }
    ScanFixture(const ScanFixture&) = delete;
    ScanFixture& operator=(const ScanFixture&) = delete;

    const std::string& root() const { return m_root; }
    void process(std::uint32_t pid, std::uint64_t startTime,
                 const std::vector<std::uint64_t>& inodes) {
        const std::filesystem::path dir = std::filesystem::path(m_root) / std::to_string(pid);
        std::filesystem::create_directories(dir / "fd");
        std::ofstream(dir / "stat")
            << pid << " (p) S 1 1 1 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 " << startTime << " 100 10\n";
        int fd = 3;
        for (const std::uint64_t inode : inodes)
            addSocket(pid, fd++, inode);
    }
    void addSocket(std::uint32_t pid, int fd, std::uint64_t inode) {
        const std::filesystem::path link =
            std::filesystem::path(m_root) / std::to_string(pid) / "fd" / std::to_string(fd);
        std::filesystem::create_symlink("socket:[" + std::to_string(inode) + "]", link);
    }

private:
    std::string m_root;
};

std::vector<std::pair<std::uint32_t, std::uint64_t>>
ownersOf(InodeOwners& owners, const std::vector<std::uint64_t>& inodes) {
    std::vector<std::pair<std::uint32_t, std::uint64_t>> out;
    for (const std::uint64_t inode : inodes) {
        const SocketOwner* owner = owners.find(inode);
        out.emplace_back(owner ? owner->pid : 999999, owner ? owner->startTime : 999999);
    }
    return out;
}

TEST(SocketOwnerScanTest, SharedSocketsGoToTheLowestPidButInitOnlyWhenAlone) {
    ScanFixture proc;
    proc.process(1, 10, {100, 101, 102});
    proc.process(7, 70, {100, 103});
    proc.process(9, 90, {100, 101, 103});
    proc.process(12, 120, {104});
    const std::vector<std::uint64_t> inodes = {100, 101, 102, 103, 104, 105};
    InodeOwners owners(inodes.size());
    for (const std::uint64_t inode : inodes)
        owners.add(inode);
    findSocketOwners(proc.root(), owners);
    const std::vector<std::pair<std::uint32_t, std::uint64_t>> expected = {
        {7, 70},           // init, 7 and 9: the lowest PID but init
        {9, 90},           // init and 9: a socket-activated service's listener
        {1, 10},           // init alone
        {7, 70},           // 7 and 9
        {12, 120}, {0, 0}, // nobody
    };
    EXPECT_EQ(ownersOf(owners, inodes), expected);
}

// A process that ended while its descriptors were read and whose PID a newer process got must
// not pass its sockets (or the newcomer's start time) to the rows.
TEST(SocketOwnerScanTest, ProcessWhoseStartTimeChangedDuringTheScanIsNoOwner) {
    ScanFixture proc;
    proc.process(20, 200, {300, 301});
    proc.process(30, 300, {301, 302});
    proc.process(40, 400, {303});
    std::mutex lock;
    std::map<std::uint32_t, int> reads;
    // PID 20 is reused between the two reads of its start time; PID 40 ends (no stat).
    const StartTimeReader reader = [&](int procFd, std::uint32_t pid) -> std::uint64_t {
        int n = 0;
        {
            const std::lock_guard<std::mutex> guard(lock);
            n = ++reads[pid];
        }
        if (pid == 20 && n > 1)
            return 201;
        if (pid == 40 && n > 1)
            return 0;
        return os::linuxproc::processStartTimeAt(procFd, pid);
    };
    const std::vector<std::uint64_t> inodes = {300, 301, 302, 303};
    InodeOwners owners(inodes.size());
    for (const std::uint64_t inode : inodes)
        owners.add(inode);
    SocketOwnerScan scan(proc.root(), reader);
    scan.resolve(owners);
    const std::vector<std::pair<std::uint32_t, std::uint64_t>> expected = {
        {0, 0}, {30, 300}, {30, 300}, {0, 0}};
    EXPECT_EQ(ownersOf(owners, inodes), expected);
    EXPECT_EQ(reads[20], 2);
    EXPECT_EQ(reads[30], 2);
}

TEST(SocketOwnerScanTest, SecondPassFindsLateSocketsAndKeepsTheFirstPassOwners) {
    ScanFixture proc;
    proc.process(50, 500, {600});
    proc.process(60, 600, {});
    SocketOwnerScan scan(proc.root());
    const std::vector<std::uint64_t> inodes = {600, 601, 602};
    InodeOwners owners(inodes.size());
    for (const std::uint64_t inode : inodes)
        owners.add(inode);
    scan.resolve(owners);
    EXPECT_EQ(owners.unowned(), 2u);
    // Made after the first pass: a new socket of 60, and 600 passed to a lower PID.
    proc.addSocket(60, 3, 601);
    proc.process(45, 450, {600});
    scan.resolveAgain(owners);
    const std::vector<std::pair<std::uint32_t, std::uint64_t>> expected = {
        {50, 500}, {60, 600}, {0, 0}};
    EXPECT_EQ(ownersOf(owners, inodes), expected);
}

// The second pass leaves out a process listed after every socket without an owner was seen,
// unless its ID now belongs to another process; processes that were not there are scanned.
TEST(SocketOwnerScanTest, SecondPassLeavesOutProcessesListedAfterTheSocketsWereSeen) {
    using Clock = std::chrono::steady_clock;
    ScanFixture proc;
    proc.process(50, 500, {600});
    proc.process(60, 600, {});
    proc.process(70, 700, {});
    const Clock::time_point beforeScan = Clock::now();
    SocketOwnerScan scan(proc.root());
    const std::vector<std::uint64_t> inodes = {600, 601, 602, 603};
    InodeOwners owners(inodes.size());
    for (const std::uint64_t inode : inodes)
        owners.add(inode);
    scan.resolve(owners);
    EXPECT_EQ(owners.unowned(), 3u);
    proc.addSocket(60, 3, 601);   // listed before: stays out
    proc.process(70, 701, {602}); // its ID reused: scanned
    proc.process(80, 800, {603}); // new: scanned
    scan.resolveAgain(owners, beforeScan);
    const std::vector<std::pair<std::uint32_t, std::uint64_t>> expected = {
        {50, 500}, {0, 0}, {70, 701}, {80, 800}};
    EXPECT_EQ(ownersOf(owners, inodes), expected);
}

// The helper's reply takes the same rule as the own scan: a shared socket goes to the lowest
// PID but init, init only when alone; each owner keeps the start time the helper's scan read.
TEST(HelperOwnersTest, ReplyOwnersFollowTheSharedSocketRuleWithTheScansStartTimes) {
    helper::ScanResult reply;
    reply.processes = {
        {1, 10, "/sbin/init"}, {7, 70, ""}, {9, 90, "/usr/sbin/sshd"}, {12, 120, ""}};
    reply.sockets = {{100, 9}, {100, 1}, {100, 7}, {101, 1},  {101, 9},
                     {102, 1}, {103, 9}, {103, 7}, {104, 12}, {106, 13}};
    const SocketHolders holders = os::linuxhelper::holdersOf(reply);
    ASSERT_EQ(holders.size(), 9u); // PID 13 is not in the reply
    EXPECT_EQ(holders[0], (HeldSocket{100, 9, 90}));
    EXPECT_EQ(holders[1], (HeldSocket{100, 1, 10}));

    const std::vector<std::uint64_t> inodes = {100, 101, 102, 103, 104, 105, 106};
    InodeOwners owners(inodes.size());
    for (const std::uint64_t inode : inodes)
        owners.add(inode);
    assignHolders(holders, owners);
    const std::vector<std::pair<std::uint32_t, std::uint64_t>> expected = {
        {7, 70}, {9, 90}, {1, 10}, {7, 70}, {12, 120}, {0, 0}, {0, 0}};
    EXPECT_EQ(ownersOf(owners, inodes), expected);
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

// The room set aside before a dump comes from /proc/net/sockstat; a file that says nothing
// usable, or an absurd count, sets none aside rather than much.
TEST(SockstatTest, ExpectedSocketsComeFromTheCountsOrAreZero) {
    const std::string ordinary = "sockets: used 230\n"
                                 "TCP: inuse 5 orphan 0 tw 3 alloc 7 mem 1\n"
                                 "UDP: inuse 4 mem 2\n"
                                 "UDPLITE: inuse 0\n";
    const std::string ordinary6 = "TCP6: inuse 2\nUDP6: inuse 6\nUDPLITE6: inuse 0\n";
    struct Case {
        const char* what;
        std::string sockstat;
        std::string sockstat6;
        std::size_t tcp;
        std::size_t udp;
    };
    const Case cases[] = {
        {"allocated plus TIME_WAIT; UDP of both families", ordinary, ordinary6, 10, 10},
        {"no IPv6 file", ordinary, "", 10, 4},
        {"empty files", "", "", 0, 0},
        {"a label without a colon is another line", "TCPX alloc 9\nTCP alloc 9\n", "", 0, 0},
        {"UDPLITE is not UDP", "UDPLITE: inuse 9\n", "UDPLITE6: inuse 9\n", 0, 0},
        {"a number that is not one", "TCP: inuse 1 tw x alloc 7z\n", "", 0, 0},
        {"a cut line", "TCP: inuse 1 orphan 0 tw 2 alloc", "", 2, 0},
        {"absurd counts are capped", "TCP: tw 99999999999999 alloc 99999999999999999999\n", "",
         std::size_t{1} << 24, 0},
        {"no line break at the end", "UDP: inuse 12", "UDP6: inuse 3", 0, 15},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const ExpectedSockets expected = expectedSockets(c.sockstat, c.sockstat6);
        EXPECT_EQ(expected.tcp, c.tcp);
        EXPECT_EQ(expected.udp, c.udp);
    }
}

// The live files of this machine count at least the sockets a test holds open.
TEST(SockstatTest, TheLiveCountsIncludeASocketThisTestHolds) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    EXPECT_GE(expectedSockets(std::string("/proc")).tcp, 1u);
    ::close(fd);
}
