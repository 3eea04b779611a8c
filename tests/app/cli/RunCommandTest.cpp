// vandrel --run: its console lines and reports, its device lists, the errors found before
// anything is sent, and Ctrl+C during a run against a simulated device on loopback.
#include <gtest/gtest.h>

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "app/cli/RunCommand.h"
#include "app/cli/RunDevices.h"
#include "app/cli/RunReport.h"
#include "app/model/DeviceTable.h"
#include "support/DevicePayload.h"
#include "support/DevsimProcess.h"
#include "support/LoopbackListener.h"
#include "support/Subprocess.h"

using namespace vandrel::app;
using namespace vandrel::test;
using namespace std::chrono_literals;

namespace {

std::string Bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void Write(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

QJsonArray ReportDevices(const std::string& json) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(json)).object()["devices"].toArray();
}

const std::string kExample = VANDREL_SOURCE_DIR "/docs/examples/set-ip.vsc";

}  // namespace

TEST(RunReport, LinesJsonAndCsvListEveryDevice) {
    const DeviceResult passed{{"VD-100", "VS-000001", "198.18.0.11", "02:00:c6:12:00:0b"},
                              DeviceOutcome::Passed,
                              0,
                              "",
                              "",
                              1.5,
                              "logs/a.txt"};
    const DeviceResult failed{{"=cmd", "\x1B", "10.0.0.2", ""},
                              DeviceOutcome::Failed,
                              7,
                              "expect \"IP [\"",
                              "the device closed the session",
                              0.25,
                              ""};
    DeviceResult notRun;
    notRun.Device.Ip = "10.0.0.3";
    const std::vector<DeviceResult> results = {passed, failed, notRun};
    EXPECT_EQ(DeviceResultLine(passed), "198.18.0.11  VS-000001  passed  1.50 s");
    EXPECT_EQ(DeviceResultLine(failed),
              "10.0.0.2  \\x1B  failed  0.25 s  line 7 expect \"IP [\": the device closed the "
              "session");
    EXPECT_EQ(DeviceResultLine(notRun), "10.0.0.3  -  not run");
    EXPECT_EQ(RunSummaryLine(results, 12.34), "3 devices: 1 passed, 1 failed, 1 not run, 12.34 s");
    EXPECT_EQ(RunSummaryLine({passed}, 2), "1 device: 1 passed, 0 failed, 2.00 s");

    const QJsonObject json =
        QJsonDocument::fromJson(QByteArray::fromStdString(RunReportJson(results, 3.5))).object();
    EXPECT_EQ(json["passed"].toInt(), 1);
    EXPECT_EQ(json["failed"].toInt(), 1);
    EXPECT_EQ(json["not run"].toInt(), 1);
    EXPECT_EQ(json["seconds"].toDouble(), 3.5);
    const QJsonArray devices = json["devices"].toArray();
    ASSERT_EQ(devices.size(), 3);
    EXPECT_EQ(devices[0].toObject().keys(),
              (QStringList{"Device", "IP", "Mac", "S/N", "command", "line", "log", "outcome",
                           "reason", "seconds"}));
    EXPECT_EQ(devices[1].toObject()["S/N"].toString(), "\x1B");
    EXPECT_EQ(devices[1].toObject()["command"].toString(), "expect \"IP [\"");
    EXPECT_EQ(devices[1].toObject()["line"].toInt(), 7);
    EXPECT_EQ(devices[2].toObject()["outcome"].toString(), "not run");

    const std::string csv = RunReportCsv(results);
    EXPECT_EQ(csv.substr(0, csv.find("\r\n", csv.find("\r\n") + 2) + 2),
              "Device,S/N,IP,Mac,outcome,line,command,reason,seconds,log\r\n"
              "VD-100,VS-000001,198.18.0.11,02:00:c6:12:00:0b,passed,,,,1.500,logs/a.txt\r\n");
    EXPECT_NE(csv.find("'=cmd,\\x1B,10.0.0.2,,failed,7,\"expect \"\"IP [\"\"\",the device "
                       "closed the session,0.250,\r\n"),
              std::string::npos)
        << csv;

    QTemporaryDir dir;
    for (const char* name : {"r.JSON", "r.CSV"}) {
        const std::string path = dir.filePath(name).toStdString();
        ASSERT_EQ(WriteRunReport(path, results, 3.5), 0);
        EXPECT_EQ(Bytes(path).front(), name[2] == 'C' ? 'D' : '{') << name;
    }
}

TEST(RunDevices, HostsFileTakesOneAddressALineAndAScanTheRowsThatAllowConnect) {
    std::string error;
    const auto targets =
        ReadHostList("# lab\n198.18.0.11\n\n  host-1:2323  # spare\r\n010.0.0.1", error);
    ASSERT_TRUE(targets) << error;
    ASSERT_EQ(targets->size(), 3u);
    EXPECT_EQ((*targets)[0].Device.Ip, "198.18.0.11");
    EXPECT_EQ((*targets)[0].Port, "telnet");
    EXPECT_EQ((*targets)[1].Device.Ip, "host-1");
    EXPECT_EQ((*targets)[1].Port, "2323");
    EXPECT_EQ((*targets)[2].Device.Ip, "10.0.0.1");
    EXPECT_TRUE((*targets)[2].Device.SerialNumber.empty());
    for (const auto& [text, expected] : std::vector<std::pair<const char*, const char*>>{
             {"a b", "line 1: 'a b': "},
             {"10.0.0.1:0", "line 1: bad port in '10.0.0.1:0'"},
             {"# x\n10.0.0.1:telnet", "line 2: bad port"},
             {"256.0.0.1", "line 1: '256.0.0.1': "},
             {":23", "line 1: ':23': "},
             // Bytes that are no text are shown escaped, the message whole.
             {"\xFF\x1B[2Jx",
              "line 1: '\xC3\xBF\\x1B[2Jx': Not an IPv4 address or host name: "
              "\xC3\xBF\\x1B[2Jx"},
             {"\x1B]0;x:1\x07:99999", "line 1: bad port in '\\x1B]0;x:1\\x07:99999'"}}) {
        EXPECT_FALSE(ReadHostList(text, error)) << text;
        EXPECT_EQ(error.rfind(expected, 0), 0u) << text << ": " << error;
    }

    std::vector<std::string> skipped;
    const std::vector<RunTarget> scanned =
        ConnectableDevices(DeviceGrid({{"VD-1", "VS-1", "198.18.0.11", "m1", "not connected"},
                                       {"VD-2", "VS-2", "198.18.0.12", "m2", "connected"},
                                       {"VD-3", "VS-3", "198.18.0.13", "m3", "NOT CONNECTED"}}),
                           skipped);
    ASSERT_EQ(scanned.size(), 2u);
    EXPECT_EQ(scanned[1].Device.SerialNumber, "VS-3");
    EXPECT_EQ(scanned[1].Device.Mac, "m3");
    EXPECT_EQ(skipped, (std::vector<std::string>{"198.18.0.12 (S/N VS-2): status 'connected'"}));
}

// Each of these stops the run with status 2 before anything is sent.
TEST(RunCommand, BadInputIsAnErrorBeforeAnythingIsSent) {
    QTemporaryDir dir;
    const auto path = [&](const char* name) { return dir.filePath(name).toStdString(); };
    Write(path("good.vsc"), "expect \"> \"\nsendline \"{NewIP}\"\n");
    Write(path("bad.vsc"), "expect \"> \"\nsendline \"{NewIP}\n");
    Write(path("vars.csv"), "S/N,NewIP\nVS-1,10.0.0.9\n");
    Write(path("bad.csv"), "S/N,NewIP\n\"VS-1,10.0.0.9\n");
    Write(path("none.txt"), "# nothing here\n\n");
    Write(path("hosts.txt"), "127.0.0.1:1\n127.0.0.1:x\n");
    Write(path("file"), "");
    struct Case {
        RunOptions options;
        std::string error;
    };
    const auto options = [&](const char* script, const char* vars,
                             std::vector<std::string> hosts = {"127.0.0.1:1"}) {
        RunOptions o;
        o.Script = path(script);
        o.VariablesFile = *vars ? path(vars) : "";
        o.Hosts = std::move(hosts);
        return o;
    };
    std::vector<Case> cases = {
        {options("missing.vsc", ""), "cannot read " + path("missing.vsc") + ": "},
        {options("bad.vsc", "vars.csv"), path("bad.vsc") + ":2:"},
        {options("good.vsc", ""),
         path("good.vsc") + ": no value for {NewIP}: neither the device nor a --vars file"},
        {options("good.vsc", "bad.csv"), path("bad.csv") + ": line"},
        {options("good.vsc", "missing.csv"), "cannot read " + path("missing.csv")},
        {options("good.vsc", "vars.csv", {"127.0.0.1:1", "a b"}), "--host 'a b': "},
        {options("good.vsc", "vars.csv", {}), "no devices to run on"},
    };
    cases.push_back({options("good.vsc", "vars.csv"), "cannot write logs into "});
    cases.back().options.LogDir = path("file") + "/logs";
    cases.push_back({options("good.vsc", "vars.csv"), "no devices to run on"});
    cases.back().options.HostsFile = path("none.txt");
    cases.push_back({options("good.vsc", "vars.csv"), path("hosts.txt") + ": line 2: bad port"});
    cases.back().options.HostsFile = path("hosts.txt");
    // A folder is no empty script, and an endless file is no table.
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder"));
    cases.push_back({options("folder", ""), "cannot read " + path("folder") + ": Is a directory"});
    cases.push_back({options("good.vsc", ""), "cannot read /dev/zero: larger than 16 MiB"});
    cases.back().options.VariablesFile = "/dev/zero";
    // The report is written at the end: a path it cannot take is found first.
    cases.push_back({options("good.vsc", "vars.csv"), "Cannot write " + path("folder") + ": Is a"});
    cases.back().options.Report = path("folder");
    cases.push_back(
        {options("good.vsc", "vars.csv"), "Cannot write " + path("no/r.json") + ": No"});
    cases.back().options.Report = path("no/r.json");
    for (const Case& c : cases) {
        std::ostringstream out;
        std::ostringstream err;
        EXPECT_EQ(RunRunCommand(c.options, out, err), RunError) << c.error;
        EXPECT_EQ(err.str().rfind("vandrel: " + c.error, 0), 0u) << err.str();
        EXPECT_EQ(out.str(), "");
    }
}

// The binary on a device on loopback whose dialogue hangs: Ctrl+C closes the two running
// sessions (each log, a file of its own, ends with "<Close>"), writes the report with the
// third device "not run" and exits 1. The device says WONT ECHO but echoes all the same: the log
// holds its echo alone, as a window session's would.
TEST(RunCommand, InterruptClosesTheSessionsAndReportsWhatDidNotRun) {
    DevsimProcess device({"--hung-dialogue", "--telnet-options", "wont:1"});
    ASSERT_TRUE(device.ready()) << device.error();
    QTemporaryDir dir;
    const std::string host = "127.0.0.1:" + std::to_string(device.telnetPort());
    const std::string report = dir.filePath("r.json").toStdString();
    const std::string logs = dir.filePath("logs").toStdString();
    Write(dir.filePath("v.csv").toStdString(), "IP,NewIP,Netmask,Gateway\n127.0.0.1,1,2,3\n");
    const std::string out = dir.filePath("out").toStdString();
    const std::vector<std::string> args = {
        "--run",     kExample, "--host",     host,  "--host", host,
        "--host",    host,     "--parallel", "2",   "--vars", dir.filePath("v.csv").toStdString(),
        "--log-dir", logs,     "--report",   report};
    std::vector<std::string> argv = {"sh", "-c", "exec \"$0\" \"$@\" >'" + out + "' 2>&1",
                                     VANDREL_APP_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    int fd = -1;
    const int pid = spawnWithStdout(argv, fd, true);
    ASSERT_GT(pid, 0);
    ::close(fd);
    // The script waits 10 s for a prompt that never comes.
    std::this_thread::sleep_for(1500ms);
    ::kill(pid, SIGINT);
    int status = -1;
    for (int i = 0; i < 100 && ::waitpid(pid, &status, WNOHANG) != pid; ++i) {
        std::this_thread::sleep_for(100ms);
    }
    ASSERT_TRUE(WIFEXITED(status)) << Bytes(out);
    EXPECT_EQ(WEXITSTATUS(status), RunAnyFailed) << Bytes(out);
    EXPECT_NE(Bytes(out).find("3 devices: 0 passed, 2 failed, 1 not run"), std::string::npos)
        << Bytes(out);
    const QJsonArray devices = ReportDevices(Bytes(report));
    ASSERT_EQ(devices.size(), 3) << Bytes(report);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(devices[i].toObject()["reason"].toString(), "interrupted");
        EXPECT_EQ(devices[i].toObject()["line"].toInt(), 7);
        const std::string log = Bytes(devices[i].toObject()["log"].toString().toStdString());
        EXPECT_EQ(log.rfind("<Open>Connecting to '127.0.0.1'\r\nConnected\r\n", 0), 0u) << log;
        EXPECT_TRUE(log.ends_with("> #\r\n*** Server has closed ***\r\n<Close>")) << log;
    }
    EXPECT_NE(devices[0].toObject()["log"], devices[1].toObject()["log"]);
    EXPECT_EQ(devices[2].toObject()["outcome"].toString(), "not run");

    // A usage error is status 2 too, before any session.
    const ProcessResult usage = runProcess({VANDREL_APP_PATH, "--run", kExample}, 10s);
    EXPECT_EQ(usage.exitCode, 2);
    EXPECT_NE(usage.output.find("--run needs the devices"), std::string::npos) << usage.output;
}

// A timeout gives the device the whole time the script says. The run starts a fifth of a
// second after a whole second of the monotonic clock, where a coarse timer of 10 s would round
// its end down to the whole second and give up 0.2 s early. A device that refuses fails alone,
// and its log ends as a window session's does.
TEST(RunCommand, ATimeoutTakesItsWholeTimeAndARefusalLogsAsAWindowDoes) {
    DevsimProcess device;
    ASSERT_TRUE(device.ready()) << device.error();
    QTemporaryDir dir;
    const std::string script = dir.filePath("never.vsc").toStdString();
    Write(script, "expect \"never\"\n");
    RunOptions options;
    options.Script = script;
    options.Hosts = {"127.0.0.1:" + std::to_string(device.telnetPort()),
                     "127.0.0.1:" + std::to_string(unusedPort())};
    options.Report = dir.filePath("r.json").toStdString();
    options.LogDir = dir.filePath("logs").toStdString();
    std::ostringstream out;
    std::ostringstream err;
    const auto sinceSecond = std::chrono::steady_clock::now().time_since_epoch() % 1s;
    std::this_thread::sleep_for(1s - sinceSecond + 200ms);
    EXPECT_EQ(RunRunCommand(options, out, err), RunAnyFailed) << err.str();
    const QJsonArray devices = ReportDevices(Bytes(options.Report));
    ASSERT_EQ(devices.size(), 2) << out.str();
    EXPECT_EQ(devices[0].toObject()["reason"].toString(),
              "expected \"never\" did not arrive within 10 s");
    EXPECT_GE(devices[0].toObject()["seconds"].toDouble(), 10.0);
    EXPECT_EQ(devices[1].toObject()["reason"].toString(), "Connection refused (#10061)");
    EXPECT_EQ(Bytes(devices[1].toObject()["log"].toString().toStdString()),
              "<Open>Connecting to '127.0.0.1'\r\nConnection failed: Connection refused\r\n"
              "\r\n*** Server has closed ***\r\n<Close>");
}
