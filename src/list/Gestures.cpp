#include "list/Gestures.h"

#include <algorithm>

namespace gestures {

bool TypeAheadClock::extends(std::int64_t nowMs) {
    // A clock that went back (or a first key) starts a new text as a pause does.
    const bool extend = m_started && nowMs >= m_last && nowMs - m_last < IntervalMs;
    m_started = true;
    m_last = nowMs;
    return extend;
}

void SearchColumn::cellClicked(int column) {
    if (column >= 0 && column < ColumnCount)
        m_clicked = column;
}

int SearchColumn::column(const std::function<bool(int column)>& shown) const {
    return shown(m_clicked) ? m_clicked : int(ColumnProcess);
}

int FindFrom(int start, int count, const std::function<bool(int row)>& matches) {
    if (count <= 0)
        return -1;
    if (start < 0 || start >= count)
        start = 0;
    for (int step = 0; step < count; ++step) {
        const int row = (start + step) % count;
        if (matches(row))
            return row;
    }
    return -1;
}

std::optional<int> HeaderPress::release(int under) {
    if (!m_pressed)
        return std::nullopt;
    const int pressed = *m_pressed;
    m_pressed = std::nullopt;
    return under == pressed ? pressed : NoColumn;
}

void SelectForMenu(ListControl& list, RowHandle row) {
    if (!row)
        return;
    list.selectRow(row);
    list.setFocusedRow(row);
}

int LimitWidth(const ListColumn& column, int width, const std::function<int(int)>& scale) {
    const int minimum = scale(column.minWidth);
    const int maximum = std::max(minimum, scale(column.maxWidth));
    return std::clamp(width, minimum, maximum);
}

bool FixedWidth(const ListColumn& column) {
    return column.minWidth >= column.maxWidth;
}

} // namespace gestures
