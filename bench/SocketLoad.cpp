// kestrel-socket-load: holds a given number of loopback TCP sockets (both ends of each
// connection) and UDP sockets, spread over worker processes so that none needs more
// descriptors than the system allows one process, until told to stop.
//
//   kestrel-socket-load --tcp-sockets N [--udp-sockets M] [--churn] [--churn-rate R]
//                       [--per-process K]
//
// Prints "ready <tcp> <udp>" on standard output once every socket is open, then waits for
// end of input (or a line "stop", or SIGINT/SIGTERM) and closes everything. With --churn every
// worker keeps closing one of its connections and opening a new one. With --churn-rate the
// workers together open and close R further connections per second (each closed at once),
// beside the ones they hold. At the end it prints "closed <connections>": every connection it
// made and closed (churned and held; each is two sockets).
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

volatile std::sig_atomic_t g_stop = 0;

void onSignal(int) {
    g_stop = 1;
}

// Without SA_RESTART, so that a blocking read returns and the stop is noticed.
void catchSignal(int signal) {
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal, &action, nullptr);
}

struct Options {
    long tcpSockets = 0;
    long udpSockets = 0;
    long perProcess = 0; // 0: from the descriptor limit
    bool churn = false;
    long churnRate = 0; // connections per second, opened and closed at once
};

bool parseCount(const char* text, long& value) {
    char* end = nullptr;
    errno = 0;
    value = std::strtol(text, &end, 10);
    return errno == 0 && end != text && *end == '\0' && value >= 0;
}

bool parseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--churn") {
            options.churn = true;
            continue;
        }
        if (i + 1 >= argc)
            return false;
        long value = 0;
        if (!parseCount(argv[++i], value))
            return false;
        if (arg == "--churn-rate")
            options.churnRate = value;
        else if (arg == "--tcp-sockets")
            options.tcpSockets = value;
        else if (arg == "--udp-sockets")
            options.udpSockets = value;
        else if (arg == "--per-process")
            options.perProcess = value;
        else
            return false;
    }
    return true;
}

// Raises the soft descriptor limit to the hard one; returns the limit now in force.
long raiseFdLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 1024;
    limit.rlim_cur = limit.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0)
        ::getrlimit(RLIMIT_NOFILE, &limit);
    return limit.rlim_cur == RLIM_INFINITY ? 1L << 20 : static_cast<long>(limit.rlim_cur);
}

sockaddr_in address(std::uint32_t hostOrder, std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(hostOrder);
    a.sin_port = htons(port);
    return a;
}

// Closing with a zero linger time resets the connection instead of leaving it in TIME_WAIT,
// so a finished load leaves no sockets behind to skew the next measurement.
void noLinger(int fd) {
    const linger l{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
}

struct Connection {
    int client = -1;
    int server = -1;
};

class Worker {
public:
    Worker(int index, std::uint32_t listenAddr, std::uint32_t clientAddr)
        : m_index(index), m_listenAddr(listenAddr), m_clientAddr(clientAddr) {}

    bool open(long connections, long udpSockets) {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (m_listener < 0)
            return fail("socket");
        const int one = 1;
        ::setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a = address(m_listenAddr, 0);
        if (::bind(m_listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
            return fail("bind listener");
        if (::listen(m_listener, 4096) != 0)
            return fail("listen");
        socklen_t len = sizeof a;
        if (::getsockname(m_listener, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            return fail("getsockname");
        m_listenPort = ntohs(a.sin_port);
        for (long i = 0; i < connections; ++i) {
            Connection c;
            if (!connect(c))
                return false;
            m_connections.push_back(c);
        }
        for (long i = 0; i < udpSockets; ++i) {
            const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
            if (fd < 0)
                return fail("udp socket");
            const sockaddr_in u = address(m_clientAddr, 0);
            if (::bind(fd, reinterpret_cast<const sockaddr*>(&u), sizeof u) != 0)
                return fail("udp bind");
            m_udp.push_back(fd);
        }
        return true;
    }

    void churnOnce() {
        if (m_connections.empty())
            return;
        m_next = (m_next + 1) % m_connections.size();
        Connection& c = m_connections[m_next];
        ::close(c.client);
        ::close(c.server);
        ++m_closed;
        c = Connection{};
        connect(c);
    }

    // One connection opened and closed at once.
    void openAndClose() {
        Connection c;
        if (!connect(c))
            return;
        ::close(c.client);
        ::close(c.server);
        ++m_closed;
    }

    long closed() const { return m_closed; }

    void closeAll() {
        for (const Connection& c : m_connections) {
            if (c.client >= 0)
                ::close(c.client);
            if (c.server >= 0)
                ::close(c.server);
            if (c.client >= 0 && c.server >= 0)
                ++m_closed;
        }
        for (const int fd : m_udp)
            ::close(fd);
        if (m_listener >= 0)
            ::close(m_listener);
        m_connections.clear();
        m_udp.clear();
        m_listener = -1;
    }

private:
    bool fail(const char* what) {
        std::fprintf(stderr, "kestrel-socket-load: worker %d: %s: %s\n", m_index, what,
                     std::strerror(errno));
        return false;
    }

    bool connect(Connection& c) {
        c.client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (c.client < 0)
            return fail("client socket");
        noLinger(c.client);
        // Each worker connects from its own address, and the port is picked at connect time,
        // so the workers together are not limited to one address pair's port range.
        const int one = 1;
        ::setsockopt(c.client, IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, &one, sizeof one);
        const sockaddr_in from = address(m_clientAddr, 0);
        if (::bind(c.client, reinterpret_cast<const sockaddr*>(&from), sizeof from) != 0)
            return fail("client bind");
        const sockaddr_in to = address(m_listenAddr, m_listenPort);
        int rc;
        do {
            rc = ::connect(c.client, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        } while (rc != 0 && errno == EINTR);
        if (rc != 0)
            return fail("connect");
        do {
            c.server = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        } while (c.server < 0 && errno == EINTR);
        if (c.server < 0)
            return fail("accept");
        noLinger(c.server);
        return true;
    }

    int m_index;
    std::uint32_t m_listenAddr;
    std::uint32_t m_clientAddr;
    int m_listener = -1;
    std::uint16_t m_listenPort = 0;
    std::vector<Connection> m_connections;
    std::vector<int> m_udp;
    std::size_t m_next = 0;
    long m_closed = 0;
};

// Runs in the child: opens its share, says so through `ready`, and holds the sockets until the
// parent closes `hold` or goes away; then writes how many connections it closed to `ready`.
int runWorker(int index, long connections, long udpSockets, bool churn, long churnRate, int ready,
              int hold) {
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    catchSignal(SIGTERM);
    std::signal(SIGINT, SIG_IGN);
    raiseFdLimit();
    // 127.1.<w>.1 listens, 127.2.<w>.1 connects: every worker has its own address pair.
    const std::uint32_t worker = static_cast<std::uint32_t>(index) & 0xffff;
    Worker w(index, 0x7F010001u | (worker << 8), 0x7F020001u | (worker << 8));
    const bool ok = w.open(connections, udpSockets);
    const char status = ok ? 'R' : 'F';
    if (::write(ready, &status, 1) != 1 || !ok) {
        w.closeAll();
        return ok ? 1 : 2;
    }
    pollfd p{hold, POLLIN, 0};
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    long made = 0;
    while (!g_stop) {
        int timeout = churn ? 1 : -1;
        if (churnRate > 0) {
            // Paced from the start, so that a late wake-up catches up instead of lowering the
            // rate.
            const auto due = start + std::chrono::microseconds(made * 1000000 / churnRate);
            const auto wait =
                std::chrono::duration_cast<std::chrono::milliseconds>(due - Clock::now());
            timeout = wait.count() > 0 ? static_cast<int>(wait.count()) : 0;
        }
        const int rc = ::poll(&p, 1, timeout);
        if (rc > 0)
            break; // parent closed the pipe (or wrote): stop
        if (rc == 0 && churn)
            w.churnOnce();
        if (rc == 0 && churnRate > 0) {
            const auto elapsed =
                std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
            const long dueCount = static_cast<long>(elapsed.count() * churnRate / 1000000) + 1;
            for (; made < dueCount && !g_stop; ++made)
                w.openAndClose();
        }
    }
    w.closeAll();
    const long closed = w.closed();
    const bool told = ::write(ready, &closed, sizeof closed) == sizeof closed;
    ::close(ready);
    return told ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parseOptions(argc, argv, options) ||
        (options.tcpSockets == 0 && options.udpSockets == 0)) {
        std::fprintf(stderr, "usage: kestrel-socket-load --tcp-sockets N [--udp-sockets M] "
                             "[--churn] [--churn-rate R] [--per-process K]\n");
        return 2;
    }
    const long limit = raiseFdLimit();
    // Keep some descriptors for the listener, stdio and the pipes.
    long perProcess = options.perProcess > 0 ? options.perProcess : limit - 64;
    if (perProcess > limit - 64)
        perProcess = limit - 64;
    if (perProcess < 2) {
        std::fprintf(stderr, "kestrel-socket-load: descriptor limit %ld is too small\n", limit);
        return 1;
    }
    const long connections = (options.tcpSockets + 1) / 2;
    const long total = connections * 2 + options.udpSockets;
    const long workers = (total + perProcess - 1) / perProcess;

    catchSignal(SIGTERM);
    catchSignal(SIGINT);
    std::signal(SIGPIPE, SIG_IGN);

    int holdPipe[2];
    if (::pipe2(holdPipe, O_CLOEXEC) != 0) {
        std::perror("kestrel-socket-load: pipe");
        return 1;
    }
    std::vector<pid_t> children;
    std::vector<int> readyFds;
    long connLeft = connections;
    long udpLeft = options.udpSockets;
    bool ok = true;
    for (long i = 0; i < workers && ok; ++i) {
        const long workersLeft = workers - i;
        const long myConn = (connLeft + workersLeft - 1) / workersLeft;
        const long myUdp = (udpLeft + workersLeft - 1) / workersLeft;
        connLeft -= myConn;
        udpLeft -= myUdp;
        int readyPipe[2];
        if (::pipe2(readyPipe, O_CLOEXEC) != 0) {
            ok = false;
            break;
        }
        const pid_t pid = ::fork();
        if (pid < 0) {
            ok = false;
            ::close(readyPipe[0]);
            ::close(readyPipe[1]);
            break;
        }
        if (pid == 0) {
            ::close(readyPipe[0]);
            ::close(holdPipe[1]);
            const long myRate = options.churnRate / workers + (i < options.churnRate % workers);
            ::_exit(runWorker(static_cast<int>(i), myConn, myUdp, options.churn, myRate,
                              readyPipe[1], holdPipe[0]));
        }
        ::close(readyPipe[1]);
        children.push_back(pid);
        readyFds.push_back(readyPipe[0]);
    }
    ::close(holdPipe[0]);
    for (const int fd : readyFds) {
        char status = 0;
        ssize_t n;
        do {
            n = ::read(fd, &status, 1);
        } while (n < 0 && errno == EINTR && !g_stop);
        if (n != 1 || status != 'R')
            ok = false;
    }

    if (ok && !g_stop) {
        std::printf("ready %ld %ld\n", connections * 2, options.udpSockets);
        std::fflush(stdout);
        char line[64];
        while (!g_stop && std::fgets(line, sizeof line, stdin) != nullptr) {
            if (std::strncmp(line, "stop", 4) == 0)
                break;
        }
    } else if (!ok) {
        std::fprintf(stderr, "kestrel-socket-load: could not open every socket\n");
    }

    ::close(holdPipe[1]);
    long closed = 0;
    for (const int fd : readyFds) {
        long count = 0;
        ssize_t n;
        do {
            n = ::read(fd, &count, sizeof count);
        } while (n < 0 && errno == EINTR);
        if (n == sizeof count)
            closed += count;
        ::close(fd);
    }
    for (const pid_t pid : children) {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    if (ok) {
        std::printf("closed %ld\n", closed);
        std::fflush(stdout);
    }
    return ok ? 0 : 1;
}
