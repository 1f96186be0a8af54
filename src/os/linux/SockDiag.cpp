#include "os/linux/LinuxEndpoints.h"
#include "os/linux/ProcFs.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstring>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sock_diag.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
#include <vector>

namespace os::linuxnet {

namespace {

// Kernel states that are not requested: bound-only sockets (kernel 6.5's TCP_BOUND_INACTIVE)
// are no endpoint.
constexpr std::uint32_t BoundInactiveState = 13;
constexpr int MaxDumpAttempts = 3;

void copyAddress(const __be32 (&src)[4], int family, std::array<std::uint8_t, 16>& dst) {
    dst.fill(0);
    std::memcpy(dst.data(), src, family == AF_INET ? 4 : 16);
}

// The byte counters of struct tcp_info, present when the kernel's copy reaches them.
void readTcpInfo(const std::uint8_t* data, std::size_t length, RawSocket& socket) {
    constexpr std::size_t acked = offsetof(tcp_info, tcpi_bytes_acked);
    constexpr std::size_t received = offsetof(tcp_info, tcpi_bytes_received);
    if (length < acked + sizeof(std::uint64_t) || length < received + sizeof(std::uint64_t))
        return;
    std::memcpy(&socket.bytesAcked, data + acked, sizeof(std::uint64_t));
    std::memcpy(&socket.bytesReceived, data + received, sizeof(std::uint64_t));
    socket.hasByteCounters = true;
}

bool parseDiagMessage(const std::uint8_t* payload, std::size_t length, RawSocket& socket) {
    if (length < sizeof(inet_diag_msg))
        return false;
    inet_diag_msg msg;
    std::memcpy(&msg, payload, sizeof msg);
    if (msg.idiag_family != AF_INET && msg.idiag_family != AF_INET6)
        return false;
    socket.family = msg.idiag_family;
    socket.linuxState = msg.idiag_state;
    copyAddress(msg.id.idiag_src, msg.idiag_family, socket.local);
    copyAddress(msg.id.idiag_dst, msg.idiag_family, socket.remote);
    socket.localPort = ntohs(msg.id.idiag_sport);
    socket.remotePort = ntohs(msg.id.idiag_dport);
    socket.inode = msg.idiag_inode;
    socket.uid = msg.idiag_uid;
    socket.interfaceIndex = msg.id.idiag_if;
    socket.cookie =
        static_cast<std::uint64_t>(msg.id.idiag_cookie[1]) << 32 | msg.id.idiag_cookie[0];
    // INET_DIAG_NOCOOKIE: a request socket, which has no cookie of its own.
    if (msg.id.idiag_cookie[0] == INET_DIAG_NOCOOKIE &&
        msg.id.idiag_cookie[1] == INET_DIAG_NOCOOKIE)
        socket.cookie = 0;
    socket.v6only = false;

    std::size_t offset = NLMSG_ALIGN(sizeof(inet_diag_msg));
    while (offset + sizeof(rtattr) <= length) {
        rtattr attr;
        std::memcpy(&attr, payload + offset, sizeof attr);
        if (attr.rta_len < sizeof(rtattr) || offset + attr.rta_len > length)
            break;
        const std::uint8_t* data = payload + offset + RTA_LENGTH(0);
        const std::size_t dataLength = attr.rta_len - RTA_LENGTH(0);
        if (attr.rta_type == INET_DIAG_SKV6ONLY && dataLength >= 1)
            socket.v6only = data[0] != 0;
        else if (attr.rta_type == INET_DIAG_INFO)
            readTcpInfo(data, dataLength, socket);
        offset += RTA_ALIGN(attr.rta_len);
    }
    return true;
}

// The errno of a negative status; any other status is no error. INT_MIN has no positive
// counterpart and counts as an unknown error.
int errnoOfStatus(int status) {
    if (status >= 0)
        return 0;
    return status == INT_MIN ? INT_MAX : -status;
}

} // namespace

bool parseSockDiagBuffer(const std::uint8_t* data, std::size_t length, DumpState& state,
                         std::vector<RawSocket>& out) {
    std::size_t offset = 0;
    while (offset < length) {
        if (length - offset < sizeof(nlmsghdr)) {
            state.malformed = true;
            return false;
        }
        nlmsghdr header;
        std::memcpy(&header, data + offset, sizeof header);
        if (header.nlmsg_len < sizeof(nlmsghdr) || header.nlmsg_len > length - offset) {
            state.malformed = true;
            return false;
        }
        const std::uint8_t* payload = data + offset + NLMSG_HDRLEN;
        const std::size_t payloadLength = header.nlmsg_len - NLMSG_HDRLEN;
        offset += NLMSG_ALIGN(header.nlmsg_len);

        if (header.nlmsg_seq != state.seq)
            continue;
        if (header.nlmsg_flags & NLM_F_DUMP_INTR)
            state.interrupted = true;

        if (header.nlmsg_type == NLMSG_DONE) {
            int status = 0;
            if (payloadLength >= sizeof status)
                std::memcpy(&status, payload, sizeof status);
            state.error = errnoOfStatus(status);
            state.done = true;
            return false;
        }
        if (header.nlmsg_type == NLMSG_ERROR) {
            nlmsgerr err{};
            if (payloadLength < sizeof(int)) {
                state.malformed = true;
                return false;
            }
            std::memcpy(&err.error, payload, sizeof err.error);
            // An acknowledgement (error 0) does not occur in a dump; treat it as an empty end.
            state.error = errnoOfStatus(err.error);
            state.done = true;
            return false;
        }
        if (header.nlmsg_type != SOCK_DIAG_BY_FAMILY)
            continue;
        RawSocket socket;
        if (!parseDiagMessage(payload, payloadLength, socket)) {
            state.malformed = true;
            return false;
        }
        out.push_back(socket);
    }
    return true;
}

namespace {

enum class Attempt { Ok, Refused, Failed, Retry };

Attempt dumpOnce(Protocol protocol, int family, std::uint32_t seq, std::size_t bufferSize,
                 bool lastAttempt, std::vector<RawSocket>& out) {
    const linuxfs::UniqueFd fd(::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
    if (!fd.valid())
        return Attempt::Refused;
    // The kernel answers at once; a reply that never comes must not hang the program.
    const timeval timeout{10, 0};
    if (::setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) != 0)
        return Attempt::Failed;

    struct {
        nlmsghdr header;
        inet_diag_req_v2 request;
    } message{};
    message.header.nlmsg_len = sizeof message;
    message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    message.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    message.header.nlmsg_seq = seq;
    message.request.sdiag_family = static_cast<std::uint8_t>(family);
    message.request.sdiag_protocol = protocol == Protocol::Tcp ? IPPROTO_TCP : IPPROTO_UDP;
    message.request.idiag_states = ~(1u << BoundInactiveState);
    // TCP's counters of bytes acknowledged and received; no privilege is needed for them.
    if (protocol == Protocol::Tcp)
        message.request.idiag_ext = 1u << (INET_DIAG_INFO - 1);

    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    ssize_t sent;
    do {
        sent = ::sendto(fd.get(), &message, sizeof message, 0,
                        reinterpret_cast<const sockaddr*>(&kernel), sizeof kernel);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0)
        return errno == EPERM || errno == EACCES ? Attempt::Refused : Attempt::Failed;
    if (static_cast<std::size_t>(sent) != sizeof message)
        return Attempt::Failed;

    std::vector<std::uint8_t> buffer(bufferSize);
    DumpState state;
    state.seq = seq;
    const std::size_t firstNew = out.size();
    for (;;) {
        iovec io{buffer.data(), buffer.size()};
        msghdr header{};
        header.msg_iov = &io;
        header.msg_iovlen = 1;
        const ssize_t received = ::recvmsg(fd.get(), &header, 0);
        if (received < 0) {
            if (errno == EINTR)
                continue;
            out.resize(firstNew);
            // ENOBUFS: replies were dropped for want of room; the dump is asked again.
            return errno == ENOBUFS ? Attempt::Retry : Attempt::Failed;
        }
        if (header.msg_flags & MSG_TRUNC) {
            // Part of the reply is lost; the dump cannot be resumed, so it is asked again with
            // room for the largest message the kernel may send.
            out.resize(firstNew);
            return Attempt::Retry;
        }
        if (received == 0) {
            out.resize(firstNew);
            return Attempt::Failed;
        }
        if (!parseSockDiagBuffer(buffer.data(), static_cast<std::size_t>(received), state, out))
            break;
    }
    if (state.malformed) {
        out.resize(firstNew);
        return Attempt::Failed;
    }
    if (state.error != 0) {
        out.resize(firstNew);
        // No diag module for this protocol or family, or a sandbox in the way.
        if (state.error == ENOENT || state.error == EPERM || state.error == EACCES ||
            state.error == EOPNOTSUPP || state.error == EINVAL || state.error == EAFNOSUPPORT ||
            state.error == EPROTONOSUPPORT)
            return Attempt::Refused;
        return Attempt::Failed;
    }
    // A dump that raced with changes may list a socket twice or miss one; it is asked again,
    // and the last try is kept as it is (duplicates are dropped later).
    if (state.interrupted && !lastAttempt) {
        out.resize(firstNew);
        return Attempt::Retry;
    }
    return Attempt::Ok;
}

} // namespace

DumpResult dumpSockDiag(Protocol protocol, int family, std::vector<RawSocket>& out) {
    // Snapshots may be taken on more than one thread (the window's worker, the first fill).
    static std::atomic<std::uint32_t> nextSeq{1};
    std::size_t bufferSize = 64 * 1024;
    const std::size_t firstNew = out.size();
    for (int attempt = 1;; ++attempt) {
        const Attempt result = dumpOnce(protocol, family, nextSeq.fetch_add(1), bufferSize,
                                        attempt == MaxDumpAttempts, out);
        switch (result) {
        case Attempt::Ok:
            return DumpResult::Ok;
        case Attempt::Refused:
            return DumpResult::Refused;
        case Attempt::Failed:
            return DumpResult::Failed;
        case Attempt::Retry:
            break;
        }
        if (attempt == MaxDumpAttempts) {
            out.resize(firstNew);
            return DumpResult::Failed;
        }
        bufferSize *= 4;
    }
}

} // namespace os::linuxnet

namespace os::linuxnet {

namespace {

// One request that names one socket; the reply is that socket (SOCK_DIAG_BY_FAMILY) or an
// acknowledgement (SOCK_DESTROY). 0 or the errno.
int exchange(std::uint16_t type, const SocketId& id, RawSocket* found) {
    const linuxfs::UniqueFd fd(::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
    if (!fd.valid())
        return errno;
    const timeval timeout{5, 0};
    if (::setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) != 0)
        return errno;

    // Apart from the dumps' numbers, and safe from any thread.
    static std::atomic<std::uint32_t> nextSeq{0x40000000};
    struct {
        nlmsghdr header;
        inet_diag_req_v2 request;
    } message{};
    message.header.nlmsg_len = sizeof message;
    message.header.nlmsg_type = type;
    message.header.nlmsg_flags = NLM_F_REQUEST | (found ? 0 : NLM_F_ACK);
    message.header.nlmsg_seq = nextSeq.fetch_add(1, std::memory_order_relaxed);
    message.request.sdiag_family = static_cast<std::uint8_t>(id.family);
    message.request.sdiag_protocol = IPPROTO_TCP;
    message.request.idiag_states = ~0u;
    message.request.id.idiag_sport = htons(id.localPort);
    message.request.id.idiag_dport = htons(id.remotePort);
    std::memcpy(message.request.id.idiag_src, id.local.data(), 16);
    std::memcpy(message.request.id.idiag_dst, id.remote.data(), 16);
    message.request.id.idiag_if = id.interfaceIndex;
    if (id.cookie == 0) {
        message.request.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
        message.request.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
    } else {
        message.request.id.idiag_cookie[0] = static_cast<std::uint32_t>(id.cookie);
        message.request.id.idiag_cookie[1] = static_cast<std::uint32_t>(id.cookie >> 32);
    }

    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    ssize_t sent;
    do {
        sent = ::sendto(fd.get(), &message, sizeof message, 0,
                        reinterpret_cast<const sockaddr*>(&kernel), sizeof kernel);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0)
        return errno;

    std::vector<std::uint8_t> buffer(16 * 1024);
    DumpState state;
    state.seq = message.header.nlmsg_seq;
    std::vector<RawSocket> sockets;
    for (;;) {
        const ssize_t received = ::recv(fd.get(), buffer.data(), buffer.size(), 0);
        if (received < 0 && errno == EINTR)
            continue;
        if (received < 0)
            return errno;
        if (received == 0)
            return EPROTO;
        const bool more =
            parseSockDiagBuffer(buffer.data(), static_cast<std::size_t>(received), state, sockets);
        if (state.malformed)
            return EPROTO;
        if (state.done)
            return state.error;
        if (found && !sockets.empty()) {
            *found = sockets.front();
            return 0;
        }
        if (!more)
            return EPROTO;
    }
}

} // namespace

int querySocket(const SocketId& id, RawSocket& found) {
    return exchange(SOCK_DIAG_BY_FAMILY, id, &found);
}

int destroySocket(const SocketId& id) {
    return exchange(SOCK_DESTROY, id, nullptr);
}

int findTcpSocket(const Endpoint& endpoint, SocketId& id, RawSocket& found) {
    if (endpoint.protocol != Protocol::Tcp)
        return ENOENT;
    id = SocketId{};
    id.family = endpoint.family == Family::V4 ? AF_INET : AF_INET6;
    id.local = endpoint.localAddr;
    id.remote = endpoint.remoteAddr;
    id.localPort = endpoint.localPort;
    id.remotePort = endpoint.remotePort;
    id.interfaceIndex = endpoint.family == Family::V6 ? endpoint.localScopeId : 0;
    id.cookie = endpoint.cookie;
    int error = querySocket(id, found);
    if (error != ENOENT || endpoint.family != Family::V4)
        return error;
    // An IPv4 connection of a dual-stack socket, which the kernel may file under AF_INET6.
    SocketId mapped = id;
    mapped.family = AF_INET6;
    for (auto* address : {&mapped.local, &mapped.remote}) {
        address->fill(0);
        (*address)[10] = 0xff;
        (*address)[11] = 0xff;
    }
    std::memcpy(mapped.local.data() + 12, endpoint.localAddr.data(), 4);
    std::memcpy(mapped.remote.data() + 12, endpoint.remoteAddr.data(), 4);
    error = querySocket(mapped, found);
    if (error == 0)
        id = mapped;
    return error;
}

} // namespace os::linuxnet
