#include "os/IpHelperTables.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <tuple>
#include <vector>

#include "os/Endpoints.h"

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

// The rows in the layout of os/Endpoints.h, unused port bytes 0.
Bytes expectedTcp(const std::vector<Tcp4>& rows) {
    Bytes out;
    le32(out, static_cast<std::uint32_t>(rows.size()));
    for (const Tcp4& r : rows) {
        le32(out, r.state);
        bytes(out, r.local);
        out.insert(out.end(), {static_cast<std::uint8_t>(r.localPort >> 8),
                               static_cast<std::uint8_t>(r.localPort & 0xff), 0, 0});
        bytes(out, r.remote);
        out.insert(out.end(), {static_cast<std::uint8_t>(r.remotePort >> 8),
                               static_cast<std::uint8_t>(r.remotePort & 0xff), 0, 0});
        le32(out, r.pid);
    }
    return out;
}

} // namespace

TEST(IpHelperTables, Tcp4RowsKeepStatePortsAndLittleEndianPid) {
    const std::vector<Tcp4> rows = {
        {2, {0, 0, 0, 0}, 80, {0, 0, 0, 0}, 0, 4},
        {5, {127, 0, 0, 1}, 50123, {127, 0, 0, 1}, 443, 0x12345678},
        {11, {10, 1, 2, 3}, 65535, {192, 168, 0, 1}, 1, 0},
    };
    Bytes out;
    EXPECT_EQ(AppendTcp4Rows(tcp4Table(rows, 3), out), 3u);
    EXPECT_EQ(out, expectedTcp(rows));
    EXPECT_EQ(out.size(), 4 + 3 * os::TcpRowSize);
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
    Bytes out;
    // A state the list does not know is still an endpoint: it is shown as an unknown state.
    EXPECT_EQ(AppendTcp4Rows(table, out), 4u);
    EXPECT_EQ(out, expectedTcp({rows[0], rows[1], rows[2], rows[3]}));

    for (std::size_t size : {0u, 1u, 3u, 4u, 27u}) {
        Bytes none;
        const Bytes shortTable(table.begin(), table.begin() + static_cast<std::ptrdiff_t>(size));
        EXPECT_EQ(AppendTcp4Rows(shortTable, none), 0u) << size;
        EXPECT_EQ(none, Bytes(4, 0)) << size;
    }
}

TEST(IpHelperTables, Tcp6KeepsOnlyIpv4MappedTraffic) {
    const V4 lo{127, 0, 0, 1};
    const std::vector<Tcp6> rows = {
        {mapped(lo), 8080, mapped(lo), 50000, 5, 0xA1B2C3D4}, // IPv4 connection
        {mapped({0, 0, 0, 0}), 9090, Unspecified6, 0, 2, 77}, // IPv4-mapped listener
        {Loopback6, 8080, Loopback6, 50001, 5, 88},           // IPv6 connection
        {Unspecified6, 22, Unspecified6, 0, 2, 99},           // IPv6 listener on ::
        {mapped(lo), 1, Loopback6, 2, 5, 100},                // mixed: not IPv4 traffic
        {mapped(lo), 3, mapped(lo), 4, 0, 101},               // an unknown state
        {Loopback6, 5, Loopback6, 6, 13, 102},                // IPv6, an unknown state
    };
    Bytes out = expectedTcp({{5, {9, 9, 9, 9}, 1, {9, 9, 9, 9}, 2, 3}});
    EXPECT_EQ(AppendTcp6MappedRows(tcp6Table(rows), out), 3u);
    EXPECT_EQ(out, expectedTcp({
                       {5, {9, 9, 9, 9}, 1, {9, 9, 9, 9}, 2, 3},
                       {5, lo, 8080, lo, 50000, 0xA1B2C3D4},
                       {2, {0, 0, 0, 0}, 9090, {0, 0, 0, 0}, 0, 77},
                       {0, lo, 3, lo, 4, 101},
                   }));
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

    Bytes v6;
    le32(v6, 3);
    for (const auto& [address, number, pid] :
         {std::tuple{mapped({10, 0, 0, 7}), std::uint16_t{123}, std::uint32_t{42}},
          std::tuple{Loopback6, std::uint16_t{124}, std::uint32_t{43}},
          std::tuple{Unspecified6, std::uint16_t{125}, std::uint32_t{44}}}) {
        bytes(v6, address);
        le32(v6, 0);
        port(v6, number);
        le32(v6, pid);
    }

    Bytes out;
    EXPECT_EQ(AppendUdp4Rows(v4, out), 2u);
    EXPECT_EQ(AppendUdp6MappedRows(v6, out), 1u);
    const Bytes expected = {3,   0, 0, 0,                                 // count
                            127, 0, 0, 1, 0,    53,   0, 0, 4,  3, 2, 1,  // 127.0.0.1:53
                            0,   0, 0, 0, 0x14, 0xE9, 0, 0, 0,  0, 0, 0,  // 0.0.0.0:5353
                            10,  0, 0, 7, 0,    123,  0, 0, 42, 0, 0, 0}; // from ::ffff:10.0.0.7
    EXPECT_EQ(out, expected);
}
