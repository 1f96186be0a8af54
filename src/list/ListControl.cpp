#include "list/ListControl.h"

void ListControl::appendRows(std::vector<RowHandle>& rows) const {
    for (RowHandle row = firstRow(); row; row = nextRow(row))
        rows.push_back(row);
}

void VTSHeaderClick(ListControl& list, int column) {
    if (column == ColumnManage)
        return;
    list.setSortColumn(column);
    list.setSortDirection(list.sortDirection() == SortDirection::Ascending
                              ? SortDirection::Descending
                              : SortDirection::Ascending);
}
