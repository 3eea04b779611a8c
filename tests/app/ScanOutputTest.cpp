#include "app/ScanOutput.h"

#include <gtest/gtest.h>

#include "app/CommandLine.h"
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

TEST(CommandLine, ReadsTheScanOptions) {
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
        {{"--scan", "--timeout"}, 2000ms, ScanFormat::Table, "Missing value after '--timeout'"},
        {{"--scan", "--format", "xml"}, 2000ms, ScanFormat::Table, "bad value 'xml' for --format"},
        {{"--scan", "--verbose"}, 2000ms, ScanFormat::Table, "unknown option 'verbose'"},
        {{"--scan", "-hv"}, 2000ms, ScanFormat::Table, "unknown option 'hv'"},
        {{"--scan", "--scan=1"}, 2000ms, ScanFormat::Table, "Unexpected value after '--scan'"},
        {{"--scan", "extra"}, 2000ms, ScanFormat::Table, "unexpected argument 'extra'"},
        {{"--timeout", "2"}, 2000ms, ScanFormat::Table, "--timeout and --format belong to --scan"},
        {{}, 2000ms, ScanFormat::Table, ""},
    };
    for (const Case& c : cases) {
        QStringList arguments{QStringLiteral("vandrel")};
        for (const std::string& arg : c.args) {
            arguments.append(QString::fromStdString(arg));
        }
        const CommandLine line = ParseCommandLine(arguments);
        EXPECT_EQ(line.Error.rfind(c.error, 0), 0u) << line.Error;
        if (line.Error.empty()) {
            EXPECT_EQ(line.Options.Timeout, c.timeout) << arguments.join(' ').toStdString();
            EXPECT_EQ(line.Options.Format, c.format) << arguments.join(' ').toStdString();
        }
    }
    // Help and version are answered whatever else the line holds; Qt's own options are
    // still on the line before the application has taken them.
    EXPECT_TRUE(ParseCommandLine({"vandrel", "--scan", "--help", "--bogus"}).Help);
    EXPECT_TRUE(ParseCommandLine({"vandrel", "-platform", "offscreen", "-v"}).Version);
    EXPECT_TRUE(ParseCommandLine({"vandrel", "-platform", "offscreen", "--scan"}).Scan);
    EXPECT_TRUE(
        ParseCommandLine({"vandrel", "-platform", "offscreen", "-style=fusion"}).ToolkitOptions);
    EXPECT_FALSE(ParseCommandLine({"vandrel", "-platform", "offscreen", "--bogus"}).ToolkitOptions);
    EXPECT_FALSE(ParseCommandLine({"vandrel", "--timeout", "2"}).ToolkitOptions);
    const std::string help = CommandLineHelp();
    for (const char* option : {"Usage: vandrel", "--help", "--version", "--scan", "--timeout",
                               "--format", "Exit status"}) {
        EXPECT_NE(help.find(option), std::string::npos) << option;
    }
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
