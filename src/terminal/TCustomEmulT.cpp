#include "terminal/TCustomEmulT.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGlyphRun>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>
#include <algorithm>
#include <array>
#include <cstdlib>

namespace vandrel::terminal {

namespace {

QColor ToQColor(EmulTColor c) {
    return QColor(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF),
                  static_cast<int>((c >> 16) & 0xFF));
}

constexpr int kPaintWatchMs = 100;
constexpr qint64 kFrameMs = 40;
constexpr int kMarkerMargin = 4;
constexpr EmulTColor kMatchForeground = 0x000000;
constexpr EmulTColor kMatchBackground = 0x00D7FF;  // amber

bool InMatch(const std::vector<EmulTMatch>& matches, std::int64_t line, int col) {
    // The last match starting at or before the cell.
    auto it = std::upper_bound(matches.begin(), matches.end(), EmulTPos{line, col},
                               [](const EmulTPos& p, const EmulTMatch& m) { return p < m.From; });
    if (it == matches.begin()) {
        return false;
    }
    --it;
    return it->From.Line == line && col < it->From.Column + it->Length;
}

}  // namespace

QFont TCustomEmulT::DefaultFont() {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    // The desktop's fixed font keeps its proportion to the program's font: a program font
    // chosen larger than the desktop's (or a larger desktop font) enlarges the cells alike.
    const qreal desktop =
        QFontInfo(QFontDatabase::systemFont(QFontDatabase::GeneralFont)).pointSizeF();
    const qreal program = QFontInfo(QGuiApplication::font()).pointSizeF();
    const qreal fixed = QFontInfo(font).pointSizeF();
    if (desktop > 0 && program > 0 && fixed > 0) {
        font.setPointSizeF(fixed * program / desktop);
    }
    if (QFontInfo(font).fixedPitch()) {
        return font;
    }
    // The desktop's monospace family may carry double-width glyphs, which makes
    // fontconfig call it dual-spaced; prefer a family whose every cell is one width.
    const QStringList families = QFontDatabase::families();
    for (const char* name :
         {"DejaVu Sans Mono", "Liberation Mono", "Noto Mono", "Nimbus Mono PS"}) {
        const QString family = QString::fromLatin1(name);
        if (families.contains(family) && QFontDatabase::isFixedPitch(family)) {
            font.setFamily(family);
            return font;
        }
    }
    for (const QString& family : families) {
        if (QFontDatabase::isFixedPitch(family) && !QFontDatabase::isPrivateFamily(family)) {
            font.setFamily(family);
            break;
        }
    }
    return font;
}

TCustomEmulT::TCustomEmulT(QWidget* parent) : QAbstractScrollArea(parent), m_screen(this) {
    m_newOutputMarker = new QLabel(tr("New output below"), viewport());
    m_newOutputMarker->setObjectName(QStringLiteral("newOutputBelow"));
    m_newOutputMarker->setAutoFillBackground(true);
    m_newOutputMarker->setFrameStyle(QFrame::Box | QFrame::Plain);
    m_newOutputMarker->setMargin(2);
    m_newOutputMarker->hide();
    m_findBar = new EmulTFindBar(viewport());
    m_findBar->hide();
    m_findBar->OnFind = [this](FindStep step) { FindFromBar(step); };
    m_findBar->OnClose = [this] { CloseFindBar(); };
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(2);
    setFocusPolicy(Qt::TabFocus);
    viewport()->setAutoFillBackground(true);
    SetColor(0x000000);
    resize(400, 250);
    horizontalScrollBar()->setTracking(false);
    verticalScrollBar()->setTracking(false);
    horizontalScrollBar()->setSingleStep(1);
    verticalScrollBar()->setSingleStep(1);
    m_flushTimer.setSingleShot(true);
    connect(&m_flushTimer, &QTimer::timeout, this, [this] { FlushChanges(); });
    m_paintWatch.setSingleShot(true);
    m_paintWatch.setInterval(kPaintWatchMs);
    // A requested paint that never arrives (hidden or obscured window) must
    // not hold back the following changes for ever.
    connect(&m_paintWatch, &QTimer::timeout, this, [this] {
        m_paintPending = false;
        m_fullUpdate = true;
        FlushChanges();
    });
    SetFont(DefaultFont());
    m_sessionFont = font();
    MeasureFont();
    ApplyScrollBarPolicy();
}

TCustomEmulT::~TCustomEmulT() = default;

void TCustomEmulT::WriteStr(std::string_view text) {
    struct Flush {
        TCustomEmulT* view;
        ~Flush() {
            view->FollowHistory();
            view->ScheduleFlush();
        }
    } flush{this};
    if (ScrolledBack() && !text.empty()) {
        SetNewOutputBelow(true);
    }
    m_screen.WriteStr(text);
}

std::optional<EInOutError> TCustomEmulT::WriteStrShowingAll(std::string_view text) {
    if (ScrolledBack() && !text.empty()) {
        SetNewOutputBelow(true);
    }
    std::optional<EInOutError> error = m_screen.WriteStrShowingAll(text);
    FollowHistory();
    ScheduleFlush();
    return error;
}

void TCustomEmulT::WriteChar(std::uint8_t b) {
    const char c = static_cast<char>(b);
    WriteStr(std::string_view(&c, 1));
}

void TCustomEmulT::Clear() {
    m_screen.Clear();
    FollowHistory();
    m_fullUpdate = true;
    ScheduleFlush();
}

void TCustomEmulT::SetColumns(int value) {
    if (!m_screen.SetColumns(value)) {
        return;
    }
    ApplyAutoSize();
    UpdateScrollBars();
    m_fullUpdate = true;
    ScheduleFlush();
}

void TCustomEmulT::SetRows(int value) {
    if (!m_screen.SetRows(value)) {
        return;
    }
    ApplyAutoSize();
    UpdateScrollBars();
    m_fullUpdate = true;
    ScheduleFlush();
}

void TCustomEmulT::SetBorderStyle(TBorderStyle value) {
    if (value == m_borderStyle) {
        return;
    }
    m_borderStyle = value;
    if (value == bsSingle) {
        setFrameStyle(QFrame::Panel | QFrame::Sunken);
        setLineWidth(2);
    } else {
        setFrameStyle(QFrame::NoFrame);
    }
    ApplyAutoSize();
    UpdateScrollBars();
}

void TCustomEmulT::SetScrollBars(TScrollStyle value) {
    if (value == m_scrollBars) {
        return;
    }
    m_scrollBars = value;
    ApplyScrollBarPolicy();
    UpdateScrollBars();
}

void TCustomEmulT::SetSmoothScroll(bool value) {
    m_smoothScroll = value;
    horizontalScrollBar()->setTracking(value);
    verticalScrollBar()->setTracking(value);
}

void TCustomEmulT::SetCaret(TTermCaret value) {
    if (value == m_caret) {
        return;
    }
    m_caret = value;
    RestoreCaret();
}

void TCustomEmulT::SetColor(EmulTColor value) {
    m_screen.Color = value;
    QPalette pal = viewport()->palette();
    pal.setColor(QPalette::Base, ToQColor(value));
    pal.setColor(QPalette::Window, ToQColor(value));
    viewport()->setPalette(pal);
}

void TCustomEmulT::SetFont(const QFont& value) {
    QFont f = value;
    f.setUnderline(false);
    f.setKerning(false);
    if (!QFontInfo(f).fixedPitch()) {
        f.setFamily(DefaultFont().family());
    }
    setFont(f);
}

void TCustomEmulT::SetAutoSize(bool value) {
    m_autoSize = value;
    ApplyAutoSize();
}

void TCustomEmulT::SetTabStop(bool value) {
    m_tabStop = value;
    setFocusPolicy(value ? Qt::TabFocus : Qt::NoFocus);
}

QSize TCustomEmulT::sizeHint() const {
    const int frame = 2 * frameWidth();
    return {m_charWidth * Columns() + frame, m_lineHeight * Rows() + frame};
}

void TCustomEmulT::ApplyAutoSize() {
    updateGeometry();
    if (m_autoSize) {
        resize(sizeHint());
    }
}

void TCustomEmulT::MeasureFont() {
    const QFontMetrics fm(font());
    m_lineHeight = std::max(1, fm.height());
    // The widest glyph the terminal can show: a Unicode font's maxWidth() counts wide
    // symbols that no byte ever maps to and would spread the cells apart.
    int widest = 1;
    for (int b = 32; b < 256; ++b) {
        if (b < 127 || b >= 160) {
            widest = std::max(widest, fm.horizontalAdvance(QChar(b)));
        }
    }
    m_charWidth = widest;
    m_ascent = fm.ascent();
    // Glyphs are placed on the cell grid one by one; fractional advances of
    // the font would otherwise let a long run drift out of its cells.
    m_rawFont = QRawFont::fromFont(font());
    for (int b = 0; b < 256; ++b) {
        const QList<quint32> index = m_rawFont.glyphIndexesForString(QString(QChar(b)));
        m_glyphs[static_cast<std::size_t>(b)] = index.isEmpty() ? 0 : index.first();
    }
    MakeCaret();
}

void TCustomEmulT::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() != QEvent::FontChange) {
        return;
    }
    // setFont may also be called directly; the same rules apply then.
    QFont f = font();
    if (f.underline() || (!QFontInfo(f).fixedPitch() && f.family() != DefaultFont().family())) {
        SetFont(f);
        return;
    }
    MeasureFont();
    ApplyAutoSize();
    UpdateScrollBars();
    m_fullUpdate = true;
    ScheduleFlush();
}

void TCustomEmulT::MakeCaret() {
    switch (m_caret) {
        case tcBlock:
            m_caretHeight = m_lineHeight;
            break;
        case tcUnderline:
            m_caretHeight = m_lineHeight / 8;
            break;
        case tcNone:
            m_caretHeight = 0;
            break;
    }
}

void TCustomEmulT::RestoreCaret() {
    MakeCaret();
    ScheduleFlush();
}

// --- scroll bars -----------------------------------------------------------

void TCustomEmulT::ApplyScrollBarPolicy() {
    const bool allowH = m_scrollBars == ssHorizontal || m_scrollBars == ssBoth;
    const bool allowV = m_scrollBars == ssVertical || m_scrollBars == ssBoth;
    setHorizontalScrollBarPolicy(allowH ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(allowV ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    if (!allowH) {
        horizontalScrollBar()->setRange(0, 0);
    }
    if (!allowV) {
        verticalScrollBar()->setRange(0, 0);
    }
}

void TCustomEmulT::SetRanges(Qt::Orientation bar, int visible, int total) {
    QScrollBar* sb = bar == Qt::Vertical ? verticalScrollBar() : horizontalScrollBar();
    sb->setRange(0, visible < total ? total - visible : 0);
    sb->setPageStep(std::max(1, visible));
}

void TCustomEmulT::UpdateScrollBars() {
    // Showing or hiding a bar resizes the viewport, which calls back here.
    if (m_scrollBars == ssNone || m_inScrollBars) {
        return;
    }
    m_inScrollBars = true;
    const bool allowH = m_scrollBars == ssHorizontal || m_scrollBars == ssBoth;
    const bool allowV = m_scrollBars == ssVertical || m_scrollBars == ssBoth;
    int w = maximumViewportSize().width();
    if (allowH) {
        SetRanges(Qt::Horizontal, w / m_charWidth, Columns());
    }
    if (allowV) {
        m_visibleRows = ViewportSize().height() / m_lineHeight;
        // The value keeps the view's top row when the history's length is added.
        const int value = History().Count() + m_originRow - 1;
        m_quietScroll = true;
        SetRanges(Qt::Vertical, m_visibleRows, History().Count() + Rows());
        verticalScrollBar()->setValue(value);
        m_quietScroll = false;
    }
    if (allowH && ViewportSize().width() != w) {
        w = ViewportSize().width();
        SetRanges(Qt::Horizontal, w / m_charWidth, Columns());
    }
    m_inScrollBars = false;
    const int before = m_originRow;
    SyncOrigin();
    if (m_originRow != before) {
        m_fullUpdate = true;
        ScheduleFlush();
    }
    PlaceOverlays();
}

void TCustomEmulT::PlaceOverlays() {
    SetNewOutputBelow(m_newOutputMarker->isVisible());  // places it
    if (m_findBar->isVisible()) {
        m_findBar->adjustSize();
        const QRect area = viewport()->rect();
        const int width = std::min(m_findBar->sizeHint().width(), area.width());
        m_findBar->setGeometry(area.right() - width + 1, 0, width, m_findBar->sizeHint().height());
        m_findBar->raise();
    }
}

QSize TCustomEmulT::ViewportSize() const {
    if (!testAttribute(Qt::WA_PendingResizeEvent)) {
        return viewport()->size();
    }
    const auto shown = [](const QScrollBar* bar) { return bar->maximum() > bar->minimum(); };
    QSize size = maximumViewportSize();
    if (shown(horizontalScrollBar())) {
        size.rheight() -= horizontalScrollBar()->sizeHint().height();
    }
    if (shown(verticalScrollBar())) {
        size.rwidth() -= verticalScrollBar()->sizeHint().width();
    }
    return size;
}

void TCustomEmulT::SyncOrigin() {
    if (m_scrollBars == ssHorizontal || m_scrollBars == ssBoth) {
        m_originCol = horizontalScrollBar()->value() + 1;
    }
    if (AllowsVertical()) {
        m_originRow = verticalScrollBar()->value() + 1 - History().Count();
    }
    if (!ScrolledBack()) {
        SetNewOutputBelow(false);
    }
}

void TCustomEmulT::ScrollView(Qt::Orientation bar, ScrollCode code, int thumb) {
    if (code == ScrollCode::EndScroll || (code == ScrollCode::Track && !m_smoothScroll)) {
        return;
    }
    QScrollBar* sb = bar == Qt::Vertical ? verticalScrollBar() : horizontalScrollBar();
    const int unit = bar == Qt::Vertical ? m_lineHeight : m_charWidth;
    const int page = (bar == Qt::Vertical ? viewport()->height() : viewport()->width()) / unit;
    const int p = sb->value();
    int q = p;
    switch (code) {
        case ScrollCode::LineUp:
            q = p - 1;
            break;
        case ScrollCode::LineDown:
            q = p + 1;
            break;
        case ScrollCode::PageUp:
            q = p - page;
            break;
        case ScrollCode::PageDown:
            q = p + page;
            break;
        case ScrollCode::Position:
        case ScrollCode::Track:
            q = thumb;
            break;
        case ScrollCode::Top:
            q = sb->minimum();
            break;
        case ScrollCode::Bottom:
            q = sb->maximum();
            break;
        default:
            return;
    }
    // The bar clamps; scrollContentsBy moves the origin and the pixels.
    sb->setValue(q);
}

void TCustomEmulT::ViewLineDown() {
    if (!ScrolledBack()) {
        ScrollView(Qt::Vertical, ScrollCode::LineDown);
    }
}

void TCustomEmulT::FollowHistory(bool force) {
    const EmulTHistory& history = m_screen.History();
    const auto grown = static_cast<int>(history.Pushed() - m_seenPushed);
    m_seenPushed = history.Pushed();
    if ((grown == 0 && !force) || !AllowsVertical()) {
        return;
    }
    const int count = history.Count();
    QScrollBar* bar = verticalScrollBar();
    if (!force && !ScrolledBack() && m_originRow >= 1 - count &&
        bar->maximum() == std::max(0, count + Rows() - m_visibleRows) &&
        bar->pageStep() == std::max(1, m_visibleRows) && bar->value() == count + m_originRow - 1 &&
        !m_newOutputMarker->isVisible()) {
        return;  // a full history at the bottom: lines come and go, the bar stays as it is
    }
    int origin = m_originRow;
    if (ScrolledBack()) {
        origin -= grown;
        m_unfollowed += grown;
        if (grown != 0 && origin + m_visibleRows > 1) {
            m_fullUpdate = true;  // the grid's part of the view changed under it
        }
    }
    if (origin < 1 - count) {
        origin = 1 - count;  // its text is gone: the oldest line left
        m_fullUpdate = true;
    }
    m_quietScroll = true;
    SetRanges(Qt::Vertical, m_visibleRows, count + Rows());
    bar->setValue(count + origin - 1);
    m_quietScroll = false;
    SyncOrigin();
    if (m_originRow != origin) {
        m_fullUpdate = true;
    }
}

void TCustomEmulT::SetHistoryLines(int lines) {
    // Preferences are applied again on every change; an unchanged size keeps view and selection.
    if (std::max(lines, 0) == HistoryLines()) {
        return;
    }
    m_screen.History().SetCapacity(lines);
    m_selection.Clear();
    FollowHistory(true);
    m_fullUpdate = true;
    ScheduleFlush();
}

void TCustomEmulT::SetNewOutputBelow(bool value) {
    if (value) {
        m_newOutputMarker->adjustSize();
        const QSize size = m_newOutputMarker->size();
        const QRect area = viewport()->rect();
        m_newOutputMarker->move(area.right() - kMarkerMargin - size.width() + 1,
                                area.bottom() - kMarkerMargin - size.height() + 1);
        m_newOutputMarker->raise();
    }
    if (value != m_newOutputMarker->isVisible()) {
        m_newOutputMarker->setVisible(value);
    }
}

void TCustomEmulT::ReturnToGrid() {
    if (ScrolledBack()) {
        QScrollBar* bar = verticalScrollBar();
        bar->setValue(
            std::min(bar->maximum(), History().Count() + std::max(0, CursorRow() - m_visibleRows)));
    }
}

void TCustomEmulT::scrollContentsBy(int dx, int dy) {
    if (m_quietScroll) {
        return;
    }
    m_originCol = horizontalScrollBar()->value() + 1;
    SyncOrigin();
    m_pendingDx += dx * m_charWidth;
    m_pendingDy += dy * m_lineHeight;
    ScheduleFlush();
}

void TCustomEmulT::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollBars();
}

// --- deferred drawing ------------------------------------------------------

QRect TCustomEmulT::CellRect(int viewCol, int viewRow, int count) const {
    return {(viewCol - 1) * m_charWidth, (viewRow - 1) * m_lineHeight, count * m_charWidth,
            m_lineHeight};
}

QRect TCustomEmulT::GridRect() const {
    const QRect all = viewport()->rect();
    const int w = std::min(all.width(), (Columns() - m_originCol + 1) * m_charWidth);
    const int h = std::min(all.height(), (Rows() - m_originRow + 1) * m_lineHeight);
    return {0, 0, std::max(w, 0), std::max(h, 0)};
}

QRect TCustomEmulT::CaretRect() const {
    if (!hasFocus() || m_caretHeight <= 0) {
        return {};
    }
    const int x = (CursorColumn() - m_originCol) * m_charWidth;
    const int y = (CursorRow() - m_originRow) * m_lineHeight + m_lineHeight - m_caretHeight;
    return {x, y, m_charWidth, m_caretHeight};
}

void TCustomEmulT::ScheduleFlush() {
    if (m_flushPosted) {
        return;
    }
    m_flushPosted = true;
    // The first change after a quiet spell shows at once; a steady stream is
    // shown at most once per frame, however many passes it takes.
    const qint64 wait = m_sinceFlush.isValid() ? kFrameMs - m_sinceFlush.elapsed() : 0;
    if (wait > 0) {
        m_flushTimer.start(static_cast<int>(wait));
    } else {
        QMetaObject::invokeMethod(
            this, [this] { FlushChanges(); }, Qt::QueuedConnection);
    }
}

// Runs in an event-loop pass after changes, at most once per frame. While a
// requested paint is outstanding nothing new is requested: the changes keep
// accumulating in the grid, and the paint event schedules the next flush. So
// pixels are only ever moved when everything on screen is up to date.
void TCustomEmulT::FlushChanges() {
    m_flushPosted = false;
    if (m_paintPending) {
        if (!m_paintWatch.isActive()) {
            m_paintWatch.start();
        }
        return;
    }
    TEmulTBuffer& buffer = m_screen.Buffer();
    QWidget* vp = viewport();
    const int dx = m_pendingDx;
    const int dy = m_pendingDy - (buffer.PendingScroll() - m_unfollowed) * m_lineHeight;
    m_pendingDx = m_pendingDy = 0;
    m_unfollowed = 0;
    if ((m_newOutputMarker->isVisible() || m_findBar->isVisible()) && (dx != 0 || dy != 0)) {
        m_fullUpdate = true;  // moved pixels would carry the marker along
    }
    const auto ignore = [](const TEmulTBuffer::Span&) {};
    if (!vp->isVisible()) {
        // Showing the window paints everything anyway.
        buffer.TakeChanges(ignore);
        m_fullUpdate = false;
        return;
    }
    if (m_fullUpdate || std::abs(dy) >= vp->height() || std::abs(dx) >= vp->width()) {
        m_fullUpdate = false;
        buffer.TakeChanges(ignore);
        m_caretShown = CaretRect();
        vp->update();
        m_paintPending = true;
        m_sinceFlush.restart();
        return;
    }
    bool requested = false;
    if (dx != 0 || dy != 0) {
        vp->scroll(dx, dy, GridRect());
        requested = true;
    }
    const QRect visible = vp->rect();
    buffer.TakeChanges([&](const TEmulTBuffer::Span& span) {
        const int viewRow = span.Row - m_originRow + 1;
        const int first = std::max(span.First, m_originCol);
        if (viewRow < 1 || first > span.Last) {
            return;
        }
        // With the cells beside it: their glyphs may reach into the changed ones and back.
        const QRect r = CellRect(first - m_originCol, viewRow, span.Last - first + 3) & visible;
        if (!r.isEmpty()) {
            vp->update(r);
            requested = true;
        }
    });
    FlushCaret(dx, dy, requested);
    m_paintPending = requested;
    if (requested) {
        m_sinceFlush.restart();
    }
}

void TCustomEmulT::FlushCaret(int dx, int dy, bool& requested) {
    const QRect now = CaretRect();
    if (now == m_caretShown && dx == 0 && dy == 0) {
        return;
    }
    QWidget* vp = viewport();
    if (!m_caretShown.isEmpty()) {
        vp->update(m_caretShown);
        vp->update(m_caretShown.translated(dx, dy));
        requested = true;
    }
    if (!now.isEmpty()) {
        vp->update(now);
        requested = true;
    }
    m_caretShown = now;
}

void TCustomEmulT::RepaintNow() {
    // Everything pending is drawn by this paint.
    m_screen.Buffer().TakeChanges([](const TEmulTBuffer::Span&) {});
    m_pendingDx = m_pendingDy = 0;
    m_unfollowed = 0;
    m_fullUpdate = false;
    m_caretShown = CaretRect();
    viewport()->repaint();
}

void TCustomEmulT::paintEvent(QPaintEvent* event) {
    ++m_paintEvents;
    m_paintPending = false;
    m_paintWatch.stop();
    // Pixels painted now already show the scrolled grid; moving them later
    // would be wrong, so the next flush repaints instead.
    if (m_pendingDx != 0 || m_pendingDy != 0 || m_screen.Buffer().PendingScroll() != 0) {
        m_fullUpdate = true;
    }
    QPainter painter(viewport());
    painter.setFont(font());
    PaintCells(painter, event->rect());
    const QRect caret = CaretRect();
    if (!caret.isEmpty() && caret.intersects(event->rect())) {
        const EmulTCell cell = m_screen.Buffer().GetCell(CursorColumn(), CursorRow());
        const EmulTColor fg = cell.Character != 0 ? cell.Foreground : m_screen.FontColor;
        painter.fillRect(caret, ToQColor(fg));
        if (m_caret == tcBlock && cell.Character != 0) {
            painter.setPen(ToQColor(cell.Background));
            DrawChars(painter, CursorColumn() - m_originCol + 1,
                      (CursorRow() - m_originRow) * m_lineHeight, &cell.Character, 1, false);
        }
        if (caret != m_caretShown) {
            m_caretShown |= caret;  // both may be on screen now; the next flush clears it
        }
    }
    if (m_fullUpdate || m_screen.Buffer().HasChanges() || CaretRect() != m_caretShown) {
        ScheduleFlush();
    }
}

// A glyph may reach a pixel past its cell. So that a paint of some cells shows what a
// full paint shows there, glyphs are clipped to their run of cells, and the cells beside
// the clip are drawn too, for the glyphs of a run that reach into it.
void TCustomEmulT::PaintCells(QPainter& painter, const QRect& clip) {
    const int firstCol = clip.left() / m_charWidth;
    const int firstRow = clip.top() / m_lineHeight + 1;
    const int lastCol = std::min(clip.right() / m_charWidth + 2, Columns() - m_originCol + 1);
    const int lastRow = std::min(clip.bottom() / m_lineHeight + 1, Rows() - m_originRow + 1);
    for (int r = firstRow; r <= lastRow; ++r) {
        PaintRow(painter, r, firstCol, lastCol);
    }
    painter.setClipping(false);
}

// Draws the non-empty cells of one view row, joining neighbours of the same
// colours into one glyph run.
void TCustomEmulT::PaintRow(QPainter& painter, int viewRow, int firstCol, int lastCol) {
    const int gridRow = viewRow + m_originRow - 1;
    const std::int64_t line = m_screen.GridLine(gridRow);
    std::array<EmulTCell, EmulTScreen::kMaxColumns> cells{};
    const int width = std::clamp(lastCol + m_originCol - 1, 0, EmulTScreen::kMaxColumns);
    m_screen.ReadLine(line, cells.data(), width);
    const int y = (viewRow - 1) * m_lineHeight;
    std::array<std::uint8_t, EmulTScreen::kMaxColumns> chars{};
    int count = 0;
    int runStart = 0;
    EmulTCell style;
    const auto drawRun = [&] {
        if (count == 0) {
            return;
        }
        const QRect area = CellRect(runStart, viewRow, count);
        painter.setClipRect(area);
        painter.fillRect(area, ToQColor(style.Background));
        painter.setPen(ToQColor(style.Foreground));
        DrawChars(painter, runStart, y, chars.data(), count, style.Underline);
        count = 0;
    };
    for (int k = firstCol; k <= lastCol; ++k) {
        const int col = k + m_originCol - 1;
        if (col < 1 || col > width) {
            continue;
        }
        EmulTCell cell = cells[static_cast<std::size_t>(col - 1)];
        if (!m_matches.empty() && InMatch(m_matches, line, col)) {
            if (cell.Character == 0) {
                cell.Character = ' ';
            }
            cell.Foreground = kMatchForeground;
            cell.Background = kMatchBackground;
        }
        if (m_selection.Contains(line, col)) {
            // Selected cells show in reverse; an empty one as a blank.
            if (cell.Character == 0) {
                cell.Character = ' ';
                cell.Foreground = m_screen.FontColor;
                cell.Background = m_screen.Color;
            }
            std::swap(cell.Foreground, cell.Background);
        }
        if (count > 0 &&
            (cell.Character == 0 || cell.Foreground != style.Foreground ||
             cell.Background != style.Background || cell.Underline != style.Underline)) {
            drawRun();
        }
        if (cell.Character == 0) {
            continue;
        }
        if (count == 0) {
            style = cell;
            runStart = k;
        }
        chars[static_cast<std::size_t>(count++)] = cell.Character;
    }
    drawRun();
}

// Draws n characters into consecutive cells from view column viewCol on, in
// the painter's pen colour; y is the top of the cell row.
void TCustomEmulT::DrawChars(QPainter& painter, int viewCol, int y, const std::uint8_t* chars,
                             int n, bool underline) {
    QList<quint32> indexes;
    QList<QPointF> positions;
    indexes.reserve(n);
    positions.reserve(n);
    const qreal baseline = y + m_ascent;
    for (int i = 0; i < n; ++i) {
        const qreal x = (viewCol - 1 + i) * m_charWidth;
        const quint32 glyph = m_glyphs[chars[i]];
        if (glyph == 0) {
            // Not in the font: let the painter find a substitute.
            QFont f = painter.font();
            f.setUnderline(underline);
            painter.setFont(f);
            painter.drawText(QPointF(x, baseline), QString(QChar(chars[i])));
            continue;
        }
        indexes.append(glyph);
        positions.append(QPointF(x, baseline));
    }
    if (indexes.isEmpty()) {
        return;
    }
    QGlyphRun run;
    run.setRawFont(m_rawFont);
    run.setGlyphIndexes(indexes);
    run.setPositions(positions);
    run.setUnderline(underline);
    painter.drawGlyphRun(QPointF(0, 0), run);
}

// --- input -----------------------------------------------------------------

void TCustomEmulT::KeyPress(char& key) {
    if (OnKeyPress) {
        OnKeyPress(*this, key);
    }
}

void TCustomEmulT::keyPressEvent(QKeyEvent* event) {
    if (ZoomKey(*event)) {
        event->accept();
        return;
    }
    const Qt::KeyboardModifiers mods =
        event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
    if (mods == (Qt::ControlModifier | Qt::ShiftModifier) && event->key() == Qt::Key_F) {
        OpenFindBar();
        event->accept();
        return;
    }
    if (mods == (Qt::ControlModifier | Qt::ShiftModifier) && event->key() == Qt::Key_C) {
        CopySelection();
        event->accept();
        return;
    }
    if (mods == Qt::ShiftModifier &&
        (event->key() == Qt::Key_PageUp || event->key() == Qt::Key_PageDown)) {
        ScrollView(Qt::Vertical,
                   event->key() == Qt::Key_PageUp ? ScrollCode::PageUp : ScrollCode::PageDown);
        event->accept();
        return;
    }
    if (OnKeyDown) {
        OnKeyDown(*this, *event);
    }
    // Arrow and page keys without Shift are not turned into scrolling: they
    // only reach the key hooks.
    for (const QChar c : event->text()) {
        if (c.unicode() == 0 || c.unicode() > 0xFF || (c.unicode() == '\t' && !m_wantTab)) {
            continue;
        }
        ReturnToGrid();
        char key = static_cast<char>(c.unicode());
        KeyPress(key);
    }
    event->accept();
}

void TCustomEmulT::keyReleaseEvent(QKeyEvent* event) {
    if (OnKeyUp) {
        OnKeyUp(*this, *event);
    }
    event->accept();
}

void TCustomEmulT::PressTakesFocus(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && m_tabStop && isEnabled()) {
        setFocus(Qt::MouseFocusReason);
    }
    if (OnMouseDown) {
        OnMouseDown(*this, *event);
    }
}

void TCustomEmulT::mousePressEvent(QMouseEvent* event) {
    PressTakesFocus(event);
    if (event->button() == Qt::LeftButton) {
        const bool triple = m_doubleClicked.isValid() &&
                            m_doubleClicked.elapsed() < QApplication::doubleClickInterval();
        m_doubleClicked.invalidate();
        m_selection.Start(m_screen, PosAt(event->position().toPoint()),
                          triple ? EmulTSelectUnit::Line : EmulTSelectUnit::Cell);
        m_selecting = true;
        SelectionChanged();
    } else if (event->button() == Qt::MiddleButton) {
        Paste(true);
    }
    event->accept();
}

void TCustomEmulT::mouseDoubleClickEvent(QMouseEvent* event) {
    PressTakesFocus(event);
    if (event->button() == Qt::LeftButton) {
        m_selection.Start(m_screen, PosAt(event->position().toPoint()), EmulTSelectUnit::Word);
        m_selecting = true;
        m_doubleClicked.start();
        SelectionChanged();
    }
    event->accept();
}

void TCustomEmulT::mouseMoveEvent(QMouseEvent* event) {
    if (m_selecting && (event->buttons() & Qt::LeftButton) != 0) {
        // Dragged past the top or the bottom, the view follows a line at a time.
        const int y = static_cast<int>(event->position().y());
        if (y < 0 || y >= viewport()->height()) {
            ScrollView(Qt::Vertical, y < 0 ? ScrollCode::LineUp : ScrollCode::LineDown);
        }
        const EmulTPos from = m_selection.From();
        const EmulTPos to = m_selection.To();
        const bool ranged = !m_selection.Empty();
        m_selection.Extend(m_screen, PosAt(event->position().toPoint()));
        if (m_selection.From() != from || m_selection.To() != to ||
            m_selection.Empty() != !ranged) {
            SelectionChanged();
        }
    }
    event->accept();
}

void TCustomEmulT::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && m_selecting) {
        m_selecting = false;
        QClipboard* clipboard = QGuiApplication::clipboard();
        if (!m_selection.Empty() && clipboard->supportsSelection()) {
            clipboard->setText(QString::fromLatin1(SelectedText()), QClipboard::Selection);
        }
    }
    event->accept();
}

void TCustomEmulT::wheelEvent(QWheelEvent* event) {
    if (WheelZoom(*event)) {
        event->accept();
        return;
    }
    if (event->angleDelta().y() == 0) {
        QAbstractScrollArea::wheelEvent(event);  // a sideways turn scrolls the columns
        return;
    }
    // 120 eighths of a degree are one notch, worth wheelScrollLines() lines.
    m_wheelEighths += event->angleDelta().y();
    const int lines = m_wheelEighths * QApplication::wheelScrollLines() / 120;
    if (lines != 0) {
        m_wheelEighths -= lines * 120 / QApplication::wheelScrollLines();
        verticalScrollBar()->setValue(verticalScrollBar()->value() - lines);
    }
    event->accept();
}

void TCustomEmulT::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    QAction* copy = menu.addAction(tr("&Copy"), this, [this] { CopySelection(); });
    copy->setEnabled(!m_selection.Empty());
    QAction* paste = menu.addAction(tr("&Paste"), this, [this] { Paste(false); });
    paste->setEnabled(OnPasteText != nullptr &&
                      !QGuiApplication::clipboard()->text(QClipboard::Clipboard).isEmpty());
    menu.exec(event->globalPos());
    event->accept();
}

EmulTPos TCustomEmulT::PosAt(const QPoint& point) const {
    const auto cell = [](int pixels, int unit) {
        return pixels >= 0 ? pixels / unit : -((-pixels + unit - 1) / unit);
    };
    const int gridRow = cell(point.y(), m_lineHeight) + m_originRow;
    const std::int64_t line =
        std::clamp(m_screen.GridLine(gridRow), m_screen.FirstLine(), m_screen.LastLine());
    const int col = std::clamp(cell(point.x(), m_charWidth) + m_originCol, 1, Columns());
    return {line, col};
}

void TCustomEmulT::SelectionChanged() {
    m_fullUpdate = true;
    ScheduleFlush();
}

void TCustomEmulT::ClearSelection() {
    if (!m_selection.Empty()) {
        SelectionChanged();
    }
    m_selection.Clear();
    m_selecting = false;
}

void TCustomEmulT::CopySelection() {
    if (!m_selection.Empty()) {
        QGuiApplication::clipboard()->setText(QString::fromLatin1(SelectedText()),
                                              QClipboard::Clipboard);
    }
}

void TCustomEmulT::Paste(bool primary) {
    if (!OnPasteText) {
        return;
    }
    const QString text =
        QGuiApplication::clipboard()->text(primary ? QClipboard::Selection : QClipboard::Clipboard);
    if (!text.isEmpty()) {
        OnPasteText(text);
    }
}

void TCustomEmulT::OpenFindBar() {
    m_findBar->show();
    PlaceOverlays();
    m_findBar->FocusText();
    FindFromBar(FindStep::Here);
}

void TCustomEmulT::CloseFindBar() {
    m_findBar->hide();
    m_matches.clear();
    m_fullUpdate = true;
    ScheduleFlush();
    setFocus(Qt::OtherFocusReason);
}

void TCustomEmulT::FindFromBar(FindStep step) {
    const QString text = m_findBar->Text();
    // A character the screen cannot show cannot be found on it.
    const bool latin1 =
        std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() <= 0xFF; });
    const bool found = latin1 && Find(text.toLatin1().toStdString(), m_findBar->MatchCase(), step);
    if (text.isEmpty()) {
        m_findBar->SetStatus({});
    } else if (!found) {
        m_findBar->SetStatus(tr("Not found"));
    } else {
        const auto current =
            std::find_if(m_matches.begin(), m_matches.end(),
                         [&](const EmulTMatch& m) { return m.From == m_selection.From(); });
        m_findBar->SetStatus(tr("%1 of %2")
                                 .arg(current - m_matches.begin() + 1)
                                 .arg(static_cast<qsizetype>(m_matches.size())));
    }
}

bool TCustomEmulT::Find(const std::string& needle, bool matchCase, FindStep step) {
    m_matches = FindAll(m_screen, needle, matchCase);
    m_fullUpdate = true;
    ScheduleFlush();
    if (m_matches.empty()) {
        ClearSelection();
        return false;
    }
    const EmulTPos here =
        m_selection.Empty() ? EmulTPos{m_screen.GridLine(m_originRow), 1} : m_selection.From();
    auto it = m_matches.begin();
    switch (step) {
        case FindStep::Here:
            it = std::find_if(m_matches.begin(), m_matches.end(),
                              [&](const EmulTMatch& m) { return m.From >= here; });
            break;
        case FindStep::Next:
            it = std::find_if(m_matches.begin(), m_matches.end(),
                              [&](const EmulTMatch& m) { return m.From > here; });
            break;
        case FindStep::Previous: {
            auto back = std::find_if(m_matches.rbegin(), m_matches.rend(),
                                     [&](const EmulTMatch& m) { return m.From < here; });
            it = back == m_matches.rend() ? m_matches.end() - 1 : std::prev(back.base());
            break;
        }
    }
    if (it == m_matches.end()) {
        it = m_matches.begin();  // round from the end to the start
    }
    m_selection.Select(it->From, {it->From.Line, it->From.Column + it->Length - 1});
    ShowLine(it->From.Line);
    return true;
}

void TCustomEmulT::ShowLine(std::int64_t line) {
    if (!AllowsVertical()) {
        return;
    }
    const std::int64_t top = m_screen.GridLine(m_originRow);
    const int rows = std::max(m_visibleRows, 1);
    if (line >= top && line < top + rows) {
        return;
    }
    // A third of the window above the line, so that its context shows too.
    const std::int64_t value = line - m_screen.FirstLine() - rows / 3;
    verticalScrollBar()->setValue(static_cast<int>(std::max<std::int64_t>(value, 0)));
}

QString TCustomEmulT::HistoryAndGridText() const {
    return QString::fromLatin1(m_screen.AllText());
}

void TCustomEmulT::focusInEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusInEvent(event);
    RestoreCaret();
}

void TCustomEmulT::focusOutEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusOutEvent(event);
    ScheduleFlush();
}

bool TCustomEmulT::focusNextPrevChild(bool next) {
    if (m_wantTab) {
        return false;
    }
    return QAbstractScrollArea::focusNextPrevChild(next);
}

}  // namespace vandrel::terminal
