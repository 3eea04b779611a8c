#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <tuple>
#include <vector>

namespace vandrel::terminal {

class EmulTHistory;

// A colour as the terminal stores it: red in the low byte, then green, then blue.
using EmulTColor = std::uint32_t;

// One character cell. A cell whose character is 0 is empty and never drawn.
struct EmulTCell {
    EmulTColor Foreground = 0;
    EmulTColor Background = 0;
    std::uint8_t Character = 0;
    bool Underline = false;

    friend bool operator==(const EmulTCell&, const EmulTCell&) = default;
};

// The cells and tab stops of one terminal view. Positions count from 1.
//
// The grid is one contiguous block, but row 1 does not have to start at the
// block's first cell: a scroll rotates the first-row offset and clears the one
// row that changed instead of moving the whole block. A cell is stored as its
// character and the index of its colours and underline in a table of styles,
// which keeps the block (and a scroll's clear) small. Every cell written with
// PutCell is remembered as changed until the view takes the changes with
// TakeChanges; scrolls are counted so the view can move its pixels once.
class TEmulTBuffer {
public:
    // Allocates a grid of columns x rows empty cells with the default tab stops.
    TEmulTBuffer(int columns, int rows);

    int Columns() const { return m_columns; }
    int Rows() const { return m_rows; }

    // Replaces the grid by columns x rows empty cells and resets the tab stops
    // to 1, 9, 17, ... None of the old content survives.
    void Allocate(int columns, int rows);

    // Positions outside the grid are ignored by PutCell and read as an empty
    // cell by GetCell, so a stale position can never reach outside the block.
    void PutCell(int col, int row, const EmulTCell& cell) {
        if (col < 1 || col > m_columns || row < 1 || row > m_rows) {
            return;
        }
        const int phys = PhysicalRow(row);
        const std::size_t at = static_cast<std::size_t>(phys) * m_columns + (col - 1);
        m_chars[at] = cell.Character;
        m_styleOf[at] = StyleIndexFast(cell);
        NoteStyle(phys, m_styleOf[at]);
        MarkChanged(phys, col);
    }
    EmulTCell GetCell(int col, int row) const;
    // Writes n cells of the given style from (col, row) on, one per character;
    // the part that would pass the last column is dropped.
    void PutRun(int col, int row, const EmulTCell& style, const std::uint8_t* chars, int n);

    std::uint8_t GetTabStop(int col) const;
    void SetTabStop(int col, std::uint8_t value);
    // The smallest column k with col <= k <= Columns holding a tab stop, or 0.
    int NextTabStop(int col) const;

    // Row 2..Rows move to 1..Rows-1 and the last row becomes empty; row 1 is kept in the
    // history, when there is one.
    void ScrollUp();
    void SetHistory(EmulTHistory* history) { m_history = history; }
    // Copies rows 1..count into the history (the grid stays as it is).
    void KeepRows(int count);

    // What RowStyle says of a row: nothing written since it was cleared, or cells of more
    // than one style written.
    static constexpr std::uint32_t kUnwritten = 0xFFFFFFFE;
    static constexpr std::uint32_t kMixed = 0xFFFFFFFF;
    // Row 1..Rows-1 move to 2..Rows and the first row becomes empty.
    void ScrollDown();

    // A changed span of one row: columns First..Last of logical row Row.
    struct Span {
        int Row;
        int First;
        int Last;
    };
    bool HasChanges() const { return m_changed || m_scrolled != 0; }
    // Lines scrolled up since the last TakeChanges (negative: down).
    int PendingScroll() const { return m_scrolled; }
    // Calls sink(span) for every changed row, in row order, and forgets the
    // changes and the scroll count. Returns the scroll count it forgot.
    template <typename Sink>
    int TakeChanges(Sink&& sink);

private:
    using StyleKey = std::tuple<EmulTColor, EmulTColor, bool>;
    struct Dirty {
        std::uint16_t First;
        std::uint16_t Last;
    };
    static constexpr Dirty kClean{0xFFFF, 0};

    int PhysicalRow(int row) const {
        const int p = m_top + row - 1;
        return p >= m_rows ? p - m_rows : p;
    }
    static StyleKey KeyOf(const EmulTCell& c) { return {c.Foreground, c.Background, c.Underline}; }
    std::uint32_t StyleIndexFast(const EmulTCell& cell) {
        return KeyOf(cell) == m_lastKey ? m_lastStyle : StyleIndex(cell);
    }
    void MarkChanged(int phys, int col) {
        Dirty& d = m_dirty[static_cast<std::size_t>(phys)];
        if (col < d.First) {
            d.First = static_cast<std::uint16_t>(col);
        }
        if (col > d.Last) {
            d.Last = static_cast<std::uint16_t>(col);
        }
        m_changed = true;
    }
    // Every cell written into a row since it was cleared had one style (the usual case),
    // which spares the history a look at each cell.
    void NoteStyle(int phys, std::uint32_t style) {
        std::uint32_t& row = m_rowStyle[static_cast<std::size_t>(phys)];
        if (row != style) {
            row = row == kUnwritten ? style : kMixed;
        }
    }
    void KeepPhysicalRow(int phys);
    void ClearPhysicalRow(int phys);
    std::uint32_t StyleIndex(const EmulTCell& cell);
    std::uint32_t AddStyle(const EmulTCell& cell);
    void CollectStyles();

    int m_columns = 0;
    int m_rows = 0;
    int m_top = 0;                         // physical index of row 1
    std::vector<std::uint8_t> m_chars;     // per cell
    std::vector<std::uint32_t> m_styleOf;  // per cell, index into m_styles
    std::vector<EmulTCell> m_styles;       // Character unused; [0] is all zero
    std::map<StyleKey, std::uint32_t> m_styleIndex;
    StyleKey m_lastKey{0, 0, false};
    std::uint32_t m_lastStyle = 0;
    std::vector<std::uint8_t> m_tabStops;
    std::vector<Dirty> m_dirty;             // per physical row
    std::vector<std::uint32_t> m_rowStyle;  // per physical row: a style index, kUnwritten or kMixed
    bool m_changed = false;
    int m_scrolled = 0;
    EmulTHistory* m_history = nullptr;
};

template <typename Sink>
int TEmulTBuffer::TakeChanges(Sink&& sink) {
    if (m_changed) {
        for (int row = 1; row <= m_rows; ++row) {
            Dirty& d = m_dirty[static_cast<std::size_t>(PhysicalRow(row))];
            if (d.First <= d.Last) {
                sink(Span{row, d.First, d.Last});
            }
            d = kClean;
        }
        m_changed = false;
    }
    const int scrolled = m_scrolled;
    m_scrolled = 0;
    return scrolled;
}

}  // namespace vandrel::terminal
