#include "os/Endpoints.h"
#include "os/linux/DesktopKnowledge.h"
#include "os/linux/HelperClient.h"
#include "os/linux/LinuxEndpoints.h"

#include <algorithm>
#include <mutex>
#include <system_error>
#include <thread>
#include <netinet/in.h>
#include <sys/socket.h>
#include <tuple>

namespace os::linuxnet {

namespace {

constexpr std::array<std::uint8_t, 12> MappedPrefix = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};

bool isMapped(const std::array<std::uint8_t, 16>& address) {
    return std::equal(MappedPrefix.begin(), MappedPrefix.end(), address.begin());
}

bool isUnspecified(const std::array<std::uint8_t, 16>& address) {
    return std::all_of(address.begin(), address.end(), [](std::uint8_t b) { return b == 0; });
}

std::array<std::uint8_t, 4> lastFour(const std::array<std::uint8_t, 16>& address) {
    return {address[12], address[13], address[14], address[15]};
}

std::array<std::uint8_t, 4> firstFour(const std::array<std::uint8_t, 16>& address) {
    return {address[0], address[1], address[2], address[3]};
}

void putLe32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void putPort(std::vector<std::uint8_t>& out, std::uint16_t port) {
    out.push_back(static_cast<std::uint8_t>(port >> 8));
    out.push_back(static_cast<std::uint8_t>(port & 0xff));
    out.push_back(0);
    out.push_back(0);
}

auto sortKey(const Endpoint& e) {
    return std::tie(e.localAddr, e.localPort, e.remoteAddr, e.remotePort, e.inode);
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

bool readRaw(const std::string& procRoot, Source source, Protocol protocol,
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

void convert(const std::vector<RawSocket>& raw, Protocol protocol, std::vector<Endpoint>& rows) {
    rows.reserve(raw.size());
    for (const RawSocket& socket : raw) {
        Endpoint endpoint;
        if (toIpv4Endpoint(socket, protocol, endpoint))
            rows.push_back(endpoint);
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

bool toIpv4Endpoint(const RawSocket& socket, Protocol protocol, Endpoint& endpoint) {
    endpoint = Endpoint{};
    if (protocol == Protocol::Tcp) {
        endpoint.state = mibTcpState(socket.linuxState);
        if (endpoint.state == 0)
            return false;
    }
    endpoint.localPort = socket.localPort;
    endpoint.inode = socket.inode;
    if (socket.family == AF_INET) {
        endpoint.localAddr = firstFour(socket.local);
        if (protocol == Protocol::Tcp) {
            endpoint.remoteAddr = firstFour(socket.remote);
            endpoint.remotePort = socket.remotePort;
        }
        return true;
    }
    if (socket.family != AF_INET6)
        return false;
    // IPv4 traffic of an IPv6 socket shows as ::ffff:a.b.c.d; a socket on :: that is not
    // v6-only accepts IPv4 too and is an IPv4 endpoint on 0.0.0.0.
    if (isMapped(socket.local))
        endpoint.localAddr = lastFour(socket.local);
    else if (!(isUnspecified(socket.local) && !socket.v6only))
        return false;
    if (protocol == Protocol::Tcp) {
        if (isMapped(socket.remote))
            endpoint.remoteAddr = lastFour(socket.remote);
        else if (!isUnspecified(socket.remote))
            return false;
        endpoint.remotePort = socket.remotePort;
    }
    return true;
}

bool collectEndpoints(const std::string& procRoot, Source source, std::vector<Endpoint>& tcp,
                      std::vector<Endpoint>& udp) {
    tcp.clear();
    udp.clear();
    // The descriptor scan takes most of the time; it runs while the tables are read. The
    // helper's scan, when one serves this program, sees other users' processes too.
    linuxhelper::OwnerScan scan(procRoot);
    std::vector<RawSocket> raw;
    if (!readRaw(procRoot, source, Protocol::Tcp, raw))
        return false;
    convert(raw, Protocol::Tcp, tcp);
    if (!readRaw(procRoot, source, Protocol::Udp, raw)) {
        tcp.clear();
        return false;
    }
    convert(raw, Protocol::Udp, udp);

    InodeOwners owners(tcp.size() + udp.size());
    for (const auto* rows : {&tcp, &udp}) {
        for (const Endpoint& e : *rows)
            owners.add(e.inode);
    }
    scan.resolve(owners);
    for (auto* rows : {&tcp, &udp}) {
        for (Endpoint& e : *rows) {
            if (const std::uint32_t* owner = owners.find(e.inode))
                e.pid = *owner;
        }
        sortUnique(*rows);
    }
    return true;
}

std::vector<std::uint8_t> encodeTcpTable(const std::vector<Endpoint>& rows) {
    std::vector<std::uint8_t> out;
    out.reserve(4 + rows.size() * os::TcpRowSize);
    putLe32(out, static_cast<std::uint32_t>(rows.size()));
    for (const Endpoint& e : rows) {
        putLe32(out, e.state);
        out.insert(out.end(), e.localAddr.begin(), e.localAddr.end());
        putPort(out, e.localPort);
        out.insert(out.end(), e.remoteAddr.begin(), e.remoteAddr.end());
        putPort(out, e.remotePort);
        putLe32(out, e.pid);
    }
    return out;
}

std::vector<std::uint8_t> encodeUdpTable(const std::vector<Endpoint>& rows) {
    std::vector<std::uint8_t> out;
    out.reserve(4 + rows.size() * os::UdpRowSize);
    putLe32(out, static_cast<std::uint32_t>(rows.size()));
    for (const Endpoint& e : rows) {
        out.insert(out.end(), e.localAddr.begin(), e.localAddr.end());
        putPort(out, e.localPort);
        putLe32(out, e.pid);
    }
    return out;
}

} // namespace os::linuxnet

namespace os {

bool ReadEndpointTables(std::vector<std::uint8_t>& tcp, std::vector<std::uint8_t>& udp) {
    tcp.clear();
    udp.clear();
    // The owners' descriptions are looked up right after the tables, and their first lookup
    // builds the package index, which takes about as long as the descriptor scan below; with
    // a second core both are done at once. Joined before returning.
    std::jthread prepareDescriptions;
    if (std::thread::hardware_concurrency() > 1) {
        try {
            prepareDescriptions = std::jthread([] {
                const std::lock_guard<std::mutex> guard(desktop::SystemKnowledgeLock());
                desktop::SystemKnowledge().prepare();
            });
        } catch (const std::system_error&) {
            // No thread to be had: the index is built on the first lookup as usual.
        }
    }
    std::vector<linuxnet::Endpoint> tcpRows;
    std::vector<linuxnet::Endpoint> udpRows;
    if (!linuxnet::collectEndpoints("/proc", linuxnet::Source::Auto, tcpRows, udpRows))
        return false;
    tcp = linuxnet::encodeTcpTable(tcpRows);
    udp = linuxnet::encodeUdpTable(udpRows);
    return true;
}

} // namespace os
