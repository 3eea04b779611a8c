#include "app/cli/ScanOutput.h"

#include <gtest/gtest.h>

#include "app/cli/CommandLine.h"
#include "app/cli/ScanOptions.h"
#include "app/model/DeviceTable.h"
#include "support/DevicePayload.h"

using namespace vandrel::app;
using namespace std::chrono_literals;

using vandrel::test::DeviceGrid;

namespace {

// Parses "vandrel ARGS" and checks that the error text starts with error ("" for none).
CommandLine parseExpectingError(const std::vector<std::string>& args, const char* error) {
    QStringList arguments{QStringLiteral("vandrel")};
    for (const std::string& arg : args) {
        arguments.append(QString::fromStdString(arg));
    }
    const std::string line = arguments.join(' ').toStdString();
    CommandLine parsed = ParseCommandLine(arguments);
    EXPECT_EQ(parsed.Error.rfind(error, 0), 0u) << line << ": " << parsed.Error;
    EXPECT_EQ(parsed.Error.empty(), *error == '\0') << line << ": " << parsed.Error;
    return parsed;
}

}  // namespace

TEST(CommandLine, ReadsTheScanOptions) {
    struct Case {
        std::vector<std::string> args;
        const char* error;  // how the error text starts; "" for none
        std::chrono::milliseconds timeout = 2000ms;
        ScanFormat format = ScanFormat::Table;
    };
    std::vector<Case> cases = {
        {{}, ""},
        {{"--scan"}, ""},
        {{"--scan", "--timeout", "5", "--format", "json"}, "", 5000ms, ScanFormat::Json},
        {{"--format=csv", "--scan", "--timeout=0.25"}, "", 250ms, ScanFormat::Csv},
        {{"--scan", "--timeout", "3600"}, "", 3600000ms},
        {{"--scan", "--timeout", "0.001"}, "", 1ms},
        {{"--scan", "--timeout", "0"}, "bad value '0' for --timeout"},
        {{"--scan", "--timeout"}, "Missing value after '--timeout'"},
        {{"--scan", "--format", "xml"}, "bad value 'xml' for --format"},
        {{"--scan", "--verbose"}, "unknown option 'verbose'"},
        {{"--scan", "-hv"}, "unknown option 'hv'"},
        {{"--scan", "--scan=1"}, "Unexpected value after '--scan'"},
        {{"--scan", "extra"}, "unexpected argument 'extra'"},
        {{"--timeout", "2"}, "--timeout and --format belong to --scan"},
    };
    for (const char* timeout :
         {"3600.001", "-1", "-0.5", "1.-5", "1.", ".5", "0.0001", "99999999999999999999"}) {
        cases.push_back({{"--scan", "--timeout", timeout}, "bad value"});
    }
    for (const Case& c : cases) {
        const CommandLine parsed = parseExpectingError(c.args, c.error);
        if (parsed.Error.empty()) {
            EXPECT_EQ(parsed.Options.Timeout, c.timeout) << ::testing::PrintToString(c.args);
            EXPECT_EQ(parsed.Options.Format, c.format) << ::testing::PrintToString(c.args);
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

TEST(CommandLine, ReadsTheRunOptions) {
    struct Case {
        std::vector<std::string> args;
        const char* error;  // how the error text starts; "" for none
    };
    const std::vector<Case> cases = {
        {{"--run", "s.vsc", "--host", "10.0.0.1", "--host=h:2323", "--vars", "v.csv", "--parallel",
          "256", "--log-dir", "logs", "--report", "r.json", "--timeout", "0.5"},
         ""},
        {{"--run", "s.vsc", "--scan", "--parallel", "1"}, ""},
        {{"--run", "s.vsc"}, "--run needs the devices"},
        {{"--run", "s.vsc", "--scan", "--hosts", "h.txt"}, "--host, --hosts and --scan cannot"},
        {{"--run", "s.vsc", "--scan", "--format", "csv"}, "--format belongs to --scan alone"},
        {{"--run", "s.vsc", "--scan", "--parallel", "0"}, "bad value '0' for --parallel"},
        {{"--run", "s.vsc", "--scan", "--parallel", "257"}, "bad value '257' for --parallel"},
        {{"--run", "s.vsc", "--scan", "--parallel", "-1"}, "bad value '-1' for --parallel"},
        {{"--run", "s.vsc", "--scan", "--timeout", "0"}, "bad value '0' for --timeout"},
        {{"--run", "", "--scan"}, "--run needs a value"},
        {{"--run", "s.vsc", "--scan", "--report="}, "--report needs a value"},
        {{"--run"}, "Missing value after '--run'"},
        {{"--scan", "--parallel", "2"}, "--host, --hosts, --vars, --parallel, --log-dir and "},
        {{"--host", "10.0.0.1"}, "--host, --hosts, --vars, --parallel, --log-dir and --report"},
    };
    for (const Case& c : cases) {
        const CommandLine parsed = parseExpectingError(c.args, c.error);
    }
    const RunOptions run = ParseCommandLine({"vandrel", "--run", "s.vsc", "--host", "a", "--host",
                                             "b", "--timeout", "2"})
                               .RunSettings;
    EXPECT_EQ(run.Script, "s.vsc");
    EXPECT_EQ(run.Hosts, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(run.Parallel, 8);
    EXPECT_EQ(run.SessionTimeout, 2000ms);
    EXPECT_EQ(run.ScanWait, 2000ms) << "the discovery wait stays at --scan's default";
}

TEST(ScanOutput, JsonListsTheDevicesInArrivalOrder) {
    EXPECT_EQ(FormatScanResult(MakeDeviceGrid(), ScanFormat::Json), "{\"devices\": []}\n");
    const StringGrid grid = DeviceGrid({{"VD-2", "S2", "10.0.0.2", "m", "not connected"},
                                        {"q\"\\\x01\xE9", "\x7F\x80\x9B\x9F\xA0", "=1+2", "", ""}});
    EXPECT_EQ(FormatScanResult(grid, ScanFormat::Json),
              "{\"devices\": [\n"
              "  {\"Device\": \"VD-2\", \"S/N\": \"S2\", \"IP\": \"10.0.0.2\", \"Mac\": \"m\", "
              "\"Status\": \"not connected\"},\n"
              "  {\"Device\": \"q\\\"\\\\\\u0001\xC3\xA9\", "
              "\"S/N\": \"\\u007f\\u0080\\u009b\\u009f\xC2\xA0\", \"IP\": \"=1+2\", "
              "\"Mac\": \"\", \"Status\": \"\"}\n"
              "]}\n");
    // Text that is UTF-8 already: a character's continuation bytes stay, U+0085 is escaped.
    EXPECT_EQ(JsonString("\xE2\x80\x94 \xC2\x85\x01"), "\"\xE2\x80\x94 \\u0085\\u0001\"");
}

TEST(ScanOutput, TableIsAlignedAndHarmlessForATerminal) {
    const StringGrid grid = DeviceGrid({{"VD-100", "VS-1", "198.18.0.11", "02:00", "not connected"},
                                        {"\xC4rger", "\x1B[2J", "10.0.0.7", "", ""},
                                        {"\\x1B\x9B", "", "", "", "\\"}});
    // A backslash is \x5C, so that a device's "\x1B" is not taken for an ESC.
    EXPECT_EQ(FormatScanResult(grid, ScanFormat::Table),
              "Device       S/N      IP           Mac    Status\n"
              "VD-100       VS-1     198.18.0.11  02:00  not connected\n"
              "\xC3\x84rger        \\x1B[2J  10.0.0.7\n"
              "\\x5Cx1B\\x9B" +
                  std::string(31, ' ') + "\\x5C\n");
    EXPECT_EQ(FormatScanResult(MakeDeviceGrid(), ScanFormat::Table),
              "Device  S/N  IP  Mac  Status\n");
    EXPECT_EQ(FormatScanResult(grid, ScanFormat::Csv).substr(0, 26),
              "Device,S/N,IP,Mac,Status\r\n");
}
