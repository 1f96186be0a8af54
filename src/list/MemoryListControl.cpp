#include "list/MemoryListControl.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct MemoryListControl::Node : ListRow {
    std::size_t pos = 0; // index in m_rows
    bool deleted = false;
    // While filtering: whether the view shows the row, and its place in m_view.
    bool shown = false;
    std::size_t viewPos = 0;
};

MemoryListControl::MemoryListControl(ListHeaderColumns header)
    : m_columnCount(header == ListHeaderColumns::WithOptional ? AllColumnCount : ColumnCount) {
    const auto described = defaultListColumns();
    std::copy(described.begin(), described.end(), m_columns.begin());
    const auto optional = extraListColumns();
    std::copy(optional.begin(), optional.end(), m_columns.begin() + ColumnCount);
}

MemoryListControl::~MemoryListControl() = default;

MemoryListControl::Node* MemoryListControl::node(RowHandle row) {
    return static_cast<Node*>(row);
}

RowHandle MemoryListControl::addRow() {
    auto fresh = std::make_unique<Node>();
    fresh->pos = m_rows.size();
    Node* added = fresh.get();
    // While filtering, a new row is shown once a test has seen its texts.
    if (filtering())
        m_untestedRows = true;
    if (m_updateDepth > 0 || filtering()) {
        m_rows.push_back(std::move(fresh));
        m_deletedAt.push_back(false);
    } else {
        if (m_observer)
            m_observer->rowsAboutToBeInserted(m_viewCount, m_viewCount);
        m_rows.push_back(std::move(fresh));
        m_deletedAt.push_back(false);
        m_viewCount = m_rows.size();
        if (m_observer)
            m_observer->rowsInserted();
    }
    ++m_liveCount;
    return added;
}

void MemoryListControl::deleteRow(RowHandle row) {
    Node* doomed = node(row);
    if (!doomed || doomed->deleted)
        return;
    if (m_selected == doomed) {
        m_selected = nullptr;
        if (m_observer)
            m_observer->selectionChanged();
    }
    if (m_focused == doomed) {
        m_focused = nullptr;
        if (m_observer)
            m_observer->focusedRowChanged();
    }
    --m_liveCount;
    if (filtering() && doomed->shown)
        --m_shownLive;
    if (m_updateDepth > 0) {
        doomed->deleted = true;
        m_deletedAt[doomed->pos] = true;
        ++m_pendingDeletes;
        return;
    }
    eraseNow(doomed);
}

void MemoryListControl::eraseNow(Node* row) {
    const std::size_t position = row->pos;
    if (filtering()) {
        const bool shown = row->shown;
        const std::size_t place = row->viewPos;
        if (shown && m_observer)
            m_observer->rowsAboutToBeRemoved(place, place);
        if (shown) {
            m_view.erase(m_view.begin() + static_cast<std::ptrdiff_t>(place));
            for (std::size_t i = place; i < m_view.size(); ++i)
                m_view[i]->viewPos = i;
        }
        m_rows.erase(m_rows.begin() + static_cast<std::ptrdiff_t>(position));
        m_deletedAt.erase(m_deletedAt.begin() + static_cast<std::ptrdiff_t>(position));
        m_viewCount = m_rows.size();
        renumberFrom(position);
        if (shown && m_observer)
            m_observer->rowsRemoved();
        return;
    }
    if (m_observer)
        m_observer->rowsAboutToBeRemoved(position, position);
    m_rows.erase(m_rows.begin() + static_cast<std::ptrdiff_t>(position));
    m_deletedAt.erase(m_deletedAt.begin() + static_cast<std::ptrdiff_t>(position));
    m_viewCount = m_rows.size();
    renumberFrom(position);
    if (m_observer)
        m_observer->rowsRemoved();
}

void MemoryListControl::renumberFrom(std::size_t position) {
    for (std::size_t i = position; i < m_rows.size(); ++i)
        m_rows[i]->pos = i;
}

void MemoryListControl::clear() {
    if (m_rows.empty())
        return;
    if (m_selected || m_focused) {
        const bool hadSelection = m_selected != nullptr;
        const bool hadFocus = m_focused != nullptr;
        m_selected = nullptr;
        m_focused = nullptr;
        if (m_observer && hadSelection)
            m_observer->selectionChanged();
        if (m_observer && hadFocus)
            m_observer->focusedRowChanged();
    }
    m_liveCount = 0;
    if (m_updateDepth > 0) {
        for (std::size_t i = 0; i < m_rows.size(); ++i) {
            if (!m_deletedAt[i]) {
                m_rows[i]->deleted = true;
                m_deletedAt[i] = true;
                ++m_pendingDeletes;
            }
        }
        return;
    }
    const std::size_t viewed = viewRowCount();
    if (m_observer && viewed > 0)
        m_observer->rowsAboutToBeRemoved(0, viewed - 1);
    m_rows.clear();
    m_deletedAt.clear();
    m_viewCount = 0;
    m_view.clear();
    m_shownLive = 0;
    if (m_observer && viewed > 0)
        m_observer->rowsRemoved();
}

RowHandle MemoryListControl::firstRow() const {
    for (std::size_t i = 0; i < m_rows.size(); ++i) {
        if (!m_deletedAt[i])
            return m_rows[i].get();
    }
    return nullptr;
}

RowHandle MemoryListControl::nextRow(RowHandle row) const {
    const Node* current = node(row);
    if (!current)
        return nullptr;
    for (std::size_t i = current->pos + 1; i < m_rows.size(); ++i) {
        if (!m_deletedAt[i])
            return m_rows[i].get();
    }
    return nullptr;
}

void MemoryListControl::appendRows(std::vector<RowHandle>& rows) const {
    for (std::size_t i = 0; i < m_rows.size(); ++i) {
        if (!m_deletedAt[i])
            rows.push_back(m_rows[i].get());
    }
}

void MemoryListControl::beginUpdate() {
    ++m_updateDepth;
}

void MemoryListControl::endUpdate() {
    if (m_updateDepth == 0)
        return;
    if (--m_updateDepth == 0)
        applyPending();
}

// Removes the rows deleted inside the bracket in one pass, telling the view each run of
// neighbouring deleted rows, then announces the rows added inside the bracket. While it runs,
// the view's rows are m_rows[0, m_gapBegin) followed by m_rows[m_gapEnd, m_viewCount).
void MemoryListControl::applyPending() {
    if (filtering()) {
        applyPendingFiltered();
        return;
    }
    const std::size_t viewEnd = m_viewCount;
    std::size_t write = 0;
    std::size_t read = 0;
    if (m_pendingDeletes > 0) {
        while (read < viewEnd) {
            if (!m_deletedAt[read]) {
                if (write != read) {
                    m_rows[write] = std::move(m_rows[read]);
                    m_rows[write]->pos = write;
                }
                ++write;
                ++read;
                m_gapBegin = write;
                m_gapEnd = read;
                continue;
            }
            std::size_t runEnd = read;
            while (runEnd < viewEnd && m_deletedAt[runEnd])
                ++runEnd;
            if (m_observer)
                m_observer->rowsAboutToBeRemoved(write, write + (runEnd - read) - 1);
            for (std::size_t i = read; i < runEnd; ++i)
                m_rows[i].reset();
            read = runEnd;
            m_gapBegin = write;
            m_gapEnd = read;
            if (m_observer)
                m_observer->rowsRemoved();
        }
    } else {
        write = read = viewEnd;
    }
    // Rows added inside the bracket follow; those already deleted again are dropped here.
    for (; read < m_rows.size(); ++read) {
        if (m_deletedAt[read]) {
            m_rows[read].reset();
            continue;
        }
        if (write != read)
            m_rows[write] = std::move(m_rows[read]);
        m_rows[write]->pos = write;
        ++write;
    }
    m_rows.resize(write);
    m_deletedAt.assign(write, false);
    m_viewCount = viewEnd - (m_gapEnd - m_gapBegin);
    m_gapBegin = m_gapEnd = 0;
    m_pendingDeletes = 0;
    if (m_rows.size() > m_viewCount) {
        if (m_observer)
            m_observer->rowsAboutToBeInserted(m_viewCount, m_rows.size() - 1);
        m_viewCount = m_rows.size();
        if (m_observer)
            m_observer->rowsInserted();
    }
}

RowHandle MemoryListControl::selectedRow() const {
    return m_selected;
}

void MemoryListControl::selectRow(RowHandle row) {
    Node* chosen = node(row);
    if (chosen && !rowShown(chosen))
        return;
    if (chosen == m_selected)
        return;
    m_selected = chosen;
    if (m_observer)
        m_observer->selectionChanged();
}

RowHandle MemoryListControl::focusedRow() const {
    return m_focused;
}

void MemoryListControl::setFocusedRow(RowHandle row) {
    Node* chosen = node(row);
    if (chosen && !rowShown(chosen))
        return;
    if (chosen == m_focused)
        return;
    m_focused = chosen;
    if (m_observer)
        m_observer->focusedRowChanged();
}

const ListColumn& MemoryListControl::column(int index) const {
    static const ListColumn none{};
    if (index < 0 || index >= m_columnCount)
        return none;
    return m_columns[static_cast<std::size_t>(index)];
}

void MemoryListControl::setColumn(int index, const ListColumn& column) {
    if (index < 0 || index >= m_columnCount)
        return;
    const bool wasVisible = m_columns[static_cast<std::size_t>(index)].visible;
    m_columns[static_cast<std::size_t>(index)] = column;
    if (m_observer)
        m_observer->columnChanged(index);
    if (filtering() && wasVisible != column.visible)
        applyFilter(nullptr);
}

void MemoryListControl::setColumnVisible(int index, bool visible) {
    if (index < 0 || index >= m_columnCount)
        return;
    ListColumn& target = m_columns[static_cast<std::size_t>(index)];
    if (target.visible == visible)
        return;
    target.visible = visible;
    if (m_observer)
        m_observer->columnChanged(index);
    if (filtering())
        applyFilter(nullptr);
}

void MemoryListControl::setSortColumn(int column) {
    if (column == m_sortColumn)
        return;
    m_sortColumn = column;
    if (m_observer)
        m_observer->sortIndicatorChanged();
    if (m_autoSort)
        sort(m_sortColumn, m_sortDirection);
}

void MemoryListControl::setSortDirection(SortDirection direction) {
    if (direction == m_sortDirection)
        return;
    m_sortDirection = direction;
    if (m_observer)
        m_observer->sortIndicatorChanged();
    if (m_autoSort)
        sort(m_sortColumn, m_sortDirection);
}

namespace {

// A row's sort text with its first 16 bytes, folded, packed big-endian: comparing the packed
// numbers orders as the text comparison does, so only rows equal there need the full one.
struct SortItem {
    std::uint64_t high = 0;
    std::uint64_t low = 0;
    std::size_t length = 0;
    RowHandle row = nullptr;
};

constexpr std::size_t PackedBytes = 16;

// A value as a number whose unsigned order is the value's order (negative values included).
std::uint64_t orderedBits(double value) {
    if (!(value == value))
        value = -1; // not a number: no value
    std::uint64_t bits = 0;
    static_assert(sizeof bits == sizeof value);
    std::memcpy(&bits, &value, sizeof bits);
    constexpr std::uint64_t Sign = std::uint64_t{1} << 63;
    return (bits & Sign) != 0 ? ~bits : bits | Sign;
}

std::uint64_t packFolded(std::string_view text, std::size_t from) {
    std::uint64_t packed = 0;
    for (std::size_t i = from; i < from + 8; ++i) {
        unsigned char c = i < text.size() ? static_cast<unsigned char>(text[i]) : 0;
        if (c >= 'a' && c <= 'z')
            c = static_cast<unsigned char>(c - ('a' - 'A'));
        packed = (packed << 8) | c;
    }
    return packed;
}

} // namespace

void MemoryListControl::sort(int column, SortDirection direction) {
    if (m_updateDepth > 0)
        applyPending();
    if (!columnCompares(column) || m_rows.size() < 2)
        return;

    std::vector<SortItem> items(m_rows.size());
    // The rows lie scattered in memory: fetch a few rows ahead so the reads overlap.
    constexpr std::size_t FetchAhead = 8;
    if (columnComparesValues(column)) {
        // The whole value fits the key: equal keys are equal rows.
        for (std::size_t i = 0; i < m_rows.size(); ++i)
            items[i] =
                SortItem{orderedBits(columnValue(m_rows[i]->Rec, column)), 0, 0, m_rows[i].get()};
    } else {
        for (std::size_t i = 0; i < m_rows.size(); ++i) {
            if (i + FetchAhead < m_rows.size())
                __builtin_prefetch(columnField(m_rows[i + FetchAhead]->Rec, column));
            const std::string_view text = VTSGetText(m_rows[i]->Rec, column);
            items[i] =
                SortItem{packFolded(text, 0), packFolded(text, 8), text.size(), m_rows[i].get()};
        }
    }
    const bool ascending = direction == SortDirection::Ascending;
    auto before = [column](const SortItem& a, const SortItem& b) {
        if (a.high != b.high)
            return a.high < b.high;
        if (a.low != b.low)
            return a.low < b.low;
        // Both texts fully packed and equal there: the shorter one (padded with zero bytes)
        // is a prefix of the other.
        if (a.length <= PackedBytes && b.length <= PackedBytes)
            return a.length < b.length;
        return compareRows(a.row->Rec, b.row->Rec, column) < 0;
    };
    auto less = [&before, ascending](const SortItem& a, const SortItem& b) {
        return ascending ? before(a, b) : before(b, a);
    };
    // After a refresh most rows are still in order: sort only what follows the ordered
    // beginning and merge. A stable sort has one result, so this gives the same order.
    std::size_t ordered = 1;
    while (ordered < items.size() && !less(items[ordered], items[ordered - 1]))
        ++ordered;
    if (ordered == items.size())
        return;

    if (m_observer)
        m_observer->layoutAboutToBeChanged();
    const auto middle = items.begin() + static_cast<std::ptrdiff_t>(ordered);
    std::stable_sort(middle, items.end(), less);
    std::inplace_merge(items.begin(), middle, items.end(), less);
    std::vector<std::unique_ptr<Node>> sorted;
    sorted.reserve(m_rows.size());
    for (const SortItem& item : items)
        sorted.push_back(std::move(m_rows[node(item.row)->pos]));
    m_rows = std::move(sorted);
    renumberFrom(0);
    if (filtering()) {
        // The same rows stay shown, now in the new order.
        std::size_t place = 0;
        for (const auto& row : m_rows) {
            if (row->shown) {
                m_view[place] = row.get();
                row->viewPos = place++;
            }
        }
    }
    if (m_observer)
        m_observer->layoutChanged();
}

void MemoryListControl::setFocus() {
    ++m_focusRequests;
    if (m_observer)
        m_observer->focusRequested();
}

void MemoryListControl::repaint() {
    ++m_repaints;
    // Texts may have changed, and with them the filter's answers.
    if (filtering() && m_updateDepth == 0)
        applyFilter(nullptr);
    if (m_observer)
        m_observer->allRowsChanged();
}

std::size_t MemoryListControl::viewRowCount() const {
    if (filtering())
        return m_view.size();
    return m_viewCount - (m_gapEnd - m_gapBegin);
}

RowHandle MemoryListControl::viewRowAt(std::size_t position) const {
    if (filtering())
        return position < m_view.size() ? m_view[position] : nullptr;
    if (position >= viewRowCount())
        return nullptr;
    if (position >= m_gapBegin)
        position += m_gapEnd - m_gapBegin;
    return m_rows[position].get();
}

std::ptrdiff_t MemoryListControl::viewIndexOf(RowHandle row) const {
    const Node* target = node(row);
    if (!target)
        return -1;
    if (filtering())
        return target->shown ? static_cast<std::ptrdiff_t>(target->viewPos) : -1;
    const std::size_t position = target->pos;
    if (position < m_gapBegin)
        return static_cast<std::ptrdiff_t>(position);
    if (position >= m_gapEnd && position < m_viewCount)
        return static_cast<std::ptrdiff_t>(position - (m_gapEnd - m_gapBegin));
    return -1;
}

// --- The filter ---

std::array<bool, AllColumnCount> MemoryListControl::visibleColumns() const {
    std::array<bool, AllColumnCount> visible{};
    for (std::size_t i = 0; i < visible.size(); ++i)
        visible[i] = m_columns[i].visible;
    return visible;
}

bool MemoryListControl::rowShown(RowHandle row) const {
    const Node* target = node(row);
    if (!target || target->deleted)
        return false;
    return !filtering() || target->shown;
}

RowHandle MemoryListControl::firstShownRow() const {
    if (!filtering())
        return firstRow();
    for (Node* row : m_view) {
        if (!row->deleted)
            return row;
    }
    return nullptr;
}

RowHandle MemoryListControl::nextShownRow(RowHandle row) const {
    if (!filtering())
        return nextRow(row);
    const Node* current = node(row);
    if (!current)
        return nullptr;
    // A shown row continues in the view; any other from its place in the display order.
    if (current->shown) {
        for (std::size_t i = current->viewPos + 1; i < m_view.size(); ++i) {
            if (!m_view[i]->deleted)
                return m_view[i];
        }
        return nullptr;
    }
    for (std::size_t i = current->pos + 1; i < m_rows.size(); ++i) {
        if (m_rows[i]->shown && !m_deletedAt[i])
            return m_rows[i].get();
    }
    return nullptr;
}

std::size_t MemoryListControl::shownRowCount() const {
    return filtering() ? m_shownLive : m_liveCount;
}

void MemoryListControl::setFilterText(std::string_view text) {
    if (text == m_filter.text())
        return;
    if (m_updateDepth > 0)
        applyPending();
    RowFilter next(text);
    const bool wasFiltering = filtering();
    // Typing on only ever hides rows: the rows shown now are all that need a test.
    const bool narrowing =
        wasFiltering && !m_untestedRows && !next.empty() && next.narrows(m_filter);
    std::vector<Node*> candidates;
    if (narrowing)
        candidates = m_view;
    m_filter = std::move(next);
    if (!filtering()) {
        // Back to every row: the view is m_rows again.
        for (const auto& row : m_rows)
            row->shown = false;
        const bool changed = m_view.size() != m_rows.size();
        if (changed && m_observer)
            m_observer->viewAboutToBeReset();
        m_view.clear();
        m_shownLive = 0;
        m_viewCount = m_rows.size();
        if (changed && m_observer)
            m_observer->viewReset();
        return;
    }
    if (!wasFiltering) {
        // Entering the filter: the view so far was every row.
        m_view.clear();
        for (const auto& row : m_rows) {
            row->shown = true;
            row->viewPos = m_view.size();
            m_view.push_back(row.get());
        }
        m_shownLive = m_liveCount;
    }
    applyFilter(narrowing ? &candidates : nullptr);
}

void MemoryListControl::applyFilter(const std::vector<Node*>* candidates) {
    const std::array<bool, AllColumnCount> visible = visibleColumns();
    std::vector<Node*> shown;
    auto test = [&](Node* row) {
        if (!row->deleted && m_filter.matches(row->Rec, visible))
            shown.push_back(row);
    };
    if (candidates) {
        shown.reserve(candidates->size());
        for (Node* row : *candidates)
            test(row);
    } else {
        for (const auto& row : m_rows)
            test(row.get());
        m_untestedRows = false;
    }
    if (shown != m_view) {
        if (m_observer)
            m_observer->viewAboutToBeReset();
        setView(std::move(shown));
        if (m_observer)
            m_observer->viewReset();
    } else {
        m_shownLive = m_view.size();
    }
    dropHiddenSelection();
}

void MemoryListControl::setView(std::vector<Node*> shown) {
    for (Node* row : m_view)
        row->shown = false;
    m_view = std::move(shown);
    for (std::size_t i = 0; i < m_view.size(); ++i) {
        m_view[i]->shown = true;
        m_view[i]->viewPos = i;
    }
    m_shownLive = m_view.size();
}

void MemoryListControl::dropHiddenSelection() {
    if (m_selected && !rowShown(m_selected)) {
        m_selected = nullptr;
        if (m_observer)
            m_observer->selectionChanged();
    }
    if (m_focused && !rowShown(m_focused)) {
        m_focused = nullptr;
        if (m_observer)
            m_observer->focusedRowChanged();
    }
}

// With a filter the view's rows are not a prefix of m_rows, so the bracket's changes are not
// told as runs: the rows are tested again (texts may have changed inside the bracket) and,
// when the shown rows differ, the view hears one reset.
void MemoryListControl::applyPendingFiltered() {
    const std::array<bool, AllColumnCount> visible = visibleColumns();
    std::vector<Node*> shown;
    shown.reserve(m_view.size());
    for (std::size_t i = 0; i < m_rows.size(); ++i) {
        Node* row = m_rows[i].get();
        if (!m_deletedAt[i] && m_filter.matches(row->Rec, visible))
            shown.push_back(row);
    }
    m_untestedRows = false;
    const bool changed = shown != m_view;
    if (changed && m_observer)
        m_observer->viewAboutToBeReset();
    if (changed)
        setView(std::move(shown));
    else
        m_shownLive = m_view.size();
    if (m_pendingDeletes > 0) {
        std::size_t write = 0;
        for (std::size_t read = 0; read < m_rows.size(); ++read) {
            if (m_deletedAt[read])
                continue;
            if (write != read)
                m_rows[write] = std::move(m_rows[read]);
            m_rows[write]->pos = write;
            ++write;
        }
        m_rows.resize(write);
        m_deletedAt.assign(write, false);
        m_pendingDeletes = 0;
    }
    m_viewCount = m_rows.size();
    if (changed && m_observer)
        m_observer->viewReset();
    dropHiddenSelection();
}
