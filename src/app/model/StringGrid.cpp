#include "app/model/StringGrid.h"

#include <algorithm>
#include <utility>

namespace vandrel::app {

namespace {
const std::string kEmpty;
}

StringGrid::StringGrid(int colCount, int rowCount, int fixedRows)
    : m_colCount(std::max(colCount, 1)), m_fixedRows(std::max(fixedRows, 0)), m_row(m_fixedRows) {
    m_rows.resize(static_cast<std::size_t>(std::max(rowCount, m_fixedRows + 1)),
                  std::vector<std::string>(static_cast<std::size_t>(m_colCount)));
}

void StringGrid::SetRowCount(int count) {
    count = std::max(count, m_fixedRows + 1);
    const int old = RowCount();
    if (count == old) {
        return;
    }
    m_rows.resize(static_cast<std::size_t>(count),
                  std::vector<std::string>(static_cast<std::size_t>(m_colCount)));
    if (m_listener != nullptr) {
        m_listener->RowCountChanged(old, count);
    }
    if (m_row >= count) {
        SetRow(count - 1);
    }
}

bool StringGrid::ValidCell(int col, int row) const {
    return col >= 0 && col < m_colCount && row >= 0 && row < RowCount();
}

const std::string& StringGrid::Cell(int col, int row) const {
    if (!ValidCell(col, row)) {
        return kEmpty;
    }
    return m_rows[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)];
}

void StringGrid::SetCell(int col, int row, std::string text) {
    if (!ValidCell(col, row)) {
        return;
    }
    m_rows[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)] = std::move(text);
    if (m_listener != nullptr) {
        m_listener->CellChanged(col, row);
    }
}

void StringGrid::SetRow(int row) {
    row = std::clamp(row, m_fixedRows, RowCount() - 1);
    if (row == m_row) {
        return;
    }
    m_row = row;
    if (m_listener != nullptr) {
        m_listener->CurrentRowChanged(row);
    }
}

void StringGrid::Swap(int a, int b) {
    if (a == b) {
        return;
    }
    std::swap(m_rows[static_cast<std::size_t>(a)], m_rows[static_cast<std::size_t>(b)]);
    if (m_row == a) {
        m_row = b;
    } else if (m_row == b) {
        m_row = a;
    }
}

void StringGrid::ExchangeRows(int a, int b) {
    if (a < 0 || b < 0 || a >= RowCount() || b >= RowCount() || a == b) {
        return;
    }
    const int oldRow = m_row;
    Swap(a, b);
    if (m_listener != nullptr) {
        for (int c = 0; c < m_colCount; ++c) {
            m_listener->CellChanged(c, a);
            m_listener->CellChanged(c, b);
        }
        if (m_row != oldRow) {
            m_listener->CurrentRowChanged(m_row);
        }
    }
}

void StringGrid::SortColumn(int col, bool ascending) {
    if (!OnCompareCol) {
        return;
    }
    const int oldRow = m_row;
    QuickSort(col, m_fixedRows, RowCount() - 1, ascending ? CompareBefore : CompareAfter);
    if (m_listener != nullptr) {
        m_listener->RowsReordered();
        if (m_row != oldRow) {
            m_listener->CurrentRowChanged(m_row);
        }
    }
}

// The two halves are disjoint, so sorting the smaller one first (and looping on the larger)
// gives the same result as the plain recursion while keeping the stack shallow.
void StringGrid::QuickSort(int col, int lo, int hi, int expected) {
    while (hi - lo > 0) {
        const int p = Partition(col, lo, hi, expected);
        if (p - lo < hi - p) {
            QuickSort(col, lo, p - 1, expected);
            lo = p + 1;
        } else {
            QuickSort(col, p + 1, hi, expected);
            hi = p - 1;
        }
    }
}

int StringGrid::Partition(int col, int lo, int hi, int expected) {
    int i = lo;
    int j = hi - 1;
    while (true) {
        while (i < hi && OnCompareCol(col, i, hi) == expected) {
            ++i;
        }
        while (OnCompareCol(col, hi, j) == expected && j != lo) {
            --j;
        }
        if (j <= i) {
            break;
        }
        Swap(i, j);
        ++i;
        --j;
    }
    Swap(i, hi);
    return i;
}

}  // namespace vandrel::app
