#pragma once
// The connection list as a Qt table model over the list control kept in memory. Every change of
// the rows arrives as precise row removals and insertions, a layout change for a sort and
// dataChanged for a repaint, never as a reset, so the view's selection and current row stay on
// their rows through a refresh.
#include <functional>
#include <vector>

#include <QAbstractTableModel>
#include <QPixmap>

#include "list/MemoryListControl.h"

namespace qtui {

// Picture for an index of the small icon cache; a null pixmap for none.
using ImageSource = std::function<QPixmap(int index)>;

class ConnectionModel : public QAbstractTableModel, private ListViewObserver {
    Q_OBJECT
public:
    explicit ConnectionModel(MemoryListControl& list, QObject* parent = nullptr);
    ~ConnectionModel() override;

    MemoryListControl& list() const { return m_list; }
    // Where the icons of column 1 come from (the index is VTSGetImageIndex's).
    void setImageSource(ImageSource source) { m_imageSource = std::move(source); }

    RowHandle rowAt(int row) const;
    // Model row of `row`, -1 when the view does not show it.
    int rowOf(RowHandle row) const;
    // True while rows are being removed or inserted or the layout changes: the selection
    // model's own adjustments then are not the user's.
    bool changingStructure() const { return m_structureDepth > 0; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

signals:
    // The list control's selection or focused row changed, or rows moved under them.
    void listSelectionChanged();
    void listColumnChanged(int column);
    void listSortIndicatorChanged();
    void listFocusRequested();

private:
    void rowsAboutToBeRemoved(std::size_t first, std::size_t last) override;
    void rowsRemoved() override;
    void rowsAboutToBeInserted(std::size_t first, std::size_t last) override;
    void rowsInserted() override;
    void layoutAboutToBeChanged() override;
    void layoutChanged() override;
    void allRowsChanged() override;
    void viewAboutToBeReset() override;
    void viewReset() override;
    void selectionChanged() override;
    void focusedRowChanged() override;
    void columnChanged(int index) override;
    void sortIndicatorChanged() override;
    void focusRequested() override;

    MemoryListControl& m_list;
    ImageSource m_imageSource;
    int m_structureDepth = 0;
    std::vector<RowHandle> m_persistentRows; // rows of the persistent indexes during a sort
};

} // namespace qtui
