#pragma once
// The list control kept in memory: the rows, their order, selection, focus and header. Tests
// use it on its own; the Qt model wraps it, mirroring its changes through a ListViewObserver
// and reading rows by view position (viewRowCount / viewRowAt / viewIndexOf).
#include <array>
#include <cstddef>
#include <memory>
#include <vector>

#include "list/Columns.h"
#include "list/ListControl.h"
#include "list/RowFilter.h"

// What a view (the Qt model) needs to hear to stay in step. Positions are view positions:
// during an update bracket the view still sees the rows as they were before it; the changes
// arrive at endUpdate as grouped removals (each range already shifted by the ones before it),
// then one insertion at the end. Every default does nothing.
class ListViewObserver {
public:
    virtual ~ListViewObserver() = default;
    virtual void rowsAboutToBeRemoved(std::size_t /*first*/, std::size_t /*last*/) {}
    virtual void rowsRemoved() {}
    virtual void rowsAboutToBeInserted(std::size_t /*first*/, std::size_t /*last*/) {}
    virtual void rowsInserted() {}
    // Around a sort: handles keep their rows, so persistent positions can be remapped by
    // remembering viewRowAt before and asking viewIndexOf after.
    virtual void layoutAboutToBeChanged() {}
    virtual void layoutChanged() {}
    virtual void allRowsChanged() {} // repaint(): texts of any row may have changed
    // The filter changed which rows the view shows (or, while it holds text, a refresh did):
    // positions from before mean nothing afterwards; selection and focus are told after.
    virtual void viewAboutToBeReset() {}
    virtual void viewReset() {}
    virtual void selectionChanged() {}
    virtual void focusedRowChanged() {}
    virtual void columnChanged(int /*index*/) {}
    virtual void sortIndicatorChanged() {}
    virtual void focusRequested() {}
};

// Which header a list starts with: the described columns 0 to 13 alone, or followed by the
// columns 14 to 18 (extraListColumns, hidden until their options show them).
enum class ListHeaderColumns { Described, WithOptional };

class MemoryListControl : public ListControl {
public:
    // Starts with the connection list's header (defaultListColumns, and extraListColumns with
    // WithOptional), sort column 1 ascending, auto sort on.
    explicit MemoryListControl(ListHeaderColumns header = ListHeaderColumns::Described);
    ~MemoryListControl() override;
    MemoryListControl(const MemoryListControl&) = delete;
    MemoryListControl& operator=(const MemoryListControl&) = delete;

    RowHandle addRow() override;
    void deleteRow(RowHandle row) override;
    void clear() override;
    RowHandle firstRow() const override;
    RowHandle nextRow(RowHandle row) const override;
    // Without reading the rows themselves: at 100,000 rows scattered in memory, nextRow's
    // reads cost more than the refresh's own work on them.
    void appendRows(std::vector<RowHandle>& rows) const override;
    std::size_t rowCount() const override { return m_liveCount; }

    void beginUpdate() override;
    void endUpdate() override;
    bool inUpdate() const { return m_updateDepth > 0; }

    std::size_t selectedCount() const override { return m_selected ? 1 : 0; }
    RowHandle selectedRow() const override;
    void selectRow(RowHandle row) override;
    RowHandle focusedRow() const override;
    void setFocusedRow(RowHandle row) override;

    int columnCount() const override { return m_columnCount; }
    const ListColumn& column(int index) const override;
    void setColumn(int index, const ListColumn& column) override;
    void setColumnVisible(int index, bool visible) override;
    int sortColumn() const override { return m_sortColumn; }
    void setSortColumn(int column) override;
    SortDirection sortDirection() const override { return m_sortDirection; }
    void setSortDirection(SortDirection direction) override;
    bool autoSort() const override { return m_autoSort; }
    void setAutoSort(bool on) override { m_autoSort = on; }
    void sort(int column, SortDirection direction) override;

    void setFilterText(std::string_view text) override;
    const std::string& filterText() const override { return m_filter.text(); }
    bool rowShown(RowHandle row) const override;
    RowHandle firstShownRow() const override;
    RowHandle nextShownRow(RowHandle row) const override;
    std::size_t shownRowCount() const override;

    void setEventHandler(ListControlEvents* events) override { m_events = events; }
    ListControlEvents* eventHandler() const { return m_events; }
    void setFocus() override;
    void repaint() override;

    // --- For the view that wraps this control: positions count the shown rows only ---
    void setObserver(ListViewObserver* observer) { m_observer = observer; }
    std::size_t viewRowCount() const;
    RowHandle viewRowAt(std::size_t position) const; // nullptr when out of range
    // View position of a row, or -1 for nullptr or a row the view does not show.
    std::ptrdiff_t viewIndexOf(RowHandle row) const;

    // How often the list was given the focus and repainted (the tests read these).
    int focusRequests() const { return m_focusRequests; }
    int repaints() const { return m_repaints; }

private:
    struct Node;
    static Node* node(RowHandle row);
    void applyPending();
    void eraseNow(Node* row);
    void renumberFrom(std::size_t position);
    bool filtering() const { return !m_filter.empty(); }
    std::array<bool, AllColumnCount> visibleColumns() const;
    // Tests `candidates` (all rows when null) against the filter and, when that changes what
    // the view shows, tells the view of a reset. Then drops a hidden selection or focus.
    void applyFilter(const std::vector<Node*>* candidates);
    void setView(std::vector<Node*> shown);
    void dropHiddenSelection();
    void applyPendingFiltered();

    std::vector<std::unique_ptr<Node>> m_rows; // display order
    // Whether m_rows[i] was deleted inside the bracket; kept apart so that walks and the
    // compaction need not touch every row.
    std::vector<bool> m_deletedAt;
    std::size_t m_viewCount = 0; // rows the view knows: a prefix of m_rows
    std::size_t m_liveCount = 0; // rows not deleted
    std::size_t m_pendingDeletes = 0;
    // While endUpdate removes rows, the view sees m_rows[0, m_gapBegin) followed by
    // m_rows[m_gapEnd, m_viewCount + gap); outside that, the gap is empty.
    std::size_t m_gapBegin = 0;
    std::size_t m_gapEnd = 0;
    int m_updateDepth = 0;
    Node* m_selected = nullptr;
    Node* m_focused = nullptr;
    std::array<ListColumn, AllColumnCount> m_columns;
    int m_columnCount = ColumnCount;
    int m_sortColumn = ColumnProcess;
    SortDirection m_sortDirection = SortDirection::Ascending;
    bool m_autoSort = true;
    RowFilter m_filter;
    // While filtering: the rows the view shows, in display order (each Node's viewPos is its
    // place here), and how many of them are not deleted.
    std::vector<Node*> m_view;
    std::size_t m_shownLive = 0;
    bool m_untestedRows = false; // rows added while filtering that no test has seen yet
    ListControlEvents* m_events = nullptr;
    ListViewObserver* m_observer = nullptr;
    int m_focusRequests = 0;
    int m_repaints = 0;
};
