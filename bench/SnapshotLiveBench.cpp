// Cost of reading the real endpoint tables (netlink dump, /proc scan) with a number of loopback
// connections held by this process. Larger loads, held by other processes, are measured
// end to end by compare_snapshot.sh with kestrel-socket-load.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "os/Endpoints.h"
#include "os/linux/LinuxEndpoints.h"

namespace {

// Opens `connections` loopback connections (both ends here) and closes them on destruction.
class LoopbackLoad {
public:
    explicit LoopbackLoad(int connections) {
        rlimit limit{};
        if (::getrlimit(RLIMIT_NOFILE, &limit) == 0) {
            limit.rlim_cur = limit.rlim_max;
            ::setrlimit(RLIMIT_NOFILE, &limit);
        }
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (m_listener < 0 || ::bind(m_listener, reinterpret_cast<sockaddr*>(&a), len) != 0 ||
            ::listen(m_listener, 1024) != 0 ||
            ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            return;
        const linger noTimeWait{1, 0};
        for (int i = 0; i < connections; ++i) {
            const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (client < 0)
                break;
            m_fds.push_back(client);
            ::setsockopt(client, SOL_SOCKET, SO_LINGER, &noTimeWait, sizeof noTimeWait);
            if (::connect(client, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
                break;
            const int server = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (server < 0)
                break;
            m_fds.push_back(server);
        }
    }
    LoopbackLoad(const LoopbackLoad&) = delete;
    LoopbackLoad& operator=(const LoopbackLoad&) = delete;
    ~LoopbackLoad() {
        for (const int fd : m_fds)
            ::close(fd);
        if (m_listener >= 0)
            ::close(m_listener);
    }
    std::size_t sockets() const { return m_fds.size(); }

private:
    int m_listener = -1;
    std::vector<int> m_fds;
};

void BM_ReadEndpointTables(benchmark::State& state) {
    const LoopbackLoad load(static_cast<int>(state.range(0)));
    std::vector<os::Endpoint> tcp;
    std::vector<os::Endpoint> udp;
    for (auto _ : state) {
        if (!os::ReadEndpointTables(tcp, udp))
            state.SkipWithError("no endpoint tables");
        benchmark::DoNotOptimize(tcp.data());
    }
    state.counters["sockets"] = static_cast<double>(load.sockets());
}
BENCHMARK(BM_ReadEndpointTables)->Arg(500)->Arg(4000)->Unit(benchmark::kMillisecond);

void BM_CollectEndpoints(benchmark::State& state) {
    const LoopbackLoad load(4000);
    const auto source = static_cast<os::linuxnet::Source>(state.range(0));
    std::vector<os::Endpoint> tcp;
    std::vector<os::Endpoint> udp;
    for (auto _ : state) {
        if (!os::linuxnet::collectEndpoints("/proc", source, tcp, udp))
            state.SkipWithError("no endpoint tables");
        benchmark::DoNotOptimize(tcp.data());
    }
    state.SetLabel(source == os::linuxnet::Source::Netlink ? "netlink" : "/proc/net");
}
BENCHMARK(BM_CollectEndpoints)
    ->Arg(static_cast<int>(os::linuxnet::Source::Netlink))
    ->Arg(static_cast<int>(os::linuxnet::Source::ProcNet))
    ->Unit(benchmark::kMillisecond);

void BM_DumpOnly(benchmark::State& state) {
    const LoopbackLoad load(4000);
    std::vector<os::linuxnet::RawSocket> raw;
    for (auto _ : state) {
        raw.clear();
        os::linuxnet::dumpSockDiag(os::linuxnet::Protocol::Tcp, AF_INET, raw);
        benchmark::DoNotOptimize(raw.data());
    }
}
BENCHMARK(BM_DumpOnly)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
