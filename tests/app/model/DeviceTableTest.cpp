#include "app/model/DeviceTable.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

using namespace vandrel::app;

namespace {

std::string Reply(const std::vector<std::string>& fields) {
    std::string bytes(1, '\x02');
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) {
            bytes += '\x1F';
        }
        bytes += fields[i];
    }
    return bytes + '\x04';
}

ReplyFrame Check(const std::string& bytes) {
    return CheckReplyFrame(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

// Feeds a datagram the way the main window does.
void Receive(StringGrid& grid, const std::string& bytes) {
    const ReplyFrame frame = Check(bytes);
    if (frame.Kind == ReplyKind::Accept) {
        AddDeviceRow(grid, frame.Payload);
    }
}

std::vector<std::string> Row(const StringGrid& grid, int row) {
    std::vector<std::string> cells;
    for (int c = 0; c < DeviceColumns; ++c) {
        cells.push_back(grid.Cell(c, row));
    }
    return cells;
}

std::vector<std::string> Column(const StringGrid& grid, int col) {
    std::vector<std::string> cells;
    for (int r = 1; r < grid.RowCount(); ++r) {
        cells.push_back(grid.Cell(col, r));
    }
    return cells;
}

using Cells = std::vector<std::string>;

}  // namespace

TEST(ReplyFrame, SizeAndMarkerRules) {
    EXPECT_EQ(Check("").Kind, ReplyKind::Ignore);
    EXPECT_EQ(Check("\x05").Kind, ReplyKind::Ignore);   // our own request looped back
    EXPECT_EQ(Check("\x02").Kind, ReplyKind::Invalid);  // its last byte is its first
    EXPECT_EQ(Check("\x02xyz").Kind, ReplyKind::Invalid);
    EXPECT_EQ(Check("x\x02\x04").Kind, ReplyKind::Ignore);

    const ReplyFrame empty = Check("\x02\x04");
    EXPECT_EQ(empty.Kind, ReplyKind::Accept);
    EXPECT_EQ(empty.Payload, "");

    std::string largest = "\x02" + std::string(2046, '\x04') + "\x04";
    ASSERT_EQ(largest.size(), 2048u);
    EXPECT_EQ(Check(largest).Kind, ReplyKind::Accept);
    EXPECT_EQ(Check(largest).Payload.size(), 2046u);
    largest.insert(1, "a");
    EXPECT_EQ(Check(largest).Kind, ReplyKind::Ignore);  // 2049 bytes: dropped silently
    // Even an oversized one with a bad end is dropped without a message.
    EXPECT_EQ(Check("\x02" + std::string(3000, 'z')).Kind, ReplyKind::Ignore);
}

TEST(ReplyFrame, PayloadKeepsEveryByteValue) {
    std::string payload;
    for (int b = 0; b < 256; ++b) {
        payload += static_cast<char>(b);
    }
    EXPECT_EQ(Check("\x02" + payload + "\x04").Payload, payload);
}

TEST(SplitField, TakesFieldsOffTheFront) {
    std::string rest =
        "a\x1F\x1F"
        "b";
    EXPECT_EQ(SplitField(rest, '\x1F'), "a");
    EXPECT_EQ(rest,
              "\x1F"
              "b");
    EXPECT_EQ(SplitField(rest, '\x1F'), "");
    EXPECT_EQ(rest, "b");
    EXPECT_EQ(SplitField(rest, '\x1F'), "b");
    EXPECT_EQ(rest, "");
    EXPECT_EQ(SplitField(rest, '\x1F'), "");
}

TEST(AddDeviceRow, TwoByteReplyFillsTheEmptyRowWhichTheNextReplyReuses) {
    StringGrid grid = MakeDeviceGrid();
    Receive(grid, "\x02\x04");
    EXPECT_EQ(grid.RowCount(), 2);
    EXPECT_EQ(Row(grid, 1), Cells(5, ""));
    Receive(grid, Reply({"", "sn", "10.0.0.1", "mac", "not connected"}));
    EXPECT_EQ(grid.RowCount(), 2);  // Device empty: row 1 is reused again
    Receive(grid, Reply({"D1", "S1", "10.0.0.1", "M1", "not connected"}));
    EXPECT_EQ(grid.RowCount(), 2);
    EXPECT_EQ(Row(grid, 1), (Cells{"D1", "S1", "10.0.0.1", "M1", "not connected"}));
    Receive(grid, "\x02\x04");
    EXPECT_EQ(grid.RowCount(), 3);
    EXPECT_EQ(Row(grid, 2), Cells(5, ""));
    Receive(grid, Reply({"D3"}));  // beyond row 2 every reply appends
    EXPECT_EQ(grid.RowCount(), 4);
    EXPECT_EQ(Row(grid, 0), (Cells{"Device", "S/N", "IP", "Mac", "Status"}));
}

TEST(AddDeviceRow, FewerFieldsLeaveCellsEmptyAndExtraFieldsAreDropped) {
    StringGrid grid = MakeDeviceGrid();
    AddDeviceRow(grid,
                 "D\x1FS\x1F"
                 "1.2.3.4\x1FM");
    EXPECT_EQ(Row(grid, 1), (Cells{"D", "S", "1.2.3.4", "M", ""}));
    EXPECT_FALSE(IsNotConnected(grid.Cell(ColStatus, 1)));
    AddDeviceRow(grid, "D\x1FS\x1FI\x1FM\x1Fnot connected\x1Fsixth\x1Fseventh");
    EXPECT_EQ(Row(grid, 2), (Cells{"D", "S", "I", "M", "not connected"}));
    AddDeviceRow(grid, "D\x1F\x1F\x1F");
    EXPECT_EQ(Row(grid, 3), (Cells{"D", "", "", "", ""}));
    AddDeviceRow(grid, std::string("D\0\x02\x04\xff", 5) + "\x1Fs");
    EXPECT_EQ(grid.Cell(ColDevice, 4), std::string("D\0\x02\x04\xff", 5));
    EXPECT_EQ(grid.Cell(ColSerial, 4), "s");
}

TEST(AddDeviceRow, TakesFiveFieldsFromTheFront) {
    const struct {
        std::string payload;
        Cells row;
    } cases[] = {
        {"", Cells(5, "")},
        {"\x1F", Cells(5, "")},
        {"a\x1F", {"a", "", "", "", ""}},
        {"\x1F\x1F\x1F\x1F\x1F\x1F", Cells(5, "")},
        {"a\x1F"
         "b\x1F\x1F"
         "c",
         {"a", "b", "", "c", ""}},
        {"abc", {"abc", "", "", "", ""}},
        {"1\x1F"
         "2\x1F"
         "3\x1F"
         "4\x1F"
         "5\x1F",
         {"1", "2", "3", "4", "5"}},
        {"\x1F\x1F\x1F\x1F"
         "e",
         {"", "", "", "", "e"}},
    };
    for (const auto& c : cases) {
        StringGrid grid = MakeDeviceGrid();
        AddDeviceRow(grid, c.payload);
        EXPECT_EQ(Row(grid, 1), c.row) << c.payload;
    }
}

TEST(ClearDeviceTable, LeavesOneEmptyRowAndTheHeader) {
    StringGrid grid = MakeDeviceGrid();
    for (int i = 0; i < 5; ++i) {
        AddDeviceRow(grid, "D" + std::to_string(i));
    }
    grid.SetRow(4);
    ClearDeviceTable(grid);
    EXPECT_EQ(grid.RowCount(), 2);
    EXPECT_EQ(grid.Row(), 1);
    EXPECT_EQ(Row(grid, 1), Cells(5, ""));
    EXPECT_EQ(grid.Cell(ColIP, 0), "IP");
    AddDeviceRow(grid, "again");
    EXPECT_EQ(grid.RowCount(), 2);
    EXPECT_EQ(grid.Cell(ColDevice, 1), "again");
}

TEST(StatusCell, CaseRulesAndDuplicateIPs) {
    EXPECT_TRUE(IsNotConnected("not connected"));
    EXPECT_TRUE(IsNotConnected("NOT CONNECTED"));
    EXPECT_TRUE(IsNotConnected("Not Connected"));
    EXPECT_FALSE(IsNotConnected(" not connected"));
    EXPECT_FALSE(IsNotConnected("not connected "));
    EXPECT_FALSE(IsNotConnected("connected"));
    EXPECT_FALSE(IsNotConnected(""));
    EXPECT_FALSE(
        IsNotConnected("not\xA0"
                       "connected"));

    StringGrid grid = MakeDeviceGrid();
    AddDeviceRow(grid,
                 "A\x1F\x1F"
                 "10.0.0.7\x1F\x1Fnot connected");
    AddDeviceRow(grid,
                 "B\x1F\x1F"
                 "10.0.0.8\x1F\x1Fnot connected");
    AddDeviceRow(grid,
                 "C\x1F\x1F"
                 "10.0.0.7\x1F\x1Fnot connected");
    grid.SetRow(3);
    MarkSessionConnected(grid);
    grid.SetRow(1);
    MarkSessionConnected(grid);
    EXPECT_EQ(Column(grid, ColStatus), (Cells{"connected", "not connected", "connected"}));
    // Only the upper of the two rows with that IP is reset.
    EXPECT_TRUE(ResetDeviceStatus(grid, "10.0.0.7"));
    EXPECT_EQ(Column(grid, ColStatus), (Cells{"not connected", "not connected", "connected"}));
    EXPECT_TRUE(ResetDeviceStatus(grid, "10.0.0.7"));
    EXPECT_EQ(grid.Cell(ColStatus, 3), "connected");
    EXPECT_FALSE(ResetDeviceStatus(grid, "10.0.0.70"));
    EXPECT_FALSE(ResetDeviceStatus(grid, "10.0.0.7 "));
}

TEST(CompareDeviceCells, IsUnsignedByteWise) {
    StringGrid grid = MakeDeviceGrid();
    for (const char* device : {"10.0.0.10", "10.0.0.2", "abc", "ab", "B", "\xE9", "a"}) {
        AddDeviceRow(grid, device);
    }
    EXPECT_EQ(CompareDeviceCells(grid, 0, 1, 2), StringGrid::CompareBefore);  // .10 < .2
    EXPECT_EQ(CompareDeviceCells(grid, 0, 4, 3), StringGrid::CompareBefore);  // prefix first
    EXPECT_EQ(CompareDeviceCells(grid, 0, 3, 4), StringGrid::CompareAfter);
    EXPECT_EQ(CompareDeviceCells(grid, 0, 5, 7), StringGrid::CompareBefore);  // capitals first
    EXPECT_EQ(CompareDeviceCells(grid, 0, 7, 6), StringGrid::CompareBefore);  // 0xE9 after 'a'
    EXPECT_EQ(CompareDeviceCells(grid, 0, 6, 6), StringGrid::CompareEqual);
    EXPECT_EQ(CompareDeviceCells(grid, 9, 1, 2), StringGrid::CompareEqual);  // no such column
}

TEST(HeaderSortState, DirectionRules) {
    HeaderSortState state;
    EXPECT_TRUE(state.Click(0));  // column 0 starts ascending although it is the last column
    EXPECT_FALSE(state.Click(0));
    EXPECT_TRUE(state.Click(0));
    EXPECT_TRUE(state.Click(2));
    EXPECT_FALSE(state.Click(2));
    EXPECT_TRUE(state.Click(0));
    EXPECT_EQ(state.LastColumn(), 0);
    EXPECT_TRUE(state.LastAscending());
}
