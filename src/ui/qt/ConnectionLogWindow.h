#pragma once
// The connection log window "连接记录" in Qt Widgets: the filter field and the export button
// above a table over ConnectionLogView (newest first), and its bottom line. The log is fed by
// the main window.
#include <cstdint>
#include <memory>

#include <QAbstractTableModel>
#include <QWidget>

#include "ui/ConnectionLogView.h"
#include "ui/qt/QtComponents.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

namespace qtui {

class ConnectionLogModel : public QAbstractTableModel {
    Q_OBJECT
public:
    ConnectionLogModel(const ConnectionLogView& log, QObject* parent);

    // The log or its filter changed: new rows come in at the top, dropped ones leave at the
    // bottom, owners learned later repaint, a new filter shows its rows anew.
    void logChanged();

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    const ConnectionLogView& m_log;
    int m_rows = 0;
    std::uint64_t m_added = 0;
    std::uint64_t m_reset = 0;
    std::uint64_t m_filled = 0;
};

class ConnectionLogWindow : public QWidget {
    Q_OBJECT
public:
    // "导出列表..." asks `saveDialog` for the file (not owned; none: a file dialog of its own).
    ConnectionLogWindow(ConnectionLogView& log, QWidget* parent,
                        ui::SaveFileDialog* saveDialog = nullptr);
    ~ConnectionLogWindow() override;

    void logChanged();

    ConnectionLogModel* model() const { return m_model; }
    QTableView* table() const { return m_table; }
    QLabel* bottomLine() const { return m_bottom; }
    QLineEdit* filterField() const { return m_filter; }
    QPushButton* exportButton() const { return m_export; }

private:
    void exportClick();

    ConnectionLogView& m_log;
    ConnectionLogModel* m_model;
    QTableView* m_table;
    QLabel* m_bottom;
    QLineEdit* m_filter;
    QPushButton* m_export;
    std::unique_ptr<ui::SaveFileDialog> m_ownDialog;
    ui::SaveFileDialog* m_saveDialog;
    QtMessageBoxes m_messages;
};

} // namespace qtui
