// The in-memory list control: order, handles, update brackets, selection, sorting, header clicks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <random>
#include <string>
#include <vector>

#include "list/MemoryListControl.h"

namespace {

// Mirrors the view the way a Qt model's view would and checks after every notification that
// the control's view positions agree with what it announced.
class MirrorObserver : public ListViewObserver {
public:
    explicit MirrorObserver(MemoryListControl& list) : m_list(list) { resync(); }

    void rowsAboutToBeRemoved(std::size_t first, std::size_t last) override {
        ASSERT_LE(first, last);
        ASSERT_LT(last, m_rows.size());
        ASSERT_EQ(m_list.viewRowCount(), m_rows.size());
        m_first = first;
        m_last = last;
        ++removals;
    }
    void rowsRemoved() override {
        m_rows.erase(m_rows.begin() + static_cast<std::ptrdiff_t>(m_first),
                     m_rows.begin() + static_cast<std::ptrdiff_t>(m_last) + 1);
        verify();
    }
    void rowsAboutToBeInserted(std::size_t first, std::size_t last) override {
        ASSERT_EQ(first, m_rows.size()) << "rows are only added at the end";
        ASSERT_EQ(m_list.viewRowCount(), m_rows.size());
        m_first = first;
        m_last = last;
        ++insertions;
    }
    void rowsInserted() override {
        for (std::size_t i = m_first; i <= m_last; ++i)
            m_rows.push_back(m_list.viewRowAt(i));
        verify();
    }
    void layoutAboutToBeChanged() override { ++layoutChanges; }
    void layoutChanged() override {
        std::vector<RowHandle> before = m_rows;
        resync();
        ASSERT_EQ(before.size(), m_rows.size());
        std::sort(before.begin(), before.end());
        std::vector<RowHandle> after = m_rows;
        std::sort(after.begin(), after.end());
        EXPECT_EQ(before, after) << "a sort keeps the same rows";
    }
    void allRowsChanged() override { ++repaints; }

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

    int removals = 0;
    int insertions = 0;
    int layoutChanges = 0;
    int repaints = 0;

private:
    MemoryListControl& m_list;
    std::vector<RowHandle> m_rows;
    std::size_t m_first = 0;
    std::size_t m_last = 0;
};

RowHandle addNamed(ListControl& list, const std::string& name,
                   const std::string& protocol = "TCP") {
    RowHandle row = list.addRow();
    row->Rec.ProcName = name;
    row->Rec.Protocol = protocol;
    return row;
}

std::vector<std::string> names(const ListControl& list) {
    std::vector<std::string> out;
    for (RowHandle row = list.firstRow(); row; row = list.nextRow(row))
        out.push_back(row->Rec.ProcName);
    return out;
}

using Names = std::vector<std::string>;

TEST(MemoryListControl, StartsEmptyWithTheLayoutsHeaderAndSort) {
    MemoryListControl list;
    EXPECT_EQ(list.rowCount(), 0u);
    EXPECT_EQ(list.firstRow(), nullptr);
    EXPECT_EQ(list.selectedCount(), 0u);
    EXPECT_EQ(list.focusedRow(), nullptr);
    EXPECT_EQ(list.columnCount(), 14);
    EXPECT_EQ(list.column(ColumnProcess).title, "进程");
    EXPECT_EQ(list.column(99).title, "");
    EXPECT_EQ(list.sortColumn(), ColumnProcess);
    EXPECT_EQ(list.sortDirection(), SortDirection::Ascending);
    EXPECT_TRUE(list.autoSort());
}

TEST(MemoryListControl, AddsAtTheEndAndDeletesWithoutMovingOtherHandles) {
    MemoryListControl list;
    MirrorObserver mirror(list);
    list.setObserver(&mirror);
    RowHandle a = addNamed(list, "a");
    RowHandle b = addNamed(list, "b");
    RowHandle c = addNamed(list, "c");
    EXPECT_EQ(b->Rec.Mark, "");
    EXPECT_EQ(names(list), (Names{"a", "b", "c"}));
    list.deleteRow(b);
    EXPECT_EQ(list.rowCount(), 2u);
    EXPECT_EQ(list.nextRow(a), c);
    EXPECT_EQ(c->Rec.ProcName, "c");
    EXPECT_EQ(mirror.rows(), (std::vector<RowHandle>{a, c}));
    list.deleteRow(nullptr);
    EXPECT_EQ(list.rowCount(), 2u);
    list.clear();
    EXPECT_EQ(list.rowCount(), 0u);
    EXPECT_TRUE(mirror.rows().empty());
}

TEST(MemoryListControl, BracketGroupsRemovalsIntoRunsAndAddsInOneInsertion) {
    MemoryListControl list;
    std::vector<RowHandle> rows;
    for (int i = 0; i < 20; ++i)
        rows.push_back(addNamed(list, "r" + std::to_string(i)));
    MirrorObserver mirror(list);
    list.setObserver(&mirror);

    list.beginUpdate();
    // Three runs: {0,1}, {5}, {17,18,19}.
    for (int i : {0, 1, 5, 17, 18, 19})
        list.deleteRow(rows[static_cast<std::size_t>(i)]);
    EXPECT_EQ(list.rowCount(), 14u);
    EXPECT_EQ(list.firstRow(), rows[2]);
    EXPECT_EQ(list.nextRow(rows[5]), rows[6])
        << "the walk goes on from a row deleted in the bracket";
    RowHandle added1 = addNamed(list, "n1");
    RowHandle gone = addNamed(list, "n2");
    RowHandle added3 = addNamed(list, "n3");
    list.deleteRow(gone);
    EXPECT_EQ(list.nextRow(rows[16]), added1);
    EXPECT_EQ(list.viewRowCount(), 20u) << "the view sees nothing before the bracket closes";
    EXPECT_EQ(mirror.removals + mirror.insertions, 0);
    list.endUpdate();

    EXPECT_EQ(mirror.removals, 3);
    EXPECT_EQ(mirror.insertions, 1);
    EXPECT_EQ(list.rowCount(), 16u);
    mirror.verify();
    std::vector<RowHandle> expected;
    for (int i : {2, 3, 4, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16})
        expected.push_back(rows[static_cast<std::size_t>(i)]);
    expected.push_back(added1);
    expected.push_back(added3);
    EXPECT_EQ(mirror.rows(), expected);
    std::vector<RowHandle> walked;
    for (RowHandle row = list.firstRow(); row; row = list.nextRow(row))
        walked.push_back(row);
    EXPECT_EQ(walked, expected);
}

TEST(MemoryListControl, ClearInsideBracketAndNestedBrackets) {
    MemoryListControl list;
    addNamed(list, "a");
    addNamed(list, "b");
    MirrorObserver mirror(list);
    list.setObserver(&mirror);
    list.beginUpdate();
    list.beginUpdate();
    list.clear();
    RowHandle fresh = addNamed(list, "c");
    list.endUpdate();
    EXPECT_EQ(mirror.removals, 0) << "the inner bracket does not apply anything";
    list.endUpdate();
    EXPECT_EQ(mirror.removals, 1);
    EXPECT_EQ(mirror.rows(), (std::vector<RowHandle>{fresh}));
    list.endUpdate(); // unbalanced close is harmless
    EXPECT_EQ(list.rowCount(), 1u);
}

TEST(MemoryListControl, SelectionAndFocusStayOnTheirRows) {
    for (bool bracket : {false, true}) {
        SCOPED_TRACE(bracket ? "in a bracket" : "no bracket");
        MemoryListControl list;
        RowHandle z = addNamed(list, "z");
        RowHandle y = addNamed(list, "y");
        RowHandle x = addNamed(list, "x");
        list.selectRow(y);
        list.setFocusedRow(y);
        list.sort(ColumnProcess, SortDirection::Ascending);
        EXPECT_EQ(list.firstRow(), x);
        EXPECT_EQ(list.selectedRow(), y);
        EXPECT_EQ(list.focusedRow(), y);
        if (bracket)
            list.beginUpdate();
        list.deleteRow(z);
        EXPECT_EQ(list.selectedRow(), y);
        list.deleteRow(y);
        EXPECT_EQ(list.selectedCount(), 0u);
        EXPECT_EQ(list.selectedRow(), nullptr);
        EXPECT_EQ(list.focusedRow(), nullptr);
        if (bracket) {
            list.selectRow(y); // a row deleted in the bracket cannot be selected again
            EXPECT_EQ(list.selectedCount(), 0u);
            list.endUpdate();
        }
        list.selectRow(x);
        EXPECT_EQ(list.selectedCount(), 1u);
        list.selectRow(nullptr);
        EXPECT_EQ(list.selectedCount(), 0u);
    }
}

struct SortCase {
    const char* what;
    int column;
    SortDirection direction;
    std::vector<std::string> values; // the field's value per row, in order of adding
    std::vector<int> expectedOrder;  // indices into values
};

TEST(MemoryListControl, SortIsStableInBothDirectionsAndComparesText) {
    const SortCase cases[] = {
        {"ports as text",
         ColumnLocalPort,
         SortDirection::Ascending,
         {"8080", "80", "135"},
         {2, 1, 0}},
        {"addresses as text",
         ColumnLocalAddr,
         SortDirection::Ascending,
         {"9.1.1.1", "10.0.0.2"},
         {1, 0}},
        {"case-folded names keep their order",
         ColumnProcess,
         SortDirection::Ascending,
         {"svchost.exe", "b", "SVCHOST.EXE", "a"},
         {3, 1, 0, 2}},
        {"stable descending too",
         ColumnProcess,
         SortDirection::Descending,
         {"svchost.exe", "b", "SVCHOST.EXE", "a"},
         {0, 2, 1, 3}},
        {"UDP rows (empty state) first",
         ColumnState,
         SortDirection::Ascending,
         {"已建立", "", "监听", ""},
         {1, 3, 0, 2}},
        // Texts around the 16 bytes the sort compares first, with prefixes and folded case.
        {"long and prefixed texts",
         ColumnProcess,
         SortDirection::Ascending,
         {"abcdefghijklmnopZ", "ABCDEFGHIJKLMNOPa", "abcdefghijklmnop", "abc", "ab",
          std::string("ab\0", 3), "abcdefghijklmnoq", "ABCDEFGHIJKLMNOPA"},
         {4, 5, 3, 2, 1, 7, 0, 6}},
        {"no sort column keeps the order",
         NoColumn,
         SortDirection::Descending,
         {"b", "a", "c"},
         {0, 1, 2}},
        {"column 0 does not compare",
         ColumnPID,
         SortDirection::Ascending,
         {"3", "2", "1"},
         {0, 1, 2}},
        {"column 13 does not compare",
         ColumnMark,
         SortDirection::Ascending,
         {"md", "add", ""},
         {0, 1, 2}},
    };
    for (const SortCase& c : cases) {
        SCOPED_TRACE(c.what);
        MemoryListControl list;
        MirrorObserver mirror(list);
        list.setObserver(&mirror);
        std::vector<RowHandle> rows;
        for (const std::string& value : c.values) {
            RowHandle row = list.addRow();
            switch (c.column) {
            case ColumnLocalPort:
                row->Rec.LocalPort = value;
                break;
            case ColumnLocalAddr:
                row->Rec.LocalAddr = value;
                break;
            case ColumnState:
                row->Rec.State = value;
                break;
            case ColumnMark:
                row->Rec.Mark = value;
                break;
            case ColumnPID:
                row->Rec.PID = value;
                break;
            default:
                row->Rec.ProcName = value;
                break;
            }
            rows.push_back(row);
        }
        list.sort(c.column, c.direction);
        std::vector<RowHandle> expected;
        for (int i : c.expectedOrder)
            expected.push_back(rows[static_cast<std::size_t>(i)]);
        std::vector<RowHandle> walked;
        for (RowHandle row = list.firstRow(); row; row = list.nextRow(row))
            walked.push_back(row);
        EXPECT_EQ(walked, expected);
        EXPECT_EQ(mirror.rows(), expected);
    }
}

TEST(MemoryListControl, SortInsideBracketAppliesPendingChangesFirst) {
    MemoryListControl list;
    RowHandle b = addNamed(list, "b");
    RowHandle c = addNamed(list, "c");
    MirrorObserver mirror(list);
    list.setObserver(&mirror);
    list.beginUpdate();
    list.deleteRow(c);
    RowHandle a = addNamed(list, "a");
    list.sort(ColumnProcess, SortDirection::Ascending);
    EXPECT_EQ(mirror.rows(), (std::vector<RowHandle>{a, b}));
    list.endUpdate();
    EXPECT_EQ(mirror.rows(), (std::vector<RowHandle>{a, b}));
}

struct ClickStep {
    int column;
    int sortColumn;
    SortDirection direction;
    std::vector<std::string> order;
};

TEST(VTSHeaderClick, ChoosesColumnReversesDirectionAndResorts) {
    const auto asc = SortDirection::Ascending;
    const auto desc = SortDirection::Descending;
    // Rows: name / protocol.  b/UDP, a/TCP, c/TCP; start sorted by name ascending: a b c.
    const struct {
        const char* what;
        std::vector<ClickStep> steps;
    } sequences[] = {
        {"same column toggles",
         {{ColumnProcess, ColumnProcess, desc, {"c", "b", "a"}},
          {ColumnProcess, ColumnProcess, asc, {"a", "b", "c"}}}},
        {"another column starts descending",
         {{ColumnProtocol, ColumnProtocol, desc, {"b", "a", "c"}}}},
        {"manage column does nothing", {{ColumnManage, ColumnProcess, asc, {"a", "b", "c"}}}},
        {"no column: order kept, direction reversed",
         {{NoColumn, NoColumn, desc, {"a", "b", "c"}},
          {NoColumn, NoColumn, asc, {"a", "b", "c"}},
          {ColumnProcess, ColumnProcess, desc, {"c", "b", "a"}}}},
    };
    for (const auto& sequence : sequences) {
        SCOPED_TRACE(sequence.what);
        MemoryListControl list;
        addNamed(list, "b", "UDP");
        addNamed(list, "a", "TCP");
        addNamed(list, "c", "TCP");
        list.sort(list.sortColumn(), list.sortDirection());
        for (const ClickStep& step : sequence.steps) {
            VTSHeaderClick(list, step.column);
            EXPECT_EQ(list.sortColumn(), step.sortColumn);
            EXPECT_EQ(list.sortDirection(), step.direction);
            EXPECT_EQ(names(list), step.order);
        }
    }
}

TEST(VTSHeaderClick, AfterAClickWithNoColumnNewRowsStayAfterTheExistingOnes) {
    MemoryListControl list;
    addNamed(list, "m");
    addNamed(list, "k");
    list.sort(list.sortColumn(), list.sortDirection());
    VTSHeaderClick(list, NoColumn);
    addNamed(list, "a");
    list.sort(list.sortColumn(), list.sortDirection());
    EXPECT_EQ(names(list), (Names{"k", "m", "a"}));
}

TEST(MemoryListControl, FocusAndRepaintReachTheView) {
    MemoryListControl list;
    MirrorObserver mirror(list);
    list.setObserver(&mirror);
    list.setFocus();
    list.repaint();
    EXPECT_EQ(list.focusRequests(), 1);
    EXPECT_EQ(list.repaints(), 1);
    EXPECT_EQ(mirror.repaints, 1);
}

// Random adds, deletions, brackets and sorts against a plain vector kept by hand; the view
// mirror checks every notification on the way.
TEST(MemoryListControl, RandomOperationsMatchAPlainModel) {
    std::mt19937 random(20261210);
    MemoryListControl list;
    MirrorObserver mirror(list);
    list.setObserver(&mirror);
    std::vector<RowHandle> model;
    auto pick = [&random](std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(random);
    };
    const char* names[] = {"a", "B", "b", "c", "ab", "A", ""};
    for (int step = 0; step < 3000; ++step) {
        const std::size_t op = pick(10);
        if (op < 4) {
            RowHandle row = list.addRow();
            row->Rec.ProcName = names[pick(std::size(names))];
            row->Rec.LocalPort = std::to_string(pick(50));
            model.push_back(row);
        } else if (op < 7 && !model.empty()) {
            const std::size_t victim = pick(model.size());
            list.deleteRow(model[victim]);
            model.erase(model.begin() + static_cast<std::ptrdiff_t>(victim));
        } else if (op == 7) {
            const int column = pick(2) ? ColumnProcess : ColumnLocalPort;
            const bool ascending = pick(2) == 0;
            list.sort(column, ascending ? SortDirection::Ascending : SortDirection::Descending);
            std::stable_sort(model.begin(), model.end(), [&](RowHandle a, RowHandle b) {
                return ascending ? compareRows(a->Rec, b->Rec, column) < 0
                                 : compareRows(b->Rec, a->Rec, column) < 0;
            });
        } else if (op == 8 && !list.inUpdate()) {
            list.beginUpdate();
        } else if (op == 9 && list.inUpdate()) {
            list.endUpdate();
            ASSERT_EQ(mirror.rows(), model) << "step " << step;
        }
        ASSERT_EQ(list.rowCount(), model.size());
        std::vector<RowHandle> walked;
        for (RowHandle row = list.firstRow(); row; row = list.nextRow(row))
            walked.push_back(row);
        ASSERT_EQ(walked, model) << "step " << step;
        std::vector<RowHandle> appended{nullptr};
        list.appendRows(appended);
        appended.erase(appended.begin());
        ASSERT_EQ(appended, model) << "step " << step << ", all rows at once";
    }
    if (list.inUpdate())
        list.endUpdate();
    EXPECT_EQ(mirror.rows(), model);
}

} // namespace
