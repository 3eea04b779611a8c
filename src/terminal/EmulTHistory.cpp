#include "terminal/EmulTHistory.h"

#include <algorithm>
#include <cstring>

namespace vandrel::terminal {

namespace {

constexpr std::size_t kFirstArena = 16 * 1024;
constexpr std::size_t kMaxStyles = 0xFFFF;

}  // namespace

EmulTHistory::EmulTHistory(int capacity) {
    SetCapacity(capacity);
}

void EmulTHistory::Clear() {
    m_count = 0;
    m_first = 0;
    m_tail = 0;
    m_limit = 0;
    m_lines.clear();
}

void EmulTHistory::SetCapacity(int lines) {
    lines = std::max(lines, 0);
    if (lines == 0) {
        Clear();
        m_capacity = 0;
        m_lines.shrink_to_fit();
        m_arena = {};
        return;
    }
    while (m_count > lines) {
        DropOldest();
    }
    // The line table becomes plain again: the kept lines from index 0 on.
    std::vector<Line> kept;
    kept.reserve(static_cast<std::size_t>(m_count));
    for (int i = 0; i < m_count; ++i) {
        kept.push_back(LineAt(i));
    }
    m_lines = std::move(kept);
    m_first = 0;
    m_capacity = lines;
}

std::uint16_t EmulTHistory::FindStyle(const EmulTCell& style) {
    const StyleKey key{style.Foreground, style.Background, style.Underline};
    auto it = m_styleIndex.find(key);
    std::uint16_t index = 0;
    if (it != m_styleIndex.end()) {
        index = it->second;
    } else if (m_styles.size() < kMaxStyles) {
        // The view sets colours, not the device, so the table stays small in practice.
        index = static_cast<std::uint16_t>(m_styles.size());
        EmulTCell kept = style;
        kept.Character = 0;
        m_styles.push_back(kept);
        m_styleIndex.emplace(key, index);
    }
    m_lastCell = style;
    m_lastStyle = index;
    return index;
}

void EmulTHistory::Push(const std::uint8_t* chars, const std::uint32_t* styleOf,
                        const std::vector<EmulTCell>& styles, int columns, std::uint32_t rowStyle) {
    if (m_capacity == 0) {
        return;
    }
    if (m_styles.empty()) {
        StyleOf(EmulTCell{});  // index 0 is the empty style
    }
    int length = columns;
    while (length > 0 && chars[length - 1] == 0) {
        --length;
    }
    Run single{0, 0};
    const Run* runs = &single;
    std::size_t runCount = 0;
    if (length > 0 && rowStyle < styles.size()) {
        single.Style = StyleOf(styles[rowStyle]);
        runCount = 1;
    } else if (length > 0) {
        m_runs.clear();
        for (int c = 0; c < length; ++c) {
            if (c > 0 && styleOf[c] == styleOf[c - 1]) {
                continue;
            }
            const std::uint16_t style = StyleOf(styles[styleOf[c]]);
            if (m_runs.empty() || m_runs.back().Style != style) {
                m_runs.push_back(Run{static_cast<std::uint16_t>(c), style});
            }
        }
        runs = m_runs.data();
        runCount = m_runs.size();
    }
    if (m_count == m_capacity) {
        DropOldest();
    }
    Line line{0, static_cast<std::uint16_t>(length), static_cast<std::uint16_t>(runCount)};
    // Every line takes at least one byte, so that a full ring is never mistaken for an empty one.
    const std::size_t size = std::max<std::size_t>(SizeOf(line), 1);
    if (m_tail + size < m_limit) {  // the usual case, without a look at the oldest line
        line.At = static_cast<std::uint32_t>(m_tail);
        m_tail += size;
    } else {
        line.At = static_cast<std::uint32_t>(Allocate(size));
    }
    std::uint8_t* at = m_arena.data() + line.At;
    std::memcpy(at, chars, static_cast<std::size_t>(length));
    if (runCount == 1) {
        std::memcpy(at + length, runs, sizeof(Run));  // of fixed size: no library call
    } else {
        std::memcpy(at + length, runs, runCount * sizeof(Run));
    }
    if (m_lines.size() < static_cast<std::size_t>(m_capacity)) {
        m_lines.push_back(line);
    } else {
        std::size_t k = m_first + static_cast<std::size_t>(m_count);
        m_lines[k >= m_lines.size() ? k - m_lines.size() : k] = line;
    }
    ++m_count;
    ++m_pushed;
}

void EmulTHistory::DropOldest() {
    if (m_count == 0) {
        return;
    }
    m_first = m_first + 1 == m_lines.size() ? 0 : m_first + 1;
    if (--m_count == 0) {
        m_first = 0;
        m_tail = 0;
        m_limit = 0;
        m_lines.clear();
    }
}

// Room for size bytes after the newest line, wrapping to the arena's start when the end
// is too short; the arena doubles (and is packed) when neither has room.
std::size_t EmulTHistory::Allocate(std::size_t size) {
    if (m_count == 0) {
        m_tail = 0;
        if (m_arena.size() < size) {
            m_arena.resize(std::max(size, kFirstArena));
        }
        m_tail = size;
        return 0;
    }
    const std::size_t head = LineAt(0).At;
    std::size_t at = 0;
    if (m_tail > head) {
        if (m_arena.size() - m_tail >= size) {
            at = m_tail;
            m_limit = m_arena.size() + 1;
        } else if (head > size) {
            at = 0;
            m_limit = head;
        } else {
            Repack(std::max(2 * m_arena.size(), m_arena.size() + size));
            at = m_tail;
        }
    } else if (head - m_tail > size) {
        at = m_tail;
        m_limit = head;
    } else {
        Repack(std::max(2 * m_arena.size(), m_arena.size() + size));
        at = m_tail;
    }
    m_tail = at + size;
    return at;
}

void EmulTHistory::Repack(std::size_t arenaSize) {
    std::vector<std::uint8_t> arena(arenaSize);
    std::size_t tail = 0;
    for (int i = 0; i < m_count; ++i) {
        std::size_t k = m_first + static_cast<std::size_t>(i);
        Line& line = m_lines[k >= m_lines.size() ? k - m_lines.size() : k];
        const std::size_t size = std::max<std::size_t>(SizeOf(line), 1);
        std::memcpy(arena.data() + tail, m_arena.data() + line.At, size);
        line.At = static_cast<std::uint32_t>(tail);
        tail += size;
    }
    m_arena = std::move(arena);
    m_tail = tail;
    m_limit = m_arena.size() + 1;
}

int EmulTHistory::Length(int i) const {
    if (i < 0 || i >= m_count) {
        return 0;
    }
    return LineAt(i).Length;
}

void EmulTHistory::ReadLine(int i, EmulTCell* out, int n) const {
    std::fill_n(out, std::max(n, 0), EmulTCell{});
    if (i < 0 || i >= m_count || n <= 0) {
        return;
    }
    const Line& line = LineAt(i);
    const std::uint8_t* chars = m_arena.data() + line.At;
    const int length = std::min<int>(line.Length, n);
    for (int r = 0; r < line.Runs; ++r) {
        Run run{};
        std::memcpy(&run, chars + line.Length + static_cast<std::size_t>(r) * sizeof(Run),
                    sizeof run);
        Run next{line.Length, 0};
        if (r + 1 < line.Runs) {
            std::memcpy(&next, chars + line.Length + static_cast<std::size_t>(r + 1) * sizeof(Run),
                        sizeof next);
        }
        const EmulTCell& style = m_styles[run.Style];
        for (int c = run.Column; c < std::min<int>(next.Column, length); ++c) {
            out[c] = style;
            out[c].Character = chars[c];
        }
    }
}

std::size_t EmulTHistory::ReservedBytes() const {
    return m_arena.capacity() + m_lines.capacity() * sizeof(Line) +
           m_styles.capacity() * sizeof(EmulTCell);
}

}  // namespace vandrel::terminal
