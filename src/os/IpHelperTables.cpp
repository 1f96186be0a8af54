#include "os/IpHelperTables.h"

#include <algorithm>
#include <array>

#include "os/Endpoints.h"

namespace os::iphelper {

namespace {

std::uint32_t readLe32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void putLe32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// IP Helper keeps a port in the first two bytes of its 32-bit field, in network order; the
// other two bytes are not defined, so they are written as 0.
void putPort(std::vector<std::uint8_t>& out, const std::uint8_t* field) {
    out.push_back(field[0]);
    out.push_back(field[1]);
    out.push_back(0);
    out.push_back(0);
}

std::size_t rowCount(std::span<const std::uint8_t> table, std::size_t rowSize) {
    if (table.size() < 4)
        return 0;
    const std::size_t claimed = readLe32(table.data());
    return std::min(claimed, (table.size() - 4) / rowSize);
}

void startTable(std::vector<std::uint8_t>& out) {
    if (out.size() < 4)
        out.assign(4, 0);
}

void addToCount(std::vector<std::uint8_t>& out, std::size_t added) {
    const std::uint32_t count = readLe32(out.data()) + static_cast<std::uint32_t>(added);
    for (int i = 0; i < 4; ++i)
        out[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(count >> (8 * i));
}

constexpr std::array<std::uint8_t, 12> MappedPrefix = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};

bool isMapped(const std::uint8_t* address) {
    return std::equal(MappedPrefix.begin(), MappedPrefix.end(), address);
}

bool isUnspecified(const std::uint8_t* address) {
    return std::all_of(address, address + 16, [](std::uint8_t b) { return b == 0; });
}

} // namespace

std::size_t AppendTcp4Rows(std::span<const std::uint8_t> table, std::vector<std::uint8_t>& out) {
    startTable(out);
    const std::size_t rows = rowCount(table, Tcp4RowSize);
    std::size_t added = 0;
    for (std::size_t i = 0; i < rows; ++i) {
        const std::uint8_t* row = table.data() + 4 + i * Tcp4RowSize;
        // Every state number is passed on as it came: one outside the known states is still an
        // endpoint, and the list names it as an unknown state.
        putLe32(out, readLe32(row));
        out.insert(out.end(), row + 4, row + 8);
        putPort(out, row + 8);
        out.insert(out.end(), row + 12, row + 16);
        putPort(out, row + 16);
        putLe32(out, readLe32(row + 20));
        ++added;
    }
    addToCount(out, added);
    return added;
}

// MIB_TCP6ROW_OWNER_PID: local address (16), local scope (4), local port (4), remote address
// (16), remote scope (4), remote port (4), state (4), owner PID (4).
std::size_t AppendTcp6MappedRows(std::span<const std::uint8_t> table,
                                 std::vector<std::uint8_t>& out) {
    startTable(out);
    const std::size_t rows = rowCount(table, Tcp6RowSize);
    std::size_t added = 0;
    for (std::size_t i = 0; i < rows; ++i) {
        const std::uint8_t* row = table.data() + 4 + i * Tcp6RowSize;
        const std::uint8_t* local = row;
        const std::uint8_t* remote = row + 24;
        const std::uint32_t state = readLe32(row + 48);
        if (!isMapped(local))
            continue;
        const bool remoteMapped = isMapped(remote);
        if (!remoteMapped && !isUnspecified(remote))
            continue;
        putLe32(out, state);
        out.insert(out.end(), local + 12, local + 16);
        putPort(out, row + 20);
        if (remoteMapped)
            out.insert(out.end(), remote + 12, remote + 16);
        else
            out.insert(out.end(), 4, 0);
        putPort(out, row + 44);
        putLe32(out, readLe32(row + 52));
        ++added;
    }
    addToCount(out, added);
    return added;
}

std::size_t AppendUdp4Rows(std::span<const std::uint8_t> table, std::vector<std::uint8_t>& out) {
    startTable(out);
    const std::size_t rows = rowCount(table, Udp4RowSize);
    for (std::size_t i = 0; i < rows; ++i) {
        const std::uint8_t* row = table.data() + 4 + i * Udp4RowSize;
        out.insert(out.end(), row, row + 4);
        putPort(out, row + 4);
        putLe32(out, readLe32(row + 8));
    }
    addToCount(out, rows);
    return rows;
}

// MIB_UDP6ROW_OWNER_PID: local address (16), local scope (4), local port (4), owner PID (4).
std::size_t AppendUdp6MappedRows(std::span<const std::uint8_t> table,
                                 std::vector<std::uint8_t>& out) {
    startTable(out);
    const std::size_t rows = rowCount(table, Udp6RowSize);
    std::size_t added = 0;
    for (std::size_t i = 0; i < rows; ++i) {
        const std::uint8_t* row = table.data() + 4 + i * Udp6RowSize;
        if (!isMapped(row))
            continue;
        out.insert(out.end(), row + 12, row + 16);
        putPort(out, row + 20);
        putLe32(out, readLe32(row + 24));
        ++added;
    }
    addToCount(out, added);
    return added;
}

static_assert(Tcp4RowSize == os::TcpRowSize && Udp4RowSize == os::UdpRowSize,
              "the IPv4 rows of IP Helper are the layout of the endpoint tables");

} // namespace os::iphelper
