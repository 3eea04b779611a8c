#include "terminal/TEmulTBuffer.h"

#include <algorithm>

TEmulTBuffer::TEmulTBuffer(int columns, int rows) {
    Allocate(columns, rows);
}

void TEmulTBuffer::Allocate(int columns, int rows) {
    m_columns = std::max(columns, 1);
    m_rows = std::max(rows, 1);
    m_top = 0;
    const auto count = static_cast<std::size_t>(m_columns) * static_cast<std::size_t>(m_rows);
    m_cells.assign(count, TEmulTCell{});
    m_tabStops.assign(static_cast<std::size_t>(m_columns), 0);
    for (int col = 1; col <= m_columns; col += 8) {
        m_tabStops[static_cast<std::size_t>(col - 1)] = 1;
    }
    m_dirty.assign(static_cast<std::size_t>(m_rows), kClean);
    m_changed = false;
    m_scrolled = 0;
}

TEmulTCell TEmulTBuffer::GetCell(int col, int row) const {
    if (col < 1 || col > m_columns || row < 1 || row > m_rows) {
        return TEmulTCell{};
    }
    return m_cells[static_cast<std::size_t>(PhysicalRow(row)) * m_columns + (col - 1)];
}

std::uint8_t TEmulTBuffer::GetTabStop(int col) const {
    if (col < 1 || col > m_columns) {
        return 0;
    }
    return m_tabStops[static_cast<std::size_t>(col - 1)];
}

void TEmulTBuffer::SetTabStop(int col, std::uint8_t value) {
    if (col >= 1 && col <= m_columns) {
        m_tabStops[static_cast<std::size_t>(col - 1)] = value;
    }
}

int TEmulTBuffer::NextTabStop(int col) const {
    for (int k = std::max(col, 1); k <= m_columns; ++k) {
        if (m_tabStops[static_cast<std::size_t>(k - 1)] != 0) {
            return k;
        }
    }
    return 0;
}

void TEmulTBuffer::ClearPhysicalRow(int phys) {
    auto first = m_cells.begin() + static_cast<std::ptrdiff_t>(phys) * m_columns;
    std::fill(first, first + m_columns, TEmulTCell{});
    // The view repaints the row uncovered by a pixel scroll from the grid.
    m_dirty[static_cast<std::size_t>(phys)] = kClean;
}

void TEmulTBuffer::ScrollUp() {
    const int oldFirst = m_top;
    m_top = (m_top + 1 == m_rows) ? 0 : m_top + 1;
    ClearPhysicalRow(oldFirst);  // now the last row
    ++m_scrolled;
}

void TEmulTBuffer::ScrollDown() {
    m_top = (m_top == 0) ? m_rows - 1 : m_top - 1;
    ClearPhysicalRow(m_top);  // the old last row, now the first
    --m_scrolled;
}
