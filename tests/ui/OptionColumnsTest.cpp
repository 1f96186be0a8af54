// The columns of the options "解析主机名" and "显示流量" in the window's logic: shown and hidden
// with their options, the remote hosts' names filled in from lookups on the worker.
#include <algorithm>
#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "list/Columns.h"
#include "snapshot/UnitGetTcpUdpTable.h"
#include "ui/ClipboardReport.h"
#include "ui/FakeComponents.h"
#include "ui/HostNameResolver.h"
#include "ui/ListExport.h"
#include "ui/MainWindowLook.h"
#include "ui/TempDir.h"
#include "ui/TestRecords.h"
#include "ui/UnitFormKestrel.h"

namespace {

using Columns = std::vector<int>;

const Columns Described{ColumnProcess,    ColumnProtocol,   ColumnLocalAddr, ColumnLocalPort,
                        ColumnRemoteAddr, ColumnRemotePort, ColumnState,     ColumnManage};
const Columns Traffic{ColumnSent, ColumnReceived, ColumnSendRate, ColumnReceiveRate};

Columns joined(Columns a, const Columns& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class OptionColumnsTest : public ::testing::Test {
protected:
    OptionColumnsTest() {
        nextTcp = {
            tcpRecord(2, "0.0.0.0", "22", "0.0.0.0", "0", "101", "sshd", "/usr/sbin/sshd"),
            tcpRecord(5, "10.0.0.5", "40001", "10.0.0.1", "443", "202", "app", "/opt/app/app"),
            tcpRecord(5, "10.0.0.5", "40002", "10.0.0.2", "443", "202", "app", "/opt/app/app"),
            tcpRecord(5, "10.0.0.5", "40003", "10.0.0.1", "80", "202", "app", "/opt/app/app"),
        };
        nextUdp = {udpRecord("0.0.0.0", "53", "303", "dnsmasq", "/usr/sbin/dnsmasq")};
        names = {{"10.0.0.1", "zeta.example"}};
    }

    void create(const std::string& settings = "") {
        if (!settings.empty())
            writeTextFile(settingsFile, settings);
        TFormKestrelServices s;
        s.settingsFile = settingsFile;
        s.takeSnapshot = [this](Snapshot& snapshot) {
            ++snapshots;
            snapshot.Tcp = nextTcp;
            snapshot.Udp = nextUdp;
        };
        // The fake worker runs each job on the test's thread when the test says so: a lookup
        // counted here ran as a job, never inside one of the window's handlers.
        s.hostNameOfAddress = [this](const std::string& address) {
            ++lookups;
            asked.push_back(address);
            const auto found = names.find(address);
            return found != names.end() ? found->second : std::string();
        };
        form = std::make_unique<TFormKestrel>(w.controls(), std::move(s));
        form->FormCreate();
    }

    Columns shown() const {
        Columns columns;
        for (int column = 0; column < w.VTS.columnCount(); ++column) {
            if (w.VTS.column(column).visible)
                columns.push_back(column);
        }
        return columns;
    }
    void choose(FakeMenuItem& item) {
        ui::dispatchEvent(w.Messages, [&item] { item.click(); });
    }
    std::string hostOf(const std::string& localPort) const {
        for (RowHandle row = w.VTS.firstRow(); row; row = w.VTS.nextRow(row)) {
            if (row->Rec.LocalPort == localPort)
                return std::string(VTSGetText(row->Rec, ColumnRemoteHost));
        }
        ADD_FAILURE() << "no row of port " << localPort;
        return {};
    }
    std::vector<std::string> portOrder() const {
        std::vector<std::string> ports;
        for (RowHandle row = w.VTS.firstRow(); row; row = w.VTS.nextRow(row))
            ports.push_back(row->Rec.LocalPort);
        return ports;
    }

    TempDir dir;
    std::string settingsFile = dir.file("Kestrel.ini");
    FakeKestrelWindow w;
    std::vector<File_Rec> nextTcp, nextUdp;
    std::map<std::string, std::string> names;
    int snapshots = 0;
    int lookups = 0;
    std::vector<std::string> asked;
    std::unique_ptr<TFormKestrel> form;
};

TEST_F(OptionColumnsTest, EachOptionShowsItsColumnsAndBothOffShowTheDescribedOnes) {
    create();
    EXPECT_EQ(shown(), Described);
    EXPECT_EQ(MainWindowLook::OptionColumns(OptionItem::ShowIPv6), Columns{});

    choose(w.ResolveNames);
    EXPECT_EQ(shown(), joined(Described, {ColumnRemoteHost}));
    choose(w.ShowTraffic);
    EXPECT_EQ(shown(), joined(joined(Described, {ColumnRemoteHost}), Traffic));
    choose(w.ResolveNames);
    EXPECT_EQ(shown(), joined(Described, Traffic));
    choose(w.ShowIPv6);
    EXPECT_EQ(shown(), joined(Described, Traffic)) << "another option shows no column";
    choose(w.ShowTraffic);
    EXPECT_EQ(shown(), Described);
    // File details come before the columns of the options, as their numbers say.
    ui::dispatchEvent(w.Messages, [this] { w.CBShowInfo.setChecked(true); });
    choose(w.ResolveNames);
    EXPECT_EQ(shown(),
              joined(Described, {ColumnPath, ColumnDescription, ColumnCompany, ColumnRemoteHost}));
    EXPECT_TRUE(w.Messages.errors.empty());
}

TEST_F(OptionColumnsTest, StoredOptionsShowTheirColumnsFromTheStart) {
    create("[Options]\nResolveNames=1\nShowTraffic=1\n");
    EXPECT_EQ(shown(), joined(joined(Described, {ColumnRemoteHost}), Traffic));
}

TEST_F(OptionColumnsTest, NamesArriveFromTheWorkerAndTheWindowNeverLooksUp) {
    create("[Options]\nResolveNames=1\n");
    EXPECT_EQ(lookups, 0) << "the window's thread asked for no name itself";
    // Each address once: 10.0.0.1 has two rows. A listener's and a UDP row's remote side
    // names no host and is not looked up.
    EXPECT_EQ(w.Worker.pending(), 2u);
    EXPECT_EQ(hostOf("40001"), "10.0.0.1") << "the address until its name arrives";
    EXPECT_EQ(hostOf("40002"), "10.0.0.2");
    EXPECT_EQ(hostOf("22"), "");
    EXPECT_EQ(hostOf("53"), "");

    const int repaints = w.VTS.repaints();
    w.Worker.runAll();
    EXPECT_EQ(lookups, 2);
    EXPECT_EQ(hostOf("40001"), "zeta.example");
    EXPECT_EQ(hostOf("40003"), "zeta.example");
    EXPECT_EQ(hostOf("40002"), "") << "an address without a name shows nothing";
    EXPECT_GT(w.VTS.repaints(), repaints);

    // A refresh asks for nothing known, and a new row takes a known name at once.
    nextTcp.push_back(
        tcpRecord(5, "10.0.0.5", "40004", "10.0.0.1", "22", "202", "app", "/opt/app/app"));
    ui::dispatchEvent(w.Messages, [this] { w.BTNRefresh.click(); });
    w.Worker.runAll();
    EXPECT_EQ(lookups, 2);
    EXPECT_EQ(hostOf("40004"), "zeta.example");
    EXPECT_TRUE(w.Messages.errors.empty());
}

TEST_F(OptionColumnsTest, NoMoreThanEightLookupsAtATime) {
    for (int i = 0; i < 30; ++i) {
        const std::string address = "10.1.0." + std::to_string(i + 1);
        nextTcp.push_back(tcpRecord(5, "10.0.0.5", std::to_string(41000 + i), address, "443", "202",
                                    "app", "/opt/app/app"));
        names[address] = "host" + std::to_string(i) + ".example";
    }
    create("[Options]\nResolveNames=1\n");
    std::size_t most = 0;
    while (w.Worker.pending() > 0) {
        most = std::max(most, w.Worker.pending());
        ASSERT_TRUE(w.Worker.complete());
    }
    EXPECT_EQ(most, HostNameResolver::MaxLookups);
    EXPECT_EQ(lookups, 32);
    EXPECT_EQ(hostOf("41029"), "host29.example");
}

TEST_F(OptionColumnsTest, SortedByHostTheRowsFollowTheNamesAsTheyArrive) {
    names["10.0.0.2"] = "alpha.example";
    create("[Options]\nResolveNames=1\n");
    ui::dispatchEvent(w.Messages, [this] {
        w.VTS.setSortDirection(SortDirection::Descending);
        form->VTSHeaderClick(ColumnRemoteHost); // ascending
    });
    // Empty texts first, then the addresses.
    EXPECT_EQ(portOrder(), (std::vector<std::string>{"22", "53", "40001", "40003", "40002"}));
    w.Worker.runAll();
    EXPECT_EQ(portOrder(), (std::vector<std::string>{"22", "53", "40002", "40001", "40003"}));
}

TEST_F(OptionColumnsTest, OffClearsTheNamesAndOnShowsTheKnownOnesWithoutAskingAgain) {
    create("[Options]\nResolveNames=1\n");
    w.Worker.runAll();
    const std::vector<std::string> firstAsked = asked;
    choose(w.ResolveNames);
    EXPECT_EQ(hostOf("40001"), "");
    choose(w.ResolveNames);
    EXPECT_EQ(hostOf("40001"), "zeta.example");
    EXPECT_EQ(w.Worker.pending(), 0u);
    EXPECT_EQ(asked, firstAsked);
}

TEST_F(OptionColumnsTest, TheClipboardReportKeepsItsFourteenLines) {
    create("[Options]\nResolveNames=1\nShowTraffic=1\n");
    w.Worker.runAll();
    for (RowHandle row = w.VTS.firstRow(); row; row = w.VTS.nextRow(row)) {
        if (row->Rec.LocalPort != "40001")
            continue;
        TMyRec plain = row->Rec;
        plain.RemoteHost.clear();
        EXPECT_EQ(row->Rec.RemoteHost, "zeta.example");
        EXPECT_EQ(BuildClipboardReport(row->Rec), BuildClipboardReport(plain));
    }
}

TEST_F(OptionColumnsTest, ExportTakesTheColumnsOfTheOptionsWhileTheyAreShown) {
    nextTcp[1].Socket.hasByteCounters = true;
    nextTcp[1].Socket.bytesAcked = 1229;
    create("[Options]\nResolveNames=1\nShowTraffic=1\n");
    w.Worker.runAll();
    const std::string all = exportList(w.VTS, ExportFormat::Tsv);
    const std::string titles = all.substr(0, all.find('\n'));
    EXPECT_NE(titles.find("\t状态\t目标主机\t已发送\t已接收\t发送速率\t接收速率"),
              std::string::npos)
        << titles;
    EXPECT_NE(all.find("\t40001\t10.0.0.1\t443\t已建立\tzeta.example\t1.2 KB\t0 B\t\t\n"),
              std::string::npos)
        << all;

    choose(w.ResolveNames);
    choose(w.ShowTraffic);
    const std::string plain = exportList(w.VTS, ExportFormat::Tsv);
    EXPECT_EQ(plain.find("目标主机"), std::string::npos);
    EXPECT_EQ(plain.find("zeta.example"), std::string::npos);
    EXPECT_EQ(plain.find("1.2 KB"), std::string::npos);
}

TEST_F(OptionColumnsTest, WithoutALookupTheAddressesStay) {
    TFormKestrelServices s;
    s.settingsFile = settingsFile;
    writeTextFile(settingsFile, "[Options]\nResolveNames=1\n");
    s.takeSnapshot = [this](Snapshot& snapshot) { snapshot.Tcp = nextTcp; };
    form = std::make_unique<TFormKestrel>(w.controls(), std::move(s));
    form->FormCreate();
    w.Worker.runAll();
    EXPECT_EQ(hostOf("40001"), "10.0.0.1");
}

} // namespace
