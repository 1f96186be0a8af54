// Closing one connection against the real kernel: loopback connections of this process, over
// IPv4, IPv6 and the IPv4 traffic of a dual-stack socket. The peer sees the connection aborted
// and the next snapshot no longer lists it; a cookie of another socket closes nothing.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <linux/capability.h>
#include <netinet/in.h>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

#include "os/ConnectionControl.h"
#include "os/Endpoints.h"

namespace {

bool holdsNetAdmin() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
    return ::syscall(SYS_capget, &header, data) == 0 &&
           ((data[CAP_NET_ADMIN / 32].effective >> (CAP_NET_ADMIN % 32)) & 1u);
}

class Fd {
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(Fd&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
    Fd& operator=(Fd&&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

std::uint16_t portOf(int fd) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 0;
    return ntohs(address.ss_family == AF_INET
                     ? reinterpret_cast<sockaddr_in*>(&address)->sin_port
                     : reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
}

// A connected loopback pair: `client` connected to `server`, accepted from a listener.
struct Pair {
    Fd listener;
    Fd client;
    Fd server;
};

enum class Kind { V4, V6, DualStack };

std::optional<Pair> connectedPair(Kind kind) {
    const int family = kind == Kind::V4 ? AF_INET : AF_INET6;
    Pair pair{Fd(::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0)),
              Fd(::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0)), Fd()};
    sockaddr_storage address{};
    socklen_t length = 0;
    if (family == AF_INET) {
        auto* in = reinterpret_cast<sockaddr_in*>(&address);
        in->sin_family = AF_INET;
        in->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        length = sizeof *in;
    } else {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&address);
        in6->sin6_family = AF_INET6;
        if (kind == Kind::V6)
            in6->sin6_addr = in6addr_loopback;
        else
            ::inet_pton(AF_INET6, "::ffff:127.0.0.1", &in6->sin6_addr);
        length = sizeof *in6;
        const int off = 0;
        ::setsockopt(pair.listener.get(), IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    }
    if (::bind(pair.listener.get(), reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(pair.listener.get(), 4) != 0 ||
        ::getsockname(pair.listener.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        ::connect(pair.client.get(), reinterpret_cast<sockaddr*>(&address), length) != 0)
        return std::nullopt;
    Fd accepted(::accept4(pair.listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (accepted.get() < 0)
        return std::nullopt;
    return Pair{std::move(pair.listener), std::move(pair.client), std::move(accepted)};
}

// The client's connection in a new snapshot.
std::optional<os::Endpoint> clientRow(const Pair& pair) {
    std::vector<os::Endpoint> tcp;
    std::vector<os::Endpoint> udp;
    if (!os::ReadEndpointTables(tcp, udp))
        return std::nullopt;
    const std::uint16_t local = portOf(pair.client.get());
    const std::uint16_t remote = portOf(pair.server.get());
    for (const os::Endpoint& e : tcp) {
        if (e.localPort == local && e.remotePort == remote && e.state == 5)
            return e;
    }
    return std::nullopt;
}

int receiveError(int fd) {
    char byte = 0;
    const ssize_t n = ::recv(fd, &byte, 1, MSG_DONTWAIT);
    return n < 0 ? errno : 0;
}

struct FamilyCase {
    Kind kind;
    os::Family rowFamily;
    const char* name;
};

constexpr FamilyCase Families[] = {
    {Kind::V4, os::Family::V4, "IPv4"},
    {Kind::V6, os::Family::V6, "IPv6"},
    {Kind::DualStack, os::Family::V4, "IPv4 on a dual-stack socket"},
};

} // namespace

TEST(CloseConnection, OwnConnectionIsAbortedAndGoneFromTheNextSnapshot) {
    if (!holdsNetAdmin())
        GTEST_SKIP() << "needs CAP_NET_ADMIN (the helper's path runs in helper_client_test)";
    for (const FamilyCase& c : Families) {
        SCOPED_TRACE(c.name);
        auto pair = connectedPair(c.kind);
        if (!pair && c.kind != Kind::V4)
            continue; // no IPv6 on this machine
        ASSERT_TRUE(pair);
        const auto row = clientRow(*pair);
        ASSERT_TRUE(row);
        EXPECT_EQ(row->family, c.rowFamily);
        EXPECT_NE(row->cookie, 0u);
        EXPECT_TRUE(os::CanCloseConnection(*row));

        EXPECT_EQ(os::CloseConnection(*row), os::CloseConnectionResult::Closed);
        EXPECT_EQ(receiveError(pair->server.get()), ECONNRESET) << "the peer sees the abort";
        EXPECT_EQ(receiveError(pair->client.get()), ECONNABORTED);
        EXPECT_FALSE(clientRow(*pair));
        EXPECT_EQ(os::CloseConnection(*row), os::CloseConnectionResult::Gone);
    }
}

TEST(CloseConnection, AnotherCookieOnTheSamePortsClosesNothing) {
    auto pair = connectedPair(Kind::V4);
    ASSERT_TRUE(pair);
    auto row = clientRow(*pair);
    ASSERT_TRUE(row);
    for (std::uint64_t cookie : {row->cookie + 1, std::uint64_t{0}}) {
        os::Endpoint other = *row;
        other.cookie = cookie;
        EXPECT_EQ(os::CloseConnection(other), os::CloseConnectionResult::Gone) << cookie;
    }
    // A port nobody uses.
    os::Endpoint nobody = *row;
    nobody.remotePort = portOf(pair->listener.get()) == 1 ? 2 : 1;
    EXPECT_EQ(os::CloseConnection(nobody), os::CloseConnectionResult::Gone);
    EXPECT_EQ(::send(pair->client.get(), "x", 1, MSG_NOSIGNAL), 1);
    char byte = 0;
    EXPECT_EQ(::recv(pair->server.get(), &byte, 1, 0), 1) << "the connection still works";
}

TEST(CloseConnection, OnlyTcpConnectionsCanBeClosed) {
    os::Endpoint udp;
    udp.protocol = os::Protocol::Udp;
    udp.cookie = 1;
    EXPECT_FALSE(os::CanCloseConnection(udp));
    EXPECT_EQ(os::CloseConnection(udp), os::CloseConnectionResult::NotSupported);
    os::Endpoint tcp6;
    tcp6.family = os::Family::V6;
    EXPECT_TRUE(os::CanCloseConnection(tcp6));
}
