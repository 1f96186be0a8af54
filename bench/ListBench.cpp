// FillList, RefreshList (1 % of the endpoints changed; also with the records indexed ahead,
// as the worker does) and sorting at 1,000 to 100,000 rows.
// The bytes_per_row counter is the heap the list holds per row (nodes and texts), from mallinfo2.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "SyntheticSnapshot.h"
#include "list/ConnectionList.h"
#include "list/MemoryListControl.h"

namespace {

struct Harness {
    SyntheticTables current;
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
    const SyntheticTables snapshot = makeSyntheticSnapshot(rows, false);
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
    const SyntheticTables snapshots[2] = {makeSyntheticSnapshot(rows, false),
                                          makeSyntheticSnapshot(rows, true)};
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

// The part of RefreshList left to the window's thread when a worker indexed the records.
void BM_RefreshPrepared(benchmark::State& state) {
    const std::size_t rows = static_cast<std::size_t>(state.range(0));
    const SyntheticTables snapshots[2] = {makeSyntheticSnapshot(rows, false),
                                          makeSyntheticSnapshot(rows, true)};
    Harness h;
    h.current = snapshots[0];
    h.conn.FillList();
    std::size_t next = 1;
    for (auto _ : state) {
        state.PauseTiming();
        h.current = snapshots[next];
        next ^= 1;
        PreparedSnapshot prepared(h.current.tcp, h.current.udp);
        state.ResumeTiming();
        h.conn.RefreshList(prepared);
        state.PauseTiming();
        { const PreparedSnapshot gone = std::move(prepared); }
        state.ResumeTiming();
    }
    state.counters["rows"] = static_cast<double>(h.list.rowCount());
}

void BM_Sort(benchmark::State& state) {
    const std::size_t rows = static_cast<std::size_t>(state.range(0));
    Harness h;
    h.current = makeSyntheticSnapshot(rows, false);
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
BENCHMARK(BM_RefreshPrepared)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sort)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
