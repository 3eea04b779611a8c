#include "app/model/StringGrid.h"

#include <algorithm>
#include <numeric>
#include <utility>

namespace vandrel::app {

namespace {
const std::string kEmpty;

// The grid's quicksort on integer keys, a smaller key sorting first, carrying each row's
// index along. Only ranges with equal keys need the exact partition steps, since the order
// they leave equal keys in is part of the result; a range of distinct keys has one sorted
// order, which std::sort reaches without the quicksort's quadratic worst case.
class KeySort {
public:
    struct Item {
        int key;
        int row;
    };

    KeySort(std::vector<Item> items, int keyCount)
        : m_items(std::move(items)), m_seen(static_cast<std::size_t>(keyCount), 0) {}

    // Same recursion as StringGrid::QuickSort.
    void Sort(int lo, int hi) {
        while (hi - lo > 0) {
            if (!HasEqualKeys(lo, hi)) {
                std::sort(m_items.begin() + lo, m_items.begin() + hi + 1,
                          [](const Item& a, const Item& b) { return a.key < b.key; });
                return;
            }
            const int p = Partition(lo, hi);
            if (p - lo < hi - p) {
                Sort(lo, p - 1);
                lo = p + 1;
            } else {
                Sort(p + 1, hi);
                hi = p - 1;
            }
        }
    }

    const std::vector<Item>& Items() const { return m_items; }

private:
    bool HasEqualKeys(int lo, int hi) {
        ++m_stamp;
        for (int i = lo; i <= hi; ++i) {
            int& seen = m_seen[static_cast<std::size_t>(At(i).key)];
            if (seen == m_stamp) {
                return true;
            }
            seen = m_stamp;
        }
        return false;
    }

    // StringGrid::Partition with "compare (a, b) = expected" read as key a < key b.
    int Partition(int lo, int hi) {
        const int pivot = At(hi).key;
        int i = lo;
        int j = hi - 1;
        while (true) {
            while (At(i).key < pivot) {
                ++i;
            }
            while (pivot < At(j).key && j != lo) {
                --j;
            }
            if (j <= i) {
                break;
            }
            std::swap(At(i), At(j));
            ++i;
            --j;
        }
        std::swap(At(i), At(hi));
        return i;
    }

    Item& At(int i) { return m_items[static_cast<std::size_t>(i)]; }

    std::vector<Item> m_items;
    std::vector<int> m_seen;  // per key: the stamp of the last range it was seen in
    int m_stamp = 0;
};

}  // namespace

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
    if (m_compareIsByteOrder) {
        SortByteOrder(col, ascending);
    } else {
        QuickSort(col, m_fixedRows, RowCount() - 1, ascending ? CompareBefore : CompareAfter);
    }
    if (m_listener != nullptr) {
        m_listener->RowsReordered();
        if (m_row != oldRow) {
            m_listener->CurrentRowChanged(m_row);
        }
    }
}

// The quicksort's result without the hook: the cells are ranked once, the quicksort runs on
// the ranks, and the rows move once at the end. The current row follows its contents.
void StringGrid::SortByteOrder(int col, bool ascending) {
    const int first = m_fixedRows;
    const int count = RowCount() - first;
    if (count < 2) {
        return;
    }
    std::vector<const std::string*> texts(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        texts[static_cast<std::size_t>(i)] = &Cell(col, first + i);
    }
    std::vector<int> byText(static_cast<std::size_t>(count));
    std::iota(byText.begin(), byText.end(), 0);
    // std::string compares chars as unsigned bytes, a prefix first: the hook's order.
    const auto text = [&texts](int i) -> const std::string& {
        return *texts[static_cast<std::size_t>(i)];
    };
    std::sort(byText.begin(), byText.end(),
              [&text](int a, int b) { return text(a).compare(text(b)) < 0; });
    std::vector<int> rank(static_cast<std::size_t>(count));
    int distinct = 0;
    for (std::size_t k = 0; k < byText.size(); ++k) {
        if (k > 0 && text(byText[k]) != text(byText[k - 1])) {
            ++distinct;
        }
        rank[static_cast<std::size_t>(byText[k])] = distinct;
    }
    ++distinct;

    // Descending sorts the reversed ranks ascending: the hook's "after" is "before" on them.
    std::vector<KeySort::Item> items(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const int r = rank[static_cast<std::size_t>(i)];
        items[static_cast<std::size_t>(i)] = {ascending ? r : distinct - 1 - r, i};
    }
    KeySort sort(std::move(items), distinct);
    sort.Sort(0, count - 1);

    const int current = m_row;
    std::vector<std::vector<std::string>> sorted(static_cast<std::size_t>(count));
    for (int p = 0; p < count; ++p) {
        const int from = sort.Items()[static_cast<std::size_t>(p)].row;
        sorted[static_cast<std::size_t>(p)] =
            std::move(m_rows[static_cast<std::size_t>(first + from)]);
        if (first + from == current) {
            m_row = first + p;
        }
    }
    std::move(sorted.begin(), sorted.end(), m_rows.begin() + first);
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
