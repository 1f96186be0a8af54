#pragma once
// The list VTS on screen: a table view over ConnectionModel with the list's look (row height,
// header, blended selection, grid, manage glyph, tooltips for clipped cells, incremental
// search) that keeps the view's selection and current row in step with the list control's
// selected and focused row, and forwards the user's clicks to the window's list events.
#include <QElapsedTimer>
#include <QHeaderView>
#include <QPixmap>
#include <QString>
#include <QStyledItemDelegate>
#include <QTableView>

#include "list/Gestures.h"
#include "ui/Components.h"
#include "ui/qt/ConnectionModel.h"

namespace qtui {

// Reports every left click on a section, like the list control's header: the column clicked,
// or NoColumn when the button was pressed on one section and released outside it. Presses on
// a divider (resizing) are no clicks.
class ListHeader : public QHeaderView {
    Q_OBJECT
public:
    explicit ListHeader(QWidget* parent = nullptr);

signals:
    void headerClicked(int column);

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    gestures::HeaderPress m_press;
};

// Paints a cell without the style's own selection, then the manage glyph in its column and
// the selection colour blended over the selected row, the same with and without focus; shows
// a cell's full text as a tooltip only when it does not fit.
class ListDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit ListDelegate(QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;
    // Whether the text of `index` is cut off in a cell of `option`'s rectangle.
    bool textClipped(const QStyleOptionViewItem& option, const QModelIndex& index) const;

private:
    QPixmap m_manageGlyph;
};

class ConnectionView : public QTableView {
    Q_OBJECT
public:
    ConnectionView(ConnectionModel* model, ui::ErrorReport& report, QWidget* parent = nullptr);

    ConnectionModel* connectionModel() const { return m_model; }
    ListHeader* listHeader() const { return m_header; }
    // Takes the list control's selection and focused row into the selection model.
    void syncFromList();

    // Characters typed less than this apart extend one search text.
    static constexpr int SearchIntervalMs = int(gestures::TypeAheadClock::IntervalMs);
    void keyboardSearch(const QString& search) override;

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;

private:
    void applyColumn(int column);
    void applyAllColumns();
    void syncSortIndicator();
    void takeViewState();
    void doubleClickInList();
    void clampSection(int column, int newSize);
    ListControlEvents* events() const;

    ConnectionModel* m_model;
    ListHeader* m_header;
    ui::ErrorReport& m_report;
    bool m_syncing = false;
    bool m_taking = false;
    gestures::TypeAhead<QString> m_search;
    QElapsedTimer m_searchClock; // the search's time, from its first key
};

} // namespace qtui
