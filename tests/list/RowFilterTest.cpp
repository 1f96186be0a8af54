// The filter: its text test, the list control's view of the shown rows, and FillList/RefreshList
// over a filtered list of a few thousand rows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <random>
#include <string>
#include <vector>

#include "list/ConnectionList.h"
#include "list/MemoryListControl.h"
#include "list/RowFilter.h"
#include "ui/TestRecords.h"

namespace {

struct TextCase {
    const char* filter;
    const char* cell;
    bool matches;
};

TEST(RowFilter, FoldsOnlyAsciiLettersAndComparesEveryOtherByte) {
    const TextCase cases[] = {
        {"", "", true},
        {"", "anything", true},
        {"fire", "Firefox", true},
        {"FIREFOX", "firefox", true},
        {"fOx", "FIREFOX", true},
        {"fox", "firefo", false},
        {"x", "firefox", true}, // at the very end
        {"firefox!", "firefox", false},
        {"127.0.0", "127.0.0.1", true},
        {"0.1", "127.0.0.1", true},
        {"8080", "80", false},
        {"系统", "系统核心内存管理进程", true},
        {"内存", "系统核心内存管理进程", true},
        {"已建立", "已建立", true},
        {"已建", "已关闭", false},
        // Non-ASCII letters are not folded: É and é are different bytes.
        {"café", "CAFÉ", false},
        {"CAFé", "café", true},
        {"é", "É", false},
        // A lone byte of a UTF-8 character matches inside it, as a byte search does.
        {"\xe7", "系", true},
        {"[", "[System Process]", true},
        {"_", "a-b", false},
        {"@", "`", false}, // the bytes next to the letters are not folded into them
        {"{", "[", false},
    };
    for (const TextCase& c : cases)
        EXPECT_EQ(RowFilter(c.filter).matchesText(c.cell), c.matches)
            << '"' << c.filter << "\" in \"" << c.cell << '"';
}

TEST(RowFilter, OnlyVisibleColumnsCount) {
    TMyRec row;
    row.ProcName = "sshd";
    row.ProcPath = "/usr/sbin/sshd";
    row.LocalPort = "22";
    row.PID = "4242";
    row.Mark = "add";
    std::array<bool, AllColumnCount> visible{};
    for (int c = 0; c < ColumnCount; ++c)
        visible[static_cast<std::size_t>(c)] =
            defaultListColumns()[static_cast<std::size_t>(c)].visible;
    EXPECT_TRUE(RowFilter("SSH").matches(row, visible));
    EXPECT_TRUE(RowFilter("22").matches(row, visible));
    EXPECT_FALSE(RowFilter("sbin").matches(row, visible)) << "the path column starts hidden";
    EXPECT_FALSE(RowFilter("4242").matches(row, visible)) << "the PID column starts hidden";
    EXPECT_FALSE(RowFilter("add").matches(row, visible)) << "the mark is never shown";
    EXPECT_FALSE(RowFilter("未启用").matches(row, visible));
    visible[ColumnPath] = true;
    visible[ColumnSecurity] = true;
    EXPECT_TRUE(RowFilter("sbin").matches(row, visible));
    EXPECT_TRUE(RowFilter("未启用").matches(row, visible));
    EXPECT_TRUE(RowFilter("").matches(TMyRec{}, visible));
}

TEST(RowFilter, TheColumnsOfTheOptionsCountWhileShown) {
    TMyRec row;
    row.RemoteHost = "localhost";
    std::array<bool, AllColumnCount> visible{};
    EXPECT_FALSE(RowFilter("LOCALHOST").matches(row, visible)) << "目标主机 hidden";
    visible[ColumnRemoteHost] = true;
    EXPECT_TRUE(RowFilter("LOCALHOST").matches(row, visible));

    MemoryListControl list(ListHeaderColumns::WithOptional);
    list.addRow()->Rec.RemoteHost = "localhost";
    list.addRow()->Rec.RemoteHost = "example";
    list.setColumnVisible(ColumnRemoteHost, true);
    list.setFilterText("localhost");
    EXPECT_EQ(list.shownRowCount(), 1u);
    ASSERT_NE(list.firstShownRow(), nullptr);
    EXPECT_EQ(list.firstShownRow()->Rec.RemoteHost, "localhost");
}

TEST(RowFilter, NarrowsWhenTheWiderTextIsPartOfIt) {
    EXPECT_TRUE(RowFilter("fire").narrows(RowFilter("fir")));
    EXPECT_TRUE(RowFilter("FIRE").narrows(RowFilter("ir")));
    EXPECT_TRUE(RowFilter("fire").narrows(RowFilter("")));
    EXPECT_FALSE(RowFilter("fir").narrows(RowFilter("fire")));
    EXPECT_FALSE(RowFilter("fire").narrows(RowFilter("fx")));
}

// Mirrors the view as a table view would, resets included, and checks every announced
// position against the control's.
class FilterMirror : public ListViewObserver {
public:
    explicit FilterMirror(MemoryListControl& list) : m_list(list) { resync(); }
    void rowsAboutToBeRemoved(std::size_t first, std::size_t last) override {
        ASSERT_LE(first, last);
        ASSERT_LT(last, m_rows.size());
        m_first = first;
        m_last = last;
    }
    void rowsRemoved() override {
        m_rows.erase(m_rows.begin() + static_cast<std::ptrdiff_t>(m_first),
                     m_rows.begin() + static_cast<std::ptrdiff_t>(m_last) + 1);
        verify();
    }
    void rowsAboutToBeInserted(std::size_t first, std::size_t last) override {
        ASSERT_EQ(first, m_rows.size());
        m_first = first;
        m_last = last;
    }
    void rowsInserted() override {
        for (std::size_t i = m_first; i <= m_last; ++i)
            m_rows.push_back(m_list.viewRowAt(i));
        verify();
    }
    void layoutChanged() override {
        const std::size_t before = m_rows.size();
        resync();
        ASSERT_EQ(before, m_rows.size()) << "a sort keeps the number of rows shown";
    }
    void viewAboutToBeReset() override {
        ASSERT_FALSE(m_resetting);
        m_resetting = true;
    }
    void viewReset() override {
        ASSERT_TRUE(m_resetting);
        m_resetting = false;
        ++resets;
        resync();
    }
    void verify() {
        ASSERT_EQ(m_list.viewRowCount(), m_rows.size());
        for (std::size_t i = 0; i < m_rows.size(); ++i) {
            ASSERT_EQ(m_list.viewRowAt(i), m_rows[i]) << i;
            ASSERT_EQ(m_list.viewIndexOf(m_rows[i]), static_cast<std::ptrdiff_t>(i)) << i;
        }
    }
    void resync() {
        m_rows.clear();
        for (std::size_t i = 0; i < m_list.viewRowCount(); ++i)
            m_rows.push_back(m_list.viewRowAt(i));
    }
    const std::vector<RowHandle>& rows() const { return m_rows; }
    int resets = 0;

private:
    MemoryListControl& m_list;
    std::vector<RowHandle> m_rows;
    std::size_t m_first = 0;
    std::size_t m_last = 0;
    bool m_resetting = false;
};

std::vector<RowHandle> shownRows(const ListControl& list) {
    std::vector<RowHandle> out;
    for (RowHandle row = list.firstShownRow(); row; row = list.nextShownRow(row))
        out.push_back(row);
    return out;
}

RowHandle addNamed(MemoryListControl& list, const std::string& name, const std::string& port) {
    RowHandle row = list.addRow();
    row->Rec.ProcName = name;
    row->Rec.LocalPort = port;
    return row;
}

TEST(MemoryListControlFilter, ShowsMatchingRowsInDisplayOrderAndKeepsEveryRow) {
    MemoryListControl list;
    FilterMirror mirror(list);
    list.setObserver(&mirror);
    RowHandle fox = addNamed(list, "firefox", "1");
    RowHandle ssh = addNamed(list, "sshd", "2");
    RowHandle fire = addNamed(list, "FireWall", "3");
    list.selectRow(ssh);
    list.setFocusedRow(ssh);

    list.setFilterText("FIRE");
    EXPECT_EQ(list.filterText(), "FIRE");
    EXPECT_EQ(mirror.rows(), (std::vector<RowHandle>{fox, fire}));
    EXPECT_EQ(shownRows(list), (std::vector<RowHandle>{fox, fire}));
    EXPECT_EQ(list.shownRowCount(), 2u);
    EXPECT_EQ(list.rowCount(), 3u) << "the rows themselves stay";
    EXPECT_FALSE(list.rowShown(ssh));
    EXPECT_EQ(list.selectedRow(), nullptr) << "a hidden row is no longer selected";
    EXPECT_EQ(list.focusedRow(), nullptr);
    list.selectRow(ssh);
    EXPECT_EQ(list.selectedRow(), nullptr) << "nor can it be selected";
    list.selectRow(fire);
    EXPECT_EQ(list.selectedRow(), fire);

    list.sort(ColumnProcess, SortDirection::Descending);
    EXPECT_EQ(mirror.rows(), (std::vector<RowHandle>{fire, fox}));
    EXPECT_EQ(list.firstRow(), ssh) << "the walk over all rows follows the sort too";

    list.setFilterText("firew"); // typed on: only the rows shown are tested
    EXPECT_EQ(mirror.rows(), (std::vector<RowHandle>{fire}));
    EXPECT_EQ(list.selectedRow(), fire) << "the selected row still matches";
    const int resets = mirror.resets;
    list.setFilterText("FIREW");
    EXPECT_EQ(mirror.resets, resets) << "the same rows: the view hears nothing";

    list.setFilterText("");
    EXPECT_EQ(mirror.rows(), (std::vector<RowHandle>{ssh, fire, fox}));
    EXPECT_EQ(list.shownRowCount(), 3u);
    EXPECT_EQ(list.selectedRow(), fire);
    EXPECT_TRUE(list.rowShown(ssh));
}

TEST(MemoryListControlFilter, DeletionsAdditionsAndColumnsWhileFiltering) {
    MemoryListControl list;
    FilterMirror mirror(list);
    list.setObserver(&mirror);
    RowHandle a = addNamed(list, "alpha", "10");
    RowHandle b = addNamed(list, "beta", "11");
    RowHandle c = addNamed(list, "alpine", "12");
    list.setFilterText("al");
    ASSERT_EQ(mirror.rows(), (std::vector<RowHandle>{a, c}));

    list.deleteRow(b); // hidden: the view hears nothing
    list.deleteRow(a); // shown: one removal at its view position
    EXPECT_EQ(mirror.rows(), (std::vector<RowHandle>{c}));
    EXPECT_EQ(list.shownRowCount(), 1u);

    RowHandle late = addNamed(list, "alto", "13");
    EXPECT_FALSE(list.rowShown(late)) << "tested once its texts are there";
    list.repaint();
    EXPECT_EQ(mirror.rows(), (std::vector<RowHandle>{c, late}));

    list.beginUpdate();
    RowHandle inside = addNamed(list, "walrus", "14");
    list.deleteRow(c);
    late->Rec.ProcName = "gone";
    EXPECT_EQ(mirror.rows(), (std::vector<RowHandle>{c, late})) << "the bracket is not seen yet";
    list.endUpdate();
    EXPECT_EQ(mirror.rows(), (std::vector<RowHandle>{inside}));
    EXPECT_EQ(list.rowCount(), 2u);

    // A column coming into view brings its texts into the test.
    late->Rec.ProcPath = "/opt/al/gone";
    list.setColumnVisible(ColumnPath, true);
    EXPECT_EQ(mirror.rows(), (std::vector<RowHandle>{late, inside}));
    list.setColumnVisible(ColumnPath, false);
    EXPECT_EQ(mirror.rows(), (std::vector<RowHandle>{inside}));

    list.clear();
    EXPECT_TRUE(mirror.rows().empty());
    EXPECT_EQ(list.shownRowCount(), 0u);
    EXPECT_EQ(list.firstShownRow(), nullptr);
}

// Random operations with a filter changing under them, against a plain model: after every
// point where rows are tested the view is exactly the matching rows in display order.
TEST(MemoryListControlFilter, RandomOperationsMatchAPlainModel) {
    std::mt19937 random(20261211);
    MemoryListControl list;
    FilterMirror mirror(list);
    list.setObserver(&mirror);
    std::vector<RowHandle> model;
    auto pick = [&random](std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(random);
    };
    const char* names[] = {"a", "B", "b", "c", "ab", "A", "", "系统"};
    const char* filters[] = {"", "a", "AB", "b", "1", "系", "ab1"};
    auto expected = [&] {
        std::array<bool, AllColumnCount> visible{};
        for (int c = 0; c < ColumnCount; ++c)
            visible[static_cast<std::size_t>(c)] = list.column(c).visible;
        const RowFilter filter(list.filterText());
        std::vector<RowHandle> out;
        for (RowHandle row : model)
            if (filter.matches(row->Rec, visible))
                out.push_back(row);
        return out;
    };
    for (int step = 0; step < 4000; ++step) {
        const std::size_t op = pick(12);
        bool tested = false;
        if (op < 4) {
            RowHandle row = list.addRow();
            row->Rec.ProcName = names[pick(std::size(names))];
            row->Rec.LocalPort = std::to_string(pick(30));
            model.push_back(row);
        } else if (op < 6 && !model.empty()) {
            const std::size_t victim = pick(model.size());
            list.deleteRow(model[victim]);
            model.erase(model.begin() + static_cast<std::ptrdiff_t>(victim));
        } else if (op == 6) {
            const int column = pick(2) ? ColumnProcess : ColumnLocalPort;
            list.sort(column, SortDirection::Ascending);
            std::stable_sort(model.begin(), model.end(), [&](RowHandle x, RowHandle y) {
                return compareRows(x->Rec, y->Rec, column) < 0;
            });
        } else if (op == 7 && !list.inUpdate()) {
            list.beginUpdate();
        } else if (op == 8 && list.inUpdate()) {
            list.endUpdate();
            tested = true;
        } else if (op == 9) {
            const std::string before = list.filterText();
            list.setFilterText(filters[pick(std::size(filters))]);
            // The same text tests nothing.
            tested = !list.inUpdate() && before != list.filterText();
        } else if (op == 10 && !list.inUpdate()) {
            list.repaint();
            tested = true;
        } else if (op == 11 && !model.empty()) {
            const RowHandle row = model[pick(model.size())];
            if (list.rowShown(row)) {
                list.selectRow(row);
                list.setFocusedRow(row);
            }
        }
        if (tested && !list.inUpdate()) {
            ASSERT_EQ(mirror.rows(), expected()) << "step " << step;
            ASSERT_EQ(shownRows(list), expected()) << "step " << step;
            ASSERT_EQ(list.shownRowCount(), expected().size()) << "step " << step;
        }
        ASSERT_EQ(list.rowCount(), model.size());
        if (list.selectedRow()) {
            ASSERT_TRUE(list.rowShown(list.selectedRow())) << "step " << step;
        }
        if (list.focusedRow()) {
            ASSERT_TRUE(list.rowShown(list.focusedRow())) << "step " << step;
        }
        std::vector<RowHandle> walked;
        for (RowHandle row = list.firstRow(); row; row = list.nextRow(row))
            walked.push_back(row);
        ASSERT_EQ(walked, model) << "step " << step;
    }
}

// FillList and RefreshList over a filtered list of 3,000 rows: the filter is a view, the merge
// and the counters see every row.
class FilteredRefreshTest : public ::testing::Test {
protected:
    FilteredRefreshTest() : conn(list, hooks()) {}

    ConnectionListHooks hooks() {
        ConnectionListHooks h;
        h.takeSnapshot = [this] {
            tcp = nextTcp;
            udp = nextUdp;
        };
        h.tcpRecords = &tcp;
        h.udpRecords = &udp;
        h.showLocal = [] { return true; };
        h.setNetCount = [this](std::size_t n) { netCount = n; };
        h.setAppCount = [this](std::size_t n) { appCount = n; };
        return h;
    }

    // Program i of 30 ("prog0" ... "prog29"; every tenth is "Browser<i>").
    static std::string program(int i) {
        return i % 10 == 0 ? "Browser" + std::to_string(i) : "prog" + std::to_string(i);
    }

    void makeSnapshot(int rows, int firstPort, int state) {
        nextTcp.clear();
        nextUdp.clear();
        for (int i = 0; i < rows; ++i) {
            const std::string name = program(i % 30);
            const std::string pid = std::to_string(1000 + i % 30);
            const std::string port = std::to_string(firstPort + i);
            if (i % 4 == 3)
                nextUdp.push_back(udpRecord("0.0.0.0", port, pid, name, "/usr/bin/" + name));
            else
                nextTcp.push_back(tcpRecord(state, "10.0.0.1", port, "10.0.0.2", "443", pid, name,
                                            "/usr/bin/" + name));
        }
    }

    std::vector<RowHandle> shown() const { return shownRows(list); }

    bool allShownHave(const std::string& folded) const {
        const RowFilter filter(folded);
        return std::all_of(shown().begin(), shown().end(), [&](RowHandle row) {
            return filter.matchesText(row->Rec.ProcName) ||
                   filter.matchesText(row->Rec.LocalPort) || filter.matchesText(row->Rec.State);
        });
    }

    std::vector<File_Rec> tcp, udp, nextTcp, nextUdp;
    std::size_t netCount = 0;
    std::size_t appCount = 0;
    MemoryListControl list;
    ConnectionList conn;
};

TEST_F(FilteredRefreshTest, RefreshesWorkOnWhatIsShown) {
    makeSnapshot(3000, 20000, 5);
    conn.FillList();
    ASSERT_EQ(netCount, 3000u);
    ASSERT_EQ(appCount, 30u);

    list.setFilterText("browser");
    // Three programs of 30 are browsers: 300 rows.
    ASSERT_EQ(list.shownRowCount(), 300u);
    ASSERT_TRUE(allShownHave("BROWSER"));
    RowHandle chosen = shown()[17];
    list.selectRow(chosen);
    list.setFocusedRow(chosen);

    // The same endpoints plus 600 new ones: every row survives, the new browsers appear.
    makeSnapshot(3600, 20000, 5);
    conn.RefreshList();
    EXPECT_EQ(netCount, 3600u) << "the counters keep their rules over all rows";
    EXPECT_EQ(appCount, 30u);
    EXPECT_EQ(list.rowCount(), 3600u);
    EXPECT_EQ(list.shownRowCount(), 360u);
    EXPECT_TRUE(allShownHave("BROWSER"));
    EXPECT_EQ(list.selectedRow(), chosen) << "the selected row still matches";
    EXPECT_EQ(list.focusedRow(), chosen);
    std::size_t added = 0;
    for (RowHandle row : shown())
        added += row->Rec.Mark == "add" ? 1 : 0;
    EXPECT_EQ(added, 60u) << "new matching rows appear, marked";
    // Shown rows keep the display order: sorted by process name.
    const std::vector<RowHandle> rows = shown();
    EXPECT_TRUE(std::is_sorted(rows.begin(), rows.end(), [](RowHandle x, RowHandle y) {
        return compareRows(x->Rec, y->Rec, ColumnProcess) < 0;
    }));

    // The TCP states change: surviving rows are marked "md" whether shown or not, and a filter
    // on the state text follows the new texts.
    makeSnapshot(3600, 20000, 8);
    list.setFilterText("等待关闭");
    EXPECT_EQ(list.shownRowCount(), 0u);
    EXPECT_EQ(list.selectedRow(), nullptr);
    conn.RefreshList();
    EXPECT_EQ(list.shownRowCount(), 2700u) << "every TCP row now shows the new state";
    EXPECT_EQ(netCount, 3600u);
    std::size_t changed = 0;
    for (RowHandle row = list.firstRow(); row; row = list.nextRow(row))
        changed += row->Rec.Mark == "md" ? 1 : 0;
    EXPECT_EQ(changed, 2700u);
    ASSERT_NE(list.selectedRow(), nullptr) << "nothing was selected: the first shown row is";
    EXPECT_EQ(list.selectedRow(), list.firstShownRow());
    EXPECT_EQ(list.selectedRow()->Rec.Protocol, "TCP");

    // The selected row's endpoint goes: the first shown row is selected, never a hidden one.
    list.setFilterText("browser");
    RowHandle doomed = shown()[5];
    list.selectRow(doomed);
    const std::string doomedPort = doomed->Rec.LocalPort;
    std::erase_if(nextTcp, [&](const File_Rec& r) { return r.LocalPort == doomedPort; });
    std::erase_if(nextUdp, [&](const File_Rec& r) { return r.LocalPort == doomedPort; });
    conn.RefreshList();
    EXPECT_EQ(list.rowCount(), 3599u);
    EXPECT_EQ(list.selectedRow(), list.firstShownRow());
    EXPECT_TRUE(list.selectedRow()->Rec.ProcName.starts_with("Browser"));
    EXPECT_EQ(list.focusedRow(), list.selectedRow());

    // Cleared, every row is back with its marks; the selection stays.
    RowHandle selected = list.selectedRow();
    list.setFilterText("");
    EXPECT_EQ(list.shownRowCount(), 3599u);
    EXPECT_EQ(list.selectedRow(), selected);
}

TEST_F(FilteredRefreshTest, FillWithAFilterSelectsTheFirstMadeRowItShows) {
    makeSnapshot(40, 30000, 2);
    list.setFilterText("prog3");
    conn.FillList();
    EXPECT_EQ(netCount, 40u);
    // prog3 matches: port 30003 (a UDP row, made after the TCP rows) and port 30033 (TCP).
    ASSERT_NE(list.selectedRow(), nullptr);
    EXPECT_EQ(list.selectedRow()->Rec.LocalPort, "30033");
    for (RowHandle row : shown())
        EXPECT_EQ(row->Rec.ProcName, "prog3");
}

} // namespace
