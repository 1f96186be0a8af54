#include "os/linux/HelperClient.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <fcntl.h>
#include <linux/capability.h>
#include <optional>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "helper/HelperProtocol.h"
#include "os/linux/HelperOwners.h"
#include "os/linux/ProcFs.h"

#ifndef KESTREL_HELPER_INSTALLED
#define KESTREL_HELPER_INSTALLED "/usr/libexec/kestrel/kestrel-helper"
#endif
#ifndef KESTREL_HELPER_RELATIVE
#define KESTREL_HELPER_RELATIVE "../libexec/kestrel/kestrel-helper"
#endif

namespace os::linuxhelper {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto HelloTimeout = std::chrono::seconds(5);
// A scan of a very busy machine takes a few seconds; a helper silent for this long is broken.
constexpr auto ReplyTimeout = std::chrono::seconds(60);
// Closing one socket is two netlink requests.
constexpr auto CloseTimeout = std::chrono::seconds(10);

bool holdsBothCapabilities() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
    if (::syscall(SYS_capget, &header, data) != 0)
        return false;
    const std::uint64_t effective =
        static_cast<std::uint64_t>(data[1].effective) << 32 | data[0].effective;
    const std::uint64_t needed = 1ull << CAP_DAC_READ_SEARCH | 1ull << CAP_SYS_PTRACE;
    return (effective & needed) == needed;
}

bool isExecutableFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

pid_t spawnHelper(const std::string& path, int childEnd) {
    posix_spawn_file_actions_t actions;
    if (::posix_spawn_file_actions_init(&actions) != 0)
        return -1;
    posix_spawnattr_t attr;
    if (::posix_spawnattr_init(&attr) != 0) {
        ::posix_spawn_file_actions_destroy(&actions);
        return -1;
    }
    // The socket becomes descriptor 3 (dup2 clears its close-on-exec flag); nothing else of
    // this process passes, and the helper starts with default signal handling.
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    bool ok =
        ::posix_spawn_file_actions_adddup2(&actions, childEnd, helper::SocketFd) == 0 &&
        ::posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0) == 0 &&
        ::posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0) == 0 &&
        ::posix_spawn_file_actions_addclosefrom_np(&actions, helper::SocketFd + 1) == 0 &&
        ::posix_spawnattr_setsigmask(&attr, &none) == 0 &&
        ::posix_spawnattr_setsigdefault(&attr, &all) == 0 &&
        ::posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF) == 0;
    pid_t pid = -1;
    if (ok) {
        std::string argument = helper::VersionArgument;
        std::string program = path;
        char* argv[] = {program.data(), argument.data(), nullptr};
        char* envp[] = {nullptr};
        if (::posix_spawn(&pid, path.c_str(), &actions, &attr, argv, envp) != 0)
            pid = -1;
    }
    ::posix_spawnattr_destroy(&attr);
    ::posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// The helper ends when the thread that started it ends (PR_SET_PDEATHSIG follows the thread,
// not the process), and snapshots may be taken on short-lived threads: so it is started from
// one thread that lives as long as the program.
class Launcher {
public:
    pid_t spawn(const std::string& path, int childEnd) {
        std::unique_lock<std::mutex> guard(m_lock);
        if (!m_started) {
            try {
                std::thread([this] { loop(); }).detach();
                m_started = true;
            } catch (const std::system_error&) {
                return spawnHelper(path, childEnd); // no thread to be had
            }
        }
        m_path = &path;
        m_childEnd = childEnd;
        m_pending = true;
        m_changed.notify_all();
        m_changed.wait(guard, [this] { return !m_pending; });
        return m_pid;
    }

private:
    void loop() {
        std::unique_lock<std::mutex> guard(m_lock);
        for (;;) {
            m_changed.wait(guard, [this] { return m_pending; });
            m_pid = spawnHelper(*m_path, m_childEnd);
            m_pending = false;
            m_changed.notify_all();
        }
    }

    std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_started = false;
    bool m_pending = false;
    const std::string* m_path = nullptr;
    int m_childEnd = -1;
    pid_t m_pid = -1;
};

// Reads exactly `length` bytes before `deadline`.
bool readExactly(int fd, std::uint8_t* data, std::size_t length, Clock::time_point deadline) {
    std::size_t have = 0;
    while (have < length) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return false;
        pollfd poll{fd, POLLIN, 0};
        const int ready = ::poll(&poll, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        const ssize_t n = ::recv(fd, data + have, length - have, MSG_DONTWAIT);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            return false;
        have += static_cast<std::size_t>(n);
    }
    return true;
}

struct Message {
    helper::Header header;
    std::vector<std::uint8_t> payload;
};

bool readMessage(int fd, Message& message, Clock::time_point deadline) {
    std::uint8_t header[helper::HeaderSize];
    if (!readExactly(fd, header, sizeof header, deadline))
        return false;
    const auto decoded = helper::decodeHeader(header, helper::Sender::Helper);
    if (!decoded)
        return false;
    message.header = *decoded;
    message.payload.resize(decoded->length);
    return readExactly(fd, message.payload.data(), message.payload.size(), deadline);
}

// The one helper of this program.
class Connection {
public:
    std::mutex lock; // held from a request to its reply

    // Sends a scan request, starting the helper first if needed. False: scan yourself.
    bool ask() {
        if (m_state == State::Unavailable)
            return false;
        if (m_state == State::Ready && send())
            return true;
        if (m_state == State::Ready)
            drop();
        while (m_startsLeft > 0) {
            --m_startsLeft;
            if (!start())
                break;
            if (send())
                return true;
            drop();
        }
        m_state = State::Unavailable;
        return false;
    }

    // The reply to the last request; false (the helper then dropped unless it only declined)
    // when there is none.
    bool receive(helper::ScanResult& result) {
        Message message;
        if (readMessage(m_fd.get(), message, Clock::now() + ReplyTimeout)) {
            if (message.header.type == helper::MessageType::ScanReply &&
                helper::decodeScanReply(message.payload.data(), message.payload.size(), result))
                return true;
            helper::FailReason reason{};
            if (message.header.type == helper::MessageType::ScanFailed &&
                helper::decodeScanFailed(message.payload.data(), message.payload.size(), reason))
                return false;
        }
        drop();
        m_state = m_startsLeft > 0 ? State::Unstarted : State::Unavailable;
        return false;
    }

    // Asks the helper to close one socket; nullopt when it cannot be asked or did not answer.
    std::optional<helper::CloseResult> close(const helper::CloseRequest& request) {
        const auto bytes = helper::encodeCloseRequest(request);
        if (!bytes || !ready() || !m_canClose)
            return std::nullopt;
        if (::send(m_fd.get(), bytes->data(), bytes->size(), MSG_NOSIGNAL | MSG_DONTWAIT) !=
            static_cast<ssize_t>(bytes->size())) {
            drop();
            return std::nullopt;
        }
        Message message;
        helper::CloseResult result{};
        if (readMessage(m_fd.get(), message, Clock::now() + CloseTimeout) &&
            message.header.type == helper::MessageType::CloseReply &&
            helper::decodeCloseReply(message.payload.data(), message.payload.size(), result))
            return result;
        drop();
        if (m_startsLeft == 0)
            m_state = State::Unavailable;
        return std::nullopt;
    }

private:
    enum class State { Unstarted, Ready, Unavailable };

    // Starts the helper if it is not running and may be started.
    bool ready() {
        while (m_state == State::Unstarted && m_startsLeft > 0) {
            --m_startsLeft;
            if (start())
                return true;
        }
        if (m_state != State::Ready)
            m_state = State::Unavailable;
        return m_state == State::Ready;
    }

    bool start() {
        if (holdsBothCapabilities())
            return false; // this process sees every owner itself
        const std::string path = helperPath();
        if (path.empty())
            return false;
        int pair[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
            return false;
        linuxfs::UniqueFd ours(pair[0]);
        // Above descriptor 3, so that moving it there always clears its close-on-exec flag.
        linuxfs::UniqueFd theirs(::fcntl(pair[1], F_DUPFD_CLOEXEC, helper::SocketFd + 1));
        ::close(pair[1]);
        if (!theirs.valid())
            return false;
        const pid_t pid = m_launcher.spawn(path, theirs.get());
        if (pid <= 0)
            return false;
        m_fd = std::move(ours);
        m_pid = pid;
        Message hello;
        std::uint32_t flags = 0;
        if (!readMessage(m_fd.get(), hello, Clock::now() + HelloTimeout) ||
            hello.header.type != helper::MessageType::Hello ||
            !helper::decodeHello(hello.payload.data(), hello.payload.size(), flags) ||
            !(flags & helper::HelloCapabilities) || (flags & helper::HelloOthersHidden)) {
            // Not started, refused, or no more use than the own scan: not tried again.
            drop();
            m_startsLeft = 0;
            return false;
        }
        m_canClose = (flags & helper::HelloCanClose) != 0;
        m_state = State::Ready;
        return true;
    }

    bool send() {
        const std::vector<std::uint8_t> request = helper::encodeScanRequest();
        return ::send(m_fd.get(), request.data(), request.size(), MSG_NOSIGNAL | MSG_DONTWAIT) ==
               static_cast<ssize_t>(request.size());
    }

    void drop() {
        m_fd = linuxfs::UniqueFd();
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            while (::waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) {
            }
        }
        m_pid = -1;
        m_state = State::Unstarted;
    }

    State m_state = State::Unstarted;
    int m_startsLeft = 2; // the first start and one restart
    bool m_canClose = false;
    linuxfs::UniqueFd m_fd;
    pid_t m_pid = -1;
    Launcher m_launcher;
};

Connection& connection() {
    // Never destroyed: the launcher's thread refers to it until the process ends.
    static Connection* instance = new Connection;
    return *instance;
}

} // namespace

std::string helperPath() {
    std::vector<std::string> candidates;
    if (const auto self = linuxfs::readLinkAt(AT_FDCWD, "/proc/self/exe")) {
        const std::size_t slash = self->rfind('/');
        if (slash != std::string::npos) {
            const std::string folder = self->substr(0, slash + 1);
            candidates.push_back(folder + "kestrel-helper"); // the build tree
            candidates.push_back(folder + KESTREL_HELPER_RELATIVE);
        }
    }
    candidates.push_back(KESTREL_HELPER_INSTALLED);
    for (const std::string& candidate : candidates) {
        if (isExecutableFile(candidate))
            return candidate;
    }
    return {};
}

std::optional<helper::CloseResult> closeThroughHelper(const linuxnet::SocketId& id) {
    helper::CloseRequest request;
    request.family = id.family == AF_INET ? 4 : 6;
    request.local = id.local;
    request.remote = id.remote;
    request.localPort = id.localPort;
    request.remotePort = id.remotePort;
    request.interfaceIndex = id.interfaceIndex;
    request.cookie = id.cookie;
    Connection& helper = connection();
    const std::lock_guard<std::mutex> guard(helper.lock);
    return helper.close(request);
}

OwnerScan::OwnerScan(const std::string& procRoot, std::size_t expectedHolders)
    : m_procRoot(procRoot), m_expectedHolders(expectedHolders) {
    if (procRoot == "/proc") {
        Connection& helper = connection();
        std::unique_lock<std::mutex> guard(helper.lock, std::try_to_lock);
        if (guard.owns_lock() && helper.ask()) {
            m_asked = std::move(guard);
            return;
        }
    }
    m_own = std::make_unique<linuxnet::SocketOwnerScan>(procRoot, linuxnet::StartTimeReader{},
                                                        expectedHolders);
}

OwnerScan::~OwnerScan() {
    if (m_asked.owns_lock()) {
        // The reply must still be taken off the socket, or the next one would be read wrongly.
        helper::ScanResult ignored;
        connection().receive(ignored);
    }
}

void OwnerScan::resolve(linuxnet::InodeOwners& owners) {
    if (m_asked.owns_lock()) {
        helper::ScanResult result;
        const bool answered = connection().receive(result);
        m_asked.unlock();
        if (answered) {
            linuxnet::assignHolders(holdersOf(result), owners);
            rememberOwners(std::move(result.processes));
            return;
        }
        m_own = std::make_unique<linuxnet::SocketOwnerScan>(m_procRoot, linuxnet::StartTimeReader{},
                                                            m_expectedHolders);
    }
    if (m_own)
        m_own->resolve(owners);
}

void OwnerScan::resolveAgain(linuxnet::InodeOwners& owners,
                             std::chrono::steady_clock::time_point latest) {
    if (m_own)
        m_own->resolveAgain(owners, latest);
}

} // namespace os::linuxhelper
