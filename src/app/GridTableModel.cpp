#include "app/GridTableModel.h"

#include "app/UiFonts.h"

#include <algorithm>

namespace vandrel::app {

GridTableModel::GridTableModel(StringGrid& grid, QObject* parent)
    : QAbstractTableModel(parent), m_grid(grid), m_knownRows(grid.RowCount() - grid.FixedRows()) {
    m_grid.SetListener(this);
}

GridTableModel::~GridTableModel() {
    m_grid.SetListener(nullptr);
}

int GridTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_knownRows;
}

int GridTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_grid.ColCount();
}

QVariant GridTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) {
        return {};
    }
    if (role == Qt::DisplayRole) {
        return DisplayText(m_grid.Cell(index.column(), index.row() + m_grid.FixedRows()));
    }
    if (role == Qt::TextAlignmentRole) {
        return QVariant::fromValue(Qt::Alignment(Qt::AlignCenter));
    }
    return {};
}

QVariant GridTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || m_grid.FixedRows() == 0) {
        return {};
    }
    if (role == Qt::DisplayRole) {
        return DisplayText(m_grid.Cell(section, 0));
    }
    if (role == Qt::TextAlignmentRole) {
        return QVariant::fromValue(Qt::Alignment(Qt::AlignCenter));
    }
    if (role == Qt::FontRole) {
        return GridHeaderFont();
    }
    return {};
}

void GridTableModel::PostFlush() {
    if (!m_flushPosted) {
        m_flushPosted = true;
        QMetaObject::invokeMethod(this, &GridTableModel::Flush, Qt::QueuedConnection);
    }
}

void GridTableModel::Flush() {
    m_flushPosted = false;
    const int rows = m_grid.RowCount() - m_grid.FixedRows();
    if (rows > m_knownRows) {
        beginInsertRows(QModelIndex(), m_knownRows, rows - 1);
        m_knownRows = rows;
        endInsertRows();
    }
    if (m_dirtyFirst >= 0) {
        const int last = std::min(m_dirtyLast, m_knownRows - 1);
        const int first = m_dirtyFirst;
        m_dirtyFirst = m_dirtyLast = -1;
        if (first <= last) {
            emit dataChanged(index(first, 0), index(last, m_grid.ColCount() - 1),
                             {Qt::DisplayRole});
        }
    }
}

void GridTableModel::RowCountChanged(int, int newCount) {
    const int rows = newCount - m_grid.FixedRows();
    if (rows > m_knownRows) {
        PostFlush();
    } else if (rows < m_knownRows) {
        beginRemoveRows(QModelIndex(), rows, m_knownRows - 1);
        m_knownRows = rows;
        endRemoveRows();
        if (m_dirtyLast >= m_knownRows) {
            m_dirtyLast = m_knownRows - 1;
        }
        if (m_dirtyFirst > m_dirtyLast) {
            m_dirtyFirst = m_dirtyLast = -1;
        }
    }
}

void GridTableModel::CellChanged(int col, int row) {
    if (row < m_grid.FixedRows()) {
        emit headerDataChanged(Qt::Horizontal, col, col);
        return;
    }
    const int viewRow = row - m_grid.FixedRows();
    if (viewRow >= m_knownRows) {
        return;  // shown when its insertion is passed on
    }
    m_dirtyFirst = m_dirtyFirst < 0 ? viewRow : std::min(m_dirtyFirst, viewRow);
    m_dirtyLast = std::max(m_dirtyLast, viewRow);
    PostFlush();
}

void GridTableModel::RowsReordered() {
    Flush();
    if (m_knownRows > 0) {
        emit dataChanged(index(0, 0), index(m_knownRows - 1, m_grid.ColCount() - 1),
                         {Qt::DisplayRole});
    }
}

void GridTableModel::CurrentRowChanged(int row) {
    Flush();
    emit GridRowChanged(row);
}

}  // namespace vandrel::app
