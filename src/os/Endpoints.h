#pragma once
// The IP stack's endpoint tables as typed rows: one os::Endpoint per TCP or UDP socket.
#include <array>
#include <cstdint>
#include <vector>

namespace os {

enum class Protocol : std::uint8_t { Tcp, Udp };
enum class Family : std::uint8_t { V4, V6 };

// Values of the fields the system did not tell.
inline constexpr std::uint32_t NoUserId = 0xFFFFFFFFu;

struct Endpoint {
    Protocol protocol = Protocol::Tcp;
    Family family = Family::V4;
    // MIB_TCP_STATE numbering (1 closed ... 12 delete TCB); 0 for UDP.
    std::uint32_t state = 0;
    // Network byte order; an IPv4 address in bytes 0..3, the rest 0. IPv4 traffic of a
    // dual-stack IPv6 socket is an IPv4 endpoint (a listener on :: one on 0.0.0.0).
    std::array<std::uint8_t, 16> localAddr{};
    std::array<std::uint8_t, 16> remoteAddr{}; // all 0 for UDP and listeners
    // IPv6 scope (interface) ID of an address that needs one (AddressNeedsScope), else 0.
    std::uint32_t localScopeId = 0;
    std::uint32_t remoteScopeId = 0;
    std::uint16_t localPort = 0; // host order
    std::uint16_t remotePort = 0;
    // Owning process; 0 when no process holds it or its owner may not be seen.
    std::uint32_t pid = 0;
    // Start time of the owner as os::ProcessStartTime gives it, read while the owner was
    // found; 0 when the system did not tell (it is then looked up later, with a PID-reuse risk).
    std::uint64_t ownerStartTime = 0;
    // The socket's user ID; NoUserId when the system does not tell (Windows).
    std::uint32_t uid = NoUserId;
    // The socket's identity (Linux: inode and sock_diag cookie); 0 when not told or none
    // (a TIME_WAIT socket has no inode).
    std::uint64_t inode = 0;
    std::uint64_t cookie = 0;
    // TCP bytes acknowledged by the peer and received; valid only with hasByteCounters.
    bool hasByteCounters = false;
    std::uint64_t bytesAcked = 0;
    std::uint64_t bytesReceived = 0;

    friend bool operator==(const Endpoint&, const Endpoint&) = default;
};

// Whether an IPv6 address is told apart only with its scope ID: link-local (fe80::/10) and
// multicast of interface or link scope. Other addresses carry scope ID 0 in the rows.
bool AddressNeedsScope(const std::array<std::uint8_t, 16>& address);

// Fills `tcp` and `udp` with every TCP endpoint (connections and listeners) and every UDP
// endpoint, IPv4 and IPv6, both read in one go so that the owners are looked up once (Linux:
// one scan of /proc). Returns false, with both tables empty, when the system refuses every way
// of reading either table. Starts no work that outlives the call.
bool ReadEndpointTables(std::vector<Endpoint>& tcp, std::vector<Endpoint>& udp);

} // namespace os
