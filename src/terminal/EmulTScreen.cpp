#include "terminal/EmulTScreen.h"

#include <algorithm>

EmulTScreen::EmulTScreen(EmulTScreenHost* host) : m_host(host), m_buffer(80, 24) {}

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
    m_buffer.Allocate(Columns(), Rows());
    PlaceCursor(1, 1);
}

void EmulTScreen::WriteStr(std::string_view text) {
    if (!m_log) {
        Interpret(text.data(), text.size());
        return;
    }
    // One write for the whole block; only what reached the file is shown.
    const std::size_t logged = m_logFile.Write(text.data(), text.size());
    Interpret(text.data(), logged);
    if (logged < text.size()) {
        m_logFile.RaiseError();
    }
}

void EmulTScreen::WriteChar(std::uint8_t b) {
    const char c = static_cast<char>(b);
    WriteStr(std::string_view(&c, 1));
}

void EmulTScreen::Interpret(const char* data, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        const auto b = static_cast<std::uint8_t>(data[i]);
        if (b >= 32) {
            Print(b);
        } else {
            ProcessChar(b);
        }
    }
}

void EmulTScreen::ProcessChar(std::uint8_t b) {
    switch (b) {
        case 8:
            MoveCursor(tmBack);
            break;
        case 9:
            MoveCursor(tmTab);
            break;
        case 10:
        case 12:
            MoveCursor(tmLineFeed);
            break;
        case 13:
            MoveCursor(tmCarriageReturn);
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

TEmulTCell EmulTScreen::MakeCell(std::uint8_t ch) const {
    TEmulTCell cell;
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

void EmulTScreen::MoveCursor(TEmulTMove kind) {
    switch (kind) {
        case tmAdvance:
            Advance();
            break;
        case tmCarriageReturn:
            PlaceCursor(1, m_row);
            break;
        case tmLineFeed:
            LineFeed();
            break;
        case tmTab:
            if (const int k = m_buffer.NextTabStop(m_col + 1); k > 0) {
                PlaceCursor(k, m_row);
            }
            break;
        case tmBack:
            PlaceCursor(m_col - 1, m_row);
            break;
        case tmLineUp:
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
