// The connection log fed by the real kernel: its snapshots and its announced ends, for loopback
// sockets this test opens and closes, TCP and UDP, IPv4 and IPv6.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "list/ConnectionLog.h"
#include "os/SocketEnds.h"

namespace {

using namespace std::chrono_literals;

std::int64_t nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

struct Loopback {
    int family;
    sockaddr_storage storage{};
    socklen_t length = 0;
    explicit Loopback(int f, std::uint16_t port = 0) : family(f) {
        if (f == AF_INET) {
            auto* in = reinterpret_cast<sockaddr_in*>(&storage);
            in->sin_family = AF_INET;
            in->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            in->sin_port = htons(port);
            length = sizeof(sockaddr_in);
        } else {
            auto* in6 = reinterpret_cast<sockaddr_in6*>(&storage);
            in6->sin6_family = AF_INET6;
            in6->sin6_addr = in6addr_loopback;
            in6->sin6_port = htons(port);
            length = sizeof(sockaddr_in6);
        }
    }
    const sockaddr* address() const { return reinterpret_cast<const sockaddr*>(&storage); }
};

std::uint16_t portOf(int fd) {
    sockaddr_storage s{};
    socklen_t length = sizeof s;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&s), &length);
    return s.ss_family == AF_INET ? ntohs(reinterpret_cast<sockaddr_in*>(&s)->sin_port)
                                  : ntohs(reinterpret_cast<sockaddr_in6*>(&s)->sin6_port);
}

// A connected pair on loopback: the client's and the accepted socket, the listener closed.
struct Pair {
    int client = -1;
    int accepted = -1;
    std::uint16_t clientPort = 0;
    std::uint16_t serverPort = 0;
    explicit Pair(int family) {
        const int server = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const Loopback any(family);
        if (::bind(server, any.address(), any.length) != 0 || ::listen(server, 1) != 0)
            return;
        serverPort = portOf(server);
        client = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const Loopback to(family, serverPort);
        if (::connect(client, to.address(), to.length) != 0)
            return;
        accepted = ::accept4(server, nullptr, nullptr, SOCK_CLOEXEC);
        ::close(server);
        clientPort = portOf(client);
    }
    void close() {
        ::close(client);
        ::close(accepted);
    }
};

class ConnectionLogLiveTest : public ::testing::TestWithParam<int> {
protected:
    void refresh() {
        TakeSnapshot(m_snapshot);
        m_log.addSnapshot(m_snapshot, nowMs());
    }
    // Takes announced ends until one of `protocol` on local port `port` is logged; the event.
    const LogEvent* waitForEnd(os::Protocol protocol, std::uint16_t port) {
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        std::vector<os::SocketEnd> ends;
        while (std::chrono::steady_clock::now() < deadline) {
            m_listener.wait(100ms);
            ends.clear();
            m_listener.take(ends);
            m_log.addSocketEnds(ends);
            for (std::size_t i = 0; i < m_log.size(); ++i) {
                const LogEvent& e = m_log.newest(i);
                if (e.kind == LogEventKind::Close && e.protocol == protocol && e.localPort == port)
                    return &e;
            }
        }
        return nullptr;
    }
    std::string loopbackText() const { return GetParam() == AF_INET ? "127.0.0.1" : "::1"; }

    os::SocketEndListener m_listener;
    ConnectionLog m_log{true};
    Snapshot m_snapshot;
};

TEST_P(ConnectionLogLiveTest, AConnectionBetweenTwoSnapshotsIsLoggedWithItsAddresses) {
    ASSERT_TRUE(m_listener.listening());
    refresh();
    Pair pair(GetParam());
    ASSERT_GE(pair.accepted, 0);
    pair.close();
    const LogEvent* end = waitForEnd(os::Protocol::Tcp, pair.clientPort);
    ASSERT_NE(end, nullptr);
    EXPECT_EQ(end->source, LogSource::Announced);
    EXPECT_EQ(end->localAddr, loopbackText());
    EXPECT_EQ(end->remoteAddr, loopbackText());
    EXPECT_EQ(end->remotePort, pair.serverPort);
    EXPECT_FALSE(end->owner); // no snapshot saw it
    EXPECT_EQ(end->durationMs, -1);
    EXPECT_GE(m_log.ownerNotSeen(), 1u);
}

TEST_P(ConnectionLogLiveTest, AConnectionSeenInASnapshotIsLoggedWithItsOwner) {
    ASSERT_TRUE(m_listener.listening());
    refresh();
    Pair pair(GetParam());
    ASSERT_GE(pair.accepted, 0);
    ASSERT_EQ(::write(pair.client, "hello", 5), 5);
    char buffer[8];
    ASSERT_EQ(::read(pair.accepted, buffer, sizeof buffer), 5);
    refresh();
    // Its opening, found by the refresh.
    bool opened = false;
    for (std::size_t i = 0; i < m_log.size(); ++i) {
        const LogEvent& e = m_log.newest(i);
        opened |= e.kind == LogEventKind::Open && e.localPort == pair.clientPort && e.owner &&
                  e.owner->pid == static_cast<std::uint32_t>(::getpid());
    }
    EXPECT_TRUE(opened);
    pair.close();
    const LogEvent* end = waitForEnd(os::Protocol::Tcp, pair.clientPort);
    ASSERT_NE(end, nullptr);
    ASSERT_TRUE(end->owner);
    EXPECT_EQ(end->owner->pid, static_cast<std::uint32_t>(::getpid()));
    EXPECT_FALSE(end->owner->path.empty());
    EXPECT_GE(end->durationMs, 0);
    EXPECT_TRUE(end->hasBytes);
    EXPECT_GE(end->bytesSent, 5u);
}

TEST_P(ConnectionLogLiveTest, AUdpSocketSeenInASnapshotIsLoggedWithItsOwner) {
    ASSERT_TRUE(m_listener.listening());
    refresh();
    const int udp = ::socket(GetParam(), SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const Loopback any(GetParam());
    ASSERT_EQ(::bind(udp, any.address(), any.length), 0);
    const std::uint16_t port = portOf(udp);
    refresh();
    ::close(udp);
    const LogEvent* end = waitForEnd(os::Protocol::Udp, port);
    ASSERT_NE(end, nullptr);
    EXPECT_EQ(end->localAddr, loopbackText());
    EXPECT_EQ(end->family, GetParam() == AF_INET ? os::Family::V4 : os::Family::V6);
    ASSERT_TRUE(end->owner);
    EXPECT_EQ(end->owner->pid, static_cast<std::uint32_t>(::getpid()));
}

INSTANTIATE_TEST_SUITE_P(Families, ConnectionLogLiveTest, ::testing::Values(AF_INET, AF_INET6),
                         [](const auto& info) { return info.param == AF_INET ? "V4" : "V6"; });

} // namespace
