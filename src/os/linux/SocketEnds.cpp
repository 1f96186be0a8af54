// The sock_diag destroy groups: the kernel announces each user socket of this network namespace
// as it is freed, to any listener, without privilege (Linux 4.2).
#include "os/SocketEnds.h"
#include "os/linux/LinuxEndpoints.h"
#include "os/linux/ProcFs.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <ctime>
#include <deque>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#ifndef SOL_NETLINK
#define SOL_NETLINK 270
#endif

namespace os {

namespace {

// Room for a burst of announcements while the thread is not scheduled (each takes about 1 KB
// of the buffer); the kernel may cap it for users without CAP_NET_ADMIN.
constexpr int ReceiveBufferBytes = 16 * 1024 * 1024;
constexpr unsigned BatchSize = 64;
constexpr std::size_t MessageRoom = 8192;

struct Group {
    unsigned number;
    std::uint8_t protocol;
};
constexpr std::array<Group, 4> Groups = {{{SKNLGRP_INET_TCP_DESTROY, IPPROTO_TCP},
                                          {SKNLGRP_INET_UDP_DESTROY, IPPROTO_UDP},
                                          {SKNLGRP_INET6_TCP_DESTROY, IPPROTO_TCP},
                                          {SKNLGRP_INET6_UDP_DESTROY, IPPROTO_UDP}}};

std::int64_t nowMs() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// The protocol of the group a message came from (the sender's address names it).
std::uint8_t groupProtocol(const sockaddr_nl& sender) {
    for (const Group& g : Groups) {
        if (sender.nl_groups & (1u << (g.number - 1)))
            return g.protocol;
    }
    return 0;
}

} // namespace

struct SocketEndListener::State {
    std::size_t capacity = 0;
    linuxfs::UniqueFd netlink;
    linuxfs::UniqueFd stop;
    std::thread thread;
    std::atomic<bool> threadStarted{false};
    pthread_t threadHandle{};

    mutable std::mutex mutex;
    std::condition_variable queued;
    std::deque<SocketEnd> queue;
    SocketEndCounts counts;

    bool open();
    void run();
    void deliver(const std::vector<linuxnet::RawSocket>& raw, std::int64_t timeMs,
                 std::size_t broken);
};

bool SocketEndListener::State::open() {
    linuxfs::UniqueFd fd(
        ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_SOCK_DIAG));
    if (!fd.valid())
        return false;
    // Privileged callers get the whole buffer; the others what the system allows them.
    if (::setsockopt(fd.get(), SOL_SOCKET, SO_RCVBUFFORCE, &ReceiveBufferBytes,
                     sizeof ReceiveBufferBytes) != 0)
        ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVBUF, &ReceiveBufferBytes,
                     sizeof ReceiveBufferBytes);
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0)
        return false;
    // The IPv6 groups fail where IPv6 is disabled; the IPv4 ones must be there.
    for (const Group& g : Groups) {
        const int number = static_cast<int>(g.number);
        if (::setsockopt(fd.get(), SOL_NETLINK, NETLINK_ADD_MEMBERSHIP, &number, sizeof number) !=
                0 &&
            (g.number == SKNLGRP_INET_TCP_DESTROY || g.number == SKNLGRP_INET_UDP_DESTROY))
            return false;
    }
    linuxfs::UniqueFd wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!wake.valid())
        return false;
    netlink = std::move(fd);
    stop = std::move(wake);
    return true;
}

void SocketEndListener::State::deliver(const std::vector<linuxnet::RawSocket>& raw,
                                       std::int64_t timeMs, std::size_t broken) {
    std::vector<SocketEnd> ends;
    ends.reserve(raw.size());
    for (const linuxnet::RawSocket& socket : raw) {
        const Protocol protocol = socket.protocol == IPPROTO_UDP ? Protocol::Udp : Protocol::Tcp;
        if (socket.protocol != IPPROTO_TCP && socket.protocol != IPPROTO_UDP)
            continue;
        SocketEnd end;
        end.timeMs = timeMs;
        // A socket made and closed without being bound or connected was never an endpoint.
        if (!linuxnet::toEndpoint(socket, protocol, end.endpoint) || end.endpoint.localPort == 0)
            continue;
        end.endpoint.inode = 0;
        end.endpoint.uid = NoUserId;
        ends.push_back(end);
    }
    {
        const std::lock_guard lock(mutex);
        counts.malformed += broken;
        for (const SocketEnd& end : ends) {
            if (queue.size() >= capacity) {
                ++counts.queueDrops;
                continue;
            }
            queue.push_back(end);
            ++counts.received;
        }
    }
    if (!ends.empty())
        queued.notify_all();
}

void SocketEndListener::State::run() {
    std::vector<std::uint8_t> buffers(BatchSize * MessageRoom);
    std::array<iovec, BatchSize> io{};
    std::array<sockaddr_nl, BatchSize> senders{};
    std::array<mmsghdr, BatchSize> messages{};
    std::vector<linuxnet::RawSocket> raw;
    for (;;) {
        std::array<pollfd, 2> fds{{{netlink.get(), POLLIN, 0}, {stop.get(), POLLIN, 0}}};
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents != 0)
            return;
        // Everything that is there, in batches, until the socket is empty.
        for (;;) {
            for (unsigned i = 0; i < BatchSize; ++i) {
                io[i] = {buffers.data() + i * MessageRoom, MessageRoom};
                messages[i] = {};
                messages[i].msg_hdr.msg_iov = &io[i];
                messages[i].msg_hdr.msg_iovlen = 1;
                messages[i].msg_hdr.msg_name = &senders[i];
                messages[i].msg_hdr.msg_namelen = sizeof senders[i];
            }
            const int got =
                ::recvmmsg(netlink.get(), messages.data(), BatchSize, MSG_DONTWAIT, nullptr);
            if (got < 0) {
                if (errno == ENOBUFS) {
                    const std::lock_guard lock(mutex);
                    ++counts.kernelDrops;
                    continue;
                }
                if (errno == EINTR)
                    continue;
                break; // EAGAIN: empty
            }
            const std::int64_t timeMs = nowMs();
            raw.clear();
            std::size_t broken = 0;
            for (int i = 0; i < got; ++i) {
                const std::uint8_t* data =
                    buffers.data() + static_cast<std::size_t>(i) * MessageRoom;
                const std::size_t length = messages[i].msg_len;
                if (messages[i].msg_hdr.msg_flags & MSG_TRUNC) {
                    ++broken;
                    continue;
                }
                broken +=
                    linuxnet::parseSocketEndBuffer(data, length, groupProtocol(senders[i]), raw);
            }
            deliver(raw, timeMs, broken);
            if (static_cast<unsigned>(got) < BatchSize)
                break;
        }
    }
}

SocketEndListener::SocketEndListener(std::size_t capacity) : m_state(std::make_unique<State>()) {
    m_state->capacity = capacity == 0 ? 1 : capacity;
    if (!m_state->open())
        return;
    State* state = m_state.get();
    m_state->thread = std::thread([state] { state->run(); });
    m_state->threadHandle = m_state->thread.native_handle();
    m_state->threadStarted = true;
}

SocketEndListener::~SocketEndListener() {
    if (m_state->thread.joinable()) {
        // An eventfd below its maximum always takes the write.
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(m_state->stop.get(), &one, sizeof one);
        m_state->thread.join();
    }
}

bool SocketEndListener::listening() const {
    return m_state->threadStarted;
}

std::size_t SocketEndListener::take(std::vector<SocketEnd>& out) {
    const std::lock_guard lock(m_state->mutex);
    const std::size_t n = m_state->queue.size();
    out.insert(out.end(), m_state->queue.begin(), m_state->queue.end());
    m_state->queue.clear();
    return n;
}

bool SocketEndListener::wait(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_state->mutex);
    return m_state->queued.wait_for(lock, timeout, [this] { return !m_state->queue.empty(); });
}

SocketEndCounts SocketEndListener::counts() const {
    const std::lock_guard lock(m_state->mutex);
    return m_state->counts;
}

double SocketEndListener::threadCpuSeconds() const {
    if (!m_state->threadStarted)
        return -1;
    clockid_t clock{};
    timespec used{};
    if (::pthread_getcpuclockid(m_state->threadHandle, &clock) != 0 ||
        ::clock_gettime(clock, &used) != 0)
        return -1;
    return static_cast<double>(used.tv_sec) + static_cast<double>(used.tv_nsec) / 1e9;
}

} // namespace os
