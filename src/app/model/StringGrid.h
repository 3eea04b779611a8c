#pragma once

#include <functional>
#include <string>
#include <vector>

namespace vandrel::app {

// Told about every change of a StringGrid, so that a view can follow it.
class StringGridListener {
public:
    virtual ~StringGridListener() = default;
    virtual void RowCountChanged(int oldCount, int newCount) = 0;
    virtual void CellChanged(int col, int row) = 0;
    // Many rows moved at once (a sort); everything below the fixed rows may differ.
    virtual void RowsReordered() = 0;
    virtual void CurrentRowChanged(int row) = 0;
};

// The data of the device table's grid: text cells addressed (column, row) from 0, fixed
// rows at the top, whole-row selection whose selected row is the current row, and a column
// sort through a compare hook. Cells hold raw 8-bit text. Out-of-range reads give an empty
// text and out-of-range writes are ignored.
class StringGrid {
public:
    // Result codes of the compare hook: row a sorts after, equal to, or before row b.
    static constexpr int CompareAfter = 0;
    static constexpr int CompareEqual = 1;
    static constexpr int CompareBefore = 2;
    using CompareColEvent = std::function<int(int col, int rowA, int rowB)>;

    StringGrid(int colCount, int rowCount, int fixedRows);

    int ColCount() const { return m_colCount; }
    int FixedRows() const { return m_fixedRows; }
    int RowCount() const { return static_cast<int>(m_rows.size()); }
    // Never below FixedRows + 1. New rows are empty; growing by one is amortised O(1).
    void SetRowCount(int count);

    const std::string& Cell(int col, int row) const;
    void SetCell(int col, int row, std::string text);

    // The current row, always a non-fixed row.
    int Row() const { return m_row; }
    void SetRow(int row);

    // Swaps all cells of two rows; the current row follows its contents.
    void ExchangeRows(int a, int b);

    CompareColEvent OnCompareCol;
    // Tells the grid that OnCompareCol orders rows exactly as the unsigned byte-wise compare
    // of the column's cells, a prefix first, and is equal only for equal texts. SortColumn
    // then sorts on the cells directly, without calling the hook, to the same result.
    void SetCompareIsByteOrder(bool byteOrder) { m_compareIsByteOrder = byteOrder; }
    // Sorts the rows after the fixed rows by col with the grid's quicksort; nothing happens
    // without an OnCompareCol hook. Not stable: equal keys can change their order.
    void SortColumn(int col, bool ascending);

    void SetListener(StringGridListener* listener) { m_listener = listener; }

private:
    bool ValidCell(int col, int row) const;
    void QuickSort(int col, int lo, int hi, int expected);
    int Partition(int col, int lo, int hi, int expected);
    void Swap(int a, int b);
    void SortByteOrder(int col, bool ascending);
    int m_colCount;
    int m_fixedRows;
    std::vector<std::vector<std::string>> m_rows;
    int m_row;
    StringGridListener* m_listener = nullptr;
    bool m_compareIsByteOrder = false;
};

}  // namespace vandrel::app
