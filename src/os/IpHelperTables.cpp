#include "os/IpHelperTables.h"

#include <algorithm>
#include <array>

namespace os::iphelper {

namespace {

using Address = std::array<std::uint8_t, 16>;

std::uint32_t readLe32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// IP Helper keeps a port in the first two bytes of its 32-bit field, in network order; the
// other two bytes are not defined.
std::uint16_t readPort(const std::uint8_t* field) {
    return static_cast<std::uint16_t>(field[0] << 8 | field[1]);
}

std::size_t rowCount(std::span<const std::uint8_t> table, std::size_t rowSize) {
    if (table.size() < 4)
        return 0;
    const std::size_t claimed = readLe32(table.data());
    return std::min(claimed, (table.size() - 4) / rowSize);
}

constexpr std::array<std::uint8_t, 12> MappedPrefix = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};

bool isMapped(const std::uint8_t* address) {
    return std::equal(MappedPrefix.begin(), MappedPrefix.end(), address);
}

bool isUnspecified(const std::uint8_t* address) {
    return std::all_of(address, address + 16, [](std::uint8_t b) { return b == 0; });
}

Address ipv4(const std::uint8_t* address) {
    Address out{};
    std::copy(address, address + 4, out.begin());
    return out;
}

Address ipv6(const std::uint8_t* address) {
    Address out{};
    std::copy(address, address + 16, out.begin());
    return out;
}

} // namespace

std::size_t AppendTcp4Rows(std::span<const std::uint8_t> table, std::vector<Endpoint>& out) {
    const std::size_t rows = rowCount(table, Tcp4RowSize);
    for (std::size_t i = 0; i < rows; ++i) {
        const std::uint8_t* row = table.data() + 4 + i * Tcp4RowSize;
        // Every state number is passed on as it came: one outside the known states is still an
        // endpoint, and the list names it as an unknown state.
        Endpoint& e = out.emplace_back();
        e.protocol = Protocol::Tcp;
        e.state = readLe32(row);
        e.localAddr = ipv4(row + 4);
        e.localPort = readPort(row + 8);
        e.remoteAddr = ipv4(row + 12);
        e.remotePort = readPort(row + 16);
        e.pid = readLe32(row + 20);
    }
    return rows;
}

// MIB_TCP6ROW_OWNER_PID: local address (16), local scope (4), local port (4), remote address
// (16), remote scope (4), remote port (4), state (4), owner PID (4).
std::size_t AppendTcp6Rows(std::span<const std::uint8_t> table, std::vector<Endpoint>& out) {
    const std::size_t rows = rowCount(table, Tcp6RowSize);
    for (std::size_t i = 0; i < rows; ++i) {
        const std::uint8_t* row = table.data() + 4 + i * Tcp6RowSize;
        const std::uint8_t* local = row;
        const std::uint8_t* remote = row + 24;
        Endpoint& e = out.emplace_back();
        e.protocol = Protocol::Tcp;
        e.state = readLe32(row + 48);
        e.localPort = readPort(row + 20);
        e.remotePort = readPort(row + 44);
        e.pid = readLe32(row + 52);
        const bool remoteMapped = isMapped(remote);
        if (isMapped(local) && (remoteMapped || isUnspecified(remote))) {
            // IPv4 traffic of a dual-stack socket.
            e.localAddr = ipv4(local + 12);
            if (remoteMapped)
                e.remoteAddr = ipv4(remote + 12);
        } else {
            e.family = Family::V6;
            // Only addresses of a limited scope keep their scope ID: Wine gives ::1 one too.
            e.localAddr = ipv6(local);
            if (AddressNeedsScope(e.localAddr))
                e.localScopeId = readLe32(row + 16);
            e.remoteAddr = ipv6(remote);
            if (AddressNeedsScope(e.remoteAddr))
                e.remoteScopeId = readLe32(row + 40);
        }
    }
    return rows;
}

std::size_t AppendUdp4Rows(std::span<const std::uint8_t> table, std::vector<Endpoint>& out) {
    const std::size_t rows = rowCount(table, Udp4RowSize);
    for (std::size_t i = 0; i < rows; ++i) {
        const std::uint8_t* row = table.data() + 4 + i * Udp4RowSize;
        Endpoint& e = out.emplace_back();
        e.protocol = Protocol::Udp;
        e.localAddr = ipv4(row);
        e.localPort = readPort(row + 4);
        e.pid = readLe32(row + 8);
    }
    return rows;
}

// MIB_UDP6ROW_OWNER_PID: local address (16), local scope (4), local port (4), owner PID (4).
std::size_t AppendUdp6Rows(std::span<const std::uint8_t> table, std::vector<Endpoint>& out) {
    const std::size_t rows = rowCount(table, Udp6RowSize);
    for (std::size_t i = 0; i < rows; ++i) {
        const std::uint8_t* row = table.data() + 4 + i * Udp6RowSize;
        Endpoint& e = out.emplace_back();
        e.protocol = Protocol::Udp;
        if (isMapped(row)) {
            e.localAddr = ipv4(row + 12);
        } else {
            e.family = Family::V6;
            e.localAddr = ipv6(row);
            if (AddressNeedsScope(e.localAddr))
                e.localScopeId = readLe32(row + 16);
        }
        e.localPort = readPort(row + 20);
        e.pid = readLe32(row + 24);
    }
    return rows;
}

} // namespace os::iphelper
