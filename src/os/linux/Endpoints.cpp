#include "os/Endpoints.h"
#include "os/Memory.h"
#include "os/linux/HelperClient.h"
#include "os/linux/LinuxEndpoints.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <tuple>
#include <unistd.h>
#include <unordered_set>

namespace os::linuxnet {

namespace {

constexpr std::array<std::uint8_t, 12> MappedPrefix = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
constexpr std::uint32_t MibListen = 2;
constexpr std::uint32_t MibSynReceived = 4;

bool isMapped(const std::array<std::uint8_t, 16>& address) {
    return std::equal(MappedPrefix.begin(), MappedPrefix.end(), address.begin());
}

bool isUnspecified(const std::array<std::uint8_t, 16>& address) {
    return std::all_of(address.begin(), address.end(), [](std::uint8_t b) { return b == 0; });
}

// a.b.c.d of ::ffff:a.b.c.d, in bytes 0..3 of an IPv4 row's address.
std::array<std::uint8_t, 16> unmapped(const std::array<std::uint8_t, 16>& address) {
    std::array<std::uint8_t, 16> out{};
    std::copy(address.begin() + 12, address.end(), out.begin());
    return out;
}

auto sortKey(const Endpoint& e) {
    return std::tie(e.family, e.localAddr, e.localPort, e.remoteAddr, e.remotePort, e.inode);
}

// Sorted like the platform's ordered tables, each socket once: a dump that raced with changes
// may list one socket twice. Sockets without an inode (TIME_WAIT, requests) are told apart by
// their addresses alone.
void sortUnique(std::vector<Endpoint>& rows) {
    std::sort(rows.begin(), rows.end(),
              [](const Endpoint& a, const Endpoint& b) { return sortKey(a) < sortKey(b); });
    rows.erase(
        std::unique(rows.begin(), rows.end(),
                    [](const Endpoint& a, const Endpoint& b) { return sortKey(a) == sortKey(b); }),
        rows.end());
}

bool readRawTables(const std::string& procRoot, Source source, Protocol protocol,
                   std::vector<RawSocket>& raw) {
    if (source != Source::ProcNet) {
        raw.clear();
        const DumpResult v4 = dumpSockDiag(protocol, AF_INET, raw);
        const DumpResult v6 = v4 == DumpResult::Ok ? dumpSockDiag(protocol, AF_INET6, raw) : v4;
        if (v4 == DumpResult::Ok && v6 == DumpResult::Ok)
            return true;
        if (source == Source::Netlink)
            return false;
    }
    raw.clear();
    return readProcNet(procRoot, protocol, raw);
}

bool readRaw(const std::string& procRoot, Source source, Protocol protocol, std::size_t counted,
             std::vector<RawSocket>& raw) {
    // Room for about as many sockets as the system counts (`counted`) or as last time, so that a
    // large table is not copied over and over while it grows.
    static std::array<std::atomic<std::size_t>, 2> lastCount{};
    std::atomic<std::size_t>& last = lastCount[protocol == Protocol::Tcp ? 0 : 1];
    const std::size_t expected = std::max(last.load(std::memory_order_relaxed), counted);
    ReserveLarge(raw, expected + expected / 8);
    const bool read = readRawTables(procRoot, source, protocol, raw);
    last.store(raw.size(), std::memory_order_relaxed);
    return read;
}

void convert(const std::vector<RawSocket>& raw, Protocol protocol, std::vector<Endpoint>& rows) {
    ReserveLarge(rows, rows.size() + raw.size());
    for (const RawSocket& socket : raw) {
        Endpoint endpoint;
        if (toEndpoint(socket, protocol, endpoint))
            rows.push_back(endpoint);
    }
}

// A connection request (SYN_RECV) has no socket of its own and so no inode; it belongs to
// the process of the listener on its local address and port, or on the wildcard address.
void giveRequestsToListeners(std::vector<Endpoint>& tcp) {
    using Key = std::tuple<Family, std::array<std::uint8_t, 16>, std::uint16_t>;
    std::map<Key, const Endpoint*> listeners;
    for (const Endpoint& e : tcp) {
        if (e.state == MibListen && e.pid != 0)
            listeners.emplace(Key{e.family, e.localAddr, e.localPort}, &e);
    }
    if (listeners.empty())
        return;
    for (Endpoint& e : tcp) {
        if (e.state != MibSynReceived || e.inode != 0 || e.pid != 0)
            continue;
        auto it = listeners.find(Key{e.family, e.localAddr, e.localPort});
        if (it == listeners.end())
            it = listeners.find(Key{e.family, {}, e.localPort});
        if (it == listeners.end())
            continue;
        e.pid = it->second->pid;
        e.ownerStartTime = it->second->ownerStartTime;
    }
}

} // namespace

std::uint32_t mibTcpState(std::uint8_t linuxState) {
    switch (linuxState) {
    case 1:
        return 5; // ESTABLISHED
    case 2:
        return 3; // SYN_SENT
    case 3:
        return 4; // SYN_RECV
    case 4:
        return 6; // FIN_WAIT1
    case 5:
        return 7; // FIN_WAIT2
    case 6:
        return 11; // TIME_WAIT
    case 7:
        return 1; // CLOSE
    case 8:
        return 8; // CLOSE_WAIT
    case 9:
        return 10; // LAST_ACK
    case 10:
        return 2; // LISTEN
    case 11:
        return 9; // CLOSING
    case 12:
        return 4; // NEW_SYN_RECV: a request not yet accepted, SYN_RECV to the user
    default:
        return 0; // BOUND_INACTIVE and anything newer: no endpoint
    }
}

bool toEndpoint(const RawSocket& socket, Protocol protocol, Endpoint& endpoint) {
    endpoint = Endpoint{};
    endpoint.protocol = protocol;
    if (protocol == Protocol::Tcp) {
        endpoint.state = mibTcpState(socket.linuxState);
        if (endpoint.state == 0)
            return false;
    }
    if (socket.family != AF_INET && socket.family != AF_INET6)
        return false;
    endpoint.localPort = socket.localPort;
    endpoint.inode = socket.inode;
    endpoint.uid = socket.uid;
    endpoint.cookie = socket.cookie;
    endpoint.hasByteCounters = socket.hasByteCounters;
    endpoint.bytesAcked = socket.bytesAcked;
    endpoint.bytesReceived = socket.bytesReceived;
    const bool tcp = protocol == Protocol::Tcp;
    if (socket.family == AF_INET) {
        endpoint.localAddr = socket.local;
        if (tcp) {
            endpoint.remoteAddr = socket.remote;
            endpoint.remotePort = socket.remotePort;
        }
        return true;
    }
    // IPv4 traffic of an IPv6 socket shows as ::ffff:a.b.c.d; a socket on :: that is not
    // v6-only accepts IPv4 too and is an IPv4 endpoint on 0.0.0.0.
    const bool remoteV4 = !tcp || isMapped(socket.remote) || isUnspecified(socket.remote);
    if (isMapped(socket.local) && remoteV4) {
        endpoint.localAddr = unmapped(socket.local);
        if (tcp && isMapped(socket.remote))
            endpoint.remoteAddr = unmapped(socket.remote);
    } else if (isUnspecified(socket.local) && !socket.v6only && remoteV4 &&
               (!tcp || isUnspecified(socket.remote))) {
        // The local and remote addresses stay 0.0.0.0.
    } else {
        endpoint.family = Family::V6;
        endpoint.localAddr = socket.local;
        if (AddressNeedsScope(socket.local))
            endpoint.localScopeId = socket.interfaceIndex;
        if (tcp) {
            endpoint.remoteAddr = socket.remote;
            if (AddressNeedsScope(socket.remote))
                endpoint.remoteScopeId = socket.interfaceIndex;
        }
    }
    if (tcp)
        endpoint.remotePort = socket.remotePort;
    return true;
}

namespace {

// The sockets the last snapshot left without an owner after its second scan. Such a socket
// existed before this scan began, so it is not one made during this dump by a process scanned
// before it: if the first scan missed it, a second would too (another user's, another PID
// namespace's). Without this, one such listener would double the cost of every snapshot.
struct KnownUnowned {
    std::mutex lock;
    std::unordered_set<std::uint64_t> inodes;
};

KnownUnowned& knownUnowned() {
    static KnownUnowned known;
    return known;
}

// The inodes still without an owner; without privilege only those of this program's own
// user, since the descriptors of other users' processes stay closed to it.
std::unordered_set<std::uint64_t> unownedInodes(const std::vector<Endpoint>& tcp,
                                                const std::vector<Endpoint>& udp,
                                                InodeOwners& owners) {
    std::unordered_set<std::uint64_t> unowned;
    if (owners.unowned() == 0)
        return unowned;
    const uid_t self = ::geteuid();
    for (const auto* rows : {&tcp, &udp}) {
        for (const Endpoint& e : *rows) {
            if (e.inode == 0 || (self != 0 && e.uid != self && e.uid != NoUserId))
                continue;
            const SocketOwner* owner = owners.find(e.inode);
            if (owner != nullptr && owner->pid == 0)
                unowned.insert(e.inode);
        }
    }
    return unowned;
}

bool worthScanningAgain(const std::unordered_set<std::uint64_t>& unowned) {
    KnownUnowned& known = knownUnowned();
    const std::lock_guard<std::mutex> guard(known.lock);
    for (const std::uint64_t inode : unowned) {
        if (!known.inodes.contains(inode))
            return true;
    }
    return false;
}

// The moment by which every socket in `unowned` existed: the latest end of a read that listed
// one of them.
std::chrono::steady_clock::time_point latestSeen(const std::unordered_set<std::uint64_t>& unowned,
                                                 const std::vector<RawSocket>& tcp,
                                                 const std::vector<RawSocket>& udp) {
    using Clock = std::chrono::steady_clock;
    Clock::time_point latest = Clock::time_point::min();
    for (const auto* raw : {&tcp, &udp}) {
        for (const RawSocket& socket : *raw) {
            if (socket.inode == 0 || !unowned.contains(socket.inode))
                continue;
            if (socket.seenBy == Clock::time_point{})
                return Clock::time_point::max();
            latest = std::max(latest, socket.seenBy);
        }
    }
    return latest;
}

void rememberUnowned(std::unordered_set<std::uint64_t> unowned) {
    KnownUnowned& known = knownUnowned();
    const std::lock_guard<std::mutex> guard(known.lock);
    known.inodes.swap(unowned);
}

} // namespace

bool collectEndpoints(const std::string& procRoot, Source source, std::vector<Endpoint>& tcp,
                      std::vector<Endpoint>& udp) {
    tcp.clear();
    udp.clear();
    // The descriptor scan takes most of the time; it runs while the tables are read. The
    // helper's scan, when one serves this program, sees other users' processes too.
    const ExpectedSockets expected = expectedSockets(procRoot);
    linuxhelper::OwnerScan scan(procRoot, expected.tcp + expected.udp);
    std::vector<RawSocket> tcpRaw;
    std::vector<RawSocket> udpRaw;
    if (!readRaw(procRoot, source, Protocol::Tcp, expected.tcp, tcpRaw))
        return false;
    convert(tcpRaw, Protocol::Tcp, tcp);
    if (!readRaw(procRoot, source, Protocol::Udp, expected.udp, udpRaw)) {
        tcp.clear();
        return false;
    }
    convert(udpRaw, Protocol::Udp, udp);

    // Sorted while the scan goes on: the order does not depend on the owners.
    InodeOwners owners(tcp.size() + udp.size());
    for (auto* rows : {&tcp, &udp}) {
        sortUnique(*rows);
        for (const Endpoint& e : *rows)
            owners.add(e.inode);
    }
    scan.resolve(owners);
    // A socket made during the dump by a process scanned before it was missed; only the
    // processes whose descriptors were listed before it was seen can have missed it.
    if (const auto unowned = unownedInodes(tcp, udp, owners); worthScanningAgain(unowned)) {
        scan.resolveAgain(owners, latestSeen(unowned, tcpRaw, udpRaw));
        rememberUnowned(unownedInodes(tcp, udp, owners));
    }
    for (auto* rows : {&tcp, &udp}) {
        for (Endpoint& e : *rows) {
            if (const SocketOwner* owner = owners.find(e.inode)) {
                e.pid = owner->pid;
                e.ownerStartTime = owner->startTime;
            }
        }
    }
    giveRequestsToListeners(tcp);
    return true;
}

} // namespace os::linuxnet

namespace os {

bool ReadEndpointTables(std::vector<Endpoint>& tcp, std::vector<Endpoint>& udp) {
    return linuxnet::collectEndpoints("/proc", linuxnet::Source::Auto, tcp, udp);
}

} // namespace os
