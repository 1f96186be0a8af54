#pragma once
// Decoding the owner-PID tables of the Windows IP Helper (GetExtendedTcpTable and
// GetExtendedUdpTable) into the byte layout of os/Endpoints.h. Plain byte work, so that it is
// tested on fixtures on every system.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace os::iphelper {

// Row sizes of MIB_TCPROW_OWNER_PID, MIB_TCP6ROW_OWNER_PID, MIB_UDPROW_OWNER_PID and
// MIB_UDP6ROW_OWNER_PID. Each table starts with a 4-byte entry count.
inline constexpr std::size_t Tcp4RowSize = 24;
inline constexpr std::size_t Tcp6RowSize = 56;
inline constexpr std::size_t Udp4RowSize = 12;
inline constexpr std::size_t Udp6RowSize = 28;

// Appends the rows of an AF_INET TCP table to `out` (an os::ReadEndpointTables TCP table
// whose count is kept up to date; an empty `out` is started with a count of 0). Every row is
// kept with its state number as the table gives it, also one outside 1..12. A count promising
// more rows than the bytes hold is cut to the whole rows present. Returns the number of rows
// appended.
std::size_t AppendTcp4Rows(std::span<const std::uint8_t> table, std::vector<std::uint8_t>& out);

// Appends the IPv4 traffic of an AF_INET6 TCP table: rows whose local address is
// IPv4-mapped (::ffff:a.b.c.d) and whose remote address is IPv4-mapped or unspecified (a
// listener). Other IPv6 rows are no IPv4 endpoints and are left out.
std::size_t AppendTcp6MappedRows(std::span<const std::uint8_t> table,
                                 std::vector<std::uint8_t>& out);

// The same for UDP: AF_INET rows as they are, AF_INET6 rows with an IPv4-mapped local address.
std::size_t AppendUdp4Rows(std::span<const std::uint8_t> table, std::vector<std::uint8_t>& out);
std::size_t AppendUdp6MappedRows(std::span<const std::uint8_t> table,
                                 std::vector<std::uint8_t>& out);

} // namespace os::iphelper
