// RefreshList through the Qt model and a table view (offscreen) at 1,000 to 100,000 rows, with
// 1 % of the endpoints changed: what the view's notifications and the selection bookkeeping
// add to list_bench's BM_RefreshList.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <string>
#include <vector>

#include <QApplication>
#include <QByteArray>

#include "SyntheticSnapshot.h"
#include "list/ConnectionList.h"
#include "list/MemoryListControl.h"
#include "ui/Components.h"
#include "ui/qt/ConnectionModel.h"
#include "ui/qt/ConnectionView.h"

namespace {

class SilentReport : public ui::ErrorReport {
public:
    void showError(const std::string&) override {}
};

void BM_RefreshListWithView(benchmark::State& state) {
    const auto rows = static_cast<std::size_t>(state.range(0));
    const SyntheticTables before = makeSyntheticSnapshot(rows, false);
    const SyntheticTables after = makeSyntheticSnapshot(rows, true);
    SyntheticTables current = before;
    MemoryListControl list;
    qtui::ConnectionModel model(list);
    SilentReport report;
    qtui::ConnectionView view(&model, report);
    view.resize(746, 371);
    ConnectionListHooks hooks;
    hooks.takeSnapshot = [] {};
    hooks.tcpRecords = &current.tcp;
    hooks.udpRecords = &current.udp;
    hooks.showLocal = [] { return true; };
    ConnectionList connections(list, hooks);
    connections.FillList();
    bool flip = false;
    for (auto _ : state) {
        current = flip ? before : after;
        flip = !flip;
        connections.RefreshList();
        QCoreApplication::processEvents();
    }
    state.counters["rows"] = static_cast<double>(model.rowCount());
}
BENCHMARK(BM_RefreshListWithView)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", QByteArray("offscreen"));
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
