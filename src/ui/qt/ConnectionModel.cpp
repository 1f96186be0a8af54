#include "ui/qt/ConnectionModel.h"

#include <QBrush>
#include <QColor>
#include <QString>

#include <optional>

#include "list/Columns.h"
#include "ui/MainWindowLook.h"

namespace qtui {

ConnectionModel::ConnectionModel(MemoryListControl& list, QObject* parent)
    : QAbstractTableModel(parent), m_list(list) {
    m_list.setObserver(this);
}

ConnectionModel::~ConnectionModel() {
    m_list.setObserver(nullptr);
}

RowHandle ConnectionModel::rowAt(int row) const {
    if (row < 0)
        return nullptr;
    return m_list.viewRowAt(static_cast<std::size_t>(row));
}

int ConnectionModel::rowOf(RowHandle row) const {
    return static_cast<int>(m_list.viewIndexOf(row));
}

int ConnectionModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid())
        return 0;
    return static_cast<int>(m_list.viewRowCount());
}

int ConnectionModel::columnCount(const QModelIndex& parent) const {
    if (parent.isValid())
        return 0;
    return m_list.columnCount();
}

QVariant ConnectionModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const RowHandle row = rowAt(index.row());
    if (!row)
        return {};
    const int column = index.column();
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole: {
        const std::string_view text = VTSGetText(row->Rec, column);
        return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    }
    case Qt::TextAlignmentRole: {
        const ColumnAlignment alignment = m_list.column(column).alignment;
        const Qt::Alignment horizontal = alignment == ColumnAlignment::Center  ? Qt::AlignHCenter
                                         : alignment == ColumnAlignment::Right ? Qt::AlignRight
                                                                               : Qt::AlignLeft;
        return QVariant::fromValue(horizontal | Qt::AlignVCenter);
    }
    case Qt::BackgroundRole: {
        const std::optional<LookRgb> colour =
            MainWindowLook::CellBackground(row->Rec, m_list.column(column));
        if (!colour)
            return {};
        return QBrush(QColor(colour->red, colour->green, colour->blue));
    }
    case Qt::DecorationRole: {
        if (column != ColumnProcess || !m_imageSource)
            return {};
        ListControlEvents* events = m_list.eventHandler();
        if (!events)
            return {};
        // Painting must go on whatever the icon lookup does.
        try {
            const int image = events->VTSGetImageIndex(row, column);
            if (image < 0)
                return {};
            const QPixmap picture = m_imageSource(image);
            if (picture.isNull())
                return {};
            return picture;
        } catch (...) {
            return {};
        }
    }
    default:
        return {};
    }
}

QVariant ConnectionModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= m_list.columnCount())
        return {};
    const ListColumn& header = m_list.column(section);
    switch (role) {
    case Qt::DisplayRole:
        return QString::fromUtf8(header.title.data(), static_cast<qsizetype>(header.title.size()));
    case Qt::TextAlignmentRole: {
        const Qt::Alignment horizontal =
            header.alignment == ColumnAlignment::Center  ? Qt::AlignHCenter
            : header.alignment == ColumnAlignment::Right ? Qt::AlignRight
                                                         : Qt::AlignLeft;
        return QVariant::fromValue(horizontal | Qt::AlignVCenter);
    }
    default:
        return {};
    }
}

Qt::ItemFlags ConnectionModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

void ConnectionModel::rowsAboutToBeRemoved(std::size_t first, std::size_t last) {
    ++m_structureDepth;
    beginRemoveRows(QModelIndex(), static_cast<int>(first), static_cast<int>(last));
}

void ConnectionModel::rowsRemoved() {
    endRemoveRows();
    --m_structureDepth;
    emit listSelectionChanged();
}

void ConnectionModel::rowsAboutToBeInserted(std::size_t first, std::size_t last) {
    ++m_structureDepth;
    beginInsertRows(QModelIndex(), static_cast<int>(first), static_cast<int>(last));
}

void ConnectionModel::rowsInserted() {
    endInsertRows();
    --m_structureDepth;
    emit listSelectionChanged();
}

void ConnectionModel::layoutAboutToBeChanged() {
    ++m_structureDepth;
    emit QAbstractTableModel::layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList persistent = persistentIndexList();
    m_persistentRows.clear();
    m_persistentRows.reserve(static_cast<std::size_t>(persistent.size()));
    for (const QModelIndex& index : persistent)
        m_persistentRows.push_back(rowAt(index.row()));
}

void ConnectionModel::layoutChanged() {
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (qsizetype i = 0; i < before.size(); ++i) {
        const RowHandle row = static_cast<std::size_t>(i) < m_persistentRows.size()
                                  ? m_persistentRows[static_cast<std::size_t>(i)]
                                  : nullptr;
        const int position = rowOf(row);
        after.push_back(position >= 0 ? index(position, before[i].column()) : QModelIndex());
    }
    changePersistentIndexList(before, after);
    m_persistentRows.clear();
    emit QAbstractTableModel::layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    --m_structureDepth;
    emit listSelectionChanged();
}

void ConnectionModel::allRowsChanged() {
    const int rows = rowCount();
    if (rows == 0)
        return;
    emit dataChanged(index(0, 0), index(rows - 1, m_list.columnCount() - 1));
}

void ConnectionModel::viewAboutToBeReset() {
    ++m_structureDepth;
    beginResetModel();
}

void ConnectionModel::viewReset() {
    endResetModel();
    --m_structureDepth;
    emit listSelectionChanged();
}

void ConnectionModel::selectionChanged() {
    emit listSelectionChanged();
}

void ConnectionModel::focusedRowChanged() {
    emit listSelectionChanged();
}

void ConnectionModel::columnChanged(int index) {
    emit headerDataChanged(Qt::Horizontal, index, index);
    emit listColumnChanged(index);
}

void ConnectionModel::sortIndicatorChanged() {
    emit listSortIndicatorChanged();
}

void ConnectionModel::focusRequested() {
    emit listFocusRequested();
}

} // namespace qtui
