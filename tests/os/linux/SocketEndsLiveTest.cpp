// The destroy-group listener against the real kernel: TCP and UDP sockets on loopback, IPv4 and
// IPv6, announced as they end with their addresses and counters; a flood stays bounded.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <netinet/in.h>
#include <optional>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "os/SocketEnds.h"

namespace {

using namespace std::chrono_literals;

class Fd {
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd() { close(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    void close() {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd;
};

struct Address {
    sockaddr_storage storage{};
    socklen_t length = 0;
};

Address loopback(int family, std::uint16_t port = 0) {
    Address a;
    if (family == AF_INET) {
        auto* in = reinterpret_cast<sockaddr_in*>(&a.storage);
        in->sin_family = AF_INET;
        in->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        in->sin_port = htons(port);
        a.length = sizeof(sockaddr_in);
    } else {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&a.storage);
        in6->sin6_family = AF_INET6;
        in6->sin6_addr = in6addr_loopback;
        in6->sin6_port = htons(port);
        a.length = sizeof(sockaddr_in6);
    }
    return a;
}

std::uint16_t portOf(int fd) {
    sockaddr_storage s{};
    socklen_t length = sizeof s;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&s), &length) != 0)
        return 0;
    if (s.ss_family == AF_INET)
        return ntohs(reinterpret_cast<sockaddr_in*>(&s)->sin_port);
    return ntohs(reinterpret_cast<sockaddr_in6*>(&s)->sin6_port);
}

// The first announcement of a socket on local port `port` within a few seconds (the kernel
// sends them from a work queue, shortly after the close).
std::optional<os::SocketEnd> endOf(os::SocketEndListener& listener, os::Protocol protocol,
                                   std::uint16_t port) {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    std::vector<os::SocketEnd> ends;
    while (std::chrono::steady_clock::now() < deadline) {
        listener.wait(100ms);
        ends.clear();
        listener.take(ends);
        for (const os::SocketEnd& end : ends) {
            if (end.endpoint.protocol == protocol && end.endpoint.localPort == port)
                return end;
        }
    }
    return std::nullopt;
}

class SocketEndsLiveTest : public ::testing::TestWithParam<int> {};

TEST_P(SocketEndsLiveTest, AClosedConnectionIsAnnouncedWithAddressesAndCounters) {
    const int family = GetParam();
    os::SocketEndListener listener;
    ASSERT_TRUE(listener.listening());

    Fd server(::socket(family, SOCK_STREAM, 0));
    const Address any = loopback(family);
    ASSERT_EQ(::bind(server.get(), reinterpret_cast<const sockaddr*>(&any.storage), any.length), 0);
    ASSERT_EQ(::listen(server.get(), 4), 0);
    const std::uint16_t serverPort = portOf(server.get());
    Fd client(::socket(family, SOCK_STREAM, 0));
    const Address to = loopback(family, serverPort);
    ASSERT_EQ(::connect(client.get(), reinterpret_cast<const sockaddr*>(&to.storage), to.length),
              0);
    Fd accepted(::accept(server.get(), nullptr, nullptr));
    ASSERT_GE(accepted.get(), 0);
    ASSERT_EQ(::write(client.get(), "hello", 5), 5);
    char buffer[8];
    ASSERT_EQ(::read(accepted.get(), buffer, sizeof buffer), 5);
    ASSERT_EQ(::write(accepted.get(), "abc", 3), 3);
    ASSERT_EQ(::read(client.get(), buffer, sizeof buffer), 3);
    const std::uint16_t clientPort = portOf(client.get());
    client.close();

    const std::optional<os::SocketEnd> end = endOf(listener, os::Protocol::Tcp, clientPort);
    ASSERT_TRUE(end.has_value());
    const os::Endpoint& e = end->endpoint;
    EXPECT_EQ(e.family, family == AF_INET ? os::Family::V4 : os::Family::V6);
    EXPECT_EQ(e.remotePort, serverPort);
    EXPECT_EQ(e.localAddr, e.remoteAddr);
    EXPECT_EQ(family == AF_INET ? e.localAddr[0] : e.localAddr[15], family == AF_INET ? 127 : 1);
    EXPECT_NE(e.cookie, 0u);
    EXPECT_EQ(e.pid, 0u);
    ASSERT_TRUE(e.hasByteCounters);
    // Acknowledged sequence space: the 5 bytes, and the SYN and FIN once acknowledged.
    EXPECT_GE(e.bytesAcked, 5u);
    EXPECT_LE(e.bytesAcked, 7u);
    EXPECT_EQ(e.bytesReceived, 3u);
    const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
    EXPECT_LE(end->timeMs, now);
    EXPECT_GT(end->timeMs, now - 10000);
    EXPECT_GE(listener.threadCpuSeconds(), 0.0);
}

TEST_P(SocketEndsLiveTest, AClosedUdpSocketIsAnnounced) {
    const int family = GetParam();
    os::SocketEndListener listener;
    ASSERT_TRUE(listener.listening());
    Fd udp(::socket(family, SOCK_DGRAM, 0));
    const Address any = loopback(family);
    ASSERT_EQ(::bind(udp.get(), reinterpret_cast<const sockaddr*>(&any.storage), any.length), 0);
    const std::uint16_t port = portOf(udp.get());
    udp.close();
    const std::optional<os::SocketEnd> end = endOf(listener, os::Protocol::Udp, port);
    ASSERT_TRUE(end.has_value());
    EXPECT_EQ(end->endpoint.family, family == AF_INET ? os::Family::V4 : os::Family::V6);
    EXPECT_EQ(end->endpoint.state, 0u);
    EXPECT_FALSE(end->endpoint.hasByteCounters);
}

INSTANTIATE_TEST_SUITE_P(Families, SocketEndsLiveTest, ::testing::Values(AF_INET, AF_INET6),
                         [](const auto& info) { return info.param == AF_INET ? "V4" : "V6"; });

// Tens of thousands of ends within a second, with a small queue nobody empties meanwhile: the
// queue holds at most its capacity, the rest is counted as dropped, and the listener goes on.
TEST(SocketEndsFloodTest, AFloodIsBoundedAndCounted) {
    constexpr std::size_t Capacity = 1000;
    constexpr int Sockets = 30000;
    os::SocketEndListener listener(Capacity);
    ASSERT_TRUE(listener.listening());
    const Address any = loopback(AF_INET);
    for (int i = 0; i < Sockets; ++i) {
        Fd udp(::socket(AF_INET, SOCK_DGRAM, 0));
        ASSERT_EQ(::bind(udp.get(), reinterpret_cast<const sockaddr*>(&any.storage), any.length),
                  0);
    }
    // Let the kernel's work queue and the thread catch up.
    os::SocketEndCounts counts;
    for (int i = 0; i < 50; ++i) {
        ::usleep(100 * 1000);
        const os::SocketEndCounts now = listener.counts();
        if (now.received + now.queueDrops == counts.received + counts.queueDrops && i > 5)
            break;
        counts = now;
    }
    counts = listener.counts();
    std::vector<os::SocketEnd> ends;
    EXPECT_LE(listener.take(ends), Capacity);
    EXPECT_LE(ends.size(), Capacity);
    EXPECT_LE(counts.received, Capacity);
    EXPECT_GT(counts.queueDrops + counts.kernelDrops, 0u);
    EXPECT_EQ(counts.malformed, 0u);

    // Emptied, it takes announcements again.
    Fd udp(::socket(AF_INET, SOCK_DGRAM, 0));
    ASSERT_EQ(::bind(udp.get(), reinterpret_cast<const sockaddr*>(&any.storage), any.length), 0);
    const std::uint16_t port = portOf(udp.get());
    udp.close();
    EXPECT_TRUE(endOf(listener, os::Protocol::Udp, port).has_value());
}

} // namespace
