#include "os/IpHelperTables.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <tuple>
#include <vector>

using namespace os::iphelper;

namespace {

using Bytes = std::vector<std::uint8_t>;
using V4 = std::array<std::uint8_t, 4>;
using V6 = std::array<std::uint8_t, 16>;

void le32(Bytes& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// A port field as IP Helper fills it: network order in the first two bytes, the other two
// undefined (filled with garbage here, so that a decoder reading them is caught).
void port(Bytes& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value & 0xff));
    out.push_back(0xAB);
    out.push_back(0xCD);
}

void bytes(Bytes& out, const auto& address) {
    out.insert(out.end(), address.begin(), address.end());
}

V6 mapped(V4 v4) {
    return {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, v4[0], v4[1], v4[2], v4[3]};
}

constexpr V6 Unspecified6{};
constexpr V6 Loopback6{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
constexpr V6 LinkLocal6{0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x22};

struct Tcp4 {
    std::uint32_t state;
    V4 local;
    std::uint16_t localPort;
    V4 remote;
    std::uint16_t remotePort;
    std::uint32_t pid;
};

struct Tcp6 {
    V6 local;
    std::uint16_t localPort;
    V6 remote;
    std::uint16_t remotePort;
    std::uint32_t state;
    std::uint32_t pid;
};

Bytes tcp4Table(const std::vector<Tcp4>& rows, std::uint32_t count) {
    Bytes out;
    le32(out, count);
    for (const Tcp4& r : rows) {
        le32(out, r.state);
        bytes(out, r.local);
        port(out, r.localPort);
        bytes(out, r.remote);
        port(out, r.remotePort);
        le32(out, r.pid);
    }
    return out;
}

Bytes tcp6Table(const std::vector<Tcp6>& rows) {
    Bytes out;
    le32(out, static_cast<std::uint32_t>(rows.size()));
    for (const Tcp6& r : rows) {
        bytes(out, r.local);
        le32(out, 7); // scope ID
        port(out, r.localPort);
        bytes(out, r.remote);
        le32(out, 9);
        port(out, r.remotePort);
        le32(out, r.state);
        le32(out, r.pid);
    }
    return out;
}

std::array<std::uint8_t, 16> wide(const V4& a) {
    return {a[0], a[1], a[2], a[3]};
}

// The IPv4 rows the decoder should give.
std::vector<os::Endpoint> expectedTcp(const std::vector<Tcp4>& rows) {
    std::vector<os::Endpoint> out;
    for (const Tcp4& r : rows) {
        os::Endpoint& e = out.emplace_back();
        e.state = r.state;
        e.localAddr = wide(r.local);
        e.localPort = r.localPort;
        e.remoteAddr = wide(r.remote);
        e.remotePort = r.remotePort;
        e.pid = r.pid;
    }
    return out;
}

os::Endpoint tcp6Row(const V6& local, std::uint32_t localScope, std::uint16_t localPort,
                     const V6& remote, std::uint32_t remoteScope, std::uint16_t remotePort,
                     std::uint32_t state, std::uint32_t pid) {
    os::Endpoint e;
    e.family = os::Family::V6;
    e.state = state;
    e.localAddr = local;
    e.localScopeId = localScope;
    e.localPort = localPort;
    e.remoteAddr = remote;
    e.remoteScopeId = remoteScope;
    e.remotePort = remotePort;
    e.pid = pid;
    return e;
}

os::Endpoint udpRow(os::Family family, const V6& local, std::uint32_t scope, std::uint16_t port,
                    std::uint32_t pid) {
    os::Endpoint e;
    e.protocol = os::Protocol::Udp;
    e.family = family;
    e.localAddr = local;
    e.localScopeId = scope;
    e.localPort = port;
    e.pid = pid;
    return e;
}

} // namespace

TEST(IpHelperTables, Tcp4RowsKeepStatePortsAndLittleEndianPid) {
    const std::vector<Tcp4> rows = {
        {2, {0, 0, 0, 0}, 80, {0, 0, 0, 0}, 0, 4},
        {5, {127, 0, 0, 1}, 50123, {127, 0, 0, 1}, 443, 0x12345678},
        {11, {10, 1, 2, 3}, 65535, {192, 168, 0, 1}, 1, 0},
    };
    std::vector<os::Endpoint> out;
    EXPECT_EQ(AppendTcp4Rows(tcp4Table(rows, 3), out), 3u);
    EXPECT_EQ(out, expectedTcp(rows));
    for (const os::Endpoint& e : out) {
        // Nothing the table does not tell.
        EXPECT_EQ(e.uid, os::NoUserId);
        EXPECT_EQ(e.inode, 0u);
        EXPECT_FALSE(e.hasByteCounters);
        EXPECT_EQ(e.ownerStartTime, 0u);
    }
}

TEST(IpHelperTables, Tcp4KeepsUnknownStatesAndCutsAnOverlongCount) {
    const std::vector<Tcp4> rows = {
        {0, {1, 1, 1, 1}, 1, {0, 0, 0, 0}, 0, 1},
        {13, {1, 1, 1, 1}, 2, {0, 0, 0, 0}, 0, 1},
        {12, {1, 1, 1, 1}, 3, {0, 0, 0, 0}, 0, 1},
        {0xFFFFFFFF, {1, 1, 1, 1}, 5, {0, 0, 0, 0}, 0, 1},
        {1, {1, 1, 1, 1}, 4, {0, 0, 0, 0}, 0, 1},
    };
    Bytes table = tcp4Table(rows, 1000);
    table.resize(table.size() - 5); // the last row is cut short
    std::vector<os::Endpoint> out;
    // A state the list does not know is still an endpoint: it is shown as an unknown state.
    EXPECT_EQ(AppendTcp4Rows(table, out), 4u);
    EXPECT_EQ(out, expectedTcp({rows[0], rows[1], rows[2], rows[3]}));

    for (std::size_t size : {0u, 1u, 3u, 4u, 27u}) {
        std::vector<os::Endpoint> none;
        const Bytes shortTable(table.begin(), table.begin() + static_cast<std::ptrdiff_t>(size));
        EXPECT_EQ(AppendTcp4Rows(shortTable, none), 0u) << size;
        EXPECT_TRUE(none.empty()) << size;
    }
}

TEST(IpHelperTables, Tcp6IsIpv4TrafficWhenMappedAndIpv6RowsOtherwise) {
    const V4 lo{127, 0, 0, 1};
    const std::vector<Tcp6> rows = {
        {mapped(lo), 8080, mapped(lo), 50000, 5, 0xA1B2C3D4}, // IPv4 connection
        {mapped({0, 0, 0, 0}), 9090, Unspecified6, 0, 2, 77}, // IPv4-mapped listener
        {Loopback6, 8080, Loopback6, 50001, 5, 88},           // IPv6 connection
        {Unspecified6, 22, Unspecified6, 0, 2, 99},           // IPv6 listener on ::
        {mapped(lo), 1, Loopback6, 2, 5, 100},                // mixed: not IPv4 traffic
        {mapped(lo), 3, mapped(lo), 4, 0, 101},               // an unknown state
        {LinkLocal6, 23, LinkLocal6, 50002, 5, 102},          // needs its scope IDs
        {Loopback6, 5, Loopback6, 6, 13, 103},                // IPv6, an unknown state
    };
    std::vector<os::Endpoint> out = expectedTcp({{5, {9, 9, 9, 9}, 1, {9, 9, 9, 9}, 2, 3}});
    EXPECT_EQ(AppendTcp6Rows(tcp6Table(rows), out), 8u);
    std::vector<os::Endpoint> expected = expectedTcp({
        {5, {9, 9, 9, 9}, 1, {9, 9, 9, 9}, 2, 3},
        {5, lo, 8080, lo, 50000, 0xA1B2C3D4},
        {2, {0, 0, 0, 0}, 9090, {0, 0, 0, 0}, 0, 77},
    });
    const std::vector<os::Endpoint> unknownV4 = expectedTcp({{0, lo, 3, lo, 4, 101}});
    // The table builder writes scope IDs 7 (local) and 9 (remote) into every row; only
    // link-local addresses keep them.
    expected.push_back(tcp6Row(Loopback6, 0, 8080, Loopback6, 0, 50001, 5, 88));
    expected.push_back(tcp6Row(Unspecified6, 0, 22, Unspecified6, 0, 0, 2, 99));
    expected.push_back(tcp6Row(mapped(lo), 0, 1, Loopback6, 0, 2, 5, 100));
    expected.push_back(unknownV4[0]);
    expected.push_back(tcp6Row(LinkLocal6, 7, 23, LinkLocal6, 9, 50002, 5, 102));
    expected.push_back(tcp6Row(Loopback6, 0, 5, Loopback6, 0, 6, 13, 103));
    EXPECT_EQ(out, expected);
}

TEST(IpHelperTables, UdpRowsOfBothFamilies) {
    Bytes v4;
    le32(v4, 2);
    bytes(v4, V4{127, 0, 0, 1});
    port(v4, 53);
    le32(v4, 0x01020304);
    bytes(v4, V4{0, 0, 0, 0});
    port(v4, 5353);
    le32(v4, 0);

    const V6 linkLocal{0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5};
    Bytes v6;
    le32(v6, 4);
    for (const auto& [address, scope, number, pid] :
         {std::tuple{mapped({10, 0, 0, 7}), std::uint32_t{0}, std::uint16_t{123},
                     std::uint32_t{42}},
          std::tuple{Loopback6, std::uint32_t{4096}, std::uint16_t{124}, std::uint32_t{43}},
          std::tuple{Unspecified6, std::uint32_t{0}, std::uint16_t{125}, std::uint32_t{44}},
          std::tuple{linkLocal, std::uint32_t{12}, std::uint16_t{126}, std::uint32_t{45}}}) {
        bytes(v6, address);
        le32(v6, scope);
        port(v6, number);
        le32(v6, pid);
    }

    std::vector<os::Endpoint> out;
    EXPECT_EQ(AppendUdp4Rows(v4, out), 2u);
    EXPECT_EQ(AppendUdp6Rows(v6, out), 4u);
    const std::vector<os::Endpoint> expected = {
        udpRow(os::Family::V4, wide({127, 0, 0, 1}), 0, 53, 0x01020304),
        udpRow(os::Family::V4, {}, 0, 5353, 0),
        udpRow(os::Family::V4, wide({10, 0, 0, 7}), 0, 123, 42), // from ::ffff:10.0.0.7
        udpRow(os::Family::V6, Loopback6, 0, 124, 43),
        udpRow(os::Family::V6, Unspecified6, 0, 125, 44),
        udpRow(os::Family::V6, linkLocal, 12, 126, 45),
    };
    EXPECT_EQ(out, expected);
}

TEST(IpHelperTables, UdpTablesGiveOnlyTheWholeRowsPresent) {
    Bytes v4;
    le32(v4, 3); // claims three rows, holds one and a half
    bytes(v4, V4{127, 0, 0, 1});
    port(v4, 53);
    le32(v4, 1);
    bytes(v4, V4{127, 0, 0, 2});
    Bytes v6;
    le32(v6, 2);
    bytes(v6, Loopback6);
    std::vector<os::Endpoint> out;
    EXPECT_EQ(AppendUdp4Rows(v4, out), 1u);
    EXPECT_EQ(AppendUdp6Rows(v6, out), 0u);
    EXPECT_EQ(AppendUdp6Rows(Bytes{1, 0}, out), 0u);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].localPort, 53);
}
