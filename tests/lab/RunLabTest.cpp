// vandrel --run in a lab of 6 devices: docs/examples/set-ip.vsc over a scan. Device 4 refuses
// sessions, device 5's dialogue hangs and it closes the session after a second, device 6's
// dialogue hangs for good; devices 1 to 3 take their new addresses.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "support/Lab.h"
#include "support/Subprocess.h"

using namespace vandrel::test;
using namespace std::chrono_literals;

namespace {

constexpr int kDevices = 6;
constexpr auto npos = std::string::npos;

std::string fileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// Runs the program without a display; out and err hold its standard output and error.
int runVandrel(const std::vector<std::string>& args, std::string& out, std::string& err) {
    QTemporaryDir dir;
    const std::string outFile = dir.filePath("out").toStdString();
    const std::string errFile = dir.filePath("err").toStdString();
    std::vector<std::string> argv = {"sh", "-c",
                                     "exec env -u DISPLAY -u WAYLAND_DISPLAY \"$0\" \"$@\" >'" +
                                         outFile + "' 2>'" + errFile + "'",
                                     VANDREL_APP_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    const int exitCode = runProcess(argv, 90s).exitCode;
    out = fileText(outFile);
    err = fileText(errFile);
    return exitCode;
}

// The report's devices by IP.
std::map<std::string, QJsonObject> reportedDevices(const std::string& json) {
    std::map<std::string, QJsonObject> devices;
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(json));
    for (const QJsonValue& device : document.object()["devices"].toArray()) {
        devices[device.toObject()["IP"].toString().toStdString()] = device.toObject();
    }
    return devices;
}

}  // namespace

TEST(RunLab, SetIpOverAScanFailsOnlyTheDevicesThatFail) {
    QTemporaryDir dir;
    const std::string logs = dir.filePath("logs").toStdString();
    const std::string report = dir.filePath("r.json").toStdString();
    std::string out;
    std::string err;
    const int exitCode = runVandrel(
        {"--run", VANDREL_SOURCE_DIR "/docs/examples/set-ip.vsc", "--scan", "--vars",
         VANDREL_SOURCE_DIR "/docs/examples/set-ip.csv", "--log-dir", logs, "--report", report},
        out, err);
    EXPECT_EQ(exitCode, 1) << out << err;
    EXPECT_NE(out.find("6 devices: 3 passed, 3 failed, "), npos) << out;

    const std::map<std::string, QJsonObject> devices = reportedDevices(fileText(report));
    ASSERT_EQ(devices.size(), std::size_t{kDevices}) << fileText(report);
    const auto device = [&](int k) { return devices.at(Lab::deviceAddress(k)); };
    for (int k = 1; k <= 3; ++k) {
        EXPECT_EQ(device(k)["outcome"].toString(), "passed") << k;
        EXPECT_EQ(device(k)["S/N"].toString(), QString::asprintf("VS-%06d", k));
        const std::string log = fileText(device(k)["log"].toString().toStdString());
        EXPECT_EQ(
            log.rfind("<Open>Connecting to '" + Lab::deviceAddress(k) + "'\r\nConnected\r\n", 0),
            0u)
            << log;
        EXPECT_NE(log.find("Gateway [0.0.0.0]: 198.18.0.1\r\n"), npos) << log;
        EXPECT_TRUE(log.ends_with("Settings saved.\r\n> \r\n*** Server has closed ***\r\n<Close>"))
            << log;
    }
    EXPECT_EQ(device(4)["reason"].toString(), "Connection refused (#10061)");
    EXPECT_EQ(device(4)["line"].toInt(), 0);
    EXPECT_EQ(device(5)["reason"].toString(), "the device closed the session");
    EXPECT_EQ(device(6)["reason"].toString(),
              "expected \"IP address [\" did not arrive within 10 s");
    for (int k = 5; k <= 6; ++k) {
        EXPECT_EQ(device(k)["line"].toInt(), 7) << k;
        EXPECT_EQ(device(k)["command"].toString(), "expect \"IP address [\"") << k;
        EXPECT_TRUE(fileText(device(k)["log"].toString().toStdString()).ends_with("<Close>")) << k;
    }

    // The next discovery replies carry the new addresses of the devices that passed.
    ASSERT_EQ(runVandrel({"--scan", "--format", "csv", "--timeout", "1"}, out, err), 0) << err;
    std::set<std::string> scanned;
    for (std::size_t at = out.find("\r\n"); at != npos; at = out.find("\r\n", at + 2)) {
        std::istringstream fields(out.substr(at + 2, out.find("\r\n", at + 2) - at - 2));
        std::string field;
        for (int i = 0; i < 3 && std::getline(fields, field, ','); ++i) {
        }
        if (!field.empty()) {
            scanned.insert(field);
        }
    }
    EXPECT_EQ(scanned, (std::set<std::string>{"198.18.0.101", "198.18.0.102", "198.18.0.103",
                                              Lab::deviceAddress(4), Lab::deviceAddress(5),
                                              Lab::deviceAddress(6)}))
        << out;
    // A restart forgets the saved settings, so that the next run finds the lab as set up.
    for (int k = 1; k <= 3; ++k) {
        EXPECT_TRUE(Lab::labCommand({"device", std::to_string(k), "restart"})) << k;
    }
}

// A Ctrl+C while the scan still listens: no session starts, the report lists every device as
// not run, and the exit status is 1.
TEST(RunLab, ACtrlCDuringTheScanStartsNoSession) {
    QTemporaryDir dir;
    const std::string report = dir.filePath("r.json").toStdString();
    const std::string out = dir.filePath("out").toStdString();
    int fd = -1;
    const int pid = spawnWithStdout(
        {"sh", "-c", "exec env -u DISPLAY -u WAYLAND_DISPLAY \"$0\" \"$@\" >'" + out + "' 2>&1",
         VANDREL_APP_PATH, "--run", VANDREL_SOURCE_DIR "/docs/examples/set-ip.vsc", "--scan",
         "--vars", VANDREL_SOURCE_DIR "/docs/examples/set-ip.csv", "--report", report},
        fd, true);
    ASSERT_GT(pid, 0);
    ::close(fd);
    std::this_thread::sleep_for(500ms);  // the scan listens for 2 s
    ::kill(pid, SIGINT);
    int status = -1;
    for (int i = 0; i < 100 && ::waitpid(pid, &status, WNOHANG) != pid; ++i) {
        std::this_thread::sleep_for(100ms);
    }
    ASSERT_TRUE(WIFEXITED(status)) << fileText(out);
    EXPECT_EQ(WEXITSTATUS(status), 1) << fileText(out);
    EXPECT_NE(fileText(out).find("6 devices: 0 passed, 0 failed, 6 not run"), npos)
        << fileText(out);
    const std::map<std::string, QJsonObject> devices = reportedDevices(fileText(report));
    ASSERT_EQ(devices.size(), std::size_t{kDevices}) << fileText(report);
    for (const auto& [ip, device] : devices) {
        EXPECT_EQ(device["outcome"].toString().toStdString(), "not run") << ip;
    }
}
