#pragma once

#include <QAbstractTableModel>

#include "app/model/StringGrid.h"

namespace vandrel::app {

// Shows a StringGrid in a QTableView: the grid's fixed row 0 is the horizontal header, its
// rows 1.. are the view's rows 0... New rows and changed cells are passed on to the views
// once per event-loop pass, so a burst of thousands of rows costs one notification each pass;
// removals, reorders and current-row changes are passed on at once.
class GridTableModel : public QAbstractTableModel, public StringGridListener {
    Q_OBJECT
public:
    GridTableModel(StringGrid& grid, QObject* parent);
    ~GridTableModel() override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    void RowCountChanged(int oldCount, int newCount) override;
    void CellChanged(int col, int row) override;
    void RowsReordered() override;
    void CurrentRowChanged(int row) override;

    // Passes pending row insertions and cell changes on to the views now.
    void Flush();

signals:
    // The grid's current row moved (grid row numbers).
    void GridRowChanged(int row);

private:
    StringGrid& m_grid;
    // The number of rows the views know of; it changes only between begin/end notifications.
    int m_knownRows;
    // Changed cells of rows the views know: rows [m_dirtyFirst, m_dirtyLast] (view rows).
    int m_dirtyFirst = -1;
    int m_dirtyLast = -1;
    bool m_flushPosted = false;

    void PostFlush();
};

}  // namespace vandrel::app
