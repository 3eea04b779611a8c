#pragma once

#include <compare>
#include <cstdint>
#include <string>

namespace vandrel::terminal {

// Lines of text a selection reads: numbered from FirstLine to LastLine, each as its
// characters, an empty cell read as a blank.
class EmulTLines {
public:
    virtual ~EmulTLines() = default;
    virtual std::int64_t FirstLine() const = 0;
    virtual std::int64_t LastLine() const = 0;
    virtual std::string LineText(std::int64_t line) const = 0;
};

// A character cell of EmulTLines: line number and column (from 1).
struct EmulTPos {
    std::int64_t Line = 0;
    int Column = 1;

    friend auto operator<=>(const EmulTPos&, const EmulTPos&) = default;
};

enum class EmulTSelectUnit { Cell, Word, Line };

// A range of cells between an anchor and the point a drag reached, in reading order,
// widened to whole words or lines when started by a double or triple click. Line numbers
// belong to the text, not to the screen, so the selection stays on its text while new
// lines scroll in.
class EmulTSelection {
public:
    // Anchors a selection at at. A cell selection stays empty until Extend reaches another
    // cell; a word or line selection covers the word or line at once.
    void Start(const EmulTLines& lines, EmulTPos at, EmulTSelectUnit unit);
    void Extend(const EmulTLines& lines, EmulTPos to);
    void Clear() { m_active = m_ranged = false; }
    // Selects the cells from first to last (in reading order) at once, as a found text is.
    void Select(EmulTPos first, EmulTPos last) {
        m_unit = EmulTSelectUnit::Cell;
        m_anchor = m_from = first;
        m_extent = m_to = last;
        m_active = false;
        m_ranged = first <= last;
    }

    bool Empty() const { return !m_ranged; }
    bool Contains(std::int64_t line, int column) const {
        const EmulTPos p{line, column};
        return m_ranged && m_from <= p && p <= m_to;
    }
    // First and last selected cells; columns may pass the end of their line.
    EmulTPos From() const { return m_from; }
    EmulTPos To() const { return m_to; }

    // The selected characters of the lines still there, blanks at each line's end cut,
    // lines joined with a line feed.
    std::string Text(const EmulTLines& lines) const;

    // Word characters are printable and not one of the usual delimiters, so that an
    // address, a path or a serial number is one word.
    static bool IsWordChar(char c);

private:
    void Span(const EmulTLines& lines, EmulTPos p, EmulTPos& first, EmulTPos& last) const;
    void Update(const EmulTLines& lines);

    EmulTSelectUnit m_unit = EmulTSelectUnit::Cell;
    EmulTPos m_anchor;
    EmulTPos m_extent;
    bool m_active = false;
    bool m_ranged = false;
    EmulTPos m_from;
    EmulTPos m_to;
};

}  // namespace vandrel::terminal
