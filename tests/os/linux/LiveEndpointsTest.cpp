// The Linux layer against the real kernel: sockets this test opens on loopback must show up
// with this process as owner and the right states, by netlink and by /proc/net alike.
#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <chrono>
#include <csignal>
#include <map>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sched.h>
#include <set>
#include <span>
#include <string>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <vector>

#include "os/Endpoints.h"
#include "os/Processes.h"
#include "os/linux/LinuxEndpoints.h"
#include "snapshot/UnitGetTcpUdpTable.h"

using namespace os::linuxnet;

namespace {

class Socket {
public:
    explicit Socket(int fd) : m_fd(fd) {}
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    Socket(Socket&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
    ~Socket() { close(); }
    int fd() const { return m_fd; }
    void close() {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd;
};

std::uint16_t localPort(const Socket& s) {
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    if (::getsockname(s.fd(), reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return 0;
    if (addr.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port);
    return ntohs(reinterpret_cast<sockaddr_in*>(&addr)->sin_port);
}

sockaddr_in v4Address(const char* ip, std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    ::inet_pton(AF_INET, ip, &a.sin_addr);
    return a;
}

Socket tcp4Listener() {
    Socket s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_in a = v4Address("127.0.0.1", 0);
    EXPECT_EQ(::bind(s.fd(), reinterpret_cast<const sockaddr*>(&a), sizeof a), 0);
    EXPECT_EQ(::listen(s.fd(), 16), 0);
    return s;
}

Socket tcp6Listener(const char* ip, bool v6only) {
    Socket s(::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const int flag = v6only ? 1 : 0;
    EXPECT_EQ(::setsockopt(s.fd(), IPPROTO_IPV6, IPV6_V6ONLY, &flag, sizeof flag), 0);
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    ::inet_pton(AF_INET6, ip, &a.sin6_addr);
    EXPECT_EQ(::bind(s.fd(), reinterpret_cast<const sockaddr*>(&a), sizeof a), 0);
    EXPECT_EQ(::listen(s.fd(), 16), 0);
    return s;
}

Socket connectTo(std::uint16_t port) {
    Socket s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_in a = v4Address("127.0.0.1", port);
    EXPECT_EQ(::connect(s.fd(), reinterpret_cast<const sockaddr*>(&a), sizeof a), 0);
    return s;
}

Socket acceptFrom(const Socket& listener) {
    return Socket(::accept4(listener.fd(), nullptr, nullptr, SOCK_CLOEXEC));
}

Socket udp4() {
    Socket s(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    const sockaddr_in a = v4Address("127.0.0.1", 0);
    EXPECT_EQ(::bind(s.fd(), reinterpret_cast<const sockaddr*>(&a), sizeof a), 0);
    return s;
}

std::string selfExe() {
    char buf[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf);
    return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}

std::string baseName(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

struct Expected {
    const char* what;
    std::vector<File_Rec>* table;
    std::int32_t state;
    std::string local;
    std::uint16_t localPort;
    std::string remote;
    std::uint16_t remotePort;
    bool ownedBySelf;
};

const File_Rec* findRecord(const std::vector<File_Rec>& table, const Expected& e) {
    const File_Rec* found = nullptr;
    int count = 0;
    for (const File_Rec& rec : table) {
        if (rec.LocalAddr == e.local && rec.LocalPort == std::to_string(e.localPort) &&
            rec.RemoteAddr == e.remote &&
            rec.RemotePort == (e.remote.empty() ? "" : std::to_string(e.remotePort))) {
            found = &rec;
            ++count;
        }
    }
    EXPECT_LE(count, 1) << e.what << " listed twice";
    return found;
}

// Each expected record is listed once, owned by this process with its executable.
void expectOwnRecords(std::span<const Expected> expected) {
    const std::string pid = std::to_string(::getpid());
    const std::string path = selfExe();
    for (const Expected& e : expected) {
        SCOPED_TRACE(e.what);
        const File_Rec* rec = findRecord(*e.table, e);
        ASSERT_NE(rec, nullptr);
        EXPECT_EQ(rec->State, e.state);
        EXPECT_EQ(rec->PID, pid);
        EXPECT_EQ(rec->ProcName, baseName(path));
        EXPECT_EQ(rec->ProcPath, path);
        EXPECT_NE(rec->ProcStartTime, 0u);
        EXPECT_EQ(rec->Mark, "");
    }
}

// Polls a snapshot until `done` holds, for states the kernel reaches on its own.
template <typename Pred> bool pollSnapshot(Pred done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        GetTcpUdpTable();
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

TEST(LiveEndpointsTest, OwnSocketsAreFoundWithOwnerAndState) {
    EnableDebugPrivilege();
    const Socket listener = tcp4Listener();
    const std::uint16_t port = localPort(listener);
    const Socket client = connectTo(port);
    const Socket server = acceptFrom(listener);
    const std::uint16_t clientPort = localPort(client);
    const Socket udp = udp4();
    const Socket dual = tcp6Listener("::", false);
    const std::uint16_t dualPort = localPort(dual);
    const Socket client4 = connectTo(dualPort);
    const Socket accepted6 = acceptFrom(dual);
    const std::uint16_t client4Port = localPort(client4);
    const Socket v6only = tcp6Listener("::", true);
    const Socket loopback6 = tcp6Listener("::1", false);
    ASSERT_GE(server.fd(), 0);
    ASSERT_GE(accepted6.fd(), 0);

    GetTcpUdpTable();

    const Expected expected[] = {
        {"listener", &TcpRecords, 2, "127.0.0.1", port, "0.0.0.0", 0, true},
        {"client end", &TcpRecords, 5, "127.0.0.1", clientPort, "127.0.0.1", port, true},
        {"server end", &TcpRecords, 5, "127.0.0.1", port, "127.0.0.1", clientPort, true},
        {"UDP socket", &UdpRecords, 0, "127.0.0.1", localPort(udp), "", 0, true},
        {"dual-stack listener", &TcpRecords, 2, "0.0.0.0", dualPort, "0.0.0.0", 0, true},
        {"IPv4 client of it", &TcpRecords, 5, "127.0.0.1", client4Port, "127.0.0.1", dualPort,
         true},
        {"its IPv6 server end", &TcpRecords, 5, "127.0.0.1", dualPort, "127.0.0.1", client4Port,
         true},
    };
    expectOwnRecords(expected);
    for (const File_Rec& rec : TcpRecords) {
        EXPECT_NE(rec.LocalPort, std::to_string(localPort(v6only))) << "v6-only listener listed";
        EXPECT_NE(rec.LocalPort, std::to_string(localPort(loopback6))) << "IPv6 listener listed";
    }
}

TEST(LiveEndpointsTest, TimeWaitHasNoOwner) {
    const Socket listener = tcp4Listener();
    const std::uint16_t port = localPort(listener);
    Socket client = connectTo(port);
    Socket server = acceptFrom(listener);
    const std::uint16_t clientPort = localPort(client);
    // The side that closes first ends in TIME_WAIT, held by the kernel alone.
    client.close();
    server.close();
    const Expected timeWait{"closed client", &TcpRecords, 11,   "127.0.0.1",
                            clientPort,      "127.0.0.1", port, false};
    ASSERT_TRUE(pollSnapshot([&] {
        const File_Rec* rec = findRecord(TcpRecords, timeWait);
        return rec != nullptr && rec->State == 11;
    }));
    const File_Rec* rec = findRecord(TcpRecords, timeWait);
    ASSERT_NE(rec, nullptr);
    EXPECT_EQ(rec->PID, "0");
    EXPECT_EQ(rec->ProcName, "");
    EXPECT_EQ(rec->ProcPath, "");
}

// Thousands of sockets held by another process: the dump spans many netlink replies and the
// owner is found through that process's descriptors, each socket exactly once.
TEST(LiveEndpointsTest, ThousandsOfConnectionsOfAnotherProcessAppearOnceEach) {
    rlimit limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
    const rlim_t room = limit.rlim_max == RLIM_INFINITY ? 1u << 20 : limit.rlim_max;
    const int connections = static_cast<int>(std::min<rlim_t>(2000, (room - 64) / 2));
    ASSERT_GT(connections, 100);

    int ready[2];
    int hold[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(hold), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(ready[0]);
        ::close(hold[1]);
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
        std::vector<Socket> sockets;
        sockets.push_back(tcp4Listener());
        const std::uint16_t port = localPort(sockets.front());
        for (int i = 0; i < connections; ++i) {
            sockets.push_back(connectTo(port));
            sockets.push_back(acceptFrom(sockets.front()));
            if (sockets.back().fd() < 0)
                ::_exit(1);
        }
        if (::write(ready[1], &port, sizeof port) != sizeof port)
            ::_exit(1);
        char byte;
        while (::read(hold[0], &byte, 1) < 0) {
        }
        ::_exit(0);
    }
    ::close(ready[1]);
    ::close(hold[0]);
    std::uint16_t port = 0;
    const bool started = ::read(ready[0], &port, sizeof port) == sizeof port;
    if (started)
        GetTcpUdpTable();
    ::close(hold[1]);
    ::close(ready[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(started);

    const std::string portText = std::to_string(port);
    const std::string pid = std::to_string(child);
    std::map<std::pair<std::string, std::string>, int> seen;
    int clients = 0;
    int servers = 0;
    for (const File_Rec& rec : TcpRecords) {
        if (rec.LocalAddr != "127.0.0.1" || rec.RemoteAddr != "127.0.0.1" || rec.State != 5)
            continue;
        if (rec.RemotePort == portText)
            ++clients;
        else if (rec.LocalPort == portText)
            ++servers;
        else
            continue;
        EXPECT_EQ(rec.PID, pid);
        EXPECT_NE(rec.ProcStartTime, 0u);
        EXPECT_EQ(rec.ProcName, "linux_endpoints_live_test");
        ++seen[{rec.LocalPort, rec.RemotePort}];
    }
    EXPECT_EQ(clients, connections);
    EXPECT_EQ(servers, connections);
    for (const auto& [ends, count] : seen)
        EXPECT_EQ(count, 1) << ends.first << " -> " << ends.second;
}

TEST(LiveEndpointsTest, SocketSharedByTwoProcessesBelongsToTheLowerPid) {
    Socket listener = tcp4Listener();
    ASSERT_GE(listener.fd(), 0);
    const std::uint16_t port = localPort(listener);
    int hold[2];
    int ready[2];
    ASSERT_EQ(::pipe(hold), 0);
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Holds the inherited listener until the parent is done.
        ::close(hold[1]);
        ::close(ready[0]);
        char byte = 1;
        if (::write(ready[1], &byte, 1) != 1)
            ::_exit(1);
        while (::read(hold[0], &byte, 1) < 0) {
        }
        ::_exit(0);
    }
    ::close(hold[0]);
    ::close(ready[1]);
    char byte = 0;
    const bool started = ::read(ready[0], &byte, 1) == 1;
    std::vector<Endpoint> tcp;
    std::vector<Endpoint> udp;
    const bool collected = started && collectEndpoints("/proc", Source::Auto, tcp, udp);
    ::close(hold[1]);
    ::close(ready[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(collected);

    const auto lower = static_cast<std::uint32_t>(std::min(::getpid(), child));
    int rows = 0;
    for (const Endpoint& e : tcp) {
        if (e.localPort == port && e.state == 2) {
            ++rows;
            EXPECT_EQ(e.pid, lower);
        }
    }
    EXPECT_EQ(rows, 1);
}

using Key = std::tuple<std::uint32_t, std::array<std::uint8_t, 16>, std::uint16_t,
                       std::array<std::uint8_t, 16>, std::uint16_t, std::uint32_t>;

std::set<Key> keysFor(const std::vector<Endpoint>& rows, const std::set<std::uint16_t>& ports) {
    std::set<Key> keys;
    for (const Endpoint& e : rows) {
        if (ports.count(e.localPort) != 0 || ports.count(e.remotePort) != 0)
            keys.emplace(e.state, e.localAddr, e.localPort, e.remoteAddr, e.remotePort, e.pid);
    }
    return keys;
}

TEST(LiveEndpointsTest, ProcNetFallbackGivesTheSameEndpoints) {
    const Socket listener = tcp4Listener();
    const std::uint16_t port = localPort(listener);
    const Socket client = connectTo(port);
    const Socket server = acceptFrom(listener);
    const Socket udp = udp4();
    const Socket dual = tcp6Listener("::", false);
    const Socket client4 = connectTo(localPort(dual));
    const Socket accepted6 = acceptFrom(dual);
    // TCP and UDP ports are apart: another test's TCP connection may use this UDP port number.
    const std::set<std::uint16_t> tcpPorts = {port, localPort(dual)};
    const std::set<std::uint16_t> udpPorts = {localPort(udp)};

    std::vector<Endpoint> netlinkTcp;
    std::vector<Endpoint> netlinkUdp;
    ASSERT_TRUE(collectEndpoints("/proc", Source::Netlink, netlinkTcp, netlinkUdp));
    std::vector<Endpoint> procTcp;
    std::vector<Endpoint> procUdp;
    ASSERT_TRUE(collectEndpoints("/proc", Source::ProcNet, procTcp, procUdp));

    const std::set<Key> tcpKeys = keysFor(netlinkTcp, tcpPorts);
    EXPECT_EQ(tcpKeys.size(), 6u);
    EXPECT_EQ(tcpKeys, keysFor(procTcp, tcpPorts));
    const std::set<Key> udpKeys = keysFor(netlinkUdp, udpPorts);
    EXPECT_EQ(udpKeys.size(), 1u);
    EXPECT_EQ(udpKeys, keysFor(procUdp, udpPorts));
    for (const Key& key : tcpKeys)
        EXPECT_EQ(std::get<5>(key), static_cast<std::uint32_t>(::getpid()));
}

TEST(LiveEndpointsTest, TablesAreWellFormedAndSorted) {
    const Socket listener = tcp4Listener();
    const Socket udp = udp4();
    const Socket listener6 = tcp6Listener("::1", true);
    std::vector<os::Endpoint> tcp;
    std::vector<os::Endpoint> udpRows;
    ASSERT_TRUE(os::ReadEndpointTables(tcp, udpRows));
    EXPECT_GE(tcp.size(), 3u);
    EXPECT_GE(udpRows.size(), 1u);
    const auto key = [](const os::Endpoint& e) {
        return std::tie(e.family, e.localAddr, e.localPort, e.remoteAddr, e.remotePort);
    };
    for (const auto* rows : {&tcp, &udpRows}) {
        for (std::size_t i = 0; i < rows->size(); ++i) {
            const os::Endpoint& e = (*rows)[i];
            EXPECT_EQ(e.protocol, rows == &tcp ? os::Protocol::Tcp : os::Protocol::Udp);
            if (rows == &tcp) {
                EXPECT_TRUE(e.state >= 1 && e.state <= 12) << e.state;
            } else {
                EXPECT_EQ(e.state, 0u);
            }
            if (e.family == os::Family::V4) {
                EXPECT_TRUE(std::all_of(e.localAddr.begin() + 4, e.localAddr.end(),
                                        [](std::uint8_t b) { return b == 0; }));
                EXPECT_EQ(e.localScopeId, 0u);
            }
            if (i > 0) {
                EXPECT_FALSE(key(e) < key((*rows)[i - 1])) << i;
            }
        }
    }
}

std::uint64_t inodeOf(const Socket& s) {
    struct stat st {};
    return ::fstat(s.fd(), &st) == 0 ? st.st_ino : 0;
}

Socket tcp6ConnectTo(std::uint16_t port) {
    Socket s(::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_port = htons(port);
    a.sin6_addr = in6addr_loopback;
    EXPECT_EQ(::connect(s.fd(), reinterpret_cast<const sockaddr*>(&a), sizeof a), 0);
    return s;
}

TEST(LiveEndpointsTest, Ipv6ListenerAndConnectionOnLoopbackAreIpv6Records) {
    const Socket listener = tcp6Listener("::1", true);
    const std::uint16_t port = localPort(listener);
    const Socket client = tcp6ConnectTo(port);
    const Socket server = acceptFrom(listener);
    ASSERT_GE(server.fd(), 0);
    const std::uint16_t clientPort = localPort(client);

    Snapshot snapshot;
    TakeSnapshot(snapshot);
    const Expected expected[] = {
        {"IPv6 listener", &snapshot.Tcp6, 2, "::1", port, "::", 0, true},
        {"IPv6 client end", &snapshot.Tcp6, 5, "::1", clientPort, "::1", port, true},
        {"IPv6 server end", &snapshot.Tcp6, 5, "::1", port, "::1", clientPort, true},
    };
    expectOwnRecords(expected);
    for (const File_Rec& rec : snapshot.Tcp)
        EXPECT_NE(rec.LocalPort, std::to_string(port)) << "IPv6 endpoint among the IPv4 records";
}

TEST(LiveEndpointsTest, EverySocketHasAUserIdAndOwnSocketsTheirInodeAndStartTime) {
    const Socket listener = tcp4Listener();
    const Socket client = connectTo(localPort(listener));
    const Socket server = acceptFrom(listener);
    const Socket udp = udp4();
    const Socket listener6 = tcp6Listener("::1", true);
    const std::map<std::uint64_t, const char*> own = {{inodeOf(listener), "listener"},
                                                      {inodeOf(client), "client"},
                                                      {inodeOf(server), "server"},
                                                      {inodeOf(udp), "UDP"},
                                                      {inodeOf(listener6), "IPv6 listener"}};

    std::vector<Endpoint> tcp;
    std::vector<Endpoint> udpRows;
    ASSERT_TRUE(collectEndpoints("/proc", Source::Netlink, tcp, udpRows));
    std::set<std::uint64_t> seen;
    const std::uint64_t startTime = os::ProcessStartTime(static_cast<std::uint32_t>(::getpid()));
    ASSERT_NE(startTime, 0u);
    for (const auto* rows : {&tcp, &udpRows}) {
        for (const Endpoint& e : *rows) {
            EXPECT_NE(e.uid, os::NoUserId) << e.localPort;
            const auto it = own.find(e.inode);
            if (e.inode == 0 || it == own.end())
                continue;
            SCOPED_TRACE(it->second);
            seen.insert(e.inode);
            EXPECT_EQ(e.uid, ::geteuid());
            EXPECT_NE(e.cookie, 0u);
            EXPECT_EQ(e.pid, static_cast<std::uint32_t>(::getpid()));
            EXPECT_EQ(e.ownerStartTime, startTime);
            EXPECT_EQ(e.hasByteCounters, e.protocol == os::Protocol::Tcp);
        }
    }
    EXPECT_EQ(seen.size(), own.size());
}

TEST(LiveEndpointsTest, ConnectionThatSentOneMebibyteCountsAtLeastThat) {
    const Socket listener = tcp4Listener();
    const std::uint16_t port = localPort(listener);
    const Socket client = connectTo(port);
    const Socket server = acceptFrom(listener);
    ASSERT_GE(server.fd(), 0);
    const std::uint16_t clientPort = localPort(client);
    constexpr std::size_t Total = 1u << 20;
    std::thread reader([&] {
        std::vector<char> buffer(64 * 1024);
        std::size_t got = 0;
        while (got < Total) {
            const ssize_t n = ::read(server.fd(), buffer.data(), buffer.size());
            if (n <= 0)
                break;
            got += static_cast<std::size_t>(n);
        }
    });
    const std::vector<char> data(Total, 'k');
    std::size_t sent = 0;
    while (sent < Total) {
        const ssize_t n = ::write(client.fd(), data.data() + sent, Total - sent);
        if (n <= 0)
            break;
        sent += static_cast<std::size_t>(n);
    }
    reader.join();
    ASSERT_EQ(sent, Total);

    // The last acknowledgements may arrive a moment after the reader is done.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    std::uint64_t acked = 0;
    std::uint64_t received = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        std::vector<os::Endpoint> tcp;
        std::vector<os::Endpoint> udp;
        ASSERT_TRUE(os::ReadEndpointTables(tcp, udp));
        for (const os::Endpoint& e : tcp) {
            if (e.family != os::Family::V4 || e.state != 5 || !e.hasByteCounters)
                continue;
            if (e.localPort == clientPort && e.remotePort == port)
                acked = e.bytesAcked;
            if (e.localPort == port && e.remotePort == clientPort)
                received = e.bytesReceived;
        }
        if (acked >= Total && received >= Total)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_GE(acked, Total);
    EXPECT_GE(received, Total);
}

// A request that the listener has not yet accepted has no socket of its own: with
// TCP_DEFER_ACCEPT the server keeps it in SYN_RECV until data comes.
TEST(LiveEndpointsTest, HalfOpenConnectionBelongsToItsListener) {
    const Socket listener = tcp4Listener();
    const int wait = 30;
    ASSERT_EQ(::setsockopt(listener.fd(), IPPROTO_TCP, TCP_DEFER_ACCEPT, &wait, sizeof wait), 0);
    const std::uint16_t port = localPort(listener);
    const Socket client = connectTo(port);
    const std::uint16_t clientPort = localPort(client);

    const Expected request{"request", &TcpRecords, 4,          "127.0.0.1",
                           port,      "127.0.0.1", clientPort, true};
    ASSERT_TRUE(pollSnapshot([&] { return findRecord(TcpRecords, request) != nullptr; }));
    const File_Rec* rec = findRecord(TcpRecords, request);
    ASSERT_NE(rec, nullptr);
    EXPECT_EQ(rec->State, 4);
    EXPECT_EQ(rec->Inode, 0u);
    EXPECT_EQ(rec->PID, std::to_string(::getpid()));
    EXPECT_EQ(rec->ProcPath, selfExe());
    EXPECT_NE(rec->ProcStartTime, 0u);
}

// The second look for owners finds a socket made after the first pass over the processes.
TEST(LiveEndpointsTest, SocketMadeAfterTheFirstPassIsFoundByTheSecond) {
    SocketOwnerScan scan("/proc");
    InodeOwners before(1);
    scan.resolve(before);
    const Socket late = udp4();
    const std::uint64_t inode = inodeOf(late);
    ASSERT_NE(inode, 0u);
    InodeOwners owners(1);
    owners.add(inode);
    scan.resolveAgain(owners);
    ASSERT_NE(owners.find(inode), nullptr);
    EXPECT_EQ(owners.find(inode)->pid, static_cast<std::uint32_t>(::getpid()));
    EXPECT_EQ(owners.find(inode)->startTime,
              os::ProcessStartTime(static_cast<std::uint32_t>(::getpid())));
}

// Only a process whose descriptors were listed before a socket was seen can have missed it:
// the second look scans this process when the socket was seen after the first listing, and
// skips it when every socket still without an owner was seen before.
TEST(LiveEndpointsTest, SecondPassScansTheProcessesListedBeforeTheSocketWasSeen) {
    using Clock = std::chrono::steady_clock;
    for (const bool seenAfterListing : {true, false}) {
        SCOPED_TRACE(seenAfterListing ? "seen after the listing" : "seen before the listing");
        const Clock::time_point beforeScan = Clock::now();
        SocketOwnerScan scan("/proc");
        InodeOwners before(1);
        scan.resolve(before);
        const Socket late = udp4();
        const std::uint64_t inode = inodeOf(late);
        ASSERT_NE(inode, 0u);
        InodeOwners owners(1);
        owners.add(inode);
        scan.resolveAgain(owners, seenAfterListing ? Clock::now() : beforeScan);
        ASSERT_NE(owners.find(inode), nullptr);
        EXPECT_EQ(owners.find(inode)->pid,
                  seenAfterListing ? static_cast<std::uint32_t>(::getpid()) : 0u);
    }
}

// Every row read from the kernel carries a moment by which its socket existed: after the
// socket was made and no later than the end of the read.
TEST(LiveEndpointsTest, RowsCarryTheMomentTheyWereSeen) {
    using Clock = std::chrono::steady_clock;
    const Socket listener = tcp4Listener();
    const std::uint16_t port = localPort(listener);
    for (const bool netlink : {true, false}) {
        SCOPED_TRACE(netlink ? "netlink" : "/proc/net");
        const Clock::time_point start = Clock::now();
        std::vector<RawSocket> raw;
        if (netlink)
            ASSERT_EQ(dumpSockDiag(Protocol::Tcp, AF_INET, raw), DumpResult::Ok);
        else
            ASSERT_TRUE(readProcNet("/proc", Protocol::Tcp, raw));
        const Clock::time_point end = Clock::now();
        const auto it = std::find_if(raw.begin(), raw.end(), [&](const RawSocket& r) {
            return r.localPort == port && r.linuxState == 10;
        });
        ASSERT_NE(it, raw.end());
        EXPECT_GE(it->seenBy, start);
        EXPECT_LE(it->seenBy, end);
    }
}

// systemd passes a listening socket to the service it starts for it and keeps its own copy: the
// row belongs to the service. Run in a PID namespace of its own (root only), whose first process
// is PID 1 there, with that namespace's procfs.
TEST(LiveEndpointsTest, ListenerThatInitPassedToAServiceBelongsToTheService) {
    char dir[] = "/tmp/kestrel-pidns-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    int result[2];
    ASSERT_EQ(::pipe(result), 0);
    const pid_t outer = ::fork();
    ASSERT_GE(outer, 0);
    if (outer == 0) {
        ::close(result[0]);
        if (::unshare(CLONE_NEWPID | CLONE_NEWNS) != 0)
            ::_exit(77);
        const pid_t init = ::fork();
        if (init == 0) {
            if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                ::mount("proc", dir, "proc", 0, nullptr) != 0)
                ::_exit(77);
            const Socket passed = tcp4Listener();
            int hold[2];
            if (::pipe(hold) != 0)
                ::_exit(1);
            const pid_t service = ::fork();
            if (service == 0) {
                ::close(hold[1]);
                char byte = 0;
                while (::read(hold[0], &byte, 1) < 0) {
                }
                ::_exit(0);
            }
            ::close(hold[0]);
            const Socket own = tcp4Listener(); // made after the fork: init's alone
            std::vector<Endpoint> tcp;
            std::vector<Endpoint> udp;
            // The service's PID comes along: a runtime's own threads (a sanitizer's) take PIDs
            // of this namespace too, so it need not be 2.
            std::uint32_t owners[3] = {0, 0, static_cast<std::uint32_t>(service)};
            if (collectEndpoints(dir, Source::Netlink, tcp, udp)) {
                for (const Endpoint& e : tcp) {
                    if (e.state == 2 && e.localPort == localPort(passed))
                        owners[0] = e.pid;
                    if (e.state == 2 && e.localPort == localPort(own))
                        owners[1] = e.pid;
                }
            }
            ::close(hold[1]);
            ::waitpid(service, nullptr, 0);
            const bool written = ::write(result[1], owners, sizeof owners) == sizeof owners;
            ::_exit(written && ::getpid() == 1 && service > 1 ? 0 : 1);
        }
        int status = 0;
        if (init < 0 || ::waitpid(init, &status, 0) != init || !WIFEXITED(status))
            ::_exit(1);
        ::_exit(WEXITSTATUS(status));
    }
    ::close(result[1]);
    std::uint32_t owners[3] = {0, 0, 0};
    const bool read = ::read(result[0], owners, sizeof owners) == sizeof owners;
    ::close(result[0]);
    int status = 0;
    ::waitpid(outer, &status, 0);
    ::rmdir(dir);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77)
        GTEST_SKIP() << "no PID namespace of our own here (needs root)";
    ASSERT_EQ(WEXITSTATUS(status), 0);
    ASSERT_TRUE(read);
    EXPECT_EQ(owners[0], owners[2]) << "the listener init handed to the service";
    EXPECT_EQ(owners[1], 1u) << "a listener only init holds";
}

} // namespace
