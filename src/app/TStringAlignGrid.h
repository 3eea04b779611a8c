#pragma once

#include <QTableView>

#include <functional>
#include <string>
#include <vector>

#include "app/model/StringGrid.h"

namespace vandrel::app {

class GridTableModel;

// The device table control: a StringGrid shown with its fixed row 0 as the header, centred
// cells, grid lines, and whole-row selection that follows the grid's current row. Ctrl-click,
// Shift-click and Ctrl+A select further rows; a plain click or a new current row selects that
// row alone. Mouse presses
// anywhere in it (the header included, any button) are reported through OnMouseDown with
// the position in the control's coordinates; a double click anywhere through OnDblClick.
class TStringAlignGrid : public QTableView {
    Q_OBJECT
public:
    using MouseDownEvent = std::function<void(QObject* Sender, Qt::MouseButton Button,
                                              Qt::KeyboardModifiers Shift, int X, int Y)>;
    using TNotifyEvent = std::function<void(QObject* Sender)>;

    // The figures the window was drawn with; the main window scales them (FormScale.h).
    static constexpr int DefaultColWidth = 104;
    static constexpr int DefaultRowHeight = 18;

    TStringAlignGrid(int colCount, QWidget* parent);
    ~TStringAlignGrid() override;

    StringGrid& Grid() { return m_grid; }
    const StringGrid& Grid() const { return m_grid; }

    int RowCount() const { return m_grid.RowCount(); }
    void SetRowCount(int count) { m_grid.SetRowCount(count); }
    const std::string& Cells(int col, int row) const { return m_grid.Cell(col, row); }
    void SetCells(int col, int row, std::string text) { m_grid.SetCell(col, row, std::move(text)); }
    int Row() const { return m_grid.Row(); }
    void SetRow(int row) { m_grid.SetRow(row); }

    // Every column's width, and every row's height, in pixels.
    void SetDefaultColWidth(int width);
    void SetDefaultRowHeight(int height);

    // The grid cell at a position in the control's coordinates; false (and -1, -1) outside
    // the cells. The header row is row 0.
    bool MouseToCell(QPoint position, int& col, int& row) const;

    // The selected grid rows in ascending order (the header row never is one).
    std::vector<int> SelectedRows() const;

    // Sorts with OnCompareCol; nothing happens without it. Rows selected beside the current
    // one are deselected: they would name other devices after the sort.
    void SortColumn(int col, bool ascending);
    void SetOnCompareCol(StringGrid::CompareColEvent hook) {
        m_grid.OnCompareCol = std::move(hook);
    }

    MouseDownEvent OnMouseDown;
    TNotifyEvent OnDblClick;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    // A cell too narrow for its text shows the whole text as its tool tip.
    bool viewportEvent(QEvent* event) override;

private:
    void MouseDown(QMouseEvent* event, QWidget* source);
    void FollowGridRow(int row);
    // The row becomes the view's current row, selected alone.
    void SelectRow(int row);

    StringGrid m_grid;
    GridTableModel* m_model;
    bool m_followingView = false;
};

}  // namespace vandrel::app
