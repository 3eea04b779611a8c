#include "terminal/TEmulTBuffer.h"

#include <algorithm>

#include "terminal/EmulTHistory.h"

namespace vandrel::terminal {

TEmulTBuffer::TEmulTBuffer(int columns, int rows) {
    Allocate(columns, rows);
}

void TEmulTBuffer::Allocate(int columns, int rows) {
    m_columns = std::max(columns, 1);
    m_rows = std::max(rows, 1);
    m_top = 0;
    const auto count = static_cast<std::size_t>(m_columns) * static_cast<std::size_t>(m_rows);
    m_chars.assign(count, 0);
    m_styleOf.assign(count, 0);
    m_styles.assign(1, EmulTCell{});
    m_styleIndex.clear();
    m_styleIndex.emplace(StyleKey{0, 0, false}, 0);
    m_lastKey = StyleKey{0, 0, false};
    m_lastStyle = 0;
    m_tabStops.assign(static_cast<std::size_t>(m_columns), 0);
    for (int col = 1; col <= m_columns; col += 8) {
        m_tabStops[static_cast<std::size_t>(col - 1)] = 1;
    }
    m_dirty.assign(static_cast<std::size_t>(m_rows), kClean);
    m_rowStyle.assign(static_cast<std::size_t>(m_rows), kUnwritten);
    m_changed = false;
    m_scrolled = 0;
}

EmulTCell TEmulTBuffer::GetCell(int col, int row) const {
    if (col < 1 || col > m_columns || row < 1 || row > m_rows) {
        return EmulTCell{};
    }
    const std::size_t at = static_cast<std::size_t>(PhysicalRow(row)) * m_columns + (col - 1);
    EmulTCell cell = m_styles[m_styleOf[at]];
    cell.Character = m_chars[at];
    return cell;
}

std::uint32_t TEmulTBuffer::StyleIndex(const EmulTCell& cell) {
    const StyleKey key = KeyOf(cell);
    auto it = m_styleIndex.find(key);
    const std::uint32_t index = it != m_styleIndex.end() ? it->second : AddStyle(cell);
    m_lastKey = key;
    m_lastStyle = index;
    return index;
}

// Styles are never removed one by one; when the table has grown well past
// what the grid can hold, it is rebuilt from the styles still in use.
std::uint32_t TEmulTBuffer::AddStyle(const EmulTCell& cell) {
    if (m_styles.size() > 2 * m_styleOf.size() + 64) {
        CollectStyles();
    }
    EmulTCell style = cell;
    style.Character = 0;
    const auto index = static_cast<std::uint32_t>(m_styles.size());
    m_styles.push_back(style);
    m_styleIndex.emplace(KeyOf(style), index);
    return index;
}

void TEmulTBuffer::CollectStyles() {
    std::vector<EmulTCell> kept(1, EmulTCell{});
    std::map<StyleKey, std::uint32_t> index{{StyleKey{0, 0, false}, 0}};
    for (std::uint32_t& s : m_styleOf) {
        const EmulTCell& style = m_styles[s];
        auto [it, added] = index.emplace(KeyOf(style), static_cast<std::uint32_t>(kept.size()));
        if (added) {
            kept.push_back(style);
        }
        s = it->second;
    }
    m_styles = std::move(kept);
    m_styleIndex = std::move(index);
    for (std::uint32_t& row : m_rowStyle) {
        row = row == kUnwritten ? kUnwritten : kMixed;  // old indexes
    }
    m_lastKey = StyleKey{0, 0, false};
    m_lastStyle = 0;
}

void TEmulTBuffer::PutRun(int col, int row, const EmulTCell& style, const std::uint8_t* chars,
                          int n) {
    if (col < 1 || col > m_columns || row < 1 || row > m_rows || n <= 0) {
        return;
    }
    n = std::min(n, m_columns - col + 1);
    const int phys = PhysicalRow(row);
    const std::size_t at = static_cast<std::size_t>(phys) * m_columns + (col - 1);
    std::copy(chars, chars + n, m_chars.begin() + static_cast<std::ptrdiff_t>(at));
    const std::uint32_t s = StyleIndexFast(style);
    std::fill_n(m_styleOf.begin() + static_cast<std::ptrdiff_t>(at), n, s);
    NoteStyle(phys, s);
    MarkChanged(phys, col);
    MarkChanged(phys, col + n - 1);
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
    const auto first = static_cast<std::ptrdiff_t>(phys) * m_columns;
    std::fill_n(m_chars.begin() + first, m_columns, 0);
    std::fill_n(m_styleOf.begin() + first, m_columns, 0);
    // The view repaints the row uncovered by a pixel scroll from the grid.
    m_dirty[static_cast<std::size_t>(phys)] = kClean;
    m_rowStyle[static_cast<std::size_t>(phys)] = kUnwritten;
}

void TEmulTBuffer::KeepPhysicalRow(int phys) {
    const auto at = static_cast<std::size_t>(phys) * m_columns;
    m_history->Push(m_chars.data() + at, m_styleOf.data() + at, m_styles, m_columns,
                    m_rowStyle[static_cast<std::size_t>(phys)]);
}

void TEmulTBuffer::KeepRows(int count) {
    if (m_history == nullptr) {
        return;
    }
    for (int row = 1; row <= std::min(count, m_rows); ++row) {
        KeepPhysicalRow(PhysicalRow(row));
    }
}

void TEmulTBuffer::ScrollUp() {
    const int oldFirst = m_top;
    if (m_history != nullptr) {
        KeepPhysicalRow(oldFirst);
    }
    m_top = (m_top + 1 == m_rows) ? 0 : m_top + 1;
    ClearPhysicalRow(oldFirst);  // now the last row
    ++m_scrolled;
}

void TEmulTBuffer::ScrollDown() {
    m_top = (m_top == 0) ? m_rows - 1 : m_top - 1;
    ClearPhysicalRow(m_top);  // the old last row, now the first
    --m_scrolled;
}

}  // namespace vandrel::terminal
