// connection_log_bench: the connection log under a churn load on loopback. kestrel-socket-load
// holds some connections for the whole run and opens and closes --rate further ones per second
// for --seconds, while this program feeds the log with the destroy-group listener (read every
// 200 ms) and a snapshot every --interval seconds, as the window does. Then it compares the
// log with the load's own count of closed connections (two sockets each), checks that no
// socket's end is logged twice, and reports the listener thread's CPU and the share of ended
// sockets with an owner (all, and those that lived longer than one refresh interval).
//
//   connection_log_bench [--rate R] [--seconds S] [--interval I] [--held N] [--load PATH]
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <vector>

#include "list/ConnectionLog.h"
#include "os/SocketEnds.h"
#include "snapshot/UnitGetTcpUdpTable.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
    long rate = 1000;
    long seconds = 30;
    long interval = 10;
    long held = 100; // connections held for the whole run
    std::string load;
};

bool parseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        char* end = nullptr;
        const long number = std::strtol(argv[i + 1], &end, 10);
        const bool numeric = *end == '\0' && number > 0;
        if (arg == "--rate" && numeric)
            options.rate = number;
        else if (arg == "--seconds" && numeric)
            options.seconds = number;
        else if (arg == "--interval" && numeric)
            options.interval = number;
        else if (arg == "--held" && numeric)
            options.held = number;
        else if (arg == "--load")
            options.load = argv[i + 1];
        else
            return false;
    }
    return argc % 2 == 1;
}

std::int64_t nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// The load helper: its standard input (closing it stops the load) and output (the "ready"
// line, and "closed N" at its end).
class Load {
public:
    bool start(const Options& options) {
        int in[2];
        int out[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
            return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        const std::string tcp = std::to_string(options.held * 2);
        const std::string rate = std::to_string(options.rate);
        const char* args[] = {options.load.c_str(), "--tcp-sockets", tcp.c_str(),
                              "--churn-rate",       rate.c_str(),    nullptr};
        const int rc = ::posix_spawn(&m_pid, options.load.c_str(), &actions, nullptr,
                                     const_cast<char* const*>(args), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        m_stdin = in[1];
        m_stdout = out[0];
        if (rc != 0) {
            m_pid = -1;
            return false;
        }
        return line().rfind("ready", 0) == 0;
    }
    // Stops the load; the number of connections it closed, -1 when it did not tell.
    long stop() {
        ::close(m_stdin);
        m_stdin = -1;
        const std::string closed = line();
        if (m_pid > 0) {
            int status = 0;
            while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
            }
            m_pid = -1;
        }
        if (closed.rfind("closed ", 0) != 0)
            return -1;
        return std::strtol(closed.c_str() + 7, nullptr, 10);
    }
    ~Load() {
        if (m_stdin >= 0)
            stop();
        if (m_stdout >= 0)
            ::close(m_stdout);
    }

private:
    std::string line() {
        std::string text;
        char c = 0;
        for (;;) {
            const ssize_t n = ::read(m_stdout, &c, 1);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0 || c == '\n')
                return text;
            text += c;
        }
    }
    pid_t m_pid = -1;
    int m_stdin = -1;
    int m_stdout = -1;
};

// The load's connections: its workers listen on 127.1.<w>.1 and connect from 127.2.<w>.1
// (its listeners, with no remote address, are left out). An aborted connection's client end
// carries remote port 0: the kernel clears it on a reset.
bool fromLoad(const LogEvent& e) {
    return e.protocol == os::Protocol::Tcp && e.family == os::Family::V4 &&
           (e.localAddr.rfind("127.1.", 0) == 0 || e.localAddr.rfind("127.2.", 0) == 0) &&
           e.remoteAddr != "0.0.0.0";
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: connection_log_bench [--rate R] [--seconds S] "
                             "[--interval I] [--held N] [--load PATH]\n");
        return 2;
    }
    if (options.load.empty()) {
        std::string self = argv[0];
        const auto slash = self.rfind('/');
        options.load =
            (slash == std::string::npos ? std::string("./") : self.substr(0, slash + 1)) +
            "kestrel-socket-load";
    }
    std::signal(SIGPIPE, SIG_IGN);

    os::SocketEndListener listener;
    if (!listener.listening()) {
        std::fprintf(stderr, "connection_log_bench: the system announces no socket ends\n");
        return 1;
    }
    ConnectionLog log(true);
    Snapshot snapshot;
    EnableDebugPrivilege();
    TakeSnapshot(snapshot); // the baseline, before the load's connections exist
    log.addSnapshot(snapshot, nowMs());

    Load load;
    if (!load.start(options)) {
        std::fprintf(stderr, "connection_log_bench: the load %s did not get ready\n",
                     options.load.c_str());
        return 1;
    }
    const double cpuBefore = listener.threadCpuSeconds();
    const auto start = Clock::now();
    const auto end = start + std::chrono::seconds(options.seconds);
    auto nextRefresh = start + std::chrono::seconds(options.interval);
    std::vector<os::SocketEnd> ends;
    double longestSnapshotMs = 0;
    int snapshots = 0;
    auto drain = [&] {
        ends.clear();
        listener.take(ends);
        log.addSocketEnds(ends);
    };
    while (Clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        drain();
        if (Clock::now() >= nextRefresh) {
            const auto before = Clock::now();
            TakeSnapshot(snapshot);
            log.addSnapshot(snapshot, nowMs());
            longestSnapshotMs =
                std::max(longestSnapshotMs,
                         std::chrono::duration<double, std::milli>(Clock::now() - before).count());
            ++snapshots;
            nextRefresh += std::chrono::seconds(options.interval);
        }
    }
    const long closedConnections = load.stop();
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    // The last announcements leave the kernel's work queue shortly after the closes.
    for (int i = 0; i < 10; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        drain();
    }
    const double cpu = listener.threadCpuSeconds() - cpuBefore;

    std::unordered_map<std::uint64_t, int> seen;
    long logged = 0;
    long twice = 0;
    long withOwner = 0;
    long longLived = 0;
    long longLivedWithOwner = 0;
    const std::int64_t intervalMs = options.interval * 1000;
    for (std::size_t i = 0; i < log.size(); ++i) {
        const LogEvent& e = log.newest(i);
        if (e.kind != LogEventKind::Close || !fromLoad(e))
            continue;
        ++logged;
        if (++seen[e.cookie] == 2)
            ++twice;
        withOwner += e.owner ? 1 : 0;
        if (e.durationMs > intervalMs) {
            ++longLived;
            longLivedWithOwner += e.owner ? 1 : 0;
        }
    }
    const os::SocketEndCounts counts = listener.counts();
    std::printf("load: %ld connections/s for %ld s, %ld held, refresh every %ld s\n", options.rate,
                options.seconds, options.held, options.interval);
    std::printf("load closed %ld connections = %ld sockets\n", closedConnections,
                closedConnections * 2);
    std::printf("log: %ld ends of the load's sockets, %ld logged twice, %zu events in all, "
                "%llu dropped by the bound\n",
                logged, twice, log.size(), static_cast<unsigned long long>(log.dropped()));
    std::printf("listener: %llu announcements, %llu queue drops, %llu kernel drops, "
                "%llu malformed\n",
                static_cast<unsigned long long>(counts.received),
                static_cast<unsigned long long>(counts.queueDrops),
                static_cast<unsigned long long>(counts.kernelDrops),
                static_cast<unsigned long long>(counts.malformed));
    std::printf("listener thread CPU: %.3f s in %.1f s = %.2f %% of one core\n", cpu, wall,
                100.0 * cpu / wall);
    std::printf("snapshots: %d, the longest %.0f ms\n", snapshots, longestSnapshotMs);
    std::printf("ends with an owner: %ld of %ld (%.1f %%); of those that lived longer than %ld s: "
                "%ld of %ld (%.1f %%)\n",
                withOwner, logged, logged ? 100.0 * withOwner / logged : 0.0, options.interval,
                longLivedWithOwner, longLived,
                longLived ? 100.0 * longLivedWithOwner / longLived : 0.0);
    const bool complete = closedConnections >= 0 && logged == closedConnections * 2 && twice == 0;
    std::printf("%s\n", complete ? "every closing logged, none twice" : "MISMATCH");
    return complete ? 0 : 1;
}
