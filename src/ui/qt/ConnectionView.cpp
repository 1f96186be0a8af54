#include "ui/qt/ConnectionView.h"

#include <algorithm>

#include <QAbstractItemView>
#include <QApplication>
#include <QColor>
#include <QContextMenuEvent>
#include <QCursor>
#include <QFont>
#include <QFontMetrics>
#include <QHelpEvent>
#include <QItemSelection>
#include <QItemSelectionModel>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QScopedValueRollback>
#include <QStyle>
#include <QToolTip>

#include "list/Columns.h"

namespace qtui {

namespace {

// How strongly the selection colour covers the row (of 255).
constexpr int SelectionAlpha = 128;
// The system's active-caption colour of the original's platform, used for the grid lines.
constexpr const char* ListStyleSheet =
    "QTableView { background-color: white; gridline-color: #99B4D1; border: none; }"
    "QHeaderView { background-color: white; }"
    "QHeaderView::section { background-color: white; color: black; padding-left: 4px;"
    " border: none; border-right: 1px solid #D5DFE5; border-bottom: 1px solid #D5DFE5; }"
    "QHeaderView::section:hover { color: blue; }";

} // namespace

ListHeader::ListHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
    connect(this, &QHeaderView::sectionPressed, this,
            [this](int logicalIndex) { m_press.press(logicalIndex); });
}

void ListHeader::mouseReleaseEvent(QMouseEvent* event) {
    QHeaderView::mouseReleaseEvent(event);
    if (event->button() != Qt::LeftButton) {
        m_press.cancel();
        return;
    }
    const int under = logicalIndexAt(event->position().toPoint());
    if (const std::optional<int> clicked = m_press.release(under < 0 ? NoColumn : under))
        emit headerClicked(*clicked);
}

ListDelegate::ListDelegate(QObject* parent)
    : QStyledItemDelegate(parent), m_manageGlyph(QStringLiteral(":/kestrel/pictures/manage.xpm")) {}

void ListDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                         const QModelIndex& index) const {
    QStyleOptionViewItem cell(option);
    initStyleOption(&cell, index);
    const bool selected = cell.state.testFlag(QStyle::State_Selected);
    cell.state &= ~(QStyle::State_Selected | QStyle::State_HasFocus);
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &cell, painter, widget);

    if (index.column() == ColumnManage)
        painter->drawPixmap(option.rect.left() + ManageGlyphLeft,
                            option.rect.top() + ManageGlyphTop, m_manageGlyph);
    if (selected) {
        painter->fillRect(option.rect, QColor(SelectionColour.r, SelectionColour.g,
                                              SelectionColour.b, SelectionAlpha));
    }
}

bool ListDelegate::textClipped(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QStyleOptionViewItem cell(option);
    initStyleOption(&cell, index);
    if (cell.text.isEmpty())
        return false;
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    const QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, &cell, widget);
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    const int needed = cell.fontMetrics.horizontalAdvance(cell.text) + 2 * margin;
    return needed > textRect.width();
}

bool ListDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view,
                             const QStyleOptionViewItem& option, const QModelIndex& index) {
    if (!event || event->type() != QEvent::ToolTip)
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    if (!index.isValid() || !textClipped(option, index)) {
        QToolTip::hideText();
        event->ignore();
        return true;
    }
    QToolTip::showText(event->globalPos(), index.data(Qt::DisplayRole).toString(), view,
                       view ? view->visualRect(index) : QRect());
    return true;
}

ConnectionView::ConnectionView(ConnectionModel* model, ui::ErrorReport& report, QWidget* parent)
    : QTableView(parent), m_model(model), m_header(new ListHeader(this)), m_report(report) {
    setHorizontalHeader(m_header);
    setModel(model);
    setItemDelegate(new ListDelegate(this));

    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setTabKeyNavigation(false);
    setWordWrap(false);
    setSortingEnabled(false);
    setShowGrid(true);
    setGridStyle(Qt::SolidLine);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setStyleSheet(QString::fromLatin1(ListStyleSheet));
    // The selection is the delegate's blended rectangle; the style's own row highlight stays
    // invisible.
    QPalette colours = palette();
    for (const QPalette::ColorGroup group :
         {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        colours.setColor(group, QPalette::Highlight, Qt::transparent);
        colours.setColor(group, QPalette::HighlightedText, colours.color(group, QPalette::Text));
    }
    setPalette(colours);

    verticalHeader()->hide();
    verticalHeader()->setMinimumSectionSize(ListRowHeight);
    verticalHeader()->setDefaultSectionSize(ListRowHeight);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);

    QFont headerFont(QStringLiteral("MS Sans Serif"));
    headerFont.setPixelSize(13);
    m_header->setFont(headerFont);
    m_header->setFixedHeight(ListHeaderHeight);
    m_header->setSectionsClickable(true);
    m_header->setSectionsMovable(false);
    m_header->setHighlightSections(false);
    m_header->setStretchLastSection(false);
    m_header->setSortIndicatorShown(true);
    m_header->setMinimumSectionSize(1);
    m_header->setMaximumSectionSize(10000);
    m_header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // Hot tracking: the section under the mouse is drawn in the hover colour.
    m_header->setMouseTracking(true);
    m_header->setAttribute(Qt::WA_Hover);
    // The list offers no way to show a hidden column.
    m_header->setContextMenuPolicy(Qt::NoContextMenu);

    applyAllColumns();
    syncSortIndicator();

    connect(m_header, &QHeaderView::sectionResized, this,
            [this](int column, int, int newSize) { clampSection(column, newSize); });
    connect(m_header, &ListHeader::headerClicked, this, [this](int column) {
        ui::dispatchEvent(m_report, [this, column] {
            if (ListControlEvents* handler = events())
                handler->VTSHeaderClick(column);
        });
        syncSortIndicator();
    });
    connect(m_model, &ConnectionModel::listSelectionChanged, this, &ConnectionView::syncFromList);
    // A new filter shows other rows: keep the current one in sight, once the list control's
    // focused row has been taken again.
    connect(
        m_model, &QAbstractItemModel::modelReset, this,
        [this] {
            if (currentIndex().isValid())
                scrollTo(currentIndex());
        },
        Qt::QueuedConnection);
    connect(m_model, &ConnectionModel::listColumnChanged, this, &ConnectionView::applyColumn);
    connect(m_model, &ConnectionModel::listSortIndicatorChanged, this,
            &ConnectionView::syncSortIndicator);
    connect(m_model, &ConnectionModel::listFocusRequested, this,
            [this] { setFocus(Qt::OtherFocusReason); });
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { takeViewState(); });
    connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this] { takeViewState(); });
    connect(this, &QAbstractItemView::clicked, this, [this](const QModelIndex& index) {
        m_search.cellClicked(index.column());
        const QPoint where = QCursor::pos();
        ui::dispatchEvent(m_report, [this, &index, where] {
            if (ListControlEvents* handler = events())
                handler->VTSColumnClick(index.column(), ScreenPoint{where.x(), where.y()});
        });
    });
    connect(this, &QAbstractItemView::doubleClicked, this, [this] { doubleClickInList(); });
    syncFromList();
}

ListControlEvents* ConnectionView::events() const {
    return m_model->list().eventHandler();
}

void ConnectionView::applyAllColumns() {
    for (int column = 0; column < m_model->list().columnCount(); ++column) {
        const ListColumn& header = m_model->list().column(column);
        m_header->resizeSection(column, header.width);
        applyColumn(column);
    }
}

void ConnectionView::applyColumn(int column) {
    if (column < 0 || column >= m_model->list().columnCount())
        return;
    const ListColumn& header = m_model->list().column(column);
    m_header->setSectionResizeMode(column, gestures::FixedWidth(header) ? QHeaderView::Fixed
                                                                        : QHeaderView::Interactive);
    if (isColumnHidden(column) == header.visible) {
        setColumnHidden(column, !header.visible);
        if (header.visible && m_header->sectionSize(column) <= 0)
            m_header->resizeSection(column, header.width);
    }
}

void ConnectionView::clampSection(int column, int newSize) {
    if (column < 0 || column >= m_model->list().columnCount() || m_header->isSectionHidden(column))
        return;
    const ListColumn& header = m_model->list().column(column);
    const int clamped = gestures::LimitWidth(header, newSize);
    if (clamped != newSize)
        m_header->resizeSection(column, clamped);
}

void ConnectionView::syncSortIndicator() {
    const MemoryListControl& list = m_model->list();
    const int column = list.sortColumn();
    const Qt::SortOrder order =
        list.sortDirection() == SortDirection::Ascending ? Qt::AscendingOrder : Qt::DescendingOrder;
    m_header->setSortIndicator(column >= 0 && column < list.columnCount() ? column : -1, order);
}

void ConnectionView::syncFromList() {
    if (m_taking || m_model->changingStructure())
        return;
    const QScopedValueRollback<bool> guard(m_syncing, true);
    const MemoryListControl& list = m_model->list();
    QItemSelectionModel* selection = selectionModel();

    const int selectedRow = m_model->rowOf(list.selectedRow());
    if (selectedRow >= 0) {
        const QItemSelection wanted(m_model->index(selectedRow, 0),
                                    m_model->index(selectedRow, list.columnCount() - 1));
        selection->select(wanted, QItemSelectionModel::ClearAndSelect);
    } else if (selection->hasSelection()) {
        selection->clearSelection();
    }

    const int focusedRow = m_model->rowOf(list.focusedRow());
    const QModelIndex current = selection->currentIndex();
    if (focusedRow >= 0) {
        if (!current.isValid() || current.row() != focusedRow) {
            const int column = current.isValid() ? current.column() : int(ColumnProcess);
            selection->setCurrentIndex(m_model->index(focusedRow, column),
                                       QItemSelectionModel::NoUpdate);
        }
    } else if (current.isValid()) {
        selection->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
    }
}

// The view moves its current index and then selects (a key press, a click) in one step of the
// selection model; both go to the list control together, so that taking the selection does
// not put the old focused row back into the view in the middle of that step.
void ConnectionView::takeViewState() {
    if (m_syncing || m_taking || m_model->changingStructure())
        return;
    const QItemSelectionModel* selection = selectionModel();
    const QModelIndexList rows = selection->selectedRows();
    const RowHandle selected = rows.isEmpty() ? nullptr : m_model->rowAt(rows.first().row());
    const QModelIndex current = selection->currentIndex();
    const RowHandle focused = current.isValid() ? m_model->rowAt(current.row()) : nullptr;
    {
        const QScopedValueRollback<bool> guard(m_taking, true);
        ui::dispatchEvent(m_report, [this, selected, focused] {
            m_model->list().selectRow(selected);
            m_model->list().setFocusedRow(focused);
        });
    }
    syncFromList();
}

QModelIndex ConnectionView::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) {
    // Home and End go to the first and last row (the table's own move along the columns).
    if (cursorAction != MoveHome && cursorAction != MoveEnd)
        return QTableView::moveCursor(cursorAction, modifiers);
    const int rows = m_model->rowCount();
    if (rows == 0)
        return QModelIndex();
    const QModelIndex current = currentIndex();
    int column = current.isValid() ? current.column() : int(ColumnProcess);
    if (isColumnHidden(column))
        column = ColumnProcess;
    return m_model->index(cursorAction == MoveHome ? 0 : rows - 1, column);
}

void ConnectionView::keyboardSearch(const QString& search) {
    if (search.isEmpty())
        return;
    if (!m_searchClock.isValid())
        m_searchClock.start();
    const QString text = m_search.type(search, m_searchClock.elapsed());

    const int column = m_search.searchColumn([this](int c) { return !isColumnHidden(c); });
    const QModelIndex current = currentIndex();
    const int found = gestures::FindFrom(current.isValid() ? current.row() : 0, m_model->rowCount(),
                                         [&](int candidate) {
                                             return m_model->index(candidate, column)
                                                 .data(Qt::DisplayRole)
                                                 .toString()
                                                 .startsWith(text, Qt::CaseInsensitive);
                                         });
    if (found < 0)
        return;
    const RowHandle row = m_model->rowAt(found);
    ui::dispatchEvent(m_report, [this, row] {
        m_model->list().selectRow(row);
        m_model->list().setFocusedRow(row);
    });
    scrollTo(m_model->index(found, column));
}

void ConnectionView::doubleClickInList() {
    ui::dispatchEvent(m_report, [this] {
        if (ListControlEvents* handler = events())
            handler->VTSDblClick();
    });
}

// The view reports double clicks on rows only; one below the last row is a double click in the
// list as well.
void ConnectionView::mouseDoubleClickEvent(QMouseEvent* event) {
    const bool onRow = indexAt(event->position().toPoint()).isValid();
    QTableView::mouseDoubleClickEvent(event);
    if (!onRow && event->button() == Qt::LeftButton)
        doubleClickInList();
}

void ConnectionView::contextMenuEvent(QContextMenuEvent* event) {
    QModelIndex index;
    QPoint where = event->globalPos();
    if (event->reason() == QContextMenuEvent::Mouse) {
        index = indexAt(event->pos());
    } else {
        index = currentIndex();
        if (index.isValid())
            where = viewport()->mapToGlobal(visualRect(index).center());
    }
    const RowHandle row = index.isValid() ? m_model->rowAt(index.row()) : nullptr;
    const int column = index.isValid() ? index.column() : NoColumn;
    ui::dispatchEvent(m_report, [this, row, column, where] {
        gestures::SelectForMenu(m_model->list(), row);
        if (ListControlEvents* handler = events())
            handler->VTSGetPopupMenu(row, column, ScreenPoint{where.x(), where.y()});
    });
    event->accept();
}

} // namespace qtui
