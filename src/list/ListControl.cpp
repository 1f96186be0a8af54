#include "list/ListControl.h"

void VTSHeaderClick(ListControl& list, int column) {
    if (column == ColumnManage)
        return;
    list.setSortColumn(column);
    list.setSortDirection(list.sortDirection() == SortDirection::Ascending
                              ? SortDirection::Descending
                              : SortDirection::Ascending);
}
