// FillList, RefreshList (1 % of the endpoints changed) and sorting at 1,000 to 100,000 rows.
// The bytes_per_row counter is the heap the list holds per row (nodes and texts), from mallinfo2.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstddef>
#include <string>
#include <vector>

#include "list/ConnectionList.h"
#include "list/MemoryListControl.h"

namespace {

struct Tables {
    std::vector<File_Rec> tcp;
    std::vector<File_Rec> udp;
};

// A machine with 300 programs; every tenth endpoint is UDP. With `changed`, every 200th TCP
// endpoint moved to another port and every 200th (offset 100) changed state: 1 % in all.
Tables makeSnapshot(std::size_t rows, bool changed) {
    Tables t;
    for (std::size_t i = 0; i < rows; ++i) {
        const std::size_t program = i % 300;
        File_Rec r;
        r.PID = std::to_string(1000 + program);
        r.ProcName = "program" + std::to_string(program) + ".bin";
        r.ProcPath = "/usr/lib/application" + std::to_string(program) + "/bin/" + r.ProcName;
        r.FileDesc = "Application number " + std::to_string(program);
        r.Company = "Example Org";
        r.LocalAddr = "10.0." + std::to_string(i / 250 % 250) + "." + std::to_string(i % 250);
        r.LocalPort = std::to_string(1024 + i % 60000);
        if (i % 10 == 9) {
            t.udp.push_back(std::move(r));
            continue;
        }
        r.RemoteAddr = "192.168." + std::to_string(i / 200 % 200) + "." + std::to_string(i % 200);
        r.RemotePort = "443";
        r.State = 5;
        if (changed && i % 200 == 0)
            r.LocalPort = "7" + r.LocalPort;
        if (changed && i % 200 == 100)
            r.State = 8;
        t.tcp.push_back(std::move(r));
    }
    return t;
}

struct Harness {
    Tables current;
    MemoryListControl list;
    ConnectionList conn;
    Harness() : conn(list, hooks()) {}
    ConnectionListHooks hooks() {
        ConnectionListHooks h;
        h.takeSnapshot = [] {};
        h.tcpRecords = &current.tcp;
        h.udpRecords = &current.udp;
        h.showLocal = [] { return false; };
        h.setNetCount = [](std::size_t n) { benchmark::DoNotOptimize(n); };
        h.setAppCount = [](std::size_t n) { benchmark::DoNotOptimize(n); };
        return h;
    }
};

std::size_t heapInUse() {
    return mallinfo2().uordblks;
}

void BM_FillList(benchmark::State& state) {
    const std::size_t rows = static_cast<std::size_t>(state.range(0));
    const Tables snapshot = makeSnapshot(rows, false);
    double bytesPerRow = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto h = std::make_unique<Harness>();
        h->current = snapshot;
        const std::size_t before = heapInUse();
        state.ResumeTiming();
        h->conn.FillList();
        state.PauseTiming();
        bytesPerRow =
            static_cast<double>(heapInUse() - before) / static_cast<double>(h->list.rowCount());
        h.reset();
        state.ResumeTiming();
    }
    state.counters["bytes_per_row"] = bytesPerRow;
}

void BM_RefreshList(benchmark::State& state) {
    const std::size_t rows = static_cast<std::size_t>(state.range(0));
    const Tables snapshots[2] = {makeSnapshot(rows, false), makeSnapshot(rows, true)};
    Harness h;
    h.current = snapshots[0];
    h.conn.FillList();
    std::size_t next = 1;
    for (auto _ : state) {
        state.PauseTiming();
        h.current = snapshots[next];
        next ^= 1;
        state.ResumeTiming();
        h.conn.RefreshList();
    }
    state.counters["rows"] = static_cast<double>(h.list.rowCount());
}

void BM_Sort(benchmark::State& state) {
    const std::size_t rows = static_cast<std::size_t>(state.range(0));
    Harness h;
    h.current = makeSnapshot(rows, false);
    h.conn.FillList();
    const int columns[] = {ColumnLocalAddr, ColumnProcess, ColumnRemoteAddr, ColumnLocalPort};
    std::size_t turn = 0;
    for (auto _ : state) {
        h.list.sort(columns[turn % 4],
                    turn % 2 ? SortDirection::Descending : SortDirection::Ascending);
        ++turn;
    }
}

} // namespace

BENCHMARK(BM_FillList)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RefreshList)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sort)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
