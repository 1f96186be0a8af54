#pragma once
// The IP stack's IPv4 endpoint tables, in the byte layout the snapshot decodes.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace os {

// TCP table: a 4-byte entry count n, then n rows of 24 bytes: state number (MIB_TCP_STATE
// numbering, 1 closed ... 12 delete TCB), local IPv4 address (network byte order), local port
// (bytes 0 and 1 in network byte order, bytes 2 and 3 unused), remote address, remote port
// (like the local port), owning process ID. Every 32-bit field other than the addresses and
// ports is little-endian.
inline constexpr std::size_t TcpRowSize = 24;
// UDP table: a 4-byte entry count n, then n rows of 12 bytes: local address, local port, owning
// process ID, laid out like the TCP fields of the same name.
inline constexpr std::size_t UdpRowSize = 12;

// Fills `tcp` and `udp` with every IPv4 TCP endpoint (connections and listeners) and every
// IPv4 UDP endpoint, both read in one go so that the owners are looked up once (Linux: one
// scan of /proc). IPv4 traffic on dual-stack IPv6 sockets is included; a socket whose owner
// cannot be seen has process ID 0. Returns false, with both tables empty, when the system
// refuses every way of reading either table.
bool ReadEndpointTables(std::vector<std::uint8_t>& tcp, std::vector<std::uint8_t>& udp);

} // namespace os
