#include "ui/qt/ConnectionLogWindow.h"

#include <QHeaderView>
#include <QLabel>
#include <QString>
#include <QTableView>
#include <QVBoxLayout>

namespace qtui {

ConnectionLogModel::ConnectionLogModel(const ConnectionLogView& log, QObject* parent)
    : QAbstractTableModel(parent), m_log(log), m_rows(static_cast<int>(log.rowCount())),
      m_added(log.log().added()), m_filled(log.log().ownersFilledLater()) {}

void ConnectionLogModel::logChanged() {
    const ConnectionLog& log = m_log.log();
    const auto size = static_cast<int>(log.size());
    const std::uint64_t fresh = log.added() - m_added;
    if (fresh >= static_cast<std::uint64_t>(size)) {
        // Every row is new: nothing of the old list is left.
        beginResetModel();
        m_rows = size;
        endResetModel();
    } else {
        const int added = static_cast<int>(fresh);
        if (added > 0) {
            beginInsertRows({}, 0, added - 1);
            m_rows += added;
            endInsertRows();
        }
        if (m_rows > size) {
            beginRemoveRows({}, size, m_rows - 1);
            m_rows = size;
            endRemoveRows();
        }
    }
    if (log.ownersFilledLater() != m_filled && m_rows > 0)
        emit dataChanged(index(0, 0), index(m_rows - 1, LogColumnCount - 1));
    m_added = log.added();
    m_filled = log.ownersFilledLater();
}

int ConnectionLogModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_rows;
}

int ConnectionLogModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : LogColumnCount;
}

QVariant ConnectionLogModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.column() >= LogColumnCount)
        return {};
    if (role == Qt::TextAlignmentRole) {
        const bool right = logColumns()[static_cast<std::size_t>(index.column())].rightAligned;
        return QVariant::fromValue(Qt::AlignVCenter | (right ? Qt::AlignRight : Qt::AlignLeft));
    }
    if (role != Qt::DisplayRole)
        return {};
    return QString::fromStdString(m_log.cellText(static_cast<std::size_t>(index.row()),
                                                 static_cast<LogColumn>(index.column())));
}

QVariant ConnectionLogModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= LogColumnCount)
        return {};
    const std::string_view caption = logColumns()[static_cast<std::size_t>(section)].caption;
    return QString::fromUtf8(caption.data(), static_cast<int>(caption.size()));
}

ConnectionLogWindow::ConnectionLogWindow(const ConnectionLogView& log, QWidget* parent)
    : QWidget(parent, Qt::Window), m_log(log) {
    setObjectName(QStringLiteral("FormConnectionLog"));
    setWindowTitle(QString::fromUtf8(TextConnectionLogCaption.data(),
                                     static_cast<int>(TextConnectionLogCaption.size())));
    resize(900, 420);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(2);
    m_model = new ConnectionLogModel(log, this);
    m_table = new QTableView(this);
    m_table->setObjectName(QStringLiteral("VTSLog"));
    m_table->setModel(m_model);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setWordWrap(false);
    m_table->verticalHeader()->hide();
    // Fixed row heights: the view need not measure 100,000 rows.
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_table->verticalHeader()->setDefaultSectionSize(18);
    for (int i = 0; i < LogColumnCount; ++i)
        m_table->setColumnWidth(i, logColumns()[static_cast<std::size_t>(i)].width);
    column->addWidget(m_table, 1);
    m_bottom = new QLabel(this);
    m_bottom->setObjectName(QStringLiteral("LabLogCounts"));
    m_bottom->setContentsMargins(6, 2, 6, 4);
    column->addWidget(m_bottom);
    logChanged();
}

void ConnectionLogWindow::logChanged() {
    m_model->logChanged();
    m_bottom->setText(QString::fromStdString(m_log.bottomLine()));
}

} // namespace qtui
