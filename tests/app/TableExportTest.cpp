#include "app/TableExport.h"

#include <gtest/gtest.h>

#include "DevicePayload.h"

using namespace vandrel::app;

using vandrel::test::DeviceGrid;

TEST(TableExport, Latin1BytesBecomeUtf8) {
    EXPECT_EQ(Latin1ToUtf8("plain"), "plain");
    EXPECT_EQ(Latin1ToUtf8("Gr\xFC\xDF"), "Gr\xC3\xBC\xC3\x9F");
    EXPECT_EQ(Latin1ToUtf8(std::string("\x00\x7F\x80\xFF", 4)),
              std::string("\x00\x7F\xC2\x80\xC3\xBF", 6));
}

TEST(TableExport, CsvFieldQuotesOnlyWhatNeedsIt) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", ""},
        {"VD-100", "VD-100"},
        {"a,b", "\"a,b\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"two\r\nlines", "\"two\r\nlines\""},
        {"tab\there", "\"tab\there\""},
        {std::string("nul\0", 4), std::string("\"nul\0\"", 6)},
        {" padded", "\" padded\""},
        {"inner blank", "inner blank"},
        {"\xC3\xBC", "\xC3\xBC"},
    };
    for (const auto& [field, expected] : cases) {
        EXPECT_EQ(CsvField(field), expected) << field;
    }
}

TEST(TableExport, HeaderFirstThenTheRowsInTableOrder) {
    EXPECT_EQ(DeviceTableCsv(MakeDeviceGrid()), "Device,S/N,IP,Mac,Status\r\n");
    StringGrid grid = DeviceGrid(
        {{"B", "2", "10.0.0.2", "m2", "not connected"}, {"A", "1", "10.0.0.1", "m1", "connected"}});
    EXPECT_EQ(DeviceTableCsv(grid),
              "Device,S/N,IP,Mac,Status\r\n"
              "B,2,10.0.0.2,m2,not connected\r\n"
              "A,1,10.0.0.1,m1,connected\r\n");
    // A reply with an empty Device field is a listed row, though a blank one.
    EXPECT_EQ(ListedDeviceRows(DeviceGrid({{"", "1"}})), std::vector<int>{1});
    EXPECT_EQ(ListedDeviceRows(DeviceGrid({{""}})), std::vector<int>{});
}

TEST(TableExport, ClipboardRowIsTabSeparated) {
    StringGrid grid = DeviceGrid({{"VD\t100", "S\xE9rie", "10.0.0.1", "two\r\nlines", "ok"}});
    EXPECT_EQ(DeviceRowTabText(grid, 1), "VD 100\tS\xC3\xA9rie\t10.0.0.1\ttwo  lines\tok");
    EXPECT_EQ(DeviceRowTabText(grid, 0), "Device\tS/N\tIP\tMac\tStatus");
}
