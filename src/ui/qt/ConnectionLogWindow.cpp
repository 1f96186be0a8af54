#include "ui/qt/ConnectionLogWindow.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QString>
#include <QTableView>
#include <QVBoxLayout>

#include "os/SettingsPath.h"
#include "ui/qt/QtCommands.h"

namespace qtui {

ConnectionLogModel::ConnectionLogModel(const ConnectionLogView& log, QObject* parent)
    : QAbstractTableModel(parent), m_log(log), m_rows(static_cast<int>(log.rowCount())),
      m_added(log.rowsAdded()), m_reset(log.rowsReset()), m_filled(log.log().ownersFilledLater()) {}

void ConnectionLogModel::logChanged() {
    const ConnectionLog& log = m_log.log();
    const auto size = static_cast<int>(m_log.rowCount());
    const std::uint64_t fresh = m_log.rowsAdded() - m_added;
    if (m_log.rowsReset() != m_reset || fresh >= static_cast<std::uint64_t>(size)) {
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
    m_added = m_log.rowsAdded();
    m_reset = m_log.rowsReset();
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

namespace {

QString qText(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

ConnectionLogWindow::ConnectionLogWindow(ConnectionLogView& log, QWidget* parent,
                                         ui::SaveFileDialog* saveDialog)
    : QWidget(parent, Qt::Window), m_log(log), m_saveDialog(saveDialog), m_messages(this) {
    setObjectName(QStringLiteral("FormConnectionLog"));
    setWindowTitle(QString::fromUtf8(TextConnectionLogCaption.data(),
                                     static_cast<int>(TextConnectionLogCaption.size())));
    resize(900, 420);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(2);
    // Above the list at its right, as in the main window: the filter field, then the button.
    auto* top = new QHBoxLayout;
    top->setContentsMargins(ConnectionLogLook::Gap, 3, ConnectionLogLook::Gap, 1);
    top->setSpacing(ConnectionLogLook::Gap);
    top->addStretch(1);
    m_filter = new QLineEdit(this);
    m_filter->setObjectName(QStringLiteral("ELogFilter"));
    m_filter->setPlaceholderText(qText(ConnectionLogLook::FilterPlaceholder()));
    m_filter->setClearButtonEnabled(true);
    m_filter->setFixedSize(ConnectionLogLook::FilterWidth, ConnectionLogLook::FilterHeight);
    top->addWidget(m_filter);
    m_export = new QPushButton(qText(ConnectionLogLook::ExportCaption()), this);
    m_export->setObjectName(QStringLiteral("BTNLogExport"));
    m_export->setMinimumWidth(ConnectionLogLook::ExportWidth);
    top->addWidget(m_export);
    column->addLayout(top);
    connect(m_filter, &QLineEdit::textChanged, this, [this](const QString& text) {
        ui::dispatchEvent(m_messages, [this, &text] {
            if (m_log.setFilterText(text.toStdString()))
                logChanged();
        });
    });
    // Escape empties the field while it has the focus, as the main window's does.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), m_filter);
    escape->setContext(Qt::WidgetShortcut);
    connect(escape, &QShortcut::activated, m_filter, &QLineEdit::clear);
    connect(m_export, &QPushButton::clicked, this, &ConnectionLogWindow::exportClick);
    if (!m_saveDialog) {
        m_ownDialog = std::make_unique<QtSaveFileDialog>(this);
        m_saveDialog = m_ownDialog.get();
    }
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

ConnectionLogWindow::~ConnectionLogWindow() = default;

void ConnectionLogWindow::exportClick() {
    ui::dispatchEvent(
        m_messages, [this] { m_log.exportShown(*m_saveDialog, os::ReplaceWholeFile, m_messages); });
}

void ConnectionLogWindow::logChanged() {
    m_model->logChanged();
    m_bottom->setText(QString::fromStdString(m_log.bottomLine()));
}

} // namespace qtui
