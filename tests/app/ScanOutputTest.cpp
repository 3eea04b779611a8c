#include "app/ScanOutput.h"

#include <gtest/gtest.h>

#include "app/DeviceTable.h"
#include "app/ScanOptions.h"

using namespace vandrel::app;
using namespace std::chrono_literals;

namespace {

StringGrid Table(const std::vector<std::string>& payloads) {
    StringGrid grid = MakeDeviceGrid();
    for (const std::string& payload : payloads) {
        AddDeviceRow(grid, payload);
    }
    return grid;
}

}  // namespace

TEST(ScanOptions, ReadsTheCommandLine) {
    struct Case {
        std::vector<std::string> args;
        std::chrono::milliseconds timeout;
        ScanFormat format;
        const char* error;
    };
    const std::vector<Case> cases = {
        {{"--scan"}, 2000ms, ScanFormat::Table, ""},
        {{"--scan", "--timeout", "5", "--format", "json"}, 5000ms, ScanFormat::Json, ""},
        {{"--format=csv", "--scan", "--timeout=0.25"}, 250ms, ScanFormat::Csv, ""},
        {{"--scan", "--timeout", "3600"}, 3600000ms, ScanFormat::Table, ""},
        {{"--scan", "--timeout", "0.001"}, 1ms, ScanFormat::Table, ""},
        {{"--scan", "--timeout", "0"}, 2000ms, ScanFormat::Table, "bad value '0' for --timeout"},
        {{"--scan", "--timeout", "3600.001"}, 2000ms, ScanFormat::Table, "bad value"},
        {{"--scan", "--timeout", "-1"}, 2000ms, ScanFormat::Table, "bad value"},
        {{"--scan", "--timeout", "1."}, 2000ms, ScanFormat::Table, "bad value"},
        {{"--scan", "--timeout", ".5"}, 2000ms, ScanFormat::Table, "bad value"},
        {{"--scan", "--timeout", "0.0001"}, 2000ms, ScanFormat::Table, "bad value"},
        {{"--scan", "--timeout", "99999999999999999999"}, 2000ms, ScanFormat::Table, "bad value"},
        {{"--scan", "--timeout"}, 2000ms, ScanFormat::Table, "option --timeout needs a value"},
        {{"--scan", "--format", "xml"}, 2000ms, ScanFormat::Table, "bad value 'xml' for --format"},
        {{"--scan", "--verbose"}, 2000ms, ScanFormat::Table, "unknown option '--verbose'"},
        {{"--scan", "--scan=1"}, 2000ms, ScanFormat::Table, "unknown option '--scan=1'"},
    };
    for (const Case& c : cases) {
        const ScanOptions options = ParseScanOptions(c.args);
        EXPECT_EQ(options.Error.rfind(c.error, 0), 0u) << options.Error;
        if (options.Error.empty()) {
            EXPECT_EQ(options.Timeout, c.timeout) << c.args.back();
            EXPECT_EQ(options.Format, c.format) << c.args.back();
        }
    }
    EXPECT_TRUE(ParseScanOptions({"--scan", "--help", "--bogus"}).Help);
    EXPECT_TRUE(IsScanCommand({"-platform", "offscreen", "--scan"}));
    EXPECT_FALSE(IsScanCommand({"--timeout", "2"}));
}

TEST(ScanOutput, JsonListsTheDevicesInArrivalOrder) {
    EXPECT_EQ(FormatScanResult(MakeDeviceGrid(), ScanFormat::Json), "{\"devices\": []}\n");
    const StringGrid grid =
        Table({"VD-2\x1FS2\x1F"
               "10.0.0.2\x1Fm\x1Fnot connected",
               std::string("q\"\\\x01\xE9\x1F\x1F\x1F\x1F", 9)});
    EXPECT_EQ(FormatScanResult(grid, ScanFormat::Json),
              "{\"devices\": [\n"
              "  {\"Device\": \"VD-2\", \"S/N\": \"S2\", \"IP\": \"10.0.0.2\", \"Mac\": \"m\", "
              "\"Status\": \"not connected\"},\n"
              "  {\"Device\": \"q\\\"\\\\\\u0001\xC3\xA9\", \"S/N\": \"\", \"IP\": \"\", "
              "\"Mac\": \"\", \"Status\": \"\"}\n"
              "]}\n");
}

TEST(ScanOutput, TableIsAlignedAndHarmlessForATerminal) {
    const StringGrid grid =
        Table({"VD-100\x1FVS-1\x1F"
               "198.18.0.11\x1F"
               "02:00\x1Fnot connected",
               "\xC4rger\x1F\x1B[2J\x1F"
               "10.0.0.7\x1F\x1F"});
    EXPECT_EQ(FormatScanResult(grid, ScanFormat::Table),
              "Device  S/N      IP           Mac    Status\n"
              "VD-100  VS-1     198.18.0.11  02:00  not connected\n"
              "\xC3\x84rger   \\x1B[2J  10.0.0.7\n");
    EXPECT_EQ(FormatScanResult(MakeDeviceGrid(), ScanFormat::Table),
              "Device  S/N  IP  Mac  Status\n");
    EXPECT_EQ(FormatScanResult(grid, ScanFormat::Csv).substr(0, 26),
              "Device,S/N,IP,Mac,Status\r\n");
}
