#include <gtest/gtest.h>

#include <vector>

#include "terminal/TEmulTBuffer.h"

using namespace vandrel::terminal;

namespace {

EmulTCell Ch(char c) {
    EmulTCell cell;
    cell.Character = static_cast<std::uint8_t>(c);
    cell.Foreground = 0xFFFFFF;
    return cell;
}

// Writes one marker character into column 1 of every row: 'a', 'b', ...
void MarkRows(TEmulTBuffer& b) {
    for (int row = 1; row <= b.Rows(); ++row) {
        b.PutCell(1, row, Ch(static_cast<char>('a' + row - 1)));
    }
}

std::string Column1(const TEmulTBuffer& b) {
    std::string s;
    for (int row = 1; row <= b.Rows(); ++row) {
        const auto c = b.GetCell(1, row).Character;
        s += c == 0 ? '.' : static_cast<char>(c);
    }
    return s;
}

}  // namespace

TEST(TEmulTBuffer, TabStopsEveryEightColumnsFromOne) {
    TEmulTBuffer b(80, 24);
    for (int col = 1; col <= 80; ++col) {
        EXPECT_EQ(b.GetTabStop(col), (col - 1) % 8 == 0 ? 1 : 0) << col;
    }
    EXPECT_EQ(b.NextTabStop(2), 9);
    EXPECT_EQ(b.NextTabStop(73), 73);
    for (int col = 74; col <= 80; ++col) {
        EXPECT_EQ(b.NextTabStop(col), 0) << col;
    }
    EXPECT_EQ(b.NextTabStop(81), 0);

    TEmulTBuffer narrow(2, 2);
    EXPECT_EQ(narrow.GetTabStop(1), 1);
    EXPECT_EQ(narrow.GetTabStop(2), 0);
    EXPECT_EQ(narrow.NextTabStop(1), 1);
    EXPECT_EQ(narrow.NextTabStop(2), 0);
}

TEST(TEmulTBuffer, AllocateForgetsContentAndTabStops) {
    TEmulTBuffer b(80, 24);
    b.PutCell(5, 5, Ch('x'));
    b.SetTabStop(5, 1);
    b.SetTabStop(9, 0);
    b.Allocate(40, 10);
    EXPECT_EQ(b.Columns(), 40);
    EXPECT_EQ(b.Rows(), 10);
    EXPECT_EQ(b.GetCell(5, 5), EmulTCell{});
    EXPECT_EQ(b.NextTabStop(2), 9);
    EXPECT_EQ(b.NextTabStop(34), 0);
}

TEST(TEmulTBuffer, OutOfRangePositionsAreHarmless) {
    TEmulTBuffer b(2, 2);
    b.PutCell(0, 1, Ch('x'));
    b.PutCell(3, 1, Ch('x'));
    b.PutCell(1, 3, Ch('x'));
    b.PutCell(-5, -5, Ch('x'));
    EXPECT_EQ(Column1(b), "..");
    EXPECT_EQ(b.GetCell(1, 3), EmulTCell{});
    EXPECT_EQ(b.GetCell(3, 1), EmulTCell{});
    EXPECT_FALSE(b.HasChanges());
}

TEST(TEmulTBuffer, ScrollOnTwoRows) {
    TEmulTBuffer b(2, 2);
    MarkRows(b);
    b.ScrollUp();
    EXPECT_EQ(Column1(b), "b.");
    MarkRows(b);
    b.ScrollDown();
    EXPECT_EQ(Column1(b), ".a");
}

// The first-row offset rotates; every sequence of scrolls must still read as
// if the whole block had moved.
TEST(TEmulTBuffer, RotatedRowsReadInOrder) {
    TEmulTBuffer b(3, 5);
    MarkRows(b);
    for (int i = 0; i < 7; ++i) {
        b.ScrollUp();
        b.PutCell(1, 5, Ch(static_cast<char>('f' + i)));
    }
    EXPECT_EQ(Column1(b), "hijkl");
    b.ScrollDown();
    b.ScrollDown();
    EXPECT_EQ(Column1(b), "..hij");
    b.PutCell(3, 1, Ch('z'));
    EXPECT_EQ(b.GetCell(3, 1).Character, 'z');
    EXPECT_EQ(b.GetCell(3, 2).Character, 0);
    b.ScrollUp();
    EXPECT_EQ(Column1(b), ".hij.");
    EXPECT_EQ(b.GetCell(3, 5).Character, 0);
    EXPECT_EQ(b.GetCell(3, 1).Character, 0);  // 'z' scrolled out at the top
}

TEST(TEmulTBuffer, ChangesFollowTheRowsThroughScrolls) {
    TEmulTBuffer b(10, 4);
    b.PutCell(3, 2, Ch('x'));
    b.PutCell(7, 2, Ch('y'));
    b.PutCell(5, 4, Ch('z'));
    b.ScrollUp();
    EXPECT_TRUE(b.HasChanges());
    EXPECT_EQ(b.PendingScroll(), 1);
    std::vector<TEmulTBuffer::Span> spans;
    const int scrolled = b.TakeChanges([&](const TEmulTBuffer::Span& s) { spans.push_back(s); });
    EXPECT_EQ(scrolled, 1);
    ASSERT_EQ(spans.size(), 2u);
    EXPECT_EQ(spans[0].Row, 1);
    EXPECT_EQ(spans[0].First, 3);
    EXPECT_EQ(spans[0].Last, 7);
    EXPECT_EQ(spans[1].Row, 3);
    EXPECT_EQ(spans[1].First, 5);
    EXPECT_FALSE(b.HasChanges());
    b.TakeChanges([&](const TEmulTBuffer::Span&) { ADD_FAILURE() << "nothing changed"; });

    // A row written and then scrolled out leaves no stale change behind.
    b.PutCell(1, 1, Ch('q'));
    b.ScrollUp();
    b.TakeChanges([&](const TEmulTBuffer::Span& s) { ADD_FAILURE() << "row " << s.Row; });
}

TEST(TEmulTBuffer, PutRunStopsAtTheLastColumn) {
    TEmulTBuffer b(5, 2);
    const std::uint8_t chars[] = {'v', 'w', 'x', 'y', 'z'};
    b.PutRun(3, 2, Ch(0), chars, 5);
    EXPECT_EQ(b.GetCell(3, 2).Character, 'v');
    EXPECT_EQ(b.GetCell(5, 2).Character, 'x');
    EXPECT_EQ(b.GetCell(1, 1).Character, 0);  // nothing spilled into the next row
    std::vector<TEmulTBuffer::Span> spans;
    b.TakeChanges([&](const TEmulTBuffer::Span& s) { spans.push_back(s); });
    ASSERT_EQ(spans.size(), 1u);
    EXPECT_EQ(spans[0].First, 3);
    EXPECT_EQ(spans[0].Last, 5);
}

// Every cell keeps its own colours, however many different ones were used.
TEST(TEmulTBuffer, CellsKeepTheirColoursThroughManyStyles) {
    TEmulTBuffer b(4, 2);
    EmulTCell first = Ch('f');
    first.Foreground = 0x123456;
    first.Background = 0x654321;
    first.Underline = true;
    b.PutCell(4, 2, first);
    for (EmulTColor c = 1; c < 3000; ++c) {
        EmulTCell cell = Ch('x');
        cell.Foreground = c;
        cell.Background = c * 7;
        b.PutCell(1 + static_cast<int>(c % 3), 1, cell);
    }
    EXPECT_EQ(b.GetCell(4, 2), first);
    EXPECT_EQ(b.GetCell(1, 1).Foreground, 2999u % 3 == 0 ? 2999u : 2997u);
    EXPECT_EQ(b.GetCell(3, 1).Background, 2999u * 7);
    EXPECT_EQ(b.GetCell(4, 1), EmulTCell{});
}
