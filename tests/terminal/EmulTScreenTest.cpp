#include <gtest/gtest.h>

#include <string>

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

TEST_F(EmulTScreenTest, LastColumnWithoutWrapOverwrites) {
    screen.WriteStr(std::string(80, 'x') + "y");
    EXPECT_EQ(RowText(1), std::string(79, 'x') + "y");
    EXPECT_EQ(RowText(2, 1, 1), ".");
    ExpectCursor(80, 1);
}

TEST_F(EmulTScreenTest, LastColumnWithWrapMovesToNextRow) {
    screen.WrapLines = true;
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

TEST_F(EmulTScreenTest, ControlBytesAreDroppedAndEscapeSequencesShown) {
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
}

TEST_F(EmulTScreenTest, HighBytesAndDeleteArePrinted) {
    screen.WriteStr("\x7f\x80\xe4\xff");
    EXPECT_EQ(screen.Buffer().GetCell(1, 1).Character, 0x7F);
    EXPECT_EQ(screen.Buffer().GetCell(2, 1).Character, 0x80);
    EXPECT_EQ(screen.Buffer().GetCell(3, 1).Character, 0xE4);
    EXPECT_EQ(screen.Buffer().GetCell(4, 1).Character, 0xFF);
    ExpectCursor(5, 1);
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

TEST_F(EmulTScreenTest, ShrinkingBringsTheCursorIntoTheGrid) {
    screen.PlaceCursor(70, 20);
    screen.SetColumns(10);
    screen.SetRows(5);
    ExpectCursor(10, 5);
    screen.WriteStr("Q\n");
    EXPECT_EQ(RowText(4, 10, 10), "Q");
}

TEST_F(EmulTScreenTest, PlaceCursorClamps) {
    screen.PlaceCursor(0, -4);
    ExpectCursor(1, 1);
    screen.PlaceCursor(500, 500);
    ExpectCursor(80, 24);
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
