#pragma once
// Decoding the owner-PID tables of the Windows IP Helper (GetExtendedTcpTable and
// GetExtendedUdpTable) into the rows of os/Endpoints.h. Plain byte work, so that it is tested
// on fixtures on every system.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "os/Endpoints.h"

namespace os::iphelper {

// Row sizes of MIB_TCPROW_OWNER_PID, MIB_TCP6ROW_OWNER_PID, MIB_UDPROW_OWNER_PID and
// MIB_UDP6ROW_OWNER_PID. Each table starts with a 4-byte entry count.
inline constexpr std::size_t Tcp4RowSize = 24;
inline constexpr std::size_t Tcp6RowSize = 56;
inline constexpr std::size_t Udp4RowSize = 12;
inline constexpr std::size_t Udp6RowSize = 28;

// Appends the rows of an AF_INET TCP table to `out`. Every row is kept with its state number as
// the table gives it, also one outside 1..12. A count promising more rows than the bytes hold
// is cut to the whole rows present.
// Returns the number of rows appended. The tables tell no user ID, identity, byte counters
// or start time: those fields keep their "not told" values.
std::size_t AppendTcp4Rows(std::span<const std::uint8_t> table, std::vector<Endpoint>& out);

// Appends the rows of an AF_INET6 TCP table: IPv4 traffic (a local address that is
// IPv4-mapped, ::ffff:a.b.c.d, and a remote address that is IPv4-mapped or unspecified) as
// IPv4 rows, every other row as an IPv6 row (with the scope IDs of addresses that need one).
std::size_t AppendTcp6Rows(std::span<const std::uint8_t> table, std::vector<Endpoint>& out);

// The same for UDP: AF_INET rows as they are, AF_INET6 rows with an IPv4-mapped local address
// as IPv4 rows, the others as IPv6 rows.
std::size_t AppendUdp4Rows(std::span<const std::uint8_t> table, std::vector<Endpoint>& out);
std::size_t AppendUdp6Rows(std::span<const std::uint8_t> table, std::vector<Endpoint>& out);

} // namespace os::iphelper
