// The plain rules behind session tabs and logging: which rows may connect, which row a
// session marks, and the log names.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/model/DeviceTable.h"
#include "app/model/LogFileName.h"
#include "app/model/LogFileProbe.h"
#include "app/model/ScriptSummary.h"
#include "app/model/SessionRows.h"

using namespace vandrel::app;

namespace {

StringGrid TableOf(std::initializer_list<std::string> payloads) {
    StringGrid grid = MakeDeviceGrid();
    for (const std::string& payload : payloads) {
        AddDeviceRow(grid, payload);
    }
    return grid;
}

std::string Row(const std::string& device, const std::string& ip, const std::string& status) {
    return device + "\x1Fsn\x1F" + ip + "\x1Fmac\x1F" + status;
}

}  // namespace

TEST(SessionRows, ConnectNeedsDeviceIpAndNotConnected) {
    StringGrid grid = TableOf({
        Row("VD", "10.0.0.1", "not connected"),   // 1: fine
        Row("", "10.0.0.2", "not connected"),     // 2: no device
        Row("VD", "", "not connected"),           // 3: no IP
        Row("VD", "10.0.0.4", "connected"),       // 4: in use
        Row("VD", "10.0.0.5", "NOT Connected"),   // 5: letter case does not matter
        Row("VD", "10.0.0.6", " not connected"),  // 6: a leading blank does
        Row("VD", "10.0.0.7", ""),                // 7: empty status
        "VD\x1Fsn\x1F"
        "10.0.0.8\x1Fmac",  // 8: four fields, no status
    });
    const bool expected[] = {false, true, false, false, false, true, false, false, false};
    const std::string status = "status not 'not connected'";
    const std::string refusals[] = {"", "",     "no Device", "no IP", status,
                                    "", status, status,      status};
    for (int row = 1; row <= 8; ++row) {
        EXPECT_EQ(CanConnectRow(grid, row), expected[row]) << "row " << row;
        EXPECT_EQ(ConnectRefusal(grid, row), refusals[row]) << "row " << row;
    }
    // The header row and rows outside the table never connect.
    EXPECT_FALSE(CanConnectRow(grid, 0));
    EXPECT_FALSE(CanConnectRow(grid, 9));
    EXPECT_FALSE(CanConnectRow(grid, -1));
    EXPECT_FALSE(CanConnectRow(MakeDeviceGrid(), 1));
}

TEST(SessionRows, TheNoticeOfConnectOnSeveralRowsCountsWhatWasSkipped) {
    const std::string status = "status not 'not connected'";
    const struct {
        int opened;
        std::vector<std::string> skipped;
        std::string notice;
    } cases[] = {
        {12, {status, status}, "Opened 12 sessions; 2 rows skipped: status not 'not connected'"},
        {1, {"no IP"}, "Opened 1 session; 1 row skipped: no IP"},
        {3, {}, "Opened 3 sessions"},
        {0,
         {status, "no IP", status},
         "Opened 0 sessions; 3 rows skipped: " + status + " (2), no IP (1)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(OpenedSessionsNotice(c.opened, c.skipped), c.notice);
    }
}

TEST(SessionRows, ConnectedGoesToTheFirstRowOfTheSessionsAddressNotTheSelection) {
    StringGrid grid = TableOf({
        Row("A", "10.0.0.70", "not connected"),
        Row("B", "10.0.0.7", "not connected"),
        Row("C", "10.0.0.7", "not connected"),
    });
    grid.SetRow(1);
    EXPECT_TRUE(MarkDeviceConnected(grid, "10.0.0.7"));
    EXPECT_EQ(grid.Cell(ColStatus, 1), "not connected");  // a prefix is no match
    EXPECT_EQ(grid.Cell(ColStatus, 2), "connected");
    EXPECT_EQ(grid.Cell(ColStatus, 3), "not connected");
    // The same row returns to "not connected" when the session ends.
    EXPECT_TRUE(ResetDeviceStatus(grid, "10.0.0.7"));
    EXPECT_EQ(grid.Cell(ColStatus, 2), "not connected");

    // A table searched anew meanwhile may not hold the device at all: nothing changes.
    EXPECT_FALSE(MarkDeviceConnected(grid, "10.0.0.9"));
    EXPECT_FALSE(MarkDeviceConnected(grid, ""));
    for (int row = 1; row <= 3; ++row) {
        EXPECT_EQ(grid.Cell(ColStatus, row), "not connected");
    }
}

TEST(SessionRows, SessionLogNameReplacesEveryDot) {
    EXPECT_EQ(SessionLogName("10.0.0.7"), "10_0_0_7");
    EXPECT_EQ(SessionLogName("192.168.1.20"), "192_168_1_20");
    EXPECT_EQ(SessionLogName("..x.."), "__x__");
    EXPECT_EQ(SessionLogName(""), "");
}

TEST(ScriptSummary, LastLinesAreTheLastTextLinesTheDeviceSent) {
    const struct {
        std::string received;
        std::vector<std::string> lines;
    } cases[] = {
        {"a\r\nb\r\n\r\nc  \r\nd", {"b", "c", "d"}},
        {"one\rtwo\nthree\n\n", {"one", "two", "three"}},
        {"\x1b[0mx\x07\ty\x7F\xE9\r\n", {"[0mx y\xE9"}},
        {"", {}},
        {"\r\n \r\n", {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LastLines(c.received, 3), c.lines) << c.received;
    }
}

TEST(ScriptSummary, NamesEachDeviceAndWhereAFailedOneStopped) {
    ScriptDeviceResult passed{"VD-1", "10.0.0.1", {true, true, 0, "", ""}, {}};
    ScriptDeviceResult failed{
        "VD-2", "10.0.0.2", {true, false, 4, "expect \"ok\"", "no ok"}, {"login:", "x"}};
    ScriptDeviceResult early{"", "10.0.0.3", {true, false, 0, "", "no values for S/N 7"}, {}};
    EXPECT_EQ(ScriptSummaryText({passed, failed, early}),
              "3 devices: 1 passed, 2 failed\n"
              "\nVD-1 10.0.0.1: passed\n"
              "\nVD-2 10.0.0.2: failed at line 4 (expect \"ok\"): no ok\n"
              "    | login:\n"
              "    | x\n"
              "\n10.0.0.3: failed: no values for S/N 7\n");
    EXPECT_EQ(ScriptSummaryText({passed}),
              "1 device: 1 passed, 0 failed\n\nVD-1 10.0.0.1: passed\n");
}

TEST(LogFileName, HourAndMinuteArePaddedWithBlanks) {
    EXPECT_EQ(FormatLogFileName("192.168.1.20", {2026, 12, 8, 14, 35}),
              "192_168_1_20-20261208_1435");
    EXPECT_EQ(FormatLogFileName("192.168.1.20", {2026, 12, 8, 9, 5}), "192_168_1_20-20261208_ 9 5");
    EXPECT_EQ(FormatLogFileName("10.0.0.7", {2026, 1, 2, 7, 3}), "10_0_0_7-20260102_ 7 3");
    EXPECT_EQ(FormatLogFileName("10.0.0.7", {2026, 1, 2, 0, 0}), "10_0_0_7-20260102_ 0 0");
    EXPECT_EQ(FormatLogFileName("10.0.0.7", {2026, 12, 31, 23, 59}), "10_0_0_7-20261231_2359");
}

TEST(LogFileName, OddInputStaysWellFormed) {
    // The year keeps at least four digits; a host with "%" is taken literally.
    EXPECT_EQ(FormatLogFileName("h", {999, 1, 1, 1, 1}), "h-09990101_ 1 1");
    EXPECT_EQ(FormatLogFileName("h", {12345, 1, 1, 1, 1}), "h-123450101_ 1 1");
    EXPECT_EQ(FormatLogFileName("%s%d", {2026, 1, 1, 1, 1}), "%s%d-20260101_ 1 1");
    EXPECT_EQ(FormatLogFileName("", {2026, 1, 1, 1, 1}), "-20260101_ 1 1");
    // A broken clock must not overflow anything.
    const std::string wide = FormatLogFileName("h", {-2147483647 - 1, -2147483647 - 1, 0, 0, 0});
    EXPECT_EQ(wide.rfind("h--2147483648", 0), 0u) << wide;
}

TEST(LogFileName, SystemClockIsPlausible) {
    const LocalDateTime now = SystemLocalDateTime();
    EXPECT_GE(now.Year, 2024);
    EXPECT_TRUE(now.Month >= 1 && now.Month <= 12);
    EXPECT_TRUE(now.Day >= 1 && now.Day <= 31);
    EXPECT_TRUE(now.Hour >= 0 && now.Hour <= 23);
    EXPECT_TRUE(now.Minute >= 0 && now.Minute <= 59);
}

class LogFileProbeTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "vandrel-probe-XXXXXX");
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::filesystem::path dir;
};

TEST_F(LogFileProbeTest, CreatesAMissingFileAndKeepsAnExistingOne) {
    const std::string name = (dir / "new.txt").string();
    EXPECT_EQ(ProbeLogFile(name), 0);
    EXPECT_TRUE(std::filesystem::exists(name));
    EXPECT_EQ(std::filesystem::file_size(name), 0u);

    const std::string kept = (dir / "kept.txt").string();
    {
        FILE* f = std::fopen(kept.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fputs("<Open>abc<Close>", f);
        std::fclose(f);
    }
    EXPECT_EQ(ProbeLogFile(kept), 0);
    EXPECT_EQ(std::filesystem::file_size(kept), 16u);
}

TEST_F(LogFileProbeTest, ReportsFilesThatCannotBeLogged) {
    EXPECT_EQ(ProbeLogFile(""), ENOENT);
    EXPECT_EQ(ProbeLogFile((dir / "missing" / "x.txt").string()), ENOENT);
    EXPECT_EQ(ProbeLogFile(dir.string()), EISDIR);

    // A FIFO nobody reads: fails at once instead of blocking the window.
    const std::string fifo = (dir / "fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(ProbeLogFile(fifo), ENXIO);
}

TEST_F(LogFileProbeTest, AFileAnotherLoggerHoldsIsBusyUntilReleased) {
    const std::string name = (dir / "held.txt").string();
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(ProbeLogFile(name), EBUSY);
    ::close(fd);
    EXPECT_EQ(ProbeLogFile(name), 0);
    // The probe leaves no lock of its own behind.
    const int again = ::open(name.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(again, 0);
    EXPECT_EQ(::flock(again, LOCK_EX | LOCK_NB), 0);
    ::close(again);
}
