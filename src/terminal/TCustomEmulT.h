#pragma once

#include <QAbstractScrollArea>
#include <QElapsedTimer>
#include <QFont>
#include <QRawFont>
#include <QTimer>
#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "terminal/EmulTFind.h"
#include "terminal/EmulTFindBar.h"
#include "terminal/EmulTScreen.h"

class QKeyEvent;
class QLabel;
class QMouseEvent;
class QWheelEvent;

namespace vandrel::terminal {

enum TBorderStyle { bsNone, bsSingle };
enum TScrollStyle { ssNone, ssHorizontal, ssVertical, ssBoth };
enum TTermCaret { tcBlock, tcUnderline, tcNone };

// Request codes of ScrollView, as the scroll bars send them.
enum class ScrollCode {
    LineUp = 0,
    LineDown = 1,
    PageUp = 2,
    PageDown = 3,
    Position = 4,  // thumb released at the given position
    Track = 5,     // thumb being dragged
    Top = 6,
    Bottom = 7,
    EndScroll = 8
};

// A plain teletype-style terminal view: a grid of Columns x Rows cells shown
// in a fixed-pitch font inside a scroll area, written byte by byte at a cursor.
//
// Drawing is deferred: a write changes the grid and remembers what changed;
// in a later event-loop pass (the next one after a quiet spell, at most one
// per 40 ms frame while output streams in) the view turns the accumulated
// scrolls into one pixel move of the viewport, or one full repaint when they
// exceed the window, and the changed cells into update rectangles, so Qt
// paints all of them in one paint event. Nothing is painted outside a paint
// event.
//
// Above the grid the view shows the history (the lines scrolled off the grid's top). While
// the view's top row is a history line the view stays on its text as output arrives, and a
// marker says that there is new output below; typing returns to the grid. A left drag
// selects cells, a double click a word, a triple click a line.
class TCustomEmulT : public QAbstractScrollArea, private EmulTScreenHost {
    Q_OBJECT

public:
    explicit TCustomEmulT(QWidget* parent = nullptr);
    ~TCustomEmulT() override;

    // Writes each byte in order (see EmulTScreen::WriteStr). Throws
    // EInOutError when a byte cannot be logged; it and the rest are not shown.
    void WriteStr(std::string_view text);
    // Shows every byte; a log failure switches logging off and is returned (see
    // EmulTScreen::WriteStrShowingAll).
    std::optional<EInOutError> WriteStrShowingAll(std::string_view text);
    void WriteChar(std::uint8_t b);
    // Empties the grid, resets the tab stops and puts the cursor at (1, 1).
    void Clear();

    int Columns() const { return m_screen.Columns(); }
    void SetColumns(int value);
    int Rows() const { return m_screen.Rows(); }
    void SetRows(int value);
    EmulTColor AltColor() const { return m_screen.AltColor; }
    void SetAltColor(EmulTColor value) { m_screen.AltColor = value; }
    TBorderStyle BorderStyle() const { return m_borderStyle; }
    void SetBorderStyle(TBorderStyle value);
    TScrollStyle ScrollBars() const { return m_scrollBars; }
    void SetScrollBars(TScrollStyle value);
    bool SmoothScroll() const { return m_smoothScroll; }
    void SetSmoothScroll(bool value);
    TTermCaret Caret() const { return m_caret; }
    void SetCaret(TTermCaret value);
    bool WantTab() const { return m_wantTab; }
    void SetWantTab(bool value) { m_wantTab = value; }
    bool WrapLines() const { return m_screen.WrapLines; }
    void SetWrapLines(bool value) { m_screen.WrapLines = value; }
    bool Log() const { return m_screen.Log(); }
    // Switching off throws EInOutError when the log could not be closed cleanly.
    void SetLog(bool value) {
        BeforeLogChange();
        m_screen.SetLog(value);
    }
    const std::string& LogName() const { return m_screen.LogName(); }
    void SetLogName(std::string name) {
        BeforeLogChange();
        m_screen.SetLogName(std::move(name));
    }

    // Background of the control and of newly written cells.
    EmulTColor Color() const { return m_screen.Color; }
    void SetColor(EmulTColor value);
    // Text colour of newly written cells; existing cells keep theirs.
    EmulTColor FontColor() const { return m_screen.FontColor; }
    void SetFontColor(EmulTColor value) { m_screen.FontColor = value; }
    // A proportional font gets the default font's family; underline is removed.
    QFont Font() const { return font(); }
    void SetFont(const QFont& value);
    // The font a session is shown in at zoom 0 (SetFont's rules apply to it); the desktop's
    // fixed font until set. Zoom steps change its size by a point each, from 4 to 96 points
    // and at most 96 steps either way; the grid keeps its columns and rows, and the view
    // scrolls where it does not fit.
    QFont SessionFont() const { return m_sessionFont; }
    void SetSessionFont(const QFont& value);
    int Zoom() const { return m_zoom; }
    void SetZoom(int steps);
    // Ctrl+Plus, Ctrl+Minus, Ctrl+0 and Ctrl+wheel; each runs OnZoom when it changed the zoom.
    void ZoomIn();
    void ZoomOut();
    void ZoomReset();
    bool AutoSize() const { return m_autoSize; }
    void SetAutoSize(bool value);
    bool TabStop() const { return m_tabStop; }
    void SetTabStop(bool value);

    int CursorColumn() const { return m_screen.CursorColumn(); }
    int CursorRow() const { return m_screen.CursorRow(); }
    int OriginColumn() const { return m_originCol; }
    int OriginRow() const { return m_originRow; }
    int LineHeight() const { return m_lineHeight; }
    int CharWidth() const { return m_charWidth; }
    int CaretHeight() const { return m_caretHeight; }
    int VisibleRows() const override { return m_visibleRows; }
    const TEmulTBuffer& Buffer() const { return m_screen.Buffer(); }
    // Paint events the viewport has received so far.
    long PaintEvents() const { return m_paintEvents; }

    void UpdateScrollBars();
    void SyncOrigin();
    void ScrollView(Qt::Orientation bar, ScrollCode code, int thumb = 0);
    // Paints the whole view now (outside the usual per-pass coalescing).
    void RepaintNow();

    // Lines kept above the grid (default 10000; 0 keeps none and forgets those kept).
    void SetHistoryLines(int lines);
    int HistoryLines() const { return m_screen.History().Capacity(); }
    const EmulTHistory& History() const { return m_screen.History(); }
    // True while the view is above the rows it follows output with: the grid's first row at
    // its top, or, in a window taller than the grid, the grid's last row at its bottom.
    bool ScrolledBack() const { return m_originRow < std::min(1, Rows() - m_visibleRows + 1); }

    // The selected text (bytes as the screen shows them), blanks at line ends cut, lines
    // joined with a line feed; empty without a selection.
    std::string SelectedText() const { return m_selection.Text(m_screen); }
    const EmulTSelection& Selection() const { return m_selection; }
    void ClearSelection();
    // Puts the selected text on the clipboard; without a selection nothing changes.
    void CopySelection();
    // Shows the find bar (Ctrl+Shift+F) with the focus in its text.
    void OpenFindBar();
    // Finds needle in history and grid, highlights every match, selects the one the step
    // leads to from the selection (or from the view's top row) and brings it into view.
    // Returns false when there is none.
    bool Find(const std::string& needle, bool matchCase, FindStep step);
    const std::vector<EmulTMatch>& Matches() const { return m_matches; }

    // History and grid as text, as EmulTScreen::AllText.
    QString HistoryAndGridText() const;

    // The shared default font: the desktop's fixed-pitch font, scaled with the program's
    // font (QGuiApplication::font()) relative to the desktop's general font.
    static QFont DefaultFont();

    QSize sizeHint() const override;

    // Hooks, invoked only when assigned. OnKeyPress may replace the typed
    // character or cancel it by setting it to 0.
    std::function<void(TCustomEmulT&, char& key)> OnKeyPress;
    std::function<void(TCustomEmulT&, QKeyEvent&)> OnKeyDown;
    std::function<void(TCustomEmulT&, QKeyEvent&)> OnKeyUp;
    std::function<void(TCustomEmulT&, QMouseEvent&)> OnMouseDown;
    // Text to paste into the session: the context menu's Paste (clipboard) and the middle
    // button (the primary selection).
    std::function<void(const QString& text)> OnPasteText;
    // After the user changed the zoom (ZoomIn, ZoomOut, ZoomReset); SetZoom does not run it.
    std::function<void(TCustomEmulT&)> OnZoom;

protected:
    // One typed character (Latin-1; Return gives 13, Backspace 8, Tab 9 when
    // WantTab). The default runs OnKeyPress; derived terminals call it first
    // and then act on the possibly changed character unless it became 0.
    virtual void KeyPress(char& key);
    // Runs before Log or LogName changes, so that a derived terminal can first write
    // what it holds back: bytes that arrived while logging was on belong in that log.
    virtual void BeforeLogChange() {}

    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    bool focusNextPrevChild(bool next) override;

private:
    void ViewLineDown() override;

    bool AllowsVertical() const { return m_scrollBars == ssVertical || m_scrollBars == ssBoth; }
    // Brings the vertical range and the view up to the history after it changed: a view on
    // the grid keeps its grid rows, a view on the history keeps its text.
    void FollowHistory(bool force = false);
    void SetNewOutputBelow(bool value);
    // Back to the grid, so that the cursor row is in sight.
    void ReturnToGrid();
    // The text cell under a viewport point, clamped to the lines there are.
    EmulTPos PosAt(const QPoint& point) const;
    void PressTakesFocus(QMouseEvent* event);
    void SelectionChanged();
    void Paste(bool primary);
    void FindFromBar(FindStep step);
    void CloseFindBar();
    void PlaceOverlays();
    void ShowLine(std::int64_t line);
    void MeasureFont();
    // Zooms for Ctrl+Plus, Ctrl+Minus and Ctrl+0; false for every other key.
    bool ZoomKey(const QKeyEvent& event);
    // Ctrl+wheel: zooms and returns true; any other turn is left to the scrolling.
    bool WheelZoom(const QWheelEvent& event);
    // SetZoom, and OnZoom when the zoom changed.
    void ZoomTo(int steps);
    void ShowZoomed(int steps);
    void MakeCaret();
    void RestoreCaret();
    void ApplyAutoSize();
    void ApplyScrollBarPolicy();
    void SetRanges(Qt::Orientation bar, int visible, int total);
    // The viewport's size. A view not shown since its last resize has not laid its viewport
    // out yet: the size follows from the view's own size and the bars its ranges show.
    QSize ViewportSize() const;
    void ScheduleFlush();
    void FlushChanges();
    void FlushCaret(int dx, int dy, bool& requested);
    QRect GridRect() const;
    QRect CellRect(int viewCol, int viewRow, int count = 1) const;
    QRect CaretRect() const;
    void PaintCells(QPainter& painter, const QRect& clip);
    void PaintRow(QPainter& painter, int viewRow, int firstCol, int lastCol);
    void DrawChars(QPainter& painter, int viewCol, int y, const std::uint8_t* chars, int n,
                   bool underline);

    EmulTScreen m_screen;
    TBorderStyle m_borderStyle = bsSingle;
    TScrollStyle m_scrollBars = ssBoth;
    TTermCaret m_caret = tcBlock;
    bool m_wantTab = false;
    bool m_smoothScroll = false;
    bool m_autoSize = false;
    bool m_tabStop = true;
    int m_visibleRows = 0;
    int m_lineHeight = 1;
    int m_charWidth = 1;
    int m_ascent = 0;
    QRawFont m_rawFont;
    std::array<quint32, 256> m_glyphs{};  // glyph index per byte, 0 = none
    int m_caretHeight = 0;
    int m_originCol = 1;
    int m_originRow = 1;
    QFont m_sessionFont;
    int m_zoom = 0;
    int m_wheelZoom = 0;  // wheel angle not yet turned into zoom steps

    // Deferred drawing state.
    bool m_flushPosted = false;
    bool m_paintPending = false;
    bool m_fullUpdate = false;
    int m_pendingDx = 0;
    int m_pendingDy = 0;
    QRect m_caretShown;  // where a caret may be on screen
    QTimer m_flushTimer;
    QElapsedTimer m_sinceFlush;  // since the last flush that requested a paint
    QTimer m_paintWatch;
    long m_paintEvents = 0;
    bool m_inScrollBars = false;

    // History and selection.
    std::int64_t m_seenPushed = 0;  // History().Pushed() the view has followed
    int m_unfollowed = 0;           // grid scrolls not followed by a view on the history
    bool m_quietScroll = false;     // scroll bar moves that need no pixel moves
    QLabel* m_newOutputMarker = nullptr;
    EmulTSelection m_selection;
    bool m_selecting = false;
    QElapsedTimer m_doubleClicked;  // since the last double click, for a triple click
    int m_wheelEighths = 0;         // wheel turn not yet a whole line
    EmulTFindBar* m_findBar = nullptr;
    std::vector<EmulTMatch> m_matches;  // highlighted while the find bar is open
};

}  // namespace vandrel::terminal
