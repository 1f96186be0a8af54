#pragma once
// The list's mouse and keyboard gestures, free of any toolkit: both list views feed them their
// toolkit's events and act on the answers.
#include <cstdint>
#include <functional>
#include <optional>

#include "list/Columns.h"
#include "list/ListControl.h"

namespace gestures {

// When characters typed for the type-ahead search extend one text: those typed less than
// IntervalMs after the one before.
class TypeAheadClock {
public:
    static constexpr std::int64_t IntervalMs = 200;
    // Takes a key at `nowMs` (any monotonic millisecond clock): true when it extends the text.
    bool extends(std::int64_t nowMs);

private:
    std::int64_t m_last = 0;
    bool m_started = false;
};

// The column searched: that of the cell last clicked (the focused cell's column), column 1
// until a cell is clicked and while the clicked column is hidden.
class SearchColumn {
public:
    // A click on a cell of `column`; NoColumn leaves the column as it was.
    void cellClicked(int column);
    int column(const std::function<bool(int column)>& shown) const;

private:
    int m_clicked = ColumnProcess;
};

// Type-ahead search over the toolkit's own text type: a row matches when the text of its cell
// in the search column begins with the search text (the comparison is the toolkit's).
template <class Text> class TypeAhead {
public:
    static constexpr std::int64_t IntervalMs = TypeAheadClock::IntervalMs;

    void cellClicked(int column) { m_column.cellClicked(column); }
    int searchColumn(const std::function<bool(int column)>& shown) const {
        return m_column.column(shown);
    }
    // Takes `typed` arriving at `nowMs` and returns the search text: the earlier text
    // extended, or `typed` alone after a pause. Nothing typed changes nothing.
    const Text& type(const Text& typed, std::int64_t nowMs) {
        if (typed == Text())
            return m_text;
        m_text = m_clock.extends(nowMs) ? m_text + typed : typed;
        return m_text;
    }
    const Text& text() const { return m_text; }

private:
    TypeAheadClock m_clock;
    SearchColumn m_column;
    Text m_text;
};

// The first of `count` rows, from `start` on and wrapping round to the rows before it, for
// which `matches` holds; -1 when none does (or the list is empty). A `start` out of range
// starts at row 0.
int FindFrom(int start, int count, const std::function<bool(int row)>& matches);

// A header click made of a press and a release: a click on the pressed column when the
// button is released over that same column, a click on NoColumn when released outside it,
// nothing without a press.
class HeaderPress {
public:
    void press(int column) { m_pressed = column; }
    void cancel() { m_pressed = std::nullopt; }
    bool pressed() const { return m_pressed.has_value(); }
    // `under` is the column under the button as it goes up, NoColumn when none.
    std::optional<int> release(int under);

private:
    std::optional<int> m_pressed;
};

// A right click on `row` (nullptr outside the rows): the row is selected and focused before
// the context menu opens.
void SelectForMenu(ListControl& list, RowHandle row);

// The width a column takes when the user asks for `width`: within its minimum and maximum.
// `scale` turns design pixels into the screen's.
int LimitWidth(
    const ListColumn& column, int width,
    const std::function<int(int)>& scale = [](int pixels) { return pixels; });
// A column the user cannot resize: its minimum is not below its maximum.
bool FixedWidth(const ListColumn& column);

} // namespace gestures
