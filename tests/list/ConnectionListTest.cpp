// FillList and RefreshList over the in-memory list control with injected snapshots.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "list/ConnectionList.h"
#include "list/MemoryListControl.h"
#include "ui/TestRecords.h"

namespace {

File_Rec tcpRec(std::string pid, std::string local, std::string localPort, std::string remote,
                std::string remotePort, std::int32_t state, std::string name,
                std::string path = "auto") {
    return tcpRecord(state, local, localPort, remote, remotePort, pid, name,
                     path == "auto" ? "/usr/bin/" + name : path);
}

File_Rec udpRec(std::string pid, std::string local, std::string localPort, std::string name,
                std::string path = "auto") {
    File_Rec r = tcpRec(std::move(pid), std::move(local), std::move(localPort), "", "", 0,
                        std::move(name), std::move(path));
    return r;
}

class ConnectionListTest : public ::testing::Test {
protected:
    ConnectionListTest() : conn(list, hooks()) {}

    ConnectionListHooks hooks() {
        ConnectionListHooks h;
        h.takeSnapshot = [this] {
            ++snapshots;
            if (failSnapshot)
                throw std::runtime_error("no endpoint table");
            tcp = nextTcp;
            udp = nextUdp;
            tcp6 = nextTcp6;
            udp6 = nextUdp6;
        };
        h.tcpRecords = &tcp;
        h.udpRecords = &udp;
        h.tcp6Records = &tcp6;
        h.udp6Records = &udp6;
        h.showLocal = [this] { return showLocal; };
        h.showIPv6 = [this] {
            ++ipv6Reads;
            return showIPv6;
        };
        h.setNetCount = [this](std::size_t n) { netCount = n; };
        h.setAppCount = [this](std::size_t n) { appCount = n; };
        return h;
    }

    std::vector<RowHandle> rows() const {
        std::vector<RowHandle> out;
        for (RowHandle row = list.firstRow(); row; row = list.nextRow(row))
            out.push_back(row);
        return out;
    }

    // "name/port/mark" of every row in display order.
    std::vector<std::string> shown() const {
        std::vector<std::string> out;
        for (RowHandle row : rows())
            out.push_back(row->Rec.ProcName + "/" + row->Rec.LocalPort + "/" + row->Rec.Mark);
        return out;
    }

    RowHandle rowWithPort(const std::string& port) const {
        for (RowHandle row : rows())
            if (row->Rec.LocalPort == port)
                return row;
        return nullptr;
    }

    std::vector<File_Rec> tcp;
    std::vector<File_Rec> udp;
    std::vector<File_Rec> nextTcp;
    std::vector<File_Rec> nextUdp;
    std::vector<File_Rec> tcp6;
    std::vector<File_Rec> udp6;
    std::vector<File_Rec> nextTcp6;
    std::vector<File_Rec> nextUdp6;
    bool showLocal = true;
    bool showIPv6 = false;
    int ipv6Reads = 0;
    bool failSnapshot = false;
    int snapshots = 0;
    std::size_t netCount = 999;
    std::size_t appCount = 999;
    MemoryListControl list;
    ConnectionList conn;
};

using Strings = std::vector<std::string>;

TEST_F(ConnectionListTest, FillMakesUnmarkedRowsSortsAndSelectsTheFirstRowMade) {
    nextTcp = {tcpRec("10", "10.0.0.1", "5000", "10.0.0.9", "80", 5, "zeta"),
               tcpRec("11", "0.0.0.0", "22", "0.0.0.0", "0", 2, "alpha")};
    nextUdp = {udpRec("12", "0.0.0.0", "53", "mid")};
    conn.FillList();
    EXPECT_EQ(shown(), (Strings{"alpha/22/", "mid/53/", "zeta/5000/"}));
    EXPECT_EQ(netCount, 3u);
    EXPECT_EQ(appCount, 3u);
    RowHandle first = rowWithPort("5000");
    EXPECT_EQ(list.selectedRow(), first) << "the first row made, not the first after sorting";
    EXPECT_EQ(list.focusedRow(), first);
    EXPECT_EQ(first->Rec.State, "已建立");
    RowHandle udpRow = rowWithPort("53");
    EXPECT_EQ(udpRow->Rec.Protocol, "UDP");
    EXPECT_EQ(udpRow->Rec.State, "");
}

TEST_F(ConnectionListTest, BothTablesEmpty) {
    conn.FillList();
    EXPECT_EQ(list.rowCount(), 0u);
    EXPECT_EQ(netCount, 0u);
    EXPECT_EQ(appCount, 0u);
    EXPECT_EQ(list.selectedCount(), 0u);

    nextTcp = {tcpRec("1", "1.1.1.1", "1", "2.2.2.2", "2", 5, "a")};
    nextUdp = {udpRec("2", "0.0.0.0", "3", "b")};
    conn.RefreshList();
    EXPECT_EQ(shown(), (Strings{"a/1/add", "b/3/add"}));
    nextTcp.clear();
    nextUdp.clear();
    conn.RefreshList();
    EXPECT_EQ(list.rowCount(), 0u);
    EXPECT_EQ(netCount, 0u);
    EXPECT_EQ(appCount, 0u);
    EXPECT_EQ(list.selectedCount(), 0u);
    EXPECT_EQ(list.focusedRow(), nullptr);

    nextTcp = {tcpRec("1", "1.1.1.1", "1", "2.2.2.2", "2", 5, "a")};
    nextUdp = {udpRec("2", "0.0.0.0", "3", "b")};
    conn.RefreshList();
    EXPECT_EQ(shown(), (Strings{"a/1/add", "b/3/add"}))
        << "a refresh after an emptying one adds every row";
}

TEST_F(ConnectionListTest, MarksFollowTheRowsLife) {
    nextTcp = {tcpRec("10", "10.0.0.1", "5000", "10.0.0.9", "80", 5, "a")};
    conn.FillList();
    RowHandle tcpRow = rowWithPort("5000");

    nextTcp = {tcpRec("10", "10.0.0.1", "5000", "10.0.0.9", "80", 8, "a"),
               tcpRec("10", "10.0.0.1", "5001", "10.0.0.9", "80", 5, "a")};
    nextUdp = {udpRec("10", "0.0.0.0", "6000", "a")};
    conn.RefreshList();
    EXPECT_EQ(rowWithPort("5000"), tcpRow) << "a surviving row is the same row";
    EXPECT_EQ(tcpRow->Rec.State, "等待关闭");
    EXPECT_EQ(tcpRow->Rec.Mark, "md");
    EXPECT_EQ(rowWithPort("5001")->Rec.Mark, "add");
    EXPECT_EQ(rowWithPort("6000")->Rec.Mark, "add");
    for (const File_Rec& r : tcp)
        EXPECT_EQ(r.Mark, r.LocalPort == "5000" ? "ok" : "") << r.LocalPort;

    conn.RefreshList();
    EXPECT_EQ(tcpRow->Rec.State, "等待关闭");
    EXPECT_EQ(tcpRow->Rec.Mark, "");
    EXPECT_EQ(rowWithPort("5001")->Rec.Mark, "");
    EXPECT_EQ(rowWithPort("6000")->Rec.Mark, "add") << "a UDP row keeps add for life";
    EXPECT_EQ(list.rowCount(), 3u);
}

TEST_F(ConnectionListTest, SurvivingRowKeepsItsTextsAndIdentity) {
    File_Rec first = tcpRec("10", "10.0.0.1", "5000", "10.0.0.9", "80", 5, "old.exe");
    first.ProcStartTime = 111;
    nextTcp = {first};
    conn.FillList();
    File_Rec changed =
        tcpRec("10", "10.0.0.1", "5000", "10.0.0.9", "80", 5, "new.exe", "/other/path");
    changed.FileDesc = "New";
    changed.ProcStartTime = 222;
    nextTcp = {changed};
    conn.RefreshList();
    ASSERT_EQ(list.rowCount(), 1u);
    const TMyRec& rec = list.firstRow()->Rec;
    EXPECT_EQ(rec.ProcName, "old.exe");
    EXPECT_EQ(rec.ProcPath, "/usr/bin/old.exe");
    EXPECT_EQ(rec.ProcStartTime, 111u);
}

TEST_F(ConnectionListTest, MatchingKeysAreExactAndProtocolSpecific) {
    // Each changed key gives a new row; the UDP row ignores what is not one of its keys.
    const struct {
        File_Rec tcp;
        bool survives;
    } cases[] = {
        {tcpRec("10", "10.0.0.1", "5000", "10.0.0.9", "80", 5, "a"), true},
        {tcpRec("11", "10.0.0.1", "5000", "10.0.0.9", "80", 5, "a"), false},
        {tcpRec("10", "10.0.0.2", "5000", "10.0.0.9", "80", 5, "a"), false},
        {tcpRec("10", "10.0.0.1", "05000", "10.0.0.9", "80", 5, "a"), false},
        {tcpRec("10", "10.0.0.1", "5000", "10.0.0.8", "80", 5, "a"), false},
        {tcpRec("10", "10.0.0.1", "5000", "10.0.0.9", "81", 5, "a"), false},
    };
    for (const auto& c : cases) {
        list.clear();
        nextTcp = {tcpRec("10", "10.0.0.1", "5000", "10.0.0.9", "80", 5, "a")};
        nextUdp = {udpRec("10", "0.0.0.0", "53", "a")};
        conn.FillList();
        nextTcp = {c.tcp};
        File_Rec udpChanged = udpRec("10", "0.0.0.0", "53", "renamed");
        udpChanged.RemoteAddr = "9.9.9.9";
        nextUdp = {udpChanged};
        conn.RefreshList();
        ASSERT_EQ(list.rowCount(), 2u);
        EXPECT_EQ(rowWithPort(c.tcp.LocalPort)->Rec.Mark, c.survives ? "" : "add")
            << c.tcp.PID << c.tcp.LocalAddr;
        EXPECT_EQ(rowWithPort("53")->Rec.Mark, "");
        EXPECT_EQ(rowWithPort("53")->Rec.ProcName, "a");
    }
}

TEST_F(ConnectionListTest, EqualKeysDoNotMultiplyRows) {
    const File_Rec twin = udpRec("7", "0.0.0.0", "5353", "mdns");
    const File_Rec tcpTwin = tcpRec("7", "0.0.0.0", "80", "0.0.0.0", "0", 2, "web");
    nextUdp = {twin, twin};
    nextTcp = {tcpTwin, tcpTwin, tcpTwin};
    conn.FillList();
    for (int refresh = 0; refresh < 3; ++refresh) {
        conn.RefreshList();
        EXPECT_EQ(list.rowCount(), 5u) << "refresh " << refresh;
        for (const File_Rec& r : tcp)
            EXPECT_EQ(r.Mark, "ok");
        for (const File_Rec& r : udp)
            EXPECT_EQ(r.Mark, "ok");
    }
    nextTcp = {tcpTwin};
    conn.RefreshList();
    EXPECT_EQ(list.rowCount(), 3u) << "two of the three listeners are gone";
    nextUdp = {twin, twin, twin};
    conn.RefreshList();
    EXPECT_EQ(list.rowCount(), 4u);
    EXPECT_EQ(shown(), (Strings{"mdns/5353/", "mdns/5353/", "mdns/5353/add", "web/80/"}));
}

TEST_F(ConnectionListTest, SelectionStaysUnlessItsRowGoes) {
    nextTcp = {tcpRec("1", "10.0.0.1", "1", "10.0.0.9", "80", 5, "c"),
               tcpRec("2", "10.0.0.1", "2", "10.0.0.9", "80", 5, "b"),
               tcpRec("3", "10.0.0.1", "3", "10.0.0.9", "80", 5, "d")};
    conn.FillList();
    RowHandle b = rowWithPort("2");
    list.selectRow(b);
    list.setFocusedRow(b);

    nextTcp.erase(nextTcp.begin()); // another row's endpoint goes
    conn.RefreshList();
    EXPECT_EQ(list.selectedRow(), b);
    EXPECT_EQ(list.focusedRow(), b);

    nextTcp.erase(nextTcp.begin()); // the selected row's endpoint goes
    nextTcp.push_back(tcpRec("4", "10.0.0.1", "4", "10.0.0.9", "80", 5, "a"));
    conn.RefreshList();
    RowHandle a = rowWithPort("4");
    EXPECT_EQ(list.firstRow(), a);
    EXPECT_EQ(list.selectedRow(), a) << "the first row of the sorted list";
    EXPECT_EQ(list.focusedRow(), a);
    EXPECT_EQ(list.selectedCount(), 1u);
}

TEST_F(ConnectionListTest, RefreshSortsFocusesAndRepaints) {
    nextTcp = {tcpRec("1", "10.0.0.1", "1", "10.0.0.9", "80", 5, "m")};
    conn.FillList();
    VTSHeaderClick(list, ColumnProcess); // now descending
    nextTcp.push_back(tcpRec("2", "10.0.0.1", "2", "10.0.0.9", "80", 5, "z"));
    nextTcp.push_back(tcpRec("3", "10.0.0.1", "3", "10.0.0.9", "80", 5, "a"));
    const int focusBefore = list.focusRequests();
    const int repaintsBefore = list.repaints();
    conn.RefreshList();
    EXPECT_EQ(shown(), (Strings{"z/2/add", "m/1/", "a/3/add"}));
    EXPECT_EQ(list.focusRequests(), focusBefore + 1);
    EXPECT_EQ(list.repaints(), repaintsBefore + 1);
}

// A refresh that adds no row sorts again only when it changed the sort column's texts in the
// rows it kept, as it does the state's: sorted by it, the refresh must move the rows, and
// leave them as a full sort orders them.
TEST_F(ConnectionListTest, RefreshWithoutNewRowsSortsAgainByAStateThatChanged) {
    nextTcp = {tcpRec("1", "10.0.0.1", "1", "10.0.0.9", "80", 5, "m"),
               tcpRec("2", "10.0.0.1", "2", "10.0.0.9", "80", 8, "z")};
    conn.FillList();
    VTSHeaderClick(list, ColumnState); // descending
    ASSERT_EQ(shown(), (Strings{"z/2/", "m/1/"}));
    nextTcp[1].State = 4; // a state whose text sorts on the other side of the first row's
    conn.RefreshList();
    const Strings after = shown();
    EXPECT_EQ(after, (Strings{"m/1/", "z/2/md"}));
    list.sort(list.sortColumn(), list.sortDirection());
    EXPECT_EQ(shown(), after);
}

TEST_F(ConnectionListTest, SnapshotFailureTouchesNoRow) {
    nextTcp = {tcpRec("1", "10.0.0.1", "1", "10.0.0.9", "80", 5, "m")};
    conn.FillList();
    netCount = appCount = 999;
    failSnapshot = true;
    EXPECT_THROW(conn.RefreshList(), std::runtime_error);
    EXPECT_EQ(shown(), (Strings{"m/1/"}));
    EXPECT_EQ(netCount, 999u);
    EXPECT_EQ(list.inUpdate(), false);
}

struct LoopbackCase {
    const char* what;
    File_Rec record;
    bool isTcp;
    bool shownWithoutLocal;
};

TEST_F(ConnectionListTest, LoopbackRowsHideOnlyTcpFromLoopbackToLoopback) {
    const LoopbackCase cases[] = {
        {"loopback connection", tcpRec("1", "127.0.0.1", "1000", "127.0.0.1", "2000", 5, "p"), true,
         false},
        {"loopback to elsewhere", tcpRec("1", "127.0.0.1", "1000", "10.0.0.1", "2000", 5, "p"),
         true, true},
        {"elsewhere to loopback", tcpRec("1", "10.0.0.1", "1000", "127.0.0.1", "2000", 5, "p"),
         true, true},
        {"listener on loopback", tcpRec("1", "127.0.0.1", "1000", "0.0.0.0", "0", 2, "p"), true,
         true},
        {"other loopback address", tcpRec("1", "127.0.0.2", "1000", "127.0.0.2", "2000", 5, "p"),
         true, true},
        {"UDP on loopback", udpRec("1", "127.0.0.1", "1000", "p"), false, true},
    };
    for (const LoopbackCase& c : cases) {
        SCOPED_TRACE(c.what);
        nextTcp.clear();
        nextUdp.clear();
        (c.isTcp ? nextTcp : nextUdp) = {c.record};

        list.clear();
        showLocal = false;
        conn.FillList();
        EXPECT_EQ(list.rowCount(), c.shownWithoutLocal ? 1u : 0u) << "fill";
        EXPECT_EQ(netCount, list.rowCount());
        EXPECT_EQ(appCount, 1u) << "a hidden row's program still counts";

        showLocal = true;
        conn.RefreshList();
        ASSERT_EQ(list.rowCount(), 1u) << "turning ShowLocal on adds the row";
        EXPECT_EQ(list.firstRow()->Rec.Mark, c.shownWithoutLocal ? "" : "add");

        showLocal = false;
        conn.RefreshList();
        EXPECT_EQ(list.rowCount(), c.shownWithoutLocal ? 1u : 0u) << "refresh";
        EXPECT_EQ(appCount, 1u);
        if (!c.shownWithoutLocal) {
            EXPECT_NE(tcp[0].Mark, "ok") << "a hidden row leaves its record unmatched";
            EXPECT_EQ(list.selectedCount(), 0u);
        }
    }
}

TEST_F(ConnectionListTest, ShowLocalIsReadWhenTheTestIsApplied) {
    nextTcp = {tcpRec("1", "127.0.0.1", "1000", "127.0.0.1", "2000", 5, "p")};
    int reads = 0;
    ConnectionListHooks h = hooks();
    h.showLocal = [&reads] { return ++reads > 1; }; // off for the first question only
    ConnectionList reading(list, h);
    reading.FillList();
    EXPECT_EQ(list.rowCount(), 0u);
    reading.RefreshList();
    EXPECT_EQ(list.rowCount(), 1u);
    EXPECT_GE(reads, 2);
}

struct ProgramCase {
    const char* what;
    std::vector<std::pair<std::string, std::string>> programs; // name, path
    std::size_t expected;
};

TEST_F(ConnectionListTest, ProgramsAreDistinctExactNamesOfRowsWithAPath) {
    const ProgramCase cases[] = {
        {"one program, several rows", {{"a.exe", "/a"}, {"a.exe", "/a"}, {"a.exe", "/a"}}, 1},
        {"letter case counts separately", {{"a.exe", "/a"}, {"A.EXE", "/A"}}, 2},
        {"no path never counts", {{"System", ""}, {"idle", ""}, {"b", "/b"}}, 1},
        {"a name that begins an earlier one", {{"a.exe2", "/a2"}, {"a.exe", "/a"}}, 2},
        {"an empty name gathered later", {{"b", "/b"}, {"", "/x"}}, 2},
        {"an empty name gathered first", {{"", "/x"}, {"b", "/b"}}, 2},
        {"a name containing the old marker", {{"x@$!y", "/p"}, {"y", "/q"}}, 2},
        {"nothing", {}, 0},
    };
    for (const ProgramCase& c : cases) {
        SCOPED_TRACE(c.what);
        nextTcp.clear();
        nextUdp.clear();
        int port = 1;
        for (const auto& [name, path] : c.programs) {
            nextTcp.push_back(
                tcpRec("1", "10.0.0.1", std::to_string(port), "10.0.0.2", "80", 5, name, path));
            nextUdp.push_back(udpRec("1", "10.0.0.1", std::to_string(port), name, path));
            ++port;
        }
        list.clear();
        conn.FillList();
        EXPECT_EQ(appCount, c.expected) << "fill";
        conn.RefreshList();
        EXPECT_EQ(appCount, c.expected) << "refresh of surviving rows";
        list.clear();
        conn.RefreshList();
        EXPECT_EQ(appCount, c.expected) << "refresh adding every row";
    }
}

// What a Qt model hears of a refresh: grouped removals, one insertion, one layout change.
class CountingObserver : public ListViewObserver {
public:
    void rowsAboutToBeRemoved(std::size_t, std::size_t) override { ++removals; }
    void rowsAboutToBeInserted(std::size_t, std::size_t) override { ++insertions; }
    void layoutAboutToBeChanged() override { ++layouts; }
    int removals = 0;
    int insertions = 0;
    int layouts = 0;
};

TEST_F(ConnectionListTest, RefreshReachesTheViewInFewGroupedChanges) {
    for (int i = 0; i < 100; ++i) {
        const std::string n = std::to_string(1000 + i);
        nextTcp.push_back(tcpRec("1", "10.0.0.1", n, "10.0.0.9", "80", 5, "p" + n));
    }
    conn.FillList();
    CountingObserver counts;
    list.setObserver(&counts);
    // Every tenth endpoint goes (ten separate runs); three new ones sort to the front.
    for (int i = 90; i >= 0; i -= 10)
        nextTcp.erase(nextTcp.begin() + i);
    for (const char* name : {"a1", "a2", "a3"})
        nextTcp.push_back(tcpRec("2", "10.0.0.1", name, "10.0.0.9", "80", 5, name));
    conn.RefreshList();
    list.setObserver(nullptr);
    EXPECT_EQ(counts.removals, 10);
    EXPECT_EQ(counts.insertions, 1);
    EXPECT_EQ(counts.layouts, 1);
    ASSERT_EQ(list.viewRowCount(), 93u);
    std::size_t position = 0;
    for (RowHandle row : rows())
        EXPECT_EQ(list.viewRowAt(position++), row);
    EXPECT_EQ(list.firstRow()->Rec.ProcName, "a1");
}

TEST_F(ConnectionListTest, FillTwiceDoesNotDoubleTheRows) {
    nextTcp = {tcpRec("1", "10.0.0.1", "1", "10.0.0.9", "80", 5, "m")};
    conn.FillList();
    conn.FillList();
    EXPECT_EQ(list.rowCount(), 1u);
}

} // namespace

// Records indexed ahead (as the worker does while the window runs) merge as records handed
// over at once, and what the list and its options say is read at the merge, not before.
TEST_F(ConnectionListTest, RecordsPreparedAheadMergeAsTheListIsAtTheMerge) {
    nextTcp = {tcpRec("10", "10.0.0.1", "5000", "10.0.0.9", "80", 5, "web"),
               tcpRec("11", "127.0.0.1", "6000", "127.0.0.1", "7000", 5, "loop")};
    nextUdp = {udpRec("12", "0.0.0.0", "53", "dns")};
    conn.FillList();
    ASSERT_EQ(shown(), (Strings{"dns/53/", "loop/6000/", "web/5000/"}));

    std::vector<File_Rec> newTcp = {
        tcpRec("10", "10.0.0.1", "5000", "10.0.0.9", "80", 8, "web"),
        tcpRec("11", "127.0.0.1", "6000", "127.0.0.1", "7000", 5, "loop"),
        tcpRec("13", "10.0.0.1", "5001", "10.0.0.9", "81", 5, "ftp")};
    std::vector<File_Rec> newUdp;
    PreparedSnapshot prepared(newTcp, newUdp);
    showLocal = false; // changed after the records were indexed
    conn.RefreshList(prepared);
    EXPECT_EQ(shown(), (Strings{"ftp/5001/add", "web/5000/md"}));
    EXPECT_EQ(netCount, 2u);
    EXPECT_EQ(newTcp[0].Mark, "ok");
    EXPECT_NE(newTcp[1].Mark, "ok") << "the hidden loopback row leaves its record unmatched";
    EXPECT_NE(newTcp[2].Mark, "ok");

    // The option ShowIPv6 turned on after the records were indexed: their IPv6 table is shown.
    std::vector<File_Rec> tcp4 = {tcpRec("10", "10.0.0.1", "5000", "10.0.0.9", "80", 8, "web")};
    std::vector<File_Rec> udp4;
    std::vector<File_Rec> tcp6 = {
        tcpRec("14", "2001:db8::1", "443", "2001:db8::2", "50000", 5, "web6")};
    std::vector<File_Rec> udp6;
    PreparedSnapshot withIPv6(tcp4, udp4, tcp6, udp6);
    showIPv6 = true;
    conn.RefreshList(withIPv6);
    EXPECT_EQ(shown(), (Strings{"web/5000/", "web6/443/add"}));

    // A moved-from preparation merges nothing.
    PreparedSnapshot taken = std::move(prepared);
    conn.RefreshList(prepared); // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(shown(), (Strings{"web/5000/", "web6/443/add"}));
}

namespace {

// "protocol local:port>remote:port state mark" of every row in display order.
std::vector<std::string> endpoints(const ListControl& list) {
    std::vector<std::string> out;
    for (RowHandle row = list.firstRow(); row; row = list.nextRow(row)) {
        const TMyRec& r = row->Rec;
        out.push_back(r.Protocol + " " + r.LocalAddr + ":" + r.LocalPort + ">" + r.RemoteAddr +
                      ":" + r.RemotePort + " " + r.State + " " + r.Mark);
    }
    return out;
}

} // namespace

TEST_F(ConnectionListTest, IPv6TablesBecomeRowsOnlyWithTheOption) {
    nextTcp = {tcpRec("10", "0.0.0.0", "22", "0.0.0.0", "0", 2, "sshd")};
    nextUdp = {udpRec("11", "0.0.0.0", "53", "dns")};
    nextTcp6 = {tcpRec("10", "::", "22", "::", "0", 2, "sshd"),
                tcpRec("12", "2001:db8::1", "443", "2001:db8::2", "50000", 5, "web6")};
    nextUdp6 = {udpRec("13", "fe80::1%2", "546", "dhcp6")};
    list.setSortColumn(ColumnProtocol);
    list.setSortDirection(SortDirection::Ascending);

    conn.FillList();
    EXPECT_EQ(endpoints(list), (Strings{"TCP 0.0.0.0:22>0.0.0.0:0 监听 ", "UDP 0.0.0.0:53>:  "}))
        << "off by default: the IPv6 tables are left out";
    EXPECT_EQ(netCount, 2u);
    EXPECT_EQ(appCount, 2u);

    showIPv6 = true;
    conn.RefreshList();
    EXPECT_EQ(endpoints(list), (Strings{
                                   "TCP 0.0.0.0:22>0.0.0.0:0 监听 ",
                                   "TCPv6 :::22>:::0 监听 add",
                                   "TCPv6 2001:db8::1:443>2001:db8::2:50000 已建立 add",
                                   "UDP 0.0.0.0:53>:  ",
                                   "UDPv6 fe80::1%2:546>:  add",
                               }));
    EXPECT_EQ(netCount, 5u);
    EXPECT_EQ(appCount, 4u);

    // A state change marks an IPv6 row as it marks an IPv4 one; a UDPv6 row keeps "add".
    nextTcp6[1].State = 8;
    conn.RefreshList();
    EXPECT_EQ(endpoints(list), (Strings{
                                   "TCP 0.0.0.0:22>0.0.0.0:0 监听 ",
                                   "TCPv6 :::22>:::0 监听 ",
                                   "TCPv6 2001:db8::1:443>2001:db8::2:50000 等待关闭 md",
                                   "UDP 0.0.0.0:53>:  ",
                                   "UDPv6 fe80::1%2:546>:  add",
                               }));

    showIPv6 = false;
    conn.RefreshList();
    EXPECT_EQ(endpoints(list), (Strings{"TCP 0.0.0.0:22>0.0.0.0:0 监听 ", "UDP 0.0.0.0:53>:  "}))
        << "turned off, a refresh removes the IPv6 rows and keeps the others' marks";
    EXPECT_EQ(netCount, 2u);
    EXPECT_EQ(appCount, 2u);

    showIPv6 = true;
    conn.FillList();
    EXPECT_EQ(list.rowCount(), 5u) << "a fill with the option on makes IPv6 rows too";
    for (RowHandle row : rows())
        EXPECT_EQ(row->Rec.Mark, "");
    EXPECT_EQ(list.selectedRow()->Rec.Protocol, "TCP") << "IPv4 rows are made first";
}

TEST_F(ConnectionListTest, IPv6RowsMatchOnlyIPv6RecordsOfTheirProtocol) {
    showIPv6 = true;
    // The same texts in every table: each row must survive by its own table only.
    nextTcp = {tcpRec("10", "::1", "7000", "::1", "7001", 5, "a")};
    nextTcp6 = {tcpRec("10", "::1", "7000", "::1", "7001", 5, "a")};
    nextUdp = {udpRec("10", "::1", "7000", "a")};
    nextUdp6 = {udpRec("10", "::1", "7000", "a")};
    conn.FillList();
    ASSERT_EQ(list.rowCount(), 4u);
    const std::vector<RowHandle> before = rows();

    nextTcp.clear();
    nextUdp6.clear();
    conn.RefreshList();
    std::vector<std::string> protocols;
    for (RowHandle row : rows())
        protocols.push_back(row->Rec.Protocol + "/" + row->Rec.Mark);
    std::sort(protocols.begin(), protocols.end());
    EXPECT_EQ(protocols, (Strings{"TCPv6/", "UDP/"}));
    for (RowHandle row : rows())
        EXPECT_NE(std::find(before.begin(), before.end(), row), before.end())
            << "the survivors are the rows made before";
}

TEST_F(ConnectionListTest, LoopbackTestCoversTcpFromColonColonOneToColonColonOne) {
    showIPv6 = true;
    showLocal = false;
    nextTcp6 = {
        tcpRec("1", "::1", "7000", "::1", "7001", 5, "hidden"),
        tcpRec("2", "::1", "7001", "::1", "7000", 5, "hidden2"),
        tcpRec("3", "::1", "7000", "::", "0", 2, "listener"),
        tcpRec("4", "::1", "7002", "2001:db8::2", "80", 5, "outward"),
        tcpRec("5", "::ffff:127.0.0.1", "7003", "::1", "80", 5, "mixed"),
    };
    nextTcp = {tcpRec("6", "127.0.0.1", "7004", "::1", "80", 5, "crossed")};
    nextUdp6 = {udpRec("7", "::1", "7005", "udp")};
    conn.FillList();
    std::vector<std::string> names;
    for (RowHandle row : rows())
        names.push_back(row->Rec.ProcName);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (Strings{"crossed", "listener", "mixed", "outward", "udp"}));
    EXPECT_EQ(appCount, 7u) << "hidden loopback rows still count their programs";

    showLocal = true;
    conn.RefreshList();
    EXPECT_EQ(list.rowCount(), 7u);
    std::vector<std::string> added;
    for (RowHandle row : rows())
        if (row->Rec.Mark == "add")
            added.push_back(row->Rec.ProcName);
    std::sort(added.begin(), added.end());
    EXPECT_EQ(added, (Strings{"hidden", "hidden2"})) << "shown again, they come as new rows";
    showLocal = false;
    conn.RefreshList();
    EXPECT_EQ(list.rowCount(), 5u) << "turned off again, the ::1 connections go";
}

TEST_F(ConnectionListTest, ShowIPv6IsReadOncePerFillAndRefresh) {
    nextTcp6 = {tcpRec("1", "::1", "7000", "::", "0", 2, "a")};
    conn.FillList();
    EXPECT_EQ(ipv6Reads, 1);
    conn.RefreshList();
    EXPECT_EQ(ipv6Reads, 2);

    // Without the hook (or the tables) nothing of IPv6 is shown.
    ConnectionListHooks bare = hooks();
    bare.showIPv6 = {};
    MemoryListControl other;
    ConnectionList plain(other, bare);
    plain.FillList();
    EXPECT_EQ(other.rowCount(), 0u);
    bare.showIPv6 = [] { return true; };
    bare.tcp6Records = nullptr;
    bare.udp6Records = nullptr;
    ConnectionList noTables(other, bare);
    noTables.RefreshList();
    EXPECT_EQ(other.rowCount(), 0u);
}
