#include "app/model/TableExport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/model/ReplaceFile.h"
#include "support/DevicePayload.h"

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

// What a spreadsheet would take as a formula gets a leading apostrophe; bytes that steer a
// terminal (all controls but TAB and LF, raw 0x80-0x9F too) and the backslash become \xNN.
TEST(TableExport, CsvCellsAreSafeForSpreadsheetsAndTerminals) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", ""},
        {"VD-100", "VD-100"},
        {"=HYPERLINK(\"http://x\")", "'=HYPERLINK(\"http://x\")"},
        {"+1", "'+1"},
        {"-2", "'-2"},
        {"@SUM(A1)", "'@SUM(A1)"},
        {"\tlead", "'\tlead"},
        {"\rlead", "'\\x0Dlead"},
        {" =blank first", " =blank first"},
        {"a=b", "a=b"},
        {"'quoted", "'quoted"},
        {"\x1B]0;title\x07\x08", "\\x1B]0;title\\x07\\x08"},
        {"two\r\nlines\tand tab", "two\\x0D\nlines\tand tab"},
        {std::string("nul\0\x7F", 5), "nul\\x00\\x7F"},
        {"\x80\x9B\x9F\xA0\xE9", "\\x80\\x9B\\x9F\xC2\xA0\xC3\xA9"},
        {"C:\\dir\\x1B", "C:\\x5Cdir\\x5Cx1B"},
    };
    for (const auto& [cell, expected] : cases) {
        EXPECT_EQ(CsvCellText(cell), expected) << cell;
    }
    StringGrid grid = DeviceGrid({{"=1+2", "a,\x9B", "10.0.0.1", "-", "ok"}});
    EXPECT_EQ(DeviceTableCsv(grid),
              "Device,S/N,IP,Mac,Status\r\n'=1+2,\"a,\\x9B\",10.0.0.1,'-,ok\r\n");
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
    StringGrid grid =
        DeviceGrid({{"VD\t100", "S\xE9rie", "10.0.0.1", "two\r\nlines", "\x1B[2J\x9B\\"}});
    EXPECT_EQ(DeviceRowTabText(grid, 1),
              "VD 100\tS\xC3\xA9rie\t10.0.0.1\ttwo  lines\t\\x1B[2J\\x9B\\x5C");
    EXPECT_EQ(DeviceRowTabText(grid, 0), "Device\tS/N\tIP\tMac\tStatus");
}

namespace {

class ReplaceFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = std::filesystem::temp_directory_path() / "vandrel-replace-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    std::string Read(const std::filesystem::path& path) const {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    // The names in dir: nothing of the writing is left beside the file.
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    static unsigned Mode(const std::filesystem::path& path) {
        struct stat st {};
        ::stat(path.c_str(), &st);
        return st.st_mode & 07777;
    }

    std::filesystem::path dir;
};

}  // namespace

TEST_F(ReplaceFileTest, ReplacesInOneStepKeepingTheMode) {
    const std::filesystem::path file = dir / "devices.csv";
    const mode_t mask = ::umask(022);
    EXPECT_EQ(ReplaceFile(file, "first"), 0);
    EXPECT_EQ(Mode(file), 0644u);
    ::umask(mask);
    ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
    EXPECT_EQ(ReplaceFile(file, std::string("second\0", 7)), 0);
    EXPECT_EQ(Read(file), std::string("second\0", 7));
    EXPECT_EQ(Mode(file), 0640u);

    // Through a link the file it points to gets the new text; the link stays.
    std::filesystem::create_symlink("devices.csv", dir / "link.csv");
    EXPECT_EQ(ReplaceFile(dir / "link.csv", "third"), 0);
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.csv"));
    EXPECT_EQ(Read(file), "third");
    EXPECT_EQ(Names(), (std::vector<std::string>{"devices.csv", "link.csv"}));
}
