// RefreshList through the Qt model and a table view (offscreen) at 1,000 to 100,000 rows, with
// 1 % of the endpoints changed: what the view's notifications and the selection bookkeeping
// add to list_bench's BM_RefreshList.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <string>
#include <vector>

#include <QApplication>
#include <QByteArray>

#include "list/ConnectionList.h"
#include "list/MemoryListControl.h"
#include "ui/Components.h"
#include "ui/qt/ConnectionModel.h"
#include "ui/qt/ConnectionView.h"

namespace {

struct Tables {
    std::vector<File_Rec> tcp;
    std::vector<File_Rec> udp;
};

// 300 programs, every tenth endpoint UDP; with `changed`, every 200th TCP endpoint moved to
// another port and every 200th (offset 100) changed state.
Tables makeSnapshot(std::size_t rows, bool changed) {
    Tables t;
    for (std::size_t i = 0; i < rows; ++i) {
        const std::size_t program = i % 300;
        File_Rec r;
        r.PID = std::to_string(1000 + program);
        r.ProcName = "program" + std::to_string(program) + ".bin";
        r.ProcPath = "/usr/lib/application" + std::to_string(program) + "/bin/" + r.ProcName;
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

class SilentReport : public ui::ErrorReport {
public:
    void showError(const std::string&) override {}
};

void BM_RefreshListWithView(benchmark::State& state) {
    const auto rows = static_cast<std::size_t>(state.range(0));
    const Tables before = makeSnapshot(rows, false);
    const Tables after = makeSnapshot(rows, true);
    Tables current = before;
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
