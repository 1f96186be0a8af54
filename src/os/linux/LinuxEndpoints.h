#pragma once
// The Linux side of the endpoint tables: netlink sock_diag dumps, the /proc/net fallback, the
// socket-to-process map and the conversion into the rows of os/Endpoints.h.
// Every reader takes a procfs root so that the parsers can be run on fixtures.
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "os/Endpoints.h"

namespace os::linuxnet {

using os::Endpoint;
using os::Protocol;

// One socket as the kernel lists it, before it becomes a row.
struct RawSocket {
    std::uint8_t family = 0;              // AF_INET or AF_INET6
    std::uint8_t linuxState = 0;          // the kernel's TCP_* numbering
    std::array<std::uint8_t, 16> local{}; // network order; an IPv4 address in bytes 0..3
    std::array<std::uint8_t, 16> remote{};
    std::uint16_t localPort = 0; // host order
    std::uint16_t remotePort = 0;
    std::uint64_t inode = 0;
    bool v6only = false;              // AF_INET6 only
    std::uint32_t uid = NoUserId;     // the socket's user ID
    std::uint32_t interfaceIndex = 0; // the bound interface (sock_diag only), 0 if none
    std::uint64_t cookie = 0;         // sock_diag only
    bool hasByteCounters = false;     // TCP sock_diag with INET_DIAG_INFO
    std::uint64_t bytesAcked = 0;
    std::uint64_t bytesReceived = 0;
    // A moment by which the socket existed (the end of the read that listed it); the clock's
    // epoch when not known.
    std::chrono::steady_clock::time_point seenBy{};
    std::uint8_t protocol = 0; // IPPROTO_* when the message names it (destroy groups), else 0
};

// The kernel's TCP state as a MIB_TCP_STATE number; 0 for states that are no endpoint
// (bound-only sockets) or unknown.
std::uint32_t mibTcpState(std::uint8_t linuxState);

// The row of `socket`: an IPv4 row for an AF_INET socket, for an AF_INET6 socket with
// IPv4-mapped addresses and for a dual-stack AF_INET6 socket bound to :: (as 0.0.0.0); an
// IPv6 row for any other AF_INET6 socket. False for states that are no endpoint.
bool toEndpoint(const RawSocket& socket, Protocol protocol, Endpoint& endpoint);

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

// Reads one inet_diag_msg and its attributes (unknown ones are skipped, a cut one ends the
// attributes); false when the message is too short or of another family.
bool parseInetDiagMessage(const std::uint8_t* payload, std::size_t length, RawSocket& socket);

// Appends the sockets announced in one buffer of sock_diag destroy-group messages (one recv).
// `groupProtocol` (IPPROTO_TCP or IPPROTO_UDP, as the group tells) stands in for a message
// that does not name its protocol. Returns how many messages could not be read: a short one is
// skipped, and a header whose length does not fit ends the buffer.
std::size_t parseSocketEndBuffer(const std::uint8_t* data, std::size_t length,
                                 std::uint8_t groupProtocol, std::vector<RawSocket>& out);

enum class DumpResult { Ok, Refused, Failed };

// One NETLINK_SOCK_DIAG dump of every socket of `protocol` and `family`. Refused when the
// kernel or a sandbox denies it (no netlink, no diag module, EPERM); Failed on a broken reply.
DumpResult dumpSockDiag(Protocol protocol, int family, std::vector<RawSocket>& out);

// One TCP socket as sock_diag names it for a request of its own.
struct SocketId {
    int family = 0; // AF_INET or AF_INET6
    std::array<std::uint8_t, 16> local{};
    std::array<std::uint8_t, 16> remote{};
    std::uint16_t localPort = 0; // host order
    std::uint16_t remotePort = 0;
    std::uint32_t interfaceIndex = 0;
    std::uint64_t cookie = 0; // 0: any socket with these addresses and ports
};

// Asks the kernel for exactly the socket `id`. 0 with `found` filled, or an errno: ENOENT when
// there is none, ESTALE when the socket there now has another cookie.
int querySocket(const SocketId& id, RawSocket& found);

// SOCK_DESTROY for the socket `id`: 0, or an errno (EPERM without CAP_NET_ADMIN, EOPNOTSUPP
// from a kernel without CONFIG_INET_DIAG_DESTROY, ENOENT or ESTALE as querySocket).
int destroySocket(const SocketId& id);

// The socket of the TCP endpoint `endpoint` with its cookie: `id` names it as the kernel found
// it (an IPv4 connection of a dual-stack socket by its IPv4-mapped addresses), `found` is what
// the kernel told of it. 0, or an errno as querySocket.
int findTcpSocket(const Endpoint& endpoint, SocketId& id, RawSocket& found);

// Parses the text of /proc/net/tcp, tcp6, udp or udp6. Lines that do not parse are skipped.
// The v6-only flag is not shown there; `v6onlyDefault` is taken for every AF_INET6 socket.
void parseProcNet(std::string_view text, int family, bool v6onlyDefault,
                  std::vector<RawSocket>& out);

// Reads <procRoot>/net/{tcp,tcp6} or {udp,udp6}. False when the IPv4 file cannot be read; a
// missing IPv6 file (IPv6 disabled) counts as empty.
bool readProcNet(const std::string& procRoot, Protocol protocol, std::vector<RawSocket>& out);

// How many sockets a dump may list, from the texts of /proc/net/sockstat and sockstat6 (TCP:
// allocated plus TIME_WAIT; UDP: in use, both families); 0 where they do not tell. Only a hint
// for the room to set aside.
struct ExpectedSockets {
    std::size_t tcp = 0;
    std::size_t udp = 0;
};
ExpectedSockets expectedSockets(std::string_view sockstat, std::string_view sockstat6);
// The same from <procRoot>/net/sockstat and sockstat6.
ExpectedSockets expectedSockets(const std::string& procRoot);

// The process holding a socket, with the start time that tells it apart from a later
// process reusing its ID.
struct SocketOwner {
    std::uint32_t pid = 0; // 0: nobody visible holds it
    std::uint64_t startTime = 0;
};

// Socket inode -> owner for a known set of inodes: a flat table, since a busy server has a
// hundred thousand of them and a node per entry would cost more than the lookups.
class InodeOwners {
public:
    explicit InodeOwners(std::size_t expected);
    // Adds `inode` (not 0) with no owner; adding it again changes nothing.
    void add(std::uint64_t inode);
    // The owner slot of `inode`; nullptr when it was never added.
    SocketOwner* find(std::uint64_t inode);
    std::size_t size() const { return m_size; }
    // Inodes added whose owner is still unknown (PID 0).
    std::size_t unowned() const;

private:
    std::size_t slotOf(std::uint64_t inode) const;
    std::vector<std::uint64_t> m_inodes; // 0: empty slot
    std::vector<SocketOwner> m_owners;
    std::size_t m_mask = 0;
    int m_shift = 60;
    std::size_t m_size = 0;
};

// A process holding a socket, with its start time read before its descriptors and found
// unchanged after them.
struct HeldSocket {
    std::uint64_t inode = 0;
    std::uint32_t pid = 0;
    std::uint64_t startTime = 0;
    friend bool operator==(const HeldSocket&, const HeldSocket&) = default;
};

// A socket held by several processes appears once per holder.
using SocketHolders = std::vector<HeldSocket>;

// Sets the owner (PID and start time) of every inode in `owners` that `holders` names, by the
// rule of SocketOwnerScan::resolve. Can be called for several lists in turn.
void assignHolders(const SocketHolders& holders, InodeOwners& owners);

// Reads the start time of process `pid` below the procfs folder `procFd`; 0 when it is gone.
using StartTimeReader = std::function<std::uint64_t(int procFd, std::uint32_t pid)>;

// Socket inode -> owner, from one scan of <procRoot>/[pid]/fd. The scan starts at
// construction on worker threads (one per further core, at most three), so that the caller
// can dump the tables meanwhile; resolve() joins in and waits for the end. A process that
// ends, that we may not inspect, or whose start time changed while its descriptors were read
// (its ID was reused) is skipped. `readStartTime` replaces the reading of
// <procRoot>/[pid]/stat (tests).
class SocketOwnerScan {
public:
    // `expectedHolders`: about how many sockets the processes hold, a hint for the room to set
    // aside (0: none).
    explicit SocketOwnerScan(const std::string& procRoot, StartTimeReader readStartTime = {},
                             std::size_t expectedHolders = 0);
    ~SocketOwnerScan(); // stops early if resolve() was not called
    SocketOwnerScan(const SocketOwnerScan&) = delete;
    SocketOwnerScan& operator=(const SocketOwnerScan&) = delete;

    // Sets the owner of every inode in `owners` that a process holds: when several share it,
    // the lowest PID other than 1 (the init system hands sockets to the services it starts;
    // PID 1 only when it is the only holder). Owners already set are kept. Inodes nobody
    // visible holds keep PID 0. Call once.
    void resolve(InodeOwners& owners);
    // After resolve(): a second scan for the inodes still without an owner (a socket made
    // while the tables were read by a process already scanned), of every process except those
    // the first scan could not inspect and those whose descriptors it began to list after
    // `latest`, the moment by which all of those sockets existed: such a process was listed
    // with them in place. One whose start time changed since is scanned again.
    void resolveAgain(InodeOwners& owners, std::chrono::steady_clock::time_point latest =
                                               std::chrono::steady_clock::time_point::max());
    // Every holder the scan found whose process kept its start time, in no order; instead of
    // resolve(). Call once.
    SocketHolders holders();

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// SocketOwnerScan and resolve() in one call.
void findSocketOwners(const std::string& procRoot, InodeOwners& owners);

enum class Source { Auto, Netlink, ProcNet };

// Both tables as rows with owners, sorted by family, then local then remote address and port,
// each socket once. `Auto` asks netlink and falls back to /proc/net per protocol when refused.
// A half-open connection without a socket of its own belongs to the listener it arrived at.
bool collectEndpoints(const std::string& procRoot, Source source, std::vector<Endpoint>& tcp,
                      std::vector<Endpoint>& udp);

} // namespace os::linuxnet
