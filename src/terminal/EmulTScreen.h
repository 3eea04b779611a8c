#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "terminal/EmulTHistory.h"
#include "terminal/EmulTLogFile.h"
#include "terminal/EmulTSelection.h"
#include "terminal/TEmulTBuffer.h"

namespace vandrel::terminal {

// Cursor movements of the terminal. No received byte requests EmulTMove::LineUp.
enum class EmulTMove { Advance, CarriageReturn, LineFeed, Tab, Back, LineUp };

// What the interpreter needs from the view that shows it.
class EmulTScreenHost {
public:
    virtual ~EmulTScreenHost() = default;
    // Whole rows that fit the window (0 while no vertical scroll bar is allowed).
    virtual int VisibleRows() const = 0;
    // Moves the view one line down as far as the scroll range allows.
    virtual void ViewLineDown() = 0;
};

// The teletype interpreter behind a terminal view: grid, cursor, attributes
// and the session log file. It knows no escape sequences: BS, HT, LF, FF and
// CR move the cursor, bytes 32..255 print, every other byte is dropped.
//
// Rows that scroll off the top are kept in a history. History and grid read as one
// text of numbered lines (EmulTLines): the grid's row 1 is line History().Pushed(), the
// oldest kept line is Pushed() - Count().
class EmulTScreen : public EmulTLines {
public:
    static constexpr int kDefaultHistoryLines = 10000;

    static constexpr int kMinColumns = 2;
    static constexpr int kMaxColumns = 256;
    static constexpr int kMinRows = 2;
    static constexpr int kMaxRows = 512;

    explicit EmulTScreen(EmulTScreenHost* host = nullptr);
    EmulTScreen(const EmulTScreen&) = delete;
    EmulTScreen& operator=(const EmulTScreen&) = delete;

    TEmulTBuffer& Buffer() { return m_buffer; }
    const TEmulTBuffer& Buffer() const { return m_buffer; }

    int Columns() const { return m_buffer.Columns(); }
    int Rows() const { return m_buffer.Rows(); }
    // Clamp, reallocate (all content is lost) and bring the cursor inside the
    // new grid. Return false, changing nothing, when the value is unchanged.
    bool SetColumns(int value);
    bool SetRows(int value);

    // All cells empty, tab stops reset, cursor at (1, 1). The rows down to the last one
    // written go to the history first, so that what was on screen can still be read.
    void Clear();

    EmulTHistory& History() { return m_history; }
    const EmulTHistory& History() const { return m_history; }
    // The line number of a grid row.
    std::int64_t GridLine(int row) const { return m_history.Pushed() + row - 1; }
    std::int64_t FirstLine() const override { return m_history.Pushed() - m_history.Count(); }
    std::int64_t LastLine() const override { return GridLine(Rows()); }
    // Fills out[0, n) with columns 1..n of a line; other lines read as empty cells.
    void ReadLine(std::int64_t line, EmulTCell* out, int n) const;
    // Columns() characters (more for a longer history line), empty cells as blanks.
    std::string LineText(std::int64_t line) const override;
    // Every line, blanks at each end cut, joined with a line feed; empty lines at the
    // end are left out.
    std::string AllText() const;

    // Logs the bytes (when logging), then interprets those that reached the
    // log. Throws EInOutError at the first byte that could not be logged;
    // that byte and the rest are neither interpreted nor shown.
    void WriteStr(std::string_view text);
    // As WriteStr, but the view never stops because the log did: at the first byte that
    // cannot be logged, logging is switched off (the file is released, a failing "<Close>"
    // ignored) and the rest is shown unlogged. Returns that logging failure, if any.
    std::optional<EInOutError> WriteStrShowingAll(std::string_view text);
    void WriteChar(std::uint8_t b);
    void ProcessChar(std::uint8_t b);
    void MoveCursor(EmulTMove kind);
    void PlaceCursor(int col, int row);
    EmulTCell MakeCell(std::uint8_t ch) const;

    int CursorColumn() const { return m_col; }
    int CursorRow() const { return m_row; }

    bool WrapLines = false;
    EmulTColor Color = 0x000000;
    EmulTColor FontColor = 0xFFFFFF;
    EmulTColor AltColor = 0xA6A6A6;
    bool Reverse = false;
    bool Highlight = false;
    bool Underline = false;

    // Logging switches the session log file; see EmulTLogFile. Switching off
    // throws EInOutError when "<Close>" could not be written.
    bool Log() const { return m_log; }
    void SetLog(bool value);
    const std::string& LogName() const { return m_logName; }
    void SetLogName(std::string name) { m_logName = std::move(name); }

private:
    // Returns how many bytes reached the log (all of them while not logging).
    std::size_t LogAndInterpret(std::string_view text);
    void Interpret(const char* data, std::size_t n);
    void Print(std::uint8_t b);
    void PrintRun(const std::uint8_t* chars, std::size_t n);
    void LineFeed();
    void Advance();

    EmulTScreenHost* m_host;
    EmulTHistory m_history{kDefaultHistoryLines};
    TEmulTBuffer m_buffer;
    int m_col = 1;
    int m_row = 1;
    bool m_log = false;
    std::string m_logName = "EMULT.LOG";
    EmulTLogFile m_logFile;
};

}  // namespace vandrel::terminal
