#include "app/TStringAlignGrid.h"

#include <QHeaderView>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QToolTip>

#include <algorithm>

#include "app/GridTableModel.h"
#include "app/UiFonts.h"
#include "app/VandrelApplication.h"

namespace vandrel::app {

TStringAlignGrid::TStringAlignGrid(int colCount, QWidget* parent)
    : QTableView(parent), m_grid(colCount, 2, 1), m_model(new GridTableModel(m_grid, this)) {
    setModel(m_model);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(true);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(DefaultRowHeight);
    horizontalHeader()->setDefaultSectionSize(DefaultColWidth);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setHighlightSections(false);
    // Presses on the header sort through OnMouseDown, not by the header's own selection.
    horizontalHeader()->setSectionsClickable(false);
    horizontalHeader()->setFont(GridHeaderFont());
    horizontalHeader()->viewport()->installEventFilter(this);

    connect(m_model, &GridTableModel::GridRowChanged, this, &TStringAlignGrid::FollowGridRow);
    connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (current.isValid() && !m_followingView) {
                    m_followingView = true;
                    m_grid.SetRow(current.row() + m_grid.FixedRows());
                    m_followingView = false;
                }
            });
    FollowGridRow(m_grid.Row());
}

TStringAlignGrid::~TStringAlignGrid() {
    horizontalHeader()->viewport()->removeEventFilter(this);
}

void TStringAlignGrid::FollowGridRow(int row) {
    if (m_followingView) {
        return;
    }
    SelectRow(row);
}

std::vector<int> TStringAlignGrid::SelectedRows() const {
    std::vector<int> rows;
    for (const QModelIndex& index : selectionModel()->selectedRows()) {
        rows.push_back(index.row() + m_grid.FixedRows());
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

void TStringAlignGrid::SortColumn(int col, bool ascending) {
    m_grid.SortColumn(col, ascending);
    if (m_grid.OnCompareCol && selectionModel()->selectedRows().size() > 1) {
        SelectRow(m_grid.Row());
    }
}

void TStringAlignGrid::SelectRow(int row) {
    m_followingView = true;
    const QModelIndex index = m_model->index(row - m_grid.FixedRows(), 0);
    if (index.isValid()) {
        selectionModel()->setCurrentIndex(
            index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    m_followingView = false;
}

void TStringAlignGrid::SetDefaultColWidth(int width) {
    horizontalHeader()->setDefaultSectionSize(width);
    for (int c = 0; c < m_grid.ColCount(); ++c) {
        horizontalHeader()->resizeSection(c, width);
    }
}

void TStringAlignGrid::SetDefaultRowHeight(int height) {
    verticalHeader()->setDefaultSectionSize(height);
}

bool TStringAlignGrid::viewportEvent(QEvent* event) {
    if (event->type() != QEvent::ToolTip) {
        return QTableView::viewportEvent(event);
    }
    const auto* help = static_cast<QHelpEvent*>(event);
    const QModelIndex index = indexAt(help->pos());
    if (index.isValid() && sizeHintForIndex(index).width() > visualRect(index).width()) {
        QToolTip::showText(help->globalPos(), index.data(Qt::DisplayRole).toString(), viewport(),
                           visualRect(index));
    } else {
        QToolTip::hideText();
        event->ignore();
    }
    return true;
}

bool TStringAlignGrid::MouseToCell(QPoint position, int& col, int& row) const {
    col = -1;
    row = -1;
    const QHeaderView* header = horizontalHeader();
    const QPoint inHeader = header->viewport()->mapFrom(this, position);
    if (header->isVisible() && header->viewport()->rect().contains(inHeader)) {
        col = header->logicalIndexAt(inHeader);
        row = col >= 0 ? 0 : -1;
        return col >= 0;
    }
    const QPoint inCells = viewport()->mapFrom(this, position);
    if (!viewport()->rect().contains(inCells)) {
        return false;
    }
    const QModelIndex index = indexAt(inCells);
    if (!index.isValid()) {
        return false;
    }
    col = index.column();
    row = index.row() + m_grid.FixedRows();
    return true;
}

void TStringAlignGrid::MouseDown(QMouseEvent* event, QWidget* source) {
    if (!OnMouseDown) {
        return;
    }
    const QPoint position = source->mapTo(this, event->position().toPoint());
    RunGuarded([&] {
        OnMouseDown(this, event->button(), event->modifiers(), position.x(), position.y());
    });
}

void TStringAlignGrid::mousePressEvent(QMouseEvent* event) {
    // A press outside the cells leaves the selection as it is.
    if (indexAt(event->position().toPoint()).isValid()) {
        QTableView::mousePressEvent(event);
    }
    MouseDown(event, viewport());
}

void TStringAlignGrid::mouseDoubleClickEvent(QMouseEvent* event) {
    // The second press of a double click is a press as well.
    if (indexAt(event->position().toPoint()).isValid()) {
        QTableView::mousePressEvent(event);
    }
    MouseDown(event, viewport());
    if (OnDblClick) {
        RunGuarded([&] { OnDblClick(this); });
    }
}

bool TStringAlignGrid::eventFilter(QObject* watched, QEvent* event) {
    if (watched == horizontalHeader()->viewport()) {
        if (event->type() == QEvent::MouseButtonPress) {
            MouseDown(static_cast<QMouseEvent*>(event), horizontalHeader()->viewport());
            return true;
        }
        if (event->type() == QEvent::MouseButtonDblClick) {
            MouseDown(static_cast<QMouseEvent*>(event), horizontalHeader()->viewport());
            if (OnDblClick) {
                RunGuarded([&] { OnDblClick(this); });
            }
            return true;
        }
    }
    return QTableView::eventFilter(watched, event);
}

}  // namespace vandrel::app
