#pragma once
// The connection log window "连接记录" in Qt Widgets: a table over ConnectionLogView (newest
// first) and its bottom line. It only shows; the log is fed by the main window.
#include <cstdint>

#include <QAbstractTableModel>
#include <QWidget>

#include "ui/ConnectionLogView.h"

class QLabel;
class QTableView;

namespace qtui {

class ConnectionLogModel : public QAbstractTableModel {
    Q_OBJECT
public:
    ConnectionLogModel(const ConnectionLogView& log, QObject* parent);

    // The log changed: new rows come in at the top, dropped ones leave at the bottom, owners
    // learned later repaint.
    void logChanged();

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    const ConnectionLogView& m_log;
    int m_rows = 0;
    std::uint64_t m_added = 0;
    std::uint64_t m_filled = 0;
};

class ConnectionLogWindow : public QWidget {
    Q_OBJECT
public:
    ConnectionLogWindow(const ConnectionLogView& log, QWidget* parent);

    void logChanged();

    ConnectionLogModel* model() const { return m_model; }
    QTableView* table() const { return m_table; }
    QLabel* bottomLine() const { return m_bottom; }

private:
    const ConnectionLogView& m_log;
    ConnectionLogModel* m_model;
    QTableView* m_table;
    QLabel* m_bottom;
};

} // namespace qtui
