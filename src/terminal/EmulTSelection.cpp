#include "terminal/EmulTSelection.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace vandrel::terminal {

bool EmulTSelection::IsWordChar(char c) {
    const auto b = static_cast<unsigned char>(c);
    return b > ' ' && b != 0x7F && std::strchr("\"'`()[]{}<>,;|", c) == nullptr;
}

void EmulTSelection::Start(const EmulTLines& lines, EmulTPos at, EmulTSelectUnit unit) {
    m_unit = unit;
    m_anchor = m_extent = at;
    m_active = true;
    m_ranged = unit != EmulTSelectUnit::Cell;
    Update(lines);
}

void EmulTSelection::Extend(const EmulTLines& lines, EmulTPos to) {
    if (!m_active) {
        return;
    }
    m_extent = to;
    if (to != m_anchor) {
        m_ranged = true;
    }
    Update(lines);
}

// The cells a click at p covers: the cell, the word (or run of blanks, or one delimiter),
// or the line.
void EmulTSelection::Span(const EmulTLines& lines, EmulTPos p, EmulTPos& first,
                          EmulTPos& last) const {
    first = last = p;
    if (m_unit == EmulTSelectUnit::Line) {
        first.Column = 1;
        last.Column = INT_MAX;
        return;
    }
    if (m_unit != EmulTSelectUnit::Word || p.Line < lines.FirstLine() ||
        p.Line > lines.LastLine()) {
        return;
    }
    const std::string text = lines.LineText(p.Line);
    const int n = static_cast<int>(text.size());
    if (p.Column < 1 || p.Column > n) {
        return;
    }
    const auto kind = [](char c) { return c == ' ' ? 0 : EmulTSelection::IsWordChar(c) ? 1 : 2; };
    const int k = kind(text[static_cast<std::size_t>(p.Column - 1)]);
    if (k == 2) {
        return;
    }
    const auto same = [&](int col) { return kind(text[static_cast<std::size_t>(col - 1)]) == k; };
    while (first.Column > 1 && same(first.Column - 1)) {
        --first.Column;
    }
    while (last.Column < n && same(last.Column + 1)) {
        ++last.Column;
    }
}

void EmulTSelection::Update(const EmulTLines& lines) {
    const EmulTPos low = std::min(m_anchor, m_extent);
    const EmulTPos high = std::max(m_anchor, m_extent);
    EmulTPos unused;
    Span(lines, low, m_from, unused);
    Span(lines, high, unused, m_to);
}

std::string EmulTSelection::Text(const EmulTLines& lines) const {
    std::string text;
    if (!m_ranged) {
        return text;
    }
    const std::int64_t first = std::max(m_from.Line, lines.FirstLine());
    const std::int64_t last = std::min(m_to.Line, lines.LastLine());
    for (std::int64_t line = first; line <= last; ++line) {
        std::string chars = lines.LineText(line);
        const int begin = line == m_from.Line ? m_from.Column : 1;
        const int end = line == m_to.Line ? m_to.Column : INT_MAX;
        const auto from = static_cast<std::size_t>(std::max(begin, 1) - 1);
        const std::size_t count = end == INT_MAX
                                      ? std::string::npos
                                      : static_cast<std::size_t>(std::max(end - begin + 1, 0));
        chars = from < chars.size() ? chars.substr(from, count) : std::string();
        chars.erase(chars.find_last_not_of(' ') + 1);
        if (line != first) {
            text += '\n';
        }
        text += chars;
    }
    return text;
}

}  // namespace vandrel::terminal
