// Faults from outside, end to end in a lab of three simulated devices: the discovery port
// taken at start, a log in a read-only directory and on a disk that fills up, a device that
// resets its session mid-stream, and a storm of garbage datagrams. Each ends with the
// window being closed while the fault is going on, which must take less than 1.5 s.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QPointer>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <optional>
#include <random>

#include "LabWindowTest.h"
#include "app/VandrelApplication.h"
#include "support/TestSockets.h"

using namespace vandrel::app;
using namespace vandrel::test;
using vandrel::terminal::TTnEmulT;

namespace {

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
// A sanitizer's own shadow memory and bookkeeping grow with every new allocation site and
// thread it sees; only a leak of the program's size would show above this.
constexpr long kFlatKiB = 32 * 1024;
#else
constexpr long kFlatKiB = 4096;
#endif

constexpr int kDevices = 3;
constexpr std::uint16_t kDiscoveryPort = 33300;

// Resident memory of this process in KiB.
long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

class FaultLab : public LabWindowTest {
protected:
    void TearDown() override {
        LabWindowTest::TearDown();
        // Also after a failure: the next test, or the next run, finds the lab's own devices.
        for (int k = 1; k <= kDevices; ++k) {
            std::string output;
            EXPECT_TRUE(Lab::resetDevice(k, &output)) << output;
        }
    }

    // Shows the window and lists the lab's devices.
    void ShowAndSearch() {
        ShowWindow();
        ASSERT_EQ(SearchAndSettle(kDevices), kDevices);
    }
    // Connect on the device's row, and logging switched on into logName at once, before
    // anything the device sends can be shown.
    QPointer<TTnEmulT> ConnectLogging(int device, const std::string& logName) {
        Table()->SetRow(RowOf(device));
        RunGuarded([&] { form->btnConnectClick(Control<QPushButton>("btnConnect")); });
        if (!logName.empty()) {
            fileAnswer = QString::fromStdString(logName);
            RunGuarded([&] { form->btnLogClick(Control<QPushButton>("btnLog")); });
        }
        return Active();
    }
    // Closes the window as Exit does and destroys it, as the end of the program does.
    void CloseWindowQuickly() {
        QElapsedTimer timer;
        timer.start();
        Control<QAction>("Exit1")->trigger();
        form.reset();
        EXPECT_LT(timer.elapsed(), 1500);
        QTest::qWait(20);  // what was posted for the window is void now
    }
};

}  // namespace

// Another program holds UDP 33300 when the window comes up: the endpoint's error is shown
// and the window goes on; once the port is free, Search binds it and lists the devices.
TEST_F(FaultLab, DiscoveryPortTakenAtStart) {
    std::optional<UdpProbe> blocker(std::in_place, "0.0.0.0", kDiscoveryPort);
    ASSERT_TRUE(blocker->ok());
    for (bool freeItLater : {false, true}) {
        SCOPED_TRACE(freeItLater ? "port freed, then Search" : "closed while the port is taken");
        messages.clear();
        ShowWindow();
        EXPECT_EQ(messages, std::vector<QString>{
                                "Could not bind socket. Address and port are already in use."});
        EXPECT_FALSE(form->DiscoveryEndpoint().Active());
        if (freeItLater) {
            blocker.reset();
            EXPECT_EQ(SearchAndSettle(kDevices), kDevices);
            EXPECT_TRUE(form->DiscoveryEndpoint().Active());
            EXPECT_EQ(messages.size(), 1u);
        }
        CloseWindowQuickly();
    }
}

// A read-only directory: switching logging on is refused with the system's text, and the
// session goes on unlogged.
TEST_F(FaultLab, LogInAReadOnlyDirectory) {
    const std::string readOnly = Mount("read-only", MS_RDONLY);
    if (!privateMounts) {
        GTEST_SKIP() << "root-only: needs a private mount namespace: " << mountProblem;
    }
    ASSERT_FALSE(readOnly.empty()) << mountProblem;
    ShowAndSearch();
    const std::string log = readOnly + "/session.txt";
    QPointer<TTnEmulT> t = ConnectLogging(1, log);
    EXPECT_EQ(messages,
              std::vector<QString>{QString::fromStdString("Read-only file system (" + log + ")")});
    ASSERT_NE(t, nullptr);
    EXPECT_FALSE(t->Log());
    EXPECT_EQ(form->PanelText(0), "Not Logging");
    ASSERT_TRUE(WaitForBanner(t)) << screenText(*t);
    CloseWindowQuickly();
}

// The disk fills up while a device floods the session: the failure is reported at once
// with the system's text and the file name, logging switches off, and every byte the
// device sent is shown, down to the banner after the flood. Then the same fault again, and
// the window closed in the middle of the flood.
TEST_F(FaultLab, DiskFullWhileLogging) {
    const std::string tiny = Mount("tiny", 0);
    if (!privateMounts) {
        GTEST_SKIP() << "root-only: needs a private mount namespace: " << mountProblem;
    }
    ASSERT_FALSE(tiny.empty()) << mountProblem;
    // 400,000 bytes: 5,000 numbered lines of 80 bytes, the last one numbered 004999.
    ASSERT_TRUE(Lab::restartDevice(2, {"--flood", "400000"}));
    ShowAndSearch();
    const std::string log = tiny + "/session.txt";
    QPointer<TTnEmulT> t = ConnectLogging(2, log);
    ASSERT_TRUE(t != nullptr && t->Log());
    EXPECT_EQ(form->PanelText(0), "Logging");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !messages.empty(); }, kLabWaitMs));
    EXPECT_EQ(messages[0].toStdString(), "No space left on device (" + log + ")");
    EXPECT_FALSE(t->Log());
    EXPECT_EQ(form->PanelText(0), "Not Logging");
    EXPECT_EQ(form->PanelText(1), "");
    ASSERT_TRUE(WaitForBanner(t)) << screenText(*t);
    EXPECT_TRUE(screenShows(t, "004999 the quick brown fox")) << screenText(*t);
    EXPECT_EQ(messages.size(), 1u);
    const std::string logged = fileBytes(log);
    EXPECT_EQ(logged.rfind("<Open>Connected\r\n", 0), 0u) << logged.substr(0, 40);
    EXPECT_GT(logged.size(), 60000u);

    RunGuarded([&] { form->btnCloseClick(Control<QPushButton>("btnClose")); });
    ::unlink(log.c_str());
    ASSERT_TRUE(Lab::restartDevice(2, {"--flood", "200000000"}));
    messages.clear();
    t = ConnectLogging(2, log);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !messages.empty(); }, kLabWaitMs));
    QTest::qWait(100);  // the flood goes on
    CloseWindowQuickly();
}

// A device resets its session in the middle of a flood: the tab goes, the row is free
// again, the session's log is closed, and nothing is reported. Then a session is ended by
// closing the window while a resetting device floods it.
TEST_F(FaultLab, PeerResetsMidStream) {
    ASSERT_TRUE(Lab::restartDevice(3, {"--flood", "5000000", "--reset-after", "1000000"}));
    ShowAndSearch();
    const std::string log = dir.filePath("reset.txt").toStdString();
    QPointer<TTnEmulT> t = ConnectLogging(3, log);
    ASSERT_TRUE(t != nullptr && t->Log());
    ASSERT_TRUE(QTest::qWaitFor([&] { return t.isNull(); }, kLabWaitMs));
    EXPECT_EQ(Notebook()->count(), 0);
    EXPECT_EQ(StatusOf(3), "not connected");
    EXPECT_TRUE(messages.empty());
    const std::string logged = fileBytes(log);
    EXPECT_EQ(logged.rfind("<Open>", 0), 0u);
    EXPECT_EQ(logged.substr(logged.size() - 7), "<Close>");

    ASSERT_TRUE(Lab::restartDevice(3, {"--flood", "500000000", "--reset-after", "400000000"}));
    t = ConnectLogging(3, "");
    ASSERT_TRUE(WaitForScreen(t, "the quick brown fox"));
    CloseWindowQuickly();
}

// 10,000 garbage datagrams, twice: some look like replies without their end, some are too
// long, empty or start with anything. One "invalid string" box (a real one, answered by
// the technician), no rows, a window that keeps running its timers, memory that does not
// grow from one storm to the next; one more box after the next Search; and a window that
// closes quickly in a third storm.
TEST_F(FaultLab, TenThousandGarbageDatagrams) {
    ShowWindow();
    Technician technician([](QMessageBox& box) { EXPECT_EQ(box.text(), "invalid string"); });
    std::mt19937 random(13);
    UdpProbe storm(Lab::appAddress());  // like anyone on the subnet
    const auto sendStorm = [&] {
        std::string bytes;
        for (int i = 0; i < 10000; ++i) {
            bytes.resize(random() % 3000);
            for (char& c : bytes) {
                c = static_cast<char>(random());
            }
            if (i % 2 == 0 && !bytes.empty()) {
                bytes.front() = '\x02';
            }
            if (!bytes.empty() && bytes.back() == '\x04') {
                bytes.back() = '\x03';
            }
            storm.sendTo(Lab::appAddress(), kDiscoveryPort, bytes);
        }
    };
    long resident[2] = {0, 0};
    for (long& kib : resident) {
        sendStorm();
        QElapsedTimer gap;
        qint64 longestGap = 0;
        QTimer ticker;
        ticker.setInterval(5);
        QObject::connect(&ticker, &QTimer::timeout,
                         [&] { longestGap = std::max(longestGap, gap.restart()); });
        gap.start();
        ticker.start();
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return form->DiscoveryEndpoint().PendingCount() == 0; }, 5000));
        QTest::qWait(100);
        EXPECT_LT(longestGap, 1000) << "the window stopped handling its events";
        kib = ResidentKiB();
    }
    EXPECT_EQ(technician.boxes, 1);
    EXPECT_EQ(DeviceRows(), 0);
    EXPECT_LT(resident[1] - resident[0], kFlatKiB) << "KiB more after the second storm";

    // The next Search may show the box once more.
    QTest::mouseClick(Control("btnSearch"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return DeviceRows() == kDevices; }, 5000));
    for (int i = 0; i < 2; ++i) {
        storm.sendTo(Lab::appAddress(), kDiscoveryPort, "\x02no end");
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return technician.boxes == 2; }, 3000));
    QTest::qWait(100);
    EXPECT_EQ(technician.boxes, 2);

    sendStorm();
    CloseWindowQuickly();
}
