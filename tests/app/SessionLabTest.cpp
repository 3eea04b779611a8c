// Session tabs and logging end to end: the main window runs in the lab's app namespace
// (198.18.0.2) and opens telnet sessions to simulated devices 198.18.0.11 .. .15.
#include <gtest/gtest.h>

#include <QAction>
#include <QDialog>
#include <QPlainTextEdit>
#include <QPointer>
#include <QStatusBar>

#include "LabWindowTest.h"

using namespace vandrel::app;
using namespace vandrel::test;
using vandrel::terminal::TTnEmulT;

namespace {

constexpr int kDevices = 5;

// The window is shown and lists the lab's five devices.
class SessionLab : public LabWindowTest {
protected:
    void SetUp() override {
        LabWindowTest::SetUp();
        ShowWindow();
        ASSERT_EQ(SearchAndSettle(kDevices), kDevices);
        ASSERT_EQ(Table()->RowCount(), kDevices + 1);
    }
};

}  // namespace

TEST_F(SessionLab, ConnectConfigureAndClose) {
    const std::string record = dir.filePath("received").toStdString();
    ASSERT_TRUE(Lab::restartDevice(1, {"--record", record}));
    const std::string ip = Lab::deviceAddress(1);
    form->SetPanelText(0, QStringLiteral("x"));
    Connect(1);
    ASSERT_EQ(Notebook()->count(), 1);
    EXPECT_EQ(Notebook()->tabText(0).toStdString(), ip);
    EXPECT_EQ(StatusOf(1), "not connected") << "changes only when the attempt ends";
    EXPECT_EQ(form->PanelText(0), "Not Logging");
    EXPECT_EQ(form->PanelText(1), "");
    QPointer<TTnEmulT> t = Active();
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->HostName(), ip);
    EXPECT_EQ(t->LogName(), "198_18_0_11");
    EXPECT_FALSE(t->Log());
    EXPECT_EQ(t->Rows(), 64);
    EXPECT_EQ(t->FontColor(), 0x000000u);
    EXPECT_EQ(t->Color(), 0xFFFFFFu);
    EXPECT_EQ(t->Port(), "telnet");

    ASSERT_TRUE(QTest::qWaitFor([&] { return StatusOf(1) == "connected"; }, kLabWaitMs));
    ASSERT_TRUE(WaitForBanner(t));
    EXPECT_TRUE(screenShows(t, "Connecting to '" + ip + "'\nConnected\n")) << screenText(*t);

    QTest::qWait(200);
    const std::size_t before = fileBytes(record).size();
    QTest::mouseClick(Control("btnConfiguration"), Qt::LeftButton);
    ASSERT_TRUE(WaitForScreen(t, "IP address [")) << screenText(*t);
    EXPECT_TRUE(screenShows(t, "IP configuration (press Enter"));
    EXPECT_EQ(fileBytes(record).substr(before), "#") << "exactly one byte, no line end";
    SaveShot(*form, "session-tab.png");

    QTest::mouseClick(Control("btnClose"), Qt::LeftButton);
    EXPECT_EQ(Notebook()->count(), 0);
    EXPECT_TRUE(t.isNull());
    EXPECT_EQ(StatusOf(1), "not connected");
    EXPECT_TRUE(messages.empty());
    Lab::restartDevice(1, {});
}

// The technician selects four rows, one of them in use, connects the other three at once and
// types one command into all of them.
TEST_F(SessionLab, ConnectOnSeveralRowsThenTypeIntoAll) {
    std::vector<std::string> records;
    for (int k = 1; k <= 3; ++k) {
        records.push_back(dir.filePath(QStringLiteral("received%1").arg(k)).toStdString());
        ASSERT_TRUE(Lab::restartDevice(k, {"--record", records.back()}));
    }
    Table()->SetCells(ColStatus, RowOf(4), "connected");
    QTest::qWait(0);
    for (int k = 1; k <= 4; ++k) {
        const QModelIndex index = Table()->model()->index(RowOf(k) - 1, ColDevice);
        QTest::mouseClick(Table()->viewport(), Qt::LeftButton,
                          k == 1 ? Qt::NoModifier : Qt::ControlModifier,
                          Table()->visualRect(index).center());
    }
    QTest::mouseClick(Control("btnConnect"), Qt::LeftButton);
    ASSERT_EQ(Notebook()->count(), 3);
    EXPECT_EQ(form->OutcomeText(), "Opened 3 sessions; 1 row skipped: status not 'not connected'");
    // The tabs follow the table's order, which is the order the replies came in.
    const auto session = [&](int k) {
        for (int i = 0; i < Notebook()->count(); ++i) {
            if (form->SessionTerminal(i)->HostName() == Lab::deviceAddress(k)) {
                return form->SessionTerminal(i);
            }
        }
        return static_cast<TTnEmulT*>(nullptr);
    };
    for (int k = 1; k <= 3; ++k) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return StatusOf(k) == "connected"; }, kLabWaitMs)) << k;
        ASSERT_TRUE(WaitForBanner(session(k))) << k;
    }
    QTest::qWait(200);
    std::vector<std::size_t> before;
    for (const std::string& record : records) {
        before.push_back(fileBytes(record).size());
    }
    session(2)->SetEnterKey(vandrel::terminal::EnterKey::Cr);
    Control<QAction>("mpTypeIntoAll")->trigger();
    EXPECT_EQ(Control<QLabel>("TypingPanel")->text(), "Typing into 3 sessions");
    QTest::keyClicks(Active()->viewport(), "help");
    QTest::keyClick(Active()->viewport(), Qt::Key_Return);
    QTest::mouseClick(Control("btnConfiguration"), Qt::LeftButton);
    for (int k = 1; k <= 3; ++k) {
        const std::string typed = k == 2 ? "help\r#" : "help\r\n#";
        const auto sent = [&] { return fileBytes(records[k - 1]).substr(before[k - 1]); };
        EXPECT_TRUE(QTest::qWaitFor([&] { return sent() == typed; }, kLabWaitMs))
            << k << ": " << QByteArray::fromStdString(sent()).toPercentEncoding().toStdString();
        EXPECT_TRUE(WaitForScreen(session(k), "IP address [")) << k;
    }
    EXPECT_TRUE(messages.empty());
    for (int k = 1; k <= 3; ++k) {
        Lab::restartDevice(k, {});
    }
}

// One script on two devices at once: the one whose dialogue starts from another netmask
// fails at the line that expected the usual one, the other passes.
TEST_F(SessionLab, RunScriptOnTwoDevices) {
    ASSERT_TRUE(Lab::restartDevice(2, {"--netmask", "255.255.0.0"}));
    for (int k = 1; k <= 2; ++k) {
        Connect(k);
        ASSERT_TRUE(WaitForBanner(Active())) << k;
    }
    const QString script = dir.filePath(QStringLiteral("netmask.vsc"));
    writeFile(script,
              "send \"#\"\nexpect \"IP address [\"\nsendline \"\"\n"
              "expect \"Netmask [255.255.255.0]\" timeout 2\n");
    fileAnswer = script;
    Control<QAction>("mpTypeIntoAll")->trigger();
    Control<QAction>("mpRunScript")->trigger();
    EXPECT_TRUE(Notebook()->tabText(0).endsWith("]"));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return !form->findChildren<QDialog*>("ScriptSummary").isEmpty(); }, kLabWaitMs));
    const QString summary =
        form->findChild<QDialog*>("ScriptSummary")->findChild<QPlainTextEdit*>()->toPlainText();
    const QString device2 =
        QString::fromStdString(Table()->Cells(ColDevice, RowOf(2)) + " " + Lab::deviceAddress(2));
    EXPECT_TRUE(summary.startsWith("2 devices: 1 passed, 1 failed\n")) << summary.toStdString();
    EXPECT_TRUE(summary.contains(device2 + ": failed at line 4 (expect \"Netmask [255.255.255.0]\" "
                                           "timeout 2): "))
        << summary.toStdString();
    EXPECT_TRUE(summary.contains("    | Netmask [255.255.0.0]")) << summary.toStdString();
    EXPECT_EQ(Notebook()->tabText(0).toStdString(), "\u00BB " + Lab::deviceAddress(1));
    EXPECT_TRUE(messages.empty());
    Lab::restartDevice(2, {});
}

TEST_F(SessionLab, AWaitingConnectSaysSoInTheStatusBarUntilItEnds) {
    const std::string dead = Lab::deadAddress();
    const std::string waiting = "Connecting to " + dead + " ...";
    const auto shown = [this] { return PanelShown().toStdString(); };
    form->AddDeviceRow(DevicePayload({"VD-250", "sn", dead, "mac", "not connected"}));
    Table()->SetRow(RowOf(dead));
    QTest::mouseClick(Control("btnConnect"), Qt::LeftButton);
    EXPECT_EQ(shown(), waiting);
    EXPECT_FALSE(form->SimplePanel()) << "Connect's hint must not hide it";
    EXPECT_EQ(form->PanelText(1), "") << "the panel's own text stays as the session rules say";
    QTest::qWait(1000);
    EXPECT_EQ(shown(), waiting);
    EXPECT_TRUE(screenShows(Active(), "Connecting to '" + dead + "'\n"));
    EXPECT_EQ(Active()->OriginRow(), 1) << "the screen shows it too";
    SaveShot(*form, "session-connecting.png");

    // The panel follows the active tab: a device that answers, then back to the waiting one.
    Connect(1);
    EXPECT_EQ(shown(), "Connecting to " + Lab::deviceAddress(1) + " ...");
    ASSERT_TRUE(WaitForBanner(Active()));
    EXPECT_EQ(shown(), "");
    Notebook()->setCurrentIndex(0);
    EXPECT_EQ(shown(), waiting);
    // Closing the waiting tab ends its text.
    QTest::mouseClick(Control("btnClose"), Qt::LeftButton);
    EXPECT_EQ(shown(), "");
    EXPECT_EQ(StatusOf(dead), "not connected");

    // A failed attempt: its notice takes the place of the text.
    ASSERT_TRUE(Lab::restartDevice(3, {"--refuse"}));
    Connect(3);
    EXPECT_EQ(shown(), "Connecting to " + Lab::deviceAddress(3) + " ...");
    ASSERT_TRUE(QTest::qWaitFor([&] { return Notebook()->count() == 1; }, kLabWaitMs));
    EXPECT_EQ(shown(), Lab::deviceAddress(3) + ": Connection refused (#10061)");
    EXPECT_TRUE(messages.empty());
    Lab::restartDevice(3, {});
}

TEST_F(SessionLab, TheDeviceClosingRemovesItsTab) {
    ASSERT_TRUE(Lab::restartDevice(2, {"--close-after", "1"}));
    Connect(2);
    QPointer<TTnEmulT> t = Active();
    ASSERT_TRUE(QTest::qWaitFor([&] { return StatusOf(2) == "connected"; }, kLabWaitMs));
    ASSERT_TRUE(QTest::qWaitFor([&] { return Notebook()->count() == 0; }, kLabWaitMs));
    EXPECT_EQ(StatusOf(2), "not connected");
    ASSERT_TRUE(QTest::qWaitFor([&] { return t.isNull(); }, 1000)) << "the terminal is deleted";
    EXPECT_TRUE(messages.empty());
    Lab::restartDevice(2, {});

    // The row is free again: a new session opens.
    Connect(2);
    ASSERT_EQ(Notebook()->count(), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return StatusOf(2) == "connected"; }, kLabWaitMs));
}

TEST_F(SessionLab, ARefusingDeviceLeavesNoTab) {
    ASSERT_TRUE(Lab::restartDevice(3, {"--refuse"}));
    Table()->SetCells(ColStatus, RowOf(3), "NOT CONNECTED");  // letter case does not matter
    Connect(3);
    EXPECT_EQ(Notebook()->count(), 1);  // until the attempt ends
    ASSERT_TRUE(QTest::qWaitFor([&] { return Notebook()->count() == 0; }, kLabWaitMs));
    EXPECT_EQ(StatusOf(3), "not connected");
    EXPECT_TRUE(messages.empty());
    // Configuration and Logging after it find nothing to act on.
    QTest::mouseClick(Control("btnConfiguration"), Qt::LeftButton);
    QTest::mouseClick(Control("btnLog"), Qt::LeftButton);
    EXPECT_TRUE(messages.empty());
    Lab::restartDevice(3, {});
}

TEST_F(SessionLab, TwoSessionsToOneDeviceCloseIndependently) {
    Connect(4);
    Connect(4);  // before the first attempt ends the row still reads "not connected"
    ASSERT_EQ(Notebook()->count(), 2);
    QPointer<TTnEmulT> first = form->SessionTerminal(0);
    QPointer<TTnEmulT> second = form->SessionTerminal(1);
    ASSERT_TRUE(WaitForBanner(first));
    ASSERT_TRUE(WaitForBanner(second));

    // The device ends the first session; the second one stays and still works.
    first->SendText("exit\r\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return Notebook()->count() == 1; }, kLabWaitMs));
    EXPECT_EQ(form->SessionTerminal(0), second.data());
    EXPECT_EQ(StatusOf(4), "not connected");
    Notebook()->setCurrentIndex(0);
    QTest::mouseClick(Control("btnConfiguration"), Qt::LeftButton);
    EXPECT_TRUE(WaitForScreen(second, "IP address ["));
    ASSERT_TRUE(QTest::qWaitFor([&] { return first.isNull(); }, 1000));

    // And the other way round: Close on one leaves the other connected.
    Connect(4);
    ASSERT_EQ(Notebook()->count(), 2);
    QPointer<TTnEmulT> third = form->SessionTerminal(1);
    ASSERT_TRUE(WaitForBanner(third));
    Notebook()->setCurrentIndex(0);
    QTest::mouseClick(Control("btnClose"), Qt::LeftButton);
    EXPECT_TRUE(second.isNull());
    ASSERT_EQ(Notebook()->count(), 1);
    third->SendText("help\r\n");
    EXPECT_TRUE(WaitForScreen(third, "close the session"));
    EXPECT_TRUE(messages.empty());
}

TEST_F(SessionLab, TheSessionsOwnRowTurnsConnectedWhenTheSelectionMoved) {
    Connect(5);
    Table()->SetRow(RowOf(1));  // the technician looks at another device meanwhile
    ASSERT_TRUE(QTest::qWaitFor([&] { return StatusOf(5) == "connected"; }, kLabWaitMs));
    QTest::qWait(100);
    EXPECT_EQ(StatusOf(1), "not connected");

    // Connect and Close follow the selection: Close resets the session's own row.
    QTest::mouseClick(Control("btnClose"), Qt::LeftButton);
    EXPECT_EQ(StatusOf(5), "not connected");
    // Connect on a row that is in use does nothing.
    Table()->SetCells(ColStatus, RowOf(2), "connected");
    Connect(2);
    EXPECT_EQ(Notebook()->count(), 0);
}

TEST_F(SessionLab, ASessionLogHoldsTheSessionBetweenOpenAndClose) {
    form->SetClock([] { return LocalDateTime{2026, 12, 8, 9, 5}; });
    const QString file = dir.filePath("device one.txt");
    Connect(1);
    TTnEmulT* t = Active();
    ASSERT_TRUE(WaitForBanner(t));

    fileAnswer = file;
    QTest::mouseClick(Control("btnLog"), Qt::LeftButton);
    ASSERT_TRUE(t->Log());
    EXPECT_EQ(form->PanelText(0), "Logging");
    EXPECT_EQ(form->PanelText(1), file);
    QTest::mouseClick(Control("btnConfiguration"), Qt::LeftButton);
    ASSERT_TRUE(WaitForScreen(t, "IP address ["));
    t->SendText("\r\n");
    ASSERT_TRUE(WaitForScreen(t, "Netmask ["));
    SaveShot(*Control<QStatusBar>("StatusBar"), "status-bar-logging.png");
    SaveShot(*form, "session-logging.png");

    confirmAnswer = MessageAnswer::No;
    QTest::mouseClick(Control("btnLog"), Qt::LeftButton);
    EXPECT_TRUE(t->Log());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "Close Log File ?\r" + file);
    confirmAnswer = MessageAnswer::Yes;
    QTest::mouseClick(Control("btnLog"), Qt::LeftButton);
    EXPECT_FALSE(t->Log());
    EXPECT_EQ(form->PanelText(0), "Not Logging");

    const std::string log = fileBytes(file.toStdString());
    EXPECT_EQ(log.rfind("<Open>", 0), 0u);
    EXPECT_NE(log.find("IP configuration (press Enter"), std::string::npos) << log;
    EXPECT_NE(log.find("Netmask ["), std::string::npos);
    EXPECT_EQ(log.size() - log.rfind("<Close>"), 7u);
    EXPECT_EQ(log.find("<Open>", 1), std::string::npos);

    // Logging again appends a second period; closing the tab ends it with "<Close>".
    QTest::mouseClick(Control("btnLog"), Qt::LeftButton);
    ASSERT_TRUE(t->Log());
    t->SendText("\x1b");  // anything; the device echoes or ignores it
    QTest::qWait(200);
    QTest::mouseClick(Control("btnClose"), Qt::LeftButton);
    const std::string twice = fileBytes(file.toStdString());
    EXPECT_NE(twice.find("<Close><Open>"), std::string::npos);
    EXPECT_EQ(twice.size() - twice.rfind("<Close>"), 7u);
}

TEST_F(SessionLab, FiveDevicesLikeATechnician) {
    for (int k = 1; k < kDevices; ++k) {
        Connect(k);
    }
    // The last one by a double click on its row.
    const QModelIndex last = Table()->model()->index(RowOf(kDevices) - 1, ColDevice);
    QTest::mouseDClick(Table()->viewport(), Qt::LeftButton, {}, Table()->visualRect(last).center());
    EXPECT_EQ(Table()->Row(), RowOf(kDevices));
    ASSERT_EQ(Notebook()->count(), kDevices);
    EXPECT_EQ(Notebook()->tabText(kDevices - 1).toStdString(), Lab::deviceAddress(kDevices));
    for (int k = 1; k <= kDevices; ++k) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return StatusOf(k) == "connected"; }, kLabWaitMs)) << k;
        ASSERT_TRUE(WaitForBanner(form->SessionTerminal(k - 1))) << k;
    }
    // Tabs switch with the status bar following: log the third session only.
    Notebook()->setCurrentIndex(2);
    fileAnswer = dir.filePath("third.txt");
    QTest::mouseClick(Control("btnLog"), Qt::LeftButton);
    QTest::mouseClick(Control("btnConfiguration"), Qt::LeftButton);
    TTnEmulT* third = form->SessionTerminal(2);
    ASSERT_TRUE(WaitForScreen(third, "IP address ["));
    Notebook()->setCurrentIndex(0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return form->PanelText(0) == "Not Logging"; }, 1000));
    Notebook()->setCurrentIndex(2);
    EXPECT_TRUE(QTest::qWaitFor([&] { return form->PanelText(0) == "Logging"; }, 1000));

    // The simulators go away one by one, and so do their tabs.
    for (int k = 1; k <= kDevices; ++k) {
        ASSERT_TRUE(Lab::stopDevice(k));
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return Notebook()->count() == kDevices - k; }, kLabWaitMs))
            << "device " << k;
        EXPECT_EQ(StatusOf(k), "not connected");
    }
    for (int k = 1; k <= kDevices; ++k) {
        Lab::startDevice(k);
    }
    const std::string log = fileBytes(dir.filePath("third.txt").toStdString());
    EXPECT_NE(log.find("IP configuration"), std::string::npos);
    EXPECT_EQ(log.size() - log.rfind("<Close>"), 7u);
    EXPECT_TRUE(messages.empty());

    Control<QAction>("Exit1")->trigger();
    EXPECT_FALSE(form->isVisible());
}
