#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontInfo>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPixmap>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QWheelEvent>
#include <memory>
#include <string>
#include <vector>

#include "terminal/EInOutError.h"
#include "terminal/TEmulT.h"

using namespace vandrel::terminal;

namespace {

class TEmulTViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        view = std::make_unique<TEmulT>();
        view->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
        view->clearFocus();  // a focused view shows its caret over (1, 1)
        Settle();
    }

    // Lets every pending change reach the screen (changes are shown at most
    // once per frame).
    void Settle() {
        for (int i = 0; i < 3; ++i) {
            QTest::qWait(25);
        }
    }

    // What is on screen: the window's backing store, cut to the viewport.
    QImage OnScreen() const {
        const QPixmap window = view->screen()->grabWindow(view->winId());
        const QPoint at = view->viewport()->mapTo(view.get(), QPoint(0, 0));
        return window.copy(QRect(at, view->viewport()->size()))
            .toImage()
            .convertToFormat(QImage::Format_RGB32);
    }
    // What a full repaint of the grid as it is now would show.
    QImage Rendered() const {
        return view->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    }
    // Number of non-black pixels inside one view cell.
    int LitPixels(const QImage& img, int viewCol, int viewRow) const {
        int lit = 0;
        const int x0 = (viewCol - 1) * view->CharWidth();
        const int y0 = (viewRow - 1) * view->LineHeight();
        for (int y = y0; y < y0 + view->LineHeight(); ++y) {
            for (int x = x0; x < x0 + view->CharWidth(); ++x) {
                lit += (img.pixel(x, y) & 0xFFFFFF) != 0 ? 1 : 0;
            }
        }
        return lit;
    }
    // Gives the view a 64-row grid and sizes the window so that about cols x rows cells
    // are visible.
    void ShowCells(int cols, int rows) {
        view->SetRows(64);
        const int frame = 2 * view->frameWidth();
        const int bar = view->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
        view->resize(cols * view->CharWidth() + frame + bar,
                     rows * view->LineHeight() + frame + bar);
        Settle();
    }

    void WriteLines(int from, int to) {
        for (int i = from; i <= to; ++i) {
            view->WriteStr("line " + std::to_string(i) + "\r\n");
        }
    }
    void Wheel(int delta, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QWheelEvent event(QPointF(5, 5), view->mapToGlobal(QPointF(5, 5)), QPoint(),
                          QPoint(0, delta), Qt::NoButton, mods, Qt::NoScrollPhase, false);
        QApplication::sendEvent(view->viewport(), &event);
    }

    // The viewport point in the middle of a view cell.
    QPoint CellCentre(int viewCol, int viewRow) const {
        return {(viewCol - 1) * view->CharWidth() + view->CharWidth() / 2,
                (viewRow - 1) * view->LineHeight() + view->LineHeight() / 2};
    }
    // The text of the view's top row.
    std::string TopText() const {
        std::string text = view->History().Count() > 0 || view->OriginRow() >= 1
                               ? view->HistoryAndGridText().toStdString()
                               : std::string();
        const std::int64_t skip = view->History().Count() + view->OriginRow() - 1;
        std::size_t at = 0;
        for (std::int64_t i = 0; i < skip && at != std::string::npos; ++i) {
            at = text.find('\n', at);
            at = at == std::string::npos ? at : at + 1;
        }
        return at == std::string::npos ? std::string() : text.substr(at, text.find('\n', at) - at);
    }

    std::unique_ptr<TEmulT> view;
};

}  // namespace

TEST_F(TEmulTViewTest, Defaults) {
    TEmulT fresh;
    EXPECT_EQ(fresh.Columns(), 80);
    EXPECT_EQ(fresh.Rows(), 24);
    EXPECT_EQ(fresh.AltColor(), 0xA6A6A6u);
    EXPECT_EQ(fresh.Color(), 0x000000u);
    EXPECT_EQ(fresh.FontColor(), 0xFFFFFFu);
    EXPECT_EQ(fresh.LogName(), "EMULT.LOG");
    EXPECT_FALSE(fresh.Log());
    EXPECT_EQ(fresh.ScrollBars(), ssBoth);
    EXPECT_EQ(fresh.BorderStyle(), bsSingle);
    EXPECT_EQ(fresh.Caret(), tcBlock);
    EXPECT_FALSE(fresh.WrapLines());
    EXPECT_FALSE(fresh.SmoothScroll());
    EXPECT_FALSE(fresh.WantTab());
    EXPECT_EQ(fresh.size(), QSize(400, 250));
    EXPECT_EQ(fresh.Font().pointSize(), 9);
    EXPECT_TRUE(QFontInfo(fresh.Font()).fixedPitch());
    EXPECT_EQ(fresh.LineHeight(), QFontMetrics(fresh.Font()).height());
    // Cells are as wide as the font's Latin-1 glyphs, not its widest symbol.
    EXPECT_EQ(fresh.CharWidth(), QFontMetrics(fresh.Font()).horizontalAdvance(QLatin1Char('M')));
    EXPECT_EQ(fresh.sizeHint(), QSize(80 * fresh.CharWidth() + 2 * fresh.frameWidth(),
                                      24 * fresh.LineHeight() + 2 * fresh.frameWidth()));
}

TEST_F(TEmulTViewTest, PrintedCellIsPaintedAndEmptyCellIsNot) {
    view->WriteStr("X");
    Settle();
    const QImage screen = OnScreen();
    EXPECT_GT(LitPixels(screen, 1, 1), 0);
    EXPECT_EQ(LitPixels(screen, 2, 1), 0);
    EXPECT_EQ(LitPixels(screen, 1, 2), 0);
}

// Glyphs stay in their cells: a full row must not spill past the last column,
// whatever the font's fractional advance.
TEST_F(TEmulTViewTest, FullRowStaysInsideTheGrid) {
    view->resize(view->sizeHint() + QSize(100, 100));
    Settle();
    std::string row;
    for (int i = 0; i < 80; ++i) {
        row += static_cast<char>('a' + i % 26);
    }
    view->WriteStr(row);
    Settle();
    const QImage screen = OnScreen();
    EXPECT_GT(LitPixels(screen, 80, 1), 0);
    EXPECT_EQ(LitPixels(screen, 81, 1), 0);
    EXPECT_EQ(LitPixels(screen, 82, 1), 0);
    EXPECT_EQ(screen, Rendered());
}

TEST_F(TEmulTViewTest, ProportionalFontIsReplacedAndUnderlineRemoved) {
    QFont proportional("DejaVu Sans", 12);
    ASSERT_FALSE(QFontInfo(proportional).fixedPitch());
    view->SetFont(proportional);
    EXPECT_EQ(view->Font().family(), TCustomEmulT::DefaultFont().family());
    EXPECT_EQ(view->Font().pointSize(), 12);

    QFont underlined = TCustomEmulT::DefaultFont();
    underlined.setUnderline(true);
    view->setFont(underlined);  // also through the plain widget call
    EXPECT_FALSE(view->Font().underline());
    EXPECT_EQ(view->LineHeight(), QFontMetrics(view->Font()).height());
}

TEST_F(TEmulTViewTest, ScrollBarsForALargeGrid) {
    ShowCells(40, 20);
    const int visibleCols = view->viewport()->width() / view->CharWidth();
    EXPECT_EQ(view->VisibleRows(), view->viewport()->height() / view->LineHeight());
    EXPECT_LT(view->VisibleRows(), 64);
    EXPECT_EQ(view->verticalScrollBar()->maximum(), 64 - view->VisibleRows());
    EXPECT_EQ(view->horizontalScrollBar()->maximum(), 80 - visibleCols);
    EXPECT_TRUE(view->verticalScrollBar()->isVisible());

    // Without scroll bars the view stays where it is.
    view->SetScrollBars(ssNone);
    Settle();
    EXPECT_FALSE(view->verticalScrollBar()->isVisible());
    EXPECT_FALSE(view->horizontalScrollBar()->isVisible());
    WriteLines(1, 40);
    Settle();
    EXPECT_EQ(view->OriginRow(), 1);
    EXPECT_EQ(view->OriginColumn(), 1);
    view->SetBorderStyle(bsNone);
    EXPECT_EQ(view->frameWidth(), 0);
    view->SetScrollBars(ssVertical);
    Settle();
    EXPECT_TRUE(view->verticalScrollBar()->isVisible());
    EXPECT_FALSE(view->horizontalScrollBar()->isVisible());
    EXPECT_EQ(OnScreen(), Rendered());

    // A window that holds the whole grid needs no bars.
    view->resize(view->sizeHint() + QSize(20, 20));
    Settle();
    EXPECT_EQ(view->verticalScrollBar()->maximum(), 0);
    EXPECT_EQ(view->horizontalScrollBar()->maximum(), 0);
    EXPECT_FALSE(view->verticalScrollBar()->isVisible());
}

TEST_F(TEmulTViewTest, ViewFollowsLineFeeds) {
    ShowCells(80, 20);
    const int visible = view->VisibleRows();
    WriteLines(1, 40);
    Settle();
    // Line feeds to rows visible .. 41 each move the view one line down.
    EXPECT_EQ(view->OriginRow(), 1 + (41 - visible + 1));
    EXPECT_EQ(view->CursorRow(), 41);
    EXPECT_EQ(view->CursorRow() - view->OriginRow() + 1, visible - 1);
    EXPECT_EQ(OnScreen(), Rendered());
}

// A session writes into its view before the window has laid the view out: the rows of the
// view's own size count, so the first lines stay in sight once it is shown.
TEST_F(TEmulTViewTest, AViewNotYetShownCountsTheRowsOfItsOwnSize) {
    QWidget page;
    page.resize(500, 300);
    auto* fresh = new TEmulT(&page);
    fresh->SetRows(64);
    fresh->WriteStr("Connecting to '198.18.0.250'\r\n");
    EXPECT_EQ(fresh->OriginRow(), 1);
    const int counted = fresh->VisibleRows();
    page.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&page));
    EXPECT_EQ(fresh->VisibleRows(), counted) << "as the shown view counts them";
    EXPECT_EQ(fresh->viewport()->width() / fresh->CharWidth(),
              80 - fresh->horizontalScrollBar()->maximum());
    EXPECT_EQ(fresh->OriginRow(), 1);
}

TEST_F(TEmulTViewTest, ScrollRequests) {
    ShowCells(40, 20);
    const int page = view->viewport()->height() / view->LineHeight();
    view->ScrollView(Qt::Vertical, ScrollCode::LineDown);
    EXPECT_EQ(view->OriginRow(), 2);
    view->ScrollView(Qt::Vertical, ScrollCode::PageDown);
    EXPECT_EQ(view->OriginRow(), 2 + page);
    view->ScrollView(Qt::Vertical, ScrollCode::LineUp);
    EXPECT_EQ(view->OriginRow(), 1 + page);
    view->ScrollView(Qt::Vertical, ScrollCode::Track, 7);  // ignored without SmoothScroll
    view->ScrollView(Qt::Vertical, ScrollCode::EndScroll, 7);
    EXPECT_EQ(view->OriginRow(), 1 + page);
    view->ScrollView(Qt::Vertical, ScrollCode::Position, 1000);  // clamped to the range
    EXPECT_EQ(view->OriginRow(), 64 - view->VisibleRows() + 1);
    view->ScrollView(Qt::Vertical, ScrollCode::Top);
    EXPECT_EQ(view->OriginRow(), 1);
    view->ScrollView(Qt::Horizontal, ScrollCode::PageUp);
    EXPECT_EQ(view->OriginColumn(), 1);
    view->ScrollView(Qt::Horizontal, ScrollCode::Bottom);
    EXPECT_EQ(view->OriginColumn(), view->horizontalScrollBar()->maximum() + 1);
    Settle();
    EXPECT_EQ(OnScreen(), Rendered());

    // A dragged thumb moves the view on release, or as it moves with SmoothScroll.
    QScrollBar* bar = view->verticalScrollBar();
    bar->setSliderDown(true);
    bar->setSliderPosition(10);
    Settle();
    EXPECT_EQ(view->OriginRow(), 1);
    bar->setSliderDown(false);
    Settle();
    EXPECT_EQ(view->OriginRow(), 11);
    view->SetSmoothScroll(true);
    bar->setSliderDown(true);
    bar->setSliderPosition(4);
    Settle();
    EXPECT_EQ(view->OriginRow(), 5);
    bar->setSliderDown(false);
}

// The screen is updated by moved pixels and repainted strips; after any mix
// of writes, grid scrolls and view scrolls it must equal a full repaint.
TEST_F(TEmulTViewTest, MovedPixelsMatchAFullRepaint) {
    ShowCells(60, 20);
    std::string text;
    for (int i = 0; i < 120; ++i) {
        text +=
            "row " + std::to_string(i) + " " + std::string(static_cast<std::size_t>(i % 50), '#');
        text += "\r\n";
    }
    std::size_t at = 0;
    int pass = 0;
    while (at < text.size()) {
        const std::size_t n = std::min<std::size_t>(37 + (pass * 53) % 300, text.size() - at);
        view->WriteStr(std::string_view(text).substr(at, n));
        at += n;
        if (pass % 3 == 1) {
            view->ScrollView(Qt::Vertical, ScrollCode::LineUp);
            view->ScrollView(Qt::Horizontal, ScrollCode::LineDown);
        }
        if (pass % 4 == 2) {
            Settle();
        } else {
            QCoreApplication::processEvents();
        }
        ++pass;
    }
    Settle();
    EXPECT_EQ(OnScreen(), Rendered());
    view->ScrollView(Qt::Vertical, ScrollCode::PageUp);
    view->WriteStr("tail\r\n");
    Settle();
    EXPECT_EQ(OnScreen(), Rendered());
}

// Glyphs such as W reach a pixel past their cell: into the next cell, and past the last
// column of a view wider than the grid. Row updates and moved pixels must still show what
// a full repaint shows (history fills the view above the grid).
TEST_F(TEmulTViewTest, GlyphsPastTheirCellsMatchAFullRepaint) {
    view->resize(view->sizeHint() + QSize(40, 10 * view->LineHeight()));
    WriteLines(1, 60);
    Settle();
    ASSERT_LT(view->OriginRow(), 1);
    const std::string row(80, 'W');
    const std::string writes[] = {row + "\r\n\r\nX", "W", "W",
                                  "ab\r\n" + row + "\r\n\r\n" + row + "\r\n" + row};
    for (const std::string& text : writes) {
        view->WriteStr(text);
        Settle();
        EXPECT_EQ(OnScreen(), Rendered()) << "write " << &text - writes;
    }
}

TEST_F(TEmulTViewTest, CaretShapesAndFocus) {
    // A line height that is no multiple of 8 shows whether the underline truncates.
    QFont font = TCustomEmulT::DefaultFont();
    for (int px = 12; px < 60 && (view->LineHeight() < 16 || view->LineHeight() % 8 == 0); ++px) {
        font.setPixelSize(px);
        view->SetFont(font);
    }
    const int height = view->LineHeight();
    ASSERT_GE(height, 16);
    view->SetCaret(tcUnderline);
    EXPECT_EQ(view->CaretHeight(), height / 8);
    view->SetCaret(tcNone);
    EXPECT_EQ(view->CaretHeight(), 0);
    view->SetCaret(tcBlock);
    EXPECT_EQ(view->CaretHeight(), height);

    // Drawn only while the control has the focus.
    view->WriteStr("\r\n");
    Settle();
    EXPECT_EQ(LitPixels(OnScreen(), 1, 2), 0);
    view->activateWindow();
    view->setFocus();
    ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
    Settle();
    ASSERT_TRUE(view->hasFocus());
    const int cell = view->CharWidth() * view->LineHeight();
    EXPECT_EQ(LitPixels(OnScreen(), 1, 2), cell);
    view->SetCaret(tcUnderline);
    Settle();
    EXPECT_EQ(LitPixels(OnScreen(), 1, 2), view->CharWidth() * 2);
    view->WriteStr("ab");
    Settle();
    EXPECT_EQ(LitPixels(OnScreen(), 3, 2), view->CharWidth() * 2);
    EXPECT_EQ(OnScreen(), Rendered());
    view->clearFocus();
    Settle();
    EXPECT_EQ(LitPixels(OnScreen(), 3, 2), 0);
}

TEST_F(TEmulTViewTest, TypedCharactersReachKeyPress) {
    std::vector<int> keys;
    view->OnKeyPress = [&](TCustomEmulT&, char& key) {
        keys.push_back(static_cast<unsigned char>(key));
    };
    int downs = 0;
    view->OnKeyDown = [&](TCustomEmulT&, QKeyEvent&) { ++downs; };
    ShowCells(40, 20);
    view->setFocus();
    QTest::keyClicks(view.get(), "a#");
    QTest::keyClick(view.get(), Qt::Key_Return);
    QTest::keyClick(view.get(), Qt::Key_Backspace);
    QTest::keyClick(view.get(), Qt::Key_Down);
    QTest::keyClick(view.get(), Qt::Key_PageDown);
    EXPECT_EQ(keys, (std::vector<int>{'a', '#', 13, 8}));
    EXPECT_EQ(downs, 6);
    EXPECT_EQ(view->OriginRow(), 1);  // keys do not scroll

    keys.clear();
    QTest::keyClick(view.get(), Qt::Key_Tab);
    EXPECT_TRUE(keys.empty());
    view->setFocus();
    view->SetWantTab(true);
    QTest::keyClick(view.get(), Qt::Key_Tab);
    EXPECT_EQ(keys, (std::vector<int>{9}));
}

TEST_F(TEmulTViewTest, LeftClickTakesTheFocus) {
    QWidget other;
    other.setFocusPolicy(Qt::StrongFocus);
    other.show();
    other.activateWindow();
    other.setFocus();
    Settle();
    view->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
    view->clearFocus();
    QTest::mouseClick(view->viewport(), Qt::RightButton);
    EXPECT_FALSE(view->hasFocus());
    QTest::mouseClick(view->viewport(), Qt::LeftButton);
    EXPECT_TRUE(view->hasFocus());

    view->clearFocus();
    view->SetTabStop(false);
    QTest::mouseClick(view->viewport(), Qt::LeftButton);
    EXPECT_FALSE(view->hasFocus());
}

TEST_F(TEmulTViewTest, ColumnsAndRowsResetTheGrid) {
    view->WriteStr("abc");
    view->SetAutoSize(true);
    view->SetColumns(300);
    EXPECT_EQ(view->Buffer().GetCell(1, 1).Character, 0);
    view->SetRows(1000);
    EXPECT_EQ(view->Rows(), 512);
    EXPECT_EQ(view->size(), view->sizeHint());
    Settle();
    EXPECT_EQ(OnScreen(), Rendered());
}

// Writes of one pass share one paint; RepaintNow paints at once.
TEST_F(TEmulTViewTest, WritesOfOnePassShareOnePaintUnlessRepaintedNow) {
    ShowCells(40, 10);
    long before = view->PaintEvents();
    for (int i = 0; i < 50; ++i) {
        view->WriteStr("0123456789");
        view->WriteStr("\r\n");
    }
    Settle();
    EXPECT_GE(view->PaintEvents() - before, 1);
    EXPECT_LE(view->PaintEvents() - before, 2);

    before = view->PaintEvents();
    WriteLines(1, 30);
    view->RepaintNow();
    EXPECT_EQ(view->PaintEvents(), before + 1);
    EXPECT_EQ(OnScreen(), Rendered());  // before any event-loop pass
    Settle();
    EXPECT_EQ(OnScreen(), Rendered());
}

TEST_F(TEmulTViewTest, UnloggableBytesAreNotShown) {
    view->WriteStr("ok");
    view->SetLogName("/dev/full");
    view->SetLog(true);
    EXPECT_THROW(view->WriteStr("bad"), EInOutError);
    EXPECT_THROW(view->WriteChar('!'), EInOutError);
    EXPECT_THROW(view->SetLog(false), EInOutError);
    EXPECT_FALSE(view->Log());
    Settle();
    EXPECT_EQ(view->CursorColumn(), 3);
    EXPECT_EQ(view->Buffer().GetCell(3, 1).Character, 0);
    EXPECT_GT(LitPixels(OnScreen(), 2, 1), 0);
    EXPECT_EQ(LitPixels(OnScreen(), 3, 1), 0);
}

// Zoom keys and Ctrl+wheel change the font size by a point a step and reach neither the key
// hooks nor the session; the grid keeps its size and the view scrolls over it.
TEST_F(TEmulTViewTest, ZoomChangesTheFontNotTheGrid) {
    std::vector<int> keys;
    view->OnKeyPress = [&](TCustomEmulT&, char& key) { keys.push_back(key); };
    int zooms = 0;
    view->OnZoom = [&](TCustomEmulT&) { ++zooms; };
    ShowCells(80, 24);
    view->setFocus();
    const QFont base = view->Font();
    const int width = view->CharWidth();
    const auto points = [&] { return view->Font().pointSizeF(); };

    QTest::keyClick(view.get(), Qt::Key_Plus, Qt::ControlModifier | Qt::ShiftModifier);
    QTest::keyClick(view.get(), Qt::Key_Equal, Qt::ControlModifier);
    EXPECT_EQ(view->Zoom(), 2);
    EXPECT_DOUBLE_EQ(points(), base.pointSizeF() + 2);
    EXPECT_GT(view->CharWidth(), width);
    EXPECT_EQ(view->Columns(), 80);
    EXPECT_EQ(view->Rows(), 64);
    EXPECT_GT(view->horizontalScrollBar()->maximum(), 0);  // 80 columns no longer fit

    QTest::keyClick(view.get(), Qt::Key_Minus, Qt::ControlModifier);
    EXPECT_EQ(view->Zoom(), 1);
    QTest::keyClick(view.get(), Qt::Key_0, Qt::ControlModifier);
    EXPECT_EQ(view->Font(), base);
    EXPECT_EQ(view->CharWidth(), width);
    QTest::keyClick(view.get(), Qt::Key_0, Qt::ControlModifier);  // already at 0: no OnZoom
    EXPECT_EQ(zooms, 4);

    // Half notches add up; the wheel without Ctrl scrolls and does not zoom.
    Wheel(60, Qt::ControlModifier);
    EXPECT_EQ(view->Zoom(), 0);
    Wheel(60, Qt::ControlModifier);
    EXPECT_EQ(view->Zoom(), 1);
    Wheel(-240, Qt::ControlModifier);
    EXPECT_EQ(view->Zoom(), -1);
    Wheel(-120);
    EXPECT_EQ(view->Zoom(), -1);
    EXPECT_TRUE(keys.empty());

    // Sizes stay between 4 and 96 points; a new session font keeps the zoom.
    view->SetZoom(-1000);
    EXPECT_DOUBLE_EQ(points(), 4);
    view->SetZoom(1000);
    EXPECT_DOUBLE_EQ(points(), 96);
    QFont other = base;
    other.setPointSize(12);
    view->SetZoom(3);
    view->SetSessionFont(other);
    EXPECT_EQ(view->SessionFont(), other);
    EXPECT_DOUBLE_EQ(points(), 15);
}

// Scrolled back into the history, the view stays on its text while lines arrive and says
// so; typing goes back to the grid.
TEST_F(TEmulTViewTest, ScrolledBackTheViewStaysOnItsText) {
    view->resize(view->sizeHint() + QSize(40, 40));
    Settle();
    WriteLines(1, 100);
    Settle();
    QScrollBar* bar = view->verticalScrollBar();
    ASSERT_EQ(view->History().Count(), 77);      // 101 rows written, 24 on the grid
    const int above = view->VisibleRows() - 24;  // history rows shown above the grid
    ASSERT_GT(above, 0);
    EXPECT_EQ(bar->maximum(), 77 - above);
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_EQ(view->OriginRow(), 1 - above);
    EXPECT_FALSE(view->ScrolledBack());
    auto* marker = view->viewport()->findChild<QLabel*>("newOutputBelow");
    ASSERT_NE(marker, nullptr);

    view->setFocus();
    QTest::keyClick(view.get(), Qt::Key_PageUp, Qt::ShiftModifier);
    EXPECT_TRUE(view->ScrolledBack());
    EXPECT_EQ(TopText(), "line " + std::to_string(78 - above - view->VisibleRows()));
    Wheel(120);
    const std::string top = "line " + std::to_string(75 - above - view->VisibleRows());
    EXPECT_EQ(TopText(), top);
    Settle();
    EXPECT_EQ(OnScreen(), Rendered());

    WriteLines(101, 105);
    Settle();
    EXPECT_EQ(TopText(), top);
    EXPECT_TRUE(marker->isVisible());
    EXPECT_EQ(OnScreen(), Rendered());

    QTest::keyClick(view.get(), Qt::Key_A);
    EXPECT_FALSE(view->ScrolledBack());
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_FALSE(marker->isVisible());
    Settle();
    EXPECT_EQ(OnScreen(), Rendered());

    view->SetHistoryLines(0);
    EXPECT_EQ(bar->maximum(), 0);
    EXPECT_EQ(view->OriginRow(), 1);
}

TEST_F(TEmulTViewTest, DragSelectsAndCopiesWhileCtrlCStillTypes) {
    std::vector<int> keys;
    view->OnKeyPress = [&](TCustomEmulT&, char& key) {
        keys.push_back(static_cast<unsigned char>(key));
    };
    view->resize(view->sizeHint() + QSize(40, 40));
    view->WriteStr("alpha beta   \r\ngamma 198.18.0.7");
    Settle();
    QWidget* vp = view->viewport();
    QTest::mousePress(vp, Qt::LeftButton, {}, CellCentre(3, 1));
    EXPECT_TRUE(view->hasFocus()) << "the first press still gives the focus";
    QTest::mouseMove(vp, CellCentre(4, 2));
    QTest::mouseRelease(vp, Qt::LeftButton, {}, CellCentre(4, 2));
    EXPECT_EQ(view->SelectedText(), "pha beta\ngamm");
    Settle();
    EXPECT_EQ(OnScreen(), Rendered());
    EXPECT_GT(LitPixels(OnScreen(), 12, 1), 0) << "selected blanks show";

    // As the desktop sends them, both with the text ^C.
    const auto ctrlC = [&](Qt::KeyboardModifiers mods) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_C, mods, QString(QChar(3)));
        QCoreApplication::sendEvent(view.get(), &press);
    };
    QGuiApplication::clipboard()->clear();
    ctrlC(Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "pha beta\ngamm");
    EXPECT_TRUE(keys.empty());
    ctrlC(Qt::ControlModifier);
    EXPECT_EQ(keys, (std::vector<int>{3}));

    // The context menu's Paste hands the clipboard's text to the hook.
    QStringList pasted;
    view->OnPasteText = [&](const QString& text) { pasted << text; };
    QTimer::singleShot(0, [] {
        for (QAction* action : QApplication::activePopupWidget()->actions()) {
            if (action->text() == "&Paste") {
                action->trigger();
            }
        }
        QApplication::activePopupWidget()->close();
    });
    QContextMenuEvent menu(QContextMenuEvent::Mouse, CellCentre(2, 2),
                           vp->mapToGlobal(CellCentre(2, 2)));
    QCoreApplication::sendEvent(vp, &menu);
    EXPECT_EQ(pasted, QStringList{"pha beta\ngamm"});

    QTest::mouseDClick(vp, Qt::LeftButton, {}, CellCentre(9, 2));
    EXPECT_EQ(view->SelectedText(), "198.18.0.7");
    QTest::mousePress(vp, Qt::LeftButton, {}, CellCentre(9, 2));  // the third click
    EXPECT_EQ(view->SelectedText(), "gamma 198.18.0.7");
    QTest::mouseRelease(vp, Qt::LeftButton, {}, CellCentre(9, 2));
}

TEST_F(TEmulTViewTest, FindBarSelectsAndShowsMatchesInTheHistory) {
    view->resize(view->sizeHint() + QSize(40, 40));
    for (int i = 1; i <= 60; ++i) {
        view->WriteStr((i == 7 || i == 50 ? "serial SN-" : "line ") + std::to_string(i) + "\r\n");
    }
    view->setFocus();
    QTest::keyClick(view.get(), Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
    auto* text = view->findChild<QLineEdit*>("findText");
    ASSERT_NE(text, nullptr);
    ASSERT_TRUE(text->hasFocus());
    QTest::keyClicks(text, "Sn-");
    // From the view's top row (line 50 is on the grid) the first match on is line 50's.
    EXPECT_EQ(view->SelectedText(), "SN-");
    EXPECT_EQ(view->Matches().size(), 2u);
    EXPECT_EQ(view->Selection().From().Line, view->Selection().To().Line);
    QTest::keyClick(text, Qt::Key_Return);  // the next one is back at the start
    EXPECT_EQ(view->Selection().From(), (EmulTPos{6, 8}));
    EXPECT_TRUE(view->ScrolledBack()) << "line 7 is in the history, brought into view";
    EXPECT_GT(view->OriginRow() + view->History().Count(), 0);
    EXPECT_LE(view->OriginRow() + view->History().Count() - 1, 6);
    view->findChild<QToolButton*>("findPrevious")->click();
    EXPECT_EQ(view->Selection().From().Line, 49);
    Settle();
    EXPECT_EQ(OnScreen(), Rendered());

    view->findChild<QCheckBox*>("findMatchCase")->setChecked(true);
    EXPECT_TRUE(view->Matches().empty());
    EXPECT_TRUE(view->SelectedText().empty());
    QTest::keyClick(text, Qt::Key_Escape);
    EXPECT_FALSE(text->isVisible());
    EXPECT_TRUE(view->hasFocus());
}
