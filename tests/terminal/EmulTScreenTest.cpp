#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "terminal/EmulTFind.h"
#include "terminal/EmulTScreen.h"

using namespace vandrel::terminal;

namespace {

class FakeView : public EmulTScreenHost {
public:
    int VisibleRows() const override { return visibleRows; }
    void ViewLineDown() override { ++lineDowns; }

    int visibleRows = 0;
    int lineDowns = 0;
};

class EmulTScreenTest : public ::testing::Test {
protected:
    std::string RowText(int row, int from = 1, int to = 0) const {
        std::string s;
        const int last = to == 0 ? screen.Columns() : to;
        for (int col = from; col <= last; ++col) {
            const auto c = screen.Buffer().GetCell(col, row).Character;
            s += c == 0 ? '.' : static_cast<char>(c);
        }
        return s;
    }
    void ExpectCursor(int col, int row) const {
        EXPECT_EQ(screen.CursorColumn(), col);
        EXPECT_EQ(screen.CursorRow(), row);
    }

    FakeView view;
    EmulTScreen screen{&view};
};

}  // namespace

TEST_F(EmulTScreenTest, CarriageReturnAndLineFeed) {
    screen.WriteStr("A\r\nB");
    EXPECT_EQ(RowText(1, 1, 2), "A.");
    EXPECT_EQ(RowText(2, 1, 2), "B.");
    ExpectCursor(2, 2);

    // Line feed alone keeps the column; form feed is a line feed, not a clear.
    screen.WriteStr("\nC\fD");
    EXPECT_EQ(RowText(3, 1, 3), ".C.");
    EXPECT_EQ(RowText(4, 1, 4), "..D.");
    EXPECT_EQ(RowText(1, 1, 1), "A");
    ExpectCursor(4, 4);
}

// Without WrapLines the last column is overwritten; with it the text goes on on the next row.
TEST_F(EmulTScreenTest, LastColumn) {
    screen.WriteStr(std::string(80, 'x') + "y");
    EXPECT_EQ(RowText(1), std::string(79, 'x') + "y");
    EXPECT_EQ(RowText(2, 1, 1), ".");
    ExpectCursor(80, 1);

    screen.WrapLines = true;
    screen.PlaceCursor(1, 1);
    screen.WriteStr(std::string(80, 'x') + "y");
    EXPECT_EQ(RowText(1), std::string(80, 'x'));
    EXPECT_EQ(RowText(2, 1, 2), "y.");
    ExpectCursor(2, 2);
    EXPECT_EQ(view.lineDowns, 0);  // wrapping never moves the view

    // On the last row the grid scrolls first.
    screen.PlaceCursor(1, 24);
    screen.WriteStr(std::string(80, 'z') + "w");
    EXPECT_EQ(RowText(23), std::string(80, 'z'));
    EXPECT_EQ(RowText(24, 1, 2), "w.");
    EXPECT_EQ(RowText(1, 1, 1), "y");
    ExpectCursor(2, 24);
}

TEST_F(EmulTScreenTest, LineFeedOnLastRowScrollsAndKeepsColumn) {
    screen.WriteStr("top");
    screen.PlaceCursor(5, 24);
    screen.WriteStr("E\n");
    ExpectCursor(6, 24);
    EXPECT_EQ(RowText(23, 5, 5), "E");
    EXPECT_EQ(RowText(24), std::string(80, '.'));
    EXPECT_EQ(RowText(1, 1, 3), "...");
    screen.WriteStr("F");
    EXPECT_EQ(RowText(24, 6, 6), "F");
}

TEST_F(EmulTScreenTest, TabStops) {
    screen.WriteStr("\t");
    ExpectCursor(9, 1);
    screen.WriteStr("\t");
    ExpectCursor(17, 1);
    for (int col = 73; col <= 80; ++col) {
        screen.PlaceCursor(col, 1);
        screen.WriteStr("\t");
        ExpectCursor(col, 1);
    }
    screen.SetColumns(2);
    screen.PlaceCursor(1, 1);
    screen.WriteStr("\t");
    ExpectCursor(1, 1);
}

TEST_F(EmulTScreenTest, BackspaceMovesLeftWithoutErasing) {
    screen.WriteStr("\b");
    ExpectCursor(1, 1);
    screen.WriteStr("ab\b");
    ExpectCursor(2, 1);
    EXPECT_EQ(RowText(1, 1, 3), "ab.");
    screen.WriteStr("X");
    EXPECT_EQ(RowText(1, 1, 3), "aX.");
}

TEST_F(EmulTScreenTest, ControlBytesAreDroppedOtherBytesPrinted) {
    std::string dropped;
    for (int b = 0; b < 32; ++b) {
        if (b != 8 && b != 9 && b != 10 && b != 12 && b != 13) {
            dropped += static_cast<char>(b);
        }
    }
    screen.PlaceCursor(3, 3);
    screen.WriteStr(dropped);
    ExpectCursor(3, 3);
    EXPECT_FALSE(screen.Buffer().HasChanges());

    screen.WriteStr("\x1b[2J");
    EXPECT_EQ(RowText(3, 1, 6), "..[2J.");
    ExpectCursor(6, 3);

    // Delete and the high bytes are printed as they are.
    screen.WriteStr("\x7f\x80\xe4\xff");
    EXPECT_EQ(RowText(3, 6, 9), "\x7f\x80\xe4\xff");
    ExpectCursor(10, 3);
}

TEST_F(EmulTScreenTest, SizesAreClampedAndSameValueKeepsContent) {
    screen.WriteStr("keep");
    EXPECT_FALSE(screen.SetColumns(80));
    EXPECT_FALSE(screen.SetRows(24));
    EXPECT_EQ(RowText(1, 1, 4), "keep");

    EXPECT_TRUE(screen.SetColumns(300));
    EXPECT_EQ(screen.Columns(), 256);
    EXPECT_EQ(RowText(1, 1, 4), "....");
    screen.SetColumns(1);
    EXPECT_EQ(screen.Columns(), 2);
    screen.SetRows(1000);
    EXPECT_EQ(screen.Rows(), 512);
    screen.SetRows(-3);
    EXPECT_EQ(screen.Rows(), 2);
}

TEST_F(EmulTScreenTest, CursorStaysInsideTheGrid) {
    screen.PlaceCursor(0, -4);
    ExpectCursor(1, 1);
    screen.PlaceCursor(500, 500);
    ExpectCursor(80, 24);

    // Shrinking brings it in too.
    screen.PlaceCursor(70, 20);
    screen.SetColumns(10);
    screen.SetRows(5);
    ExpectCursor(10, 5);
    screen.WriteStr("Q\n");
    EXPECT_EQ(RowText(4, 10, 10), "Q");
}

TEST_F(EmulTScreenTest, LineFeedMovesTheViewPastTheFirstWindowFull) {
    view.visibleRows = 10;
    screen.SetRows(64);
    for (int i = 0; i < 8; ++i) {
        screen.WriteStr("\n");  // rows 2..9: row + 1 <= 10
    }
    EXPECT_EQ(view.lineDowns, 0);
    screen.WriteStr("\n");  // row 10: 11 > 10
    EXPECT_EQ(view.lineDowns, 1);
    screen.PlaceCursor(1, 63);
    screen.WriteStr("\n\n");  // to row 64, then a grid scroll
    EXPECT_EQ(view.lineDowns, 2);
    ExpectCursor(1, 64);
}

TEST_F(EmulTScreenTest, CellsKeepTheColoursOfTheirMoment) {
    screen.WriteStr("a");
    screen.FontColor = 0x0000FF;
    screen.Color = 0x00FF00;
    screen.WriteStr("b");
    EXPECT_EQ(screen.Buffer().GetCell(1, 1).Foreground, 0xFFFFFFu);
    EXPECT_EQ(screen.Buffer().GetCell(1, 1).Background, 0x000000u);
    EXPECT_EQ(screen.Buffer().GetCell(2, 1).Foreground, 0x0000FFu);
    EXPECT_EQ(screen.Buffer().GetCell(2, 1).Background, 0x00FF00u);

    screen.Reverse = true;
    EXPECT_EQ(screen.MakeCell('r').Foreground, 0x00FF00u);
    EXPECT_EQ(screen.MakeCell('r').Background, 0x0000FFu);
    screen.Highlight = true;
    EXPECT_EQ(screen.MakeCell('h').Foreground, 0xA6A6A6u);
    screen.Underline = true;
    EXPECT_TRUE(screen.MakeCell('u').Underline);
}

TEST_F(EmulTScreenTest, ClearEmptiesAndHomes) {
    screen.WriteStr("abc\r\n\tdef");
    screen.Buffer().SetTabStop(9, 0);
    screen.Clear();
    ExpectCursor(1, 1);
    EXPECT_EQ(RowText(1, 1, 3), "...");
    EXPECT_EQ(screen.Buffer().NextTabStop(2), 9);
}

// Whole blocks are printed a row at a time; the result must be exactly that
// of interpreting the same bytes one by one.
TEST(EmulTScreenBlocks, BlockWritesMatchByteByByte) {
    std::uint32_t seed = 12345;
    const auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) & 0x7FFF;
    };
    for (int round = 0; round < 40; ++round) {
        EmulTScreen blocks;
        EmulTScreen bytes;
        for (EmulTScreen* s : {&blocks, &bytes}) {
            s->SetColumns(2 + round % 9);
            s->SetRows(2 + round % 4);
            s->WrapLines = round % 2 == 0;
        }
        std::string text;
        for (int i = 0; i < 400; ++i) {
            const auto r = next() % 100;
            text += r < 80   ? static_cast<char>('A' + r % 26)
                    : r < 85 ? '\r'
                    : r < 90 ? '\n'
                    : r < 93 ? '\t'
                    : r < 96 ? '\b'
                             : static_cast<char>(next() % 256);
        }
        blocks.WriteStr(text);
        for (const char c : text) {
            bytes.ProcessChar(static_cast<std::uint8_t>(c));
        }
        ASSERT_EQ(blocks.CursorColumn(), bytes.CursorColumn()) << "round " << round;
        ASSERT_EQ(blocks.CursorRow(), bytes.CursorRow()) << "round " << round;
        for (int row = 1; row <= bytes.Rows(); ++row) {
            for (int col = 1; col <= bytes.Columns(); ++col) {
                ASSERT_EQ(blocks.Buffer().GetCell(col, row), bytes.Buffer().GetCell(col, row))
                    << "round " << round << " cell " << col << "," << row;
            }
        }
    }
}

// --- history and selection ---------------------------------------------------

namespace {

std::string trimmed(const EmulTScreen& screen, std::int64_t line) {
    std::string s = screen.LineText(line);
    return s.erase(s.find_last_not_of(' ') + 1);
}

// The grid's rows, blanks at the end cut, joined with '|'.
std::string RowsOf(const EmulTScreen& screen) {
    std::string rows;
    for (int row = 1; row <= screen.Rows(); ++row) {
        rows += (row > 1 ? "|" : "") + trimmed(screen, screen.GridLine(row));
    }
    return rows;
}

// A 10 x 3 screen; Lines(a, b) prints "La" .. "Lb" on rows of their own, so line n of the
// text is "Ln".
class HistoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        screen.SetColumns(10);
        screen.SetRows(3);
    }
    void Lines(int from, int to) {
        for (int i = from; i <= to; ++i) {
            screen.WriteStr((i == 0 ? "" : "\r\n") + ("L" + std::to_string(i)));
        }
    }
    std::string Trimmed(std::int64_t line) const { return trimmed(screen, line); }
    EmulTScreen screen;
};

}  // namespace

TEST_F(HistoryTest, ScrolledRowsAreKeptUpToTheCapacity) {
    screen.History().SetCapacity(4);
    Lines(0, 9);  // L0..L6 scrolled off, L7..L9 on the grid
    EXPECT_EQ(screen.History().Pushed(), 7);
    EXPECT_EQ(screen.History().Count(), 4);
    EXPECT_EQ(screen.FirstLine(), 3);
    EXPECT_EQ(screen.LastLine(), 9);
    for (std::int64_t line = 3; line <= 9; ++line) {
        EXPECT_EQ(Trimmed(line), "L" + std::to_string(line));
    }
    EXPECT_EQ(Trimmed(2), "") << "dropped";
    EXPECT_EQ(screen.AllText(), "L3\nL4\nL5\nL6\nL7\nL8\nL9");

    screen.History().SetCapacity(2);
    EXPECT_EQ(screen.FirstLine(), 5);
    EXPECT_EQ(Trimmed(5), "L5");
    Lines(10, 10);
    EXPECT_EQ(Trimmed(6), "L6");
    EXPECT_EQ(Trimmed(7), "L7");

    screen.History().SetCapacity(0);
    Lines(11, 12);
    EXPECT_EQ(screen.History().Count(), 0);
    EXPECT_EQ(screen.FirstLine(), screen.GridLine(1));
    EXPECT_EQ(screen.AllText(), "L10\nL11\nL12");
    // The grid itself is as it would be without a history.
    EXPECT_EQ(RowsOf(screen), "L10|L11|L12");
}

// Lines of every length from empty to full, in two colours, through a small ring: the
// arena wraps and grows while lines are dropped from its front.
TEST_F(HistoryTest, KeptLinesReadBackCellForCell) {
    screen.History().SetCapacity(7);
    std::vector<std::vector<EmulTCell>> rows;
    screen.WriteStr("\n\n");
    for (int i = 0; i < 300; ++i) {
        screen.FontColor = (i % 3 == 0) ? 0x00FF00 : 0xFFFFFF;
        std::string text((i * 7) % 11, static_cast<char>('a' + i % 26));
        if (text.size() > 4) {
            text[2] = ' ';
            text[3] = '\t';  // a tab leaves an empty cell behind
        }
        screen.WriteStr(text);
        screen.Underline = i % 5 == 0;
        screen.WriteStr("|\r");
        screen.Underline = false;
        std::vector<EmulTCell> row(10);
        for (int col = 1; col <= 10; ++col) {
            row[static_cast<std::size_t>(col - 1)] = screen.Buffer().GetCell(col, 3);
        }
        rows.push_back(row);
        screen.WriteStr("\n");
    }
    ASSERT_EQ(screen.History().Count(), 7);
    for (int k = 0; k < 7; ++k) {
        // The last two rows written are still on the grid.
        const std::size_t i = rows.size() - 3 - static_cast<std::size_t>(k);
        std::vector<EmulTCell> kept(10);
        screen.ReadLine(screen.GridLine(1) - 1 - k, kept.data(), 10);
        // An empty cell is never drawn: only its emptiness has to survive.
        for (std::size_t c = 0; c < kept.size(); ++c) {
            if (kept[c].Character == 0 && rows[i][c].Character == 0) {
                kept[c] = rows[i][c];
            }
        }
        EXPECT_EQ(kept, rows[i]) << "line " << i;
    }
    EXPECT_LT(screen.History().ReservedBytes(), 64u * 1024);
}

// Lines of changing length wrap the arena, so that new lines are placed up to the oldest
// one still kept; then a run of full lines needs more room than it has and it grows.
TEST_F(HistoryTest, LinesKeptWhileTheArenaWrapsAndGrowsReadBack) {
    screen.SetColumns(EmulTScreen::kMaxColumns);
    screen.History().SetCapacity(70);
    std::vector<std::string> written;
    for (int i = 0; i < 600; ++i) {
        const bool full = i >= 330 && i < 430;
        written.emplace_back(full ? 256 : static_cast<std::size_t>(i * 37 % 100), 'a' + i % 26);
        screen.WriteStr((i == 0 ? "" : "\r\n") + written.back());
        const std::int64_t oldest = screen.FirstLine();
        ASSERT_EQ(Trimmed(oldest), written[static_cast<std::size_t>(oldest)]) << i;
    }
    for (std::int64_t line = screen.FirstLine(); line <= screen.LastLine(); ++line) {
        EXPECT_EQ(Trimmed(line), written[static_cast<std::size_t>(line)]) << line;
    }
}

TEST_F(HistoryTest, WrappedTextAndClearedScreensAreKept) {
    screen.WrapLines = true;
    screen.WriteStr("0123456789abcdefghijABCDEFGHIJxy");
    EXPECT_EQ(screen.History().Count(), 1);
    EXPECT_EQ(screen.AllText(), "0123456789\nabcdefghij\nABCDEFGHIJ\nxy");
    screen.Clear();
    EXPECT_EQ(RowsOf(screen), "||");
    EXPECT_EQ(screen.AllText(), "0123456789\nabcdefghij\nABCDEFGHIJ\nxy");
    screen.Clear();  // an empty grid adds nothing
    EXPECT_EQ(screen.History().Count(), 4);
}

TEST_F(HistoryTest, SelectionText) {
    screen.SetColumns(20);
    Lines(0, 2);
    screen.WriteStr("\r\nip 198.18.0.7/24  \r\n(sn:AB-12) x");
    // Lines 0..1 are history now: "L0", "L1"; grid: "L2", "ip 198.1...", "(sn:AB-12)".
    ASSERT_EQ(screen.GridLine(1), 2);
    using U = EmulTSelectUnit;
    struct Case {
        const char* what;
        U unit;
        EmulTPos anchor;
        EmulTPos extent;
        const char* text;
    } const cases[] = {
        {"a click selects nothing", U::Cell, {3, 4}, {3, 4}, ""},
        {"cells inside a row", U::Cell, {3, 4}, {3, 7}, "198."},
        {"dragged backwards", U::Cell, {3, 7}, {3, 4}, "198."},
        {"across the history boundary", U::Cell, {0, 2}, {2, 1}, "0\nL1\nL"},
        {"blanks at line ends cut", U::Cell, {3, 13}, {4, 1}, "7/24\n("},
        {"past the last line", U::Cell, {4, 9}, {9, 1}, "2) x"},
        {"a word with dots and a slash", U::Word, {3, 6}, {3, 6}, "198.18.0.7/24"},
        {"delimiters end a word", U::Word, {4, 5}, {4, 5}, "sn:AB-12"},
        {"a delimiter alone", U::Word, {4, 1}, {4, 1}, "("},
        {"words dragged over", U::Word, {3, 1}, {3, 5}, "ip 198.18.0.7/24"},
        {"a line", U::Line, {4, 3}, {4, 3}, "(sn:AB-12) x"},
        {"lines from the history", U::Line, {1, 9}, {2, 1}, "L1\nL2"},
    };
    for (const Case& c : cases) {
        EmulTSelection selection;
        selection.Start(screen, c.anchor, c.unit);
        selection.Extend(screen, c.extent);
        EXPECT_EQ(selection.Text(screen), c.text) << c.what;
        EXPECT_EQ(selection.Empty(), std::string(c.text).empty()) << c.what;
    }
}

TEST_F(HistoryTest, SelectionStaysOnItsTextAsLinesScrollIn) {
    Lines(0, 2);
    EmulTSelection selection;
    selection.Start(screen, {screen.GridLine(2), 1}, EmulTSelectUnit::Word);
    ASSERT_EQ(selection.Text(screen), "L1");
    Lines(3, 4);
    EXPECT_EQ(selection.Text(screen), "L1");
    EXPECT_TRUE(selection.Contains(1, 2));
    EXPECT_FALSE(selection.Contains(screen.GridLine(2), 1));
    screen.History().SetCapacity(1);
    Lines(5, 5);  // its line is gone
    EXPECT_EQ(selection.Text(screen), "");
}

TEST_F(HistoryTest, FindAllInHistoryAndGrid) {
    screen.SetColumns(12);
    screen.WriteStr(
        "aaa Port\r\nport PORT\r\nsp\xC9"
        "cial\r\nx");  // line 0 is history now
    ASSERT_EQ(screen.FirstLine(), 0);
    const auto at = [](std::int64_t line, int col, int n) { return EmulTMatch{{line, col}, n}; };
    struct Case {
        const char* needle;
        bool matchCase;
        std::vector<EmulTMatch> found;
    } const cases[] = {
        {"port", true, {at(1, 1, 4)}},
        {"port", false, {at(0, 5, 4), at(1, 1, 4), at(1, 6, 4)}},
        {"aa", true, {at(0, 1, 2)}},  // no overlaps
        {"\xE9"
         "c",
         false,
         {at(2, 3, 2)}},         // Latin-1 letters fold too
        {"t\nport", false, {}},  // never across lines
        {"", false, {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FindAll(screen, c.needle, c.matchCase), c.found) << c.needle;
    }
}
