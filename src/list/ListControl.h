#pragma once
// What the connection list needs of its list control, independent of any toolkit. The window
// logic and FillList/RefreshList work only through this interface; MemoryListControl is the
// plain implementation, which the Qt model wraps.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "list/Columns.h"
#include "list/TMyRec.h"

// A row of the list. Implementations derive their node type from it. A handle stays valid
// while its row exists: sorting, selection and other rows' deletion do not move it.
struct ListRow {
    TMyRec Rec;
};
using RowHandle = ListRow*;

enum class SortDirection { Ascending, Descending };

struct ScreenPoint {
    int x = 0;
    int y = 0;
};

// The list's events that the window handles. Every default does nothing.
class ListControlEvents {
public:
    virtual ~ListControlEvents() = default;
    // Icon of a cell, an index into the small icon cache; -1 for none.
    virtual int VTSGetImageIndex(RowHandle /*node*/, int /*column*/) { return -1; }
    // A click on a header; `column` is NoColumn when the button was released outside the
    // column where it was pressed. The control changes no sort state itself.
    virtual void VTSHeaderClick(int /*column*/) {}
    // A right click. The row under the mouse (none outside the rows) has been selected and
    // focused before; the window prepares its context menu and shows it at `where`.
    virtual void VTSGetPopupMenu(RowHandle /*node*/, int /*column*/, ScreenPoint /*where*/) {}
    // A left click on a cell of `column` (the focused row is the clicked one).
    virtual void VTSColumnClick(int /*column*/, ScreenPoint /*where*/) {}
    virtual void VTSDblClick() {}
};

class ListControl {
public:
    virtual ~ListControl() = default;

    // --- Rows, in the order the control keeps ---
    // Appends a row with an empty record at the end and returns it. Adding never sorts.
    virtual RowHandle addRow() = 0;
    // Deletes `row` (its record goes with it); its handle is invalid once the pending changes
    // are applied (endUpdate, or a sort inside the bracket), at once outside a bracket. A
    // selected or focused row stops being so.
    virtual void deleteRow(RowHandle row) = 0;
    virtual void clear() = 0;
    // Display order; nullptr at the end or for an empty list. Deleted rows are skipped, so
    // nextRow of a row deleted inside the bracket still gives the row that followed it.
    virtual RowHandle firstRow() const = 0;
    virtual RowHandle nextRow(RowHandle row) const = 0;
    // Appends every row, in the order firstRow and nextRow give them.
    virtual void appendRows(std::vector<RowHandle>& rows) const;
    virtual std::size_t rowCount() const = 0;

    // Many changes as one: between beginUpdate and endUpdate deletions cost O(1) each, and a
    // view hears of the removed and added rows in a few grouped notifications at endUpdate.
    // Brackets nest; sort() inside one first applies the pending changes.
    virtual void beginUpdate() = 0;
    virtual void endUpdate() = 0;

    // --- Single selection and the focused row; both stay on their rows ---
    virtual std::size_t selectedCount() const = 0;
    virtual RowHandle selectedRow() const = 0;     // nullptr when none
    virtual void selectRow(RowHandle row) = 0;     // replaces the selection; nullptr clears
    virtual RowHandle focusedRow() const = 0;      // nullptr when none
    virtual void setFocusedRow(RowHandle row) = 0; // nullptr: no focused row

    // --- Header ---
    virtual int columnCount() const = 0;
    virtual const ListColumn& column(int index) const = 0;
    virtual void setColumn(int index, const ListColumn& column) = 0;
    virtual void setColumnVisible(int index, bool visible) = 0;
    // Sort column (NoColumn allowed) and direction. With auto sort on, a change of either
    // re-sorts the list at once.
    virtual int sortColumn() const = 0;
    virtual void setSortColumn(int column) = 0;
    virtual SortDirection sortDirection() const = 0;
    virtual void setSortDirection(SortDirection direction) = 0;
    virtual bool autoSort() const = 0;
    virtual void setAutoSort(bool on) = 0;
    // Stable sort of all rows by `column` with compareRows; equal rows keep their order in both
    // directions; NoColumn (or a column without comparison) leaves the order unchanged.
    virtual void sort(int column, SortDirection direction) = 0;

    // --- The filter: a view over the rows ---
    // While the filter holds text, only the rows in which the text of some visible column
    // contains it (RowFilter: ASCII letters folded) are shown; an empty text shows every row.
    // The rows themselves do not change: firstRow/nextRow and rowCount still see every row, so
    // that a refresh merges all of them. A row that the filter hides stops being selected and
    // focused, and cannot be selected or focused. Rows are tested when the filter or a column's
    // visibility changes, at the end of an update bracket (rows added or changed inside it)
    // and at repaint(); until then a row keeps the answer of its last test.
    virtual void setFilterText(std::string_view text) = 0;
    virtual const std::string& filterText() const = 0;
    virtual bool rowShown(RowHandle row) const = 0;
    // The rows shown, in display order: what the user sees and what commands and exports act
    // on. Every row while the filter is empty; nullptr at the end.
    virtual RowHandle firstShownRow() const = 0;
    virtual RowHandle nextShownRow(RowHandle row) const = 0;
    virtual std::size_t shownRowCount() const = 0;

    // --- Window matters ---
    virtual void setEventHandler(ListControlEvents* events) = 0;
    virtual void setFocus() = 0; // keyboard focus to the list
    virtual void repaint() = 0;  // repaint every visible row (texts may have changed)
};

// VTSHeaderClick: a click on the header of `column` (NoColumn when released outside it). The
// manage column does nothing; any other column, or none, becomes the sort column, and the
// direction is reversed on every click. Auto sort re-sorts after each change.
void VTSHeaderClick(ListControl& list, int column);
