#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <tuple>
#include <vector>

#include "terminal/TEmulTBuffer.h"

namespace vandrel::terminal {

// The lines that scrolled off the top of a grid, oldest first, at most Capacity of them.
//
// A line is kept as its characters up to the last non-empty cell and its style runs
// (first column and style index), packed into one byte arena used as a ring: the
// newest line goes after the previous one, the oldest is released from the front. So a
// line costs its characters plus a few bytes, and keeping one costs no allocation once
// the arena has grown to its working size.
class EmulTHistory {
public:
    explicit EmulTHistory(int capacity = 0);

    int Capacity() const { return m_capacity; }
    // Fewer lines drop the oldest; 0 forgets everything and keeps nothing from now on.
    void SetCapacity(int lines);
    void Clear();

    int Count() const { return m_count; }
    // Lines ever kept; line i (0 = oldest) is the Pushed() - Count() + i-th one.
    std::int64_t Pushed() const { return m_pushed; }

    // Keeps one grid row: chars and per-cell indexes into styles. rowStyle is the index every
    // non-empty cell has, when the grid knows one (TEmulTBuffer tracks it); empty cells
    // are never drawn, so they may come back in that style.
    void Push(const std::uint8_t* chars, const std::uint32_t* styleOf,
              const std::vector<EmulTCell>& styles, int columns,
              std::uint32_t rowStyle = TEmulTBuffer::kMixed);

    // Cells of line i up to its last non-empty one.
    int Length(int i) const;
    // Fills out[0, n) with the cells of columns 1..n of line i; past its end they are empty.
    void ReadLine(int i, EmulTCell* out, int n) const;

    // Bytes the history holds (arena and line table), for measurements.
    std::size_t ReservedBytes() const;

private:
    struct Line {
        std::uint32_t At;      // offset in the arena
        std::uint16_t Length;  // characters
        std::uint16_t Runs;    // style runs after the characters
    };
    struct Run {
        std::uint16_t Column;  // first column, from 0
        std::uint16_t Style;
    };
    using StyleKey = std::tuple<EmulTColor, EmulTColor, bool>;

    const Line& LineAt(int i) const {
        std::size_t k = m_first + static_cast<std::size_t>(i);
        return m_lines[k >= m_lines.size() ? k - m_lines.size() : k];
    }
    static std::size_t SizeOf(const Line& line) {
        return line.Length + static_cast<std::size_t>(line.Runs) * sizeof(Run);
    }
    // Rows of one style follow each other, so the last style found is checked first.
    std::uint16_t StyleOf(const EmulTCell& style) {
        if (style.Foreground == m_lastCell.Foreground &&
            style.Background == m_lastCell.Background && style.Underline == m_lastCell.Underline &&
            !m_styles.empty()) {
            return m_lastStyle;
        }
        return FindStyle(style);
    }
    std::uint16_t FindStyle(const EmulTCell& style);
    void DropOldest();
    std::size_t Allocate(std::size_t size);
    void Repack(std::size_t arenaSize);

    int m_capacity = 0;
    int m_count = 0;
    std::int64_t m_pushed = 0;
    std::vector<Line> m_lines;  // ring once it holds m_capacity lines
    std::size_t m_first = 0;    // ring index of the oldest line
    std::vector<std::uint8_t> m_arena;
    std::size_t m_tail = 0;  // end of the newest line
    // [m_tail, m_limit - 1) is free (0: not known). Allocate sets it from where the oldest
    // line is; dropping lines only frees more, so it stays true until the tail reaches it.
    std::size_t m_limit = 0;
    std::vector<EmulTCell> m_styles;
    std::map<StyleKey, std::uint16_t> m_styleIndex;
    EmulTCell m_lastCell;
    std::uint16_t m_lastStyle = 0;
    std::vector<Run> m_runs;  // scratch for Push
};

}  // namespace vandrel::terminal
