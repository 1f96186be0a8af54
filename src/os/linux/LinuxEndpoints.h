#pragma once
// The Linux side of the endpoint tables: netlink sock_diag dumps, the /proc/net fallback, the
// socket-to-process map and the conversion into the IPv4 table layout of os/Endpoints.h.
// Every reader takes a procfs root so that the parsers can be run on fixtures.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace os::linuxnet {

enum class Protocol { Tcp, Udp };

// One socket as the kernel lists it, before it becomes an IPv4 row.
struct RawSocket {
    std::uint8_t family = 0;              // AF_INET or AF_INET6
    std::uint8_t linuxState = 0;          // the kernel's TCP_* numbering
    std::array<std::uint8_t, 16> local{}; // network order; an IPv4 address in bytes 0..3
    std::array<std::uint8_t, 16> remote{};
    std::uint16_t localPort = 0; // host order
    std::uint16_t remotePort = 0;
    std::uint64_t inode = 0;
    bool v6only = false; // AF_INET6 only
};

// One IPv4 row of the tables.
struct Endpoint {
    std::uint32_t state = 0; // MIB numbering; 0 for UDP
    std::array<std::uint8_t, 4> localAddr{};
    std::array<std::uint8_t, 4> remoteAddr{};
    std::uint16_t localPort = 0;
    std::uint16_t remotePort = 0;
    std::uint64_t inode = 0;
    std::uint32_t pid = 0;
};

// The kernel's TCP state as a MIB_TCP_STATE number; 0 for states that are no endpoint
// (bound-only sockets) or unknown.
std::uint32_t mibTcpState(std::uint8_t linuxState);

// The IPv4 row of `socket`, if it carries IPv4 traffic: an AF_INET socket, an AF_INET6 socket
// with IPv4-mapped addresses, or a dual-stack AF_INET6 socket bound to :: (as 0.0.0.0).
bool toIpv4Endpoint(const RawSocket& socket, Protocol protocol, Endpoint& endpoint);

// State of parsing one sock_diag dump, buffer by buffer.
struct DumpState {
    std::uint32_t seq = 0;
    bool done = false;
    bool interrupted = false; // the kernel flagged the dump as inconsistent
    int error = 0;            // errno from NLMSG_ERROR (or the DONE payload), 0 if none
    bool malformed = false;   // a message ran past the buffer or was too short
};

// Appends the sockets of one buffer of netlink messages (one recv) to `out`. Returns false when
// the dump must end here (done, error or malformed; see `state`).
bool parseSockDiagBuffer(const std::uint8_t* data, std::size_t length, DumpState& state,
                         std::vector<RawSocket>& out);

enum class DumpResult { Ok, Refused, Failed };

// One NETLINK_SOCK_DIAG dump of every socket of `protocol` and `family`. Refused when the
// kernel or a sandbox denies it (no netlink, no diag module, EPERM); Failed on a broken reply.
DumpResult dumpSockDiag(Protocol protocol, int family, std::vector<RawSocket>& out);

// Parses the text of /proc/net/tcp, tcp6, udp or udp6. Lines that do not parse are skipped.
// The v6-only flag is not shown there; `v6onlyDefault` is taken for every AF_INET6 socket.
void parseProcNet(std::string_view text, int family, bool v6onlyDefault,
                  std::vector<RawSocket>& out);

// Reads <procRoot>/net/{tcp,tcp6} or {udp,udp6}. False when the IPv4 file cannot be read; a
// missing IPv6 file (IPv6 disabled) counts as empty.
bool readProcNet(const std::string& procRoot, Protocol protocol, std::vector<RawSocket>& out);

// Socket inode -> owning PID for a known set of inodes: a flat table, since a busy server
// has a hundred thousand of them and a node per entry would cost more than the lookups.
class InodeOwners {
public:
    explicit InodeOwners(std::size_t expected);
    // Adds `inode` (not 0) with PID 0; adding it again changes nothing.
    void add(std::uint64_t inode);
    // The PID slot of `inode`; nullptr when it was never added.
    std::uint32_t* find(std::uint64_t inode);
    std::size_t size() const { return m_size; }

private:
    std::size_t slotOf(std::uint64_t inode) const;
    std::vector<std::uint64_t> m_inodes; // 0: empty slot
    std::vector<std::uint32_t> m_pids;
    std::size_t m_mask = 0;
    int m_shift = 60;
    std::size_t m_size = 0;
};

// (socket inode, PID of a process holding it) pairs; a socket held by several processes
// appears once per holder.
using SocketHolders = std::vector<std::pair<std::uint64_t, std::uint32_t>>;

// Sets the PID of every inode in `owners` that `holders` names: the lowest PID when several
// share it. Can be called for several lists in turn.
void assignHolders(const SocketHolders& holders, InodeOwners& owners);

// Socket inode -> owning PID, from one scan of <procRoot>/[pid]/fd. The scan starts at
// construction on worker threads (one per further core, at most three), so that the caller
// can dump the tables meanwhile; resolve() joins in and waits for the end. A process that
// ends or that we may not inspect is skipped.
class SocketOwnerScan {
public:
    explicit SocketOwnerScan(const std::string& procRoot);
    ~SocketOwnerScan(); // stops early if resolve() was not called
    SocketOwnerScan(const SocketOwnerScan&) = delete;
    SocketOwnerScan& operator=(const SocketOwnerScan&) = delete;

    // Sets the PID of every inode in `owners` that a process holds: the lowest such PID when
    // several share it. Inodes nobody visible holds keep PID 0. Call once.
    void resolve(InodeOwners& owners);
    // Every pair the scan found, in no order; instead of resolve(). Call once.
    SocketHolders holders();

private:
    void finish();
    struct State;
    std::unique_ptr<State> m_state;
};

// SocketOwnerScan and resolve() in one call.
void findSocketOwners(const std::string& procRoot, InodeOwners& owners);

enum class Source { Auto, Netlink, ProcNet };

// Both tables as IPv4 rows with owners, sorted by local then remote address and port, each
// socket once. `Auto` asks netlink and falls back to /proc/net per protocol when refused.
bool collectEndpoints(const std::string& procRoot, Source source, std::vector<Endpoint>& tcp,
                      std::vector<Endpoint>& udp);

std::vector<std::uint8_t> encodeTcpTable(const std::vector<Endpoint>& rows);
std::vector<std::uint8_t> encodeUdpTable(const std::vector<Endpoint>& rows);

} // namespace os::linuxnet
