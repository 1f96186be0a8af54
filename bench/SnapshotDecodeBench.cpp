// Cost of turning endpoint tables into records (GetTcpUdpTable over the fake os): decoding,
// text building and the shared owner lookups, without any kernel work.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "fakes/FakeOs.h"
#include "snapshot/UnitGetTcpUdpTable.h"

namespace {

void setUpTables(int rows, int processes) {
    FakeOs::reset();
    std::vector<os::ProcessEntry> entries;
    for (int p = 1; p <= processes; ++p) {
        const auto pid = static_cast<std::uint32_t>(1000 + p);
        entries.push_back({pid, "server" + std::to_string(p)});
        FakeOs::setImagePath(pid, "/usr/lib/example/bin/server" + std::to_string(p));
        FakeOs::setStartTime(pid, 12345);
        FakeOs::setDescription("/usr/lib/example/bin/server" + std::to_string(p), "Example server",
                               "Example Ltd");
    }
    FakeOs::setProcesses(entries);
    std::vector<FakeOs::TcpRow> tcp;
    tcp.reserve(static_cast<std::size_t>(rows));
    for (int i = 0; i < rows; ++i) {
        const auto port = static_cast<std::uint16_t>(1024 + i % 60000);
        tcp.push_back({5, FakeOs::ipv4(127, 1, static_cast<std::uint8_t>(i >> 16), 1),
                       FakeOs::portField(port), FakeOs::ipv4(127, 2, 0, 1), FakeOs::portField(8080),
                       static_cast<std::uint32_t>(1001 + i % processes)});
    }
    FakeOs::setTcpTable(FakeOs::tcpEndpoints(tcp));
    FakeOs::setUdpTable(
        FakeOs::udpEndpoints({{FakeOs::ipv4(0, 0, 0, 0), FakeOs::portField(53), 1001}}));
}

void BM_GetTcpUdpTable(benchmark::State& state) {
    setUpTables(static_cast<int>(state.range(0)), 20);
    for (auto _ : state) {
        GetTcpUdpTable();
        benchmark::DoNotOptimize(TcpRecords.data());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_GetTcpUdpTable)->Arg(1000)->Arg(18000)->Arg(110000)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
