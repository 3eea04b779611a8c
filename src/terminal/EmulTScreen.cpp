#include "terminal/EmulTScreen.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace vandrel::terminal {

EmulTScreen::EmulTScreen(EmulTScreenHost* host) : m_host(host), m_buffer(80, 24) {
    m_buffer.SetHistory(&m_history);
}

bool EmulTScreen::SetColumns(int value) {
    if (value == Columns()) {
        return false;
    }
    m_buffer.Allocate(std::clamp(value, kMinColumns, kMaxColumns), Rows());
    PlaceCursor(m_col, m_row);
    return true;
}

bool EmulTScreen::SetRows(int value) {
    if (value == Rows()) {
        return false;
    }
    m_buffer.Allocate(Columns(), std::clamp(value, kMinRows, kMaxRows));
    PlaceCursor(m_col, m_row);
    return true;
}

void EmulTScreen::Clear() {
    int written = Rows();
    while (written > 0 && LineText(GridLine(written)).find_first_not_of(' ') == std::string::npos) {
        --written;
    }
    m_buffer.KeepRows(written);
    m_buffer.Allocate(Columns(), Rows());
    PlaceCursor(1, 1);
}

// One write for the whole block, then the bytes that reached the log are interpreted.
std::size_t EmulTScreen::LogAndInterpret(std::string_view text) {
    const std::size_t logged = m_log ? m_logFile.Write(text.data(), text.size()) : text.size();
    Interpret(text.data(), logged);
    return logged;
}

void EmulTScreen::WriteStr(std::string_view text) {
    if (LogAndInterpret(text) < text.size()) {
        m_logFile.RaiseError();
    }
}

std::optional<EInOutError> EmulTScreen::WriteStrShowingAll(std::string_view text) {
    const std::size_t logged = LogAndInterpret(text);
    if (logged == text.size()) {
        return std::nullopt;
    }
    EInOutError error = m_logFile.Error();
    try {
        SetLog(false);
    } catch (const EInOutError&) {
        // A full disk cannot take "<Close>" either; the file is released all the same.
    }
    Interpret(text.data() + logged, text.size() - logged);
    return error;
}

void EmulTScreen::WriteChar(std::uint8_t b) {
    const char c = static_cast<char>(b);
    WriteStr(std::string_view(&c, 1));
}

namespace {

// The index of the first byte below 32 in bytes[from, n), or n. Eight bytes
// are tested at a time: a word has a byte below 32 exactly when the word minus
// 0x20 in every byte borrows into a byte whose top bit was clear.
std::size_t PrintableEnd(const std::uint8_t* bytes, std::size_t from, std::size_t n) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ull;
    std::size_t j = from;
    while (j + 8 <= n) {
        std::uint64_t word;
        std::memcpy(&word, bytes + j, sizeof word);
        if (((word - 32 * kOnes) & ~word & (0x80 * kOnes)) != 0) {
            break;
        }
        j += 8;
    }
    while (j < n && bytes[j] >= 32) {
        ++j;
    }
    return j;
}

}  // namespace

void EmulTScreen::Interpret(const char* data, std::size_t n) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(data);
    std::size_t i = 0;
    while (i < n) {
        if (bytes[i] < 32) {
            ProcessChar(bytes[i++]);
            continue;
        }
        const std::size_t j = PrintableEnd(bytes, i + 1, n);
        PrintRun(bytes + i, j - i);
        i = j;
    }
}

// Prints like Print for each byte, a row at a time.
void EmulTScreen::PrintRun(const std::uint8_t* chars, std::size_t n) {
    const EmulTCell style = MakeCell(0);
    while (n > 0) {
        const auto room = static_cast<std::size_t>(Columns() - m_col + 1);
        const std::size_t k = std::min(n, room);
        m_buffer.PutRun(m_col, m_row, style, chars, static_cast<int>(k));
        chars += k;
        n -= k;
        if (k < room) {
            m_col += static_cast<int>(k);
            return;
        }
        m_col = Columns();
        if (WrapLines) {
            Advance();
            continue;
        }
        if (n > 0) {
            // The cursor sticks in the last column: only the final byte stays.
            m_buffer.PutRun(m_col, m_row, style, chars + n - 1, 1);
        }
        return;
    }
}

void EmulTScreen::ProcessChar(std::uint8_t b) {
    switch (b) {
        case 8:
            MoveCursor(EmulTMove::Back);
            break;
        case 9:
            MoveCursor(EmulTMove::Tab);
            break;
        case 10:
        case 12:
            MoveCursor(EmulTMove::LineFeed);
            break;
        case 13:
            MoveCursor(EmulTMove::CarriageReturn);
            break;
        default:
            if (b >= 32) {
                Print(b);
            }
            break;
    }
}

void EmulTScreen::Print(std::uint8_t b) {
    m_buffer.PutCell(m_col, m_row, MakeCell(b));
    Advance();
}

EmulTCell EmulTScreen::MakeCell(std::uint8_t ch) const {
    EmulTCell cell;
    cell.Character = ch;
    cell.Foreground = Highlight ? AltColor : (Reverse ? Color : FontColor);
    cell.Background = Reverse ? FontColor : Color;
    cell.Underline = Underline;
    return cell;
}

void EmulTScreen::Advance() {
    if (m_col < Columns()) {
        ++m_col;
    } else if (WrapLines) {
        if (m_row < Rows()) {
            PlaceCursor(1, m_row + 1);
        } else {
            m_buffer.ScrollUp();
            PlaceCursor(1, Rows());
        }
    }
}

void EmulTScreen::LineFeed() {
    if (m_row == Rows()) {
        m_buffer.ScrollUp();
        return;
    }
    PlaceCursor(m_col, m_row + 1);
    // Once past the first window-full, the view follows the output.
    if (m_host != nullptr && m_row + 1 > m_host->VisibleRows()) {
        m_host->ViewLineDown();
    }
}

void EmulTScreen::MoveCursor(EmulTMove kind) {
    switch (kind) {
        case EmulTMove::Advance:
            Advance();
            break;
        case EmulTMove::CarriageReturn:
            PlaceCursor(1, m_row);
            break;
        case EmulTMove::LineFeed:
            LineFeed();
            break;
        case EmulTMove::Tab:
            if (const int k = m_buffer.NextTabStop(m_col + 1); k > 0) {
                PlaceCursor(k, m_row);
            }
            break;
        case EmulTMove::Back:
            PlaceCursor(m_col - 1, m_row);
            break;
        case EmulTMove::LineUp:
            if (m_row == 1) {
                m_buffer.ScrollDown();
            } else {
                PlaceCursor(m_col, m_row - 1);
            }
            break;
    }
}

void EmulTScreen::PlaceCursor(int col, int row) {
    m_col = std::clamp(col, 1, Columns());
    m_row = std::clamp(row, 1, Rows());
}

void EmulTScreen::ReadLine(std::int64_t line, EmulTCell* out, int n) const {
    const std::int64_t row = line - GridLine(1) + 1;
    if (row >= 1 && row <= Rows()) {
        for (int col = 1; col <= n; ++col) {
            out[col - 1] = m_buffer.GetCell(col, static_cast<int>(row));
        }
        return;
    }
    const std::int64_t i = line - FirstLine();
    m_history.ReadLine(i >= 0 && i < m_history.Count() ? static_cast<int>(i) : -1, out, n);
}

std::string EmulTScreen::LineText(std::int64_t line) const {
    int n = Columns();
    if (line >= FirstLine() && line < GridLine(1)) {
        n = std::max(n, m_history.Length(static_cast<int>(line - FirstLine())));
    }
    std::array<EmulTCell, kMaxColumns> cells{};
    n = std::min(n, kMaxColumns);
    ReadLine(line, cells.data(), n);
    std::string text(static_cast<std::size_t>(n), ' ');
    for (int i = 0; i < n; ++i) {
        if (const std::uint8_t c = cells[static_cast<std::size_t>(i)].Character; c != 0) {
            text[static_cast<std::size_t>(i)] = static_cast<char>(c);
        }
    }
    return text;
}

std::string EmulTScreen::AllText() const {
    std::string text;
    std::size_t kept = 0;  // text up to the last non-empty line
    for (std::int64_t line = FirstLine(); line <= LastLine(); ++line) {
        std::string chars = LineText(line);
        chars.erase(chars.find_last_not_of(' ') + 1);
        if (line != FirstLine()) {
            text += '\n';
        }
        text += chars;
        if (!chars.empty()) {
            kept = text.size();
        }
    }
    text.resize(kept);
    return text;
}

void EmulTScreen::SetLog(bool value) {
    if (value == m_log) {
        return;
    }
    m_log = value;
    if (value) {
        m_logFile.Open(m_logName);
    } else {
        m_logFile.Close();
    }
}

}  // namespace vandrel::terminal
