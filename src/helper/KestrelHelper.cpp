// kestrel-helper: the one part of Kestrel that holds capabilities (cap_dac_read_search and
// cap_sys_ptrace, and cap_net_admin, as file capabilities). It tells the program that started
// it which process holds which socket, and closes a TCP connection of that program's own user
// on request, over the socket it inherits on descriptor 3, and does nothing else.
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <linux/capability.h>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

#include "helper/HelperPolicy.h"
#include "helper/HelperProtocol.h"
#include "helper/HelperScan.h"
#include "os/linux/LinuxEndpoints.h"
#include "os/linux/ProcFs.h"

namespace {

enum Exit { Ended = 0, Usage = 2, Refused = 3, NoParent = 4, ProtocolError = 5, WriteFailed = 6 };

// A request that has begun must be complete within this time; between requests the parent may
// stay silent as long as it likes.
constexpr int RequestMillis = 5000;
// The parent reads a reply once it has read the tables, well within this time.
constexpr int SendTimeoutSeconds = 10;

struct CapabilitySets {
    __user_cap_header_struct header{};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};

    std::uint64_t permitted() const {
        return static_cast<std::uint64_t>(data[1].permitted) << 32 | data[0].permitted;
    }
    std::uint64_t effective() const {
        return static_cast<std::uint64_t>(data[1].effective) << 32 | data[0].effective;
    }
};

bool readCapabilities(CapabilitySets& caps) {
    caps.header.version = _LINUX_CAPABILITY_VERSION_3;
    caps.header.pid = 0;
    return ::syscall(SYS_capget, &caps.header, caps.data) == 0;
}

std::uint64_t ambientCapabilities() {
    std::uint64_t ambient = 0;
    for (int cap = 0; cap < 64; ++cap) {
        const int set = ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_IS_SET, cap, 0, 0);
        if (set < 0)
            break; // past the kernel's last capability
        if (set == 1)
            ambient |= 1ull << cap;
    }
    return ambient;
}

bool writeCapabilities(CapabilitySets& caps, std::uint64_t permitted, std::uint64_t effective) {
    for (int word = 0; word < 2; ++word) {
        caps.data[word].permitted = static_cast<__u32>(permitted >> (32 * word));
        caps.data[word].effective = static_cast<__u32>(effective >> (32 * word));
        caps.data[word].inheritable = 0;
    }
    caps.header.version = _LINUX_CAPABILITY_VERSION_3;
    caps.header.pid = 0;
    return ::syscall(SYS_capset, &caps.header, caps.data) == 0 && readCapabilities(caps);
}

// Keeps the helper's capabilities that are permitted and nothing else, clears the inheritable
// set, and leaves cap_net_admin out of the effective set until a connection is closed.
bool narrowCapabilities(CapabilitySets& caps) {
    const std::uint64_t keep =
        caps.permitted() & (helper::neededCapabilities() | helper::closeCapability());
    return writeCapabilities(caps, keep, keep & helper::neededCapabilities());
}

helper::CloseResult closeResultOf(int error) {
    switch (error) {
    case 0:
        return helper::CloseResult::Closed;
    case EPERM:
    case EACCES:
        return helper::CloseResult::NotPermitted;
    case EOPNOTSUPP:
        return helper::CloseResult::NotSupported;
    case ENOENT:
    case ESTALE:
        return helper::CloseResult::Gone;
    default:
        return helper::CloseResult::Failed;
    }
}

// Closes the socket the request names, if it is the caller's: the helper asks the kernel for
// the socket with that cookie itself and checks its user, whatever the caller believes.
helper::CloseResult closeSocket(const helper::CloseRequest& request, CapabilitySets& caps) {
    os::linuxnet::SocketId id;
    id.family = request.family == 4 ? AF_INET : AF_INET6;
    id.local = request.local;
    id.remote = request.remote;
    id.localPort = request.localPort;
    id.remotePort = request.remotePort;
    id.interfaceIndex = request.interfaceIndex;
    id.cookie = request.cookie;
    os::linuxnet::RawSocket found;
    const int error = os::linuxnet::querySocket(id, found);
    if (error != 0)
        return closeResultOf(error) == helper::CloseResult::Gone ? helper::CloseResult::Gone
                                                                 : helper::CloseResult::Failed;
    if (found.cookie != request.cookie)
        return helper::CloseResult::Gone;
    if (!helper::mayClose(::getuid(), found.uid))
        return helper::CloseResult::NotPermitted;
    const std::uint64_t permitted = caps.permitted();
    const std::uint64_t effective = caps.effective();
    if (!(permitted & helper::closeCapability()))
        return helper::CloseResult::NotPermitted;
    if (!writeCapabilities(caps, permitted, effective | helper::closeCapability()))
        return helper::CloseResult::Failed;
    const int destroyed = os::linuxnet::destroySocket(id);
    if (!writeCapabilities(caps, permitted, effective)) {
        std::fputs("kestrel-helper: cannot lower cap_net_admin again\n", stderr);
        std::_Exit(3);
    }
    return closeResultOf(destroyed);
}

// The rest of a request whose header came: its payload, within RequestMillis.
bool receivePayload(std::uint8_t* data, std::size_t length) {
    std::size_t have = 0;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(RequestMillis);
    while (have < length) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd poll{helper::SocketFd, POLLIN, 0};
        const int ready = ::poll(&poll, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        const ssize_t n = ::recv(helper::SocketFd, data + have, length - have, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        have += static_cast<std::size_t>(n);
    }
    return true;
}

bool sendAll(const std::vector<std::uint8_t>& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n =
            ::send(helper::SocketFd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false; // the parent went, or did not read within the send timeout
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

enum class Received { Message, End, Broken };

// One request header: waits as long as needed for its first byte, then at most RequestMillis.
Received receiveHeader(std::uint8_t (&header)[helper::HeaderSize]) {
    std::size_t have = 0;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(RequestMillis);
    while (have < sizeof header) {
        int wait = -1;
        if (have > 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return Received::Broken;
            wait = static_cast<int>(left.count());
        }
        pollfd poll{helper::SocketFd, POLLIN, 0};
        const int ready = ::poll(&poll, 1, wait);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return Received::Broken;
        const ssize_t n = ::recv(helper::SocketFd, header + have, sizeof header - have, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0)
            return have == 0 ? Received::End : Received::Broken;
        if (n < 0)
            return Received::Broken;
        have += static_cast<std::size_t>(n);
    }
    return Received::Message;
}

std::vector<std::uint32_t> callerGroups(gid_t peerGid) {
    std::vector<std::uint32_t> groups{peerGid, ::getgid()};
    const int count = ::getgroups(0, nullptr);
    if (count > 0) {
        std::vector<gid_t> more(static_cast<std::size_t>(count));
        const int got = ::getgroups(count, more.data());
        for (int i = 0; i < got; ++i)
            groups.push_back(more[static_cast<std::size_t>(i)]);
    }
    return groups;
}

} // namespace

int main(int argc, char** argv) {
    // Nothing from the environment reaches anything this program calls.
    ::clearenv();
    if (argc != 2 || std::strcmp(argv[1], helper::VersionArgument) != 0) {
        std::fprintf(stderr, "kestrel-helper: started by Kestrel only (expects %s)\n",
                     helper::VersionArgument);
        return Usage;
    }

    CapabilitySets caps;
    if (!readCapabilities(caps)) {
        std::fputs("kestrel-helper: cannot read its capabilities\n", stderr);
        return Refused;
    }
    if (const auto refusal = helper::capabilityRefusal(caps.permitted(), ambientCapabilities())) {
        std::fprintf(stderr, "%s\n", refusal->c_str());
        return Refused;
    }
    if (!narrowCapabilities(caps) || ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
        std::fputs("kestrel-helper: cannot restrict itself\n", stderr);
        return Refused;
    }

    ucred peer{};
    socklen_t peerLength = sizeof peer;
    int domain = 0;
    int type = 0;
    socklen_t intLength = sizeof domain;
    if (::getsockopt(helper::SocketFd, SOL_SOCKET, SO_DOMAIN, &domain, &intLength) != 0 ||
        domain != AF_UNIX ||
        ::getsockopt(helper::SocketFd, SOL_SOCKET, SO_TYPE, &type, &intLength) != 0 ||
        type != SOCK_STREAM ||
        ::getsockopt(helper::SocketFd, SOL_SOCKET, SO_PEERCRED, &peer, &peerLength) != 0) {
        std::fputs("kestrel-helper: started by Kestrel only (no socket on descriptor 3)\n", stderr);
        return NoParent;
    }
    // The parent is the one that made the socket pair; if it is already gone, so are we.
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0) != 0 || ::getppid() != peer.pid ||
        peer.uid != ::getuid())
        return NoParent;
    ::closefrom(helper::SocketFd + 1);
    ::signal(SIGPIPE, SIG_IGN);
    const timeval sendTimeout{SendTimeoutSeconds, 0};
    ::setsockopt(helper::SocketFd, SOL_SOCKET, SO_SNDTIMEO, &sendTimeout, sizeof sendTimeout);

    // Where /proc hides other users' processes, so does the helper, unless the mount's group
    // admits the caller. An unreadable mount table counts as hiding.
    const auto mountinfo = os::linuxfs::readFile("/proc/self/mountinfo", 4 * 1024 * 1024);
    const helper::ProcMount mount =
        mountinfo ? helper::parseProcMount(*mountinfo) : helper::ProcMount{};
    const bool hidden = helper::othersHidden(mount, callerGroups(peer.gid));
    // A user's own processes may not attach to or read this one.
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);

    std::uint32_t flags = 0;
    if ((caps.effective() & helper::neededCapabilities()) == helper::neededCapabilities())
        flags |= helper::HelloCapabilities;
    if (hidden)
        flags |= helper::HelloOthersHidden;
    if (caps.permitted() & helper::closeCapability())
        flags |= helper::HelloCanClose;
    if (!sendAll(helper::encodeHello(flags)))
        return WriteFailed;

    const std::optional<std::uint32_t> onlyUid =
        hidden ? std::optional<std::uint32_t>(::getuid()) : std::nullopt;
    for (;;) {
        std::uint8_t header[helper::HeaderSize];
        const Received received = receiveHeader(header);
        if (received == Received::End)
            return Ended;
        const auto decoded = received == Received::Message
                                 ? helper::decodeHeader(header, helper::Sender::Parent)
                                 : std::nullopt;
        if (!decoded)
            return ProtocolError;
        if (decoded->type == helper::MessageType::CloseRequest) {
            std::uint8_t payload[helper::CloseRequestSize];
            helper::CloseRequest request;
            if (decoded->length != sizeof payload || !receivePayload(payload, sizeof payload) ||
                !helper::decodeCloseRequest(payload, sizeof payload, request))
                return ProtocolError;
            if (!sendAll(helper::encodeCloseReply(closeSocket(request, caps))))
                return WriteFailed;
            continue;
        }
        const helper::ScanResult result = helper::scanSocketHolders("/proc", onlyUid);
        const auto reply = helper::encodeScanReply(result);
        if (!sendAll(reply ? *reply : helper::encodeScanFailed(helper::FailReason::TooLarge)))
            return WriteFailed;
    }
}
